// Song files: the keyed archive of every song-model class, the header around it, and the import of
// the older sequential archives.

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/BuildVersion.h"
#include "foundation/CompressedData.h"
#include "foundation/Error.h"
#include "foundation/FileReference.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/Prompt.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPUserDefaults.h"
#include "model/ORPOldPatternEvent.h"
#include "model/ORPPatternInstance.h"
#include "model/ORPPositionalValues.h"
#include "model/ORPSong.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kSongMagic[] = "Orrery Rattlepan rpsong"; // with its zero byte: 24 bytes
constexpr size_t kSongMagicLength = 24;
constexpr uint32_t kSongCompatibilityVersion = 0x01050002; // 1E2
constexpr uint32_t kVersionStringCompatibility = 0x01020005; // 1B5: the version string follows
constexpr size_t kFixedHeaderLength = 32;
// Nothing this program writes comes near this; a larger file is not a song.
constexpr uintmax_t kMaximumSongFileSize = uintmax_t { 256 } << 20;

uint32_t readBigEndian32(const uint8_t* bytes)
{
    return (uint32_t { bytes[0] } << 24) | (uint32_t { bytes[1] } << 16) | (uint32_t { bytes[2] } << 8)
        | uint32_t { bytes[3] };
}

void appendBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// Removes the files that saves of the same song left aside when they were killed part-way: names
// made by mkstemp from `prefix`, with no lock on them (a running save holds one on its file).
void removeAbandonedSaveFiles(const std::filesystem::path& folder, const std::string& prefix)
{
    std::error_code error;
    std::vector<std::filesystem::path> abandoned;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code statusError;
        if (name.size() == prefix.size() + 6 && name.starts_with(prefix)
            && it->symlink_status(statusError).type() == std::filesystem::file_type::regular)
            abandoned.push_back(it->path());
    }
    for (const auto& path : abandoned) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            rp::logf("ORPSong: removing %s left by an interrupted save", path.c_str());
            ::unlink(path.c_str());
        }
        ::close(fd);
    }
}

// True when `path` still names the file open as `fd`.
bool stillNames(int fd, const char* path)
{
    struct stat held { };
    struct stat there { };
    return ::fstat(fd, &held) == 0 && ::lstat(path, &there) == 0 && held.st_dev == there.st_dev
        && held.st_ino == there.st_ino;
}

int16_t clampToInt16(int64_t value)
{
    return static_cast<int16_t>(std::clamp<int64_t>(value, INT16_MIN, INT16_MAX));
}

} // namespace

// ---- ORPPattern -----------------------------------------------------------------------------

void ORPPattern::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeInt32(timeSignatureTop(), "ORPP_tsTop");
    coder.encodeInt32(timeSignatureBottom(), "ORPP_tsBottom");
    coder.encodeFloat(beatBasis(), "ORPP_beatBasis");
    coder.encodeFloat(duration(), "ORPP_duration");
    const EventSnapshot snapshot = events();
    coder.encodeArrayOfObjects(
        std::vector<rp::ArchiveObjectPtr>(snapshot->begin(), snapshot->end()), "ORPP_events", true);
    coder.encodeInt32(zoomLevel(), "ORPP_zoomLevel");
}

ORPPatternPtr ORPPattern::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto result = pattern();
    int64_t top = coder.decodeInt64ForKey("ORPP_tsTop");
    if (top == 0 && rp::KeyedPositionalValues::present(coder)) {
        // No keyed time signature: the bar was archived in the version-1 form, value by value.
        rp::KeyedPositionalValues values(coder);
        result->decodeVersion1Body(values);
        result->repairDecodedValues();
        return result;
    }
    int64_t bottom = coder.decodeInt64ForKey("ORPP_tsBottom");
    // Out-of-range values become 0 here, which the repair below replaces.
    result->tsTop_ = top >= 1 && top <= INT16_MAX ? static_cast<int16_t>(top) : 0;
    result->tsBottom_ = bottom >= 1 && bottom <= INT16_MAX ? static_cast<int16_t>(bottom) : 0;
    result->beatBasis_ = coder.decodeFloatForKey("ORPP_beatBasis");
    result->duration_ = coder.decodeFloatForKey("ORPP_duration");
    auto decoded = coder.decodeArrayOfObjectsOfClassForKey<ORPEvent>("ORPP_events");
    result->replaceEvents(EventList(decoded.begin(), decoded.end()));
    int64_t zoom
        = coder.containsValueForKey("ORPP_zoomLevel") ? coder.decodeInt64ForKey("ORPP_zoomLevel") : 1;
    result->zoomLevel_ = zoom >= -1 && zoom <= 6 ? static_cast<int16_t>(zoom) : int16_t { 99 };
    result->repairDecodedValues();
    return result;
}

