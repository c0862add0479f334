#include "SongCommandTestSupport.h"
#include "support/JackTestServer.h"

#include <chrono>
#include <gmock/gmock.h>
#include <thread>

using namespace rp::test;
using ::testing::HasSubstr;

namespace {

// Two bars of 1 s each (4/4 at 240) with a short kick in each.
std::filesystem::path shortSong(SongFixture& f)
{
    for (size_t bar = 0; bar < 2; ++bar) {
        f.bar(bar)->setBpm(240, 4);
        f.bar(bar)->addEventWithDrum(f.kick, 1.0f, bar == 0 ? 0.0f : 0.5f);
    }
    return f.save();
}

TEST(PlayCommand, PlaysTheSongOrItsBarsUntilTheyHaveSoundedAndRefusesBadOptions)
{
    SongFixture f(0.2);
    const auto song = shortSong(f);
    std::string output, errors;
    const auto timed = [&](const std::string& arguments) {
        output.clear();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(f.cli(arguments, &output, &errors), 0) << errors;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const double whole = timed("play --device null " + quoted(song));
    EXPECT_GE(whole, 2.0);
    EXPECT_LT(whole, 8.0);
    EXPECT_THAT(output, HasSubstr("Playing Groove (2 bars, kit 'Test Kit')"));
    EXPECT_THAT(output, HasSubstr("Finished at bar 2"));
    // The second bar alone, played as a selection.
    EXPECT_GE(timed("play --device null --bars 2-2 " + quoted(song)), 1.0);
    EXPECT_THAT(output, HasSubstr("(1 bar,"));

    const std::pair<std::string, std::string> refused[] = { { "--bars 2-1", "--bars wants A-B" },
        { "--midi-out 'no such destination anywhere'", "no MIDI destination matches" } };
    for (const auto& [options, message] : refused) {
        EXPECT_EQ(f.cli("play --device null " + options + " " + quoted(song), nullptr, &errors), 1);
        EXPECT_THAT(errors, HasSubstr(message));
    }
}

TEST(PlayCommand, InterruptStopsALoopingRunAndLeavesTheSettingAlone)
{
    SongFixture f(0.2);
    // Interrupted later than the song lasts: a looping run is still going.
    std::string output;
    EXPECT_EQ(
        f.interruptAfter("play --device null --loop " + quoted(shortSong(f)), "looping", 2.6, output), 0)
        << output;
    EXPECT_THAT(output, HasSubstr("Stopped at bar"));
    EXPECT_FALSE(f.defaults().hasStoredValue("RPLoopPlayback"));
}

TEST(PlayCommand, PlaysThroughJackAndSendsTheNotesToAMIDIDestination)
{
    if (!haveTool("jackd") || !haveTool("jack_midi_dump"))
        GTEST_SKIP() << "SKIPPED: jackd and jack_midi_dump (package jackd2) are needed for this test";
    JackTestServer server;
    ASSERT_TRUE(server.ready()) << "the dummy JACK server did not start";
    SongFixture f(0.2);
    const auto song = shortSong(f);
    f.defaults().setString("jack", "RPMIDIBackend");
    const auto dumpFile = f.dir / "dump.txt";
    server.start({ "stdbuf", "-oL", "jack_midi_dump", "-a", "rpdump" }, dumpFile.string());
    std::string output, errors;
    int status = 1;
    // The dump client registers its port a moment after it starts.
    for (int attempt = 0; attempt < 50 && status != 0; ++attempt) {
        status = f.cli("play --device jack --midi-out rpdump " + quoted(song), &output, &errors);
        if (errors.find("no MIDI destination matches") == std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(status, 0) << errors;
    EXPECT_THAT(output, HasSubstr("on jack: "));
    EXPECT_THAT(output, HasSubstr("MIDI to rpdump"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Two kicks: channel 10, note 36, velocity 100 x hit 1.0 x song level 0.8, and exactly one
    // note-off each: a port closed right after its last event must not send it again.
    const auto bytes = readFileBytes(dumpFile);
    const std::string dump(bytes.begin(), bytes.end());
    for (const char* message : { "99 24 50", "89 24 40" }) {
        int seen = 0;
        for (size_t at = dump.find(message); at != std::string::npos; at = dump.find(message, at + 1))
            ++seen;
        EXPECT_EQ(seen, 2) << message;
    }
}

} // namespace
