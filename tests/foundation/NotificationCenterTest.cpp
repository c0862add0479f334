#include "foundation/NotificationCenter.h"

#include "foundation/NotificationQueue.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(NotificationCenter, MatchesByNameAndObjectRemovesRegistrationsAndHandlersMayChangeThemMidPost)
{
    rp::NotificationCenter center;
    std::vector<std::string> heard;
    auto tagged = [&](std::string tag) {
        return [&heard, tag](const rp::Notification& n) { heard.push_back(tag + ":" + n.name); };
    };
    int senderA = 0, senderB = 0, observer1 = 0, observer2 = 0;
    center.addObserver(&observer1, "Changed", nullptr, tagged("anySender"));
    center.addObserver(&observer1, "Changed", &senderA, tagged("fromA"));
    center.addObserver(&observer2, "", &senderB, tagged("allFromB"));

    center.post("Changed", &senderA);
    center.post("Changed", &senderB, std::string("payload"));
    center.post("Other", &senderB);
    center.post("Other", &senderA);
    EXPECT_EQ(heard,
        (std::vector<std::string> { "anySender:Changed", "fromA:Changed", "anySender:Changed",
            "allFromB:Changed", "allFromB:Other" }));

    // Removing with a name and object removes only that registration.
    heard.clear();
    center.removeObserver(&observer1, "Changed", &senderA);
    center.post("Changed", &senderA);
    EXPECT_EQ(heard, std::vector<std::string> { "anySender:Changed" });
    center.removeObserver(&observer1);
    center.removeObserver(&observer2, "", nullptr);
    EXPECT_EQ(center.observationCount(), 0u);

    // User info arrives, and handlers may change registrations during a post: the first handler
    // removes itself and the victim, adds a new observer and posts again.
    heard.clear();
    int self = 0, victim = 0, late = 0;
    center.addObserver(&self, "Ping", nullptr, [&](const rp::Notification& n) {
        heard.push_back("self " + std::any_cast<std::string>(n.userInfo));
        center.removeObserver(&self);
        center.removeObserver(&victim);
        center.addObserver(&late, "Ping", nullptr, [&](const rp::Notification&) { heard.push_back("late"); });
        center.post("Ping", nullptr, std::string("nested"));
    });
    center.addObserver(&victim, "Ping", nullptr, [&](const rp::Notification&) { heard.push_back("victim"); });

    center.post("Ping", nullptr, std::string("outer"));
    // The nested post reaches only the newcomer; the victim, removed mid-post, hears nothing; the
    // newcomer does not hear the post that was under way when it registered.
    EXPECT_EQ(heard, (std::vector<std::string> { "self outer", "late" }));

    heard.clear();
    center.post("Ping", nullptr);
    EXPECT_EQ(heard, std::vector<std::string> { "late" });
}

TEST(NotificationCenter, CostDoesNotGrowWithOtherObjectsRegistrations)
{
    // A song observes each of its bars; with 40,000 bars every post and every removal must still
    // touch only the registrations of the one bar (scanning them all would take billions of steps).
    rp::NotificationCenter center;
    constexpr int kObjects = 40000;
    std::vector<int> objects(kObjects);
    int observer = 0, heard = 0;
    for (auto& object : objects)
        center.addObserver(&observer, "", &object, [&heard](const rp::Notification&) { ++heard; });
    const auto start = std::chrono::steady_clock::now();
    for (auto& object : objects)
        center.post("Changed", &object);
    for (int i = 0; i < kObjects; i += 2)
        center.removeObserver(&observer, "", &objects[static_cast<size_t>(i)]);
    for (auto& object : objects)
        center.post("Changed", &object);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(heard, kObjects + kObjects / 2);
    EXPECT_LT(seconds, 2.0);
}

TEST(NotificationCenterThreads, ConcurrentRegistrationRemovalAndPosting)
{
    rp::NotificationCenter center;
    std::atomic<int> delivered { 0 };
    int stable = 0;
    center.addObserver(&stable, "Tick", nullptr, [&](const rp::Notification&) { ++delivered; });

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            int tokens[8];
            for (int round = 0; round < 300; ++round) {
                center.addObserver(&tokens[round % 8], "Tick", nullptr, [](const rp::Notification&) {});
                center.post("Tick", &tokens[t % 8]);
                center.removeObserver(&tokens[round % 8]);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(delivered.load(), 1200);
    EXPECT_EQ(center.observationCount(), 1u);
}

TEST(NotificationQueue, CoalescesByNameAndSenderAndPostsOnFlushWhatWasQueuedBeforeIt)
{
    rp::NotificationCenter center;
    rp::NotificationQueue queue(center);
    int section1 = 0, section2 = 0, observer = 0;
    std::vector<std::pair<std::string, int>> heard; // name, user info
    center.addObserver(&observer, "", nullptr,
        [&](const rp::Notification& n) { heard.emplace_back(n.name, std::any_cast<int>(n.userInfo)); });

    using Q = rp::NotificationQueue;
    queue.enqueueNotification({ "Duration", &section1, 1 });
    queue.enqueueNotification({ "Duration", &section2, 2 });
    queue.enqueueNotification({ "Duration", &section1, 3 }); // replaces the first, latest info wins
    queue.enqueueNotification({ "Selection", &section1, 4 }, Q::CoalesceOnName);
    queue.enqueueNotification({ "Selection", &section2, 5 }, Q::CoalesceOnName); // same name: replaces
    queue.enqueueNotification({ "Plain", nullptr, 6 }, Q::CoalesceNone);
    queue.enqueueNotification({ "Plain", nullptr, 7 }, Q::CoalesceNone);
    EXPECT_TRUE(heard.empty());

    EXPECT_EQ(queue.flush(), 5u);
    EXPECT_EQ(heard,
        (std::vector<std::pair<std::string, int>> {
            { "Duration", 2 }, { "Duration", 3 }, { "Selection", 5 }, { "Plain", 6 }, { "Plain", 7 } }));

    // Dequeuing by sender drops only that sender's notifications.
    heard.clear();
    queue.enqueueNotification({ "A", &section1, 1 });
    queue.enqueueNotification({ "B", &section1, 2 });
    queue.enqueueNotification({ "A", &section2, 3 });
    queue.dequeueNotificationsMatching({ "", &section1, {} }, Q::CoalesceOnSender);
    queue.flush();
    EXPECT_EQ(heard, (std::vector<std::pair<std::string, int>> { { "A", 3 } }));
    center.removeObserver(&observer);

    // Notifications enqueued while flushing wait for the next flush.
    int count = 0;
    center.addObserver(&observer, "Again", nullptr, [&](const rp::Notification&) {
        ++count;
        queue.enqueueNotification({ "Again", nullptr, {} });
    });
    queue.enqueueNotification({ "Again", nullptr, {} });
    EXPECT_EQ(queue.flush(), 1u);
    EXPECT_EQ(queue.flush(), 1u);
    EXPECT_EQ(count, 2);
    center.removeObserver(&observer);
}
