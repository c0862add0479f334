#pragma once

#include "midi/MIDIBackend.h"
#include "midi/MIDIEventRing.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <jack/jack.h>
#include <map>
#include <mutex>
#include <semaphore.h>
#include <set>
#include <thread>

namespace rp {

// MIDI through a running JACK server. Other clients' MIDI output ports are sources and their
// input ports destinations (the client is the device, the port the endpoint); ports of this
// client and of clients in this process are skipped. Port registration, renaming and client
// changes post the setup-changed message. Input is read in the process callback and handed
// to a delivery thread through a lock-free ring; output is queued the same way and written at
// the frame of the cycle whose time covers each packet's stamp. The process callback never
// allocates, locks or logs.
class JackMIDIBackend final : public MIDIBackend {
public:
    // Connects to a running server (never starts one); null when none is running.
    static std::shared_ptr<JackMIDIBackend> open(const std::string& clientName);
    ~JackMIDIBackend() override;

    std::string clientName() const;

    std::string backendName() const override { return "jack"; }
    uint32_t createClient(const std::string& name, NotifyProc notify) override;
    std::vector<EndpointInfo> endpoints(Kind kind) override;
    uint32_t createInputPort(const std::string& name, ReadProc read) override;
    bool connectSource(uint32_t port, uint32_t sourceRef) override;
    void disconnectSource(uint32_t port, uint32_t sourceRef) override;
    uint32_t createOutputPort(const std::string& name) override;
    void connectDestination(uint32_t port, uint32_t destinationRef) override;
    bool send(uint32_t port, uint32_t destinationRef, const MIDIPacketList& list) override;
    void disposePort(uint32_t port) override;
    bool waitUntilSent(double timeoutSeconds) override;

    static constexpr size_t kMaxPorts = 32;
    static constexpr size_t kMaxEventBytes = 256; // longer messages are dropped (and logged)

private:
    struct Event {
        MIDITimeStamp stamp;
        uint16_t slot;
        uint16_t generation;
        uint16_t size;
        uint8_t bytes[kMaxEventBytes];
    };
    // Output events waiting in the process thread for their cycle, ordered by stamp.
    struct Pending {
        static constexpr size_t kCapacity = 1024;
        std::array<Event, kCapacity> events;
        struct Key {
            MIDITimeStamp stamp;
            uint64_t sequence;
            uint16_t index;
        };
        std::array<Key, kCapacity> heap;
        size_t heapSize = 0;
        std::array<uint16_t, kCapacity> freeList;
        size_t freeCount = 0;
        uint64_t nextSequence = 0;
        Pending();
    };
    struct Slot {
        std::atomic<jack_port_t*> port { nullptr }; // what the process callback sees
        std::atomic<bool> output { false };
        // An output port being closed: its buffer is still emptied every cycle (JACK would
        // otherwise deliver the last cycle's events again) but nothing new is written.
        std::atomic<bool> silenced { false };
        std::atomic<uint16_t> generation { 0 };
        std::unique_ptr<MIDIEventRing<Event>> ring; // output only
        std::unique_ptr<Pending> pending; // output only; process thread only
        std::atomic<uint64_t> queued { 0 }; // events pushed (main side)
        std::atomic<uint64_t> done { 0 }; // events written or dropped (process side)
        // Main side, under mutex_:
        jack_port_t* registered = nullptr;
        uint32_t ref = 0;
        ReadProc read;
        bool retiring = false;
        MIDITimeStamp latestStamp = 0;
        MIDITimeStamp retireBy = 0;
    };
    struct KnownPort {
        Kind kind;
        jack_uuid_t uuid;
        std::string fullName;
    };

    explicit JackMIDIBackend(jack_client_t* client);

    static int processCallback(jack_nframes_t frames, void* self);
    static void portRegistrationCallback(jack_port_id_t, int, void* self);
    static void clientRegistrationCallback(const char*, int, void* self);
    static void portRenameCallback(jack_port_id_t, const char*, const char*, void* self);
    static void shutdownCallback(void* self);
    int process(jack_nframes_t frames);
    void postNotification();
    void deliveryLoop();
    void deliverInput();
    void reapRetired(bool force);
    void waitCycles(uint64_t count, double timeoutSeconds);
    void releaseSlotLocked(size_t index);
    Slot* slotForPortLocked(uint32_t port, size_t* index = nullptr);
    std::optional<std::string> fullNameLocked(Kind kind, uint32_t ref);
    bool connectDestinationLocked(Slot& slot, const std::string& destination);
    std::string uniquePortNameLocked(const std::string& base);
    uint32_t registerPortLocked(
        const std::string& name, bool output, const std::function<void(Slot&)>& prepare);
    void refreshOffset();

    jack_client_t* client_;
    mutable std::mutex mutex_;
    std::array<Slot, kMaxPorts> slots_;
    std::map<uint32_t, KnownPort> known_; // endpoint refs handed out
    uint32_t nextRef_ = 1;
    uint32_t nextPortRef_ = 1;
    NotifyProc notify_;
    bool activated_ = false;
    std::atomic<bool> alive_ { true };

    MIDIEventRing<Event> input_ { 512 };
    std::atomic<uint64_t> droppedInput_ { 0 };
    std::atomic<uint64_t> droppedOutput_ { 0 };
    std::atomic<uint64_t> cycles_ { 0 };
    std::atomic<int64_t> offsetNs_ { 0 }; // host time minus JACK time
    sem_t inputReady_;
    std::atomic<bool> stopping_ { false };
    uint32_t deliveringPort_ = 0;
    std::condition_variable deliveryDone_;
    std::thread delivery_;
};

} // namespace rp
