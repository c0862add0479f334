// The pattern editor: selection, affected bars and zoom.

#include "editor/ORPPatternEditor.h"
#include "foundation/NotificationQueue.h"
#include "player/ORPPlayer.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace {

ORPRect unionRect(const ORPRect& a, const ORPRect& b)
{
    const double x = std::min(a.x, b.x);
    const double y = std::min(a.y, b.y);
    return { x, y, std::max(a.x + a.width, b.x + b.width) - x, std::max(a.y + a.height, b.y + b.height) - y };
}

int64_t columnOf(float place, int64_t n)
{
    return static_cast<int64_t>(std::floor(static_cast<double>(place) * static_cast<double>(n) + 1e-4));
}

} // namespace

void ORPPatternEditor::setPlayer(std::shared_ptr<ORPPlayer> player)
{
    if (player_ && player_ != player)
        player_->setPatternEditor(nullptr);
    player_ = std::move(player);
    if (player_)
        player_->setPatternEditor(weak_from_this().lock());
}

int ORPPatternEditor::patternInstanceIsDivSelected(const ORPPatternInstance& instance, int16_t div) const
{
    const float n = numDivsForPattern(*instance.pattern());
    return instance.selection()->selectionFrom(static_cast<float>(div) / n, static_cast<float>(div + 1) / n);
}

int ORPPatternEditor::patternInstanceIsSelected(const ORPPatternInstance& instance, float from, float to) const
{
    return instance.selection()->selectionFrom(from, to);
}

void ORPPatternEditor::enqueueSelectionChanged()
{
    rp::NotificationQueue::defaultQueue().enqueueNotification(
        { ORPPatternEditorPatternSelectionChangedNotification, static_cast<const ORPPlayerEditor*>(this), {} },
        rp::NotificationQueue::CoalesceOnName | rp::NotificationQueue::CoalesceOnSender);
}

void ORPPatternEditor::setSelected(const ORPPatternInstancePtr& instance, bool flag, float from, float to)
{
    if (!instance || !(from < to))
        return;
    if (isPlaying() && hasSelection())
        stopPlaying();
    auto& selection = *instance->selection();
    const int previous = selection.selectionFrom(from, to);
    selection.select(flag, from, to);
    // selected_ is sorted by bar number: find the instance (or where it belongs) by binary search.
    auto byBar = [](const ORPPatternInstancePtr& a, const ORPPatternInstancePtr& b) { return a->barNumberCompare(*b) < 0; };
    auto place = std::lower_bound(selected_.begin(), selected_.end(), instance, byBar);
    auto listed = place;
    while (listed != selected_.end() && *listed != instance && !byBar(instance, *listed))
        ++listed;
    const bool isListed = listed != selected_.end() && *listed == instance;
    if (!flag) {
        if (!selection.anySelection() && isListed)
            selected_.erase(listed);
    } else if (!isListed) {
        selected_.insert(std::upper_bound(selected_.begin(), selected_.end(), instance, byBar), instance);
    }
    const bool shows = (previous == 0 && flag) || previous == 2 || (previous == 1 && !flag);
    if (shows) {
        const ORPRect& frame = instance->frame();
        if (wholeBarSelection_) {
            view_.redrawRect(frame);
        } else {
            const int64_t n = numDivsForPattern(*instance->pattern());
            view_.redrawRect(
                unionRect(gridColumnRect(frame, columnOf(from, n)), gridColumnRect(frame, columnOf(to, n))));
        }
        enqueueSelectionChanged();
    }
    enableInsertionPointBlink(true);
}

void ORPPatternEditor::extendSelectionToPatternInstance(
    const ORPPatternInstancePtr& target, float place0, float place1)
{
    if (!target || !anchorPatti_)
        return;
    const int a = anchorPatti_->barNumberInSong();
    const int b = target->barNumberInSong();
    const bool backwards = b < a || (b == a && place0 < anchorPlace_);
    // Work on a copy: selecting changes selected_, not instances_, but stay safe against re-entry.
    const auto instances = instances_;
    if (!backwards) {
        for (const auto& instance : instances) {
            const int k = instance->barNumberInSong();
            if (a <= k && k <= b)
                setSelected(instance, true, k == a ? anchorPlace_ : 0.0f, k == b ? place1 : 1.0f);
            if (k >= b)
                setSelected(instance, false, k == b ? place1 : 0.0f, 1.0f);
        }
    } else {
        for (const auto& instance : instances) {
            const int k = instance->barNumberInSong();
            if (k <= b)
                setSelected(instance, false, 0.0f, k == b ? place0 : 1.0f);
            if (b <= k && k <= a)
                setSelected(instance, true, k == b ? place0 : 0.0f, k == a ? anchorPlace_ : 1.0f);
            if (k == a)
                break;
        }
    }
    setInsertAtPlace(backwards ? place0 : place1, target);
    scrollInsertionPointToVisible();
}

void ORPPatternEditor::selectAll()
{
    selected_.clear();
    wholeBarSelection_ = true;
    for (const auto& instance : instances_)
        setSelected(instance, true, 0.0f, 1.0f);
    if (!instances_.empty()) {
        setInsertAtPlace(1.0f, instances_.back());
        anchorPatti_ = insertPatti_;
        anchorPlace_ = insertPlace_;
    }
}

void ORPPatternEditor::deselectAll()
{
    // From the last: each removal is then at the end of the list.
    while (!selected_.empty()) {
        const auto last = selected_.back();
        setSelected(last, false, 0.0f, 1.0f);
        // An entry whose selection was already empty leaves the list too.
        if (!selected_.empty() && selected_.back() == last)
            selected_.pop_back();
    }
}

std::vector<ORPPatternInstancePtr> ORPPatternEditor::affectedPatternInstances() const
{
    if (instances_.empty())
        return {};
    if (!selected_.empty())
        return selected_;
    if (!insertPatti_)
        return {};
    if (insertPlace_ >= 0 && insertPlace_ < 1)
        return { insertPatti_ };
    const auto index = insertionPointIndex();
    if (index && *index + 1 < instances_.size())
        return { instances_[*index + 1] };
    return { insertPatti_ };
}

void ORPPatternEditor::setNeedsDisplayInSelectedRegions()
{
    for (const auto& instance : selected_)
        view_.redrawRect(instance->frame());
}

void ORPPatternEditor::performZoom(bool zoomIn, bool affectedOnly)
{
    std::vector<ORPPatternPtr> patterns;
    std::set<const ORPPattern*> seen;
    auto add = [&](const ORPPatternPtr& pattern) {
        if (pattern && seen.insert(pattern.get()).second)
            patterns.push_back(pattern);
    };
    if (affectedOnly) {
        for (const auto& instance : affectedPatternInstances())
            add(instance->pattern());
    } else {
        const auto sections = allSections_ ? allSections_() : std::vector<ORPSectionPtr> {};
        if (sections.empty()) {
            view_.beep();
            return;
        }
        for (const auto& section : sections)
            if (section)
                for (const auto& pattern : section->patterns())
                    add(pattern);
    }
    bool changed = false;
    for (const auto& pattern : patterns) {
        const int level = pattern->zoomLevel() + (zoomIn ? 1 : -1);
        changed = pattern->setZoomLevel(static_cast<int16_t>(level)) || changed;
    }
    if (!changed) {
        view_.beep();
        return;
    }
    adjustLayout();
}
