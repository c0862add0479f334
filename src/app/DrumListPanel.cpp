#include "app/DrumListPanel.h"

#include "foundation/Localization.h"
#include "widgets/DrumPickerView.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace rp::app {

DrumListPanel::DrumListPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QString::fromStdString(localized("Drums")));
    setProperty("probeKind", "panel");
    setProperty("panelKind", "drumList");
    setAttribute(Qt::WA_ShowWithoutActivating);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    resize(220, 420);
}

void DrumListPanel::showPicker(widgets::DrumPickerView* picker, QWidget* beside)
{
    if (picker != picker_) {
        if (picker_) {
            layout_->removeWidget(picker_);
            picker_->hide();
            picker_->setParent(pickerOwner_);
        }
        picker_ = picker;
        pickerOwner_ = picker ? picker->parentWidget() : nullptr;
        if (picker_) {
            picker_->setParent(this);
            layout_->addWidget(picker_);
            picker_->show();
        }
    }
    if (!picker_) {
        hide();
        return;
    }
    if (!placed_ && beside) {
        // Beside the window's right edge, or inside its right edge when the screen ends there.
        const QRect frame = beside->frameGeometry();
        const QScreen* screen = beside->screen() ? beside->screen() : QGuiApplication::primaryScreen();
        const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        int x = frame.right() + 1;
        if (x + width() > available.right()) {
            x = std::max(available.left(), frame.right() - width());
        }
        move(x, std::max(available.top(), frame.top()));
        resize(width(), std::min(frame.height(), available.height()));
        placed_ = true;
    }
    if (!isVisible()) {
        show();
    }
}

} // namespace rp::app
