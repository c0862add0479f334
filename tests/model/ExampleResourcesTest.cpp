#include "BuildInfo.h"
#include "foundation/Error.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPSong.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

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
