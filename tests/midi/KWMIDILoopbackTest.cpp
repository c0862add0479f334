#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIEndpointSet.h"
#include "midi/KWMIDIManager.h"
#include "midi/LoopbackMIDIBackend.h"
#include "midi/MidiTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

using rp::LoopbackMIDIBackend;
using rp::MIDIPacketList;
using Kind = rp::MIDIBackend::Kind;
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
    uint32_t plug(Kind kind, std::string device, std::string name, int32_t uniqueID = 0)
    {
        LoopbackMIDIBackend::EndpointSpec endpoint;
        endpoint.deviceName = std::move(device);
        endpoint.name = std::move(name);
        endpoint.uniqueID = uniqueID;
        return backend->plug(kind, endpoint);
    }
    size_t openPortsNamed(const std::string& name) const
    {
        size_t count = 0;
        for (const auto& [id, port] : backend->openPorts()) {
            count += port.name == name ? 1 : 0;
        }
        return count;
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

TEST(MIDIPacketList, FillsItsByteBudgetAndRefusesWhatDoesNotFit)
{
    MIDIPacketList list(272);
    size_t notes = 0;
    while (list.add(100 + notes, { 0x90, 60, 100 })) {
        ++notes;
    }
    EXPECT_EQ(notes, 20u); // 4 + 20 x (10 + 3) = 264; a 21st would need 277
    EXPECT_FALSE(list.add(1, { 0xF8 })); // 11 more bytes do not fit either
    EXPECT_EQ(list.bytesUsed(), 264u);
    EXPECT_EQ(list.packet(3).timeStamp, 103u);

    MIDIPacketList quarterFrames(272);
    size_t frames = 0;
    while (quarterFrames.add(frames, { 0xF1, static_cast<uint8_t>(frames & 0x7F) })) {
        ++frames;
    }
    EXPECT_EQ(frames, 22u);
    EXPECT_FALSE(quarterFrames.add(0, std::span<const uint8_t>()));
    std::vector<uint8_t> huge(70000, 0x01);
    EXPECT_FALSE(MIDIPacketList(1 << 20).add(0, huge));
}

TEST(MIDIPacketList, SplitsBytesIntoMessages)
{
    const std::vector<uint8_t> bytes
        = { 0x42, 0x90, 60, 100, 62, 90, 0xF0, 1, 2, 3, 0xF7, 0xC0, 5, 0xF8, 0xB0, 7 };
    std::vector<std::vector<uint8_t>> messages;
    rp::forEachMIDIMessage(
        bytes, [&](std::span<const uint8_t> m) { messages.emplace_back(m.begin(), m.end()); });
    const std::vector<std::vector<uint8_t>> expected
        = { { 0x90, 60, 100 }, { 0x90, 62, 90 }, { 0xF0, 1, 2, 3, 0xF7 }, { 0xC0, 5 }, { 0xF8 } };
    EXPECT_EQ(messages, expected); // leading stray byte and truncated B0 07 dropped
}

TEST(KWMIDIEndpointNames, FollowTheDeviceAndEndpointRule)
{
    const std::pair<std::pair<const char*, const char*>, const char*> cases[] = {
        { { "Keyboard", "keyboard" }, "keyboard" }, // the device's name is not repeated, whatever its case
        { { "Interface", "Port 1" }, "Interface Port 1" }, { { "Interface", "" }, "Interface" },
        { { "", "Lonely" }, "Lonely" }
    };
    rp::MIDIBackend::EndpointInfo info;
    for (const auto& [parts, expected] : cases) {
        info.deviceName = parts.first;
        info.name = parts.second;
        EXPECT_EQ(KWMIDIEndpoint::endpointName(info), expected);
    }
    rp::NullMIDIBackend none;
    info.name = "";
    EXPECT_EQ(KWMIDIEndpoint::displayNameFor(none, info), "UNKNOWN DEVICE");
}

TEST(MIDIStableUniqueID, IsNonZeroStableAndDistinguishesBackendsAndDirections)
{
    const int32_t a = rp::midiStableUniqueID("jack", Kind::Source, "seq:out");
    EXPECT_NE(a, 0);
    EXPECT_EQ(a, rp::midiStableUniqueID("jack", Kind::Source, "seq:out"));
    EXPECT_NE(a, rp::midiStableUniqueID("alsa", Kind::Source, "seq:out"));
    EXPECT_NE(a, rp::midiStableUniqueID("jack", Kind::Destination, "seq:out"));
    EXPECT_NE(a, rp::midiStableUniqueID("jack", Kind::Source, "seq:out2"));
}

TEST_F(KWMIDILoopback, ListsEndpointsSortedWithDisplayNamesAndSkipsThisProcess)
{
    backend->addDevice(777, "Drum Box");
    LoopbackMIDIBackend::EndpointSpec wired;
    wired.deviceName = "Interface";
    wired.name = "Port 1";
    wired.connectionUniqueIDs = { 0, 777, 4242 };
    backend->plug(Kind::Source, wired);
    plug(Kind::Source, "Keyboard", "keyboard");
    plug(Kind::Source, "alpha", "in");
    LoopbackMIDIBackend::EndpointSpec mine;
    mine.deviceName = "Rattlepan";
    mine.name = "Virtual";
    mine.ownerPID = getpid();
    backend->plug(Kind::Source, mine);
    plug(Kind::Destination, "Synth", "Synth");
    settle();

    const auto sources = manager->realSources();
    ASSERT_EQ(sources.size(), 3u);
    EXPECT_EQ(sources[0]->displayName(), "alpha in");
    EXPECT_EQ(sources[1]->displayName(), "Drum Box"); // from the connected device, 4242 is unknown
    EXPECT_EQ(sources[1]->name(), "Interface Port 1");
    EXPECT_EQ(sources[2]->displayName(), "keyboard");
    EXPECT_FALSE(sources[0]->ioIsRunning()); // listing opens no ports
    EXPECT_EQ(sources[0]->uniqueID(), rp::midiStableUniqueID("loopback", Kind::Source, "alpha:in"));
    ASSERT_EQ(manager->realDestinations().size(), 1u);
    EXPECT_EQ(manager->realSourceWithMIDIEndpointRef(sources[2]->midiEndpointRef()), sources[2]);
    EXPECT_EQ(manager->realSourceWithMIDIEndpointRef(0), nullptr);
    EXPECT_EQ(manager->realDestinationWithMIDIEndpointRef(sources[2]->midiEndpointRef()), nullptr);
}

TEST_F(KWMIDILoopback, DescriptorSourceWaitsOfflineAndJoinsWhenItsDeviceArrives)
{
    SetupChangedCounter counter;
    const auto source = manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", 12345));
    ASSERT_TRUE(source);
    EXPECT_EQ(manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", 12345)), source);
    EXPECT_TRUE(source->isOffline());
    EXPECT_EQ(source->displayName(), " (offline)");
    auto receiver = std::make_shared<rp::test::RecordingReceiver>();
    source->addReceiver(receiver);
    EXPECT_TRUE(backend->openPorts().empty());
    EXPECT_EQ(manager->realSourcesOnlineOrInUse().size(), 1u);

    // An unrelated device must not be taken for it.
    plug(Kind::Source, "Other", "Out");
    const uint32_t ref = plug(Kind::Source, "Pads", "Out", 12345);
    settle();
    EXPECT_GE(counter.count.load(), 1);
    EXPECT_EQ(counter.lastObject.load(), manager.get());
    EXPECT_EQ(source->midiEndpointRef(), ref);
    EXPECT_EQ(source->displayName(), "Pads Out");
    EXPECT_EQ(openPortsNamed("KWMIDIRealSource"), 1u);
    EXPECT_EQ(manager->realSources().size(), 2u); // no duplicate for the joined device

    ASSERT_TRUE(backend->inject(ref, noteOn(61, 5)));
    backend->waitUntilQuiet();
    const auto packets = receiver->packets();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].bytes, (std::vector<uint8_t> { 0x90, 61, 100 }));
    EXPECT_EQ(packets[0].stamp, 5u);
    EXPECT_NE(packets[0].thread, std::this_thread::get_id()); // the service's own thread
    EXPECT_EQ(packets[0].sender, source.get());
    source->removeReceiver(receiver.get());
}

