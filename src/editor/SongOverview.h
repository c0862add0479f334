#pragma once

#include "model/ORPSong.h"

#include <string>
#include <vector>

namespace rp::editor {

// What the song window shows of a song before anything is edited: the summary line, the level, the
// rows of the sections and playlist tables, and one entry per bar of the laid-out playlist.
struct SectionRow {
    std::string name;
    size_t bars = 0;
};

struct PlaylistRow {
    std::string name; // the entry's own name
    std::string sectionName;
    int repeats = 0;
};

struct BarSummary {
    int barNumber = 0; // in the song, from 1
    std::string entryTitle; // the playlist entry's name on the entry's first bar, else empty
    std::string meter; // "7/8", shown where it changes
    std::string tempo; // "120", shown where it changes (the bar's rounded beats per minute)
    std::string beatBasisIcon; // the note value the tempo counts ("quarter", "dottedquarter"...)
    bool meterChanges = false;
    bool tempoChanges = false;
    size_t events = 0;
    float duration = 0;
};

class SongOverview {
public:
    // "Total %d bars, %d:%02d duration" with the seconds truncated.
    static std::string durationText(const ORPSong& song);
    // "%d%%" of the level x 100 truncated.
    static std::string masterLevelText(float level);
    static std::vector<SectionRow> sectionRows(const ORPSong& song);
    static std::vector<PlaylistRow> playlistRows(const ORPSong& song);
    static std::vector<BarSummary> bars(const ORPSong& song);
};

} // namespace rp::editor
