// The pattern editor: keys (cursor movement, drum shortcuts, play/stop) and recording drums into
// the song from keys and MIDI notes.

#include "editor/ORPDrumPicker.h"
#include "editor/ORPInspectorController.h"
#include "editor/ORPInterfaceDefaults.h"
#include "editor/ORPPatternEditor.h"
#include "foundation/UndoManager.h"
#include "foundation/UserDefaults.h"
#include "player/ORPPlayer.h"

#include <algorithm>
#include <cmath>

using rp::editor::EditorKey;
using rp::editor::KeyInput;

namespace {

// The division line at or just left of `place` (a place stored a hair under a line counts as on it).
int64_t divisionAt(float place, int64_t n)
{
    return std::clamp<int64_t>(
        static_cast<int64_t>(std::floor(static_cast<double>(place) * static_cast<double>(n) + 1e-4)), 0, n);
}

float placeOf(int64_t div, int64_t n)
{
    return static_cast<float>(div) / static_cast<float>(n);
}

bool isMoveKey(EditorKey key)
{
    switch (key) {
    case EditorKey::Left:
    case EditorKey::Right:
    case EditorKey::Up:
    case EditorKey::Down:
    case EditorKey::Home:
    case EditorKey::End:
        return true;
    default:
        return false;
    }
}

} // namespace

bool ORPPatternEditor::recordEnabled() const
{
    if (recordEnabled_)
        return recordEnabled_();
    return defaults_.boolForKey(ORPInspectorController::kRecordEnabledKey);
}

// --- Keys ---

bool ORPPatternEditor::keyDown(const KeyInput& input)
{
    if (input.key == EditorKey::Space) {
        // Holding the key down does not toggle the run over and over.
        if (!input.isAutoRepeat)
            playOrStopAction();
        return true;
    }
    if (isMoveKey(input.key) && insertPatti_)
        return moveKeyDown(input);
    return drumShortcutKeyDown(input.characters, input.modifiers);
}

bool ORPPatternEditor::moveKeyDown(const KeyInput& input)
{
    const bool arrow = input.key != EditorKey::Home && input.key != EditorKey::End;
    if (arrow && hasSelection() && !input.modifiers.shift) {
        // The selection collapses to its start (Left, Up) or its end (Right, Down).
        const bool toEnd = input.key == EditorKey::Right || input.key == EditorKey::Down;
        const ORPPatternInstancePtr bar = toEnd ? selected_.back() : selected_.front();
        const auto& ranges = bar->selection()->rangeArray();
        const float place = ranges.empty() ? (toEnd ? 1.0f : 0.0f) : (toEnd ? ranges.back() : ranges.front());
        moveInsertionPointToPlace(place, bar);
        return true;
    }
    ORPPatternInstancePtr target;
    float place = 0;
    // A step past either end of the song does nothing, and the key is used up.
    if (!keyTarget(input, target, place))
        return true;
    if (input.modifiers.shift)
        extendSelectionToPatternInstance(target, place, place);
    else
        moveInsertionPointToPlace(place, target);
    return true;
}

bool ORPPatternEditor::homeOrEndTarget(bool end, ORPPatternInstancePtr& target, float& place) const
{
    if (instances_.empty())
        return false;
    target = end ? instances_.back() : instances_.front();
    place = end ? 1.0f : 0.0f;
    return true;
}

bool ORPPatternEditor::keyTarget(const KeyInput& input, ORPPatternInstancePtr& target, float& place) const
{
    const auto index = insertionPointIndex();
    if (!index)
        return false;
    const size_t i = static_cast<size_t>(*index);
    const int64_t n = numDivsForPattern(*insertPatti_->pattern());
    const int64_t d = divisionAt(insertPlace_, n);
    const ORPEditorModifiers& mods = input.modifiers;
    switch (input.key) {
    case EditorKey::Left:
    case EditorKey::Right: {
        const bool right = input.key == EditorKey::Right;
        if (mods.command) {
            // The ends of the insertion point's row.
            size_t first = 0;
            size_t end = instances_.size();
            for (const Row& row : rows_) {
                if (row.first <= i && i < row.end) {
                    first = row.first;
                    end = row.end;
                }
            }
            target = right ? instances_[end - 1] : instances_[first];
            place = right ? 1.0f : 0.0f;
            return true;
        }
        if (!right) {
            if (d > 0) {
                target = insertPatti_;
                place = mods.option ? 0.0f : placeOf(d - 1, n);
                return true;
            }
            if (i == 0)
                return false;
            target = instances_[i - 1];
            const int64_t previousN = numDivsForPattern(*target->pattern());
            place = mods.option ? 0.0f : placeOf(previousN - 1, previousN);
            return true;
        }
        if (d < n) {
            target = insertPatti_;
            place = mods.option ? 1.0f : placeOf(d + 1, n);
            return true;
        }
        if (i + 1 >= instances_.size())
            return false;
        target = instances_[i + 1];
        place = mods.option ? 1.0f : placeOf(1, numDivsForPattern(*target->pattern()));
        return true;
    }
    case EditorKey::Up:
    case EditorKey::Down: {
        const bool down = input.key == EditorKey::Down;
        if (mods.command)
            return homeOrEndTarget(down, target, place);
        return rowStepTarget(down, mods.option, target, place);
    }
    case EditorKey::Home:
    case EditorKey::End:
        return homeOrEndTarget(input.key == EditorKey::End, target, place);
    default:
        return false;
    }
}

