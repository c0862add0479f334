// Writes the example drum kit bundle: synthesised drum sounds (16-bit mono AIFF at 44.1 kHz) in
// four groups, with keyboard shortcuts and General MIDI mappings. Every sample comes from fixed
// constants and a fixed-seed noise generator, so every build writes the same bundle.
//
//   make-example-kit OUTPUT.rpkit

#include "audio/SoundFile.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPKitFromFolder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr double kSampleRate = 44100.0;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// xorshift32 with a fixed seed: white noise in [-1, 1).
class Noise {
public:
    explicit Noise(uint32_t seed)
        : state_(seed)
    {
    }
    double next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    uint32_t state_;
};

// One-pole high-pass and low-pass filters.
struct HighPass {
    double coefficient;
    double lastIn = 0, lastOut = 0;
    double process(double x)
    {
        lastOut = coefficient * (lastOut + x - lastIn);
        lastIn = x;
        return lastOut;
    }
};
struct LowPass {
    double coefficient;
    double state = 0;
    double process(double x)
    {
        state += coefficient * (x - state);
        return state;
    }
};

using Generator = std::function<double(double t)>;

std::vector<double> render(double length, const Generator& generator)
{
    const auto frames = static_cast<size_t>(kSampleRate * length);
    std::vector<double> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        // A 1 ms attack avoids clicks; the last 10 ms fade to silence.
        const double attack = std::min(1.0, t / 0.001);
        const double release = std::clamp((length - t) / 0.01, 0.0, 1.0);
        out[i] = attack * release * generator(t);
    }
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

// A pitched drum: a sine gliding from `start` to `end` Hz with an exponential decay.
Generator pitchedDrum(double start, double end, double glide, double decay, double noiseAmount, uint32_t seed)
{
    auto phase = std::make_shared<double>(0.0);
    auto noise = std::make_shared<Noise>(seed);
    return [=](double t) {
        const double frequency = end + (start - end) * std::exp(-t / glide);
        *phase += kTwoPi * frequency / kSampleRate;
        return std::sin(*phase) * std::exp(-t / decay)
            + noiseAmount * noise->next() * std::exp(-t / (decay * 0.4));
    };
}

// Metallic noise: six detuned square waves (the classic hat recipe) plus high-passed noise.
Generator metallic(double decay, double brightness, uint32_t seed)
{
    static constexpr double partials[] = { 205.3, 304.4, 369.6, 522.7, 540.0, 800.0 };
    auto noise = std::make_shared<Noise>(seed);
    auto highPass = std::make_shared<HighPass>(HighPass { 0.85 });
    auto highPass2 = std::make_shared<HighPass>(HighPass { 0.85 });
    return [=](double t) {
        double square = 0;
        for (const double p : partials) {
            square += std::sin(kTwoPi * p * brightness * t) >= 0 ? 1.0 : -1.0;
        }
        const double mixed = highPass2->process(highPass->process(square / 6.0 + 0.6 * noise->next()));
        return mixed * std::exp(-t / decay);
    };
}

std::vector<double> kick()
{
    return render(0.45, pitchedDrum(160, 48, 0.03, 0.16, 0.05, 0x1001));
}
std::vector<double> tom(double pitch)
{
    return render(0.6, pitchedDrum(pitch * 1.4, pitch, 0.05, 0.2, 0.04, 0x1002));
}

std::vector<double> snare(double decay)
{
    auto body = pitchedDrum(320, 185, 0.012, 0.05, 0.0, 0x2001);
    auto noise = std::make_shared<Noise>(0x2002);
    auto highPass = std::make_shared<HighPass>(HighPass { 0.9 });
    auto lowPass = std::make_shared<LowPass>(LowPass { 0.5 });
    return render(decay * 4, [=](double t) {
        const double wires = lowPass->process(highPass->process(noise->next())) * std::exp(-t / decay);
        return 0.8 * body(t) + 1.2 * wires;
    });
}

std::vector<double> rim()
{
    return render(0.12, [](double t) {
        return (0.6 * std::sin(kTwoPi * 1750 * t) + 0.4 * std::sin(kTwoPi * 820 * t)) * std::exp(-t / 0.012);
    });
}

std::vector<double> clap()
{
    auto noise = std::make_shared<Noise>(0x3001);
    auto highPass = std::make_shared<HighPass>(HighPass { 0.8 });
    auto lowPass = std::make_shared<LowPass>(LowPass { 0.35 });
    return render(0.35, [=](double t) {
        // Three quick bursts, then the room's tail.
        double envelope = 0;
        for (int burst = 0; burst < 3; ++burst) {
            const double start = 0.011 * burst;
            if (t >= start) {
                envelope = std::max(envelope, std::exp(-(t - start) / 0.006));
            }
        }
        if (t >= 0.033) {
            envelope = std::max(envelope, 0.7 * std::exp(-(t - 0.033) / 0.09));
        }
        return lowPass->process(highPass->process(noise->next())) * envelope;
    });
}

