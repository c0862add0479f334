#pragma once

#include "archive/KeyedArchivePlist.h"
#include "support/TestSupport.h"

#include <bit>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace rp::keyed::test {

inline PlistValue dictionaryOf(std::vector<std::pair<std::string, PlistValue>> entries)
{
    PlistValue dictionary = PlistValue::makeDictionary();
    dictionary.entries = std::move(entries);
    return dictionary;
}

// Short makers for the lists the tests build.
inline PlistValue str(std::string text)
{
    return PlistValue::makeString(std::move(text));
}
inline PlistValue num(int64_t value)
{
    return PlistValue::makeInteger(value);
}
inline PlistValue uid(uint64_t value)
{
    return PlistValue::makeUid(value);
}
inline PlistValue arr(std::vector<PlistValue> items = {})
{
    return PlistValue::makeArray(std::move(items));
}

// An unambiguous text form of a property list: kinds, lengths, reals bit for bit (NaN equals
// NaN, 0.0 and -0.0 differ), reals' stored widths unless `ignoreRealWidth`, entries in order.
inline std::string describePlist(const PlistValue& v, bool ignoreRealWidth)
{
    using Kind = PlistValue::Kind;
    std::string out = std::to_string(static_cast<int>(v.kind)) + ":";
    auto counted = [&](const std::string& text) { return std::to_string(text.size()) + "'" + text; };
    switch (v.kind) {
    case Kind::Boolean:
    case Kind::Integer:
    case Kind::Uid:
        return out + std::to_string(v.kind == Kind::Boolean ? v.boolean : v.integer);
    case Kind::Real:
        out += !ignoreRealWidth && v.singlePrecision ? "f" : "";
        [[fallthrough]];
    case Kind::Date:
        return out + std::to_string(std::bit_cast<uint64_t>(v.real));
    case Kind::String:
        return out + counted(v.text);
    case Kind::Data:
        return out + counted(std::string(v.bytes.begin(), v.bytes.end()));
    case Kind::Array:
        for (const auto& item : v.items)
            out += describePlist(item, ignoreRealWidth) + ",";
        return out + "]";
    case Kind::Dictionary:
        for (const auto& [key, item] : v.entries)
            out += counted(key) + "=" + describePlist(item, ignoreRealWidth) + ",";
        return out + "}";
    }
    return out + "?";
}

// Compares two property lists exactly (see describePlist); a failure shows where they part.
inline ::testing::AssertionResult samePlist(
    const PlistValue& a, const PlistValue& b, bool ignoreRealWidth = false)
{
    const std::string x = describePlist(a, ignoreRealWidth), y = describePlist(b, ignoreRealWidth);
    if (x == y)
        return ::testing::AssertionSuccess();
    const size_t at = std::mismatch(x.begin(), x.end(), y.begin(), y.end()).first - x.begin();
    const size_t from = at < 40 ? 0 : at - 40;
    return ::testing::AssertionFailure()
        << "lists part at " << at << ": ..." << x.substr(from, 80) << " vs ..." << y.substr(from, 80);
}

// A keyed-archive-shaped list like a song's: `bars` pattern objects of 16 event objects each,
// every event a dictionary with a class reference, a drum reference and two 4-byte reals.
inline PlistValue songShapedArchive(int bars)
{
    std::vector<PlistValue> objects { str("$null"),
        dictionaryOf(
            { { "$classname", str("Event") }, { "$classes", arr({ str("Event"), str("NSObject") }) } }) };
    for (int bar = 0; bar < bars; ++bar) {
        std::vector<PlistValue> events;
        for (int e = 0; e < 16; ++e)
            events.push_back(uid(objects.size() + 1 + static_cast<size_t>(e)));
        objects.push_back(dictionaryOf({ { "$class", uid(1) },
            { "bpm", PlistValue::makeReal(100.0 + bar % 50) }, { "events", arr(std::move(events)) } }));
        for (int e = 0; e < 16; ++e) {
            objects.push_back(dictionaryOf({ { "$class", uid(1) },
                { "drum", uid(1 + static_cast<uint64_t>(e % 12)) },
                { "whenRatio", PlistValue::makeFloat(static_cast<float>(e) / 16.0f) },
                { "velocity", PlistValue::makeFloat(static_cast<float>((bar * 16 + e) % 128) / 127.0f) } }));
        }
    }
    return dictionaryOf({ { "$version", num(100000) }, { "$archiver", str("NSKeyedArchiver") },
        { "$top", dictionaryOf({ { "root", uid(2) } }) }, { "$objects", arr(std::move(objects)) } });
}

// A binary property list assembled from raw object encodings whose references take `refSize`
// bytes; offsets take 8 bytes; the top object is the first.
inline std::vector<uint8_t> rawPlist(const std::vector<std::vector<uint8_t>>& objects, int refSize = 1)
{
    std::vector<uint8_t> out = { 'b', 'p', 'l', 'i', 's', 't', '0', '0' }, table;
    auto put = [](std::vector<uint8_t>& to, uint64_t value) {
        for (int shift = 56; shift >= 0; shift -= 8)
            to.push_back(static_cast<uint8_t>(value >> shift));
    };
    for (const auto& object : objects) {
        put(table, out.size());
        out.insert(out.end(), object.begin(), object.end());
    }
    const uint64_t tableOffset = out.size();
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), { 0, 0, 0, 0, 0, 0, 8, static_cast<uint8_t>(refSize) });
    put(out, objects.size());
    put(out, 0);
    put(out, tableOffset);
    return out;
}

// CPU seconds used by the calling thread (steadier than wall time on a busy machine).
inline double threadSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Base for tests that cross-check with Python's plistlib; skipped where python3 is missing.
class PythonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rp::test::haveTool("python3"))
            GTEST_SKIP() << "python3 not available";
    }
    // Runs `script` with the temporary folder as its first argument; returns its exit status.
    int runPython(const std::string& script, std::string& output)
    {
        const auto path = dir_ / "script.py";
        std::ofstream(path) << script;
        return rp::test::runCommand(
            "python3 '" + path.string() + "' '" + dir_.path().string() + "' 2>&1", &output);
    }
    rp::test::TempDir dir_;
};

} // namespace rp::keyed::test
