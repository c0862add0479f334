#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "player/ORPPlayer.h"
#endif

#include <QDialog>
#include <QPointer>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace rp::app {

// The progress sheet of an export: the file being written, a bar over the bars exported, and
// Cancel (Escape). A cancelled export leaves it up with "Export canceled." until OK (Return); a
// finished one closes it. Window-modal on the song window; deletes itself when dismissed.
class ExportProgressSheet final : public QDialog {
    Q_OBJECT
public:
    // A sheet on `window` for an export of `instanceCount` bars by `player`.
    ExportProgressSheet(QWidget* window, std::weak_ptr<ORPPlayer> player, size_t instanceCount);

    // What the player reports to: forwards to the sheet while it exists.
    std::shared_ptr<ORPExportProgress> progress();

    void playerWillExportFilename(const std::string& path);
    void playerIsExportingPatternInstance();
    void playerDidFinishExport(bool canceled);

protected:
    void reject() override;

private:
    void buttonPressed();
    // Closes the sheet for good (a finished export, or OK after cancelling) and deletes it.
    void dismiss();

    std::weak_ptr<ORPPlayer> player_;
    QLabel* text_ = nullptr;
    QProgressBar* indicator_ = nullptr;
    QPushButton* button_ = nullptr;
    bool canceled_ = false;
    bool dismissing_ = false;
};

} // namespace rp::app
