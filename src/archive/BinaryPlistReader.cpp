#include "archive/BinaryPlistReader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace rp::keyed {

namespace {

// What the parsed tree costs in memory: every value is a PlistValue (held in its parent's
// vector), a dictionary entry adds its key string, strings longer than the in-place buffer
// and data add their heap blocks.
constexpr uint64_t nodeCost = sizeof(PlistValue);
constexpr uint64_t keyCost = sizeof(std::pair<std::string, PlistValue>) - sizeof(PlistValue);
constexpr uint64_t inPlaceString = 15;

uint64_t heapForString(uint64_t utf8Length)
{
    return utf8Length > inPlaceString ? utf8Length + 1 : 0;
}

// The tree may take this much memory plus this many times the input's size, never more than
// the cap. A well-formed list expands by less than the factor (a reference of one byte or
// more becomes a value of sizeof(PlistValue)); sharing bombs are refused before building.
constexpr uint64_t budgetBase = uint64_t { 64 } << 20;
constexpr uint64_t budgetFactor = 256;
constexpr uint64_t budgetCap = uint64_t { 1 } << 30;

uint64_t readBigEndian(const uint8_t* p, uint64_t width)
{
    uint64_t value = 0;
    for (uint64_t i = 0; i < width; ++i)
        value = (value << 8) | p[i];
    return value;
}

enum Type : uint8_t {
    Boolean = 0x0,
    Integer = 0x1,
    Real = 0x2,
    Date = 0x3,
    Data = 0x4,
    Ascii = 0x5,
    Utf16 = 0x6,
    Uid = 0x8,
    Array = 0xA,
    Dictionary = 0xD,
};

// One object's marker, decoded: its type, where its payload starts and the count (bytes for
// numbers and data, characters for strings, entries for containers).
struct Header {
    uint8_t type = 0;
    uint8_t info = 0;
    uint64_t payload = 0;
    uint64_t count = 0;
};

class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes)
        : bytes_(bytes.data())
        , size_(bytes.size())
    {
    }

    bool validate()
    {
        if (!openTrailer())
            return false;
        uint64_t cost = 0;
        return measure(top_, 0, cost) && (cost <= budget_ || fail("property list would expand too much"));
    }

    bool read(PlistValue& out) { return validate() && build(top_, 0, out); }

    const std::string& error() const { return error_; }

