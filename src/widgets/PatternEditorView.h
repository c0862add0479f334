#pragma once

#ifndef Q_MOC_RUN
#include "editor/ORPPatternDrawList.h"
#include "editor/PatternEditorInput.h"
#endif

#include <QAbstractScrollArea>

#include <functional>
#include <memory>

namespace rp::widgets {

class PatternDrawPainter;

// The pattern editor's scrolling canvas. The canvas is virtual and may be far larger than a Qt widget
// can be (a row of thousands of bars): the viewport paints only what is visible, building the draw
// list for the dirty part in canvas points and painting it relative to the scroll offset. Input goes
// to a PatternEditorInput in canvas coordinates.
class PatternEditorView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit PatternEditorView(QWidget* parent = nullptr);
    ~PatternEditorView() override;

    // What to draw and whom to tell about input; neither is owned, both may be null.
    void setSource(const ORPPatternDrawSource* source);
    void setInput(editor::PatternEditorInput* input);
    // The insertion point's blink phase comes from the editor; the view having the keyboard focus is
    // the editor being first responder.
    void setBlinkShown(bool shown);

    // The canvas size in points; the scroll bars follow it.
    void setCanvasSize(double width, double height);
    double canvasWidth() const { return canvasWidth_; }
    double canvasHeight() const { return canvasHeight_; }
    // The part of the canvas in view, in canvas points.
    ORPRect visibleCanvasRect() const;
    // Redraws a canvas rectangle (only the part that is in view).
    void redrawCanvasRect(const ORPRect& rect);
    void redrawAll();
    // Scrolls as little as needed to bring `rect` into view (its top-left corner when it is larger
    // than the view).
    void scrollCanvasRectToVisible(const ORPRect& rect);
    // The vertical line step of the scroll bar (the editor's row height).
    void setLineStep(double points);

    void setEditorCursor(ORPEditorCursor cursor, const ORPDrum* drum = nullptr);
    ORPEditorCursor editorCursor() const { return cursorKind_; }

    ORPPoint canvasPointFromViewport(const QPointF& point) const;
    QPointF viewportPointFromCanvas(const ORPPoint& point) const;
    // Called after every paint with the time it took (milliseconds); for measuring.
    void setPaintObserver(std::function<void(double milliseconds)> observer) { paintObserver_ = std::move(observer); }

signals:
    // The visible area changed size (the editor lays its bars out again) or moved.
    void viewportResized();
    void scrolled();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateScrollBars();
    double scrollX() const;
    double scrollY() const;
    ORPMouseInput mouseInput(const QMouseEvent& event, int clickCount) const;
    editor::KeyInput keyInput(const QKeyEvent& event) const;

    const ORPPatternDrawSource* source_ = nullptr;
    editor::PatternEditorInput* input_ = nullptr;
    std::unique_ptr<PatternDrawPainter> painter_;
    double canvasWidth_ = 0;
    double canvasHeight_ = 0;
    bool blinkShown_ = true;
    ORPEditorCursor cursorKind_ = ORPEditorCursor::Arrow;
    std::function<void(double)> paintObserver_;
};

// The editor's modifier flags for Qt's: Ctrl is Command, Alt is Option, Meta is Control.
ORPEditorModifiers editorModifiers(Qt::KeyboardModifiers modifiers);

} // namespace rp::widgets
