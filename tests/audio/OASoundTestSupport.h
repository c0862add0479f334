#pragma once

// Helpers for the sound tests: files written by libsndfile itself, and the mixer's working format.

#include "audio/AudioTypes.h"

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
    SF_INFO info {};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
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

inline const float* channelData(const AudioBufferList* list, size_t channel)
{
    return static_cast<const float*>(list->mBuffers.at(channel).mData);
}

inline size_t channelFrames(const AudioBufferList* list, size_t channel)
{
    return list->mBuffers.at(channel).mDataByteSize / sizeof(float);
}

// Frequency from upward zero crossings, interpolated between samples.
inline double measuredFrequency(const float* samples, size_t frames, double sampleRate)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = 1; i < frames; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            const double at = static_cast<double>(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
            if (first < 0) {
                first = at;
            } else {
                ++crossings;
            }
            last = at;
        }
    }
    return crossings > 0 ? crossings * sampleRate / (last - first) : 0.0;
}

} // namespace rp::test
