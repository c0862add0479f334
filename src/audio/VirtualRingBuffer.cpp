#include "audio/VirtualRingBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

namespace {

uint64_t pageSize()
{
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

} // namespace

std::unique_ptr<VirtualRingBuffer> VirtualRingBuffer::initWithLength(uint64_t length)
{
    const uint64_t page = pageSize();
    if (length == 0 || length > (UINT64_MAX / 4)) {
        return nullptr;
    }
    const uint64_t rounded = (length + page - 1) / page * page;
    const auto bytes = static_cast<size_t>(rounded);

    // One memory object, seen through two adjacent windows. Keeping the reservation and mapping
    // over it (rather than releasing it first) means no other thread can take the address in
    // between.
    const int fd = memfd_create("rattlepan-ring", MFD_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        close(fd);
        return nullptr;
    }
    void* reserved = mmap(nullptr, 2 * bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    auto* base = static_cast<std::byte*>(reserved);
    void* first = mmap(base, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
    void* second = first == MAP_FAILED
        ? MAP_FAILED
        : mmap(base + bytes, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
    close(fd); // the mappings keep the memory alive
    if (first != base || second != base + bytes) {
        munmap(base, 2 * bytes);
        return nullptr;
    }
    return std::unique_ptr<VirtualRingBuffer>(new VirtualRingBuffer(base, rounded));
}

VirtualRingBuffer::VirtualRingBuffer(std::byte* buffer, uint64_t length)
    : buffer_(buffer)
    , bufferEnd_(buffer + length)
    , bufferLength_(length)
{
}

VirtualRingBuffer::~VirtualRingBuffer()
{
    munmap(buffer_, static_cast<size_t>(2 * bufferLength_));
}

void VirtualRingBuffer::empty()
{
    readPointer_ = nullptr;
    writePointer_ = nullptr;
}

uint64_t VirtualRingBuffer::lengthAvailableToReadReturningPointer(void** pointer) const
{
    if (pointer) {
        *pointer = readPointer_;
    }
    if (readPointer_ == nullptr || writePointer_ == nullptr) {
        return 0;
    }
    const std::ptrdiff_t difference = writePointer_ - readPointer_;
    return difference > 0 ? static_cast<uint64_t>(difference)
                          : static_cast<uint64_t>(difference) + bufferLength_;
}

void VirtualRingBuffer::didReadLength(uint64_t length)
{
    // Reading nothing must not touch the pointers: a full ring has read == write, and the test
    // below would otherwise mark it empty.
    if (length == 0 || readPointer_ == nullptr) {
        return;
    }
    readPointer_ += length % bufferLength_;
    if (readPointer_ >= bufferEnd_) {
        readPointer_ -= bufferLength_;
    }
    if (readPointer_ == writePointer_) {
        readPointer_ = nullptr;
    }
}

uint64_t VirtualRingBuffer::lengthAvailableToWriteReturningPointer(void** pointer)
{
    uint64_t available;
    if (readPointer_ == nullptr || writePointer_ == nullptr) {
        writePointer_ = buffer_;
        available = bufferLength_;
    } else if (readPointer_ < writePointer_) {
        available = bufferLength_ - static_cast<uint64_t>(writePointer_ - readPointer_);
    } else {
        available = static_cast<uint64_t>(readPointer_ - writePointer_);
    }
    if (pointer) {
        *pointer = writePointer_;
    }
    return available;
}

void VirtualRingBuffer::didWriteLength(uint64_t length)
{
    // Writing nothing into an empty ring must leave it empty, not make read == write (full).
    if (length == 0) {
        return;
    }
    std::byte* const oldWritePointer = writePointer_ ? writePointer_ : buffer_;
    std::byte* next = oldWritePointer + length % bufferLength_;
    if (next >= bufferEnd_) {
        next -= bufferLength_;
    }
    writePointer_ = next;
    if (readPointer_ == nullptr) {
        readPointer_ = oldWritePointer;
    }
}
