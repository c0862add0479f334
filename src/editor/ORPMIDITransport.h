#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// Starts and stops a song document's playback from MIDI: real-time Start and Continue start it,
// Stop stops it, and the MIDI Machine Control commands Stop and Pause stop it and Deferred Play
// starts it. A command that asks for what is already happening is ignored (Start while playing,
// Stop while stopped), so a sequencer that sends Start twice does not stop the song. Clock and
// everything else are ignored.
//
// Main thread only: it listens to the document's SongDocumentMIDIPacketNotification, which the
// document posts on the main thread, so the toggle runs there and is done when it returns.
class ORPMIDITransport {
public:
    enum class Command { None, Play, Stop };

    // What a packet asks for, from its first message.
    static Command commandForMessage(const std::vector<uint8_t>& bytes);

    // Listens to the packets of `document` (the notification's object); `isPlaying` tells whether
    // the document plays, `togglePlay` starts or stops it.
    ORPMIDITransport(const void* document, std::function<bool()> isPlaying, std::function<void()> togglePlay);
    ~ORPMIDITransport();
    ORPMIDITransport(const ORPMIDITransport&) = delete;
    ORPMIDITransport& operator=(const ORPMIDITransport&) = delete;

    // One packet's bytes; true when it toggled play.
    bool processMessage(const std::vector<uint8_t>& bytes);

private:
    const void* document_;
    std::function<bool()> isPlaying_;
    std::function<void()> togglePlay_;
};
