#include "app/DrumListPanel.h"

#include "foundation/Localization.h"
#include "widgets/DrumPickerView.h"

#include <QVBoxLayout>

namespace rp::app {

DrumListPanel::DrumListPanel(QWidget* parent)
    : OXInspectorPanel(parent)
{
    setWindowTitle(QString::fromStdString(localized("Drums")));
    setProperty("probeKind", "panel");
    setProperty("panelKind", "drumList");
    auto* content = new QWidget;
    layout_ = new QVBoxLayout(content);
    layout_->setContentsMargins(0, 0, 0, 0);
    setContentWidget(content);
    resize(220, 420);
    setCanBecomeKeyWindow(false);
    setDefaultSnapPosition(kDefaultSnapPosition, kDefaultSnapOffset);
    setFrameAutosaveName(QStringLiteral("DrumListPanel"));
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
            picker_->setParent(layout_->parentWidget());
            layout_->addWidget(picker_);
            picker_->show();
        }
    }
    if (!picker_) {
        setSnappableToWindow(nullptr);
        orderOut();
        return;
    }
    setSnappableToWindow(beside);
    orderFront();
}

} // namespace rp::app
