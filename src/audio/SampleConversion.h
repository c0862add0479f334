#pragma once

#include "audio/AudioTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rp {

// Interleaved sample frames on their way from a source to a working format. Integer sources
// travel as left-justified 32-bit integers (exact for every integer width), everything else as
// doubles in the nominal range -1..1 (exact for 32- and 64-bit float sources).
struct PcmFrames {
    enum class Kind { Integer, Real };

    Kind kind = Kind::Real;
    uint32_t channels = 0;
    std::vector<int32_t> ints;
    std::vector<double> reals;

    uint64_t frames() const
    {
        if (channels == 0) {
            return 0;
        }
        return (kind == Kind::Integer ? ints.size() : reals.size()) / channels;
    }
    size_t bytesPerSample() const { return kind == Kind::Integer ? sizeof(int32_t) : sizeof(double); }
};

// Decoded data larger than this (the intermediate frames, or one whole working copy) is refused:
// hostile headers must not drive allocations.
constexpr uint64_t kMaximumDecodedBytes = uint64_t { 1 } << 30;

// Sample rates and channel counts a source may have.
constexpr double kMinimumSourceSampleRate = 1000.0;
constexpr double kMaximumSourceSampleRate = 1536000.0;
constexpr uint32_t kMaximumSourceChannels = 64;
bool isPlausibleSourceFormat(double sampleRate, uint32_t channels);

// Linear PCM layouts the converter writes and reads: signed integers of 8, 16, 24 or 32 bits,
// unsigned 8-bit, floats of 32 or 64 bits; either byte order; interleaved or one buffer per
// channel; samples packed, or in wider containers aligned low or high.
bool isSupportedPcmLayout(const AudioStreamBasicDescription& description);

// Bytes one sample occupies in one buffer of `description` (its container width).
uint32_t sampleContainerBytes(const AudioStreamBasicDescription& description);

// Whether frames bound for `target` should travel as integers: the target is integer PCM and no
// sample-rate conversion is needed.
bool wantsIntegerCarrier(const AudioStreamBasicDescription& target, double sourceSampleRate);

// Channel mapping. Equal counts pass through; one source channel feeds every target channel; one
// target channel gets the mean of all source channels; otherwise target channel c takes source
// channel c modulo the source count (so surplus source channels are dropped and a shortfall
// repeats the first ones, the same rule the mixer uses for its outputs).
PcmFrames mapChannels(PcmFrames frames, uint32_t channels);

// Converts Integer frames to Real ones (x / 2^31).
void makeReal(PcmFrames& frames);

// Whether `ratio` (target rate / source rate) is within what the resampler handles (1/256 to 256).
bool isConvertibleRateRatio(double ratio);

// Resamples Real frames by `ratio` (target rate / source rate) with libsamplerate's sinc
// converter, producing exactly `outputFrames` frames. False with `error` set on failure.
bool resampleFrames(PcmFrames& frames, double ratio, uint64_t outputFrames, std::string* error);

// Drops frames past `count`, or appends silence up to it.
void fitFrames(PcmFrames& frames, uint64_t count);

// Keeps frames [offset, offset + count) (clipped to what there is).
void sliceFrames(PcmFrames& frames, uint64_t offset, uint64_t count);

// Stores frames [0, frameCount) into buffers laid out as `target` (one per channel when
// non-interleaved, else one), each at least frameCount x bytes-per-frame long. Integers narrower
// than the carrier are truncated; reals are scaled by 2^(bits-1), rounded and clipped.
void packFrames(const PcmFrames& frames, const AudioStreamBasicDescription& target,
    const std::vector<uint8_t*>& destinations, uint64_t frameCount);

// The reverse of packFrames: reads `frameCount` frames laid out as `source` into a carrier
// (Integer for integer PCM, Real for floats).
PcmFrames unpackFrames(const AudioStreamBasicDescription& source, const std::vector<const uint8_t*>& sources,
    uint64_t frameCount);

} // namespace rp
