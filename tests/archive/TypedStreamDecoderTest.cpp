#include "archive/TypedStreamDecoder.h"

#include "KeyedArchiveTestClasses.h"
#include "TypedStreamWriter.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace rp;
using rp::test::TypedStreamWriter;

namespace {

using Chain = TypedStreamWriter::ClassChain;
const Chain kArray = { { "NSArray", 0 }, { "NSObject", 0 } };
const Chain kNumber = { { "NSNumber", 0 }, { "NSValue", 0 }, { "NSObject", 0 } };

ArchiveObjectPtr unarchive(const std::vector<uint8_t>& bytes, std::string* error = nullptr)
{
    std::string local;
    return TypedStreamDecoder::unarchiveObjectWithData(bytes, error ? error : &local);
}

// The reason a stream is refused: as an archive, or with `values` as a run of plain values.
std::string refusal(const std::vector<uint8_t>& bytes, bool values = false)
{
    std::string error;
    if (!values) {
        EXPECT_FALSE(unarchive(bytes, &error));
        return error;
    }
    TypedStreamDecoder decoder(bytes);
    while (!decoder.failed() && !decoder.atEnd())
        decoder.decodeNextValue();
    EXPECT_TRUE(decoder.failed());
    return decoder.errorText();
}

// A test class as an older program version archived it: a name object, a 16-bit count,
// a float level and an 8-bit flag; version 2 adds a list object.
class RPTestThing final : public ArchiveObject {
public:
    std::string archiveClassName() const override { return "RPTestThing"; }
    std::string values; // name, count, level and flag as read
    int64_t storedVersion = -1;
    ArchiveObjectPtr list;
};

void registerTestThing()
{
    TypedStreamDecoder::registerClass("RPTestThing", [](TypedStreamDecoder& coder) -> ArchiveObjectPtr {
        auto thing = std::make_shared<RPTestThing>();
        thing->storedVersion = coder.versionForClassName("RPTestThing");
        thing->values = coder.decodeStringObject().value_or("nil"); // one read per statement: in order
        thing->values += " " + std::to_string(coder.decodeInteger('s'));
        thing->values += " " + std::to_string(coder.decodeFloat());
        thing->values += " " + std::to_string(coder.decodeInteger('c'));
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

std::vector<uint8_t> stream(const std::function<void(TypedStreamWriter&)>& write)
{
    TypedStreamWriter w;
    write(w);
    return w.bytes();
}

// A stream holding one object of class chain `chain` whose values `write` supplies.
std::vector<uint8_t> objectStream(const Chain& chain, const std::function<void(TypedStreamWriter&)>& write)
{
    return stream([&](TypedStreamWriter& w) {
        w.group("@");
        w.beginObject(chain);
        write(w);
        w.endObject();
    });
}

} // namespace

TEST(TypedStreamDecoder, ReadsHandWrittenStreamsOfBothByteOrders)
{
    // A little-endian stream holding the string "hello", byte by byte as the platform writes it.
    static const char raw[] = "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x08NSString\x01\x84\x84"
                              "\x08NSObject\x00\x85\x84\x01+\x05hello\x86";
    const std::vector<uint8_t> little(raw, raw + sizeof(raw) - 1);
    TypedStreamDecoder decoder(little);
    EXPECT_EQ(std::tuple(decoder.isBigEndian(), decoder.streamerVersion(), decoder.systemVersion()),
        std::tuple(false, 4, 1000));
    EXPECT_EQ(as<ArchivedString>(decoder.decodeObject())->value, "hello");
    EXPECT_EQ(decoder.versionForClassName("NSString"), 1);
    EXPECT_EQ(decoder.versionForClassName("NSArray"), TypedStreamDecoder::NotFound);
    EXPECT_TRUE(decoder.atEnd());
    EXPECT_FALSE(decoder.failed()) << decoder.errorText();

    // The same in big-endian order: the signature and the 16-bit system version change.
    std::vector<uint8_t> big = little;
    std::copy_n("typedstream\x81\x03\xe8", 14, big.begin() + 2);
    TypedStreamDecoder bigDecoder(big);
    EXPECT_TRUE(bigDecoder.isBigEndian());
    EXPECT_EQ(bigDecoder.systemVersion(), 1000);
    EXPECT_EQ(as<ArchivedString>(bigDecoder.decodeObject())->value, "hello");
}

TEST(TypedStreamDecoder, FoundationValuesKeepContentsAndIdentityInBothByteOrders)
{
    for (bool bigEndian : { true, false }) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        TypedStreamWriter w(bigEndian);
        w.group("@");
        w.beginObject({ { "NSMutableArray", 0 }, { "NSArray", 0 }, { "NSObject", 0 } });
        w.group("i");
        w.integer(8);
        w.group("@");
        const int shared = w.stringObject("kick drum \xc3\xa9", true);
        w.group("@");
        w.reference(shared);
        w.group("@");
        w.integerNumber(-70000);
        w.group("@");
        w.realNumber(0.125);
        w.group("@");
        w.dataObject({ 0, 1, 2, 0xfe, 0xff });
        w.group("@");
        w.arrayObject(2, [&](int j) { j == 0 ? w.stringObject("inner") : w.integerNumber(1, "C"); });
        w.group("@");
        w.beginObject({ { "NSMutableDictionary", 0 }, { "NSDictionary", 0 }, { "NSObject", 0 } });
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
        w.endObject();
        std::string error;
        auto root = as<ArchivedArray>(unarchive(w.bytes(), &error));
        ASSERT_EQ(root->items.size(), 8u) << error;
        const auto& l = root->items;
        EXPECT_EQ(describe(root),
            "NSMutableArray(NSMutableString(kick drum \xc3\xa9),NSMutableString(kick drum \xc3\xa9),"
            "NSNumber(1:-70000),NSNumber(4:0.125000),NSData(0 1 2 254 255 "
            "),NSArray(NSString(inner),NSNumber(2:1),),"
            "NSMutableDictionary(NSString(k1)=NSMutableString(kick drum \xc3\xa9),NSString(k2)=nil,),"
            "NSMutableSet(NSValue(),NSDate(12345.500000),),)");
        EXPECT_EQ(l[1], l[0]); // the same object, not a copy
        EXPECT_EQ(as<ArchivedDictionary>(l[6])->entries.at(0).second, l[0]);
        auto rect = as<ArchivedTypedValue>(as<ArchivedSet>(l[7])->items.at(0));
        EXPECT_EQ(rect->typeEncoding, "{_NSRect={_NSPoint=ff}{_NSSize=ff}}");
        EXPECT_EQ(rect->value.text, "_NSRect");
        ASSERT_EQ(rect->value.elements.size(), 2u);
        ASSERT_EQ(rect->value.elements[1].elements.size(), 2u);
        EXPECT_FLOAT_EQ(static_cast<float>(rect->value.elements[0].elements[1].real), 2.5f);
        EXPECT_FLOAT_EQ(static_cast<float>(rect->value.elements[1].elements[1].real), -4.0f);
    }
}

TEST(TypedStreamDecoder, RegisteredClassReadsItsVersionWhateverTheGroupingAndEveryTruncationFails)
{
    registerTestThing();
    TypedStreamDecoder::setClassNameTranslation("OldTestThing", "RPTestThing");
    for (bool bigEndian : { true, false }) {
        for (int grouping = 0; grouping < 3; ++grouping) {
            SCOPED_TRACE("grouping " + std::to_string(grouping) + (bigEndian ? " big" : " little"));
            auto thing = as<RPTestThing>(unarchive(testThingStream(bigEndian, grouping)));
            EXPECT_EQ(thing->values, "snare -300 0.750000 -1");
            EXPECT_EQ(thing->storedVersion, 1);
        }
    }
    // An older name maps to the class, and the version is found under either name.
    const auto full = testThingStream(false, 2, "OldTestThing", 2);
    auto thing = as<RPTestThing>(unarchive(full));
    EXPECT_EQ(thing->storedVersion, 2);
    EXPECT_EQ(as<ArchivedArray>(thing->list)->items.size(), 2u);

    for (size_t length = 0; length < full.size(); ++length)
        EXPECT_FALSE(
            refusal(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(length))).empty())
            << "length " << length;
}

TEST(TypedStreamDecoder, ValueTypesAreChecked)
{
    registerTestThing();
    // The class reads 's' where the stream holds 'i'; a non-string where a string is expected.
    const Chain thing = { { "RPTestThing", 1 }, { "NSObject", 0 } };
    // clang-format off
    EXPECT_NE(refusal(objectStream(thing, [](TypedStreamWriter& w) { w.group("@i"); w.stringObject("x"); w.integer(3); }))
                  .find("expected \"s\""), std::string::npos);
    EXPECT_NE(refusal(objectStream(thing, [](TypedStreamWriter& w) { w.group("@"); w.integerNumber(5); }))
                  .find("expected a string"), std::string::npos);
    // clang-format on

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
    ASSERT_EQ(point.elements.size(), 2u) << decoder.errorText();
    EXPECT_EQ(point.elements[1].real, 2.0);
    EXPECT_TRUE(decoder.atEnd());
    EXPECT_EQ(decoder.decodeInteger('i'), 0);
    EXPECT_NE(decoder.errorText().find("end of data"), std::string::npos);
    EXPECT_FALSE(decoder.decodeObject());
}

TEST(TypedStreamDecoder, BadReferencesTagsClassesTypesAndHostileSizesAreRefused)
{
    using W = TypedStreamWriter;
    const Chain string = { { "NSString", 1 }, { "NSObject", 0 } };
    auto badSignature = W().bytes();
    badSignature[5] = 'X';
    const auto started = std::chrono::steady_clock::now();
    // clang-format off
    const struct {
        std::vector<uint8_t> bytes;
        bool values; // read as plain values rather than as an archive
        const char* fragment;
    } cases[] = {
        { stream([](W& w) { w.group("@"); w.reference(40); }), false, "is not an object" },
        // an object that refers to itself while it is decoded
        { stream([](W& w) { w.group("@"); int self = w.beginObject(kArray); w.group("i"); w.integer(1);
              w.group("@"); w.reference(self); w.endObject(); }), false, "still being decoded" },
        // a class reference that points at a C string, a class whose superclass is itself
        { stream([](W& w) { w.group("*@"); w.cString("text"); w.byte(0x84); w.reference(0); }), true, "is not a class" },
        { stream([](W& w) { w.group("@"); w.byte(0x84); w.byte(0x84); w.sharedString("NSString"); w.integer(1);
              w.reference(1); }), false, "refers to itself" },
        { objectStream({ { "NSWindowController", 0 }, { "NSObject", 0 } }, [](W&) {}), false,
            "unknown class NSWindowController" },
        { stream([](W& w) { w.reference(3); }), false, "shared string" },
        { stream([](W& w) { w.byte(0x83); }), false, "unexpected tag 0x83" },
        // values the class did not read, and a class that reads more than the object holds
        { objectStream(string, [](W& w) { w.group("+i"); w.unsharedString("a"); w.integer(1); }), false, "left unread" },
        { objectStream(string, [](W&) {}), false, "no more values" },
        { objectStream(kNumber, [](W& w) { w.group("*B"); w.cString("B"); w.byte(7); }), false, "bool value 7" },
        { objectStream(kNumber, [](W& w) { w.group("*"); w.cString(std::string("i\0x", 3)); }), false, "zero byte" },
        { { 0x03, 0x0b, 't' }, false, "streamer version" },
        { badSignature, false, "bad signature" },
        // 200,000 nested arrays: refused at the nesting limit, not a stack overflow.
        { stream([](W& w) { w.group("@"); for (int i = 0; i < 200000; ++i) { w.beginObject(kArray); w.group("i");
              w.integer(1); w.group("@"); } }), false, "nested" },
        // Counts and lengths from the file that the remaining bytes cannot hold.
        { stream([](W& w) { w.group("@"); w.beginObject(kArray); w.group("i"); w.integer(2000000000); w.group("@");
              w.nil(); }), false, "" },
        { stream([](W& w) { w.group("@"); w.beginObject({ { "NSData", 0 }, { "NSObject", 0 } }); w.group("i");
              w.integer(2000000000); w.group("[2000000000c]"); }), false, "past the end" },
        { stream([](W& w) { w.group("+"); w.integer(0x7fffffff); }), true, "" },
        { stream([](W& w) { w.group("[4000000000i]"); }), true, "" },
        // Arrays of arrays of nothing: billions of zero-byte values are refused, not looped over.
        { stream([](W& w) { w.group("[100000[100000[0i]]]"); }), true, "more values" },
        // A long C string repeated by one-byte references: the copies are bounded, not 12 GB.
        { stream([](W& w) { w.group("*"); w.cString(std::string(60000, 'x')); w.group("[200000*]");
              for (int i = 0; i < 200000; ++i) w.reference(0); }), true, "repeats more text" },
    };
    // clang-format on
    for (const auto& [bytes, values, fragment] : cases) {
        const std::string error = refusal(bytes, values);
        EXPECT_NE(error.find(fragment), std::string::npos) << error;
    }
    for (std::string types : { "v", "{name}", "[c]", "{x=}", "[3i", "@\"NSString\"" })
        EXPECT_FALSE(refusal(stream([&](W& w) {
            w.group(types);
            w.integer(0);
        })).empty())
            << types;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(TypedStreamDecoder, FactoryFailuresUnwindAndEndlessReadersStop)
{
    // A reader that loops until a 65535 marker, fed a stream without one: it must stop.
    TypedStreamDecoder::registerClass("RPTestLoop", [](TypedStreamDecoder& coder) -> ArchiveObjectPtr {
        while (coder.decodeInteger('S') != 65535) { }
        return std::make_shared<ArchivedArray>();
    });
    // clang-format off
    EXPECT_NE(refusal(objectStream({ { "RPTestLoop", 0 }, { "NSObject", 0 } },
                  [](TypedStreamWriter& w) { for (int i = 0; i < 5; ++i) { w.group("S"); w.integer(i); } }))
                  .find("no more values in an object of class RPTestLoop"), std::string::npos);
    // clang-format on

    // A class that refuses what it reads reports its own reason.
    TypedStreamDecoder::registerClass("RPTestPicky", [](TypedStreamDecoder& coder) -> ArchiveObjectPtr {
        if (coder.decodeInteger('i') > 3)
            coder.failWithError("picky value too large");
        return std::make_shared<ArchivedArray>();
    });
    // clang-format off
    EXPECT_NE(refusal(objectStream({ { "RPTestPicky", 0 }, { "NSObject", 0 } },
                  [](TypedStreamWriter& w) { w.group("i"); w.integer(9); }))
                  .find("picky value too large (in an object of class RPTestPicky)"), std::string::npos);
    // clang-format on
}
