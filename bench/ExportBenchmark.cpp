// rattlepan-bench export: renders a 400-bar song of 16 hits a bar as one mixed file, as one file per
// drum group and as a MIDI file, and reports how many seconds of the song are rendered per second of
// wall time (real time is the baseline: 1.0 means as slow as playing it).

#include "BenchmarkRegistry.h"
#include "foundation/Prompt.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPUserDefaults.h"
#include "model/ORPPattern.h"
#include "player/ORPPlayer.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sndfile.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBars = 400;
constexpr int kHitsPerBar = 16;
constexpr float kBarSeconds = 2.0f; // 4/4 at 120 bpm

bool writeNoise(const std::filesystem::path& path, size_t frames, unsigned seed)
{
    SF_INFO info {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        return false;
    }
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> samples(frames * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = noise(random) * (1.0f - static_cast<float>(i) / static_cast<float>(samples.size()));
    }
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
    return true;
}

class QuietProgress : public ORPExportProgress {
public:
    void playerWillExportFilename(const std::string&) override { }
    void playerIsExportingPatternInstance(const ORPPatternInstancePtr&) override { }
    void playerDidFinishExport(bool) override { }
};

int runExport(const std::vector<std::string>&)
{
    const auto folder
        = std::filesystem::temp_directory_path() / ("rattlepan-bench-export-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    // The export remembers its format: keep that out of the user's own defaults.
    rp::UserDefaults store(folder / "defaults.plist");
    ORPUserDefaults::setDefaults(&store);

    // Three groups: kick and snare (0.5 s), hats (closed chokes open), a crash (2 s).
    struct DrumPlan {
        const char* group;
        const char* type;
        const char* variant;
        double seconds;
        bool precedence;
    };
    const DrumPlan drumPlans[] = { { "Kicks", "Kick", "default", 0.5, false },
        { "Snares", "Snare", "default", 0.5, false }, { "Cymbals", "Hi-Hat", "closed", 0.2, true },
        { "Cymbals", "Hi-Hat", "open", 1.0, false }, { "Cymbals", "Crash", "default", 2.0, false } };
    auto kit = ORPDrumKit::kit();
    kit->setKitName("Bench Kit");
    std::vector<ORPDrumPtr> drums;
    unsigned seed = 1;
    int note = 36;
    for (const auto& drumPlan : drumPlans) {
        const auto path = folder / (std::string(drumPlan.type) + "-" + drumPlan.variant + ".wav");
        if (!writeNoise(path, static_cast<size_t>(drumPlan.seconds * 44100), seed++)) {
            std::fprintf(stderr, "export: cannot write %s\n", path.c_str());
            return 1;
        }
        auto drum = ORPDrum::drum();
        drum->setGroupName(drumPlan.group);
        drum->setTypeName(drumPlan.type);
        drum->setVariantName(drumPlan.variant);
        drum->setVariantPrecedence(drumPlan.precedence);
        drum->setSound(OASound::soundWithContentsOfURL(path));
        drum->setMidiChannel(9);
        drum->setMidiNote(static_cast<int8_t>(note++));
        drum->setMidiVelocity(100);
        kit->addDrum(drum);
        drums.push_back(drum);
    }

    std::vector<ORPPatternInstancePtr> bars;
    for (int bar = 0; bar < kBars; ++bar) {
        auto pattern = ORPPattern::pattern();
        pattern->setBpm(4.0f * 60.0f / kBarSeconds, 4.0f);
        for (int hit = 0; hit < kHitsPerBar; ++hit) {
            // Kick on the beats, snare on 2 and 4, the open hat once, closed hats between.
            const ORPDrumPtr& drum = hit % 8 == 4 ? drums[1]
                : hit % 4 == 0                    ? drums[0]
                : hit == 14                       ? drums[3]
                                                  : drums[2];
            pattern->addEventWithDrum(drum, 0.8f, static_cast<float>(hit) / kHitsPerBar);
        }
        if (bar % 8 == 0) {
            pattern->addEventWithDrum(drums[4], 1.0f, 0.0f);
        }
        bars.push_back(ORPPatternInstance::initWithPattern(pattern, nullptr));
    }
    const double songSeconds = kBars * static_cast<double>(kBarSeconds);

    auto player = ORPPlayer::init(AudioDeviceKind::Null);
    if (!player) {
        std::fprintf(stderr, "export: no player\n");
        return 1;
    }
    player->precacheWaveformsForDrums(drums);
    auto progress = std::make_shared<QuietProgress>();
    rp::NonInteractivePrompt prompt;
    auto& loop = rp::RunLoop::main();

    const auto timeExport = [&](unsigned mode, const std::string& name) {
        ORPExportRequest request;
        request.fileType = kAudioFileWAVEType;
        request.streamDescription = AudioStreamBasicDescription::bigEndianInteger(44100, 2, 16);
        request.path = (folder / name).string();
        const auto start = Clock::now();
        player->exportPatternInstances(
            bars, mode, kit, std::string("Bench"), std::nullopt, "Bench",
            [&request](const ORPExportSetup&) { return std::optional(request); }, prompt, progress);
        loop.runUntil([&] { return !player->isExporting(); }, 600);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };

    const double mixSeconds = timeExport(0, "mix.wav");
    const double groupSeconds = timeExport(1, "groups.wav");
    const double midiSeconds = timeExport(2, "song.mid");
    player.reset();
    ORPUserDefaults::setDefaults(nullptr);
    std::filesystem::remove_all(folder);

    std::printf("export.song_seconds: %.0f s\n", songSeconds);
    std::printf("export.mix.realtime_ratio: %.1f\n", songSeconds / mixSeconds);
    // Per song second: the three group files together.
    std::printf("export.groups.realtime_ratio: %.1f\n", songSeconds / groupSeconds);
    std::printf("export.midi_ms: %.1f ms\n", midiSeconds * 1000.0);
    return 0;
}

const rp::bench::BenchmarkRegistration registration("export",
    "renders a 400-bar song of 16 hits a bar as a mixed file, per-group files and a MIDI file", runExport);

} // namespace
