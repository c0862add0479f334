#include "archive/TypedStreamDecoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string_view>

namespace rp {

namespace {

// Head bytes. Values from 0x80 to 0x91 are tags; every other byte is a one-byte integer.
constexpr uint8_t TagInteger2 = 0x81;
constexpr uint8_t TagInteger4 = 0x82;
constexpr uint8_t TagReal = 0x83;
constexpr uint8_t TagNew = 0x84;
constexpr uint8_t TagNil = 0x85;
constexpr uint8_t TagEndOfObject = 0x86;
constexpr int FirstTag = -128;
constexpr int LastTag = -111;
// Reference numbers start just above the tags, so early ones fit in the head byte.
constexpr int64_t FirstReferenceNumber = LastTag + 1;

constexpr int CurrentStreamerVersion = 4;
constexpr std::string_view BigEndianSignature = "typedstream";
constexpr std::string_view LittleEndianSignature = "streamtyped";

// Type strings and struct names longer than this are refused: no real archive comes near.
constexpr size_t MaxTypeStringLength = 65536;
constexpr size_t MaxStructNameLength = 256;

bool isTag(uint8_t head)
{
    int value = static_cast<int8_t>(head);
    return value >= FirstTag && value <= LastTag;
}

bool isScalarCode(char c)
{
    return std::string_view("cCsSiIlLqQfdB*%:+#@").find(c) != std::string_view::npos;
}

bool isIntegerCode(char c)
{
    return std::string_view("cCsSiIlLqQB").find(c) != std::string_view::npos;
}

// 'l' and 'i' are the same 32-bit integer in these streams, so either reads the other.
char canonicalIntegerCode(char c)
{
    if (c == 'l')
        return 'i';
    if (c == 'L')
        return 'I';
    return c;
}

uint64_t saturatingMultiply(uint64_t a, uint64_t b)
{
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a)
        return std::numeric_limits<uint64_t>::max();
    return a * b;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// Stream text shown in error messages: printable ASCII only, shortened.
std::string printable(std::string_view text)
{
    std::string out;
    for (char c : text.substr(0, 48)) {
        auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7f) ? c : '?';
    }
    if (text.size() > 48)
        out += "...";
    return out;
}

std::string hexByte(uint8_t byte)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "0x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
    return out;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, TypedStreamDecoder::Factory> factories;
    std::map<std::string, TypedStreamDecoder::Factory> foundation;
    std::map<std::string, std::string> translations;
};

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUTF8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        size_t extra = 0;
        uint32_t code = 0;
        uint32_t lowest = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
            lowest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
            lowest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
            lowest = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

ArchiveObjectPtr decodeString(TypedStreamDecoder& coder, bool isMutable)
{
    auto text = coder.decodeUnsharedString();
    if (!text)
        coder.failWithError("string object without contents");
    // Strings are stored as UTF-8; other bytes are damage, and a string that cannot be written
    // back would make whatever holds it impossible to save.
    if (!isValidUTF8(*text))
        coder.failWithError("string object is not valid UTF-8");
    return std::make_shared<ArchivedString>(std::move(*text), isMutable);
}

ArchiveObjectPtr decodeArray(TypedStreamDecoder& coder, bool isMutable)
{
    int64_t count = coder.decodeInteger('i');
    if (count < 0)
        coder.failWithError("array with a negative count");
    // No reserve: the count comes from the file; each element costs at least one byte, so
    // a false count runs out of data long before it runs out of memory.
    std::vector<ArchiveObjectPtr> items;
    for (int64_t i = 0; i < count; ++i)
        items.push_back(coder.decodeObject());
    return std::make_shared<ArchivedArray>(std::move(items), isMutable);
}

ArchiveObjectPtr decodeSet(TypedStreamDecoder& coder, bool isMutable)
{
    int64_t count = coder.decodeInteger('I');
    std::vector<ArchiveObjectPtr> items;
    for (int64_t i = 0; i < count; ++i)
        items.push_back(coder.decodeObject());
    return std::make_shared<ArchivedSet>(std::move(items), isMutable);
}

ArchiveObjectPtr decodeDictionary(TypedStreamDecoder& coder, bool isMutable)
{
    int64_t count = coder.decodeInteger('i');
    if (count < 0)
        coder.failWithError("dictionary with a negative count");
    std::vector<ArchivedDictionary::Entry> entries;
    for (int64_t i = 0; i < count; ++i) {
        ArchiveObjectPtr key = coder.decodeObject();
        ArchiveObjectPtr value = coder.decodeObject();
        entries.emplace_back(std::move(key), std::move(value));
    }
    return std::make_shared<ArchivedDictionary>(std::move(entries), isMutable);
}

