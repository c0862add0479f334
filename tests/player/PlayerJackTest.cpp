// A live run through a real (dummy-driver) JACK server, recorded by jack_rec.

#include "PlayerTestSupport.h"
#include "support/JackTestServer.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

using namespace rp::test;

// Starts jack_rec on the player's two ports for `seconds`; returns its pid once it is connected.
pid_t startRecording(JackTestServer& server, const std::filesystem::path& file, int seconds)
{
    const pid_t recorder = server.start({ "jack_rec", "-f", file.string(), "-d", std::to_string(seconds), "-b",
        "32", "rattlepan:outport 0", "rattlepan:outport 1" });
    for (int i = 0; i < 200 && recorder > 0; ++i) {
        std::string connections;
        runCommand("jack_lsp -c -s " + server.name() + " rattlepan 2>/dev/null", &connections);
        if (connections.find("jack_rec") != std::string::npos || connections.find("jackrec") != std::string::npos)
            return recorder;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// Waits for jack_rec to finish its file.
void finishRecording(JackTestServer& server, pid_t recorder)
{
    for (int i = 0; i < 500 && kill(recorder, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.forget(recorder);
}

// A drum whose mono sound at the JACK server's rate is `peak` on its first frame and `level` after.
ORPDrumPtr makeServerRateDrum(
    const TempDir& dir, const std::string& type, size_t frames, float peak, float level = 0.125f)
{
    std::vector<float> samples(frames, level);
    samples[0] = peak;
    const auto path = dir / (type + ".wav");
    writeFloatWav(path, JackTestServer::kSampleRate, { samples });
    auto drum = makeDrum("G", type, "default");
    drum->setSound(OASound::soundWithContentsOfURL(path));
    return drum;
}

// The frames of channel 0 where the signal first rises into [low, high) after being below low.
std::vector<size_t> risesInto(const std::vector<float>& samples, float low, float high)
{
    std::vector<size_t> found;
    for (size_t f = 1; f < samples.size(); ++f) {
        if (samples[f] >= low && samples[f] < high && !(samples[f - 1] >= low))
            found.push_back(f);
    }
    return found;
}

bool haveJackTools()
{
    return haveTool("jackd") && haveTool("jack_rec") && haveTool("jack_lsp");
}

// Each test plays through its own dummy JACK server; without the JACK tools it is skipped.
class PlayerJack : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveJackTools())
            GTEST_SKIP() << "SKIPPED: jackd, jack_rec or jack_lsp is not installed, so playback through JACK is "
                            "not tested";
        server_ = std::make_unique<JackTestServer>();
        if (!server_->ready())
            GTEST_SKIP() << "SKIPPED: the dummy JACK server did not start";
    }

    ScopedKitDefaults defaults;
    TempDir dir;
    std::unique_ptr<JackTestServer> server_;
    JackTestServer& server() { return *server_; }

    // Plays one bar once through JACK while jack_rec records 2 s of it, then lets the player go.
    template <typename Bar>
    void playOnceRecording(std::shared_ptr<ORPPlayer>& player, Bar bar, const std::vector<ORPDrumPtr>& drums,
        const std::filesystem::path& recording)
    {
        auto editor = std::make_shared<TestEditor>();
        editor->bars = { std::move(bar) };
        player->setPatternEditor(editor);
        player->precacheWaveformsForDrums(drums);
        const pid_t recorder = startRecording(server(), recording, 2);
        ASSERT_GT(recorder, 0);
        player->startPlaybackOnceOnly(true);
        ASSERT_TRUE(rp::RunLoop::main().runUntil([&] { return !player->isPlaying(); }, 10));
        finishRecording(server(), recorder);
        player.reset();
    }
};

TEST_F(PlayerJack, LivePlaybackPutsHitsOnTimeInARealJackServer)
{
    auto player = ORPPlayer::init(AudioDeviceKind::Jack);
    ASSERT_TRUE(player);
    ASSERT_EQ(player->speakerOutput()->deviceKind(), AudioDeviceKind::Jack);
    const double rate = player->speakerOutput()->sampleRate();

    // Hits every 0.25 s; the third one louder and panned left.
    auto drum = makeClickDrum(dir, "G", "Kick", "default", 441, 0.5f);
    auto loud = makeClickDrum(dir, "G", "Snare", "default", 441, 0.9f);
    loud->storedSound()->setPanning(-1.0f);
    const auto recording = dir / "recording.wav";
    ASSERT_NO_FATAL_FAILURE(playOnceRecording(player,
        makeBar(1.0f, { { drum, 0.0f }, { drum, 0.25f }, { loud, 0.5f }, { drum, 0.75f } }), { drum, loud },
        recording));

    SF_INFO info {};
    const auto channels = readChannels(recording, &info);
    ASSERT_EQ(info.channels, 2);
    // Onsets: a sample above 0.2 after at least 1000 quiet frames, 0.25 s apart.
    std::vector<size_t> onsets;
    size_t quiet = 1000;
    for (size_t f = 0; f < channels[0].size(); ++f) {
        if (std::abs(channels[0][f]) > 0.2f && quiet >= 1000)
            onsets.push_back(f);
        quiet = std::abs(channels[0][f]) > 0.01f ? 0 : quiet + 1;
    }
    ASSERT_EQ(onsets.size(), 4u);
    for (size_t i = 1; i < onsets.size(); ++i)
        EXPECT_NEAR(static_cast<double>(onsets[i] - onsets[i - 1]) / rate, 0.25, 0.003) << "hit " << i;
    // The loud hit is on the left only, at its level.
    const auto loudStart = static_cast<long>(onsets[2]);
    EXPECT_TRUE(std::all_of(channels[1].begin() + loudStart, channels[1].begin() + loudStart + 400,
        [](float sample) { return sample == 0.0f; }));
    EXPECT_GT(*std::max_element(channels[0].begin() + loudStart, channels[0].begin() + loudStart + 50), 0.7f);
}

// At every loop point all that lies before it is heard: a tone held through the bar (choked only by
// its own next hit) never drops out, and a hit in the last 10 ms of the bar sounds on every pass.
TEST_F(PlayerJack, LoopPointsLeaveNoHoleAndKeepTheLastHitsOfTheBar)
{
    auto player = ORPPlayer::init(AudioDeviceKind::Jack);
    ASSERT_TRUE(player);
    ASSERT_EQ(player->speakerOutput()->sampleRate(), JackTestServer::kSampleRate);
    defaults.store().setBool(true, RPLoopPlaybackKey);

    const size_t bar = JackTestServer::kSampleRate / 2;
    auto tone = makeServerRateDrum(dir, "Tone", 2 * bar, 0.4f);
    tone->setVariantPrecedence(true);
    auto click = makeServerRateDrum(dir, "Click", 100, 0.5f);
    auto editor = std::make_shared<TestEditor>();
    editor->bars = { makeBar(0.5f, { { tone, 0.0f }, { click, 0.985f } }) };
    player->setPatternEditor(editor);
    player->precacheWaveformsForDrums({ tone, click });

    const auto recording = dir / "loop.wav";
    const pid_t recorder = startRecording(server(), recording, 3);
    ASSERT_GT(recorder, 0);
    player->startPlaybackOnceOnly(false);
    const double started = player->speakerOutput()->currentSeconds();
    // Three loop points (0.5, 1 and 1.5 s after the start), then stop.
    ASSERT_TRUE(rp::RunLoop::main().runUntil(
        [&] { return player->speakerOutput()->currentSeconds() > started + 1.8; }, 10));
    player->stopAndReset();
    finishRecording(server(), recorder);
    player.reset();

    const auto left = readChannels(recording)[0];
    // Tone starts read 0.4 alone; clicks 0.5 on the tone's 0.125.
    const auto toneStarts = risesInto(left, 0.3f, 0.45f);
    const auto clicks = risesInto(left, 0.6f, 0.7f);
    ASSERT_GE(toneStarts.size(), 4u);
    ASSERT_GE(clicks.size(), 3u);
    for (size_t pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(toneStarts[pass + 1] - toneStarts[pass], bar) << "pass " << pass;
        EXPECT_EQ(clicks[pass], toneStarts[pass] + 23640) << "pass " << pass; // 0.985 of the bar
    }
    // No digital silence from the first tone to the stop.
    size_t last = left.size();
    while (last > 0 && left[last - 1] == 0.0f)
        --last;
    size_t longest = 0;
    size_t run = 0;
    for (size_t f = toneStarts[0]; f < last; ++f) {
        run = left[f] == 0.0f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LE(longest, 4u) << "longest silence: " << longest << " frames";
}

// An output whose clock has run for a day still puts every hit on its own frame: offsets within the
// bar that lie on no millisecond grid come out exact.
TEST_F(PlayerJack, ClockThatHasRunForADayStillPutsHitsOnTheirFrames)
{
    const uint64_t day = 24ull * 3600 * JackTestServer::kSampleRate;
    auto player = ORPPlayer::initWithSpeakerOutput(OASpeakerOutput::init(AudioDeviceKind::Jack, day));
    ASSERT_TRUE(player);
    ASSERT_EQ(player->speakerOutput()->deviceKind(), AudioDeviceKind::Jack);
    ASSERT_EQ(player->speakerOutput()->sampleRate(), JackTestServer::kSampleRate);
    ASSERT_GE(player->speakerOutput()->totalFramesRead(), day);

    const std::vector<float> places { 0.0f, 0.1037f, 0.2913f, 0.6f, 0.7771f };
    auto click = makeServerRateDrum(dir, "Click", 48, 0.9f, 0.0f);
    std::vector<Hit> hits;
    for (const float place : places)
        hits.push_back({ click, place });
    const auto recording = dir / "day.wav";
    ASSERT_NO_FATAL_FAILURE(playOnceRecording(player, makeBar(1.0f, hits), { click }, recording));

    const auto onsets = risesInto(readChannels(recording)[0], 0.5f, 2.0f);
    ASSERT_EQ(onsets.size(), places.size());
    for (size_t i = 1; i < places.size(); ++i) {
        const auto expected = static_cast<size_t>(static_cast<double>(places[i]) * JackTestServer::kSampleRate);
        EXPECT_EQ(onsets[i] - onsets[0], expected) << "place " << places[i];
    }
}

} // namespace
