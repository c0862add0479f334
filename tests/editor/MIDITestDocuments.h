#pragma once

#include "editor/ORPMIDIRouting.h"
#include "midi/KWMIDIManager.h"
#include "midi/LoopbackMIDIBackend.h"
#include "midi/MidiTestSupport.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace rp::test {

// A document that records the packets routed to it.
class RecordingDocument final : public ORPMIDIPacketReceiver {
public:
    struct Packet {
        std::vector<uint8_t> bytes;
        KWMIDIEndpoint* sender;
    };
    void processMIDIPacket(const rp::MIDIPacket& packet, KWMIDIEndpoint* sender) override
    {
        std::lock_guard lock(mutex_);
        packets_.push_back({ { packet.data.begin(), packet.data.end() }, sender });
        ++count;
    }
    std::vector<Packet> packets() const
    {
        std::lock_guard lock(mutex_);
        return packets_;
    }
    std::vector<std::vector<uint8_t>> bytes() const
    {
        std::vector<std::vector<uint8_t>> all;
        for (const auto& packet : packets()) {
            all.push_back(packet.bytes);
        }
        return all;
    }
    std::atomic<size_t> count { 0 };

private:
    mutable std::mutex mutex_;
    std::vector<Packet> packets_;
};

// A loopback MIDI service with its manager installed as the shared one.
class LoopbackMIDI {
public:
    LoopbackMIDI()
        : backend(std::make_shared<rp::LoopbackMIDIBackend>())
        , manager(KWMIDIManager::create(backend))
    {
        KWMIDIManager::setSharedInstance(manager);
    }
    ~LoopbackMIDI() { KWMIDIManager::setSharedInstance(nullptr); }
    LoopbackMIDI(const LoopbackMIDI&) = delete;
    LoopbackMIDI& operator=(const LoopbackMIDI&) = delete;

    uint32_t plug(rp::MIDIBackend::Kind kind, std::string device, std::string name, int32_t uniqueID)
    {
        rp::LoopbackMIDIBackend::EndpointSpec endpoint;
        endpoint.deviceName = std::move(device);
        endpoint.name = std::move(name);
        endpoint.uniqueID = uniqueID;
        return backend->plug(kind, endpoint);
    }
    // Lets setup changes reach the main thread and be handled there.
    void settle()
    {
        backend->waitUntilQuiet();
        runMainUntil([] { return false; }, 0.05);
    }

    std::shared_ptr<rp::LoopbackMIDIBackend> backend;
    std::shared_ptr<KWMIDIManager> manager;
};

} // namespace rp::test
