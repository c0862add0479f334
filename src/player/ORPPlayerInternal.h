#pragma once

// Shared by the player's source files only.

#include "foundation/UserDefaults.h"
#include "kit/ORPUserDefaults.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace rp::player {

// Events are mixed at most this far ahead of the output clock.
inline constexpr float kLeadSeconds = 0.05f;
inline constexpr auto kRendererPoll = std::chrono::milliseconds(25);
// Host time is CLOCK_MONOTONIC in nanoseconds.
inline constexpr double kHostTicksPerSecond = 1e9;
inline constexpr uint8_t kNoteOffVelocity = 64;

// A MIDI data byte from a computed value: truncated, 0 to 127.
inline uint8_t midiByte(double value)
{
    if (!(value > 0)) {
        return 0;
    }
    return static_cast<uint8_t>(std::min(value, 127.0));
}

// The player's user defaults are read from the store the kit layer uses (tests install their own).
inline rp::UserDefaults& playerDefaults()
{
    return ORPUserDefaults::defaults();
}

} // namespace rp::player
