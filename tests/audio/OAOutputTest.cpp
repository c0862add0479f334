#include "OAOutputTestSupport.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

using rp::test::ManualOutput;
using rp::test::secondsForFrame;

namespace {

class OAOutputTest : public ::testing::Test {
protected:
    // A sound file holding `channels` (one vector per channel) at 44100 Hz.
    OASoundPtr makeSound(const std::string& name, const std::vector<std::vector<float>>& channels)
    {
        rp::test::writeFloatWav(dir / name, 44100, channels);
        return OASound::soundWithContentsOfURL(dir / name);
    }

    static std::vector<float> ramp(size_t frames, float step = 0.001f)
    {
        std::vector<float> samples(frames);
        for (size_t i = 0; i < frames; ++i) {
            samples[i] = step * static_cast<float>(i + 1);
        }
        return samples;
    }

    // Plays the whole sound at `frame` on the output clock.
    static bool play(ManualOutput& output, const OASoundPtr& sound, uint64_t frame, float volume = 1.0f)
    {
        return output.playSound(sound, volume, static_cast<float>(sound->duration()), secondsForFrame(frame));
    }

    rp::test::TempDir dir;
};

// Hits at frames after the clock add into what is pending, never clipped or limited.
TEST_F(OAOutputTest, HitsAddUnclippedIntoPendingAudioAfterAGap)
{
    auto output = ManualOutput::make();
    auto loud = makeSound("loud.wav", { std::vector<float>(64, 0.8f) });
    loud->setVolume(1.5f);
    ASSERT_TRUE(play(*output, loud, 10));
    ASSERT_TRUE(play(*output, loud, 10));
    EXPECT_EQ(output->cuedFrames, (std::vector<uint64_t> { 10, 10 }));
    ASSERT_TRUE(play(*output, loud, 50, 0.5f));
    const auto pulled = output->pull(200);
    const float one = 0.8f * (1.5f * 1.0f * 1.0f);
    const float half = 0.8f * (1.5f * 0.5f * 1.0f);
    EXPECT_EQ((std::vector<float> { pulled[0][9], pulled[0][10], pulled[1][49], pulled[1][50], pulled[0][73],
                  pulled[0][74], pulled[0][113], pulled[0][114] }),
        (std::vector<float> {
            0.0f, one + one, one + one, one + one + half, one + one + half, half, half, 0.0f }));
    EXPECT_EQ(output->totalFramesRead(), 200u);
    EXPECT_FLOAT_EQ(output->currentSeconds(), 200.0f / 44100.0f);
}

// After a day of running, times on the clock still resolve single frames: hits land on exactly the
// frame asked for, whether between frames of a millisecond grid or on a bar-like round offset.
TEST_F(OAOutputTest, ClockThatHasRunForADayStillPlacesHitsOnTheirFrames)
{
    auto output = ManualOutput::make();
    const uint64_t day = 24ull * 3600 * 44100;
    output->setTotalFramesRead(day);
    EXPECT_EQ(output->currentSeconds(), 86400.0);
    ASSERT_TRUE(output->setBufferDuration(0.2f));
    auto click = makeSound("click.wav", { { 1.0f } });
    const std::vector<uint64_t> offsets { 1, 7, 123, 2205, 3333, 4409 };
    for (const uint64_t offset : offsets) {
        const double at = output->currentSeconds() + static_cast<double>(offset) / 44100.0;
        EXPECT_EQ(output->frameAtSeconds(at), day + offset);
        ASSERT_TRUE(output->playSound(click, 1.0f, static_cast<float>(click->duration()), at));
        EXPECT_EQ(output->cuedFrames.back(), day + offset);
    }
    const auto pulled = output->pull(4410);
    std::vector<uint64_t> heard;
    for (size_t f = 0; f < pulled[0].size(); ++f) {
        if (pulled[0][f] != 0.0f)
            heard.push_back(f);
    }
    EXPECT_EQ(heard, offsets);
}

TEST_F(OAOutputTest, PanLawGainMonoAndExtraChannels)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ones.wav", { std::vector<float>(32, 1.0f) });
    auto playAndPull = [&](float panning, float volume) {
        sound->setPanning(panning);
        EXPECT_TRUE(play(*output, sound, output->totalFramesRead(), volume));
        auto pulled = output->pull(32);
        return std::pair<float, float>(pulled[0][0], pulled[1][0]);
    };
    EXPECT_EQ(playAndPull(-1.0f, 1.0f), std::make_pair(1.0f, 0.0f));
    EXPECT_EQ(playAndPull(0.0f, 1.0f), std::make_pair(1.0f, 1.0f));
    EXPECT_EQ(playAndPull(1.0f, 1.0f), std::make_pair(0.0f, 1.0f));
    EXPECT_EQ(playAndPull(0.5f, 1.0f), std::make_pair(0.5f, 1.0f));
    EXPECT_EQ(playAndPull(-0.25f, 1.0f), std::make_pair(1.0f, 0.75f));
    // Gain is the sound's volume x the hit's volume x the pan factor.
    sound->setVolume(0.5f);
    EXPECT_EQ(playAndPull(0.5f, 0.5f), std::make_pair(0.5f * 0.5f * 0.5f, 0.25f));
    // Mono ignores panning altogether.
    sound->setVolume(1.0f);
    output->setMono(true);
    EXPECT_EQ(playAndPull(1.0f, 1.0f), std::make_pair(1.0f, 1.0f));
    EXPECT_EQ(playAndPull(-1.0f, 1.0f), std::make_pair(1.0f, 1.0f));

