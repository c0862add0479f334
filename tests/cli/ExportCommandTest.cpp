#include "SongCommandTestSupport.h"
#include "player/MIDIFileTestSupport.h"

#include <fstream>

using namespace rp::test;

namespace {

std::string soxi(const std::string& flag, const std::filesystem::path& file)
{
    std::string out;
    EXPECT_EQ(runCommand("soxi " + flag + " " + quoted(file) + " 2>&1", &out), 0) << out;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// Two 2-second bars: a kick on the downbeat, a closed hat at 1 s choked by the open hat 0.25 s
// later; then an unmapped snare at 3 s and a softer kick at 3.5 s.
void makeGroove(SongFixture& f)
{
    f.bar(0)->addEventWithDrum(f.kick, 1.0f, 0.0f);
    f.bar(0)->addEventWithDrum(f.hatClosed, 1.0f, 0.5f);
    f.bar(0)->addEventWithDrum(f.hatOpen, 1.0f, 0.625f);
    f.bar(1)->addEventWithDrum(f.snare, 1.0f, 0.5f);
    f.bar(1)->addEventWithDrum(f.kick, 0.5f, 0.75f);
}

TEST(ExportCommand, MixGroupsAndMidiFilesOfASong)
{
    if (!haveTool("soxi") || !haveTool("midicsv"))
        GTEST_SKIP() << "SKIPPED: soxi (sox) and midicsv are needed to read the exported files back";
    SongFixture f;
    makeGroove(f);
    const auto song = f.save();
    std::string output;
    std::string errors;

    // One mixed file; the extension decides the type. The last kick rings until 5 s (final decay).
    const auto mix = f.dir / "out" / "groove.aiff";
    std::filesystem::create_directories(mix.parent_path());
    ASSERT_EQ(
        f.cli("export " + quoted(song) + " -o " + quoted(mix) + " --rate 22050 --bits 16", &output, &errors),
        0)
        << errors;
    EXPECT_NE(output.find("Exporting to groove.aiff..."), std::string::npos) << output;
    EXPECT_EQ(soxi("-t", mix), "aiff");
    EXPECT_EQ(soxi("-r", mix), "22050");
    EXPECT_EQ(soxi("-b", mix), "16");
    EXPECT_NEAR(std::stod(soxi("-s", mix)), 5.0 * 22050, 2);

    // One file per group, named after the base name; the rate and bits are remembered from the
    // last export. Each stem lasts at least as long as the bars (their contents: the player's tests).
    const auto base = f.dir / "out" / "stems.wav";
    ASSERT_EQ(f.cli("export " + quoted(song) + " -o " + quoted(base) + " --mode groups", &output, &errors), 0)
        << errors;
    const auto drums = f.dir / "out" / "stems (Drums).wav";
    const auto cymbals = f.dir / "out" / "stems (Cymbals).wav";
    ASSERT_TRUE(std::filesystem::exists(drums));
    ASSERT_TRUE(std::filesystem::exists(cymbals));
    EXPECT_FALSE(std::filesystem::exists(base));
    EXPECT_EQ(soxi("-r", drums), "22050");
    EXPECT_EQ(soxi("-b", cymbals), "16");
    EXPECT_NEAR(std::stod(soxi("-s", drums)), 5.0 * 22050, 2);
    EXPECT_GE(std::stod(soxi("-s", cymbals)), 4.0 * 22050 - 2);

    // The MIDI file: the unmapped snare is announced and answered with Continue.
    const auto midi = f.dir / "out" / "groove.mid";
    ASSERT_EQ(f.cli("export " + quoted(song) + " -o " + quoted(midi) + " --mode midi", &output, &errors), 0)
        << errors;
    EXPECT_NE(
        errors.find("Some drums do not have MIDI note assignments. One instrument from Test Kit will be "
                    "missing from the MIDI file."),
        std::string::npos)
        << errors;
    const auto records = readMidiCsv(midi);
    // The song's name, notes and kit name become the title, copyright and instrument texts.
    for (const auto& [type, text] :
        std::vector<std::pair<std::string, std::string>> { { "Title_t", "Groove" },
            { "Copyright_t", "Four on the floor" }, { "Instrument_name_t", "Test Kit" } }) {
        const auto found = recordsOfType(records, type);
        ASSERT_EQ(found.size(), 1u) << type;
        EXPECT_EQ(found[0].fields[0], text);
    }

    std::vector<std::string> notes;
    for (const auto& record : records) {
        if (record.type == "Note_on_c" || record.type == "Note_off_c")
            notes.push_back(std::to_string(record.tick) + " " + record.type.substr(5, 2) + " "
                + record.fields[1] + " " + record.fields[2]);
    }
    // Kick 1 s = 2 quarter notes; the closed hat choked after 0.25 s = half a quarter note; the
    // open hat cut to 1 s; the second kick at half velocity.
    EXPECT_EQ(notes,
        (std::vector<std::string> { "0 on 36 100", "30720 of 36 0", "30720 on 42 100", "38400 of 42 0",
            "38400 on 46 100", "69120 of 46 0", "107520 on 36 50", "138240 of 36 0" }));
}

TEST(ExportCommand, FindsAndMatchesTheKitOrFailsWithNoKit)
{
    if (!haveTool("midicsv"))
        GTEST_SKIP() << "SKIPPED: midicsv is needed to read the exported files back";
    SongFixture f;
    // Drums the song holds that the kit names differently: by case only, through a remembered
    // choice, and not at all. Each carries a MIDI mapping of its own.
    auto songDrum = [](const std::string& type, const std::string& variant, int note) {
        auto drum = ORPDrum::drum();
        drum->setTypeName(type);
        drum->setVariantName(variant);
        drum->setMidiChannel(9);
        drum->setMidiNote(static_cast<int8_t>(note));
        drum->setMidiVelocity(100);
        return drum;
    };
    f.bar(0)->addEventWithDrum(songDrum("KICK", "Default", 99), 1.0f, 0.0f);
    f.bar(0)->addEventWithDrum(songDrum("Bongo", "high", 98), 1.0f, 0.25f);
    f.bar(0)->addEventWithDrum(songDrum("Cowbell", "default", 56), 1.0f, 0.5f);
    f.bar(1)->addEventWithDrum(f.hatOpen, 1.0f, 0.0f);
    const auto song = f.save();
    {
        auto defaults = f.defaults();
        const rp::PropertyDictionary olderChoice { { "type", "Nothing" }, { "variant", "here" } };
        const rp::PropertyDictionary newerChoice { { "type", "hat" }, { "variant", "CLOSED" } };
        ASSERT_TRUE(defaults.setObject(
            rp::PropertyDictionary { { "Bongo",
                rp::PropertyDictionary { { "high", rp::PropertyArray { olderChoice, newerChoice } } } } },
            "RPReconcileCacheByType"));
    }

    const auto midi = f.dir / "out.mid";
    auto notesOf = [&](const std::string& extra, std::string* errors) {
        std::filesystem::remove(midi);
        std::vector<std::string> notes;
        if (f.cli("export " + quoted(song) + " -o " + quoted(midi) + " --mode midi " + extra, nullptr, errors)
            != 0)
            return notes;
        for (const auto& record : recordsOfType(readMidiCsv(midi), "Note_on_c"))
            notes.push_back(std::to_string(record.tick) + " " + record.fields[1]);
        return notes;
    };
    std::string errors;
    EXPECT_EQ(
        notesOf("", &errors), (std::vector<std::string> { "0 36", "15360 42", "30720 56", "61440 46" }));
    EXPECT_NE(errors.find("no drum of kit 'Test Kit' matches Cowbell"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("KICK"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Bongo"), std::string::npos) << errors;

    // A run of bars; bars the song does not have.
    EXPECT_EQ(notesOf("--bars 2-2", &errors), (std::vector<std::string> { "0 46" }));
    EXPECT_EQ(notesOf("--bars 2-3", &errors), std::vector<std::string> {});
    EXPECT_NE(errors.find("the song has 2 bars"), std::string::npos) << errors;
    EXPECT_EQ(notesOf("--bars 0-1", &errors), std::vector<std::string> {});

    // The stored kit location fails; a kit of the same name beside the song is used instead.
    std::filesystem::copy(
        f.kitPath, f.songFolder / "Test Kit.rpkit", std::filesystem::copy_options::recursive);
    std::filesystem::remove_all(f.kitFolder);
    EXPECT_EQ(notesOf("", &errors).size(), 4u) << errors;

    // No kit anywhere: error 1002 with its texts, nothing written.
    const auto moved = f.dir / "elsewhere.rpkit";
    std::filesystem::rename(f.songFolder / "Test Kit.rpkit", moved);
    EXPECT_EQ(notesOf("", &errors), std::vector<std::string> {});
    EXPECT_FALSE(std::filesystem::exists(midi));
    EXPECT_NE(
        errors.find("'song.rpsong' couldn't be opened because no drum kit was assigned."), std::string::npos)
        << errors;

    // A kit given on the command line.
    EXPECT_EQ(notesOf("--kit " + quoted(moved), &errors).size(), 4u) << errors;
}

TEST(ExportCommand, RejectsFormatsItCannotWrite)
{
    SongFixture f;
    f.bar(0)->addEventWithDrum(f.kick, 1.0f, 0.0f);
    const auto song = f.save();
    std::string errors;
    EXPECT_EQ(f.cli("export " + quoted(song) + " -o " + quoted(f.dir / "x.xyz"), nullptr, &errors), 1);
    EXPECT_NE(errors.find("no audio file type"), std::string::npos) << errors;
    EXPECT_EQ(f.cli("export " + quoted(song) + " -o " + quoted(f.dir / "x.wav") + " --encoding vorbis",
                  nullptr, &errors),
        1)
        << errors;
    EXPECT_FALSE(std::filesystem::exists(f.dir / "x.wav"));
    // A type code names the type whatever the extension; float encoding.
    ASSERT_EQ(
        f.cli("export " + quoted(song) + " -o " + quoted(f.dir / "x.bin") + " --type caff --encoding float",
            nullptr, &errors),
        0)
        << errors;
    if (haveTool("soxi")) {
        EXPECT_EQ(soxi("-t", f.dir / "x.bin"), "caf");
        EXPECT_EQ(soxi("-e", f.dir / "x.bin"), "Floating Point PCM");
    }
}

TEST(ExportCommand, InterruptCancelsAndDeletesTheFiles)
{
    SongFixture f;
    // Long enough that the export cannot finish before the interrupt arrives.
    f.bar(0)->addEventWithDrum(f.kick, 1.0f, 0.0f);
    f.bar(0)->addEventWithDrum(f.hatClosed, 1.0f, 0.5f);
    f.song->sectionMarkerList()[0]->setNumberOfTimes(1000);
    const auto song = f.save();
    const auto base = f.dir / "long.wav";
    BackgroundCommand command("env RATTLEPAN_DEFAULTS_DIR=" + quoted(f.defaultsFolder) + " " + RP_CLI_PATH
        + " export " + quoted(song) + " -o " + quoted(base) + " --mode groups --rate 8000 --bits 8");
    ASSERT_TRUE(command.waitForLine("Exporting to long (Drums).wav..."));
    command.interrupt();
    std::string rest;
    EXPECT_EQ(command.finish(&rest), 1) << rest;
    EXPECT_EQ(rest.find("Wrote"), std::string::npos) << rest;
    EXPECT_FALSE(std::filesystem::exists(f.dir / "long (Drums).wav"));
    EXPECT_FALSE(std::filesystem::exists(f.dir / "long (Cymbals).wav"));
}

} // namespace
