#include "archive/KeyedArchiver.h"

#include "archive/KeyedArchivePlist.h"

#include <bit>
#include <optional>
#include <typeinfo>
#include <unordered_map>

namespace rp {

using keyed::PlistValue;

namespace {

constexpr uint64_t topLevel = UINT64_MAX; // container id of the $top dictionary

std::vector<std::string> foundationClassChain(const std::string& name)
{
    if (name == "NSMutableArray")
        return { "NSMutableArray", "NSArray", "NSObject" };
    if (name == "NSMutableDictionary")
        return { "NSMutableDictionary", "NSDictionary", "NSObject" };
    if (name == "NSMutableSet")
        return { "NSMutableSet", "NSSet", "NSObject" };
    if (name == "NSMutableString")
        return { "NSMutableString", "NSString", "NSObject" };
    if (name == "NSMutableData")
        return { "NSMutableData", "NSData", "NSObject" };
    return { name, "NSObject" };
}

// The object as T when it is exactly a T (the value classes are final).
template <typename T>
const T* exactly(const ArchiveObject& object)
{
    return typeid(object) == typeid(T) ? static_cast<const T*>(&object) : nullptr;
}

// Object identity to uid: an open-addressing table, because a song archives a few hundred
// thousand objects and a node-based map spends most of its time allocating and chasing nodes.
class UidByObject {
public:
    std::optional<uint64_t> find(const ArchiveObject* object) const
    {
        if (slots_.empty())
            return std::nullopt;
        for (size_t i = indexFor(object);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i].object == object)
                return slots_[i].uid;
            if (slots_[i].object == nullptr)
                return std::nullopt;
        }
    }

    void insert(const ArchiveObject* object, uint64_t uid)
    {
        if ((count_ + 1) * 2 > slots_.size())
            grow();
        for (size_t i = indexFor(object);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i].object == nullptr) {
                slots_[i] = { object, uid };
                ++count_;
                return;
            }
            if (slots_[i].object == object)
                return;
        }
    }

private:
    struct Slot {
        const ArchiveObject* object = nullptr;
        uint64_t uid = 0;
    };

    size_t indexFor(const ArchiveObject* object) const
    {
        // Fibonacci hashing spreads the aligned addresses over the table.
        const uint64_t key = reinterpret_cast<uintptr_t>(object);
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ULL) >> shift_);
    }

    void grow()
    {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot {});
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots_.size()));
        count_ = 0;
        for (const auto& slot : old) {
            if (slot.object)
                insert(slot.object, slot.uid);
        }
    }

    std::vector<Slot> slots_;
    size_t count_ = 0;
    unsigned shift_ = 64;
};

} // namespace

struct KeyedArchiver::State {
    struct PendingConditional {
        uint64_t container; // uid of the object holding the key, or topLevel
        std::string key;
        const ArchiveObject* target;
    };

    std::vector<PlistValue> objects; // $objects; a slot is filled when its object is finished
    UidByObject uidByObject;
    std::vector<ArchiveObjectPtr> keepAlive; // identity must not be reused while archiving
    std::unordered_map<std::string, uint64_t> stringUids;
    std::unordered_map<std::string, uint64_t> classUids;
    // Dictionaries being filled, innermost last, with the uid each will occupy.
    std::vector<std::pair<uint64_t, PlistValue>> frames;
    std::vector<PendingConditional> conditionals;
    Replacement replacement;
    bool finished = false;
    std::string error;

    State()
    {
        objects.push_back(PlistValue::makeString("$null"));
        frames.emplace_back(topLevel, PlistValue::makeDictionary());
    }

    void fail(const std::string& text)
    {
        if (error.empty())
            error = text;
    }

    PlistValue& frame() { return frames.back().second; }

    uint64_t appendObject(PlistValue value)
    {
        objects.push_back(std::move(value));
        return objects.size() - 1;
    }

    uint64_t stringUid(const std::string& text)
    {
        if (auto it = stringUids.find(text); it != stringUids.end())
            return it->second;
        const uint64_t uid = appendObject(PlistValue::makeString(text));
        stringUids.emplace(text, uid);
        return uid;
    }

    // The chain of class names is asked for only the first time a class is written.
    template <typename ChainMaker>
    uint64_t classUid(const std::string& name, const ChainMaker& makeChain)
    {
        if (auto it = classUids.find(name); it != classUids.end())
            return it->second;
        PlistValue description = PlistValue::makeDictionary();
        std::vector<PlistValue> classes;
        for (const auto& c : makeChain())
            classes.push_back(PlistValue::makeString(c));
        description.set("$classes", PlistValue::makeArray(std::move(classes)));
        description.set("$classname", PlistValue::makeString(name));
        const uint64_t uid = appendObject(std::move(description));
        classUids.emplace(name, uid);
        return uid;
    }

    ArchiveObjectPtr replaced(const ArchiveObjectPtr& object)
    {
        return replacement ? replacement(object) : object;
    }