ArchiveObjectPtr decodeNumber(TypedStreamDecoder& coder)
{
    auto type = coder.decodeCString();
    if (!type || type->size() != 1 || !(isIntegerCode((*type)[0]) || (*type)[0] == 'f' || (*type)[0] == 'd'))
        coder.failWithError("number of type \"" + printable(type.value_or("")) + "\"");
    char code = (*type)[0];
    TypedStreamValue value = coder.decodeValueOfObjCType(*type);
    ArchivedNumber::Value number;
    switch (code) {
    case 'f':
        number = static_cast<float>(value.real);
        break;
    case 'd':
        number = value.real;
        break;
    case 'B':
        number = value.integer != 0;
        break;
    case 'C':
    case 'S':
    case 'I':
    case 'L':
    case 'Q':
        number = static_cast<uint64_t>(value.integer);
        break;
    default:
        number = value.integer;
        break;
    }
    return std::make_shared<ArchivedNumber>(number);
}

ArchiveObjectPtr decodeValue(TypedStreamDecoder& coder)
{
    auto type = coder.decodeCString();
    if (!type || type->empty())
        coder.failWithError("value object without a type");
    auto object = std::make_shared<ArchivedTypedValue>();
    object->typeEncoding = *type;
    object->value = coder.decodeValueOfObjCType(*type);
    return object;
}

void addFoundationClasses(std::map<std::string, TypedStreamDecoder::Factory>& table)
{
    table["NSString"] = [](TypedStreamDecoder& c) { return decodeString(c, false); };
    table["NSMutableString"] = [](TypedStreamDecoder& c) { return decodeString(c, true); };
    table["NSArray"] = [](TypedStreamDecoder& c) { return decodeArray(c, false); };
    table["NSMutableArray"] = [](TypedStreamDecoder& c) { return decodeArray(c, true); };
    table["NSSet"] = [](TypedStreamDecoder& c) { return decodeSet(c, false); };
    table["NSMutableSet"] = [](TypedStreamDecoder& c) { return decodeSet(c, true); };
    table["NSDictionary"] = [](TypedStreamDecoder& c) { return decodeDictionary(c, false); };
    table["NSMutableDictionary"] = [](TypedStreamDecoder& c) { return decodeDictionary(c, true); };
    table["NSData"] = [](TypedStreamDecoder& c) -> ArchiveObjectPtr {
        return std::make_shared<ArchivedData>(c.decodeDataObject(), false);
    };
    table["NSMutableData"] = [](TypedStreamDecoder& c) -> ArchiveObjectPtr {
        return std::make_shared<ArchivedData>(c.decodeDataObject(), true);
    };
    table["NSNumber"] = [](TypedStreamDecoder& c) { return decodeNumber(c); };
    table["NSValue"] = [](TypedStreamDecoder& c) { return decodeValue(c); };
    table["NSDate"] = [](TypedStreamDecoder& c) -> ArchiveObjectPtr {
        return std::make_shared<ArchivedDate>(c.decodeDouble());
    };
}

Registry& registry()
{
    static Registry* instance = [] {
        auto* r = new Registry;
        addFoundationClasses(r->foundation);
        r->factories = r->foundation;
        return r;
    }();
    return *instance;
}

ArchiveObjectPtr decodeGenerically(TypedStreamDecoder& coder)
{
    auto object = std::make_shared<TypedStreamGenericObject>();
    while (!coder.atEndOfObject()) {
        TypedStreamValue value = coder.decodeNextValue();
        object->types += value.type;
        object->values.push_back(std::move(value));
    }
    return object;
}

} // namespace

struct TypedStreamDecoder::TypeNode {
    char code = 0; // a scalar code, '[' or '{'
    std::string_view encoding; // views into the owning TypeList's source
    std::string_view name; // struct name
    uint64_t count = 0; // array length
    uint64_t minSize = 1; // fewest stream bytes a value of this type can take
    std::vector<TypeNode> children; // array element, struct fields
};

struct TypedStreamDecoder::TypeList {
    std::string source;
    std::vector<TypeNode> types;
};

// --- Registration ---

void TypedStreamDecoder::registerClass(const std::string& name, Factory factory)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories[name] = std::move(factory);
}

bool TypedStreamDecoder::isClassRegistered(const std::string& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.factories.count(name) != 0;
}

void TypedStreamDecoder::setClassNameTranslation(const std::string& oldName, const std::string& newName)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.translations[oldName] = newName;
}

std::string TypedStreamDecoder::translatedClassName(const std::string& name)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.translations.find(name);
    return it == r.translations.end() ? name : it->second;
}

TypedStreamDecoder::Factory TypedStreamDecoder::factoryFor(const std::string& storedName) const
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (options_.foundationClassesOnly) {
        auto it = r.foundation.find(storedName);
        return it == r.foundation.end() ? Factory() : it->second;
    }
    std::string name = storedName;
    if (auto t = r.translations.find(storedName); t != r.translations.end())
        name = t->second;
    auto it = r.factories.find(name);
    return it == r.factories.end() ? Factory() : it->second;
}

