#include "audio/AudioDevice.h"

#include "audio/AudioDeviceBackends.h"
#include "foundation/UserDefaults.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

std::optional<AudioDeviceKind> audioDeviceKindFromString(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "auto") {
        return AudioDeviceKind::Automatic;
    }
    if (lower == "jack") {
        return AudioDeviceKind::Jack;
    }
    if (lower == "pulse") {
        return AudioDeviceKind::Pulse;
    }
    if (lower == "alsa") {
        return AudioDeviceKind::Alsa;
    }
    if (lower == "null") {
        return AudioDeviceKind::Null;
    }
    return std::nullopt;
}

const char* audioDeviceKindName(AudioDeviceKind kind)
{
    switch (kind) {
    case AudioDeviceKind::Automatic:
        return "auto";
    case AudioDeviceKind::Jack:
        return "jack";
    case AudioDeviceKind::Pulse:
        return "pulse";
    case AudioDeviceKind::Alsa:
        return "alsa";
    case AudioDeviceKind::Null:
        return "null";
    }
    return "auto";
}

AudioDeviceKind AudioDevice::defaultKind()
{
    const std::optional<std::string> stored
        = rp::UserDefaults::standard().stringForKey(kAudioDeviceDefaultsKey);
    if (auto kind = audioDeviceKindFromString(stored.value_or(std::string()))) {
        return *kind;
    }
    return AudioDeviceKind::Automatic;
}

std::unique_ptr<AudioDevice> AudioDevice::open(AudioDeviceKind kind, double sampleRate, uint32_t channels,
    AudioDeviceRenderFunction render, void* context, std::string* error)
{
    if (kind == AudioDeviceKind::Null) {
        return openNull(sampleRate > 0 ? sampleRate : 44100.0, channels, render, context);
    }
    if (kind != AudioDeviceKind::Automatic) {
        return openRtAudioDevice(kind, sampleRate, channels, render, context, error);
    }
    std::string reasons;
    for (AudioDeviceKind candidate :
        { AudioDeviceKind::Jack, AudioDeviceKind::Pulse, AudioDeviceKind::Alsa }) {
        std::string reason;
        if (auto device = openRtAudioDevice(candidate, sampleRate, channels, render, context, &reason)) {
            return device;
        }
        if (!reasons.empty()) {
            reasons += "; ";
        }
        reasons += std::string(audioDeviceKindName(candidate)) + ": " + reason;
    }
    if (error) {
        *error = reasons;
    }
    return nullptr;
}

std::unique_ptr<AudioDevice> AudioDevice::openNull(
    double sampleRate, uint32_t channels, AudioDeviceRenderFunction render, void* context)
{
    return openNullAudioDevice(sampleRate, channels, render, context);
}
