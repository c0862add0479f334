#pragma once

#include "midi/MIDIPacketList.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <queue>
#include <span>
#include <thread>
#include <vector>

namespace rp {

// Sends time-stamped packets at their host times from a thread of its own. Packets with the
// same stamp go out in the order they were scheduled; past stamps (and 0) go out at once.
class MIDIScheduler {
public:
    using Emit = std::function<void(
        uint32_t port, uint32_t destination, MIDITimeStamp stamp, std::span<const uint8_t> bytes)>;

    explicit MIDIScheduler(Emit emit);
    ~MIDIScheduler(); // drops what has not gone out yet
    MIDIScheduler(const MIDIScheduler&) = delete;
    MIDIScheduler& operator=(const MIDIScheduler&) = delete;

    void schedule(uint32_t port, uint32_t destination, const MIDIPacketList& list);

    // Packets of the port not yet handed to Emit (including one being emitted).
    size_t pendingForPort(uint32_t port) const;
    // Waits until nothing is pending, at most the timeout; true when idle.
    bool waitUntilIdle(double timeoutSeconds);

private:
    struct Event {
        MIDITimeStamp stamp;
        uint64_t sequence;
        uint32_t port;
        uint32_t destination;
        std::vector<uint8_t> bytes;
    };
    struct Later {
        bool operator()(const Event& a, const Event& b) const
        {
            return a.stamp != b.stamp ? a.stamp > b.stamp : a.sequence > b.sequence;
        }
    };

    void run();

    Emit emit_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::priority_queue<Event, std::vector<Event>, Later> queue_;
    std::map<uint32_t, size_t> pending_;
    uint64_t nextSequence_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace rp
