#include "app/DocumentController.h"

#include "app/SongWindow.h"
#include "editor/ORPReconcileController.h"
#include "editor/SongDocument.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/Prompt.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace rp::app {

namespace {

DocumentController* theController = nullptr;

constexpr const char* kRecentDocumentsKey = "RPRecentDocuments";
constexpr int kRecentLimit = 10;
constexpr const char* kSongExtension = "rpsong";

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

QString songFilter()
{
    return qt(localized("Rattlepan Song")) + QStringLiteral(" (*.rpsong)");
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
    if (windows_.empty()) {
        emit lastWindowClosed();
    }
}

bool DocumentController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        auto it = std::find(windows_.begin(), windows_.end(), watched);
        if (it != windows_.end() && it != windows_.begin()) {
            std::rotate(windows_.begin(), it, it + 1);
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
    const QStringList files = QFileDialog::getOpenFileNames(nullptr, qt(localized("Open")), start,
        songFilter() + QStringLiteral(";;") + qt(localized("All Files")) + QStringLiteral(" (*)"), nullptr,
        QFileDialog::DontUseNativeDialog);
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
        window->raise();
        window->activateWindow();
        QMessageBox box(window);
        box.setIcon(QMessageBox::Warning);
        box.setText(qt(localizedFormat("Do you want to save the changes made to the document \u201c%@\u201d?",
            { FormatArgument(document->displayName()) })));
        box.setInformativeText(qt(localized("Your changes will be lost if you don't save them.")));
        QPushButton* save = box.addButton(qt(localized("Save")), QMessageBox::AcceptRole);
        QPushButton* discard = box.addButton(qt(localized("Don't Save")), QMessageBox::DestructiveRole);
        box.addButton(qt(localized("Cancel")), QMessageBox::RejectRole);
        box.setDefaultButton(save);
        box.exec();
        if (box.clickedButton() == save) {
            if (!saveDocument(window)) {
                return false;
            }
        } else if (box.clickedButton() != discard) {
            return false;
        }
    }
    window->closingAccepted_ = true;
    window->close();
    return true;
}

bool DocumentController::closeAll()
{
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
