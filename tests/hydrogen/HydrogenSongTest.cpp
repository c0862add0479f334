#include "hydrogen/HydrogenImport.h"
#include "hydrogen/HydrogenSongImporter.h"
#include "hydrogen/HydrogenTestSupport.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPattern.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"
#include "model/ORPSong.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <pugixml.hpp>
#include <set>

namespace fs = std::filesystem;

namespace {

using rp::hydrogen::ImportError;
using rp::hydrogen::importSong;
using rp::test::TempDir;

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    return out;
}

ORPSongPtr reopenSong(const fs::path& path)
{
    rp::Error error;
    auto song = ORPSong::songFromURL(path, &error);
    EXPECT_TRUE(song) << error.text();
    return song;
}

// The bars as played: each playlist entry's section, its number of times.
std::vector<ORPPatternPtr> playedBars(const ORPSong& song)
{
    std::vector<ORPPatternPtr> bars;
    for (const auto& marker : song.sectionMarkerList()) {
        for (int16_t time = 0; time < marker->numberOfTimes(); ++time) {
            for (const auto& pattern : marker->section()->patterns())
                bars.push_back(pattern);
        }
    }
    return bars;
}

// Every event's drum is one of the kit's (by names).
void expectDrumsInKit(const ORPSong& song, const ORPDrumKit& kit, const std::string& label)
{
    for (const auto& section : song.sectionList()) {
        for (const auto& pattern : section->patterns()) {
            for (const auto& event : *pattern->events()) {
                EXPECT_TRUE(kit.drumWithTypeName(event->drum()->typeName(), event->drum()->variantName()))
                    << label << ": " << event->drum()->compositeName();
            }
        }
    }
}

TEST(HydrogenSongTest, MetersFromPatternLengths)
{
    using rp::hydrogen::meterForTicks;
    const std::vector<std::tuple<int, int, int, bool>> cases
        = { { 192, 4, 4, true }, { 144, 3, 4, true }, { 168, 7, 8, true }, { 72, 3, 8, true },
              { 36, 3, 16, true }, { 18, 3, 32, true }, { 100, 8, 16, false }, { 1, 1, 16, false } };
    for (const auto& [ticks, top, bottom, exact] : cases) {
        const auto meter = meterForTicks(ticks);
        EXPECT_EQ((std::tuple<int, int, bool>(meter.top, meter.bottom, meter.exact)),
            (std::tuple<int, int, bool>(top, bottom, exact)))
            << ticks;
    }
}

