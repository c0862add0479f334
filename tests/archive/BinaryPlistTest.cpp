// The binary property-list writer and reader on their own: exact bytes, round trips of every
// value kind at its limits, refusal of malformed lists, and linear running time.
#include "BinaryPlistTestSupport.h"
#include "archive/BinaryPlistReader.h"
#include "archive/BinaryPlistWriter.h"

#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace rp::keyed;
using rp::keyed::test::dictionaryOf;
using rp::keyed::test::samePlist;

namespace {

PlistValue roundTrip(const PlistValue& value)
{
    std::string error;
    const auto bytes = writeBinaryPlistBytes(value, &error);
    EXPECT_FALSE(bytes.empty()) << error;
    auto parsed = readBinaryPlistBytes(bytes, &error);
    EXPECT_TRUE(parsed) << error;
    return parsed ? *parsed : PlistValue {};
}

std::string readError(const std::vector<uint8_t>& bytes)
{
    std::string error;
    EXPECT_FALSE(readBinaryPlistBytes(bytes, &error));
    EXPECT_EQ(validateBinaryPlistBytes(bytes), error);
    return error;
}

// A list of raw objects with 1-byte offsets and references; the top object is the first.
std::vector<uint8_t> rawList(const std::vector<std::vector<uint8_t>>& objects)
{
    std::vector<uint8_t> out = { 'b', 'p', 'l', 'i', 's', 't', '0', '0' };
    std::vector<uint8_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(static_cast<uint8_t>(out.size()));
        out.insert(out.end(), object.begin(), object.end());
    }
    const auto table = static_cast<uint8_t>(out.size());
    out.insert(out.end(), offsets.begin(), offsets.end());
    const std::vector<uint8_t> trailer = { 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0,
        static_cast<uint8_t>(objects.size()), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, table };
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

} // namespace

TEST(BinaryPlistWriter, WritesTheKnownBytesOfASmallList)
{
    // Keys first, then values depth first; the second UID(1) shares the first; a float in
    // 4 bytes, a double in 8, a negative integer in 8; one-byte offsets and references.
    const PlistValue value = dictionaryOf({
        { "a",
            PlistValue::makeArray(
                { PlistValue::makeUid(1), PlistValue::makeUid(1), PlistValue::makeUid(300) }) },
        { "f", PlistValue::makeFloat(0.5f) },
        { "d", PlistValue::makeReal(0.5) },
        { "n", PlistValue::makeInteger(-1) },
    });
    // clang-format off
    const std::vector<uint8_t> expected = {
        'b', 'p', 'l', 'i', 's', 't', '0', '0',
        0xD4, 1, 2, 3, 4, 5, 8, 9, 10,            // 8: the dictionary
        0x51, 'a', 0x51, 'f', 0x51, 'd', 0x51, 'n', // 17, 19, 21, 23: keys
        0xA3, 6, 6, 7,                            // 25: the array
        0x80, 0x01, 0x81, 0x01, 0x2C,             // 29, 31: UIDs
        0x22, 0x3F, 0x00, 0x00, 0x00,             // 34: float
        0x23, 0x3F, 0xE0, 0, 0, 0, 0, 0, 0,       // 39: double
        0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, // 48: -1
        8, 17, 19, 21, 23, 25, 29, 31, 34, 39, 48, // 57: offset table
        0, 0, 0, 0, 0, 0, 1, 1,  0, 0, 0, 0, 0, 0, 0, 11,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 57,
    };
    // clang-format on
    EXPECT_EQ(writeBinaryPlistBytes(value), expected);
    EXPECT_TRUE(samePlist(roundTrip(value), value));
}

