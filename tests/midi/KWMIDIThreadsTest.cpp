#include "midi/KWMIDIManager.h"
#include "midi/LoopbackMIDIBackend.h"
#include "midi/MidiTestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using rp::LoopbackMIDIBackend;
using Kind = rp::MIDIBackend::Kind;

// Input keeps arriving on the service's thread and a player-like thread keeps sending while the
// main thread adds and removes receivers and senders and the devices come and go.
TEST(KWMIDILoopbackThreads, EndpointsStaySafeUnderConcurrentUseAndReplugging)
{
    auto backend = std::make_shared<LoopbackMIDIBackend>();
    auto manager = KWMIDIManager::create(backend);
    LoopbackMIDIBackend::EndpointSpec sourceSpec, destinationSpec;
    sourceSpec.deviceName = "Pads";
    destinationSpec.deviceName = "Synth";
    std::atomic<uint32_t> sourceRef { backend->plug(Kind::Source, sourceSpec) };
    uint32_t destinationRef = backend->plug(Kind::Destination, destinationSpec);
    backend->waitUntilQuiet();
    rp::test::runMainUntil([] { return false; }, 0.05);
    const auto source = manager->realSources().at(0);
    const auto destination = manager->realDestinations().at(0);

    std::atomic<bool> running { true };
    std::thread input([&] {
        rp::MIDIPacketList list;
        list.add(0, { 0x90, 60, 100 });
        while (running) {
            backend->inject(sourceRef, list);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread player([&] {
        rp::MIDIPacketList list;
        list.add(0, { 0x99, 36, 100 });
        while (running) {
            if (destination->isOnline()) {
                destination->processMIDIPacketList(list, nullptr);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });

    auto keeper = std::make_shared<rp::test::RecordingReceiver>();
    source->addReceiver(keeper);
    auto sender = std::make_shared<int>(0);
    destination->addSender(sender);
    for (int round = 0; round < 40; ++round) {
        auto transient = std::make_shared<rp::test::RecordingReceiver>();
        source->addReceiver(transient);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        source->removeReceiver(transient.get());
        const size_t afterRemoval = transient->count();
        backend->waitUntilQuiet();
        EXPECT_EQ(transient->count(), afterRemoval); // nothing arrives once removed
        if (round % 10 == 5) {
            backend->unplug(Kind::Source, sourceRef);
            backend->unplug(Kind::Destination, destinationRef);
            sourceRef = backend->plug(Kind::Source, sourceSpec);
            destinationRef = backend->plug(Kind::Destination, destinationSpec);
            backend->waitUntilQuiet();
            rp::test::runMainUntil([] { return false; }, 0.02);
        }
        destination->removeSender(sender.get());
        destination->addSender(sender);
    }
    running = false;
    input.join();
    player.join();
    EXPECT_TRUE(source->isOnline());
    EXPECT_EQ(source->midiEndpointRef(), sourceRef.load());
    EXPECT_GT(keeper->count(), 100u);
    EXPECT_GT(backend->deliveries(destination->uniqueID()).size(), 100u);
    source->removeReceiver(keeper.get());
    destination->removeSender(sender.get());
}
