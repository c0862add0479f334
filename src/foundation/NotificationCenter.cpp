#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace rp {

struct NotificationCenter::Registration {
    const void* observer;
    std::string name;
    const void* object;
    Handler handler;
    std::atomic<bool> active { true };

    bool matches(const Notification& notification) const
    {
        return (name.empty() || name == notification.name)
            && (object == nullptr || object == notification.object);
    }
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(
    const void* observer, const std::string& name, const void* object, Handler handler)
{
    if (!handler) {
        return;
    }
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->name = name;
    registration->object = object;
    registration->handler = std::move(handler);
    std::lock_guard lock(mutex_);
    registrations_.push_back(std::move(registration));
}

void NotificationCenter::removeObserver(const void* observer)
{
    removeObserver(observer, {}, nullptr);
}

void NotificationCenter::removeObserver(const void* observer, const std::string& name, const void* object)
{
    // Handlers of removed registrations are released outside the lock: a handler's captures may
    // themselves remove observers when destroyed.
    std::vector<std::shared_ptr<Registration>> removed;
    {
        std::lock_guard lock(mutex_);
        auto kept = registrations_.begin();
        for (auto& registration : registrations_) {
            const bool match = registration->observer == observer
                && (name.empty() || registration->name == name)
                && (object == nullptr || registration->object == object);
            if (match) {
                registration->active = false;
                removed.push_back(std::move(registration));
            } else {
                *kept++ = std::move(registration);
            }
        }
        registrations_.erase(kept, registrations_.end());
    }
}

void NotificationCenter::post(const Notification& notification)
{
    // Handlers run without the lock held, from a snapshot, so that they may add and remove
    // registrations (their own included) and post again.
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& registration : registrations_) {
            if (registration->matches(notification)) {
                matching.push_back(registration);
            }
        }
    }
    for (const auto& registration : matching) {
        if (registration->active) {
            registration->handler(notification);
        }
    }
}

void NotificationCenter::post(const std::string& name, const void* object, std::any userInfo)
{
    post(Notification { name, object, std::move(userInfo) });
}

size_t NotificationCenter::observationCount(const void* observer) const
{
    std::lock_guard lock(mutex_);
    if (observer == nullptr) {
        return registrations_.size();
    }
    return static_cast<size_t>(std::count_if(registrations_.begin(), registrations_.end(),
        [observer](const auto& registration) { return registration->observer == observer; }));
}

} // namespace rp
