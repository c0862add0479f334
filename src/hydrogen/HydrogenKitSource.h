#pragma once

// Where a Hydrogen drumkit's drumkit.xml and samples come from: a folder, its drumkit.xml, or a
// .h2drumkit archive (a tar, possibly compressed). An archive's regular files are copied into a
// private temporary folder under names of our making, never under the names the archive gives;
// entries that climb out (".."), absolute paths, links and special files are refused, and so are
// archives that expand beyond a sane bound.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace rp::hydrogen {

// Bounds on archives: entries, the bytes they expand to, and how far beyond the archive's own size
// they may expand once past kBombFloorBytes.
inline constexpr size_t kMaxArchiveEntries = 20000;
inline constexpr uint64_t kMaxArchiveBytes = 1ull << 30;
inline constexpr uint64_t kBombFloorBytes = 64ull << 20;
inline constexpr uint64_t kMaxExpansionRatio = 100;

class KitSource {
public:
    // Opens `source`; throws ImportError when it is none of the three or the archive is refused.
    explicit KitSource(const std::filesystem::path& source);
    ~KitSource();
    KitSource(const KitSource&) = delete;
    KitSource& operator=(const KitSource&) = delete;

    // The drumkit.xml's contents and the name to give it in messages.
    const std::string& xml() const { return xml_; }
    const std::filesystem::path& xmlPath() const { return xmlPath_; }
    bool isArchive() const { return !scratch_.empty(); }

    // The file a layer's sample name refers to, relative to the drumkit.xml's folder. None, with
    // `why` set, for names that leave the kit (absolute, "..") or are not in the kit.
    std::optional<std::filesystem::path> resolve(const std::string& filename, std::string& why) const;

private:
    void openArchive(const std::filesystem::path& archive);

    std::filesystem::path folder_; // the kit's folder (not used for archives)
    std::filesystem::path xmlPath_;
    std::string xml_;
    std::filesystem::path scratch_; // temporary folder holding an archive's files
    std::string archiveBase_; // the archive folder holding drumkit.xml ("" or "Kit/")
    std::map<std::string, std::filesystem::path> archiveFiles_; // normalised entry name -> our copy
};

// A name relative to a kit, normalised ("a/./b" -> "a/b"); none when it is absolute, empty or
// climbs out with "..".
std::optional<std::string> normalisedRelativeName(const std::string& name);

} // namespace rp::hydrogen
