#include "foundation/RunLoop.h"

#include "foundation/NotificationQueue.h"
#include "foundation/PlainRunLoop.h"

#include <thread>
#include <utility>

namespace rp {

namespace {

std::mutex& mainMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<RunLoop>& mainLoop()
{
    static std::shared_ptr<RunLoop> loop;
    return loop;
}

// Static initialisation runs on the process's main thread. The main loop made on first use belongs
// to that thread even when a worker (an export, a device callback) happens to ask for it first.
const std::thread::id processMainThread = std::this_thread::get_id();

// Queue handlers may enqueue again; a few rounds let such chains settle within the turn, the
// bound keeps a handler that always re-enqueues from stalling the loop.
constexpr int maxQueueRoundsPerTurn = 8;

} // namespace

RunLoop& RunLoop::main()
{
    std::lock_guard lock(mainMutex());
    auto& loop = mainLoop();
    if (!loop) {
        loop = std::make_shared<PlainRunLoop>(processMainThread);
    }
    return *loop;
}

void RunLoop::setMain(std::shared_ptr<RunLoop> loop)
{
    if (loop) {
        loop->bindToCurrentThread();
    }
    std::shared_ptr<RunLoop> previous;
    {
        std::lock_guard lock(mainMutex());
        previous = std::exchange(mainLoop(), std::move(loop));
    }
}

void RunLoop::performAtEndOfTurn(std::function<void()> hook)
{
    if (!hook) {
        return;
    }
    std::lock_guard lock(hooksMutex_);
    endOfTurnHooks_.push_back(std::move(hook));
}

bool RunLoop::hasEndOfTurnHooks() const
{
    std::lock_guard lock(hooksMutex_);
    return !endOfTurnHooks_.empty();
}

void RunLoop::enterTurn()
{
    ++turnDepth_;
}

void RunLoop::leaveTurn()
{
    if (turnDepth_ > 0) {
        --turnDepth_;
    }
    finishTurn(turnDepth_ == 0 ? TurnEnd::Outermost : TurnEnd::Nested);
}

void RunLoop::abandonTurn()
{
    if (turnDepth_ > 0) {
        --turnDepth_;
    }
}

void RunLoop::finishTurn(TurnEnd end)
{
    bool isMain;
    {
        std::lock_guard lock(mainMutex());
        isMain = mainLoop().get() == this;
    }
    if (isMain) {
        auto& queue = NotificationQueue::defaultQueue();
        for (int round = 0; round < maxQueueRoundsPerTurn && queue.flush() > 0; ++round) { }
    }
    if (end == TurnEnd::Nested) {
        return; // the user action goes on in the enclosing turn
    }
    ++outermostTurnsFinished_;
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard lock(hooksMutex_);
        hooks.swap(endOfTurnHooks_);
    }
    for (auto& hook : hooks) {
        hook();
    }
}

} // namespace rp
