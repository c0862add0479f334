#include "archive/BinaryPlistWriter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace rp::keyed {

namespace {

// Smallest of the widths 1, 2, 4 and 8 bytes that holds `value`.
uint8_t widthFor(uint64_t value)
{
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFF)
        return 4;
    return 8;
}

// Appends UTF-8 `text` as UTF-16 code units (big-endian); counts the units in `units`.
bool appendUtf16(std::string_view text, std::vector<uint8_t>& out, uint64_t& units)
{
    auto put = [&](uint32_t unit) {
        out.push_back(static_cast<uint8_t>(unit >> 8));
        out.push_back(static_cast<uint8_t>(unit));
        ++units;
    };
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const uint8_t lead = *p++;
        uint32_t code = 0;
        int more = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            put(lead);
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            more = 1;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            more = 2;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            more = 3;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (end - p < more)
            return false;
        for (int i = 0; i < more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        p += more;
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 | (code >> 10));
            put(0xDC00 | (code & 0x3FF));
        } else {
            put(code);
        }
    }
    return true;
}

class Writer {
public:
    std::vector<uint8_t> run(const PlistValue& root, std::string* error)
    {
        flatten(root);
        const uint64_t count = objects_.size();
        refWidth_ = widthFor(count - 1);

        // Every object's marker and count take at most 10 bytes; write into a buffer of that
        // bound and trim it.
        out_.resize(8 + count * 10 + refs_.size() * refWidth_ + payloadBound_);
        cursor_ = out_.data();
        copy(reinterpret_cast<const uint8_t*>("bplist00"), 8);
        std::vector<uint64_t> offsets;
        offsets.reserve(count);
        for (const Object& object : objects_) {
            offsets.push_back(static_cast<uint64_t>(cursor_ - out_.data()));
            if (!write(object)) {
                if (error)
                    *error = "property-list string is not valid UTF-8";
                return {};
            }
        }
        const auto tableOffset = static_cast<uint64_t>(cursor_ - out_.data());
        // The offset width covers the table's own offset, as readers expect.
        const uint8_t offsetWidth = widthFor(tableOffset);
        out_.resize(tableOffset + count * offsetWidth + 32);
        cursor_ = out_.data() + tableOffset;
        for (uint64_t offset : offsets)
            putBigEndian(offset, offsetWidth);
        for (int i = 0; i < 6; ++i)
            put(0); // five unused bytes and the sort version
        put(offsetWidth);
        put(refWidth_);
        putBigEndian(count, 8);
        putBigEndian(0, 8); // the top object is always the first
        putBigEndian(tableOffset, 8);
        return std::move(out_);
    }

private:
    struct Object {
        const PlistValue* value; // null for a dictionary key
        const std::string* key; // the key's text when `value` is null
        uint64_t firstRef; // containers: start of their references in refs_
    };

    // Numbers `value` and everything below it, depth first; returns its object number.
    uint64_t flatten(const PlistValue& value)
    {
        using Kind = PlistValue::Kind;
        switch (value.kind) {
        case Kind::Boolean: {
            uint64_t& slot = value.boolean ? trueObject_ : falseObject_;
            if (slot == none)
                slot = add(&value);
            return slot;
        }
        case Kind::Integer:
            return unique(integers_, value.integer, value);
        case Kind::Real:
            return value.singlePrecision
                ? unique(floats_, std::bit_cast<uint32_t>(static_cast<float>(value.real)), value)
                : unique(doubles_, std::bit_cast<uint64_t>(value.real), value);
        case Kind::Date:
            return unique(dates_, std::bit_cast<uint64_t>(value.real), value);
        case Kind::Uid:
            return uniqueUid(value);
        case Kind::String:
            return uniqueString(value.text, &value);
        case Kind::Data: {
            const std::string_view bytes(
                reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size());
            if (auto it = data_.find(bytes); it != data_.end())
                return it->second;
            payloadBound_ += bytes.size();
            const uint64_t number = add(&value);
            data_.emplace(bytes, number);
            return number;
        }
        case Kind::Array: {
            const uint64_t number = add(&value);
            const size_t base = scratch_.size();
            for (const PlistValue& item : value.items) {
                const uint64_t ref = flatten(item);
                scratch_.push_back(ref);
            }
            commitRefs(number, base);
            return number;
        }
        case Kind::Dictionary: {
            const uint64_t number = add(&value);
            const size_t base = scratch_.size();
            for (const auto& entry : value.entries) {
                const uint64_t ref = uniqueString(entry.first, nullptr);
                scratch_.push_back(ref);
            }
            for (const auto& entry : value.entries) {
                const uint64_t ref = flatten(entry.second);
                scratch_.push_back(ref);
            }
            commitRefs(number, base);
            return number;
        }
        }
        return add(&value);
    }

    template <class Key>
    uint64_t unique(std::unordered_map<Key, uint64_t>& table, Key key, const PlistValue& value)
    {
        auto [it, inserted] = table.try_emplace(key, 0);
        if (inserted)
            it->second = add(&value);
        return it->second;
    }

    // A keyed archive's UIDs are small dense numbers (indexes into $objects): a table beats
    // hashing them.
    uint64_t uniqueUid(const PlistValue& value)
    {
        const auto uid = static_cast<uint64_t>(value.integer);
        if (uid >= denseUidLimit)
            return unique(uids_, value.integer, value);
        if (uid >= denseUids_.size())
            denseUids_.resize(std::max<uint64_t>(uid + 1, 2 * denseUids_.size()), none);
        if (denseUids_[uid] == none)
            denseUids_[uid] = add(&value);
        return denseUids_[uid];
    }