void ORPPattern::repairDecodedValues()
{
    const ORPPattern fresh;
    if (timeSignatureTop() < 1) {
        rp::logf("ORPPattern: time signature top %d cannot be read; using %d", timeSignatureTop(),
            fresh.timeSignatureTop());
        tsTop_ = fresh.timeSignatureTop();
    }
    if (timeSignatureBottom() < 1) {
        rp::logf("ORPPattern: time signature bottom %d cannot be read; using %d", timeSignatureBottom(),
            fresh.timeSignatureBottom());
        tsBottom_ = fresh.timeSignatureBottom();
    }
    if (!isTableBeatBasis(beatBasis())) {
        rp::logf("ORPPattern: beat basis %f cannot be read; using %f", static_cast<double>(beatBasis()),
            static_cast<double>(fresh.beatBasis()));
        beatBasis_ = fresh.beatBasis();
    }
    if (!(duration() > 0) || !std::isfinite(duration())) {
        rp::logf("ORPPattern: duration %f cannot be read; using %f", static_cast<double>(duration()),
            static_cast<double>(fresh.duration()));
        duration_ = fresh.duration();
    }
    if (zoomLevel() < -1 || zoomLevel() > 6) {
        rp::logf("ORPPattern: zoom level %d cannot be read; using %d", zoomLevel(), fresh.zoomLevel());
        zoomLevel_ = fresh.zoomLevel();
    }
    EventList kept;
    for (const auto& event : *events()) {
        float when = event->whenRatio();
        if (!(when >= 0 && when < 1)) {
            rp::logf("ORPPattern: dropped event at place %f outside the bar", static_cast<double>(when));
            continue;
        }
        if (!std::isfinite(event->velocity())) {
            rp::logf("ORPPattern: velocity %f of event at %f cannot be read; using 1.0",
                static_cast<double>(event->velocity()), static_cast<double>(when));
            event->setVelocity(1.0f);
        }
        kept.push_back(event);
    }
    std::stable_sort(kept.begin(), kept.end(),
        [](const ORPEventPtr& a, const ORPEventPtr& b) { return a->whenRatio() < b->whenRatio(); });
    replaceEvents(std::move(kept));
}

void ORPPattern::importLegacyPatternEvent(const ORPOldPatternEvent& event, float ratio)
{
    for (int slot = 0; slot < ORPOldPatternEvent::kSlotCount; ++slot) {
        std::string typeName;
        std::string variantName;
        if (!event.getDrumAtPosition(slot, &typeName, &variantName))
            continue;
        auto drum = ORPDrum::drum();
        drum->setTypeName(typeName);
        drum->setVariantName(variantName);
        addEventWithDrum(drum, event.velocityAtPosition(slot), ratio);
    }
}

namespace {

template <class Values>
std::shared_ptr<ORPOldPatternEvent> oldEventFrom(Values& values, const rp::ArchiveObjectPtr& object)
{
    if (!object)
        return nullptr;
    auto event = std::dynamic_pointer_cast<ORPOldPatternEvent>(object);
    if (!event)
        values.fail("unexpected class " + object->archiveClassName() + " in an old pattern");
    return event;
}

} // namespace

