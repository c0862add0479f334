#pragma once

#include <cstddef>

namespace rp {

// The per-sample loops of mixing and format conversion, built several times from one source for
// different vector widths; the widest this CPU runs is chosen once, when the program starts.
// Every variant gives bit-identical results: each output sample is one multiply and one add (or
// one narrowing) of its own inputs, done in the same order whatever the vector width, and the
// file is built without fused multiply-add contraction. Exported files depend on this: the same
// song renders to the same bytes on every machine.
enum class KernelVariant {
    Portable, // the build's baseline instruction set (SSE2 on x86-64)
    Avx2,
    Avx512,
};

struct SampleKernels {
    KernelVariant variant;
    const char* name; // "sse2" (or "portable" off x86), "avx2", "avx512"

    // destination[i] += source[i] x gain. The ranges must not overlap.
    void (*addScaled)(
        float* __restrict destination, const float* __restrict source, size_t count, float gain);
    // destination[i] = source[i] x gain. The ranges must not overlap.
    void (*storeScaled)(
        float* __restrict destination, const float* __restrict source, size_t count, float gain);
    // samples[i] x= gain.
    void (*scaleInPlace)(float* samples, size_t count, float gain);
    // destination[i] = float(source[i x stride]): one channel of interleaved doubles to floats.
    void (*narrowToFloat)(
        float* __restrict destination, const double* __restrict source, size_t stride, size_t count);
};

// The kernels in use. Chosen at start-up, before any audio thread exists; reading them afterwards is
// one atomic load, never a lock, so the audio callback may call this.
const SampleKernels& sampleKernels();

// The kernels of `variant`, or null when this CPU (or this build) cannot run them.
const SampleKernels* sampleKernelsFor(KernelVariant variant);

// Makes `variant` the one in use (benchmarks and tests compare variants this way); false, with
// nothing changed, when it cannot run here.
bool selectSampleKernels(KernelVariant variant);

// The variant whose `name` this is; false when there is none.
bool kernelVariantNamed(const char* name, KernelVariant* variant);

} // namespace rp
