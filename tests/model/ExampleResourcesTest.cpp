#include "BuildInfo.h"
#include "foundation/Error.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPEvent.h"
#include "model/ORPPattern.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"
#include "model/ORPSong.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace {

const std::filesystem::path kExamples = std::filesystem::path(RP_BINARY_DIR) / "resources" / "Examples";

} // namespace

// The bundled examples are what a new user meets first: the kit must be playable from the keyboard
// and from MIDI, and the song must use only that kit's drums while showing off the song features.
TEST(ExampleResources, KitAndSongAreCompleteAndFitTogether)
{
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(kExamples / "Rattlepan Standard Kit.rpkit", false, &error);
    ASSERT_TRUE(kit) << error.text();
    EXPECT_GE(kit->drumsHierarchy().size(), 3u);
    std::set<std::string> shortcuts;
    for (const auto& drum : kit->drums()) {
        ASSERT_TRUE(drum->shortcutKey()) << drum->typeName();
        EXPECT_TRUE(shortcuts.insert(*drum->shortcutKey()).second) << "shared key " << *drum->shortcutKey();
        EXPECT_TRUE(drum->hasMIDI()) << drum->typeName();
        EXPECT_EQ(drum->midiChannel(), 9) << drum->typeName();
        ASSERT_TRUE(drum->sound());
        EXPECT_GT(drum->sound()->duration(), 0.0) << drum->typeName();
    }
    auto closedHat = kit->drumWithTypeName("hi hat", "closed");
    ASSERT_TRUE(closedHat);
    EXPECT_TRUE(closedHat->variantPrecedence());

    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::songFromURL(kExamples / "Rattlepan Example Song.rpsong", &error);
    ASSERT_TRUE(song) << error.text();
    EXPECT_GE(song->sectionList().size(), 4u);
    bool repeats = false;
    for (const auto& marker : song->sectionMarkerList())
        repeats = repeats || marker->numberOfTimes() > 1;
    EXPECT_TRUE(repeats);

    std::set<std::pair<int, int>> signatures;
    std::set<float> secondsPerQuarter;
    for (const auto& section : song->sectionList()) {
        for (const auto& pattern : section->patterns()) {
            signatures.insert({ pattern->timeSignatureTop(), pattern->timeSignatureBottom() });
            const float quarters = 4.0f * pattern->timeSignatureTop() / pattern->timeSignatureBottom();
            secondsPerQuarter.insert(std::round(pattern->duration() / quarters * 1000.0f));
            ASSERT_FALSE(pattern->events()->empty());
            for (const auto& event : *pattern->events()) {
                EXPECT_TRUE(kit->drumWithTypeName(event->drum()->typeName(), event->drum()->variantName()))
                    << event->drum()->typeName() << " (" << event->drum()->variantName() << ") is not in the kit";
            }
        }
    }
    EXPECT_TRUE(signatures.count({ 6, 8 }));
    EXPECT_TRUE(signatures.count({ 7, 8 }));
    EXPECT_GE(secondsPerQuarter.size(), 2u) << "no tempo change";
}
