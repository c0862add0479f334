// The pattern editor: the pointer's hover state, clicks and drags, the context menu, the velocity
// pop-up and the insertion point's blink.

#include "editor/ORPPatternEditor.h"
#include "foundation/Localization.h"
#include "foundation/UndoManager.h"
#include "player/ORPPlayer.h"

#include <cmath>

namespace {

bool contains(const ORPRect& rect, ORPPoint point)
{
    return point.x >= rect.x && point.x < rect.x + rect.width && point.y >= rect.y && point.y < rect.y + rect.height;
}

uint64_t modifierBits(const ORPEditorModifiers& modifiers)
{
    return (modifiers.shift ? 1u : 0u) | (modifiers.command ? 2u : 0u) | (modifiers.option ? 4u : 0u)
        | (modifiers.control ? 8u : 0u);
}

// No real modifier state has this bit: the next hover update sees a change.
constexpr uint64_t kForcedUpdateBit = uint64_t { 1 } << 32;

} // namespace

// --- Velocity pop-up ---

void ORPEventMenuController::run(const ORPEventPtr& event, const ORPPatternPtr& pattern)
{
    finish();
    event_ = event;
    pattern_ = pattern;
    sliderValue_ = event ? event->velocity() : 0.0f;
    fieldText_ = std::to_string(static_cast<long>(std::trunc(sliderValue_ * 10.0f)));
}

void ORPEventMenuController::velocityChanged(float value)
{
    sliderValue_ = value;
    fieldText_ = std::to_string(static_cast<long>(std::trunc(value * 10.0f)));
    if (!event_ || !pattern_)
        return;
    auto* undo = pattern_->undoManager();
    if (undo && !openGroup_) {
        undo->beginUndoGrouping();
        openGroup_ = undo;
    }
    pattern_->changeEvent(event_, event_->drum(), value);
    if (undo)
        undo->setActionName(rp::localized("Velocity Change"));
}

void ORPEventMenuController::finish()
{
    if (openGroup_) {
        openGroup_->setActionName(rp::localized("Velocity Change"));
        openGroup_->endUndoGrouping();
        openGroup_ = nullptr;
    }
}

// --- Hover ---

void ORPPatternEditor::setCursorIfNeeded(ORPEditorCursor cursor, const ORPDrumPtr& drum)
{
    const ORPDrumPtr shown = cursor == ORPEditorCursor::Drum ? drum : nullptr;
    if (cursorSet_ && cursor_ == cursor && cursorDrum_ == shown)
        return;
    cursorSet_ = true;
    cursor_ = cursor;
    cursorDrum_ = shown;
    view_.setCursor(cursor, shown);
}

void ORPPatternEditor::redrawHoverColumn(const ORPPatternInstancePtr& instance, int16_t div)
{
    if (instance && div >= 0)
        view_.redrawRect(gridColumnRect(instance->frame(), div));
}