TEST(HydrogenSongTest, DemoSongsImportReopenAndExport)
{
    if (!rp::test::haveHydrogenData())
        GTEST_SKIP() << "hydrogen-data is not installed";
    TempDir dir;
    const fs::path songs = rp::test::kHydrogenData / "demo_songs";
    std::map<std::string, rp::hydrogen::ImportReport> reports;
    for (const auto& entry : fs::directory_iterator(songs)) {
        if (entry.path().extension() != ".h2song")
            continue;
        const std::string stem = entry.path().stem().string();
        fs::create_directories(dir / stem);
        const fs::path out = dir / stem / (stem + ".rpsong");
        const auto report = importSong(entry.path(), out, std::nullopt);
        EXPECT_TRUE(report.warnings.empty()) << stem << "\n" << joined(report.warnings);
        ASSERT_FALSE(report.kitWritten.empty()) << stem;
        EXPECT_EQ(report.kitWritten.parent_path(), fs::absolute(out).parent_path());
        auto song = reopenSong(out);
        rp::Error error;
        auto kit = ORPDrumKit::drumKitFromURL(report.kitWritten, false, &error);
        ASSERT_TRUE(song && kit) << stem << ": " << error.text();
        expectDrumsInKit(*song, *kit, stem);
        reports[stem] = report;
    }
    ASSERT_EQ(reports.size(), 7u);

    // GM_kit_demo1 against its XML: one bar per column, 4/4 from 192 ticks, the song's tempo, and
    // every note of every column played.
    const fs::path demo1 = songs / "GM_kit_demo1.h2song";
    pugi::xml_document xml;
    ASSERT_TRUE(xml.load_file(demo1.c_str()));
    const auto root = xml.child("song");
    std::map<std::string, pugi::xml_node> patterns;
    for (const auto& pattern : root.child("patternList").children("pattern"))
        patterns[pattern.child_value("name")] = pattern;
    size_t columns = 0;
    size_t expectedNotes = 0;
    std::set<int> sizes;
    for (const auto& group : root.child("patternSequence").children("group")) {
        ++columns;
        std::set<std::pair<int, int>> column; // (position, instrument)
        for (const auto& id : group.children("patternID")) {
            const auto& pattern = patterns.at(id.text().get());
            sizes.insert(pattern.child("size").text().as_int());
            for (const auto& note : pattern.child("noteList").children("note"))
                column.insert(
                    { note.child("position").text().as_int(), note.child("instrument").text().as_int() });
        }
        expectedNotes += column.size();
    }
    const double bpm = root.child("bpm").text().as_double();
    ASSERT_EQ(sizes, std::set<int> { 192 });
    auto song = reopenSong(dir / "GM_kit_demo1" / "GM_kit_demo1.rpsong");
    ASSERT_TRUE(song);
    const auto bars = playedBars(*song);
    EXPECT_EQ(bars.size(), columns);
    size_t notes = 0;
    for (const auto& bar : bars) {
        EXPECT_EQ(bar->timeSignatureTop(), 4);
        EXPECT_EQ(bar->timeSignatureBottom(), 4);
        EXPECT_NEAR(bar->duration(), 4 * 60 / bpm, 1e-4);
        notes += bar->events()->size();
    }
    EXPECT_EQ(notes, expectedNotes);
    EXPECT_EQ(song->name(), root.child_value("name"));
    EXPECT_EQ(song->totalBars(), columns);
    EXPECT_EQ(joined(reports["GM_kit_demo1"].notCarriedOver), "humanize (time and velocity)\n");

    // Each imported song exports (its first two bars) through the command line's export.
    if (!fs::exists(RP_CLI_PATH))
        GTEST_SKIP() << "rattlepan-cli not built";
    for (const auto& [stem, report] : reports) {
        const fs::path wav = dir / stem / "out.wav";
        std::string output;
        EXPECT_EQ(rp::test::runCommand(std::string(RP_CLI_PATH) + " export '"
                          + (dir / stem / (stem + ".rpsong")).string() + "' --bars 1-2 -o '" + wav.string()
                          + "' 2>&1",
                      &output),
            0)
            << stem << ": " << output;
        EXPECT_GT(fs::exists(wav) ? fs::file_size(wav) : 0, 44u * 1024) << stem;
    }
}

// A small song for a small kit, in Hydrogen's form; `patterns` is XML of <pattern> elements.
std::string songXml(const std::string& patterns, const std::string& sequence, const std::string& extra = {},
    const std::string& notes = "Some notes")
{
    return "<?xml version=\"1.0\"?>\n<song>\n <version>1.2.0</version>\n <bpm>120</bpm>\n <name>Test "
           "song</name>\n"
           " <author>Tester</author>\n <notes>"
        + notes + "</notes>\n" + extra
        + " <instrumentList>\n  "
          "<instrument><id>0</id><name>Kick</name><drumkit>TestKit</drumkit></instrument>\n"
          "  <instrument><id>1</id><name>snare</name><drumkit>TestKit</drumkit></instrument>\n"
          "  <instrument><id>2</id><name>Cowbell</name><drumkit>TestKit</drumkit></instrument>\n"
          " </instrumentList>\n <patternList>\n"
        + patterns + " </patternList>\n <patternSequence>\n" + sequence + " </patternSequence>\n</song>\n";
}

std::string pattern(const std::string& name, int size, const std::vector<std::tuple<int, double, int>>& notes,
    const std::string& noteExtra = {})
{
    std::string xml
        = "  <pattern><name>" + name + "</name><size>" + std::to_string(size) + "</size><noteList>\n";
    for (const auto& [position, velocity, instrument] : notes) {
        xml += "   <note><position>" + std::to_string(position) + "</position><velocity>"
            + std::to_string(velocity) + "</velocity><instrument>" + std::to_string(instrument)
            + "</instrument>" + noteExtra + "</note>\n";
    }
    return xml + "  </noteList></pattern>\n";
}

std::string column(const std::vector<std::string>& names)
{
    std::string xml = "  <group>";
    for (const auto& name : names)
        xml += "<patternID>" + name + "</patternID>";
    return xml + "</group>\n";
}

void writeTestKit(const fs::path& folder, const std::string& name = "TestKit")
{
    rp::test::writeKitFolder(folder, name,
        { { 0, "Kick", { { "k1.wav", 0, 0.5 }, { "k2.wav", 0.5, 1 } } },
            { 1, "Snare", { { "s.wav", 0, 1 } } } });
}

