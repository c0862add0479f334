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

class SongOverview {
public:
    // "Total %d bars, %d:%02d duration" with the seconds truncated.
    static std::string durationText(const ORPSong& song);
    // "%d%%" of the level x 100 truncated.
    static std::string masterLevelText(float level);
    static std::vector<SectionRow> sectionRows(const ORPSong& song);
    static std::vector<PlaylistRow> playlistRows(const ORPSong& song);
};

} // namespace rp::editor
