#include "foundation/PropertyValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace rp {

// ---------------------------------------------------------------------------------------------------
// Conversions

namespace {

size_t skipBlanks(const std::string& text)
{
    size_t index = 0;
    while (index < text.size()
        && (text[index] == ' ' || text[index] == '\t' || text[index] == '\n' || text[index] == '\r')) {
        ++index;
    }
    return index;
}

int64_t leadingInteger(const std::string& text)
{
    size_t index = skipBlanks(text);
    bool negative = false;
    if (index < text.size() && (text[index] == '+' || text[index] == '-')) {
        negative = text[index] == '-';
        ++index;
    }
    // Accumulated as a negative number so that INT64_MIN is reachable; overflow clamps.
    int64_t value = 0;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    for (; index < text.size() && text[index] >= '0' && text[index] <= '9'; ++index) {
        const int digit = text[index] - '0';
        if (value < (lowest + digit) / 10) {
            value = lowest;
            break;
        }
        value = value * 10 - digit;
    }
    if (negative) {
        return value;
    }
    return value == lowest ? std::numeric_limits<int64_t>::max() : -value;
}

double leadingReal(const std::string& text)
{
    size_t index = skipBlanks(text);
    if (index < text.size() && text[index] == '+') {
        ++index;
    }
    double value = 0.0;
    const auto result = std::from_chars(text.data() + index, text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        return 0.0;
    }
    return result.ec == std::errc() ? value : 0.0;
}

int64_t truncatedToInteger(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 9223372036854775807.0) {
        return std::numeric_limits<int64_t>::max();
    }
    if (value <= -9223372036854775808.0) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(value);
}

} // namespace

bool PropertyValue::containsNull() const
{
    switch (type()) {
    case Type::Null:
        return true;
    case Type::Array:
        return std::any_of(getIf<PropertyArray>()->begin(), getIf<PropertyArray>()->end(),
            [](const PropertyValue& item) { return item.containsNull(); });
    case Type::Dictionary:
        return std::any_of(getIf<PropertyDictionary>()->begin(), getIf<PropertyDictionary>()->end(),
            [](const auto& entry) { return entry.second.containsNull(); });
    default:
        return false;
    }
}

bool PropertyValue::toBool() const
{
    switch (type()) {
    case Type::Bool:
        return *getIf<bool>();
    case Type::Integer:
        return *getIf<int64_t>() != 0;
    case Type::Real:
        return *getIf<double>() != 0.0;
    case Type::String: {
        const std::string& text = *getIf<std::string>();
        size_t index = skipBlanks(text);
        if (index < text.size() && (text[index] == '+' || text[index] == '-')) {
            ++index;
        }
        while (index < text.size() && text[index] == '0') {
            ++index;
        }
        if (index >= text.size()) {
            return false;
        }
        const char first = text[index];
        return first == 'Y' || first == 'y' || first == 'T' || first == 't' || (first >= '1' && first <= '9');
    }
    default:
        return false;
    }
}

int64_t PropertyValue::toInteger() const
{
    switch (type()) {
    case Type::Bool:
        return *getIf<bool>() ? 1 : 0;
    case Type::Integer:
        return *getIf<int64_t>();
    case Type::Real:
        return truncatedToInteger(*getIf<double>());
    case Type::String:
        return leadingInteger(*getIf<std::string>());
    default:
        return 0;
    }
}

double PropertyValue::toReal() const
{
    switch (type()) {
    case Type::Bool:
        return *getIf<bool>() ? 1.0 : 0.0;
    case Type::Integer:
        return static_cast<double>(*getIf<int64_t>());
    case Type::Real:
        return *getIf<double>();
    case Type::String:
        return leadingReal(*getIf<std::string>());
    default:
        return 0.0;
    }
}

