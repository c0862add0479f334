// rattlepan-cli convert IN OUT: reads any song (older forms included) and saves it in the current
// format.

#include "CommandRegistry.h"
#include "foundation/Error.h"
#include "model/ORPSong.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace {

struct ConvertOptions {
    std::string input;
    std::string output;
};

int runConvert(const ConvertOptions& options)
{
    ORPSong::setDefaultKitProvider({});
    rp::Error error;
    auto song = ORPSong::songFromURL(options.input, &error);
    if (!song) {
        std::cerr << "rattlepan-cli: " << error.description << '\n';
        if (!error.failureReason.empty())
            std::cerr << error.failureReason << '\n';
        return 1;
    }
    if (!song->writeToFile(options.output, &error)) {
        std::cerr << "rattlepan-cli: could not write " << options.output << ": " << error.description << '\n';
        return 1;
    }
    // The kit is not needed to convert; the song keeps its location for when the kit is there.
    std::error_code missing;
    if (!song->drumKitURL().empty() && !std::filesystem::exists(song->drumKitURL(), missing))
        std::cerr << "rattlepan-cli: the song's kit " << song->drumKitURL().string()
                  << " is not on this computer; its location is kept\n";
    std::cout << "wrote " << options.output << ": " << song->sectionList().size() << " sections, "
              << song->totalBars() << " bars\n";
    return 0;
}

const rp::cli::CommandRegistration registration("convert",
    "Save a song (of any version) in the current format", [](CLI::App& app) -> rp::cli::CommandRunner {
        auto options = std::make_shared<ConvertOptions>();
        app.add_option("IN", options->input, "The song to read")->required()->check(CLI::ExistingFile);
        app.add_option("OUT", options->output, "The song file to write")->required();
        return [options]() { return runConvert(*options); };
    });

} // namespace
