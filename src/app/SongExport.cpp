#include "app/SongExport.h"

#include "app/ExportProgressSheet.h"
#include "app/QtPrompt.h"
#include "app/SoundExportDialog.h"
#include "audio/OASoundExporter.h"
#include "foundation/Localization.h"
#include "kit/ORPUserDefaults.h"

#include <QDir>
#include <QWidget>

#include <filesystem>

namespace rp::app {

namespace {

// Where the panel starts: the remembered export folder, else the folder of the default name.
std::filesystem::path startFolder(const std::string& defaultFilename)
{
    if (auto remembered = ORPUserDefaults::exportDirectoryURL(); remembered && std::filesystem::is_directory(*remembered)) {
        return *remembered;
    }
    const std::filesystem::path given(defaultFilename);
    if (given.is_absolute() && std::filesystem::is_directory(given.parent_path())) {
        return given.parent_path();
    }
    return std::filesystem::path(QDir::homePath().toStdString());
}

std::optional<ORPExportRequest> askForDestination(QWidget* window, const ORPExportSetup& setup)
{
    const std::filesystem::path folder = startFolder(setup.defaultFilename);
    const std::string name = std::filesystem::path(setup.defaultFilename).stem().string();
    ORPExportRequest request;
    if (setup.mode == 2) {
        Prompt::SaveChoice choice;
        choice.title = localized("Export");
        choice.prompt = localized("Export");
        choice.startDirectory = folder;
        choice.suggestedName = name + ".mid";
        choice.allowedTypes = { "mid", "midi", "smf" };
        const auto chosen = QtPrompt().chooseSaveFile(choice);
        if (!chosen) {
            return std::nullopt;
        }
        request.path = chosen->string();
        return request;
    }
    auto exporter = OASoundExporter::exporterWithDefaultFileType(setup.remembered.fileType,
        setup.remembered.streamDescription, static_cast<float>(setup.duration), setup.defaultFilename);
    exporter->setPrompt(localized("Export"));
    exporter->setCanChooseFormat(true, true, true, false);
    if (setup.mode == 1) {
        exporter->setMessage(localized("Specify the base filename. A separate file will be created for each track."));
        exporter->setFilenameSuffixes(setup.filenameSuffixes);
    }
    if (!SoundExportDialog::run(*exporter, window, folder, name)) {
        return std::nullopt;
    }
    request.fileType = exporter->fileType();
    request.streamDescription = exporter->streamDescription();
    request.path = exporter->fileURL().string();
    return request;
}

} // namespace

void startExport(QWidget* window, const std::shared_ptr<ORPPlayer>& player,
    const std::vector<ORPPatternInstancePtr>& instances, unsigned mode, const ORPDrumKitPtr& kit,
    const std::optional<std::string>& title, const std::optional<std::string>& notes,
    const std::string& defaultFilename)
{
    if (!player) {
        return;
    }
    auto* sheet = new ExportProgressSheet(window, player, instances.size());
    QtPrompt prompt;
    player->exportPatternInstances(instances, mode, kit, title, notes, defaultFilename,
        [window](const ORPExportSetup& setup) { return askForDestination(window, setup); }, prompt, sheet->progress());
    if (player->isExporting()) {
        sheet->open();
    } else {
        sheet->deleteLater();
    }
}

const std::vector<std::string>& exportMenuItemTitles()
{
    static const std::vector<std::string> titles
        = { "Audio (Mix)...", "Audio (One File per Group)...", "MIDI File..." };
    return titles;
}

std::string selectedBarsExportName(const std::string& documentName, size_t bars)
{
    if (bars == 1) {
        return documentName + localized(" (1 bar)");
    }
    std::string format = localized(" (%lu bars)");
    return documentName + formatText(format, { static_cast<uint64_t>(bars) });
}

} // namespace rp::app
