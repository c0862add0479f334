// rattlepan-cli kit new --from-folder DIR OUT.rpkit: a kit bundle made from a folder of sounds.

#include "CommandRegistry.h"
#include "kit/ORPKitFromFolder.h"

#include <iostream>
#include <memory>

namespace {

struct KitNewOptions {
    std::string folder;
    std::string output;
};

int runKitNew(const KitNewOptions& options)
{
    ORPDrumKit::registerArchiveClasses();
    std::filesystem::path output = options.output;
    std::error_code error;
    // Never replace something that is already there: OUT may be a mistyped folder of the user's.
    if (std::filesystem::exists(std::filesystem::symlink_status(output, error))) {
        std::cerr << "rattlepan-cli: " << output.string() << " already exists\n";
        return 1;
    }
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
        return [options]() { return runKitNew(*options); };
    });

} // namespace
