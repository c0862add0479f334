#include "KeyedArchiveTestClasses.h"

#include <algorithm>
#include <cfloat>
#include <gtest/gtest.h>

using namespace rp;

namespace {

class KeyedArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { KATestThing::registerClass(); }
    void TearDown() override
    {
        KATestThing::unregisterClass();
        KeyedUnarchiver::setClassNameTranslation("KAOldThing", "");
    }

    static std::shared_ptr<KATestThing> roundTrip(const ArchiveObjectPtr& root, std::string* error = nullptr)
    {
        std::vector<uint8_t> bytes = KeyedArchiver::archivedDataWithRootObject(root);
        EXPECT_FALSE(bytes.empty());
        std::string problem;
        auto decoded = KeyedUnarchiver::unarchiveObjectWithData(bytes, &problem);
        if (error)
            *error = problem;
        return std::dynamic_pointer_cast<KATestThing>(decoded);
    }

    static bool contains(const std::vector<uint8_t>& haystack, std::vector<uint8_t> needle)
    {
        return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
    }
};

template <class T> std::shared_ptr<T> as(const ArchiveObjectPtr& object)
{
    auto typed = std::dynamic_pointer_cast<T>(object);
    EXPECT_TRUE(typed) << (object ? object->archiveClassName() : std::string("null"));
    return typed;
}

} // namespace

TEST_F(KeyedArchiveTest, EveryValueKindRoundTrips)
{
    for (int extreme = 0; extreme < 2; ++extreme) {
        auto thing = std::make_shared<KATestThing>();
        thing->flag = extreme == 0;
        thing->small = extreme ? INT32_MAX : INT32_MIN;
        thing->big = extreme ? INT64_MAX : INT64_MIN;
        thing->ratio = extreme ? 0.1f : -FLT_MAX;
        thing->precise = extreme ? 1e300 : -0.1;
        thing->name
            = extreme ? std::string("h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9D\x84\x9E drums") : std::string();
        std::vector<uint8_t> all(256);
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = static_cast<uint8_t>(i);
        thing->blob = extreme ? all : std::vector<uint8_t> {};
        thing->list = {
            std::make_shared<ArchivedNumber>(int64_t { -3 }),
            std::make_shared<ArchivedNumber>(true),
            std::make_shared<ArchivedNumber>(2.5),
            std::make_shared<ArchivedNumber>(0.25f),
            std::make_shared<ArchivedString>("mutable text", true),
            std::make_shared<ArchivedData>(std::vector<uint8_t> { 1, 2, 3 }, true),
            std::make_shared<ArchivedData>(std::vector<uint8_t> { 9 }),
            std::make_shared<ArchivedDate>(123.5),
            std::make_shared<ArchivedDictionary>(std::vector<ArchivedDictionary::Entry> {
                { std::make_shared<ArchivedString>("k"), std::make_shared<ArchivedNumber>(int64_t { 7 }) } }),
            std::make_shared<ArchivedSet>(
                std::vector<ArchiveObjectPtr> { std::make_shared<ArchivedString>("s") }, true),
            std::make_shared<ArchivedArray>(std::vector<ArchiveObjectPtr> {}),
            nullptr,
        };

        std::string error;
        auto decoded = roundTrip(thing, &error);
        ASSERT_TRUE(decoded) << error;
        EXPECT_EQ(decoded->flag, thing->flag);
        EXPECT_EQ(decoded->small, thing->small);
        EXPECT_EQ(decoded->big, thing->big);
        EXPECT_EQ(decoded->ratio, thing->ratio);
        EXPECT_EQ(decoded->precise, thing->precise);
        EXPECT_EQ(decoded->name, thing->name);
        EXPECT_EQ(decoded->blob, thing->blob);
        EXPECT_EQ(decoded->child, nullptr);
        ASSERT_EQ(decoded->list.size(), thing->list.size());
        const auto& l = decoded->list;
        EXPECT_EQ(as<ArchivedNumber>(l[0])->int64Value(), -3);
        EXPECT_TRUE(std::holds_alternative<bool>(as<ArchivedNumber>(l[1])->value));
        EXPECT_EQ(as<ArchivedNumber>(l[2])->doubleValue(), 2.5);
        EXPECT_EQ(as<ArchivedNumber>(l[3])->doubleValue(), 0.25);
        EXPECT_EQ(as<ArchivedString>(l[4])->value, "mutable text");
        EXPECT_TRUE(as<ArchivedString>(l[4])->mutableString);
        EXPECT_EQ(as<ArchivedData>(l[5])->bytes, (std::vector<uint8_t> { 1, 2, 3 }));
        EXPECT_TRUE(as<ArchivedData>(l[5])->mutableData);
        EXPECT_FALSE(as<ArchivedData>(l[6])->mutableData);
        EXPECT_EQ(as<ArchivedDate>(l[7])->secondsSinceReferenceDate, 123.5);
        auto dictionary = as<ArchivedDictionary>(l[8]);
        ASSERT_EQ(dictionary->entries.size(), 1u);
        EXPECT_EQ(as<ArchivedString>(dictionary->entries[0].first)->value, "k");
        EXPECT_EQ(as<ArchivedNumber>(dictionary->entries[0].second)->int64Value(), 7);
        auto set = as<ArchivedSet>(l[9]);
        EXPECT_TRUE(set->mutableSet);
        ASSERT_EQ(set->items.size(), 1u);
        EXPECT_TRUE(as<ArchivedArray>(l[10])->items.empty());
        EXPECT_EQ(l[11], nullptr);
    }
}

