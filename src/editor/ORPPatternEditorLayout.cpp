// The pattern editor: edited objects, instances, layout, geometry, hit-testing, the insertion point
// and the model's notifications.

#include "editor/ORPDrumPicker.h"
#include "editor/ORPInspectorController.h"
#include "editor/ORPInterfaceDefaults.h"
#include "editor/ORPPatternEditor.h"
#include "foundation/Logger.h"
#include "foundation/NotificationCenter.h"
#include "foundation/NotificationQueue.h"
#include "foundation/UndoManager.h"
#include "foundation/UserDefaults.h"
#include "player/ORPPlayer.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace {

constexpr int kDivisionsPerBeat[] = { 1, 2, 3, 4, 6, 8, 12 };

// The division whose line is at or just left of `place` in a bar of `n` divisions. A place stored a
// hair under a line (a float fraction such as 5/6) counts as on it.
int64_t divisionAt(float place, int64_t n)
{
    return static_cast<int64_t>(std::floor(static_cast<double>(place) * static_cast<double>(n) + 1e-4));
}

bool contains(const ORPRect& rect, ORPPoint point)
{
    return point.x >= rect.x && point.x < rect.x + rect.width && point.y >= rect.y && point.y < rect.y + rect.height;
}

const void* objectIdentity(const ORPPatternEditor::EditedObject& object)
{
    return std::visit([](const auto& pointer) -> const void* { return pointer.get(); }, object);
}

} // namespace

ORPPatternEditor::ORPPatternEditor(ORPPatternEditorView& view, rp::UserDefaults& defaults)
    : view_(view)
    , defaults_(defaults)
{
    if (!defaults_.objectForKey(ORPInterfaceDefaults::kPatternsPerRowKey)
        || !defaults_.objectForKey(ORPInterfaceDefaults::kSectionBeginsNewRowKey))
        ORPInterfaceDefaults::registerDefaults(defaults_);
    // The velocity and record options are the inspector's; an editor without one still reads them.
    if (!defaults_.objectForKey(ORPInspectorController::kDefaultVelocityKey))
        ORPInspectorController::registerDefaults(defaults_);
    defaultVelocity_ = [this] {
        return static_cast<float>(defaults_.doubleForKey(ORPInspectorController::kDefaultVelocityKey));
    };
    rp::NotificationCenter::defaultCenter().addObserver(
        this, ORPMonoPlaybackChangedNotification, nullptr, [this](const rp::Notification& note) {
            if (const bool* mono = std::any_cast<bool>(&note.userInfo); mono && player_)
                player_->setMonophonic(*mono);
        });
    for (const char* key : { ORPInterfaceDefaults::kPatternsPerRowKey, ORPInterfaceDefaults::kSectionBeginsNewRowKey })
        defaults_.addObserverForKey(this, key, [this](const std::string&) { adjustLayout(); });
}

ORPPatternEditor::~ORPPatternEditor()
{
    showPlayingInstance_ = nullptr; // its owner may be gone already
    stopPlaying();
    if (dragUndo_)
        dragUndo_->endUndoGrouping();
    eventMenu_.finish();
    defaults_.removeKeyObservers(this);
    rp::NotificationCenter::defaultCenter().removeObserver(this, ORPMonoPlaybackChangedNotification, nullptr);
    stopObservingModel();
    rp::NotificationQueue::defaultQueue().dequeueNotificationsMatching(
        { ORPPatternEditorPatternSelectionChangedNotification, static_cast<const ORPPlayerEditor*>(this), {} },
        rp::NotificationQueue::CoalesceOnName | rp::NotificationQueue::CoalesceOnSender);
}

// --- Edited objects and instances ---