TEST_F(KWMIDILoopback, PortIsOpenOnlyWhileSomebodyUsesTheEndpoint)
{
    const uint32_t ref = plug(Kind::Source, "Pads", "Out");
    plug(Kind::Destination, "Synth", "In");
    settle();
    const auto source = manager->realSources().at(0);
    auto first = std::make_shared<rp::test::RecordingReceiver>();
    auto second = std::make_shared<rp::test::RecordingReceiver>();
    source->addReceiver(first);
    source->addReceiver(first); // a set: once
    source->addReceiver(second);
    EXPECT_EQ(openPortsNamed("KWMIDIRealSource"), 1u);
    backend->inject(ref, noteOn(60));
    backend->waitUntilQuiet();
    EXPECT_EQ(first->count(), 1u);
    EXPECT_EQ(second->count(), 1u);
    source->removeReceiver(first.get());
    EXPECT_TRUE(source->ioIsRunning());
    source->removeReceiver(second.get());
    EXPECT_FALSE(source->ioIsRunning());
    EXPECT_EQ(source->midiPortRef(), 0u);
    EXPECT_TRUE(backend->openPorts().empty());
    backend->inject(ref, noteOn(60));
    backend->waitUntilQuiet();
    EXPECT_EQ(first->count(), 1u);

    // A receiver that went away without removing itself no longer keeps the port open.
    auto transient = std::make_shared<rp::test::RecordingReceiver>();
    source->addReceiver(transient);
    EXPECT_TRUE(source->ioIsRunning());
    transient.reset();
    EXPECT_FALSE(source->isInUse());
    source->removeReceiver(nullptr);
    EXPECT_FALSE(source->ioIsRunning());

    const auto destination = manager->realDestinations().at(0);
    auto sender = std::make_shared<int>(0);
    destination->addSender(sender);
    EXPECT_TRUE(destination->ioIsRunning());
    EXPECT_EQ(openPortsNamed("KWMIDIRealDestination"), 1u);
    destination->removeSender(sender.get());
    EXPECT_FALSE(destination->ioIsRunning());
    EXPECT_TRUE(backend->openPorts().empty());
}