    // A stereo sound feeds its own channels; output channels 2 and 3 repeat them, unpanned.
    auto stereo = makeSound("stereo.wav", { std::vector<float>(16, 0.25f), std::vector<float>(16, -0.5f) });
    stereo->setPanning(1.0f);
    auto quad = ManualOutput::make(44100.0f, 4);
    ASSERT_TRUE(play(*quad, stereo, 0));
    const auto pulled = quad->pull(16);
    EXPECT_EQ((std::vector<float> { pulled[0][5], pulled[1][5], pulled[2][5], pulled[3][5] }),
        (std::vector<float> { 0.0f, -0.5f, 0.25f, -0.5f }));
}

// Where a hit lands and how much of it plays: cut by its length, skipped where late, clamped at zero.
TEST_F(OAOutputTest, LengthCutsLateHitsAreShortenedAndStartsBeforeZeroClamp)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ramp.wav", { ramp(441) });
    // 5 ms = 220.5 frames, truncated to 220; longer than the sound: the whole sound, nothing more.
    ASSERT_TRUE(output->playSound(sound, 1.0f, 0.005f, 0.0f));
    auto pulled = output->pull(441);
    EXPECT_FLOAT_EQ(pulled[0][219], 0.220f);
    EXPECT_EQ(pulled[0][220], 0.0f);
    ASSERT_TRUE(output->playSound(sound, 1.0f, 5.0f, secondsForFrame(output->totalFramesRead())));
    pulled = output->pull(500);
    EXPECT_FLOAT_EQ(pulled[0][440], 0.441f);
    EXPECT_EQ(pulled[0][441], 0.0f);

    auto late = ManualOutput::make();
    auto longRamp = makeSound("long.wav", { ramp(8820, 0.0001f) }); // 0.2 s
    late->pull(22050 + 4410); // the clock is 0.1 s past 0.5 s
    rp::LogCapture log;
    ASSERT_TRUE(late->playSound(longRamp, 1.0f, static_cast<float>(longRamp->duration()), 0.5f));
    EXPECT_TRUE(log.contains("OAOutput: buffer underflow by 4410 frames (0.10 sec) for long.wav"));
    pulled = late->pull(4410 + 10);
    // The first 0.1 s (4410 frames) is skipped: the next frame out is sample 4411 of the ramp.
    EXPECT_FLOAT_EQ(pulled[0][0], 0.0001f * 4411);
    EXPECT_EQ(pulled[0][4410], 0.0f);

    auto early = ManualOutput::make();
    log.clear();
    ASSERT_TRUE(early->playSound(sound, 1.0f, static_cast<float>(sound->duration()), -0.5f));
    EXPECT_EQ(early->cuedFrames.back(), 0u);
    EXPECT_TRUE(log.lines().empty());
    pulled = early->pull(441);
    EXPECT_FLOAT_EQ(pulled[0][0], 0.001f);
    EXPECT_FLOAT_EQ(pulled[1][440], 0.441f);
}

