#include "audio/OASpeakerOutput.h"

#include "OAOutputTestSupport.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A private dummy JACK server for one test, stopped at the end.
class JackServer {
public:
    JackServer()
        : name_("rp-test-" + std::to_string(getpid()))
    {
        if (!rp::test::haveTool("jackd") || !rp::test::haveTool("jack_wait")) {
            why_ = "jackd is not installed";
            return;
        }
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        std::string output;
        rp::test::runCommand("jackd -n " + name_ + " -d dummy -r 44100 -p 256 > "
                + (dir_ / "jackd.log").string() + " 2>&1 & echo $!",
            &output);
        pid_ = std::atoi(output.c_str());
        if (pid_ <= 0 || rp::test::runCommand("jack_wait -w -t 5 -s " + name_ + " > /dev/null 2>&1") != 0) {
            why_ = "jackd did not start (see its log: " + readLog() + ")";
            return;
        }
        running_ = true;
    }

    ~JackServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 100 && kill(pid_, 0) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        unsetenv("JACK_DEFAULT_SERVER");
    }

    bool running() const { return running_; }
    const std::string& why() const { return why_; }
    const std::string& name() const { return name_; }
    const rp::test::TempDir& dir() const { return dir_; }

private:
    std::string readLog() const
    {
        auto bytes = rp::test::readFileBytes(dir_ / "jackd.log");
        return std::string(bytes.begin(), bytes.end());
    }

    rp::test::TempDir dir_;
    std::string name_;
    std::string why_;
    int pid_ = -1;
    bool running_ = false;
};

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

TEST(OASpeakerOutput, SilenceAndFlushCutsPendingSoundButNotTheClock)
{
    rp::test::TempDir dir;
    rp::test::writeFloatWav(dir / "long.wav", 44100, { std::vector<float>(44100, 0.5f) });
    auto sound = OASound::soundWithContentsOfURL(dir / "long.wav");
    auto speaker = OASpeakerOutput::init(AudioDeviceKind::Null);
    ASSERT_TRUE(speaker);
    ASSERT_TRUE(speaker->playSound(sound, 1.0f));
    EXPECT_GT(speaker->pendingFrames(), 40000u);
    const uint64_t before = speaker->totalFramesRead();
    speaker->silenceAndFlush();
    EXPECT_EQ(speaker->pendingFrames(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GT(speaker->totalFramesRead(), before);
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

TEST(OASpeakerOutput, DeviceKindsByName)
{
    EXPECT_EQ(audioDeviceKindFromString("JACK"), AudioDeviceKind::Jack); // any case
    EXPECT_EQ(audioDeviceKindFromString("auto"), AudioDeviceKind::Automatic);
    EXPECT_FALSE(audioDeviceKindFromString("coreaudio"));
}

// The real thing: a dummy JACK server, our client "rattlepan" and jack_rec recording its port.
TEST(OASpeakerOutput, PlaysAHitIntoARealJackServer)
{
    if (!rp::test::haveTool("jack_rec")) {
        GTEST_SKIP() << "SKIPPED: jack_rec is not installed, so the JACK speaker test does not run";
    }
    JackServer server;
    if (!server.running()) {
        GTEST_SKIP() << "SKIPPED: the JACK speaker test, because " << server.why();
    }
    rp::test::writeFloatWav(server.dir() / "hit.wav", 44100, { std::vector<float>(4410, 0.5f) });
    auto sound = OASound::soundWithContentsOfURL(server.dir() / "hit.wav");
    sound->setPanning(-1.0f); // left only

    auto speaker = OASpeakerOutput::init(AudioDeviceKind::Jack);
    ASSERT_TRUE(speaker);
    ASSERT_EQ(speaker->deviceKind(), AudioDeviceKind::Jack);
    EXPECT_EQ(speaker->sampleRate(), 44100.0f);
    std::string ports;
    rp::test::runCommand("jack_lsp -s " + server.name(), &ports);
    ASSERT_NE(ports.find("rattlepan:outport 0"), std::string::npos) << ports;

    const auto recording = server.dir() / "recording.wav";
    std::string pid;
    rp::test::runCommand("jack_rec -f " + recording.string()
            + " -d 2 -b 32 'rattlepan:outport 0' "
              "'rattlepan:outport 1' > /dev/null 2>&1 & echo $!",
        &pid);
    // Wait for jack_rec to be connected to our ports.
    for (int i = 0; i < 100; ++i) {
        std::string connections;
        rp::test::runCommand("jack_lsp -c -s " + server.name() + " rattlepan", &connections);
        if (connections.find("jackrec") != std::string::npos
            || connections.find("jack_rec") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(speaker->playSound(
        sound, 1.0f, static_cast<float>(sound->duration()), speaker->currentSeconds() + 0.2f));
    // jack_rec stops by itself after 2 s.
    const int recorder = std::atoi(pid.c_str());
    for (int i = 0; i < 250 && recorder > 0 && kill(recorder, 0) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    speaker.reset();

    SF_INFO info {};
    auto channels = rp::test::readChannels(recording, &info);
    ASSERT_EQ(info.channels, 2);
    size_t hitFrames = 0;
    size_t rightNonZero = 0;
    for (size_t f = 0; f < channels[0].size(); ++f) {
        if (std::abs(channels[0][f] - 0.5f) < 1e-4f) {
            ++hitFrames;
        }
        if (channels[1][f] != 0.0f) {
            ++rightNonZero;
        }
    }
    EXPECT_EQ(hitFrames, 4410u);
    EXPECT_EQ(rightNonZero, 0u);
}

} // namespace
