#pragma once

// What the readers take from Hydrogen's XML files: drumkit.xml and .h2song, older (0.9) and
// newer (1.x) forms. Both files are hostile input: sizes, counts and numbers are bounded here, so
// that whatever comes out can be built without further checks on its size.

#include "hydrogen/HydrogenImport.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace rp::hydrogen {

// Bounds on what the readers accept (each well beyond what Hydrogen itself writes).
inline constexpr size_t kMaxXmlBytes = 32u << 20;
inline constexpr size_t kMaxInstruments = 1024;
inline constexpr size_t kMaxLayers = 128; // per instrument
inline constexpr size_t kMaxPatterns = 4096;
inline constexpr size_t kMaxNotesPerPattern = 8192;
inline constexpr size_t kMaxNotes = 262144; // in all patterns
inline constexpr size_t kMaxColumns = 65536; // song positions
inline constexpr size_t kMaxPatternsPerColumn = 256;
inline constexpr size_t kMaxNotesPerBar = 16384; // after merging a column's patterns
inline constexpr size_t kMaxEvents = 524288; // in all the bars built
inline constexpr int kTicksPerQuarter = 48;
inline constexpr int kMaxPatternTicks = 64 * kTicksPerQuarter;

struct H2Layer {
    std::string filename;
    double min = 0;
    double max = 1;
    double gain = 1;
    double pitch = 0;
};

struct H2Instrument {
    int id = 0;
    std::string name;
    std::string drumkit; // songs name the kit each instrument came from
    double volume = 1;
    double gain = 1;
    double pan = 0; // -1 left .. 1 right
    int muteGroup = -1;
    int midiOutNote = -1;
    // Features we cannot carry over, as read.
    bool filterActive = false;
    bool envelope = false; // attack, decay, sustain or release other than Hydrogen's default
    bool pitch = false; // pitch offset, random pitch or a layer's pitch
    bool fxSends = false;
    bool extraComponents = false; // more than one component: only the first is read
    bool randomSelection = false; // round-robin or random layer selection
    std::vector<H2Layer> layers;
};

struct H2Kit {
    std::string name;
    std::string author;
    std::string license;
    std::vector<H2Instrument> instruments;
};

struct H2Note {
    int position = 0; // ticks from the pattern's start
    double velocity = 0.8;
    int instrument = 0;
    bool offsetOrChance = false; // lead/lag or probability below 1
    bool panOrPitch = false;
    bool noteOff = false;
};

struct H2Pattern {
    std::string name;
    int size = 192; // ticks
    std::vector<H2Note> notes;
};

struct H2TempoMarker {
    int column = 0;
    double bpm = 120;
};

struct H2Song {
    std::string name;
    std::string author;
    std::string notes;
    double bpm = 120;
    double humanizeTime = 0;
    double humanizeVelocity = 0;
    double swing = 0;
    std::vector<H2Instrument> instruments;
    std::vector<H2Pattern> patterns;
    // Pattern name -> names of the patterns it plays along.
    std::map<std::string, std::vector<std::string>> virtualPatterns;
    // Each column: the names of the patterns played together there.
    std::vector<std::vector<std::string>> columns;
    std::vector<H2TempoMarker> tempoMarkers;
};

// Reads drumkit.xml. Throws ImportError (naming `file`) when it is not a readable drumkit; what it
// had to repair goes to `report.warnings`.
H2Kit parseDrumkitXml(std::string_view bytes, const std::filesystem::path& file, ImportReport& report);

// Reads a .h2song. Throws ImportError (naming `file`); repairs go to `report.warnings`.
H2Song parseSongXml(std::string_view bytes, const std::filesystem::path& file, ImportReport& report);

// ASCII letters in lower case: Hydrogen's names and extensions are compared ignoring case.
std::string lowercase(std::string text);

// Reads a whole file of at most kMaxXmlBytes. Throws ImportError.
std::string readXmlFile(const std::filesystem::path& file);

// Adds a warning unless it is already there; at most a few dozen are kept, then one line says more
// were left out.
void addWarning(ImportReport& report, const std::string& warning);

} // namespace rp::hydrogen
