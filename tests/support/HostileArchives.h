#pragma once

// Makes hostile variants of a real keyed archive (a binary property list): every value of every
// class replaced by values of every other kind and by extremes, collection and string lengths in
// the binary form set to extremes, and seeded byte flips. Each variant goes to a callback with a
// label that names it; BoundedCase times one reader call.

#include "archive/KeyedArchivePlist.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace rp::test {

using HostileCase = std::function<void(const std::string& label, const std::vector<uint8_t>& bytes)>;

// Values of every kind a property list holds, extremes included. `objectCount` is the size of
// $objects, `self` the index of the object they go into, `classIndex` the index of its class.
inline std::vector<std::pair<std::string, keyed::PlistValue>> hostileValues(
    size_t objectCount, size_t self, size_t classIndex)
{
    using keyed::PlistValue;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    return {
        { "int min", PlistValue::makeInteger(std::numeric_limits<int64_t>::min()) },
        { "int max", PlistValue::makeInteger(std::numeric_limits<int64_t>::max()) },
        { "int -1", PlistValue::makeInteger(-1) },
        { "int 0", PlistValue::makeInteger(0) },
        { "int 2^31", PlistValue::makeInteger(int64_t { 1 } << 31) },
        { "real nan", PlistValue::makeReal(nan) },
        { "real inf", PlistValue::makeReal(inf) },
        { "real -inf", PlistValue::makeReal(-inf) },
        { "real 1e300", PlistValue::makeReal(1e300) },
        { "float nan", PlistValue::makeFloat(std::numeric_limits<float>::quiet_NaN()) },
        { "float -0", PlistValue::makeFloat(-0.0f) },
        { "bool", PlistValue::makeBoolean(true) },
        { "date", PlistValue::makeDate(-1e12) },
        { "empty string", PlistValue::makeString("") },
        { "string", PlistValue::makeString("../x/\xC3\xA9") },
        { "empty data", PlistValue::makeData({}) },
        { "data", PlistValue::makeData(std::vector<uint8_t>(300, 0xFF)) },
        { "uid null", PlistValue::makeUid(0) },
        { "uid self", PlistValue::makeUid(self) },
        { "uid class", PlistValue::makeUid(classIndex) },
        { "uid past end", PlistValue::makeUid(objectCount) },
        { "uid huge", PlistValue::makeUid(uint64_t { 1 } << 40) },
        { "empty array", PlistValue::makeArray() },
        { "array of self", PlistValue::makeArray({ PlistValue::makeUid(self), PlistValue::makeUid(self) }) },
        { "array of ints",
            PlistValue::makeArray({ PlistValue::makeInteger(-5), PlistValue::makeInteger(7) }) },
        { "dictionary", PlistValue::makeDictionary() },
    };
}

// Calls `check` with the archive rewritten once for every entry of the first object of each
// class, of each class description, and of $top and the archive's own dictionary, with every
// value of hostileValues in turn.
inline void forEachWrongValue(std::span<const uint8_t> archive, const HostileCase& check)
{
    using keyed::PlistValue;
    std::string problem;
    const auto parsed = keyed::parseBinaryPlist(archive, &problem);
    ASSERT_TRUE(parsed) << problem;
    const PlistValue* objects = parsed->find("$objects");
    ASSERT_TRUE(objects);
    const size_t count = objects->items.size();
    auto rewrite = [&](const std::string& where, const std::function<PlistValue&(PlistValue&)>& dictionaryIn,
                       size_t self, size_t classIndex) {
        PlistValue copy = *parsed;
        const size_t entries = dictionaryIn(copy).entries.size();
        for (size_t e = 0; e < entries; ++e) {
            for (const auto& [label, value] : hostileValues(count, self, classIndex)) {
                PlistValue changed = *parsed;
                auto& entry = dictionaryIn(changed).entries[e];
                const std::string name = where + "." + entry.first + " = " + label;
                entry.second = value;
                const auto bytes = keyed::writeBinaryPlist(changed);
                ASSERT_FALSE(bytes.empty()) << name;
                check(name, bytes);
            }
        }
    };
    std::set<std::string> seenClasses;
    for (size_t i = 0; i < count; ++i) {
        const PlistValue& object = objects->items[i];
        const PlistValue* classRef = object.find("$class");
        if (object.kind != PlistValue::Kind::Dictionary || !classRef
            || classRef->kind != PlistValue::Kind::Uid)
            continue;
        const size_t classIndex = static_cast<size_t>(classRef->integer);
        ASSERT_LT(classIndex, count);
        const PlistValue* className = objects->items[classIndex].find("$classname");
        ASSERT_TRUE(className);
        if (!seenClasses.insert(className->text).second)
            continue;
        auto objectAt = [i](size_t index) {
            return [index](PlistValue& root) -> PlistValue& { return root.find("$objects")->items[index]; };
        };
        rewrite(className->text, objectAt(i), i, classIndex);
        rewrite(className->text + " class", objectAt(classIndex), i, classIndex);
    }
    rewrite(
        "$top", [](PlistValue& root) -> PlistValue& { return *root.find("$top"); }, 1, 0);
    rewrite(
        "archive", [](PlistValue& root) -> PlistValue& { return root; }, 1, 0);
}

