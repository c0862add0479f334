#include "foundation/FileReference.h"

#include "foundation/Localization.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <utf8proc.h>

namespace rp {

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kMagic[4] = { 'R', 'P', 'f', 'r' };
constexpr uint8_t kFormatVersion = 1;

enum Tag : uint8_t {
    TagPath = 1,
    TagDevice = 2,
    TagInode = 3,
    TagKind = 4,
    TagSize = 5,
    TagModified = 6,
    TagRelativePath = 7,
    TagBirthTime = 8,
};

struct Stored {
    std::string path;
    std::optional<uint64_t> device;
    std::optional<uint64_t> inode;
    std::optional<uint8_t> kind;
    std::optional<uint64_t> size;
    std::optional<int64_t> modified;
    std::optional<int64_t> birth;
    std::string relativePath;
};

// What identifies a file on this system. The birth time tells a moved file from a new file
// that was given a recycled inode number, where the file system records it.
struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint8_t kind = 0;
    uint64_t size = 0;
    int64_t modified = 0;
    std::optional<int64_t> birth;
};

std::optional<Identity> identityOf(const fs::path& path, bool followLinks)
{
    struct statx sx { };
    // Never mounts anything on the way (automount points stay as they are).
    int flags = AT_STATX_SYNC_AS_STAT | AT_NO_AUTOMOUNT | (followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
    if (statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    Identity id;
    id.device = static_cast<uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    id.inode = sx.stx_ino;
    id.kind = S_ISDIR(sx.stx_mode) ? 2 : (S_ISREG(sx.stx_mode) ? 1 : 0);
    id.size = sx.stx_size;
    id.modified = static_cast<int64_t>(sx.stx_mtime.tv_sec) * 1000000000 + sx.stx_mtime.tv_nsec;
    if (sx.stx_mask & STATX_BTIME)
        id.birth = static_cast<int64_t>(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
    return id;
}

void putRecord(std::vector<uint8_t>& out, uint8_t tag, const void* data, size_t length)
{
    out.push_back(tag);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(length) >> shift));
    const auto* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + length);
}

void putNumber(std::vector<uint8_t>& out, uint8_t tag, uint64_t value)
{
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (56 - 8 * i));
    putRecord(out, tag, bytes, 8);
}

uint64_t readNumber(std::span<const uint8_t> value)
{
    uint64_t result = 0;
    for (uint8_t b : value)
        result = result << 8 | b;
    return result;
}

std::optional<Stored> parseOurs(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 5 || std::memcmp(bytes.data(), kMagic, 4) != 0 || bytes[4] == 0)
        return std::nullopt;
    Stored stored;
    bool havePath = false;
    size_t pos = 5;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 5)
            return std::nullopt;
        uint8_t tag = bytes[pos];
        uint64_t length = readNumber(bytes.subspan(pos + 1, 4));
        pos += 5;
        if (length > bytes.size() - pos)
            return std::nullopt;
        auto value = bytes.subspan(pos, static_cast<size_t>(length));
        pos += static_cast<size_t>(length);
        switch (tag) {
        case TagPath:
            stored.path.assign(reinterpret_cast<const char*>(value.data()), value.size());
            havePath = true;
            break;
        case TagDevice:
            if (value.size() == 8)
                stored.device = readNumber(value);
            break;
        case TagInode:
            if (value.size() == 8)
                stored.inode = readNumber(value);
            break;
        case TagKind:
            if (value.size() == 1)
                stored.kind = value[0];
            break;
        case TagSize:
            if (value.size() == 8)
                stored.size = readNumber(value);
            break;
        case TagModified:
            if (value.size() == 8)
                stored.modified = static_cast<int64_t>(readNumber(value));
            break;
        case TagBirthTime:
            if (value.size() == 8)
                stored.birth = static_cast<int64_t>(readNumber(value));
            break;
        case TagRelativePath:
            stored.relativePath.assign(reinterpret_cast<const char*>(value.data()), value.size());
            break;
        default:
            break;
        }
    }
    // No real path is longer than PATH_MAX; longer ones would only make the search slow.
    if (!havePath || stored.path.empty() || stored.path.front() != '/' || stored.path.size() > PATH_MAX
        || stored.path.find('\0') != std::string::npos)
        return std::nullopt;
    if (stored.relativePath.find('\0') != std::string::npos)
        stored.relativePath.clear();
    return stored;
}