TEST_F(KWMIDILoopback, UnpluggedSourceKeepsReceiversAndReconnectsWithSameUniqueID)
{
    const uint32_t firstRef = plug(Kind::Source, "Pads", "Out");
    settle();
    const auto source = manager->realSources().at(0);
    const int32_t id = source->uniqueID();
    auto receiver = std::make_shared<rp::test::RecordingReceiver>();
    source->addReceiver(receiver);

    ASSERT_TRUE(backend->unplug(Kind::Source, firstRef));
    settle();
    EXPECT_FALSE(source->ioIsRunning());
    EXPECT_EQ(source->displayName(), "Pads Out (offline)");
    EXPECT_EQ(manager->realSourcesOnlineOrInUse().size(), 1u);

    const uint32_t secondRef = plug(Kind::Source, "Pads", "Out");
    settle();
    EXPECT_NE(secondRef, firstRef);
    EXPECT_EQ(source->midiEndpointRef(), secondRef);
    EXPECT_EQ(source->uniqueID(), id);
    backend->inject(secondRef, noteOn(64));
    backend->waitUntilQuiet();
    ASSERT_EQ(receiver->count(), 1u);
    EXPECT_EQ(manager->realSources().size(), 1u);

    // Found again by name when the unique ID changed.
    backend->unplug(Kind::Source, secondRef);
    plug(Kind::Source, "Pads", "Out", 999);
    settle();
    EXPECT_EQ(source->uniqueID(), 999);
    source->removeReceiver(receiver.get());

    // Unused and unplugged: it stays listed but is not offered.
    backend->unplug(Kind::Source, source->midiEndpointRef());
    settle();
    EXPECT_EQ(manager->realSources().size(), 1u);
    EXPECT_TRUE(manager->realSourcesOnlineOrInUse().empty());
}

TEST_F(KWMIDILoopback, ServiceOfflinePropertyAndInterApplicationBus)
{
    LoopbackMIDIBackend::EndpointSpec endpoint;
    endpoint.deviceName = "Through";
    endpoint.name = "Bus 1";
    endpoint.interApplicationBus = true;
    const uint32_t ref = backend->plug(Kind::Destination, endpoint);
    settle();
    const auto destination = manager->realDestinations().at(0);
    EXPECT_TRUE(destination->isIACBus());
    endpoint.offline = true;
    backend->change(Kind::Destination, ref, endpoint);
    settle();
    EXPECT_EQ(destination->midiEndpointRef(), ref);
    EXPECT_EQ(destination->displayName(), "Through Bus 1 (offline)");
    EXPECT_TRUE(manager->realDestinationsOnlineOrInUse().empty());
}