    uint64_t uniqueString(const std::string& text, const PlistValue* value)
    {
        auto [it, inserted] = strings_.try_emplace(std::string_view(text), 0);
        if (inserted) {
            payloadBound_ += 2 * text.size(); // UTF-16 takes at most twice UTF-8's bytes
            it->second = add(value);
            objects_.back().key = &text;
        }
        return it->second;
    }

    uint64_t add(const PlistValue* value)
    {
        objects_.push_back({ value, nullptr, 0 });
        return objects_.size() - 1;
    }

    // Moves a container's references from the scratch stack into refs_.
    void commitRefs(uint64_t number, size_t base)
    {
        objects_[number].firstRef = refs_.size();
        refs_.insert(refs_.end(), scratch_.begin() + static_cast<std::ptrdiff_t>(base), scratch_.end());
        scratch_.resize(base);
    }

    void put(uint8_t byte) { *cursor_++ = byte; }

    void copy(const uint8_t* bytes, size_t length)
    {
        if (length)
            std::memcpy(cursor_, bytes, length);
        cursor_ += length;
    }

    void putBigEndian(uint64_t value, unsigned width)
    {
        for (unsigned i = width; i-- > 0;)
            *cursor_++ = static_cast<uint8_t>(value >> (8 * i));
    }

    // A marker with a count: in the low nibble below 15, else 0xF and an integer object.
    void putMarker(uint8_t type, uint64_t count)
    {
        if (count < 15) {
            put(static_cast<uint8_t>(type | count));
            return;
        }
        put(static_cast<uint8_t>(type | 0x0F));
        const uint8_t width = widthFor(count);
        put(static_cast<uint8_t>(0x10 | std::countr_zero(width)));
        putBigEndian(count, width);
    }

    void putRefs(uint64_t first, uint64_t count)
    {
        for (uint64_t i = 0; i < count; ++i)
            putBigEndian(refs_[first + i], refWidth_);
    }

    bool putString(const std::string& text)
    {
        bool ascii = true;
        for (char c : text) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (ascii) {
            putMarker(0x50, text.size());
            copy(reinterpret_cast<const uint8_t*>(text.data()), text.size());
            return true;
        }
        // The count precedes the characters: convert aside, then append.
        utf16_.clear();
        uint64_t units = 0;
        if (!appendUtf16(text, utf16_, units))
            return false;
        putMarker(0x60, units);
        copy(utf16_.data(), utf16_.size());
        return true;
    }

    bool write(const Object& object)
    {
        using Kind = PlistValue::Kind;
        if (object.key)
            return putString(*object.key);
        const PlistValue& value = *object.value;
        switch (value.kind) {
        case Kind::Boolean:
            put(value.boolean ? 0x09 : 0x08);
            return true;
        case Kind::Integer: {
            const auto bits = static_cast<uint64_t>(value.integer);
            const uint8_t width = value.integer < 0 ? 8 : widthFor(bits);
            put(static_cast<uint8_t>(0x10 | std::countr_zero(width)));
            putBigEndian(bits, width);
            return true;
        }
        case Kind::Real:
            if (value.singlePrecision) {
                put(0x22);
                putBigEndian(std::bit_cast<uint32_t>(static_cast<float>(value.real)), 4);
            } else {
                put(0x23);
                putBigEndian(std::bit_cast<uint64_t>(value.real), 8);
            }
            return true;
        case Kind::Date:
            put(0x33);
            putBigEndian(std::bit_cast<uint64_t>(value.real), 8);
            return true;
        case Kind::Data:
            putMarker(0x40, value.bytes.size());
            copy(value.bytes.data(), value.bytes.size());
            return true;
        case Kind::String:
            return putString(value.text);
        case Kind::Uid: {
            // A UID holds 1, 2, 4 or 8 bytes; the marker's low nibble is the byte count less one.
            const auto bits = static_cast<uint64_t>(value.integer);
            const uint8_t width = widthFor(bits);
            put(static_cast<uint8_t>(0x80 | (width - 1)));
            putBigEndian(bits, width);
            return true;
        }
        case Kind::Array:
            putMarker(0xA0, value.items.size());
            putRefs(object.firstRef, value.items.size());
            return true;
        case Kind::Dictionary:
            putMarker(0xD0, value.entries.size());
            putRefs(object.firstRef, 2 * value.entries.size());
            return true;
        }
        return false;
    }

    static constexpr uint64_t none = UINT64_MAX;
    static constexpr uint64_t denseUidLimit = uint64_t { 1 } << 22;

    std::vector<Object> objects_;
    std::vector<uint64_t> refs_;
    std::vector<uint64_t> scratch_;
    std::unordered_map<std::string_view, uint64_t> strings_;
    std::unordered_map<std::string_view, uint64_t> data_;
    std::unordered_map<int64_t, uint64_t> integers_;
    std::unordered_map<uint32_t, uint64_t> floats_;
    std::unordered_map<uint64_t, uint64_t> doubles_;
    std::unordered_map<uint64_t, uint64_t> dates_;
    std::unordered_map<int64_t, uint64_t> uids_;
    std::vector<uint64_t> denseUids_;
    uint64_t trueObject_ = none;
    uint64_t falseObject_ = none;
    uint64_t payloadBound_ = 0;
    uint8_t* cursor_ = nullptr;
    uint8_t refWidth_ = 1;
    std::vector<uint8_t> out_;
    std::vector<uint8_t> utf16_;
};

} // namespace

std::vector<uint8_t> writeBinaryPlistBytes(const PlistValue& value, std::string* error)
{
    return Writer().run(value, error);
}

} // namespace rp::keyed