template <class Values> void ORPPattern::decodeVersion1Body(Values& values)
{
    const int16_t top = clampToInt16(values.integer('s'));
    const int16_t bottom = clampToInt16(values.integer('s'));
    tsTop_ = top;
    tsBottom_ = bottom;
    const int64_t code = values.integer('s');
    const double tempo = values.real();
    const float basis = beatBasisForLegacyCode(code).value_or(4.0f);
    beatBasis_ = basis;
    // Unusable values (a zero bottom or tempo) give a duration the repair replaces.
    duration_ = static_cast<float>(top * static_cast<double>(basis) / bottom * 60.0 / tempo);
    const int64_t positionsInBar = int64_t { top } * 24;
    // Each turn reads at least one value, so a keyed archive, whose values run out, ends the loop.
    while (!values.exhausted()) {
        const int64_t position = values.integer('S');
        if (position == 65535)
            return;
        if (position >= positionsInBar)
            continue;
        if (auto old = oldEventFrom(values, values.object()))
            importLegacyPatternEvent(*old,
                static_cast<float>(static_cast<double>(position) / static_cast<double>(positionsInBar)));
    }
    rp::logf("ORPPattern: the bar's event list has no end marker");
}

ORPPatternPtr ORPPattern::initWithTypedStream(rp::TypedStreamDecoder& decoder)
{
    auto result = pattern();
    int64_t version = decoder.currentClassVersion();
    if (version != 0 && version != 1) {
        rp::logf("legacy ORPPattern version error: %ld != 0,1", static_cast<long>(version));
        while (!decoder.atEndOfObject())
            decoder.decodeNextValue();
        return result;
    }
    rp::TypedStreamPositionalValues values(decoder);
    if (version == 1) {
        result->decodeVersion1Body(values);
    } else {
        int16_t top = clampToInt16(decoder.decodeInteger('s'));
        int16_t bottom = clampToInt16(decoder.decodeInteger('s'));
        result->tsTop_ = top;
        result->tsBottom_ = bottom;
        decoder.decodeInteger('s');
        decoder.decodeInteger('s');
        double tempo = decoder.decodeFloat();
        result->beatBasis_ = beatBasisForTimeSignatureTop(top, bottom);
        result->duration_ = static_cast<float>(top * 60.0 / tempo);
        auto list = std::dynamic_pointer_cast<rp::ArchivedArray>(decoder.decodeObject());
        if (list) {
            // Hits go in before the repair, so a bar that repair changes keeps its events' places.
            const size_t count = list->items.size();
            for (size_t i = 0; i < count; ++i) {
                if (auto old = oldEventFrom(values, list->items[i]))
                    result->importLegacyPatternEvent(
                        *old, static_cast<float>(static_cast<double>(i) / static_cast<double>(count)));
            }
        }
    }
    result->repairDecodedValues();
    return result;
}

// ---- ORPSection, ORPSectionMarker ---------------------------------------------------------------

void ORPSection::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeArrayOfObjects(
        std::vector<rp::ArchiveObjectPtr>(patterns_.begin(), patterns_.end()), "ORPS_patterns", true);
    coder.encodeString(name_, "ORPS_name");
}

ORPSectionPtr ORPSection::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto result = section();
    auto patterns = coder.decodeArrayOfObjectsOfClassForKey<ORPPattern>("ORPS_patterns");
    result->name_ = coder.decodeStringForKey("ORPS_name").value_or(std::string());
    result->insertPatterns(patterns, 0); // parents, observation and duration
    return result;
}

void ORPSectionMarker::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeObject(section_, "ORPSM_section");
    coder.encodeString(name_, "ORPSM_name");
    coder.encodeInt32(numberOfTimes_, "ORPSM_numberOfTimes");
}

ORPSectionMarkerPtr ORPSectionMarker::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto result = sectionMarker();
    result->section_ = coder.decodeObjectOfClassForKey<ORPSection>("ORPSM_section");
    result->name_ = coder.decodeStringForKey("ORPSM_name").value_or(std::string());
    // 0 is an entry that plays nothing; a negative or missing count (a damaged file) plays once.
    if (coder.containsValueForKey("ORPSM_numberOfTimes")) {
        const int64_t times = coder.decodeInt64ForKey("ORPSM_numberOfTimes");
        result->numberOfTimes_ = times < 0 ? int16_t { 1 } : static_cast<int16_t>(std::min<int64_t>(times, INT16_MAX));
    }
    return result;
}

// ---- ORPSong -----------------------------------------------------------------------------------

