#include "player/ORPMIDIFileExport.h"

#include "model/ORPPattern.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <utf8proc.h>

namespace {

// Float durations carry about 7 significant digits; a tempo closer than this (relative) to a
// whole number is that whole number.
constexpr double kWholeTempoTolerance = 1e-6;

uint8_t clampByte(double value, int low, int high)
{
    if (!(value >= low)) // also NaN
        return static_cast<uint8_t>(low);
    return static_cast<uint8_t>(std::min(value, static_cast<double>(high)));
}

} // namespace

std::string ORPMIDIFileExport::lossyASCII(const std::string& utf8)
{
    std::string decomposed;
    utf8proc_uint8_t* mapped = nullptr;
    const utf8proc_ssize_t length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(utf8.data()),
        static_cast<utf8proc_ssize_t>(utf8.size()), &mapped,
        static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_COMPAT | UTF8PROC_STRIPMARK));
    if (length >= 0 && mapped != nullptr)
        decomposed.assign(reinterpret_cast<const char*>(mapped), static_cast<size_t>(length));
    std::free(mapped);
    if (length < 0) {
        // Not valid UTF-8: keep the ASCII bytes, mark every other byte.
        std::string out;
        for (const char c : utf8)
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
        return out;
    }
    std::string out;
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(decomposed.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(decomposed.size());
    while (left > 0) {
        utf8proc_int32_t cp = 0;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        if (n <= 0)
            n = 1;
        out.push_back(n == 1 && cp >= 0 && cp < 0x80 ? static_cast<char>(cp) : '?');
        p += n;
        left -= n;
    }
    return out;
}

double ORPMIDIFileExport::quarterNotesPerMinute(double quarterNotes, double seconds)
{
    const double tempo = quarterNotes * 60.0 / seconds;
    const double whole = std::round(tempo);
    if (whole > 0 && std::fabs(tempo - whole) <= kWholeTempoTolerance * tempo)
        return whole;
    return tempo;
}

rp::StandardMIDIFile ORPMIDIFileExport::build(const std::vector<ORPPatternInstancePtr>& instances,
    const std::vector<std::pair<uint8_t, std::string>>& meta, const MaxDuration& maxDuration,
    const InstanceStep& step)
{
    rp::StandardMIDIFile file;
    const size_t tempoTrack = 0;
    const size_t noteTrack = file.addTrack();

    for (const auto& [type, text] : meta)
        file.addTextEvent(tempoTrack, 0, type, lossyASCII(text));

    double position = 0; // quarter notes from the start of the first bar
    bool first = true;
    int previousTop = 0;
    int previousBottom = 0;
    uint32_t previousTempo = 0;
    for (size_t n = 0; n < instances.size(); ++n) {
        const ORPPatternInstancePtr& instance = instances[n];
        if (step && !step(instance))
            break;
        const ORPPatternPtr pattern = instance ? instance->pattern() : nullptr;
        if (!pattern)
            continue;
        const int top = pattern->timeSignatureTop();
        const int bottom = pattern->timeSignatureBottom();
        const double seconds = pattern->duration();
        const double quarterNotes = top * 4.0 / bottom;
        // A bar the model would never hold (bad values from a damaged file) takes no time.
        if (top <= 0 || bottom <= 0 || !std::isfinite(quarterNotes) || !(seconds > 0)
            || !std::isfinite(seconds))
            continue;

        if (first || top != previousTop || bottom != previousBottom) {
            file.addTimeSignatureEvent(tempoTrack, position, static_cast<uint8_t>(std::min(top, 255)),
                static_cast<uint16_t>(std::min(bottom, 0xFFFF)));
        }
        const double perMinute = quarterNotesPerMinute(quarterNotes, seconds);
        const double exactTempo = std::round(60.0e6 / perMinute);
        const auto tempo = static_cast<uint32_t>(
            std::clamp(exactTempo, 1.0, static_cast<double>(rp::StandardMIDIFile::kMaxTempo)));
        if (first || tempo != previousTempo)
            file.addTempoEvent(tempoTrack, position, tempo);
        first = false;
        previousTop = top;
        previousBottom = bottom;
        previousTempo = tempo;

        const ORPPattern::EventSnapshot events = pattern->events();
        for (size_t e = 0; e < events->size(); ++e) {
            const ORPEventPtr& event = (*events)[e];
            const ORPDrumPtr drum = event ? event->drum() : nullptr;
            if (!drum || !drum->hasMIDI())
                continue;
            float longest = maxDuration ? maxDuration(static_cast<uint16_t>(std::min<size_t>(e, 0xFFFF)),
                                static_cast<uint16_t>(std::min<size_t>(n, 0xFFFF)))
                                        : kMaxNoteSeconds;
            longest = std::clamp(std::isnan(longest) ? 0.0f : longest, 0.0f, kMaxNoteSeconds);
            const double place = std::clamp(static_cast<double>(event->whenRatio()), 0.0, 1.0);
            // A note-on of velocity 0 would be read as a note-off: every hit sounds at least at 1.
            const uint8_t velocity = clampByte(
                std::trunc(static_cast<double>(event->velocity()) * drum->midiVelocity()), 1, 127);
            file.addNote(noteTrack, position + place * quarterNotes, clampByte(drum->midiChannel(), 0, 15),
                clampByte(drum->midiNote(), 0, 127), velocity, 0, longest * perMinute / 60.0);
        }
        position += quarterNotes;
    }
    return file;
}

std::vector<ORPDrumPtr> ORPMIDIFileExport::drumsWithoutMIDI(
    const std::vector<ORPPatternInstancePtr>& instances)
{
    std::vector<ORPDrumPtr> drums;
    std::set<const ORPDrum*> seen;
    std::set<const ORPPattern*> patternsSeen;
    for (const auto& instance : instances) {
        const ORPPatternPtr pattern = instance ? instance->pattern() : nullptr;
        if (!pattern || !patternsSeen.insert(pattern.get()).second)
            continue;
        for (const auto& event : *pattern->events()) {
            ORPDrumPtr drum = event ? event->drum() : nullptr;
            if (drum && !drum->hasMIDI() && seen.insert(drum.get()).second)
                drums.push_back(std::move(drum));
        }
    }
    return drums;
}
