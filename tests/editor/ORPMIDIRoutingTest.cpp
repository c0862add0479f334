#include "editor/ORPMIDIRouting.h"

#include "editor/EditorTestSupport.h"
#include "editor/MIDITestDocuments.h"

#include <gtest/gtest.h>

using Kind = rp::MIDIBackend::Kind;
using rp::test::RecordingDocument;
using Bytes = std::vector<std::vector<uint8_t>>;

namespace {

class ORPMIDIRoutingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sourceRef = midi.plug(Kind::Source, "Pads", "Out", 4711);
        midi.plug(Kind::Destination, "Synth", "In", 99);
        midi.settle();
        routing = ORPMIDIRouting::create(midi.manager, defaults.store(), order);
    }
    void TearDown() override { routing->detachFromMIDIEndpoints(); }

    void inject(std::initializer_list<std::vector<uint8_t>> packets)
    {
        rp::MIDIPacketList list;
        for (const auto& bytes : packets) {
            ASSERT_TRUE(list.add(0, bytes));
        }
        ASSERT_TRUE(midi.backend->inject(sourceRef, list));
        midi.backend->waitUntilQuiet();
    }

    rp::test::LoopbackMIDI midi;
    rp::test::TempDefaults defaults;
    std::shared_ptr<ORPDocumentWindowOrder> order = std::make_shared<ORPDocumentWindowOrder>();
    std::shared_ptr<ORPMIDIRouting> routing;
    uint32_t sourceRef = 0;
};

} // namespace

// The stored IDs choose the endpoints; the source's port opens for us, the destination's stays shut
// until somebody sends; 0 or a value that is no 32-bit unique ID chooses nothing.
TEST_F(ORPMIDIRoutingTest, ConfigureTakesTheStoredEndpointsAndOpensOnlyTheSourcePort)
{
    routing->configureMIDI();
    EXPECT_FALSE(routing->midiSource());
    EXPECT_FALSE(routing->midiDestination());
    EXPECT_TRUE(midi.backend->openPorts().empty());

    defaults.store().setInteger(4711, ORPMIDIRouting::kSourceIDKey);
    defaults.store().setInteger(99, ORPMIDIRouting::kDestinationIDKey);
    routing->configureMIDI();
    ASSERT_TRUE(routing->midiSource());
    ASSERT_TRUE(routing->midiDestination());
    EXPECT_EQ(routing->midiSource()->displayName(), "Pads Out");
    EXPECT_EQ(routing->midiDestination()->displayName(), "Synth In");
    EXPECT_TRUE(routing->midiSource()->ioIsRunning());
    EXPECT_FALSE(routing->midiDestination()->ioIsRunning());
    EXPECT_EQ(midi.backend->openPorts().size(), 1u);

    // Configuring again keeps one receiver, one port.
    routing->configureMIDI();
    EXPECT_EQ(midi.backend->openPorts().size(), 1u);

    const auto previous = routing->midiSource();
    for (const int64_t hostile : { int64_t { 0 }, int64_t { 1 } << 40, -(int64_t { 1 } << 40) }) {
        defaults.store().setInteger(hostile, ORPMIDIRouting::kSourceIDKey);
        routing->configureMIDI();
        EXPECT_FALSE(routing->midiSource()) << hostile;
        EXPECT_FALSE(previous->isInUse()) << hostile;
        EXPECT_TRUE(midi.backend->openPorts().empty()) << hostile;
    }
}

// A chosen device that is not plugged in is no error: we wait on its offline endpoint and receive
// as soon as it arrives.
TEST_F(ORPMIDIRoutingTest, AnAbsentSourceIsWaitedForAndDeliversWhenPluggedIn)
{
    auto document = std::make_shared<RecordingDocument>();
    order->setDocuments({ document });
    defaults.store().setInteger(5555, ORPMIDIRouting::kSourceIDKey);
    routing->configureMIDI();
    ASSERT_TRUE(routing->midiSource());
    EXPECT_TRUE(routing->midiSource()->isOffline());
    EXPECT_TRUE(midi.backend->openPorts().empty());

    sourceRef = midi.plug(Kind::Source, "Later", "Out", 5555);
    midi.settle();
    EXPECT_TRUE(routing->midiSource()->ioIsRunning());
    inject({ { 0x90, 36, 90 } });
    EXPECT_EQ(document->bytes(), (Bytes { { 0x90, 36, 90 } }));
}

// A system reset reaches every open document; everything else only the front one, in packet order.
TEST_F(ORPMIDIRoutingTest, SystemResetReachesEveryDocumentOtherPacketsTheFrontOne)
{
    defaults.store().setInteger(4711, ORPMIDIRouting::kSourceIDKey);
    routing->configureMIDI();
    auto front = std::make_shared<RecordingDocument>();
    auto back = std::make_shared<RecordingDocument>();
    order->setDocuments({ front, back });

    inject({ { 0x90, 60, 100 }, { 0xFF }, { 0xFA } });
    EXPECT_EQ(front->bytes(), (Bytes { { 0x90, 60, 100 }, { 0xFF }, { 0xFA } }));
    EXPECT_EQ(back->bytes(), (Bytes { { 0xFF } }));
    EXPECT_EQ(front->packets().at(0).sender, routing->midiSource().get());

    // The back window comes to the front.
    order->setDocuments({ back, front });
    inject({ { 0x90, 62, 80 } });
    EXPECT_EQ(back->bytes(), (Bytes { { 0xFF }, { 0x90, 62, 80 } }));
    EXPECT_EQ(front->count.load(), 3u);

    // A closed document is no longer reached, even if something still holds it.
    order->setDocuments({ front });
    inject({ { 0xFF } });
    EXPECT_EQ(back->count.load(), 2u);
    EXPECT_EQ(front->count.load(), 4u);

    // A document that went away without being taken out of the order is skipped.
    order->setDocuments({ back, front });
    back.reset();
    inject({ { 0x90, 64, 70 } });
    EXPECT_EQ(front->count.load(), 5u);

    // No windows, or an empty list: nothing happens.
    order->setDocuments({});
    inject({ { 0xFF }, { 0x90, 60, 1 } });
    routing->processMIDIPacketList(rp::MIDIPacketList(), nullptr);
    EXPECT_EQ(front->count.load(), 5u);

    // Detached at termination: the port closes and nothing arrives any more.
    order->setDocuments({ front });
    routing->detachFromMIDIEndpoints();
    EXPECT_TRUE(midi.backend->openPorts().empty());
    midi.backend->inject(sourceRef, [] {
        rp::MIDIPacketList list;
        list.add(0, { 0xFF });
        return list;
    }());
    midi.backend->waitUntilQuiet();
    EXPECT_EQ(front->count.load(), 5u);
}
