#pragma once

#include "archive/ArchiveObject.h"
#include "archive/TypedStreamValue.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rp {

// Thrown inside class factories when the stream is bad; the decoder records the text first,
// so callers outside a factory only ever see failed() and errorText().
class TypedStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reader of the older sequential archives ("typedstream"), in either byte order.
//
// A stream is a header followed by groups of values; each group starts with a type-encoding
// string ("@", "i", "@if", "{?=ff}") and holds one value per type. Decoding pulls one value at a
// time: a group of several types and several one-type groups read alike. Objects are numbered in
// stream order together with classes and C strings, and a later reference returns the same
// ArchiveObjectPtr. Only classes with a registered factory are instantiated.
//
// Every read is bounds-checked, nesting is limited, counts and lengths are checked against the
// bytes that remain before anything is allocated, and a reference to an object that is still
// being decoded (a cycle) is refused. Inside a factory a bad stream throws TypedStreamError,
// which unwinds through the factory; outside, the decoder reports failed() and errorText().
class TypedStreamDecoder {
public:
    using Factory = std::function<ArchiveObjectPtr(TypedStreamDecoder&)>;

    // Like the platform's NSNotFound: versionForClassName() of a class the stream never named.
    static constexpr int64_t NotFound = std::numeric_limits<int64_t>::max();
    // Objects, structs and arrays nested deeper than this are refused.
    static constexpr int MaxNesting = 128;

    // A factory runs with the decoder positioned inside the object: it reads the object's
    // values in order and returns the object (or null for nil). Registering a name again
    // replaces its factory. The Foundation classes are registered from the start.
    static void registerClass(const std::string& name, Factory factory);
    static bool isClassRegistered(const std::string& name);
    // Objects stored under `oldName` are decoded with the factory of `newName`.
    static void setClassNameTranslation(const std::string& oldName, const std::string& newName);
    static std::string translatedClassName(const std::string& name);

    // Decodes the root object of a whole stream. A bad stream gives null and the reason.
    static ArchiveObjectPtr unarchiveObjectWithData(std::span<const uint8_t> data, std::string* error);

    // True when `data` starts like a typed stream of either byte order.
    static bool hasSignature(std::span<const uint8_t> data);

    struct Options {
        // Read objects of unregistered classes as TypedStreamGenericObject instead of failing.
        bool decodeUnknownClassesGenerically = false;
        // Use only the built-in Foundation factories (no translations, no program classes).
        bool foundationClassesOnly = false;
    };

    // Reads the header at once; a bad header leaves the decoder failed.
    explicit TypedStreamDecoder(std::span<const uint8_t> data);
    TypedStreamDecoder(std::span<const uint8_t> data, Options options);
    TypedStreamDecoder(const TypedStreamDecoder&) = delete;
    TypedStreamDecoder& operator=(const TypedStreamDecoder&) = delete;
    ~TypedStreamDecoder();

    bool failed() const { return failed_; }
    std::string errorText() const { return errorText_; }

    bool isBigEndian() const { return bigEndian_; }
    int streamerVersion() const { return streamerVersion_; }
    int64_t systemVersion() const { return systemVersion_; }

    // --- Values. Each call takes the next value, which must have the given type. ---
    ArchiveObjectPtr decodeObject(); // '@'; null for nil
    // '@' holding an NSString or NSMutableString; nullopt for nil; another class is an error.
    std::optional<std::string> decodeStringObject();
    int64_t decodeInteger(char type); // c C s S i I l L q Q B ('l' reads 'i' and back)
    float decodeFloat(); // 'f'
    double decodeDouble(); // 'd'
    std::optional<std::string> decodeCString(); // '*'; nullopt for nil
    std::optional<std::string> decodeUnsharedString(); // '+'
    std::vector<uint8_t> decodeBytes(size_t count); // "[<count>c]" (or C)
    // An 'i' length followed by that many bytes, as NSData writes them.
    std::vector<uint8_t> decodeDataObject();
    // Any single type, given exactly as the stream must hold it ("{?=ff}", "[3i]", "i").
    TypedStreamValue decodeValueOfObjCType(std::string_view type);
    TypedStreamValue decodeValueOfObjCType(char type)
    {
        return decodeValueOfObjCType(std::string_view(&type, 1));
    }
    // Several types in order: "@if" is the same as three separate calls.
    std::vector<TypedStreamValue> decodeValuesOfObjCTypes(std::string_view types);
    // Whatever value comes next, with the type the stream gives.
    TypedStreamValue decodeNextValue();

