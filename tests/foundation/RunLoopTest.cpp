#include "foundation/Logger.h"
#include "foundation/NotificationQueue.h"
#include "foundation/PlainRunLoop.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

TEST(RunLoop, TimersPostedWorkTimeoutsAndNestedRunsBehave)
{
    rp::PlainRunLoop loop;
    std::vector<std::string> fired;
    rp::RunLoop::TimerId repeating = 0;
    repeating = loop.addTimer(0.01, true, [&] {
        fired.push_back("tick");
        if (std::count(fired.begin(), fired.end(), "tick") == 3)
            loop.cancelTimer(repeating);
    });
    loop.addTimer(0.015, false, [&] { fired.push_back("once"); });
    loop.cancelTimer(loop.addTimer(0.005, false, [&] { fired.push_back("cancelled"); }));

    auto start = Clock::now();
    loop.runFor(0.1);
    EXPECT_GE(secondsSince(start), 0.1);
    // The one-shot at 15 ms comes between the first and the second tick.
    EXPECT_EQ(fired, (std::vector<std::string> { "tick", "once", "tick", "tick" }));
    EXPECT_EQ(loop.timerCount(), 0u);

    // Posted work runs in order.
    std::vector<int> order;
    loop.perform([&] {
        order.push_back(1);
        loop.perform([&] { order.push_back(3); }); // posted during a turn: runs in a later turn
    });
    loop.perform([&] { order.push_back(2); });
    EXPECT_TRUE(loop.runUntil([&] { return order.size() == 3; }, 1.0));
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3 }));

    start = Clock::now();
    EXPECT_FALSE(loop.runUntil([] { return false; }, 0.05));
    EXPECT_GE(secondsSince(start), 0.05);
    EXPECT_LT(secondsSince(start), 1.0);

    // An item that spins the loop while it waits for a later item must not deadlock: the player
    // waits for its lock this way while the renderer waits on a main-thread call.
    bool laterRan = false, sawLater = false;
    loop.perform([&] { sawLater = loop.runUntil([&] { return laterRan; }, 1.0); });
    loop.perform([&] { laterRan = true; });
    loop.runFor(0);
    EXPECT_TRUE(sawLater);
}

TEST(RunLoopThreads, AMainLoopFirstAskedForByAWorkerBelongsToTheMainThreadAndFlushesTheDefaultQueue)
{
    rp::RunLoop::setMain(nullptr);
    bool workerSawMainThread = true;
    std::thread worker([&] {
        workerSawMainThread = rp::RunLoop::main().isMainThread();
        rp::RunLoop::main().perform([] {});
    });
    worker.join();
    EXPECT_FALSE(workerSawMainThread);
    auto* loop = dynamic_cast<rp::PlainRunLoop*>(&rp::RunLoop::main());
    ASSERT_TRUE(loop && loop->isMainThread());

    // Each turn flushes the default queue (coalescing), then runs the end-of-turn hooks.
    std::vector<std::string> events;
    int observer = 0;
    auto& center = rp::NotificationCenter::defaultCenter();
    center.addObserver(&observer, "RunLoopTestQueued", nullptr,
        [&](const rp::Notification&) { events.push_back("posted"); });
    loop->perform([&] {
        events.push_back("work");
        rp::NotificationQueue::defaultQueue().enqueueNotification({ "RunLoopTestQueued", &observer, {} });
        rp::NotificationQueue::defaultQueue().enqueueNotification({ "RunLoopTestQueued", &observer, {} });
        loop->performAtEndOfTurn([&] { events.push_back("hook"); });
    });
    EXPECT_TRUE(loop->runUntil([&] { return events.size() >= 3; }, 1));
    center.removeObserver(&observer);
    EXPECT_EQ(events, (std::vector<std::string> { "work", "posted", "hook" }));
    rp::RunLoop::setMain(nullptr);
}

