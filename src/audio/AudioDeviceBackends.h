#pragma once

#include "audio/AudioDevice.h"

// Constructors of the concrete devices; AudioDevice::open chooses between them.

std::unique_ptr<AudioDevice> openRtAudioDevice(AudioDeviceKind kind, double sampleRate, uint32_t channels,
    AudioDeviceRenderFunction render, void* context, std::string* error);

std::unique_ptr<AudioDevice> openNullAudioDevice(
    double sampleRate, uint32_t channels, AudioDeviceRenderFunction render, void* context);
