#include "widgets/PatternEditorView.h"

#include "widgets/EditorImages.h"
#include "widgets/PatternDrawPainter.h"

#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>

namespace rp::widgets {
namespace {

using EditorCursor = ORPEditorCursor;
using editor::EditorKey;

// Scroll bars count whole points; a canvas beyond their range scrolls as far as they reach.
int clampToScrollRange(double value)
{
    return static_cast<int>(std::clamp(std::ceil(value), 0.0, static_cast<double>(INT_MAX)));
}

EditorKey editorKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
        return EditorKey::Left;
    case Qt::Key_Right:
        return EditorKey::Right;
    case Qt::Key_Up:
        return EditorKey::Up;
    case Qt::Key_Down:
        return EditorKey::Down;
    case Qt::Key_Home:
        return EditorKey::Home;
    case Qt::Key_End:
        return EditorKey::End;
    case Qt::Key_PageUp:
        return EditorKey::PageUp;
    case Qt::Key_PageDown:
        return EditorKey::PageDown;
    case Qt::Key_Delete:
        return EditorKey::Delete;
    case Qt::Key_Backspace:
        return EditorKey::Backspace;
    case Qt::Key_Return:
        return EditorKey::Return;
    case Qt::Key_Enter:
        return EditorKey::Enter;
    case Qt::Key_Escape:
        return EditorKey::Escape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return EditorKey::Tab;
    case Qt::Key_Space:
        return EditorKey::Space;
    default:
        return EditorKey::Other;
    }
}

// The key's character as printed, with Shift applied: with Ctrl, Meta or Alt held the typed text is a
// control character (or nothing), so the character comes from the key itself.
std::string keyCharacters(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers held = event.modifiers();
    if (!(held & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier))) {
        const QString text = event.text();
        return text.size() == 1 && !text.at(0).isPrint() ? std::string() : text.toStdString();
    }
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        const char letter = static_cast<char>((held & Qt::ShiftModifier ? 'A' : 'a') + (key - Qt::Key_A));
        return std::string(1, letter);
    }
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) {
        return std::string(1, static_cast<char>(key));
    }
    return {};
}

} // namespace

ORPEditorModifiers editorModifiers(Qt::KeyboardModifiers modifiers)
{
    ORPEditorModifiers flags;
    flags.shift = modifiers.testFlag(Qt::ShiftModifier);
    flags.command = modifiers.testFlag(Qt::ControlModifier);
    flags.option = modifiers.testFlag(Qt::AltModifier);
    flags.control = modifiers.testFlag(Qt::MetaModifier);
    return flags;
}

PatternEditorView::PatternEditorView(QWidget* parent)
    : QAbstractScrollArea(parent)
    , painter_(std::make_unique<PatternDrawPainter>(palette()))
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setCursor(Qt::ArrowCursor);
    horizontalScrollBar()->setSingleStep(18);
    verticalScrollBar()->setSingleStep(18);
}

PatternEditorView::~PatternEditorView() = default;

void PatternEditorView::setSource(const ORPPatternDrawSource* source)
{
    source_ = source;
    viewport()->update();
}

void PatternEditorView::setInput(editor::PatternEditorInput* input)
{
    input_ = input;
}

void PatternEditorView::setBlinkShown(bool shown)
{
    blinkShown_ = shown;
}

void PatternEditorView::setCanvasSize(double width, double height)
{
    canvasWidth_ = std::max(0.0, width);
    canvasHeight_ = std::max(0.0, height);
    updateScrollBars();
    viewport()->update();
}

void PatternEditorView::setLineStep(double points)
{
    verticalScrollBar()->setSingleStep(std::max(1, clampToScrollRange(points)));
}

double PatternEditorView::scrollX() const
{
    return horizontalScrollBar()->value();
}

double PatternEditorView::scrollY() const
{
    return verticalScrollBar()->value();
}

