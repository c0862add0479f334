#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIEndpointSet.h"
#include "midi/KWMIDIManager.h"
#include "midi/LoopbackMIDIBackend.h"
#include "midi/MidiTestSupport.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using rp::LoopbackMIDIBackend;
using rp::MIDIPacketList;
using Kind = rp::MIDIBackend::Kind;
using rp::test::RecordingReceiver;
using rp::test::SetupChangedCounter;

namespace {

class KWMIDILoopback : public ::testing::Test {
protected:
    void SetUp() override
    {
        backend = std::make_shared<LoopbackMIDIBackend>();
        manager = KWMIDIManager::create(backend);
        KWMIDIManager::setSharedInstance(manager);
    }
    void TearDown() override
    {
        KWMIDIManager::setSharedInstance(nullptr);
        manager.reset();
    }
    // Lets the backend's notifications reach the main thread and be handled there.
    void settle()
    {
        backend->waitUntilQuiet();
        rp::test::runMainUntil([] { return false; }, 0.05);
    }
    uint32_t plug(Kind kind, std::string device, std::string name, int32_t uniqueID = 0,
        const std::function<void(LoopbackMIDIBackend::EndpointSpec&)>& adjust = {})
    {
        LoopbackMIDIBackend::EndpointSpec endpoint;
        endpoint.deviceName = std::move(device);
        endpoint.name = std::move(name);
        endpoint.uniqueID = uniqueID;
        if (adjust) {
            adjust(endpoint);
        }
        return backend->plug(kind, endpoint);
    }
    static MIDIPacketList noteOn(uint8_t note, rp::MIDITimeStamp stamp = 0)
    {
        MIDIPacketList list;
        list.add(stamp, { 0x90, note, 100 });
        return list;
    }

    std::shared_ptr<LoopbackMIDIBackend> backend;
    std::shared_ptr<KWMIDIManager> manager;
};

} // namespace

TEST(MIDIPacketList, FillsItsByteBudgetRefusesWhatDoesNotFitAndSplitsMessages)
{
    MIDIPacketList list(272);
    size_t notes = 0;
    while (list.add(100 + notes, { 0x90, 60, 100 })) {
        ++notes;
    }
    EXPECT_EQ(notes, 20u); // 4 + 20 x (10 + 3) = 264; a 21st would need 277
    EXPECT_FALSE(list.add(1, { 0xF8 })); // 11 more bytes do not fit either
    EXPECT_FALSE(list.add(0, std::span<const uint8_t>()));
    EXPECT_FALSE(MIDIPacketList(1 << 20).add(0, std::vector<uint8_t>(70000, 0x01)));

    const std::vector<uint8_t> bytes
        = { 0x42, 0x90, 60, 100, 62, 90, 0xF0, 1, 2, 3, 0xF7, 0xC0, 5, 0xF8, 0xB0, 7 };
    std::vector<std::vector<uint8_t>> messages;
    rp::forEachMIDIMessage(
        bytes, [&](std::span<const uint8_t> m) { messages.emplace_back(m.begin(), m.end()); });
    const std::vector<std::vector<uint8_t>> expected
        = { { 0x90, 60, 100 }, { 0x90, 62, 90 }, { 0xF0, 1, 2, 3, 0xF7 }, { 0xC0, 5 }, { 0xF8 } };
    EXPECT_EQ(messages, expected); // leading stray byte and truncated B0 07 dropped
}

TEST_F(KWMIDILoopback, ListsEndpointsSortedWithDisplayNamesAndSkipsThisProcess)
{
    backend->addDevice(777, "Drum Box");
    plug(Kind::Source, "Interface", "Port 1", 0, [](auto& e) { e.connectionUniqueIDs = { 0, 777, 4242 }; });
    plug(Kind::Source, "Keyboard", "keyboard");
    plug(Kind::Source, "alpha", "in");
    plug(Kind::Source, "Rattlepan", "Virtual", 0, [](auto& e) { e.ownerPID = getpid(); });
    plug(Kind::Destination, "Interface", "");
    plug(Kind::Destination, "", "Lonely");
    plug(Kind::Destination, "", "");
    settle();

    const auto sources = manager->realSources();
    ASSERT_EQ(sources.size(), 3u);
    EXPECT_EQ(sources[0]->displayName(), "alpha in");
    EXPECT_EQ(sources[1]->displayName(), "Drum Box"); // from the connected device, 4242 is unknown
    EXPECT_EQ(sources[1]->name(), "Interface Port 1");
    EXPECT_EQ(sources[2]->displayName(), "keyboard"); // the device's name is not repeated, whatever its case
    EXPECT_FALSE(sources[0]->ioIsRunning()); // listing opens no ports
    std::vector<std::string> destinations;
    for (const auto& destination : manager->realDestinations()) {
        destinations.push_back(destination->displayName());
    }
    std::sort(destinations.begin(), destinations.end());
    EXPECT_EQ(destinations, (std::vector<std::string> { "Interface", "Lonely", "UNKNOWN DEVICE" }));

    // Unique IDs come from the backend, direction and port name, so they survive replugging.
    EXPECT_EQ(sources[0]->uniqueID(), rp::midiStableUniqueID("loopback", Kind::Source, "alpha:in"));
    EXPECT_NE(sources[0]->uniqueID(), rp::midiStableUniqueID("loopback", Kind::Destination, "alpha:in"));
}

