#include "archive/TypedStreamDecoder.h"

#include "TypedStreamWriter.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using rp::ArchivedArray;
using rp::ArchivedData;
using rp::ArchivedDictionary;
using rp::ArchivedNumber;
using rp::ArchivedString;
using rp::ArchiveObjectPtr;
using rp::TypedStreamDecoder;
using rp::test::TypedStreamWriter;

namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

ArchiveObjectPtr unarchive(const std::vector<uint8_t>& bytes, std::string* error = nullptr)
{
    std::string local;
    return TypedStreamDecoder::unarchiveObjectWithData(bytes, error ? error : &local);
}

// The object as a T; on a mismatch the failure is recorded and an empty stand-in returned, so the
// checks that follow fail instead of crashing.
template <class T> std::shared_ptr<T> as(const ArchiveObjectPtr& object)
{
    auto typed = std::dynamic_pointer_cast<T>(object);
    EXPECT_TRUE(typed) << (object ? object->archiveClassName() : std::string("null"));
    return typed ? typed : std::make_shared<T>();
}

std::string stringValue(const ArchiveObjectPtr& object)
{
    auto string = std::dynamic_pointer_cast<ArchivedString>(object);
    return string ? string->value : "<not a string>";
}

// A test class as an older program version archived it: a name object, a 16-bit count,
// a float level and an 8-bit flag; version 2 adds a list object.
class RPTestThing final : public rp::ArchiveObject {
public:
    std::string archiveClassName() const override { return "RPTestThing"; }
    std::optional<std::string> name;
    int64_t count = 0;
    float level = 0;
    int64_t flag = 0;
    int64_t storedVersion = -1;
    ArchiveObjectPtr list;
};

void registerTestThing()
{
    TypedStreamDecoder::registerClass("RPTestThing", [](TypedStreamDecoder& coder) -> ArchiveObjectPtr {
        auto thing = std::make_shared<RPTestThing>();
        thing->storedVersion = coder.versionForClassName("RPTestThing");
        thing->name = coder.decodeStringObject();
        thing->count = coder.decodeInteger('s');
        thing->level = coder.decodeFloat();
        thing->flag = coder.decodeInteger('c');
        if (thing->storedVersion >= 2)
            thing->list = coder.decodeObject();
        return thing;
    });
}

// One RPTestThing with its four values split into groups in one of three ways.
std::vector<uint8_t> testThingStream(
    bool bigEndian, int grouping, const std::string& className = "RPTestThing", int version = 1)
{
    static const std::vector<std::vector<std::string>> groupings
        = { { "@sfc" }, { "@", "s", "f", "c" }, { "@s", "fc" } };
    TypedStreamWriter w(bigEndian);
    w.group("@");
    w.beginObject({ { className, version }, { "NSObject", 0 } });
    for (const std::string& group : groupings.at(static_cast<size_t>(grouping))) {
        w.group(group);
        for (char type : group) {
            if (type == '@')
                w.stringObject("snare");
            else if (type == 's')
                w.integer(-300);
            else if (type == 'f')
                w.floatValue(0.75f);
            else
                w.byte(0xff);
        }
    }
    if (version >= 2) {
        w.group("@");
        w.arrayObject(2, [&](int i) { w.stringObject(i == 0 ? "a" : "b"); });
    }
    w.endObject();
    return w.bytes();
}

// A stream holding one object of class chain `chain` whose values `write` supplies.
std::vector<uint8_t> objectStream(
    const TypedStreamWriter::ClassChain& chain, const std::function<void(TypedStreamWriter&)>& write)
{
    TypedStreamWriter w;
    w.group("@");
    w.beginObject(chain);
    write(w);
    w.endObject();
    return w.bytes();
}

} // namespace

