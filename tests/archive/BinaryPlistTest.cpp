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
using namespace rp::keyed::test;

namespace {

using Bytes = std::vector<uint8_t>;

std::string readError(const Bytes& bytes)
{
    std::string error;
    EXPECT_FALSE(readBinaryPlistBytes(bytes, &error));
    EXPECT_EQ(validateBinaryPlistBytes(bytes), error);
    return error;
}

Bytes slice(const Bytes& bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(from + count));
}

} // namespace

TEST(BinaryPlistWriter, WritesTheKnownBytesOfASmallList)
{
    // Keys first, then values depth first; the second UID(1) shares the first; a float in
    // 4 bytes, a double in 8, a negative integer in 8; one-byte offsets and references.
    const PlistValue value = dictionaryOf({
        { "a", arr({ uid(1), uid(1), uid(300) }) },
        { "f", PlistValue::makeFloat(0.5f) },
        { "d", PlistValue::makeReal(0.5) },
        { "n", num(-1) },
    });
    // clang-format off
    const Bytes expected = {
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
}

TEST(BinaryPlistWriter, EveryKindRoundTripsAtItsExtremesAndBadUtf8IsRefused)
{
    std::vector<PlistValue> items
        = { PlistValue::makeBoolean(true), PlistValue::makeBoolean(false), PlistValue::makeDate(-978307200.5),
              PlistValue::makeData({}), PlistValue::makeData(Bytes(70000, 0xAB)),
              str(std::string("nul\0inside", 10)), str(std::string(300, 'a')) };
    for (int64_t n : { int64_t { 0 }, int64_t { 255 }, int64_t { 256 }, int64_t { 65535 }, int64_t { 65536 },
             int64_t { UINT32_MAX }, int64_t { UINT32_MAX } + 1, INT64_MAX, int64_t { -1 },
             int64_t { INT32_MIN }, INT64_MIN })
        items.push_back(num(n));
    for (double d : { 0.0, -0.0, 1.0 / 3.0, DBL_MAX, DBL_MIN, DBL_TRUE_MIN, -HUGE_VAL,
             std::numeric_limits<double>::quiet_NaN() })
        items.push_back(PlistValue::makeReal(d));
    for (float f : { -0.0f, 0.1f, FLT_MAX, FLT_TRUE_MIN, -HUGE_VALF })
        items.push_back(PlistValue::makeFloat(f));
    for (const char* s : { "", "$null", "caf\xC3\xA9", "\xF0\x9F\xA5\x81 drum", "\xEF\xBF\xBF" })
        items.push_back(str(s));
    for (uint64_t u : { uint64_t { 0 }, uint64_t { 255 }, uint64_t { 256 }, uint64_t { 65536 },
             uint64_t { 1 } << 40, UINT64_MAX })
        items.push_back(uid(u));
    std::string longUnicode; // over 255 UTF-16 units, some of them surrogate pairs
    for (int i = 0; i < 100; ++i)
        longUnicode += "\xC3\xBC\xF0\x9F\x8E\xB5";
    items.push_back(str(longUnicode));
    PlistValue nested = arr({ arr(), PlistValue::makeDictionary() });
    for (int i = 0; i < 20; ++i)
        nested = arr({ std::move(nested) });
    std::vector<PlistValue> many;
    for (int i = 0; i < 70000; ++i)
        many.push_back(num(i)); // 70,000 objects: 4-byte references

    const PlistValue value
        = dictionaryOf({ { "items", arr(std::move(items)) }, { "nested", std::move(nested) },
            { "many", arr(std::move(many)) }, { "\xC3\xBCnicode key", str("\xC3\xBCnicode key") } });
    std::string error;
    const auto parsed = readBinaryPlistBytes(writeBinaryPlistBytes(value, &error), &error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_TRUE(samePlist(*parsed, value));

    for (const char* bad : { "\xFF", "\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80z" }) {
        error.clear();
        EXPECT_TRUE(writeBinaryPlistBytes(str(bad), &error).empty()) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(BinaryPlistReader, ReadsWhatOtherWritersMayProduce)
{
    // A 16-byte integer that fits in 64 bits (positive and negative), a 2-byte UID, an empty
    // UTF-16 string, a dictionary with a UTF-16 key.
    Bytes big = { 0x14 };
    big.insert(big.end(), 8, 0);
    big.insert(big.end(), { 0x80, 0, 0, 0, 0, 0, 0, 5 });
    Bytes negative = { 0x14 };
    negative.insert(negative.end(), 16, 0xFF);
    const auto bytes = rawPlist({ { 0xA5, 1, 2, 3, 4, 5 }, big, negative, { 0x81, 0x01, 0x00 }, { 0x60 },
        { 0xD1, 6, 7 }, { 0x61, 0x00, 0xE9 }, { 0x09 } });
    std::string error;
    const auto value = readBinaryPlistBytes(bytes, &error);
    ASSERT_TRUE(value) << error;
    EXPECT_TRUE(samePlist(*value,
        arr({ num(static_cast<int64_t>(0x8000000000000005ULL)), num(-1), uid(256), str(""),
            dictionaryOf({ { "\xC3\xA9", PlistValue::makeBoolean(true) } }) })));
}

TEST(BinaryPlistReader, RefusesMalformedObjects)
{
    Bytes huge = { 0x14, 0, 0, 0, 0, 0, 0, 0, 1 };
    huge.insert(huge.end(), 8, 0);
    const struct {
        std::vector<Bytes> objects;
        const char* error;
    } cases[] = {
        { { { 0x62, 0xD8, 0x00, 0x00, 0x41 } }, "unpaired surrogate in UTF-16 string" },
        { { { 0x61, 0xDC, 0x00 } }, "unpaired surrogate in UTF-16 string" },
        { { { 0x51, 0xE9 } }, "bad byte in ASCII string" },
        { { { 0xD1, 1, 1 }, { 0x10, 1 } }, "dictionary key is not a string" },
        { { { 0xD1, 0, 1 }, { 0x09 } }, "dictionary key is not a string" },
        { { { 0xC1, 1 }, { 0x09 } }, "unsupported property-list value" }, // a set
        { { { 0x00 } }, "unsupported property-list value" }, // null
        { { { 0x15, 0 } }, "bad integer" },
        { { huge }, "integer does not fit in 64 bits" },
        { { { 0x21, 0, 0 } }, "bad real" },
        { { { 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0 } }, "bad UID" },
        { { { 0xA2, 1, 9 }, { 0x09 } }, "object reference out of range" },
        { { { 0xA1, 1 }, { 0xA1, 0 } }, "property list contains itself" },
        { { { 0x4F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF } },
            "object runs past the object area" },
        { { { 0x5F, 0x14, 1 } }, "bad length marker" },
        { { { 0xAF } }, "truncated object" },
    };
    for (const auto& [objects, error] : cases)
        EXPECT_EQ(readError(rawPlist(objects)), error);
    // An object reached twice may be shared; it is only a cycle when it contains itself.
    EXPECT_TRUE(readBinaryPlistBytes(rawPlist({ { 0xA2, 1, 1 }, { 0xA1, 2 }, { 0x08 } })));
}

TEST(BinaryPlistReader, RefusesBadTrailersAndTruncation)
{
    const auto valid = writeBinaryPlistBytes(dictionaryOf({ { "k", str("value") } }));
    ASSERT_TRUE(readBinaryPlistBytes(valid));
    for (size_t length = 0; length < valid.size(); ++length)
        readError(slice(valid, 0, length));

    const struct {
        size_t at; // from the end
        uint8_t byte;
        const char* error;
    } cases[] = {
        { 26, 0, "bad offset or reference size in trailer" },
        { 25, 9, "bad offset or reference size in trailer" },
        { 17, 0, "bad object count or top object in trailer" },
        { 17, 200, "bad object count or top object in trailer" },
        { 9, 3, "bad object count or top object in trailer" },
        { 1, 0xF0, "offset table outside the list" },
        { 35, 0xF0, "object offset out of range" }, // the dictionary's offset
        { valid.size() - 7, '1', "not a binary property list" },
    };
    for (const auto& [at, byte, error] : cases) {
        auto bytes = valid;
        bytes[bytes.size() - at] = byte;
        EXPECT_EQ(readError(bytes), error);
    }
}

TEST(BinaryPlistReader, ExpansionIsBoundedByTheInputSize)
{
    // Each level refers twice to the next: 21 levels expand to 2^21 copies of the last one,
    // about 270 MB of tree from 300 bytes, refused without building anything.
    std::vector<Bytes> objects;
    for (uint8_t i = 0; i < 21; ++i)
        objects.push_back({ 0xA2, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1) });
    objects.push_back({ 0x09 });
    EXPECT_EQ(readError(rawPlist(objects)), "property list would expand too much");
    // Twelve levels (4,096 copies) are an ordinary shared structure.
    objects.erase(objects.begin() + 12, objects.end() - 1);
    objects[11] = { 0xA2, 12, 12 };
    EXPECT_TRUE(readBinaryPlistBytes(rawPlist(objects)));

    // Nesting deeper than the limit is refused even without sharing.
    objects.clear();
    for (uint8_t i = 0; i < 40; ++i)
        objects.push_back({ 0xA1, static_cast<uint8_t>(i + 1) });
    objects.push_back({ 0x09 });
    EXPECT_EQ(readError(rawPlist(objects)), "property list nested too deeply");
}

TEST(BinaryPlistWriter, WritesAndReadsInLinearTime)
{
    // Writing and reading 4 times as many objects may take at most 12 times as long (a
    // quadratic writer takes 16 times as long; cache and page-fault costs of the larger tree
    // alone reach about 8). Best of a few runs, in CPU time.
    auto measure = [](int bars, int runs) {
        const PlistValue archive = test::songShapedArchive(bars);
        double write = 1e9, read = 1e9;
        for (int run = 0; run < runs; ++run) {
            double start = test::threadSeconds();
            const auto bytes = writeBinaryPlistBytes(archive);
            write = std::min(write, test::threadSeconds() - start);
            start = test::threadSeconds();
            const auto parsed = readBinaryPlistBytes(bytes);
            read = std::min(read, test::threadSeconds() - start);
            EXPECT_TRUE(
                parsed && parsed->find("$objects")->items.size() == 2 + 17 * static_cast<size_t>(bars));
        }
        return std::pair { write, read };
    };
    const auto [smallWrite, smallRead] = measure(1500, 2);
    const auto [largeWrite, largeRead] = measure(6000, 3);
    const std::string figures = "1,500 bars: write " + std::to_string(smallWrite) + " s, read "
        + std::to_string(smallRead) + " s; 6,000 bars: write " + std::to_string(largeWrite) + " s, read "
        + std::to_string(largeRead) + " s";
    EXPECT_LT(largeWrite, 12 * smallWrite) << figures;
    EXPECT_LT(largeRead, 12 * smallRead) << figures;
    RecordProperty("timings", figures);
}
