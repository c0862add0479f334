#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPDrumPicker.h"
#endif

#include <QWidget>

#include <functional>

class QTableWidget;

namespace rp::widgets {

// The drum list: one row per instrument of the kit (icon, name, variant and, for instruments with
// several variants, an arrow opening the variants menu over the right part of the row) under a
// heading with the kit's name. Shows and forwards to a Qt-free ORPDrumPicker, which decides.
class DrumPickerView final : public QWidget {
    Q_OBJECT
public:
    using IconProvider = std::function<QPixmap(const ORPDrum&)>;

    explicit DrumPickerView(ORPDrumPicker& picker, QWidget* parent = nullptr);
    ~DrumPickerView() override;

    ORPDrumPicker& picker() { return picker_; }
    // Where row icons come from (none: rows show no icon).
    void setIconProvider(IconProvider provider);
    QTableWidget* table() const { return table_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reloadData();
    void selectRow(std::optional<size_t> row);
    void openVariantsMenu(size_t row);

    ORPDrumPicker& picker_;
    QTableWidget* table_ = nullptr;
    IconProvider iconProvider_;
    bool updatingSelection_ = false;
};

} // namespace rp::widgets