bool sameFile(const Identity& id, const Stored& stored)
{
    if (!stored.device || !stored.inode || id.device != *stored.device || id.inode != *stored.inode)
        return false;
    if (stored.kind && *stored.kind != id.kind)
        return false;
    if (stored.birth && id.birth)
        return *stored.birth == *id.birth;
    return true;
}

// A file met while searching elsewhere: without birth times a recycled inode number cannot be
// ruled out, so the name or the size and modification time must agree as well.
bool isMovedFile(const Identity& id, const std::string& name, const Stored& stored)
{
    if (!sameFile(id, stored))
        return false;
    if (stored.birth && id.birth)
        return true;
    if (name == fs::path(stored.path).filename().string())
        return true;
    return stored.size && stored.modified && *stored.size == id.size && *stored.modified == id.modified;
}

// Breadth-first search below `root` for the stored device and inode, at most `depth` levels,
// counting entries against a shared budget. Symbolic links are not followed and only folders
// on the stored device are entered (a file keeps its inode only on its own file system).
// In every folder visited, the stored path's last components (`tails`, e.g. "Sounds/kick.wav")
// are tried as well, which finds files inside a folder that was itself moved or renamed.
std::optional<fs::path> searchBelow(const fs::path& root, const Stored& stored, int depth, size_t& budget,
    std::set<std::pair<uint64_t, uint64_t>>& searched, const std::vector<fs::path>& tails)
{
    std::deque<std::pair<fs::path, int>> queue { { root, 0 } };
    while (!queue.empty() && budget > 0) {
        auto [folder, level] = queue.front();
        queue.pop_front();
        struct stat folderStat { };
        if (lstat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode))
            continue;
        if (!searched.insert({ folderStat.st_dev, folderStat.st_ino }).second)
            continue;
        for (const fs::path& tail : tails) {
            if (budget == 0)
                break;
            --budget;
            fs::path candidate = folder / tail;
            auto id = identityOf(candidate, false);
            if (id && isMovedFile(*id, candidate.filename().string(), stored))
                return candidate;
        }
        DIR* dir = opendir(folder.c_str());
        if (!dir)
            continue;
        while (budget > 0) {
            errno = 0;
            dirent* entry = readdir(dir);
            if (!entry)
                break;
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            --budget;
            fs::path child = folder / entry->d_name;
            auto id = identityOf(child, false);
            if (!id)
                continue;
            if (isMovedFile(*id, entry->d_name, stored)) {
                closedir(dir);
                return child;
            }
            if (id->kind == 2 && level + 1 < depth && id->device == *stored.device)
                queue.emplace_back(child, level + 1);
        }
        closedir(dir);
    }
    return std::nullopt;
}

std::optional<fs::path> searchMoved(const Stored& stored)
{
    if (!stored.device || !stored.inode)
        return std::nullopt;
    size_t budget = FileReference::kSearchEntryLimit;
    std::set<std::pair<uint64_t, uint64_t>> searched;
    // The folders along the old path, nearest first; each is searched a few levels deep, so a
    // renamed file is found in its old folder and a moved one in a neighbouring folder.
    std::vector<fs::path> components;
    for (const auto& part : fs::path(stored.path).relative_path())
        components.push_back(part);
    for (size_t kept = components.empty() ? 0 : components.size() - 1;; --kept) {
        fs::path folder = "/";
        for (size_t i = 0; i < kept; ++i)
            folder /= components[i];
        struct stat st { };
        if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::vector<fs::path> tails;
            for (size_t length = 2; length <= std::min<size_t>(components.size() - kept, 8); ++length) {
                fs::path tail;
                for (size_t i = components.size() - length; i < components.size(); ++i)
                    tail /= components[i];
                tails.push_back(tail);
            }
            if (auto found
                = searchBelow(folder, stored, FileReference::kSearchDepth, budget, searched, tails))
                return found;
        }
        if (kept == 0 || budget == 0)
            break;
    }
    return std::nullopt;
}

