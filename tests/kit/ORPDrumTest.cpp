#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "archive/TypedStreamWriter.h"
#include "foundation/Logger.h"
#include "kit/KitTestSupport.h"
#include "kit/ORPDrumKit.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using rp::test::makeDrum;

// The keys an archived drum's dictionary holds, read back through the generic decoder.
std::vector<std::string> archivedKeys(const ORPDrumPtr& drum)
{
    auto data = rp::KeyedArchiver::archivedDataWithRootObject(drum);
    rp::KeyedUnarchiver::Options options;
    options.decodeUnknownClassesGenerically = true;
    rp::KeyedUnarchiver::unregisterClass("ORPDrum");
    std::string error;
    auto root = rp::KeyedUnarchiver::unarchiveObjectWithData(data, &error, options);
    rp::KeyedUnarchiver::registerClass("ORPDrum",
        [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr { return ORPDrum::initWithCoder(coder); });
    auto generic = std::dynamic_pointer_cast<rp::KeyedGenericObject>(root);
    EXPECT_TRUE(generic) << error;
    std::vector<std::string> keys;
    if (generic) {
        for (const auto& [key, value] : generic->entries) {
            keys.push_back(key);
        }
    }
    return keys;
}

ORPDrumPtr roundTrip(const ORPDrumPtr& drum)
{
    auto data = rp::KeyedArchiver::archivedDataWithRootObject(drum);
    std::string error;
    auto decoded
        = std::dynamic_pointer_cast<ORPDrum>(rp::KeyedUnarchiver::unarchiveObjectWithData(data, &error));
    EXPECT_TRUE(decoded) << error;
    return decoded;
}

// A drum dictionary written by hand, for keys our writer never leaves out.
class HandArchivedDrum final : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    std::string archiveClassName() const override { return className; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override { encode(coder); }
    std::string className = "ORPDrum";
    std::function<void(rp::KeyedArchiver&)> encode;
};

ORPDrumPtr decodeHandArchived(
    std::function<void(rp::KeyedArchiver&)> encode, std::string className = "ORPDrum")
{
    auto object = std::make_shared<HandArchivedDrum>();
    object->encode = std::move(encode);
    object->className = std::move(className);
    auto data = rp::KeyedArchiver::archivedDataWithRootObject(object);
    std::string error;
    auto drum
        = std::dynamic_pointer_cast<ORPDrum>(rp::KeyedUnarchiver::unarchiveObjectWithData(data, &error));
    EXPECT_TRUE(drum) << error;
    return drum;
}

class ORPDrumTest : public ::testing::Test {
protected:
    void SetUp() override { ORPDrumKit::registerArchiveClasses(); }
};

TEST_F(ORPDrumTest, FieldRules)
{
    ORPDrum drum;
    drum.setLegacyGridPosition(7);
    EXPECT_EQ(drum.legacyGridPosition(), 2);
    drum.setLegacyGridPosition(-7);
    EXPECT_EQ(drum.legacyGridPosition(), -2);

    drum.setShortcutKey(std::string("k"));
    drum.setShortcutKey(std::string());
    EXPECT_FALSE(drum.shortcutKey());

    drum.setMidiChannel(9);
    drum.setMidiNote(38);
    drum.setNoMIDI();
    EXPECT_FALSE(drum.hasMIDI());
    EXPECT_EQ(drum.midiNote(), 38); // only the channel is cleared

    EXPECT_EQ(drum.compositeName(), "New instrument");
    drum.setTypeName("hi hat");
    drum.setVariantName("closed");
    EXPECT_EQ(drum.compositeName(), "hi hat (closed)");
    drum.setVariantName("");
    EXPECT_EQ(drum.compositeName(), "hi hat");

    drum.setIconCache(std::make_shared<int>(1));
    drum.setCursorCache(std::make_shared<int>(2));
    drum.setSourceImage(ORPImageData { 1, 2, 3 });
    EXPECT_FALSE(drum.iconCache());
    EXPECT_TRUE(drum.cursorCache());
}

TEST_F(ORPDrumTest, IdentityIgnoresCaseAndGroup)
{
    auto a = makeDrum("Drums", "Hi Hat", "Closed");
    auto b = makeDrum("Other", "hi hat", "closed");
    auto c = makeDrum("Drums", "hi hat", "open");
    EXPECT_TRUE(a->isSameTypeAs(b));
    EXPECT_TRUE(a->isSameTypeAndVariantAs(b));
    EXPECT_TRUE(a->isSameTypeAs(c));
    EXPECT_FALSE(a->isSameTypeAndVariantAs(c));
    EXPECT_FALSE(a->isSameTypeAs(ORPDrumPtr()));
}

TEST_F(ORPDrumTest, CopyIsDeepAndStartsWithoutCaches)
{
    auto drum = makeDrum("G", "snare", "rim");
    drum->setSound(std::make_shared<OASound>());
    drum->sound()->setVolume(0.5f);
    drum->setMidiChannel(9);
    drum->setMidiNote(37);
    drum->setShortcutKey(std::string("r"));
    drum->setLinkAudioOnly(true);
    drum->setSourceImage(ORPImageData { 9 });
    drum->setIconCache(std::make_shared<int>(1));
    drum->encodeSparse();

    auto copy = drum->copy();
    EXPECT_NE(copy->storedSound(), drum->storedSound());
    EXPECT_FLOAT_EQ(copy->storedSound()->volume(), 0.5f);
    EXPECT_EQ(copy->description(), "snare (rim)");
    EXPECT_EQ((std::vector<int> { copy->midiChannel(), copy->midiNote() }), (std::vector<int> { 9, 37 }));
    EXPECT_EQ(copy->shortcutKey(), "r");
    EXPECT_TRUE(copy->linkAudioOnly());
    EXPECT_EQ(copy->storedSourceImage(), ORPImageData { 9 });
    EXPECT_FALSE(copy->iconCache());
    EXPECT_FALSE(copy->isEncodingSparse());
}

TEST_F(ORPDrumTest, SparseArchivingIsOneShot)
{
    auto drum = makeDrum("G", "kick", "default");
    drum->setShortcutKey(std::string("b"));
    drum->setMidiChannel(9);
    drum->setMidiNote(36);
    drum->setMidiVelocity(127);

    const std::vector<std::string> sparse = { "ORPD_groupName", "ORPD_typeName", "ORPD_varName",
        "ORPD_midiChannel", "ORPD_midiNote", "ORPD_midiVelocity" };
    EXPECT_EQ(archivedKeys(drum->encodeSparse()), sparse);
    const std::vector<std::string> full = { "ORPD_groupName", "ORPD_typeName", "ORPD_varName", "ORPD_gridPos",
        "ORPD_varPrecedence", "ORPD_linkedAudio", "ORPD_shortcutKey", "ORPD_defVar", "ORPD_midiChannel",
        "ORPD_midiNote", "ORPD_midiVelocity" };
    EXPECT_EQ(archivedKeys(drum), full);
}

TEST_F(ORPDrumTest, KeyedRoundTripKeepsEveryField)
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
    auto decoded = roundTrip(drum);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->groupName() + "/" + decoded->compositeName(), "Cymbals/hi hat (open)");
    EXPECT_EQ((std::vector<int> { decoded->midiChannel(), decoded->midiNote(), decoded->midiVelocity() }),
        (std::vector<int> { 9, 46, 90 }));
    EXPECT_EQ(decoded->shortcutKey(), "o");
    EXPECT_TRUE(decoded->isDefaultVarForType());
    EXPECT_TRUE(decoded->linkAudioOnly());
    EXPECT_FALSE(decoded->variantPrecedence()); // stored false wins over the derived rule
    EXPECT_EQ(decoded->legacyGridPosition(), -3);
    EXPECT_EQ(decoded->storedSourceImage(), (ORPImageData { 0x89, 'P', 'N', 'G' }));
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
    EXPECT_EQ(drum->groupName(), "Group 3");
    EXPECT_TRUE(drum->variantPrecedence());
    EXPECT_EQ(drum->midiNote(), -1);
    EXPECT_FALSE(drum->shortcutKey());

    auto capitalised = decodeHandArchived([](rp::KeyedArchiver& coder) {
        coder.encodeString("Hi Hat", "ORPD_typeName");
        coder.encodeString("closed", "ORPD_varName");
    });
    EXPECT_FALSE(capitalised->variantPrecedence());
    auto muted = decodeHandArchived(
        [](rp::KeyedArchiver& coder) {
            coder.encodeString("conga", "ORPD_typeName");
            coder.encodeString("half muted slap", "ORPD_varName");
        },
        "DrumInfo");
    EXPECT_TRUE(muted->variantPrecedence());
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
    EXPECT_EQ((std::vector<int> { drum->midiChannel(), drum->midiNote(), drum->midiVelocity() }),
        (std::vector<int> { -1, -1, -1 }));
    EXPECT_LE(std::abs(drum->legacyGridPosition()), 4);
    EXPECT_TRUE(log.contains("MIDI channel 300"));
    EXPECT_TRUE(log.contains("MIDI velocity 128"));
}

TEST_F(ORPDrumTest, SequentialDrumReadsTheOlderForm)
{
    rp::test::TypedStreamWriter w;
    w.group("@");
    w.beginObject({ { "DrumInfo", 0 }, { "NSObject", 0 } });
    w.group("@@sf@@@c");
    w.stringObject("snare");
    w.stringObject("muted");
    w.integer(6);
    w.floatValue(0.75f, true);
    w.nil(); // no sound
    w.nil(); // no image
    w.stringObject("");
    w.byte(1);
    w.endObject();
    std::string error;
    auto drum = std::dynamic_pointer_cast<ORPDrum>(
        rp::TypedStreamDecoder::unarchiveObjectWithData(w.bytes(), &error));
    ASSERT_TRUE(drum) << error;
    EXPECT_EQ(drum->compositeName(), "snare (muted)");
    EXPECT_EQ(drum->legacyGridPosition(), 1);
    EXPECT_EQ(drum->groupName(), "Group 2");
    EXPECT_TRUE(drum->variantPrecedence());
    EXPECT_TRUE(drum->isDefaultVarForType());
    EXPECT_FALSE(drum->shortcutKey());
    EXPECT_FALSE(drum->hasMIDI());
}

} // namespace