void ORPSong::encodeKitReference(rp::KeyedArchiver& coder) const
{
    // Bytes read from the file stand for the kit only while they still name its location.
    const auto stillNamesKit = [this](const std::optional<std::vector<uint8_t>>& stored) {
        return stored && rp::FileReference::pathStoredInBookmark(*stored) == drumKitURL_;
    };
    if (drumKitURL_.empty()) {
        // References this program could not follow are kept for a reader that can.
        if (storedKitAlias_)
            coder.encodeData(*storedKitAlias_, "ORPS_drumKitAlias");
        if (storedKitBookmark_)
            coder.encodeData(*storedKitBookmark_, "ORPS_drumKitBookmark");
        return;
    }
    if (auto alias = rp::FileReference::aliasRecordData(drumKitURL_))
        coder.encodeData(*alias, "ORPS_drumKitAlias");
    else if (stillNamesKit(storedKitAlias_))
        coder.encodeData(*storedKitAlias_, "ORPS_drumKitAlias");
    rp::Error error;
    if (auto bookmark = rp::FileReference::bookmarkData(drumKitURL_, &error)) {
        coder.encodeData(*bookmark, "ORPS_drumKitBookmark");
        return;
    }
    // The kit is not on disk now (another machine, a drive that is away): keep what the file
    // had, or at least the path, so that the song finds its kit again once it is back.
    rp::logf("ORPSong failed to create bookmark for %s: %s; keeping its %s", drumKitURL_.c_str(),
        error.text().c_str(), stillNamesKit(storedKitBookmark_) ? "stored bookmark" : "path");
    if (stillNamesKit(storedKitBookmark_))
        coder.encodeData(*storedKitBookmark_, "ORPS_drumKitBookmark");
    else if (auto pathOnly = rp::FileReference::pathOnlyBookmarkData(drumKitURL_))
        coder.encodeData(*pathOnly, "ORPS_drumKitBookmark");
}

void ORPSong::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeString(songName_, "ORPS_songName");
    coder.encodeString(songNotes_, "ORPS_songNotes");
    encodeKitReference(coder);
    coder.encodeArrayOfObjects(std::vector<rp::ArchiveObjectPtr>(sectionList_.begin(), sectionList_.end()),
        "ORPS_sectionList", true);
    coder.encodeArrayOfObjects(
        std::vector<rp::ArchiveObjectPtr>(sectionMarkerList_.begin(), sectionMarkerList_.end()),
        "ORPS_sectionMarkerList", true);
    coder.encodeFloat(1.0f, "ORPS_bpmFactor");
    coder.encodeFloat(masterLevel_, "ORPS_masterLevel");
    coder.encodeBool(ORPUserDefaults::defaults().boolForKey("RPLoopPlayback"), "ORPS_loopPlayback");
}

namespace {

// Gives the decoded parts a shape the model can hold: a pattern or section met twice is copied, a
// playlist entry without a section is dropped, and a section named only by entries joins the list.
void assembleSong(
    ORPSong& song, std::vector<ORPSectionPtr> sections, std::vector<ORPSectionMarkerPtr> markers)
{
    std::set<const ORPSection*> seenSections;
    std::set<const ORPPattern*> seenPatterns;
    std::vector<ORPSectionPtr> uniqueSections;
    auto takeSection = [&](const ORPSectionPtr& section) {
        if (!seenSections.insert(section.get()).second)
            return;
        std::vector<ORPPatternPtr> own;
        bool repeated = false;
        for (const auto& pattern : section->patterns()) {
            bool first = seenPatterns.insert(pattern.get()).second;
            repeated = repeated || !first;
            own.push_back(first ? pattern : pattern->copy());
        }
        if (repeated) {
            std::vector<ORPPatternPtr> current = section->patterns();
            section->removePatterns(current);
            section->insertPatterns(own, 0);
        }
        uniqueSections.push_back(section);
    };
    for (const auto& section : sections)
        takeSection(section);
    std::vector<ORPSectionMarkerPtr> keptMarkers;
    std::set<const ORPSectionMarker*> seenMarkers;
    for (const auto& marker : markers) {
        if (!marker->section()) {
            rp::logf("ORPSong: dropped playlist entry \"%s\" without a section", marker->name().c_str());
            continue;
        }
        if (!seenMarkers.insert(marker.get()).second)
            continue;
        takeSection(marker->section());
        keptMarkers.push_back(marker);
    }
    // Each pattern now stands in one section only; separating the copies may have cleared the
    // parent of a pattern that another section kept.
    for (const auto& section : uniqueSections) {
        for (const auto& pattern : section->patterns())
            pattern->setParentSection(section);
    }
    song.insertSections(uniqueSections, 0);
    song.insertSectionMarkers(keptMarkers, 0);
}

} // namespace

