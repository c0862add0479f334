#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace rp {

// A point in time as property lists store it: seconds since 2001-01-01 00:00:00 UTC.
struct PropertyDate {
    double secondsSinceReferenceDate = 0.0;
    bool operator==(const PropertyDate&) const = default;
};

class PropertyValue;
using PropertyData = std::vector<uint8_t>;
using PropertyArray = std::vector<PropertyValue>;
using PropertyDictionary = std::map<std::string, PropertyValue>;

// One value of a property list: bool, integer, real, string, data, date, array or dictionary (or
// null, meaning "no value", which a property list cannot hold).
class PropertyValue {
public:
    enum class Type { Null, Bool, Integer, Real, String, Data, Date, Array, Dictionary };

    PropertyValue() = default;
    PropertyValue(bool value)
        : value_(value)
    {
    }
    template <std::integral T>
    requires(!std::same_as<T, bool>) PropertyValue(T value)
        : value_(static_cast<int64_t>(value))
    {
    }
    PropertyValue(double value)
        : value_(value)
    {
    }
    PropertyValue(std::string value)
        : value_(std::move(value))
    {
    }
    PropertyValue(const char* value)
        : value_(std::string(value))
    {
    }
    PropertyValue(PropertyData value)
        : value_(std::move(value))
    {
    }
    PropertyValue(PropertyDate value)
        : value_(value)
    {
    }
    PropertyValue(PropertyArray value)
        : value_(std::move(value))
    {
    }
    PropertyValue(PropertyDictionary value)
        : value_(std::move(value))
    {
    }

    Type type() const { return static_cast<Type>(value_.index()); }
    bool isNull() const { return type() == Type::Null; }
    // True when the value, or anything inside it, is null (such a value cannot be stored).
    bool containsNull() const;

    // The value when it has exactly that type, else null.
    template <typename T> const T* getIf() const { return std::get_if<T>(&value_); }

    // Conversions as user defaults make them:
    // bool: a bool; a non-zero number; a string whose first significant character is Y, y, T, t or a
    // digit 1-9 (after blanks, a sign and leading zeros). Anything else is false.
    bool toBool() const;
    // integer: an integer; a real truncated (and clamped); a bool as 0 or 1; a string's leading
    // integer. Anything else is 0.
    int64_t toInteger() const;
    // real: a real; an integer; a bool as 0 or 1; a string's leading number. Anything else is 0.
    double toReal() const;
    // string: a string; a number written out in decimal (a bool as "1" or "0"). Anything else none.
    std::optional<std::string> toStringValue() const;

    bool operator==(const PropertyValue& other) const { return value_ == other.value_; }

    // The value as a binary property list; none when it holds a null.
    std::optional<std::vector<uint8_t>> toBinaryPropertyList() const;
    // Reads a binary property list after checking its structure (see checkBinaryPropertyList).
    // Values with no counterpart here (UIDs) read as null. None, with a reason, for a bad list.
    static std::optional<PropertyValue> fromBinaryPropertyList(
        std::span<const uint8_t> bytes, std::string* error = nullptr);

private:
    std::variant<std::monostate, bool, int64_t, double, std::string, PropertyData, PropertyDate,
        PropertyArray, PropertyDictionary>
        value_;
};

// Bounds for reading binary property lists that come from outside.
struct BinaryPropertyListLimits {
    size_t maxBytes = 64u << 20;
    int maxDepth = 256;
    // Objects referenced more than once count once per reference: a small file of shared arrays must
    // not expand into an enormous tree.
    uint64_t maxExpandedObjects = 4u << 20;
};

// Walks a binary property list's structure without building it: header, trailer, offset table,
// every object's extent, nesting depth (which also catches reference cycles), dictionary keys being
// strings, and the size of the tree a reader would build. libplist reads unchecked input with
// unbounded recursion, so everything handed to it from a file passes through here first.
bool checkBinaryPropertyList(std::span<const uint8_t> bytes, const BinaryPropertyListLimits& limits = {},
    std::string* error = nullptr);

} // namespace rp
