#include "archive/KeyedUnarchiver.h"

#include "archive/KeyedArchivePlist.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <map>
#include <mutex>

namespace rp {

using keyed::PlistValue;
using Kind = keyed::PlistValue::Kind;

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, KeyedUnarchiver::Factory, std::less<>> factories;
    std::map<std::string, std::string, std::less<>> translations;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

bool isFoundationArrayClass(std::string_view name)
{
    return name == "NSArray" || name == "NSMutableArray" || name == "NSSet" || name == "NSMutableSet";
}

} // namespace

struct KeyedUnarchiver::State {
    enum class Progress : uint8_t { NotStarted, Decoding, Done };

    PlistValue archive;
    const std::vector<PlistValue>* objects = nullptr;
    std::vector<const PlistValue*> frames; // key dictionaries, innermost last; [0] is $top
    std::vector<std::string> classNames; // archived class names of running factories
    std::vector<ArchiveObjectPtr> decoded; // by uid
    std::vector<Progress> progress; // by uid
    Replacement replacement;
    Options options;
    int depth = 0;
    std::string error;
    const std::string emptyName;

    void fail(const std::string& text)
    {
        if (error.empty())
            error = text;
    }

    const PlistValue* lookUp(std::string_view key) const
    {
        return frames.empty() ? nullptr : frames.back()->find(key);
    }

    ArchiveObjectPtr decodeUid(KeyedUnarchiver& coder, const PlistValue& reference, std::string_view context)
    {
        if (reference.kind != Kind::Uid) {
            fail("expected an object reference for " + std::string(context));
            return nullptr;
        }
        const auto uid = static_cast<uint64_t>(reference.integer);
        if (uid == 0)
            return nullptr;
        if (!objects || uid >= objects->size()) {
            fail("object reference " + std::to_string(uid) + " out of range for " + std::string(context));
            return nullptr;
        }
        switch (progress[uid]) {
        case Progress::Done:
            return decoded[uid];
        case Progress::Decoding:
            fail("object " + std::to_string(uid) + " contains itself");
            return nullptr;
        case Progress::NotStarted:
            break;
        }
        if (depth >= maximumObjectDepth) {
            fail("objects nested too deeply");
            return nullptr;
        }
        progress[uid] = Progress::Decoding;
        ++depth;
        ArchiveObjectPtr object = instantiate(coder, (*objects)[uid]);
        --depth;
        if (object && replacement)
            object = replacement(object);
        decoded[uid] = object;
        progress[uid] = Progress::Done;
        return object;
    }

    // A string held inline or behind a reference (the forms NS.string and NS.data take).
    const PlistValue* resolveInline(const PlistValue* value, Kind kind)
    {
        if (value && value->kind == Kind::Uid) {
            const auto uid = static_cast<uint64_t>(value->integer);
            value = uid > 0 && uid < objects->size() ? &(*objects)[uid] : nullptr;
        }
        return value && value->kind == kind ? value : nullptr;
    }

