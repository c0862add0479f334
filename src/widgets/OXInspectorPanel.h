#pragma once

#include "editor/OXPanelSnapping.h"

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <deque>

namespace rp::widgets {

// A floating tool window that snaps to one outside edge of a "snappable" window (the front song
// window) and follows it when that window moves or resizes. Dragging the panel (by its window title
// or its empty background) near one of the window's edges snaps it there; farther away it floats.
// The snap is kept in the defaults under "OXInspectorPanel Snapping <autosave name>" and the frame
// under "RPWindowFrame <autosave name>". While the application is inactive the panel is hidden.
//
// The geometry lives in editor/OXPanelSnapping; this class only converts Qt's frames and moves.
// Windows can place themselves only on X11: on Wayland the panel floats where the compositor puts it.
class OXInspectorPanel : public QWidget {
    Q_OBJECT
public:
    explicit OXInspectorPanel(QWidget* parent = nullptr);
    ~OXInspectorPanel() override;

    // The panel's content: fills it below the drag strip. The panel takes ownership; a previous
    // content widget is deleted.
    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return content_; }

    // The snap used when the defaults hold none for this panel.
    void setDefaultSnapPosition(int16_t position, float offset);

    // Restores the frame and the snap stored under `name` (or the default snap); later saves go there.
    void setFrameAutosaveName(const QString& name);
    QString frameAutosaveName() const { return autosaveName_; }
    // Stores the frame and the snap under `name`.
    void saveFrameUsingName(const QString& name);

    // Hides the panel for good (not only while the application is inactive) and saves its frame.
    void orderOut();
    // Shows the panel, or, while the application is inactive, marks it to be shown on return.
    void orderFront();

    // The window to snap to, or none. Snaps at once when there is one.
    void setSnappableToWindow(QWidget* window);
    QWidget* snappableWindow() const { return snappableWindow_; }
    // Places the panel at its snap against the snappable window and follows that window from then
    // on; an unsnapped panel stops following.
    void snapToWindow();

    int16_t windowSnapPosition() const { return snap_.position; }
    float windowSnapOffset() const { return snap_.offset; }

    bool canBecomeKeyWindow() const { return canBecomeKey_; }
    void setCanBecomeKeyWindow(bool canBecomeKey);

    // False where windows cannot place themselves (Wayland): panels then never snap.
    static bool windowPlacementAvailable();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applicationStateChanged(Qt::ApplicationState state);
    // The user put the panel's frame at `frame` (Qt coordinates): re-evaluate the snap and place it.
    void panelMoved(const QRect& frame);
    void placeAt(const QPoint& origin);
    void attach(bool attached);
    void updateTransientParent();

    QPointer<QWidget> snappableWindow_;
    QPointer<QWidget> content_;
    QString autosaveName_;
    OXPanelSnap defaultSnap_;
    OXPanelSnap snap_;
    bool canBecomeKey_ = true;
    bool attached_ = false;
    // Hidden by us because the application went inactive; `wasVisible_` says whether to come back.
    bool hiddenWhileInactive_ = false;
    bool wasVisible_ = false;
    // Origins we moved the panel to ourselves whose move events may still be on their way (X11
    // reports moves later): these are not user drags.
    std::deque<QPoint> ownMoves_;
    bool dragging_ = false;
    QPoint dragOffset_;
};

} // namespace rp::widgets