TEST(HydrogenSongTest, ColumnsBecomeBarsRunsBecomeRepeatsAndTempoMarkersApply)
{
    TempDir dir;
    writeTestKit(dir / "TestKit");
    const std::string patterns
        = pattern(
              "a", 168, { { 0, 0.9, 0 }, { 84, 0.3, 1 }, { -5, 0.5, 0 }, { 200, 0.5, 0 }, { 24, 0.5, 7 } })
        + pattern("b", 72, { { 0, 0.2, 1 } })
        + pattern("c", 192, { { 48, 0.2, 0 }, { 96, 0.5, 2 } }, "<leadlag>0.2</leadlag>")
        + pattern("v", 192, {});
    const std::string sequence = column({ "a" }) + column({ "a" }) + column({ "a" }) + column({ "b" })
        + column({ "c", "b" }) + column({ "v" }) + column({ "a" }) + column({ "nope" });
    const std::string extra
        = " <humanize_time>0.2</humanize_time>\n <swing_factor>0.3</swing_factor>\n"
          " <virtualPatternList><pattern><name>v</name><virtual>a</virtual><virtual>c</virtual>"
          "<virtual>v</virtual></pattern></virtualPatternList>\n"
          " <BPMTimeLine><newBPM><BAR>3</BAR><BPM>90</BPM></newBPM></BPMTimeLine>\n";
    rp::test::writeText(dir / "s.h2song", songXml(patterns, sequence, extra));
    std::vector<double> progress;
    const auto report = importSong(
        dir / "s.h2song", dir / "S.rpsong", dir / "TestKit", [&](double f) { progress.push_back(f); });
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_EQ(report.kitWritten, fs::absolute(dir / "TestKit.rpkit"));
    EXPECT_EQ(joined(report.notCarriedOver),
        "humanize (time and velocity)\nswing\nnote lead/lag and probability (2 notes)\n");
    const std::string warnings = joined(report.warnings);
    for (const char* fragment : { "pattern \"nope\"", "1 note at a negative position", "1 note beyond",
             "unknown instrument id 7: 1 note", "no instrument \"Cowbell\": 1 note" })
        EXPECT_NE(warnings.find(fragment), std::string::npos) << fragment << "\n" << warnings;

    auto song = reopenSong(dir / "S.rpsong");
    ASSERT_TRUE(song);
    EXPECT_EQ(song->name(), "Test song");
    EXPECT_EQ(song->notes(), "Some notes\n\nBy Tester");
    std::vector<std::pair<std::string, int>> playlist;
    for (const auto& marker : song->sectionMarkerList())
        playlist.emplace_back(marker->name(), marker->numberOfTimes());
    EXPECT_EQ(playlist,
        (std::vector<std::pair<std::string, int>> {
            { "a", 3 }, { "b", 1 }, { "b + c", 1 }, { "a + c + v", 1 }, { "a (2)", 1 }, { "Rest", 1 } }));
    const auto bars = playedBars(*song);
    ASSERT_EQ(bars.size(), 8u);
    // 7/8 at 120 quarters a minute: 1.75 s; 3/8 at 90: 1 s; "b + c" as long as c.
    EXPECT_EQ(
        std::to_string(bars[0]->timeSignatureTop()) + "/" + std::to_string(bars[0]->timeSignatureBottom()),
        "7/8");
    EXPECT_NEAR(bars[0]->duration(), 1.75, 1e-5);
    EXPECT_EQ(
        std::to_string(bars[3]->timeSignatureTop()) + "/" + std::to_string(bars[3]->timeSignatureBottom()),
        "3/8");
    EXPECT_NEAR(bars[3]->duration(), 1.0, 1e-5);
    EXPECT_EQ(bars[4]->timeSignatureTop(), 4);
    EXPECT_NEAR(bars[4]->duration(), 4 * 60 / 90.0, 1e-4);
    EXPECT_NEAR(bars[6]->duration(), 1.75 * 120 / 90, 1e-4);
    // Events at their place, each with the variant whose layer holds its velocity.
    std::vector<std::string> first;
    for (const auto& event : *bars[0]->events())
        first.push_back(std::to_string(event->whenRatio()).substr(0, 4) + " " + event->drum()->compositeName()
            + " " + std::to_string(event->velocity()).substr(0, 3));
    EXPECT_EQ(first, (std::vector<std::string> { "0.00 Kick (64-127) 0.9", "0.50 Snare 0.3" }));
    EXPECT_EQ(bars[5]->events()->size(), 3u); // a and c merged through the virtual pattern v
    EXPECT_EQ(bars[4]->events()->front()->drum()->compositeName(), "Snare"); // b's note at the start

    // The same song with our own kit bundle: names and layer ranges find the drums again.
    const auto again = importSong(dir / "s.h2song", dir / "S2.rpsong", dir / "TestKit.rpkit");
    EXPECT_TRUE(again.kitWritten.empty());
    auto second = reopenSong(dir / "S2.rpsong");
    ASSERT_TRUE(second);
    EXPECT_EQ(playedBars(*second)[0]->events()->front()->drum()->compositeName(), "Kick (64-127)");
    // A second import beside the first keeps the first kit.
    EXPECT_EQ(importSong(dir / "s.h2song", dir / "S3.rpsong", dir / "TestKit").kitWritten,
        fs::absolute(dir / "TestKit 2.rpkit"));
}

