#pragma once

// Values read one after the other, as older classes archived them: from a typed stream, or from a
// keyed archive, where the platform's keyed archiver stores each value written without a key under
// the next generic key of its object ("$0", "$1", ...). The pattern and old-event readers use either
// source through the same code.

#include "archive/ArchiveObject.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"

#include <cstdint>
#include <string>

namespace rp {

class TypedStreamPositionalValues {
public:
    explicit TypedStreamPositionalValues(TypedStreamDecoder& decoder)
        : decoder_(decoder)
    {
    }
    // A typed stream fails (throws) when read past the object's end; it is never simply exhausted.
    bool exhausted() const { return false; }
    int64_t integer(char type) { return decoder_.decodeInteger(type); }
    float real() { return decoder_.decodeFloat(); }
    ArchiveObjectPtr object() { return decoder_.decodeObject(); }
    [[noreturn]] void fail(const std::string& text) { decoder_.failWithError(text); }

private:
    TypedStreamDecoder& decoder_;
};

class KeyedPositionalValues {
public:
    explicit KeyedPositionalValues(KeyedUnarchiver& coder)
        : coder_(coder)
    {
    }
    static bool present(const KeyedUnarchiver& coder) { return coder.containsValueForKey("$0"); }
    // True when the next generic key is absent (or the archive already failed): nothing more to read.
    bool exhausted() const { return coder_.failed() || !coder_.containsValueForKey(key()); }
    // An integer of the typed-stream type code; a value outside that type's range fails the archive.
    int64_t integer(char type)
    {
        const std::string k = advance();
        const int64_t value = coder_.decodeInt64ForKey(k);
        int64_t low = INT64_MIN;
        int64_t high = INT64_MAX;
        switch (type) {
        case 'c':
            low = INT8_MIN, high = INT8_MAX;
            break;
        case 'C':
            low = 0, high = UINT8_MAX;
            break;
        case 's':
            low = INT16_MIN, high = INT16_MAX;
            break;
        case 'S':
            low = 0, high = UINT16_MAX;
            break;
        case 'i':
            low = INT32_MIN, high = INT32_MAX;
            break;
        case 'I':
            low = 0, high = UINT32_MAX;
            break;
        default:
            break;
        }
        if (value < low || value > high) {
            fail("value " + std::to_string(value) + " for key " + k + " does not fit type " + type);
            return 0;
        }
        return value;
    }
    float real() { return coder_.decodeFloatForKey(advance()); }
    ArchiveObjectPtr object() { return coder_.decodeObjectForKey(advance()); }
    void fail(const std::string& text) { coder_.failWithError(text); }

private:
    std::string key() const { return "$" + std::to_string(next_); }
    std::string advance() { return "$" + std::to_string(next_++); }

    KeyedUnarchiver& coder_;
    int next_ = 0;
};

} // namespace rp
