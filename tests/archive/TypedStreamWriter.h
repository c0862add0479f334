#pragma once

// Test-only writer of typed streams (the older sequential archives), in either byte order.
// Nothing on this system writes them, so the tests build real-shaped streams with this: the
// same header, compact integers, shared strings, object table and class chains as the
// platform's archiver, with the grouping of values left to the caller.

#include <bit>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace rp::test {

class TypedStreamWriter {
public:
    using ClassChain = std::vector<std::pair<std::string, int>>; // the class first, then superclasses

    explicit TypedStreamWriter(bool bigEndian = true, int systemVersion = 1000)
        : bigEndian_(bigEndian)
    {
        bytes_.push_back(4);
        bytes_.push_back(11);
        const char* signature = bigEndian ? "typedstream" : "streamtyped";
        bytes_.insert(bytes_.end(), signature, signature + 11);
        integer(systemVersion);
    }

    const std::vector<uint8_t>& bytes() const { return bytes_; }

    // --- Raw pieces ---
    void byte(uint8_t b) { bytes_.push_back(b); }
    void fixed(uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            bytes_.push_back(static_cast<uint8_t>(value >> (bigEndian_ ? (width - 1 - i) * 8 : i * 8)));
    }
    // Compact integer: one byte outside the tag range, else 0x81 + 16 bits or 0x82 + 32 bits.
    void integer(int64_t value)
    {
        const bool small = value >= INT16_MIN && value <= INT16_MAX;
        if (value >= -110 && value <= 127)
            bytes_.push_back(static_cast<uint8_t>(static_cast<int8_t>(value)));
        else {
            bytes_.push_back(small ? 0x81 : 0x82);
            fixed(static_cast<uint64_t>(value), small ? 2 : 4);
        }
    }
    // A float: integral values in the compact integer form unless `forceReal`, else 0x83 + 4 bytes.
    void floatValue(float value, bool forceReal = false)
    {
        if (!forceReal && value == static_cast<float>(static_cast<int16_t>(value))) {
            integer(static_cast<int16_t>(value));
            return;
        }
        bytes_.push_back(0x83);
        fixed(std::bit_cast<uint32_t>(value), 4);
    }
    void doubleValue(double value)
    {
        bytes_.push_back(0x83);
        fixed(std::bit_cast<uint64_t>(value), 8);
    }
    void nil() { bytes_.push_back(0x85); }
    void endObject() { bytes_.push_back(0x86); }
    void reference(int64_t number) { integer(number - 110); }

    void unsharedString(const std::string& text)
    {
        integer(static_cast<int64_t>(text.size()));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
    }
    // Shared strings are written once and referred to by their number afterwards.
    void sharedString(const std::string& text)
    {
        auto found = sharedStrings_.find(text);
        if (found != sharedStrings_.end()) {
            reference(found->second);
            return;
        }
        bytes_.push_back(0x84);
        unsharedString(text);
        sharedStrings_[text] = nextSharedString_++;
    }
    // A group's type string ("@", "if", "{?=ff}").
    void group(const std::string& types) { sharedString(types); }

    // A C string takes an object number; a second one with the same text refers to it.
    void cString(const std::string& text)
    {
        auto found = cStrings_.find(text);
        if (found != cStrings_.end()) {
            reference(found->second);
            return;
        }
        bytes_.push_back(0x84);
        sharedString(text);
        cStrings_[text] = nextObject_++;
    }

    void classChain(const ClassChain& chain)
    {
        for (const auto& [name, version] : chain) {
            auto found = classes_.find(name);
            if (found != classes_.end()) {
                reference(found->second);
                return;
            }
            bytes_.push_back(0x84);
            sharedString(name);
            integer(version);
            classes_[name] = nextObject_++;
        }
        nil();
    }

    // Starts an object: its number (returned) comes before its classes' numbers.
    int beginObject(const ClassChain& chain)
    {
        bytes_.push_back(0x84);
        int number = nextObject_++;
        classChain(chain);
        return number;
    }

    // --- Foundation objects (the object only; write the "@" group type first) ---
    int stringObject(const std::string& text, bool isMutable = false)
    {
        int number = isMutable
            ? beginObject({ { "NSMutableString", 1 }, { "NSString", 1 }, { "NSObject", 0 } })
            : beginObject({ { "NSString", 1 }, { "NSObject", 0 } });
        group("+");
        unsharedString(text);
        endObject();
        return number;
    }
    int integerNumber(int64_t value, const std::string& type = "i")
    {
        int number = beginObject({ { "NSNumber", 0 }, { "NSValue", 0 }, { "NSObject", 0 } });
        group("*");
        cString(type);
        group(type);
        if (type == "c" || type == "C" || type == "B")
            byte(static_cast<uint8_t>(value));
        else
            integer(value);
        endObject();
        return number;
    }
    int realNumber(double value)
    {
        int number = beginObject({ { "NSNumber", 0 }, { "NSValue", 0 }, { "NSObject", 0 } });
        group("*");
        cString("d");
        group("d");
        doubleValue(value);
        endObject();
        return number;
    }
    int dataObject(const std::vector<uint8_t>& data)
    {
        int number = beginObject({ { "NSData", 0 }, { "NSObject", 0 } });
        group("i");
        integer(static_cast<int64_t>(data.size()));
        group("[" + std::to_string(data.size()) + "c]");
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        endObject();
        return number;
    }
    // An array whose elements are written by `element(i)`, each after its own "@" group.
    int arrayObject(int count, const std::function<void(int)>& element, bool isMutable = false)
    {
        int number = isMutable ? beginObject({ { "NSMutableArray", 0 }, { "NSArray", 0 }, { "NSObject", 0 } })
                               : beginObject({ { "NSArray", 0 }, { "NSObject", 0 } });
        group("i");
        integer(count);
        for (int i = 0; i < count; ++i) {
            group("@");
            element(i);
        }
        endObject();
        return number;
    }

private:
    bool bigEndian_;
    std::vector<uint8_t> bytes_;
    std::map<std::string, int> sharedStrings_;
    int nextSharedString_ = 0;
    std::map<std::string, int> cStrings_;
    std::map<std::string, int> classes_;
    int nextObject_ = 0;
};

} // namespace rp::test
