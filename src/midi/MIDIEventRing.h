#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace rp {

// A single-producer, single-consumer ring of fixed-size records. Storage is allocated once
// in the constructor; push and pop never allocate or lock, so one side may be a real-time
// thread.
template <typename T> class MIDIEventRing {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit MIDIEventRing(size_t capacityPowerOfTwo)
        : capacity_(capacityPowerOfTwo)
        , mask_(capacityPowerOfTwo - 1)
        , slots_(std::make_unique<T[]>(capacityPowerOfTwo))
    {
    }

    // Producer side; false when the ring is full.
    bool push(const T& item)
    {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == capacity_) {
            return false;
        }
        slots_[tail & mask_] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side: the oldest record, without removing it; null when empty.
    const T* front() const
    {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return nullptr;
        }
        return &slots_[head & mask_];
    }
    void popFront() { head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    bool pop(T& item)
    {
        const T* oldest = front();
        if (oldest == nullptr) {
            return false;
        }
        item = *oldest;
        popFront();
        return true;
    }

private:
    const size_t capacity_;
    const size_t mask_;
    std::unique_ptr<T[]> slots_;
    alignas(64) std::atomic<size_t> head_ { 0 };
    alignas(64) std::atomic<size_t> tail_ { 0 };
};

} // namespace rp
