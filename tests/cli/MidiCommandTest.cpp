#include "midi/MIDIBackend.h"
#include "support/JackTestServer.h"
#include "support/TestSupport.h"

#include <chrono>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

using rp::test::JackTestServer;
using ::testing::HasSubstr;

namespace {

class MidiCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rp::test::haveTool("jackd") || !rp::test::haveTool("jack_midiseq")
            || !rp::test::haveTool("jack_midi_dump"))
            GTEST_SKIP() << "jackd, jack_midiseq and jack_midi_dump are needed (package jackd2)";
        server = std::make_unique<JackTestServer>();
        ASSERT_TRUE(server->ready()) << "the dummy JACK server did not start";
    }
    static int cli(const std::string& arguments, std::string* output = nullptr)
    {
        return rp::test::runCommand(std::string(RP_CLI_PATH) + " midi " + arguments + " 2>/dev/null", output);
    }
    // Waits until `midi list --json` shows an endpoint with that name on the given side.
    nlohmann::json waitForEndpoint(const std::string& side, const std::string& name)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string output;
            if (cli("list --backend jack --json", &output) == 0) {
                const auto listed = nlohmann::json::parse(output);
                for (const auto& endpoint : listed[side]) {
                    if (endpoint["name"] == name)
                        return endpoint;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return nullptr;
    }

    std::unique_ptr<JackTestServer> server;
};

} // namespace

TEST_F(MidiCommand, ListsMonitorsAndSendsThroughJack)
{
    rp::test::TempDir temp;
    const auto dumpFile = temp / "dump.txt";
    server->start({ "jack_midiseq", "rpseq", "24000", "0", "60", "8000" });
    server->start({ "stdbuf", "-oL", "jack_midi_dump", "-a", "rpdump" }, dumpFile.string());
    const auto source = waitForEndpoint("sources", "rpseq out");
    ASSERT_FALSE(source.is_null());
    EXPECT_EQ(source["uniqueID"], rp::midiStableUniqueID("jack", rp::MIDIBackend::Kind::Source, "rpseq:out"));
    EXPECT_EQ(source["online"], true);
    EXPECT_EQ(source["inUse"], false);
    ASSERT_FALSE(waitForEndpoint("destinations", "rpdump input").is_null());
    std::string text;
    ASSERT_EQ(cli("list --backend jack", &text), 0);
    EXPECT_THAT(text, HasSubstr("rpseq out"));
    EXPECT_NE(cli("list --backend bogus"), 0);

    // Each packet on a line: its host-time stamp, then its bytes.
    std::string packets;
    ASSERT_EQ(cli("monitor --backend jack --source seq --count 3 --timeout 10", &packets), 0);
    std::istringstream lines(packets);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        std::istringstream fields(line);
        unsigned long long stamp = 0;
        std::string status, note, velocity, rest;
        EXPECT_TRUE(fields >> stamp >> status >> note >> velocity && !(fields >> rest)) << line;
        EXPECT_TRUE((status == "90" || status == "80") && note == "3c" && velocity == "40") << line;
    }
    EXPECT_EQ(count, 3);
    // By unique ID (the MIDI layer's tests cover waiting for an absent source); unknown or no match.
    const auto id = std::to_string(source["uniqueID"].get<int32_t>());
    EXPECT_EQ(cli("monitor --backend jack --source-id " + id + " --count 1 --timeout 10"), 0);
    EXPECT_EQ(cli("monitor --backend jack --source-id 12345 --count 1 --timeout 0.5"), 2);
    EXPECT_EQ(cli("monitor --backend jack --source nothing-like-it --count 1 --timeout 1"), 1);

    ASSERT_EQ(cli("send --backend jack --dest rpdump --channel 10 --note 36 --velocity 99 --length 0.2"), 0);
    EXPECT_EQ(cli("send --backend jack --dest nowhere --note 1"), 1);
    EXPECT_NE(cli("send --backend jack --dest rpdump --note 128"), 0);
    // jack_midi_dump -a prints "frame: b1 b2 b3" per event.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ifstream in(dumpFile);
    std::map<std::string, long> frames;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        long frame = 0;
        char colon = 0;
        std::string b1, b2, b3;
        if (fields >> frame >> colon >> b1 >> b2 >> b3 && colon == ':')
            frames[b1 + " " + b2 + " " + b3] = frame;
    }
    ASSERT_TRUE(frames.contains("99 24 63") && frames.contains("89 24 40")) << "dump: " << frames.size();
    // The note-on is stamped "now" and goes out in the next cycle; the dummy driver's frame clock also
    // slips on a loaded machine, so allow 25 ms here (the layer tests check the frames closely).
    EXPECT_NEAR(frames["89 24 40"] - frames["99 24 63"], 0.2 * JackTestServer::kSampleRate, 1200);
}
