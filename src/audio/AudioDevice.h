#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The audio-device layer under the speaker output: something that calls a render function from its
// own real-time thread, asking for a number of frames of 32-bit float audio, one block per channel.
//
// Kinds: JACK, PulseAudio (also PipeWire's Pulse service) and ALSA through RtAudio, and a null
// device that pulls frames at the nominal rate from a thread of its own and sends them nowhere.

enum class AudioDeviceKind { Automatic, Jack, Pulse, Alsa, Null };

// "auto", "jack", "pulse", "alsa", "null" (case-insensitive); none for anything else.
std::optional<AudioDeviceKind> audioDeviceKindFromString(std::string_view text);
const char* audioDeviceKindName(AudioDeviceKind kind);

// The user default naming the device the speaker output opens when no kind is given.
inline constexpr const char* kAudioDeviceDefaultsKey = "RPAudioDevice";

// Called on the device's thread. `channels` points at `channelCount` blocks of `frames` floats to
// fill. Must not allocate, log or block on anything but short locks.
using AudioDeviceRenderFunction
    = void (*)(void* context, float* const* channels, uint32_t channelCount, uint32_t frames);

class AudioDevice {
public:
    virtual ~AudioDevice() = default;

    // Opens an output of `kind` at `sampleRate` (0: the device's own nominal rate) with `channels`
    // channels, calling `render` with `context` once started. `Automatic` tries JACK, PulseAudio and
    // ALSA in that order. Null (with `error` set to why) when nothing could be opened.
    static std::unique_ptr<AudioDevice> open(AudioDeviceKind kind, double sampleRate, uint32_t channels,
        AudioDeviceRenderFunction render, void* context, std::string* error);

    // The null device; it cannot fail.
    static std::unique_ptr<AudioDevice> openNull(
        double sampleRate, uint32_t channels, AudioDeviceRenderFunction render, void* context);

    // The kind the speaker output uses when not told: the "RPAudioDevice" user default when it
    // names a kind, else Automatic.
    static AudioDeviceKind defaultKind();

    virtual AudioDeviceKind kind() const = 0;
    virtual double sampleRate() const = 0;
    virtual uint32_t channels() const = 0;
    // A short human-readable description for logs ("jack: system").
    virtual std::string name() const = 0;

    // Starts or stops the calls to the render function. stop() returns once no call is running.
    virtual bool start(std::string* error) = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // The render functions get at most this many frames per call.
    static constexpr uint32_t kMaximumFramesPerCall = 4096;
};
