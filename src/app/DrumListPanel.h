#pragma once

#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace rp::widgets {
class DrumPickerView;
}

namespace rp::app {

// The floating drum list: one tool window for the application that shows the drum picker of the
// front song window. Each window owns its picker; the panel only borrows its view.
class DrumListPanel final : public QWidget {
    Q_OBJECT
public:
    explicit DrumListPanel(QWidget* parent = nullptr);

    // Shows `picker` (the front window's), giving the one shown before back to its window; none
    // hides the panel. `beside` is the window the panel is placed next to the first time.
    void showPicker(widgets::DrumPickerView* picker, QWidget* beside);
    widgets::DrumPickerView* picker() const { return picker_; }

private:
    QVBoxLayout* layout_ = nullptr;
    QPointer<widgets::DrumPickerView> picker_;
    QPointer<QWidget> pickerOwner_;
    bool placed_ = false;
};

} // namespace rp::app