ORPSongPtr ORPSong::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto song = std::make_shared<ORPSong>();
    song->songName_ = coder.decodeStringForKey("ORPS_songName").value_or(std::string());
    song->songNotes_ = coder.decodeStringForKey("ORPS_songNotes").value_or(std::string());
    std::optional<std::filesystem::path> kitURL;
    song->storedKitBookmark_ = coder.decodeDataForKey("ORPS_drumKitBookmark");
    song->storedKitAlias_ = coder.decodeDataForKey("ORPS_drumKitAlias");
    if (const auto& bookmark = song->storedKitBookmark_) {
        rp::Error error;
        kitURL = rp::FileReference::resolve(*bookmark, nullptr, &error);
        if (!kitURL) {
            rp::logf("ORPSong failed to resolve bookmark for drum kit: %s", error.text().c_str());
            kitURL = rp::FileReference::pathStoredInBookmark(*bookmark);
        }
    }
    if (!kitURL) {
        if (const auto& alias = song->storedKitAlias_) {
            kitURL = rp::FileReference::pathFromAliasRecordData(*alias);
            if (!kitURL)
                rp::logf("ORPSong failed to resolve alias record: %s", "no path in the alias record");
        }
    }
    if (kitURL)
        song->drumKitURL_ = *kitURL;
    auto sections = coder.decodeArrayOfObjectsOfClassForKey<ORPSection>("ORPS_sectionList");
    auto markers = coder.decodeArrayOfObjectsOfClassForKey<ORPSectionMarker>("ORPS_sectionMarkerList");
    if (coder.failed())
        return nullptr;
    assembleSong(*song, std::move(sections), std::move(markers));
    float level = coder.decodeFloatForKey("ORPS_masterLevel");
    if (!std::isfinite(level)) {
        rp::logf("ORPSong: master level %f cannot be read; using 0.8", static_cast<double>(level));
        level = 0.8f;
    }
    song->masterLevel_ = level;
    return song;
}