void PatternEditorView::updateScrollBars()
{
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, clampToScrollRange(canvasWidth_ - view.width()));
    horizontalScrollBar()->setPageStep(std::max(1, view.width()));
    verticalScrollBar()->setRange(0, clampToScrollRange(canvasHeight_ - view.height()));
    verticalScrollBar()->setPageStep(std::max(1, view.height()));
}

ORPRect PatternEditorView::visibleCanvasRect() const
{
    const QSize view = viewport()->size();
    return { scrollX(), scrollY(), static_cast<double>(view.width()), static_cast<double>(view.height()) };
}

ORPPoint PatternEditorView::canvasPointFromViewport(const QPointF& point) const
{
    return { point.x() + scrollX(), point.y() + scrollY() };
}

QPointF PatternEditorView::viewportPointFromCanvas(const ORPPoint& point) const
{
    return { point.x - scrollX(), point.y - scrollY() };
}

void PatternEditorView::redrawCanvasRect(const ORPRect& rect)
{
    const ORPRect visible = ORPPatternDrawList::intersection(rect, visibleCanvasRect());
    if (visible.width <= 0 || visible.height <= 0)
        return;
    // Whole pixels around the rectangle, so that antialiased edges are repainted too.
    const double x0 = std::floor(visible.x - scrollX()) - 1;
    const double y0 = std::floor(visible.y - scrollY()) - 1;
    const double x1 = std::ceil(visible.x + visible.width - scrollX()) + 1;
    const double y1 = std::ceil(visible.y + visible.height - scrollY()) + 1;
    viewport()->update(QRect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
        static_cast<int>(y1 - y0)));
}

void PatternEditorView::redrawAll()
{
    viewport()->update();
}

void PatternEditorView::scrollCanvasRectToVisible(const ORPRect& rect)
{
    const ORPRect view = visibleCanvasRect();
    auto scrollOne = [](QScrollBar* bar, double start, double length, double viewStart, double viewLength) {
        double target = viewStart;
        if (start < viewStart || length > viewLength)
            target = start;
        else if (start + length > viewStart + viewLength)
            target = start + length - viewLength;
        bar->setValue(clampToScrollRange(std::floor(target)));
    };
    scrollOne(horizontalScrollBar(), rect.x, rect.width, view.x, view.width);
    scrollOne(verticalScrollBar(), rect.y, rect.height, view.y, view.height);
}

void PatternEditorView::setEditorCursor(EditorCursor cursor, const ORPDrum* drum)
{
    cursorKind_ = cursor;
    const qreal ratio = devicePixelRatioF();
    switch (cursor) {
    case EditorCursor::Arrow:
        viewport()->setCursor(Qt::ArrowCursor);
        break;
    case EditorCursor::IBeam:
        viewport()->setCursor(EditorImages::cursor("ibeamcursor", ratio));
        break;
    case EditorCursor::Triangle:
        viewport()->setCursor(EditorImages::cursor("trianglecursor", ratio));
        break;
    case EditorCursor::Pencil:
        viewport()->setCursor(EditorImages::cursor("pencil", ratio));
        break;
    case EditorCursor::PencilGrey:
        viewport()->setCursor(EditorImages::cursor("pencilgrey", ratio));
        break;
    case EditorCursor::PointingHand:
        viewport()->setCursor(Qt::PointingHandCursor);
        break;
    case EditorCursor::Drum:
        if (drum)
            viewport()->setCursor(EditorImages::drumCursor(*drum, ratio));
        else
            viewport()->setCursor(Qt::ArrowCursor);
        break;
    }
}

