#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "audio/OASoundExporter.h"
#endif

#include <QDialog>

#include <filesystem>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace rp::app {

// The sound export panel: where to write (a path field and a file chooser), the file type, the
// encoding, the sample rate and channel count, and the size estimate, over an OASoundExporter.
// Window-modal on the window it is run for.
class SoundExportDialog final : public QDialog {
    Q_OBJECT
public:
    // Runs the panel for `exporter` on `window`, starting in `folder` with `filename` (the exporter's
    // default name when none). True when the user confirmed; the exporter then holds the choice.
    static bool run(OASoundExporter& exporter, QWidget* window, const std::optional<std::filesystem::path>& folder,
        const std::optional<std::string>& filename);

private:
    SoundExportDialog(OASoundExporter& exporter, QWidget* parent);
    void fillEncodings();
    void refresh();
    void typeChosen(int index);
    void chooseFile();
    void exportPressed();

    OASoundExporter& exporter_;
    QLabel* messageText_ = nullptr;
    QLineEdit* pathField_ = nullptr;
    QPushButton* chooseButton_ = nullptr;
    QComboBox* formatPopUp_ = nullptr;
    QComboBox* encodingPopUp_ = nullptr;
    QComboBox* sampleRateCombo_ = nullptr;
    QComboBox* channelsCombo_ = nullptr;
    QLabel* statusText_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    bool filling_ = false;
};

} // namespace rp::app