TEST(TypedStreamDecoder, ReadsHandWrittenStreamsOfBothByteOrders)
{
    // A little-endian stream holding the string "hello", byte by byte as the platform writes it.
    static const char raw[] = "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x08NSString\x01\x84\x84"
                              "\x08NSObject\x00\x85\x84\x01+\x05hello\x86";
    const std::vector<uint8_t> little(raw, raw + sizeof(raw) - 1);

    TypedStreamDecoder decoder(little);
    ASSERT_FALSE(decoder.failed()) << decoder.errorText();
    EXPECT_FALSE(decoder.isBigEndian());
    EXPECT_EQ(decoder.streamerVersion(), 4);
    EXPECT_EQ(decoder.systemVersion(), 1000);
    EXPECT_EQ(stringValue(decoder.decodeObject()), "hello");
    EXPECT_EQ(decoder.versionForClassName("NSString"), 1);
    EXPECT_EQ(decoder.versionForClassName("NSObject"), 0);
    EXPECT_EQ(decoder.versionForClassName("NSArray"), TypedStreamDecoder::NotFound);
    EXPECT_TRUE(decoder.atEnd());

    // The same in big-endian order: the signature and the 16-bit system version change.
    std::vector<uint8_t> big = little;
    std::copy_n("typedstream", 11, big.begin() + 2);
    big[13] = 0x81;
    big[14] = 0x03;
    big[15] = 0xe8;
    TypedStreamDecoder bigDecoder(big);
    EXPECT_TRUE(bigDecoder.isBigEndian());
    EXPECT_EQ(bigDecoder.systemVersion(), 1000);
    EXPECT_EQ(stringValue(bigDecoder.decodeObject()), "hello");

    // Object numbers: 0 the array, 1 NSArray, 2 NSObject, 3 the first string, 4 NSString,
    // 5 the second string, whose class is then the one-byte reference to number 4 (0x96),
    // followed by the "+" type as a reference to shared string 5 (0x97; before it come "@",
    // "NSArray", "NSObject", "i" and "NSString").
    TypedStreamWriter w(true);
    w.group("@");
    w.arrayObject(2, [&](int i) { w.stringObject(i == 0 ? "one" : "two"); });
    auto written = w.bytes();
    std::vector<uint8_t> needle = bytesOf({ 0x92, 0x84, 0x96, 0x97, 0x03, 't', 'w', 'o' });
    EXPECT_NE(std::search(written.begin(), written.end(), needle.begin(), needle.end()), written.end());
    auto array = std::dynamic_pointer_cast<ArchivedArray>(unarchive(written));
    ASSERT_TRUE(array);
    ASSERT_EQ(array->items.size(), 2u);
    EXPECT_EQ(stringValue(array->items[1]), "two");
}

TEST(TypedStreamDecoder, DecodesNestedFoundationValuesInBothByteOrders)
{
    for (bool bigEndian : { true, false }) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        TypedStreamWriter w(bigEndian);
        w.group("@");
        const std::vector<std::function<void()>> items = {
            [&] { w.stringObject("kick drum \xc3\xa9", true); },
            [&] { w.integerNumber(-70000); },
            [&] { w.realNumber(0.125); },
            [&] {
                w.dataObject({ 0, 1, 2, 0xfe, 0xff });
            },
            [&] {
                w.arrayObject(2, [&](int j) { j == 0 ? w.stringObject("inner") : w.integerNumber(1, "C"); });
            },
        };
        w.arrayObject(
            5, [&](int i) { items[static_cast<size_t>(i)](); }, true);
        std::string error;
        auto root = std::dynamic_pointer_cast<ArchivedArray>(unarchive(w.bytes(), &error));
        ASSERT_TRUE(root) << error;
        EXPECT_EQ(root->archiveClassName(), "NSMutableArray");
        ASSERT_EQ(root->items.size(), 5u);
        EXPECT_EQ(as<ArchivedString>(root->items[0])->value, "kick drum \xc3\xa9");
        EXPECT_TRUE(as<ArchivedString>(root->items[0])->mutableString);
        EXPECT_EQ(as<ArchivedNumber>(root->items[1])->int64Value(), -70000);
        EXPECT_TRUE(as<ArchivedNumber>(root->items[2])->isReal());
        EXPECT_DOUBLE_EQ(as<ArchivedNumber>(root->items[2])->doubleValue(), 0.125);
        EXPECT_EQ(as<ArchivedData>(root->items[3])->bytes, (std::vector<uint8_t> { 0, 1, 2, 0xfe, 0xff }));
        auto inner = as<ArchivedArray>(root->items[4]);
        EXPECT_FALSE(inner->mutableArray);
        ASSERT_EQ(inner->items.size(), 2u);
        EXPECT_EQ(stringValue(inner->items[0]), "inner");
        EXPECT_TRUE(std::holds_alternative<uint64_t>(as<ArchivedNumber>(inner->items[1])->value));
    }
}