TEST_F(KWMIDILoopback, DescriptorSourceWaitsOfflineAndJoinsWhenItsDeviceArrives)
{
    SetupChangedCounter counter;
    const auto source = manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", 12345));
    ASSERT_TRUE(source);
    EXPECT_EQ(manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", 12345)), source);
    EXPECT_TRUE(source->isOffline());
    EXPECT_EQ(source->displayName(), " (offline)");
    auto receiver = std::make_shared<RecordingReceiver>();
    source->addReceiver(receiver);
    EXPECT_TRUE(backend->openPorts().empty());
    EXPECT_EQ(manager->realSourcesOnlineOrInUse().size(), 1u);

    // An unrelated device must not be taken for it.
    plug(Kind::Source, "Other", "Out");
    const uint32_t ref = plug(Kind::Source, "Pads", "Out", 12345);
    settle();
    EXPECT_GE(counter.count.load(), 1);
    EXPECT_EQ(source->midiEndpointRef(), ref);
    EXPECT_EQ(source->displayName(), "Pads Out");
    EXPECT_EQ(backend->openPorts().size(), 1u);
    EXPECT_EQ(manager->realSources().size(), 2u); // no duplicate for the joined device

    ASSERT_TRUE(backend->inject(ref, noteOn(61, 5)));
    backend->waitUntilQuiet();
    const auto packets = receiver->packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(std::make_tuple(packets[0].bytes, packets[0].stamp, packets[0].sender),
        std::make_tuple(std::vector<uint8_t> { 0x90, 61, 100 }, rp::MIDITimeStamp { 5 }, source.get()));
    EXPECT_NE(packets[0].thread, std::this_thread::get_id()); // the service's own thread
    source->removeReceiver(receiver.get());
}

// The port is open only while somebody uses the source; an unplugged source keeps its receivers and,
// back with a new unique ID, is found by its name; unused and offline, it is listed but not offered.
TEST_F(KWMIDILoopback, SourcePortFollowsUseAndTheSourceSurvivesReplugging)
{
    const uint32_t firstRef = plug(Kind::Source, "Pads", "Out");
    settle();
    const auto source = manager->realSources().at(0);
    auto first = std::make_shared<RecordingReceiver>();
    auto second = std::make_shared<RecordingReceiver>();
    source->addReceiver(first);
    source->addReceiver(first); // a set: once
    source->addReceiver(second);
    EXPECT_EQ(backend->openPorts().size(), 1u);
    backend->inject(firstRef, noteOn(60));
    backend->waitUntilQuiet();
    EXPECT_EQ(std::make_pair(first->count(), second->count()), std::make_pair(size_t { 1 }, size_t { 1 }));
    source->removeReceiver(first.get());
    EXPECT_TRUE(source->ioIsRunning());
    // A receiver that went away without removing itself no longer keeps the port open.
    second.reset();
    EXPECT_FALSE(source->isInUse());
    source->removeReceiver(nullptr);
    EXPECT_TRUE(backend->openPorts().empty());

    source->addReceiver(first);
    backend->unplug(Kind::Source, firstRef);
    settle();
    EXPECT_FALSE(source->ioIsRunning());
    EXPECT_EQ(manager->realSourcesOnlineOrInUse().size(), 1u);
    const uint32_t secondRef = plug(Kind::Source, "Pads", "Out", 999);
    settle();
    EXPECT_EQ(std::make_pair(source->uniqueID(), source->midiEndpointRef()), std::make_pair(999, secondRef));
    backend->inject(secondRef, noteOn(64));
    backend->waitUntilQuiet();
    EXPECT_EQ(first->count(), 2u);
    source->removeReceiver(first.get());
    backend->unplug(Kind::Source, secondRef);
    settle();
    EXPECT_EQ(manager->realSources().size(), 1u);
    EXPECT_TRUE(manager->realSourcesOnlineOrInUse().empty());
}

// A destination sends nothing while unused or offline, and reopens for its senders when its device
// comes back.
TEST_F(KWMIDILoopback, DestinationSendsOnlyWhileOnlineAndInUse)
{
    const uint32_t ref = plug(Kind::Destination, "Synth", "In");
    settle();
    const auto destination = manager->realDestinations().at(0);
    const int32_t id = destination->uniqueID();
    destination->processMIDIPacketList(noteOn(1), nullptr);
    auto sender = std::make_shared<int>(0);
    destination->addSender(sender);
    EXPECT_EQ(backend->openPorts().size(), 1u);
    backend->unplug(Kind::Destination, ref);
    settle();
    EXPECT_FALSE(destination->ioIsRunning());
    destination->processMIDIPacketList(noteOn(2), sender.get());
    plug(Kind::Destination, "Synth", "In");
    settle();
    EXPECT_TRUE(destination->ioIsRunning());
    destination->processMIDIPacketList(noteOn(3), sender.get());
    ASSERT_TRUE(backend->waitUntilSent(2.0));
    ASSERT_EQ(backend->deliveries(id).size(), 1u);
    EXPECT_EQ(backend->deliveries(id)[0].bytes, (std::vector<uint8_t> { 0x90, 3, 100 }));
    destination->removeSender(sender.get());
    EXPECT_TRUE(backend->openPorts().empty());
}

TEST_F(KWMIDILoopback, LookupByDescriptorPrefersUniqueIDThenExactNameAndRenamesWriteThrough)
{
    const uint32_t ref = plug(Kind::Source, "A", "Out", 10);
    plug(Kind::Source, "B", "Out", 20);
    settle();
    const auto sources = manager->realSources();
    const auto set = KWMIDIEndpointSet::endpointSetWithArray({ sources.begin(), sources.end() });
    EXPECT_EQ(set->endpointWithDescriptor(KWMIDIEndpointDescriptor("A Out", 20))->uniqueID(), 20);
    EXPECT_EQ(set->endpointWithDescriptor(KWMIDIEndpointDescriptor("B Out", 99))->uniqueID(), 20);
    EXPECT_EQ(set->endpointWithDescriptor(KWMIDIEndpointDescriptor("b out", 99)), nullptr);
    EXPECT_EQ(set->endpointWithDescriptor(KWMIDIEndpointDescriptor("", 99)), nullptr);

    // Bare descriptors (no ID, no name) never match each other's endpoints.
    const auto byName = manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("Gone", 0));
    EXPECT_NE(byName, manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("Elsewhere", 0)));
    EXPECT_EQ(manager->realSources().size(), 4u);
    EXPECT_FALSE(byName->setName("x")); // offline: nothing to write to
    EXPECT_EQ(byName->name(), "Gone");

    EXPECT_TRUE(sources[0]->setName("Renamed"));
    EXPECT_EQ(backend->pluggedEndpoint(Kind::Source, ref)->name, "Renamed");
    EXPECT_TRUE(manager->notificationsEnabled()); // turned back on after the write
}

