#pragma once

#include "midi/KWMIDIEndpoint.h"
#include "midi/MIDIPacketList.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class KWMIDIManager;
namespace rp {
class UserDefaults;
}

// A document that takes MIDI input (song and kit documents). Called on the MIDI input thread; the
// document moves its work to the main thread itself.
class ORPMIDIPacketReceiver {
public:
    virtual ~ORPMIDIPacketReceiver() = default;
    virtual void processMIDIPacket(const rp::MIDIPacket& packet, KWMIDIEndpoint* sender) = 0;
};

// The open documents in window order, front first, readable from the MIDI input thread.
//
// The main thread publishes a new order whenever windows open, close or change places; the MIDI
// thread copies the list under a short lock and delivers outside it, so a document that waits for
// the main thread while it handles a packet cannot deadlock a main thread publishing a new order.
// Documents are held weakly: one that has gone away by the time a packet arrives is skipped. A
// delivery under way holds its document until it returns, so a receiver released by the main thread
// meanwhile is destroyed on the MIDI thread: receivers should be small objects that forward to the
// document on the main thread.
class ORPDocumentWindowOrder {
public:
    void setDocuments(const std::vector<std::shared_ptr<ORPMIDIPacketReceiver>>& frontToBack); // main thread
    std::vector<std::shared_ptr<ORPMIDIPacketReceiver>> documents() const; // any thread; live ones only

private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<ORPMIDIPacketReceiver>> documents_;
};

// The application controller's MIDI side: the chosen source and destination, and the routing of
// incoming packets to documents.
class ORPMIDIRouting final : public KWMIDIReceiver, public std::enable_shared_from_this<ORPMIDIRouting> {
public:
    static constexpr const char* kSourceIDKey = "RPMIDISourceID";
    static constexpr const char* kDestinationIDKey = "RPMIDIDestinationID";
    static constexpr uint8_t kSystemReset = 0xFF;

    static std::shared_ptr<ORPMIDIRouting> create(std::shared_ptr<KWMIDIManager> manager,
        rp::UserDefaults& defaults, std::shared_ptr<ORPDocumentWindowOrder> windowOrder);
    ~ORPMIDIRouting() override;
    ORPMIDIRouting(const ORPMIDIRouting&) = delete;
    ORPMIDIRouting& operator=(const ORPMIDIRouting&) = delete;

    // Main thread. Detaches from the current source and forgets both endpoints, then takes the ones
    // RPMIDISourceID and RPMIDIDestinationID name (0 or nothing: none). The source, found or still
    // offline, gets this object as receiver, which opens its port; the destination's port opens only
    // while a sender uses it.
    void configureMIDI();
    // Main thread, at termination: detaches from both endpoints.
    void detachFromMIDIEndpoints();

    std::shared_ptr<KWMIDIRealSource> midiSource() const;
    std::shared_ptr<KWMIDIRealDestination> midiDestination() const;

    // MIDI input thread. Each packet in order: a system reset (first byte 0xFF) goes to every open
    // document, anything else to the front document only.
    void processMIDIPacketList(const rp::MIDIPacketList& list, KWMIDIEndpoint* sender) override;

    // The unique ID a stored value names; none for 0 or a value that is no 32-bit unique ID.
    static std::optional<int32_t> uniqueIDFromDefaults(const rp::UserDefaults& defaults, const char* key);

private:
    ORPMIDIRouting(std::shared_ptr<KWMIDIManager> manager, rp::UserDefaults& defaults,
        std::shared_ptr<ORPDocumentWindowOrder> windowOrder);

    std::shared_ptr<KWMIDIManager> manager_;
    rp::UserDefaults& defaults_;
    std::shared_ptr<ORPDocumentWindowOrder> windowOrder_;
    mutable std::mutex mutex_; // guards the two endpoints (read from any thread)
    std::shared_ptr<KWMIDIRealSource> source_;
    std::shared_ptr<KWMIDIRealDestination> destination_;
};
