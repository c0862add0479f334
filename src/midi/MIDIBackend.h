#pragma once

#include "midi/MIDIPacketList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rp {

// The MIDI service underneath the endpoint layer: a client, the sources and destinations
// other programs and devices offer, input and output ports, and a change notification.
// Implementations: ALSA sequencer, JACK MIDI, an in-process loopback for tests, and none.
//
// Handles (endpoint and port references) are non-zero while the object exists; an endpoint
// that goes away and comes back gets a new handle but the same unique ID.
// Every member may be called from any thread.
class MIDIBackend {
public:
    enum class Kind { Source, Destination };

    // The service's setup-changed message.
    static constexpr int32_t kMessageSetupChanged = 1;

    struct EndpointInfo {
        uint32_t ref = 0;
        std::string name; // the endpoint's own name (a port); may be empty
        std::string deviceName; // the name of its device (a client); may be empty
        int32_t uniqueID = 0;
        bool offline = false;
        int64_t ownerPID = 0; // the publishing process where the service knows it, else 0
        bool interApplicationBus = false; // the device is the service's inter-application bus
        std::vector<int32_t> connectionUniqueIDs; // external objects wired to this endpoint
    };

    // An object found by unique ID: an endpoint (named by the endpoint-name rule) or a device.
    struct ObjectInfo {
        enum class Type { Source, Destination, Device } type;
        std::string name;
        std::string deviceName;
    };

    // Called on a thread of the service with the message ID of each notification.
    using NotifyProc = std::function<void(int32_t messageID)>;
    // Called on the service's input thread with the packets that arrived at an input port.
    using ReadProc = std::function<void(const MIDIPacketList& list)>;

    virtual ~MIDIBackend() = default;

    // "alsa", "jack", "loopback" or "none".
    virtual std::string backendName() const = 0;

    // Creates the client once; returns its non-zero reference, or 0 when the service refuses.
    virtual uint32_t createClient(const std::string& name, NotifyProc notify) = 0;

    virtual std::vector<EndpointInfo> endpoints(Kind kind) = 0;
    virtual std::optional<EndpointInfo> endpointInfo(Kind kind, uint32_t ref);
    virtual std::optional<ObjectInfo> objectWithUniqueID(int32_t uniqueID);

    // Property writes; false where the service does not allow them.
    virtual bool setEndpointName(Kind kind, uint32_t ref, const std::string& name);
    virtual bool setEndpointUniqueID(Kind kind, uint32_t ref, int32_t uniqueID);

    virtual uint32_t createInputPort(const std::string& name, ReadProc read) = 0;
    virtual bool connectSource(uint32_t port, uint32_t sourceRef) = 0;
    virtual void disconnectSource(uint32_t port, uint32_t sourceRef) = 0;
    virtual uint32_t createOutputPort(const std::string& name) = 0;
    // Prepares an output port for sending to a destination (where the service needs a
    // connection first), so that the first packet sent is not held up by it.
    virtual void connectDestination(uint32_t port, uint32_t destinationRef);
    // Hands the packets over for delivery at their time stamps; returns at once.
    virtual bool send(uint32_t port, uint32_t destinationRef, const MIDIPacketList& list) = 0;
    // Closes a port. No read callback of an input port runs after this returns (unless it is
    // called from that callback). Packets already sent through an output port still go out
    // at their time stamps.
    virtual void disposePort(uint32_t port) = 0;

    // Blocks until everything sent so far has gone out, or the timeout passes; true when done.
    virtual bool waitUntilSent(double timeoutSeconds) = 0;
};

// A stable unique ID for an endpoint the service gives no persistent one: FNV-1a over the
// backend, the direction and the full "device:endpoint" name, as a non-zero signed 32-bit value.
int32_t midiStableUniqueID(std::string_view backend, MIDIBackend::Kind kind, std::string_view fullName);

// The backend for a choice: "auto" (JACK when a server is running, else the ALSA sequencer
// when it can be opened, else none), "jack", "alsa", "loopback" or "none". Null for an
// unknown choice or a backend that cannot be opened.
std::shared_ptr<MIDIBackend> makeMIDIBackend(std::string_view choice);

// A service with no endpoints at all; every port request fails.
class NullMIDIBackend final : public MIDIBackend {
public:
    std::string backendName() const override { return "none"; }
    uint32_t createClient(const std::string&, NotifyProc) override { return 1; }
    std::vector<EndpointInfo> endpoints(Kind) override { return {}; }
    uint32_t createInputPort(const std::string&, ReadProc) override { return 0; }
    bool connectSource(uint32_t, uint32_t) override { return false; }
    void disconnectSource(uint32_t, uint32_t) override { }
    uint32_t createOutputPort(const std::string&) override { return 0; }
    bool send(uint32_t, uint32_t, const MIDIPacketList&) override { return false; }
    void disposePort(uint32_t) override { }
    bool waitUntilSent(double) override { return true; }
};

} // namespace rp
