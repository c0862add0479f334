#pragma once

#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "midi/KWMIDIEndpoint.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace rp::test {

// Runs the main run loop (setup changes are handled there) until `done` or the timeout.
inline bool runMainUntil(const std::function<bool()>& done, double timeoutSeconds)
{
    return rp::RunLoop::main().runUntil(done, timeoutSeconds);
}

// Counts "KWMIDISetupChanged" posts; `during` runs inside each post.
class SetupChangedCounter {
public:
    explicit SetupChangedCounter(std::function<void()> during = {})
        : during_(std::move(during))
    {
        rp::NotificationCenter::defaultCenter().addObserver(
            this, "KWMIDISetupChanged", nullptr, [this](const rp::Notification&) {
                maxDepth = std::max(maxDepth.load(), ++depth);
                if (during_) {
                    during_();
                }
                --depth;
                ++count;
            });
    }
    ~SetupChangedCounter() { rp::NotificationCenter::defaultCenter().removeObserver(this); }
    std::atomic<int> count { 0 };
    std::atomic<int> depth { 0 };
    std::atomic<int> maxDepth { 0 };

private:
    std::function<void()> during_;
};

// Records every packet it is handed, with the thread it arrived on.
class RecordingReceiver final : public KWMIDIReceiver {
public:
    struct Packet {
        rp::MIDITimeStamp stamp;
        std::vector<uint8_t> bytes;
        std::thread::id thread;
        KWMIDIEndpoint* sender;
    };
    void processMIDIPacketList(const rp::MIDIPacketList& list, KWMIDIEndpoint* sender) override
    {
        std::lock_guard lock(mutex_);
        for (const rp::MIDIPacket packet : list) {
            packets_.push_back({ packet.timeStamp, { packet.data.begin(), packet.data.end() },
                std::this_thread::get_id(), sender });
        }
    }
    std::vector<Packet> packets() const
    {
        std::lock_guard lock(mutex_);
        return packets_;
    }
    size_t count() const { return packets().size(); }

private:
    mutable std::mutex mutex_;
    std::vector<Packet> packets_;
};

} // namespace rp::test
