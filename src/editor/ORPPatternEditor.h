#pragma once

#include "editor/ORPPasteboard.h"
#include "editor/ORPPatternDrawSource.h"
#include "editor/ORPPatternEditorCommands.h"
#include "editor/ORPPatternEditorView.h"
#include "editor/PatternEditorInput.h"
#include "foundation/Error.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPSectionMarker.h"
#include "player/ORPPlayerEditor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace rp {
class UndoManager;
class UserDefaults;
} // namespace rp
class ORPDrumPicker;
class ORPPlayer;
class ORPReconcileController;

inline constexpr const char* ORPPatternEditorPlaybackStartedNotification
    = "ORPPatternEditorPlaybackStartedNotification";
inline constexpr const char* ORPPatternEditorPlaybackStoppedNotification
    = "ORPPatternEditorPlaybackStoppedNotification";

// The velocity pop-up's model: a slider showing an event's velocity and a field showing it x 10.
class ORPEventMenuController {
public:
    void run(const ORPEventPtr& event, const ORPPatternPtr& pattern);
    // The slider moved: the event takes the velocity (its drum unchanged) as one undoable change.
    void velocityChanged(float value);
    // The pop-up closed: a run of slider changes becomes one undo step.
    void finish();

    float sliderValue() const { return sliderValue_; }
    const std::string& fieldText() const { return fieldText_; }
    const ORPEventPtr& event() const { return event_; }

private:
    ORPEventPtr event_;
    ORPPatternPtr pattern_;
    float sliderValue_ = 0;
    std::string fieldText_;
    rp::UndoManager* openGroup_ = nullptr;
};

