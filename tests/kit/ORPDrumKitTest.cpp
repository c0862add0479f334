#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/Logger.h"
#include "foundation/NotificationCenter.h"
#include "kit/KitTestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using rp::test::makeDrum;

// Every drum of the hierarchy as group/type/variant, in hierarchy order.
std::vector<std::string> names(const ORPDrumKit& kit)
{
    std::vector<std::string> out;
    for (const auto& group : kit.drumsHierarchy())
        for (const auto& instrument : group->instruments)
            for (const auto& drum : instrument->variants)
                out.push_back(drum->groupName() + "/" + drum->typeName() + "/" + drum->variantName());
    return out;
}

// A drum dictionary written by hand, for keys and values our writer never writes.
class HandArchivedDrum final : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    std::string archiveClassName() const override { return className; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override { encode(coder); }
    std::string className = "ORPDrum";
    std::function<void(rp::KeyedArchiver&)> encode;
};

ORPDrumPtr throughArchive(const rp::ArchiveObjectPtr& object)
{
    std::string error;
    auto drum = std::dynamic_pointer_cast<ORPDrum>(rp::KeyedUnarchiver::unarchiveObjectWithData(
        rp::KeyedArchiver::archivedDataWithRootObject(object), &error));
    EXPECT_TRUE(drum) << error;
    return drum;
}

ORPDrumPtr decodeHandArchived(
    std::function<void(rp::KeyedArchiver&)> encode, std::string className = "ORPDrum")
{
    auto object = std::make_shared<HandArchivedDrum>();
    object->encode = std::move(encode);
    object->className = std::move(className);
    return throughArchive(object);
}

// Every stored field of a drum but its sound, on one line.
std::string fields(const ORPDrum& d)
{
    std::ostringstream out;
    out << d.groupName() << "/" << d.compositeName() << " midi " << int { d.midiChannel() } << "/"
        << int { d.midiNote() } << "/" << int { d.midiVelocity() } << " key " << d.shortcutKey().value_or("-")
        << " default " << d.isDefaultVarForType() << " linked " << d.linkAudioOnly() << " precedence "
        << d.variantPrecedence() << " grid " << d.legacyGridPosition() << " image "
        << d.storedSourceImage().value_or(ORPImageData {}).size();
    return out.str();
}

class ORPDrumKitTest : public ::testing::Test {
protected:
    void SetUp() override { ORPDrumKit::registerArchiveClasses(); }
};
using ORPDrumTest = ORPDrumKitTest;

TEST_F(ORPDrumKitTest, HierarchyFromAFlatListAndLookupInIt)
{
    ORPDrumKit kit;
    kit.drums() = { makeDrum("Toms", "tom", "high"), makeDrum("Snares", "snare", "default"),
        makeDrum("Toms", "floor tom", "default"), makeDrum("Toms", "tom", "low"),
        makeDrum("Snares", "snare", "rim"), makeDrum("toms", "tom", "mid") };
    kit.rebuildHierarchyFromDrums();
    // First appearance decides the order; "toms" differs from "Toms": group names compare exactly.
    EXPECT_EQ(names(kit),
        (std::vector<std::string> { "Toms/tom/high", "Toms/tom/low", "Toms/floor tom/default",
            "Snares/snare/default", "Snares/snare/rim", "toms/tom/mid" }));
    // Lookup compares exactly and goes on into later groups.
    EXPECT_EQ(kit.drumWithTypeName("tom", "mid"), kit.drums()[5]);
    EXPECT_EQ(kit.drumWithTypeName("snare", "rim"), kit.drums()[4]);
    EXPECT_FALSE(kit.drumWithTypeName("Tom", "mid") || kit.drumWithTypeName("tom", "Mid"));
    // A second instrument of the same name in one group is never searched.
    kit.drumsHierarchy()[0]->instruments.push_back(std::make_shared<ORPDrumInstrument>());
    kit.drumsHierarchy()[0]->instruments.back()->variants.push_back(makeDrum("Toms", "tom", "extra"));
    EXPECT_FALSE(kit.drumWithTypeName("tom", "extra"));
}

TEST_F(ORPDrumKitTest, DefaultVariantUpgradeForOlderKits)
{
    ORPDrumKit kit;
    const std::vector<ORPDrumPtr> drums = { makeDrum("G", "hi hat", "closed"),
        makeDrum("G", "hi hat", "open"), makeDrum("G", "hi hat", "pedal"), makeDrum("G", "kick", "soft"),
        makeDrum("G", "kick", "hard") };
    auto defaults = [&] {
        std::vector<bool> out;
        for (const auto& drum : drums)
            out.push_back(drum->isDefaultVarForType());
        return out;
    };
    for (const auto& drum : drums)
        kit.addDrum(drum);
    drums[1]->setDefaultVarForType(true);
    drums[2]->setDefaultVarForType(true);
    // Kits before 1G11: one default per type, the first marked one or else the first variant.
    kit.setBuildVersionSavedWith(0x0107000A);
    rp::LogCapture log;
    EXPECT_TRUE(kit.upgradeDefaultVariantsIfNeeded());
    EXPECT_TRUE(log.contains("Fixing pre-1G11 drum kit for default variants"));
    EXPECT_EQ(defaults(), (std::vector<bool> { false, true, false, true, false }));
    drums[2]->setDefaultVarForType(true);
    kit.setBuildVersionSavedWith(0x0107000B);
    EXPECT_FALSE(kit.upgradeDefaultVariantsIfNeeded());
    EXPECT_EQ(defaults(), (std::vector<bool> { false, true, true, true, false }));
}