    // Inside a factory: no values of the current object remain.
    bool atEndOfObject();
    // At top level: no further groups remain in the stream.
    bool atEnd();

    // The class version stored for a class of this name (the stored name or the name it
    // translates to), NotFound when the stream has not named such a class so far.
    int64_t versionForClassName(const std::string& name) const;

    // Inside a factory: the class of the object being decoded, as stored in the stream.
    std::string currentClassName() const;
    int64_t currentClassVersion() const;

    // Class chain (names and versions, the object's class first) of an object this decoder made.
    std::vector<TypedStreamGenericObject::ClassLevel> classChainOfObject(const ArchiveObject* object) const;

    // Fails decoding with this text (for factories that meet values they cannot accept).
    [[noreturn]] void failWithError(const std::string& text);

private:
    struct ClassRecord {
        std::string name;
        int64_t version = 0;
        ptrdiff_t superclass = -1; // index into classes_
        bool complete = false;
    };
    struct TableEntry {
        enum class Kind { Object, Class, CString };
        explicit TableEntry(Kind k)
            : kind(k)
        {
        }
        Kind kind;
        bool finished = false; // objects: decoding done
        ArchiveObjectPtr object;
        size_t classIndex = 0;
        std::string text;
    };
    struct TypeNode;
    struct TypeList;
    struct Level {
        const TypeList* pending = nullptr;
        size_t next = 0;
        ptrdiff_t classIndex = -1;
    };

    template <typename T, typename F> T guarded(T fallback, F&& body);
    [[noreturn]] void fail(const std::string& text);

    void readHeader();
    uint8_t readByte();
    uint8_t peekByte();
    std::span<const uint8_t> readExact(size_t count);
    uint64_t readFixed(size_t width);
    int64_t readIntegerWithHead(uint8_t head, bool isSigned);
    double readRealWithHead(uint8_t head, bool isDouble);
    std::optional<std::string> readUnsharedStringWithHead(uint8_t head);
    std::optional<std::string> readSharedString();
    size_t readReferenceIndex(uint8_t head);

    static bool parseTypeList(TypeList& list, std::string& error);
    static bool parseType(std::string_view text, size_t& pos, int depth, TypeNode& node, std::string& error);

    std::optional<size_t> readSharedStringIndex();
    const TypeNode& nextType();
    const TypeList& typeListForString(size_t sharedIndex);
    void countValue();
    void chargeCopy(size_t bytes);
    std::string describeType(std::string_view type) const;

    class NestingScope;
    TypedStreamValue readValue(const TypeNode& type);
    TypedStreamValue readTopValue(const TypeNode& type);
    ArchiveObjectPtr readObject();
    ptrdiff_t readClassChain();
    std::optional<std::string> readCString();

    Factory factoryFor(const std::string& storedName) const;
    std::vector<TypedStreamGenericObject::ClassLevel> classChainOfIndex(ptrdiff_t index) const;

    std::span<const uint8_t> data_;
    size_t position_ = 0;
    Options options_;
    bool failed_ = false;
    std::string errorText_;
    bool bigEndian_ = true;
    int streamerVersion_ = 0;
    int64_t systemVersion_ = 0;

    std::vector<std::string> sharedStrings_;
    std::unordered_map<size_t, std::unique_ptr<TypeList>> typeLists_; // by shared-string index
    std::vector<TableEntry> table_;
    std::vector<ClassRecord> classes_;
    std::vector<Level> levels_;
    int nesting_ = 0;
    int factoryDepth_ = 0;
    uint64_t valuesRead_ = 0;
    uint64_t valueBudget_ = 0;
    uint64_t copiedBytes_ = 0;
    uint64_t copyBudget_ = 0;
    std::unordered_map<const ArchiveObject*, size_t> objectClasses_;
};

} // namespace rp
