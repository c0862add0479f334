#pragma once

// Opening a song for the command line as the song window does: the song, then its kit (the stored
// location, then a kit of the same name beside the song file, or the one given), then every drum
// of the song bound to a drum of that kit.

#include "foundation/Error.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPatternInstance.h"
#include "model/ORPSong.h"

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rp::cli {

struct SongWithKit {
    ORPSongPtr song;
    ORPDrumKitPtr kit;
    std::filesystem::path kitURL;
    // Drums of the song no kit drum matched: their events keep them (default sound, stored MIDI).
    std::vector<ORPDrumPtr> unmatchedDrums;
};

// Gives every event of the song's patterns its kit drum (exact names, else a mapping the user
// chose before in the song window) and the song the kit. Nobody is asked: returns the drums that
// found no match (their events keep them), in order of first use.
std::vector<ORPDrumPtr> bindSongToKit(ORPSong& song, const ORPDrumKitPtr& kit, const std::filesystem::path& kitURL);

// Reads the song at `songPath` and binds it to its kit (`kitPath` when given). Warnings (a kit
// that did not load, drums without a match) go to `warnings`. None with `error` set when the song
// cannot be read (1000, 1001) or no kit loads (1002).
std::optional<SongWithKit> loadSongWithKit(const std::filesystem::path& songPath,
    const std::optional<std::filesystem::path>& kitPath, std::ostream& warnings, Error& error);

// What `play` and `export` start from: the song bound to its kit, its playlist laid out bar by bar,
// and the chosen bars (1-based, inclusive; none = all).
struct SongBars {
    SongWithKit loaded;
    std::vector<ORPPatternInstancePtr> instances;
    std::optional<std::pair<size_t, size_t>> bars;
};

// Loads the song with its kit and reads `--bars`; prints what went wrong to standard error and
// returns none when either fails.
std::optional<SongBars> loadSongBars(
    const std::string& songPath, const std::string& kitPath, const std::string& barRange);

// The error's texts, one to a line, after the program's name.
void printError(std::ostream& out, const Error& error);

} // namespace rp::cli
