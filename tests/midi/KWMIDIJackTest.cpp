#include "midi/JackMIDIBackend.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIManager.h"
#include "midi/MidiTestSupport.h"
#include "support/JackTestServer.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

using Kind = rp::MIDIBackend::Kind;
using rp::test::JackTestServer;
using rp::test::RecordingReceiver;

namespace {

class KWMIDIJack : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rp::test::haveTool("jackd") || !rp::test::haveTool("jack_midiseq")
            || !rp::test::haveTool("jack_midi_dump")) {
            GTEST_SKIP() << "jackd, jack_midiseq and jack_midi_dump are needed (package jackd2)";
        }
        server = std::make_unique<JackTestServer>();
        ASSERT_TRUE(server->ready()) << "the dummy JACK server did not start";
        backend = rp::JackMIDIBackend::open("KWMIDIManager");
        ASSERT_TRUE(backend);
        manager = KWMIDIManager::create(backend);
    }
    template <typename T>
    static std::shared_ptr<T> named(const std::vector<std::shared_ptr<T>>& list, const std::string& name)
    {
        const auto it
            = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e->name() == name; });
        return it == list.end() ? nullptr : *it;
    }
    std::shared_ptr<KWMIDIRealSource> waitForSource(const std::string& name)
    {
        std::shared_ptr<KWMIDIRealSource> found;
        rp::test::runMainUntil(
            [&] {
                found = named(manager->realSources(), name);
                return found && found->isOnline();
            },
            10.0);
        return found;
    }
    static bool portExists(const std::string& fullName)
    {
        std::string output;
        rp::test::runCommand("jack_lsp 2>/dev/null", &output);
        return output.find(fullName + "\n") != std::string::npos;
    }

    std::unique_ptr<JackTestServer> server;
    std::shared_ptr<rp::JackMIDIBackend> backend;
    std::shared_ptr<KWMIDIManager> manager;
};

} // namespace