TEST_F(KeyedArchiveTest, ValuesAreStoredAsThePlatformStoresThem)
{
    auto thing = std::make_shared<KATestThing>();
    thing->ratio = 0.1f; // 4-byte real: marker 0x22, IEEE single 3DCCCCCD
    thing->small = -5; // negative integers: 8-byte, marker 0x13
    thing->precise = 0.1; // needs 8 bytes: marker 0x23
    thing->flag = true; // boolean true 0x09
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(thing);
    EXPECT_TRUE(contains(bytes, { 0x22, 0x3D, 0xCC, 0xCC, 0xCD }));
    EXPECT_TRUE(contains(bytes, { 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB }));
    EXPECT_TRUE(contains(bytes, { 0x23, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A }));
    EXPECT_TRUE(contains(bytes, { 0x09 }));
    // The archive's layout is checked by plistlib in KeyedArchivePythonTest.
}

TEST_F(KeyedArchiveTest, SharedAndConditionalObjects)
{
    auto shared = std::make_shared<KATestThing>();
    shared->small = 42;
    auto onlyConditional = std::make_shared<KATestThing>();
    auto later = std::make_shared<KATestThing>();
    later->small = 7;

    auto root = std::make_shared<KATestThing>();
    root->child = shared;
    root->list = { shared, nullptr };
    root->conditionalChild = onlyConditional;
    std::string error;
    auto decoded = roundTrip(root, &error);
    ASSERT_TRUE(decoded) << error;
    ASSERT_TRUE(decoded->child);
    EXPECT_EQ(decoded->child, decoded->list[0]); // one stored object, one decoded object
    EXPECT_EQ(as<KATestThing>(decoded->child)->small, 42);
    EXPECT_EQ(decoded->conditionalChild, nullptr); // never written unconditionally

    // A conditional reference resolves when the object is written unconditionally, whether
    // that happens before or after the conditional one.
    auto before = std::make_shared<KATestThing>();
    before->conditionalChild = later; // encoded before the unconditional reference in the list
    root = std::make_shared<KATestThing>();
    root->child = before;
    root->list = { later };
    decoded = roundTrip(root, &error);
    ASSERT_TRUE(decoded) << error;
    auto decodedBefore = as<KATestThing>(decoded->child);
    ASSERT_TRUE(decodedBefore);
    EXPECT_EQ(decodedBefore->conditionalChild, decoded->list[0]);
    EXPECT_EQ(as<KATestThing>(decoded->list[0])->small, 7);

    root = std::make_shared<KATestThing>();
    root->child = later;
    root->conditionalChild = later; // encoded after the unconditional reference
    decoded = roundTrip(root, &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->conditionalChild, decoded->child);
}

TEST_F(KeyedArchiveTest, AbsentKeysReadAsDefaultsWithoutFailing)
{
    auto empty = std::make_shared<KATestThing>();
    empty->customEncoding = [](KeyedArchiver&) {};
    std::string error;
    auto decoded = roundTrip(empty, &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_FALSE(decoded->flag);
    EXPECT_EQ(decoded->small, 0);
    EXPECT_EQ(decoded->ratio, 0.0f);
    EXPECT_FALSE(decoded->name.has_value());
    EXPECT_FALSE(decoded->blob.has_value());
    EXPECT_TRUE(decoded->list.empty());
}

TEST_F(KeyedArchiveTest, WrongValueKindsFailTheWholeArchive)
{
    const std::vector<std::pair<const char*, std::function<void(KeyedArchiver&)>>> cases = {
        { "string for integer", [](KeyedArchiver& c) { c.encodeString("12", "KAT_small"); } },
        { "too large for 32 bits",
            [](KeyedArchiver& c) { c.encodeInt64(int64_t { 1 } << 40, "KAT_small"); } },
        { "real too large for 64 bits", [](KeyedArchiver& c) { c.encodeDouble(1e30, "KAT_big"); } },
        { "real too large for float", [](KeyedArchiver& c) { c.encodeDouble(1e300, "KAT_ratio"); } },
        { "data for string", [](KeyedArchiver& c) { c.encodeData(std::vector<uint8_t> { 1 }, "KAT_name"); } },
        { "integer for object", [](KeyedArchiver& c) { c.encodeInt32(3, "KAT_child"); } },
        { "string for array",
            [](KeyedArchiver& c) { c.encodeObject(std::make_shared<ArchivedString>("x"), "KAT_list"); } },
        { "array for data",
            [](KeyedArchiver& c) { c.encodeObject(std::make_shared<ArchivedArray>(), "KAT_blob"); } },
        { "data for boolean",
            [](KeyedArchiver& c) { c.encodeData(std::vector<uint8_t> { 1 }, "KAT_flag"); } },
    };
    for (const auto& [label, encode] : cases) {
        auto liar = std::make_shared<KATestThing>();
        liar->customEncoding = encode;
        const auto bytes = KeyedArchiver::archivedDataWithRootObject(liar);
        std::string error;
        EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error), nullptr) << label;
        EXPECT_FALSE(error.empty()) << label;
    }

    // Within range and of a numeric kind, integers, reals and booleans convert like the platform's.
    auto lenient = std::make_shared<KATestThing>();
    lenient->customEncoding = [](KeyedArchiver& c) {
        c.encodeDouble(-7.9, "KAT_small");
        c.encodeInt64(3, "KAT_ratio");
        c.encodeInt32(2, "KAT_flag");
    };
    std::string error;
    auto decoded = roundTrip(lenient, &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->small, -7);
    EXPECT_EQ(decoded->ratio, 3.0f);
    EXPECT_TRUE(decoded->flag);
}

