#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rp::keyed {

// An in-memory property-list value as the keyed archiver and unarchiver see it. Reading
// parses a binary property list straight into this form (constant-time indexing of
// $objects); writing builds it and serialises it with BinaryPlistWriter.
struct PlistValue {
    enum class Kind : uint8_t { Boolean, Integer, Real, Date, String, Data, Uid, Array, Dictionary };

    Kind kind = Kind::Boolean;
    bool boolean = false;
    int64_t integer = 0; // Integer (two's complement of the stored 64 bits) and Uid
    double real = 0; // Real, Date (seconds since 2001-01-01)
    bool singlePrecision = false; // Real stored in 4 bytes (a float); `real` holds it exactly
    std::string text; // String, UTF-8
    std::vector<uint8_t> bytes; // Data
    std::vector<PlistValue> items; // Array
    std::vector<std::pair<std::string, PlistValue>> entries; // Dictionary, in stored order

    static PlistValue makeBoolean(bool value);
    static PlistValue makeInteger(int64_t value);
    static PlistValue makeReal(double value); // written in 8 bytes
    static PlistValue makeFloat(float value); // written in 4 bytes
    static PlistValue makeDate(double secondsSinceReferenceDate);
    static PlistValue makeString(std::string value);
    static PlistValue makeData(std::vector<uint8_t> value);
    static PlistValue makeUid(uint64_t value);
    static PlistValue makeArray(std::vector<PlistValue> values = {});
    static PlistValue makeDictionary();

    // Dictionary lookup; null when absent or when this is not a dictionary.
    const PlistValue* find(std::string_view key) const;
    PlistValue* find(std::string_view key);
    // Sets a dictionary entry, replacing an earlier value under the same key.
    void set(std::string key, PlistValue value);
};

// Limits for property lists handed to the unarchiver. A keyed archive nests at most a handful
// of levels (top dictionary, $objects, an object, an array of references), so a deeper list
// is not an archive.
constexpr int maximumPlistDepth = 32;

// Checks a binary property list without building it: header, trailer, offset table, every
// reachable object's extent and encoding, references in range, no reference cycles, bounded
// nesting, and a bound on how large the parsed tree can grow (shared references are copied).
// Empty on success, else what is wrong. (BinaryPlistReader.h)
std::string checkBinaryPlist(std::span<const uint8_t> bytes);

// Parses a binary property list with those checks. nullopt with `error` on failure.
std::optional<PlistValue> parseBinaryPlist(std::span<const uint8_t> bytes, std::string* error);

// Serialises as a binary property list (BinaryPlistWriter.h). Empty on failure (a string that
// is not valid UTF-8).
std::vector<uint8_t> writeBinaryPlist(const PlistValue& value);

} // namespace rp::keyed
