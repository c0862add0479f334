#include "hydrogen/HydrogenSongImporter.h"

#include "model/ORPPattern.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

namespace rp::hydrogen {

namespace {

std::string countText(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The patterns a column plays: its own, with virtual patterns replaced by those they stand for.
std::vector<size_t> columnPatterns(const std::vector<std::string>& names, const H2Song& song,
    const std::map<std::string, size_t>& byName, ImportReport& report)
{
    std::set<size_t> found;
    std::set<std::string> seen;
    std::vector<std::string> pending(names.rbegin(), names.rend());
    size_t steps = 0;
    while (!pending.empty() && ++steps < 4 * kMaxPatterns) {
        const std::string name = pending.back();
        pending.pop_back();
        if (!seen.insert(name).second)
            continue;
        if (const auto pattern = byName.find(name); pattern != byName.end())
            found.insert(pattern->second);
        const auto members = song.virtualPatterns.find(name);
        if (members != song.virtualPatterns.end()) {
            pending.insert(pending.end(), members->second.begin(), members->second.end());
        } else if (!byName.count(name)) {
            addWarning(report,
                "the song sequence names a pattern \"" + name.substr(0, 80) + "\" the song does not have");
        }
    }
    return { found.begin(), found.end() };
}

} // namespace

BarMeter meterForTicks(int ticks)
{
    if (ticks % kTicksPerQuarter == 0)
        return { static_cast<int16_t>(ticks / kTicksPerQuarter), 4, true };
    if (ticks % (kTicksPerQuarter / 2) == 0)
        return { static_cast<int16_t>(ticks / (kTicksPerQuarter / 2)), 8, true };
    if (ticks % (kTicksPerQuarter / 4) == 0)
        return { static_cast<int16_t>(ticks / (kTicksPerQuarter / 4)), 16, true };
    if (ticks % (kTicksPerQuarter / 8) == 0)
        return { static_cast<int16_t>(ticks / (kTicksPerQuarter / 8)), 32, true };
    const int sixteenths = std::max(1, static_cast<int>(std::lround(ticks / (kTicksPerQuarter / 4.0))));
    return { static_cast<int16_t>(sixteenths), 16, false };
}

ORPSongPtr buildSong(
    const H2Song& source, const ImportedKit& kit, ImportReport& report, const ImportProgress& progress)
{
    ORPSong::registerArchiveClasses();
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < source.patterns.size(); ++i)
        byName.emplace(source.patterns[i].name, i);

    // The kit's instrument for each of the song's instrument ids: by name, else by id.
    std::map<int, const ImportedInstrument*> instruments;
    std::map<int, std::string> instrumentNames;
    for (const auto& instrument : source.instruments) {
        const ImportedInstrument* match = kit.instrumentNamed(instrument.name);
        if (!match)
            match = kit.instrumentWithId(instrument.id);
        instruments[instrument.id] = match;
        instrumentNames[instrument.id] = instrument.name;
    }
    const bool songListsInstruments = !source.instruments.empty();

    std::vector<std::vector<std::string>> columns = source.columns;
    if (columns.empty()) {
        if (source.patterns.empty())
            throw ImportError(
                "the song has neither patterns nor a song sequence: there is nothing to import");
        addWarning(report, "the song sequence is empty; each pattern becomes one bar in turn");
        for (const auto& pattern : source.patterns)
            columns.push_back({ pattern.name });
    }

    std::map<int, size_t> unknownInstrumentNotes;
    size_t negativeNotes = 0;
    size_t beyondNotes = 0;
    size_t mergedNotes = 0;
    size_t noteOffs = 0;
    size_t offsetNotes = 0;
    size_t panPitchNotes = 0;
    std::set<const H2Pattern*> countedPatterns;
    size_t totalEvents = 0;

    struct Key {
        std::vector<size_t> patterns;
        double bpm;
        bool operator<(const Key& other) const
        {
            return patterns != other.patterns ? patterns < other.patterns : bpm < other.bpm;
        }
    };
    std::map<Key, ORPSectionPtr> sections;
    std::vector<ORPSectionPtr> sectionOrder;
    std::map<std::string, int> sectionNames;

