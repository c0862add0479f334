// rattlepan-cli dump FILE: prints the object graph of a keyed archive, typed stream, song or kit as JSON.

#include "CommandRegistry.h"
#include "archive/ArchiveDump.h"
#include "foundation/Logger.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// Larger files are refused rather than read whole: no song or kit comes near this.
constexpr std::uintmax_t MaximumFileSize = 1024u * 1024u * 1024u;

// A kit bundle folder stands for the first .rpkit file at its top level, as when a kit is opened.
std::optional<std::filesystem::path> fileToRead(const std::filesystem::path& path, std::string& error)
{
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (ec) {
        error = ec.message();
        return std::nullopt;
    }
    if (std::filesystem::is_directory(status)) {
        for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
            if (entry.path().extension() == ".rpkit" && entry.is_regular_file(ec))
                return entry.path();
        }
        error = "folder holds no .rpkit file";
        return std::nullopt;
    }
    if (!std::filesystem::is_regular_file(status)) {
        error = "not a regular file";
        return std::nullopt;
    }
    return path;
}

int runDump(const std::string& name)
{
    auto failWith = [&](const std::string& reason) {
        std::cerr << "rattlepan-cli dump: " << name << ": " << reason << '\n';
        return 1;
    };

    std::string error;
    auto path = fileToRead(name, error);
    if (!path)
        return failWith(error);
    std::error_code ec;
    auto size = std::filesystem::file_size(*path, ec);
    if (ec)
        return failWith(ec.message());
    if (size > MaximumFileSize)
        return failWith("file too large (" + std::to_string(size) + " bytes)");
    std::ifstream in(*path, std::ios::binary);
    if (!in)
        return failWith("cannot open the file");
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return failWith("cannot read the file");

    // Library failures also log a line; keep them so standard error gets one line in all.
    rp::LogCapture logged;
    auto json = rp::dumpArchiveAsJSON(bytes, &error);
    if (!json) {
        auto lines = logged.lines();
        if (!lines.empty())
            error += " (" + lines.front() + ")";
        return failWith(error);
    }
    std::cout << *json << '\n';
    return std::cout.good() ? 0 : 1;
}

rp::cli::CommandRegistration dumpCommand("dump",
    "Print the object graph of a keyed archive, typed stream, song or kit file as JSON",
    [](CLI::App& app) -> rp::cli::CommandRunner {
        auto file = std::make_shared<std::string>();
        app.add_option("FILE", *file, "The archive, song (.rpsong) or kit (.rpkit file or bundle) to print")
            ->required();
        return [file] { return runDump(*file); };
    });

} // namespace
