#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace rp {

// The main thread's event loop as the engine sees it. The CLI and the tests use PlainRunLoop; the GUI
// adapts Qt's event loop to this interface. An implementation calls finishTurn() after each turn
// (a batch of posted work, timers or events), which flushes the default notification queue and runs
// the end-of-turn hooks (the undo managers close their automatic groups there).
class RunLoop {
public:
    virtual ~RunLoop() = default;

    // The main loop: the installed one, or a PlainRunLoop made on first use and bound to the process's
    // main thread, whichever thread asked first.
    static RunLoop& main();
    // Installs a loop as the main one and binds it to the calling thread. Null drops the installed
    // loop; the next main() makes a fresh one.
    static void setMain(std::shared_ptr<RunLoop> loop);

    virtual bool isMainThread() const = 0;

    // Any thread: the work runs on the main thread in a later turn, in posting order.
    virtual void perform(std::function<void()> work) = 0;
    // Any thread: runs the work on the main thread and returns when it has run (inline when called on
    // the main thread). The main thread must be running the loop for this to return.
    virtual void performAndWait(std::function<void()> work) = 0;

    // Main thread: runs turns (posted work, due timers, end-of-turn hooks) for the interval; always at
    // least one turn. May be nested inside work the loop runs.
    virtual void runFor(double seconds) = 0;
    // Main thread: runs turns until done() is true (checked before the first turn and after each) or
    // the timeout passes. Returns done()'s last answer.
    virtual bool runUntil(const std::function<bool()>& done, double timeoutSeconds) = 0;

    using TimerId = uint64_t;
    // The first firing comes after the interval; a repeating timer then fires every interval, skipping
    // firings it missed. Timers fire on the main thread while the loop runs.
    virtual TimerId addTimer(double intervalSeconds, bool repeats, std::function<void()> fire) = 0;
    virtual void cancelTimer(TimerId id) = 0;

    // Called when the loop becomes the main one (setMain); binds it to the calling thread.
    virtual void bindToCurrentThread() { }

    // Runs once at the end of the current (or next) turn of this loop. Thread-safe.
    void performAtEndOfTurn(std::function<void()> hook);

protected:
    // Flushes the default notification queue (when this is the main loop) and runs the end-of-turn
    // hooks. Main thread only.
    void finishTurn();
    bool hasEndOfTurnHooks() const;

private:
    mutable std::mutex hooksMutex_;
    std::vector<std::function<void()>> endOfTurnHooks_;
};

} // namespace rp
