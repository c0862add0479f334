#include "model/ORPSong.h"

#include "foundation/NotificationCenter.h"
#include "foundation/UndoManager.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPUserDefaults.h"

#include <algorithm>
#include <iterator>

namespace {

// The kit stored in the user defaults, opened with interactive link repair; none when it cannot be
// opened.
std::pair<std::shared_ptr<ORPDrumKit>, std::filesystem::path> openDefaultKit()
{
    auto url = ORPUserDefaults::defaultDrumKitURL();
    if (!url)
        return {};
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(*url, true, &error);
    if (!kit)
        return {};
    return { kit, *url };
}

ORPSong::DefaultKitProvider& defaultKitProvider()
{
    static ORPSong::DefaultKitProvider provider = openDefaultKit;
    return provider;
}

// Inserting each item at the index from the last to the first leaves them in their given order
// starting at the index: one range insertion does the same without quadratic moves.
template <class T> void insertAtIndex(std::vector<T>& list, const std::vector<T>& items, size_t index)
{
    std::vector<T> present;
    std::copy_if(
        items.begin(), items.end(), std::back_inserter(present), [](const T& item) { return !!item; });
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(index, list.size())), present.begin(),
        present.end());
}

// Inserts items[i] at indices[i], last first; returns the items that were inserted.
template <class T>
std::vector<T> insertAtIndices(
    std::vector<T>& list, const std::vector<T>& given, const std::vector<size_t>& indices)
{
    const std::vector<T> items = given; // never read from the list being changed
    size_t count = std::min(items.size(), indices.size());
    for (size_t i = count; i-- > 0;) {
        if (items[i])
            list.insert(
                list.begin() + static_cast<std::ptrdiff_t>(std::min(indices[i], list.size())), items[i]);
    }
    std::vector<T> inserted;
    for (size_t i = 0; i < count; ++i) {
        if (items[i])
            inserted.push_back(items[i]);
    }
    return inserted;
}

// Removes each present item (by identity) in order, recording the index it had at its removal.
template <class T>
std::vector<T> removeItems(std::vector<T>& list, const std::vector<T>& items, std::vector<size_t>& indices)
{
    // Callers may pass the live list itself ("remove everything"), so work from a copy.
    const std::vector<T> requested = items;
    std::vector<T> removed;
    for (const auto& item : requested) {
        auto found = std::find(list.begin(), list.end(), item);
        if (!item || found == list.end())
            continue;
        indices.push_back(static_cast<size_t>(found - list.begin()));
        list.erase(found);
        removed.push_back(item);
    }
    return removed;
}

} // namespace

void ORPSong::setDefaultKitProvider(DefaultKitProvider provider)
{
    defaultKitProvider() = std::move(provider);
}

ORPSong::ORPSong() = default;

ORPSong::~ORPSong()
{
    rp::NotificationCenter::defaultCenter().removeObserver(this);
    if (auto* manager = undoManager())
        manager->removeAllActionsWithTarget(this);
    for (const auto& section : sectionList_)
        section->setParentSong({});
}

ORPSongPtr ORPSong::song()
{
    registerArchiveClasses();
    auto song = std::make_shared<ORPSong>();
    auto section = ORPSection::section();
    section->insertPatterns({ ORPPattern::pattern() }, 0);
    auto marker = ORPSectionMarker::sectionMarker();
    marker->setSection(section);
    song->insertSections({ section }, 0);
    song->insertSectionMarkers({ marker }, 0);
    if (const auto& provider = defaultKitProvider()) {
        auto [kit, url] = provider();
        if (kit)
            song->setDrumKit(std::move(kit), url);
    }
    return song;
}

rp::UndoManager* ORPSong::undoManager() const
{
    auto owner = document();
    return owner ? owner->undoManager() : nullptr;
}

void ORPSong::registerUndo(std::function<void(ORPSong&)> inverse)
{
    rp::UndoManager* manager = undoManager();
    if (!manager)
        return;
    std::weak_ptr<ORPSong> weakSelf = self();
    manager->registerUndo(this, [weakSelf, inverse = std::move(inverse)] {
        if (auto strong = weakSelf.lock())
            inverse(*strong);
    });
}

void ORPSong::postAttributesChanged()
{
    rp::NotificationCenter::defaultCenter().post(ORPSongAttributesChangedNotification, this);
}

void ORPSong::setName(const std::string& name)
{
    std::string old = songName_;
    registerUndo([old](ORPSong& song) { song.setName(old); });
    songName_ = name;
    postAttributesChanged();
}

void ORPSong::setNotes(const std::string& notes)
{
    std::string old = songNotes_;
    registerUndo([old](ORPSong& song) { song.setNotes(old); });
    songNotes_ = notes;
    postAttributesChanged();
}

void ORPSong::setMasterLevel(float level)
{
    float old = masterLevel_;
    registerUndo([old](ORPSong& song) { song.setMasterLevel(old); });
    masterLevel_ = level;
    postAttributesChanged();
}

void ORPSong::setDrumKit(std::shared_ptr<ORPDrumKit> kit, const std::filesystem::path& url)
{
    // Security-scoped access does not exist here; the kit and its location are simply stored.
    drumKit_ = std::move(kit);
    if (url != drumKitURL_) {
        storedKitBookmark_.reset();
        storedKitAlias_.reset();
    }
    drumKitURL_ = url;
}

