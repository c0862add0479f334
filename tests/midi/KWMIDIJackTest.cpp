#include "midi/JackMIDIBackend.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIManager.h"
#include "midi/MidiTestSupport.h"
#include "support/JackTestServer.h"

#include <fstream>
#include <gtest/gtest.h>
#include <jack/midiport.h>
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
    void TearDown() override
    {
        manager.reset();
        backend.reset();
        server.reset();
    }
    template <typename T>
    static std::shared_ptr<T> named(const std::vector<std::shared_ptr<T>>& list, const std::string& name)
    {
        for (const auto& endpoint : list) {
            if (endpoint->name() == name) {
                return endpoint;
            }
        }
        return nullptr;
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

TEST_F(KWMIDIJack, ReceivesFromMidiseqWithHostTimeStampsAndClosesThePortAfterwards)
{
    // A half-second loop at 48 kHz: C4 on at frame 0, off 8000 frames (1/6 s) later.
    server->start({ "jack_midiseq", "rpseq", "24000", "0", "60", "8000" });
    const auto source = waitForSource("rpseq out");
    ASSERT_TRUE(source) << "jack_midiseq's port never appeared";
    EXPECT_EQ(source->uniqueID(), rp::midiStableUniqueID("jack", Kind::Source, "rpseq:out"));
    EXPECT_EQ(named(manager->realSources(), "KWMIDIManager KWMIDIRealSource"), nullptr);

    auto receiver = std::make_shared<RecordingReceiver>();
    source->addReceiver(receiver);
    EXPECT_TRUE(portExists("KWMIDIManager:KWMIDIRealSource"));
    // Our own input port never shows up as a destination.
    rp::test::runMainUntil([] { return false; }, 0.3);
    EXPECT_EQ(named(manager->realDestinations(), "KWMIDIManager KWMIDIRealSource"), nullptr);

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

    source->removeReceiver(receiver.get());
    EXPECT_FALSE(portExists("KWMIDIManager:KWMIDIRealSource"));
}

TEST_F(KWMIDIJack, SourceThatDisappearsComesBackWithTheSameUniqueID)
{
    const pid_t first = server->start({ "jack_midiseq", "rpback", "24000", "0", "62", "4000" });
    const auto source = waitForSource("rpback out");
    ASSERT_TRUE(source);
    const int32_t id = source->uniqueID();
    const uint32_t firstRef = source->midiEndpointRef();
    auto receiver = std::make_shared<RecordingReceiver>();
    source->addReceiver(receiver);
    ASSERT_TRUE(rp::test::runMainUntil([&] { return receiver->count() >= 1; }, 5.0));

    {
        rp::test::SetupChangedCounter counter;
        JackTestServer::stop(first);
        server->forget(first);
        ASSERT_TRUE(rp::test::runMainUntil([&] { return source->isOffline(); }, 10.0));
        EXPECT_GE(counter.count.load(), 1);
    }
    EXPECT_EQ(source->displayName(), "rpback out (offline)");

    // Known by its unique ID alone, the way preferences keep it.
    EXPECT_EQ(manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", id)), source);

    server->start({ "jack_midiseq", "rpback", "24000", "0", "62", "4000" });
    ASSERT_TRUE(rp::test::runMainUntil([&] { return source->isOnline(); }, 10.0));
    EXPECT_EQ(source->uniqueID(), id);
    EXPECT_NE(source->midiEndpointRef(), firstRef);
    const size_t before = receiver->count();
    EXPECT_TRUE(rp::test::runMainUntil([&] { return receiver->count() > before; }, 5.0));
    EXPECT_EQ(manager->realSources().size(), 1u);
    source->removeReceiver(receiver.get());
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
            std::string line;
            frames.clear();
            while (std::getline(in, line)) {
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

TEST_F(KWMIDIJack, PortsOfThisProcessAreNotListedAndAutoPicksTheRunningServer)
{
    // Another client of this process publishing a MIDI output.
    auto ghost = rp::JackMIDIBackend::open("rpghost");
    ASSERT_TRUE(ghost);
    ASSERT_NE(ghost->createClient("rpghost", {}), 0u);
    ASSERT_NE(ghost->createOutputPort("out"), 0u);
    ASSERT_TRUE(portExists("rpghost:out"));
    server->start({ "jack_midiseq", "rpother", "24000", "0", "60", "100" });
    ASSERT_TRUE(waitForSource("rpother out"));
    for (const auto& source : manager->realSources()) {
        EXPECT_EQ(source->name().find("rpghost"), std::string::npos);
    }
    ghost.reset();

    const auto chosen = rp::makeMIDIBackend("auto");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->backendName(), "jack");
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