ORPSongPtr ORPSong::initWithTypedStream(rp::TypedStreamDecoder& decoder)
{
    int64_t version = decoder.currentClassVersion();
    if (version < 0 || version > 2)
        decoder.failWithError("unsupported older song version " + std::to_string(version));
    auto song = std::make_shared<ORPSong>();
    song->songName_ = decoder.decodeStringObject().value_or(std::string());
    song->songNotes_ = decoder.decodeStringObject().value_or(std::string());
    if (version < 2) {
        if (auto path = decoder.decodeStringObject(); path && !path->empty())
            song->drumKitURL_ = *path;
    } else if (auto object = decoder.decodeObject()) {
        auto data = std::dynamic_pointer_cast<rp::ArchivedData>(object);
        if (!data)
            decoder.failWithError("unexpected class " + object->archiveClassName() + " for the kit alias");
        song->storedKitAlias_ = data->bytes;
        if (auto path = rp::FileReference::pathFromAliasRecordData(data->bytes))
            song->drumKitURL_ = *path;
        else
            rp::logf("ORPSong failed to resolve alias record: %s", "no path in the alias record");
    }
    auto listOf = [&decoder]<class T>(T*) {
        std::vector<std::shared_ptr<T>> result;
        rp::ArchiveObjectPtr object = decoder.decodeObject();
        if (!object)
            return result;
        auto array = std::dynamic_pointer_cast<rp::ArchivedArray>(object);
        if (!array)
            decoder.failWithError(
                "unexpected class " + object->archiveClassName() + " for a list in an older song");
        for (const auto& item : array->items) {
            auto typed = std::dynamic_pointer_cast<T>(item);
            if (!typed)
                decoder.failWithError("unexpected object in a list of an older song");
            result.push_back(std::move(typed));
        }
        return result;
    };
    auto patterns = listOf(static_cast<ORPPattern*>(nullptr));
    auto oldMarkers = listOf(static_cast<ORPOldSectionMarker*>(nullptr));
    decoder.decodeFloat();
    decoder.decodeInteger('c');
    song->masterLevel_ = version >= 1 ? decoder.decodeFloat() : 0.8f;
    if (!std::isfinite(song->masterLevel_))
        song->masterLevel_ = 0.8f;

    // Cut the pattern list into sections at the old markers' boundaries.
    std::vector<ORPSectionPtr> sections;
    std::vector<ORPSectionMarkerPtr> entries;
    ORPSectionPtr current;
    std::vector<ORPPatternPtr> pending;
    std::shared_ptr<ORPOldSectionMarker> currentOld;
    auto markerStartingAt
        = [&oldMarkers](const ORPPatternPtr& pattern) -> std::shared_ptr<ORPOldSectionMarker> {
        for (const auto& old : oldMarkers) {
            if (old->firstPattern == pattern)
                return old;
        }
        return nullptr;
    };
    std::set<const ORPPattern*> seen;
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (!current) {
            current = ORPSection::section();
            auto entry = ORPSectionMarker::sectionMarker();
            entry->setSection(current);
            currentOld = markerStartingAt(patterns[i]);
            if (currentOld)
                entry->setName(currentOld->name);
            current->setName(entry->name() + " (imported)");
            sections.push_back(current);
            entries.push_back(entry);
        }
        // A pattern listed twice becomes two bars.
        pending.push_back(seen.insert(patterns[i].get()).second ? patterns[i] : patterns[i]->copy());
        bool ends = i + 1 == patterns.size() || (currentOld && currentOld->lastPattern == patterns[i])
            || (!currentOld && markerStartingAt(patterns[i + 1]));
        if (ends) {
            current->insertPatterns(pending, 0);
            pending.clear();
            current = nullptr;
        }
    }
    song->insertSections(sections, 0);
    song->insertSectionMarkers(entries, 0);
    return song;
}

std::vector<uint8_t> ORPSong::dataRepresentation() const
{
    std::vector<uint8_t> out(kSongMagic, kSongMagic + kSongMagicLength);
    appendBigEndian32(out, kSongCompatibilityVersion);
    appendBigEndian32(out, rp::currentBuildVersionCode());
    std::string version = rp::currentShortVersion();
    out.insert(out.end(), version.begin(), version.end());
    out.push_back(0);

    rp::KeyedArchiver archiver;
    ORPEvent::archiveDrumsSparsely(archiver);
    archiver.encodeObject(std::const_pointer_cast<ArchiveObject>(shared_from_this()), "root");
    std::vector<uint8_t> archive = archiver.finishEncoding();
    if (archive.empty()) {
        rp::logf("ORPSong: archiving failed: %s", archiver.errorText().c_str());
        return {};
    }
    auto compressed = rp::compressedData(archive);
    if (!compressed)
        return {};
    out.insert(out.end(), compressed->begin(), compressed->end());
    return out;
}

