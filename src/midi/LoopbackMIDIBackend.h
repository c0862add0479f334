#pragma once

#include "midi/MIDIBackend.h"
#include "midi/MIDIScheduler.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace rp {

// An in-process MIDI service that tests drive: they plug and unplug sources and
// destinations, change their properties, push packets out of a source and read what
// arrived at a destination. Input and notifications are delivered on the backend's own
// thread; output goes out at its time stamps from a scheduler thread.
class LoopbackMIDIBackend final : public MIDIBackend {
public:
    struct EndpointSpec {
        std::string deviceName;
        std::string name;
        int32_t uniqueID = 0; // 0: derived from the names like the other backends do
        bool offline = false;
        int64_t ownerPID = 0;
        bool interApplicationBus = false;
        std::vector<int32_t> connectionUniqueIDs;
    };
    struct Delivery {
        MIDITimeStamp stamp = 0; // the packet's time stamp
        MIDITimeStamp deliveredAt = 0; // host time it went out
        std::vector<uint8_t> bytes;
        uint32_t port = 0;
    };
    struct PortState {
        std::string name;
        bool input = false;
        std::set<uint32_t> connectedSources;
    };

    LoopbackMIDIBackend();
    ~LoopbackMIDIBackend() override;

    // Simulated devices. Each change posts the setup-changed message.
    uint32_t plug(Kind kind, EndpointSpec endpoint);
    bool unplug(Kind kind, uint32_t ref);
    bool change(Kind kind, uint32_t ref, EndpointSpec endpoint);
    void addDevice(int32_t uniqueID, std::string name);
    std::optional<EndpointSpec> pluggedEndpoint(Kind kind, uint32_t ref) const;

    // Packets coming out of a source; false when the source is not plugged in.
    bool inject(uint32_t sourceRef, const MIDIPacketList& list);
    // What reached destinations with that unique ID, across unplugging and replugging.
    std::vector<Delivery> deliveries(int32_t destinationUniqueID) const;
    void clearDeliveries();

    std::map<uint32_t, PortState> openPorts() const;
    int notificationsPosted() const;
    // Waits until every queued input list and notification has been handed over.
    void waitUntilQuiet();

    std::string backendName() const override { return "loopback"; }
    uint32_t createClient(const std::string& name, NotifyProc notify) override;
    std::vector<EndpointInfo> endpoints(Kind kind) override;
    std::optional<ObjectInfo> objectWithUniqueID(int32_t uniqueID) override;
    bool setEndpointName(Kind kind, uint32_t ref, const std::string& name) override;
    bool setEndpointUniqueID(Kind kind, uint32_t ref, int32_t uniqueID) override;
    uint32_t createInputPort(const std::string& name, ReadProc read) override;
    bool connectSource(uint32_t port, uint32_t sourceRef) override;
    void disconnectSource(uint32_t port, uint32_t sourceRef) override;
    uint32_t createOutputPort(const std::string& name) override;
    bool send(uint32_t port, uint32_t destinationRef, const MIDIPacketList& list) override;
    void disposePort(uint32_t port) override;
    bool waitUntilSent(double timeoutSeconds) override;

private:
    struct Work {
        uint32_t source = 0; // 0: a notification
        MIDIPacketList list;
    };
    struct Port {
        PortState state;
        ReadProc read;
    };

    std::map<uint32_t, EndpointSpec>& table(Kind kind)
    {
        return kind == Kind::Source ? sources_ : destinations_;
    }
    const std::map<uint32_t, EndpointSpec>& table(Kind kind) const
    {
        return kind == Kind::Source ? sources_ : destinations_;
    }
    EndpointInfo infoFor(Kind kind, uint32_t ref, const EndpointSpec& endpoint) const;
    void postNotificationLocked();
    void run();
    void emit(uint32_t port, uint32_t destination, MIDITimeStamp stamp, std::span<const uint8_t> bytes);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable quiet_;
    std::map<uint32_t, EndpointSpec> sources_;
    std::map<uint32_t, EndpointSpec> destinations_;
    std::map<int32_t, std::string> devices_;
    std::map<uint32_t, Port> ports_;
    std::map<int32_t, std::vector<Delivery>> deliveries_;
    std::deque<Work> work_;
    NotifyProc notify_;
    uint32_t nextRef_ = 1;
    int notifications_ = 0;
    bool busy_ = false;
    uint32_t deliveringPort_ = 0;
    std::condition_variable deliveryDone_;
    bool stopping_ = false;
    std::thread worker_;
    MIDIScheduler scheduler_;
};

} // namespace rp
