// Our binary property lists against two implementations nobody here wrote: Python's plistlib
// and libplist. Each must read what we write as the same values, and we must read theirs.
#include "BinaryPlistTestSupport.h"
#include "archive/BinaryPlistReader.h"
#include "archive/BinaryPlistWriter.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

using namespace rp::keyed;
using namespace rp::keyed::test;
using BinaryPlistPythonTest = rp::keyed::test::PythonTest;

namespace {

PlistValue integers(std::initializer_list<int64_t> values)
{
    PlistValue array = arr();
    for (int64_t value : values)
        array.items.push_back(num(value));
    return array;
}

PlistValue range(int64_t from, int64_t to)
{
    PlistValue array = arr();
    for (int64_t i = from; i < to; ++i)
        array.items.push_back(num(i));
    return array;
}

} // namespace

TEST_F(BinaryPlistPythonTest, MatchesPlistlibBytesWhereTheEncodingsCoincide)
{
    // plistlib writes every real in 8 bytes and shares neither UIDs nor containers; this list
    // has no 4-byte reals and no repeated UID, so both writers must produce the same bytes:
    // lengths in the marker up to 14 and after it from 15, integers in 1, 2, 4 or 8 bytes, equal
    // values once, 2-byte references past 255 objects.
    std::string output;
    ASSERT_EQ(runPython(R"PY(
import plistlib, datetime
from plistlib import UID
value = {
    'name': 'Caf\u00e9 \u2603 \U0001F941',
    'ints': [0, 255, 256, 65535, 65536, 4294967296, -5, 255],
    'many': list(range(1000, 1300)),
    'list': [1.5, True, False, b'\x00\x01', 'hello', 1.5, 'x' * 14, 'x' * 15, b'y' * 300, 'hello'],
    'nested': {'k': 'v', 'empty': [], 'e': {}},
    'uid': UID(7), 'big uid': UID(70000),
    'when': datetime.datetime(2020, 1, 2, 3, 4, 5),
}
print(plistlib.dumps(value, fmt=plistlib.FMT_BINARY, sort_keys=False).hex())
)PY",
                  output),
        0)
        << output;
    const PlistValue value = dictionaryOf({
        { "name", str("Caf\xC3\xA9 \xE2\x98\x83 \xF0\x9F\xA5\x81") },
        { "ints", integers({ 0, 255, 256, 65535, 65536, 4294967296, -5, 255 }) },
        { "many", range(1000, 1300) },
        { "list",
            arr({ PlistValue::makeReal(1.5), PlistValue::makeBoolean(true), PlistValue::makeBoolean(false),
                PlistValue::makeData({ 0, 1 }), str("hello"), PlistValue::makeReal(1.5),
                str(std::string(14, 'x')), str(std::string(15, 'x')),
                PlistValue::makeData(std::vector<uint8_t>(300, 'y')), str("hello") }) },
        { "nested",
            dictionaryOf({ { "k", str("v") }, { "empty", arr() }, { "e", PlistValue::makeDictionary() } }) },
        { "uid", uid(7) },
        { "big uid", uid(70000) },
        // 2020-01-02 03:04:05 is 6,940 days and 11,045 seconds after 2001-01-01.
        { "when", PlistValue::makeDate(6940.0 * 86400 + 11045) },
    });
    std::string hex;
    for (uint8_t b : writeBinaryPlistBytes(value))
        hex += "0123456789abcdef"[b >> 4] + std::string(1, "0123456789abcdef"[b & 0xF]);
    EXPECT_EQ(hex + "\n", output);
}