bool ORPPatternEditor::rowStepTarget(bool down, bool page, ORPPatternInstancePtr& target, float& place) const
{
    const double h = rowHeight();
    double rows = 1;
    if (page && h > 0)
        rows = std::max(1.0, std::floor(view_.visibleRect().height / h));
    // The probe: the insertion marker's right edge, 2 points below its top, moved by whole rows.
    const double x = insertionRect_.x + insertionRect_.width;
    const double y = insertionRect_.y + 2 + (down ? 1 : -1) * h * rows;
    auto row = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.y <= y && y < r.y + h; });
    if (row == rows_.end() || row->first >= row->end)
        return homeOrEndTarget(down, target, place);
    for (size_t k = row->first; k < row->end; ++k) {
        const ORPRect& frame = instances_[k]->frame();
        if (x >= frame.x && x < frame.x + frame.width) {
            const int64_t n = numDivsForPattern(*instances_[k]->pattern());
            target = instances_[k];
            place = placeOf(std::clamp<int64_t>(static_cast<int64_t>((x - frame.x) / kCellSize), 0, n - 1), n);
            return true;
        }
    }
    target = instances_[row->end - 1];
    place = 0;
    return true;
}

bool ORPPatternEditor::drumShortcutKeyDown(const std::string& key, ORPEditorModifiers modifiers)
{
    if (key.empty() || !drumPicker_)
        return false;
    const ORPDrumPtr drum
        = modifiers.option ? drumPicker_->chooseNextDrumWithShortcut(key) : drumPicker_->chooseDrumWithShortcut(key);
    if (!drum)
        return false;
    if (modifiers.option) {
        if (player_)
            player_->playDrumSound(drum, defaultVelocity());
    } else if (recordEnabled()) {
        recordAndPlayDrum(drum);
    } else if (player_) {
        player_->playDrumSound(drum, 1.0f);
    }
    // The cursor and the current drum follow the new choice at once.
    refreshHover();
    return true;
}

// --- Recording ---

bool ORPPatternEditor::recordAndPlayDrum(const ORPDrumPtr& drum)
{
    if (!drum)
        return false;
    ORPPatternInstancePtr patti;
    float place = 0;
    const ORPPatternInstancePtr playing = isPlaying() ? liveInstance(playingPatti_) : nullptr;
    if (playing && playingDiv_ >= 0) {
        // Live hits are quantised down to the start of the division being played.
        patti = playing;
        place = placeOf(playingDiv_, numDivsForPattern(*patti->pattern()));
    } else if (hasSelection()) {
        patti = selected_.front();
        const auto& ranges = patti->selection()->rangeArray();
        place = ranges.empty() ? 0.0f : ranges.front();
    } else {
        patti = liveInstance(insertPatti_);
        place = insertPlace_;
    }
    if (!patti)
        return false;
    if (place >= 1.0f) {
        const auto at = indexOf_.find(patti.get());
        if (at == indexOf_.end() || at->second + 1 >= instances_.size())
            return false; // past the last bar: nothing is recorded
        patti = instances_[at->second + 1];
        place = 0;
    }
    const ORPPatternPtr& pattern = patti->pattern();
    rp::UndoManager* undo = pattern->undoManager();
    if (undo)
        undo->beginUndoGrouping();
    const ORPEventPtr event = pattern->addEventWithDrum(drum, defaultVelocity(), place);
    if (event) {
        if (player_)
            player_->playDrumSound(drum, event->velocity());
        moveInsertionPointForRecordAtPlace(place, patti);
    }
    if (undo) {
        undo->setActionName(drum->typeName());
        undo->endUndoGrouping();
    }
    return event != nullptr;
}

void ORPPatternEditor::moveInsertionPointForRecordAtPlace(float place, const ORPPatternInstancePtr& instance)
{
    if (!instance)
        return;
    rp::UndoManager* undo = instance->pattern()->undoManager();
    if (undo) {
        undo->registerUndo(this, [editor = weak_from_this(), place, instance] {
            if (auto live = editor.lock())
                live->moveInsertionPointForRecordAtPlace(place, instance);
        });
    }
    const ORPPatternInstancePtr patti = liveInstance(instance);
    if (!patti)
        return;
    const int64_t n = numDivsForPattern(*patti->pattern());
    float target = place;
    if (!isPlaying() && !(undo && undo->isUndoing()))
        target = placeOf(std::min(divisionAt(place, n) + 1, n), n); // step entry: one division on
    if (!isPlaying()) {
        moveInsertionPointToPlace(target, patti);
        return;
    }
    // While playing the insertion point only follows, as the heartbeat moves it: a full move would
    // tell the player to start again from the hit (rewinding the run at every hit) and would clear
    // the selection being played, which stops the run.
    view_.redrawRect(insertionRect_);
    setInsertAtPlace(target, patti);
    anchorPatti_ = insertPatti_;
    anchorPlace_ = insertPlace_;
    view_.redrawRect(insertionRect_);
}
