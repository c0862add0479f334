#pragma once

#include "audio/OAOutput.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <sndfile.h>
#include <stdexcept>
#include <vector>

namespace rp::test {

// Writes a 32-bit float WAV file whose channel c holds `channels[c]` (all the same length).
inline void writeFloatWav(
    const std::filesystem::path& path, int sampleRate, const std::vector<std::vector<float>>& channels)
{
    SF_INFO info { 0, sampleRate, static_cast<int>(channels.size()), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0 };
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        throw std::runtime_error("cannot create test sound");
    }
    std::vector<float> interleaved;
    for (size_t f = 0; f < channels[0].size(); ++f) {
        for (const auto& channel : channels) {
            interleaved.push_back(channel[f]);
        }
    }
    sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(channels[0].size()));
    sf_close(file);
}

// Reads any sound file back as one vector per channel.
inline std::vector<std::vector<float>> readChannels(
    const std::filesystem::path& path, SF_INFO* infoOut = nullptr)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    std::vector<std::vector<float>> channels(static_cast<size_t>(info.channels));
    for (size_t i = 0; i < interleaved.size(); ++i) {
        channels[i % channels.size()].push_back(interleaved[i]);
    }
    if (infoOut) {
        *infoOut = info;
    }
    return channels;
}

// The float time on the output clock that truncates to `frame` (seconds are 32-bit floats).
inline float secondsForFrame(uint64_t frame, double sampleRate = 44100.0)
{
    float seconds = static_cast<float>(static_cast<double>(frame) / sampleRate);
    while (static_cast<uint64_t>(static_cast<double>(seconds) * sampleRate) < frame) {
        seconds = std::nextafter(seconds, 1e30f);
    }
    return seconds;
}

// An output whose time passes only when the test pulls; cueToFrame records what it was asked.
class ManualOutput : public OAOutput {
public:
    template <typename Output = ManualOutput>
    static std::unique_ptr<Output> make(float sampleRate = 44100.0f, uint32_t channels = 2)
    {
        std::unique_ptr<Output> output(new Output());
        if (!output->initWithSampleRate(sampleRate, channels)) {
            return nullptr;
        }
        return output;
    }

    void cueToFrame(uint64_t frame) override { cuedFrames.push_back(frame); }

    // Moves the clock as if the output had been running that long.
    using OAOutput::setTotalFramesRead;

    // Takes `frames` frames out of every channel; with `mixer`, the level is applied as well.
    std::vector<std::vector<float>> pull(uint32_t frames, bool mixer = false)
    {
        std::vector<std::vector<float>> samples(channels(), std::vector<float>(frames, -99.0f));
        AudioBufferList list;
        for (auto& channel : samples) {
            list.mBuffers.push_back({ 1, frames * 4, channel.data() });
        }
        if (mixer) {
            renderMixer(frames, list);
        } else {
            uint32_t flags = 0;
            renderWithFlags(&flags, 0, 0, frames, list);
        }
        return samples;
    }

    std::vector<uint64_t> cuedFrames;

protected:
    ManualOutput() = default;
};

} // namespace rp::test
