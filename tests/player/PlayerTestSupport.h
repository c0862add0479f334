#pragma once

// Helpers for the player tests: drums with synthetic click sounds, bars built from (drum, place,
// velocity) hits, an editor stand-in, a recording progress display and a private defaults store.

#include "audio/OAOutputTestSupport.h"
#include "foundation/RunLoop.h"
#include "kit/KitTestSupport.h"
#include "model/ORPPattern.h"
#include "player/ORPPlayer.h"

#include <gtest/gtest.h>
#include <thread>

namespace rp::test {

constexpr int kClickRate = 44100;

// A drum whose sound is a mono click at 44.1 kHz, `frames` long: `peak` on its first frame marks
// where a hit starts, 0.125 on every other one shows how long it rang.
inline ORPDrumPtr makeClickDrum(const TempDir& dir, const std::string& group, const std::string& type,
    const std::string& variant, size_t frames, float peak = 0.5f)
{
    std::vector<float> samples(frames, 0.125f);
    samples[0] = peak;
    const auto path = dir / (group + "-" + type + "-" + variant + ".wav");
    writeFloatWav(path, kClickRate, { samples });
    auto drum = makeDrum(group, type, variant);
    drum->setSound(OASound::soundWithContentsOfURL(path));
    return drum;
}

struct Hit {
    ORPDrumPtr drum;
    float place;
    float velocity = 1.0f;
};

// One bar of `seconds` (4/4) with the hits, as an instance without a playlist entry.
inline ORPPatternInstancePtr makeBar(float seconds, const std::vector<Hit>& hits)
{
    auto pattern = ORPPattern::pattern();
    pattern->setBpm(4.0f * 60.0f / seconds, 4.0f);
    for (const auto& hit : hits)
        pattern->addEventWithDrum(hit.drum, hit.velocity, hit.place);
    return ORPPatternInstance::initWithPattern(pattern, nullptr);
}

class TestEditor : public ORPPlayerEditor {
public:
    bool hasSelection() const override { return !selected.empty(); }
    std::vector<ORPPatternInstancePtr> selectedPatternInstances() const override { return selected; }
    std::vector<ORPPatternInstancePtr> patternInstances() const override { return bars; }
    std::optional<uint64_t> insertionPointIndex() const override { return index; }
    float insertionPointPlace() const override { return place; }

    std::vector<ORPPatternInstancePtr> bars;
    std::vector<ORPPatternInstancePtr> selected;
    std::optional<uint64_t> index = 0;
    float place = 0;
};

// A player on the null audio device following a stand-in editor, with private defaults.
class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        player = ORPPlayer::init(AudioDeviceKind::Null);
        ASSERT_TRUE(player);
        player->setPatternEditor(editor);
    }

    ScopedKitDefaults defaults;
    TempDir dir;
    std::shared_ptr<TestEditor> editor = std::make_shared<TestEditor>();
    std::shared_ptr<ORPPlayer> player;
};

// Records the progress calls (all on the main thread) and can act inside them.
class RecordingProgress : public ORPExportProgress {
public:
    void playerWillExportFilename(const std::string& path) override
    {
        EXPECT_TRUE(RunLoop::main().isMainThread());
        files.push_back(path);
        if (onFile)
            onFile(path);
    }
    void playerIsExportingPatternInstance(const ORPPatternInstancePtr& instance) override
    {
        EXPECT_TRUE(RunLoop::main().isMainThread());
        instances.push_back(instance);
    }
    void playerDidFinishExport(bool wasCanceled) override
    {
        finished = true;
        canceled = wasCanceled;
    }

    std::vector<std::string> files;
    std::vector<ORPPatternInstancePtr> instances;
    std::function<void(const std::string&)> onFile;
    bool finished = false;
    bool canceled = false;
};

// The export request for a stereo float WAVE file at 44.1 kHz.
inline ORPExportRequest floatWaveRequest(const std::filesystem::path& path)
{
    ORPExportRequest request;
    request.fileType = kAudioFileWAVEType;
    request.streamDescription = AudioStreamBasicDescription::canonicalFloat(kClickRate, 2);
    request.streamDescription.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
    request.path = path.string();
    return request;
}

// Runs the main loop until the export's thread has finished and its progress display closed.
inline bool waitForExport(ORPPlayer& player, RecordingProgress* progress = nullptr, double timeout = 60)
{
    return RunLoop::main().runUntil(
        [&] { return !player.isExporting() && (!progress || progress->finished); }, timeout);
}

} // namespace rp::test