void PatternEditorView::paintEvent(QPaintEvent* event)
{
    QElapsedTimer timer;
    timer.start();
    QPainter painter(viewport());
    const double sx = scrollX();
    const double sy = scrollY();
    if (!source_) {
        painter.fillRect(event->rect(), palette().color(QPalette::Window));
        return;
    }
    ORPPatternDrawState state;
    state.visibleRect = visibleCanvasRect();
    state.windowIsKey = isActiveWindow();
    state.firstResponder = hasFocus();
    state.blinkShown = blinkShown_;
    for (const QRect& rect : event->region()) {
        state.dirtyRect = { rect.x() + sx, rect.y() + sy, static_cast<double>(rect.width()),
            static_cast<double>(rect.height()) };
        const ORPPatternDrawList list = ORPPatternDrawList::build(*source_, state, *painter_);
        painter.save();
        painter.setClipRect(rect);
        painter_->paint(painter, list, QPointF(sx, sy));
        painter.restore();
    }
    if (paintObserver_)
        paintObserver_(static_cast<double>(timer.nsecsElapsed()) / 1e6);
}

void PatternEditorView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    emit viewportResized();
}

void PatternEditorView::scrollContentsBy(int, int)
{
    // Painting is relative to the scroll offset: repaint what is now in view.
    viewport()->update();
    emit scrolled();
}

ORPMouseInput PatternEditorView::mouseInput(const QMouseEvent& event, int clickCount) const
{
    ORPMouseInput input;
    input.point = canvasPointFromViewport(event.position());
    input.modifiers = editorModifiers(event.modifiers());
    input.button = event.button() == Qt::RightButton ? ORPMouseInput::Button::Right : ORPMouseInput::Button::Left;
    input.clickCount = clickCount;
    return input;
}

editor::KeyInput PatternEditorView::keyInput(const QKeyEvent& event) const
{
    editor::KeyInput input;
    input.key = editorKey(event.key());
    input.modifiers = editorModifiers(event.modifiers());
    input.characters = keyCharacters(event);
    input.isAutoRepeat = event.isAutoRepeat();
    return input;
}

void PatternEditorView::mousePressEvent(QMouseEvent* event)
{
    // The right button opens the context menu (contextMenuEvent); only the left button clicks.
    if (event->button() != Qt::LeftButton || !input_) {
        event->ignore();
        return;
    }
    input_->mouseDown(mouseInput(*event, 1));
}

void PatternEditorView::mouseMoveEvent(QMouseEvent* event)
{
    if (!input_)
        return;
    if (event->buttons() & Qt::LeftButton)
        input_->mouseDragged(mouseInput(*event, 1));
    else
        input_->mouseMoved(mouseInput(*event, 0));
}

void PatternEditorView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !input_)
        return;
    input_->mouseUp(mouseInput(*event, 1));
}

void PatternEditorView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !input_)
        return;
    const ORPMouseInput input = mouseInput(*event, 2);
    input_->mouseDown(input);
    input_->mouseDoubleClicked(input);
}

void PatternEditorView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!input_) {
        event->ignore();
        return;
    }
    ORPMouseInput input;
    input.point = canvasPointFromViewport(QPointF(viewport()->mapFrom(this, event->pos())));
    input.modifiers = editorModifiers(event->modifiers());
    input.button = ORPMouseInput::Button::Right;
    input_->contextMenu(input);
}

void PatternEditorView::keyPressEvent(QKeyEvent* event)
{
    if (!input_ || !input_->keyDown(keyInput(*event)))
        QAbstractScrollArea::keyPressEvent(event);
}

void PatternEditorView::keyReleaseEvent(QKeyEvent* event)
{
    if (input_)
        input_->keyUp(keyInput(*event));
    QAbstractScrollArea::keyReleaseEvent(event);
}

void PatternEditorView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update(); // selection and insertion colours depend on focus
    if (input_)
        input_->focusIn();
}

void PatternEditorView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
    if (input_)
        input_->focusOut();
}

bool PatternEditorView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave && input_)
        input_->mouseExited();
    return QAbstractScrollArea::viewportEvent(event);
}

void PatternEditorView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange)
        viewport()->update(); // the insertion point shows steadily in a background window
    if (event->type() == QEvent::PaletteChange)
        painter_ = std::make_unique<PatternDrawPainter>(palette());
    QAbstractScrollArea::changeEvent(event);
}

} // namespace rp::widgets