TEST_F(KWMIDILoopback, SetupChangeDuringHandlingOnlyMarksAnotherPass)
{
    bool nested = false;
    SetupChangedCounter counter([&] {
        if (!nested) {
            nested = true;
            manager->handleMIDINotification(1); // arrives while the first is being handled
        }
    });
    manager->handleMIDINotification(1);
    EXPECT_EQ(counter.count.load(), 2);
    EXPECT_EQ(counter.maxDepth.load(), 1);

    manager->disableNotifications();
    manager->handleMIDINotification(1);
    manager->enableNotifications();
    manager->handleMIDINotification(2); // not the setup-changed message
    EXPECT_EQ(counter.count.load(), 2);
    EXPECT_EQ(manager->nameOfNote(0) + manager->nameOfNote(61) + manager->nameOfNote(127), "C-1C#4G9");
}

TEST_F(KWMIDILoopback, ArchivesEndpointsAndDescriptors)
{
    plug(Kind::Source, "Pads", "Out", 321);
    settle();
    const auto source = manager->realSources().at(0);
    std::string error;
    // A decoded real endpoint is the manager's live one.
    const auto sourceData = rp::KeyedArchiver::archivedDataWithRootObject(source);
    EXPECT_EQ(rp::KeyedUnarchiver::unarchiveObjectWithData(sourceData, &error), source);

    // Its keys, read generically.
    rp::KeyedUnarchiver::Options generic;
    generic.decodeUnknownClassesGenerically = true;
    rp::KeyedUnarchiver::unregisterClass("KWMIDIRealSource");
    const auto raw = std::dynamic_pointer_cast<rp::KeyedGenericObject>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(sourceData, &error, generic));
    KWMIDIManager::registerArchiveClasses();
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->classChain,
        (std::vector<std::string> {
            "KWMIDIRealSource", "KWMIDIRealEndpoint", "KWMIDIEndpoint", "NSObject" }));
    std::vector<std::string> keys;
    for (const auto& [key, value] : raw->entries) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string> { "name", "uniqueID", "displayName" }));

    // Through an endpoint set: endpoints written as descriptors and read back as endpoints.
    const auto set = KWMIDIEndpointSet::endpointSetWithArray({ source });
    rp::KeyedArchiver archiver;
    set->attachTo(archiver);
    archiver.encodeObject(source, "root");
    const auto setData = archiver.finishEncoding();
    ASSERT_TRUE(std::dynamic_pointer_cast<KWMIDIEndpointDescriptor>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(setData, &error)));
    rp::KeyedUnarchiver unarchiver(setData);
    set->attachTo(unarchiver);
    EXPECT_EQ(unarchiver.decodeRootObject(), source);
}
