// A live run through a real (dummy-driver) JACK server, recorded by jack_rec.

#include "PlayerTestSupport.h"
#include "support/JackTestServer.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

using namespace rp::test;

TEST(PlayerJack, LivePlaybackPutsHitsOnTimeInARealJackServer)
{
    if (!haveTool("jackd") || !haveTool("jack_rec") || !haveTool("jack_lsp"))
        GTEST_SKIP() << "SKIPPED: jackd, jack_rec or jack_lsp is not installed, so live playback through "
                        "JACK is not tested";
    ScopedKitDefaults defaults;
    TempDir dir;
    JackTestServer server;
    if (!server.ready())
        GTEST_SKIP() << "SKIPPED: the dummy JACK server did not start";
    auto player = ORPPlayer::init(AudioDeviceKind::Jack);
    ASSERT_TRUE(player);
    ASSERT_EQ(player->speakerOutput()->deviceKind(), AudioDeviceKind::Jack);
    const double rate = player->speakerOutput()->sampleRate();

    // Hits every 0.25 s; the third one louder and panned left.
    auto drum = makeClickDrum(dir, "G", "Kick", "default", 441, 0.5f);
    auto loud = makeClickDrum(dir, "G", "Snare", "default", 441, 0.9f);
    loud->storedSound()->setPanning(-1.0f);
    auto editor = std::make_shared<TestEditor>();
    editor->bars = { makeBar(1.0f, { { drum, 0.0f }, { drum, 0.25f }, { loud, 0.5f }, { drum, 0.75f } }) };
    player->setPatternEditor(editor);
    player->precacheWaveformsForDrums({ drum, loud });

    // jack_rec records 2 s and stops by itself.
    const auto recording = dir / "recording.wav";
    const pid_t recorder = server.start({ "jack_rec", "-f", recording.string(), "-d", "2", "-b", "32",
        "rattlepan:outport 0", "rattlepan:outport 1" });
    ASSERT_GT(recorder, 0);
    bool connected = false;
    for (int i = 0; i < 200 && !connected; ++i) {
        std::string connections;
        runCommand("jack_lsp -c -s " + server.name() + " rattlepan 2>/dev/null", &connections);
        connected = connections.find("jack_rec") != std::string::npos
            || connections.find("jackrec") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(connected);
    player->startPlaybackOnceOnly(true);
    ASSERT_TRUE(rp::RunLoop::main().runUntil([&] { return !player->isPlaying(); }, 10));
    for (int i = 0; i < 300 && kill(recorder, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.forget(recorder);
    player.reset();

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

} // namespace
