#pragma once

#include "archive/ArchiveObject.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rp {

// One value read from a typed stream with its type encoding ("i", "f", "@", "{?=ff}", "[4c]" ...).
// Used where the type is only known from the stream: NSValue contents, objects of classes
// that are read generically (the dump tool), and callers that want to inspect a value first.
struct TypedStreamValue {
    enum class Kind {
        Nil, // a nil object, class, C string or unshared string
        Integer, // c C s S i I l L q Q B
        Real, // f d
        String, // * (C string), % (atom), : (selector), + (unshared string): raw bytes
        ByteArray, // [Nc] or [NC]
        Object, // @
        Class, // # (the class name is in `text`, its version in `integer`)
        Array, // [N type] of anything but bytes
        Struct, // {name=types}
    };

    Kind kind = Kind::Nil;
    std::string type; // the single type encoding this value was read with
    int64_t integer = 0;
    double real = 0;
    std::string text; // String bytes, Class name, Struct name
    std::vector<uint8_t> bytes; // ByteArray
    ArchiveObjectPtr object; // Object
    std::vector<TypedStreamValue> elements; // Array elements, Struct fields
};

// An NSValue (not an NSNumber) from a typed stream: a type encoding and one value of that type.
class ArchivedTypedValue final : public ArchiveObject {
public:
    std::string archiveClassName() const override { return "NSValue"; }

    std::string typeEncoding;
    TypedStreamValue value;
};

// An object whose class has no registered factory, read as its class chain and the values
// its archiving wrote, in order. Only produced when the decoder is asked to read such objects
// generically (the dump tool); normal decoding refuses unknown classes.
class TypedStreamGenericObject final : public ArchiveObject {
public:
    struct ClassLevel {
        std::string name;
        int64_t version = 0;
    };

    std::string archiveClassName() const override
    {
        return classChain.empty() ? std::string() : classChain[0].name;
    }

    std::vector<ClassLevel> classChain; // the object's class first, then its superclasses
    std::string types; // the type encodings of `values`, concatenated
    std::vector<TypedStreamValue> values;
};

} // namespace rp
