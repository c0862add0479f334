// rattlepan-cli song import X.h2song OUT.rpsong [--kit KIT]: a song made from a Hydrogen song, with
// its kit (found among the installed Hydrogen kits, or the one given) imported beside it.

#include "CommandRegistry.h"
#include "HydrogenReport.h"
#include "hydrogen/HydrogenImport.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

namespace {

struct SongImportOptions {
    std::string song;
    std::string output;
    std::string kit;
};

int runSongImport(const SongImportOptions& options)
{
    const std::filesystem::path output = options.output;
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(output, error))) {
        std::cerr << "rattlepan-cli: " << output.string() << " already exists\n";
        return 1;
    }
    std::optional<std::filesystem::path> kit;
    if (!options.kit.empty())
        kit = options.kit;
    try {
        const auto report = rp::hydrogen::importSong(options.song, output, kit);
        rp::cli::printImportReport(std::cerr, report);
        if (!report.kitWritten.empty())
            std::cout << "wrote " << report.kitWritten.string() << '\n';
    } catch (const rp::hydrogen::ImportError& failure) {
        std::cerr << "rattlepan-cli: " << failure.what() << '\n';
        return 1;
    }
    std::cout << "wrote " << output.string() << '\n';
    return 0;
}

const rp::cli::CommandRegistration registration(
    "song", "Make songs from other programs' songs", [](CLI::App& app) -> rp::cli::CommandRunner {
        auto options = std::make_shared<SongImportOptions>();
        app.require_subcommand(1);
        CLI::App* import = app.add_subcommand("import", "Make a song from a Hydrogen song (.h2song)");
        import->add_option("song", options->song, "The Hydrogen song")->required()->check(CLI::ExistingFile);
        import->add_option("output", options->output, "The song file to write (NAME.rpsong)")->required();
        import->add_option("--kit", options->kit,
            "The kit to use: a Hydrogen drumkit (folder, drumkit.xml, .h2drumkit) or a .rpkit bundle");
        return [options]() { return runSongImport(*options); };
    });

} // namespace
