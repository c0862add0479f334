#include "SongCommandTestSupport.h"
#include "support/JackTestServer.h"

#include <fstream>

using namespace rp::test;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Two bars of 1 s each (4/4 at 240) with short hits.
std::filesystem::path shortSong(SongFixture& f)
{
    f.bar(0)->setBpm(240, 4);
    f.bar(1)->setBpm(240, 4);
    f.bar(0)->addEventWithDrum(f.kick, 1.0f, 0.0f);
    f.bar(1)->addEventWithDrum(f.kick, 1.0f, 0.5f);
    return f.save();
}

TEST(PlayCommand, PlaysTheSongOrItsBarsUntilTheyHaveSounded)
{
    SongFixture f(0.2);
    const auto song = shortSong(f);
    std::string output;
    std::string errors;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(f.cli("play --device null " + quoted(song), &output, &errors), 0) << errors;
    double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 2.0);
    EXPECT_LT(elapsed, 8.0);
    EXPECT_NE(output.find("Playing Groove (2 bars, kit 'Test Kit')"), std::string::npos) << output;
    EXPECT_NE(output.find("Finished at bar 2"), std::string::npos) << output;

    // The second bar alone, played as a selection.
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(f.cli("play --device null --bars 2-2 " + quoted(song), &output, &errors), 0) << errors;
    elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 1.0);
    EXPECT_NE(output.find("(1 bar,"), std::string::npos) << output;
}

TEST(PlayCommand, RefusesBadBarsMissingKitsAndUnknownDestinations)
{
    SongFixture f(0.2);
    const auto song = shortSong(f);
    std::string errors;
    EXPECT_EQ(f.cli("play --device null --bars 2-1 " + quoted(song), nullptr, &errors), 1);
    EXPECT_NE(errors.find("--bars wants A-B"), std::string::npos) << errors;
    EXPECT_EQ(f.cli("play --device null --midi-out 'no such destination anywhere' " + quoted(song), nullptr,
                  &errors),
        1);
    EXPECT_NE(errors.find("no MIDI destination matches"), std::string::npos) << errors;

    std::filesystem::remove_all(f.kitFolder);
    EXPECT_EQ(f.cli("play --device null " + quoted(song), nullptr, &errors), 1);
    EXPECT_NE(
        errors.find("'song.rpsong' couldn't be opened because no drum kit was assigned."), std::string::npos)
        << errors;
}

TEST(PlayCommand, InterruptStopsALoopingRunAndLeavesTheSettingAlone)
{
    SongFixture f(0.2);
    const auto song = shortSong(f);
    BackgroundCommand command("env RATTLEPAN_DEFAULTS_DIR=" + quoted(f.defaultsFolder) + " " + RP_CLI_PATH
        + " play --device null --loop " + quoted(song));
    ASSERT_TRUE(command.waitForLine("looping"));
    // Longer than the song: a looping run is still going.
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    command.interrupt();
    std::string rest;
    EXPECT_EQ(command.finish(&rest), 0) << rest;
    EXPECT_NE(rest.find("Stopped at bar"), std::string::npos) << rest;
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
    std::string output;
    std::string errors;
    int status = 1;
    // The dump client registers its port a moment after it starts.
    for (int attempt = 0; attempt < 50; ++attempt) {
        status = f.cli("play --device jack --midi-out rpdump " + quoted(song), &output, &errors);
        if (status == 0 || errors.find("no MIDI destination matches") == std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(status, 0) << errors;
    EXPECT_NE(output.find("on jack: "), std::string::npos) << output;
    EXPECT_NE(output.find("MIDI to rpdump"), std::string::npos) << output;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Two kicks: channel 10, note 36, velocity 100 x hit 1.0 x song level 0.8, and their note-offs.
    std::ifstream in(dumpFile);
    std::string line;
    int noteOns = 0;
    int noteOffs = 0;
    while (std::getline(in, line)) {
        noteOns += line.find("99 24 50") != std::string::npos;
        noteOffs += line.find("89 24 40") != std::string::npos;
    }
    EXPECT_EQ(noteOns, 2);
    // Exactly one each: a port closed right after its last event must not send it again.
    EXPECT_EQ(noteOffs, 2);
}

} // namespace