void ORPPatternEditor::setEditedObjects(const std::vector<EditedObject>& objects, const ORPDrumKitPtr& kit)
{
    if (kit != drumKit_) {
        drumKit_ = kit;
        if (drumPicker_)
            drumPicker_->setDrumKit(kit);
        currDrum_ = nullptr;
        numGroups_ = kit ? static_cast<int16_t>(std::min<size_t>(kit->drumsHierarchy().size(), INT16_MAX)) : 0;
        view_.redrawAll();
    }
    bool same = objectListSet_ && objects.size() == objectList_.size();
    for (size_t i = 0; same && i < objects.size(); ++i)
        same = objectIdentity(objects[i]) == objectIdentity(objectList_[i]);
    if (!same) {
        objectList_ = objects;
        objectListSet_ = true;
        selected_.clear();
        anchorPatti_ = insertPatti_ = nullptr;
        currPatti_.reset();
        currPlace_ = insertPlace_ = anchorPlace_ = 0;
        dropMarkerRect_ = {};
        rebuildInstances();
    }
    adjustLayout();
    postInsertionPointMoved();
}

ORPPatternDrawSource::EmptyState ORPPatternEditor::emptyState() const
{
    if (objectList_.empty())
        return EmptyState::NoSelection;
    if (objectList_.size() >= 2 && std::holds_alternative<ORPSectionPtr>(objectList_.front()))
        return EmptyState::MultiSelection;
    return instances_.empty() ? EmptyState::SectionEmpty : EmptyState::None;
}

void ORPPatternEditor::observeModel(const void* object, const char* name)
{
    rp::NotificationCenter::defaultCenter().addObserver(
        &modelObserver_, name, object, [this](const rp::Notification& note) { handleNotification(note); });
}

void ORPPatternEditor::stopObservingModel()
{
    rp::NotificationCenter::defaultCenter().removeObserver(&modelObserver_);
}

void ORPPatternEditor::rebuildInstances()
{
    for (const auto& object : objectList_) {
        if (!objectIdentity(object)) {
            rp::Logger::log("not a reasonable object type in pattern editor object array!");
            return;
        }
    }
    stopObservingModel();
    std::vector<ORPPatternInstancePtr> fresh;
    std::vector<ORPPatternInstancePtr> freshSelected;
    std::vector<const void*> observed;
    auto observeOnce = [&](const void* object, std::initializer_list<const char*> names) {
        if (std::find(observed.begin(), observed.end(), object) != observed.end())
            return;
        observed.push_back(object);
        for (const char* name : names)
            observeModel(object, name);
    };
    // Where each pattern appeared, per playlist entry: selected before, and its first new bar.
    using Placement = std::pair<const ORPPattern*, const ORPSectionMarker*>;
    auto placementOf = [](const ORPPatternInstance& instance) {
        return Placement { instance.pattern().get(), instance.sectionMarker().get() };
    };
    std::set<Placement> wasSelected;
    for (const auto& old : selected_)
        wasSelected.insert(placementOf(*old));
    std::map<Placement, ORPPatternInstancePtr> firstNew;
    ORPPatternInstancePtr insertion;
    const bool several = objectList_.size() >= 2 && std::holds_alternative<ORPSectionPtr>(objectList_.front());
    if (!several) {
        ORPPatternInstancePtr previous;
        for (const auto& object : objectList_) {
            ORPSectionPtr section;
            ORPSectionMarkerPtr marker;
            int64_t barInSong = 1;
            int64_t repeats = 1;
            float cue = 0;
            if (const auto* entry = std::get_if<ORPSectionMarkerPtr>(&object)) {
                marker = *entry;
                section = marker->section();
                barInSong = marker->firstBarNumber();
                repeats = marker->numberOfTimes();
                cue = marker->cueTime();
            } else {
                section = std::get<ORPSectionPtr>(object);
            }
            int64_t barInMarker = 1;
            for (int64_t repeat = 0; section && repeat < repeats; ++repeat) {
                for (const auto& pattern : section->patterns()) {
                    auto instance = ORPPatternInstance::initWithPattern(pattern, marker);
                    fresh.push_back(instance);
                    // Bar numbers past the 16-bit range stop counting rather than wrap to negative.
                    instance->setBarNumberInSong(static_cast<int16_t>(std::min<int64_t>(barInSong, INT16_MAX)),
                        static_cast<int16_t>(std::min<int64_t>(barInMarker, INT16_MAX)), cue);
                    instance->setPreviousPatternInstance(previous);
                    previous = instance;
                    cue += pattern->duration();
                    ++barInSong;
                    ++barInMarker;
                    firstNew.emplace(placementOf(*instance), instance);
                    if (wasSelected.count(placementOf(*instance))) {
                        instance->selection()->select(true, 0.0f, 1.0f);
                        freshSelected.push_back(instance);
                    }
                    observeOnce(pattern.get(), { ORPPatternEventsModifiedNotification, ORPPatternGeometryChangedNotification });
                }
            }
            if (marker)
                observeOnce(marker.get(), { ORPSectionMarkerSectionChangedNotification, ORPSectionMarkerRenamedNotification });
            if (section)
                observeOnce(section.get(),
                    { ORPSectionPatternsAddedOrRemovedNotification, ORPSectionDurationChangedNotification,
                        ORPSectionRenamedNotification });
        }
        auto counterpart = [&](const ORPPatternInstance& old) -> ORPPatternInstancePtr {
            auto found = firstNew.find(placementOf(old));
            return found == firstNew.end() ? nullptr : found->second;
        };
        if (insertPatti_) {
            insertion = counterpart(*insertPatti_);
            if (!insertion) {
                insertPlace_ = anchorPlace_ = 1.0f;
                auto at = std::find(instances_.begin(), instances_.end(), insertPatti_);
                if (at != instances_.end()) {
                    for (auto it = std::make_reverse_iterator(at + 1); it != instances_.rend() && !insertion; ++it)
                        insertion = counterpart(**it);
                }
            }
        }
    }
    insertPatti_ = anchorPatti_ = insertion;
    if (!insertPatti_ && !fresh.empty()) {
        insertPatti_ = anchorPatti_ = fresh.front();
        insertPlace_ = anchorPlace_ = 0;
    }
    instances_ = std::move(fresh);
    selected_ = std::move(freshSelected);
    std::stable_sort(selected_.begin(), selected_.end(),
        [](const auto& a, const auto& b) { return a->barNumberCompare(*b) < 0; });
    indexOf_.clear();
    indexOf_.reserve(instances_.size());
    for (size_t i = 0; i < instances_.size(); ++i)
        indexOf_[instances_[i].get()] = i;
    currPatti_.reset();
    rows_.clear();
}

