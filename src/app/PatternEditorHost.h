#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPPatternEditor.h"
#include "editor/PatternEditorInput.h"
#endif

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

namespace rp::widgets {
class PatternEditorView;
}

namespace rp::app {

class VelocityPopUp;

// Joins the Qt-free pattern editor to its scrolling canvas: it is the editor's view (canvas size,
// redraws, scrolling, cursors, timers, the velocity pop-up) and hands the canvas's input to the
// editor. Decides nothing itself.
class PatternEditorHost final : public QObject, public ORPPatternEditorView, public editor::PatternEditorInput {
    Q_OBJECT
public:
    PatternEditorHost(widgets::PatternEditorView* view, ORPDrumPicker& picker);
    ~PatternEditorHost() override;

    const std::shared_ptr<ORPPatternEditor>& editor() const { return editor_; }
    // The editor's commands by action name ("paste:", "insertBarAction:", ...); performing one that
    // is disabled does nothing, and an error (bad clipboard data) is shown to the user.
    static bool isCommand(const std::string& actionName);
    void perform(const std::string& actionName);
    widgets::PatternEditorView* view() const { return view_; }
    // What the context menu's Export items do with the selected bars (the mode as argument).
    void setExportSelection(std::function<void(unsigned)> exportSelection) { exportSelection_ = std::move(exportSelection); }

    // --- ORPPatternEditorView ---
    ORPRect visibleRect() const override;
    void setCanvasSize(double width, double height) override;
    void redrawRect(const ORPRect& rect) override;
    void redrawAll() override;
    void scrollRectToVisible(const ORPRect& rect) override;
    void beep() override;
    void setCursor(ORPEditorCursor cursor, const ORPDrumPtr& drum) override;
    bool windowIsKey() const override;
    bool isFirstResponder() const override;
    void makeWindowKey() override;
    bool floatingPanelContains(ORPPoint point) const override;
    void setAutoScrollTimer(bool run) override;
    void setMousePositionTimer(bool run) override;
    void setInsertionBlinkTimer(bool run) override;
    void setPlaybackTimer(bool run) override;
    void showVelocityPopUp(const ORPEventPtr& event, const ORPPatternPtr& pattern, ORPPoint point) override;
    void showEditContextMenu(ORPPoint point) override;
    void dragSelectedBars(ORPPoint point) override;

    // --- editor::PatternEditorInput ---
    void mouseDown(const ORPMouseInput& input) override;
    void mouseDragged(const ORPMouseInput& input) override;
    void mouseMoved(const ORPMouseInput& input) override;
    void mouseUp(const ORPMouseInput& input) override;
    void mouseDoubleClicked(const ORPMouseInput& input) override;
    void contextMenu(const ORPMouseInput& input) override;
    void mouseExited() override;
    bool keyDown(const editor::KeyInput& input) override;
    void keyUp(const editor::KeyInput& input) override;
    void focusIn() override;
    void focusOut() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(unsigned)> exportSelection_;
    // Drag and drop of bars onto the canvas; true when the event was one.
    bool handleDrop(QEvent* event);
    QPixmap barDragPixmap(const ORPBarDragImage& image) const;
    // The pointer where it is now, in canvas coordinates, with the keys held now.
    ORPMouseInput currentPointer() const;
    void autoScroll();

    widgets::PatternEditorView* view_;
    std::shared_ptr<ORPPatternEditor> editor_;
    QTimer autoScrollTimer_;
    QTimer mousePositionTimer_;
    QTimer blinkTimer_;
    QTimer playbackTimer_;
    QPointer<VelocityPopUp> velocityPopUp_;
    bool dragging_ = false;
    uint64_t dropOperation_ = 0;
};

} // namespace rp::app