TEST(TypedStreamDecoder, SharedObjectsAndDictionariesKeepIdentity)
{
    TypedStreamWriter w(false);
    w.group("@");
    int shared = -1;
    w.arrayObject(3, [&](int i) {
        if (i == 0) {
            shared = w.stringObject("shared");
        } else if (i == 1) {
            w.reference(shared);
        } else {
            int dict
                = w.beginObject({ { "NSMutableDictionary", 0 }, { "NSDictionary", 0 }, { "NSObject", 0 } });
            (void)dict;
            w.group("i");
            w.integer(2);
            w.group("@@");
            w.stringObject("k1");
            w.reference(shared);
            w.group("@");
            w.stringObject("k2");
            w.group("@");
            w.nil();
            w.endObject();
        }
    });
    std::string error;
    auto root = std::dynamic_pointer_cast<ArchivedArray>(unarchive(w.bytes(), &error));
    ASSERT_TRUE(root) << error;
    ASSERT_EQ(root->items.size(), 3u);
    EXPECT_EQ(root->items[0], root->items[1]); // the same object, not a copy
    auto dict = as<ArchivedDictionary>(root->items[2]);
    EXPECT_TRUE(dict->mutableDictionary);
    ASSERT_EQ(dict->entries.size(), 2u);
    EXPECT_EQ(stringValue(dict->entries[0].first), "k1");
    EXPECT_EQ(dict->entries[0].second, root->items[0]);
    EXPECT_EQ(dict->entries[1].second, nullptr);
}

TEST(TypedStreamDecoder, RegisteredClassReadsItsVersionWhateverTheGrouping)
{
    registerTestThing();
    TypedStreamDecoder::setClassNameTranslation("OldTestThing", "RPTestThing");
    for (bool bigEndian : { true, false }) {
        for (int grouping = 0; grouping < 3; ++grouping) {
            SCOPED_TRACE("grouping " + std::to_string(grouping) + (bigEndian ? " big" : " little"));
            std::string error;
            auto thing = std::dynamic_pointer_cast<RPTestThing>(
                unarchive(testThingStream(bigEndian, grouping), &error));
            ASSERT_TRUE(thing) << error;
            EXPECT_EQ(thing->name, "snare");
            EXPECT_EQ(thing->count, -300);
            EXPECT_FLOAT_EQ(thing->level, 0.75f);
            EXPECT_EQ(thing->flag, -1);
            EXPECT_EQ(thing->storedVersion, 1);
        }
    }
    // An older name maps to the class, and the version is found under either name.
    std::string error;
    auto thing = std::dynamic_pointer_cast<RPTestThing>(
        unarchive(testThingStream(true, 0, "OldTestThing", 2), &error));
    ASSERT_TRUE(thing) << error;
    EXPECT_EQ(thing->storedVersion, 2);
    EXPECT_EQ(as<ArchivedArray>(thing->list)->items.size(), 2u);
}

TEST(TypedStreamDecoder, ValueTypesAreChecked)
{
    registerTestThing();
    // The class reads 's' where the stream holds 'i'.
    std::string error;
    EXPECT_FALSE(unarchive(objectStream({ { "RPTestThing", 1 }, { "NSObject", 0 } },
                               [](TypedStreamWriter& w) {
                                   w.group("@i");
                                   w.stringObject("x");
                                   w.integer(3);
                               }),
        &error));
    EXPECT_NE(error.find("expected \"s\""), std::string::npos) << error;

    // A string where an object of another class is expected, and a non-string where a string is.
    EXPECT_FALSE(unarchive(objectStream({ { "RPTestThing", 1 }, { "NSObject", 0 } },
                               [](TypedStreamWriter& w) {
                                   w.group("@");
                                   w.integerNumber(5);
                               }),
        &error));
    EXPECT_NE(error.find("expected a string"), std::string::npos) << error;

    // Top-level value API: wrong type, then everything after a failure gives the fallback.
    TypedStreamWriter top;
    top.group("if");
    top.integer(7);
    top.floatValue(2.5f, true);
    top.group("{?=ff}");
    top.floatValue(1);
    top.floatValue(2);
    TypedStreamDecoder decoder(top.bytes());
    EXPECT_EQ(decoder.decodeInteger('l'), 7); // 'l' and 'i' are the same width here
    EXPECT_FLOAT_EQ(decoder.decodeFloat(), 2.5f);
    auto point = decoder.decodeValueOfObjCType("{?=ff}");
    ASSERT_FALSE(decoder.failed()) << decoder.errorText();
    ASSERT_EQ(point.elements.size(), 2u);
    EXPECT_EQ(point.elements[1].real, 2.0);
    EXPECT_TRUE(decoder.atEnd());
    EXPECT_EQ(decoder.decodeInteger('i'), 0);
    EXPECT_TRUE(decoder.failed());
    EXPECT_NE(decoder.errorText().find("end of data"), std::string::npos);
    EXPECT_FALSE(decoder.decodeObject());
}

