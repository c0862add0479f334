#include "midi/MIDIPacketList.h"

#include <cmath>
#include <ctime>

namespace rp {

MIDITimeStamp hostTimeNow()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<MIDITimeStamp>(now.tv_sec) * 1'000'000'000u + static_cast<MIDITimeStamp>(now.tv_nsec);
}

MIDITimeStamp hostTimeFromSeconds(double seconds)
{
    if (!(seconds > 0)) {
        return 0;
    }
    return static_cast<MIDITimeStamp>(std::llround(seconds * 1e9));
}

double secondsFromHostTime(MIDITimeStamp time)
{
    return static_cast<double>(time) / 1e9;
}

namespace {

// Length of a message by its status byte; 0 for system exclusive (runs to F7).
size_t messageLength(uint8_t status)
{
    if (status < 0xF0) {
        return (status & 0xE0) == 0xC0 ? 2 : 3;
    }
    switch (status) {
    case 0xF0:
        return 0;
    case 0xF1:
    case 0xF3:
        return 2;
    case 0xF2:
        return 3;
    default:
        return 1;
    }
}

} // namespace

void forEachMIDIMessage(
    std::span<const uint8_t> bytes, const std::function<void(std::span<const uint8_t>)>& message)
{
    uint8_t runningStatus = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t first = bytes[i];
        if (first == 0xF0) {
            size_t end = i + 1;
            while (end < bytes.size() && bytes[end] != 0xF7) {
                ++end;
            }
            end = end < bytes.size() ? end + 1 : end;
            message(bytes.subspan(i, end - i));
            runningStatus = 0;
            i = end;
            continue;
        }
        if (first >= 0x80) {
            const size_t length = messageLength(first);
            if (first < 0xF0) {
                runningStatus = first;
            } else if (first < 0xF8) {
                runningStatus = 0; // system common messages cancel running status
            }
            if (i + length > bytes.size()) {
                return;
            }
            message(bytes.subspan(i, length));
            i += length;
            continue;
        }
        if (runningStatus == 0) {
            ++i; // a data byte with no status to belong to
            continue;
        }
        const size_t dataBytes = messageLength(runningStatus) - 1;
        if (i + dataBytes > bytes.size()) {
            return;
        }
        uint8_t expanded[3] = { runningStatus, bytes[i], dataBytes > 1 ? bytes[i + 1] : uint8_t { 0 } };
        message(std::span<const uint8_t>(expanded, dataBytes + 1));
        i += dataBytes;
    }
}

MIDIPacketList::MIDIPacketList(size_t byteBudget)
    : budget_(byteBudget)
{
    bytes_.reserve(byteBudget > kHeaderBytes ? byteBudget - kHeaderBytes : 0);
}

bool MIDIPacketList::add(MIDITimeStamp timeStamp, std::span<const uint8_t> bytes)
{
    if (bytes.empty() || bytes.size() > kMaxPacketBytes) {
        return false;
    }
    const size_t needed = kPacketHeaderBytes + bytes.size();
    if (used_ + needed > budget_) {
        return false;
    }
    entries_.push_back({ timeStamp, bytes_.size(), bytes.size() });
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    used_ += needed;
    return true;
}

bool MIDIPacketList::add(MIDITimeStamp timeStamp, std::initializer_list<uint8_t> bytes)
{
    return add(timeStamp, std::span<const uint8_t>(bytes.begin(), bytes.size()));
}

void MIDIPacketList::clear()
{
    entries_.clear();
    bytes_.clear();
    used_ = kHeaderBytes;
}

MIDIPacket MIDIPacketList::packet(size_t index) const
{
    const Entry& entry = entries_.at(index);
    return { entry.timeStamp, std::span<const uint8_t>(bytes_.data() + entry.offset, entry.length) };
}

} // namespace rp
