#pragma once

#include "audio/AudioDevice.h"
#include "audio/OAOutput.h"

#include <memory>
#include <optional>

class OASpeakerOutput;
using OASpeakerOutputPtr = std::shared_ptr<OASpeakerOutput>;

// The output that plays through the audio device. The device pulls frames in real time from the
// rings from the moment the output is made until it ends, so the clock counts every frame played,
// silence included. When no device can be opened the null device stands in (one log line), so the
// clock always runs.
class OASpeakerOutput final : public OAOutput {
public:
    // The default device of `kind` (none: the "RPAudioDevice" user default, else automatic) at its
    // own nominal rate, 2 channels. The clock starts at `clockOrigin` frames (0 normally; a later
    // origin stands for an output that has been running for a long time).
    static OASpeakerOutputPtr init(
        std::optional<AudioDeviceKind> kind = std::nullopt, uint64_t clockOrigin = 0);
    static OASpeakerOutputPtr initWithSampleRate(float sampleRate, uint32_t channels,
        std::optional<AudioDeviceKind> kind = std::nullopt, uint64_t clockOrigin = 0);
    ~OASpeakerOutput() override;

    // Blocks until the clock is within 0.05 s of `frame`, polling every 10 ms. Returns at once when
    // the frame is that close or past, and gives up when the device clock stops moving for a second
    // (a vanished device must not hang the caller).
    void cueToFrame(uint64_t frame) override;

    // Cuts all pending sound at once; the clock is unchanged.
    void silenceAndFlush();
    // Cuts the pending sound at and after `frame` (a loop point); what comes before it plays in full.
    void silenceFromFrame(uint64_t frame) { silenceRingBuffersFromFrame(frame); }

    // The device actually playing (the null device when nothing else could be opened).
    AudioDeviceKind deviceKind() const { return device_ ? device_->kind() : AudioDeviceKind::Null; }
    std::string deviceName() const { return device_ ? device_->name() : std::string("none"); }

private:
    OASpeakerOutput() = default;
    bool openDevice(std::optional<AudioDeviceKind> kind, double sampleRate, uint32_t channels);
    bool startDevice();
    static void renderDevice(void* context, float* const* channels, uint32_t channelCount, uint32_t frames);

    std::unique_ptr<AudioDevice> device_;
    AudioBufferList deviceBufferList_; // sized once; only the device thread touches it afterwards
};
