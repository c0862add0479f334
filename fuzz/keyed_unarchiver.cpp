// libFuzzer target: keyed archives from arbitrary bytes must decode or fail, never crash.
#include "archive/KeyedUnarchiver.h"

#include <cstddef>
#include <cstdint>

namespace {

class FZThing : public rp::ArchiveObject {
public:
    std::string archiveClassName() const override { return "FZThing"; }
    rp::ArchiveObjectPtr child;
    std::vector<rp::ArchiveObjectPtr> items;
};

// Reads every key with every getter, so each value kind meets each type check.
rp::ArchiveObjectPtr decodeThing(rp::KeyedUnarchiver& coder)
{
    auto thing = std::make_shared<FZThing>();
    for (const char* key : { "a", "b", "c" }) {
        if (!coder.containsValueForKey(key))
            continue;
        (void)coder.decodeBoolForKey(key);
        (void)coder.decodeInt32ForKey(key);
        (void)coder.decodeInt64ForKey(key);
        (void)coder.decodeFloatForKey(key);
        (void)coder.decodeDoubleForKey(key);
        (void)coder.decodeStringForKey(key);
        (void)coder.decodeDataForKey(key);
    }
    thing->child = coder.decodeObjectForKey("child");
    thing->items = coder.decodeArrayOfObjectsForKey("items").value_or(std::vector<rp::ArchiveObjectPtr> {});
    return thing;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool registered = [] {
        rp::KeyedUnarchiver::registerClass("FZThing", decodeThing);
        rp::KeyedUnarchiver::setClassNameTranslation("FZOldThing", "FZThing");
        return true;
    }();
    (void)registered;
    std::string error;
    const std::span<const uint8_t> bytes(data, size);
    (void)rp::KeyedUnarchiver::unarchiveObjectWithData(bytes, &error);
    rp::KeyedUnarchiver::Options generic;
    generic.decodeUnknownClassesGenerically = true;
    (void)rp::KeyedUnarchiver::unarchiveObjectWithData(bytes, &error, generic);
    return 0;
}
