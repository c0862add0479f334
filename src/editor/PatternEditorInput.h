#pragma once

#include "editor/ORPPatternEditorView.h"

#include <cstdint>
#include <string>

// What the pattern editor's canvas hands on to the editor: pointer and keyboard input in canvas
// coordinates (points, flipped: y grows downwards) with the editor's modifier flags. Qt-free, so the
// editor's logic and its tests never see Qt; the scrolling view in src/widgets calls it.
namespace rp::editor {

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
    ORPEditorModifiers modifiers;
    bool isAutoRepeat = false;
};

class PatternEditorInput {
public:
    virtual ~PatternEditorInput() = default;
    virtual void mouseDown(const ORPMouseInput& input) = 0;
    virtual void mouseDragged(const ORPMouseInput& input) = 0;
    // The pointer moved with no button held.
    virtual void mouseMoved(const ORPMouseInput& input) = 0;
    virtual void mouseUp(const ORPMouseInput& input) = 0;
    // The second (or later) press of a multiple click; mouseDown has already been given it.
    virtual void mouseDoubleClicked(const ORPMouseInput& input) = 0;
    // The context-menu gesture (right button or the desktop's menu key) at a canvas point.
    virtual void contextMenu(const ORPMouseInput& input) = 0;
    virtual void mouseExited() = 0;
    // Returns whether the key was used; an unused key goes on to the window.
    virtual bool keyDown(const KeyInput& input) = 0;
    virtual void keyUp(const KeyInput& input) = 0;
    virtual void focusIn() = 0;
    virtual void focusOut() = 0;
};

} // namespace rp::editor
