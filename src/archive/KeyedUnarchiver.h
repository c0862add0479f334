#pragma once

#include "archive/ArchiveObject.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rp {

// An object whose class has no registered factory, read as its class chain and its keys.
// Only produced when an unarchiver is asked to read such objects generically (the dump tool);
// normal decoding refuses unknown classes. Values appear as Foundation objects: references
// decode to the object they name (null for $null), inline integers, reals and booleans to
// ArchivedNumber, inline data to ArchivedData, inline strings to ArchivedString, inline arrays
// and dictionaries to ArchivedArray and ArchivedDictionary.
class KeyedGenericObject final : public ArchiveObject {
public:
    std::string archiveClassName() const override { return className; }

    std::string className; // as archived
    std::vector<std::string> classChain; // "$classes", the class first
    std::vector<std::pair<std::string, ArchiveObjectPtr>> entries; // stored order, without "$class"
};

// Reads keyed archives in the platform's binary property-list form. The bytes are hostile:
// the property list is checked structurally before it is parsed, object references are
// range-checked, nesting is bounded, cycles are refused, only registered classes (and the
// Foundation classes of ArchiveObject.h) are instantiated.
//
// Decoding is driven by class factories: when an object of a registered class is met, its
// factory runs with the unarchiver positioned on that object's keys and returns the object.
// The typed getters follow the platform: an absent key reads as 0 / false / nullopt / null.
// A value of the wrong kind (a string where an integer is asked for, an integer that does not
// fit, a reference out of range ...) reads as 0 / nullopt / null AND marks the unarchiver
// failed; failed() stays set, errorText() says what went wrong first, and
// unarchiveObjectWithData() then returns null. Readers turn that into their "bad file" error.
class KeyedUnarchiver {
public:
    using Factory = std::function<ArchiveObjectPtr(KeyedUnarchiver&)>;

    // Process-wide class registry (register at start-up, before files are read).
    static void registerClass(const std::string& className, Factory factory);
    static void unregisterClass(const std::string& className);
    static bool isClassRegistered(const std::string& className);
    // Objects stored under `oldName` are decoded by the factory of `newName`.
    static void setClassNameTranslation(const std::string& oldName, const std::string& newName);
    static std::string classNameTranslation(const std::string& oldName); // empty when none

    // Inputs larger than this are refused outright.
    static constexpr size_t maximumArchiveSize = size_t { 256 } << 20;
    // Objects nested deeper than this (object inside object inside ...) are refused.
    static constexpr int maximumObjectDepth = 256;

    struct Options {
        // Read objects of unregistered classes as KeyedGenericObject instead of failing.
        bool decodeUnknownClassesGenerically = false;
    };

    // Decodes the object under the top-level key "root". Null with `error` set on failure.
    static ArchiveObjectPtr unarchiveObjectWithData(
        std::span<const uint8_t> data, std::string* error = nullptr);
    static ArchiveObjectPtr unarchiveObjectWithData(
        std::span<const uint8_t> data, std::string* error, const Options& options);

    // True when `data` starts like a binary property list (not proof that it is a keyed archive).
    static bool hasSignature(std::span<const uint8_t> data);

    // Parses and checks the container; a bad container leaves the unarchiver failed().
    // Until a factory runs, the getters read the top-level keys ("root", ...).
    explicit KeyedUnarchiver(std::span<const uint8_t> data);
    KeyedUnarchiver(std::span<const uint8_t> data, Options options);
    ~KeyedUnarchiver();
    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

    bool containsValueForKey(std::string_view key) const;
    bool decodeBoolForKey(std::string_view key);
    int32_t decodeInt32ForKey(std::string_view key);
    int64_t decodeInt64ForKey(std::string_view key);
    int64_t decodeIntegerForKey(std::string_view key) { return decodeInt64ForKey(key); }
    float decodeFloatForKey(std::string_view key);
    double decodeDoubleForKey(std::string_view key);
    // A string object (plain string, NSString or NSMutableString); nullopt when absent or $null.
    std::optional<std::string> decodeStringForKey(std::string_view key);
    // Plain data under the key, or a data object (plain data, NSData, NSMutableData).
    std::optional<std::vector<uint8_t>> decodeDataForKey(std::string_view key);
    // Any object; the same stored object always decodes to the same pointer.
    ArchiveObjectPtr decodeObjectForKey(std::string_view key);
    // An NSArray/NSMutableArray/NSSet's elements (null entries for $null); nullopt when absent
    // or $null; a non-array object is a failure.
    std::optional<std::vector<ArchiveObjectPtr>> decodeArrayOfObjectsForKey(std::string_view key);

    // Typed helpers: the object must be a T (or $null / absent -> null); another class fails.
    template <class T> std::shared_ptr<T> decodeObjectOfClassForKey(std::string_view key)
    {
        ArchiveObjectPtr object = decodeObjectForKey(key);
        if (!object)
            return nullptr;
        auto typed = std::dynamic_pointer_cast<T>(object);
        if (!typed)
            failWithError("unexpected class " + object->archiveClassName() + " for key " + std::string(key));
        return typed;
    }
    // Every element must be a T; $null elements are skipped.
    template <class T> std::vector<std::shared_ptr<T>> decodeArrayOfObjectsOfClassForKey(std::string_view key)
    {
        std::vector<std::shared_ptr<T>> result;
        auto items = decodeArrayOfObjectsForKey(key);
        if (!items)
            return result;
        result.reserve(items->size());
        for (const auto& item : *items) {
            if (!item)
                continue;
            auto typed = std::dynamic_pointer_cast<T>(item);
            if (!typed) {
                failWithError(
                    "unexpected class " + item->archiveClassName() + " in array for key " + std::string(key));
                return {};
            }
            result.push_back(std::move(typed));
        }
        return result;
    }

    // The decoded root object ("root" in $top), or null on failure.
    ArchiveObjectPtr decodeRootObject();

    // The archived class name of the object whose factory is running (before translation).
    const std::string& currentClassName() const;

    // Replaces each object after it is decoded (the unarchiver delegate's hook).
    using Replacement = std::function<ArchiveObjectPtr(const ArchiveObjectPtr&)>;
    void setReplacement(Replacement replacement);

    bool failed() const;
    const std::string& errorText() const;
    // Lets a factory refuse what it read; the first error is kept.
    void failWithError(const std::string& text);

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace rp
