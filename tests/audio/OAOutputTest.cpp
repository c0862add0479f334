#include "OAOutputTestSupport.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

using rp::test::ManualOutput;

namespace {

constexpr float kRate = 44100.0f;

class OAOutputTest : public ::testing::Test {
protected:
    // A sound file holding `channels` (one vector per channel) at 44100 Hz.
    OASoundPtr makeSound(const std::string& name, const std::vector<std::vector<float>>& channels)
    {
        const auto path = dir / name;
        rp::test::writeFloatWav(path, 44100, channels);
        auto sound = OASound::soundWithContentsOfURL(path);
        EXPECT_EQ(sound->frames(), channels[0].size());
        return sound;
    }

    static std::vector<float> ramp(size_t frames, float step = 0.001f)
    {
        std::vector<float> samples(frames);
        for (size_t i = 0; i < frames; ++i) {
            samples[i] = step * static_cast<float>(i + 1);
        }
        return samples;
    }

    rp::test::TempDir dir;
};

TEST_F(OAOutputTest, MixingFormatAndRefusedFormats)
{
    auto output = ManualOutput::make(48000.0f, 2);
    ASSERT_TRUE(output);
    EXPECT_EQ(output->audioStreamDescription(), AudioStreamBasicDescription::canonicalFloat(48000, 2));

    rp::LogCapture log;
    EXPECT_FALSE(ManualOutput::make(44100.0f, 0));
    EXPECT_FALSE(ManualOutput::make(std::nanf(""), 2));
    EXPECT_TRUE(
        log.contains("OAOutput: result -10868 setting mixer stream format (0 ch at 44100.000000 Hz)"));

    EXPECT_FALSE(output->setLevel(-1.0f));
    EXPECT_TRUE(log.contains("result -10878 setting fader level in mixer unit"));
    EXPECT_EQ(output->level(), 1.0f);
}

TEST_F(OAOutputTest, PlacementGapAndUnclippedAddingIntoPendingAudio)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ramp.wav", { ramp(100) });

    // 10 frames after the clock: ten zeros, then the sound (mono feeds both channels).
    ASSERT_TRUE(
        output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), rp::test::secondsForFrame(10)));
    ASSERT_EQ(output->cuedFrames.size(), 1u);
    EXPECT_EQ(output->cuedFrames[0], 10u);
    // A second hit 50 frames in, at half volume, adds into the first where they overlap and extends
    // past its end.
    ASSERT_TRUE(
        output->playSound(sound, 0.5f, static_cast<float>(sound->duration()), rp::test::secondsForFrame(50)));

    auto pulled = output->pull(200);
    for (int c = 0; c < 2; ++c) {
        for (size_t f = 0; f < 200; ++f) {
            float expected = 0.0f;
            if (f >= 10 && f < 110) {
                expected += 0.001f * static_cast<float>(f - 10 + 1);
            }
            if (f >= 50 && f < 150) {
                expected += 0.001f * static_cast<float>(f - 50 + 1) * 0.5f;
            }
            ASSERT_FLOAT_EQ(pulled[c][f], expected) << "channel " << c << " frame " << f;
        }
    }
    EXPECT_EQ(output->totalFramesRead(), 200u);
    EXPECT_FLOAT_EQ(output->currentSeconds(), 200.0f / kRate);

    // Sums are never clipped or limited.
    auto loud = makeSound("loud.wav", { std::vector<float>(64, 0.8f) });
    loud->setVolume(1.5f);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(output->playSound(
            loud, 1.0f, static_cast<float>(loud->duration()), rp::test::secondsForFrame(200)));
    }
    pulled = output->pull(64);
    // Exactly two products added, no saturation: 0.8 * 1.5 twice.
    const float one = 0.8f * (1.5f * 1.0f * 1.0f);
    EXPECT_EQ(pulled[0][0], one + one);
    EXPECT_EQ(pulled[1][63], one + one);
}

TEST_F(OAOutputTest, PanLawGainAndMono)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ones.wav", { std::vector<float>(32, 1.0f) });
    auto playAndPull = [&](float panning, float volume) {
        sound->setPanning(panning);
        EXPECT_TRUE(output->playSound(sound, volume, static_cast<float>(sound->duration()),
            rp::test::secondsForFrame(output->totalFramesRead())));
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
}

