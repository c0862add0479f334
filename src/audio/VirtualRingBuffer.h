#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A ring buffer whose memory is mapped twice, back to back: the byte at buffer + i and the byte at
// buffer + length + i are the same memory. Every readable or writable region is therefore one
// contiguous block starting at the read or write pointer, even when it runs past the end.
//
// Not thread-safe: the owner guards the pointers (OAOutput holds its ring-buffer mutex).
class VirtualRingBuffer {
public:
    // A ring of at least `length` bytes, rounded up to whole pages; null when the memory cannot be
    // mapped (or `length` is 0).
    static std::unique_ptr<VirtualRingBuffer> initWithLength(uint64_t length);
    ~VirtualRingBuffer();
    VirtualRingBuffer(const VirtualRingBuffer&) = delete;
    VirtualRingBuffer& operator=(const VirtualRingBuffer&) = delete;

    uint64_t length() const { return bufferLength_; }

    // Discards everything: both pointers null.
    void empty();
    bool isEmpty() const { return readPointer_ == nullptr || writePointer_ == nullptr; }

    // Readable bytes starting at *pointer (null when there are none).
    uint64_t lengthAvailableToReadReturningPointer(void** pointer) const;
    void didReadLength(uint64_t length);

    // Writable bytes starting at *pointer. A ring that holds nothing starts over at the buffer.
    uint64_t lengthAvailableToWriteReturningPointer(void** pointer);
    void didWriteLength(uint64_t length);

    // The first mapping; the second one follows at buffer() + length().
    std::byte* buffer() const { return buffer_; }

private:
    VirtualRingBuffer(std::byte* buffer, uint64_t length);

    std::byte* buffer_;
    std::byte* bufferEnd_;
    uint64_t bufferLength_;
    std::byte* readPointer_ = nullptr;
    std::byte* writePointer_ = nullptr;
};