TEST_F(KeyedArchiveTest, OnlyRegisteredClassesAreMadeAndOldNamesTranslate)
{
    auto old = std::make_shared<KATestThing>();
    old->className = "KAOldThing";
    old->small = 11;
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(old);

    std::string error;
    EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error), nullptr);
    EXPECT_NE(error.find("KAOldThing"), std::string::npos) << error;

    // The dump tool's view: unknown classes as generic objects with their keys.
    KeyedUnarchiver::Options options;
    options.decodeUnknownClassesGenerically = true;
    auto generic = std::dynamic_pointer_cast<KeyedGenericObject>(
        KeyedUnarchiver::unarchiveObjectWithData(bytes, &error, options));
    ASSERT_TRUE(generic) << error;
    EXPECT_EQ(generic->className, "KAOldThing");
    EXPECT_EQ(generic->classChain, (std::vector<std::string> { "KAOldThing", "NSObject" }));
    auto small = std::find_if(generic->entries.begin(), generic->entries.end(),
        [](const auto& entry) { return entry.first == "KAT_small"; });
    ASSERT_NE(small, generic->entries.end());
    EXPECT_EQ(as<ArchivedNumber>(small->second)->int64Value(), 11);

    KeyedUnarchiver::setClassNameTranslation("KAOldThing", "KATestThing");
    auto translated
        = std::dynamic_pointer_cast<KATestThing>(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error));
    ASSERT_TRUE(translated) << error;
    EXPECT_EQ(translated->small, 11);
    EXPECT_EQ(translated->decodedClassName, "KAOldThing");
}

TEST_F(KeyedArchiveTest, CyclesEncodeOnceAndAreRefusedWhenDecoding)
{
    auto loop = std::make_shared<KATestThing>();
    loop->child = loop;
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(loop);
    ASSERT_FALSE(bytes.empty());
    std::string error;
    EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error), nullptr);
    EXPECT_NE(error.find("contains itself"), std::string::npos) << error;
    loop->child.reset();

    auto array = std::make_shared<ArchivedArray>();
    array->items.push_back(array);
    const auto arrayBytes = KeyedArchiver::archivedDataWithRootObject(array);
    EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(arrayBytes, &error), nullptr);
    array->items.clear();
}

TEST_F(KeyedArchiveTest, ReplacementHooksOnBothSides)
{
    auto secret = std::make_shared<KATestThing>();
    secret->small = 99;
    auto stand_in = std::make_shared<ArchivedString>("descriptor");
    auto root = std::make_shared<KATestThing>();
    root->child = secret;

    KeyedArchiver archiver;
    archiver.setReplacement([&](const ArchiveObjectPtr& object) -> ArchiveObjectPtr {
        return object == secret ? stand_in : object;
    });
    archiver.encodeObject(root, "root");
    const auto bytes = archiver.finishEncoding();
    ASSERT_FALSE(archiver.failed()) << archiver.errorText();

    KeyedUnarchiver unarchiver(bytes);
    unarchiver.setReplacement([&](const ArchiveObjectPtr& object) -> ArchiveObjectPtr {
        auto string = std::dynamic_pointer_cast<ArchivedString>(object);
        return string && string->value == "descriptor" ? secret : object;
    });
    auto decoded = std::dynamic_pointer_cast<KATestThing>(unarchiver.decodeRootObject());
    ASSERT_TRUE(decoded) << unarchiver.errorText();
    EXPECT_EQ(decoded->child, secret);
}

TEST_F(KeyedArchiveTest, ObjectsThatCannotBeArchivedFailTheArchive)
{
    struct Opaque : ArchiveObject {
        std::string archiveClassName() const override { return "Opaque"; }
    };
    KeyedArchiver archiver;
    archiver.encodeObject(std::make_shared<Opaque>(), "root");
    EXPECT_TRUE(archiver.finishEncoding().empty());
    EXPECT_TRUE(archiver.failed());
    EXPECT_NE(archiver.errorText().find("Opaque"), std::string::npos);
}
