#pragma once

#include "kit/ORPDrumKit.h"

#include <filesystem>
#include <optional>
#include <string>

// The General MIDI percussion note (on channel 10) for an instrument whose name says what it is
// ("kick", "open hi hat", "floor tom", "cowbell" ...); none for names it does not recognise.
std::optional<int> generalMIDINoteForInstrumentName(const std::string& name);

// The group a drum of that name belongs in: "Kicks", "Snares", "Toms", "Hi hats", "Cymbals" or
// "Percussion"; empty for names that say nothing about the drum. Words may be joined in camel case
// ("HatClosed", "24Ride").
std::string drumGroupNameForInstrumentName(const std::string& name);

// True for hi-hat names ("HH", "Hat Open", "hihat pedal").
bool isHiHatInstrumentName(const std::string& name);

// A file or layer name split into the drum's name and a velocity-layer suffix: a number, one of
// Softest/Soft/Med/Medium/Hard/Hardest, or a dynamic (ppp .. fff), after a "-", "_", "." or space.
// `loudness` orders the suffixes of one drum (louder is higher). None when there is no such suffix.
struct LayerSuffix {
    std::string base;
    std::string suffix;
    int loudness = 0;
};
std::optional<LayerSuffix> splitLayerSuffix(const std::string& name);

// Stores the General MIDI mapping for the drum's type name when there is one: channel 10 (stored
// zero-based as 9), the note, velocity 127. True when a mapping was set.
bool applyGeneralMIDIMapping(ORPDrum& drum);

// A kit built from a folder of sound files: one group per subfolder in name order (the files
// directly in `folder` form a first group named after the folder); a folder without subfolders is
// sorted into groups by drum name instead (kicks, snares, toms, hi hats, cymbals, percussion, then
// the rest in a group named after the folder). One instrument per sound file in name order, named
// after the file without its extension, with one default variant "default" holding the sound
// (embedded when the kit is saved) and the General MIDI mapping its name suggests. Files whose
// names differ only by a velocity-layer suffix ("Kick-Soft", "Kick-Hard") are variants of one
// instrument named by their suffix, the loudest the default. Files that are not sounds are
// skipped. Null with `failure` set when the folder cannot be read or holds no sounds.
ORPDrumKitPtr drumKitFromSoundFolder(const std::filesystem::path& folder, std::string* failure = nullptr);