// --- Construction and failure ---

TypedStreamDecoder::TypedStreamDecoder(std::span<const uint8_t> data)
    : TypedStreamDecoder(data, Options())
{
}

TypedStreamDecoder::TypedStreamDecoder(std::span<const uint8_t> data, Options options)
    : data_(data)
    , options_(options)
{
    // Every value takes at least one byte except empty arrays; this bound stops streams that
    // describe endless zero-size values without limiting any real archive.
    valueBudget_ = static_cast<uint64_t>(data.size()) * 16 + 1024;
    // References repeat earlier strings for a byte or two each; this bounds what they add up to.
    copyBudget_ = static_cast<uint64_t>(data.size()) * 64 + (1u << 20);
    levels_.push_back(Level {});
    guarded(0, [&] {
        readHeader();
        return 0;
    });
}

TypedStreamDecoder::~TypedStreamDecoder() = default;

void TypedStreamDecoder::fail(const std::string& text)
{
    if (!failed_) {
        failed_ = true;
        errorText_ = "typed stream: " + text;
    }
    throw TypedStreamError(errorText_);
}

void TypedStreamDecoder::failWithError(const std::string& text)
{
    std::string where = currentClassName();
    fail(where.empty() ? text : text + " (in an object of class " + printable(where) + ")");
}

template <typename T, typename F> T TypedStreamDecoder::guarded(T fallback, F&& body)
{
    if (failed_) {
        if (factoryDepth_ > 0)
            throw TypedStreamError(errorText_);
        return fallback;
    }
    try {
        return body();
    } catch (const TypedStreamError& e) {
        if (!failed_) { // a factory threw its own
            failed_ = true;
            errorText_ = std::string("typed stream: ") + e.what();
        }
        if (factoryDepth_ > 0)
            throw;
    } catch (const std::bad_alloc&) {
        if (!failed_) {
            failed_ = true;
            errorText_ = "typed stream: out of memory";
        }
        if (factoryDepth_ > 0)
            throw TypedStreamError(errorText_);
    } catch (const std::exception& e) {
        if (!failed_) {
            failed_ = true;
            errorText_ = std::string("typed stream: ") + e.what();
        }
        if (factoryDepth_ > 0)
            throw;
    }
    return fallback;
}

// --- Bytes ---

uint8_t TypedStreamDecoder::readByte()
{
    if (position_ >= data_.size())
        fail("unexpected end of data at byte " + std::to_string(position_));
    return data_[position_++];
}

uint8_t TypedStreamDecoder::peekByte()
{
    if (position_ >= data_.size())
        fail("unexpected end of data at byte " + std::to_string(position_));
    return data_[position_];
}

std::span<const uint8_t> TypedStreamDecoder::readExact(size_t count)
{
    if (count > data_.size() - position_)
        fail("a length of " + std::to_string(count) + " bytes runs past the end of the data at byte "
            + std::to_string(position_));
    auto out = data_.subspan(position_, count);
    position_ += count;
    return out;
}

uint64_t TypedStreamDecoder::readFixed(size_t width)
{
    auto bytes = readExact(width);
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        size_t index = bigEndian_ ? i : width - 1 - i;
        value = (value << 8) | bytes[index];
    }
    return value;
}

int64_t TypedStreamDecoder::readIntegerWithHead(uint8_t head, bool isSigned)
{
    if (!isTag(head))
        return isSigned ? static_cast<int64_t>(static_cast<int8_t>(head)) : static_cast<int64_t>(head);
    if (head == TagInteger2) {
        auto raw = static_cast<uint16_t>(readFixed(2));
        return isSigned ? static_cast<int64_t>(static_cast<int16_t>(raw)) : static_cast<int64_t>(raw);
    }
    if (head == TagInteger4) {
        auto raw = static_cast<uint32_t>(readFixed(4));
        return isSigned ? static_cast<int64_t>(static_cast<int32_t>(raw)) : static_cast<int64_t>(raw);
    }
    fail("unexpected tag " + hexByte(head) + " where an integer was expected at byte "
        + std::to_string(position_ - 1));
}

double TypedStreamDecoder::readRealWithHead(uint8_t head, bool isDouble)
{
    if (head != TagReal)
        return static_cast<double>(readIntegerWithHead(head, true));
    if (isDouble)
        return std::bit_cast<double>(readFixed(8));
    return static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(readFixed(4))));
}

std::optional<std::string> TypedStreamDecoder::readUnsharedStringWithHead(uint8_t head)
{
    if (head == TagNil)
        return std::nullopt;
    int64_t length = readIntegerWithHead(head, false);
    auto bytes = readExact(static_cast<size_t>(length));
    return std::string(bytes.begin(), bytes.end());
}