private:
    bool fail(const char* text)
    {
        if (error_.empty())
            error_ = text;
        return false;
    }

    bool openTrailer()
    {
        if (size_ < 8 + 1 + 32)
            return fail("binary property list too short");
        if (std::memcmp(bytes_, "bplist00", 8) != 0)
            return fail("not a binary property list");
        const uint8_t* trailer = bytes_ + size_ - 32;
        offsetWidth_ = trailer[6];
        refWidth_ = trailer[7];
        count_ = readBigEndian(trailer + 8, 8);
        top_ = readBigEndian(trailer + 16, 8);
        end_ = readBigEndian(trailer + 24, 8); // the offset table ends the object area
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8)
            return fail("bad offset or reference size in trailer");
        if (end_ < 9 || end_ > size_ - 32)
            return fail("offset table outside the list");
        // Every object takes at least one byte of the object area.
        if (count_ < 1 || count_ > end_ - 8 || top_ >= count_)
            return fail("bad object count or top object in trailer");
        if (count_ > (size_ - 32 - end_) / offsetWidth_)
            return fail("offset table runs into the trailer");
        budget_ = std::min(budgetCap, budgetBase + budgetFactor * size_);
        memo_.assign(count_, 0);
        return true;
    }

    bool need(uint64_t pos, uint64_t count, uint64_t unit)
    {
        if (pos > end_ || count > (end_ - pos) / unit)
            return fail("object runs past the object area");
        return true;
    }

    bool header(uint64_t index, Header& h)
    {
        const uint64_t offset = readBigEndian(bytes_ + end_ + index * offsetWidth_, offsetWidth_);
        if (offset < 8 || offset >= end_)
            return fail("object offset out of range");
        const uint8_t marker = bytes_[offset];
        h.type = marker >> 4;
        h.info = marker & 0x0F;
        h.payload = offset + 1;
        switch (h.type) {
        case Boolean:
            if (h.info != 0x8 && h.info != 0x9)
                return fail("unsupported property-list value");
            h.count = 0;
            return true;
        case Integer:
            if (h.info > 4)
                return fail("bad integer");
            h.count = uint64_t { 1 } << h.info;
            if (!need(h.payload, h.count, 1))
                return false;
            if (h.count == 16) {
                // Accepted when the upper half only extends the lower half's sign (or is zero).
                const uint64_t high = readBigEndian(bytes_ + h.payload, 8);
                const uint64_t low = readBigEndian(bytes_ + h.payload + 8, 8);
                if (high != 0 && !(high == UINT64_MAX && (low >> 63) != 0))
                    return fail("integer does not fit in 64 bits");
            }
            return true;
        case Real:
            if (h.info != 2 && h.info != 3)
                return fail("bad real");
            h.count = uint64_t { 1 } << h.info;
            return need(h.payload, h.count, 1);
        case Date:
            if (h.info != 3)
                return fail("bad date");
            h.count = 8;
            return need(h.payload, 8, 1);
        case Uid:
            h.count = h.info + uint64_t { 1 };
            if (h.count > 8)
                return fail("bad UID");
            return need(h.payload, h.count, 1);
        case Data:
        case Ascii:
            return readCount(h) && need(h.payload, h.count, 1);
        case Utf16:
            return readCount(h) && need(h.payload, h.count, 2);
        case Array:
            return readCount(h) && need(h.payload, h.count, refWidth_);
        case Dictionary:
            return readCount(h) && need(h.payload, h.count, refWidth_)
                && need(h.payload + h.count * refWidth_, h.count, refWidth_);
        default:
            return fail("unsupported property-list value");
        }
    }

    // The count after a marker: its low nibble, or 0xF and an integer object that follows.
    bool readCount(Header& h)
    {
        if (h.info != 0x0F) {
            h.count = h.info;
            return true;
        }
        if (h.payload >= end_)
            return fail("truncated object");
        const uint8_t marker = bytes_[h.payload];
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3)
            return fail("bad length marker");
        const uint64_t width = uint64_t { 1 } << (marker & 0x0F);
        if (!need(h.payload + 1, width, 1))
            return false;
        h.count = readBigEndian(bytes_ + h.payload + 1, width);
        h.payload += 1 + width;
        return true;
    }

    uint64_t reference(uint64_t pos) const { return readBigEndian(bytes_ + pos, refWidth_); }

    // Checks UTF-16 text and returns the length of its UTF-8 form.
    bool utf8Length(const Header& h, uint64_t& length)
    {
        length = 0;
        const uint8_t* p = bytes_ + h.payload;
        for (uint64_t i = 0; i < h.count; ++i) {
            const uint32_t unit = (uint32_t { p[2 * i] } << 8) | p[2 * i + 1];
            if (unit < 0x80) {
                length += 1;
            } else if (unit < 0x800) {
                length += 2;
            } else if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (i + 1 >= h.count)
                    return fail("unpaired surrogate in UTF-16 string");
                const uint32_t next = (uint32_t { p[2 * i + 2] } << 8) | p[2 * i + 3];
                if (next < 0xDC00 || next > 0xDFFF)
                    return fail("unpaired surrogate in UTF-16 string");
                ++i;
                length += 4;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return fail("unpaired surrogate in UTF-16 string");
            } else {
                length += 3;
            }
        }
        return true;
    }

    // Checks object `index` and everything it refers to; `cost` is what building it takes.
    // Results are remembered per object, so shared objects are checked once.
    bool measure(uint64_t index, int depth, uint64_t& cost)
    {
        if (depth > maximumPlistDepth)
            return fail("property list nested too deeply");
        uint32_t& memo = memo_[index];
        if (memo == visiting)
            return fail("property list contains itself");
        if (memo != 0) {
            cost = memo;
            return true;
        }
        Header h;
        if (!header(index, h))
            return false;
        uint64_t own = nodeCost;
        switch (h.type) {
        case Data:
            own += h.count;
            break;
        case Ascii: {
            const uint8_t* p = bytes_ + h.payload;
            if (std::any_of(p, p + h.count, [](uint8_t c) { return c >= 0x80; }))
                return fail("bad byte in ASCII string");
            own += heapForString(h.count);
            break;
        }
        case Utf16: {
            uint64_t length = 0;
            if (!utf8Length(h, length))
                return false;
            own += heapForString(length);
            break;
        }
        case Array:
        case Dictionary: {
            memo = visiting;
            const uint64_t keys = h.type == Dictionary ? h.count : 0;
            for (uint64_t i = 0; i < keys + h.count; ++i) {
                const uint64_t ref = reference(h.payload + i * refWidth_);
                if (ref >= count_)
                    return fail("object reference out of range");
                uint64_t child = 0;
                if (i < keys) {
                    Header key;
                    if (!header(ref, key))
                        return false;
                    if (key.type != Ascii && key.type != Utf16)
                        return fail("dictionary key is not a string");
                    if (!measure(ref, depth + 1, child))
                        return false;
                    child = child - nodeCost + keyCost; // a key is a bare string
                } else if (!measure(ref, depth + 1, child)) {
                    return false;
                }
                own += child;
                if (own > budget_)
                    return fail("property list would expand too much");
            }
            break;
        }
        default:
            break;
        }
        if (own > budget_)
            return fail("property list would expand too much");
        memo = static_cast<uint32_t>(own);
        cost = own;
        return true;
    }

    // Builds a string object's text; the object was checked by measure().
    bool text(uint64_t index, std::string& out)
    {
        Header h;
        if (!header(index, h))
            return false;
        const auto* p = bytes_ + h.payload;
        if (h.type == Ascii) {
            out.assign(reinterpret_cast<const char*>(p), h.count);
            return true;
        }
        if (h.type != Utf16)
            return fail("dictionary key is not a string");
        uint64_t length = 0;
        if (!utf8Length(h, length))
            return false;
        out.resize(length);
        char* q = out.data();
        auto put = [&q](uint32_t byte) { *q++ = static_cast<char>(byte); };
        for (uint64_t i = 0; i < h.count; ++i) {
            uint32_t code = (uint32_t { p[2 * i] } << 8) | p[2 * i + 1];
            if (code >= 0xD800 && code <= 0xDBFF) {
                const uint32_t low = (uint32_t { p[2 * i + 2] } << 8) | p[2 * i + 3];
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
            if (code < 0x80) {
                put(code);
            } else if (code < 0x800) {
                put(0xC0 | (code >> 6));
                put(0x80 | (code & 0x3F));
            } else if (code < 0x10000) {
                put(0xE0 | (code >> 12));
                put(0x80 | ((code >> 6) & 0x3F));
                put(0x80 | (code & 0x3F));
            } else {
                put(0xF0 | (code >> 18));
                put(0x80 | ((code >> 12) & 0x3F));
                put(0x80 | ((code >> 6) & 0x3F));
                put(0x80 | (code & 0x3F));
            }
        }
        return true;
    }

    bool build(uint64_t index, int depth, PlistValue& out)
    {
        using Kind = PlistValue::Kind;
        if (depth > maximumPlistDepth)
            return fail("property list nested too deeply");
        Header h;
        if (!header(index, h))
            return false;
        const uint8_t* p = bytes_ + h.payload;
        switch (h.type) {
        case Boolean:
            out.kind = Kind::Boolean;
            out.boolean = h.info == 0x9;
            return true;
        case Integer:
            out.kind = Kind::Integer;
            // 8 bytes are a signed value's bits; 16 bytes were checked to fit in the lower 8.
            out.integer = static_cast<int64_t>(
                readBigEndian(p + (h.count == 16 ? 8 : 0), std::min<uint64_t>(h.count, 8)));
            return true;
        case Real:
            out.kind = Kind::Real;
            out.singlePrecision = h.count == 4;
            out.real = h.count == 4
                ? static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(readBigEndian(p, 4))))
                : std::bit_cast<double>(readBigEndian(p, 8));
            return true;
        case Date:
            out.kind = Kind::Date;
            out.real = std::bit_cast<double>(readBigEndian(p, 8));
            return true;
        case Uid:
            out.kind = Kind::Uid;
            out.integer = static_cast<int64_t>(readBigEndian(p, h.count));
            return true;
        case Data:
            out.kind = Kind::Data;
            out.bytes.assign(p, p + h.count);
            return true;
        case Ascii:
        case Utf16:
            out.kind = Kind::String;
            return text(index, out.text);
        case Array:
            out.kind = Kind::Array;
            out.items.resize(h.count);
            for (uint64_t i = 0; i < h.count; ++i) {
                if (!build(reference(h.payload + i * refWidth_), depth + 1, out.items[i]))
                    return false;
            }
            return true;
        case Dictionary: {
            out.kind = Kind::Dictionary;
            out.entries.reserve(h.count);
            const uint64_t values = h.payload + h.count * refWidth_;
            for (uint64_t i = 0; i < h.count; ++i) {
                auto& entry = out.entries.emplace_back(std::string(), PlistValue());
                if (!text(reference(h.payload + i * refWidth_), entry.first)
                    || !build(reference(values + i * refWidth_), depth + 1, entry.second))
                    return false;
            }
            return true;
        }
        default:
            return fail("unsupported property-list value");
        }
    }

    static constexpr uint32_t visiting = UINT32_MAX;

    const uint8_t* bytes_;
    uint64_t size_;
    uint64_t offsetWidth_ = 0, refWidth_ = 0, count_ = 0, top_ = 0, end_ = 0;
    uint64_t budget_ = 0;
    std::vector<uint32_t> memo_; // per object: 0 unchecked, `visiting`, else its cost
    std::string error_;
};

static_assert(budgetCap < UINT32_MAX, "costs are remembered in 32 bits");

} // namespace

std::optional<PlistValue> readBinaryPlistBytes(std::span<const uint8_t> bytes, std::string* error)
{
    Reader reader(bytes);
    PlistValue value;
    if (!reader.read(value)) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    return value;
}

std::string validateBinaryPlistBytes(std::span<const uint8_t> bytes)
{
    Reader reader(bytes);
    return reader.validate() ? std::string() : reader.error();
}

} // namespace rp::keyed
