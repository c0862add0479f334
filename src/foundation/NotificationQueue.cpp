#include "foundation/NotificationQueue.h"

#include <algorithm>

namespace rp {

NotificationQueue::NotificationQueue(NotificationCenter& center)
    : center_(center)
{
}

NotificationQueue& NotificationQueue::defaultQueue()
{
    static NotificationQueue queue;
    return queue;
}

bool NotificationQueue::matches(
    const Notification& queued, const Notification& notification, int coalesceMask)
{
    if ((coalesceMask & CoalesceOnName) && queued.name != notification.name) {
        return false;
    }
    if ((coalesceMask & CoalesceOnSender) && queued.object != notification.object) {
        return false;
    }
    return true;
}

void NotificationQueue::enqueueNotification(const Notification& notification, int coalesceMask)
{
    std::deque<Notification> dropped; // destroyed after the lock is released (user info may own anything)
    std::lock_guard lock(mutex_);
    if (coalesceMask & (CoalesceOnName | CoalesceOnSender)) {
        auto kept = std::stable_partition(queue_.begin(), queue_.end(),
            [&](const Notification& queued) { return !matches(queued, notification, coalesceMask); });
        std::move(kept, queue_.end(), std::back_inserter(dropped));
        queue_.erase(kept, queue_.end());
    }
    queue_.push_back(notification);
}

void NotificationQueue::dequeueNotificationsMatching(const Notification& notification, int coalesceMask)
{
    std::deque<Notification> dropped;
    std::lock_guard lock(mutex_);
    auto kept = std::stable_partition(queue_.begin(), queue_.end(),
        [&](const Notification& queued) { return !matches(queued, notification, coalesceMask); });
    std::move(kept, queue_.end(), std::back_inserter(dropped));
    queue_.erase(kept, queue_.end());
}

size_t NotificationQueue::flush()
{
    std::deque<Notification> due;
    {
        std::lock_guard lock(mutex_);
        due.swap(queue_);
    }
    for (const auto& notification : due) {
        center_.post(notification);
    }
    return due.size();
}

bool NotificationQueue::isEmpty() const
{
    std::lock_guard lock(mutex_);
    return queue_.empty();
}

} // namespace rp
