#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "archive/TypedStreamWriter.h"
#include "foundation/Logger.h"
#include "foundation/NotificationCenter.h"
#include "kit/KitTestSupport.h"

#include <gtest/gtest.h>

namespace {

using rp::test::makeDrum;

std::vector<std::string> names(const ORPDrumKit& kit)
{
    std::vector<std::string> out;
    for (const auto& group : kit.drumsHierarchy()) {
        for (const auto& instrument : group->instruments) {
            for (const auto& drum : instrument->variants) {
                out.push_back(drum->groupName() + "/" + drum->typeName() + "/" + drum->variantName());
            }
        }
    }
    return out;
}

class ORPDrumKitTest : public ::testing::Test {
protected:
    void SetUp() override { ORPDrumKit::registerArchiveClasses(); }
};

TEST_F(ORPDrumKitTest, HierarchyFromAFlatListKeepsFirstAppearance)
{
    ORPDrumKit kit;
    kit.drums() = { makeDrum("Toms", "tom", "high"), makeDrum("Snares", "snare", "default"),
        makeDrum("Toms", "floor tom", "default"), makeDrum("Toms", "tom", "low"),
        makeDrum("Snares", "snare", "rim"), makeDrum("toms", "tom", "mid") };
    kit.rebuildHierarchyFromDrums();
    // "toms" differs from "Toms": group names compare exactly.
    const std::vector<std::string> expected = { "Toms/tom/high", "Toms/tom/low", "Toms/floor tom/default",
        "Snares/snare/default", "Snares/snare/rim", "toms/tom/mid" };
    EXPECT_EQ(names(kit), expected);
}

TEST_F(ORPDrumKitTest, SavingGivesGridPositionsByGroupAndRegeneratesTheList)
{
    ORPDrumKit kit;
    for (int g = 0; g < 7; ++g) {
        kit.addDrum(makeDrum("G" + std::to_string(g), "t", "default"));
    }
    // The list is rebuilt from the hierarchy, in hierarchy order.
    std::swap(kit.drumsHierarchy()[0], kit.drumsHierarchy()[1]);
    kit.drums().clear();
    kit.regenerateDrumsFromHierarchy();
    ASSERT_EQ(kit.drums().size(), 7u);
    std::vector<int> positions;
    for (const auto& drum : kit.drums()) {
        positions.push_back(drum->legacyGridPosition());
    }
    EXPECT_EQ(positions, (std::vector<int> { 4, 3, 2, 1, 0, 4, 3 }));
    EXPECT_EQ(kit.drums()[0]->groupName(), "G1");
}

TEST_F(ORPDrumKitTest, LookupComparesExactlyAndSearchesLaterGroups)
{
    ORPDrumKit kit;
    auto plain = makeDrum("One", "snare", "default");
    auto secondSnare
        = makeDrum("One", "snare", "rim"); // a second instrument of the same name is never searched
    auto rim = makeDrum("Two", "snare", "rim");
    kit.addDrum(plain);
    kit.drumsHierarchy()[0]->instruments.push_back(std::make_shared<ORPDrumInstrument>());
    kit.drumsHierarchy()[0]->instruments.back()->variants.push_back(secondSnare);
    kit.addDrum(rim);
    EXPECT_EQ(kit.drumWithTypeName("snare", "rim"), rim);
    EXPECT_EQ(kit.drumWithTypeName("snare", "default"), plain);
    EXPECT_EQ(kit.drumWithTypeName("Snare", "rim"), nullptr);
    EXPECT_EQ(kit.drumWithTypeName("snare", "Rim"), nullptr);
}

TEST_F(ORPDrumKitTest, DefaultVariantUpgradeForOlderKits)
{
    ORPDrumKit kit;
    auto a = makeDrum("G", "hi hat", "closed");
    auto b = makeDrum("G", "hi hat", "open");
    auto c = makeDrum("G", "hi hat", "pedal");
    auto d = makeDrum("G", "kick", "soft");
    auto e = makeDrum("G", "kick", "hard");
    b->setDefaultVarForType(true);
    c->setDefaultVarForType(true);
    for (const auto& drum : { a, b, c, d, e }) {
        kit.addDrum(drum);
    }
    kit.setBuildVersionSavedWith(0x0107000A); // 1G10
    rp::LogCapture log;
    EXPECT_TRUE(kit.upgradeDefaultVariantsIfNeeded());
    EXPECT_TRUE(log.contains("Fixing pre-1G11 drum kit for default variants"));
    std::vector<bool> defaults;
    for (const auto& drum : { a, b, c, d, e }) {
        defaults.push_back(drum->isDefaultVarForType());
    }
    EXPECT_EQ(defaults, (std::vector<bool> { false, true, false, true, false }));

    c->setDefaultVarForType(true);
    kit.setBuildVersionSavedWith(0x0107000B);
    EXPECT_FALSE(kit.upgradeDefaultVariantsIfNeeded());
    EXPECT_TRUE(c->isDefaultVarForType());
}

TEST_F(ORPDrumKitTest, KeyedRoundTripRebuildsTheHierarchy)
{
    auto kit = ORPDrumKit::kit();
    kit->setKitName("Studio");
    kit->setKitInfo(std::string("Dry room"));
    kit->setFixLinksPrompt(std::string("Find the samples CD"));
    kit->setKitImage(ORPImageData { 1, 2, 3 });
    kit->addDrum(makeDrum("Kicks", "kick", "default"));
    kit->addDrum(makeDrum("Hats", "hi hat", "closed"));
    kit->addDrum(makeDrum("Kicks", "kick", "soft"));
    auto data = rp::KeyedArchiver::archivedDataWithRootObject(kit);
    std::string error;
    auto decoded
        = std::dynamic_pointer_cast<ORPDrumKit>(rp::KeyedUnarchiver::unarchiveObjectWithData(data, &error));
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->kitName() + "|" + decoded->kitInfo().value_or("") + "|"
            + decoded->fixLinksPrompt().value_or(""),
        "Studio|Dry room|Find the samples CD");
    EXPECT_EQ(decoded->kitImage(), (ORPImageData { 1, 2, 3 }));
    EXPECT_EQ(names(*decoded), names(*kit));
    EXPECT_EQ(decoded->drums().size(), 3u);
}

