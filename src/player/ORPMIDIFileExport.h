#pragma once

#include "model/ORPPatternInstance.h"
#include "player/StandardMIDIFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Builds the Standard MIDI File of a run of bars: a tempo track with the given text events at the
// start and a time signature and tempo wherever they change, and a note track with one note for
// every hit of a drum that has a MIDI mapping. Positions, lengths and tempos count quarter notes,
// whatever the bars' beat basis: a bar lasts top x 4 / bottom quarter notes, so odd meters and
// compound time land on the bar lines their time-signature events announce. Pure; no threads.
class ORPMIDIFileExport {
public:
    // How long (seconds) the hit of event `eventIndex` of instance `instanceIndex` may sound.
    using MaxDuration = std::function<float(uint16_t eventIndex, uint16_t instanceIndex)>;
    // Called before each instance; returning false stops the build there (cancel).
    using InstanceStep = std::function<bool(const ORPPatternInstancePtr&)>;

    // A note never lasts longer than this many seconds.
    static constexpr float kMaxNoteSeconds = 1.0f;

    // meta: (meta type, text) pairs, written in this order at the start of the tempo track; texts
    // are converted to ASCII (accents dropped, anything else becomes '?').
    static rp::StandardMIDIFile build(const std::vector<ORPPatternInstancePtr>& instances,
        const std::vector<std::pair<uint8_t, std::string>>& meta, const MaxDuration& maxDuration,
        const InstanceStep& step);

    // The distinct drums without a MIDI mapping used by any event of the instances, in order of
    // first use.
    static std::vector<ORPDrumPtr> drumsWithoutMIDI(const std::vector<ORPPatternInstancePtr>& instances);

    static std::string lossyASCII(const std::string& utf8);

    // The tempo of a bar of `quarterNotes` quarter notes lasting `seconds`, in quarter notes per
    // minute; a tempo within rounding error of a whole number is taken as that number, so that
    // bars made at whole-number tempos keep them exactly.
    static double quarterNotesPerMinute(double quarterNotes, double seconds);
};
