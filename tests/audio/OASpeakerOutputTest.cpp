#include "audio/OASpeakerOutput.h"

#include "OAOutputTestSupport.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(OASpeakerOutput, NullDeviceClockRunsInRealTimeAndCuesWaitUntilWithinTheLead)
{
    auto speaker = OASpeakerOutput::initWithSampleRate(44100.0f, 2, AudioDeviceKind::Null);
    ASSERT_TRUE(speaker);
    EXPECT_EQ(speaker->deviceKind(), AudioDeviceKind::Null);
    const uint64_t first = speaker->totalFramesRead();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double elapsed = secondsSince(start);
    const double frames = static_cast<double>(speaker->totalFramesRead() - first);
    EXPECT_NEAR(frames / 44100.0, elapsed, 0.1);

    const uint64_t target = speaker->totalFramesRead() + static_cast<uint64_t>(0.3 * 44100);
    const auto cued = Clock::now();
    speaker->cueToFrame(target);
    const double waited = secondsSince(cued);
    const uint64_t now = speaker->totalFramesRead();
    // Released once the clock is 0.05 s (2205 frames) before the target, give or take one poll.
    EXPECT_GE(now + 2205, target);
    EXPECT_LT(now + 2205, target + static_cast<uint64_t>(0.03 * 44100));
    EXPECT_NEAR(waited, 0.25, 0.08);

    // A frame already that close (or past) returns at once.
    const auto again = Clock::now();
    speaker->cueToFrame(speaker->totalFramesRead() + 1000);
    speaker->cueToFrame(0);
    EXPECT_LT(secondsSince(again), 0.02);
}

TEST(OASpeakerOutput, UnavailableDeviceFallsBackToTheNullDeviceWithOneLine)
{
    // A JACK server name nobody runs.
    setenv("JACK_DEFAULT_SERVER", ("rp-absent-" + std::to_string(getpid())).c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    rp::LogCapture log;
    auto speaker = OASpeakerOutput::init(AudioDeviceKind::Jack);
    unsetenv("JACK_DEFAULT_SERVER");
    ASSERT_TRUE(speaker);
    EXPECT_EQ(speaker->deviceKind(), AudioDeviceKind::Null);
    ASSERT_EQ(log.lines().size(), 1u) << ::testing::PrintToString(log.lines());
    EXPECT_NE(
        log.lines()[0].find("OASpeakerOutput: no jack audio device could be opened ("), std::string::npos);
    EXPECT_NE(log.lines()[0].find("); playing into the null device"), std::string::npos);
    // Its clock runs, so cues cannot hang.
    const uint64_t start = speaker->totalFramesRead();
    speaker->cueToFrame(start + 3000);
    EXPECT_GE(speaker->totalFramesRead() + 2205, start + 3000);
}

} // namespace
