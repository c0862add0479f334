#pragma once

#include "widgets/OXInspectorPanel.h"

#include <QPointer>

class QVBoxLayout;

namespace rp::widgets {
class DrumPickerView;
}

namespace rp::app {

// The floating drum list: one inspector panel for the application that shows the drum picker of the
// front song window and snaps to that window (by default left of it, 51 points down from its top).
// Each window owns its picker; the panel only borrows its view. It never takes the keyboard: keys
// stay with the song window's editor.
class DrumListPanel final : public widgets::OXInspectorPanel {
    Q_OBJECT
public:
    static constexpr int16_t kDefaultSnapPosition = 4;
    static constexpr float kDefaultSnapOffset = 51;

    explicit DrumListPanel(QWidget* parent = nullptr);

    // Shows `picker` (the front window's), giving the one shown before back to its window, and snaps
    // to `beside`; none hides the panel.
    void showPicker(widgets::DrumPickerView* picker, QWidget* beside);
    widgets::DrumPickerView* picker() const { return picker_; }

private:
    QVBoxLayout* layout_ = nullptr;
    QPointer<widgets::DrumPickerView> picker_;
    QPointer<QWidget> pickerOwner_;
};

} // namespace rp::app
