#pragma once

// A Hydrogen drumkit as one of our kits: each instrument a drum type, grouped by what its name
// says; its velocity layers variants named by their range (the loudest the default); volume, gain
// and pan as the sounds' volume and panning; MIDI out notes as General MIDI notes on channel 10.
// Hi-hat instruments joined by a mute group become one "hi hat" type whose closed (and pedal)
// variants have precedence, so they choke the open one as Hydrogen's mute group did.

#include "hydrogen/HydrogenFiles.h"
#include "kit/ORPDrumKit.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rp::hydrogen {

// Which drum of the kit plays a Hydrogen instrument's notes, by velocity.
struct ImportedInstrument {
    int id = 0;
    std::string name;
    // Of one sound of a merged hi hat in one of our kits: what its variants are named after
    // ("closed", "semi open"), which a song's separate hi-hat instruments are matched by.
    std::string hiHatLabel;
    struct Layer {
        double min = 0;
        double max = 1;
        ORPDrumPtr drum;
    };
    std::vector<Layer> layers; // by range, softest first

    // The layer whose range holds the velocity, else the nearest one.
    ORPDrumPtr drumForVelocity(double velocity) const;
};

struct ImportedKit {
    ORPDrumKitPtr kit;
    std::vector<ImportedInstrument> instruments;

    const ImportedInstrument* instrumentWithId(int id) const;
    // Names compare ignoring case. A hi-hat name with no instrument of its own ("Hat Closed") finds
    // the merged hi-hat sound with its label ("closed").
    const ImportedInstrument* instrumentNamed(const std::string& name) const;
};

// The file a layer's sample name refers to; none with `why` set.
using SampleResolver
    = std::function<std::optional<std::filesystem::path>(const std::string& name, std::string& why)>;

// Builds the kit, reading every sample through `resolve`. Layers whose samples are missing or
// unreadable are left out with a warning, instruments without a usable layer too. Throws
// ImportError when no instrument is left.
ImportedKit buildKit(const H2Kit& source, const SampleResolver& resolve, ImportReport& report,
    const ImportProgress& progress = {});

// The instruments of one of our kits as a Hydrogen song's notes need them: each drum type an
// instrument named after it, its variants named by a velocity range ("20-47") its layers. A hi-hat
// type whose variants are labelled ("closed", "open 0-76") also gives an instrument per label.
ImportedKit importedKitFromKit(const ORPDrumKitPtr& kit);

// "0-26": a velocity range in MIDI steps, as layer variants are named.
std::string layerRangeName(double min, double max);

} // namespace rp::hydrogen
