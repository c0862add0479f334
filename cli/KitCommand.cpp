// rattlepan-cli kit new --from-folder DIR OUT.rpkit: a kit bundle made from a folder of sounds.
// rattlepan-cli kit import SOURCE OUT.rpkit: a kit bundle made from a Hydrogen drumkit (its folder,
// its drumkit.xml or a .h2drumkit archive).

#include "CommandRegistry.h"
#include "HydrogenReport.h"
#include "hydrogen/HydrogenImport.h"
#include "kit/ORPKitFromFolder.h"

#include <iostream>
#include <memory>

namespace {

struct KitNewOptions {
    std::string folder;
    std::string output;
};

struct KitImportOptions {
    std::string source;
    std::string output;
};

// Never replace something that is already there: OUT may be a mistyped folder of the user's.
bool refuseExisting(const std::filesystem::path& output)
{
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(output, error))) {
        std::cerr << "rattlepan-cli: " << output.string() << " already exists\n";
        return true;
    }
    return false;
}

int runKitImport(const KitImportOptions& options)
{
    const std::filesystem::path output = options.output;
    if (refuseExisting(output))
        return 1;
    try {
        const auto report = rp::hydrogen::importKit(options.source, output);
        rp::cli::printImportReport(std::cerr, report);
    } catch (const rp::hydrogen::ImportError& failure) {
        std::cerr << "rattlepan-cli: " << failure.what() << '\n';
        return 1;
    }
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(output, false, &error);
    size_t instruments = 0;
    for (const auto& group : kit ? kit->drumsHierarchy() : std::vector<ORPDrumGroupPtr> {})
        instruments += group->instruments.size();
    std::cout << "wrote " << output.string() << ": " << (kit ? kit->drumsHierarchy().size() : 0)
              << " groups, " << instruments << " instruments\n";
    return 0;
}

int runKitNew(const KitNewOptions& options)
{
    ORPDrumKit::registerArchiveClasses();
    std::filesystem::path output = options.output;
    if (refuseExisting(output))
        return 1;
    std::string failure;
    auto kit = drumKitFromSoundFolder(options.folder, &failure);
    if (!kit) {
        std::cerr << "rattlepan-cli: " << failure << '\n';
        return 1;
    }
    kit->setKitName(output.stem().string());
    if (!kit->saveToPath(output)) {
        std::cerr << "rattlepan-cli: could not write " << output.string() << '\n';
        return 1;
    }
    size_t instruments = 0;
    for (const auto& group : kit->drumsHierarchy()) {
        instruments += group->instruments.size();
    }
    std::cout << "wrote " << output.string() << ": " << kit->drumsHierarchy().size() << " groups, "
              << instruments << " instruments\n";
    return 0;
}

const rp::cli::CommandRegistration registration(
    "kit", "Make drum kits", [](CLI::App& app) -> rp::cli::CommandRunner {
        auto options = std::make_shared<KitNewOptions>();
        app.require_subcommand(1);
        CLI::App* create = app.add_subcommand("new", "Make a kit bundle from a folder of sound files");
        create->add_option("--from-folder", options->folder, "Folder of sounds (subfolders become groups)")
            ->required()
            ->check(CLI::ExistingDirectory);
        create->add_option("output", options->output, "The kit bundle to write (NAME.rpkit)")->required();
        auto importOptions = std::make_shared<KitImportOptions>();
        CLI::App* import = app.add_subcommand("import", "Make a kit bundle from a Hydrogen drumkit");
        import
            ->add_option(
                "source", importOptions->source, "The drumkit's folder, its drumkit.xml or a .h2drumkit")
            ->required();
        import->add_option("output", importOptions->output, "The kit bundle to write (NAME.rpkit)")
            ->required();
        return [options, importOptions, import]() {
            return import->parsed() ? runKitImport(*importOptions) : runKitNew(*options);
        };
    });

} // namespace