size_t TypedStreamDecoder::readReferenceIndex(uint8_t head)
{
    size_t at = position_ - 1;
    int64_t index = readIntegerWithHead(head, true) - FirstReferenceNumber;
    if (index < 0)
        fail("bad reference number at byte " + std::to_string(at));
    return static_cast<size_t>(index);
}

std::optional<size_t> TypedStreamDecoder::readSharedStringIndex()
{
    size_t at = position_;
    uint8_t head = readByte();
    if (head == TagNil)
        return std::nullopt;
    if (head == TagNew) {
        auto text = readUnsharedStringWithHead(readByte());
        if (!text)
            fail("nil shared string at byte " + std::to_string(at));
        sharedStrings_.push_back(std::move(*text));
        return sharedStrings_.size() - 1;
    }
    size_t index = readReferenceIndex(head);
    if (index >= sharedStrings_.size())
        fail("reference to shared string " + std::to_string(index) + " of "
            + std::to_string(sharedStrings_.size()) + " at byte " + std::to_string(at));
    return index;
}

std::optional<std::string> TypedStreamDecoder::readSharedString()
{
    auto index = readSharedStringIndex();
    if (!index)
        return std::nullopt;
    chargeCopy(sharedStrings_[*index].size());
    return sharedStrings_[*index];
}

// --- Header ---

bool TypedStreamDecoder::hasSignature(std::span<const uint8_t> data)
{
    if (data.size() < 13 || data[0] != CurrentStreamerVersion || data[1] != 11)
        return false;
    std::string_view signature(reinterpret_cast<const char*>(data.data()) + 2, 11);
    return signature == BigEndianSignature || signature == LittleEndianSignature;
}

void TypedStreamDecoder::readHeader()
{
    streamerVersion_ = readByte();
    if (streamerVersion_ != CurrentStreamerVersion)
        fail("unsupported streamer version " + std::to_string(streamerVersion_));
    uint8_t length = readByte();
    if (length != BigEndianSignature.size())
        fail("not a typed stream (bad signature length)");
    auto bytes = readExact(length);
    std::string_view signature(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (signature == BigEndianSignature)
        bigEndian_ = true;
    else if (signature == LittleEndianSignature)
        bigEndian_ = false;
    else
        fail("not a typed stream (bad signature)");
    systemVersion_ = readIntegerWithHead(readByte(), false);
}

// --- Type encodings ---

bool TypedStreamDecoder::parseType(
    std::string_view text, size_t& pos, int depth, TypeNode& node, std::string& error)
{
    if (depth > MaxNesting) {
        error = "type encoding nested too deeply";
        return false;
    }
    if (pos >= text.size()) {
        error = "truncated type encoding";
        return false;
    }
    size_t start = pos;
    char code = text[pos++];
    node.code = code;
    if (isScalarCode(code)) {
        node.minSize = 1;
    } else if (code == '[') {
        uint64_t count = 0;
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            count = count * 10 + static_cast<uint64_t>(text[pos] - '0');
            if (count > 0xffffffffu) {
                error = "array type too long";
                return false;
            }
            ++pos;
            ++digits;
        }
        if (digits == 0) {
            error = "array type without a length";
            return false;
        }
        node.count = count;
        node.children.resize(1);
        if (!parseType(text, pos, depth + 1, node.children[0], error))
            return false;
        if (pos >= text.size() || text[pos] != ']') {
            error = "unterminated array type";
            return false;
        }
        ++pos;
        node.minSize = saturatingMultiply(count, node.children[0].minSize);
    } else if (code == '{') {
        size_t nameStart = pos;
        while (pos < text.size() && text[pos] != '=' && text[pos] != '}' && text[pos] != '{')
            ++pos;
        if (pos >= text.size() || text[pos] != '=') {
            error = "struct type without fields";
            return false;
        }
        node.name = text.substr(nameStart, pos - nameStart);
        if (node.name.size() > MaxStructNameLength) {
            error = "struct name too long";
            return false;
        }
        ++pos;
        node.minSize = 0;
        while (pos < text.size() && text[pos] != '}') {
            node.children.emplace_back();
            if (!parseType(text, pos, depth + 1, node.children.back(), error))
                return false;
            node.minSize = saturatingAdd(node.minSize, node.children.back().minSize);
        }
        if (pos >= text.size()) {
            error = "unterminated struct type";
            return false;
        }
        if (node.children.empty()) {
            error = "struct type without fields";
            return false;
        }
        ++pos;
    } else {
        error = std::string("unsupported type '") + printable(std::string_view(&code, 1)) + "'";
        return false;
    }
    node.encoding = text.substr(start, pos - start);
    return true;
}

