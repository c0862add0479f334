#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"
#include "midi/MIDIBackend.h"
#include "midi/MIDIPacketList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class KWMIDIEndpoint;
class KWMIDIEndpointDescriptor;
class KWMIDIManager;

// What receives a source's input. Called on the MIDI input thread; an implementation hands
// its work to the main thread before it touches the model.
class KWMIDIReceiver {
public:
    virtual ~KWMIDIReceiver() = default;
    virtual void processMIDIPacketList(const rp::MIDIPacketList& list, KWMIDIEndpoint* sender) = 0;
};

// A MIDI source or destination that outlives its device: while the device is away the
// endpoint is offline and keeps its senders and receivers; when the device is found again (by
// unique ID or name) the endpoint takes its new handle and reopens its port if in use.
//
// Threads: the I/O and property operations run on the main thread; processMIDIPacketList
// runs on the MIDI input thread for a source and on any thread for a destination. The getters
// may be called from any thread.
class KWMIDIEndpoint : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    using Kind = rp::MIDIBackend::Kind;

    ~KWMIDIEndpoint() override;
    KWMIDIEndpoint(const KWMIDIEndpoint&) = delete;
    KWMIDIEndpoint& operator=(const KWMIDIEndpoint&) = delete;

    virtual Kind kind() const = 0;

    std::shared_ptr<KWMIDIEndpointDescriptor> descriptor() const;
    std::string name() const;
    // The display name; followed by " (offline)" while the endpoint is offline.
    std::string displayName() const;
    int32_t uniqueID() const;
    uint32_t midiEndpointRef() const;

    // Write the property to the service endpoint, then store it; false when the service
    // refuses (or the endpoint has no handle).
    bool setName(const std::string& name);
    bool setUniqueID(int32_t uniqueID);

    // Case-insensitive comparison of display names: -1, 0 or 1.
    int compareByDisplayName(const KWMIDIEndpoint& other) const;

    bool isOnline() const { return !isOffline(); }
    bool isOffline() const;
    bool isInUse() const;
    bool isOnlineOrInUse() const { return isOnline() || isInUse(); }
    bool isIACBus() const;

    // Receivers and senders are held weakly and identified by address; an object removes
    // itself before it goes away. Each change starts I/O, or stops it when nobody is left.
    void addReceiver(const std::shared_ptr<KWMIDIReceiver>& receiver);
    void removeReceiver(const KWMIDIReceiver* receiver);
    void addSender(const std::shared_ptr<const void>& sender);
    void removeSender(const void* sender);

    // A source hands the list to every receiver; a destination sends it out of its port.
    virtual void processMIDIPacketList(const rp::MIDIPacketList& list, const void* sender) = 0;

    virtual void startIO() = 0;
    virtual void stopIO() = 0;
    virtual bool ioIsRunning() const = 0;
    void syncWithMIDIEndpoint();

    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    std::vector<std::string> keyedArchiveSuperclasses() const override;

    // The naming rules, from what the service reports about one endpoint.
    static std::string endpointName(const rp::MIDIBackend::EndpointInfo& info);
    static std::string displayNameFor(rp::MIDIBackend& backend, const rp::MIDIBackend::EndpointInfo& info);

protected:
    KWMIDIEndpoint(
        const std::shared_ptr<KWMIDIManager>& manager, Kind kind, std::string name, int32_t uniqueID);
    KWMIDIEndpoint(const std::shared_ptr<KWMIDIManager>& manager, Kind kind, uint32_t endpointRef);

    void adoptInfoLocked(const rp::MIDIBackend::EndpointInfo& info);
    void updateIOForUse();
    std::vector<std::shared_ptr<KWMIDIReceiver>> liveReceivers() const;
    bool hasReceiver(const KWMIDIReceiver* receiver) const;

    std::weak_ptr<KWMIDIManager> manager_;
    std::shared_ptr<rp::MIDIBackend> backend_;
    std::recursive_mutex ioMutex_; // serialises starting, stopping and synchronising
    // Held while a packet list is handed to receivers, so that removing a receiver waits for a
    // delivery already under way; recursive so a receiver may remove itself while it is called.
    std::recursive_mutex deliveryMutex_;
    mutable std::mutex mutex_; // guards the fields below
    uint32_t endpointRef_ = 0;
    uint32_t portRef_ = 0;
    std::string name_;
    std::string displayName_;
    int32_t uniqueID_ = 0;
    bool serviceOffline_ = false;
    bool interApplicationBus_ = false;

private:
    // Runs a write to the service on the endpoint's ref with the manager's notifications held, so
    // our own change is not reported back as a setup change; false when there is no endpoint.
    bool writeToService(const std::function<bool(uint32_t ref)>& write);

    // A user of the endpoint, known by its address and held weakly so it may go away unannounced.
    template <typename T> struct User {
        const T* identity;
        std::weak_ptr<T> object;
    };
    using Receiver = User<KWMIDIReceiver>;
    using Sender = User<const void>;
    std::vector<Receiver> receivers_;
    std::vector<Sender> senders_;
};

// An endpoint of the service with a port of its own (midiPortRef, 0 while I/O is stopped).
class KWMIDIRealEndpoint : public KWMIDIEndpoint {
public:
    uint32_t midiPortRef() const;
    bool ioIsRunning() const override { return midiPortRef() != 0; }

protected:
    using KWMIDIEndpoint::KWMIDIEndpoint;
};

class KWMIDIRealSource final : public KWMIDIRealEndpoint {
public:
    KWMIDIRealSource(const std::shared_ptr<KWMIDIManager>& manager, std::string name, int32_t uniqueID);
    KWMIDIRealSource(const std::shared_ptr<KWMIDIManager>& manager, uint32_t endpointRef);
    ~KWMIDIRealSource() override;

    Kind kind() const override { return Kind::Source; }
    std::string archiveClassName() const override { return "KWMIDIRealSource"; }

    void processMIDIPacketList(const rp::MIDIPacketList& list, const void* sender) override;
    void startIO() override;
    void stopIO() override;
};

class KWMIDIRealDestination final : public KWMIDIRealEndpoint {
public:
    KWMIDIRealDestination(const std::shared_ptr<KWMIDIManager>& manager, std::string name, int32_t uniqueID);
    KWMIDIRealDestination(const std::shared_ptr<KWMIDIManager>& manager, uint32_t endpointRef);
    ~KWMIDIRealDestination() override;

    Kind kind() const override { return Kind::Destination; }
    std::string archiveClassName() const override { return "KWMIDIRealDestination"; }

    void processMIDIPacketList(const rp::MIDIPacketList& list, const void* sender) override;
    void startIO() override;
    void stopIO() override;
};
