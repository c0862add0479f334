#include "app/SoundExportDialog.h"

#include "app/QtPrompt.h"
#include "app/UiProbe.h"
#include "foundation/Localization.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

std::filesystem::path pathOf(const QString& text)
{
    return std::filesystem::path(text.toStdString());
}

void probeChanged()
{
    if (auto* probe = UiProbe::instance()) {
        probe->scheduleWrite();
    }
}

} // namespace

SoundExportDialog::SoundExportDialog(OASoundExporter& exporter, QWidget* parent)
    : QDialog(parent)
    , exporter_(exporter)
{
    setProperty("probeKind", "exportPanel");
    setWindowTitle(qt(exporter.title().empty() ? localized("Export") : exporter.title()));
    auto* layout = new QVBoxLayout(this);

    messageText_ = new QLabel(qt(exporter.message()), this);
    messageText_->setProperty("probeName", "exportMessage");
    messageText_->setWordWrap(true);
    messageText_->setVisible(!exporter.message().empty());
    layout->addWidget(messageText_);

    auto* where = new QHBoxLayout;
    pathField_ = new QLineEdit(this);
    pathField_->setProperty("probeName", "exportPath");
    pathField_->setMinimumWidth(380);
    chooseButton_ = new QPushButton(qt(localized("Choose...")), this);
    chooseButton_->setProperty("probeName", "exportChoose");
    chooseButton_->setAutoDefault(false);
    where->addWidget(pathField_, 1);
    where->addWidget(chooseButton_);
    layout->addLayout(where);

    auto* form = new QFormLayout;
    formatPopUp_ = new QComboBox(this);
    formatPopUp_->setProperty("probeName", "exportFileType");
    for (const auto& item : exporter.fileTypeItems()) {
        formatPopUp_->addItem(qt(item.title), QVariant::fromValue(static_cast<uint>(item.type)));
    }
    encodingPopUp_ = new QComboBox(this);
    encodingPopUp_->setProperty("probeName", "exportEncoding");
    sampleRateCombo_ = new QComboBox(this);
    sampleRateCombo_->setProperty("probeName", "exportSampleRate");
    sampleRateCombo_->setEditable(true);
    sampleRateCombo_->setInsertPolicy(QComboBox::NoInsert);
    for (const auto& rate : OASoundExporter::sampleRateList()) {
        sampleRateCombo_->addItem(qt(rate));
    }
    channelsCombo_ = new QComboBox(this);
    channelsCombo_->setProperty("probeName", "exportChannels");
    channelsCombo_->setEditable(true);
    channelsCombo_->setInsertPolicy(QComboBox::NoInsert);
    for (const auto& channels : OASoundExporter::channelsList()) {
        channelsCombo_->addItem(qt(channels));
    }
    form->addRow(qt(localized("File Format:")), formatPopUp_);
    form->addRow(qt(localized("Encoding:")), encodingPopUp_);
    form->addRow(qt(localized("Sample Rate:")), sampleRateCombo_);
    form->addRow(qt(localized("Channels:")), channelsCombo_);
    layout->addLayout(form);

    statusText_ = new QLabel(this);
    statusText_->setProperty("probeName", "exportStatus");
    layout->addWidget(statusText_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(qt(localized("Cancel")), this);
    cancel->setProperty("probeName", "exportCancel");
    cancel->setAutoDefault(false);
    exportButton_ = new QPushButton(qt(exporter.prompt().empty() ? localized("Export") : exporter.prompt()), this);
    exportButton_->setProperty("probeName", "exportConfirm");
    exportButton_->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(exportButton_);
    layout->addLayout(buttons);

    formatPopUp_->setEnabled(exporter.canChooseFormat());
    encodingPopUp_->setEnabled(exporter.canChooseEncoding());
    sampleRateCombo_->setEnabled(exporter.canChooseSampleRate());
    channelsCombo_->setEnabled(exporter.canChooseChannels());

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(exportButton_, &QPushButton::clicked, this, &SoundExportDialog::exportPressed);
    connect(chooseButton_, &QPushButton::clicked, this, &SoundExportDialog::chooseFile);
    connect(formatPopUp_, &QComboBox::activated, this, &SoundExportDialog::typeChosen);
    connect(encodingPopUp_, &QComboBox::activated, this, [this](int index) {
        exporter_.selectEncoding(static_cast<size_t>(index));
        refresh();
    });
    connect(sampleRateCombo_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!filling_) {
            exporter_.setSampleRateText(text.toStdString());
            refresh();
        }
    });
    connect(channelsCombo_, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        if (!filling_) {
            exporter_.setChannelsText(text.toStdString());
            refresh();
        }
    });
    connect(pathField_, &QLineEdit::textChanged, this, [this] { refresh(); });
}

void SoundExportDialog::fillEncodings()
{
    filling_ = true;
    encodingPopUp_->clear();
    for (const auto& item : exporter_.encodingItems()) {
        encodingPopUp_->addItem(qt(item.name));
    }
    encodingPopUp_->setCurrentIndex(static_cast<int>(exporter_.selectedEncodingIndex()));
    formatPopUp_->setCurrentIndex(static_cast<int>(exporter_.selectedFileTypeIndex()));
    sampleRateCombo_->setCurrentText(qt(exporter_.sampleRateText()));
    channelsCombo_->setCurrentText(qt(exporter_.channelsText()));
    filling_ = false;
}

void SoundExportDialog::refresh()
{
    statusText_->setText(qt(exporter_.statusText()));
    exportButton_->setEnabled(exporter_.canExport() && !pathField_->text().trimmed().isEmpty());
    probeChanged();
}

void SoundExportDialog::typeChosen(int index)
{
    exporter_.selectFileType(static_cast<size_t>(index));
    fillEncodings();
    // The name follows the type's extension, as a save panel's does.
    if (!pathField_->text().isEmpty()) {
        pathField_->setText(qt(exporter_.withAllowedExtension(pathOf(pathField_->text())).string()));
    }
    refresh();
}

void SoundExportDialog::chooseFile()
{
    // Qt's own chooser, so that it behaves the same on every desktop; replacing is asked on Export.
    QFileDialog dialog(this, windowTitle());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setProperty("probeKind", "fileChooser");
    const std::string extension = exporter_.allowedExtension();
    if (!extension.empty()) {
        dialog.setNameFilter(qt("*." + extension));
        dialog.setDefaultSuffix(qt(extension));
    }
    dialog.selectFile(pathField_->text());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        pathField_->setText(dialog.selectedFiles().first());
    }
}

void SoundExportDialog::exportPressed()
{
    std::filesystem::path path = pathOf(pathField_->text().trimmed());
    if (path.empty() || !exporter_.canExport()) {
        return;
    }
    if (path.is_relative()) {
        path = std::filesystem::absolute(path);
    }
    QtPrompt prompt;
    if (exporter_.confirmFilename(path, prompt)) {
        accept();
    }
}

bool SoundExportDialog::run(OASoundExporter& exporter, QWidget* window,
    const std::optional<std::filesystem::path>& folder, const std::optional<std::string>& filename)
{
    const std::filesystem::path proposed = exporter.prepareToRun(folder, filename);
    SoundExportDialog dialog(exporter, window);
    dialog.fillEncodings();
    dialog.pathField_->setText(qt(proposed.string()));
    dialog.refresh();
    dialog.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    dialog.adjustSize();
    if (window) {
        // Over the top of the window, as a sheet sits.
        const QRect frame = window->frameGeometry();
        dialog.move(frame.x() + (frame.width() - dialog.width()) / 2, frame.y() + 40);
    }
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    probeChanged();
    return confirmed;
}

} // namespace rp::app
