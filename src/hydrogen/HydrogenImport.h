#pragma once

// Importing Hydrogen drumkits and songs: a drumkit (its folder, its drumkit.xml or a .h2drumkit
// archive) becomes a kit bundle, a song (.h2song) a song file with its kit beside it.

#include "foundation/Error.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rp::hydrogen {

// What an import could not carry over (listed once each) and what it had to skip or repair.
struct ImportReport {
    std::vector<std::string> notCarriedOver;
    std::vector<std::string> warnings;
    // A song import's kit bundle when one was written beside the song (empty otherwise).
    std::filesystem::path kitWritten;
};

// A failed import: `what()` is the message for the user; `error()` the same as an application
// error (1000, invalid file) naming the file.
class ImportError : public std::runtime_error {
public:
    ImportError(const std::string& message, const std::filesystem::path& file = {});
    const std::filesystem::path& file() const { return file_; }
    rp::Error error() const;

private:
    std::filesystem::path file_;
};

// Progress of a long import, 0 to 1, on the calling thread.
using ImportProgress = std::function<void(double fraction)>;

// Imports a Hydrogen kit (folder, drumkit.xml, or .h2drumkit) and writes OUT.rpkit, replacing
// what is there only once the new bundle is complete. Throws ImportError with a clear message.
ImportReport importKit(const std::filesystem::path& source, const std::filesystem::path& out,
    const ImportProgress& progress = {});

// Imports a song; finds its kit among installed Hydrogen kits unless `kitOverride` (a Hydrogen kit
// as importKit takes it, or one of our .rpkit bundles) is given. A Hydrogen kit is imported beside
// OUT (as "NAME.rpkit", or "NAME 2.rpkit" ... when that is taken). Throws ImportError.
ImportReport importSong(const std::filesystem::path& song, const std::filesystem::path& out,
    const std::optional<std::filesystem::path>& kitOverride, const ImportProgress& progress = {});

// The folders searched for a song's kit: the system's Hydrogen data (as packaged by hydrogen-data)
// and the user's own under the XDG data home (and Hydrogen's older ~/.hydrogen), existing ones only.
std::vector<std::filesystem::path> installedKitFolders();

// The installed Hydrogen kit of that name (the name in its drumkit.xml, else its folder's name,
// ignoring case), or none.
std::optional<std::filesystem::path> findInstalledKit(const std::string& name);

} // namespace rp::hydrogen
