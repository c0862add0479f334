#pragma once

#include <memory>
#include <mutex>

// A shared_ptr that one thread replaces while others read it: readers copy the pointer under a
// short lock and then keep what they copied for as long as they need it; the old value is released
// outside the lock. (The lock-free std::atomic<std::shared_ptr> of this standard library hides its
// locking from ThreadSanitizer, so a plain mutex is used.) The audio callback never reads these.
template <class T> class ORPSharedValue {
public:
    ORPSharedValue() = default;
    explicit ORPSharedValue(std::shared_ptr<T> value)
        : value_(std::move(value))
    {
    }
    ORPSharedValue(const ORPSharedValue&) = delete;
    ORPSharedValue& operator=(const ORPSharedValue&) = delete;

    std::shared_ptr<T> load() const
    {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void store(std::shared_ptr<T> value)
    {
        {
            std::lock_guard lock(mutex_);
            value_.swap(value);
        }
        // `value` now holds the old pointer and is released here, without the lock.
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> value_;
};
