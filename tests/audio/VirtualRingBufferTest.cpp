#include "audio/VirtualRingBuffer.h"

#include <gtest/gtest.h>
#include <random>
#include <unistd.h>
#include <vector>

namespace {

const uint64_t kPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));

uint64_t readable(VirtualRingBuffer& ring, void** pointer = nullptr)
{
    return ring.lengthAvailableToReadReturningPointer(pointer);
}

uint64_t writable(VirtualRingBuffer& ring, void** pointer = nullptr)
{
    return ring.lengthAvailableToWriteReturningPointer(pointer);
}

TEST(VirtualRingBuffer, WholePagesWithAMirroredSecondMapping)
{
    EXPECT_FALSE(VirtualRingBuffer::initWithLength(0));
    EXPECT_EQ(VirtualRingBuffer::initWithLength(2 * kPage + 1)->length(), 3 * kPage);
    auto ring = VirtualRingBuffer::initWithLength(100);
    ASSERT_EQ(ring->length(), kPage);
    std::byte* base = ring->buffer();
    base[10] = std::byte { 0x5A };
    EXPECT_EQ(base[kPage + 10], std::byte { 0x5A });
    base[kPage + kPage - 1] = std::byte { 0x33 };
    EXPECT_EQ(base[kPage - 1], std::byte { 0x33 });
}

// Read == write means empty or full; zero-length operations must not flip one into the other.
TEST(VirtualRingBuffer, EmptyAndFullAreToldApart)
{
    auto ring = VirtualRingBuffer::initWithLength(kPage);
    ASSERT_TRUE(ring);
    void* pointer = reinterpret_cast<void*>(1);
    EXPECT_TRUE(ring->isEmpty());
    EXPECT_EQ(readable(*ring, &pointer), 0u);
    EXPECT_EQ(pointer, nullptr);
    EXPECT_EQ(writable(*ring, &pointer), kPage); // all of it, from the start of the buffer
    EXPECT_EQ(pointer, ring->buffer());
    ring->didWriteLength(0);
    EXPECT_TRUE(ring->isEmpty());

    ring->didWriteLength(kPage);
    EXPECT_FALSE(ring->isEmpty());
    EXPECT_EQ(readable(*ring, &pointer), kPage);
    EXPECT_EQ(pointer, ring->buffer());
    EXPECT_EQ(writable(*ring), 0u);
    ring->didReadLength(0);
    EXPECT_EQ(readable(*ring), kPage);

    // Reading everything empties it; so does empty().
    ring->didReadLength(100);
    ring->didReadLength(kPage - 100);
    EXPECT_TRUE(ring->isEmpty());
    ring->didWriteLength(64);
    ring->empty();
    EXPECT_EQ(readable(*ring), 0u);
}

// Random writes and reads, crossing the end through the mirror: every byte comes back in order,
// and readable plus writable is always the length.
TEST(VirtualRingBuffer, RandomTrafficKeepsOrderAndLength)
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
            const uint64_t space = writable(*ring, &pointer);
            const uint64_t n = random() % (space + 1);
            for (uint64_t i = 0; i < n; ++i) {
                static_cast<uint8_t*>(pointer)[i] = nextValue++;
            }
            ring->didWriteLength(n);
            pending += n;
        } else {
            const uint64_t available = readable(*ring, &pointer);
            ASSERT_EQ(available, pending);
            const uint64_t n = random() % (available + 1);
            for (uint64_t i = 0; i < n; ++i) {
                ASSERT_EQ(static_cast<uint8_t*>(pointer)[i], expectedValue++) << "step " << step;
            }
            ring->didReadLength(n);
            pending -= n;
        }
        ASSERT_EQ(readable(*ring) + writable(*ring), kPage) << "step " << step;
    }
}

} // namespace
