#pragma once

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>

// The object as a T; on a mismatch the failure is recorded and an empty stand-in returned, so the
// checks that follow fail instead of crashing.
template <class T> std::shared_ptr<T> as(const rp::ArchiveObjectPtr& object)
{
    auto typed = std::dynamic_pointer_cast<T>(object);
    EXPECT_TRUE(typed) << (object ? object->archiveClassName() : std::string("null"));
    return typed ? typed : std::make_shared<T>();
}

// A one-line description of a decoded object graph: each object's class name (which shows
// mutability) and contents; numbers show their stored kind as the variant index.
inline std::string describe(const rp::ArchiveObjectPtr& object)
{
    if (!object)
        return "nil";
    std::string out = object->archiveClassName() + "(";
    auto all = [&](const std::vector<rp::ArchiveObjectPtr>& items) {
        for (const auto& item : items)
            out += describe(item) + ",";
    };
    if (auto number = std::dynamic_pointer_cast<rp::ArchivedNumber>(object))
        out += std::to_string(number->value.index()) + ":"
            + (number->isReal() ? std::to_string(number->doubleValue())
                                : std::to_string(number->int64Value()));
    else if (auto string = std::dynamic_pointer_cast<rp::ArchivedString>(object))
        out += string->value;
    else if (auto data = std::dynamic_pointer_cast<rp::ArchivedData>(object))
        for (uint8_t byte : data->bytes)
            out += std::to_string(byte) + " ";
    else if (auto date = std::dynamic_pointer_cast<rp::ArchivedDate>(object))
        out += std::to_string(date->secondsSinceReferenceDate);
    else if (auto array = std::dynamic_pointer_cast<rp::ArchivedArray>(object))
        all(array->items);
    else if (auto set = std::dynamic_pointer_cast<rp::ArchivedSet>(object))
        all(set->items);
    else if (auto dictionary = std::dynamic_pointer_cast<rp::ArchivedDictionary>(object))
        for (const auto& [key, value] : dictionary->entries)
            out += describe(key) + "=" + describe(value) + ",";
    return out + ")";
}

// A small archivable class used by the keyed-archive tests; registered as "KATestThing".
class KATestThing : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    std::string archiveClassName() const override { return className; }

    void encodeWithCoder(rp::KeyedArchiver& coder) const override
    {
        if (customEncoding) {
            customEncoding(coder);
            return;
        }
        coder.encodeBool(flag, "KAT_flag");
        coder.encodeInt32(small, "KAT_small");
        coder.encodeInt64(big, "KAT_big");
        coder.encodeFloat(ratio, "KAT_ratio");
        coder.encodeDouble(precise, "KAT_precise");
        if (name)
            coder.encodeString(*name, "KAT_name");
        if (blob)
            coder.encodeData(*blob, "KAT_blob");
        coder.encodeObject(child, "KAT_child");
        coder.encodeConditionalObject(conditionalChild, "KAT_cond");
        coder.encodeArrayOfObjects(list, "KAT_list", true);
    }

    static rp::ArchiveObjectPtr initWithCoder(rp::KeyedUnarchiver& coder)
    {
        auto thing = std::make_shared<KATestThing>();
        thing->flag = coder.decodeBoolForKey("KAT_flag");
        thing->small = coder.decodeInt32ForKey("KAT_small");
        thing->big = coder.decodeInt64ForKey("KAT_big");
        thing->ratio = coder.decodeFloatForKey("KAT_ratio");
        thing->precise = coder.decodeDoubleForKey("KAT_precise");
        thing->name = coder.decodeStringForKey("KAT_name");
        thing->blob = coder.decodeDataForKey("KAT_blob");
        thing->child = coder.decodeObjectForKey("KAT_child");
        thing->conditionalChild = coder.decodeObjectForKey("KAT_cond");
        thing->list
            = coder.decodeArrayOfObjectsForKey("KAT_list").value_or(std::vector<rp::ArchiveObjectPtr> {});
        thing->decodedClassName = coder.currentClassName();
        return thing;
    }

    static void registerClass() { rp::KeyedUnarchiver::registerClass("KATestThing", initWithCoder); }
    static void unregisterClass() { rp::KeyedUnarchiver::unregisterClass("KATestThing"); }

    std::string className = "KATestThing";
    bool flag = false;
    int32_t small = 0;
    int64_t big = 0;
    float ratio = 0;
    double precise = 0;
    std::optional<std::string> name;
    std::optional<std::vector<uint8_t>> blob;
    rp::ArchiveObjectPtr child;
    rp::ArchiveObjectPtr conditionalChild;
    std::vector<rp::ArchiveObjectPtr> list;
    // When set, written instead of the keys above (to plant wrong value kinds).
    std::function<void(rp::KeyedArchiver&)> customEncoding;
    std::string decodedClassName;
};