TEST_F(KWMIDILoopback, DestinationDeliversAtTimeStampsEvenAfterTheSenderLeaves)
{
    const uint32_t ref = plug(Kind::Destination, "Synth", "In");
    settle();
    const auto destination = manager->realDestinations().at(0);
    const int32_t id = destination->uniqueID();

    // Offline or unused destinations send nothing.
    destination->processMIDIPacketList(noteOn(1), nullptr);
    auto sender = std::make_shared<int>(0);
    destination->addSender(sender);
    const rp::MIDITimeStamp now = rp::hostTimeNow();
    MIDIPacketList list;
    list.add(now + rp::hostTimeFromSeconds(0.12), { 0x80, 60, 64 });
    list.add(now + rp::hostTimeFromSeconds(0.06), { 0x90, 60, 100 });
    list.add(0, { 0xFA });
    destination->processMIDIPacketList(list, sender.get());
    destination->removeSender(sender.get()); // the packets still go out at their times
    EXPECT_FALSE(destination->ioIsRunning());
    ASSERT_TRUE(backend->waitUntilSent(2.0));
    const auto delivered = backend->deliveries(id);
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].bytes, (std::vector<uint8_t> { 0xFA }));
    EXPECT_EQ(delivered[1].bytes, (std::vector<uint8_t> { 0x90, 60, 100 }));
    EXPECT_EQ(delivered[2].bytes, (std::vector<uint8_t> { 0x80, 60, 64 }));
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_GE(delivered[i].deliveredAt, delivered[i].stamp);
        EXPECT_LT(delivered[i].deliveredAt - delivered[i].stamp, rp::hostTimeFromSeconds(0.03));
    }

    backend->clearDeliveries();
    backend->unplug(Kind::Destination, ref);
    settle();
    destination->addSender(sender);
    EXPECT_FALSE(destination->ioIsRunning());
    destination->processMIDIPacketList(noteOn(2), sender.get());
    plug(Kind::Destination, "Synth", "In");
    settle();
    EXPECT_TRUE(destination->ioIsRunning()); // reopened for its sender when the device came back
    destination->processMIDIPacketList(noteOn(3), sender.get());
    ASSERT_TRUE(backend->waitUntilSent(2.0));
    ASSERT_EQ(backend->deliveries(id).size(), 1u);
    EXPECT_EQ(backend->deliveries(id)[0].bytes[1], 3);
    destination->removeSender(sender.get());
}

TEST_F(KWMIDILoopback, LookupByDescriptorPrefersUniqueIDThenExactName)
{
    plug(Kind::Source, "A", "Out", 10);
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
    const auto other = manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("Elsewhere", 0));
    EXPECT_NE(byName, other);
    EXPECT_EQ(manager->realSources().size(), 4u);
}

TEST_F(KWMIDILoopback, SetNameAndUniqueIDWriteThroughTheService)
{
    const uint32_t ref = plug(Kind::Source, "Pads", "Out");
    settle();
    const auto source = manager->realSources().at(0);
    EXPECT_TRUE(source->setName("Renamed"));
    EXPECT_EQ(source->displayName(), "Renamed");
    EXPECT_EQ(backend->pluggedEndpoint(Kind::Source, ref)->name, "Renamed");
    EXPECT_TRUE(manager->notificationsEnabled()); // turned back on after the write
    EXPECT_TRUE(source->setUniqueID(4711));
    EXPECT_EQ(source->descriptor()->uniqueID(), 4711);

    const auto offline = manager->realSourceWithDescriptor(KWMIDIEndpointDescriptor("Nowhere", 1));
    EXPECT_FALSE(offline->setName("x"));
    EXPECT_EQ(offline->name(), "Nowhere");
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
}

TEST_F(KWMIDILoopback, NoteNames)
{
    EXPECT_EQ(manager->nameOfNote(0), "C-1");
    EXPECT_EQ(manager->nameOfNote(61), "C#4");
    EXPECT_EQ(manager->nameOfNote(127), "G9");
}

TEST_F(KWMIDILoopback, ArchivesEndpointsAndDescriptors)
{
    plug(Kind::Source, "Pads", "Out", 321);
    plug(Kind::Destination, "Synth", "In", 654);
    settle();
    const auto source = manager->realSources().at(0);
    const auto destination = manager->realDestinations().at(0);

    const auto descriptorData = rp::KeyedArchiver::archivedDataWithRootObject(
        KWMIDIEndpointDescriptor::descriptorWithName("Pads Out", 321));
    std::string error;
    const auto descriptor = std::dynamic_pointer_cast<KWMIDIEndpointDescriptor>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(descriptorData, &error));
    ASSERT_TRUE(descriptor) << error;
    EXPECT_EQ(std::make_pair(descriptor->name(), descriptor->uniqueID()),
        std::make_pair(std::string("Pads Out"), 321));

    // A decoded real endpoint is the manager's live one, even once its device is gone.
    const auto sourceData = rp::KeyedArchiver::archivedDataWithRootObject(source);
    EXPECT_EQ(rp::KeyedUnarchiver::unarchiveObjectWithData(sourceData, &error), source);
    backend->unplug(Kind::Destination, destination->midiEndpointRef());
    settle();
    const auto destinationData = rp::KeyedArchiver::archivedDataWithRootObject(destination);
    EXPECT_EQ(rp::KeyedUnarchiver::unarchiveObjectWithData(destinationData, &error), destination);

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
    ASSERT_FALSE(setData.empty());
    const auto plain = rp::KeyedUnarchiver::unarchiveObjectWithData(setData, &error);
    ASSERT_TRUE(std::dynamic_pointer_cast<KWMIDIEndpointDescriptor>(plain));
    rp::KeyedUnarchiver unarchiver(setData);
    set->attachTo(unarchiver);
    EXPECT_EQ(unarchiver.decodeRootObject(), source);
}