    ArchiveObjectPtr instantiate(KeyedUnarchiver& coder, const PlistValue& value)
    {
        switch (value.kind) {
        case Kind::String:
            return std::make_shared<ArchivedString>(value.text);
        case Kind::Integer:
            return std::make_shared<ArchivedNumber>(value.integer);
        case Kind::Real:
            return std::make_shared<ArchivedNumber>(value.real);
        case Kind::Boolean:
            return std::make_shared<ArchivedNumber>(value.boolean);
        case Kind::Data:
            return std::make_shared<ArchivedData>(value.bytes);
        case Kind::Date:
            return std::make_shared<ArchivedDate>(value.real);
        case Kind::Uid:
        case Kind::Array:
            fail("unexpected bare value in $objects");
            return nullptr;
        case Kind::Dictionary:
            break;
        }

        const PlistValue* classReference = value.find("$class");
        if (!classReference || classReference->kind != Kind::Uid) {
            fail("object without $class");
            return nullptr;
        }
        const auto classUid = static_cast<uint64_t>(classReference->integer);
        if (classUid == 0 || classUid >= objects->size()) {
            fail("$class reference out of range");
            return nullptr;
        }
        const PlistValue* className = (*objects)[classUid].find("$classname");
        if (!className || className->kind != Kind::String) {
            fail("class description without $classname");
            return nullptr;
        }
        const std::string& archivedName = className->text;
        std::string name = KeyedUnarchiver::classNameTranslation(archivedName);
        if (name.empty())
            name = archivedName;

        if (isFoundationArrayClass(name)) {
            std::vector<ArchiveObjectPtr> items;
            if (!decodeReferenceArray(coder, value, "NS.objects", items))
                return nullptr;
            if (name == "NSArray" || name == "NSMutableArray")
                return std::make_shared<ArchivedArray>(std::move(items), name == "NSMutableArray");
            return std::make_shared<ArchivedSet>(std::move(items), name == "NSMutableSet");
        }
        if (name == "NSDictionary" || name == "NSMutableDictionary") {
            std::vector<ArchiveObjectPtr> keys, values;
            if (!decodeReferenceArray(coder, value, "NS.keys", keys)
                || !decodeReferenceArray(coder, value, "NS.objects", values))
                return nullptr;
            if (keys.size() != values.size()) {
                fail("dictionary with " + std::to_string(keys.size()) + " keys and "
                    + std::to_string(values.size()) + " values");
                return nullptr;
            }
            std::vector<ArchivedDictionary::Entry> entries;
            entries.reserve(keys.size());
            for (size_t i = 0; i < keys.size(); ++i)
                entries.emplace_back(std::move(keys[i]), std::move(values[i]));
            return std::make_shared<ArchivedDictionary>(std::move(entries), name == "NSMutableDictionary");
        }
        if (name == "NSString" || name == "NSMutableString") {
            const PlistValue* text = resolveInline(value.find("NS.string"), Kind::String);
            if (!text) {
                fail(name + " without NS.string");
                return nullptr;
            }
            return std::make_shared<ArchivedString>(text->text, name == "NSMutableString");
        }
        if (name == "NSData" || name == "NSMutableData") {
            const PlistValue* bytes = resolveInline(value.find("NS.data"), Kind::Data);
            if (!bytes) {
                fail(name + " without NS.data");
                return nullptr;
            }
            return std::make_shared<ArchivedData>(bytes->bytes, name == "NSMutableData");
        }
        if (name == "NSDate") {
            const PlistValue* time = value.find("NS.time");
            if (!time || (time->kind != Kind::Real && time->kind != Kind::Integer)) {
                fail("NSDate without NS.time");
                return nullptr;
            }
            return std::make_shared<ArchivedDate>(
                time->kind == Kind::Real ? time->real : static_cast<double>(time->integer));
        }

        KeyedUnarchiver::Factory factory;
        {
            Registry& r = registry();
            std::lock_guard lock(r.mutex);
            if (auto it = r.factories.find(name); it != r.factories.end())
                factory = it->second;
        }
        if (!factory) {
            if (options.decodeUnknownClassesGenerically)
                return decodeGenerically(coder, value, archivedName, (*objects)[classUid]);
            fail("class " + archivedName + " is not known");
            return nullptr;
        }
        frames.push_back(&value);
        classNames.push_back(archivedName);
        struct Pop {
            State& state;
            ~Pop()
            {
                state.frames.pop_back();
                state.classNames.pop_back();
            }
        } pop { *this };
        return factory(coder);
    }

    ArchiveObjectPtr decodeGenerically(KeyedUnarchiver& coder, const PlistValue& value,
        const std::string& className, const PlistValue& classDescription)
    {
        auto object = std::make_shared<KeyedGenericObject>();
        object->className = className;
        if (const PlistValue* classes = classDescription.find("$classes");
            classes && classes->kind == Kind::Array) {
            for (const auto& c : classes->items) {
                if (c.kind == Kind::String)
                    object->classChain.push_back(c.text);
            }
        }
        for (const auto& [key, item] : value.entries) {
            if (key == "$class")
                continue;
            ArchiveObjectPtr converted = genericValue(coder, item, key);
            if (!error.empty())
                return nullptr;
            object->entries.emplace_back(key, std::move(converted));
        }
        return object;
    }

    // Nesting of inline values is bounded by the property-list check.
    ArchiveObjectPtr genericValue(KeyedUnarchiver& coder, const PlistValue& item, std::string_view key)
    {
        switch (item.kind) {
        case Kind::Uid:
            return decodeUid(coder, item, key);
        case Kind::Array: {
            auto array = std::make_shared<ArchivedArray>();
            array->items.reserve(item.items.size());
            for (const auto& element : item.items) {
                array->items.push_back(genericValue(coder, element, key));
                if (!error.empty())
                    return nullptr;
            }
            return array;
        }
        case Kind::Dictionary: {
            auto dictionary = std::make_shared<ArchivedDictionary>();
            for (const auto& [entryKey, entryValue] : item.entries) {
                ArchiveObjectPtr converted = genericValue(coder, entryValue, key);
                if (!error.empty())
                    return nullptr;
                dictionary->entries.emplace_back(
                    std::make_shared<ArchivedString>(entryKey), std::move(converted));
            }
            return dictionary;
        }
        default:
            return instantiate(coder, item);
        }
    }

