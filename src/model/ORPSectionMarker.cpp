#include "model/ORPSectionMarker.h"

#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UndoManager.h"

ORPSectionMarker::ORPSectionMarker()
    : name_(rp::localized("unnamed"))
{
}

ORPSectionMarker::~ORPSectionMarker()
{
    if (auto* manager = undoManager())
        manager->removeAllActionsWithTarget(this);
}

ORPSectionMarkerPtr ORPSectionMarker::copy() const
{
    auto result = sectionMarker();
    result->section_ = section_;
    result->name_ = name_;
    result->cueTime_ = cueTime_;
    result->firstBarNumber_ = firstBarNumber_;
    result->numberOfTimes_ = numberOfTimes_;
    return result;
}

rp::UndoManager* ORPSectionMarker::undoManager() const
{
    return section_ ? section_->undoManager() : nullptr;
}

void ORPSectionMarker::registerUndo(std::function<void(ORPSectionMarker&)> inverse, rp::UndoManager* manager)
{
    if (!manager)
        manager = undoManager();
    if (!manager)
        return;
    std::weak_ptr<ORPSectionMarker> weakSelf = std::static_pointer_cast<ORPSectionMarker>(shared_from_this());
    manager->registerUndo(this, [weakSelf, inverse = std::move(inverse)] {
        if (auto strong = weakSelf.lock())
            inverse(*strong);
    });
}

void ORPSectionMarker::setSection(const ORPSectionPtr& section)
{
    ORPSectionPtr old = section_;
    // An entry without a section yet (or with one outside any song) reaches the undo manager
    // through the section it is given.
    registerUndo([old](ORPSectionMarker& marker) { marker.setSection(old); },
        undoManager() ? undoManager() : (section ? section->undoManager() : nullptr));
    section_ = section;
    rp::NotificationCenter::defaultCenter().post(ORPSectionMarkerSectionChangedNotification, this);
}

void ORPSectionMarker::setName(const std::string& name)
{
    std::string old = name_;
    registerUndo([old](ORPSectionMarker& marker) { marker.setName(old); });
    name_ = name;
    rp::NotificationCenter::defaultCenter().post(ORPSectionMarkerRenamedNotification, this);
}

void ORPSectionMarker::setNumberOfTimes(int16_t times)
{
    if (times < 0)
        return;
    int16_t old = numberOfTimes_;
    registerUndo([old](ORPSectionMarker& marker) { marker.setNumberOfTimes(old); });
    numberOfTimes_ = times;
    rp::NotificationCenter::defaultCenter().post(ORPSectionMarkerSectionChangedNotification, this);
}

void ORPSectionMarker::setCueTime(float cueTime, uint32_t firstBarNumber)
{
    cueTime_ = cueTime;
    firstBarNumber_ = firstBarNumber;
}
