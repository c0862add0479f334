#pragma once

#include "midi/MIDIPacketList.h"

#include <array>
#include <cstdint>
#include <functional>

// MIDI time code at 30 frames per second, as the player sends it alongside a live run: a running
// time-line value (seconds) that grows by 1/120 s per quarter frame, with quarter frames spaced
// 1/120 s apart in host time.
class ORPPlayerTimeCode {
public:
    using Send = std::function<void(const rp::MIDIPacketList&)>;

    // The series begins at host time `firstQuarterFrame` with the time-line value `seconds`.
    ORPPlayerTimeCode(double seconds, rp::MIDITimeStamp firstQuarterFrame, double ticksPerSecond);

    // Sends every quarter frame whose host time is at most `until`, in packet lists of 272 bytes:
    // each full list as it fills, what is left at the end.
    void sendUpTo(rp::MIDITimeStamp until, const Send& send);

    double value() const { return value_; }

    // F1's data byte for piece 0-7 of a time-line value.
    static uint8_t quarterFrameData(int piece, double seconds);
    // MMC Locate (F0 7F 7F 06 44 06 01 hh mm ss ff 00 F7) to a time-line value.
    static std::array<uint8_t, 13> locateMessage(double seconds);

    static constexpr double kFramesPerSecond = 30.0;
    static constexpr double kQuarterFramesPerSecond = 120.0;

private:
    double value_;
    double nextHostTime_;
    double ticksPerQuarterFrame_;
    int piece_ = 0;
};