bool TypedStreamDecoder::parseTypeList(TypeList& list, std::string& error)
{
    std::string_view text = list.source;
    if (text.empty()) {
        error = "empty type encoding";
        return false;
    }
    if (text.size() > MaxTypeStringLength) {
        error = "type encoding too long";
        return false;
    }
    size_t pos = 0;
    while (pos < text.size()) {
        list.types.emplace_back();
        if (!parseType(text, pos, 0, list.types.back(), error))
            return false;
    }
    return true;
}

const TypedStreamDecoder::TypeList& TypedStreamDecoder::typeListForString(size_t sharedIndex)
{
    auto it = typeLists_.find(sharedIndex);
    if (it != typeLists_.end())
        return *it->second;
    auto list = std::make_unique<TypeList>();
    list->source = sharedStrings_[sharedIndex];
    std::string error;
    if (!parseTypeList(*list, error))
        fail(error + " in \"" + printable(list->source) + "\"");
    return *typeLists_.emplace(sharedIndex, std::move(list)).first->second;
}

std::string TypedStreamDecoder::describeType(std::string_view type) const
{
    return "\"" + printable(type) + "\"";
}

const TypedStreamDecoder::TypeNode& TypedStreamDecoder::nextType()
{
    Level& level = levels_.back();
    if (level.pending && level.next < level.pending->types.size())
        return level.pending->types[level.next++];
    if (level.classIndex >= 0 && peekByte() == TagEndOfObject)
        fail("no more values in an object of class "
            + printable(classes_[static_cast<size_t>(level.classIndex)].name));
    size_t at = position_;
    auto index = readSharedStringIndex();
    if (!index)
        fail("nil type encoding at byte " + std::to_string(at));
    level.pending = &typeListForString(*index);
    level.next = 0;
    return level.pending->types[level.next++];
}

void TypedStreamDecoder::chargeCopy(size_t bytes)
{
    copiedBytes_ += bytes;
    if (copiedBytes_ > copyBudget_)
        fail("the data repeats more text than its size allows");
}

void TypedStreamDecoder::countValue()
{
    if (++valuesRead_ > valueBudget_)
        fail("more values than the data can hold");
}

// --- Values ---

TypedStreamValue TypedStreamDecoder::readTopValue(const TypeNode& type)
{
    TypedStreamValue value = readValue(type);
    value.type = std::string(type.encoding);
    if (value.kind == TypedStreamValue::Kind::Struct)
        value.text = std::string(type.name);
    return value;
}

// Counts one level of nesting (an object, array or struct inside another) for as long as it lives;
// the count spans objects, so the recursion depth stays bounded whatever the mix of kinds.
class TypedStreamDecoder::NestingScope {
public:
    explicit NestingScope(TypedStreamDecoder& decoder)
        : decoder_(decoder)
    {
        if (decoder_.nesting_ >= MaxNesting)
            decoder_.fail("values nested more than " + std::to_string(MaxNesting) + " deep");
        ++decoder_.nesting_;
    }
    ~NestingScope() { --decoder_.nesting_; }
    NestingScope(const NestingScope&) = delete;
    NestingScope& operator=(const NestingScope&) = delete;

private:
    TypedStreamDecoder& decoder_;
};

