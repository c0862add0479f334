#include "editor/SongOverview.h"

#include "foundation/Localization.h"
#include "model/ORPPattern.h"
#include "model/ORPPatternInstance.h"
#include "model/ORPSection.h"

#include <cmath>

namespace rp::editor {

namespace {

// A finite value truncated towards zero and kept in int's range; anything else is 0.
int truncated(double value)
{
    if (!std::isfinite(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::trunc(value), -2147483648.0, 2147483647.0));
}

} // namespace

std::string SongOverview::durationText(const ORPSong& song)
{
    const int seconds = std::max(truncated(song.totalDuration()), 0);
    return localizedFormat("Total %d bars, %d:%02d duration",
        { FormatArgument(static_cast<int64_t>(song.totalBars())), FormatArgument(int64_t { seconds / 60 }),
            FormatArgument(int64_t { seconds % 60 }) });
}

std::string SongOverview::masterLevelText(float level)
{
    // Truncated as shown everywhere, but a level stored as the float nearest 0.35 is 35%, not 34%.
    return localizedFormat("%d%%", { FormatArgument(int64_t { truncated(double(level) * 100.0 + 1e-4) }) });
}

std::vector<SectionRow> SongOverview::sectionRows(const ORPSong& song)
{
    std::vector<SectionRow> rows;
    for (const auto& section : song.sectionList()) {
        rows.push_back({ section->name(), section->patterns().size() });
    }
    return rows;
}

std::vector<PlaylistRow> SongOverview::playlistRows(const ORPSong& song)
{
    std::vector<PlaylistRow> rows;
    for (const auto& marker : song.sectionMarkerList()) {
        const auto& section = marker->section();
        rows.push_back({ marker->name(), section ? section->name() : std::string(), marker->numberOfTimes() });
    }
    return rows;
}

} // namespace rp::editor
