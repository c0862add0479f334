#pragma once

#include "foundation/Error.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace rp {

// File references standing in for bookmarks and alias records: bytes that name a file or folder and
// find it again after it was moved or renamed.
//
// Our bookmark bytes (all integers big-endian):
//   "RPfr" | format version (1 byte, 1) | records, each: tag (1 byte) | length (4 bytes) | value
//   tag 1  absolute path, raw bytes (required)
//   tag 2  device number (8 bytes)           tag 3  inode number (8 bytes)
//   tag 4  kind (1 byte: 0 other, 1 file, 2 folder)
//   tag 5  size in bytes (8 bytes)           tag 6  modification time, ns since 1970 (8 bytes, signed)
//   tag 7  path relative to the base folder it was made against, raw bytes (optional)
//   tag 8  birth time, ns since 1970 (8 bytes, signed; where the file system records it)
// Readers skip tags they do not know, so later versions may add records.
//
// Resolving: the stored path when something still exists there (stale when it is no longer the
// same file, e.g. replaced by a save that wrote aside and renamed); else the path relative to the
// caller's base folder; else the same file looked for in the folders along the old path, nearest
// first, each a few levels deep, within a budget of entries: in every folder visited the old
// path's last components are tried too ("Sounds/kick.wav"), so files inside a moved or renamed
// folder are found. "Same file" is the same device, inode and kind, and the same birth time where
// the file system records one; without it, a file found elsewhere must also keep its name or its
// size and modification time, so a recycled inode number is not taken for the file. A reference
// found anywhere but its stored path is stale: callers store fresh bytes for the answer. Nothing
// found gives none and an error; the caller may then fall back to pathStoredInBookmark().
//
// The other platform's bookmark data ("book" header) and its legacy alias records (versions 2 and
// 3) are read too, for the paths they hold: resolving them answers their path when something
// exists there, always stale so that callers replace them with our bytes.
//
// Security scope does not exist here: there is nothing to start or stop accessing.
class FileReference {
public:
    enum class Format { Ours, PlatformBookmark, AliasRecord, Unknown };

    // Bytes for an existing file or folder. With a base folder, the path relative to it is kept as
    // well. None (with a POSIX error) when the path cannot be examined.
    static std::optional<std::vector<uint8_t>> bookmarkData(const std::filesystem::path& path,
        Error* error = nullptr, const std::filesystem::path& relativeTo = {});

    // Bytes in our format that record only an absolute path, for a file that is not there now (on
    // another machine, on a drive that is away): resolving them answers the path when something
    // exists there, else fails, and pathStoredInBookmark() gives the path. None for a path that is
    // empty, not absolute after making it so, or longer than PATH_MAX.
    static std::optional<std::vector<uint8_t>> pathOnlyBookmarkData(const std::filesystem::path& path);

    static std::optional<std::filesystem::path> resolve(std::span<const uint8_t> bytes,
        bool* isStale = nullptr, Error* error = nullptr, const std::filesystem::path& relativeTo = {});

    // The path the bytes record, whichever of the three formats they are in; none for garbage.
    static std::optional<std::filesystem::path> pathStoredInBookmark(std::span<const uint8_t> bytes);

    static Format formatOf(std::span<const uint8_t> bytes);

    // A legacy alias record (version 2, with the POSIX path) for an existing file or folder, so files
    // we write still carry the alias field older readers look for; none when the path cannot be
    // examined or its names do not fit the record.
    static std::optional<std::vector<uint8_t>> aliasRecordData(const std::filesystem::path& path);

    // The file an alias record names: its path when something exists there, else the recorded path
    // all the same (the caller decides); none when the bytes hold no path.
    static std::optional<std::filesystem::path> pathFromAliasRecordData(std::span<const uint8_t> bytes);

    // How far the search for a moved file goes.
    static constexpr int kSearchDepth = 3;
    static constexpr size_t kSearchEntryLimit = 20000;
};

// Readers of the other platform's formats (ForeignFileReference.cpp). Bounds-checked; none when the
// bytes do not hold a path.
std::optional<std::filesystem::path> pathFromPlatformBookmark(std::span<const uint8_t> bytes);
std::optional<std::filesystem::path> pathFromAliasRecord(std::span<const uint8_t> bytes);
bool looksLikePlatformBookmark(std::span<const uint8_t> bytes);
bool looksLikeAliasRecord(std::span<const uint8_t> bytes);

} // namespace rp