TEST(TypedStreamDecoder, TruncationAtEveryByteFailsCleanly)
{
    registerTestThing();
    auto full = testThingStream(false, 2, "RPTestThing", 2);
    ASSERT_TRUE(unarchive(full));
    for (size_t length = 0; length < full.size(); ++length) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<ptrdiff_t>(length));
        std::string error;
        EXPECT_FALSE(unarchive(cut, &error)) << "length " << length;
        EXPECT_FALSE(error.empty()) << "length " << length;
    }
}

TEST(TypedStreamDecoder, BadReferencesTagsAndClassesAreRefused)
{
    auto expectFailure = [](const std::vector<uint8_t>& bytes, const std::string& fragment) {
        std::string error;
        EXPECT_FALSE(unarchive(bytes, &error));
        EXPECT_NE(error.find(fragment), std::string::npos) << "got: " << error;
    };

    { // a reference to an object that does not exist
        TypedStreamWriter w;
        w.group("@");
        w.reference(40);
        expectFailure(w.bytes(), "is not an object");
    }
    { // an object that refers to itself while it is decoded (a cycle)
        TypedStreamWriter w;
        w.group("@");
        int self = w.beginObject({ { "NSArray", 0 }, { "NSObject", 0 } });
        w.group("i");
        w.integer(1);
        w.group("@");
        w.reference(self);
        w.endObject();
        expectFailure(w.bytes(), "still being decoded");
    }
    { // a class reference that points at a C string
        TypedStreamWriter w;
        w.group("*@");
        w.cString("text");
        w.byte(0x84);
        w.reference(0);
        TypedStreamDecoder decoder(w.bytes());
        EXPECT_EQ(decoder.decodeCString(), "text");
        EXPECT_FALSE(decoder.decodeObject());
        EXPECT_NE(decoder.errorText().find("is not a class"), std::string::npos) << decoder.errorText();
    }
    { // a class whose superclass is itself
        TypedStreamWriter w;
        w.group("@");
        w.byte(0x84);
        w.byte(0x84);
        w.sharedString("NSString");
        w.integer(1);
        w.reference(1);
        expectFailure(w.bytes(), "refers to itself");
    }
    // a class nobody registered
    expectFailure(objectStream({ { "NSWindowController", 0 }, { "NSObject", 0 } }, [](TypedStreamWriter&) {}),
        "unknown class NSWindowController");
    { // a shared-string reference past the table, and a tag where a type string belongs
        TypedStreamWriter w;
        w.reference(3);
        expectFailure(w.bytes(), "shared string");
        TypedStreamWriter t;
        t.byte(0x83);
        expectFailure(t.bytes(), "unexpected tag 0x83");
    }
    // values the class did not read, and a class that reads more than the object holds
    const TypedStreamWriter::ClassChain string = { { "NSString", 1 }, { "NSObject", 0 } };
    expectFailure(objectStream(string,
                      [](TypedStreamWriter& w) {
                          w.group("+i");
                          w.unsharedString("a");
                          w.integer(1);
                      }),
        "left unread");
    expectFailure(objectStream(string, [](TypedStreamWriter&) {}), "no more values");
    { // bad type encodings, a bad bool and a C string holding a zero byte
        for (std::string types : { "v", "{name}", "[c]", "{x=}", "[3i", "@\"NSString\"" }) {
            TypedStreamWriter w;
            w.group(types);
            w.integer(0);
            std::string error;
            EXPECT_FALSE(unarchive(w.bytes(), &error)) << types;
        }
        const TypedStreamWriter::ClassChain number
            = { { "NSNumber", 0 }, { "NSValue", 0 }, { "NSObject", 0 } };
        expectFailure(objectStream(number,
                          [](TypedStreamWriter& w) {
                              w.group("*B");
                              w.cString("B");
                              w.byte(7);
                          }),
            "bool value 7");
        expectFailure(objectStream(number,
                          [](TypedStreamWriter& w) {
                              w.group("*");
                              w.cString(std::string("i\0x", 3));
                          }),
            "zero byte");
    }
    { // a bad header
        expectFailure(bytesOf({ 0x03, 0x0b, 't' }), "streamer version");
        auto wrong = TypedStreamWriter().bytes();
        wrong[5] = 'X';
        expectFailure(wrong, "bad signature");
    }
}

