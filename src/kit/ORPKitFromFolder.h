#pragma once

#include "kit/ORPDrumKit.h"

#include <filesystem>
#include <optional>
#include <string>

// The General MIDI percussion note (on channel 10) for an instrument whose name says what it is
// ("kick", "open hi hat", "floor tom", "cowbell" ...); none for names it does not recognise.
std::optional<int> generalMIDINoteForInstrumentName(const std::string& name);

// Stores the General MIDI mapping for the drum's type name when there is one: channel 10 (stored
// zero-based as 9), the note, velocity 127. True when a mapping was set.
bool applyGeneralMIDIMapping(ORPDrum& drum);

// A kit built from a folder of sound files: one group per subfolder in name order (the files
// directly in `folder` form a first group named after the folder), one instrument per sound file
// in name order, named after the file without its extension, each with one default variant
// "default" holding the sound (embedded when the kit is saved) and the General MIDI mapping its
// name suggests. Files that are not sounds are skipped. Null with `failure` set when the folder
// cannot be read or holds no sounds.
ORPDrumKitPtr drumKitFromSoundFolder(const std::filesystem::path& folder, std::string* failure = nullptr);