TEST_F(ORPDrumKitTest, SequentialKitOfBothByteOrders)
{
    for (bool bigEndian : { true, false }) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        std::string error;
        auto kit = std::dynamic_pointer_cast<ORPDrumKit>(
            rp::TypedStreamDecoder::unarchiveObjectWithData(rp::test::olderKit(bigEndian), &error));
        ASSERT_TRUE(kit) << error;
        EXPECT_EQ(kit->kitName() + "|" + kit->kitInfo().value_or(""), "Old kit|long ago");
        // Groups are named after the grid places.
        EXPECT_EQ(kit->drumsHierarchy().size(), 2u);
        ASSERT_EQ(kit->drums().size(), 2u);
        EXPECT_EQ(fields(*kit->drums()[0]),
            "Group 1/hi hat (closed) midi -1/-1/-1 key - default 0 linked 0 precedence 1 grid 0 image 0");
        EXPECT_EQ(fields(*kit->drums()[1]),
            "Group 2/kick midi -1/-1/-1 key - default 1 linked 0 precedence 0 grid 1 image 0");
        EXPECT_TRUE(kit->drums()[1]->storedSound()->hasLegacyEmbeddedBuffer());
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

TEST_F(ORPDrumTest, CopiesAndKeyedRoundTripsKeepEveryField)
{
    auto drum = makeDrum("Cymbals", "hi hat", "open");
    drum->setMidiChannel(9);
    drum->setMidiNote(46);
    drum->setMidiVelocity(90);
    drum->setShortcutKey(std::string("o"));
    drum->setDefaultVarForType(true);
    drum->setLinkAudioOnly(true);
    drum->setLegacyGridPosition(-3);
    drum->setSourceImage(ORPImageData { 0x89, 'P', 'N', 'G' });
    // A stored false precedence wins over the rule that derives it from the names.
    EXPECT_EQ(fields(*drum),
        "Cymbals/hi hat (open) midi 9/46/90 key o default 1 linked 1 precedence 0 grid -3 image 4");

    auto decoded = throughArchive(drum);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(fields(*decoded), fields(*drum));

    drum->setSound(std::make_shared<OASound>());
    drum->sound()->setVolume(0.5f);
    drum->setIconCache(std::make_shared<int>(1));
    drum->setSourceImage(ORPImageData { 1, 2, 3, 4 });
    EXPECT_FALSE(drum->iconCache()); // a new image drops the icon made from the old one
    drum->setIconCache(std::make_shared<int>(1));
    drum->encodeSparse();
    auto copy = drum->copy();
    EXPECT_EQ(fields(*copy), fields(*drum));
    EXPECT_NE(copy->storedSound(), drum->storedSound()); // deep
    EXPECT_FLOAT_EQ(copy->storedSound()->volume(), 0.5f);
    EXPECT_FALSE(copy->iconCache());
    EXPECT_FALSE(copy->isEncodingSparse());
}

TEST_F(ORPDrumTest, AbsentKeysReadAsTheirDefaults)
{
    // No group, no MIDI channel (note and velocity present but ignored), no precedence.
    auto drum = decodeHandArchived([](rp::KeyedArchiver& coder) {
        coder.encodeString("hi hat", "ORPD_typeName");
        coder.encodeString("closed", "ORPD_varName");
        coder.encodeInt32(2, "ORPD_gridPos");
        coder.encodeString("", "ORPD_shortcutKey");
        coder.encodeInt32(40, "ORPD_midiNote");
        coder.encodeInt32(40, "ORPD_midiVelocity");
    });
    ASSERT_TRUE(drum);
    EXPECT_EQ(fields(*drum),
        "Group 3/hi hat (closed) midi -1/-1/-1 key - default 0 linked 0 precedence 1 grid 2 image 0");

    // Without a stored precedence it is derived from the names, and the older class name.
    for (const auto& [className, type, variant, precedence] :
        { std::tuple { "ORPDrum", "Hi Hat", "closed", false },
            std::tuple { "DrumInfo", "conga", "half muted slap", true } }) {
        auto derived = decodeHandArchived(
            [&](rp::KeyedArchiver& coder) {
                coder.encodeString(type, "ORPD_typeName");
                coder.encodeString(variant, "ORPD_varName");
            },
            className);
        EXPECT_EQ(derived->variantPrecedence(), precedence) << type;
    }
}

TEST_F(ORPDrumTest, MIDIValuesTheFieldsCannotHoldAreRepaired)
{
    rp::LogCapture log;
    auto drum = decodeHandArchived([](rp::KeyedArchiver& coder) {
        coder.encodeString("kick", "ORPD_typeName");
        coder.encodeString("default", "ORPD_varName");
        coder.encodeInt64(300, "ORPD_midiChannel");
        coder.encodeInt64(-200, "ORPD_midiNote");
        coder.encodeInt64(128, "ORPD_midiVelocity");
        coder.encodeInt64(int64_t { 1 } << 40, "ORPD_gridPos");
    });
    ASSERT_TRUE(drum);
    EXPECT_EQ(
        fields(*drum), "Group 2/kick midi -1/-1/-1 key - default 0 linked 0 precedence 0 grid 1 image 0");
    EXPECT_TRUE(log.contains("MIDI channel 300"));
    EXPECT_TRUE(log.contains("MIDI velocity 128"));
}

} // namespace
