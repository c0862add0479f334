// Our binary property lists against two implementations nobody here wrote: Python's plistlib
// and libplist. Each must read what we write as the same values, and we must read theirs.
#include "BinaryPlistTestSupport.h"
#include "archive/BinaryPlistReader.h"
#include "archive/BinaryPlistWriter.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <plist/plist.h>

using namespace rp::keyed;
using rp::keyed::test::dictionaryOf;
using rp::keyed::test::samePlist;

namespace {

std::string hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

class BinaryPlistPythonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rp::test::haveTool("python3"))
            GTEST_SKIP() << "python3 not available";
    }

    int runPython(const std::string& script, std::string& output)
    {
        const auto path = dir_ / "script.py";
        std::ofstream(path) << script;
        return rp::test::runCommand(
            "python3 '" + path.string() + "' '" + dir_.path().string() + "' 2>&1", &output);
    }

    rp::test::TempDir dir_;
};

} // namespace

TEST_F(BinaryPlistPythonTest, MatchesPlistlibBytesWhereTheEncodingsCoincide)
{
    // plistlib writes every real in 8 bytes and shares neither UIDs nor containers; this list
    // has no 4-byte reals and no repeated UID, so both writers must produce the same bytes.
    std::string output;
    ASSERT_EQ(runPython(R"PY(
import plistlib, datetime
from plistlib import UID
value = {
    'name': 'Caf\u00e9 \u2603 \U0001F941', 'ascii': 'hello',
    'list': [0, 255, 256, 65535, 65536, 4294967296, -5, 1.5, True, False, b'\x00\x01', 'hello', 1.5,
             'x' * 20, b'y' * 300],
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
        { "name", PlistValue::makeString("Caf\xC3\xA9 \xE2\x98\x83 \xF0\x9F\xA5\x81") },
        { "ascii", PlistValue::makeString("hello") },
        { "list",
            PlistValue::makeArray({ PlistValue::makeInteger(0), PlistValue::makeInteger(255),
                PlistValue::makeInteger(256), PlistValue::makeInteger(65535), PlistValue::makeInteger(65536),
                PlistValue::makeInteger(4294967296), PlistValue::makeInteger(-5), PlistValue::makeReal(1.5),
                PlistValue::makeBoolean(true), PlistValue::makeBoolean(false), PlistValue::makeData({ 0, 1 }),
                PlistValue::makeString("hello"), PlistValue::makeReal(1.5),
                PlistValue::makeString(std::string(20, 'x')),
                PlistValue::makeData(std::vector<uint8_t>(300, 'y')) }) },
        { "nested",
            dictionaryOf({ { "k", PlistValue::makeString("v") }, { "empty", PlistValue::makeArray() },
                { "e", PlistValue::makeDictionary() } }) },
        { "uid", PlistValue::makeUid(7) },
        { "big uid", PlistValue::makeUid(70000) },
        // 2020-01-02 03:04:05 is 6,940 days and 11,045 seconds after 2001-01-01.
        { "when", PlistValue::makeDate(6940.0 * 86400 + 11045) },
    });
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    EXPECT_EQ(hex(writeBinaryPlistBytes(value)), output);
}

TEST_F(BinaryPlistPythonTest, PlistlibReadsEveryKindWeWrite)
{
    std::vector<PlistValue> many;
    for (int i = 0; i < 70000; ++i)
        many.push_back(PlistValue::makeInteger(i * 3 - 1000)); // 4-byte references
    const PlistValue value = dictionaryOf({
        { "ints",
            PlistValue::makeArray({ PlistValue::makeInteger(INT64_MIN), PlistValue::makeInteger(-1),
                PlistValue::makeInteger(INT64_MAX), PlistValue::makeInteger(65536) }) },
        { "reals",
            PlistValue::makeArray({ PlistValue::makeFloat(0.5f), PlistValue::makeFloat(-3.25f),
                PlistValue::makeFloat(3.4028234663852886e38f), PlistValue::makeReal(0.1),
                PlistValue::makeReal(-0.0) }) },
        { "text",
            PlistValue::makeArray({ PlistValue::makeString(""), PlistValue::makeString("\xF0\x9F\xA5\x81"),
                PlistValue::makeString(std::string("a\0b", 3)) }) },
        { "uids",
            PlistValue::makeArray(
                { PlistValue::makeUid(0), PlistValue::makeUid(0), PlistValue::makeUid(65536) }) },
        { "data", PlistValue::makeData(std::vector<uint8_t>(70000, 9)) },
        { "date", PlistValue::makeDate(-0.5) },
        { "flags", PlistValue::makeArray({ PlistValue::makeBoolean(true), PlistValue::makeBoolean(false) }) },
        { "many", PlistValue::makeArray(std::move(many)) },
    });
    rp::test::writeFileBytes(dir_ / "ours.plist", writeBinaryPlistBytes(value));
    std::string output;
    EXPECT_EQ(runPython(R"PY(
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
print('ok')
)PY",
                  output),
        0)
        << output;
}