TEST(BinaryPlistWriter, CountsAndWidthsGrowAtTheirLimits)
{
    // A 14-byte string keeps its length in the marker, a 15-byte one needs a length integer.
    auto bytes = writeBinaryPlistBytes(PlistValue::makeString(std::string(14, 'x')));
    EXPECT_EQ(bytes[8], 0x5E);
    bytes = writeBinaryPlistBytes(PlistValue::makeString(std::string(15, 'x')));
    EXPECT_EQ((std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 11)),
        (std::vector<uint8_t> { 0x5F, 0x10, 15 }));
    bytes = writeBinaryPlistBytes(PlistValue::makeData(std::vector<uint8_t>(70000, 7)));
    EXPECT_EQ((std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 14)),
        (std::vector<uint8_t> { 0x4F, 0x12, 0x00, 0x01, 0x11, 0x70 }));
    // 70,000 bytes of data put the offset table beyond 65,535: offsets take 4 bytes.
    EXPECT_EQ(bytes[bytes.size() - 26], 4);

    // 256 distinct objects still fit one-byte references (the largest is 255); 257 do not.
    for (const auto& [count, width] : { std::pair { 255, 1 }, std::pair { 256, 2 } }) {
        std::vector<PlistValue> items;
        for (int i = 0; i < count; ++i)
            items.push_back(PlistValue::makeInteger(i));
        bytes = writeBinaryPlistBytes(PlistValue::makeArray(std::move(items)));
        EXPECT_EQ(bytes[bytes.size() - 25], width) << count + 1 << " objects";
    }

    // Integers take 1, 2, 4 or 8 bytes; equal values are written once.
    std::vector<PlistValue> numbers;
    for (int64_t n :
        { int64_t { 255 }, int64_t { 256 }, int64_t { 65536 }, int64_t { 1 } << 32, int64_t { 255 } })
        numbers.push_back(PlistValue::makeInteger(n));
    bytes = writeBinaryPlistBytes(PlistValue::makeArray(std::move(numbers)));
    const std::vector<uint8_t> expected = { 0xA5, 1, 2, 3, 4, 1, 0x10, 0xFF, 0x11, 0x01, 0x00, 0x12, 0, 1, 0,
        0, 0x13, 0, 0, 0, 1, 0, 0, 0, 0 };
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 8 + static_cast<long>(expected.size())),
        expected);
}

TEST(BinaryPlistWriter, EveryKindRoundTripsAtItsExtremes)
{
    std::vector<PlistValue> integers;
    for (int64_t n : { int64_t { 0 }, int64_t { 1 }, int64_t { 255 }, int64_t { 256 }, int64_t { 65535 },
             int64_t { 65536 }, int64_t { UINT32_MAX }, int64_t { UINT32_MAX } + 1, INT64_MAX, int64_t { -1 },
             int64_t { INT32_MIN }, INT64_MIN })
        integers.push_back(PlistValue::makeInteger(n));
    std::vector<PlistValue> reals;
    for (double d : { 0.0, -0.0, 1.0 / 3.0, DBL_MAX, -DBL_MAX, DBL_MIN, DBL_TRUE_MIN, HUGE_VAL, -HUGE_VAL,
             std::numeric_limits<double>::quiet_NaN() })
        reals.push_back(PlistValue::makeReal(d));
    for (float f : { 0.0f, -0.0f, 0.1f, FLT_MAX, FLT_MIN, FLT_TRUE_MIN, -HUGE_VALF })
        reals.push_back(PlistValue::makeFloat(f));
    std::vector<PlistValue> strings;
    for (const char* s : { "", "plain", "$null", "caf\xC3\xA9", "\xE2\x98\x83 snow", "\xF0\x9F\xA5\x81 drum",
             "\xEF\xBF\xBF", "tab\there" })
        strings.push_back(PlistValue::makeString(s));
    strings.push_back(PlistValue::makeString(std::string("nul\0inside", 10)));
    strings.push_back(PlistValue::makeString(std::string(300, 'a')));
    std::string longUnicode;
    for (int i = 0; i < 100; ++i)
        longUnicode += "\xC3\xBC\xF0\x9F\x8E\xB5";
    strings.push_back(PlistValue::makeString(longUnicode));
    std::vector<PlistValue> uids;
    for (uint64_t u : { uint64_t { 0 }, uint64_t { 255 }, uint64_t { 256 }, uint64_t { 65536 },
             uint64_t { 1 } << 32, uint64_t { 1 } << 40, UINT64_MAX })
        uids.push_back(PlistValue::makeUid(u));
    std::vector<PlistValue> many;
    for (int i = 0; i < 70000; ++i)
        many.push_back(PlistValue::makeInteger(i)); // 70,000 objects: 4-byte references

    PlistValue nested = PlistValue::makeArray({ PlistValue::makeArray(), PlistValue::makeDictionary() });
    for (int i = 0; i < 20; ++i)
        nested = PlistValue::makeArray({ std::move(nested) });

    const PlistValue value = dictionaryOf({
        { "booleans",
            PlistValue::makeArray({ PlistValue::makeBoolean(true), PlistValue::makeBoolean(false) }) },
        { "integers", PlistValue::makeArray(std::move(integers)) },
        { "reals", PlistValue::makeArray(std::move(reals)) },
        { "dates",
            PlistValue::makeArray({ PlistValue::makeDate(0), PlistValue::makeDate(-978307200.5),
                PlistValue::makeDate(1e9 + 0.25) }) },
        { "strings", PlistValue::makeArray(std::move(strings)) },
        { "data",
            PlistValue::makeArray({ PlistValue::makeData({}), PlistValue::makeData({ 0, 255 }),
                PlistValue::makeData(std::vector<uint8_t>(70000, 0xAB)) }) },
        { "uids", PlistValue::makeArray(std::move(uids)) },
        { "nested", std::move(nested) },
        { "many", PlistValue::makeArray(std::move(many)) },
        { "\xC3\xBCnicode key", PlistValue::makeString("\xC3\xBCnicode key") },
    });
    EXPECT_TRUE(samePlist(roundTrip(value), value));
}

