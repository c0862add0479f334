#pragma once

#include "archive/KeyedArchivePlist.h"

#include <bit>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace rp::keyed::test {

inline PlistValue dictionaryOf(std::vector<std::pair<std::string, PlistValue>> entries)
{
    PlistValue dictionary = PlistValue::makeDictionary();
    dictionary.entries = std::move(entries);
    return dictionary;
}

// Compares two property lists exactly: kinds, values, reals bit for bit (NaN equals NaN, 0.0
// and -0.0 differ), reals' stored widths unless `ignoreRealWidth`, entries in order.
inline ::testing::AssertionResult samePlist(
    const PlistValue& a, const PlistValue& b, bool ignoreRealWidth = false, const std::string& path = "$")
{
    using Kind = PlistValue::Kind;
    auto differ
        = [&](const std::string& what) { return ::testing::AssertionFailure() << path << ": " << what; };
    if (a.kind != b.kind)
        return differ("kinds differ");
    switch (a.kind) {
    case Kind::Boolean:
        return a.boolean == b.boolean ? ::testing::AssertionSuccess() : differ("booleans differ");
    case Kind::Integer:
    case Kind::Uid:
        if (a.integer != b.integer)
            return differ(std::to_string(a.integer) + " != " + std::to_string(b.integer));
        return ::testing::AssertionSuccess();
    case Kind::Real:
        if (!ignoreRealWidth && a.singlePrecision != b.singlePrecision)
            return differ("real widths differ");
        [[fallthrough]];
    case Kind::Date:
        if (std::bit_cast<uint64_t>(a.real) != std::bit_cast<uint64_t>(b.real))
            return differ(std::to_string(a.real) + " != " + std::to_string(b.real));
        return ::testing::AssertionSuccess();
    case Kind::String:
        return a.text == b.text ? ::testing::AssertionSuccess()
                                : differ("'" + a.text + "' != '" + b.text + "'");
    case Kind::Data:
        return a.bytes == b.bytes ? ::testing::AssertionSuccess() : differ("data differ");
    case Kind::Array:
        if (a.items.size() != b.items.size())
            return differ("array lengths differ");
        for (size_t i = 0; i < a.items.size(); ++i) {
            if (auto r
                = samePlist(a.items[i], b.items[i], ignoreRealWidth, path + "[" + std::to_string(i) + "]");
                !r)
                return r;
        }
        return ::testing::AssertionSuccess();
    case Kind::Dictionary:
        if (a.entries.size() != b.entries.size())
            return differ("dictionary sizes differ");
        for (size_t i = 0; i < a.entries.size(); ++i) {
            if (a.entries[i].first != b.entries[i].first)
                return differ("key '" + a.entries[i].first + "' != '" + b.entries[i].first + "'");
            if (auto r = samePlist(a.entries[i].second, b.entries[i].second, ignoreRealWidth,
                    path + "." + a.entries[i].first);
                !r)
                return r;
        }
        return ::testing::AssertionSuccess();
    }
    return differ("unknown kind");
}

// A keyed-archive-shaped list like a song's: `bars` pattern objects of 16 event objects each,
// every event a dictionary with a class reference, a drum reference and two 4-byte reals.
inline PlistValue songShapedArchive(int bars)
{
    std::vector<PlistValue> objects;
    objects.reserve(2 + 17 * static_cast<size_t>(bars));
    objects.push_back(PlistValue::makeString("$null"));
    PlistValue description = PlistValue::makeDictionary();
    description.set("$classname", PlistValue::makeString("Event"));
    description.set("$classes",
        PlistValue::makeArray({ PlistValue::makeString("Event"), PlistValue::makeString("NSObject") }));
    objects.push_back(std::move(description));
    for (int bar = 0; bar < bars; ++bar) {
        objects.push_back(PlistValue::makeDictionary());
        PlistValue& pattern = objects.back();
        pattern.entries.reserve(3);
        pattern.entries.emplace_back("$class", PlistValue::makeUid(1));
        pattern.entries.emplace_back("bpm", PlistValue::makeReal(100.0 + bar % 50));
        pattern.entries.emplace_back("events", PlistValue::makeArray());
        std::vector<PlistValue>& events = pattern.entries.back().second.items;
        events.reserve(16);
        for (int e = 0; e < 16; ++e)
            events.push_back(PlistValue::makeUid(objects.size() + static_cast<size_t>(e)));
        for (int e = 0; e < 16; ++e) {
            objects.push_back(PlistValue::makeDictionary());
            auto& entries = objects.back().entries;
            entries.reserve(4);
            entries.emplace_back("$class", PlistValue::makeUid(1));
            entries.emplace_back("drum", PlistValue::makeUid(1 + static_cast<uint64_t>(e % 12)));
            entries.emplace_back("whenRatio", PlistValue::makeFloat(static_cast<float>(e) / 16.0f));
            entries.emplace_back(
                "velocity", PlistValue::makeFloat(static_cast<float>((bar * 16 + e) % 128) / 127.0f));
        }
    }
    PlistValue top = PlistValue::makeDictionary();
    top.set("root", PlistValue::makeUid(2));
    PlistValue archive = PlistValue::makeDictionary();
    archive.set("$version", PlistValue::makeInteger(100000));
    archive.set("$archiver", PlistValue::makeString("NSKeyedArchiver"));
    archive.set("$top", std::move(top));
    archive.set("$objects", PlistValue::makeArray(std::move(objects)));
    return archive;
}

// CPU seconds used by the calling thread (steadier than wall time on a busy machine).
inline double threadSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

} // namespace rp::keyed::test
