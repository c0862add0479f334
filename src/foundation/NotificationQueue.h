#pragma once

#include "foundation/NotificationCenter.h"

#include <deque>
#include <mutex>

namespace rp {

// Holds notifications to be posted as soon as possible: the main run loop flushes the default queue
// at the end of every turn. A notification that matches one already waiting (by name and/or sender,
// as the coalescing mask says) replaces it, so a burst of changes within one turn is posted once,
// carrying the latest user info.
class NotificationQueue {
public:
    enum Coalesce { CoalesceNone = 0, CoalesceOnName = 1, CoalesceOnSender = 2 };

    explicit NotificationQueue(NotificationCenter& center = NotificationCenter::defaultCenter());
    NotificationQueue(const NotificationQueue&) = delete;
    NotificationQueue& operator=(const NotificationQueue&) = delete;

    static NotificationQueue& defaultQueue();

    // Thread-safe; the notification is posted later by whoever flushes (the main thread).
    void enqueueNotification(
        const Notification& notification, int coalesceMask = CoalesceOnName | CoalesceOnSender);

    // Drops waiting notifications that match by the mask's criteria (no criteria matches all).
    void dequeueNotificationsMatching(const Notification& notification, int coalesceMask);

    // Posts the notifications waiting now, oldest first, on the calling thread. Notifications
    // enqueued by their handlers wait for the next flush. Returns how many were posted.
    size_t flush();

    bool isEmpty() const;

private:
    static bool matches(const Notification& queued, const Notification& notification, int coalesceMask);

    NotificationCenter& center_;
    mutable std::mutex mutex_;
    std::deque<Notification> queue_;
};

} // namespace rp
