#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace rp {

// Base of every object an archive can hold: the program's own archivable classes and the
// Foundation values (strings, numbers, data, arrays, dictionaries, sets, dates) that both the
// keyed archives and the older typed streams carry. Readers hand out ArchiveObjectPtr and
// callers downcast with std::dynamic_pointer_cast after checking the class they expect.
class ArchiveObject : public std::enable_shared_from_this<ArchiveObject> {
public:
    virtual ~ArchiveObject() = default;

    // The class name written into archives ("ORPSong", "NSMutableArray", ...).
    virtual std::string archiveClassName() const = 0;
};

using ArchiveObjectPtr = std::shared_ptr<ArchiveObject>;

class ArchivedString final : public ArchiveObject {
public:
    explicit ArchivedString(std::string text = {}, bool isMutable = false)
        : value(std::move(text))
        , mutableString(isMutable)
    {
    }
    std::string archiveClassName() const override { return mutableString ? "NSMutableString" : "NSString"; }

    std::string value; // UTF-8
    bool mutableString = false;
};

class ArchivedNumber final : public ArchiveObject {
public:
    using Value = std::variant<bool, int64_t, uint64_t, float, double>;

    explicit ArchivedNumber(Value number = int64_t{0})
        : value(number)
    {
    }
    std::string archiveClassName() const override { return "NSNumber"; }

    bool isReal() const { return std::holds_alternative<float>(value) || std::holds_alternative<double>(value); }
    double doubleValue() const
    {
        return std::visit([](auto v) { return static_cast<double>(v); }, value);
    }
    int64_t int64Value() const
    {
        return std::visit([](auto v) { return static_cast<int64_t>(v); }, value);
    }

    Value value;
};

class ArchivedData final : public ArchiveObject {
public:
    explicit ArchivedData(std::vector<uint8_t> data = {}, bool isMutable = false)
        : bytes(std::move(data))
        , mutableData(isMutable)
    {
    }
    std::string archiveClassName() const override { return mutableData ? "NSMutableData" : "NSData"; }

    std::vector<uint8_t> bytes;
    bool mutableData = false;
};

class ArchivedArray final : public ArchiveObject {
public:
    explicit ArchivedArray(std::vector<ArchiveObjectPtr> objects = {}, bool isMutable = false)
        : items(std::move(objects))
        , mutableArray(isMutable)
    {
    }
    std::string archiveClassName() const override { return mutableArray ? "NSMutableArray" : "NSArray"; }

    std::vector<ArchiveObjectPtr> items; // a null entry stands for "$null"
    bool mutableArray = false;
};

class ArchivedSet final : public ArchiveObject {
public:
    explicit ArchivedSet(std::vector<ArchiveObjectPtr> objects = {}, bool isMutable = false)
        : items(std::move(objects))
        , mutableSet(isMutable)
    {
    }
    std::string archiveClassName() const override { return mutableSet ? "NSMutableSet" : "NSSet"; }

    std::vector<ArchiveObjectPtr> items;
    bool mutableSet = false;
};

class ArchivedDictionary final : public ArchiveObject {
public:
    using Entry = std::pair<ArchiveObjectPtr, ArchiveObjectPtr>;

    explicit ArchivedDictionary(std::vector<Entry> pairs = {}, bool isMutable = false)
        : entries(std::move(pairs))
        , mutableDictionary(isMutable)
    {
    }
    std::string archiveClassName() const override
    {
        return mutableDictionary ? "NSMutableDictionary" : "NSDictionary";
    }

    std::vector<Entry> entries; // in archive order
    bool mutableDictionary = false;
};

class ArchivedDate final : public ArchiveObject {
public:
    explicit ArchivedDate(double seconds = 0)
        : secondsSinceReferenceDate(seconds)
    {
    }
    std::string archiveClassName() const override { return "NSDate"; }

    double secondsSinceReferenceDate = 0; // seconds since 2001-01-01 00:00:00 UTC
};

} // namespace rp
