#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace rp {

// A Standard MIDI File (format 1) built in memory: tracks of meta, tempo, time-signature and note
// events stamped in quarter notes, written at 15360 ticks per quarter note. Track 0 is the tempo
// track and exists from the start.
class StandardMIDIFile {
public:
    static constexpr uint16_t kTicksPerQuarterNote = 15360;
    // Meta-event data beyond this many bytes is cut.
    static constexpr size_t kMaxMetaDataLength = 4088;
    static constexpr uint8_t kMetaText = 0x01;
    static constexpr uint8_t kMetaCopyright = 0x02;
    static constexpr uint8_t kMetaTrackName = 0x03;
    static constexpr uint8_t kMetaInstrumentName = 0x04;
    static constexpr uint8_t kMetaEndOfTrack = 0x2F;
    static constexpr uint8_t kMetaTempo = 0x51;
    static constexpr uint8_t kMetaTimeSignature = 0x58;
    // The largest tempo the 24-bit field holds, in microseconds per quarter note.
    static constexpr uint32_t kMaxTempo = 0xFFFFFF;

    StandardMIDIFile();

    size_t trackCount() const { return tracks_.size(); }
    // Appends an empty track and returns its index.
    size_t addTrack();

    // `quarterNote` is the time stamp in quarter notes from the start; negative or non-finite
    // stamps are placed at 0. Events on an unknown track are ignored.
    void addMetaEvent(size_t track, double quarterNote, uint8_t type, const std::vector<uint8_t>& data);
    void addTextEvent(size_t track, double quarterNote, uint8_t type, const std::string& text);
    // Microseconds per quarter note, kept within 1 ... kMaxTempo.
    void addTempoEvent(size_t track, double quarterNote, uint32_t microsecondsPerQuarterNote);
    // `denominator` is the note value (4, 8 ...); the file stores its base-2 logarithm, truncated.
    void addTimeSignatureEvent(size_t track, double quarterNote, uint8_t numerator, uint16_t denominator);
    // A note-on and its note-off. Channel, note and velocities are kept within their 4 and 7 bits;
    // a note lasts at least one tick so that its note-off never comes before its note-on.
    void addNote(size_t track, double quarterNote, uint8_t channel, uint8_t note, uint8_t velocity,
        uint8_t releaseVelocity, double lengthInQuarterNotes);

    // The file's bytes: the header, then each track with its events in time order (at equal ticks:
    // meta events, then note-offs, then note-ons, each kind in the order added) and an end-of-track.
    std::vector<uint8_t> bytes() const;
    // Writes the bytes beside `path` and renames them over it; false (logged) on any failure, with
    // whatever was at `path` left as it was.
    bool writeToFile(const std::filesystem::path& path) const;

    static uint64_t ticksForQuarterNotes(double quarterNote);

private:
    enum class Kind : uint8_t { Meta = 0, NoteOff = 1, NoteOn = 2 };
    struct Event {
        uint64_t tick;
        Kind kind;
        uint64_t sequence; // order of addition, for a stable order at equal ticks
        std::vector<uint8_t> bytes; // status byte onwards (for meta events: FF type length data)
    };

    void add(size_t track, uint64_t tick, Kind kind, std::vector<uint8_t> bytes);

    std::vector<std::vector<Event>> tracks_;
    uint64_t nextSequence_ = 0;
};

} // namespace rp