TEST_F(ORPDrumKitTest, SequentialKitOfBothByteOrders)
{
    for (bool bigEndian : { true, false }) {
        rp::test::TypedStreamWriter w(bigEndian);
        w.group("@");
        w.beginObject({ { "DrumKit", 0 }, { "NSObject", 0 } });
        w.group("@@@");
        w.stringObject("Old kit");
        w.stringObject("From long ago");
        w.arrayObject(2, [&](int i) {
            w.beginObject({ { "DrumInfo", 0 }, { "NSObject", 0 } });
            w.group("@@sf@@@c");
            w.stringObject(i == 0 ? "hi hat" : "kick");
            w.stringObject(i == 0 ? "closed" : "default");
            w.integer(i);
            w.floatValue(1.0f);
            w.nil();
            w.nil();
            w.nil();
            w.byte(0);
            w.endObject();
        });
        w.endObject();
        std::string error;
        auto kit = std::dynamic_pointer_cast<ORPDrumKit>(
            rp::TypedStreamDecoder::unarchiveObjectWithData(w.bytes(), &error));
        ASSERT_TRUE(kit) << error;
        EXPECT_EQ(kit->kitInfo(), "From long ago");
        ASSERT_EQ(kit->drums().size(), 2u);
        EXPECT_EQ(kit->drumsHierarchy().size(), 2u); // "Group 1" and "Group 2"
        EXPECT_EQ(kit->drums()[0]->groupName(), "Group 1");
        EXPECT_TRUE(kit->drums()[0]->variantPrecedence());
    }
}

TEST_F(ORPDrumKitTest, KitLeavesTheNotificationCentreWhenDestroyed)
{
    auto kit = ORPDrumKit::kit();
    auto& center = rp::NotificationCenter::defaultCenter();
    center.addObserver(kit.get(), "SomethingChanged", nullptr, [](const rp::Notification&) {});
    EXPECT_EQ(center.observationCount(kit.get()), 1u);
    const void* address = kit.get();
    kit.reset();
    EXPECT_EQ(center.observationCount(address), 0u);
}

} // namespace