TEST_F(BinaryPlistPythonTest, WeReadPlistlibOutput)
{
    std::string output;
    ASSERT_EQ(runPython(R"PY(
import plistlib, sys
from plistlib import UID
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
    std::vector<PlistValue> range;
    for (int i = 0; i < 300; ++i)
        range.push_back(PlistValue::makeInteger(i));
    // plistlib sorts keys; 2^64-1 comes as a 16-byte integer and reads as its 64-bit pattern.
    EXPECT_TRUE(samePlist(*parsed,
        dictionaryOf({ { "big", PlistValue::makeArray(std::move(range)) },
            { "d", PlistValue::makeData({ 'x', 'y', 'z' }) },
            { "n",
                PlistValue::makeArray({ PlistValue::makeInteger(-1), PlistValue::makeInteger(-1),
                    PlistValue::makeInteger(7) }) },
            { "r", PlistValue::makeReal(2.5) }, { "s", PlistValue::makeString("caf\xC3\xA9") },
            { "u", PlistValue::makeUid(3) } })));
}

namespace {

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using LibPlist = std::unique_ptr<void, PlistFree>;

// libplist's tree to ours (libplist keeps no real widths and dates to the microsecond).
PlistValue fromLibplist(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PlistValue::makeBoolean(b != 0);
    }
    case PLIST_UINT: {
        uint64_t n = 0;
        plist_get_uint_val(node, &n);
        return PlistValue::makeInteger(static_cast<int64_t>(n));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return PlistValue::makeReal(d);
    }
    case PLIST_DATE: {
        int32_t seconds = 0, microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        return PlistValue::makeDate(seconds + microseconds / 1e6);
    }
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        PlistValue value = PlistValue::makeString(text ? text : "");
        std::free(text);
        return value;
    }
    case PLIST_DATA: {
        char* data = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &data, &length);
        const auto* begin = reinterpret_cast<const uint8_t*>(data);
        PlistValue value = PlistValue::makeData(std::vector<uint8_t>(begin, begin + length));
        std::free(data);
        return value;
    }
    case PLIST_UID: {
        uint64_t n = 0;
        plist_get_uid_val(node, &n);
        return PlistValue::makeUid(n);
    }
    case PLIST_ARRAY: {
        PlistValue array = PlistValue::makeArray();
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            array.items.push_back(fromLibplist(plist_array_get_item(node, i)));
        return array;
    }
    case PLIST_DICT: {
        PlistValue dictionary = PlistValue::makeDictionary();
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &key, &item);
            if (!item)
                break;
            dictionary.entries.emplace_back(key, fromLibplist(item));
            std::free(key);
        }
        std::free(iter);
        return dictionary;
    }
    default:
        ADD_FAILURE() << "unexpected libplist node";
        return {};
    }
}

