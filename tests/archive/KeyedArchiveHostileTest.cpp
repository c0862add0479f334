// Bad archives must fail cleanly: no crash, no hang, no huge allocation.
#include "KeyedArchiveTestClasses.h"
#include "archive/KeyedArchivePlist.h"

#include <gtest/gtest.h>
#include <random>

using namespace rp;
using keyed::PlistValue;

namespace {

// Assembles a binary property list from raw object encodings (4-byte references).
std::vector<uint8_t> rawBinaryPlist(const std::vector<std::vector<uint8_t>>& objects, uint64_t top = 0)
{
    std::vector<uint8_t> out = { 'b', 'p', 'l', 'i', 's', 't', '0', '0' };
    std::vector<uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out.insert(out.end(), object.begin(), object.end());
    }
    const uint64_t table = out.size();
    auto put = [&out](uint64_t value, int width) {
        for (int i = width - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    for (uint64_t offset : offsets)
        put(offset, 8);
    out.insert(out.end(), 6, 0);
    out.push_back(8); // offset size
    out.push_back(4); // reference size
    put(objects.size(), 8);
    put(top, 8);
    put(table, 8);
    return out;
}

std::vector<uint8_t> arrayOfRefs(const std::vector<uint32_t>& refs)
{
    std::vector<uint8_t> object;
    if (refs.size() < 15) {
        object.push_back(static_cast<uint8_t>(0xA0 | refs.size()));
    } else {
        object = { 0xAF, 0x12 };
        for (int i = 3; i >= 0; --i)
            object.push_back(static_cast<uint8_t>(refs.size() >> (8 * i)));
    }
    for (uint32_t ref : refs) {
        for (int i = 3; i >= 0; --i)
            object.push_back(static_cast<uint8_t>(ref >> (8 * i)));
    }
    return object;
}

PlistValue classDescription(const std::string& name)
{
    PlistValue description = PlistValue::makeDictionary();
    description.set("$classname", PlistValue::makeString(name));
    description.set("$classes", PlistValue::makeArray({ PlistValue::makeString(name) }));
    return description;
}

// A keyed archive around the given $objects (index 0 must be "$null"), root at `root`.
std::vector<uint8_t> keyedArchive(std::vector<PlistValue> objects, uint64_t root = 1)
{
    PlistValue top = PlistValue::makeDictionary();
    top.set("root", PlistValue::makeUid(root));
    PlistValue archive = PlistValue::makeDictionary();
    archive.set("$version", PlistValue::makeInteger(100000));
    archive.set("$archiver", PlistValue::makeString("NSKeyedArchiver"));
    archive.set("$top", std::move(top));
    archive.set("$objects", PlistValue::makeArray(std::move(objects)));
    return keyed::writeBinaryPlist(archive);
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
    constexpr uint32_t depth = 200000;
    // Objects: 200,000 NSArrays each holding the next one, assembled directly (libplist's
    // writer is slow on this many objects).
    auto ascii = [](const std::string& text) {
        // Sized up front: GCC 12 at -O2 misreports inserting into a braced vector as out of bounds.
        std::vector<uint8_t> object(3 + text.size());
        object[0] = 0x5F;
        object[1] = 0x10;
        object[2] = static_cast<uint8_t>(text.size());
        std::copy(text.begin(), text.end(), object.begin() + 3);
        return object;
    };
    auto uid = [](uint32_t value) {
        return std::vector<uint8_t> { 0x83, static_cast<uint8_t>(value >> 24),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value) };
    };
    auto dictionary = [](std::vector<uint32_t> keys, const std::vector<uint32_t>& values) {
        keys.insert(keys.end(), values.begin(), values.end());
        auto object = arrayOfRefs(keys);
        object[0] = static_cast<uint8_t>(0xD0 | values.size());
        return object;
    };
    // 0 top, 1-7 key strings, 8 "$null", 9 class, 10 uid(1), 11 uid(2), 12 "NSKeyedArchiver",
    // 13 version, 14 $objects array, 15 "NSArray"; then per level: dictionary, array, uid(next).
    std::vector<std::vector<uint8_t>> raw
        = { dictionary({ 1, 2, 3, 4 }, { 13, 12, 16, 14 }), ascii("$version"), ascii("$archiver"),
              ascii("$top"), ascii("$objects"), ascii("$class"), ascii("NS.objects"), ascii("$classname"),
              ascii("$null"), dictionary({ 7 }, { 15 }), uid(1), uid(2), ascii("NSKeyedArchiver"),
              { 0x12, 0x00, 0x01, 0x86, 0xA0 }, {}, ascii("NSArray"), dictionary({ 3 }, {}) };
    raw[16] = dictionary({ 17 }, { 11 }); // $top: {root: uid(2)}
    raw.push_back(ascii("root"));
    std::vector<uint32_t> objectRefs = { 8, 9 };
    for (uint32_t i = 0; i < depth; ++i) {
        const auto base = static_cast<uint32_t>(raw.size());
        objectRefs.push_back(base);
        raw.push_back(dictionary({ 5, 6 }, { 10, base + 1 }));
        raw.push_back(i + 1 < depth ? arrayOfRefs({ base + 2 }) : arrayOfRefs({}));
        raw.push_back(uid(i + 3));
    }
    raw[14] = arrayOfRefs(objectRefs);
    const std::string error = decodeError(rawBinaryPlist(raw));
    EXPECT_NE(error.find("objects nested too deeply"), std::string::npos) << error;

    // Property-list values: 200,000 arrays nested inside each other.
    raw.clear();
    for (uint32_t i = 0; i < depth; ++i)
        raw.push_back(i + 1 < depth ? arrayOfRefs({ i + 1 }) : arrayOfRefs({}));
    EXPECT_NE(decodeError(rawBinaryPlist(raw)).find("nested too deeply"), std::string::npos);
}

// Cycles and expansion bombs in the property list itself are the reader's (BinaryPlistTest);
// here an object reaches itself through its own keys.
TEST_F(KeyedArchiveHostileTest, ObjectsThatHoldThemselvesAreRefused)
{
    // An object that holds itself through its factory.
    PlistValue self = PlistValue::makeDictionary();
    self.set("$class", PlistValue::makeUid(2));
    self.set("KAT_child", PlistValue::makeUid(1));
    EXPECT_NE(
        decodeError(keyedArchive({ PlistValue::makeString("$null"), self, classDescription("KATestThing") }))
            .find("contains itself"),
        std::string::npos);
}

TEST_F(KeyedArchiveHostileTest, ReferencesOutOfRangeAndMalformedArchivesAreRefused)
{
    const PlistValue null = PlistValue::makeString("$null");
    auto thing = [](std::vector<std::pair<std::string, PlistValue>> extra, uint64_t classUid = 2) {
        PlistValue object = PlistValue::makeDictionary();
        object.set("$class", PlistValue::makeUid(classUid));
        for (auto& [key, value] : extra)
            object.set(key, value);
        return object;
    };
    const PlistValue thingClass = classDescription("KATestThing");

    EXPECT_NE(decodeError(keyedArchive({ null }, 7)).find("out of range"), std::string::npos);
    decodeError(keyedArchive({ null, thing({}, 99), thingClass }));
    decodeError(
        keyedArchive({ null, thing({ { "KAT_child", PlistValue::makeUid(1u << 31) } }), thingClass }));
    decodeError(keyedArchive({ null, thing({}, 1), thingClass })); // $class points at an object
    decodeError(keyedArchive({ null, PlistValue::makeDictionary(), thingClass })); // no $class
    decodeError(keyedArchive({ null, PlistValue::makeArray(), thingClass })); // bare array
    decodeError(keyedArchive({ null, thing({}), classDescription("NotRegistered") }));
    // An NSArray whose elements are not references, a dictionary with unequal key/value counts.
    decodeError(keyedArchive(
        { null, thing({ { "NS.objects", PlistValue::makeArray({ PlistValue::makeInteger(1) }) } }),
            classDescription("NSArray") }));
    decodeError(keyedArchive({ null,
        thing({ { "NS.keys", PlistValue::makeArray({ PlistValue::makeUid(0) }) },
            { "NS.objects", PlistValue::makeArray() } }),
        classDescription("NSDictionary") }));

    // Not keyed archives at all.
    PlistValue wrong = PlistValue::makeDictionary();
    wrong.set("$archiver", PlistValue::makeString("SomethingElse"));
    decodeError(keyed::writeBinaryPlist(wrong));
    decodeError(keyed::writeBinaryPlist(PlistValue::makeArray({ null })));
    decodeError({});
    decodeError(std::vector<uint8_t>(100, 0));

    // Lengths far beyond the file: a data object claiming 2^62 bytes, an array of 2^40 items.
    decodeError(rawBinaryPlist({ { 0x4F, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0 } }));
    decodeError(rawBinaryPlist({ { 0xAF, 0x13, 0, 0, 0x01, 0, 0, 0, 0, 0 } }));
}

TEST_F(KeyedArchiveHostileTest, TruncatedAndCorruptedArchivesNeverCrash)
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

    // Random byte changes: each either decodes or fails with a reason.
    std::mt19937 random(1234);
    int failures = 0;
    for (int round = 0; round < 3000; ++round) {
        auto bytes = valid;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i)
            bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        std::string error;
        if (!KeyedUnarchiver::unarchiveObjectWithData(bytes, &error)) {
            EXPECT_FALSE(error.empty());
            ++failures;
        }
    }
    EXPECT_GT(failures, 0);
}