// --- Layout ---

void ORPPatternEditor::adjustLayout()
{
    const ORPRect visible = view_.visibleRect();
    if (instances_.empty()) {
        rows_.clear();
        contentWidth_ = visible.width;
        contentHeight_ = visible.height;
        view_.setCanvasSize(contentWidth_, contentHeight_);
        view_.redrawAll();
        return;
    }
    const int64_t perRow = defaults_.integerForKey(ORPInterfaceDefaults::kPatternsPerRowKey);
    const bool sectionRows = defaults_.boolForKey(ORPInterfaceDefaults::kSectionBeginsNewRowKey);
    const double h = rowHeight();
    double width = visible.width;
    double height = visible.height;
    ORPRect previous;
    int64_t counter = -1;
    bool moved = false;
    rows_.clear();
    for (size_t i = 0; i < instances_.size(); ++i) {
        auto& instance = *instances_[i];
        const double w = numDivsForPattern(*instance.pattern()) * kCellSize;
        bool newRow;
        if (sectionRows && instance.barNumberInSectionMarker() == 1) {
            newRow = true;
        } else {
            ++counter;
            if (perRow > 0)
                newRow = counter % perRow == 0;
            else if (perRow == -1)
                newRow = previous.x + previous.width + w > visible.width;
            else
                newRow = false;
        }
        // The first bar always opens the first row.
        newRow = newRow || rows_.empty();
        ORPRect frame;
        if (newRow) {
            frame = { 0, previous.y + previous.height, w, h };
            counter = 0;
            rows_.push_back({ frame.y, i, i + 1 });
        } else {
            frame = { previous.x + previous.width, previous.y, w, h };
            rows_.back().end = i + 1;
        }
        if (!(instance.frame() == frame)) {
            instance.setFrame(frame);
            moved = true;
        }
        width = std::max(width, frame.x + frame.width);
        height = std::max(height, frame.y + frame.height);
        previous = frame;
    }
    contentWidth_ = width;
    contentHeight_ = height;
    view_.setCanvasSize(width, height);
    if (moved) {
        setInsertAtPlace(insertPlace_, insertPatti_);
        if (selected_.empty())
            scrollInsertionPointToVisible();
        else
            view_.scrollRectToVisible(selected_.back()->frame());
        view_.redrawAll();
    }
}

