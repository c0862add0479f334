#include "midi/MIDIScheduler.h"

#include <chrono>

namespace rp {

namespace {

// steady_clock is CLOCK_MONOTONIC on Linux, the clock host time is read from.
std::chrono::steady_clock::time_point steadyFromHostTime(MIDITimeStamp stamp)
{
    const auto now = std::chrono::steady_clock::now();
    const MIDITimeStamp host = hostTimeNow();
    if (stamp <= host) {
        return now;
    }
    return now + std::chrono::nanoseconds(stamp - host);
}

} // namespace

MIDIScheduler::MIDIScheduler(Emit emit)
    : emit_(std::move(emit))
{
    thread_ = std::thread([this] { run(); });
}

MIDIScheduler::~MIDIScheduler()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void MIDIScheduler::schedule(uint32_t port, uint32_t destination, const MIDIPacketList& list)
{
    if (list.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        for (const MIDIPacket packet : list) {
            queue_.push(Event { packet.timeStamp, nextSequence_++, port, destination,
                std::vector<uint8_t>(packet.data.begin(), packet.data.end()) });
            ++pending_[port];
        }
    }
    wake_.notify_all();
}

size_t MIDIScheduler::pendingForPort(uint32_t port) const
{
    std::lock_guard lock(mutex_);
    const auto found = pending_.find(port);
    return found == pending_.end() ? 0 : found->second;
}

bool MIDIScheduler::waitUntilIdle(double timeoutSeconds)
{
    std::unique_lock lock(mutex_);
    return idle_.wait_for(
        lock, std::chrono::duration<double>(timeoutSeconds), [this] { return pending_.empty(); });
}

void MIDIScheduler::run()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const MIDITimeStamp due = queue_.top().stamp;
        if (due > hostTimeNow()) {
            wake_.wait_until(lock, steadyFromHostTime(due));
            continue;
        }
        Event event = queue_.top();
        queue_.pop();
        lock.unlock();
        emit_(event.port, event.destination, event.stamp, event.bytes);
        lock.lock();
        auto count = pending_.find(event.port);
        if (count != pending_.end() && --count->second == 0) {
            pending_.erase(count);
        }
        if (pending_.empty()) {
            idle_.notify_all();
        }
    }
}

} // namespace rp
