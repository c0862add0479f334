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

std::vector<BarSummary> SongOverview::bars(const ORPSong& song)
{
    std::vector<BarSummary> result;
    std::string lastMeter;
    std::string lastTempo;
    for (const auto& instance : ORPPatternInstance::instancesForPlaylist(song)) {
        const auto& pattern = instance->pattern();
        BarSummary bar;
        bar.barNumber = instance->barNumberInSong();
        if (instance->barNumberInSectionMarker() == 1) {
            if (auto marker = instance->sectionMarker()) {
                bar.entryTitle = marker->name();
            }
        }
        bar.meter = std::to_string(pattern->timeSignatureTop()) + "/" + std::to_string(pattern->timeSignatureBottom());
        bar.tempo = std::to_string(truncated(pattern->bpm()));
        bar.beatBasisIcon = ORPPattern::iconNameForBeatBasis(pattern->beatBasis()).value_or("");
        bar.meterChanges = bar.meter != lastMeter;
        bar.tempoChanges = bar.tempo + bar.beatBasisIcon != lastTempo;
        lastMeter = bar.meter;
        lastTempo = bar.tempo + bar.beatBasisIcon;
        bar.events = pattern->events()->size();
        bar.duration = pattern->duration();
        result.push_back(std::move(bar));
    }
    return result;
}

} // namespace rp::editor