bool ORPPatternEditor::hoverUpdate(const ORPMouseInput& input)
{
    const ORPPoint p = input.point;
    const uint64_t modifiers = modifierBits(input.modifiers);
    const ORPRect visible = view_.visibleRect();
    if ((!(p == lastMousePoint_) || modifiers != lastModifiers_)
        && (contains(visible, lastMousePoint_) || contains(visible, p)) && view_.floatingPanelContains(p)) {
        setCursorIfNeeded(ORPEditorCursor::Arrow, nullptr);
        return false;
    }
    lastMousePoint_ = p;
    lastModifiers_ = modifiers;

    const auto oldPatti = currPatti_.lock();
    const int16_t oldDiv = currDiv_;
    const int16_t oldGrp = currGrp_;
    const uint16_t oldOperation = mouseOperation_;
    hitTest(p);
    const auto patti = currPatti_.lock();

    if (mouseOperation_ == kOpPainting) {
        if (currDrum_)
            currGrp_ = static_cast<int16_t>(gridPositionForDrum(*currDrum_));
        setCursorIfNeeded(ORPEditorCursor::Drum, currDrum_);
    } else if (mouseOperation_ == kOpErasing) {
        setCursorIfNeeded(ORPEditorCursor::Pencil, nullptr);
    } else if (mouseOperation_ == kOpSelecting) {
        // The cursor stays as the drag began.
    } else if (!contains(visible, p)) {
        mouseOperation_ = kOpPlace;
        setCursorIfNeeded(ORPEditorCursor::Arrow, nullptr);
    } else if (input.modifiers.control) {
        mouseOperation_ = kOpMenu;
        setCursorIfNeeded(ORPEditorCursor::PointingHand, nullptr);
    } else if (input.button == ORPMouseInput::Button::Right) {
        // A right-button event only moves the hit-test.
    } else if (patti && currGrp_ >= 0 && currDiv_ >= 0) {
        if (input.modifiers.option) {
            mouseOperation_ = kOpErase;
            const bool shows = eventShownInRow(*patti->pattern(), currPlace_, currGrp_) != nullptr;
            setCursorIfNeeded(shows ? ORPEditorCursor::Pencil : ORPEditorCursor::PencilGrey, nullptr);
        } else {
            mouseOperation_ = kOpPaint;
            editingMulti_ = input.modifiers.command;
            currDrum_ = editingMulti_ ? pickerDefaultDrumForGroup(currGrp_) : pickerDefaultDrum();
            if (currDrum_)
                currGrp_ = static_cast<int16_t>(gridPositionForDrum(*currDrum_));
            setCursorIfNeeded(currDrum_ ? ORPEditorCursor::Drum : ORPEditorCursor::Arrow, currDrum_);
        }
    } else if (patti && currGrp_ == -1 && currDiv_ >= 0) {
        const bool divisionStrip = p.y > patti->frame().y + kTitleStripHeight;
        mouseOperation_ = divisionStrip ? kOpSelectDivisions : kOpSelectBars;
        setCursorIfNeeded(divisionStrip ? ORPEditorCursor::Triangle : ORPEditorCursor::Arrow, nullptr);
    } else {
        mouseOperation_ = kOpPlace;
        setCursorIfNeeded(ORPEditorCursor::IBeam, nullptr);
    }

    if (oldPatti == patti && oldDiv == currDiv_ && oldGrp == currGrp_ && oldOperation == mouseOperation_)
        return false;
    redrawHoverColumn(oldPatti, oldDiv);
    redrawHoverColumn(patti, currDiv_);
    return true;
}

bool ORPPatternEditor::acceptsFirstMouse(const ORPMouseInput& input, bool applicationIsActive)
{
    if (!applicationIsActive)
        return false;
    hoverUpdate(input);
    return currGrp_ == -1 && currPatti_.lock() != nullptr;
}

// --- Clicks and drags ---

rp::UndoManager* ORPPatternEditor::beginDragGroup(const ORPPattern& pattern)
{
    if (!dragUndo_) {
        dragUndo_ = pattern.undoManager();
        if (dragUndo_)
            dragUndo_->beginUndoGrouping();
    }
    return dragUndo_;
}

