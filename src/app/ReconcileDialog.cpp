#include "app/ReconcileDialog.h"

#include "foundation/Localization.h"
#include "foundation/UserDefaults.h"
#include "player/ORPPlayer.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

constexpr const char* kFrameKey = "NSWindow Frame ReconcilePanel";

// A drum as a picker cell shows it: its type name, then its variant name in parentheses.
QString drumTitle(const ORPDrumPtr& drum)
{
    if (!drum) {
        return {};
    }
    return qt(drum->typeName() + " (" + drum->variantName() + ")");
}

} // namespace

ReconcileDialog::ReconcileDialog(QWidget* parent)
    : QDialog(parent)
{
    setProperty("probeKind", "reconcile");
    setObjectName(QStringLiteral("ReconcilePanel"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    headerText_ = new QLabel(qt(localized(
        "Some drums used by this song are not in the drum kit. Choose the kit's drum that replaces each of them.")));
    headerText_->setWordWrap(true);
    headerText_->setProperty("probeName", "headerText");
    layout->addWidget(headerText_);

    replaceTable_ = new QTableWidget(0, 2);
    replaceTable_->setHorizontalHeaderLabels({ qt(localized("Drum in song")), qt(localized("Replace with")) });
    replaceTable_->verticalHeader()->setVisible(false);
    replaceTable_->verticalHeader()->setDefaultSectionSize(22);
    replaceTable_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    replaceTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    replaceTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    replaceTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    replaceTable_->setProperty("probeName", "replaceTable");
    layout->addWidget(replaceTable_, 1);

    auto* pickRow = new QHBoxLayout;
    pickRow->addWidget(new QLabel(qt(localized("Replace the selected drum with:"))));
    drumPicker_ = new QComboBox;
    drumPicker_->setProperty("probeName", "reconcileDrumPicker");
    drumPicker_->setMinimumWidth(220);
    pickRow->addWidget(drumPicker_, 1);
    layout->addLayout(pickRow);

    auto* buttons = new QDialogButtonBox;
    okButton_ = buttons->addButton(qt(localized("OK")), QDialogButtonBox::AcceptRole);
    okButton_->setDefault(true);
    layout->addWidget(buttons);
    resize(520, 380);

    connect(replaceTable_, &QTableWidget::itemSelectionChanged, this, &ReconcileDialog::rowSelected);
    connect(replaceTable_, &QTableWidget::cellClicked, this, &ReconcileDialog::audition);
    connect(drumPicker_, &QComboBox::activated, this, &ReconcileDialog::drumPicked);
    connect(okButton_, &QPushButton::clicked, this, [this] {
        if (model_ && model_->ok()) {
            accept();
        }
    });
}

ReconcileDialog::~ReconcileDialog() = default;

bool ReconcileDialog::runModal(ReconcilePanelModel& model)
{
    model_ = &model;
    setWindowTitle(qt(model.title()));
    drumPicker_->clear();
    for (const auto& drum : model.kit()->drums()) {
        drumPicker_->addItem(drumTitle(drum));
    }
    refreshRows();
    replaceTable_->selectRow(0);
    model.selectRow(model.rowCount() > 0 ? std::optional<size_t>(0) : std::nullopt);
    refreshPicker();

    // The panel's frame is kept under its autosave name.
    auto& defaults = UserDefaults::standard();
    if (auto saved = defaults.dataForKey(kFrameKey)) {
        restoreGeometry(QByteArray(reinterpret_cast<const char*>(saved->data()), static_cast<qsizetype>(saved->size())));
    }
    const int result = exec();
    const QByteArray geometry = saveGeometry();
    defaults.setData(PropertyData(geometry.begin(), geometry.end()), kFrameKey);
    if (result != QDialog::Accepted) {
        model.close();
    }
    model_ = nullptr;
    return result == QDialog::Accepted && model.modalResult() == 1;
}

void ReconcileDialog::refreshRows()
{
    const int selected = replaceTable_->currentRow();
    replaceTable_->setRowCount(static_cast<int>(model_->rowCount()));
    for (size_t row = 0; row < model_->rowCount(); ++row) {
        replaceTable_->setItem(static_cast<int>(row), 0, new QTableWidgetItem(drumTitle(model_->sourceDrum(row))));
        replaceTable_->setItem(static_cast<int>(row), 1, new QTableWidgetItem(drumTitle(model_->destinationDrum(row))));
    }
    if (selected >= 0) {
        const QSignalBlocker block(replaceTable_);
        replaceTable_->selectRow(selected);
    }
    okButton_->setEnabled(model_->okEnabled());
}

void ReconcileDialog::refreshPicker()
{
    const ORPDrumPtr drum = model_->pickerSelection();
    const auto& drums = model_->kit()->drums();
    const auto it = std::find(drums.begin(), drums.end(), drum);
    const QSignalBlocker block(drumPicker_);
    drumPicker_->setCurrentIndex(it == drums.end() ? -1 : static_cast<int>(it - drums.begin()));
    drumPicker_->setEnabled(model_->selectedRow().has_value());
}

void ReconcileDialog::rowSelected()
{
    if (!model_) {
        return;
    }
    const auto rows = replaceTable_->selectionModel()->selectedRows();
    model_->selectRow(rows.isEmpty() ? std::nullopt : std::optional<size_t>(static_cast<size_t>(rows.front().row())));
    refreshPicker();
}

void ReconcileDialog::drumPicked(int index)
{
    const auto& drums = model_ ? model_->kit()->drums() : std::vector<ORPDrumPtr>();
    if (index < 0 || static_cast<size_t>(index) >= drums.size()) {
        return;
    }
    model_->pickDrum(drums[static_cast<size_t>(index)]);
    refreshRows();
    audition();
}

void ReconcileDialog::audition()
{
    const ORPDrumPtr drum = model_ ? model_->drumToAudition() : nullptr;
    if (!drum) {
        return;
    }
    if (!player_) {
        player_ = ORPPlayer::init();
    }
    if (player_) {
        player_->playDrumSound(drum, 1.0f);
    }
}

} // namespace rp::app