TEST_F(OAOutputTest, StereoSoundFeedsItsOwnChannelsAndExtraChannelsAreNotPanned)
{
    auto sound = makeSound("stereo.wav", { std::vector<float>(16, 0.25f), std::vector<float>(16, -0.5f) });
    sound->setPanning(1.0f);
    auto stereo = ManualOutput::make(kRate, 2);
    ASSERT_TRUE(stereo->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.0f));
    auto pulled = stereo->pull(16);
    EXPECT_EQ(pulled[0][5], 0.0f);
    EXPECT_EQ(pulled[1][5], -0.5f);

    // Four output channels: 2 and 3 take buffers 0 and 1 again, at full level.
    auto quad = ManualOutput::make(kRate, 4);
    ASSERT_TRUE(quad->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.0f));
    pulled = quad->pull(16);
    EXPECT_EQ(pulled[2][5], 0.25f);
    EXPECT_EQ(pulled[3][5], -0.5f);
}

TEST_F(OAOutputTest, LengthCutsButNeverExtendsTheSound)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ramp.wav", { ramp(441) });
    // 5 ms = 220.5 frames, truncated to 220.
    ASSERT_TRUE(output->playSound(sound, 1.0f, 0.005f, 0.0f));
    auto pulled = output->pull(441);
    EXPECT_FLOAT_EQ(pulled[0][219], 0.220f);
    EXPECT_EQ(pulled[0][220], 0.0f);

    // Longer than the sound: the whole sound, nothing more.
    ASSERT_TRUE(output->playSound(sound, 1.0f, 5.0f, rp::test::secondsForFrame(output->totalFramesRead())));
    pulled = output->pull(500);
    EXPECT_FLOAT_EQ(pulled[0][440], 0.441f);
    EXPECT_EQ(pulled[0][441], 0.0f);
}

TEST_F(OAOutputTest, LateSoundIsLoggedAndShortened)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ramp.wav", { ramp(8820, 0.0001f) }); // 0.2 s
    output->pull(22050 + 4410); // the clock is 0.1 s past 0.5 s

    rp::LogCapture log;
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.5f));
    EXPECT_TRUE(log.contains("OAOutput: buffer underflow by 4410 frames (0.10 sec) for ramp.wav"));
    auto pulled = output->pull(4410 + 10);
    // The first 0.1 s (4410 frames) is skipped: the next frame out is sample 4411 of the ramp.
    EXPECT_FLOAT_EQ(pulled[0][0], 0.0001f * 4411);
    EXPECT_EQ(pulled[0][4410], 0.0f);
}

TEST_F(OAOutputTest, StartBeforeZeroOrWhollyPastTheClock)
{
    auto output = ManualOutput::make();
    auto sound = makeSound("ramp.wav", { ramp(100) });
    rp::LogCapture log;
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), -0.5f));
    EXPECT_EQ(output->cuedFrames.back(), 0u);
    EXPECT_TRUE(log.lines().empty());
    auto pulled = output->pull(100);
    EXPECT_FLOAT_EQ(pulled[0][0], 0.001f);
    EXPECT_FLOAT_EQ(pulled[1][99], 0.1f);

    // So late that the whole sound is past: nothing is mixed.
    output->pull(900);
    // Something pending, so a bad write would show up as changed samples or a changed length.
    auto other = makeSound("ones.wav", { std::vector<float>(50, 1.0f) });
    ASSERT_TRUE(output->playSound(
        other, 1.0f, static_cast<float>(other->duration()), rp::test::secondsForFrame(1000)));

    ASSERT_TRUE(
        output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), rp::test::secondsForFrame(10)));
    EXPECT_TRUE(log.contains("OAOutput: buffer underflow by 990 frames"));
    pulled = output->pull(60);
    for (size_t f = 0; f < 60; ++f) {
        ASSERT_EQ(pulled[0][f], f < 50 ? 1.0f : 0.0f) << f;
    }

    // The same into empty rings: they stay empty instead of turning "full" of stale memory.
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.0f));
    pulled = output->pull(16);
    EXPECT_EQ(pulled[0][0], 0.0f);
    EXPECT_EQ(pulled[0][15], 0.0f);
}