std::optional<std::string> PropertyValue::toStringValue() const
{
    switch (type()) {
    case Type::String:
        return *getIf<std::string>();
    case Type::Bool:
        return std::string(*getIf<bool>() ? "1" : "0");
    case Type::Integer:
        return std::to_string(*getIf<int64_t>());
    case Type::Real: {
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, *getIf<double>());
        return std::string(buffer, result.ptr);
    }
    default:
        return std::nullopt;
    }
}

// ---------------------------------------------------------------------------------------------------
// Structure check

namespace {

class BinaryPlistChecker {
public:
    BinaryPlistChecker(std::span<const uint8_t> bytes, const BinaryPropertyListLimits& limits)
        : bytes_(bytes)
        , limits_(limits)
    {
    }

    bool check(std::string& error)
    {
        if (bytes_.size() > limits_.maxBytes) {
            return fail(error, "property list too large");
        }
        if (bytes_.size() < 8 + 32 || std::memcmp(bytes_.data(), "bplist0", 7) != 0) {
            return fail(error, "not a binary property list");
        }
        const size_t trailer = bytes_.size() - 32;
        offsetSize_ = bytes_[trailer + 6];
        refSize_ = bytes_[trailer + 7];
        const uint64_t objectCount = readUnsigned(trailer + 8, 8);
        const uint64_t top = readUnsigned(trailer + 16, 8);
        const uint64_t tableOffset = readUnsigned(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            return fail(error, "bad integer sizes in trailer");
        }
        if (objectCount == 0 || objectCount > trailer || top >= objectCount) {
            return fail(error, "bad object count or top object");
        }
        if (tableOffset < 8 || tableOffset > trailer || (trailer - tableOffset) / offsetSize_ < objectCount) {
            return fail(error, "offset table out of bounds");
        }
        objectsEnd_ = tableOffset;
        offsets_.resize(objectCount);
        for (uint64_t index = 0; index < objectCount; ++index) {
            offsets_[index] = readUnsigned(tableOffset + index * offsetSize_, offsetSize_);
            if (offsets_[index] < 8 || offsets_[index] >= objectsEnd_) {
                return fail(error, "object offset out of bounds");
            }
        }
        expanded_.assign(objectCount, 0);
        if (!visit(top, 1, error)) {
            return false;
        }
        return true;
    }

private:
    static bool fail(std::string& error, const char* reason)
    {
        error = reason;
        return false;
    }

    uint64_t readUnsigned(uint64_t at, unsigned size) const
    {
        uint64_t value = 0;
        for (unsigned index = 0; index < size; ++index) {
            value = (value << 8) | bytes_[at + index];
        }
        return value;
    }

    // The count that follows a marker: the low nibble, or an integer object after it when 0xF.
    // `at` moves past what was read. False when out of bounds.
    bool readCount(uint64_t& at, uint8_t marker, uint64_t& count) const
    {
        count = marker & 0x0F;
        ++at;
        if (count != 0x0F) {
            return true;
        }
        if (at >= objectsEnd_) {
            return false;
        }
        const uint8_t intMarker = bytes_[at];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) {
            return false;
        }
        const unsigned size = 1u << (intMarker & 0x0F);
        if (objectsEnd_ - at - 1 < size) {
            return false;
        }
        count = readUnsigned(at + 1, size);
        at += 1 + size;
        return true;
    }

    bool fits(uint64_t at, uint64_t count, uint64_t unit) const
    {
        if (at > objectsEnd_) {
            return false;
        }
        return unit == 0 || count <= (objectsEnd_ - at) / unit;
    }

    bool isStringObject(uint64_t index) const
    {
        const uint8_t type = bytes_[offsets_[index]] & 0xF0;
        return type == 0x50 || type == 0x60;
    }

