#include "foundation/PlainRunLoop.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

namespace rp {

namespace {

// runUntil re-checks its condition at least this often, so a condition changed by another
// thread without posting work is noticed promptly.
constexpr auto conditionPollInterval = std::chrono::milliseconds(5);

// Repeating timers faster than this would starve everything else.
constexpr double minimumRepeatInterval = 0.0001;

// Longest wait honoured: larger or non-finite intervals are clamped to it (about 30 years).
constexpr double maximumSeconds = 1.0e9;

} // namespace

PlainRunLoop::PlainRunLoop()
    : PlainRunLoop(std::this_thread::get_id())
{
}

PlainRunLoop::PlainRunLoop(std::thread::id owner)
    : owner_(owner)
{
}

PlainRunLoop::~PlainRunLoop()
{
    // Work still waiting is dropped; a thread blocked in performAndWait on it is released.
    std::deque<std::function<void()>> dropped;
    std::map<TimerId, Timer> timers;
    std::lock_guard lock(mutex_);
    dropped.swap(work_);
    timers.swap(timers_);
}

bool PlainRunLoop::isMainThread() const
{
    return owner_.load() == std::this_thread::get_id();
}

void PlainRunLoop::bindToCurrentThread()
{
    owner_ = std::this_thread::get_id();
}

bool PlainRunLoop::checkMainThread(const char* operation) const
{
    if (isMainThread()) {
        return true;
    }
    logf("PlainRunLoop: %s called off the loop's thread; ignored", operation);
    return false;
}

PlainRunLoop::Clock::time_point PlainRunLoop::deadlineAfter(double seconds)
{
    if (!(seconds > 0.0)) { // negative or NaN
        seconds = 0.0;
    }
    seconds = std::min(seconds, maximumSeconds);
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void PlainRunLoop::perform(std::function<void()> work)
{
    if (!work) {
        return;
    }
    // Notified under the lock: once the work is visible the poster no longer touches the loop, so
    // a loop destroyed right after serving (or dropping) it is safe.
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
    wake_.notify_all();
}

void PlainRunLoop::performAndWait(std::function<void()> work)
{
    if (!work) {
        return;
    }
    if (isMainThread()) {
        work();
        return;
    }
    // The job signals completion when the loop destroys it: after running it, or when the loop goes
    // away with the job still queued.
    struct WaitState {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool ran = false;
        std::exception_ptr error;
    };
    struct Job {
        Job(std::function<void()> work_, std::shared_ptr<WaitState> state_)
            : work(std::move(work_))
            , state(std::move(state_))
        {
        }
        Job(const Job&) = delete;
        Job& operator=(const Job&) = delete;
        std::function<void()> work;
        std::shared_ptr<WaitState> state;
        ~Job()
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
            state->finished.notify_all();
        }
    };
    auto state = std::make_shared<WaitState>();
    auto job = std::make_shared<Job>(std::move(work), state);
    perform([job = std::move(job)] {
        std::exception_ptr error;
        try {
            job->work();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(job->state->mutex);
        job->state->ran = true;
        job->state->error = std::move(error);
    });
    std::unique_lock lock(state->mutex);
    state->finished.wait(lock, [&] { return state->done; });
    if (!state->ran) {
        lock.unlock();
        logf("PlainRunLoop: work waited for was dropped because its loop went away");
        return;
    }
    if (auto error = std::move(state->error)) {
        lock.unlock();
        std::rethrow_exception(error); // what the work threw
    }
}

void PlainRunLoop::runFor(double seconds)
{
    if (!checkMainThread("runFor")) {
        return;
    }
    const auto deadline = deadlineAfter(seconds);
    for (;;) {
        runTurn();
        if (Clock::now() >= deadline) {
            return;
        }
        waitForWork(deadline);
    }
}

bool PlainRunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds)
{
    if (!checkMainThread("runUntil")) {
        return done();
    }
    if (done()) {
        return true;
    }
    const auto deadline = deadlineAfter(timeoutSeconds);
    for (;;) {
        runTurn();
        if (done()) {
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        waitForWork(std::min(deadline, now + conditionPollInterval));
    }
}

PlainRunLoop::TimerId PlainRunLoop::addTimer(double intervalSeconds, bool repeats, std::function<void()> fire)
{
    if (!fire) {
        return 0;
    }
    if (!(intervalSeconds >= 0.0)) {
        intervalSeconds = 0.0;
    }
    if (repeats) {
        intervalSeconds = std::max(intervalSeconds, minimumRepeatInterval);
    }
    intervalSeconds = std::min(intervalSeconds, maximumSeconds);
    Timer timer;
    timer.interval
        = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(intervalSeconds));
    timer.fireTime = Clock::now() + timer.interval;
    timer.repeats = repeats;
    timer.fire = std::make_shared<std::function<void()>>(std::move(fire));
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextTimerId_++;
        timers_.emplace(id, std::move(timer));
    }
    wake_.notify_all();
    return id;
}

