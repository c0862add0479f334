#include "app/VelocityPopUp.h"

#include "editor/ORPPatternEditor.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

namespace rp::app {

namespace {
constexpr int kSliderSteps = 1000; // velocity 0..1 in thousandths
}

VelocityPopUp::VelocityPopUp(ORPEventMenuController& controller, std::function<void()> closed, QWidget* parent)
    : QFrame(parent, Qt::Popup)
    , controller_(controller)
    , closed_(std::move(closed))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setProperty("probeKind", "panel");
    setProperty("panelKind", "velocity");
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setRange(0, kSliderSteps);
    slider_->setMinimumWidth(140);
    slider_->setProperty("probeName", "velocitySlider");
    field_ = new QLineEdit;
    field_->setReadOnly(true);
    field_->setFixedWidth(36);
    field_->setAlignment(Qt::AlignRight);
    field_->setProperty("probeName", "velocityField");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(slider_);
    layout->addWidget(field_);
    slider_->installEventFilter(this);
    installEventFilter(this);
    setMouseTracking(true);
    slider_->setMouseTracking(true);

    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        controller_.velocityChanged(static_cast<float>(value) / kSliderSteps);
        field_->setText(QString::fromStdString(controller_.fieldText()));
    });
}

void VelocityPopUp::popUpAt(const QPoint& topLeft)
{
    {
        const QSignalBlocker block(slider_);
        slider_->setValue(static_cast<int>(controller_.sliderValue() * kSliderSteps + 0.5f));
    }
    field_->setText(QString::fromStdString(controller_.fieldText()));
    adjustSize();
    move(topLeft);
    show();
    shown_.start();
    moved_ = false;
}

void VelocityPopUp::followPointer(const QPoint& globalPosition)
{
    QStyleOptionSlider option;
    option.initFrom(slider_);
    option.orientation = Qt::Horizontal;
    option.minimum = slider_->minimum();
    option.maximum = slider_->maximum();
    const QRect groove = slider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider_);
    const QRect handle = slider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider_);
    const int span = std::max(1, groove.width() - handle.width());
    const int x = slider_->mapFromGlobal(globalPosition).x() - groove.x() - handle.width() / 2;
    slider_->setValue(QStyle::sliderValueFromPosition(slider_->minimum(), slider_->maximum(), x, span));
}

bool VelocityPopUp::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint global = mouse->globalPosition().toPoint();
        const bool overSlider = slider_->rect().contains(slider_->mapFromGlobal(global));
        if (mouse->buttons() != Qt::NoButton && overSlider) {
            moved_ = true;
            followPointer(global);
            return true;
        }
        if (event->type() == QEvent::MouseButtonPress && !rect().contains(mapFromGlobal(global))) {
            close();
            return true;
        }
        return watched == slider_;
    }
    case QEvent::MouseButtonRelease:
        // The button that opened (or drove) the panel came up: done, unless it was a quick click.
        if (moved_ || shown_.elapsed() > 400) {
            close();
        }
        moved_ = true;
        return true;
    default:
        return QFrame::eventFilter(watched, event);
    }
}

void VelocityPopUp::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    if (closed_) {
        auto closed = std::move(closed_);
        closed_ = nullptr;
        closed();
    }
}

} // namespace rp::app
