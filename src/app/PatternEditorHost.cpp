#include "app/PatternEditorHost.h"

#include "app/QtPrompt.h"
#include "app/VelocityPopUp.h"
#include "foundation/Localization.h"
#include "foundation/UserDefaults.h"
#include "widgets/PatternEditorView.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QScrollBar>

#include <functional>
#include <map>

namespace rp::app {

namespace {

constexpr int kAutoScrollMs = 100;
constexpr int kMousePositionMs = 100;
constexpr int kBlinkMs = 560;
constexpr int kPlaybackMs = 50;

using EditorCommand = std::function<std::optional<Error>(ORPPatternEditor&)>;

template <class F> EditorCommand command(F f)
{
    return [f](ORPPatternEditor& editor) -> std::optional<Error> {
        f(editor);
        return std::nullopt;
    };
}

const std::map<std::string, EditorCommand>& editorCommands()
{
    static const std::map<std::string, EditorCommand> commands = {
        { "copy:", command([](ORPPatternEditor& e) { e.copy(); }) },
        { "cut:", command([](ORPPatternEditor& e) { e.cut(); }) },
        { "clear:", command([](ORPPatternEditor& e) { e.clear(); }) },
        { "paste:", [](ORPPatternEditor& e) { return e.paste(); } },
        { "pasteOver:", [](ORPPatternEditor& e) { return e.pasteOver(); } },
        { "selectAll:", command([](ORPPatternEditor& e) { e.selectAll(); }) },
        { "deselectAll:", command([](ORPPatternEditor& e) { e.deselectAll(); }) },
        { "insertBarAction:", command([](ORPPatternEditor& e) { e.insertBarAction(); }) },
        { "insertBeatAction:", command([](ORPPatternEditor& e) { e.insertBeatAction(); }) },
        { "deleteBeatsAction:", command([](ORPPatternEditor& e) { e.deleteBeatsAction(); }) },
        { "zoomIn:", command([](ORPPatternEditor& e) { e.performZoom(true, false); }) },
        { "zoomOut:", command([](ORPPatternEditor& e) { e.performZoom(false, false); }) },
        { "zoomSelectionIn:", command([](ORPPatternEditor& e) { e.performZoom(true, true); }) },
        { "zoomSelectionOut:", command([](ORPPatternEditor& e) { e.performZoom(false, true); }) },
        { "playOrStopAction:", command([](ORPPatternEditor& e) { e.playOrStopAction(); }) },
        { "playOnceAction:", command([](ORPPatternEditor& e) { e.playOnceAction(); }) },
    };
    return commands;
}


} // namespace

PatternEditorHost::PatternEditorHost(widgets::PatternEditorView* view, ORPDrumPicker& picker)
    : QObject(view)
    , view_(view)
{
    editor_ = std::make_shared<ORPPatternEditor>(*this, UserDefaults::standard());
    editor_->setDrumPicker(&picker);
    view_->setSource(editor_.get());
    view_->setInput(this);
    view_->setLineStep(editor_->rowHeight());

    autoScrollTimer_.setInterval(kAutoScrollMs);
    mousePositionTimer_.setInterval(kMousePositionMs);
    blinkTimer_.setInterval(kBlinkMs);
    connect(&autoScrollTimer_, &QTimer::timeout, this, &PatternEditorHost::autoScroll);
    connect(&mousePositionTimer_, &QTimer::timeout, this, [this] {
        if (!dragging_ && !velocityPopUp_) {
            const ORPMouseInput pointer = currentPointer();
            editor_->checkMousePosition(pointer.point, pointer.modifiers);
        }
    });
    connect(&blinkTimer_, &QTimer::timeout, this, [this] { editor_->blinkInsertionPoint(); });
    playbackTimer_.setInterval(kPlaybackMs);
    connect(&playbackTimer_, &QTimer::timeout, this, [this] { editor_->playbackHeartbeat(); });
    connect(view_, &widgets::PatternEditorView::viewportResized, this, [this] { editor_->adjustLayout(); });
    connect(view_, &widgets::PatternEditorView::scrolled, this, [this] { editor_->adjustScroll(); });
    view_->window()->installEventFilter(this);
}

PatternEditorHost::~PatternEditorHost()
{
    view_->setInput(nullptr);
    view_->setSource(nullptr);
}

bool PatternEditorHost::isCommand(const std::string& actionName)
{
    return editorCommands().count(actionName) > 0;
}

void PatternEditorHost::perform(const std::string& actionName)
{
    const auto found = editorCommands().find(actionName);
    if (found == editorCommands().end() || !editor_->validateAction(actionName).enabled) {
        return;
    }
    if (const auto error = found->second(*editor_)) {
        QtPrompt().presentError(*error);
    }
}

// --- ORPPatternEditorView ---

ORPRect PatternEditorHost::visibleRect() const
{
    return view_->visibleCanvasRect();
}

void PatternEditorHost::setCanvasSize(double width, double height)
{
    view_->setCanvasSize(width, height);
    view_->setLineStep(editor_ ? editor_->rowHeight() : 1.0);
}

void PatternEditorHost::redrawRect(const ORPRect& rect)
{
    // The blink phase is the editor's; the canvas reads it when it paints.
    view_->setBlinkShown(editor_->insertionBlink());
    view_->redrawCanvasRect(rect);
}

void PatternEditorHost::redrawAll()
{
    view_->setBlinkShown(editor_->insertionBlink());
    view_->redrawAll();
}

void PatternEditorHost::scrollRectToVisible(const ORPRect& rect)
{
    view_->scrollCanvasRectToVisible(rect);
}

void PatternEditorHost::beep()
{
    QApplication::beep();
}

void PatternEditorHost::setCursor(ORPEditorCursor cursor, const ORPDrumPtr& drum)
{
    view_->setEditorCursor(cursor, drum.get());
}

bool PatternEditorHost::windowIsKey() const
{
    return view_->window()->isActiveWindow();
}

bool PatternEditorHost::isFirstResponder() const
{
    return view_->hasFocus();
}

void PatternEditorHost::makeWindowKey()
{
    QWidget* window = view_->window();
    if (!window->isActiveWindow()) {
        window->raise();
        window->activateWindow();
    }
}

bool PatternEditorHost::floatingPanelContains(ORPPoint) const
{
    // No floating panel lies over the editor yet: the drum list floats beside the window.
    return false;
}

void PatternEditorHost::setAutoScrollTimer(bool run)
{
    run ? autoScrollTimer_.start() : autoScrollTimer_.stop();
}

void PatternEditorHost::setMousePositionTimer(bool run)
{
    run ? mousePositionTimer_.start() : mousePositionTimer_.stop();
}

void PatternEditorHost::setInsertionBlinkTimer(bool run)
{
    run ? blinkTimer_.start() : blinkTimer_.stop();
}

void PatternEditorHost::setPlaybackTimer(bool run)
{
    run ? playbackTimer_.start() : playbackTimer_.stop();
}

void PatternEditorHost::showVelocityPopUp(const ORPEventPtr&, const ORPPatternPtr&, ORPPoint point)
{
    if (velocityPopUp_) {
        velocityPopUp_->close();
    }
    velocityPopUp_ = new VelocityPopUp(editor_->eventMenuController(), [this] { editor_->velocityPopUpClosed(); }, view_);
    const QPoint topLeft = view_->viewport()->mapToGlobal(view_->viewportPointFromCanvas(point).toPoint());
    velocityPopUp_->popUpAt(topLeft);
}

void PatternEditorHost::showEditContextMenu(ORPPoint point)
{
    QMenu menu(view_);
    auto addCommand = [this, &menu](const char* title, const char* actionName) {
        const auto state = editor_->validateAction(actionName);
        QAction* action = menu.addAction(QString::fromStdString(localized(state.title.value_or(title))));
        action->setProperty("actionName", actionName);
        action->setEnabled(state.enabled);
        connect(action, &QAction::triggered, this, [this, name = std::string(actionName)] { perform(name); });
        return action;
    };
    // The standard editing commands first, then the bar commands that apply here.
    addCommand("Cut", "cut:");
    addCommand("Copy", "copy:");
    addCommand("Paste", "paste:");
    addCommand("Delete", "clear:");
    addCommand("Select All", "selectAll:");
    menu.addSeparator();
    for (auto [title, actionName] : { std::pair { "Insert Bar", "insertBarAction:" }, { "Insert Beat", "insertBeatAction:" } }) {
        if (editor_->validateAction(actionName).enabled) {
            addCommand(title, actionName);
        }
    }
    if (editor_->hasSelection()) {
        menu.addSeparator();
        addCommand("Play", "playOnceAction:");
    }
    menu.exec(view_->viewport()->mapToGlobal(view_->viewportPointFromCanvas(point).toPoint()));
}

void PatternEditorHost::dragSelectedBars(ORPPoint)
{
    // Moving bars by dragging is not built yet; the selecting drag goes on as a bar selection.
}

// --- Input from the canvas ---

void PatternEditorHost::mouseDown(const ORPMouseInput& input)
{
    // Qt gives no hover before the first press of a fresh pointer: bring the hover state up to date.
    editor_->hoverUpdate(input);
    dragging_ = true;
    editor_->mouseDown(input);
    setAutoScrollTimer(true);
}

void PatternEditorHost::mouseDragged(const ORPMouseInput& input)
{
    editor_->mouseDragged(input);
}

void PatternEditorHost::mouseMoved(const ORPMouseInput& input)
{
    editor_->hoverUpdate(input);
}

void PatternEditorHost::mouseUp(const ORPMouseInput& input)
{
    dragging_ = false;
    editor_->mouseUp(input);
    setAutoScrollTimer(false);
}

void PatternEditorHost::mouseDoubleClicked(const ORPMouseInput&)
{
    // The double click already reached the editor as a press with a click count of 2.
}

void PatternEditorHost::contextMenu(const ORPMouseInput& input)
{
    editor_->rightMouseDown(input);
}

void PatternEditorHost::mouseExited()
{
    editor_->hoverUpdate(currentPointer());
}

bool PatternEditorHost::keyDown(const editor::KeyInput& input)
{
    return editor_->keyDown(input);
}

void PatternEditorHost::keyUp(const editor::KeyInput&) { }

void PatternEditorHost::focusIn()
{
    editor_->firstResponderChanged();
}

void PatternEditorHost::focusOut()
{
    editor_->firstResponderChanged();
}

bool PatternEditorHost::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view_->window()
        && (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)) {
        editor_->windowKeyChanged(event->type() == QEvent::WindowActivate);
    }
    return QObject::eventFilter(watched, event);
}

ORPMouseInput PatternEditorHost::currentPointer() const
{
    ORPMouseInput input;
    input.point = view_->canvasPointFromViewport(QPointF(view_->viewport()->mapFromGlobal(QCursor::pos())));
    input.modifiers = widgets::editorModifiers(QApplication::queryKeyboardModifiers());
    return input;
}

void PatternEditorHost::autoScroll()
{
    if (!(QApplication::mouseButtons() & Qt::LeftButton)) {
        return;
    }
    // Scroll towards a pointer outside the visible part, then let the drag act where it now is.
    const ORPMouseInput pointer = currentPointer();
    view_->scrollCanvasRectToVisible({ pointer.point.x - 1, pointer.point.y - 1, 2, 2 });
    editor_->mouseDragged(currentPointer());
}

} // namespace rp::app