void PlainRunLoop::cancelTimer(TimerId id)
{
    std::shared_ptr<std::function<void()>> released; // destroyed after the lock is released
    std::lock_guard lock(mutex_);
    auto found = timers_.find(id);
    if (found != timers_.end()) {
        released = std::move(found->second.fire);
        timers_.erase(found);
    }
}

size_t PlainRunLoop::pendingWorkCount() const
{
    std::lock_guard lock(mutex_);
    return work_.size();
}

size_t PlainRunLoop::timerCount() const
{
    std::lock_guard lock(mutex_);
    return timers_.size();
}

void PlainRunLoop::runTurn()
{
    // Items are taken one at a time so that a nested run (work that spins the loop while it waits)
    // serves the items behind it; the count taken at the start keeps work that posts more work from
    // making the turn endless.
    size_t budget;
    {
        std::lock_guard lock(mutex_);
        budget = work_.size();
    }
    enterTurn();
    // Work or a timer that throws leaves the turn unfinished; the depth must still unwind, or every
    // later turn would count as nested.
    struct Unwind {
        PlainRunLoop& loop;
        bool finished = false;
        ~Unwind()
        {
            if (!finished) {
                loop.abandonTurn();
            }
        }
    } unwind { *this };
    for (; budget > 0; --budget) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (work_.empty()) {
                break;
            }
            work = std::move(work_.front());
            work_.pop_front();
        }
        work();
    }
    runDueTimers();
    unwind.finished = true;
    leaveTurn();
}

void PlainRunLoop::runDueTimers()
{
    const auto now = Clock::now();
    std::vector<std::pair<Clock::time_point, TimerId>> due;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, timer] : timers_) {
            if (!timer.firing && timer.fireTime <= now) {
                due.emplace_back(timer.fireTime, id);
            }
        }
    }
    std::sort(due.begin(), due.end());
    for (const auto& [fireTime, id] : due) {
        std::shared_ptr<std::function<void()>> fire;
        bool repeats = false;
        {
            std::lock_guard lock(mutex_);
            auto found = timers_.find(id);
            if (found == timers_.end() || found->second.firing) {
                continue; // cancelled, or fired by a nested turn, since the list was made
            }
            Timer& timer = found->second;
            fire = timer.fire;
            repeats = timer.repeats;
            if (repeats) {
                // Keep the timer's phase and skip the firings that were missed.
                const auto late = now - timer.fireTime;
                const auto missed = late / timer.interval;
                timer.fireTime += (missed + 1) * timer.interval;
                timer.firing = true;
            } else {
                timers_.erase(found);
            }
        }
        (*fire)();
        if (repeats) {
            std::lock_guard lock(mutex_);
            auto found = timers_.find(id);
            if (found != timers_.end()) {
                found->second.firing = false;
            }
        }
    }
}

void PlainRunLoop::waitForWork(Clock::time_point limit)
{
    std::unique_lock lock(mutex_);
    if (!work_.empty()) {
        return;
    }
    for (const auto& [id, timer] : timers_) {
        if (!timer.firing) {
            limit = std::min(limit, timer.fireTime);
        }
    }
    wake_.wait_until(lock, limit, [this] { return !work_.empty(); });
}

} // namespace rp