plist_t toLibplist(const PlistValue& value)
{
    using Kind = PlistValue::Kind;
    switch (value.kind) {
    case Kind::Boolean:
        return plist_new_bool(value.boolean);
    case Kind::Integer:
        return plist_new_uint(static_cast<uint64_t>(value.integer));
    case Kind::Real:
        return plist_new_real(value.real);
    case Kind::Date:
        return plist_new_date(static_cast<int32_t>(value.real), 0);
    case Kind::String:
        return plist_new_string(value.text.c_str());
    case Kind::Data:
        return plist_new_data(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size());
    case Kind::Uid:
        return plist_new_uid(static_cast<uint64_t>(value.integer));
    case Kind::Array: {
        plist_t array = plist_new_array();
        for (const auto& item : value.items)
            plist_array_append_item(array, toLibplist(item));
        return array;
    }
    case Kind::Dictionary: {
        plist_t dictionary = plist_new_dict();
        for (const auto& [key, item] : value.entries)
            plist_dict_set_item(dictionary, key.c_str(), toLibplist(item));
        return dictionary;
    }
    }
    return nullptr;
}

// Values both libraries hold alike: no zero characters, whole-second dates.
PlistValue commonValue()
{
    return dictionaryOf({
        { "$version", PlistValue::makeInteger(100000) },
        { "ints",
            PlistValue::makeArray({ PlistValue::makeInteger(-1), PlistValue::makeInteger(INT64_MIN),
                PlistValue::makeInteger(300), PlistValue::makeInteger(1LL << 40) }) },
        { "reals", PlistValue::makeArray({ PlistValue::makeFloat(0.25f), PlistValue::makeReal(1.0 / 3.0) }) },
        { "strings",
            PlistValue::makeArray(
                { PlistValue::makeString("plain"), PlistValue::makeString("\xC3\xBC\xE2\x82\xAC"),
                    PlistValue::makeString(std::string(40, 'z')) }) },
        { "uids",
            PlistValue::makeArray(
                { PlistValue::makeUid(1), PlistValue::makeUid(1), PlistValue::makeUid(1u << 20) }) },
        { "data", PlistValue::makeData({ 1, 2, 3 }) },
        { "date", PlistValue::makeDate(123456789) },
        { "flag", PlistValue::makeBoolean(true) },
        { "nested", dictionaryOf({ { "a", PlistValue::makeArray({ PlistValue::makeDictionary() }) } }) },
    });
}

} // namespace

TEST(BinaryPlistLibplist, LibplistReadsOurBytesAsTheSameValues)
{
    for (const PlistValue& value : { commonValue(), test::songShapedArchive(50) }) {
        const auto bytes = writeBinaryPlistBytes(value);
        plist_t root = nullptr;
        plist_from_bin(
            reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &root);
        ASSERT_NE(root, nullptr);
        LibPlist holder(root);
        EXPECT_TRUE(samePlist(fromLibplist(root), value, true));
    }
}

TEST(BinaryPlistLibplist, WeReadLibplistBytesAsTheSameValues)
{
    for (const PlistValue& value : { commonValue(), test::songShapedArchive(50) }) {
        LibPlist root(toLibplist(value));
        char* buffer = nullptr;
        uint32_t length = 0;
        plist_to_bin(static_cast<plist_t>(root.get()), &buffer, &length);
        ASSERT_NE(buffer, nullptr);
        const std::vector<uint8_t> bytes(
            reinterpret_cast<uint8_t*>(buffer), reinterpret_cast<uint8_t*>(buffer) + length);
        plist_to_bin_free(buffer);
        std::string error;
        const auto parsed = readBinaryPlistBytes(bytes, &error);
        ASSERT_TRUE(parsed) << error;
        // libplist chooses its own real widths; the values are the same.
        EXPECT_TRUE(samePlist(*parsed, value, true));
    }
}
