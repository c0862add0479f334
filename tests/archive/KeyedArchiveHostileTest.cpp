// Bad archives must fail cleanly: no crash, no hang, no huge allocation.
#include "BinaryPlistTestSupport.h"
#include "KeyedArchiveTestClasses.h"

#include <gtest/gtest.h>

using namespace rp;
using keyed::PlistValue;
using namespace rp::keyed::test;

namespace {

PlistValue classDescription(const std::string& name)
{
    return dictionaryOf({ { "$classname", str(name) }, { "$classes", arr({ str(name) }) } });
}

// A keyed archive around the given $objects (index 0 must be "$null"), root at `root`.
std::vector<uint8_t> keyedArchive(std::vector<PlistValue> objects, uint64_t root = 1)
{
    return keyed::writeBinaryPlist(
        dictionaryOf({ { "$version", num(100000) }, { "$archiver", str("NSKeyedArchiver") },
            { "$top", dictionaryOf({ { "root", uid(root) } }) }, { "$objects", arr(std::move(objects)) } }));
}

std::string decodeError(const std::vector<uint8_t>& bytes)
{
    std::string error;
    EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error), nullptr);
    EXPECT_FALSE(error.empty());
    return error;
}

class KeyedArchiveHostileTest : public ::testing::Test {
protected:
    void SetUp() override { KATestThing::registerClass(); }
    void TearDown() override { KATestThing::unregisterClass(); }
};

} // namespace

TEST_F(KeyedArchiveHostileTest, DeepNestingIsRefusedNotOverflowed)
{
    // Objects: 200,000 NSArrays each holding the next one.
    constexpr uint32_t depth = 200000;
    std::vector<PlistValue> objects = { str("$null"), classDescription("NSArray") };
    for (uint32_t i = 0; i < depth; ++i)
        objects.push_back(dictionaryOf({ { "$class", uid(1) }, { "NS.objects", arr({ uid(i + 3) }) } }));
    objects.back().entries.back().second = arr();
    const std::string error = decodeError(keyedArchive(std::move(objects), 2));
    EXPECT_NE(error.find("objects nested too deeply"), std::string::npos) << error;

    // Property-list values: 200,000 arrays nested inside each other.
    std::vector<std::vector<uint8_t>> raw;
    for (uint32_t i = 0; i < depth; ++i)
        raw.push_back({ 0xA1, 0, static_cast<uint8_t>((i + 1) >> 16), static_cast<uint8_t>((i + 1) >> 8),
            static_cast<uint8_t>(i + 1) });
    raw.back() = { 0xA0 };
    EXPECT_NE(decodeError(rawPlist(raw, 4)).find("nested too deeply"), std::string::npos);
}

// Cycles and expansion bombs in the property list itself are the reader's (BinaryPlistTest).
TEST_F(KeyedArchiveHostileTest, SelfHoldingObjectsOutOfRangeReferencesAndMalformedArchivesAreRefused)
{
    const PlistValue null = str("$null");
    auto thing = [](std::vector<std::pair<std::string, PlistValue>> extra, uint64_t classUid = 2) {
        extra.insert(extra.begin(), { "$class", uid(classUid) });
        return dictionaryOf(std::move(extra));
    };
    const PlistValue thingClass = classDescription("KATestThing");

    // An object that holds itself through its factory.
    EXPECT_NE(decodeError(keyedArchive({ null, thing({ { "KAT_child", uid(1) } }), thingClass }))
                  .find("contains itself"),
        std::string::npos);
    EXPECT_NE(decodeError(keyedArchive({ null }, 7)).find("out of range"), std::string::npos);
    const std::vector<uint8_t> cases[] = {
        keyedArchive({ null, thing({}, 99), thingClass }),
        keyedArchive({ null, thing({ { "KAT_child", uid(1u << 31) } }), thingClass }),
        keyedArchive({ null, thing({}, 1), thingClass }), // $class points at an object
        keyedArchive({ null, PlistValue::makeDictionary(), thingClass }), // no $class
        keyedArchive({ null, arr(), thingClass }), // bare array
        keyedArchive({ null, thing({}), classDescription("NotRegistered") }),
        // An NSArray whose elements are not references, a dictionary with unequal key/value counts.
        keyedArchive({ null, thing({ { "NS.objects", arr({ num(1) }) } }), classDescription("NSArray") }),
        keyedArchive({ null, thing({ { "NS.keys", arr({ uid(0) }) }, { "NS.objects", arr() } }),
            classDescription("NSDictionary") }),
        // Not keyed archives at all.
        keyed::writeBinaryPlist(dictionaryOf({ { "$archiver", str("SomethingElse") } })),
        keyed::writeBinaryPlist(arr({ null })),
        {},
        std::vector<uint8_t>(100, 0),
        // Lengths far beyond the file: a data object claiming 2^62 bytes, an array of 2^40 items.
        rawPlist({ { 0x4F, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0 } }),
        rawPlist({ { 0xAF, 0x13, 0, 0, 0x01, 0, 0, 0, 0, 0 } }),
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        decodeError(cases[i]);
    }
}

TEST_F(KeyedArchiveHostileTest, EveryTruncationFailsWithAReason)
{
    auto shared = std::make_shared<KATestThing>();
    auto root = std::make_shared<KATestThing>();
    root->name = "n\xC3\xA4me";
    root->blob = std::vector<uint8_t> { 1, 2, 3, 4 };
    root->child = shared;
    root->list = { shared,
        std::make_shared<ArchivedDictionary>(std::vector<ArchivedDictionary::Entry> {
            { std::make_shared<ArchivedString>("k"), std::make_shared<ArchivedDate>(1.0) } }) };
    const auto valid = KeyedArchiver::archivedDataWithRootObject(root);
    ASSERT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(valid, nullptr));

    for (size_t length = 0; length < valid.size(); ++length)
        decodeError(std::vector<uint8_t>(valid.begin(), valid.begin() + static_cast<ptrdiff_t>(length)));
}
