#include "app/PatternEditorHost.h"
#include "app/SongExport.h"

#include "app/QtPrompt.h"
#include "app/VelocityPopUp.h"
#include "foundation/Localization.h"
#include "foundation/UserDefaults.h"
#include "editor/ORPPatternDrawList.h"
#include "editor/PasteboardTypes.h"
#include "widgets/InterfaceFonts.h"
#include "widgets/PatternDrawPainter.h"
#include "widgets/OXPasteboard.h"
#include "widgets/PatternEditorView.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
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
    // Bars dragged within the editor, from another song window or from another copy of the program.
    view_->viewport()->setAcceptDrops(true);
    view_->viewport()->installEventFilter(this);
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
        if (exportSelection_) {
            // Copies of the Export Selection menu's items, for the selected bars.
            menu.addSeparator();
            QMenu* exportMenu = menu.addMenu(QString::fromStdString(localized("Export")));
            const auto& titles = exportMenuItemTitles();
            for (size_t mode = 0; mode < titles.size(); ++mode) {
                QAction* item = exportMenu->addAction(QString::fromStdString(localized(titles[mode])));
                item->setProperty("actionName", "exportSelectionAudio:");
                item->setProperty("tag", static_cast<int>(mode));
                // Queued: the export's panel must not open inside the context menu's own loop.
                connect(item, &QAction::triggered, this, [this, mode] {
                    QMetaObject::invokeMethod(this, [this, mode] {
                        if (exportSelection_) {
                            exportSelection_(static_cast<unsigned>(mode));
                        }
                    }, Qt::QueuedConnection);
                });
            }
        }
    }
    menu.exec(view_->viewport()->mapToGlobal(view_->viewportPointFromCanvas(point).toPoint()));
}

namespace {

Qt::DropActions qtActions(uint64_t operations)
{
    Qt::DropActions actions;
    if (operations & ORPDragOperationCopy) {
        actions |= Qt::CopyAction;
    }
    if (operations & ORPDragOperationMove) {
        actions |= Qt::MoveAction;
    }
    return actions;
}

uint64_t editorOperations(Qt::DropActions actions)
{
    uint64_t operations = ORPDragOperationNone;
    if (actions & Qt::CopyAction) {
        operations |= ORPDragOperationCopy;
    }
    if (actions & Qt::MoveAction) {
        operations |= ORPDragOperationMove;
    }
    return operations;
}

Qt::DropAction qtAction(uint64_t operation)
{
    return operation & ORPDragOperationMove ? Qt::MoveAction : operation & ORPDragOperationCopy ? Qt::CopyAction : Qt::IgnoreAction;
}

} // namespace

QPixmap PatternEditorHost::barDragPixmap(const ORPBarDragImage& image) const
{
    const qreal ratio = view_->devicePixelRatioF();
    QPixmap pixmap(QSize(static_cast<int>(std::ceil(image.width * ratio)), static_cast<int>(std::ceil(image.height * ratio))));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    widgets::PatternDrawPainter barPainter(view_->palette());
    // Back to front: each bar as the editor draws it, one step to the right of the one before.
    for (size_t i = 0; i < image.bars.size(); ++i) {
        const ORPRect frame = image.bars[i]->frame();
        ORPPatternDrawState state;
        state.dirtyRect = frame;
        state.visibleRect = frame;
        const auto list = ORPPatternDrawList::build(*editor_, state, barPainter);
        painter.save();
        painter.translate(ORPBarDragImage::kStep * static_cast<double>(i), 0);
        painter.setClipRect(QRectF(0, 0, frame.width, frame.height));
        barPainter.paint(painter, list, QPointF(frame.x, frame.y));
        painter.restore();
    }
    if (!image.label.empty()) {
        const QRectF band(image.labelBand.x, image.labelBand.y, image.labelBand.width, image.labelBand.height);
        painter.fillRect(band, QColor::fromRgbF(1, 1, 1, ORPBarDragImage::kLabelBandOpacity));
        painter.setFont(widgets::interfaceFont("Helvetica", ORPBarDragImage::kLabelPointSize));
        painter.setPen(Qt::gray);
        painter.drawText(band, Qt::AlignCenter, QString::fromStdString(image.label));
    }
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(0.5, 0.5, image.width - 1, image.height - 1));
    painter.end();

    QPixmap faded(pixmap.size());
    faded.setDevicePixelRatio(ratio);
    faded.fill(Qt::transparent);
    QPainter fade(&faded);
    fade.setOpacity(ORPBarDragImage::kOpacity);
    fade.drawPixmap(0, 0, pixmap);
    return faded;
}

void PatternEditorHost::dragSelectedBars(ORPPoint point)
{
    const ORPBarDragImage image = editor_->barDragImage(point);
    const auto data = editor_->dataForSelectedPatterns();
    editor::ORPMemoryPasteboard items;
    items.declareTypes(ORPPatternEditor::writableTypes());
    for (const auto& type : ORPPatternEditor::writableTypes()) {
        items.setData(type, data);
    }
    auto* drag = new QDrag(view_);
    drag->setMimeData(new OXPasteboardMimeData(std::move(items)));
    drag->setPixmap(barDragPixmap(image));
    drag->setHotSpot(QPoint(static_cast<int>(point.x - image.x), static_cast<int>(point.y - image.y)));
    dragging_ = false;
    drag->exec(qtActions(ORPPatternEditor::barDragSourceOperations()), Qt::MoveAction);
    editor_->barDragEnded();
}

bool PatternEditorHost::handleDrop(QEvent* event)
{
    auto* drop = static_cast<QDropEvent*>(event);
    const OXMimePasteboard dropped(drop->mimeData());
    const bool ours = dropped.hasType(editor::ORPPattisForBarsPboardType);
    // A drag this editor started has its view as source (the source is known in this process only).
    const bool fromHere = drop->source() == view_;
    const ORPPoint point = view_->canvasPointFromViewport(drop->position());
    switch (event->type()) {
    case QEvent::DragEnter:
        if (!ours) {
            return false;
        }
        editor_->barDragEntered();
        drop->acceptProposedAction();
        return true;
    case QEvent::DragMove: {
        const uint64_t operation = editor_->barDragUpdated(point, fromHere, editorOperations(drop->possibleActions()));
        // The drop takes the operation decided here: Qt's own drop action follows the modifiers only.
        dropOperation_ = operation;
        if (operation == ORPDragOperationNone) {
            drop->ignore();
        } else {
            drop->setDropAction(qtAction(operation));
            drop->accept();
        }
        return true;
    }
    case QEvent::DragLeave:
        editor_->barDragExited();
        return true;
    case QEvent::Drop: {
        const uint64_t operation = dropOperation_;
        const auto bytes = dropped.data(editor::ORPPattisForBarsPboardType);
        Error error;
        bool done = false;
        if (bytes && editor_->prepareForBarDrop(fromHere, operation)) {
            done = editor_->performBarDrop(fromHere, operation, *bytes, &error);
        }
        if (done) {
            drop->setDropAction(qtAction(operation));
            drop->accept();
        } else {
            drop->ignore();
            if (!error.description.empty()) {
                QtPrompt().presentError(error);
            }
        }
        return true;
    }
    default:
        return false;
    }
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
    if (watched == view_->viewport()
        && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::DragLeave
            || event->type() == QEvent::Drop)) {
        return handleDrop(event);
    }
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