TEST(TypedStreamDecoder, HostileSizesAndNestingAreBounded)
{
    auto started = std::chrono::steady_clock::now();
    std::string error;

    // 200,000 nested arrays: refused at the nesting limit, not a stack overflow.
    TypedStreamWriter deep;
    deep.group("@");
    for (int i = 0; i < 200000; ++i) {
        deep.beginObject({ { "NSArray", 0 }, { "NSObject", 0 } });
        deep.group("i");
        deep.integer(1);
        deep.group("@");
    }
    EXPECT_FALSE(unarchive(deep.bytes(), &error));
    EXPECT_NE(error.find("nested"), std::string::npos) << error;

    // Counts and lengths from the file that the remaining bytes cannot hold.
    TypedStreamWriter hugeArray;
    hugeArray.group("@");
    hugeArray.beginObject({ { "NSArray", 0 }, { "NSObject", 0 } });
    hugeArray.group("i");
    hugeArray.integer(2000000000);
    hugeArray.group("@");
    hugeArray.nil();
    EXPECT_FALSE(unarchive(hugeArray.bytes(), &error));

    TypedStreamWriter hugeData;
    hugeData.group("@");
    hugeData.beginObject({ { "NSData", 0 }, { "NSObject", 0 } });
    hugeData.group("i");
    hugeData.integer(2000000000);
    hugeData.group("[2000000000c]");
    EXPECT_FALSE(unarchive(hugeData.bytes(), &error));
    EXPECT_NE(error.find("past the end"), std::string::npos) << error;

    TypedStreamWriter hugeString;
    hugeString.group("+");
    hugeString.integer(0x7fffffff);
    TypedStreamDecoder stringDecoder(hugeString.bytes());
    EXPECT_FALSE(stringDecoder.decodeUnsharedString());
    EXPECT_TRUE(stringDecoder.failed());

    // Arrays of arrays of nothing: billions of zero-byte values are refused, not looped over.
    TypedStreamWriter empty;
    empty.group("[100000[100000[0i]]]");
    TypedStreamDecoder emptyDecoder(empty.bytes());
    emptyDecoder.decodeNextValue();
    EXPECT_TRUE(emptyDecoder.failed());
    EXPECT_NE(emptyDecoder.errorText().find("more values"), std::string::npos) << emptyDecoder.errorText();

    // An array of integers longer than the data.
    TypedStreamWriter longInts;
    longInts.group("[4000000000i]");
    TypedStreamDecoder intsDecoder(longInts.bytes());
    intsDecoder.decodeNextValue();
    EXPECT_TRUE(intsDecoder.failed());

    // A long C string repeated by one-byte references: the copies are bounded, not 12 GB.
    TypedStreamWriter repeated;
    repeated.group("*");
    repeated.cString(std::string(60000, 'x'));
    repeated.group("[200000*]");
    for (int i = 0; i < 200000; ++i)
        repeated.reference(0);
    TypedStreamDecoder repeatedDecoder(repeated.bytes());
    EXPECT_TRUE(repeatedDecoder.decodeCString());
    repeatedDecoder.decodeNextValue();
    EXPECT_TRUE(repeatedDecoder.failed());
    EXPECT_NE(repeatedDecoder.errorText().find("repeats more text"), std::string::npos)
        << repeatedDecoder.errorText();

    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(TypedStreamDecoder, FactoryFailuresUnwindAndEndlessReadersStop)
{
    // A reader that loops until a 65535 marker, fed a stream without one: it must stop.
    TypedStreamDecoder::registerClass("RPTestLoop", [](TypedStreamDecoder& coder) -> ArchiveObjectPtr {
        while (coder.decodeInteger('S') != 65535) { }
        return std::make_shared<ArchivedArray>();
    });
    std::string error;
    EXPECT_FALSE(unarchive(objectStream({ { "RPTestLoop", 0 }, { "NSObject", 0 } },
                               [](TypedStreamWriter& w) {
                                   for (int i = 0; i < 5; ++i) {
                                       w.group("S");
                                       w.integer(i);
                                   }
                               }),
        &error));
    EXPECT_NE(error.find("no more values in an object of class RPTestLoop"), std::string::npos) << error;

    // A class that refuses what it reads reports its own reason.
    TypedStreamDecoder::registerClass("RPTestPicky", [](TypedStreamDecoder& coder) -> ArchiveObjectPtr {
        if (coder.decodeInteger('i') > 3)
            coder.failWithError("picky value too large");
        return std::make_shared<ArchivedArray>();
    });
    EXPECT_FALSE(unarchive(objectStream({ { "RPTestPicky", 0 }, { "NSObject", 0 } },
                               [](TypedStreamWriter& w) {
                                   w.group("i");
                                   w.integer(9);
                               }),
        &error));
    EXPECT_NE(error.find("picky value too large (in an object of class RPTestPicky)"), std::string::npos)
        << error;
}

TEST(TypedStreamDecoder, UnknownClassesReadGenericallyWhenAsked)
{
    TypedStreamWriter w(false);
    w.group("@");
    w.beginObject({ { "SongFile", 2 }, { "NSObject", 0 } });
    w.group("@@");
    w.stringObject("My Song");
    w.nil();
    w.group("fc");
    w.floatValue(120.5f, true);
    w.byte(1);
    w.group("{_NSPoint=ff}");
    w.floatValue(3);
    w.floatValue(4);
    w.group("%");
    w.sharedString("atom");
    w.endObject();

    std::string error;
    EXPECT_FALSE(unarchive(w.bytes(), &error));

    TypedStreamDecoder::Options options;
    options.decodeUnknownClassesGenerically = true;
    options.foundationClassesOnly = true;
    TypedStreamDecoder decoder(w.bytes(), options);
    auto object = decoder.decodeObject();
    ASSERT_FALSE(decoder.failed()) << decoder.errorText();
    auto generic = std::dynamic_pointer_cast<rp::TypedStreamGenericObject>(object);
    ASSERT_TRUE(generic);
    ASSERT_EQ(generic->classChain.size(), 2u);
    EXPECT_EQ(generic->classChain[0].name, "SongFile");
    EXPECT_EQ(generic->classChain[0].version, 2);
    EXPECT_EQ(generic->types, "@@fc{_NSPoint=ff}%");
    ASSERT_EQ(generic->values.size(), 6u);
    EXPECT_EQ(stringValue(generic->values[0].object), "My Song");
    EXPECT_EQ(generic->values[1].kind, rp::TypedStreamValue::Kind::Nil);
    EXPECT_FLOAT_EQ(static_cast<float>(generic->values[2].real), 120.5f);
    EXPECT_EQ(generic->values[4].text, "_NSPoint");
    EXPECT_EQ(generic->values[5].text, "atom");
    auto chain = decoder.classChainOfObject(generic->values[0].object.get());
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[0].name, "NSString");
    EXPECT_EQ(chain[0].version, 1);
}