// The central editing view's logic: the bars of the edited sections or playlist entries laid out in
// rows, hit-testing, the insertion point, the selection, zoom, the pointer's hover state and the
// mouse edits. The widget behind ORPPatternEditorView shows it and forwards input. Main thread only.
class ORPPatternEditor : public ORPPlayerEditor,
                         public ORPPatternDrawSource,
                         public std::enable_shared_from_this<ORPPatternEditor> {
public:
    using EditedObject = std::variant<ORPSectionPtr, ORPSectionMarkerPtr>;

    static constexpr double kCellSize = 18;
    static constexpr double kHeaderHeight = 24;
    static constexpr double kFooterHeight = 20;
    static constexpr double kTitleStripHeight = 19;

    // Mouse operations.
    enum : uint16_t {
        kOpPlace = 0,
        kOpSelectDivisions = 1,
        kOpSelectBars = 2,
        kOpPaint = 3,
        kOpErase = 4,
        kOpMenu = 5,
        kOpPainting = 256,
        kOpErasing = 257,
        kOpSelecting = 258,
    };

    // Reads its layout defaults from `defaults` (registering them when absent).
    ORPPatternEditor(ORPPatternEditorView& view, rp::UserDefaults& defaults);
    ~ORPPatternEditor() override;
    ORPPatternEditor(const ORPPatternEditor&) = delete;
    ORPPatternEditor& operator=(const ORPPatternEditor&) = delete;

    // --- Companions ---
    void setDrumPicker(ORPDrumPicker* picker) { drumPicker_ = picker; }
    ORPDrumPicker* drumPicker() const { return drumPicker_; }
    // The editor's own player; it is told to read its bars from this editor (when the editor is
    // owned by a shared pointer, as it must be for that).
    void setPlayer(std::shared_ptr<ORPPlayer> player);
    const std::shared_ptr<ORPPlayer>& player() const { return player_; }
    // The song document's answer to "all sections of the song" (whole-song zoom).
    void setAllSectionsProvider(std::function<std::vector<ORPSectionPtr>()> provider)
    {
        allSections_ = std::move(provider);
    }
    // Where new hits take their velocity from; by default the RPDefaultVelocity user default.
    void setDefaultVelocityProvider(std::function<float()> provider) { defaultVelocity_ = std::move(provider); }
    float defaultVelocity() const { return defaultVelocity_(); }

    // --- What is edited ---
    void setEditedObjects(const std::vector<EditedObject>& objects, const ORPDrumKitPtr& kit);
    const std::vector<EditedObject>& editedObjects() const { return objectList_; }
    const ORPDrumKitPtr& drumKit() const { return drumKit_; }
    void rebuildInstances();
    void adjustLayout();

    // --- ORPPlayerEditor ---
    bool hasSelection() const override { return !selected_.empty(); }
    std::vector<ORPPatternInstancePtr> selectedPatternInstances() const override { return selected_; }
    std::vector<ORPPatternInstancePtr> patternInstances() const override { return instances_; }
    std::optional<uint64_t> insertionPointIndex() const override;
    float insertionPointPlace() const override { return insertPlace_; }
    const std::vector<ORPPatternInstancePtr>& instances() const { return instances_; }

    // --- ORPPatternDrawSource ---
    EmptyState emptyState() const override;
    std::vector<ORPPatternInstancePtr> instancesIntersecting(const ORPRect& rect) const override;
    double contentWidth() const override { return contentWidth_; }
    double contentHeight() const override { return contentHeight_; }
    int16_t numGroups() const override { return numGroups_; }
    int16_t numDivsForPattern(const ORPPattern& pattern) const override;
    std::vector<ORPEventPtr> eventsByGroupAtRatio(float place, const ORPPattern& pattern) const override;
    int32_t defaultGridPositionForDrum(const ORPDrum& drum) const override;
    int patternInstanceIsDivSelected(const ORPPatternInstance& instance, int16_t div) const override;
    bool wholeBarSelection() const override { return wholeBarSelection_; }
    const ORPPatternInstance* playingInstance() const override { return playingPatti_.get(); }
    int16_t playingDiv() const override { return playingDiv_; }
    bool isPlaying() const override;
    const ORPPatternInstance* hoverInstance() const override { return currPatti_.lock().get(); }
    int16_t hoverDiv() const override { return currDiv_; }
    int16_t hoverGroup() const override { return currGrp_; }
    uint16_t mouseOperation() const override { return mouseOperation_; }
    const ORPPatternInstance* insertionInstance() const override { return insertPatti_.get(); }
    ORPRect insertionRect() const override { return insertionRect_; }
    ORPRect dropMarkerRect() const override { return dropMarkerRect_; }

    // --- Geometry ---
    double rowHeight() const { return numGroups_ * kCellSize + kHeaderHeight + kFooterHeight; }
    // The grid column `div` of an instance (grid height only).
    static ORPRect gridColumnRect(const ORPRect& frame, int64_t div);
    // The hit-test alone: sets the hovered instance, group, division and place for `point`.
    void hitTest(ORPPoint point);
    float hoverPlace() const { return currPlace_; }
    ORPPatternInstancePtr hoverPatternInstance() const { return currPatti_.lock(); }

    // --- Insertion point ---
    void setInsertAtPlace(float place, const ORPPatternInstancePtr& instance);
    void moveInsertionPointToPlace(float place, const ORPPatternInstancePtr& instance);
    const ORPPatternInstancePtr& insertionPatternInstance() const { return insertPatti_; }
    const ORPPatternInstancePtr& anchorPatternInstance() const { return anchorPatti_; }
    float anchorPlace() const { return anchorPlace_; }
    void scrollInsertionPointToVisible();

    // --- Selection ---
    int patternInstanceIsSelected(const ORPPatternInstance& instance, float from, float to) const;
    void setSelected(const ORPPatternInstancePtr& instance, bool flag, float from, float to);
    void extendSelectionToPatternInstance(const ORPPatternInstancePtr& target, float place0, float place1);
    void selectAll();
    void deselectAll();
    void setWholeBarSelection(bool flag) { wholeBarSelection_ = flag; }
    std::vector<ORPPatternInstancePtr> affectedPatternInstances() const;
    void setNeedsDisplayInSelectedRegions();

    // --- Zoom ---
    // `affectedOnly`: the patterns of the affected bars, else every pattern of the song.
    void performZoom(bool zoomIn, bool affectedOnly);

    // --- Playback ---
    // Stops the run the heartbeat follows; true when there was one (see below).
    bool stopPlaying();

    // --- Pointer ---
    // The hover update: hit-test, operation, current drum and cursor. True when the bar, column, row
    // or operation changed.
    bool hoverUpdate(const ORPMouseInput& input);
    // The mouse-position timer: a hover update with the pointer where it is now.
    bool checkMousePosition(ORPPoint point, ORPEditorModifiers modifiers) { return hoverUpdate({ point, modifiers }); }
    void mouseDown(const ORPMouseInput& input);
    void mouseDragged(const ORPMouseInput& input);
    void mouseUp(const ORPMouseInput& input);
    void rightMouseDown(const ORPMouseInput& input);
    bool acceptsFirstMouse(const ORPMouseInput& input, bool applicationIsActive);
    // The scroll view moved: the next hover update runs in full.
    void adjustScroll() { lastMousePoint_ = {}; }
    void velocityPopUpClosed();
    ORPEventMenuController& eventMenuController() { return eventMenu_; }
    const ORPDrumPtr& currentDrum() const { return currDrum_; }
    bool editingMulti() const { return editingMulti_; }
    bool addingMode() const { return addingMode_; }

    // --- Keys ---
    // A typed key as a drum shortcut: `key` is the key's character as printed (Shift applied, other
    // modifiers ignored). Option steps through the drums sharing the key and plays the chosen one at
    // the default velocity; otherwise the key's drum is chosen and played at full velocity. False
    // when no drum has the key (the key goes on to the window).
    bool drumShortcutKeyDown(const std::string& key, ORPEditorModifiers modifiers);
    // Runs the hover update again at the last pointer position even though nothing moved (the
    // current drum changed under the pointer).
    bool refreshHover();

    // --- Keys, recording and playback ---
    // A key typed in the editor: arrows, Home and End move (Shift: extend the selection), Space
    // starts or stops playback, anything else is a drum shortcut. False when the key is not used.
    bool keyDown(const rp::editor::KeyInput& input);
    // Whether new drum keys and MIDI notes are recorded; by default the RPRecordEnabled user default.
    void setRecordEnabledProvider(std::function<bool()> provider) { recordEnabled_ = std::move(provider); }
    bool recordEnabled() const;
    // Adds `drum` at the recording place (the play head's division while playing, else the
    // selection's start or the insertion point) at the default velocity, plays it and moves the
    // insertion point on. False when there is no place (past the last bar).
    bool recordAndPlayDrum(const ORPDrumPtr& drum);
    // The insertion point after a recorded hit at `place` of `instance`: undoable (undo returns it to
    // the hit); stopped, it steps one division on.
    void moveInsertionPointForRecordAtPlace(float place, const ORPPatternInstancePtr& instance);
    // Starts the player (once: the region plays once whatever the loop setting) and the heartbeat.
    // False while a run is followed or there are no bars.
    bool startPlayingOnce(bool once);
    void playOrStopAction();
    void playOnceAction() { startPlayingOnce(true); }
    // The view's playback timer (0.05 s): moves the play head and the insertion point after the
    // player, and ends the run when the player has finished.
    void playbackHeartbeat();
    // Whether a run is followed: the heartbeat timer runs. This is what "playing" means for the editor.
    bool isHeartbeatRunning() const { return heartbeatRunning_; }
    // Called by the heartbeat with the play position; the window passes it to the transport
    // inspector when it is the main window. May be empty.
    void setShowPlayingInstanceHook(std::function<void(const ORPPatternInstancePtr&, float)> hook)
    {
        showPlayingInstance_ = std::move(hook);
    }

    // --- Focus ---
    // The window became or resigned key: blink and mouse-position timer on or off, selection redrawn.
    void windowKeyChanged(bool isKey);
    // The editor became or resigned first responder: the selection's colour follows focus.
    void firstResponderChanged() { setNeedsDisplayInSelectedRegions(); }

    // --- Commands and clipboard ---
    // The general clipboard (none: nothing is copied or pasted).
    void setPasteboard(std::shared_ptr<rp::editor::ORPPasteboard> pasteboard) { pasteboard_ = std::move(pasteboard); }
    // The song document's drum reconciler. Without one (or when it answers null) the editor keeps its
    // own, which has nobody to ask: bars whose drums do not all match the kit are refused.
    void setReconcilerProvider(std::function<ORPReconcileController*()> provider)
    {
        reconcilerProvider_ = std::move(provider);
    }
    ORPReconcileController& reconciler();

    // Menu validation by action name ("copy:", "deleteBeatsAction:", ...); unknown actions are enabled.
    ORPMenuItemState validateAction(const std::string& actionName) const;

    // Puts the selection on the clipboard: drums in division mode, bars in whole-bar mode.
    void copy();
    void cut();
    // Division mode: removes the selected drums. Whole-bar mode: removes the selected bars.
    void clear();
    // Pastes drums (preferred) or bars from the clipboard. An error when the clipboard's data is not
    // usable (nothing changed then); none when pasted, declined or there was nothing to paste.
    std::optional<rp::Error> paste();
    // Pastes the clipboard's drums without first erasing those in the target range.
    std::optional<rp::Error> pasteOver();
    void insertBarAction();
    void insertBeatAction();
    void deleteBeatsAction();
    // A keyed archive of the selected bars (with their selections), in bar order; empty on failure.
    std::vector<uint8_t> dataForSelectedPatterns() const;
    // Copies the drums selected in `instances` onto the song from the selection (or the insertion
    // point) on, lining them up beat by beat; the target range stays selected. False when the drums
    // could not be reconciled with the kit or there is nowhere to paste.
    bool pasteDrumsFromInstances(
        const std::vector<ORPPatternInstancePtr>& instances, bool destructively, const std::string& actionName);
    // Reads clipboard or drag data: an array of pattern instances, each with its pattern. Anything
    // else (too large, damaged, other objects) gives an empty list and `error`.
    static std::vector<ORPPatternInstancePtr> instancesFromPasteboardData(
        std::span<const uint8_t> data, rp::Error* error);
    // The type names a drag of bars offers, bars first; both carry dataForSelectedPatterns().
    static std::vector<std::string> writableTypes();

    // Dragging bars. As the source: the image of a drag starting at `point`, the operations allowed,
    // and the end of the drag.
    ORPBarDragImage barDragImage(ORPPoint point) const;
    static uint64_t barDragSourceOperations() { return ORPDragOperationCopy | ORPDragOperationMove; }
    void barDragEnded();
    // As the destination. Entering answers no operation until the first update; updating moves the
    // drop marker and answers the operation; `fromThisEditor`: the drag started in this editor.
    uint64_t barDragEntered();
    uint64_t barDragUpdated(ORPPoint point, bool fromThisEditor, uint64_t sourceOperations);
    void barDragExited();
    bool prepareForBarDrop(bool fromThisEditor, uint64_t operation);
    // `barsData`: the drag's bars data (read only for drags from elsewhere). False when refused; a
    // bad `barsData` also sets `error`.
    bool performBarDrop(
        bool fromThisEditor, uint64_t operation, std::span<const uint8_t> barsData, rp::Error* error = nullptr);
    // Where the drop goes: an index into instances(), instances().size() for the end.
    size_t dropIndex() const { return dropIndex_; }

    // --- Insertion blink ---
    bool insertionBlink() const { return insertionBlink_; }
    // The blink timer fired: toggles the phase and redraws the insertion point.
    void blinkInsertionPoint();
    // Redraws the insertion point; returns (and tells the view) whether the blink timer should run:
    // only when asked, with nothing selected and nothing playing.
    bool enableInsertionPointBlink(bool flag);

private:
    struct Row {
        double y;
        size_t first; // index of the row's first instance
        size_t end;   // one past its last
    };

    void handleNotification(const rp::Notification& note);
    void observeModel(const void* object, const char* name);
    void stopObservingModel();
    void recomputeCueTimes();
    void postInsertionPointMoved();
    void enqueueSelectionChanged();
    ORPPatternInstancePtr instanceAt(ORPPoint point) const;
    void setCursorIfNeeded(ORPEditorCursor cursor, const ORPDrumPtr& drum);
    void redrawHoverColumn(const ORPPatternInstancePtr& instance, int16_t div);
    ORPEventPtr eventShownInRow(const ORPPattern& pattern, float place, int16_t group) const;
    rp::UndoManager* beginDragGroup(const ORPPattern& pattern);
    void selectingDragStep();

    // Picker access (no picker: no current drum, grid row from the kit's hierarchy).
    ORPDrumPtr pickerDefaultDrum() const;
    ORPDrumPtr pickerDefaultDrumForGroup(int64_t group) const;
    int32_t gridPositionForDrum(const ORPDrum& drum) const;

    ORPPatternEditorView& view_;
    rp::UserDefaults& defaults_;
    ORPDrumPicker* drumPicker_ = nullptr;
    std::shared_ptr<ORPPlayer> player_;
    std::function<std::vector<ORPSectionPtr>()> allSections_;
    std::function<float()> defaultVelocity_;

    std::vector<EditedObject> objectList_;
    bool objectListSet_ = false;
    std::vector<ORPPatternInstancePtr> instances_;
    std::unordered_map<const ORPPatternInstance*, size_t> indexOf_;
    std::vector<Row> rows_;
    double contentWidth_ = 0;
    double contentHeight_ = 0;
    ORPDrumKitPtr drumKit_;
    int16_t numGroups_ = 0;

    std::weak_ptr<ORPPatternInstance> currPatti_;
    int16_t currGrp_ = -1;
    int16_t currDiv_ = -1;
    float currPlace_ = 0;
    ORPPatternInstancePtr insertPatti_;
    float insertPlace_ = 0;
    ORPPatternInstancePtr anchorPatti_;
    float anchorPlace_ = 0;
    ORPRect insertionRect_;
    ORPRect dropMarkerRect_;
    std::vector<ORPPatternInstancePtr> selected_;
    bool wholeBarSelection_ = false;

    ORPPatternInstancePtr playingPatti_;
    int16_t playingDiv_ = -1;

    uint16_t mouseOperation_ = kOpPlace;
    bool addingMode_ = false;
    bool editingMulti_ = false;
    bool doubleClickDrag_ = false;
    ORPDrumPtr currDrum_;
    ORPPoint lastMousePoint_;
    uint64_t lastModifiers_ = 0;
    bool cursorSet_ = false;
    ORPEditorCursor cursor_ = ORPEditorCursor::Arrow;
    ORPDrumPtr cursorDrum_;
    rp::UndoManager* dragUndo_ = nullptr;
    bool insertionBlink_ = true;
    ORPEventMenuController eventMenu_;

    char modelObserver_ = 0; // identity of the model observations

    // Commands and clipboard
    // Playback's indicator timer is not running.
    bool notPlaying() const;
    rp::UndoManager* commandUndoManager() const;
    // Where Insert Bar and Paste put bars: the section and index.
    std::pair<ORPSectionPtr, size_t> insertionTarget() const;
    ORPPatternInstancePtr instanceOfPattern(const ORPPatternPtr& pattern, const ORPSectionMarkerPtr& marker) const;
    std::vector<ORPPatternInstancePtr> readPasteboard(const char* typeName, rp::Error* error) const;
    // Reconciles `items` with the kit and pre-loads their drums; false when refused.
    bool reconcileForPaste(const std::vector<std::variant<ORPPatternPtr, ORPPatternInstancePtr>>& items,
        const std::string& actionName);
    void registerSelectionUndo(const ORPPatternInstancePtr& instance, bool selected, float from, float to);
    std::shared_ptr<rp::editor::ORPPasteboard> pasteboard_;
    std::function<ORPReconcileController*()> reconcilerProvider_;
    std::shared_ptr<ORPReconcileController> ownReconciler_;
    size_t dropIndex_ = 0;
    // After a bar drag ends or leaves: the pointer's hover, its timer and the blink start again.
    void resumePointerAfterDrag();

    // --- Keys, recording and playback ---
    // The bar of the edited list that stands for `instance` (itself, or after a rebuild the first
    // bar of the same pattern and playlist entry); null when there is none.
    ORPPatternInstancePtr liveInstance(const ORPPatternInstancePtr& instance) const;
    bool moveKeyDown(const rp::editor::KeyInput& input);
    // Where an arrow, Home or End key goes from the insertion point; false when it goes nowhere.
    bool keyTarget(const rp::editor::KeyInput& input, ORPPatternInstancePtr& target, float& place) const;
    bool homeOrEndTarget(bool end, ORPPatternInstancePtr& target, float& place) const;
    bool rowStepTarget(bool down, bool page, ORPPatternInstancePtr& target, float& place) const;
    void redrawPlayHead(const ORPPatternInstancePtr& instance, int16_t div, bool header);

    std::function<bool()> recordEnabled_;
    std::function<void(const ORPPatternInstancePtr&, float)> showPlayingInstance_;
    bool heartbeatRunning_ = false;
    bool stoppingPlayback_ = false;
};
