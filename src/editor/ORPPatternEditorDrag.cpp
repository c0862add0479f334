// The pattern editor: dragging whole bars, within the editor or between songs.

#include "editor/ORPPatternEditor.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/UndoManager.h"

#include <algorithm>
#include <set>

// --- Source ---

ORPBarDragImage ORPPatternEditor::barDragImage(ORPPoint point) const
{
    ORPBarDragImage image;
    if (selected_.empty())
        return image;
    auto clicked = instanceAt(point);
    if (!clicked || std::find(selected_.begin(), selected_.end(), clicked) == selected_.end())
        clicked = selected_.back();
    const size_t count = std::min(selected_.size(), ORPBarDragImage::kMaximumBars);
    image.bars.assign(selected_.end() - static_cast<ptrdiff_t>(count), selected_.end());
    const double extra = ORPBarDragImage::kStep * static_cast<double>(count - 1);
    const ORPRect& frame = clicked->frame();
    image.width = frame.width + extra;
    image.height = frame.height;
    image.x = frame.x - extra;
    image.y = frame.y;
    if (selected_.size() > 1) {
        image.label = rp::localizedFormat("%lu bars", { rp::FormatArgument(static_cast<uint64_t>(selected_.size())) });
        image.labelBand = { 4, image.height / 2 - 14, image.width - 8, 32 };
    }
    return image;
}

void ORPPatternEditor::barDragEnded()
{
    resumePointerAfterDrag();
}

void ORPPatternEditor::resumePointerAfterDrag()
{
    if (!view_.windowIsKey())
        return;
    mouseOperation_ = kOpPlace;
    lastMousePoint_ = {};
    view_.setMousePositionTimer(true);
    enableInsertionPointBlink(true);
}

// --- Destination ---

uint64_t ORPPatternEditor::barDragEntered()
{
    enableInsertionPointBlink(false);
    insertionBlink_ = false;
    view_.redrawRect(insertionRect_);
    view_.setMousePositionTimer(false);
    return ORPDragOperationNone;
}

uint64_t ORPPatternEditor::barDragUpdated(ORPPoint point, bool fromThisEditor, uint64_t sourceOperations)
{
    size_t index = 0;
    std::optional<double> edge;
    const ORPRect* edgeFrame = nullptr;
    for (const auto& instance : instances_) {
        const ORPRect& frame = instance->frame();
        if (point.y < frame.y + frame.height && point.x < frame.x + frame.width / 2) {
            edge = frame.x;
            edgeFrame = &frame;
            break;
        }
        if (point.y < frame.y) {
            // After the previous bar, at the end of its row (before the first bar: at its start).
            if (index > 0) {
                const ORPRect& previous = instances_[index - 1]->frame();
                edge = previous.x + previous.width;
                edgeFrame = &previous;
            } else {
                edge = frame.x;
                edgeFrame = &frame;
            }
            break;
        }
        ++index;
    }
    if (!edgeFrame && !instances_.empty() && index == instances_.size()) {
        edgeFrame = &instances_.back()->frame();
        edge = edgeFrame->x + edgeFrame->width;
    }
    dropIndex_ = index;

    ORPRect marker;
    if (edgeFrame) {
        marker = { *edge - 2.5, edgeFrame->y - 1, 5, edgeFrame->height + 2 };
        if (marker.x + marker.width > contentWidth_)
            marker.x -= 2;
        else if (marker.x < 0)
            marker.x += 2;
    }
    if (!(marker == dropMarkerRect_)) {
        view_.redrawRect(dropMarkerRect_);
        dropMarkerRect_ = marker;
        view_.redrawRect(dropMarkerRect_);
    }

    if (fromThisEditor && (sourceOperations & ORPDragOperationMove))
        return ORPDragOperationMove;
    if (sourceOperations & ORPDragOperationCopy)
        return ORPDragOperationCopy;
    return ORPDragOperationNone;
}

void ORPPatternEditor::barDragExited()
{
    view_.redrawRect(dropMarkerRect_);
    dropMarkerRect_ = {};
    resumePointerAfterDrag();
}

bool ORPPatternEditor::prepareForBarDrop(bool fromThisEditor, uint64_t operation)
{
    barDragExited();
    if (!fromThisEditor || operation != ORPDragOperationMove || selected_.empty())
        return true;
    std::vector<size_t> indices;
    for (const auto& instance : selected_) {
        const auto found = indexOf_.find(instance.get());
        if (found == indexOf_.end())
            return true;
        indices.push_back(found->second);
    }
    std::sort(indices.begin(), indices.end());
    const bool oneRun = indices.back() - indices.front() + 1 == indices.size();
    // Dropping a run of bars into itself (either edge included) would move nothing.
    return !(oneRun && dropIndex_ >= indices.front() && dropIndex_ <= indices.back() + 1);
}

bool ORPPatternEditor::performBarDrop(
    bool fromThisEditor, uint64_t operation, std::span<const uint8_t> barsData, rp::Error* error)
{
    if (operation != ORPDragOperationCopy && operation != ORPDragOperationMove) {
        rp::logf("ORPPatternEditor: inconsistent drag operation %lx specified", static_cast<unsigned long>(operation));
        return false;
    }
    std::vector<ORPPatternPtr> patterns;
    if (fromThisEditor) {
        for (const auto& instance : selected_)
            patterns.push_back(instance->pattern()->copy());
    } else {
        const auto instances = instancesFromPasteboardData(barsData, error);
        if (instances.empty())
            return false;
        std::set<const ORPPattern*> seen;
        for (const auto& instance : instances) {
            const auto& pattern = instance->pattern();
            patterns.push_back(seen.insert(pattern.get()).second ? pattern : pattern->copy());
        }
    }
    if (patterns.empty())
        return false;

    ORPSectionPtr section;
    size_t index = 0;
    if (dropIndex_ < instances_.size()) {
        const auto& pattern = instances_[dropIndex_]->pattern();
        section = pattern->parentSection();
        if (section) {
            const auto& list = section->patterns();
            index = static_cast<size_t>(std::find(list.begin(), list.end(), pattern) - list.begin());
        }
    } else if (!objectList_.empty()) {
        const auto& last = objectList_.back();
        if (const auto* direct = std::get_if<ORPSectionPtr>(&last))
            section = *direct;
        else if (const auto& marker = std::get<ORPSectionMarkerPtr>(last))
            section = marker->section();
        if (section)
            index = section->patterns().size();
    }
    if (!section)
        return false;

    rp::UndoManager* undo = section->undoManager();
    if (undo)
        undo->beginUndoGrouping();
    auto finish = [&](bool done) {
        if (undo) {
            undo->endUndoGrouping();
            if (done)
                undo->setActionName(rp::localized("Drag Bars"));
        }
        return done;
    };
    if (!fromThisEditor && !reconcileForPaste({ patterns.begin(), patterns.end() }, "Drag Bars"))
        return finish(false);
    if (fromThisEditor && operation == ORPDragOperationMove) {
        // The moved bars leave first: those before the target shift it down.
        std::set<const ORPPattern*> before;
        const auto& list = section->patterns();
        for (const auto& instance : selected_) {
            const auto at = std::find(list.begin(), list.end(), instance->pattern());
            if (at != list.end() && static_cast<size_t>(at - list.begin()) < index)
                before.insert(instance->pattern().get());
        }
        index -= before.size();
        // Moving takes whole bars whatever the selection mode.
        wholeBarSelection_ = true;
        clear();
    }
    deselectAll();
    section->insertPatterns(patterns, index);
    return finish(true);
}