TypedStreamValue TypedStreamDecoder::readValue(const TypeNode& type)
{
    using Kind = TypedStreamValue::Kind;
    countValue();
    TypedStreamValue value;
    switch (type.code) {
    case 'c':
    case 'C':
    case 'B': {
        // Chars and bools are always one raw byte, without the integer tags.
        uint8_t byte = readByte();
        value.kind = Kind::Integer;
        if (type.code == 'c')
            value.integer = static_cast<int8_t>(byte);
        else
            value.integer = byte;
        if (type.code == 'B' && byte > 1)
            fail("bool value " + std::to_string(byte) + " at byte " + std::to_string(position_ - 1));
        break;
    }
    case 's':
    case 'S':
    case 'i':
    case 'I':
    case 'l':
    case 'L':
    case 'q':
    case 'Q': {
        bool isSigned = type.code == 's' || type.code == 'i' || type.code == 'l' || type.code == 'q';
        value.kind = Kind::Integer;
        value.integer = readIntegerWithHead(readByte(), isSigned);
        if ((type.code == 's' && (value.integer < INT16_MIN || value.integer > INT16_MAX))
            || (type.code == 'S' && value.integer > UINT16_MAX))
            fail("16-bit value out of range at byte " + std::to_string(position_));
        break;
    }
    case 'f':
    case 'd':
        value.kind = Kind::Real;
        value.real = readRealWithHead(readByte(), type.code == 'd');
        break;
    case '*': {
        auto text = readCString();
        value.kind = text ? Kind::String : Kind::Nil;
        value.text = text.value_or("");
        break;
    }
    case '%':
    case ':': {
        auto text = readSharedString();
        value.kind = text ? Kind::String : Kind::Nil;
        value.text = text.value_or("");
        break;
    }
    case '+': {
        auto text = readUnsharedStringWithHead(readByte());
        value.kind = text ? Kind::String : Kind::Nil;
        value.text = text.value_or("");
        break;
    }
    case '#': {
        ptrdiff_t index = readClassChain();
        if (index >= 0) {
            value.kind = Kind::Class;
            value.text = classes_[static_cast<size_t>(index)].name;
            chargeCopy(value.text.size());
            value.integer = classes_[static_cast<size_t>(index)].version;
        }
        break;
    }
    case '@':
        value.object = readObject();
        value.kind = value.object ? Kind::Object : Kind::Nil;
        break;
    case '[': {
        const TypeNode& element = type.children[0];
        size_t remaining = data_.size() - position_;
        if (element.code == 'c' || element.code == 'C') {
            value.kind = Kind::ByteArray;
            auto bytes = readExact(static_cast<size_t>(type.count));
            value.bytes.assign(bytes.begin(), bytes.end());
            break;
        }
        if (type.minSize > remaining)
            fail("array of " + std::to_string(type.count) + " values runs past the end of the data");
        NestingScope nesting(*this);
        value.kind = Kind::Array;
        if (element.minSize > 0)
            value.elements.reserve(static_cast<size_t>(type.count));
        for (uint64_t i = 0; i < type.count; ++i)
            value.elements.push_back(readValue(element));
        break;
    }
    case '{': {
        NestingScope nesting(*this);
        value.kind = Kind::Struct;
        if (type.minSize > data_.size() - position_)
            fail("struct runs past the end of the data");
        value.elements.reserve(type.children.size());
        for (const TypeNode& field : type.children)
            value.elements.push_back(readValue(field));
        break;
    }
    default:
        fail("unsupported type");
    }
    return value;
}

std::optional<std::string> TypedStreamDecoder::readCString()
{
    size_t at = position_;
    uint8_t head = readByte();
    if (head == TagNil)
        return std::nullopt;
    if (head == TagNew) {
        auto text = readSharedString();
        if (!text)
            fail("nil C string contents at byte " + std::to_string(at));
        if (text->find('\0') != std::string::npos)
            fail("C string with a zero byte at byte " + std::to_string(at));
        TableEntry entry(TableEntry::Kind::CString);
        entry.finished = true;
        entry.text = *text;
        table_.push_back(std::move(entry));
        return text;
    }
    size_t index = readReferenceIndex(head);
    if (index >= table_.size() || table_[index].kind != TableEntry::Kind::CString)
        fail("reference " + std::to_string(index) + " at byte " + std::to_string(at) + " is not a C string");
    chargeCopy(table_[index].text.size());
    return table_[index].text;
}

ptrdiff_t TypedStreamDecoder::readClassChain()
{
    size_t at = position_;
    uint8_t head = readByte();
    std::vector<size_t> added;
    while (head == TagNew) {
        auto name = readSharedString();
        if (!name || name->empty())
            fail("class without a name at byte " + std::to_string(position_));
        int64_t version = readIntegerWithHead(readByte(), true);
        classes_.push_back(ClassRecord { std::move(*name), version, -1, false });
        TableEntry entry(TableEntry::Kind::Class);
        entry.finished = true;
        entry.classIndex = classes_.size() - 1;
        table_.push_back(std::move(entry));
        added.push_back(classes_.size() - 1);
        at = position_;
        head = readByte();
    }
    ptrdiff_t superclass = -1;
    if (head != TagNil) {
        size_t index = readReferenceIndex(head);
        if (index >= table_.size() || table_[index].kind != TableEntry::Kind::Class)
            fail("reference " + std::to_string(index) + " at byte " + std::to_string(at) + " is not a class");
        const ClassRecord& referenced = classes_[table_[index].classIndex];
        // A class of the chain being read is not complete yet: pointing at it would make a loop.
        if (!referenced.complete)
            fail("class chain refers to itself at byte " + std::to_string(at));
        superclass = static_cast<ptrdiff_t>(table_[index].classIndex);
    }
    for (auto it = added.rbegin(); it != added.rend(); ++it) {
        classes_[*it].superclass = superclass;
        classes_[*it].complete = true;
        superclass = static_cast<ptrdiff_t>(*it);
    }
    return superclass;
}