Error damagedError()
{
    Error error = Error::posix(EINVAL);
    error.description = localized("The file reference data is damaged.");
    return error;
}

Error notFoundError(const std::string& path)
{
    Error error = Error::posix(ENOENT, path);
    error.description
        = localizedFormat("The file '%@' couldn't be found.", { fs::path(path).filename().string() });
    return error;
}

void appendUtf16BE(std::vector<uint8_t>& out, const std::string& text, bool* ok)
{
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t cp = 0;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        if (n <= 0) {
            *ok = false;
            return;
        }
        auto unit = [&](uint32_t u) {
            out.push_back(static_cast<uint8_t>(u >> 8));
            out.push_back(static_cast<uint8_t>(u));
        };
        if (cp >= 0x10000) {
            uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
            unit(0xD800 + (v >> 10));
            unit(0xDC00 + (v & 0x3FF));
        } else {
            unit(static_cast<uint32_t>(cp));
        }
        p += n;
        left -= n;
    }
}

} // namespace

FileReference::Format FileReference::formatOf(std::span<const uint8_t> bytes)
{
    if (parseOurs(bytes))
        return Format::Ours;
    if (looksLikePlatformBookmark(bytes))
        return Format::PlatformBookmark;
    if (looksLikeAliasRecord(bytes))
        return Format::AliasRecord;
    return Format::Unknown;
}

namespace {

std::string withoutTrailingSlashes(const fs::path& path)
{
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// Every reference we write starts with the magic, the format version and the path.
std::vector<uint8_t> startReference(const std::string& path)
{
    std::vector<uint8_t> out(kMagic, kMagic + 4);
    out.push_back(kFormatVersion);
    putRecord(out, TagPath, path.data(), path.size());
    return out;
}

} // namespace

std::optional<std::vector<uint8_t>> FileReference::bookmarkData(
    const fs::path& path, Error* error, const fs::path& relativeTo)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec).lexically_normal();
    std::optional<Identity> id = ec ? std::nullopt : identityOf(absolute, true);
    if (!id) {
        if (error)
            *error = Error::posix(ec ? ec.value() : errno, path.string());
        return std::nullopt;
    }
    std::string text = withoutTrailingSlashes(absolute);
    std::vector<uint8_t> out = startReference(text);
    putNumber(out, TagDevice, id->device);
    putNumber(out, TagInode, id->inode);
    putRecord(out, TagKind, &id->kind, 1);
    putNumber(out, TagSize, id->size);
    putNumber(out, TagModified, static_cast<uint64_t>(id->modified));
    if (id->birth)
        putNumber(out, TagBirthTime, static_cast<uint64_t>(*id->birth));
    if (!relativeTo.empty()) {
        fs::path base = fs::absolute(relativeTo, ec).lexically_normal();
        std::string relative = ec ? std::string() : fs::path(text).lexically_relative(base).string();
        if (!relative.empty())
            putRecord(out, TagRelativePath, relative.data(), relative.size());
    }
    return out;
}

std::optional<std::vector<uint8_t>> FileReference::pathOnlyBookmarkData(const fs::path& path)
{
    if (path.empty())
        return std::nullopt;
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (ec)
        return std::nullopt;
    std::vector<uint8_t> out = startReference(withoutTrailingSlashes(absolute));
    // Only bytes our reader accepts: the same limits as for a reference read from a file.
    if (!parseOurs(out))
        return std::nullopt;
    return out;
}

