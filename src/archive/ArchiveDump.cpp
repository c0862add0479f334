#include "archive/ArchiveDump.h"

#include "archive/KeyedArchivePlist.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/BuildVersion.h"
#include "foundation/CompressedData.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace rp {

namespace {

using Json = nlohmann::ordered_json;

// Object graphs deeper than this are refused (keyed archives; typed streams have their own).
constexpr int MaxDepth = 256;

constexpr std::string_view SongMagic { "Orrery Rattlepan rpsong\0", 24 };
constexpr std::string_view KitMagic { "Orrery Rattlepan rpkit\0", 23 };
constexpr std::string_view CompressedMagic = "OXdc";
// From this compatibility code on, the header carries the saving program's version string.
constexpr uint32_t FirstCodeWithVersionString = 0x01020005;

class DumpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool startsWith(std::span<const uint8_t> bytes, std::string_view prefix)
{
    return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

uint32_t bigEndian32(std::span<const uint8_t> bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) << 24 | static_cast<uint32_t>(bytes[offset + 1]) << 16
        | static_cast<uint32_t>(bytes[offset + 2]) << 8 | static_cast<uint32_t>(bytes[offset + 3]);
}

std::string base64(std::span<const uint8_t> bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t n
            = static_cast<uint32_t>(bytes[i]) << 16 | static_cast<uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (i + 1 == bytes.size()) {
        uint32_t n = static_cast<uint32_t>(bytes[i]) << 16;
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        uint32_t n = static_cast<uint32_t>(bytes[i]) << 16 | static_cast<uint32_t>(bytes[i + 1]) << 8;
        out += alphabet[n >> 18];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

Json dataJson(std::span<const uint8_t> bytes)
{
    return Json { { "$data", base64(bytes) } };
}

// Shared objects print once, but strings are printed wherever they are met; a reference
// of a byte or two can repeat a long string, so the text printed is bounded by the input.
class OutputBudget {
public:
    explicit OutputBudget(size_t inputSize)
        : limit_(static_cast<uint64_t>(inputSize) * 64 + (1u << 20))
    {
    }
    void charge(size_t bytes)
    {
        used_ += bytes + 16;
        if (used_ > limit_)
            throw DumpError("the archive repeats more than its size allows");
    }

private:
    uint64_t used_ = 0;
    uint64_t limit_;
};

// --- Keyed archives, walked as raw property lists ---

class KeyedDumper {
public:
    KeyedDumper(const keyed::PlistValue& objects, OutputBudget& budget)
        : objects_(objects.items)
        , budget_(budget)
    {
    }

    Json value(const keyed::PlistValue& node, int depth)
    {
        using Kind = keyed::PlistValue::Kind;
        if (depth > MaxDepth)
            throw DumpError("keyed archive nested more than " + std::to_string(MaxDepth) + " deep");
        budget_.charge(node.text.size() + node.bytes.size() * 2);
        switch (node.kind) {
        case Kind::Uid:
            return object(static_cast<uint64_t>(node.integer), depth + 1);
        case Kind::Array: {
            Json out = Json::array();
            for (const auto& item : node.items)
                out.push_back(value(item, depth + 1));
            return out;
        }
        case Kind::Dictionary: {
            Json out = Json::object();
            for (const auto& [key, item] : node.entries) {
                budget_.charge(key.size());
                out[key] = value(item, depth + 1);
            }
            return out;
        }
        case Kind::Boolean:
            return node.boolean;
        case Kind::Integer:
            return node.integer;
        case Kind::Real:
            return node.real;
        case Kind::Date:
            return Json { { "$date", node.real } };
        case Kind::String:
            return node.text;
        case Kind::Data:
            return dataJson(node.bytes);
        }
        return nullptr;
    }

private:
    std::string className(const keyed::PlistValue* classRef)
    {
        if (!classRef || classRef->kind != keyed::PlistValue::Kind::Uid)
            throw DumpError("keyed archive object whose $class is not a reference");
        auto uid = static_cast<uint64_t>(classRef->integer);
        if (uid >= objects_.size())
            throw DumpError("keyed archive $class reference " + std::to_string(uid) + " out of range");
        const keyed::PlistValue* name = objects_[uid].find("$classname");
        if (!name || name->kind != keyed::PlistValue::Kind::String)
            throw DumpError("keyed archive class without $classname");
        budget_.charge(name->text.size());
        return name->text;
    }

    // Every container reached through a reference is written once; later references to it
    // print as {"$ref": uid}, which also ends cycles and stops shared references multiplying.
    Json object(uint64_t uid, int depth)
    {
        using Kind = keyed::PlistValue::Kind;
        if (uid >= objects_.size())
            throw DumpError("keyed archive reference " + std::to_string(uid) + " out of range");
        const keyed::PlistValue& node = objects_[uid];
        if (uid == 0 && node.kind == Kind::String && node.text == "$null")
            return nullptr;
        if (node.kind != Kind::Dictionary && node.kind != Kind::Array)
            return value(node, depth);
        if (!seen_.insert(uid).second)
            return Json { { "$ref", uid } };
        const keyed::PlistValue* classRef = node.find("$class");
        if (!classRef)
            return value(node, depth);
        Json out = Json::object();
        out["$class"] = className(classRef);
        out["$id"] = uid;
        for (const auto& [key, item] : node.entries) {
            if (key != "$class") {
                budget_.charge(key.size());
                out[key] = value(item, depth + 1);
            }
        }
        return out;
    }

    const std::vector<keyed::PlistValue>& objects_;
    OutputBudget& budget_;
    std::unordered_set<uint64_t> seen_;
};

Json dumpKeyed(std::span<const uint8_t> bytes)
{
    std::string error;
    auto root = keyed::parseBinaryPlist(bytes, &error);
    if (!root)
        throw DumpError("bad binary property list: " + error);
    if (root->kind != keyed::PlistValue::Kind::Dictionary)
        throw DumpError("property list is not a keyed archive (not a dictionary)");
    const keyed::PlistValue* objects = root->find("$objects");
    const keyed::PlistValue* top = root->find("$top");
    if (!objects || objects->kind != keyed::PlistValue::Kind::Array || !top
        || top->kind != keyed::PlistValue::Kind::Dictionary)
        throw DumpError("property list is not a keyed archive (no $objects or $top)");
    Json out = Json::object();
    out["format"] = "keyed archive";
    OutputBudget budget(bytes.size());
    KeyedDumper dumper(*objects, budget);
    if (const keyed::PlistValue* archiver = root->find("$archiver"))
        out["archiver"] = dumper.value(*archiver, 0);
    if (const keyed::PlistValue* version = root->find("$version"))
        out["version"] = dumper.value(*version, 0);
    out["top"] = dumper.value(*top, 0);
    return out;
}

// --- Typed streams ---

class TypedDumper {
public:
    TypedDumper(const TypedStreamDecoder& decoder, OutputBudget& budget)
        : decoder_(decoder)
        , budget_(budget)
    {
    }

    Json value(const TypedStreamValue& v)
    {
        using Kind = TypedStreamValue::Kind;
        budget_.charge(v.text.size() + v.bytes.size() * 2);
        switch (v.kind) {
        case Kind::Nil:
            return nullptr;
        case Kind::Integer:
            return v.integer;
        case Kind::Real:
            return v.real;
        case Kind::String:
            return v.text;
        case Kind::ByteArray:
            return dataJson(v.bytes);
        case Kind::Object:
            return object(v.object);
        case Kind::Class:
            return Json { { "$classValue", v.text }, { "$version", v.integer } };
        case Kind::Array: {
            Json out = Json::array();
            for (const auto& element : v.elements)
                out.push_back(value(element));
            return out;
        }
        case Kind::Struct: {
            Json fields = Json::array();
            for (const auto& field : v.elements)
                fields.push_back(value(field));
            Json out = Json::object();
            if (!v.text.empty())
                out["$struct"] = v.text;
            out["fields"] = std::move(fields);
            return out;
        }
        }
        return nullptr;
    }

    Json object(const ArchiveObjectPtr& object)
    {
        if (!object)
            return nullptr;
        budget_.charge(0);
        if (auto* string = dynamic_cast<const ArchivedString*>(object.get())) {
            budget_.charge(string->value.size());
            return string->value;
        }
        if (auto* number = dynamic_cast<const ArchivedNumber*>(object.get()))
            return std::visit([](auto n) { return Json(n); }, number->value);
        auto found = ids_.find(object.get());
        if (found != ids_.end())
            return Json { { "$ref", found->second } };
        size_t id = ids_.size() + 1;
        ids_.emplace(object.get(), id);

        Json out = Json::object();
        auto chain = decoder_.classChainOfObject(object.get());
        for (const auto& level : chain)
            budget_.charge(level.name.size());
        out["$class"] = chain.empty() ? object->archiveClassName() : chain[0].name;
        if (!chain.empty())
            out["$version"] = chain[0].version;
        out["$id"] = id;
        if (auto* data = dynamic_cast<const ArchivedData*>(object.get())) {
            budget_.charge(data->bytes.size() * 2);
            out["data"] = base64(data->bytes);
        } else if (auto* array = dynamic_cast<const ArchivedArray*>(object.get())) {
            out["objects"] = objects(array->items);
        } else if (auto* set = dynamic_cast<const ArchivedSet*>(object.get())) {
            out["objects"] = objects(set->items);
        } else if (auto* dictionary = dynamic_cast<const ArchivedDictionary*>(object.get())) {
            Json keys = Json::array();
            Json values = Json::array();
            for (const auto& [key, item] : dictionary->entries) {
                keys.push_back(this->object(key));
                values.push_back(this->object(item));
            }
            out["keys"] = std::move(keys);
            out["objects"] = std::move(values);
        } else if (auto* date = dynamic_cast<const ArchivedDate*>(object.get())) {
            out["time"] = date->secondsSinceReferenceDate;
        } else if (auto* typed = dynamic_cast<const ArchivedTypedValue*>(object.get())) {
            out["type"] = typed->typeEncoding;
            out["value"] = value(typed->value);
        } else if (auto* generic = dynamic_cast<const TypedStreamGenericObject*>(object.get())) {
            if (generic->classChain.size() > 1) {
                Json superclasses = Json::array();
                for (size_t i = 1; i < generic->classChain.size(); ++i)
                    superclasses.push_back({ { "name", generic->classChain[i].name },
                        { "version", generic->classChain[i].version } });
                out["$superclasses"] = std::move(superclasses);
            }
            out["types"] = generic->types;
            Json values = Json::array();
            for (const auto& v : generic->values)
                values.push_back(value(v));
            out["values"] = std::move(values);
        }
        return out;
    }

private:
    Json objects(const std::vector<ArchiveObjectPtr>& items)
    {
        Json out = Json::array();
        for (const auto& item : items)
            out.push_back(object(item));
        return out;
    }

    const TypedStreamDecoder& decoder_;
    OutputBudget& budget_;
    std::unordered_map<const ArchiveObject*, size_t> ids_;
};

Json dumpTyped(std::span<const uint8_t> bytes)
{
    TypedStreamDecoder::Options options;
    options.decodeUnknownClassesGenerically = true;
    options.foundationClassesOnly = true;
    TypedStreamDecoder decoder(bytes, options);
    std::vector<TypedStreamValue> values;
    while (!decoder.failed() && !decoder.atEnd())
        values.push_back(decoder.decodeNextValue());
    if (decoder.failed())
        throw DumpError(decoder.errorText());
    Json out = Json::object();
    out["format"] = "typed stream";
    out["byteOrder"] = decoder.isBigEndian() ? "big-endian" : "little-endian";
    out["systemVersion"] = decoder.systemVersion();
    OutputBudget budget(bytes.size());
    TypedDumper dumper(decoder, budget);
    Json list = Json::array();
    for (const auto& value : values) {
        Json entry = dumper.value(value);
        list.push_back({ { "type", value.type }, { "value", std::move(entry) } });
    }
    out["values"] = std::move(list);
    return out;
}

// --- Containers ---

Json dumpArchive(std::span<const uint8_t> bytes, bool allowWrappers);

Json dumpCompressed(std::span<const uint8_t> bytes)
{
    auto plain = uncompressedData(bytes);
    if (!plain)
        throw DumpError("the compressed archive could not be uncompressed");
    Json inner = dumpArchive(*plain, false);
    Json out = Json::object();
    out["format"] = "compressed";
    out["compressedLength"] = bytes.size();
    out["uncompressedLength"] = plain->size();
    out["archive"] = std::move(inner);
    return out;
}

Json dumpFileWithHeader(std::span<const uint8_t> bytes, std::string_view magic, const char* format)
{
    size_t codes = magic.size();
    if (bytes.size() < codes + 8)
        throw DumpError(std::string(format) + " header is truncated");
    uint32_t compatibility = bigEndian32(bytes, codes);
    uint32_t savedWith = bigEndian32(bytes, codes + 4);
    size_t archiveStart = codes + 8;
    Json out = Json::object();
    out["format"] = format;
    out["compatibilityVersion"] = formatBuildVersionCode(compatibility);
    out["savedWithVersion"] = formatBuildVersionCode(savedWith);
    if (compatibility >= FirstCodeWithVersionString) {
        const uint8_t* begin = bytes.data() + archiveStart;
        const void* zero = std::memchr(begin, 0, bytes.size() - archiveStart);
        if (!zero)
            throw DumpError(std::string(format) + " header has no end to its version string");
        size_t length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - begin);
        out["versionString"] = std::string(reinterpret_cast<const char*>(begin), length);
        archiveStart += length + 1;
    }
    std::span<const uint8_t> archive = bytes.subspan(archiveStart);
    if (startsWith(archive, CompressedMagic)) {
        auto plain = uncompressedData(archive);
        if (!plain)
            throw DumpError(std::string("the ") + format + " archive could not be uncompressed");
        out["compressed"] = true;
        out["archive"] = dumpArchive(*plain, false);
    } else {
        out["compressed"] = false;
        out["archive"] = dumpArchive(archive, false);
    }
    return out;
}

Json dumpArchive(std::span<const uint8_t> bytes, bool allowWrappers)
{
    if (TypedStreamDecoder::hasSignature(bytes))
        return dumpTyped(bytes);
    if (startsWith(bytes, "bplist"))
        return dumpKeyed(bytes);
    if (allowWrappers) {
        if (startsWith(bytes, SongMagic))
            return dumpFileWithHeader(bytes, SongMagic, "rpsong");
        if (startsWith(bytes, KitMagic))
            return dumpFileWithHeader(bytes, KitMagic, "rpkit");
        if (startsWith(bytes, CompressedMagic))
            return dumpCompressed(bytes);
        throw DumpError("not a keyed archive, typed stream, song or kit file");
    }
    throw DumpError("the wrapped data is not a keyed archive or typed stream");
}

} // namespace

std::optional<std::string> dumpArchiveAsJSON(std::span<const uint8_t> bytes, std::string* error)
{
    try {
        Json out = dumpArchive(bytes, true);
        if (error)
            error->clear();
        return out.dump(2, ' ', false, Json::error_handler_t::replace);
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "out of memory";
    } catch (const std::exception& e) {
        if (error)
            *error = e.what();
    }
    return std::nullopt;
}

} // namespace rp