// jack_midiseq's port is listed (ports of this process are not), its events arrive with host time
// stamps; when it goes away and comes back, the same source takes it up again, and our port is
// closed once nobody listens.
TEST_F(KWMIDIJack, ReceivesFromMidiseqAcrossItsRestartAndClosesThePortAfterwards)
{
    auto ghost = rp::JackMIDIBackend::open("rpghost");
    ASSERT_TRUE(ghost && ghost->createClient("rpghost", {}) != 0 && ghost->createOutputPort("out") != 0);
    ASSERT_TRUE(portExists("rpghost:out"));
    // A half-second loop at 48 kHz: C4 on at frame 0, off 8000 frames (1/6 s) later.
    const std::vector<std::string> midiseq = { "jack_midiseq", "rpseq", "24000", "0", "60", "8000" };
    const pid_t first = server->start(midiseq);
    const auto source = waitForSource("rpseq out");
    ASSERT_TRUE(source) << "jack_midiseq's port never appeared";
    EXPECT_EQ(manager->realSources().size(), 1u);
    const int32_t id = source->uniqueID();
    EXPECT_EQ(id, rp::midiStableUniqueID("jack", Kind::Source, "rpseq:out"));
    ghost.reset();
    EXPECT_EQ(rp::makeMIDIBackend("auto")->backendName(), "jack"); // auto picks the running server

    auto receiver = std::make_shared<RecordingReceiver>();
    source->addReceiver(receiver);
    EXPECT_TRUE(portExists("KWMIDIManager:KWMIDIRealSource"));
    ASSERT_TRUE(rp::test::runMainUntil([&] { return receiver->count() >= 4; }, 5.0));
    const auto packets = receiver->packets();
    const rp::MIDITimeStamp now = rp::hostTimeNow();
    bool sawPair = false;
    for (size_t i = 0; i + 1 < packets.size(); ++i) {
        EXPECT_NE(packets[i].thread, std::this_thread::get_id());
        EXPECT_LT(now - packets[i].stamp, rp::hostTimeFromSeconds(3.0));
        if (packets[i].bytes == std::vector<uint8_t> { 0x90, 60, 64 }
            && packets[i + 1].bytes == std::vector<uint8_t> { 0x80, 60, 64 }) {
            const double gap = rp::secondsFromHostTime(packets[i + 1].stamp - packets[i].stamp);
            EXPECT_NEAR(gap, 8000.0 / JackTestServer::kSampleRate, 0.01);
            sawPair = true;
        }
    }
    EXPECT_TRUE(sawPair);

    JackTestServer::stop(first);
    server->forget(first);
    ASSERT_TRUE(rp::test::runMainUntil([&] { return source->isOffline(); }, 10.0));
    EXPECT_EQ(source->displayName(), "rpseq out (offline)");
    // Known by its unique ID alone, the way preferences keep it.
    EXPECT_EQ(manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", id)), source);
    server->start(midiseq);
    ASSERT_TRUE(rp::test::runMainUntil([&] { return source->isOnline(); }, 10.0));
    EXPECT_EQ(source->uniqueID(), id);
    const size_t before = receiver->count();
    EXPECT_TRUE(rp::test::runMainUntil([&] { return receiver->count() > before; }, 5.0));
    EXPECT_EQ(manager->realSources().size(), 1u);

    source->removeReceiver(receiver.get());
    EXPECT_FALSE(portExists("KWMIDIManager:KWMIDIRealSource"));
}

TEST_F(KWMIDIJack, DestinationWritesEachEventAtTheFrameOfItsTimeStamp)
{
    rp::test::TempDir temp;
    const auto dumpFile = temp / "dump.txt";
    server->start({ "stdbuf", "-oL", "jack_midi_dump", "-a", "rpdump" }, dumpFile.string());
    std::shared_ptr<KWMIDIRealDestination> destination;
    ASSERT_TRUE(rp::test::runMainUntil(
        [&] { return (destination = named(manager->realDestinations(), "rpdump input")) != nullptr; }, 10.0));

    auto sender = std::make_shared<int>(0);
    destination->addSender(sender);
    ASSERT_TRUE(destination->ioIsRunning());
    const rp::MIDITimeStamp start = rp::hostTimeNow() + rp::hostTimeFromSeconds(0.2);
    rp::MIDIPacketList list;
    list.add(start, { 0x99, 36, 100 });
    list.add(start + rp::hostTimeFromSeconds(0.25), { 0x89, 36, 64 });
    list.add(
        start + rp::hostTimeFromSeconds(0.1), { 0x99, 38, 90, 0x99, 42, 80 }); // two messages, one packet
    destination->processMIDIPacketList(list, sender.get());
    destination->removeSender(sender.get()); // sent packets still go out
    ASSERT_TRUE(backend->waitUntilSent(3.0));

    std::map<std::string, long> frames;
    ASSERT_TRUE(rp::test::runMainUntil(
        [&] {
            std::ifstream in(dumpFile);
            frames.clear();
            for (std::string line; std::getline(in, line);) {
                std::istringstream fields(line);
                long frame = 0;
                char colon = 0;
                std::string a, b, c;
                if (fields >> frame >> colon >> a >> b >> c) {
                    frames[a + " " + b + " " + c] = frame;
                }
            }
            return frames.size() >= 4;
        },
        5.0));
    ASSERT_EQ(frames.size(), 4u);
    // Exact to the frame on an idle machine; the dummy driver's clock slips on a loaded one.
    const double kFrameTolerance = 480; // 10 ms
    const long on = frames.at("99 24 64");
    EXPECT_NEAR(frames.at("99 26 5a") - on, 0.1 * JackTestServer::kSampleRate, kFrameTolerance);
    EXPECT_NEAR(frames.at("99 2a 50") - on, 0.1 * JackTestServer::kSampleRate, kFrameTolerance);
    EXPECT_NEAR(frames.at("89 24 40") - on, 0.25 * JackTestServer::kSampleRate, kFrameTolerance);
    rp::test::runMainUntil([] { return false; }, 0.6);
    EXPECT_FALSE(portExists("KWMIDIManager:KWMIDIRealDestination"));
}

TEST(KWMIDIJackAbsent, AutoNeverStartsAServer)
{
    setenv("JACK_DEFAULT_SERVER", ("rptest-absent-" + std::to_string(getpid())).c_str(), 1);
    EXPECT_EQ(rp::JackMIDIBackend::open("KWMIDIManager"), nullptr);
    const auto chosen = rp::makeMIDIBackend("auto");
    ASSERT_TRUE(chosen);
    EXPECT_NE(chosen->backendName(), "jack");
    EXPECT_EQ(rp::makeMIDIBackend("jack"), nullptr);
    EXPECT_EQ(rp::makeMIDIBackend("bogus"), nullptr);
    unsetenv("JACK_DEFAULT_SERVER");
}
