// rattlepan-bench mixer: mixing overlapping hits into the rings and draining them, against a plain
// memcpy of the same number of floats in the same run. `rattlepan-bench mixer VARIANT` (sse2, avx2,
// avx512) runs the mixer with that variant of the sample kernels instead of the one chosen for this
// CPU.

#include "BenchmarkRegistry.h"
#include "audio/OAOutput.h"
#include "audio/OASound.h"
#include "audio/SampleKernels.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <sndfile.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Time passes only when the benchmark drains the rings.
class BenchOutput : public OAOutput {
public:
    static std::unique_ptr<BenchOutput> make()
    {
        std::unique_ptr<BenchOutput> output(new BenchOutput());
        return output->initWithSampleRate(44100.0f, 2) ? std::move(output) : nullptr;
    }
    void cueToFrame(uint64_t) override { }

private:
    BenchOutput() = default;
};

constexpr size_t kSoundFrames = 22050; // a 0.5 s stereo hit
constexpr uint32_t kStepFrames = 441; // a new hit every 10 ms: about 50 sound at once
constexpr int kHits = 4000;

std::filesystem::path writeHit()
{
    const auto path
        = std::filesystem::temp_directory_path() / ("rattlepan-bench-" + std::to_string(getpid()) + ".wav");
    SF_INFO info {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        return {};
    }
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    std::vector<float> samples(kSoundFrames * 2);
    for (float& sample : samples) {
        sample = noise(random);
    }
    sf_writef_float(file, samples.data(), kSoundFrames);
    sf_close(file);
    return path;
}

// Seconds to mix kHits hits (each 10 ms after the last, so they overlap) and drain the rings.
double timeMixing(OAOutput& output, const OASoundPtr& sound)
{
    std::vector<float> left(kStepFrames), right(kStepFrames);
    AudioBufferList list;
    list.mBuffers = { { 1, kStepFrames * 4, left.data() }, { 1, kStepFrames * 4, right.data() } };
    const float length = static_cast<float>(sound->duration());
    const auto start = Clock::now();
    for (int hit = 0; hit < kHits; ++hit) {
        const double at = static_cast<double>(output.totalFramesRead() + kStepFrames) / 44100.0 + 1e-7;
        output.playSound(sound, 0.8f, length, static_cast<float>(at));
        uint32_t flags = 0;
        output.renderWithFlags(&flags, 0, 0, kStepFrames, list);
        rp::bench::keep(left.data());
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds to copy the same number of floats, in the same block sizes.
double timeCopying()
{
    std::vector<float> source(kSoundFrames, 0.25f), left(kSoundFrames), right(kSoundFrames);
    const auto start = Clock::now();
    for (int hit = 0; hit < kHits; ++hit) {
        std::memcpy(left.data(), source.data(), kSoundFrames * sizeof(float));
        std::memcpy(right.data(), source.data(), kSoundFrames * sizeof(float));
        rp::bench::keep(left.data());
        rp::bench::keep(right.data());
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int runMixer(const std::vector<std::string>& arguments)
{
    if (!arguments.empty()) {
        rp::KernelVariant variant {};
        if (!rp::kernelVariantNamed(arguments[0].c_str(), &variant)) {
            std::cerr << "mixer: unknown kernel variant " << arguments[0] << "\n";
            return 2;
        }
        if (!rp::selectSampleKernels(variant)) {
            std::cerr << "mixer: this CPU cannot run the " << arguments[0] << " kernels\n";
            return 2;
        }
    }
    const auto path = writeHit();
    if (path.empty()) {
        std::cerr << "mixer: cannot write the test sound\n";
        return 1;
    }
    auto sound = OASound::soundWithContentsOfURL(path);
    auto output = BenchOutput::make();
    if (!output || !output->preloadBufferForSound(sound) || sound->loadedFrames() != kSoundFrames) {
        std::cerr << "mixer: cannot decode the test sound\n";
        std::filesystem::remove(path);
        return 1;
    }
    std::filesystem::remove(path);

    // Best of several rounds of each, interleaved, so that a noisy neighbour hurts both alike.
    double mixing = 1e30;
    double copying = 1e30;
    for (int round = 0; round < 5; ++round) {
        mixing = std::min(mixing, timeMixing(*output, sound));
        copying = std::min(copying, timeCopying());
    }
    const double samples = static_cast<double>(kHits) * kSoundFrames * 2;
    const double mixRate = samples / mixing;
    const double copyRate = samples / copying;
    std::printf("mixer.variant: %s\n", rp::sampleKernels().name);
    std::printf("mixer.sample_adds_per_s: %.0f /s\n", mixRate);
    std::printf("baseline.memcpy_floats_per_s: %.0f /s\n", copyRate);
    std::printf("mixer.ratio: %.3f\n", mixRate / copyRate);
    return 0;
}

const rp::bench::BenchmarkRegistration registration(
    "mixer", "mixes overlapping stereo hits into the rings and drains them, against memcpy", runMixer);

} // namespace
