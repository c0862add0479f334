#include "audio/SampleKernels.h"

#include "audio/SampleConversion.h"
#include "audio/VirtualRingBuffer.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

using rp::KernelVariant;
using rp::SampleKernels;

namespace {

// Awkward lengths: empty, shorter than a vector, around a block of 32, and long with a tail.
constexpr size_t kLengths[] = { 0, 1, 7, 15, 16, 31, 32, 33, 63, 64, 65, 100, 1000, 4099 };
// Destination starts in floats past a 64-byte boundary, and source starts that differ from them.
constexpr size_t kDestinationOffsets[] = { 0, 1, 3, 15 };
constexpr size_t kSourceOffsets[] = { 0, 5 };
constexpr size_t kSlack = 32; // guard floats on either side of every destination
constexpr float kGains[] = { 0.8f, 1.0f, -0.3f, 0.0f };

// Values with a wide range of magnitudes, denormals and infinities, so that any change in rounding
// (a fused multiply-add, a reordered sum) shows up as different bits.
std::vector<float> awkwardSamples(size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::vector<float> samples(count);
    for (size_t i = 0; i < count; ++i) {
        samples[i] = std::ldexp(mantissa(random), exponent(random));
    }
    for (size_t i = 0; i < count; i += 37) {
        samples[i] = std::numeric_limits<float>::denorm_min() * static_cast<float>(i % 5 + 1);
    }
    if (count > 10) {
        samples[10] = std::numeric_limits<float>::infinity();
    }
    return samples;
}

// A buffer whose `start` lies `offset` (< 16) floats past a 64-byte boundary, with kSlack guard
// floats on either side.
struct GuardedBuffer {
    explicit GuardedBuffer(size_t count, size_t offset)
        : storage(count + 2 * kSlack + 32, std::bit_cast<float>(0x7fc0dead))
    {
        const auto address = reinterpret_cast<uintptr_t>(storage.data() + kSlack);
        const size_t toBoundary = (64 - address % 64) % 64 / sizeof(float);
        start = storage.data() + kSlack + toBoundary + offset;
    }
    std::vector<float> storage;
    float* start;
};

::testing::AssertionResult sameBits(const std::vector<float>& actual, const std::vector<float>& expected)
{
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size();
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (std::bit_cast<uint32_t>(actual[i]) != std::bit_cast<uint32_t>(expected[i])) {
            return ::testing::AssertionFailure()
                << "float " << i << " is " << actual[i] << ", expected " << expected[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// The arithmetic every variant must match: one rounding for the product, one for the sum.
float addOne(float destination, float source, float gain)
{
    const float product = source * gain;
    return destination + product;
}

class SampleKernelsTest : public ::testing::TestWithParam<KernelVariant> {
protected:
    void SetUp() override
    {
        kernels = rp::sampleKernelsFor(GetParam());
        if (!kernels) {
            GTEST_SKIP() << "this CPU cannot run this variant";
        }
    }

    // Runs `kernel` on a destination at `offset` past a boundary and returns the whole storage,
    // guards included, for comparison with the same run of the expected arithmetic.
    template <typename Kernel> static std::vector<float> run(size_t count, size_t offset, Kernel kernel)
    {
        GuardedBuffer destination(count, offset);
        const std::vector<float> initial = awkwardSamples(count, 7);
        std::copy(initial.begin(), initial.end(), destination.start);
        kernel(destination.start);
        std::vector<float> window(destination.start - kSlack, destination.start + count + kSlack);
        return window;
    }

    const SampleKernels* kernels = nullptr;
};

TEST_P(SampleKernelsTest, MixingKernelsMatchScalarArithmeticBitForBitAndStayInBounds)
{
    for (size_t count : kLengths) {
        for (size_t destinationOffset : kDestinationOffsets) {
            for (size_t sourceOffset : kSourceOffsets) {
                for (float gain : kGains) {
                    SCOPED_TRACE(::testing::Message()
                        << "count " << count << " destination +" << destinationOffset << " source +"
                        << sourceOffset << " gain " << gain);
                    std::vector<float> sourceStorage = awkwardSamples(count + sourceOffset, 3);
                    const float* source = sourceStorage.data() + sourceOffset;

                    const auto added = run(count, destinationOffset,
                        [&](float* d) { kernels->addScaled(d, source, count, gain); });
                    const auto addedExpected = run(count, destinationOffset, [&](float* d) {
                        for (size_t i = 0; i < count; ++i) {
                            d[i] = addOne(d[i], source[i], gain);
                        }
                    });
                    EXPECT_TRUE(sameBits(added, addedExpected)) << "addScaled";

                    const auto stored = run(count, destinationOffset,
                        [&](float* d) { kernels->storeScaled(d, source, count, gain); });
                    const auto storedExpected = run(count, destinationOffset, [&](float* d) {
                        for (size_t i = 0; i < count; ++i) {
                            d[i] = source[i] * gain;
                        }
                    });
                    EXPECT_TRUE(sameBits(stored, storedExpected)) << "storeScaled";

                    const auto scaled = run(
                        count, destinationOffset, [&](float* d) { kernels->scaleInPlace(d, count, gain); });
                    const auto scaledExpected = run(count, destinationOffset, [&](float* d) {
                        for (size_t i = 0; i < count; ++i) {
                            d[i] = d[i] * gain;
                        }
                    });
                    EXPECT_TRUE(sameBits(scaled, scaledExpected)) << "scaleInPlace";
                }
            }
        }
    }
}

TEST_P(SampleKernelsTest, NarrowingMatchesScalarConversionForEveryStride)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-1.5, 1.5);
    for (size_t stride : { 1, 2, 3 }) {
        for (size_t count : kLengths) {
            for (size_t offset : kDestinationOffsets) {
                SCOPED_TRACE(
                    ::testing::Message() << "stride " << stride << " count " << count << " +" << offset);
                std::vector<double> source(count * stride + 1);
                for (double& sample : source) {
                    sample = value(random);
                }
                if (source.size() > 4) {
                    source[2] = 1e300; // overflows to infinity
                    source[3] = 1e-300; // underflows to zero
                }
                const auto narrowed = run(count, offset,
                    [&](float* d) { kernels->narrowToFloat(d, source.data() + 1, stride, count); });
                const auto expected = run(count, offset, [&](float* d) {
                    for (size_t i = 0; i < count; ++i) {
                        d[i] = static_cast<float>(source[1 + i * stride]);
                    }
                });
                EXPECT_TRUE(sameBits(narrowed, expected));
            }
        }
    }
}

// The mixer writes through the second mapping of its rings when a region runs past the end; wide
// stores there must land in the first mapping exactly like single ones.
TEST_P(SampleKernelsTest, WritesAcrossTheMirroredRingEndWrapToItsStart)
{
    auto ring = VirtualRingBuffer::initWithLength(4096);
    ASSERT_TRUE(ring);
    auto* first = reinterpret_cast<float*>(ring->buffer());
    const size_t ringFloats = ring->length() / sizeof(float);
    const std::vector<float> source = awkwardSamples(200, 5);
    for (size_t before : { 1, 13, 64, 99 }) {
        SCOPED_TRACE(::testing::Message() << before << " floats before the end");
        const std::vector<float> initial = awkwardSamples(ringFloats, 9);
        std::copy(initial.begin(), initial.end(), first);
        float* start = first + ringFloats - before;

        kernels->storeScaled(start, source.data(), 100, 0.5f);
        kernels->addScaled(start, source.data() + 100, 100, -0.25f);

        std::vector<float> expected = initial;
        for (size_t i = 0; i < 100; ++i) {
            float& sample = expected[(ringFloats - before + i) % ringFloats];
            sample = addOne(source[i] * 0.5f, source[100 + i], -0.25f);
        }
        EXPECT_TRUE(sameBits(std::vector<float>(first, first + ringFloats), expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, SampleKernelsTest,
    ::testing::Values(KernelVariant::Portable, KernelVariant::Avx2, KernelVariant::Avx512),
    [](const ::testing::TestParamInfo<KernelVariant>& variant) -> std::string {
        switch (variant.param) {
        case KernelVariant::Portable:
            return "Portable";
        case KernelVariant::Avx2:
            return "Avx2";
        case KernelVariant::Avx512:
            return "Avx512";
        }
        return "Unknown";
    });

// Built for the baseline only, the mixer ran at less than half of memcpy's speed on CPUs with
// wider vectors; the widest variant the CPU runs must be the one in use.
TEST(SampleKernelsDispatchTest, UsesTheWidestVariantThisCpuRuns)
{
    KernelVariant widest = KernelVariant::Portable;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        widest = KernelVariant::Avx512;
    } else if (__builtin_cpu_supports("avx2")) {
        widest = KernelVariant::Avx2;
    }
#endif
    EXPECT_EQ(rp::sampleKernels().variant, widest) << rp::sampleKernels().name;
    EXPECT_NE(rp::sampleKernelsFor(widest), nullptr);
}

TEST(SampleKernelsDispatchTest, SelectionByNameRefusesUnknownAndUnrunnableVariants)
{
    const KernelVariant chosen = rp::sampleKernels().variant;
    KernelVariant variant {};
    EXPECT_FALSE(rp::kernelVariantNamed("avx1024", &variant));
    EXPECT_FALSE(rp::kernelVariantNamed(nullptr, &variant));
    ASSERT_TRUE(rp::kernelVariantNamed("avx512", &variant));
    EXPECT_EQ(variant, KernelVariant::Avx512);
    EXPECT_EQ(rp::selectSampleKernels(variant), rp::sampleKernelsFor(variant) != nullptr);

    ASSERT_TRUE(rp::selectSampleKernels(KernelVariant::Portable));
    EXPECT_EQ(rp::sampleKernels().variant, KernelVariant::Portable);
    ASSERT_TRUE(rp::selectSampleKernels(chosen));
}

// Converting decoded frames to the mixing format goes through the narrowing kernel; it must give
// the bytes the general path gives (which handles the byte-swapped layout, compared here swapped
// back), pad short sources with silence and leave channels the source lacks silent.
TEST(SampleConversionTest, NativeFloatPackingMatchesTheGeneralPath)
{
    for (uint64_t frameCount : { 0, 1, 7, 31, 100 }) {
        for (uint32_t channels : { 1, 2, 3 }) {
            SCOPED_TRACE(::testing::Message() << frameCount << " frames, " << channels << " channels");
            rp::PcmFrames frames;
            frames.kind = rp::PcmFrames::Kind::Real;
            frames.channels = 2;
            const uint64_t sourceFrames = frameCount > 3 ? frameCount - 3 : frameCount;
            std::mt19937 random(static_cast<unsigned>(frameCount));
            std::uniform_real_distribution<double> value(-1.2, 1.2);
            for (uint64_t i = 0; i < sourceFrames * 2; ++i) {
                frames.reals.push_back(value(random));
            }
            if (!frames.reals.empty()) {
                frames.reals[0] = std::numeric_limits<double>::quiet_NaN();
            }

            auto native = AudioStreamBasicDescription::canonicalFloat(44100.0, channels);
            auto swapped = native;
            swapped.mFormatFlags ^= kAudioFormatFlagIsBigEndian;
            std::vector<std::vector<float>> nativeOut(channels, std::vector<float>(frameCount + 1, 42.0f));
            std::vector<std::vector<uint32_t>> swappedOut(
                channels, std::vector<uint32_t>(frameCount + 1, 42));
            std::vector<uint8_t*> nativeDestinations;
            std::vector<uint8_t*> swappedDestinations;
            for (uint32_t c = 0; c < channels; ++c) {
                nativeDestinations.push_back(reinterpret_cast<uint8_t*>(nativeOut[c].data()));
                swappedDestinations.push_back(reinterpret_cast<uint8_t*>(swappedOut[c].data()));
            }
            rp::packFrames(frames, native, nativeDestinations, frameCount);
            rp::packFrames(frames, swapped, swappedDestinations, frameCount);

            for (uint32_t c = 0; c < channels; ++c) {
                std::vector<float> general(frameCount + 1);
                for (size_t i = 0; i < general.size(); ++i) {
                    general[i] = std::bit_cast<float>(
                        i < frameCount ? __builtin_bswap32(swappedOut[c][i]) : 0x42280000u);
                }
                EXPECT_TRUE(sameBits(nativeOut[c], general)) << "channel " << c;
                for (uint64_t i = 0; i < frameCount; ++i) {
                    const float expected
                        = c < 2 && i < sourceFrames ? static_cast<float>(frames.reals[i * 2 + c]) : 0.0f;
                    if (std::isnan(expected)) {
                        EXPECT_TRUE(std::isnan(nativeOut[c][i]));
                    } else {
                        EXPECT_EQ(nativeOut[c][i], expected) << "channel " << c << " frame " << i;
                    }
                }
            }
        }
    }
}

} // namespace