void ORPPatternEditor::mouseDown(const ORPMouseInput& input)
{
    if (input.modifiers.control) {
        rightMouseDown(input);
        return;
    }
    const auto patti = currPatti_.lock();
    const bool doubleClick = input.clickCount >= 2;
    doubleClickDrag_ = doubleClick;
    switch (mouseOperation_) {
    case kOpPlace: {
        mouseOperation_ = kOpSelecting;
        auto target = patti;
        float place = currPlace_;
        if (!target) {
            place = 1.0f;
            for (auto it = instances_.rbegin(); it != instances_.rend(); ++it) {
                if ((*it)->frame().y <= input.point.y) {
                    target = *it;
                    break;
                }
            }
        }
        if (!target)
            break;
        const bool wholeBar = doubleClick && patti;
        const float p0 = wholeBar ? 0.0f : place;
        const float p1 = wholeBar ? 1.0f : place;
        if (input.modifiers.shift) {
            extendSelectionToPatternInstance(target, p0, p1);
        } else if (wholeBar) {
            deselectAll();
            setSelected(target, true, 0.0f, 1.0f);
        } else {
            moveInsertionPointToPlace(place, target);
        }
        break;
    }
    case kOpSelectDivisions:
    case kOpSelectBars: {
        const bool wholeBarMode = mouseOperation_ == kOpSelectBars;
        mouseOperation_ = kOpSelecting;
        if (!patti)
            break;
        if (wholeBarMode != wholeBarSelection_) {
            setNeedsDisplayInSelectedRegions();
            deselectAll();
            wholeBarSelection_ = wholeBarMode;
        }
        const float n = numDivsForPattern(*patti->pattern());
        const bool column = !wholeBarSelection_ && !doubleClick && currDiv_ >= 0;
        const float from = column ? static_cast<float>(currDiv_) / n : 0.0f;
        const float to = column ? static_cast<float>(currDiv_ + 1) / n : 1.0f;
        if (input.modifiers.shift) {
            extendSelectionToPatternInstance(patti, from, to);
            break;
        }
        if (!input.modifiers.command) {
            if (!(wholeBarSelection_ && patti->selection()->anySelection())) {
                deselectAll();
                setSelected(patti, true, from, to);
            }
        } else if (!wholeBarSelection_) {
            setSelected(patti, patternInstanceIsSelected(*patti, from, to) != 1, from, to);
        } else {
            setSelected(patti, !patti->selection()->anySelection(), 0.0f, 1.0f);
        }
        setInsertAtPlace(from, patti);
        anchorPatti_ = insertPatti_;
        anchorPlace_ = insertPlace_;
        break;
    }
    case kOpPaint: {
        mouseOperation_ = kOpPainting;
        if (!patti || !currDrum_)
            break;
        const auto& pattern = patti->pattern();
        auto* undo = beginDragGroup(*pattern);
        ORPEventPtr existing;
        for (const auto& event : pattern->eventsAtPlace(currPlace_)) {
            if (event->drum() == currDrum_) {
                existing = event;
                break;
            }
        }
        if (existing) {
            addingMode_ = false;
            pattern->removeEvent(existing);
            if (undo)
                undo->setActionName(rp::localized("Erase"));
        } else {
            addingMode_ = true;
            const auto event = pattern->addEventWithDrum(currDrum_, defaultVelocity(), currPlace_);
            if (event && player_)
                player_->playDrumSound(currDrum_, event->velocity());
            if (undo)
                undo->setActionName(currDrum_->typeName());
        }
        break;
    }
    case kOpErase: {
        mouseOperation_ = kOpErasing;
        if (!patti)
            break;
        const auto& pattern = patti->pattern();
        if (const auto event = eventShownInRow(*pattern, currPlace_, currGrp_)) {
            beginDragGroup(*pattern);
            pattern->removeEvent(event);
        }
        break;
    }
    default:
        break;
    }
    view_.setAutoScrollTimer(true);
}

void ORPPatternEditor::selectingDragStep()
{
    const auto patti = currPatti_.lock();
    if (!patti)
        return;
    float from = currPlace_;
    float to = currPlace_;
    if (doubleClickDrag_ || wholeBarSelection_) {
        from = 0.0f;
        to = 1.0f;
    } else if (currDiv_ >= 0) {
        const float n = numDivsForPattern(*patti->pattern());
        from = static_cast<float>(currDiv_) / n;
        to = static_cast<float>(currDiv_ + 1) / n;
    }
    extendSelectionToPatternInstance(patti, from, to);
    setInsertAtPlace(from, patti);
}

