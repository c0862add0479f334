#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>

namespace rp {

struct NotificationCenter::Registration {
    uint64_t sequence;
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

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

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
    registration->sequence = nextSequence_++;
    byObject_[object].push_back(registration);
    auto& observed = byObserver_[observer];
    observed.registrations.push_back(std::move(registration));
    ++observed.live;
    ++count_;
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
        auto observerEntry = byObserver_.find(observer);
        if (observerEntry == byObserver_.end()) {
            return;
        }
        auto matches = [&](const Registration& registration) {
            return registration.observer == observer && registration.active
                && (name.empty() || registration.name == name)
                && (object == nullptr || registration.object == object);
        };
        // With an object given, only that object's (short) list is searched; the observer's own list
        // drops the dead entries once they outnumber the live ones.
        auto unlinkFromObject = [&](const std::shared_ptr<Registration>& registration) {
            auto bucket = byObject_.find(registration->object);
            if (bucket == byObject_.end())
                return;
            std::erase(bucket->second, registration);
            if (bucket->second.empty())
                byObject_.erase(bucket);
        };
        if (object != nullptr) {
            auto bucket = byObject_.find(object);
            if (bucket != byObject_.end()) {
                for (const auto& registration : bucket->second) {
                    if (matches(*registration))
                        removed.push_back(registration);
                }
            }
        } else {
            for (const auto& registration : observerEntry->second.registrations) {
                if (matches(*registration))
                    removed.push_back(registration);
            }
        }
        for (const auto& registration : removed) {
            registration->active = false;
            unlinkFromObject(registration);
        }
        count_ -= removed.size();
        auto& observed = observerEntry->second;
        observed.live -= removed.size();
        if (observed.live == 0) {
            byObserver_.erase(observerEntry);
        } else if (observed.registrations.size() > 2 * observed.live + 16) {
            std::erase_if(observed.registrations, [](const auto& r) { return !r->active; });
        }
    }
}

void NotificationCenter::post(const Notification& notification)
{
    // Handlers run without the lock held, from a snapshot, so that they may add and remove
    // registrations (their own included) and post again. Registrations for this object and for any
    // object are merged back into the order they were made in.
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard lock(mutex_);
        static const std::vector<std::shared_ptr<Registration>> none;
        auto listFor = [&](const void* object) -> const std::vector<std::shared_ptr<Registration>>& {
            auto bucket = byObject_.find(object);
            return bucket == byObject_.end() ? none : bucket->second;
        };
        const auto& forObject = notification.object ? listFor(notification.object) : none;
        const auto& forAny = listFor(nullptr);
        auto a = forObject.begin();
        auto b = forAny.begin();
        while (a != forObject.end() || b != forAny.end()) {
            const bool takeA = b == forAny.end() || (a != forObject.end() && (*a)->sequence < (*b)->sequence);
            const auto& registration = takeA ? *a++ : *b++;
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
        return count_;
    }
    auto entry = byObserver_.find(observer);
    if (entry == byObserver_.end()) {
        return 0;
    }
    return entry->second.live;
}

} // namespace rp
