// Reading the paths held by the other platform's bookmark data and legacy alias records, and
// writing a minimal alias record. Both formats are read defensively: every offset and length is
// checked against the bytes at hand, loops are bounded, and anything odd gives no path.

#include "foundation/FileReference.h"

#include <string>
#include <utf8proc.h>

namespace rp {

namespace {

class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes)
        : bytes_(bytes)
    {
    }
    bool has(uint64_t offset, uint64_t length) const
    {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    uint32_t le32(uint64_t offset) const
    {
        const uint8_t* p = bytes_.data() + offset;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    uint16_t be16(uint64_t offset) const
    {
        const uint8_t* p = bytes_.data() + offset;
        return static_cast<uint16_t>(p[0] << 8 | p[1]);
    }
    std::span<const uint8_t> slice(uint64_t offset, uint64_t length) const
    {
        return bytes_.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
    }
    size_t size() const { return bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
};

// Mac OS Roman, 0x80 to 0xFF, as Unicode code points.
constexpr uint16_t kMacRoman[128] = {
    0x00C4,
    0x00C5,
    0x00C7,
    0x00C9,
    0x00D1,
    0x00D6,
    0x00DC,
    0x00E1,
    0x00E0,
    0x00E2,
    0x00E4,
    0x00E3,
    0x00E5,
    0x00E7,
    0x00E9,
    0x00E8,
    0x00EA,
    0x00EB,
    0x00ED,
    0x00EC,
    0x00EE,
    0x00EF,
    0x00F1,
    0x00F3,
    0x00F2,
    0x00F4,
    0x00F6,
    0x00F5,
    0x00FA,
    0x00F9,
    0x00FB,
    0x00FC,
    0x2020,
    0x00B0,
    0x00A2,
    0x00A3,
    0x00A7,
    0x2022,
    0x00B6,
    0x00DF,
    0x00AE,
    0x00A9,
    0x2122,
    0x00B4,
    0x00A8,
    0x2260,
    0x00C6,
    0x00D8,
    0x221E,
    0x00B1,
    0x2264,
    0x2265,
    0x00A5,
    0x00B5,
    0x2202,
    0x2211,
    0x220F,
    0x03C0,
    0x222B,
    0x00AA,
    0x00BA,
    0x03A9,
    0x00E6,
    0x00F8,
    0x00BF,
    0x00A1,
    0x00AC,
    0x221A,
    0x0192,
    0x2248,
    0x2206,
    0x00AB,
    0x00BB,
    0x2026,
    0x00A0,
    0x00C0,
    0x00C3,
    0x00D5,
    0x0152,
    0x0153,
    0x2013,
    0x2014,
    0x201C,
    0x201D,
    0x2018,
    0x2019,
    0x00F7,
    0x25CA,
    0x00FF,
    0x0178,
    0x2044,
    0x20AC,
    0x2039,
    0x203A,
    0xFB01,
    0xFB02,
    0x2021,
    0x00B7,
    0x201A,
    0x201E,
    0x2030,
    0x00C2,
    0x00CA,
    0x00C1,
    0x00CB,
    0x00C8,
    0x00CD,
    0x00CE,
    0x00CF,
    0x00CC,
    0x00D3,
    0x00D4,
    0xF8FF,
    0x00D2,
    0x00DA,
    0x00DB,
    0x00D9,
    0x0131,
    0x02C6,
    0x02DC,
    0x00AF,
    0x02D8,
    0x02D9,
    0x02DA,
    0x00B8,
    0x02DD,
    0x02DB,
    0x02C7,
};

void appendCodePoint(std::string& out, int32_t codePoint)
{
    utf8proc_uint8_t buffer[4];
    utf8proc_ssize_t n = utf8proc_encode_char(codePoint, buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

std::string macRomanToUtf8(std::span<const uint8_t> bytes)
{
    std::string out;
    for (uint8_t b : bytes) {
        if (b < 0x80)
            out += static_cast<char>(b);
        else
            appendCodePoint(out, kMacRoman[b - 0x80]);
    }
    return out;
}

// UTF-16 big-endian; unpaired surrogates become U+FFFD.
std::string utf16BEToUtf8(std::span<const uint8_t> bytes)
{
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int32_t unit = bytes[i] << 8 | bytes[i + 1];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            int32_t low = bytes[i + 2] << 8 | bytes[i + 3];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendCodePoint(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return out;
}

bool isPlausiblePath(const std::string& path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

// A Pascal string (length byte, then text) in a field of `fieldSize` bytes at `offset`.
std::string pascalString(const Reader& r, uint64_t offset, uint64_t fieldSize)
{
    if (!r.has(offset, fieldSize) || fieldSize == 0)
        return {};
    uint8_t length = r.slice(offset, 1)[0];
    if (length >= fieldSize)
        return {};
    return macRomanToUtf8(r.slice(offset + 1, length));
}

// "Volume:folder:file" -> "/folder/file"; a "/" inside a name is shown as ":" here.
std::string carbonPathToPosix(const std::string& carbon)
{
    size_t colon = carbon.find(':');
    if (colon == std::string::npos)
        return {};
    std::string rest = carbon.substr(colon + 1);
    std::string posix = "/";
    for (char c : rest)
        posix += c == ':' ? '/' : (c == '/' ? ':' : c);
    while (posix.size() > 1 && posix.back() == '/')
        posix.pop_back();
    return posix;
}

std::string joinMountPoint(const std::string& mountPoint, const std::string& path)
{
    if (mountPoint.empty() || mountPoint == "/")
        return path;
    std::string joined = mountPoint;
    while (joined.size() > 1 && joined.back() == '/')
        joined.pop_back();
    if (path.empty() || path.front() != '/')
        joined += '/';
    return joined + path;
}

constexpr uint32_t kBookmarkTocMagic = 0xFFFFFFFE;
constexpr uint32_t kBookmarkPathKey = 0x1004;
constexpr uint32_t kBookmarkTypeString = 0x0101;
constexpr uint32_t kBookmarkTypeArray = 0x0601;
constexpr int kMaximumTocs = 64;
constexpr uint32_t kMaximumComponents = 4096;

} // namespace

bool looksLikePlatformBookmark(std::span<const uint8_t> bytes)
{
    Reader r(bytes);
    if (!r.has(0, 16))
        return false;
    bool magic = (bytes[0] == 'b' && bytes[1] == 'o' && bytes[2] == 'o' && bytes[3] == 'k')
        || (bytes[0] == 'a' && bytes[1] == 'l' && bytes[2] == 'i' && bytes[3] == 's');
    uint32_t headerSize = r.le32(12);
    return magic && headerSize >= 16 && r.has(headerSize, 4);
}

std::optional<std::filesystem::path> pathFromPlatformBookmark(std::span<const uint8_t> bytes)
{
    if (!looksLikePlatformBookmark(bytes))
        return std::nullopt;
    Reader r(bytes);
    const uint64_t base = r.le32(12); // every stored offset counts from the end of the header
    // A data record: length (4), type (4), data.
    auto record = [&](uint64_t offset, uint32_t* type) -> std::optional<std::span<const uint8_t>> {
        uint64_t at = base + offset;
        if (!r.has(at, 8))
            return std::nullopt;
        uint32_t length = r.le32(at);
        *type = r.le32(at + 4);
        if (!r.has(at + 8, length))
            return std::nullopt;
        return r.slice(at + 8, length);
    };

    uint64_t tocOffset = r.le32(base);
    for (int visited = 0; tocOffset != 0 && visited < kMaximumTocs; ++visited) {
        uint64_t toc = base + tocOffset;
        if (!r.has(toc, 20) || r.le32(toc + 4) != kBookmarkTocMagic)
            return std::nullopt;
        uint64_t count = r.le32(toc + 16);
        if (!r.has(toc + 20, count * 12))
            return std::nullopt;
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t entry = toc + 20 + i * 12;
            if (r.le32(entry) != kBookmarkPathKey)
                continue;
            uint32_t type = 0;
            auto array = record(r.le32(entry + 4), &type);
            if (!array || type != kBookmarkTypeArray || array->size() % 4 != 0
                || array->size() / 4 > kMaximumComponents)
                return std::nullopt;
            Reader items(*array);
            std::string path;
            for (uint64_t k = 0; k < array->size() / 4; ++k) {
                uint32_t itemType = 0;
                auto item = record(items.le32(k * 4), &itemType);
                if (!item || itemType != kBookmarkTypeString)
                    return std::nullopt;
                path += '/';
                path.append(reinterpret_cast<const char*>(item->data()), item->size());
            }
            if (path.empty())
                path = "/";
            if (!isPlausiblePath(path))
                return std::nullopt;
            return std::filesystem::path(path);
        }
        uint64_t next = r.le32(toc + 12);
        if (next == tocOffset)
            break;
        tocOffset = next;
    }
    return std::nullopt;
}

bool looksLikeAliasRecord(std::span<const uint8_t> bytes)
{
    Reader r(bytes);
    if (!r.has(0, 8))
        return false;
    uint16_t version = r.be16(6);
    uint16_t recordSize = r.be16(4);
    uint64_t fixed = version == 2 ? 150 : (version == 3 ? 58 : 0);
    return fixed != 0 && recordSize >= fixed && r.has(0, fixed);
}

std::optional<std::filesystem::path> pathFromAliasRecord(std::span<const uint8_t> bytes)
{
    if (!looksLikeAliasRecord(bytes))
        return std::nullopt;
    Reader whole(bytes);
    const uint16_t version = whole.be16(6);
    const uint64_t limit = std::min<uint64_t>(whole.be16(4), bytes.size());
    Reader r(bytes.first(static_cast<size_t>(limit)));

    std::string volumeName;
    std::string targetName;
    std::string folderName;
    std::string carbonPath;
    std::string posixPath;
    std::string mountPoint;
    uint64_t pos = 58;
    if (version == 2) {
        volumeName = pascalString(r, 10, 28);
        targetName = pascalString(r, 50, 64);
        pos = 150;
    }
    // Tagged fields: tag (2), length (2), value, padded to an even length; tag 0xFFFF ends them.
    while (r.has(pos, 4)) {
        uint16_t tag = r.be16(pos);
        uint16_t length = r.be16(pos + 2);
        if (tag == 0xFFFF || !r.has(pos + 4, length))
            break;
        auto value = r.slice(pos + 4, length);
        switch (tag) {
        case 0: // parent folder name
            folderName = macRomanToUtf8(value);
            break;
        case 2: // Carbon path, "Volume:folder:file"
            carbonPath = macRomanToUtf8(value);
            break;
        case 14: // Unicode target name: count of UTF-16 units, then the units
        case 15: { // Unicode volume name
            if (value.size() >= 2) {
                uint64_t units = static_cast<uint64_t>(value[0]) << 8 | value[1];
                if (2 + units * 2 <= value.size())
                    (tag == 14 ? targetName : volumeName) = utf16BEToUtf8(value.subspan(2, units * 2));
            }
            break;
        }
        case 18: // POSIX path, relative to the volume's mount point
            posixPath.assign(reinterpret_cast<const char*>(value.data()), value.size());
            break;
        case 19: // POSIX path of the volume's mount point
            mountPoint.assign(reinterpret_cast<const char*>(value.data()), value.size());
            break;
        default:
            break;
        }
        pos += 4 + length + (length & 1);
    }

    std::string path;
    if (!posixPath.empty())
        path = joinMountPoint(mountPoint, posixPath.front() == '/' ? posixPath : "/" + posixPath);
    else if (!carbonPath.empty())
        path = joinMountPoint(mountPoint, carbonPathToPosix(carbonPath));
    else if (!targetName.empty())
        path = folderName.empty() ? "/" + targetName : "/" + folderName + "/" + targetName;
    if (!isPlausiblePath(path) || path == "/")
        return std::nullopt;
    return std::filesystem::path(path);
}

} // namespace rp