    // The uid of `object`, writing it first when it has not been written yet.
    uint64_t uidFor(KeyedArchiver& coder, const ArchiveObjectPtr& original)
    {
        ArchiveObjectPtr object = replaced(original);
        if (!object)
            return 0;
        if (auto known = uidByObject.find(object.get()))
            return *known;
        keepAlive.push_back(object);

        // Values the property list holds directly.
        // The value classes are final, so an exact type test stands in for a slower dynamic cast;
        // model objects (the bulk of a song) skip the value tests altogether.
        const auto* coding = dynamic_cast<const KeyedCoding*>(object.get());
        if (auto string = exactly<ArchivedString>(*object); !coding && string && !string->mutableString) {
            const uint64_t uid = stringUid(string->value);
            uidByObject.insert(object.get(), uid);
            return uid;
        }
        if (auto number = exactly<ArchivedNumber>(*object); !coding && number) {
            PlistValue value = std::visit(
                [](auto v) -> PlistValue {
                    using T = decltype(v);
                    if constexpr (std::is_same_v<T, bool>)
                        return PlistValue::makeBoolean(v);
                    else if constexpr (std::is_same_v<T, float>)
                        return PlistValue::makeFloat(v);
                    else if constexpr (std::is_same_v<T, double>)
                        return PlistValue::makeReal(v);
                    else
                        return PlistValue::makeInteger(static_cast<int64_t>(v));
                },
                number->value);
            const uint64_t uid = appendObject(std::move(value));
            uidByObject.insert(object.get(), uid);
            return uid;
        }
        if (auto data = exactly<ArchivedData>(*object); !coding && data && !data->mutableData) {
            const uint64_t uid = appendObject(PlistValue::makeData(data->bytes));
            uidByObject.insert(object.get(), uid);
            return uid;
        }

        // Everything else is a dictionary with a $class reference. The slot is reserved before
        // the object's own keys are written so that an object reachable from itself refers to
        // its slot instead of recursing.
        const uint64_t uid = appendObject(PlistValue::makeString("$null"));
        uidByObject.insert(object.get(), uid);
        frames.emplace_back(uid, PlistValue::makeDictionary());
        std::string className = object->archiveClassName();
        if (coding) {
            coding->encodeWithCoder(coder);
        } else if (auto array = exactly<ArchivedArray>(*object)) {
            PlistValue items = uidArray(coder, array->items);
            frame().set("NS.objects", std::move(items));
        } else if (auto set = exactly<ArchivedSet>(*object)) {
            PlistValue items = uidArray(coder, set->items);
            frame().set("NS.objects", std::move(items));
        } else if (auto dictionary = exactly<ArchivedDictionary>(*object)) {
            std::vector<ArchiveObjectPtr> keys, values;
            for (const auto& [key, value] : dictionary->entries) {
                keys.push_back(key);
                values.push_back(value);
            }
            // Each call may write nested objects (and grow `frames`): evaluate before frame().
            PlistValue keyUids = uidArray(coder, keys);
            PlistValue valueUids = uidArray(coder, values);
            frame().set("NS.keys", std::move(keyUids));
            frame().set("NS.objects", std::move(valueUids));
        } else if (auto mutableString = exactly<ArchivedString>(*object)) {
            frame().set("NS.string", PlistValue::makeString(mutableString->value));
        } else if (auto mutableData = exactly<ArchivedData>(*object)) {
            frame().set("NS.data", PlistValue::makeData(mutableData->bytes));
        } else if (auto date = exactly<ArchivedDate>(*object)) {
            frame().set("NS.time", PlistValue::makeReal(date->secondsSinceReferenceDate));
        } else {
            fail("cannot archive an object of class " + className);
        }
        PlistValue finishedObject = std::move(frames.back().second);
        frames.pop_back();
        const uint64_t classReference = classUid(className, [&] {
            if (!coding)
                return foundationClassChain(className);
            std::vector<std::string> chain = coding->keyedArchiveSuperclasses();
            chain.insert(chain.begin(), className);
            return chain;
        });
        finishedObject.set("$class", PlistValue::makeUid(classReference));
        objects[uid] = std::move(finishedObject);
        return uid;
    }

    PlistValue uidArray(KeyedArchiver& coder, const std::vector<ArchiveObjectPtr>& items)
    {
        std::vector<PlistValue> uids;
        uids.reserve(items.size());
        for (const auto& item : items)
            uids.push_back(PlistValue::makeUid(uidFor(coder, item)));
        return PlistValue::makeArray(std::move(uids));
    }

    bool usable()
    {
        if (finished) {
            fail("encoding after finishEncoding");
            return false;
        }
        return true;
    }

    PlistValue* containerValue(uint64_t container)
    {
        if (container == topLevel)
            return frames.empty() ? nullptr : &frames.front().second;
        return container < objects.size() ? &objects[container] : nullptr;
    }
};