TEST(RunLoopThreads, NestedTurnsFlushTheQueueButOnlyTheOutermostTurnRunsTheEndOfTurnHooks)
{
    auto loop = std::make_shared<rp::PlainRunLoop>();
    rp::RunLoop::setMain(loop);
    std::vector<std::string> events;
    int observer = 0;
    auto& center = rp::NotificationCenter::defaultCenter();
    center.addObserver(&observer, "RunLoopTestNested", nullptr,
        [&](const rp::Notification&) { events.push_back("posted"); });
    std::vector<int> depths;
    loop->perform([&] {
        depths.push_back(loop->turnDepth());
        loop->performAtEndOfTurn([&] { events.push_back("hook"); });
        rp::NotificationQueue::defaultQueue().enqueueNotification({ "RunLoopTestNested", &observer, {} });
        loop->perform([&] { depths.push_back(loop->turnDepth()); });
        loop->runFor(0.005); // a modal loop
        events.push_back("nested loop returned");
    });
    const auto finishedBefore = loop->outermostTurnsFinished();
    loop->runFor(0);
    EXPECT_EQ(events, (std::vector<std::string> { "posted", "nested loop returned", "hook" }));
    EXPECT_EQ(depths, (std::vector<int> { 1, 2 }));
    EXPECT_EQ(loop->outermostTurnsFinished(), finishedBefore + 1);

    // Work that throws out of a turn leaves no nesting behind: later turns are outermost again.
    loop->perform([] { throw std::runtime_error("boom"); });
    EXPECT_THROW(loop->runFor(0), std::runtime_error);
    EXPECT_EQ(loop->turnDepth(), 0);
    events.clear();
    loop->performAtEndOfTurn([&] { events.push_back("hook"); });
    loop->runFor(0);
    EXPECT_EQ(events, (std::vector<std::string> { "hook" }));
    center.removeObserver(&observer);
    rp::RunLoop::setMain(nullptr);
}

TEST(RunLoopThreads, PerformAndWaitRunsOnTheMainThreadAndReturnsAfterTheWork)
{
    rp::PlainRunLoop loop;
    const auto mainId = std::this_thread::get_id();
    std::atomic<int> finished { 0 }, ran { 0 };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            EXPECT_FALSE(loop.isMainThread());
            for (int i = 0; i < 25; ++i) {
                int value = 0;
                loop.performAndWait([&] {
                    value = 7;
                    ran += std::this_thread::get_id() == mainId;
                });
                EXPECT_EQ(value, 7); // the work has run by the time the call returns
            }
            ++finished;
        });
    }
    EXPECT_TRUE(loop.runUntil([&] { return finished == 4; }, 10.0));
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(ran, 100);

    // Exceptions reach the waiting thread.
    std::atomic<bool> caught { false };
    std::thread thrower([&] {
        try {
            loop.performAndWait([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    EXPECT_TRUE(loop.runUntil([&] { return caught.load(); }, 10.0));
    thrower.join();
}

TEST(RunLoopThreads, IdleLoopWakesForPostedWorkRefusesOtherThreadsAndReleasesWaitersWhenDestroyed)
{
    auto loop = std::make_unique<rp::PlainRunLoop>();
    std::atomic<bool> ran { false }, returned { false };
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        loop->perform([&] { ran = true; });
    });
    const auto start = Clock::now();
    // runFor would sleep 5 s with nothing to do; the posted work is served as it arrives.
    EXPECT_TRUE(loop->runUntil([&] { return ran.load(); }, 5.0));
    EXPECT_LT(secondsSince(start), 2.0);
    poster.join();

    rp::LogCapture capture;
    std::thread other([&] { loop->runFor(0.01); });
    other.join();
    EXPECT_TRUE(capture.contains("off the loop's thread"));

    // A thread waiting on work the loop never ran returns when the loop goes away.
    ran = false;
    std::thread waiter([&] {
        loop->performAndWait([&] { ran = true; });
        returned = true;
    });
    while (loop->pendingWorkCount() == 0)
        std::this_thread::yield();
    loop.reset();
    waiter.join();
    EXPECT_TRUE(returned && !ran);
    EXPECT_TRUE(capture.contains("dropped"));
}