std::vector<double> cowbell()
{
    auto lowPass = std::make_shared<LowPass>(LowPass { 0.3 });
    return render(0.4, [=](double t) {
        const double tone
            = (std::sin(kTwoPi * 540 * t) >= 0 ? 1.0 : -1.0) + (std::sin(kTwoPi * 800 * t) >= 0 ? 1.0 : -1.0);
        return lowPass->process(tone) * (0.7 * std::exp(-t / 0.02) + 0.3 * std::exp(-t / 0.15));
    });
}

std::vector<double> shaker()
{
    auto noise = std::make_shared<Noise>(0x4001);
    auto highPass = std::make_shared<HighPass>(HighPass { 0.7 });
    return render(0.16, [=](double t) {
        const double envelope = t < 0.025 ? t / 0.025 : std::exp(-(t - 0.025) / 0.03);
        return highPass->process(noise->next()) * envelope;
    });
}

std::vector<double> ride()
{
    auto body = metallic(0.9, 1.9, 0x5001);
    return render(1.6,
        [=](double t) { return 0.5 * body(t) + 0.5 * std::sin(kTwoPi * 3050 * t) * std::exp(-t / 0.5); });
}

bool writeAiff(const std::filesystem::path& path, const std::vector<double>& samples)
{
    const auto format = AudioStreamBasicDescription::bigEndianInteger(kSampleRate, 1, 16);
    rp::PcmFrames frames;
    frames.kind = rp::PcmFrames::Kind::Real;
    frames.channels = 1;
    frames.reals = samples;
    int status = 0;
    auto writer = rp::SoundFileWriter::create(path, kAudioFileAIFFType, format, &status);
    if (!writer || !writer->write(frames, &status) || writer->close() != 0) {
        std::fprintf(stderr, "make-example-kit: error %d writing %s\n", status, path.c_str());
        return false;
    }
    return true;
}

struct DrumSpec {
    const char* group;
    const char* type;
    const char* variant;
    const char* shortcut;
    bool isDefault;
    bool precedence;
    std::function<std::vector<double>()> make;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.rpkit\n", argv[0]);
        return 2;
    }
    const std::filesystem::path output = argv[1];
    const std::vector<DrumSpec> kitSounds = {
        { "Drums", "kick", "default", "b", true, false, kick },
        { "Drums", "snare", "default", "s", true, false, [] { return snare(0.07); } },
        { "Drums", "snare", "rim", "r", false, false, rim },
        { "Drums", "clap", "default", "c", true, false, clap },
        { "Cymbals", "hi hat", "closed", "h", true, true,
            [] { return render(0.12, metallic(0.035, 1.0, 0x6001)); } },
        { "Cymbals", "hi hat", "open", "o", false, false,
            [] { return render(0.7, metallic(0.3, 1.0, 0x6002)); } },
        { "Cymbals", "hi hat", "pedal", "p", false, false,
            [] { return render(0.1, metallic(0.02, 0.9, 0x6003)); } },
        { "Cymbals", "crash", "default", "x", true, false,
            [] { return render(2.0, metallic(0.7, 1.3, 0x6004)); } },
        { "Cymbals", "ride", "default", "i", true, false, ride },
        { "Toms", "high tom", "default", "t", true, false, [] { return tom(200); } },
        { "Toms", "mid tom", "default", "y", true, false, [] { return tom(150); } },
        { "Toms", "floor tom", "default", "f", true, false, [] { return tom(100); } },
        { "Percussion", "cowbell", "default", "w", true, false, cowbell },
        { "Percussion", "shaker", "default", "k", true, false, shaker },
    };

    ORPDrumKit::registerArchiveClasses();
    const std::filesystem::path scratch = output.parent_path() / ".make-example-kit";
    std::error_code error;
    std::filesystem::remove_all(scratch, error);
    std::filesystem::create_directories(scratch, error);
    if (error) {
        std::fprintf(
            stderr, "make-example-kit: cannot create %s: %s\n", scratch.c_str(), error.message().c_str());
        return 1;
    }

    auto kit = ORPDrumKit::kit();
    kit->setKitName("Rattlepan Standard Kit");
    kit->setKitInfo(
        std::string("Synthesised drums: kick, snare, clap, hi hats, cymbals, toms and percussion. "
                    "Every instrument has a key on the keyboard and a General MIDI note on channel 10."));
    int index = 0;
    for (const auto& kitSound : kitSounds) {
        const auto file = scratch / ("sound" + std::to_string(index++) + ".aiff");
        if (!writeAiff(file, kitSound.make())) {
            return 1;
        }
        auto drum = ORPDrum::drum();
        drum->setGroupName(kitSound.group);
        drum->setTypeName(kitSound.type);
        drum->setVariantName(kitSound.variant);
        drum->setShortcutKey(std::string(kitSound.shortcut));
        drum->setDefaultVarForType(kitSound.isDefault);
        drum->setVariantPrecedence(kitSound.precedence);
        drum->setSound(OASound::soundWithContentsOfURL(file));
        applyGeneralMIDIMapping(*drum);
        kit->addDrum(drum);
    }
    const bool saved = kit->saveToPath(output);
    std::filesystem::remove_all(scratch, error);
    if (!saved) {
        std::fprintf(stderr, "make-example-kit: could not write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