TEST_F(BinaryPlistPythonTest, PlistlibReadsEveryKindWeWriteAndWeReadItsOutput)
{
    std::vector<PlistValue> many;
    for (int i = 0; i < 70000; ++i)
        many.push_back(num(i * 3 - 1000)); // 4-byte references
    const PlistValue value = dictionaryOf({
        { "ints", integers({ INT64_MIN, -1, INT64_MAX, 65536 }) },
        { "reals",
            arr({ PlistValue::makeFloat(0.5f), PlistValue::makeFloat(-3.25f),
                PlistValue::makeFloat(3.4028234663852886e38f), PlistValue::makeReal(0.1),
                PlistValue::makeReal(-0.0) }) },
        { "text", arr({ str(""), str("\xF0\x9F\xA5\x81"), str(std::string("a\0b", 3)) }) },
        { "uids", arr({ uid(0), uid(0), uid(65536) }) },
        { "data", PlistValue::makeData(std::vector<uint8_t>(70000, 9)) },
        { "date", PlistValue::makeDate(-0.5) },
        { "flags", arr({ PlistValue::makeBoolean(true), PlistValue::makeBoolean(false) }) },
        { "many", arr(std::move(many)) },
    });
    rp::test::writeFileBytes(dir_ / "ours.plist", writeBinaryPlistBytes(value));
    std::string output;
    ASSERT_EQ(runPython(R"PY(
import plistlib, sys, datetime
from plistlib import UID
with open(sys.argv[1] + '/ours.plist', 'rb') as f:
    v = plistlib.load(f)
assert v['ints'] == [-2**63, -1, 2**63 - 1, 65536], v['ints']
assert v['reals'] == [0.5, -3.25, 3.4028234663852886e38, 0.1, 0.0], v['reals']
assert str(v['reals'][4]) == '-0.0'
assert v['text'] == ['', '\U0001F941', 'a\x00b'], v['text']
assert v['uids'] == [UID(0), UID(0), UID(65536)], v['uids']
assert v['data'] == b'\x09' * 70000
assert v['date'] == datetime.datetime(2000, 12, 31, 23, 59, 59, 500000), v['date']
assert v['flags'] == [True, False]
assert v['many'] == [i * 3 - 1000 for i in range(70000)]
assert list(v) == ['ints', 'reals', 'text', 'uids', 'data', 'date', 'flags', 'many'], list(v)
value = {'s': 'caf\u00e9', 'n': [-1, 2**64 - 1, 7], 'r': 2.5, 'u': UID(3), 'd': b'xyz',
         'big': list(range(300))}
with open(sys.argv[1] + '/theirs.plist', 'wb') as f:
    plistlib.dump(value, f, fmt=plistlib.FMT_BINARY)
)PY",
                  output),
        0)
        << output;
    std::string error;
    const auto parsed = readBinaryPlistBytes(rp::test::readFileBytes(dir_ / "theirs.plist"), &error);
    ASSERT_TRUE(parsed) << error;
    // plistlib sorts keys; 2^64-1 comes as a 16-byte integer and reads as its 64-bit pattern.
    EXPECT_TRUE(samePlist(*parsed,
        dictionaryOf({ { "big", range(0, 300) }, { "d", PlistValue::makeData({ 'x', 'y', 'z' }) },
            { "n", integers({ -1, -1, 7 }) }, { "r", PlistValue::makeReal(2.5) }, { "s", str("caf\xC3\xA9") },
            { "u", uid(3) } })));
}

// libplist reads our bytes and writes them again with its own choices of widths and sharing
// (plistlib above checks that our bytes mean what we meant); we must read its bytes as the values.
TEST(BinaryPlistLibplist, WeReadLibplistsRewritingOfOurBytesAsTheSameValues)
{
    // Values both libraries hold alike: no zero characters, whole-second dates.
    const PlistValue common = dictionaryOf({
        { "$version", num(100000) },
        { "ints", integers({ -1, INT64_MIN, 300, 1LL << 40 }) },
        { "reals", arr({ PlistValue::makeFloat(0.25f), PlistValue::makeReal(1.0 / 3.0) }) },
        { "strings", arr({ str("plain"), str("\xC3\xBC\xE2\x82\xAC"), str(std::string(40, 'z')) }) },
        { "uids", arr({ uid(1), uid(1), uid(1u << 20) }) },
        { "data", PlistValue::makeData({ 1, 2, 3 }) },
        { "date", PlistValue::makeDate(123456789) },
        { "flag", PlistValue::makeBoolean(true) },
        { "nested", dictionaryOf({ { "a", arr({ PlistValue::makeDictionary() }) } }) },
    });
    for (const PlistValue& value : { common, test::songShapedArchive(50) }) {
        const auto ours = writeBinaryPlistBytes(value);
        plist_t root = nullptr;
        plist_from_bin(reinterpret_cast<const char*>(ours.data()), static_cast<uint32_t>(ours.size()), &root);
        ASSERT_NE(root, nullptr);
        char* buffer = nullptr;
        uint32_t length = 0;
        plist_to_bin(root, &buffer, &length);
        plist_free(root);
        ASSERT_NE(buffer, nullptr);
        const std::vector<uint8_t> theirs(
            reinterpret_cast<uint8_t*>(buffer), reinterpret_cast<uint8_t*>(buffer) + length);
        plist_to_bin_free(buffer);
        std::string error;
        const auto parsed = readBinaryPlistBytes(theirs, &error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_TRUE(samePlist(*parsed, value, true));
    }
}