// A Hydrogen kit's hi hats, one mute group, become one type of our kit; a song given that bundle
// finds each of its separate hi-hat instruments again by what its name says (closed, open, pedal).
TEST(HydrogenSongTest, OurKitBundleFindsMergedHiHatSoundsByTheirLabels)
{
    TempDir dir;
    rp::test::writeKitFolder(dir / "Hats", "Hats",
        { { 0, "Kick", { { "k.wav", 0, 1 } } }, { 1, "Hat Closed", { { "hc.wav", 0, 1 } }, 1 },
            { 2, "Hat Open", { { "ho1.wav", 0, 0.6 }, { "ho2.wav", 0.6, 1 } }, 1 },
            { 3, "Hat Pedal", { { "hp.wav", 0, 1 } }, 1 } });
    rp::hydrogen::importKit(dir / "Hats", dir / "Hats.rpkit");

    std::string xml = songXml(pattern("a", 192, { { 0, 0.9, 0 }, { 24, 0.9, 1 }, { 48, 0.3, 2 }, { 72, 0.9, 2 },
                                                    { 96, 0.5, 3 }, { 120, 0.5, 4 } }),
        column({ "a" }));
    const size_t begin = xml.find(" <instrumentList>");
    const size_t end = xml.find("</instrumentList>") + std::string("</instrumentList>").size();
    xml.replace(begin, end - begin,
        " <instrumentList><instrument><id>0</id><name>Kick</name></instrument>"
        "<instrument><id>1</id><name>Closed HH</name></instrument>"
        "<instrument><id>2</id><name>Open Hi-Hat</name></instrument>"
        "<instrument><id>3</id><name>HiHat Pedal</name></instrument>"
        "<instrument><id>4</id><name>Hat Sizzle</name></instrument></instrumentList>");
    rp::test::writeText(dir / "s.h2song", xml);
    const auto report = importSong(dir / "s.h2song", dir / "S.rpsong", dir / "Hats.rpkit");
    // Only the hi hat our kit has no sound for is missing.
    EXPECT_EQ(joined(report.warnings).find("no instrument \"Closed HH\""), std::string::npos);
    EXPECT_NE(joined(report.warnings).find("no instrument \"Hat Sizzle\": 1 note"), std::string::npos)
        << joined(report.warnings);

    auto song = reopenSong(dir / "S.rpsong");
    ASSERT_TRUE(song);
    std::vector<std::string> played;
    for (const auto& event : *playedBars(*song).at(0)->events())
        played.push_back(event->drum()->compositeName());
    EXPECT_EQ(played,
        (std::vector<std::string> {
            "Kick", "hi hat (closed)", "hi hat (open 0-76)", "hi hat (open 76-127)", "hi hat (pedal)" }));
}