KeyedArchiver::KeyedArchiver()
    : state_(std::make_unique<State>())
{
}

KeyedArchiver::~KeyedArchiver() = default;

std::vector<uint8_t> KeyedArchiver::archivedDataWithRootObject(const ArchiveObjectPtr& root)
{
    KeyedArchiver archiver;
    archiver.encodeObject(root, "root");
    return archiver.finishEncoding();
}

void KeyedArchiver::encodeObject(const ArchiveObjectPtr& object, std::string_view key)
{
    if (!state_->usable())
        return;
    // Reserve the key first so keys keep the order they were encoded in.
    state_->frame().set(std::string(key), PlistValue::makeUid(0));
    const uint64_t uid = state_->uidFor(*this, object);
    state_->frame().set(std::string(key), PlistValue::makeUid(uid));
}

void KeyedArchiver::encodeConditionalObject(const ArchiveObjectPtr& original, std::string_view key)
{
    if (!state_->usable())
        return;
    ArchiveObjectPtr object = state_->replaced(original);
    state_->frame().set(std::string(key), PlistValue::makeUid(0));
    if (!object)
        return;
    if (auto known = state_->uidByObject.find(object.get())) {
        state_->frame().set(std::string(key), PlistValue::makeUid(*known));
        return;
    }
    // Resolved in finishEncoding, once it is known whether the object was written after all.
    state_->keepAlive.push_back(object);
    state_->conditionals.push_back({ state_->frames.back().first, std::string(key), object.get() });
}

void KeyedArchiver::encodeBool(bool value, std::string_view key)
{
    if (state_->usable())
        state_->frame().set(std::string(key), PlistValue::makeBoolean(value));
}

void KeyedArchiver::encodeInt32(int32_t value, std::string_view key)
{
    encodeInt64(value, key);
}

void KeyedArchiver::encodeInt64(int64_t value, std::string_view key)
{
    if (state_->usable())
        state_->frame().set(std::string(key), PlistValue::makeInteger(value));
}

void KeyedArchiver::encodeFloat(float value, std::string_view key)
{
    // Stored as a 4-byte real, as the platform's archiver stores floats.
    if (state_->usable())
        state_->frame().set(std::string(key), PlistValue::makeFloat(value));
}

void KeyedArchiver::encodeDouble(double value, std::string_view key)
{
    if (state_->usable())
        state_->frame().set(std::string(key), PlistValue::makeReal(value));
}

void KeyedArchiver::encodeString(std::string_view utf8, std::string_view key)
{
    if (!state_->usable())
        return;
    const uint64_t uid = state_->stringUid(std::string(utf8));
    state_->frame().set(std::string(key), PlistValue::makeUid(uid));
}

void KeyedArchiver::encodeData(std::span<const uint8_t> bytes, std::string_view key)
{
    if (!state_->usable())
        return;
    const uint64_t uid
        = state_->appendObject(PlistValue::makeData(std::vector<uint8_t>(bytes.begin(), bytes.end())));
    state_->frame().set(std::string(key), PlistValue::makeUid(uid));
}

void KeyedArchiver::encodeArrayOfObjects(
    const std::vector<ArchiveObjectPtr>& objects, std::string_view key, bool mutableArray)
{
    encodeObject(std::make_shared<ArchivedArray>(objects, mutableArray), key);
}

void KeyedArchiver::setReplacement(Replacement replacement)
{
    state_->replacement = std::move(replacement);
}

std::vector<uint8_t> KeyedArchiver::finishEncoding()
{
    if (!state_->usable())
        return {};
    if (state_->frames.size() != 1) {
        state_->fail("finishEncoding called while an object is being encoded");
        return {};
    }
    state_->finished = true;
    for (const auto& pending : state_->conditionals) {
        auto known = state_->uidByObject.find(pending.target);
        PlistValue* container = state_->containerValue(pending.container);
        if (!container)
            continue;
        if (PlistValue* slot = container->find(pending.key); slot && slot->kind == PlistValue::Kind::Uid)
            *slot = PlistValue::makeUid(known.value_or(0));
    }
    if (!state_->error.empty())
        return {};

    PlistValue archive = PlistValue::makeDictionary();
    archive.set("$version", PlistValue::makeInteger(100000));
    archive.set("$archiver", PlistValue::makeString("NSKeyedArchiver"));
    archive.set("$top", std::move(state_->frames.front().second));
    archive.set("$objects", PlistValue::makeArray(std::move(state_->objects)));
    state_->frames.clear();
    state_->objects.clear();
    std::vector<uint8_t> bytes = keyed::writeBinaryPlist(archive);
    if (bytes.empty())
        state_->fail("the property-list writer failed");
    return bytes;
}

bool KeyedArchiver::failed() const
{
    return !state_->error.empty();
}

const std::string& KeyedArchiver::errorText() const
{
    return state_->error;
}

} // namespace rp