std::vector<ORPPatternPtr> ORPSong::allPatterns() const
{
    std::vector<ORPPatternPtr> result;
    for (const auto& section : sectionList_)
        result.insert(result.end(), section->patterns().begin(), section->patterns().end());
    return result;
}

std::set<ORPDrumPtr> ORPSong::drumsCurrentlyInUse() const
{
    std::set<ORPDrumPtr> drums;
    for (const auto& pattern : allPatterns()) {
        for (const auto& event : *pattern->events()) {
            if (auto drum = event->drum())
                drums.insert(std::move(drum));
        }
    }
    return drums;
}

void ORPSong::observe(const void* object)
{
    rp::NotificationCenter::defaultCenter().addObserver(
        this, {}, object, [this](const rp::Notification& note) { handleNotification(note); });
}

void ORPSong::insertSections(const std::vector<ORPSectionPtr>& sections, size_t index)
{
    insertAtIndex(sectionList_, sections, index);
    std::vector<ORPSectionPtr> inserted;
    std::copy_if(sections.begin(), sections.end(), std::back_inserter(inserted), [](auto& s) { return !!s; });
    for (const auto& section : inserted) {
        section->setParentSong(self());
        observe(section.get());
    }
    registerUndo([inserted](ORPSong& song) { song.removeSections(inserted); });
    rp::NotificationCenter::defaultCenter().post(ORPSongSectionsAddedOrRemovedNotification, this);
}

void ORPSong::insertSections(const std::vector<ORPSectionPtr>& sections, const std::vector<size_t>& indices)
{
    auto inserted = insertAtIndices(sectionList_, sections, indices);
    for (const auto& section : inserted) {
        section->setParentSong(self());
        observe(section.get());
    }
    registerUndo([inserted](ORPSong& song) { song.removeSections(inserted); });
    rp::NotificationCenter::defaultCenter().post(ORPSongSectionsAddedOrRemovedNotification, this);
}

void ORPSong::removeSections(const std::vector<ORPSectionPtr>& requested)
{
    const std::vector<ORPSectionPtr> sections = requested; // may be the live list itself
    for (const auto& section : sections) {
        if (section)
            rp::NotificationCenter::defaultCenter().removeObserver(this, {}, section.get());
    }
    std::vector<size_t> indices;
    auto removed = removeItems(sectionList_, sections, indices);
    for (const auto& section : removed)
        section->setParentSong({});
    // Only what was removed comes back, each at its recorded index.
    registerUndo([removed, indices](ORPSong& song) { song.insertSections(removed, indices); });
    rp::NotificationCenter::defaultCenter().post(ORPSongSectionsAddedOrRemovedNotification, this);
}

void ORPSong::sectionMarkersChanged()
{
    updateOverview();
    rp::NotificationCenter::defaultCenter().post(ORPSongSectionMarkersAddedOrRemovedNotification, this);
}

void ORPSong::insertSectionMarkers(const std::vector<ORPSectionMarkerPtr>& markers, size_t index)
{
    insertAtIndex(sectionMarkerList_, markers, index);
    std::vector<ORPSectionMarkerPtr> inserted;
    std::copy_if(markers.begin(), markers.end(), std::back_inserter(inserted), [](auto& m) { return !!m; });
    for (const auto& marker : inserted)
        observe(marker.get());
    registerUndo([inserted](ORPSong& song) { song.removeSectionMarkers(inserted); });
    sectionMarkersChanged();
}

void ORPSong::insertSectionMarkers(
    const std::vector<ORPSectionMarkerPtr>& markers, const std::vector<size_t>& indices)
{
    auto inserted = insertAtIndices(sectionMarkerList_, markers, indices);
    for (const auto& marker : inserted)
        observe(marker.get());
    registerUndo([inserted](ORPSong& song) { song.removeSectionMarkers(inserted); });
    sectionMarkersChanged();
}

void ORPSong::removeSectionMarkers(const std::vector<ORPSectionMarkerPtr>& requested)
{
    const std::vector<ORPSectionMarkerPtr> markers = requested; // may be the live list itself
    for (const auto& marker : markers) {
        if (marker)
            rp::NotificationCenter::defaultCenter().removeObserver(this, {}, marker.get());
    }
    std::vector<size_t> indices;
    auto removed = removeItems(sectionMarkerList_, markers, indices);
    registerUndo([removed, indices](ORPSong& song) { song.insertSectionMarkers(removed, indices); });
    sectionMarkersChanged();
}

void ORPSong::updateOverview()
{
    double total = 0;
    uint64_t bars = 0;
    for (const auto& marker : sectionMarkerList_) {
        marker->setCueTime(static_cast<float>(total), static_cast<uint32_t>(bars + 1));
        const auto& section = marker->section();
        if (!section)
            continue;
        total += marker->numberOfTimes() * static_cast<double>(section->duration());
        bars += static_cast<uint64_t>(marker->numberOfTimes()) * section->patterns().size();
    }
    totalDuration_ = static_cast<float>(total);
    totalBars_ = static_cast<uint32_t>(std::min<uint64_t>(bars, UINT32_MAX));
}

void ORPSong::handleNotification(const rp::Notification& notification)
{
    if (notification.name != ORPSectionMarkerSectionChangedNotification
        && notification.name != ORPSectionPatternsAddedOrRemovedNotification
        && notification.name != ORPSectionDurationChangedNotification)
        return;
    updateOverview();
    rp::NotificationCenter::defaultCenter().post(ORPSongDurationRecalculatedNotification, this);
}
