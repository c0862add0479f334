#include "OAOutputTestSupport.h"
#include "audio/OASound.h"
#include "audio/OASpeakerOutput.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

// A producer that waits for a consumer thread the way the speaker waits for the device.
class PacedOutput : public rp::test::ManualOutput {
public:
    void cueToFrame(uint64_t frame) override
    {
        while (totalFramesRead() + 2205 < frame) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
};

// The producer mixes overlapping hits while a consumer thread drains the rings; every sample mixed
// comes out exactly once (less what a late hit is logged as skipping), and the clock counts every
// frame pulled.
TEST(OAOutputThreads, ProducerAndConsumerMeetOnlyAtTheRingMutex)
{
    rp::test::TempDir dir;
    rp::test::writeFloatWav(dir / "hit.wav", 44100, { std::vector<float>(1000, 0.5f) });
    auto sound = OASound::soundWithContentsOfURL(dir / "hit.wav");
    auto output = rp::test::ManualOutput::make<PacedOutput>();
    ASSERT_TRUE(output);
    ASSERT_TRUE(output->preloadBufferForSound(sound));

    rp::LogCapture log;
    std::atomic<bool> done { false };
    double pulledSum = 0;
    uint64_t pulledFrames = 0;
    std::thread consumer([&] {
        std::vector<float> left(64), right(64);
        AudioBufferList list;
        list.mBuffers = { { 1, 256, left.data() }, { 1, 256, right.data() } };
        while (!done.load()) {
            uint32_t flags = 0;
            output->renderWithFlags(&flags, 0, 0, 64, list);
            pulledFrames += 64;
            for (float sample : left) {
                pulledSum += sample;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    constexpr int kHits = 120;
    for (int hit = 0; hit < kHits; ++hit) {
        // Hits 600 frames apart: each overlaps the next.
        const float start = static_cast<float>(0.01 + hit * 600 / 44100.0);
        ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), start));
    }
    // Let everything drain.
    const uint64_t end = static_cast<uint64_t>(0.01 * 44100) + kHits * 600 + 1000 + 64;
    while (output->totalFramesRead() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done.store(true);
    consumer.join();

    double expected = kHits * 1000 * 0.5;
    const std::string underflow = "buffer underflow by ";
    for (const std::string& line : log.lines()) {
        const size_t at = line.find(underflow);
        if (at != std::string::npos) {
            expected -= std::min(1000.0, std::stod(line.substr(at + underflow.size()))) * 0.5;
        }
    }
    EXPECT_EQ(pulledSum, expected);
    EXPECT_EQ(output->totalFramesRead(), pulledFrames);
}

// Live hits and flushes from the main thread while the null device's real-time thread pulls.
TEST(OASpeakerOutputThreads, HitsAndFlushesWhileTheDeviceRuns)
{
    rp::test::TempDir dir;
    rp::test::writeFloatWav(dir / "hit.wav", 44100, { std::vector<float>(2000, 0.5f) });
    auto sound = OASound::soundWithContentsOfURL(dir / "hit.wav");
    auto speaker = OASpeakerOutput::initWithSampleRate(44100.0f, 2, AudioDeviceKind::Null);
    ASSERT_TRUE(speaker);
    ASSERT_TRUE(speaker->preloadBufferForSound(sound));
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(speaker->playSound(sound, 1.0f));
        if (i % 5 == 4) {
            speaker->silenceAndFlush();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    speaker->setLevel(0.5f);
    speaker->setMono(true);
    ASSERT_TRUE(speaker->playSound(sound, 1.0f));
    EXPECT_GT(speaker->pendingFrames(), 1000u);
    speaker->silenceAndFlush(); // cuts what is pending, not the clock
    EXPECT_EQ(speaker->pendingFrames(), 0u);
    const uint64_t flushedAt = speaker->totalFramesRead();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GT(speaker->totalFramesRead(), flushedAt);
}

} // namespace
