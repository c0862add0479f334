#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ORPDrum;

// What the pattern editor's canvas hands on to the editor: pointer and keyboard input in canvas
// coordinates (points, flipped: y grows downwards) with the editor's modifier flags. Qt-free, so the
// editor's logic and its tests never see Qt; the scrolling view in src/widgets calls it.
namespace rp::editor {

// The editor's modifier keys on this desktop: Command is Ctrl, Option is Alt, Control is Meta.
enum ModifierFlag : uint32_t {
    kShiftKey = 1u << 0,
    kControlKey = 1u << 1,
    kOptionKey = 1u << 2,
    kCommandKey = 1u << 3,
};

struct CanvasPoint {
    double x = 0;
    double y = 0;
    bool operator==(const CanvasPoint&) const = default;
};

enum class MouseButton : uint8_t { Left, Right, Middle };

struct MouseInput {
    CanvasPoint point;
    uint32_t modifiers = 0;
    MouseButton button = MouseButton::Left;
    int clickCount = 1;
};

// Keys the editor treats specially; everything else arrives as Other with its characters.
enum class EditorKey : uint8_t {
    Other,
    Left,
    Right,
    Up,
    Down,
    Home,
    End,
    PageUp,
    PageDown,
    Delete,    // forward delete
    Backspace,
    Return,
    Enter,
    Escape,
    Tab,
    Space,
};

struct KeyInput {
    EditorKey key = EditorKey::Other;
    std::string characters; // UTF-8 as typed
    uint32_t modifiers = 0;
    bool isAutoRepeat = false;
};

// The cursor kinds of the editor; Drum shows the given drum's own cursor.
enum class EditorCursor : uint8_t { Arrow, IBeam, Triangle, Pencil, PencilGrey, PointingHand, Drum };

class PatternEditorInput {
public:
    virtual ~PatternEditorInput() = default;
    virtual void mouseDown(const MouseInput& input) = 0;
    virtual void mouseDragged(const MouseInput& input) = 0;
    // The pointer moved with no button held.
    virtual void mouseMoved(const MouseInput& input) = 0;
    virtual void mouseUp(const MouseInput& input) = 0;
    // The second (or later) press of a multiple click; mouseDown has already been given it.
    virtual void mouseDoubleClicked(const MouseInput& input) = 0;
    // The context-menu gesture (right button or the desktop's menu key) at a canvas point.
    virtual void contextMenu(const MouseInput& input) = 0;
    virtual void mouseExited() = 0;
    // Returns whether the key was used; an unused key goes on to the window.
    virtual bool keyDown(const KeyInput& input) = 0;
    virtual void keyUp(const KeyInput& input) = 0;
    virtual void focusIn() = 0;
    virtual void focusOut() = 0;
};

} // namespace rp::editor
