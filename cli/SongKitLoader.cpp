#include "SongKitLoader.h"

#include "SongPlayerEditor.h"
#include "editor/ORPReconcileController.h"
#include "foundation/Localization.h"
#include "model/ORPPattern.h"

#include <algorithm>
#include <iostream>
#include <ostream>

namespace rp::cli {

std::vector<ORPDrumPtr> bindSongToKit(ORPSong& song, const ORPDrumKitPtr& kit, const std::filesystem::path& kitURL)
{
    auto panel = std::make_shared<NonInteractiveReconcilePanel>();
    ORPReconcileController reconciler(panel);
    std::vector<ORPDrumPtr> unmatched;
    if (reconciler.reconcileInteractivelyForPatterns(song.allPatterns(), kit, localized("Reconcile Drum Kit"))) {
        // The panel lists them in its row order; report them in order of first use.
        const auto& kept = panel->unmatchedDrums();
        for (const auto& event : reconciler.reconciledEvents()) {
            const ORPDrumPtr drum = event->drum();
            if (std::find(kept.begin(), kept.end(), drum) != kept.end()
                && std::find(unmatched.begin(), unmatched.end(), drum) == unmatched.end())
                unmatched.push_back(drum);
        }
    }
    song.setDrumKit(kit, kitURL);
    return unmatched;
}

std::optional<SongWithKit> loadSongWithKit(const std::filesystem::path& songPath,
    const std::optional<std::filesystem::path>& kitPath, std::ostream& warnings, Error& error)
{
    ORPSong::setDefaultKitProvider({});
    ORPSongPtr song = ORPSong::songFromURL(songPath, &error);
    if (!song)
        return std::nullopt;

    std::vector<std::filesystem::path> candidates;
    if (kitPath) {
        candidates.push_back(*kitPath);
    } else if (!song->drumKitURL().empty()) {
        candidates.push_back(song->drumKitURL());
        const auto beside = songPath.parent_path() / song->drumKitURL().filename();
        if (beside != song->drumKitURL())
            candidates.push_back(beside);
    }

    SongWithKit result;
    result.song = song;
    for (const auto& candidate : candidates) {
        if (!kitPath && !std::filesystem::exists(candidate))
            continue;
        Error kitError;
        ORPDrumKitPtr kit = ORPDrumKit::drumKitFromURL(candidate, true, &kitError);
        if (!kit && kitError.isApplicationError(kErrorKitSoundsMissing)) {
            // Nobody can be asked to find the missing sounds here: their drums play the default sound.
            kit = ORPDrumKit::drumKitFromURL(candidate, false, nullptr);
            if (kit)
                warnings << "rattlepan-cli: " << kitError.description
                         << " Those drums play the default sound.\n";
        }
        if (kit) {
            result.kit = kit;
            result.kitURL = candidate;
            break;
        }
        warnings << "rattlepan-cli: " << candidate.string() << ": "
                 << (kitError.description.empty() ? std::string("not a drum kit") : kitError.description)
                 << '\n';
    }
    if (!result.kit) {
        error = Error::make(kErrorNoDrumKit, "'%@' couldn't be opened because no drum kit was assigned.",
            songPath.filename().string(), "No drum kit was assigned.",
            "To open this song, you must choose a drum kit to use with it.");
        error.filePath = songPath.string();
        error.url = fileURLFromPath(std::filesystem::absolute(songPath).string());
        return std::nullopt;
    }

    result.unmatchedDrums = bindSongToKit(*song, result.kit, result.kitURL);
    for (const auto& drum : result.unmatchedDrums) {
        warnings << "rattlepan-cli: no drum of kit '" << result.kit->kitName() << "' matches "
                 << drum->compositeName() << "; it plays the default sound\n";
    }
    return result;
}

std::optional<SongBars> loadSongBars(
    const std::string& songPath, const std::string& kitPath, const std::string& barRange)
{
    Error error;
    auto loaded = loadSongWithKit(songPath,
        kitPath.empty() ? std::nullopt : std::optional<std::filesystem::path>(kitPath), std::cerr, error);
    if (!loaded) {
        printError(std::cerr, error);
        return std::nullopt;
    }
    auto instances = ORPPatternInstance::instancesForPlaylist(*loaded->song);
    SongBars result { std::move(*loaded), std::move(instances), std::nullopt };
    if (!barRange.empty()) {
        std::string problem;
        result.bars = parseBarRange(barRange, result.instances.size(), problem);
        if (!result.bars) {
            std::cerr << "rattlepan-cli: " << problem << '\n';
            return std::nullopt;
        }
    }
    return result;
}

void printError(std::ostream& out, const Error& error)
{
    out << "rattlepan-cli: " << error.description << '\n';
    if (!error.failureReason.empty() && error.failureReason != error.description)
        out << error.failureReason << '\n';
    if (!error.recoverySuggestion.empty())
        out << error.recoverySuggestion << '\n';
}

} // namespace rp::cli