TEST(HydrogenSongTest, HostileSongsGiveClearErrorsAndLeaveNothingBehind)
{
    TempDir dir;
    writeTestKit(dir / "kits" / "TestKit");
    fs::create_directories(dir / "out");
    const std::string good = songXml(pattern("a", 192, { { 0, 0.9, 0 } }), column({ "a" }));
    auto expectError = [&](const std::string& label, const std::string& xml, const std::string& fragment,
                           const std::optional<fs::path>& kit) {
        rp::test::writeText(dir / "in.h2song", xml);
        const auto before = rp::test::treeOf(dir.path());
        const auto started = std::chrono::steady_clock::now();
        try {
            importSong(dir / "in.h2song", dir / "out" / "S.rpsong", kit);
            ADD_FAILURE() << label << ": imported";
        } catch (const ImportError& error) {
            EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos)
                << label << ": " << error.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << label;
        EXPECT_EQ(rp::test::treeOf(dir.path()), before) << label;
    };
    const fs::path kit = dir / "kits" / "TestKit";
    expectError(
        "malformed", "<song><bpm>120</bpm><patternList><pattern>", "not a readable Hydrogen song", kit);
    expectError("truncated", good.substr(0, good.size() - 30), "not a readable Hydrogen song", kit);
    expectError("not a song", "<drumkit_info/>", "no song element", kit);
    expectError("nothing to play", songXml("", ""), "nothing to import", kit);
    std::vector<std::tuple<int, double, int>> many(8193, { 0, 0.5, 0 });
    expectError("huge note count", songXml(pattern("a", 192, many), column({ "a" })), "too many notes", kit);
    expectError("huge pattern", songXml(pattern("a", 100000, {}), column({ "a" })), "ticks long", kit);
    std::string columns;
    for (int i = 0; i < 65537; ++i)
        columns += "<group/>";
    expectError("huge sequence", songXml(pattern("a", 192, {}), columns), "song positions", kit);
    expectError("kit not installed", good, "--kit", std::nullopt);
    expectError("kit override missing", good, "there is no Hydrogen kit", dir / "nowhere");

    // Odd numbers are repaired with warnings; a kit named with path separators lands beside the song.
    writeTestKit(dir / "kits" / "Evil", "../../evil/kit");
    rp::test::writeText(dir / "odd.h2song",
        songXml(pattern("a", 192, { { 0, 7.5, 0 } }) + pattern("b", 192, {}), column({ "a" }),
            " <BPMTimeLine><newBPM><BAR>-4</BAR><BPM>100</BPM></newBPM></BPMTimeLine>\n",
            "&lt;!DOCTYPE HTML>&lt;html>&lt;head>&lt;style>p { x }&lt;/style>&lt;/head>&lt;body>&lt;p>Line "
            "&amp;amp; "
            "one&lt;/p>&lt;p>Two&lt;/p>&lt;/body>&lt;/html>"));
    const auto report = importSong(dir / "odd.h2song", dir / "out" / "Odd.rpsong", dir / "kits" / "Evil");
    EXPECT_EQ(report.kitWritten.parent_path(), fs::absolute(dir / "out"));
    EXPECT_EQ(report.kitWritten.filename(), "evil-kit.rpkit");
    EXPECT_GE(report.warnings.size(), 2u) << joined(report.warnings); // velocity, tempo marker
    auto song = reopenSong(dir / "out" / "Odd.rpsong");
    ASSERT_TRUE(song);
    EXPECT_NEAR(song->sectionList().front()->patterns().front()->duration(), 2.0,
        1e-5); // the song tempo: the bad marker is left out
    EXPECT_EQ(song->notes(), "Line & one\nTwo\n\nBy Tester"); // rich-text notes as plain text
}

TEST(HydrogenSongTest, CommandLineImportsWithAKitAndRefusesToReplace)
{
    if (!fs::exists(RP_CLI_PATH))
        GTEST_SKIP() << "rattlepan-cli not built";
    TempDir dir;
    writeTestKit(dir / "TestKit");
    rp::test::writeText(dir / "s.h2song",
        songXml(
            pattern("a", 192, { { 0, 0.9, 0 } }), column({ "a" }), " <swing_factor>0.5</swing_factor>\n"));
    const std::string cli = RP_CLI_PATH;
    const std::string command = cli + " song import '" + (dir / "s.h2song").string() + "' '"
        + (dir / "S.rpsong").string() + "' --kit '" + (dir / "TestKit").string() + "' 2>'"
        + (dir / "err.txt").string() + "'";
    std::string output;
    ASSERT_EQ(rp::test::runCommand(command, &output), 0) << output;
    EXPECT_NE(output.find("TestKit.rpkit"), std::string::npos) << output;
    const auto errors = rp::test::readFileBytes(dir / "err.txt");
    EXPECT_NE(std::string(errors.begin(), errors.end()).find("swing"), std::string::npos);
    EXPECT_NE(rp::test::runCommand(command), 0); // S.rpsong exists now
    output.clear();
    ASSERT_EQ(rp::test::runCommand(cli + " info --json '" + (dir / "S.rpsong").string() + "'", &output), 0)
        << output;
    EXPECT_NE(output.find("Test song"), std::string::npos);
}

} // namespace