bool ORPSong::writeToFile(const std::filesystem::path& path, rp::Error* error) const
{
    std::vector<uint8_t> data = dataRepresentation();
    if (data.empty()) {
        if (error)
            *error = rp::Error::make(
                rp::kErrorInvalidFile, "The song could not be saved.", {}, "The song could not be archived.");
        return false;
    }
    // Written aside and renamed over the old file, so a failure never leaves a half-written song.
    std::filesystem::path folder
        = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    // The file aside is locked while this save runs, so that a later save can tell the leftovers of
    // a killed save from the file of one still running, and remove them.
    const std::string prefix = "." + path.filename().string() + ".";
    removeAbandonedSaveFiles(folder, prefix);
    auto fail = [&](int errorNumber) {
        if (error)
            *error = rp::Error::posix(errorNumber, path.string());
        return false;
    };
    std::vector<char> name;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        std::string pattern = (folder / (prefix + "XXXXXX")).string();
        name.assign(pattern.begin(), pattern.end());
        name.push_back('\0');
        fd = mkstemp(name.data());
        if (fd < 0)
            return fail(errno);
        // Another save may have taken the new file for a leftover before it was locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !stillNames(fd, name.data())) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        return fail(EAGAIN);
    size_t written = 0;
    while (written < data.size()) {
        ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int saved = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(name.data());
            return fail(saved);
        }
        written += static_cast<size_t>(n);
    }
    // mkstemp makes the file private; a song gets the old file's permissions, or the usual ones.
    struct stat old { };
    ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int saved = errno;
        ::unlink(name.data());
        return fail(saved);
    }
    if (::rename(name.data(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(name.data());
        return fail(saved);
    }
    return true;
}

namespace {

rp::Error invalidSongError(const std::filesystem::path& path)
{
    rp::Error error = rp::Error::make(rp::kErrorInvalidFile,
        "'%@' is not a valid Rattlepan song file, or may be corrupt.", path.filename().string(),
        "It is not a valid Rattlepan song file.");
    error.url = rp::fileURLFromPath(std::filesystem::absolute(path).string());
    error.filePath = path.string();
    return error;
}

} // namespace

ORPSongPtr ORPSong::songFromURL(const std::filesystem::path& path, rp::Error* error)
{
    registerArchiveClasses();
    auto fail = [&](rp::Error problem) -> ORPSongPtr {
        if (error)
            *error = std::move(problem);
        return nullptr;
    };

    std::vector<uint8_t> bytes;
    {
        // Non-blocking, and only regular files: a named pipe or a device must not stall the reader.
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return fail(rp::Error::posix(errno, path.string()));
        struct stat status { };
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            int saved = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
            ::close(fd);
            return fail(rp::Error::posix(saved, path.string()));
        }
        uint8_t buffer[65536];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                int saved = errno;
                ::close(fd);
                return fail(rp::Error::posix(saved, path.string()));
            }
            if (n == 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
            if (bytes.size() > kMaximumSongFileSize) {
                ::close(fd);
                return fail(invalidSongError(path));
            }
        }
        ::close(fd);
    }
    return songFromData(bytes, path, error);
}

ORPSongPtr ORPSong::songFromData(
    std::span<const uint8_t> bytes, const std::filesystem::path& path, rp::Error* error)
{
    registerArchiveClasses();
    auto fail = [&](rp::Error problem) -> ORPSongPtr {
        if (error)
            *error = std::move(problem);
        return nullptr;
    };
    rp::ArchiveObjectPtr root;
    const uint32_t current = rp::currentBuildVersionCode();
    if (bytes.size() >= kSongMagicLength && std::memcmp(bytes.data(), kSongMagic, kSongMagicLength) == 0) {
        if (bytes.size() < kFixedHeaderLength)
            return fail(invalidSongError(path));
        const uint32_t compatibility = readBigEndian32(bytes.data() + 24);
        const uint32_t savedWith = readBigEndian32(bytes.data() + 28);
        size_t archiveStart = kFixedHeaderLength;
        std::string versionString;
        if (compatibility >= kVersionStringCompatibility) {
            auto rest = bytes.subspan(kFixedHeaderLength);
            auto end = std::find(rest.begin(), rest.end(), uint8_t { 0 });
            if (end == rest.end())
                return fail(invalidSongError(path));
            versionString.assign(rest.begin(), end);
            archiveStart = kFixedHeaderLength + static_cast<size_t>(end - rest.begin()) + 1;
        }
        if (compatibility > current) {
            rp::logf("%s failed: current version %s, compatibility version %s, saved with version %s",
                "ORPSong", rp::formatBuildVersionCode(current).c_str(),
                rp::formatBuildVersionCode(compatibility).c_str(),
                rp::formatBuildVersionCode(savedWith).c_str());
            rp::Error newer = rp::Error::make(rp::kErrorNewerVersion,
                "'%@' was created with a newer version of Rattlepan, and can't be opened.",
                path.filename().string(), "It was created with a newer version of Rattlepan.",
                "This song was created with Rattlepan %@. You may wish to upgrade to the latest version.",
                versionString);
            newer.url = rp::fileURLFromPath(std::filesystem::absolute(path).string());
            newer.filePath = path.string();
            return fail(std::move(newer));
        }
        auto archive = rp::uncompressedData(bytes.subspan(archiveStart));
        if (!archive)
            return fail(invalidSongError(path));
        std::string problem;
        root = rp::KeyedUnarchiver::unarchiveObjectWithData(*archive, &problem);
        if (!root && !problem.empty())
            rp::logf("ORPSong: %s", problem.c_str());
        if (root && savedWith > current) {
            rp::logf("%s warning: current version %s, compatibility version %s, saved with version %s",
                "ORPSong", rp::formatBuildVersionCode(current).c_str(),
                rp::formatBuildVersionCode(compatibility).c_str(),
                rp::formatBuildVersionCode(savedWith).c_str());
            rp::Prompt::alert(rp::localizedFormat("'%@' was created with a newer version of Rattlepan.",
                                  { path.filename().string() }),
                rp::localizedFormat("This song was created with Rattlepan %@. Some information may be lost.",
                    { versionString }),
                { rp::localized("Continue") });
        }
    } else if (rp::TypedStreamDecoder::hasSignature(bytes)) {
        std::string problem;
        root = rp::TypedStreamDecoder::unarchiveObjectWithData(bytes, &problem);
        if (!root && !problem.empty())
            rp::logf("ORPSong: %s", problem.c_str());
    }
    auto song = std::dynamic_pointer_cast<ORPSong>(root);
    const rp::ArchiveObject* decoded = root.get();
    if (!song || typeid(*decoded) != typeid(ORPSong))
        return fail(invalidSongError(path));
    if (error)
        *error = rp::Error();
    return song;
}

