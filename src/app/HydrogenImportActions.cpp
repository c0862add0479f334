#include "app/HydrogenImportActions.h"

#include "app/DocumentController.h"
#include "app/QtPrompt.h"
#include "foundation/Localization.h"
#include "hydrogen/HydrogenImport.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProgressDialog>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

std::filesystem::path homeFolder()
{
    return QDir::homePath().toStdString();
}

std::optional<std::filesystem::path> chooseSource(
    const std::string& title, std::vector<std::string> types, const std::filesystem::path& start)
{
    Prompt::Choice choice;
    choice.title = localized(title);
    choice.prompt = localized("Choose");
    choice.startDirectory = start;
    choice.allowedTypes = std::move(types);
    return QtPrompt().chooseFile(choice);
}

std::optional<std::filesystem::path> chooseDestination(
    const std::string& title, const std::string& name, const std::string& extension)
{
    Prompt::SaveChoice choice;
    choice.title = localized(title);
    choice.prompt = localized("Import");
    choice.startDirectory = homeFolder();
    choice.suggestedName = name + "." + extension;
    choice.allowedTypes = { extension };
    return QtPrompt().chooseSaveFile(choice);
}

// Runs one import with a progress panel; the report, or none after telling the user why it failed.
template <class Import>
std::optional<hydrogen::ImportReport> runImport(QWidget* window, const std::string& title, Import import)
{
    QProgressDialog progress(qt(localized("Importing...")), QString(), 0, 1000, window);
    progress.setWindowTitle(qt(localized(title)));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setProperty("probeKind", "progress");
    const auto step = [&progress](double fraction) {
        progress.setValue(static_cast<int>(fraction * 1000.0));
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::optional<hydrogen::ImportReport> report;
    std::string failure;
    try {
        report = import(step);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    QApplication::restoreOverrideCursor();
    progress.reset();
    if (!report) {
        QMessageBox box(QMessageBox::Warning, qt(localized(title)), qt(localized("The import failed.")), QMessageBox::Ok,
            window);
        box.setInformativeText(qt(failure));
        box.exec();
        return std::nullopt;
    }
    return report;
}

// Says what did not come over, when anything did not.
void showReport(QWidget* window, const std::string& title, const hydrogen::ImportReport& report)
{
    if (report.notCarriedOver.empty() && report.warnings.empty()) {
        return;
    }
    QString details;
    for (const auto& line : report.notCarriedOver) {
        details += qt(line) + QLatin1Char('\n');
    }
    for (const auto& line : report.warnings) {
        details += qt(line) + QLatin1Char('\n');
    }
    QMessageBox box(QMessageBox::Information, qt(localized(title)),
        qt(localized("The import is done. Some things could not be carried over.")), QMessageBox::Ok, window);
    box.setInformativeText(qt(localized("Show the details for the list.")));
    box.setDetailedText(details.trimmed());
    box.exec();
}

} // namespace

void importHydrogenKit(QWidget* window)
{
    const std::string title = "Import Hydrogen Kit";
    const auto folders = hydrogen::installedKitFolders();
    const auto source = chooseSource(title, { "xml", "h2drumkit" }, folders.empty() ? homeFolder() : folders.front());
    if (!source) {
        return;
    }
    const std::string name = source->filename() == "drumkit.xml" ? source->parent_path().filename().string()
                                                                  : source->stem().string();
    const auto out = chooseDestination(title, name, "rpkit");
    if (!out) {
        return;
    }
    const auto report = runImport(window, title, [&](const hydrogen::ImportProgress& progress) {
        return hydrogen::importKit(*source, *out, progress);
    });
    if (!report) {
        return;
    }
    if (auto* documents = DocumentController::shared()) {
        documents->openKitDocument(*out);
    }
    showReport(window, title, *report);
}

void importHydrogenSong(QWidget* window)
{
    const std::string title = "Import Hydrogen Song";
    const auto source = chooseSource(title, { "h2song" }, homeFolder());
    if (!source) {
        return;
    }
    const auto out = chooseDestination(title, source->stem().string(), "rpsong");
    if (!out) {
        return;
    }
    const auto report = runImport(window, title, [&](const hydrogen::ImportProgress& progress) {
        return hydrogen::importSong(*source, *out, std::nullopt, progress);
    });
    if (!report) {
        return;
    }
    if (auto* documents = DocumentController::shared()) {
        documents->openDocument(*out);
    }
    showReport(window, title, *report);
}

} // namespace rp::app