    auto makeSection = [&](const Key& key) {
        int ticks = 0;
        std::string name;
        for (size_t index : key.patterns) {
            ticks = std::max(ticks, source.patterns[index].size);
            name += (name.empty() ? "" : " + ") + source.patterns[index].name;
        }
        if (name.size() > 100)
            name = name.substr(0, 97) + "...";
        if (key.patterns.empty()) {
            ticks = 4 * kTicksPerQuarter;
            name = "Rest";
        }
        if (const int n = ++sectionNames[name]; n > 1)
            name += " (" + std::to_string(n) + ")";
        const BarMeter meter = meterForTicks(ticks);
        if (!meter.exact) {
            addWarning(report,
                "a bar of " + std::to_string(ticks) + " ticks (\"" + name
                    + "\") is not a whole number of thirty-second notes; its meter is rounded to "
                    + std::to_string(meter.top) + "/16");
        }
        auto pattern = ORPPattern::pattern();
        pattern->setTimeSignatureTop(meter.top, meter.bottom);
        const float basis = ORPPattern::beatBasisForTimeSignatureTop(meter.top, meter.bottom);
        // Hydrogen's tempo counts quarter notes; the bar's counts its own beat basis.
        pattern->setBpm(static_cast<float>(key.bpm * basis / 4.0), basis);

        struct Placed {
            double place;
            ORPDrumPtr drum;
            double velocity;
        };
        std::vector<Placed> placed;
        for (size_t index : key.patterns) {
            const H2Pattern& h2 = source.patterns[index];
            const bool firstTime = countedPatterns.insert(&h2).second;
            for (const H2Note& note : h2.notes) {
                if (firstTime) {
                    offsetNotes += note.offsetOrChance;
                    panPitchNotes += note.panOrPitch;
                }
                if (note.noteOff) {
                    noteOffs += firstTime;
                    continue;
                }
                if (note.position < 0) {
                    negativeNotes += firstTime;
                    continue;
                }
                if (note.position >= h2.size) {
                    beyondNotes += firstTime;
                    continue;
                }
                const ImportedInstrument* instrument = nullptr;
                if (songListsInstruments) {
                    const auto found = instruments.find(note.instrument);
                    instrument = found == instruments.end() ? nullptr : found->second;
                } else {
                    instrument = kit.instrumentWithId(note.instrument);
                }
                ORPDrumPtr drum = instrument ? instrument->drumForVelocity(note.velocity) : nullptr;
                if (!drum) {
                    unknownInstrumentNotes[note.instrument] += firstTime;
                    continue;
                }
                placed.push_back({ static_cast<double>(note.position) / ticks, drum, note.velocity });
            }
        }
        totalEvents += placed.size();
        if (placed.size() > kMaxNotesPerBar || totalEvents > kMaxEvents) {
            throw ImportError("the song's bars would hold too many notes (at most "
                + std::to_string(kMaxNotesPerBar) + " a bar and " + std::to_string(kMaxEvents) + " in all)");
        }
        std::stable_sort(
            placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.place < b.place; });
        for (const auto& note : placed) {
            const auto place = std::min(static_cast<float>(note.place), std::nextafter(1.0f, 0.0f));
            const size_t before = pattern->events()->size();
            pattern->addEventWithDrum(note.drum, static_cast<float>(note.velocity), place);
            if (pattern->events()->size() == before)
                ++mergedNotes;
        }
        auto section = ORPSection::section();
        section->setName(name);
        section->insertPatterns({ pattern }, 0);
        sectionOrder.push_back(section);
        return section;
    };

    // The playlist: one entry per run of equal columns.
    std::vector<std::pair<ORPSectionPtr, int>> playlist;
    size_t marker = 0;
    double bpm = source.bpm;
    for (size_t column = 0; column < columns.size(); ++column) {
        while (marker < source.tempoMarkers.size()
            && static_cast<size_t>(source.tempoMarkers[marker].column) <= column)
            bpm = source.tempoMarkers[marker++].bpm;
        Key key { columnPatterns(columns[column], source, byName, report), bpm };
        auto found = sections.find(key);
        if (found == sections.end())
            found = sections.emplace(key, makeSection(key)).first;
        if (!playlist.empty() && playlist.back().first == found->second
            && playlist.back().second < std::numeric_limits<int16_t>::max()) {
            ++playlist.back().second;
        } else {
            playlist.emplace_back(found->second, 1);
        }
        if (progress && (column % 16 == 0))
            progress(static_cast<double>(column + 1) / static_cast<double>(columns.size()));
    }

    auto song = std::make_shared<ORPSong>();
    song->insertSections(sectionOrder, 0);
    std::vector<ORPSectionMarkerPtr> markers;
    for (const auto& [section, times] : playlist) {
        auto entry = ORPSectionMarker::sectionMarker();
        entry->setSection(section);
        entry->setName(section->name());
        entry->setNumberOfTimes(static_cast<int16_t>(times));
        markers.push_back(entry);
    }
    song->insertSectionMarkers(markers, 0);
    song->setName(source.name.empty() ? "Hydrogen song" : source.name);
    std::string notes = source.notes;
    if (!source.author.empty() && notes.find(source.author) == std::string::npos)
        notes += (notes.empty() ? "" : "\n\n") + std::string("By ") + source.author;
    song->setNotes(notes);

    for (const auto& [id, count] : unknownInstrumentNotes) {
        if (count == 0)
            continue;
        const auto name = instrumentNames.find(id);
        if (name != instrumentNames.end()) {
            addWarning(report,
                "the kit has no instrument \"" + name->second.substr(0, 80)
                    + "\": " + countText(count, "note", "notes") + " left out");
        } else {
            addWarning(report,
                "notes for the unknown instrument id " + std::to_string(id) + ": "
                    + countText(count, "note", "notes") + " left out");
        }
    }
    if (negativeNotes)
        addWarning(report, countText(negativeNotes, "note", "notes") + " at a negative position left out");
    if (beyondNotes)
        addWarning(report, countText(beyondNotes, "note", "notes") + " beyond their pattern's end left out");
    if (mergedNotes)
        addWarning(report,
            countText(mergedNotes, "note", "notes")
                + " at the place of another note of the same drum merged into it");
    if (source.humanizeTime != 0 || source.humanizeVelocity != 0)
        report.notCarriedOver.push_back("humanize (time and velocity)");
    if (source.swing != 0)
        report.notCarriedOver.push_back("swing");
    if (offsetNotes)
        report.notCarriedOver.push_back(
            "note lead/lag and probability (" + countText(offsetNotes, "note", "notes") + ")");
    if (panPitchNotes)
        report.notCarriedOver.push_back(
            "note pan and pitch (" + countText(panPitchNotes, "note", "notes") + ")");
    if (noteOffs)
        report.notCarriedOver.push_back("note-off notes (" + std::to_string(noteOffs) + ")");
    if (progress)
        progress(1.0);
    return song;
}

} // namespace rp::hydrogen
