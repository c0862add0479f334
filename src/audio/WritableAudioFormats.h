#pragma once

#include "audio/AudioTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace rp {

// One way of storing samples in a file: its display name ("16-bit Integer", "µLaw"), a short name
// for the command line ("lpcm", "float", "ulaw" ...) and the stream description it writes (format
// ID, flags and bits per channel; the rate and channel count are the caller's).
struct WritableEncoding {
    std::string name;
    std::string key;
    AudioStreamBasicDescription description;
};

// A container type we write, with its display name and the encodings libsndfile can write into it,
// in menu order.
struct WritableFileType {
    FourCharCode type = 0;
    std::string name;
    std::vector<WritableEncoding> encodings;
};

// Every container type we write, in menu order: the types first whose files every audio program
// reads (AIFF, AIFF-C, WAVE, NeXT/Sun), then the others libsndfile writes. Types and encodings
// this libsndfile cannot write are left out. Built once.
const std::vector<WritableFileType>& writableAudioFileTypes();
// The entry of one type, or null.
const WritableFileType* writableAudioFileType(FourCharCode type);

// The encodings `type` can hold, each description filled in for `sampleRate` and `channels`
// (byte counts computed for the fixed-size ones).
std::vector<WritableEncoding> encodingsForFileType(FourCharCode type, double sampleRate, uint32_t channels);

// The description with rate and channels set and, when the encoding has a fixed frame size, its
// byte counts: bits x channels / 8 per frame and per packet, one frame per packet.
AudioStreamBasicDescription completeDescription(
    const AudioStreamBasicDescription& encoding, double sampleRate, uint32_t channels);

} // namespace rp
