// Writes the bundled default drum sound: a synthesised snare hit, 0.3 s of 16-bit mono AIFF at
// 44.1 kHz. Everything is computed from fixed constants (the noise comes from a fixed-seed
// generator), so every build writes the same bytes.
//
//   make-default-drum-sound OUTPUT.aiff

#include "audio/SoundFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr double kSampleRate = 44100.0;
constexpr double kLength = 0.3; // seconds

// xorshift32 with a fixed seed: white noise in [-1, 1) that never changes between builds.
class Noise {
public:
    double next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    uint32_t state_ = 0x5EEDu;
};

std::vector<double> snare()
{
    const auto frames = static_cast<size_t>(kSampleRate * kLength);
    std::vector<double> out(frames);
    Noise noise;
    double phase = 0;
    // One-pole filters shape the noise: a high-pass takes the rumble out, a gentle low-pass
    // softens the fizz so the wires sound like a snare rather than hiss.
    double highPassIn = 0, highPassOut = 0, lowPass = 0;
    const double highPassCoefficient = 0.92;
    const double lowPassCoefficient = 0.45;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        // The drum head: a tone gliding from 330 Hz down to 185 Hz, dying away quickly.
        const double frequency = 185.0 + 145.0 * std::exp(-t / 0.012);
        phase += 2.0 * std::numbers::pi * frequency / kSampleRate;
        const double head = std::sin(phase) * std::exp(-t / 0.045);
        // The second head mode, a little higher and shorter.
        const double overtone = 0.35 * std::sin(phase * 1.59) * std::exp(-t / 0.03);
        // The snare wires: filtered noise with a longer tail.
        const double white = noise.next();
        highPassOut = highPassCoefficient * (highPassOut + white - highPassIn);
        highPassIn = white;
        lowPass += lowPassCoefficient * (highPassOut - lowPass);
        const double wires = lowPass * std::exp(-t / 0.075);
        // A 1 ms attack keeps the onset from clicking; the last 20 ms fade to silence.
        const double attack = std::min(1.0, t / 0.001);
        const double release = std::clamp((kLength - t) / 0.02, 0.0, 1.0);
        out[i] = attack * release * (0.8 * (head + overtone) + 1.1 * wires);
    }
    // Peak at -1 dBFS.
    double peak = 0;
    for (const double v : out) {
        peak = std::max(peak, std::fabs(v));
    }
    const double gain = peak > 0 ? std::pow(10.0, -1.0 / 20.0) / peak : 1.0;
    for (double& v : out) {
        v *= gain;
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.aiff\n", argv[0]);
        return 2;
    }
    const auto format = AudioStreamBasicDescription::bigEndianInteger(kSampleRate, 1, 16);

    rp::PcmFrames frames;
    frames.kind = rp::PcmFrames::Kind::Real;
    frames.channels = 1;
    frames.reals = snare();

    int status = 0;
    auto writer = rp::SoundFileWriter::create(argv[1], kAudioFileAIFFType, format, &status);
    if (!writer) {
        std::fprintf(stderr, "make-default-drum-sound: error %d trying to create %s\n", status, argv[1]);
        return 1;
    }
    if (!writer->write(frames, &status) || writer->close() != 0) {
        std::fprintf(stderr, "make-default-drum-sound: error %d writing %s\n", status, argv[1]);
        return 1;
    }
    return 0;
}
