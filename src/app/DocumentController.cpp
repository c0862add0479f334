#include "app/DocumentController.h"

#include "app/KitWindow.h"
#include "app/SongWindow.h"
#include "editor/ORPDrumKitDocument.h"
#include "editor/ORPReconcileController.h"
#include "editor/SongDocument.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/Prompt.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <cctype>

namespace rp::app {

namespace {

DocumentController* theController = nullptr;

constexpr const char* kRecentDocumentsKey = "RPRecentDocuments";
constexpr int kRecentLimit = 10;
constexpr const char* kSongExtension = "rpsong";
constexpr const char* kKitExtension = "rpkit";

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

QString songFilter()
{
    return qt(localized("Rattlepan Song")) + QStringLiteral(" (*.rpsong)");
}

QString kitFilter()
{
    return qt(localized("Rattlepan Drum Kit")) + QStringLiteral(" (*.rpkit)");
}

bool isKitPath(const std::filesystem::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    return extension == std::string(".") + kKitExtension;
}

// The open chooser: kit bundles are folders, so choosing one (selecting it and pressing Open)
// returns it instead of entering it.
class OpenDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    QStringList chosen;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && files.front().endsWith(QStringLiteral(".rpkit"), Qt::CaseInsensitive)
            && QFileInfo(files.front()).isDir()) {
            chosen = files;
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

enum class SaveAnswer { Save, Discard, Cancel };

// The question before a document with unsaved changes closes, asked in front of its window.
SaveAnswer askToSaveChanges(QWidget* window, const std::string& documentName)
{
    window->raise();
    window->activateWindow();
    QMessageBox box(window);
    box.setIcon(QMessageBox::Warning);
    box.setText(qt(localizedFormat("Do you want to save the changes made to the document \u201c%@\u201d?",
        { FormatArgument(documentName) })));
    box.setInformativeText(qt(localized("Your changes will be lost if you don't save them.")));
    QPushButton* save = box.addButton(qt(localized("Save")), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(qt(localized("Don't Save")), QMessageBox::DestructiveRole);
    box.addButton(qt(localized("Cancel")), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.exec();
    if (box.clickedButton() == save) {
        return SaveAnswer::Save;
    }
    return box.clickedButton() == discard ? SaveAnswer::Discard : SaveAnswer::Cancel;
}

} // namespace

DocumentController::DocumentController(std::shared_ptr<ReconcilePanel> reconcilePanel, QObject* parent)
    : QObject(parent)
    , reconcilePanel_(std::move(reconcilePanel))
{
    theController = this;
}

DocumentController::~DocumentController()
{
    if (theController == this) {
        theController = nullptr;
    }
}

DocumentController* DocumentController::shared()
{
    return theController;
}

SongWindow* DocumentController::adopt(SongWindow* window)
{
    windows_.insert(windows_.begin(), window);
    window->installEventFilter(this);
    connect(window, &SongWindow::closeRequested, this, [this](SongWindow* w) { closeDocument(w); });
    connect(window, &QObject::destroyed, this, [this, window] { forget(window); });
    window->placeForFile();
    window->show();
    window->raise();
    window->activateWindow();
    emit documentsChanged();
    return window;
}

void DocumentController::forget(SongWindow* window)
{
    auto it = std::find(windows_.begin(), windows_.end(), window);
    if (it == windows_.end()) {
        return;
    }
    windows_.erase(it);
    emit documentsChanged();
    if (windows_.empty() && kitWindows_.empty()) {
        emit lastWindowClosed();
    }
}

bool DocumentController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        const auto kit = std::find(kitWindows_.begin(), kitWindows_.end(), watched);
        if (kit != kitWindows_.end()) {
            if (frontKit_ != *kit) {
                frontKit_ = *kit;
                emit documentsChanged();
            }
            return QObject::eventFilter(watched, event);
        }
        auto it = std::find(windows_.begin(), windows_.end(), watched);
        if (it != windows_.end() && (it != windows_.begin() || frontKit_)) {
            std::rotate(windows_.begin(), it, it + 1);
            frontKit_ = nullptr;
            emit documentsChanged();
        }
    }
    return QObject::eventFilter(watched, event);
}

SongWindow* DocumentController::newDocument()
{
    return adopt(new SongWindow(editor::SongDocument::makeUntitled(reconcilePanel_)));
}

SongWindow* DocumentController::openDocument(const std::filesystem::path& requested, bool quietly)
{
    std::error_code ignored;
    const std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(requested), ignored);
    for (SongWindow* window : windows_) {
        const auto& file = window->document()->fileURL();
        if (file && std::filesystem::equivalent(*file, path, ignored)) {
            window->raise();
            window->activateWindow();
            return window;
        }
    }
    if (isKitPath(path)) {
        // A kit opens in a kit window, which is no song window.
        openKitDocument(path, quietly);
        return nullptr;
    }
    Error error;
    auto document = editor::SongDocument::open(path, reconcilePanel_, error);
    if (!document) {
        logf("Error opening document: %s", error.text().c_str());
        if (!quietly) {
            Prompt::current().presentError(error);
        }
        return nullptr;
    }
    noteRecent(path);
    return adopt(new SongWindow(std::move(document)));
}

