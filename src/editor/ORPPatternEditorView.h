#pragma once

#include "model/ORPPatternInstance.h"

#include <memory>

// A point in the editor's view coordinates (flipped: y grows downwards).
struct ORPPoint {
    double x = 0;
    double y = 0;
    bool operator==(const ORPPoint&) const = default;
};

// Modifier keys of pointer and key events: Command is Ctrl, Option is Alt, Control is Meta.
struct ORPEditorModifiers {
    bool shift = false;
    bool command = false;
    bool option = false;
    bool control = false;
    bool operator==(const ORPEditorModifiers&) const = default;
};

struct ORPMouseInput {
    enum class Button { Left, Right };
    ORPPoint point; // view coordinates
    ORPEditorModifiers modifiers;
    int clickCount = 1;
    Button button = Button::Left;
};

// The pointer shapes the editor asks for.
enum class ORPEditorCursor {
    Arrow,
    IBeam,        // placing the insertion point, selecting by dragging
    Triangle,     // the division strip of a bar's header
    Pencil,       // erasing: the cell shows a drum
    PencilGrey,   // erasing: the cell is empty
    PointingHand, // context menu
    Drum,         // the current drum's own cursor
};

// What the pattern editor needs of the widget that shows it. The Qt widget implements it; the tests
// record the calls. Main thread only.
class ORPPatternEditorView {
public:
    virtual ~ORPPatternEditorView() = default;

    // The part of the canvas the scroll view shows now.
    virtual ORPRect visibleRect() const = 0;
    virtual void setCanvasSize(double width, double height) = 0;
    virtual void redrawRect(const ORPRect& rect) = 0;
    virtual void redrawAll() = 0;
    virtual void scrollRectToVisible(const ORPRect& rect) = 0;
    virtual void beep() = 0;
    // `drum` is the current drum when the cursor is ORPEditorCursor::Drum, else null.
    virtual void setCursor(ORPEditorCursor cursor, const ORPDrumPtr& drum) = 0;

    virtual bool windowIsKey() const = 0;
    virtual bool isFirstResponder() const = 0;
    // Brings the editor's window to the front as the key window.
    virtual void makeWindowKey() = 0;
    // Whether a floating panel (the transport panel) lies over the editor at `point`.
    virtual bool floatingPanelContains(ORPPoint point) const = 0;

    // Timers the widget runs and the calls they make on the editor:
    //  auto-scroll (0.1 s) while a mouse button is down: scroll towards the pointer;
    //  mouse position (0.1 s) while the window is key: ORPPatternEditor::checkMousePosition;
    //  insertion blink (0.56 s): ORPPatternEditor::blinkInsertionPoint;
    //  playback (0.05 s, also while menus track and windows resize):
    //  ORPPatternEditor::playbackHeartbeat.
    virtual void setAutoScrollTimer(bool run) = 0;
    virtual void setMousePositionTimer(bool run) = 0;
    virtual void setInsertionBlinkTimer(bool run) = 0;
    virtual void setPlaybackTimer(bool run) = 0;

    // Opens the velocity pop-up for `event` of `pattern` with its top-left corner at `point`; the
    // widget drives ORPPatternEditor::eventMenuController() and calls
    // ORPPatternEditor::velocityPopUpClosed() when the button goes up.
    virtual void showVelocityPopUp(const ORPEventPtr& event, const ORPPatternPtr& pattern, ORPPoint point) = 0;
    // Pops up the editor's context menu at `point` (the standard edit commands, Insert Bar and Insert
    // Beat when they validate; Play and Export are not offered yet).
    virtual void showEditContextMenu(ORPPoint point) = 0;
    // A selecting drag in whole-bar mode: drag the selected bars away (runs until the drop).
    virtual void dragSelectedBars(ORPPoint point) = 0;
};

// A view that shows nothing: for an editor driven without a window (benchmarks, fuzzing). It
// reports a fixed visible area and a key window.
class ORPDetachedPatternEditorView : public ORPPatternEditorView {
public:
    explicit ORPDetachedPatternEditorView(ORPRect visible = { 0, 0, 1600, 1000 }) : visible_(visible) { }
    void setVisibleRect(const ORPRect& visible) { visible_ = visible; }

    ORPRect visibleRect() const override { return visible_; }
    void setCanvasSize(double, double) override { }
    void redrawRect(const ORPRect&) override { }
    void redrawAll() override { }
    void scrollRectToVisible(const ORPRect&) override { }
    void beep() override { }
    void setCursor(ORPEditorCursor, const ORPDrumPtr&) override { }
    bool windowIsKey() const override { return true; }
    bool isFirstResponder() const override { return true; }
    void makeWindowKey() override { }
    bool floatingPanelContains(ORPPoint) const override { return false; }
    void setAutoScrollTimer(bool) override { }
    void setMousePositionTimer(bool) override { }
    void setInsertionBlinkTimer(bool) override { }
    void setPlaybackTimer(bool) override { }
    void showVelocityPopUp(const ORPEventPtr&, const ORPPatternPtr&, ORPPoint) override { }
    void showEditContextMenu(ORPPoint) override { }
    void dragSelectedBars(ORPPoint) override { }

private:
    ORPRect visible_;
};
