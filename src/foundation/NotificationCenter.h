#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace rp {

struct Notification {
    std::string name;
    const void* object = nullptr; // the posting object (identity only)
    std::any userInfo; // optional payload
};

// Delivers named notifications to the handlers registered for them, synchronously, on the thread that
// posts. Registration and removal are thread-safe and may happen inside a handler during a post: a
// registration removed during a post is not called afterwards, one added during a post first hears
// the next post.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    // An empty name matches any name; a null object matches any object. `observer` identifies the
    // registration for later removal.
    void addObserver(const void* observer, const std::string& name, const void* object, Handler handler);

    // Removes every registration of the observer.
    void removeObserver(const void* observer);

    // Removes the observer's registrations that match: an empty name matches any registered name, a
    // null object any registered object.
    void removeObserver(const void* observer, const std::string& name, const void* object);

    void post(const Notification& notification);
    void post(const std::string& name, const void* object, std::any userInfo = {});

    // Number of registrations of the observer (all of them when observer is null).
    size_t observationCount(const void* observer = nullptr) const;

private:
    struct Registration;

    using RegistrationList = std::vector<std::shared_ptr<Registration>>;
    // An observer's registrations; removed ones stay until they outnumber the live ones.
    struct ObserverRegistrations {
        RegistrationList registrations;
        size_t live = 0;
    };

    mutable std::mutex mutex_;
    // Indexed both ways so that posting and removal cost the size of one object's or observer's
    // registrations, not of all of them (a song observes every one of its bars).
    std::unordered_map<const void*, RegistrationList> byObject_; // null key: any object
    std::unordered_map<const void*, ObserverRegistrations> byObserver_;
    uint64_t nextSequence_ = 0;
    size_t count_ = 0;
};

// Removes an observer's registrations from a centre when it goes away.
class ObservationScope {
public:
    ObservationScope(NotificationCenter& center, const void* observer)
        : center_(center)
        , observer_(observer)
    {
    }
    ~ObservationScope() { center_.removeObserver(observer_); }
    ObservationScope(const ObservationScope&) = delete;
    ObservationScope& operator=(const ObservationScope&) = delete;

private:
    NotificationCenter& center_;
    const void* observer_;
};

} // namespace rp
