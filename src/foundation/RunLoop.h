#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace rp {

// The main thread's event loop as the engine sees it. The CLI and the tests use PlainRunLoop; the GUI
// adapts Qt's event loop to this interface.
//
// Turns nest: work that runs the loop again (a modal dialog, the player waiting with runFor or
// runUntil) runs nested turns inside the turn that called it. Every turn's end flushes the default
// notification queue; only the end of the outermost turn, which ends the user's action, runs the
// end-of-turn hooks (the undo managers close their automatic groups there), so a nested loop never
// splits one user action into several undo steps.
//
// An implementation reports turn ends in one of two ways. A loop that runs its own turns brackets
// each with enterTurn() and leaveTurn(), and the nesting follows from the brackets. A loop driven
// by another event loop (Qt's, which knows its own nesting level) calls finishTurn() with the kind
// of turn that ended.
class RunLoop {
public:
    enum class TurnEnd { Nested, Outermost };

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

    // Runs once at the end of the current (or next) outermost turn of this loop. Thread-safe.
    void performAtEndOfTurn(std::function<void()> hook);

    // Main thread: how many turns are under way (0 outside any turn, 2 inside a nested one), as
    // counted by enterTurn and leaveTurn.
    int turnDepth() const { return turnDepth_; }
    // How many outermost turns have ended. Lets a caller tell whether the user action it saw is
    // still the current one.
    uint64_t outermostTurnsFinished() const { return outermostTurnsFinished_.load(); }

protected:
    // Bracket one turn of a loop that runs its own turns. leaveTurn finishes it as outermost when
    // no other turn encloses it, else as nested. Main thread only.
    void enterTurn();
    void leaveTurn();
    // For a turn left by an exception: the depth unwinds without finishing the turn.
    void abandonTurn();
    // Flushes the default notification queue (when this is the main loop); at the end of an
    // outermost turn also runs the end-of-turn hooks. Main thread only.
    void finishTurn(TurnEnd end);
    bool hasEndOfTurnHooks() const;

private:
    mutable std::mutex hooksMutex_;
    std::vector<std::function<void()>> endOfTurnHooks_;
    int turnDepth_ = 0;
    std::atomic<uint64_t> outermostTurnsFinished_ { 0 };
};

} // namespace rp
