#pragma once

#include "foundation/RunLoop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <thread>

namespace rp {

// A run loop without a windowing system: a queue of posted work and a set of timers, served by the
// thread the loop is bound to while it runs runFor or runUntil.
class PlainRunLoop final : public RunLoop {
public:
    PlainRunLoop(); // bound to the constructing thread
    explicit PlainRunLoop(std::thread::id owner);
    ~PlainRunLoop() override;
    PlainRunLoop(const PlainRunLoop&) = delete;
    PlainRunLoop& operator=(const PlainRunLoop&) = delete;

    bool isMainThread() const override;
    void perform(std::function<void()> work) override;
    void performAndWait(std::function<void()> work) override;
    void runFor(double seconds) override;
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override;
    TimerId addTimer(double intervalSeconds, bool repeats, std::function<void()> fire) override;
    void cancelTimer(TimerId id) override;
    void bindToCurrentThread() override;

    size_t pendingWorkCount() const;
    size_t timerCount() const;

private:
    using Clock = std::chrono::steady_clock;

    struct Timer {
        Clock::time_point fireTime;
        Clock::duration interval;
        bool repeats = false;
        bool firing = false; // a nested turn does not fire a timer whose callback is still running
        std::shared_ptr<std::function<void()>> fire;
    };

    bool checkMainThread(const char* operation) const;
    void runTurn();
    void runDueTimers();
    // Sleeps until work is posted, a timer is due, or the time limit passes.
    void waitForWork(Clock::time_point limit);
    static Clock::time_point deadlineAfter(double seconds);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<std::thread::id> owner_;
    std::deque<std::function<void()>> work_;
    std::map<TimerId, Timer> timers_;
    TimerId nextTimerId_ = 1;
};

} // namespace rp
