#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rp {

// Writes keyed archives in the binary property-list form of the platform's keyed archiver:
// {$archiver: "NSKeyedArchiver", $version: 100000, $top: {root: UID}, $objects: ["$null", ...]}.
// Every distinct object (by identity) is written once and referred to by UID; class
// descriptions {$classname, $classes} are shared. Objects must be either Foundation values from
// ArchiveObject.h or derive from KeyedCoding; anything else is written as $null and makes
// finishEncoding() report a failure.
//
// Values written under a key, as the platform writes them:
//   encodeBool -> boolean; encodeInt32/encodeInt64 -> integer (negative ones as 8-byte signed);
//   encodeFloat -> 4-byte real; encodeDouble -> real; encodeData -> data object (UID to plain data);
//   encodeString -> string object (UID to a plain string); encodeObject -> UID ($null for none).
class KeyedArchiver {
public:
    KeyedArchiver();
    ~KeyedArchiver();
    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

    // The whole archive with `root` under the top-level key "root". Empty on failure.
    static std::vector<uint8_t> archivedDataWithRootObject(const ArchiveObjectPtr& root);

    void encodeObject(const ArchiveObjectPtr& object, std::string_view key);
    // Refers to `object` only if it is also encoded unconditionally somewhere in the archive
    // (before or after this call); otherwise the key holds $null.
    void encodeConditionalObject(const ArchiveObjectPtr& object, std::string_view key);
    void encodeBool(bool value, std::string_view key);
    void encodeInt32(int32_t value, std::string_view key);
    void encodeInt64(int64_t value, std::string_view key);
    void encodeInteger(int64_t value, std::string_view key) { encodeInt64(value, key); }
    void encodeFloat(float value, std::string_view key);
    void encodeDouble(double value, std::string_view key);
    void encodeString(std::string_view utf8, std::string_view key);
    void encodeData(std::span<const uint8_t> bytes, std::string_view key);
    // Convenience: an NSArray (or NSMutableArray) of the objects; null entries become $null.
    void encodeArrayOfObjects(
        const std::vector<ArchiveObjectPtr>& objects, std::string_view key, bool mutableArray = false);

    // Replaces objects as they are encoded (the archiver delegate's replacement hook): called
    // with each object before it is looked up or written; returning another object writes that
    // one instead, returning null writes $null.
    using Replacement = std::function<ArchiveObjectPtr(const ArchiveObjectPtr&)>;
    void setReplacement(Replacement replacement);

    // Ends the archive: resolves conditional references and serialises. Empty on failure.
    std::vector<uint8_t> finishEncoding();
    bool failed() const;
    const std::string& errorText() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace rp
