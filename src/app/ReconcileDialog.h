#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPReconcileController.h"
#endif

#include <QDialog>

#include <memory>

class ORPPlayer;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace rp::app {

// The reconcile panel: one row per drum the song uses with the kit drum that will replace it, a
// picker of the kit's drums for the selected row, and OK once every row has a replacement. Closing
// the panel cancels. Application-modal; the rules live in ReconcilePanelModel.
class ReconcileDialog final : public QDialog, public ReconcilePanel {
    Q_OBJECT
public:
    explicit ReconcileDialog(QWidget* parent = nullptr);
    ~ReconcileDialog() override;

    bool runModal(ReconcilePanelModel& model) override;

private:
    void refreshRows();
    void refreshPicker();
    void rowSelected();
    void drumPicked(int index);
    void audition();

    ReconcilePanelModel* model_ = nullptr;
    QLabel* headerText_ = nullptr;
    QTableWidget* replaceTable_ = nullptr;
    QComboBox* drumPicker_ = nullptr;
    QPushButton* okButton_ = nullptr;
    std::shared_ptr<ORPPlayer> player_;
};

} // namespace rp::app
