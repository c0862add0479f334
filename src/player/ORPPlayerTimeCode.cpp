#include "player/ORPPlayerTimeCode.h"

#include <cmath>

namespace {

struct TimeCodeFields {
    unsigned hours, minutes, seconds, frames;
};

TimeCodeFields split(double value)
{
    if (!(value > 0)) {
        return { 0, 0, 0, 0 };
    }
    // Bounded so that a hostile time line cannot overflow the conversion: 24 hours is MTC's range.
    value = std::fmod(value, 24.0 * 3600.0);
    const auto whole = static_cast<unsigned>(value);
    const double fraction = value - static_cast<double>(whole);
    return { whole / 3600, (whole % 3600) / 60, whole % 60,
        static_cast<unsigned>(fraction * ORPPlayerTimeCode::kFramesPerSecond) };
}

constexpr uint8_t kRate30FramesPerSecond = 0x06; // rate code 3 in bits 1-2 of piece 7

} // namespace

ORPPlayerTimeCode::ORPPlayerTimeCode(
    double seconds, rp::MIDITimeStamp firstQuarterFrame, double ticksPerSecond)
    : value_(seconds)
    , nextHostTime_(static_cast<double>(firstQuarterFrame))
    , ticksPerQuarterFrame_(ticksPerSecond / kQuarterFramesPerSecond)
{
}

uint8_t ORPPlayerTimeCode::quarterFrameData(int piece, double seconds)
{
    const TimeCodeFields t = split(seconds);
    unsigned nibble = 0;
    switch (piece & 7) {
    case 0:
        nibble = t.frames & 0x0F;
        break;
    case 1:
        nibble = t.frames >> 4;
        break;
    case 2:
        nibble = t.seconds & 0x0F;
        break;
    case 3:
        nibble = t.seconds >> 4;
        break;
    case 4:
        nibble = t.minutes & 0x0F;
        break;
    case 5:
        nibble = t.minutes >> 4;
        break;
    case 6:
        nibble = t.hours & 0x0F;
        break;
    default:
        nibble = ((t.hours >> 4) & 0x01) | kRate30FramesPerSecond;
        break;
    }
    return static_cast<uint8_t>(((piece & 7) << 4) | (nibble & 0x0F));
}

std::array<uint8_t, 13> ORPPlayerTimeCode::locateMessage(double seconds)
{
    const TimeCodeFields t = split(seconds);
    return { 0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, static_cast<uint8_t>(t.hours),
        static_cast<uint8_t>(t.minutes), static_cast<uint8_t>(t.seconds), static_cast<uint8_t>(t.frames),
        0x00, 0xF7 };
}

void ORPPlayerTimeCode::sendUpTo(rp::MIDITimeStamp until, const Send& send)
{
    rp::MIDIPacketList list;
    while (nextHostTime_ <= static_cast<double>(until)) {
        const auto stamp = static_cast<rp::MIDITimeStamp>(nextHostTime_);
        const uint8_t data = quarterFrameData(piece_, value_);
        if (!list.add(stamp, { 0xF1, data })) {
            send(list);
            list.clear();
            list.add(stamp, { 0xF1, data });
        }
        piece_ = (piece_ + 1) & 7;
        nextHostTime_ += ticksPerQuarterFrame_;
        value_ += 1.0 / kQuarterFramesPerSecond;
    }
    if (!list.empty()) {
        send(list);
    }
}
