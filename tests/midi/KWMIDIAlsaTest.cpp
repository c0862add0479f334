#include "midi/AlsaMIDIBackend.h"
#include "midi/KWMIDIManager.h"
#include "midi/MidiTestSupport.h"

#include <gtest/gtest.h>

TEST(KWMIDIAlsa, ListsOtherClientsAndLoopsANoteThroughMidiThrough)
{
    auto backend = rp::AlsaMIDIBackend::open("KWMIDIManager");
    if (!backend) {
        GTEST_SKIP() << "the ALSA sequencer (/dev/snd/seq) cannot be opened on this machine";
    }
    const auto manager = KWMIDIManager::create(backend);
    std::shared_ptr<KWMIDIRealSource> through;
    for (const auto& source : manager->realSources()) {
        EXPECT_EQ(source->name().find("KWMIDIManager"), std::string::npos); // our own client is skipped
        through = !through && source->isIACBus() ? source : through;
    }
    std::shared_ptr<KWMIDIRealDestination> into;
    for (const auto& destination : manager->realDestinations()) {
        into = through && destination->name() == through->name() ? destination : into;
    }
    if (!through || !into) {
        GTEST_SKIP() << "no Midi Through port to loop a note through";
    }
    auto receiver = std::make_shared<rp::test::RecordingReceiver>();
    through->addReceiver(receiver);
    auto sender = std::make_shared<int>(0);
    into->addSender(sender);
    const rp::MIDITimeStamp stamp = rp::hostTimeNow() + rp::hostTimeFromSeconds(0.05);
    rp::MIDIPacketList list;
    list.add(stamp, { 0x90, 60, 100 });
    into->processMIDIPacketList(list, sender.get());
    ASSERT_TRUE(rp::test::runMainUntil([&] { return receiver->count() >= 1; }, 3.0));
    const auto packet = receiver->packets().at(0);
    EXPECT_EQ(packet.bytes, (std::vector<uint8_t> { 0x90, 60, 100 }));
    EXPECT_GE(packet.stamp + rp::hostTimeFromSeconds(0.005), stamp); // not before its time
    into->removeSender(sender.get());
    through->removeReceiver(receiver.get());
    EXPECT_FALSE(through->ioIsRunning());
}