// Calls `check` with copies of a binary property list in which the stored length of every string,
// data, array and dictionary, the width of every integer and the fields of the trailer are set
// to extremes.
inline void forEachLengthExtreme(const std::vector<uint8_t>& plist, const HostileCase& check)
{
    ASSERT_GE(plist.size(), 40u);
    const size_t trailer = plist.size() - 32;
    const int offsetSize = plist[trailer + 6];
    auto readBig = [&](size_t at, int width) {
        uint64_t value = 0;
        for (int i = 0; i < width; ++i)
            value = value << 8 | plist[at + static_cast<size_t>(i)];
        return value;
    };
    const uint64_t objects = readBig(trailer + 8, 8);
    const uint64_t table = readBig(trailer + 24, 8);
    ASSERT_LE(table + objects * static_cast<uint64_t>(offsetSize), trailer);
    for (uint64_t i = 0; i < objects; ++i) {
        const size_t at
            = readBig(static_cast<size_t>(table + i * static_cast<uint64_t>(offsetSize)), offsetSize);
        ASSERT_LT(at, trailer);
        const uint8_t marker = plist[at];
        const int kind = marker >> 4;
        const std::string name = "object " + std::to_string(i) + " marker " + std::to_string(marker);
        if (kind == 0x4 || kind == 0x5 || kind == 0x6 || kind == 0xA || kind == 0xD) {
            auto longer = plist;
            longer[at] = static_cast<uint8_t>(marker | 0x0E);
            check(name + " length 14", longer);
            if ((marker & 0x0F) == 0x0F && at + 2 < trailer) {
                // The length follows as an integer object: make it as large as it can be.
                auto huge = plist;
                const int width = 1 << (huge[at + 1] & 0x0F);
                for (int b = 0; b < width && at + 2 + static_cast<size_t>(b) < trailer; ++b)
                    huge[at + 2 + static_cast<size_t>(b)] = b == 0 ? 0x7F : 0xFF;
                check(name + " length max", huge);
            } else if (at + 10 < trailer) {
                auto huge = plist;
                huge[at] = static_cast<uint8_t>(marker | 0x0F);
                huge[at + 1] = 0x13;
                for (size_t b = 0; b < 8; ++b)
                    huge[at + 2 + b] = b == 0 ? 0x7F : 0xFF;
                check(name + " length 2^63-1", huge);
            }
        } else if (kind == 0x1 || kind == 0x8) {
            auto wide = plist;
            wide[at] = static_cast<uint8_t>((marker & 0xF0) | 0x0F);
            check(name + " width 2^15", wide);
        }
    }
    for (size_t field : { size_t { 6 }, size_t { 7 } }) {
        for (uint8_t value : { 0, 3, 9, 255 }) {
            auto changed = plist;
            changed[trailer + field] = value;
            check("trailer byte " + std::to_string(field) + " = " + std::to_string(value), changed);
        }
    }
    for (size_t field : { size_t { 8 }, size_t { 16 }, size_t { 24 } }) {
        for (uint64_t value : { uint64_t { 0 }, uint64_t { 0x7FFFFFFF }, ~uint64_t { 0 } }) {
            auto changed = plist;
            for (size_t b = 0; b < 8; ++b)
                changed[trailer + field + b] = static_cast<uint8_t>(value >> (56 - 8 * b));
            check("trailer field " + std::to_string(field) + " = " + std::to_string(value), changed);
        }
    }
}

// Calls `check` `count` times with one to four bytes of `bytes` (at `from` or later) changed at
// random, seeded.
inline void forEachFlip(
    const std::vector<uint8_t>& bytes, size_t from, uint32_t seed, int count, const HostileCase& check)
{
    ASSERT_LT(from, bytes.size());
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> position(from, bytes.size() - 1);
    for (int i = 0; i < count; ++i) {
        auto changed = bytes;
        std::string name = "flip";
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int f = 0; f < flips; ++f) {
            const size_t at = position(random);
            changed[at] ^= static_cast<uint8_t>(1 + random() % 255);
            name += " " + std::to_string(at);
        }
        check(name, changed);
    }
}

// A fresh folder, in memory when the system has a memory file system (many small files are
// made and removed much faster there), removed with its contents on destruction.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::error_code error;
        const bool inMemory = ::access("/dev/shm", W_OK) == 0;
        std::string pattern
            = ((inMemory ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path(error))
                / "rattlepan-test-XXXXXX")
                  .string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The process's peak resident size so far, in megabytes.
inline long peakResidentMegabytes()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// How far the peak resident size may grow over a hostile test. AddressSanitizer keeps freed memory
// in a quarantine of up to 256 MB and adds an eighth in shadow memory, so its builds get that much
// more room; a reader that allocates without bound still goes far past either figure.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr long kPeakGrowthLimitMegabytes = 256 + 256 + 64;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr long kPeakGrowthLimitMegabytes = 256 + 256 + 64;
#else
inline constexpr long kPeakGrowthLimitMegabytes = 256;
#endif
#else
inline constexpr long kPeakGrowthLimitMegabytes = 256;
#endif

// Times one case; a case that takes longer than the bound fails the test.
class BoundedCase {
public:
    explicit BoundedCase(std::string label, std::chrono::milliseconds bound = std::chrono::milliseconds(2000))
        : label_(std::move(label))
        , bound_(bound)
        , start_(std::chrono::steady_clock::now())
    {
    }
    ~BoundedCase()
    {
        const auto took = std::chrono::steady_clock::now() - start_;
        EXPECT_LT(took, bound_) << label_ << " took "
                                << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                                << " ms";
    }
    BoundedCase(const BoundedCase&) = delete;
    BoundedCase& operator=(const BoundedCase&) = delete;

private:
    std::string label_;
    std::chrono::milliseconds bound_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace rp::test
