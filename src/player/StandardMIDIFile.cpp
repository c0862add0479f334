#include "player/StandardMIDIFile.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rp {

namespace {

// Beyond any song (32767 bars of the longest signature are under 2^46 ticks), and small enough that
// the empty events bridging long silences stay a few megabytes at most.
constexpr double kMaxTick = 140737488355328.0; // 2^47
constexpr uint64_t kMaxDelta = 0x0FFFFFFF;

void appendVariableLength(std::vector<uint8_t>& out, uint64_t value)
{
    // Seven bits per byte, most significant first, the continuation bit on all but the last.
    uint8_t groups[10];
    size_t count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0 && count < sizeof groups);
    while (count > 1)
        out.push_back(static_cast<uint8_t>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

void appendBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> metaBytes(uint8_t type, const uint8_t* data, size_t length)
{
    length = std::min(length, StandardMIDIFile::kMaxMetaDataLength);
    std::vector<uint8_t> bytes { 0xFF, static_cast<uint8_t>(type & 0x7F) };
    appendVariableLength(bytes, length);
    bytes.insert(bytes.end(), data, data + length);
    return bytes;
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

} // namespace

StandardMIDIFile::StandardMIDIFile()
    : tracks_(1)
{
}

size_t StandardMIDIFile::addTrack()
{
    tracks_.emplace_back();
    return tracks_.size() - 1;
}

uint64_t StandardMIDIFile::ticksForQuarterNotes(double quarterNote)
{
    if (!(quarterNote > 0)) // also NaN
        return 0;
    const double ticks = std::round(quarterNote * kTicksPerQuarterNote);
    return static_cast<uint64_t>(std::min(ticks, kMaxTick));
}

void StandardMIDIFile::add(size_t track, uint64_t tick, Kind kind, std::vector<uint8_t> bytes)
{
    if (track >= tracks_.size())
        return;
    tracks_[track].push_back(Event { tick, kind, nextSequence_++, std::move(bytes) });
}

void StandardMIDIFile::addMetaEvent(
    size_t track, double quarterNote, uint8_t type, const std::vector<uint8_t>& data)
{
    add(track, ticksForQuarterNotes(quarterNote), Kind::Meta, metaBytes(type, data.data(), data.size()));
}

void StandardMIDIFile::addTextEvent(size_t track, double quarterNote, uint8_t type, const std::string& text)
{
    add(track, ticksForQuarterNotes(quarterNote), Kind::Meta,
        metaBytes(type, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void StandardMIDIFile::addTempoEvent(size_t track, double quarterNote, uint32_t microsecondsPerQuarterNote)
{
    const uint32_t tempo = std::clamp<uint32_t>(microsecondsPerQuarterNote, 1, kMaxTempo);
    const uint8_t data[3] = { static_cast<uint8_t>(tempo >> 16), static_cast<uint8_t>(tempo >> 8),
        static_cast<uint8_t>(tempo) };
    add(track, ticksForQuarterNotes(quarterNote), Kind::Meta, metaBytes(kMetaTempo, data, sizeof data));
}

void StandardMIDIFile::addTimeSignatureEvent(
    size_t track, double quarterNote, uint8_t numerator, uint16_t denominator)
{
    uint8_t log2Denominator = 0;
    for (uint16_t d = denominator; d > 1; d >>= 1)
        ++log2Denominator;
    // 24 MIDI clocks per metronome click, 8 thirty-second notes per quarter note.
    const uint8_t data[4] = { numerator, log2Denominator, 24, 8 };
    add(track, ticksForQuarterNotes(quarterNote), Kind::Meta,
        metaBytes(kMetaTimeSignature, data, sizeof data));
}

void StandardMIDIFile::addNote(size_t track, double quarterNote, uint8_t channel, uint8_t note,
    uint8_t velocity, uint8_t releaseVelocity, double lengthInQuarterNotes)
{
    const uint8_t ch = std::min<uint8_t>(channel, 15);
    const uint8_t key = std::min<uint8_t>(note, 127);
    const uint64_t on = ticksForQuarterNotes(quarterNote);
    const double endNote = quarterNote + (std::isfinite(lengthInQuarterNotes) ? lengthInQuarterNotes : 0.0);
    const uint64_t off = std::max(on + 1, ticksForQuarterNotes(endNote));
    add(track, on, Kind::NoteOn, { static_cast<uint8_t>(0x90 | ch), key, std::min<uint8_t>(velocity, 127) });
    add(track, off, Kind::NoteOff,
        { static_cast<uint8_t>(0x80 | ch), key, std::min<uint8_t>(releaseVelocity, 127) });
}

std::vector<uint8_t> StandardMIDIFile::bytes() const
{
    std::vector<uint8_t> out { 'M', 'T', 'h', 'd' };
    appendBigEndian(out, 6, 4);
    appendBigEndian(out, 1, 2); // format 1: simultaneous tracks
    appendBigEndian(out, std::min<size_t>(tracks_.size(), 0xFFFF), 2);
    appendBigEndian(out, kTicksPerQuarterNote, 2);

    for (size_t t = 0; t < tracks_.size() && t < 0xFFFF; ++t) {
        std::vector<const Event*> events;
        events.reserve(tracks_[t].size());
        for (const Event& event : tracks_[t])
            events.push_back(&event);
        std::sort(events.begin(), events.end(), [](const Event* a, const Event* b) {
            if (a->tick != b->tick)
                return a->tick < b->tick;
            if (a->kind != b->kind)
                return a->kind < b->kind;
            return a->sequence < b->sequence;
        });

        std::vector<uint8_t> body;
        uint64_t previous = 0;
        for (const Event* event : events) {
            // A delta time has at most four bytes (28 bits); a longer silence is bridged by empty
            // text events, which players ignore.
            while (event->tick - previous > kMaxDelta) {
                appendVariableLength(body, kMaxDelta);
                body.insert(body.end(), { 0xFF, kMetaText, 0 });
                previous += kMaxDelta;
            }
            appendVariableLength(body, event->tick - previous);
            previous = event->tick;
            body.insert(body.end(), event->bytes.begin(), event->bytes.end());
        }
        appendVariableLength(body, 0);
        const auto end = metaBytes(kMetaEndOfTrack, nullptr, 0);
        body.insert(body.end(), end.begin(), end.end());

        out.insert(out.end(), { 'M', 'T', 'r', 'k' });
        appendBigEndian(out, body.size(), 4);
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

bool StandardMIDIFile::writeToFile(const std::filesystem::path& path) const
{
    const std::vector<uint8_t> data = bytes();
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string aside = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(aside.data());
    if (fd < 0) {
        logf("StandardMIDIFile: error %d creating a file beside %s", errno, path.c_str());
        return false;
    }
    bool ok = writeAll(fd, data);
    int error = ok ? 0 : errno;
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        error = errno;
    }
    // mkstemp makes the file private; a MIDI file is readable by others as usual. (umask cannot be
    // read without changing it for every thread, so the common 644 is used.)
    ::fchmod(fd, 0644);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(aside.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(aside.c_str());
        logf("StandardMIDIFile: error %d writing %s", error, path.c_str());
    }
    return ok;
}

} // namespace rp
