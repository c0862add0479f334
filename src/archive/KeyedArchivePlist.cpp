#include "archive/KeyedArchivePlist.h"

#include "archive/BinaryPlistReader.h"
#include "archive/BinaryPlistWriter.h"

namespace rp::keyed {

PlistValue PlistValue::makeBoolean(bool value)
{
    PlistValue v;
    v.kind = Kind::Boolean;
    v.boolean = value;
    return v;
}

PlistValue PlistValue::makeInteger(int64_t value)
{
    PlistValue v;
    v.kind = Kind::Integer;
    v.integer = value;
    return v;
}

PlistValue PlistValue::makeReal(double value)
{
    PlistValue v;
    v.kind = Kind::Real;
    v.real = value;
    return v;
}

PlistValue PlistValue::makeFloat(float value)
{
    PlistValue v;
    v.kind = Kind::Real;
    v.real = static_cast<double>(value);
    v.singlePrecision = true;
    return v;
}

PlistValue PlistValue::makeDate(double secondsSinceReferenceDate)
{
    PlistValue v;
    v.kind = Kind::Date;
    v.real = secondsSinceReferenceDate;
    return v;
}

PlistValue PlistValue::makeString(std::string value)
{
    PlistValue v;
    v.kind = Kind::String;
    v.text = std::move(value);
    return v;
}

PlistValue PlistValue::makeData(std::vector<uint8_t> value)
{
    PlistValue v;
    v.kind = Kind::Data;
    v.bytes = std::move(value);
    return v;
}

PlistValue PlistValue::makeUid(uint64_t value)
{
    PlistValue v;
    v.kind = Kind::Uid;
    v.integer = static_cast<int64_t>(value);
    return v;
}

PlistValue PlistValue::makeArray(std::vector<PlistValue> values)
{
    PlistValue v;
    v.kind = Kind::Array;
    v.items = std::move(values);
    return v;
}

PlistValue PlistValue::makeDictionary()
{
    PlistValue v;
    v.kind = Kind::Dictionary;
    return v;
}

const PlistValue* PlistValue::find(std::string_view key) const
{
    if (kind != Kind::Dictionary)
        return nullptr;
    for (const auto& entry : entries) {
        if (entry.first == key)
            return &entry.second;
    }
    return nullptr;
}

PlistValue* PlistValue::find(std::string_view key)
{
    return const_cast<PlistValue*>(static_cast<const PlistValue&>(*this).find(key));
}

void PlistValue::set(std::string key, PlistValue value)
{
    if (PlistValue* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    entries.emplace_back(std::move(key), std::move(value));
}

std::string checkBinaryPlist(std::span<const uint8_t> bytes)
{
    return validateBinaryPlistBytes(bytes);
}

std::optional<PlistValue> parseBinaryPlist(std::span<const uint8_t> bytes, std::string* error)
{
    return readBinaryPlistBytes(bytes, error);
}

std::vector<uint8_t> writeBinaryPlist(const PlistValue& value)
{
    return writeBinaryPlistBytes(value);
}

} // namespace rp::keyed
