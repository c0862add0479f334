#include "audio/VirtualRingBuffer.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

const uint64_t kPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

uint64_t readable(const VirtualRingBuffer& ring)
{
    return ring.lengthAvailableToReadReturningPointer(nullptr);
}

uint64_t writable(VirtualRingBuffer& ring)
{
    return ring.lengthAvailableToWriteReturningPointer(nullptr);
}

TEST(VirtualRingBuffer, WholePagesWithAMirroredSecondMapping)
{
    for (const auto& [asked, length] :
        { std::pair { uint64_t { 100 }, kPage }, { 2 * kPage, 2 * kPage }, { 2 * kPage + 1, 3 * kPage } }) {
        auto ring = VirtualRingBuffer::initWithLength(asked);
        ASSERT_TRUE(ring);
        EXPECT_EQ(ring->length(), length);
    }
    EXPECT_FALSE(VirtualRingBuffer::initWithLength(0));

    auto ring = VirtualRingBuffer::initWithLength(kPage);
    ASSERT_TRUE(ring);
    std::byte* base = ring->buffer();
    base[10] = std::byte { 0x5A };
    EXPECT_EQ(base[kPage + 10], std::byte { 0x5A });
    base[kPage + kPage - 1] = std::byte { 0x33 };
    EXPECT_EQ(base[kPage - 1], std::byte { 0x33 });
}

TEST(VirtualRingBuffer, PointerRulesFromEmptyToFullAndBack)
{
    auto ring = VirtualRingBuffer::initWithLength(kPage);
    ASSERT_TRUE(ring);
    void* pointer = reinterpret_cast<void*>(1);
    EXPECT_TRUE(ring->isEmpty());
    EXPECT_EQ(ring->lengthAvailableToReadReturningPointer(&pointer), 0u);
    EXPECT_EQ(pointer, nullptr);

    // An empty ring offers all of itself from the start of the buffer.
    EXPECT_EQ(ring->lengthAvailableToWriteReturningPointer(&pointer), kPage);
    EXPECT_EQ(pointer, ring->buffer());

    // Writing exactly the length makes it full: read == write.
    ring->didWriteLength(kPage);
    EXPECT_FALSE(ring->isEmpty());
    EXPECT_EQ(ring->lengthAvailableToReadReturningPointer(&pointer), kPage);
    EXPECT_EQ(pointer, ring->buffer());
    EXPECT_EQ(writable(*ring), 0u);

    // Reading everything empties it; the next write starts over at the buffer.
    ring->didReadLength(100);
    ring->didReadLength(kPage - 100);
    EXPECT_TRUE(ring->isEmpty());
    EXPECT_EQ(ring->lengthAvailableToWriteReturningPointer(&pointer), kPage);
    EXPECT_EQ(pointer, ring->buffer());

    // empty() discards whatever was pending.
    ring->didWriteLength(64);
    ring->empty();
    EXPECT_TRUE(ring->isEmpty());
    EXPECT_EQ(readable(*ring), 0u);
}

TEST(VirtualRingBuffer, ZeroLengthReadsAndWritesChangeNothing)
{
    auto ring = VirtualRingBuffer::initWithLength(kPage);
    ASSERT_TRUE(ring);
    // Writing nothing into an empty ring must not turn it into a full one.
    writable(*ring);
    ring->didWriteLength(0);
    EXPECT_TRUE(ring->isEmpty());
    EXPECT_EQ(readable(*ring), 0u);

    // Reading nothing from a full ring must not empty it.
    writable(*ring);
    ring->didWriteLength(kPage);
    ring->didReadLength(0);
    EXPECT_EQ(readable(*ring), kPage);
}

TEST(VirtualRingBuffer, WriteAcrossTheEndReadsBackContiguously)
{
    auto ring = VirtualRingBuffer::initWithLength(kPage);
    ASSERT_TRUE(ring);
    // Put the pointers near the end with data pending.
    writable(*ring);
    ring->didWriteLength(kPage - 16);
    ring->didReadLength(kPage - 32);
    ASSERT_EQ(readable(*ring), 16u);

    void* writePointer = nullptr;
    const uint64_t space = ring->lengthAvailableToWriteReturningPointer(&writePointer);
    ASSERT_EQ(space, kPage - 16);
    ASSERT_EQ(static_cast<std::byte*>(writePointer), ring->buffer() + kPage - 16);
    // 64 bytes written in one go: 16 before the end, 48 through the mirror into the start.
    std::vector<unsigned char> pattern(64);
    for (size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<unsigned char>(i + 1);
    }
    std::memcpy(writePointer, pattern.data(), pattern.size());
    ring->didWriteLength(pattern.size());
    EXPECT_EQ(static_cast<unsigned char>(ring->buffer()[47]), 64u);

    ring->didReadLength(16);
    void* readPointer = nullptr;
    ASSERT_EQ(ring->lengthAvailableToReadReturningPointer(&readPointer), 64u);
    EXPECT_EQ(std::memcmp(readPointer, pattern.data(), pattern.size()), 0);
    ring->didReadLength(64);
    EXPECT_TRUE(ring->isEmpty());
}

TEST(VirtualRingBuffer, ReadablePlusWritableIsAlwaysTheLength)
{
    auto ring = VirtualRingBuffer::initWithLength(kPage);
    ASSERT_TRUE(ring);
    std::mt19937 random(7);
    uint64_t pending = 0;
    uint8_t nextValue = 0;
    uint8_t expectedValue = 0;
    for (int step = 0; step < 5000; ++step) {
        void* pointer = nullptr;
        if (random() % 2) {
            const uint64_t space = ring->lengthAvailableToWriteReturningPointer(&pointer);
            const uint64_t n = space ? random() % (space + 1) : 0;
            for (uint64_t i = 0; i < n; ++i) {
                static_cast<uint8_t*>(pointer)[i] = nextValue++;
            }
            ring->didWriteLength(n);
            pending += n;
        } else {
            const uint64_t available = ring->lengthAvailableToReadReturningPointer(&pointer);
            ASSERT_EQ(available, pending);
            const uint64_t n = available ? random() % (available + 1) : 0;
            for (uint64_t i = 0; i < n; ++i) {
                ASSERT_EQ(static_cast<uint8_t*>(pointer)[i], expectedValue++) << "step " << step;
            }
            ring->didReadLength(n);
            pending -= n;
        }
        ASSERT_EQ(readable(*ring) + writable(*ring), kPage) << "step " << step;
        ASSERT_EQ(readable(*ring), pending);
    }
}

} // namespace