TEST(BinaryPlistWriter, RefusesStringsThatAreNotUtf8)
{
    for (const char* bad : { "\xFF", "\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80z" }) {
        std::string error;
        EXPECT_TRUE(writeBinaryPlistBytes(PlistValue::makeString(bad), &error).empty()) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(BinaryPlistReader, ReadsWhatOtherWritersMayProduce)
{
    // A 16-byte integer that fits in 64 bits (positive and negative), a 2-byte UID, an empty
    // UTF-16 string, a dictionary with a UTF-16 key.
    std::vector<uint8_t> big = { 0x14 };
    big.insert(big.end(), 8, 0);
    big.insert(big.end(), { 0x80, 0, 0, 0, 0, 0, 0, 5 });
    std::vector<uint8_t> negative = { 0x14 };
    negative.insert(negative.end(), 16, 0xFF);
    const auto bytes = rawList({ { 0xA5, 1, 2, 3, 4, 5 }, big, negative, { 0x81, 0x01, 0x00 }, { 0x60 },
        { 0xD1, 6, 7 }, { 0x61, 0x00, 0xE9 }, { 0x09 } });
    std::string error;
    const auto value = readBinaryPlistBytes(bytes, &error);
    ASSERT_TRUE(value) << error;
    EXPECT_TRUE(samePlist(*value,
        PlistValue::makeArray({ PlistValue::makeInteger(static_cast<int64_t>(0x8000000000000005ULL)),
            PlistValue::makeInteger(-1), PlistValue::makeUid(256), PlistValue::makeString(""),
            dictionaryOf({ { "\xC3\xA9", PlistValue::makeBoolean(true) } }) })));
}

TEST(BinaryPlistReader, RefusesMalformedObjects)
{
    EXPECT_EQ(
        readError(rawList({ { 0x62, 0xD8, 0x00, 0x00, 0x41 } })), "unpaired surrogate in UTF-16 string");
    EXPECT_EQ(readError(rawList({ { 0x61, 0xDC, 0x00 } })), "unpaired surrogate in UTF-16 string");
    EXPECT_EQ(readError(rawList({ { 0x51, 0xE9 } })), "bad byte in ASCII string");
    EXPECT_EQ(readError(rawList({ { 0xD1, 1, 1 }, { 0x10, 1 } })), "dictionary key is not a string");
    EXPECT_EQ(readError(rawList({ { 0xD1, 0, 1 }, { 0x09 } })), "dictionary key is not a string");
    EXPECT_EQ(readError(rawList({ { 0xC1, 1 }, { 0x09 } })), "unsupported property-list value"); // a set
    EXPECT_EQ(readError(rawList({ { 0x00 } })), "unsupported property-list value"); // null
    EXPECT_EQ(readError(rawList({ { 0x15, 0 } })), "bad integer");
    std::vector<uint8_t> huge = { 0x14, 0, 0, 0, 0, 0, 0, 0, 1 };
    huge.insert(huge.end(), 8, 0);
    EXPECT_EQ(readError(rawList({ huge })), "integer does not fit in 64 bits");
    EXPECT_EQ(readError(rawList({ { 0x21, 0, 0 } })), "bad real");
    EXPECT_EQ(readError(rawList({ { 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0 } })), "bad UID");
    EXPECT_EQ(readError(rawList({ { 0xA2, 1, 9 }, { 0x09 } })), "object reference out of range");
    EXPECT_EQ(readError(rawList({ { 0xA1, 1 }, { 0xA1, 0 } })), "property list contains itself");
    EXPECT_EQ(readError(rawList({ { 0x4F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF } })),
        "object runs past the object area");
    EXPECT_EQ(readError(rawList({ { 0x5F, 0x14, 1 } })), "bad length marker");
    EXPECT_EQ(readError(rawList({ { 0xAF } })), "truncated object");
    // An object reached twice may be shared; it is only a cycle when it contains itself.
    EXPECT_TRUE(readBinaryPlistBytes(rawList({ { 0xA2, 1, 1 }, { 0xA1, 2 }, { 0x08 } })));
}

TEST(BinaryPlistReader, RefusesBadTrailersAndTruncation)
{
    const auto valid = writeBinaryPlistBytes(dictionaryOf({ { "k", PlistValue::makeString("value") } }));
    ASSERT_TRUE(readBinaryPlistBytes(valid));
    for (size_t length = 0; length < valid.size(); ++length)
        readError(std::vector<uint8_t>(valid.begin(), valid.begin() + static_cast<long>(length)));

    auto withTrailerByte = [&](size_t fromEnd, uint8_t byte) {
        auto bytes = valid;
        bytes[bytes.size() - fromEnd] = byte;
        return bytes;
    };
    EXPECT_EQ(readError(withTrailerByte(26, 0)), "bad offset or reference size in trailer");
    EXPECT_EQ(readError(withTrailerByte(25, 9)), "bad offset or reference size in trailer");
    EXPECT_EQ(readError(withTrailerByte(17, 0)), "bad object count or top object in trailer");
    EXPECT_EQ(readError(withTrailerByte(9, 3)), "bad object count or top object in trailer");
    EXPECT_EQ(readError(withTrailerByte(1, 0xF0)), "offset table outside the list");
    EXPECT_EQ(readError(withTrailerByte(17, 200)), "bad object count or top object in trailer");
    auto badOffset = valid;
    badOffset[valid.size() - 32 - 3] = 0xF0; // the dictionary's offset, past the object area
    EXPECT_EQ(readError(badOffset), "object offset out of range");
    auto badMagic = valid;
    badMagic[7] = '1';
    EXPECT_EQ(readError(badMagic), "not a binary property list");
}

TEST(BinaryPlistReader, ExpansionIsBoundedByTheInputSize)
{
    // Each level refers twice to the next: 21 levels expand to 2^21 copies of the last one,
    // about 270 MB of tree from 140 bytes, refused without building anything.
    std::vector<std::vector<uint8_t>> objects;
    for (uint8_t i = 0; i < 21; ++i)
        objects.push_back({ 0xA2, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1) });
    objects.push_back({ 0x09 });
    EXPECT_EQ(readError(rawList(objects)), "property list would expand too much");
    // Twelve levels (4,096 copies) are an ordinary shared structure.
    objects.erase(objects.begin() + 12, objects.end() - 1);
    objects[11] = { 0xA2, 12, 12 };
    EXPECT_TRUE(readBinaryPlistBytes(rawList(objects)));

    // Nesting deeper than the limit is refused even without sharing.
    objects.clear();
    for (uint8_t i = 0; i < 40; ++i)
        objects.push_back({ 0xA1, static_cast<uint8_t>(i + 1) });
    objects.push_back({ 0x09 });
    EXPECT_EQ(readError(rawList(objects)), "property list nested too deeply");
}

TEST(BinaryPlistWriter, WritesAndReadsInLinearTime)
{
    // Writing and reading 200,000 objects may take at most three times the time per object that
    // 50,000 take (a quadratic writer takes 16 times as long; cache and page-fault costs of the
    // larger tree alone reach about twice). Best of a few runs, in CPU time.
    struct Timing {
        double write = 1e9, read = 1e9;
        uint64_t objects = 0;
    };
    auto measure = [](int bars, int writes, int reads) {
        const PlistValue archive = test::songShapedArchive(bars);
        Timing timing;
        std::vector<uint8_t> bytes;
        for (int run = 0; run < writes; ++run) {
            const double start = test::threadSeconds();
            bytes = writeBinaryPlistBytes(archive);
            timing.write = std::min(timing.write, test::threadSeconds() - start);
        }
        for (int run = 0; run < reads; ++run) {
            const double start = test::threadSeconds();
            const auto parsed = readBinaryPlistBytes(bytes);
            timing.read = std::min(timing.read, test::threadSeconds() - start);
            EXPECT_TRUE(
                parsed && parsed->find("$objects")->items.size() == 2 + 17 * static_cast<size_t>(bars));
        }
        for (size_t i = bytes.size() - 24; i < bytes.size() - 16; ++i) // the trailer's object count
            timing.objects = timing.objects << 8 | bytes[i];
        return timing;
    };
    const Timing small = measure(1500, 2, 2);
    const Timing large = measure(6000, 2, 3);
    EXPECT_GT(large.objects, 190000u);
    const std::string figures = std::to_string(small.objects) + " objects: write "
        + std::to_string(small.write) + " s, read " + std::to_string(small.read) + " s; "
        + std::to_string(large.objects) + " objects: write " + std::to_string(large.write) + " s, read "
        + std::to_string(large.read) + " s";
    EXPECT_LT(large.write, 12 * small.write) << figures;
    EXPECT_LT(large.read, 12 * small.read) << figures;
    RecordProperty("timings", figures);
}