int16_t ORPPatternEditor::numDivsForPattern(const ORPPattern& pattern) const
{
    const int16_t zoom = pattern.zoomLevel();
    if (zoom < 0)
        return 1;
    const double divisions = std::trunc(static_cast<double>(pattern.beats()) * kDivisionsPerBeat[std::min<int16_t>(zoom, 6)]);
    // Always at least one column, so that every bar can be hit and drawn.
    return static_cast<int16_t>(std::clamp(divisions, 1.0, static_cast<double>(INT16_MAX) / kCellSize));
}

ORPRect ORPPatternEditor::gridColumnRect(const ORPRect& frame, int64_t div)
{
    return { frame.x + kCellSize * static_cast<double>(div), frame.y + kHeaderHeight, kCellSize,
        frame.height - kHeaderHeight - kFooterHeight };
}

std::vector<ORPPatternInstancePtr> ORPPatternEditor::instancesIntersecting(const ORPRect& rect) const
{
    std::vector<ORPPatternInstancePtr> found;
    if (rows_.empty() || rect.width <= 0 || rect.height <= 0)
        return found;
    const double h = rowHeight();
    const double bottom = rect.y + rect.height;
    const double right = rect.x + rect.width;
    // First row whose bottom passes below the rectangle's top.
    auto row = std::partition_point(rows_.begin(), rows_.end(), [&](const Row& r) { return r.y + h <= rect.y; });
    for (; row != rows_.end() && row->y < bottom; ++row) {
        auto first = instances_.begin() + static_cast<ptrdiff_t>(row->first);
        auto end = instances_.begin() + static_cast<ptrdiff_t>(row->end);
        auto it = std::partition_point(first, end, [&](const ORPPatternInstancePtr& instance) {
            return instance->frame().x + instance->frame().width <= rect.x;
        });
        for (; it != end && (*it)->frame().x < right; ++it)
            found.push_back(*it);
    }
    return found;
}

ORPPatternInstancePtr ORPPatternEditor::instanceAt(ORPPoint point) const
{
    if (rows_.empty())
        return nullptr;
    auto row = std::partition_point(rows_.begin(), rows_.end(), [&](const Row& r) { return r.y <= point.y; });
    if (row == rows_.begin())
        return nullptr;
    --row;
    if (point.y >= row->y + rowHeight())
        return nullptr;
    auto first = instances_.begin() + static_cast<ptrdiff_t>(row->first);
    auto end = instances_.begin() + static_cast<ptrdiff_t>(row->end);
    auto it = std::partition_point(
        first, end, [&](const ORPPatternInstancePtr& instance) { return instance->frame().x <= point.x; });
    if (it == first)
        return nullptr;
    --it;
    return contains((*it)->frame(), point) ? *it : nullptr;
}

void ORPPatternEditor::hitTest(ORPPoint p)
{
    currDiv_ = -1;
    currGrp_ = -1;
    currPlace_ = 0;
    currPatti_.reset();
    if (!contains(view_.visibleRect(), p))
        return;
    auto instance = instanceAt(p);
    if (!instance)
        return;
    currPatti_ = instance;
    const ORPRect& frame = instance->frame();
    if (p.y > frame.y + frame.height - kFooterHeight) {
        currGrp_ = -2;
    } else if (p.y > frame.y + kHeaderHeight) {
        const auto group = static_cast<int64_t>((p.y - kHeaderHeight - frame.y) / kCellSize);
        // The grid's bottom edge belongs to the last row (-1, the header, when the kit has none).
        currGrp_ = static_cast<int16_t>(std::min<int64_t>(group, numGroups_ - 1));
    }
    const int64_t n = numDivsForPattern(*instance->pattern());
    // Cell i spans [x - 2 + 18i, x + 16 + 18i).
    const int64_t i = std::clamp<int64_t>(static_cast<int64_t>(std::floor((p.x - (frame.x - 2)) / kCellSize)), 0, n);
    const double cellX = frame.x - 2 + kCellSize * static_cast<double>(i);
    currPlace_ = static_cast<float>(i) / static_cast<float>(n);
    if (p.x > cellX + 3 || (currGrp_ == -1 && i > 0 && i < n))
        currDiv_ = static_cast<int16_t>(i);
}

