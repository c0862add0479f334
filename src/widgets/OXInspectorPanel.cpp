#include "widgets/OXInspectorPanel.h"

#include "editor/OXWindowFrame.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace rp::widgets {

namespace {

// The strip along the top by which the panel is dragged when no window manager gives it a title bar.
constexpr int kDragStripHeight = 8;
// Own moves still expected back from the window system; older ones are forgotten.
constexpr size_t kMaxPendingMoves = 16;

OXSnapRect snapRect(const QRect& rect)
{
    return OXFlipRect({ double(rect.x()), double(rect.y()), double(rect.width()), double(rect.height()) });
}

OXRect frameRect(const QRect& rect) { return { rect.x(), rect.y(), rect.width(), rect.height() }; }

std::string frameKey(const QString& name) { return "RPWindowFrame " + name.toStdString(); }

std::string snappingKey(const QString& name)
{
    return OXSnappingDefaultsKey(kOXInspectorPanelClassName, name.toStdString());
}

} // namespace

OXInspectorPanel::OXInspectorPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, kDragStripHeight, 0, 0);
    layout->setSpacing(0);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, &OXInspectorPanel::applicationStateChanged);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!autosaveName_.isEmpty()) {
            saveFrameUsingName(autosaveName_);
        }
    });
}

OXInspectorPanel::~OXInspectorPanel()
{
    setSnappableToWindow(nullptr);
}

void OXInspectorPanel::setContentWidget(QWidget* content)
{
    if (content_ == content) {
        return;
    }
    delete content_;
    content_ = content;
    if (content) {
        layout()->addWidget(content);
    }
}

void OXInspectorPanel::setDefaultSnapPosition(int16_t position, float offset)
{
    defaultSnap_ = { position, offset };
}

void OXInspectorPanel::setFrameAutosaveName(const QString& name)
{
    autosaveName_ = name;
    const auto& defaults = UserDefaults::standard();
    if (auto text = defaults.stringForKey(frameKey(name))) {
        if (auto saved = OXParseFrameString(*text)) {
            const QScreen* primary = QGuiApplication::primaryScreen();
            const QRect available = primary ? primary->availableGeometry() : QRect(0, 0, 1280, 800);
            const OXRect frame = OXConstrainFrameToScreen(saved->window, frameRect(available));
            setGeometry(frame.x, frame.y, frame.width, frame.height);
        }
    }
    std::optional<OXPanelSnap> stored;
    if (auto text = defaults.stringForKey(snappingKey(name))) {
        stored = OXParseSnapString(*text);
    }
    snap_ = stored.value_or(defaultSnap_);
}

void OXInspectorPanel::saveFrameUsingName(const QString& name)
{
    if (name.isEmpty()) {
        return;
    }
    const QScreen* current = screen();
    const OXSavedFrame frame { frameRect(geometry()), frameRect(current ? current->geometry() : QRect()) };
    auto& defaults = UserDefaults::standard();
    defaults.setString(OXFrameString(frame), frameKey(name));
    defaults.setString(OXSnapString(snap_), snappingKey(name));
}

void OXInspectorPanel::orderOut()
{
    wasVisible_ = false;
    hide();
}

void OXInspectorPanel::orderFront()
{
    if (hiddenWhileInactive_) {
        wasVisible_ = true;
    } else if (!isVisible()) {
        show();
    }
}

void OXInspectorPanel::setSnappableToWindow(QWidget* window)
{
    if (window == snappableWindow_) {
        return;
    }
    attach(false);
    snappableWindow_ = window;
    updateTransientParent();
    if (window) {
        snapToWindow();
    }
}

void OXInspectorPanel::snapToWindow()
{
    if (!snap_.isSnapped() || !snappableWindow_ || !windowPlacementAvailable()) {
        attach(false);
        return;
    }
    const QRect panel = frameGeometry();
    const auto origin = OXSnappedOrigin(snapRect(panel), snapRect(snappableWindow_->frameGeometry()), snap_);
    // Back to y-down: the flipped rectangle's top is the panel's y.
    const QPoint target(int(std::lround(origin->x)), int(std::lround(-(origin->y + panel.height()))));
    if (target != pos()) {
        placeAt(target);
    }
    if (!attached_) {
        attach(true);
    }
}

