#pragma once

#include <QElapsedTimer>
#include <QFrame>

#include <functional>

class QLineEdit;
class QSlider;
class ORPEventMenuController;

namespace rp::app {

// The small velocity panel opened on a drum in the editor: a slider and the velocity x 10. The
// pointer drives the slider with whichever button is held; releasing the button closes the panel.
// A quick click that opened it without moving leaves it open until the next click.
class VelocityPopUp final : public QFrame {
    Q_OBJECT
public:
    VelocityPopUp(ORPEventMenuController& controller, std::function<void()> closed, QWidget* parent = nullptr);

    // Shows the panel with its top-left corner at a screen point, the slider at the event's velocity.
    void popUpAt(const QPoint& topLeft);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void followPointer(const QPoint& globalPosition);

    ORPEventMenuController& controller_;
    std::function<void()> closed_;
    QSlider* slider_ = nullptr;
    QLineEdit* field_ = nullptr;
    QElapsedTimer shown_;
    bool moved_ = false;
};

} // namespace rp::app