void DocumentController::openDocumentInteractively()
{
    QString start;
    if (SongWindow* front = frontmost(); front && front->document()->fileURL()) {
        start = qt(front->document()->fileURL()->parent_path().string());
    }
    OpenDialog dialog(nullptr, qt(localized("Open")), start,
        qt(localized("Rattlepan Documents")) + QStringLiteral(" (*.rpsong *.rpkit);;") + songFilter()
            + QStringLiteral(";;") + kitFilter() + QStringLiteral(";;") + qt(localized("All Files"))
            + QStringLiteral(" (*)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setProperty("probeKind", "openPanel");
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const QStringList files = dialog.chosen.isEmpty() ? dialog.selectedFiles() : dialog.chosen;
    for (const QString& file : files) {
        openDocument(file.toStdString());
    }
}

bool DocumentController::saveDocument(SongWindow* window)
{
    window->commitEditing();
    const auto& file = window->document()->fileURL();
    if (!file) {
        return saveDocumentAs(window);
    }
    Error error;
    if (!window->document()->writeToURL(*file, error)) {
        Prompt::current().presentError(error);
        return false;
    }
    window->saveFrameToFile();
    window->refreshTitle();
    noteRecent(*file);
    return true;
}

bool DocumentController::saveDocumentAs(SongWindow* window)
{
    window->commitEditing();
    const auto& document = window->document();
    QString suggested = qt(document->displayName() + "." + kSongExtension);
    if (document->fileURL()) {
        suggested = qt(document->fileURL()->string());
    }
    QString chosen = QFileDialog::getSaveFileName(
        window, qt(localized("Save As")), suggested, songFilter(), nullptr, QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty()) {
        return false;
    }
    if (!chosen.endsWith(QStringLiteral(".rpsong"), Qt::CaseInsensitive)) {
        chosen += QStringLiteral(".rpsong");
    }
    Error error;
    const std::filesystem::path path = chosen.toStdString();
    if (!document->writeToURL(path, error)) {
        Prompt::current().presentError(error);
        return false;
    }
    window->saveFrameToFile();
    window->refreshTitle();
    noteRecent(path);
    emit documentsChanged();
    return true;
}

void DocumentController::revertDocumentToSaved(SongWindow* window)
{
    const auto& document = window->document();
    if (!document->fileURL()) {
        return;
    }
    QMessageBox box(window);
    box.setIcon(QMessageBox::Warning);
    box.setText(qt(localizedFormat("Do you want to revert to the most recently saved version of the document \u201c%@\u201d?",
        { FormatArgument(document->displayName()) })));
    box.setInformativeText(qt(localized("Your current changes will be lost.")));
    QPushButton* revert = box.addButton(qt(localized("Revert")), QMessageBox::AcceptRole);
    box.addButton(qt(localized("Cancel")), QMessageBox::RejectRole);
    box.setDefaultButton(revert);
    box.exec();
    if (box.clickedButton() != revert) {
        return;
    }
    Error error;
    if (!document->revert(error)) {
        Prompt::current().presentError(error);
        return;
    }
    window->initializeUIEntirely();
}

bool DocumentController::closeDocument(SongWindow* window)
{
    window->commitEditing();
    const auto& document = window->document();
    if (document->isDocumentEdited()) {
        const SaveAnswer answer = askToSaveChanges(window, document->displayName());
        if (answer == SaveAnswer::Cancel || (answer == SaveAnswer::Save && !saveDocument(window))) {
            return false;
        }
    }
    window->closingAccepted_ = true;
    window->close();
    return true;
}

bool DocumentController::closeAll()
{
    const std::vector<KitWindow*> kits = kitWindows_;
    for (KitWindow* window : kits) {
        if (std::find(kitWindows_.begin(), kitWindows_.end(), window) != kitWindows_.end() && !closeKit(window)) {
            return false;
        }
    }
    // Unsaved documents are asked about front first; a cancel stops the whole close.
    const std::vector<SongWindow*> open = windows_;
    for (SongWindow* window : open) {
        if (std::find(windows_.begin(), windows_.end(), window) == windows_.end()) {
            continue;
        }
        if (!closeDocument(window)) {
            return false;
        }
    }
    return true;
}

KitWindow* DocumentController::frontKitWindow() const
{
    return frontKit_;
}

KitWindow* DocumentController::adoptKit(KitWindow* window)
{
    kitWindows_.insert(kitWindows_.begin(), window);
    window->installEventFilter(this);
    connect(window, &KitWindow::closeRequested, this, [this](KitWindow* w) { closeKit(w); });
    connect(window, &QObject::destroyed, this, [this, window] { forgetKit(window); });
    window->placeForFile();
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void DocumentController::forgetKit(KitWindow* window)
{
    auto it = std::find(kitWindows_.begin(), kitWindows_.end(), window);
    if (it == kitWindows_.end()) {
        return;
    }
    kitWindows_.erase(it);
    if (frontKit_ == window) {
        frontKit_ = nullptr;
        emit documentsChanged();
    }
    if (windows_.empty() && kitWindows_.empty()) {
        emit lastWindowClosed();
    }
}

KitWindow* DocumentController::newKitDocument()
{
    return adoptKit(new KitWindow(std::make_unique<editor::ORPDrumKitDocument>()));
}

KitWindow* DocumentController::openKitDocument(const std::filesystem::path& requested, bool quietly)
{
    std::error_code ignored;
    const std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(requested), ignored);
    for (KitWindow* window : kitWindows_) {
        const auto& file = window->document().fileURL();
        if (file && std::filesystem::equivalent(*file, path, ignored)) {
            window->raise();
            window->activateWindow();
            return window;
        }
    }
    Error error;
    auto document = editor::ORPDrumKitDocument::open(path, error);
    if (!document) {
        logf("Error opening kit: %s", error.text().c_str());
        if (!quietly) {
            Prompt::current().presentError(error);
        }
        return nullptr;
    }
    noteRecent(path);
    return adoptKit(new KitWindow(std::move(document)));
}

bool DocumentController::saveKit(KitWindow* window)
{
    window->commitEditing();
    const auto file = window->document().fileURL();
    if (!file) {
        return saveKitAs(window);
    }
    Error error;
    if (!window->document().writeToURL(*file, window->currentFrame(), UserDefaults::standard(), error)) {
        Prompt::current().presentError(error);
        return false;
    }
    window->refreshTitle();
    noteRecent(*file);
    return true;
}

bool DocumentController::saveKitAs(KitWindow* window)
{
    window->commitEditing();
    QString suggested = qt(window->displayName() + "." + kKitExtension);
    if (const auto& file = window->document().fileURL()) {
        suggested = qt(file->string());
    }
    QString chosen = QFileDialog::getSaveFileName(
        window, qt(localized("Save As")), suggested, kitFilter(), nullptr, QFileDialog::DontUseNativeDialog);
    if (chosen.isEmpty()) {
        return false;
    }
    if (!chosen.endsWith(QStringLiteral(".rpkit"), Qt::CaseInsensitive)) {
        chosen += QStringLiteral(".rpkit");
    }
    const std::filesystem::path path = chosen.toStdString();
    Error error;
    if (!window->document().writeToURL(path, window->currentFrame(), UserDefaults::standard(), error)) {
        Prompt::current().presentError(error);
        return false;
    }
    window->refreshTitle();
    noteRecent(path);
    return true;
}

bool DocumentController::closeKit(KitWindow* window)
{
    window->commitEditing();
    if (window->document().changes().isDocumentEdited()) {
        const SaveAnswer answer = askToSaveChanges(window, window->displayName());
        if (answer == SaveAnswer::Cancel || (answer == SaveAnswer::Save && !saveKit(window))) {
            return false;
        }
    }
    window->closingAccepted_ = true;
    window->close();
    return true;
}

QStringList DocumentController::recentDocuments() const
{
    QStringList result;
    if (auto list = UserDefaults::standard().arrayForKey(kRecentDocumentsKey)) {
        for (const auto& value : *list) {
            if (const auto* text = value.getIf<std::string>()) {
                result << qt(*text);
            }
        }
    }
    return result;
}

void DocumentController::clearRecentDocuments()
{
    UserDefaults::standard().removeObjectForKey(kRecentDocumentsKey);
    emit documentsChanged();
}

void DocumentController::noteRecent(const std::filesystem::path& path)
{
    QStringList recent = recentDocuments();
    recent.removeAll(qt(path.string()));
    recent.prepend(qt(path.string()));
    while (recent.size() > kRecentLimit) {
        recent.removeLast();
    }
    PropertyArray list;
    for (const QString& file : recent) {
        list.emplace_back(file.toStdString());
    }
    UserDefaults::standard().setObject(PropertyValue(list), kRecentDocumentsKey);
    emit documentsChanged();
}

} // namespace rp::app
