#include "audio/SampleKernels.h"

#include <atomic>
#include <cstdint>
#include <cstring>

// Floating-point contraction would fuse `d + s * g` into one rounding where the instruction set has
// fused multiply-add (the AVX-512 variant does), and results would differ between variants. The
// build passes -ffp-contract=off for this file; the pragma says the same to clang in the source.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

#if defined(__x86_64__) || defined(__i386__)
#define RP_KERNELS_X86 1
#else
#define RP_KERNELS_X86 0
#endif

namespace rp {

namespace {

// Samples per block. A block is a fixed-length loop that the compiler turns into vector
// instructions of the width the enclosing function is built for (8 SSE, 4 AVX2 or 2 AVX-512
// operations), even at -O2 where loops of unknown length are not vectorized.
constexpr size_t kBlock = 32;

// Wide stores that straddle cache lines are slow; the first few samples run singly until the
// destination reaches a 64-byte boundary.
constexpr uintptr_t kLineBytes = 64;

inline __attribute__((always_inline)) size_t leadIn(const void* destination, size_t count)
{
    const uintptr_t misalignment = reinterpret_cast<uintptr_t>(destination) % kLineBytes;
    const size_t lead
        = misalignment == 0 ? 0 : static_cast<size_t>((kLineBytes - misalignment) / sizeof(float));
    return lead < count ? lead : count;
}

// The loop bodies, written once. Each is inlined into the per-variant functions below and compiled
// there for that variant's instruction set.

inline __attribute__((always_inline)) void addScaledBody(
    float* __restrict destination, const float* __restrict source, size_t count, float gain)
{
    size_t i = 0;
    for (const size_t lead = leadIn(destination, count); i < lead; ++i) {
        destination[i] += source[i] * gain;
    }
    for (; i + kBlock <= count; i += kBlock) {
        for (size_t k = 0; k < kBlock; ++k) {
            destination[i + k] += source[i + k] * gain;
        }
    }
    for (; i < count; ++i) {
        destination[i] += source[i] * gain;
    }
}

inline __attribute__((always_inline)) void storeScaledBody(
    float* __restrict destination, const float* __restrict source, size_t count, float gain)
{
    size_t i = 0;
    for (const size_t lead = leadIn(destination, count); i < lead; ++i) {
        destination[i] = source[i] * gain;
    }
    for (; i + kBlock <= count; i += kBlock) {
        for (size_t k = 0; k < kBlock; ++k) {
            destination[i + k] = source[i + k] * gain;
        }
    }
    for (; i < count; ++i) {
        destination[i] = source[i] * gain;
    }
}

inline __attribute__((always_inline)) void scaleInPlaceBody(float* samples, size_t count, float gain)
{
    size_t i = 0;
    for (const size_t lead = leadIn(samples, count); i < lead; ++i) {
        samples[i] *= gain;
    }
    for (; i + kBlock <= count; i += kBlock) {
        for (size_t k = 0; k < kBlock; ++k) {
            samples[i + k] *= gain;
        }
    }
    for (; i < count; ++i) {
        samples[i] *= gain;
    }
}

inline __attribute__((always_inline)) void narrowToFloatBody(
    float* __restrict destination, const double* __restrict source, size_t stride, size_t count)
{
    size_t i = 0;
    if (stride == 1) {
        for (const size_t lead = leadIn(destination, count); i < lead; ++i) {
            destination[i] = static_cast<float>(source[i]);
        }
        for (; i + kBlock <= count; i += kBlock) {
            for (size_t k = 0; k < kBlock; ++k) {
                destination[i + k] = static_cast<float>(source[i + k]);
            }
        }
    }
    for (; i < count; ++i) {
        destination[i] = static_cast<float>(source[i * stride]);
    }
}

// One set of functions per variant; ATTRIBUTES names the instruction set (empty: the baseline).
#define RP_SAMPLE_KERNELS(SUFFIX, ATTRIBUTES)                                                                \
    ATTRIBUTES void addScaled##SUFFIX(                                                                       \
        float* __restrict destination, const float* __restrict source, size_t count, float gain)             \
    {                                                                                                        \
        addScaledBody(destination, source, count, gain);                                                     \
    }                                                                                                        \
    ATTRIBUTES void storeScaled##SUFFIX(                                                                     \
        float* __restrict destination, const float* __restrict source, size_t count, float gain)             \
    {                                                                                                        \
        storeScaledBody(destination, source, count, gain);                                                   \
    }                                                                                                        \
    ATTRIBUTES void scaleInPlace##SUFFIX(float* samples, size_t count, float gain)                           \
    {                                                                                                        \
        scaleInPlaceBody(samples, count, gain);                                                              \
    }                                                                                                        \
    ATTRIBUTES void narrowToFloat##SUFFIX(                                                                   \
        float* __restrict destination, const double* __restrict source, size_t stride, size_t count)         \
    {                                                                                                        \
        narrowToFloatBody(destination, source, stride, count);                                               \
    }

