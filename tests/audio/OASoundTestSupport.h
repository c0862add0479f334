#pragma once

// Helpers for the sound tests: files written by libsndfile itself, and the mixer's working format.

#include "audio/AudioTypes.h"
#include "audio/OASound.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <sndfile.h>
#include <stdexcept>
#include <vector>

namespace rp::test {

// Writes interleaved samples (nominal range -1..1) with libsndfile in `format` (SF_FORMAT_...).
inline void writeSoundFile(const std::filesystem::path& path, int format, int sampleRate, int channels,
    const std::vector<double>& interleaved)
{
    SF_INFO info { 0, sampleRate, channels, format, 0, 0 };
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        throw std::runtime_error(std::string("cannot write test file: ") + sf_strerror(nullptr));
    }
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_writef_double(file, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
    sf_close(file);
}

// Reads a whole file back as doubles.
inline std::vector<double> readSoundFile(const std::filesystem::path& path, SF_INFO* infoOut = nullptr)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        throw std::runtime_error(std::string("cannot read test file: ") + sf_strerror(nullptr));
    }
    std::vector<double> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_double(file, samples.data(), info.frames);
    sf_close(file);
    if (infoOut) {
        *infoOut = info;
    }
    return samples;
}

inline std::vector<double> sine(double frequency, int sampleRate, size_t frames, double amplitude = 0.5)
{
    std::vector<double> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        out[i]
            = amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / sampleRate);
    }
    return out;
}

// Channel `channel` of the sound decoded to `format` (float, one buffer per channel); empty when the
// sound cannot be decoded.
inline std::vector<float> decodedChannel(
    OASound& sound, const AudioStreamBasicDescription& format, size_t channel = 0)
{
    const AudioBufferList* list = sound.bufferListWithAudioStreamDescription(format);
    if (!list) {
        return {};
    }
    const auto* samples = static_cast<const float*>(list->mBuffers.at(channel).mData);
    return { samples, samples + list->mBuffers[channel].mDataByteSize / sizeof(float) };
}

} // namespace rp::test