    bool decodeReferenceArray(KeyedUnarchiver& coder, const PlistValue& object, std::string_view key,
        std::vector<ArchiveObjectPtr>& items)
    {
        const PlistValue* array = object.find(key);
        if (!array) // an empty collection may leave its keys out
            return true;
        if (array->kind != Kind::Array) {
            fail(std::string(key) + " is not an array");
            return false;
        }
        items.reserve(array->items.size());
        for (const auto& reference : array->items) {
            items.push_back(decodeUid(coder, reference, key));
            if (!error.empty())
                return false;
        }
        return true;
    }

    // The numeric value under `key` as a double or an integer; false when absent.
    // Any other kind of value marks the unarchiver failed.
    bool number(std::string_view key, bool& isInteger, int64_t& integer, double& real)
    {
        const PlistValue* value = lookUp(key);
        if (!value)
            return false;
        switch (value->kind) {
        case Kind::Integer:
            isInteger = true;
            integer = value->integer;
            return true;
        case Kind::Boolean:
            isInteger = true;
            integer = value->boolean ? 1 : 0;
            return true;
        case Kind::Real:
            isInteger = false;
            real = value->real;
            return true;
        default:
            fail("value for key " + std::string(key) + " is not a number");
            return false;
        }
    }
};

void KeyedUnarchiver::registerClass(const std::string& className, Factory factory)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories[className] = std::move(factory);
}

void KeyedUnarchiver::unregisterClass(const std::string& className)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories.erase(className);
}

bool KeyedUnarchiver::isClassRegistered(const std::string& className)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.factories.count(className) != 0;
}

void KeyedUnarchiver::setClassNameTranslation(const std::string& oldName, const std::string& newName)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (newName.empty())
        r.translations.erase(oldName);
    else
        r.translations[oldName] = newName;
}

std::string KeyedUnarchiver::classNameTranslation(const std::string& oldName)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.translations.find(oldName);
    return it == r.translations.end() ? std::string() : it->second;
}

ArchiveObjectPtr KeyedUnarchiver::unarchiveObjectWithData(std::span<const uint8_t> data, std::string* error)
{
    return unarchiveObjectWithData(data, error, Options {});
}

bool KeyedUnarchiver::hasSignature(std::span<const uint8_t> data)
{
    return data.size() >= 8 && std::equal(data.begin(), data.begin() + 8, "bplist00");
}

ArchiveObjectPtr KeyedUnarchiver::unarchiveObjectWithData(
    std::span<const uint8_t> data, std::string* error, const Options& options)
{
    KeyedUnarchiver unarchiver(data, options);
    ArchiveObjectPtr root = unarchiver.decodeRootObject();
    if (unarchiver.failed()) {
        if (error)
            *error = unarchiver.errorText();
        return nullptr;
    }
    if (!root && error)
        *error = "the archive has no root object";
    return root;
}

KeyedUnarchiver::KeyedUnarchiver(std::span<const uint8_t> data)
    : KeyedUnarchiver(data, Options {})
{
}

KeyedUnarchiver::KeyedUnarchiver(std::span<const uint8_t> data, Options options)
    : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.options = options;
    if (data.size() > maximumArchiveSize) {
        s.fail("archive larger than " + std::to_string(maximumArchiveSize >> 20) + " MiB");
        return;
    }
    std::string problem;
    std::optional<PlistValue> parsed = keyed::parseBinaryPlist(data, &problem);
    if (!parsed) {
        s.fail(problem);
        return;
    }
    s.archive = std::move(*parsed);
    const PlistValue* archiver = s.archive.find("$archiver");
    if (!archiver || archiver->kind != Kind::String || archiver->text != "NSKeyedArchiver") {
        s.fail("not a keyed archive ($archiver)");
        return;
    }
    const PlistValue* version = s.archive.find("$version");
    if (!version || version->kind != Kind::Integer) {
        s.fail("not a keyed archive ($version)");
        return;
    }
    const PlistValue* objects = s.archive.find("$objects");
    const PlistValue* top = s.archive.find("$top");
    if (!objects || objects->kind != Kind::Array || objects->items.empty() || !top
        || top->kind != Kind::Dictionary) {
        s.fail("not a keyed archive ($objects, $top)");
        return;
    }
    s.objects = &objects->items;
    s.decoded.resize(objects->items.size());
    s.progress.resize(objects->items.size(), State::Progress::NotStarted);
    s.frames.push_back(top);
}

KeyedUnarchiver::~KeyedUnarchiver() = default;

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const
{
    return state_->lookUp(key) != nullptr;
}

bool KeyedUnarchiver::decodeBoolForKey(std::string_view key)
{
    bool isInteger = false;
    int64_t integer = 0;
    double real = 0;
    if (!state_->number(key, isInteger, integer, real))
        return false;
    return isInteger ? integer != 0 : real != 0;
}