void OXInspectorPanel::setCanBecomeKeyWindow(bool canBecomeKey)
{
    canBecomeKey_ = canBecomeKey;
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowDoesNotAcceptFocus, !canBecomeKey);
    if (visible) {
        show(); // changing the flags hides the window
    }
}

bool OXInspectorPanel::windowPlacementAvailable()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void OXInspectorPanel::applicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive) {
        if (!hiddenWhileInactive_) {
            attach(false);
            wasVisible_ = isVisible();
            hiddenWhileInactive_ = true;
            if (wasVisible_) {
                hide();
            }
        }
        return;
    }
    if (hiddenWhileInactive_) {
        hiddenWhileInactive_ = false;
        if (wasVisible_) {
            show();
        }
    }
    if (snappableWindow_) {
        snapToWindow();
    }
}

void OXInspectorPanel::panelMoved(const QRect& frame)
{
    // Without a window to measure against, a drag says nothing about the snap: keep it.
    if (!snappableWindow_ || !windowPlacementAvailable()) {
        return;
    }
    snap_ = OXSnapForMovedPanel(snapRect(frame), snapRect(snappableWindow_->frameGeometry()));
    snapToWindow();
}

void OXInspectorPanel::placeAt(const QPoint& origin)
{
    ownMoves_.push_back(origin);
    if (ownMoves_.size() > kMaxPendingMoves) {
        ownMoves_.pop_front();
    }
    move(origin);
}

void OXInspectorPanel::attach(bool attached)
{
    if (attached == attached_) {
        return;
    }
    attached_ = attached;
    if (snappableWindow_) {
        if (attached) {
            snappableWindow_->installEventFilter(this);
        } else {
            snappableWindow_->removeEventFilter(this);
        }
    }
}

void OXInspectorPanel::updateTransientParent()
{
    // Window managers keep a transient window above its parent and move it to the parent's desktop.
    QWindow* own = windowHandle();
    if (!own) {
        return;
    }
    QWindow* parent = snappableWindow_ ? snappableWindow_->windowHandle() : nullptr;
    if (own->transientParent() != parent) {
        own->setTransientParent(parent);
    }
}

bool OXInspectorPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == snappableWindow_ && attached_
        && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        snapToWindow();
    }
    return QWidget::eventFilter(watched, event);
}

void OXInspectorPanel::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    const QPoint now = pos();
    const auto own = std::find(ownMoves_.begin(), ownMoves_.end(), now);
    if (own != ownMoves_.end()) {
        // Ours, and every move asked for before it has been overtaken.
        ownMoves_.erase(ownMoves_.begin(), own + 1);
        return;
    }
    if (dragging_ || !isVisible()) {
        return;
    }
    // Moved by someone else: the window manager's title bar, or a tool.
    panelMoved(frameGeometry());
}

void OXInspectorPanel::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    dragging_ = false;
    if (!autosaveName_.isEmpty()) {
        saveFrameUsingName(autosaveName_);
    }
}

void OXInspectorPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateTransientParent();
    if (snappableWindow_) {
        snapToWindow();
    }
}

void OXInspectorPanel::mousePressEvent(QMouseEvent* event)
{
    // Only presses no child took reach here: the panel's background drags it.
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - pos();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void OXInspectorPanel::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint target = event->globalPosition().toPoint() - dragOffset_;
    panelMoved(QRect(target, frameGeometry().size()));
    // Snapped, the panel went where the snap says; released, it goes where the pointer takes it.
    if (!snap_.isSnapped() || !snappableWindow_ || !windowPlacementAvailable()) {
        placeAt(target);
    }
    event->accept();
}

void OXInspectorPanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragging_ && event->button() == Qt::LeftButton) {
        dragging_ = false;
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void OXInspectorPanel::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    const QRect strip(0, 0, width(), kDragStripHeight);
    painter.fillRect(strip, palette().color(QPalette::Mid));
    // A row of grip dots in the middle says "drag here".
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Dark));
    const int centreX = width() / 2;
    for (int i = -3; i <= 3; ++i) {
        painter.drawEllipse(QPoint(centreX + i * 6, kDragStripHeight / 2), 1, 1);
    }
}

} // namespace rp::widgets
