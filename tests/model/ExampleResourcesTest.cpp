#include "BuildInfo.h"
#include "foundation/Error.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPSong.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

// The bundled examples are what a new user meets first: the kit must be playable from the keyboard
// and from MIDI, and the song must use only that kit's drums, in more than one metre.
TEST(ExampleResources, KitAndSongAreCompleteAndFitTogether)
{
    const auto examples = std::filesystem::path(RP_BINARY_DIR) / "resources" / "Examples";
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(examples / "Rattlepan Standard Kit.rpkit", false, &error);
    ASSERT_TRUE(kit) << error.text();
    EXPECT_GE(kit->drumsHierarchy().size(), 3u);
    std::set<std::string> shortcuts;
    for (const auto& drum : kit->drums()) {
        ASSERT_TRUE(drum->shortcutKey() && drum->sound()) << drum->typeName();
        EXPECT_TRUE(shortcuts.insert(*drum->shortcutKey()).second) << "shared key " << *drum->shortcutKey();
        EXPECT_EQ(drum->midiChannel(), 9) << drum->typeName();
        EXPECT_GT(drum->sound()->duration(), 0.0) << drum->typeName();
    }
    EXPECT_TRUE(kit->drumWithTypeName("hi hat", "closed")->variantPrecedence());

    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::songFromURL(examples / "Rattlepan Example Song.rpsong", &error);
    ASSERT_TRUE(song) << error.text();
    EXPECT_GE(song->sectionList().size(), 4u);
    std::set<std::pair<int, int>> signatures;
    for (const auto& pattern : song->allPatterns()) {
        signatures.insert({ pattern->timeSignatureTop(), pattern->timeSignatureBottom() });
        EXPECT_FALSE(pattern->events()->empty());
        for (const auto& event : *pattern->events())
            EXPECT_TRUE(kit->drumWithTypeName(event->drum()->typeName(), event->drum()->variantName()))
                << event->drum()->compositeName() << " is not in the kit";
    }
    EXPECT_TRUE(signatures.count({ 6, 8 }) && signatures.count({ 7, 8 }));
}

// The example song is exported as a new user's first file: its mix must leave headroom (peak at or
// below -1 dBFS) so that 16-bit and 24-bit exports never clip.
TEST(ExampleResources, SongMixExportLeavesHeadroom)
{
    if (!rp::test::haveTool("sox"))
        GTEST_SKIP() << "SKIPPED: sox is needed to measure the exported file";
    rp::test::TempDir dir;
    const auto song
        = std::filesystem::path(RP_BINARY_DIR) / "resources" / "Examples" / "Rattlepan Example Song.rpsong";
    const auto wav = dir / "example.wav";
    std::filesystem::create_directory(dir / "defaults");
    std::string output;
    ASSERT_EQ(
        rp::test::runCommand("RATTLEPAN_DEFAULTS_DIR='" + (dir / "defaults").string() + "' " + RP_CLI_PATH
                + " export '" + song.string() + "' -o '" + wav.string() + "' --bits 16 2>&1",
            &output),
        0)
        << output;
    output.clear();
    ASSERT_EQ(rp::test::runCommand("sox '" + wav.string() + "' -n stats 2>&1", &output), 0) << output;
    const auto line = output.find("Pk lev dB");
    ASSERT_NE(line, std::string::npos) << output;
    std::istringstream values(output.substr(line + 9));
    double peak = 0;
    ASSERT_TRUE(values >> peak) << output;
    EXPECT_LE(peak, -1.0) << output;
    EXPECT_GE(peak, -12.0) << "too quiet to be a useful example: " << output;
}
