#pragma once

#include "kit/ORPDrum.h"

#include <cstdint>
#include <memory>
#include <vector>

class ORPPatternEditor;

// Turns the note-ons a song document receives from MIDI into drum hits in its pattern editor: the
// note chooses the drum in the editor's drum picker (by channel and note); with recording on the
// drum is recorded into the song, otherwise it is played at full velocity. A note-on with velocity 0
// is a note-off and is ignored, as is everything else. The note's own velocity is not used.
//
// Main thread only: it listens to the document's SongDocumentMIDIPacketNotification, which the
// document posts on the main thread.
class ORPMIDINoteRecorder {
public:
    // Listens to the packets of `document` (the notification's object) for `editor`.
    ORPMIDINoteRecorder(const void* document, std::weak_ptr<ORPPatternEditor> editor);
    ~ORPMIDINoteRecorder();
    ORPMIDINoteRecorder(const ORPMIDINoteRecorder&) = delete;
    ORPMIDINoteRecorder& operator=(const ORPMIDINoteRecorder&) = delete;

    // One packet's bytes; returns the drum chosen, or null when the packet chose none.
    ORPDrumPtr processMessage(const std::vector<uint8_t>& bytes);

private:
    const void* document_;
    std::weak_ptr<ORPPatternEditor> editor_;
};
