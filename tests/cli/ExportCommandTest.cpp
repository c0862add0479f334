#include "SongCommandTestSupport.h"
#include "player/MIDIFileTestSupport.h"

#include <algorithm>
#include <gmock/gmock.h>

using namespace rp::test;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

using Lines = std::vector<std::string>;

// What soxi reads in an audio file for each of `flags`, separated by spaces.
std::string soxi(const std::string& flags, const std::filesystem::path& file)
{
    std::string out;
    EXPECT_EQ(runCommand("for f in " + flags + "; do soxi $f " + quoted(file) + "; done 2>&1", &out), 0)
        << out;
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

TEST(ExportCommand, MixGroupsAndMidiFilesOfASong)
{
    if (!haveTool("soxi") || !haveTool("midicsv"))
        GTEST_SKIP() << "SKIPPED: soxi (sox) and midicsv are needed to read the exported files back";
    // Two 2-second bars: a kick on the downbeat, a closed hat at 1 s choked by the open hat 0.25 s
    // later; then an unmapped snare at 3 s and a softer kick at 3.5 s.
    SongFixture f;
    f.bar(0)->addEventWithDrum(f.kick, 1.0f, 0.0f);
    f.bar(0)->addEventWithDrum(f.hatClosed, 1.0f, 0.5f);
    f.bar(0)->addEventWithDrum(f.hatOpen, 1.0f, 0.625f);
    f.bar(1)->addEventWithDrum(f.snare, 1.0f, 0.5f);
    f.bar(1)->addEventWithDrum(f.kick, 0.5f, 0.75f);
    const auto song = f.save();
    const auto& out = f.dir;
    std::string output, errors;
    const auto exportTo = [&](const std::filesystem::path& file, const std::string& options) {
        return f.cli("export " + quoted(song) + " -o " + quoted(file) + " " + options, &output, &errors);
    };

    // One mixed file; the extension decides the type. The last kick rings until 5 s (final decay).
    ASSERT_EQ(exportTo(out / "groove.aiff", "--rate 22050 --bits 16"), 0) << errors;
    EXPECT_THAT(output, HasSubstr("Exporting to groove.aiff..."));
    EXPECT_EQ(soxi("-t -r -b -e", out / "groove.aiff"), "aiff 22050 16 Signed Integer PCM ");
    EXPECT_NEAR(std::stod(soxi("-s", out / "groove.aiff")), 5.0 * 22050, 2);

    // One file per group, named after the base name, in the rate and bits of the last export.
    ASSERT_EQ(exportTo(out / "stems.wav", "--mode groups"), 0) << errors;
    EXPECT_FALSE(std::filesystem::exists(out / "stems.wav"));
    EXPECT_EQ(soxi("-t -r -b -e", out / "stems (Drums).wav"), "wav 22050 16 Signed Integer PCM ");
    EXPECT_NEAR(std::stod(soxi("-s", out / "stems (Drums).wav")), 5.0 * 22050, 2);
    EXPECT_GE(std::stod(soxi("-s", out / "stems (Cymbals).wav")), 4.0 * 22050 - 2);

    // A type code names the type whatever the extension; float encoding. Formats it cannot
    // write are refused and leave nothing behind.
    ASSERT_EQ(exportTo(out / "x.bin", "--type caff --encoding float"), 0) << errors;
    EXPECT_EQ(soxi("-t -r -b -e", out / "x.bin"), "caf 22050 32 Floating Point PCM ");
    EXPECT_EQ(exportTo(out / "x.xyz", ""), 1);
    EXPECT_THAT(errors, HasSubstr("no audio file type"));
    EXPECT_EQ(exportTo(out / "x.wav", "--encoding vorbis"), 1);
    EXPECT_FALSE(std::filesystem::exists(out / "x.wav"));

    // The MIDI file: the unmapped snare is announced and answered with Continue. The song's name,
    // notes and kit name become the title, copyright and instrument texts. Kick 1 s = 2 quarter
    // notes; the closed hat choked after 0.25 s; the open hat cut to 1 s; the second kick softer.
    ASSERT_EQ(exportTo(out / "groove.mid", "--mode midi"), 0) << errors;
    EXPECT_THAT(errors,
        HasSubstr("Some drums do not have MIDI note assignments. One instrument from Test Kit will be "
                  "missing from the MIDI file."));
    const auto records = readMidiCsv(out / "groove.mid");
    EXPECT_EQ(recordLines(records, { "Title_t", "Copyright_t", "Instrument_name_t" }),
        (Lines { "0 Title_t Groove", "0 Copyright_t Four on the floor", "0 Instrument_name_t Test Kit" }));
    EXPECT_EQ(recordLines(records, { "Note_" }),
        (Lines { "0 Note_on_c 9 36 100", "30720 Note_off_c 9 36 0", "30720 Note_on_c 9 42 100",
            "38400 Note_off_c 9 42 0", "38400 Note_on_c 9 46 100", "69120 Note_off_c 9 46 0",
            "107520 Note_on_c 9 36 50", "138240 Note_off_c 9 36 0" }));
}

TEST(ExportCommand, FindsAndMatchesTheKitOrFailsWithNoKit)
{
    if (!haveTool("midicsv"))
        GTEST_SKIP() << "SKIPPED: midicsv is needed to read the exported files back";
    SongFixture f;
    // Drums the song holds that the kit names differently: by case only (no match: names compare
    // exactly, as in the song window), through a remembered choice, and not at all. Each carries a
    // MIDI mapping of its own, which an unmatched drum keeps.
    const std::tuple<const char*, const char*, int, float> songDrums[] = { { "KICK", "Default", 99, 0.0f },
        { "Bongo", "high", 98, 0.25f }, { "Cowbell", "default", 56, 0.5f } };
    for (const auto& [type, variant, note, place] : songDrums) {
        auto drum = ORPDrum::drum();
        drum->setTypeName(type);
        drum->setVariantName(variant);
        drum->setMidiChannel(9);
        drum->setMidiNote(static_cast<int8_t>(note));
        drum->setMidiVelocity(100);
        f.bar(0)->addEventWithDrum(drum, 1.0f, place);
    }
    f.bar(1)->addEventWithDrum(f.hatOpen, 1.0f, 0.0f);
    const auto song = f.save();
    using Dictionary = rp::PropertyDictionary;
    // Newest first: the first choice naming a drum of the kit exactly wins.
    const rp::PropertyArray choices { Dictionary { { "type", "Nothing" }, { "variant", "here" } },
        Dictionary { { "type", "hat" }, { "variant", "CLOSED" } },
        Dictionary { { "type", "Hat" }, { "variant", "closed" } } };
    ASSERT_TRUE(f.defaults().setObject(
        Dictionary { { "Bongo", Dictionary { { "high", choices } } } }, "RPReconcileCacheByType"));

    const auto midi = f.dir / "out.mid";
    std::string errors;
    auto notesOf = [&](const std::string& extra) {
        std::filesystem::remove(midi);
        if (f.cli(
                "export " + quoted(song) + " -o " + quoted(midi) + " --mode midi " + extra, nullptr, &errors))
            return Lines {};
        return recordLines(readMidiCsv(midi), { "Note_on" });
    };
    const Lines all { "0 Note_on_c 9 99 100", "15360 Note_on_c 9 42 100", "30720 Note_on_c 9 56 100",
        "61440 Note_on_c 9 46 100" };
    EXPECT_EQ(notesOf(""), all);
    EXPECT_THAT(errors, HasSubstr("no drum of kit 'Test Kit' matches Cowbell"));
    EXPECT_THAT(errors, HasSubstr("no drum of kit 'Test Kit' matches KICK (Default)"));
    EXPECT_THAT(errors, Not(HasSubstr("Bongo")));
    // Playing or exporting asks nobody, so it remembers nothing new.
    const auto cache = f.defaults().dictionaryForKey("RPReconcileCacheByType");
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->size(), 1u);

    // A run of bars; bars the song does not have.
    EXPECT_EQ(notesOf("--bars 2-2"), (Lines { "0 Note_on_c 9 46 100" }));
    EXPECT_EQ(notesOf("--bars 2-3"), Lines {});
    EXPECT_THAT(errors, HasSubstr("the song has 2 bars"));

    // The stored kit location fails; a kit of the same name beside the song is used instead.
    std::filesystem::copy(
        f.kitPath, f.songFolder / "Test Kit.rpkit", std::filesystem::copy_options::recursive);
    std::filesystem::remove_all(f.kitFolder);
    EXPECT_EQ(notesOf(""), all) << errors;

    // No kit anywhere: error 1002 with its texts, nothing written; a kit on the command line.
    const auto moved = f.dir / "elsewhere.rpkit";
    std::filesystem::rename(f.songFolder / "Test Kit.rpkit", moved);
    EXPECT_EQ(notesOf(""), Lines {});
    EXPECT_FALSE(std::filesystem::exists(midi));
    EXPECT_THAT(errors, HasSubstr("'song.rpsong' couldn't be opened because no drum kit was assigned."));
    EXPECT_EQ(notesOf("--kit " + quoted(moved)), all) << errors;
}

TEST(ExportCommand, InterruptCancelsAndDeletesTheFiles)
{
    SongFixture f;
    // Long enough that the export cannot finish before the interrupt arrives.
    f.bar(0)->addEventWithDrum(f.kick, 1.0f, 0.0f);
    f.bar(0)->addEventWithDrum(f.hatClosed, 1.0f, 0.5f);
    f.song->sectionMarkerList()[0]->setNumberOfTimes(1000);
    const auto song = f.save();
    std::string output;
    EXPECT_EQ(f.interruptAfter("export " + quoted(song) + " -o " + quoted(f.dir / "long.wav")
                      + " --mode groups --rate 8000 --bits 8",
                  "Exporting to long (Drums).wav...", 0, output),
        1)
        << output;
    EXPECT_THAT(output, HasSubstr("Exporting to long (Drums).wav..."));
    EXPECT_THAT(output, Not(HasSubstr("Wrote")));
    EXPECT_FALSE(std::filesystem::exists(f.dir / "long (Drums).wav"));
    EXPECT_FALSE(std::filesystem::exists(f.dir / "long (Cymbals).wav"));
}

} // namespace
