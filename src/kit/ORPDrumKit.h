#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"
#include "foundation/Error.h"
#include "kit/ORPDrum.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ORPDrumKit;
using ORPDrumKitPtr = std::shared_ptr<ORPDrumKit>;

// The hierarchy's levels. An instrument is a list of drums (its variants), all of one type name;
// a group is a list of instruments, all of one group name. Both are shared so that the kit editor
// can name one (insert into this group, remove from that instrument) while it edits the lists.
struct ORPDrumInstrument {
    std::vector<ORPDrumPtr> variants;

    // The type name of the first variant (empty for an empty instrument).
    std::string typeName() const;
};
using ORPDrumInstrumentPtr = std::shared_ptr<ORPDrumInstrument>;

struct ORPDrumGroup {
    std::vector<ORPDrumInstrumentPtr> instruments;

    // The group name of the first instrument's first variant (empty when there is none).
    std::string groupName() const;
};
using ORPDrumGroupPtr = std::shared_ptr<ORPDrumGroup>;

// A named collection of drums, as a flat list and as a three-level hierarchy of groups,
// instruments and variants. Also reads and writes kit bundles on disk (ORPDrumKitBundle.cpp).
class ORPDrumKit : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    static constexpr int kClassVersion = 1;
    // The kit file's magic, including its zero byte.
    static constexpr char kKitFileMagic[] = "Orrery Rattlepan rpkit";
    static constexpr size_t kKitFileMagicLength = 23;
    static constexpr uint32_t kKitCompatibilityVersion = 0x01020005; // 1B5
    // Kits saved before this build may carry several or no default variants per instrument.
    static constexpr uint32_t kDefaultVariantsFixedVersion = 0x0107000B; // 1G11
    static constexpr const char* kSoundsFolderName = "Sounds";
    static constexpr const char* kKitExtension = "rpkit";
    static constexpr const char* kSubstitutionsKey = "RPLinkedSoundSubstitutionURLs";

    ORPDrumKit() = default;
    ~ORPDrumKit() override;
    ORPDrumKit(const ORPDrumKit&) = delete;
    ORPDrumKit& operator=(const ORPDrumKit&) = delete;

    static ORPDrumKitPtr kit() { return std::make_shared<ORPDrumKit>(); }

    std::string archiveClassName() const override { return "ORPDrumKit"; }

    // Registers ORPDrum and ORPDrumKit (and OASound) with the keyed unarchiver and the typed-stream
    // decoder, with the older class names "DrumInfo" and "DrumKit". Idempotent.
    static void registerArchiveClasses();

    // Atomic, copied properties.
    std::string kitName() const;
    void setKitName(const std::string& name);
    std::optional<std::string> kitInfo() const;
    void setKitInfo(const std::optional<std::string>& info);
    std::optional<std::string> fixLinksPrompt() const;
    void setFixLinksPrompt(const std::optional<std::string>& prompt);
    // The text shown when a kit has no prompt of its own.
    static std::string defaultFixLinksPrompt();
    std::optional<ORPImageData> kitImage() const;
    void setKitImage(const std::optional<ORPImageData>& image);

    // The live lists; callers such as the kit editor change them in place.
    std::vector<ORPDrumPtr>& drums() { return drums_; }
    const std::vector<ORPDrumPtr>& drums() const { return drums_; }
    std::vector<ORPDrumGroupPtr>& drumsHierarchy() { return drumsHierarchy_; }
    const std::vector<ORPDrumGroupPtr>& drumsHierarchy() const { return drumsHierarchy_; }

    uint64_t buildVersionSavedWith() const { return buildVersionSavedWith_; }
    void setBuildVersionSavedWith(uint64_t code) { buildVersionSavedWith_ = code; }

    // Exact (case-sensitive) lookup: in each group the first instrument of that type name, in it
    // the first variant of that name; a miss goes on with the next group. Null when none.
    ORPDrumPtr drumWithTypeName(const std::string& typeName, const std::string& variantName) const;

    // Rebuilds the hierarchy from `drums` in order of first appearance (exact name compares).
    void rebuildHierarchyFromDrums();
    // Regenerates `drums` from the hierarchy and sets each drum's grid position from its group
    // index (4, 3, 2, 1, 0, 4, ...).
    void regenerateDrumsFromHierarchy();

    // Convenience for building kits: appends a drum to the group and instrument named by its
    // group and type names (created at the end when missing) and to `drums`.
    void addDrum(const ORPDrumPtr& drum);

    // Marks exactly one default variant per instrument: the first marked one, else the first.
    // Logs "Fixing pre-1G11 drum kit for default variants". Returns true when a flag changed.
    bool fixDefaultVariants();
    // Runs fixDefaultVariants when the kit was saved by a build before 1G11 (the kit editor's
    // upgrade on open). Returns true when it ran.
    bool upgradeDefaultVariantsIfNeeded();

    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static ORPDrumKitPtr initWithCoder(rp::KeyedUnarchiver& coder);
    static ORPDrumKitPtr initWithTypedStream(rp::TypedStreamDecoder& decoder);

    // ---- kit bundles (ORPDrumKitBundle.cpp) ---------------------------------------------------
    // `bundle`/Sounds.
    static std::filesystem::path soundDirectoryForKitBundleURL(const std::filesystem::path& bundle);
    // The kit file: magic, compatibility code, build code, version string, keyed archive.
    // Regenerates `drums` from the hierarchy first. Empty when archiving failed.
    std::vector<uint8_t> flatDataRepresentation();
    // Writes the whole bundle into `bundlePath`, which must not exist yet (its parent must).
    // False (logged) on any failure; a bundle left behind then is incomplete.
    bool writeToPath(const std::filesystem::path& bundlePath);
    // Writes the bundle safely: into a fresh folder beside `bundlePath`, which then replaces
    // whatever was there; the previous bundle survives any failure. Points embedded sounds at
    // the final bundle on success.
    bool saveToPath(const std::filesystem::path& bundlePath);
    // Points every embedded sound's file URL into `bundle`/Sounds, keeping the file name.
    void updateSoundFilePathsForKitURL(const std::filesystem::path& bundle);
    // Reads a kit bundle (or a bare kit file). Null with `error` set on failure; a bundle without a
    // kit file gives null and leaves `error` untouched.
    static ORPDrumKitPtr drumKitFromURL(
        const std::filesystem::path& url, bool interactivelyResolveLinks, rp::Error* error = nullptr);
    // Asks for a folder to search for missing linked sounds. The number still missing, 0 when
    // none were missing or all were found, -1 when the user cancelled.
    int fixBrokenLinksInteractively();
    // The number of drums whose sound is linked to a file that does not exist.
    int missingLinkedSoundCount() const;

    static std::optional<std::filesystem::path> surrogateURLForLinkedSoundURL(
        const std::optional<std::filesystem::path>& url);
    static void setSurrogateURL(
        const std::optional<std::filesystem::path>& surrogate, const std::filesystem::path& linkedSoundURL);

private:
    mutable std::mutex propertiesMutex_;
    std::string kitName_;
    std::optional<std::string> kitInfo_;
    std::optional<std::string> fixLinksPrompt_;
    std::optional<ORPImageData> kitImage_;
    std::vector<ORPDrumPtr> drums_;
    std::vector<ORPDrumGroupPtr> drumsHierarchy_;
    uint64_t buildVersionSavedWith_ = 0;
};

// The platform URL extension: `url` when nothing exists there, else "base N.ext" with N from 2
// up to 999 (that last name is used whether or not it is taken).
std::filesystem::path URLByEnsuringUniqueLocalFilename(const std::filesystem::path& url);