void ORPSong::registerArchiveClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ORPDrumKit::registerArchiveClasses();
        OXSelection::registerArchiveClasses();
        using Keyed = rp::KeyedUnarchiver;
        using Stream = rp::TypedStreamDecoder;
        Keyed::registerClass(
            "ORPSong", [](Keyed& c) -> rp::ArchiveObjectPtr { return ORPSong::initWithCoder(c); });
        Keyed::registerClass(
            "ORPSection", [](Keyed& c) -> rp::ArchiveObjectPtr { return ORPSection::initWithCoder(c); });
        Keyed::registerClass("ORPSectionMarker",
            [](Keyed& c) -> rp::ArchiveObjectPtr { return ORPSectionMarker::initWithCoder(c); });
        Keyed::registerClass(
            "ORPPattern", [](Keyed& c) -> rp::ArchiveObjectPtr { return ORPPattern::initWithCoder(c); });
        Keyed::registerClass(
            "ORPEvent", [](Keyed& c) -> rp::ArchiveObjectPtr { return ORPEvent::initWithCoder(c); });
        Keyed::registerClass("ORPPatternInstance",
            [](Keyed& c) -> rp::ArchiveObjectPtr { return ORPPatternInstance::initWithCoder(c); });
        Keyed::registerClass("ORPOldPatternEvent",
            [](Keyed& c) -> rp::ArchiveObjectPtr { return ORPOldPatternEvent::initWithCoder(c); });
        Keyed::setClassNameTranslation("ORPPatternEvent", "ORPOldPatternEvent");

        Stream::registerClass(
            "ORPSong", [](Stream& d) -> rp::ArchiveObjectPtr { return ORPSong::initWithTypedStream(d); });
        Stream::registerClass("ORPPattern",
            [](Stream& d) -> rp::ArchiveObjectPtr { return ORPPattern::initWithTypedStream(d); });
        Stream::registerClass("ORPOldPatternEvent",
            [](Stream& d) -> rp::ArchiveObjectPtr { return ORPOldPatternEvent::initWithTypedStream(d); });
        Stream::registerClass("ORPOldSectionMarker",
            [](Stream& d) -> rp::ArchiveObjectPtr { return ORPOldSectionMarker::initWithTypedStream(d); });
        Stream::setClassNameTranslation("SongFile", "ORPSong");
        Stream::setClassNameTranslation("DrumPattern", "ORPPattern");
        Stream::setClassNameTranslation("DrumEvent", "ORPOldPatternEvent");
        Stream::setClassNameTranslation("SectionMarker", "ORPOldSectionMarker");
        Stream::setClassNameTranslation("ORPPatternEvent", "ORPOldPatternEvent");
    });
}
