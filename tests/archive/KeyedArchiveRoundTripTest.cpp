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

    static std::shared_ptr<KATestThing> roundTrip(const ArchiveObjectPtr& root)
    {
        std::vector<uint8_t> bytes = KeyedArchiver::archivedDataWithRootObject(root);
        EXPECT_FALSE(bytes.empty());
        std::string error;
        auto decoded = KeyedUnarchiver::unarchiveObjectWithData(bytes, &error);
        EXPECT_TRUE(decoded) << error;
        return as<KATestThing>(decoded);
    }

    static std::string decodeError(const std::vector<uint8_t>& bytes)
    {
        std::string error;
        EXPECT_EQ(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error), nullptr);
        EXPECT_FALSE(error.empty());
        return error;
    }
};

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

        auto d = roundTrip(thing);
        EXPECT_EQ(std::tuple(d->flag, d->small, d->big, d->ratio, d->precise, d->name, d->blob, d->child),
            std::tuple(thing->flag, thing->small, thing->big, thing->ratio, thing->precise, thing->name,
                thing->blob, nullptr));
        // Reals of either width read back as doubles.
        EXPECT_EQ(describe(std::make_shared<ArchivedArray>(d->list)),
            "NSArray(NSNumber(1:-3),NSNumber(0:1),NSNumber(4:2.500000),NSNumber(4:0.250000),"
            "NSMutableString(mutable text),NSMutableData(1 2 3 ),NSData(9 ),NSDate(123.500000),"
            "NSDictionary(NSString(k)=NSNumber(1:7),),NSMutableSet(NSString(s),),NSArray(),nil,)");
    }
}

TEST_F(KeyedArchiveTest, ValuesAreStoredAsThePlatformStoresThem)
{
    auto thing = std::make_shared<KATestThing>();
    thing->ratio = 0.1f; // 4-byte real: marker 0x22, IEEE single 3DCCCCCD
    thing->small = -5; // negative integers: 8-byte, marker 0x13
    thing->precise = 0.1; // needs 8 bytes: marker 0x23
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(thing);
    for (const std::vector<uint8_t>& needle : { std::vector<uint8_t> { 0x22, 0x3D, 0xCC, 0xCC, 0xCD },
             { 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB },
             { 0x23, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A } })
        EXPECT_NE(std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()), bytes.end());
}

TEST_F(KeyedArchiveTest, SharedAndConditionalObjects)
{
    auto shared = std::make_shared<KATestThing>();
    shared->small = 42;
    auto later = std::make_shared<KATestThing>();
    later->small = 7;

    auto root = std::make_shared<KATestThing>();
    root->child = shared;
    root->list = { shared, nullptr };
    root->conditionalChild = std::make_shared<KATestThing>();
    auto decoded = roundTrip(root);
    EXPECT_EQ(decoded->child, decoded->list.at(0)); // one stored object, one decoded object
    EXPECT_EQ(as<KATestThing>(decoded->child)->small, 42);
    EXPECT_EQ(decoded->conditionalChild, nullptr); // never written unconditionally

    // A conditional reference resolves when the object is written unconditionally, whether
    // that happens before or after the conditional one.
    auto before = std::make_shared<KATestThing>();
    before->conditionalChild = later; // encoded before the unconditional reference in the list
    root = std::make_shared<KATestThing>();
    root->child = before;
    root->list = { later };
    decoded = roundTrip(root);
    EXPECT_EQ(as<KATestThing>(decoded->child)->conditionalChild, decoded->list.at(0));
    EXPECT_EQ(as<KATestThing>(decoded->list.at(0))->small, 7);

    root = std::make_shared<KATestThing>();
    root->child = later;
    root->conditionalChild = later; // encoded after the unconditional reference
    decoded = roundTrip(root);
    EXPECT_EQ(decoded->conditionalChild, decoded->child);
}

TEST_F(KeyedArchiveTest, WrongValueKindsFailTheWholeArchiveAbsentKeysReadAsDefaults)
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
        SCOPED_TRACE(label);
        auto liar = std::make_shared<KATestThing>();
        liar->customEncoding = encode;
        decodeError(KeyedArchiver::archivedDataWithRootObject(liar));
    }

    // Within range and of a numeric kind, integers, reals and booleans convert like the platform's;
    // absent keys read as zero, empty and absent.
    auto lenient = std::make_shared<KATestThing>();
    lenient->customEncoding = [](KeyedArchiver& c) {
        c.encodeDouble(-7.9, "KAT_small");
        c.encodeInt64(3, "KAT_ratio");
        c.encodeInt32(2, "KAT_flag");
    };
    auto d = roundTrip(lenient);
    EXPECT_EQ(
        std::tuple(d->small, d->ratio, d->flag, d->big, d->precise), std::tuple(-7, 3.0f, true, 0, 0.0));
    EXPECT_FALSE(d->name || d->blob || d->child || !d->list.empty());
}

TEST_F(KeyedArchiveTest, OnlyRegisteredClassesAreMadeAndOldNamesTranslate)
{
    auto old = std::make_shared<KATestThing>();
    old->className = "KAOldThing";
    old->small = 11;
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(old);
    EXPECT_NE(decodeError(bytes).find("KAOldThing"), std::string::npos);

    // The dump tool's view: unknown classes as generic objects with their keys.
    KeyedUnarchiver::Options options;
    options.decodeUnknownClassesGenerically = true;
    std::string error;
    auto generic = as<KeyedGenericObject>(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error, options));
    EXPECT_EQ(generic->className, "KAOldThing");
    EXPECT_EQ(generic->classChain, (std::vector<std::string> { "KAOldThing", "NSObject" }));
    auto small = std::find_if(generic->entries.begin(), generic->entries.end(),
        [](const auto& entry) { return entry.first == "KAT_small"; });
    ASSERT_NE(small, generic->entries.end());
    EXPECT_EQ(as<ArchivedNumber>(small->second)->int64Value(), 11);

    KeyedUnarchiver::setClassNameTranslation("KAOldThing", "KATestThing");
    auto translated = as<KATestThing>(KeyedUnarchiver::unarchiveObjectWithData(bytes, &error));
    EXPECT_EQ(translated->small, 11);
    EXPECT_EQ(translated->decodedClassName, "KAOldThing");
}

TEST_F(KeyedArchiveTest, CyclesEncodeOnceAndAreRefusedWhenDecoding)
{
    auto loop = std::make_shared<KATestThing>();
    loop->child = loop;
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(loop);
    loop->child.reset();
    ASSERT_FALSE(bytes.empty());
    EXPECT_NE(decodeError(bytes).find("contains itself"), std::string::npos);

    auto array = std::make_shared<ArchivedArray>();
    array->items.push_back(array);
    const auto arrayBytes = KeyedArchiver::archivedDataWithRootObject(array);
    array->items.clear();
    decodeError(arrayBytes);
}

TEST_F(KeyedArchiveTest, ReplacementHooksOnBothSidesAndUnarchivableObjectsFail)
{
    auto secret = std::make_shared<KATestThing>();
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
    EXPECT_EQ(as<KATestThing>(unarchiver.decodeRootObject())->child, secret) << unarchiver.errorText();

    struct Opaque : ArchiveObject {
        std::string archiveClassName() const override { return "Opaque"; }
    };
    KeyedArchiver failing;
    failing.encodeObject(std::make_shared<Opaque>(), "root");
    EXPECT_TRUE(failing.finishEncoding().empty());
    EXPECT_TRUE(failing.failed());
    EXPECT_NE(failing.errorText().find("Opaque"), std::string::npos);
}