TEST_F(OAOutputTest, PullSideLevelAndClock)
{
    auto output = ManualOutput::make();
    // No rings yet: silence, and the clock still runs.
    auto pulled = output->pull(128);
    EXPECT_EQ(pulled[1][127], 0.0f);

    auto sound = makeSound("ones.wav", { std::vector<float>(10, 0.5f) });
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()),
        rp::test::secondsForFrame(output->totalFramesRead())));
    ASSERT_TRUE(output->setLevel(0.5f));
    // The rings run dry after 10 frames; the rest of the buffer is zero-filled.
    pulled = output->pull(20, true);
    EXPECT_EQ(pulled[0][0], 0.25f);
    EXPECT_EQ(pulled[1][9], 0.25f);
    EXPECT_EQ(pulled[0][10], 0.0f);
    EXPECT_EQ(pulled[0][19], 0.0f);
    EXPECT_EQ(output->totalFramesRead(), 148u);
}

TEST_F(OAOutputTest, RingSizingAndBufferDuration)
{
    auto output = ManualOutput::make();
    ASSERT_TRUE(output->setBufferDuration(1.0f));
    EXPECT_GE(output->bufferDuration(), 1.0f);
    EXPECT_EQ(output->ringBufferCount(), 2u);
    const uint64_t length = output->ringBufferLength();
    EXPECT_EQ(length % static_cast<uint64_t>(sysconf(_SC_PAGESIZE)), 0u);
    EXPECT_GE(length, static_cast<uint64_t>((44100 * 0.05 + 44100) * 4));

    // Smaller requests keep the rings and what they hold.
    auto sound = makeSound("ones.wav", { std::vector<float>(10, 1.0f) });
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.0f));
    ASSERT_TRUE(output->reallocateRingBuffersForMinimumFrames(1000));
    EXPECT_EQ(output->ringBufferLength(), length);
    // A bigger one replaces them; pending audio is dropped.
    ASSERT_TRUE(output->reallocateRingBuffersForMinimumFrames(88200));
    EXPECT_GT(output->ringBufferLength(), length);
    EXPECT_EQ(output->pull(10)[0][0], 0.0f);

    // Preloading decodes the sound and sizes the rings for it.
    auto longSound = makeSound("long.wav", { std::vector<float>(200000, 0.1f) });
    ASSERT_TRUE(output->preloadBufferForSound(longSound));
    EXPECT_TRUE(longSound->buffersAreLoaded());
    EXPECT_GE(output->ringBufferLength(), 200000u * 4);
}

TEST_F(OAOutputTest, FailuresAreLoggedLines)
{
    auto output = ManualOutput::make();
    rp::LogCapture log;
    // No sound: only time passes.
    EXPECT_TRUE(output->playSound(nullptr, 1.0f, 1.0f, 0.5f));
    EXPECT_EQ(output->cuedFrames.back(), 22050u);

    auto silent = std::make_shared<OASound>();
    EXPECT_FALSE(output->playSound(silent, 1.0f, 1.0f, 0.0f));
    EXPECT_TRUE(log.contains("OAOutput: failed to acquire buffer for "));

    // A start further ahead than the rings can hold.
    auto sound = makeSound("ones.wav", { std::vector<float>(10, 1.0f) });
    log.clear();
    EXPECT_FALSE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 100.0f));
    EXPECT_TRUE(log.contains("OAOutput: offset is too large, given sound length and buffer size"));
}

// An output that forgot to say how time passes.
class IncompleteOutput : public OAOutput {
public:
    IncompleteOutput() { initWithSampleRate(44100.0f, 2); }
};

TEST_F(OAOutputTest, BaseCueToFrameReportsTheMissingOverride)
{
    IncompleteOutput output;
    rp::LogCapture log;
    EXPECT_TRUE(output.playSound(nullptr, 1.0f, 0.0f, 0.0f));
    EXPECT_TRUE(log.contains("OAOutput: implementation error; this method must be overridden!"));
}

} // namespace
