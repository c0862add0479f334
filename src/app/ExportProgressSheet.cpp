#include "app/ExportProgressSheet.h"

#include "app/UiProbe.h"
#include "foundation/Localization.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <filesystem>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

void probeChanged()
{
    if (auto* probe = UiProbe::instance()) {
        probe->scheduleWrite();
    }
}

// The player keeps its progress display past the window's life (a finished export closes it half
// a second later): this forwards only while the sheet is there.
class Relay final : public ORPExportProgress {
public:
    explicit Relay(ExportProgressSheet* sheet)
        : sheet_(sheet)
    {
    }
    void playerWillExportFilename(const std::string& path) override
    {
        if (sheet_) {
            sheet_->playerWillExportFilename(path);
        }
    }
    void playerIsExportingPatternInstance(const ORPPatternInstancePtr&) override
    {
        if (sheet_) {
            sheet_->playerIsExportingPatternInstance();
        }
    }
    void playerDidFinishExport(bool canceled) override
    {
        if (sheet_) {
            sheet_->playerDidFinishExport(canceled);
        }
    }

private:
    QPointer<ExportProgressSheet> sheet_;
};

} // namespace

ExportProgressSheet::ExportProgressSheet(QWidget* window, std::weak_ptr<ORPPlayer> player, size_t instanceCount)
    : QDialog(window)
    , player_(std::move(player))
{
    setProperty("probeKind", "exportProgress");
    setWindowModality(Qt::WindowModal);
    setWindowTitle(qt(localized("Export")));
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(this);
    text_->setProperty("probeName", "exportProgressText");
    text_->setMinimumWidth(360);
    layout->addWidget(text_);
    indicator_ = new QProgressBar(this);
    indicator_->setProperty("probeName", "exportProgressBar");
    indicator_->setRange(0, static_cast<int>(std::min<size_t>(instanceCount, INT_MAX)));
    indicator_->setValue(0);
    layout->addWidget(indicator_);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    button_ = new QPushButton(qt(localized("Cancel")), this);
    button_->setProperty("probeName", "exportProgressButton");
    button_->setShortcut(QKeySequence(Qt::Key_Escape));
    button_->setAutoDefault(false);
    row->addWidget(button_);
    layout->addLayout(row);
    connect(button_, &QPushButton::clicked, this, &ExportProgressSheet::buttonPressed);
    if (window) {
        adjustSize();
        const QRect frame = window->frameGeometry();
        move(frame.x() + (frame.width() - width()) / 2, frame.y() + 40);
    }
}

std::shared_ptr<ORPExportProgress> ExportProgressSheet::progress()
{
    return std::make_shared<Relay>(this);
}

void ExportProgressSheet::playerWillExportFilename(const std::string& path)
{
    text_->setText(qt(localizedFormat("Exporting to %@...", { std::filesystem::path(path).filename().string() })));
    indicator_->setValue(0);
    probeChanged();
}

void ExportProgressSheet::playerIsExportingPatternInstance()
{
    indicator_->setValue(std::min(indicator_->value() + 1, indicator_->maximum()));
    indicator_->repaint();
    button_->setShortcut(QKeySequence(Qt::Key_Escape));
    probeChanged();
}

void ExportProgressSheet::playerDidFinishExport(bool canceled)
{
    if (!canceled) {
        dismiss();
        return;
    }
    canceled_ = true;
    text_->setText(qt(localized("Export canceled.")));
    indicator_->setValue(0);
    button_->setText(qt(localized("OK")));
    button_->setShortcut(QKeySequence(Qt::Key_Return));
    button_->setDefault(true);
    button_->setFocus();
    probeChanged();
}

void ExportProgressSheet::buttonPressed()
{
    if (canceled_) {
        dismiss();
        return;
    }
    if (const auto player = player_.lock()) {
        player->cancelExport();
    }
}

void ExportProgressSheet::dismiss()
{
    // QDialog's own closing goes through reject(), which stands for the button: say it is closing.
    dismissing_ = true;
    done(canceled_ ? QDialog::Rejected : QDialog::Accepted);
    deleteLater();
    probeChanged();
}

void ExportProgressSheet::reject()
{
    // Escape (and the window's close box) act as the button does; the sheet never just vanishes
    // while its export runs.
    if (dismissing_) {
        QDialog::reject();
        return;
    }
    buttonPressed();
}

} // namespace rp::app