ArchiveObjectPtr TypedStreamDecoder::readObject()
{
    size_t at = position_;
    uint8_t head = readByte();
    if (head == TagNil)
        return nullptr;
    if (head != TagNew) {
        size_t index = readReferenceIndex(head);
        if (index >= table_.size() || table_[index].kind != TableEntry::Kind::Object)
            fail("reference " + std::to_string(index) + " at byte " + std::to_string(at)
                + " is not an object");
        if (!table_[index].finished)
            fail("reference at byte " + std::to_string(at) + " to an object that is still being decoded");
        return table_[index].object;
    }
    NestingScope nesting(*this);

    // The object takes its number before its classes do.
    size_t tableIndex = table_.size();
    table_.emplace_back(TableEntry::Kind::Object);
    ptrdiff_t classIndex = readClassChain();
    if (classIndex < 0)
        fail("object without a class at byte " + std::to_string(at));
    const std::string className = classes_[static_cast<size_t>(classIndex)].name;
    Factory factory = factoryFor(className);
    if (!factory) {
        if (!options_.decodeUnknownClassesGenerically)
            fail("unknown class " + printable(className));
        factory = decodeGenerically;
    }

    struct Scope {
        TypedStreamDecoder& d;
        explicit Scope(TypedStreamDecoder& decoder, ptrdiff_t classIndex)
            : d(decoder)
        {
            d.levels_.push_back(Level { nullptr, 0, classIndex });
            ++d.factoryDepth_;
        }
        ~Scope()
        {
            d.levels_.pop_back();
            --d.factoryDepth_;
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    };

    ArchiveObjectPtr object;
    {
        Scope scope(*this, classIndex);
        object = factory(*this);
        if (failed_)
            throw TypedStreamError(errorText_);
        const Level& level = levels_.back();
        if (level.pending && level.next < level.pending->types.size())
            fail("values left unread in an object of class " + printable(className));
        if (readByte() != TagEndOfObject)
            fail("values left unread in an object of class " + printable(className) + " at byte "
                + std::to_string(position_ - 1));
    }
    if (auto* generic = dynamic_cast<TypedStreamGenericObject*>(object.get());
        generic && generic->classChain.empty()) {
        generic->classChain = classChainOfIndex(classIndex);
        for (const auto& level : generic->classChain)
            chargeCopy(level.name.size());
    }
    table_[tableIndex].object = object;
    table_[tableIndex].finished = true;
    if (object)
        objectClasses_.emplace(object.get(), static_cast<size_t>(classIndex));
    return object;
}

std::vector<TypedStreamGenericObject::ClassLevel> TypedStreamDecoder::classChainOfIndex(ptrdiff_t index) const
{
    std::vector<TypedStreamGenericObject::ClassLevel> chain;
    while (index >= 0 && chain.size() <= classes_.size()) {
        const ClassRecord& record = classes_[static_cast<size_t>(index)];
        chain.push_back({ record.name, record.version });
        index = record.superclass;
    }
    return chain;
}

// --- Public value API ---

ArchiveObjectPtr TypedStreamDecoder::decodeObject()
{
    return guarded(ArchiveObjectPtr(), [&] {
        const TypeNode& type = nextType();
        if (type.code != '@')
            fail("expected an object but the stream holds " + describeType(type.encoding));
        countValue();
        return readObject();
    });
}

std::optional<std::string> TypedStreamDecoder::decodeStringObject()
{
    return guarded(std::optional<std::string>(), [&]() -> std::optional<std::string> {
        ArchiveObjectPtr object = decodeObject();
        if (failed_)
            throw TypedStreamError(errorText_);
        if (!object)
            return std::nullopt;
        auto* string = dynamic_cast<ArchivedString*>(object.get());
        if (!string)
            failWithError(
                "expected a string but found an object of class " + printable(object->archiveClassName()));
        return string->value;
    });
}

int64_t TypedStreamDecoder::decodeInteger(char type)
{
    return guarded(int64_t(0), [&] {
        if (!isIntegerCode(type))
            fail(std::string("decodeInteger called with type ") + describeType(std::string_view(&type, 1)));
        const TypeNode& node = nextType();
        if (node.encoding.size() != 1 || canonicalIntegerCode(node.code) != canonicalIntegerCode(type))
            fail("expected " + describeType(std::string_view(&type, 1)) + " but the stream holds "
                + describeType(node.encoding));
        return readValue(node).integer;
    });
}

float TypedStreamDecoder::decodeFloat()
{
    return guarded(0.0f, [&] {
        const TypeNode& node = nextType();
        if (node.encoding != "f")
            fail("expected \"f\" but the stream holds " + describeType(node.encoding));
        return static_cast<float>(readValue(node).real);
    });
}

double TypedStreamDecoder::decodeDouble()
{
    return guarded(0.0, [&] {
        const TypeNode& node = nextType();
        if (node.encoding != "d")
            fail("expected \"d\" but the stream holds " + describeType(node.encoding));
        return readValue(node).real;
    });
}

std::optional<std::string> TypedStreamDecoder::decodeCString()
{
    return guarded(std::optional<std::string>(), [&]() -> std::optional<std::string> {
        const TypeNode& node = nextType();
        if (node.encoding != "*")
            fail("expected \"*\" but the stream holds " + describeType(node.encoding));
        countValue();
        return readCString();
    });
}

std::optional<std::string> TypedStreamDecoder::decodeUnsharedString()
{
    return guarded(std::optional<std::string>(), [&]() -> std::optional<std::string> {
        const TypeNode& node = nextType();
        if (node.encoding != "+")
            fail("expected \"+\" but the stream holds " + describeType(node.encoding));
        countValue();
        return readUnsharedStringWithHead(readByte());
    });
}

std::vector<uint8_t> TypedStreamDecoder::decodeBytes(size_t count)
{
    return guarded(std::vector<uint8_t>(), [&] {
        const TypeNode& node = nextType();
        if (node.code != '[' || node.count != count
            || (node.children[0].code != 'c' && node.children[0].code != 'C'))
            fail("expected " + std::to_string(count) + " bytes but the stream holds "
                + describeType(node.encoding));
        return std::move(readValue(node).bytes);
    });
}

std::vector<uint8_t> TypedStreamDecoder::decodeDataObject()
{
    return guarded(std::vector<uint8_t>(), [&] {
        int64_t length = decodeInteger('i');
        if (failed_)
            throw TypedStreamError(errorText_);
        if (length < 0)
            fail("data with a negative length");
        auto bytes = decodeBytes(static_cast<size_t>(length));
        if (failed_)
            throw TypedStreamError(errorText_);
        return bytes;
    });
}

TypedStreamValue TypedStreamDecoder::decodeValueOfObjCType(std::string_view type)
{
    return guarded(TypedStreamValue(), [&] {
        const TypeNode& node = nextType();
        if (node.encoding != type)
            fail("expected " + describeType(type) + " but the stream holds " + describeType(node.encoding));
        return readTopValue(node);
    });
}

std::vector<TypedStreamValue> TypedStreamDecoder::decodeValuesOfObjCTypes(std::string_view types)
{
    return guarded(std::vector<TypedStreamValue>(), [&] {
        TypeList list;
        list.source = std::string(types);
        std::string error;
        if (!parseTypeList(list, error))
            fail("decodeValuesOfObjCTypes: " + error);
        std::vector<TypedStreamValue> values;
        for (const TypeNode& type : list.types) {
            values.push_back(decodeValueOfObjCType(type.encoding));
            if (failed_)
                throw TypedStreamError(errorText_);
        }
        return values;
    });
}

TypedStreamValue TypedStreamDecoder::decodeNextValue()
{
    return guarded(TypedStreamValue(), [&] { return readTopValue(nextType()); });
}

bool TypedStreamDecoder::atEndOfObject()
{
    return guarded(true, [&] {
        const Level& level = levels_.back();
        if (level.pending && level.next < level.pending->types.size())
            return false;
        return peekByte() == TagEndOfObject;
    });
}

bool TypedStreamDecoder::atEnd()
{
    return guarded(true, [&] {
        const Level& level = levels_.back();
        if (level.pending && level.next < level.pending->types.size())
            return false;
        return position_ >= data_.size();
    });
}

// --- Classes ---

int64_t TypedStreamDecoder::versionForClassName(const std::string& name) const
{
    for (const ClassRecord& record : classes_) {
        if (record.name == name || translatedClassName(record.name) == name)
            return record.version;
    }
    return NotFound;
}

std::string TypedStreamDecoder::currentClassName() const
{
    ptrdiff_t index = levels_.empty() ? -1 : levels_.back().classIndex;
    return index < 0 ? std::string() : classes_[static_cast<size_t>(index)].name;
}

int64_t TypedStreamDecoder::currentClassVersion() const
{
    ptrdiff_t index = levels_.empty() ? -1 : levels_.back().classIndex;
    return index < 0 ? NotFound : classes_[static_cast<size_t>(index)].version;
}

std::vector<TypedStreamGenericObject::ClassLevel> TypedStreamDecoder::classChainOfObject(
    const ArchiveObject* object) const
{
    auto it = objectClasses_.find(object);
    if (it == objectClasses_.end())
        return {};
    return classChainOfIndex(static_cast<ptrdiff_t>(it->second));
}

// --- Whole archives ---

ArchiveObjectPtr TypedStreamDecoder::unarchiveObjectWithData(
    std::span<const uint8_t> data, std::string* error)
{
    TypedStreamDecoder decoder(data);
    ArchiveObjectPtr root;
    if (!decoder.failed())
        root = decoder.decodeObject();
    if (decoder.failed()) {
        if (error)
            *error = decoder.errorText();
        return nullptr;
    }
    if (!root) {
        if (error)
            *error = "typed stream: the root object is nil";
        return nullptr;
    }
    if (error)
        error->clear();
    return root;
}

} // namespace rp