TEST(TypedStreamDecoder, ValuesSetsAndDatesKeepTheirContents)
{
    TypedStreamWriter w(false);
    w.group("@");
    w.beginObject({ { "NSMutableSet", 0 }, { "NSSet", 0 }, { "NSObject", 0 } });
    w.group("I");
    w.integer(2);
    w.group("@");
    w.beginObject({ { "NSValue", 0 }, { "NSObject", 0 } });
    w.group("*");
    w.cString("{_NSRect={_NSPoint=ff}{_NSSize=ff}}");
    w.group("{_NSRect={_NSPoint=ff}{_NSSize=ff}}");
    for (float f : { 1.0f, 2.5f, 300.0f, -4.0f })
        w.floatValue(f);
    w.endObject();
    w.group("@");
    w.beginObject({ { "NSDate", 0 }, { "NSObject", 0 } });
    w.group("d");
    w.doubleValue(12345.5);
    w.endObject();
    w.endObject();

    std::string error;
    auto set = std::dynamic_pointer_cast<rp::ArchivedSet>(unarchive(w.bytes(), &error));
    ASSERT_TRUE(set) << error;
    EXPECT_TRUE(set->mutableSet);
    ASSERT_EQ(set->items.size(), 2u);
    auto rect = as<rp::ArchivedTypedValue>(set->items[0]);
    EXPECT_EQ(rect->typeEncoding, "{_NSRect={_NSPoint=ff}{_NSSize=ff}}");
    EXPECT_EQ(rect->value.text, "_NSRect");
    ASSERT_EQ(rect->value.elements.size(), 2u);
    ASSERT_EQ(rect->value.elements[1].elements.size(), 2u);
    EXPECT_FLOAT_EQ(static_cast<float>(rect->value.elements[0].elements[1].real), 2.5f);
    EXPECT_FLOAT_EQ(static_cast<float>(rect->value.elements[1].elements[1].real), -4.0f);
    EXPECT_DOUBLE_EQ(as<rp::ArchivedDate>(set->items[1])->secondsSinceReferenceDate, 12345.5);
}