TEST_F(OAOutputTest, HitsWhollyPastTheClockMixNothing)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ramp.wav", { ramp(100) });
    // Something is pending, so a bad write would show up as changed samples or a changed length.
    output->pull(1000);
    ASSERT_TRUE(play(*output, makeSound("ones.wav", { std::vector<float>(50, 1.0f) }), 1000));
    rp::LogCapture log;
    ASSERT_TRUE(play(*output, sound, 10));
    EXPECT_TRUE(log.contains("OAOutput: buffer underflow by 990 frames"));
    auto pulled = output->pull(60);
    for (size_t f = 0; f < 60; ++f) {
        ASSERT_EQ(pulled[0][f], f < 50 ? 1.0f : 0.0f) << f;
    }
    // The same into empty rings: they stay empty instead of turning "full" of stale memory.
    ASSERT_TRUE(play(*output, sound, 0));
    EXPECT_EQ(output->pull(16)[0], std::vector<float>(16, 0.0f));
}

TEST_F(OAOutputTest, PullSideLevelClockAndRingSizing)
{
    auto output = ManualOutput::make();
    // No rings yet: silence, and the clock still runs.
    EXPECT_EQ(output->pull(128)[1][127], 0.0f);
    auto sound = makeSound("ones.wav", { std::vector<float>(10, 0.5f) });
    ASSERT_TRUE(play(*output, sound, output->totalFramesRead()));
    ASSERT_TRUE(output->setLevel(0.5f));
    // The rings run dry after 10 frames; the rest of the buffer is zero-filled.
    auto pulled = output->pull(20, true);
    std::vector<float> expected(20, 0.0f);
    std::fill_n(expected.begin(), 10, 0.25f);
    EXPECT_EQ(pulled[0], expected);
    EXPECT_EQ(pulled[1], expected);
    EXPECT_EQ(output->totalFramesRead(), 148u);

    ASSERT_TRUE(output->setBufferDuration(1.0f));
    EXPECT_GE(output->ringBufferLength(), static_cast<uint64_t>((44100 * 0.05 + 44100) * 4));
    // Preloading decodes the sound and sizes the rings for it.
    auto longSound = makeSound("long.wav", { std::vector<float>(200000, 0.1f) });
    ASSERT_TRUE(output->preloadBufferForSound(longSound));
    EXPECT_TRUE(longSound->buffersAreLoaded());
    EXPECT_GE(output->ringBufferLength(), 200000u * 4);
}

// An output that forgot to say how time passes.
class IncompleteOutput : public OAOutput {
public:
    IncompleteOutput() { initWithSampleRate(44100.0f, 2); }
};

TEST_F(OAOutputTest, FailuresAreLoggedLines)
{
    auto output = ManualOutput::make();
    rp::LogCapture log;
    EXPECT_FALSE(ManualOutput::make(44100.0f, 0));
    EXPECT_FALSE(ManualOutput::make(std::nanf(""), 2));
    EXPECT_TRUE(
        log.contains("OAOutput: result -10868 setting mixer stream format (0 ch at 44100.000000 Hz)"));
    EXPECT_FALSE(output->setLevel(-1.0f));
    EXPECT_TRUE(log.contains("result -10878 setting fader level in mixer unit"));
    EXPECT_EQ(output->level(), 1.0f);
    // No sound: only time passes.
    EXPECT_TRUE(output->playSound(nullptr, 1.0f, 1.0f, 0.5f));
    EXPECT_EQ(output->cuedFrames.back(), 22050u);
    EXPECT_FALSE(output->playSound(std::make_shared<OASound>(), 1.0f, 1.0f, 0.0f));
    EXPECT_TRUE(log.contains("OAOutput: failed to acquire buffer for "));
    // A start further ahead than the rings can hold.
    auto sound = makeSound("ones.wav", { std::vector<float>(10, 1.0f) });
    EXPECT_FALSE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 100.0f));
    EXPECT_TRUE(log.contains("OAOutput: offset is too large, given sound length and buffer size"));

    IncompleteOutput incomplete;
    EXPECT_TRUE(incomplete.playSound(nullptr, 1.0f, 0.0f, 0.0f));
    EXPECT_TRUE(log.contains("OAOutput: implementation error; this method must be overridden!"));
}

} // namespace
