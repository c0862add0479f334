#pragma once

// A Hydrogen song as one of ours: every column of the song sequence (the patterns played together
// there, merged) one bar whose meter comes from its length in ticks (48 a quarter note); a run of
// equal columns one playlist entry repeating one section; notes events at their place with the
// variant whose layer range holds their velocity; the song tempo and tempo markers the bars' tempi.

#include "hydrogen/HydrogenFiles.h"
#include "hydrogen/HydrogenKitImporter.h"
#include "model/ORPSong.h"

namespace rp::hydrogen {

// The time signature (top, bottom) of a bar `ticks` long: quarters when it is a whole number of
// them, else eighths, sixteenths or thirty-seconds; else rounded to sixteenths (`exact` false).
struct BarMeter {
    int16_t top = 4;
    int16_t bottom = 4;
    bool exact = true;
};
BarMeter meterForTicks(int ticks);

// Builds the song with the kit's drums (the kit itself is not attached). Notes whose instrument the
// kit lacks, at negative places or beyond their pattern's end are left out with a warning. Throws
// ImportError when the song has nothing to play.
ORPSongPtr buildSong(
    const H2Song& source, const ImportedKit& kit, ImportReport& report, const ImportProgress& progress = {});

} // namespace rp::hydrogen