std::optional<fs::path> FileReference::resolve(
    std::span<const uint8_t> bytes, bool* isStale, Error* error, const fs::path& relativeTo)
{
    if (isStale)
        *isStale = false;
    auto stored = parseOurs(bytes);
    if (!stored) {
        // The other platform's bytes: only their path can be followed; always worth rewriting.
        auto path = pathStoredInBookmark(bytes);
        if (!path) {
            if (error)
                *error = damagedError();
            return std::nullopt;
        }
        struct stat st { };
        if (stat(path->c_str(), &st) != 0) {
            if (error)
                *error = notFoundError(path->string());
            return std::nullopt;
        }
        if (isStale)
            *isStale = true;
        return path;
    }

    if (auto id = identityOf(stored->path, true)) {
        if (isStale)
            *isStale = !sameFile(*id, *stored);
        return fs::path(stored->path);
    }
    struct stat st { };
    if (!relativeTo.empty() && !stored->relativePath.empty()) {
        fs::path candidate = (relativeTo / stored->relativePath).lexically_normal();
        if (stat(candidate.c_str(), &st) == 0) {
            if (isStale)
                *isStale = true;
            return candidate;
        }
    }
    if (auto found = searchMoved(*stored)) {
        if (isStale)
            *isStale = true;
        return found;
    }
    if (error)
        *error = notFoundError(stored->path);
    return std::nullopt;
}

std::optional<fs::path> FileReference::pathStoredInBookmark(std::span<const uint8_t> bytes)
{
    if (auto stored = parseOurs(bytes))
        return fs::path(stored->path);
    if (auto path = pathFromPlatformBookmark(bytes))
        return path;
    return pathFromAliasRecord(bytes);
}

std::optional<fs::path> FileReference::pathFromAliasRecordData(std::span<const uint8_t> bytes)
{
    // Our own bytes may stand where an alias record was expected; follow them properly.
    if (parseOurs(bytes)) {
        if (auto resolved = resolve(bytes))
            return resolved;
    }
    return pathStoredInBookmark(bytes);
}

std::optional<std::vector<uint8_t>> FileReference::aliasRecordData(const fs::path& path)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec).lexically_normal();
    struct stat st { };
    if (ec || stat(absolute.c_str(), &st) != 0)
        return std::nullopt;
    std::string text = absolute.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    std::string name = fs::path(text).filename().string();
    std::string folder = fs::path(text).parent_path().filename().string();

    // Version 2: a fixed part of 150 bytes, then tagged fields.
    std::vector<uint8_t> out(150, 0);
    out[7] = 2;
    out[9] = S_ISDIR(st.st_mode) ? 1 : 0;
    auto pascal = [&](size_t offset, size_t field, const std::string& value) {
        std::string ascii;
        for (char c : value)
            ascii += static_cast<unsigned char>(c) < 0x80 ? c : '?';
        ascii = ascii.substr(0, field - 1);
        out[offset] = static_cast<uint8_t>(ascii.size());
        std::memcpy(out.data() + offset + 1, ascii.data(), ascii.size());
    };
    pascal(50, 64, name);
    for (size_t offset : { size_t(130), size_t(132) }) // directory levels unknown
        out[offset] = out[offset + 1] = 0xFF;
    auto tag = [&](uint16_t t, const std::vector<uint8_t>& value) {
        out.push_back(static_cast<uint8_t>(t >> 8));
        out.push_back(static_cast<uint8_t>(t));
        out.push_back(static_cast<uint8_t>(value.size() >> 8));
        out.push_back(static_cast<uint8_t>(value.size()));
        out.insert(out.end(), value.begin(), value.end());
        if (value.size() & 1)
            out.push_back(0);
    };
    if (text.size() > 4096)
        return std::nullopt;
    if (!folder.empty())
        tag(0, std::vector<uint8_t>(folder.begin(), folder.end()));
    bool ok = true;
    std::vector<uint8_t> unicodeName;
    appendUtf16BE(unicodeName, name, &ok);
    if (ok && unicodeName.size() / 2 < 0x10000) {
        size_t units = unicodeName.size() / 2;
        unicodeName.insert(
            unicodeName.begin(), { static_cast<uint8_t>(units >> 8), static_cast<uint8_t>(units) });
        tag(14, unicodeName);
    }
    tag(18, std::vector<uint8_t>(text.begin(), text.end()));
    tag(19, { '/' });
    out.insert(out.end(), { 0xFF, 0xFF, 0, 0 });
    if (out.size() > 0xFFFF)
        return std::nullopt;
    out[4] = static_cast<uint8_t>(out.size() >> 8);
    out[5] = static_cast<uint8_t>(out.size());
    return out;
}

} // namespace rp
