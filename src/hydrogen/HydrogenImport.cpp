#include "hydrogen/HydrogenImport.h"

#include "foundation/FileNames.h"
#include "foundation/Logger.h"
#include "hydrogen/HydrogenFiles.h"
#include "hydrogen/HydrogenKitImporter.h"
#include "hydrogen/HydrogenKitSource.h"
#include "hydrogen/HydrogenSongImporter.h"
#include "kit/ORPDrumKit.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace fs = std::filesystem;

namespace rp::hydrogen {

namespace {

bool isOurKit(const fs::path& path)
{
    return lowercase(path.extension().string()) == std::string(".") + ORPDrumKit::kKitExtension;
}

// Reads the Hydrogen kit into our kit; throws ImportError. The kit's sounds read their files from
// `kitSource`, which must outlive the kit's saving.
ImportedKit readHydrogenKit(const KitSource& kitSource, ImportReport& report, const ImportProgress& progress)
{
    const H2Kit parsed = parseDrumkitXml(kitSource.xml(), kitSource.xmlPath(), report);
    return buildKit(
        parsed, [&](const std::string& name, std::string& why) { return kitSource.resolve(name, why); },
        report, progress);
}

void saveKit(ImportedKit& kit, const fs::path& out)
{
    std::error_code error;
    const fs::path parent = fs::absolute(out, error).parent_path();
    if (!fs::is_directory(parent, error))
        throw ImportError("cannot write " + out.string() + ": its folder does not exist", out);
    if (!kit.kit->saveToPath(out))
        throw ImportError("could not write the kit " + out.string(), out);
}

} // namespace

ImportReport importKit(const fs::path& source, const fs::path& out, const ImportProgress& progress)
{
    ORPDrumKit::registerArchiveClasses();
    ImportReport report;
    const KitSource kitSource(source);
    ImportedKit kit = readHydrogenKit(kitSource, report, progress);
    kit.kit->setKitName(out.stem().string());
    saveKit(kit, out);
    if (progress)
        progress(1.0);
    return report;
}

std::vector<fs::path> installedKitFolders()
{
    std::vector<fs::path> candidates
        = { "/usr/share/hydrogen/data/drumkits", "/usr/local/share/hydrogen/data/drumkits" };
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome == '/') {
        candidates.push_back(fs::path(dataHome) / "hydrogen" / "data" / "drumkits");
    } else if (home && *home) {
        candidates.push_back(fs::path(home) / ".local" / "share" / "hydrogen" / "data" / "drumkits");
    }
    if (home && *home)
        candidates.push_back(fs::path(home) / ".hydrogen" / "data" / "drumkits");
    std::vector<fs::path> folders;
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (fs::is_directory(candidate, error))
            folders.push_back(candidate);
    }
    return folders;
}

std::optional<fs::path> findInstalledKit(const std::string& name)
{
    const std::string wanted = lowercase(name);
    const auto folders = installedKitFolders();
    // The folder's name first (how Hydrogen installs kits), then the name inside drumkit.xml.
    for (const auto& folder : folders) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            if (lowercase(it->path().filename().string()) == wanted
                && fs::exists(it->path() / "drumkit.xml", error))
                return it->path();
        }
    }
    for (const auto& folder : folders) {
        std::error_code error;
        size_t looked = 0;
        for (fs::directory_iterator it(folder, error), end; !error && it != end && looked < 1000;
             it.increment(error)) {
            const fs::path xml = it->path() / "drumkit.xml";
            if (!fs::is_regular_file(xml, error))
                continue;
            ++looked;
            try {
                ImportReport ignored;
                if (lowercase(parseDrumkitXml(readXmlFile(xml), xml, ignored).name) == wanted)
                    return it->path();
            } catch (const ImportError&) {
            }
        }
    }
    return std::nullopt;
}

ImportReport importSong(const fs::path& songPath, const fs::path& out,
    const std::optional<fs::path>& kitOverride, const ImportProgress& progress)
{
    ORPDrumKit::registerArchiveClasses();
    ORPSong::registerArchiveClasses();
    ImportReport report;
    const H2Song song = parseSongXml(readXmlFile(songPath), songPath, report);
    std::error_code error;
    const fs::path folder = fs::absolute(out, error).parent_path();
    if (!fs::is_directory(folder, error))
        throw ImportError("cannot write " + out.string() + ": its folder does not exist", out);

    // Scale the kit's progress into the first nine tenths.
    const ImportProgress kitProgress
        = progress ? ImportProgress([&](double f) { progress(0.9 * f); }) : ImportProgress();
    ImportedKit kit;
    fs::path kitPath;
    bool wroteKit = false;
    if (kitOverride && isOurKit(*kitOverride)) {
        rp::Error kitError;
        auto ours = ORPDrumKit::drumKitFromURL(fs::absolute(*kitOverride, error), false, &kitError);
        if (!ours) {
            throw ImportError("cannot read the kit " + kitOverride->string()
                    + (kitError.description.empty() ? "" : ": " + kitError.description),
                *kitOverride);
        }
        kit = importedKitFromKit(ours);
        kitPath = fs::absolute(*kitOverride, error);
    } else {
        fs::path source;
        if (kitOverride) {
            source = *kitOverride;
        } else {
            // The kit most of the song's instruments came from.
            std::map<std::string, size_t> votes;
            for (const auto& instrument : song.instruments) {
                if (!instrument.drumkit.empty())
                    ++votes[instrument.drumkit];
            }
            if (votes.empty()) {
                throw ImportError(
                    songPath.filename().string() + " does not name its drumkit: give the kit to use (--kit)",
                    songPath);
            }
            const auto best = std::max_element(
                votes.begin(), votes.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
            const auto found = findInstalledKit(best->first);
            if (!found) {
                throw ImportError("the song's drumkit \"" + best->first.substr(0, 100)
                        + "\" is not installed (looked in the system's and your Hydrogen data folders): give "
                          "the "
                          "kit to use (--kit)",
                    songPath);
            }
            source = *found;
        }
        const KitSource kitSource(source);
        kit = readHydrogenKit(kitSource, report, kitProgress);
        kitPath = URLByEnsuringUniqueLocalFilename(
            folder / (sanitizedFilename(kit.kit->kitName(), "Hydrogen kit", 100) + "." + ORPDrumKit::kKitExtension));
        kit.kit->setKitName(kitPath.stem().string());
        saveKit(kit, kitPath);
        wroteKit = true;
    }

    try {
        const ImportProgress songProgress
            = progress ? ImportProgress([&](double f) { progress(0.9 + 0.1 * f); }) : ImportProgress();
        auto built = buildSong(song, kit, report, songProgress);
        built->setDrumKit(kit.kit, kitPath);
        rp::Error writeError;
        if (!built->writeToFile(out, &writeError)) {
            throw ImportError("could not write the song " + out.string()
                    + (writeError.description.empty() ? "" : ": " + writeError.description),
                out);
        }
    } catch (...) {
        if (wroteKit)
            fs::remove_all(kitPath, error);
        throw;
    }
    if (wroteKit)
        report.kitWritten = kitPath;
    if (progress)
        progress(1.0);
    return report;
}

} // namespace rp::hydrogen