void ORPPatternEditor::mouseDragged(const ORPMouseInput& input)
{
    if (mouseOperation_ == kOpSelecting && wholeBarSelection_) {
        view_.dragSelectedBars(input.point);
        view_.setAutoScrollTimer(false);
        hoverUpdate(input);
        selectingDragStep();
        return;
    }
    if (!hoverUpdate(input))
        return;
    const auto patti = currPatti_.lock();
    if (mouseOperation_ == kOpSelecting) {
        selectingDragStep();
        return;
    }
    if (!patti || currGrp_ < 0 || currDiv_ < 0)
        return;
    const auto& pattern = patti->pattern();
    if (mouseOperation_ == kOpErasing) {
        if (const auto event = eventShownInRow(*pattern, currPlace_, currGrp_)) {
            beginDragGroup(*pattern);
            pattern->removeEvent(event);
        }
    } else if (mouseOperation_ == kOpPainting && currDrum_) {
        if (addingMode_) {
            const auto event = pattern->addEventWithDrum(currDrum_, defaultVelocity(), currPlace_);
            if (event && player_)
                player_->playDrumSound(currDrum_, event->velocity());
        } else {
            for (const auto& event : pattern->eventsAtPlace(currPlace_)) {
                if (event->drum() == currDrum_) {
                    pattern->removeEvent(event);
                    break;
                }
            }
        }
    }
}

void ORPPatternEditor::mouseUp(const ORPMouseInput& input)
{
    (void)input;
    if (!view_.windowIsKey())
        view_.makeWindowKey();
    if (dragUndo_) {
        if (mouseOperation_ == kOpErasing)
            dragUndo_->setActionName(rp::localized("Erase"));
        dragUndo_->endUndoGrouping();
        dragUndo_ = nullptr;
    }
    view_.setAutoScrollTimer(false);
    mouseOperation_ = kOpPlace;
    doubleClickDrag_ = false;
}

void ORPPatternEditor::rightMouseDown(const ORPMouseInput& input)
{
    ORPMouseInput right = input;
    right.button = ORPMouseInput::Button::Right;
    hoverUpdate(right);
    if (mouseOperation_ == kOpPlace || mouseOperation_ == kOpSelectBars) {
        ORPMouseInput plain { input.point, {}, 1, ORPMouseInput::Button::Left };
        mouseDown(plain);
        mouseUp(plain);
    }
    const auto patti = currPatti_.lock();
    if (patti && currGrp_ >= 0 && currDiv_ >= 0) {
        if (const auto event = eventShownInRow(*patti->pattern(), currPlace_, currGrp_)) {
            view_.setMousePositionTimer(false);
            setCursorIfNeeded(ORPEditorCursor::Arrow, nullptr);
            const ORPRect& frame = patti->frame();
            eventMenu_.run(event, patti->pattern());
            view_.showVelocityPopUp(event, patti->pattern(),
                { frame.x + kCellSize * (currDiv_ + 1), frame.y + kHeaderHeight + kCellSize * currGrp_ });
            return;
        }
    }
    view_.showEditContextMenu(input.point);
    mouseOperation_ = kOpMenu;
}

bool ORPPatternEditor::refreshHover()
{
    lastModifiers_ += kForcedUpdateBit;
    ORPEditorModifiers modifiers;
    modifiers.shift = lastModifiers_ & 1;
    modifiers.command = lastModifiers_ & 2;
    modifiers.option = lastModifiers_ & 4;
    modifiers.control = lastModifiers_ & 8;
    return hoverUpdate({ lastMousePoint_, modifiers });
}

void ORPPatternEditor::velocityPopUpClosed()
{
    eventMenu_.finish();
    lastModifiers_ += kForcedUpdateBit;
    view_.setMousePositionTimer(true);
}

// --- Focus ---

void ORPPatternEditor::windowKeyChanged(bool isKey)
{
    enableInsertionPointBlink(isKey);
    view_.setMousePositionTimer(isKey);
    setNeedsDisplayInSelectedRegions();
}

// --- Insertion blink ---

void ORPPatternEditor::blinkInsertionPoint()
{
    insertionBlink_ = !insertionBlink_;
    view_.redrawRect(insertionRect_);
}

bool ORPPatternEditor::enableInsertionPointBlink(bool flag)
{
    view_.redrawRect(insertionRect_);
    const bool run = flag && selected_.empty() && !isPlaying();
    if (run)
        insertionBlink_ = true;
    view_.setInsertionBlinkTimer(run);
    return run;
}
