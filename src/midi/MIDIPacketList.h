#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace rp {

// Host time: CLOCK_MONOTONIC in nanoseconds. A packet stamped 0 goes out at once.
using MIDITimeStamp = uint64_t;

MIDITimeStamp hostTimeNow();
MIDITimeStamp hostTimeFromSeconds(double seconds);
double secondsFromHostTime(MIDITimeStamp time);

// Calls `message` once for each complete MIDI message in `bytes`: running status is expanded,
// a system-exclusive message runs to its F7 (or to the end of the bytes), stray data bytes
// and a truncated last message are dropped.
void forEachMIDIMessage(
    std::span<const uint8_t> bytes, const std::function<void(std::span<const uint8_t>)>& message);

// One packet of a list: its time stamp and its bytes (one or more MIDI messages).
struct MIDIPacket {
    MIDITimeStamp timeStamp = 0;
    std::span<const uint8_t> data;
};

// A list of time-stamped packets built into a fixed byte budget, counted the way the
// platform's packet lists are laid out: a 4-byte packet count, then for each packet an
// 8-byte time stamp, a 2-byte length and the bytes. A full list refuses further packets
// (add returns false); the caller sends it and begins a new one.
class MIDIPacketList {
public:
    static constexpr size_t kHeaderBytes = 4;
    static constexpr size_t kPacketHeaderBytes = 10;
    static constexpr size_t kMaxPacketBytes = 65535;

    explicit MIDIPacketList(size_t byteBudget = 272);

    // Appends one packet; false (and the list unchanged) when it does not fit the budget,
    // when it is empty or longer than a packet may be.
    bool add(MIDITimeStamp timeStamp, std::span<const uint8_t> bytes);
    bool add(MIDITimeStamp timeStamp, std::initializer_list<uint8_t> bytes);

    void clear();

    size_t byteBudget() const { return budget_; }
    size_t bytesUsed() const { return used_; }
    size_t numPackets() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    MIDIPacket packet(size_t index) const;

    class const_iterator {
    public:
        using value_type = MIDIPacket;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const_iterator(const MIDIPacketList* list, size_t index)
            : list_(list)
            , index_(index)
        {
        }
        MIDIPacket operator*() const { return list_->packet(index_); }
        const_iterator& operator++()
        {
            ++index_;
            return *this;
        }
        const_iterator operator++(int)
        {
            auto copy = *this;
            ++index_;
            return copy;
        }
        bool operator==(const const_iterator& other) const = default;

    private:
        const MIDIPacketList* list_ = nullptr;
        size_t index_ = 0;
    };
    const_iterator begin() const { return { this, 0 }; }
    const_iterator end() const { return { this, entries_.size() }; }

private:
    struct Entry {
        MIDITimeStamp timeStamp;
        size_t offset;
        size_t length;
    };
    size_t budget_;
    size_t used_ = kHeaderBytes;
    std::vector<uint8_t> bytes_;
    std::vector<Entry> entries_;
};

} // namespace rp
