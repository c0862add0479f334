#pragma once

#include "midi/MIDIBackend.h"
#include "midi/MIDIScheduler.h"

#include <alsa/asoundlib.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace rp {

// MIDI through the ALSA sequencer. Readable ports of other clients are sources, writable
// ones destinations (the client is the device, the port the endpoint); the system client,
// this client and clients of this process are skipped. Client and port announcements post
// the setup-changed message. Input arrives on a thread of the backend; output goes out at
// its time stamps from a scheduler thread, as direct events to the destination.
class AlsaMIDIBackend final : public MIDIBackend {
public:
    // Opens the sequencer; null when it cannot be opened (no /dev/snd/seq, for example).
    static std::shared_ptr<AlsaMIDIBackend> open(const std::string& clientName);
    ~AlsaMIDIBackend() override;

    int clientID() const { return clientId_; }

    std::string backendName() const override { return "alsa"; }
    uint32_t createClient(const std::string& name, NotifyProc notify) override;
    std::vector<EndpointInfo> endpoints(Kind kind) override;
    uint32_t createInputPort(const std::string& name, ReadProc read) override;
    bool connectSource(uint32_t port, uint32_t sourceRef) override;
    void disconnectSource(uint32_t port, uint32_t sourceRef) override;
    uint32_t createOutputPort(const std::string& name) override;
    bool send(uint32_t port, uint32_t destinationRef, const MIDIPacketList& list) override;
    void disposePort(uint32_t port) override;
    bool waitUntilSent(double timeoutSeconds) override;

private:
    struct Address {
        Kind kind;
        int client;
        int port;
        std::string fullName;
    };
    struct Port {
        bool input = false;
        int alsaPort = -1;
        ReadProc read;
        bool retiring = false;
    };

    AlsaMIDIBackend(snd_seq_t* seq, int wakeFd);
    void run();
    void emit(uint32_t port, uint32_t destination, std::span<const uint8_t> bytes);
    void reapRetiredLocked();
    std::optional<Address> addressLocked(Kind kind, uint32_t ref) const;

    snd_seq_t* seq_;
    int clientId_ = -1;
    int announcePort_ = -1;
    int wakeFd_;
    mutable std::mutex mutex_; // guards the sequencer handle and everything below
    std::map<uint32_t, Address> known_;
    std::map<uint32_t, Port> ports_;
    uint32_t nextRef_ = 1;
    snd_midi_event_t* encoder_ = nullptr;
    snd_midi_event_t* decoder_ = nullptr;
    NotifyProc notify_;
    bool stopping_ = false;
    uint32_t deliveringPort_ = 0;
    std::condition_variable deliveryDone_;
    std::thread thread_;
    std::unique_ptr<MIDIScheduler> scheduler_;
};

} // namespace rp