    // Returns false with an error for a bad object; accumulates the expanded object count.
    bool visit(uint64_t index, int depth, std::string& error)
    {
        if (depth > limits_.maxDepth) {
            return fail(error, "nesting too deep (or a reference cycle)");
        }
        if (expanded_[index] != 0) {
            return add(expanded_[index], error);
        }
        uint64_t at = offsets_[index];
        const uint8_t marker = bytes_[at];
        const uint8_t nibble = marker & 0x0F;
        uint64_t count = 0;
        switch (marker & 0xF0) {
        case 0x00:
            if (marker != 0x08 && marker != 0x09) {
                return fail(error, "unsupported object");
            }
            break;
        case 0x10:
            if (nibble > 4 || !fits(at + 1, 1, 1u << nibble)) {
                return fail(error, "bad integer");
            }
            break;
        case 0x20:
            if ((nibble != 2 && nibble != 3) || !fits(at + 1, 1, 1u << nibble)) {
                return fail(error, "bad real");
            }
            break;
        case 0x30:
            if (marker != 0x33 || !fits(at + 1, 1, 8)) {
                return fail(error, "bad date");
            }
            break;
        case 0x40:
        case 0x50:
            if (!readCount(at, marker, count) || !fits(at, count, 1)) {
                return fail(error, "bad data or string length");
            }
            break;
        case 0x60:
            if (!readCount(at, marker, count) || !fits(at, count, 2)) {
                return fail(error, "bad string length");
            }
            break;
        case 0x80:
            if (!fits(at + 1, 1, nibble + 1u)) {
                return fail(error, "bad uid");
            }
            break;
        case 0xA0:
        case 0xD0: {
            const bool dictionary = (marker & 0xF0) == 0xD0;
            if (!readCount(at, marker, count) || !fits(at, count, refSize_ * (dictionary ? 2u : 1u))) {
                return fail(error, "bad array or dictionary length");
            }
            uint64_t total = 1;
            const uint64_t references = dictionary ? count * 2 : count;
            for (uint64_t item = 0; item < references; ++item) {
                const uint64_t child = readUnsigned(at + item * refSize_, refSize_);
                if (child >= offsets_.size()) {
                    return fail(error, "object reference out of bounds");
                }
                if (dictionary && item < count && !isStringObject(child)) {
                    return fail(error, "dictionary key is not a string");
                }
                const uint64_t before = total_;
                if (!visit(child, depth + 1, error)) {
                    return false;
                }
                total += total_ - before;
            }
            expanded_[index] = total;
            return add(1, error);
        }
        default:
            return fail(error, "unsupported object");
        }
        expanded_[index] = 1;
        return add(1, error);
    }

    bool add(uint64_t objects, std::string& error)
    {
        total_ += objects;
        if (total_ > limits_.maxExpandedObjects) {
            return fail(error, "too many objects");
        }
        return true;
    }

    std::span<const uint8_t> bytes_;
    BinaryPropertyListLimits limits_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    uint64_t objectsEnd_ = 0;
    std::vector<uint64_t> offsets_;
    std::vector<uint64_t> expanded_; // tree size below each object once known (0 = not yet)
    uint64_t total_ = 0;
};

} // namespace

