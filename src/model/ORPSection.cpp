#include "model/ORPSection.h"

#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "foundation/NotificationQueue.h"
#include "foundation/UndoManager.h"
#include "model/ORPSong.h"

#include <algorithm>
#include <iterator>

ORPSection::ORPSection()
    : name_(rp::localized("new section"))
{
}

ORPSection::~ORPSection()
{
    rp::NotificationCenter::defaultCenter().removeObserver(this);
    if (auto* manager = undoManager())
        manager->removeAllActionsWithTarget(this);
}

ORPSectionPtr ORPSection::copy() const
{
    auto result = section();
    std::vector<ORPPatternPtr> copies;
    for (const auto& pattern : patterns_)
        copies.push_back(pattern->copy());
    for (const auto& pattern : copies)
        result->adopt(pattern);
    result->patterns_ = std::move(copies);
    result->name_ = name_;
    result->duration_ = duration_;
    return result;
}

rp::UndoManager* ORPSection::undoManager() const
{
    auto song = parentSong();
    return song ? song->undoManager() : nullptr;
}

void ORPSection::registerUndo(std::function<void(ORPSection&)> inverse)
{
    rp::UndoManager* manager = undoManager();
    if (!manager)
        return;
    std::weak_ptr<ORPSection> weakSelf = self();
    manager->registerUndo(this, [weakSelf, inverse = std::move(inverse)] {
        if (auto strong = weakSelf.lock())
            inverse(*strong);
    });
}

void ORPSection::setName(const std::string& name)
{
    std::string old = name_;
    registerUndo([old](ORPSection& section) { section.setName(old); });
    name_ = name;
    rp::NotificationCenter::defaultCenter().post(ORPSectionRenamedNotification, this);
}

void ORPSection::updateOverview()
{
    double total = 0;
    for (const auto& pattern : patterns_)
        total += pattern->duration();
    duration_ = static_cast<float>(total);
}

void ORPSection::adopt(const ORPPatternPtr& pattern)
{
    pattern->setParentSection(self());
    rp::NotificationCenter::defaultCenter().addObserver(
        this, {}, pattern.get(), [this](const rp::Notification& note) { handleNotification(note); });
}

void ORPSection::insertPatterns(const std::vector<ORPPatternPtr>& patterns, size_t index)
{
    // Equivalent to inserting each at the index from the last to the first, without quadratic moves.
    std::vector<ORPPatternPtr> present;
    std::copy_if(
        patterns.begin(), patterns.end(), std::back_inserter(present), [](const auto& p) { return !!p; });
    patterns_.insert(patterns_.begin() + static_cast<std::ptrdiff_t>(std::min(index, patterns_.size())),
        present.begin(), present.end());
    finishInsertion(patterns);
}

void ORPSection::insertPatterns(
    const std::vector<ORPPatternPtr>& patterns, const std::vector<size_t>& indices)
{
    size_t count = std::min(patterns.size(), indices.size());
    std::vector<ORPPatternPtr> inserted(
        patterns.begin(), patterns.begin() + static_cast<std::ptrdiff_t>(count));
    for (size_t i = count; i-- > 0;) {
        if (!inserted[i])
            continue;
        size_t at = std::min(indices[i], patterns_.size());
        patterns_.insert(patterns_.begin() + static_cast<std::ptrdiff_t>(at), inserted[i]);
    }
    finishInsertion(inserted);
}

void ORPSection::finishInsertion(const std::vector<ORPPatternPtr>& patterns)
{
    std::vector<ORPPatternPtr> inserted;
    for (const auto& pattern : patterns) {
        if (!pattern)
            continue;
        adopt(pattern);
        inserted.push_back(pattern);
    }
    registerUndo([inserted](ORPSection& section) { section.removePatterns(inserted); });
    updateOverview();
    rp::NotificationCenter::defaultCenter().post(
        ORPSectionPatternsAddedOrRemovedNotification, this, ORPUserInfo { { "patterns+", inserted } });
}

void ORPSection::removePatterns(const std::vector<ORPPatternPtr>& requested)
{
    const std::vector<ORPPatternPtr> patterns = requested; // may be the live list itself
    std::vector<ORPPatternPtr> removed;
    std::vector<size_t> indices;
    for (const auto& pattern : patterns) {
        if (!pattern)
            continue;
        rp::NotificationCenter::defaultCenter().removeObserver(this, {}, pattern.get());
        auto found = std::find(patterns_.begin(), patterns_.end(), pattern);
        if (found == patterns_.end())
            continue;
        indices.push_back(static_cast<size_t>(found - patterns_.begin()));
        pattern->setParentSection({});
        patterns_.erase(found);
        removed.push_back(pattern);
    }
    // Only what was removed comes back, each at its recorded index.
    registerUndo([removed, indices](ORPSection& section) { section.insertPatterns(removed, indices); });
    updateOverview();
    rp::NotificationCenter::defaultCenter().post(
        ORPSectionPatternsAddedOrRemovedNotification, this, ORPUserInfo { { "patterns-", removed } });
}

void ORPSection::handleNotification(const rp::Notification& notification)
{
    if (notification.name != ORPPatternGeometryChangedNotification
        && notification.name != ORPPatternTempoChangedNotification)
        return;
    updateOverview();
    rp::NotificationQueue::defaultQueue().enqueueNotification(
        rp::Notification { ORPSectionDurationChangedNotification, this, {} },
        rp::NotificationQueue::CoalesceOnName | rp::NotificationQueue::CoalesceOnSender);
}