// --- Groups of events ---

int32_t ORPPatternEditor::gridPositionForDrum(const ORPDrum& drum) const
{
    if (drumPicker_)
        return drumPicker_->defaultGridPositionForDrum(drum);
    if (drumKit_) {
        const auto& groups = drumKit_->drumsHierarchy();
        for (size_t g = 0; g < groups.size(); ++g)
            if (groups[g]->groupName() == drum.groupName())
                return static_cast<int32_t>(g);
    }
    return 0;
}

int32_t ORPPatternEditor::defaultGridPositionForDrum(const ORPDrum& drum) const
{
    return gridPositionForDrum(drum);
}

ORPDrumPtr ORPPatternEditor::pickerDefaultDrum() const
{
    return drumPicker_ ? drumPicker_->defaultDrum() : nullptr;
}

ORPDrumPtr ORPPatternEditor::pickerDefaultDrumForGroup(int64_t group) const
{
    return drumPicker_ ? drumPicker_->defaultDrumForGroup(group) : nullptr;
}

std::vector<ORPEventPtr> ORPPatternEditor::eventsByGroupAtRatio(float place, const ORPPattern& pattern) const
{
    const int64_t count = numGroups_;
    std::vector<ORPEventPtr> slots(static_cast<size_t>(std::max<int64_t>(count, 0)));
    for (const auto& event : pattern.eventsAtPlace(place)) {
        const auto drum = event->drum();
        const int64_t g = drum ? gridPositionForDrum(*drum) : 0;
        for (int64_t k = 0; k < count; ++k) {
            if (g + k >= 0 && g + k < count && !slots[static_cast<size_t>(g + k)]) {
                slots[static_cast<size_t>(g + k)] = event;
                break;
            }
            if (g - k >= 0 && g - k < count && !slots[static_cast<size_t>(g - k)]) {
                slots[static_cast<size_t>(g - k)] = event;
                break;
            }
        }
    }
    return slots;
}

ORPEventPtr ORPPatternEditor::eventShownInRow(const ORPPattern& pattern, float place, int16_t group) const
{
    if (group < 0 || group >= numGroups_)
        return nullptr;
    return eventsByGroupAtRatio(place, pattern)[static_cast<size_t>(group)];
}

// --- Insertion point ---

std::optional<uint64_t> ORPPatternEditor::insertionPointIndex() const
{
    if (!insertPatti_)
        return std::nullopt;
    auto found = indexOf_.find(insertPatti_.get());
    if (found == indexOf_.end())
        return std::nullopt;
    return found->second;
}

void ORPPatternEditor::setInsertAtPlace(float place, const ORPPatternInstancePtr& instance)
{
    insertPatti_ = instance;
    if (!instance) {
        insertPlace_ = place;
        insertionRect_ = {};
        return;
    }
    const int64_t n = numDivsForPattern(*instance->pattern());
    place = static_cast<float>(std::clamp<int64_t>(divisionAt(place, n), 0, n)) / static_cast<float>(n);
    insertPlace_ = place;
    const ORPRect& frame = instance->frame();
    const double x = frame.x + static_cast<double>(place) * frame.width;
    if (place > 0 && place < 1) {
        insertionRect_ = { x - 1.25, frame.y + kHeaderHeight, 2.5, frame.height - kHeaderHeight - kFooterHeight };
        return;
    }
    insertionRect_ = { x - 2.5, frame.y - 1, 5, frame.height + 2 };
    if (insertionRect_.x + insertionRect_.width > contentWidth_)
        insertionRect_.x -= 2;
    else if (insertionRect_.x < 0)
        insertionRect_.x += 2;
}