bool checkBinaryPropertyList(
    std::span<const uint8_t> bytes, const BinaryPropertyListLimits& limits, std::string* error)
{
    std::string reason;
    const bool ok = BinaryPlistChecker(bytes, limits).check(reason);
    if (!ok && error != nullptr) {
        *error = reason;
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------------
// libplist

namespace {

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

plist_t toPlist(const PropertyValue& value)
{
    using Type = PropertyValue::Type;
    switch (value.type()) {
    case Type::Null:
        return nullptr;
    case Type::Bool:
        return plist_new_bool(*value.getIf<bool>() ? 1 : 0);
    case Type::Integer:
        // Stored as the 64-bit pattern: negative values come out as 8-byte (signed) integers.
        return plist_new_uint(static_cast<uint64_t>(*value.getIf<int64_t>()));
    case Type::Real:
        return plist_new_real(*value.getIf<double>());
    case Type::String:
        return plist_new_string(value.getIf<std::string>()->c_str());
    case Type::Data: {
        const auto& data = *value.getIf<PropertyData>();
        return plist_new_data(reinterpret_cast<const char*>(data.data()), data.size());
    }
    case Type::Date: {
        double seconds = value.getIf<PropertyDate>()->secondsSinceReferenceDate;
        if (std::isnan(seconds)) {
            seconds = 0.0;
        }
        seconds = std::clamp(seconds, static_cast<double>(std::numeric_limits<int32_t>::min()),
            static_cast<double>(std::numeric_limits<int32_t>::max()));
        const double whole = std::floor(seconds);
        const auto usec = std::min(static_cast<int32_t>(std::lround((seconds - whole) * 1e6)), 999999);
        return plist_new_date(static_cast<int32_t>(whole), usec);
    }
    case Type::Array: {
        PlistPtr array(plist_new_array());
        for (const auto& item : *value.getIf<PropertyArray>()) {
            plist_t node = toPlist(item);
            if (node == nullptr) {
                return nullptr;
            }
            plist_array_append_item(array.get(), node);
        }
        return array.release();
    }
    case Type::Dictionary: {
        PlistPtr dictionary(plist_new_dict());
        for (const auto& [key, item] : *value.getIf<PropertyDictionary>()) {
            plist_t node = toPlist(item);
            if (node == nullptr) {
                return nullptr;
            }
            plist_dict_set_item(dictionary.get(), key.c_str(), node);
        }
        return dictionary.release();
    }
    }
    return nullptr;
}

PropertyValue fromPlist(plist_t node, int depth)
{
    if (node == nullptr || depth > 512) {
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return PropertyValue(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return PropertyValue(static_cast<int64_t>(value));
    }
    case PLIST_REAL: {
        double value = 0.0;
        plist_get_real_val(node, &value);
        return PropertyValue(value);
    }
    case PLIST_STRING: {
        char* text = nullptr;
        plist_get_string_val(node, &text);
        std::string value = text != nullptr ? text : "";
        free(text);
        return PropertyValue(std::move(value));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        const auto* begin = reinterpret_cast<const uint8_t*>(bytes);
        return PropertyValue(bytes != nullptr ? PropertyData(begin, begin + length) : PropertyData());
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return PropertyValue(PropertyDate { sec + usec / 1e6 });
    }
    case PLIST_ARRAY: {
        PropertyArray array;
        const uint32_t size = plist_array_get_size(node);
        array.reserve(size);
        for (uint32_t index = 0; index < size; ++index) {
            array.push_back(fromPlist(plist_array_get_item(node, index), depth + 1));
        }
        return PropertyValue(std::move(array));
    }
    case PLIST_DICT: {
        PropertyDictionary dictionary;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iterator, &key, &item);
            if (item == nullptr) {
                free(key);
                break;
            }
            if (key != nullptr) {
                dictionary[key] = fromPlist(item, depth + 1);
            }
            free(key);
        }
        free(iterator);
        return PropertyValue(std::move(dictionary));
    }
    default:
        return {}; // UIDs and anything else without a counterpart
    }
}

} // namespace

std::optional<std::vector<uint8_t>> PropertyValue::toBinaryPropertyList() const
{
    PlistPtr root(toPlist(*this));
    if (!root) {
        return std::nullopt;
    }
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    if (bytes == nullptr) {
        return std::nullopt;
    }
    std::vector<uint8_t> result(
        reinterpret_cast<const uint8_t*>(bytes), reinterpret_cast<const uint8_t*>(bytes) + length);
    plist_to_bin_free(bytes);
    return result;
}

std::optional<PropertyValue> PropertyValue::fromBinaryPropertyList(
    std::span<const uint8_t> bytes, std::string* error)
{
    std::string reason;
    if (!checkBinaryPropertyList(bytes, {}, &reason)) {
        if (error != nullptr) {
            *error = reason;
        }
        return std::nullopt;
    }
    plist_t parsed = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), &parsed);
    PlistPtr root(parsed);
    if (!root) {
        if (error != nullptr) {
            *error = "unreadable property list";
        }
        return std::nullopt;
    }
    return fromPlist(root.get(), 0);
}

} // namespace rp