RP_SAMPLE_KERNELS(Portable, )

#if RP_KERNELS_X86
RP_SAMPLE_KERNELS(Avx2, __attribute__((target("avx2"))))
RP_SAMPLE_KERNELS(Avx512, __attribute__((target("avx512f"))))
#endif

#undef RP_SAMPLE_KERNELS

constexpr SampleKernels kPortable { KernelVariant::Portable, RP_KERNELS_X86 ? "sse2" : "portable",
    addScaledPortable, storeScaledPortable, scaleInPlacePortable, narrowToFloatPortable };

#if RP_KERNELS_X86
constexpr SampleKernels kAvx2 { KernelVariant::Avx2, "avx2", addScaledAvx2, storeScaledAvx2, scaleInPlaceAvx2,
    narrowToFloatAvx2 };
constexpr SampleKernels kAvx512 { KernelVariant::Avx512, "avx512", addScaledAvx512, storeScaledAvx512,
    scaleInPlaceAvx512, narrowToFloatAvx512 };
#endif

const SampleKernels* const kAllKernels[] = {
    &kPortable,
#if RP_KERNELS_X86
    &kAvx2,
    &kAvx512,
#endif
};

bool canRun(KernelVariant variant)
{
#if RP_KERNELS_X86
    // Reads what the CPU and the kernel allow (the OS must save the wide registers too); lock-free.
    __builtin_cpu_init();
    switch (variant) {
    case KernelVariant::Portable:
        return true;
    case KernelVariant::Avx2:
        return __builtin_cpu_supports("avx2");
    case KernelVariant::Avx512:
        return __builtin_cpu_supports("avx512f");
    }
    return false;
#else
    return variant == KernelVariant::Portable;
#endif
}

const SampleKernels* bestKernels()
{
    const SampleKernels* best = &kPortable;
    for (const SampleKernels* kernels : kAllKernels) {
        if (canRun(kernels->variant)) {
            best = kernels; // the list runs from narrowest to widest
        }
    }
    return best;
}

std::atomic<const SampleKernels*> activeKernels { nullptr };

const SampleKernels& resolveKernels()
{
    const SampleKernels* current = activeKernels.load(std::memory_order_acquire);
    if (current) {
        return *current;
    }
    const SampleKernels* best = bestKernels();
    // A selection made meanwhile wins.
    if (!activeKernels.compare_exchange_strong(current, best, std::memory_order_acq_rel)) {
        return *current;
    }
    return *best;
}

// Resolved while static objects are built, before main() and so before any audio thread.
[[maybe_unused]] const SampleKernels& resolvedAtStartUp = resolveKernels();

} // namespace

const SampleKernels& sampleKernels()
{
    return resolveKernels();
}

const SampleKernels* sampleKernelsFor(KernelVariant variant)
{
    for (const SampleKernels* kernels : kAllKernels) {
        if (kernels->variant == variant) {
            return canRun(variant) ? kernels : nullptr;
        }
    }
    return nullptr;
}

bool selectSampleKernels(KernelVariant variant)
{
    const SampleKernels* kernels = sampleKernelsFor(variant);
    if (!kernels) {
        return false;
    }
    activeKernels.store(kernels, std::memory_order_release);
    return true;
}

bool kernelVariantNamed(const char* name, KernelVariant* variant)
{
    for (const SampleKernels* kernels : kAllKernels) {
        if (name && std::strcmp(kernels->name, name) == 0) {
            if (variant) {
                *variant = kernels->variant;
            }
            return true;
        }
    }
    return false;
}

} // namespace rp