void ORPPatternEditor::scrollInsertionPointToVisible()
{
    if (!insertPatti_)
        return;
    const ORPRect& frame = insertPatti_->frame();
    view_.scrollRectToVisible(
        { insertionRect_.x - 9, frame.y - 9, insertionRect_.width + 18, frame.height + 18 });
}

void ORPPatternEditor::postInsertionPointMoved()
{
    rp::NotificationCenter::defaultCenter().post(
        ORPPatternEditorInsertionPointMovedNotification, static_cast<const ORPPlayerEditor*>(this));
}

void ORPPatternEditor::moveInsertionPointToPlace(float place, const ORPPatternInstancePtr& instance)
{
    if (isPlaying() && hasSelection())
        stopPlaying();
    deselectAll();
    wholeBarSelection_ = false;
    view_.redrawRect(insertionRect_);
    setInsertAtPlace(place, instance);
    anchorPatti_ = insertPatti_;
    anchorPlace_ = insertPlace_;
    scrollInsertionPointToVisible();
    insertionBlink_ = true;
    view_.redrawRect(insertionRect_);
    postInsertionPointMoved();
}

// --- Model notifications ---

void ORPPatternEditor::recomputeCueTimes()
{
    float time = 0;
    for (const auto& instance : instances_) {
        if (instance->barNumberInSectionMarker() == 1) {
            const auto marker = instance->sectionMarker();
            time = marker ? marker->cueTime() : 0;
        }
        instance->setBarNumberInSong(instance->barNumberInSong(), instance->barNumberInSectionMarker(), time);
        time += instance->pattern()->duration();
    }
}

void ORPPatternEditor::handleNotification(const rp::Notification& note)
{
    const auto* info = std::any_cast<ORPUserInfo>(&note.userInfo);
    auto infoEntry = [&](const char* key) -> const std::any* {
        if (!info)
            return nullptr;
        auto found = info->find(key);
        return found == info->end() ? nullptr : &found->second;
    };
    if (note.name == ORPPatternEventsModifiedNotification) {
        ORPEventPtr event;
        for (const char* key : { "event+", "event-", "event~" }) {
            if (const auto* entry = infoEntry(key)) {
                if (const auto* value = std::any_cast<ORPEventPtr>(entry))
                    event = *value;
                break;
            }
        }
        if (!event) {
            // A change the notification does not name: redraw every visible bar of the pattern.
            for (const auto& instance : instancesIntersecting(view_.visibleRect()))
                if (instance->pattern().get() == note.object)
                    view_.redrawRect(instance->frame());
            return;
        }
        for (const auto& instance : instancesIntersecting(view_.visibleRect())) {
            if (instance->pattern().get() != note.object)
                continue;
            const int64_t n = numDivsForPattern(*instance->pattern());
            const int64_t div = std::clamp<int64_t>(divisionAt(event->whenRatio(), n), 0, n - 1);
            view_.redrawRect(gridColumnRect(instance->frame(), div));
        }
    } else if (note.name == ORPPatternGeometryChangedNotification) {
        adjustLayout();
        deselectAll();
    } else if (note.name == ORPSectionDurationChangedNotification) {
        recomputeCueTimes();
        view_.redrawAll();
    } else if (note.name == ORPSectionPatternsAddedOrRemovedNotification
        || note.name == ORPSectionMarkerSectionChangedNotification) {
        rebuildInstances();
        adjustLayout();
        const auto* added = infoEntry("patterns+");
        if (added) {
            wholeBarSelection_ = true;
            if (const auto* patterns = std::any_cast<std::vector<ORPPatternPtr>>(added)) {
                for (const auto& instance : instances_)
                    if (std::find(patterns->begin(), patterns->end(), instance->pattern()) != patterns->end())
                        setSelected(instance, true, 0.5f, 1.0f);
            }
        } else if (infoEntry("patterns-")) {
            deselectAll();
        }
    } else if (note.name == ORPSectionRenamedNotification || note.name == ORPSectionMarkerRenamedNotification) {
        view_.redrawAll();
    } else {
        rp::logf("unhandled notification named %s; object %p", note.name.c_str(), note.object);
    }
}