int64_t KeyedUnarchiver::decodeInt64ForKey(std::string_view key)
{
    bool isInteger = false;
    int64_t integer = 0;
    double real = 0;
    if (!state_->number(key, isInteger, integer, real))
        return 0;
    if (isInteger)
        return integer;
    // 2^63 is exactly representable; anything at or past it does not fit.
    if (!std::isfinite(real) || real >= 9223372036854775808.0 || real < -9223372036854775808.0) {
        state_->fail("value for key " + std::string(key) + " does not fit a 64-bit integer");
        return 0;
    }
    return static_cast<int64_t>(real);
}

int32_t KeyedUnarchiver::decodeInt32ForKey(std::string_view key)
{
    const int64_t value = decodeInt64ForKey(key);
    if (value < INT32_MIN || value > INT32_MAX) {
        state_->fail("value for key " + std::string(key) + " does not fit a 32-bit integer");
        return 0;
    }
    return static_cast<int32_t>(value);
}

double KeyedUnarchiver::decodeDoubleForKey(std::string_view key)
{
    bool isInteger = false;
    int64_t integer = 0;
    double real = 0;
    if (!state_->number(key, isInteger, integer, real))
        return 0;
    return isInteger ? static_cast<double>(integer) : real;
}

float KeyedUnarchiver::decodeFloatForKey(std::string_view key)
{
    const double value = decodeDoubleForKey(key);
    if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
        state_->fail("value for key " + std::string(key) + " does not fit a float");
        return 0;
    }
    return static_cast<float>(value);
}

std::optional<std::string> KeyedUnarchiver::decodeStringForKey(std::string_view key)
{
    const PlistValue* value = state_->lookUp(key);
    if (!value)
        return std::nullopt;
    if (value->kind == Kind::String)
        return value->text;
    ArchiveObjectPtr object = state_->decodeUid(*this, *value, key);
    if (!object)
        return std::nullopt;
    if (auto string = std::dynamic_pointer_cast<ArchivedString>(object))
        return string->value;
    state_->fail(
        "value for key " + std::string(key) + " is a " + object->archiveClassName() + ", not a string");
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> KeyedUnarchiver::decodeDataForKey(std::string_view key)
{
    const PlistValue* value = state_->lookUp(key);
    if (!value)
        return std::nullopt;
    if (value->kind == Kind::Data)
        return value->bytes;
    ArchiveObjectPtr object = state_->decodeUid(*this, *value, key);
    if (!object)
        return std::nullopt;
    if (auto data = std::dynamic_pointer_cast<ArchivedData>(object))
        return data->bytes;
    state_->fail("value for key " + std::string(key) + " is a " + object->archiveClassName() + ", not data");
    return std::nullopt;
}

ArchiveObjectPtr KeyedUnarchiver::decodeObjectForKey(std::string_view key)
{
    const PlistValue* value = state_->lookUp(key);
    if (!value)
        return nullptr;
    return state_->decodeUid(*this, *value, key);
}

std::optional<std::vector<ArchiveObjectPtr>> KeyedUnarchiver::decodeArrayOfObjectsForKey(std::string_view key)
{
    ArchiveObjectPtr object = decodeObjectForKey(key);
    if (!object)
        return std::nullopt;
    if (auto array = std::dynamic_pointer_cast<ArchivedArray>(object))
        return array->items;
    if (auto set = std::dynamic_pointer_cast<ArchivedSet>(object))
        return set->items;
    state_->fail(
        "value for key " + std::string(key) + " is a " + object->archiveClassName() + ", not an array");
    return std::nullopt;
}

ArchiveObjectPtr KeyedUnarchiver::decodeRootObject()
{
    if (failed())
        return nullptr;
    if (state_->frames.size() != 1) {
        state_->fail("decodeRootObject called while decoding");
        return nullptr;
    }
    ArchiveObjectPtr root;
    try {
        root = decodeObjectForKey("root");
    } catch (const std::exception& exception) {
        state_->fail(std::string("decoding failed: ") + exception.what());
    }
    return failed() ? nullptr : root;
}

const std::string& KeyedUnarchiver::currentClassName() const
{
    return state_->classNames.empty() ? state_->emptyName : state_->classNames.back();
}

void KeyedUnarchiver::setReplacement(Replacement replacement)
{
    state_->replacement = std::move(replacement);
}

bool KeyedUnarchiver::failed() const
{
    return !state_->error.empty();
}

const std::string& KeyedUnarchiver::errorText() const
{
    return state_->error;
}

void KeyedUnarchiver::failWithError(const std::string& text)
{
    state_->fail(text.empty() ? std::string("decoding refused") : text);
}

} // namespace rp
