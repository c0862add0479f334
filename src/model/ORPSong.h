#pragma once

#include "model/ORPSectionMarker.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace rp {
struct Error;
}

class ORPDrumKit;
class ORPSong;
using ORPSongPtr = std::shared_ptr<ORPSong>;

inline constexpr const char* ORPSongAttributesChangedNotification = "ORPSongAttributesChangedNotification";
inline constexpr const char* ORPSongSectionsAddedOrRemovedNotification
    = "ORPSongSectionsAddedOrRemovedNotification";
inline constexpr const char* ORPSongSectionMarkersAddedOrRemovedNotification
    = "ORPSongSectionMarkersAddedOrRemovedNotification";
inline constexpr const char* ORPSongDurationRecalculatedNotification
    = "ORPSongDurationRecalculatedNotification";

// What a song needs of the document that owns it.
class ORPSongDocument {
public:
    virtual ~ORPSongDocument() = default;
    virtual rp::UndoManager* undoManager() = 0;
};

// A song: its sections, its playlist, its master level and the kit its events use. Observes its
// sections and playlist entries and keeps the totals and every entry's cue time and first bar
// current. Main thread only.
class ORPSong : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    static constexpr int kClassVersion = 3;

    // Makes the kit a new song starts with (the default kit and its location), or none. By default
    // the kit named in the user defaults; an empty provider starts songs without a kit.
    using DefaultKitProvider = std::function<std::pair<std::shared_ptr<ORPDrumKit>, std::filesystem::path>()>;
    static void setDefaultKitProvider(DefaultKitProvider provider);

    ORPSong(); // empty; use song() for a new song with its section, bar and playlist entry
    ~ORPSong() override;
    ORPSong(const ORPSong&) = delete;
    ORPSong& operator=(const ORPSong&) = delete;

    // A new song: one section holding one new pattern, one playlist entry naming it once, level 0.8,
    // the default kit when a provider gives one.
    static ORPSongPtr song();

    std::shared_ptr<ORPSongDocument> document() const { return document_.lock(); }
    void setDocument(const std::weak_ptr<ORPSongDocument>& document) { document_ = document; }
    rp::UndoManager* undoManager() const;

    const std::string& name() const { return songName_; }
    void setName(const std::string& name);
    const std::string& notes() const { return songNotes_; }
    void setNotes(const std::string& notes);
    float masterLevel() const { return masterLevel_; }
    void setMasterLevel(float level);
    float totalDuration() const { return totalDuration_; }
    uint32_t totalBars() const { return totalBars_; }

    const std::shared_ptr<ORPDrumKit>& drumKit() const { return drumKit_; }
    // Empty when the song has no kit location.
    const std::filesystem::path& drumKitURL() const { return drumKitURL_; }
    void setDrumKit(std::shared_ptr<ORPDrumKit> kit, const std::filesystem::path& url);

    std::vector<ORPPatternPtr> allPatterns() const;
    // Distinct drums (by identity) used by any event of any section, in or out of the playlist.
    std::set<ORPDrumPtr> drumsCurrentlyInUse() const;

    const std::vector<ORPSectionPtr>& sectionList() const { return sectionList_; }
    const std::vector<ORPSectionMarkerPtr>& sectionMarkerList() const { return sectionMarkerList_; }
    void insertSections(const std::vector<ORPSectionPtr>& sections, size_t index);
    void insertSections(const std::vector<ORPSectionPtr>& sections, const std::vector<size_t>& indices);
    void removeSections(const std::vector<ORPSectionPtr>& sections);
    void insertSectionMarkers(const std::vector<ORPSectionMarkerPtr>& markers, size_t index);
    void insertSectionMarkers(
        const std::vector<ORPSectionMarkerPtr>& markers, const std::vector<size_t>& indices);
    void removeSectionMarkers(const std::vector<ORPSectionMarkerPtr>& markers);

    void updateOverview();
    void handleNotification(const rp::Notification& notification);

    // --- Song files ---
    std::string archiveClassName() const override { return "ORPSong"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static ORPSongPtr initWithCoder(rp::KeyedUnarchiver& coder);
    static ORPSongPtr initWithTypedStream(rp::TypedStreamDecoder& decoder);
    // The complete file contents; empty when the song cannot be archived.
    std::vector<uint8_t> dataRepresentation() const;
    // Writes the file aside and renames it over `path`; false with an error on failure.
    bool writeToFile(const std::filesystem::path& path, rp::Error* error = nullptr) const;
    static ORPSongPtr songFromURL(const std::filesystem::path& path, rp::Error* error);
    // The same for file contents already read; `path` names the file in errors and alerts.
    static ORPSongPtr songFromData(
        std::span<const uint8_t> bytes, const std::filesystem::path& path, rp::Error* error);
    // Registers every class of song files and the names older archives use for them. Idempotent.
    static void registerArchiveClasses();

private:
    ORPSongPtr self() { return std::static_pointer_cast<ORPSong>(shared_from_this()); }
    void registerUndo(std::function<void(ORPSong&)> inverse);
    void observe(const void* object);
    void postAttributesChanged();
    void sectionMarkersChanged();
    // ORPS_drumKitAlias and ORPS_drumKitBookmark for the kit location, fresh when the kit is there.
    void encodeKitReference(rp::KeyedArchiver& coder) const;

    std::string songName_;
    std::string songNotes_;
    std::vector<ORPSectionPtr> sectionList_;
    std::vector<ORPSectionMarkerPtr> sectionMarkerList_;
    float masterLevel_ = 0.8f;
    float totalDuration_ = 0;
    uint32_t totalBars_ = 0;
    std::weak_ptr<ORPSongDocument> document_;
    std::shared_ptr<ORPDrumKit> drumKit_;
    std::filesystem::path drumKitURL_;
    // The kit reference bytes read from the song file, written back unchanged while the kit is not
    // on disk (fresh bytes need the file); dropped when the song is given another kit location.
    std::optional<std::vector<uint8_t>> storedKitBookmark_;
    std::optional<std::vector<uint8_t>> storedKitAlias_;
};
