#include "midi/JackMIDIBackend.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <jack/midiport.h>
#include <unistd.h>

namespace rp {

namespace {

void silentJackError(const char*)
{
}

// Clients this process opened: their ports are this process's own. (The server does not
// report the process of a client to other clients.)
// Never destroyed: a backend may close during static destruction.
std::mutex& ownClientsMutex = *new std::mutex;
std::set<std::string>& ownClients = *new std::set<std::string>;

void loggedJackError(const char* message)
{
    rp::logf("JACK: %s", message);
}

bool keyLater(const auto& a, const auto& b)
{
    return a.stamp != b.stamp ? a.stamp > b.stamp : a.sequence > b.sequence;
}

void sleepSeconds(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace

JackMIDIBackend::Pending::Pending()
{
    for (size_t i = 0; i < kCapacity; ++i) {
        freeList[i] = static_cast<uint16_t>(kCapacity - 1 - i);
    }
    freeCount = kCapacity;
}

std::shared_ptr<JackMIDIBackend> JackMIDIBackend::open(const std::string& clientName)
{
    // Probing for a server prints connection failures through the error hook; keep it quiet.
    jack_set_error_function(silentJackError);
    jack_set_info_function(silentJackError);
    jack_status_t status {};
    jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    jack_set_error_function(loggedJackError);
    if (client == nullptr) {
        return nullptr;
    }
    return std::shared_ptr<JackMIDIBackend>(new JackMIDIBackend(client));
}

JackMIDIBackend::JackMIDIBackend(jack_client_t* client)
    : client_(client)
{
    {
        std::lock_guard lock(ownClientsMutex);
        ownClients.insert(jack_get_client_name(client_));
    }
    sem_init(&inputReady_, 0, 0);
    refreshOffset();
    jack_set_process_callback(client_, processCallback, this);
    jack_set_port_registration_callback(client_, portRegistrationCallback, this);
    jack_set_client_registration_callback(client_, clientRegistrationCallback, this);
    jack_set_port_rename_callback(client_, portRenameCallback, this);
    jack_on_shutdown(client_, shutdownCallback, this);
    delivery_ = std::thread([this] { deliveryLoop(); });
}

JackMIDIBackend::~JackMIDIBackend()
{
    // Let packets already handed over go out (bounded), then close.
    waitUntilSent(2.0);
    stopping_ = true;
    sem_post(&inputReady_);
    delivery_.join();
    {
        std::lock_guard lock(mutex_);
        // Output buffers are emptied for a cycle or two before the callback lets go of the ports:
        // a buffer left as it was would send its last events again until the client is gone.
        for (auto& slot : slots_) {
            slot.silenced.store(true, std::memory_order_release);
        }
        if (activated_) {
            waitCycles(2, 0.5);
        }
        for (auto& slot : slots_) {
            slot.port.store(nullptr, std::memory_order_release);
        }
    }
    if (activated_) {
        jack_deactivate(client_);
    }
    {
        std::lock_guard lock(ownClientsMutex);
        ownClients.erase(jack_get_client_name(client_));
    }
    jack_client_close(client_);
    sem_destroy(&inputReady_);
}

std::string JackMIDIBackend::clientName() const
{
    return jack_get_client_name(client_);
}

void JackMIDIBackend::refreshOffset()
{
    const MIDITimeStamp host = hostTimeNow();
    const jack_time_t jackTime = jack_get_time();
    offsetNs_.store(
        static_cast<int64_t>(host) - static_cast<int64_t>(jackTime) * 1000, std::memory_order_relaxed);
}

uint32_t JackMIDIBackend::createClient(const std::string&, NotifyProc notify)
{
    std::lock_guard lock(mutex_);
    if (activated_) {
        return 0;
    }
    notify_ = std::move(notify); // set before activation; callbacks only read it afterwards
    if (const int status = jack_activate(client_); status != 0) {
        rp::logf("JackMIDIBackend: error %d trying to activate the client", status);
        return 0;
    }
    activated_ = true;
    return 1;
}

void JackMIDIBackend::postNotification()
{
    if (notify_ && !stopping_) {
        notify_(kMessageSetupChanged);
    }
}

void JackMIDIBackend::portRegistrationCallback(jack_port_id_t, int, void* self)
{
    static_cast<JackMIDIBackend*>(self)->postNotification();
}

void JackMIDIBackend::clientRegistrationCallback(const char*, int, void* self)
{
    static_cast<JackMIDIBackend*>(self)->postNotification();
}

void JackMIDIBackend::portRenameCallback(jack_port_id_t, const char*, const char*, void* self)
{
    static_cast<JackMIDIBackend*>(self)->postNotification();
}

void JackMIDIBackend::shutdownCallback(void* self)
{
    auto* backend = static_cast<JackMIDIBackend*>(self);
    backend->alive_ = false;
    sem_post(&backend->inputReady_);
    backend->postNotification();
}

int JackMIDIBackend::processCallback(jack_nframes_t frames, void* self)
{
    return static_cast<JackMIDIBackend*>(self)->process(frames);
}

// Real-time thread: no allocation, no locks, no logging.
int JackMIDIBackend::process(jack_nframes_t frames)
{
    jack_nframes_t currentFrames = 0;
    jack_time_t currentUsecs = 0;
    jack_time_t nextUsecs = 0;
    float periodUsecs = 0;
    if (jack_get_cycle_times(client_, &currentFrames, &currentUsecs, &nextUsecs, &periodUsecs) != 0
        || nextUsecs <= currentUsecs) {
        currentUsecs = jack_get_time();
        nextUsecs = currentUsecs + 1;
    }
    const int64_t offset = offsetNs_.load(std::memory_order_relaxed);
    const int64_t start = static_cast<int64_t>(currentUsecs) * 1000 + offset;
    const int64_t end = static_cast<int64_t>(nextUsecs) * 1000 + offset;
    const int64_t span = std::max<int64_t>(1, end - start);
    bool gotInput = false;

    for (size_t index = 0; index < kMaxPorts; ++index) {
        Slot& slot = slots_[index];
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (port == nullptr) {
            continue;
        }
        void* buffer = jack_port_get_buffer(port, frames);
        if (!slot.output.load(std::memory_order_relaxed)) {
            const uint16_t generation = slot.generation.load(std::memory_order_relaxed);
            const jack_nframes_t count = jack_midi_get_event_count(buffer);
            for (jack_nframes_t i = 0; i < count; ++i) {
                jack_midi_event_t in;
                if (jack_midi_event_get(&in, buffer, i) != 0) {
                    continue;
                }
                if (in.size == 0 || in.size > kMaxEventBytes) {
                    droppedInput_.fetch_add(1, std::memory_order_relaxed);
                    continue;
                }
                Event event;
                event.stamp = static_cast<MIDITimeStamp>(std::max<int64_t>(
                    1, start + static_cast<int64_t>(in.time) * span / std::max<jack_nframes_t>(frames, 1)));
                event.slot = static_cast<uint16_t>(index);
                event.generation = generation;
                event.size = static_cast<uint16_t>(in.size);
                std::memcpy(event.bytes, in.buffer, in.size);
                if (input_.push(event)) {
                    gotInput = true;
                } else {
                    droppedInput_.fetch_add(1, std::memory_order_relaxed);
                }
            }
            continue;
        }

        jack_midi_clear_buffer(buffer);
        if (slot.silenced.load(std::memory_order_acquire)) {
            continue;
        }
        Pending& pending = *slot.pending;
        while (pending.freeCount > 0) {
            const Event* next = slot.ring->front();
            if (next == nullptr) {
                break;
            }
            const uint16_t at = pending.freeList[--pending.freeCount];
            pending.events[at] = *next;
            slot.ring->popFront();
            pending.heap[pending.heapSize++] = Pending::Key { next->stamp, pending.nextSequence++, at };
            std::push_heap(pending.heap.begin(),
                pending.heap.begin() + static_cast<std::ptrdiff_t>(pending.heapSize),
                [](const Pending::Key& a, const Pending::Key& b) { return keyLater(a, b); });
        }
        jack_nframes_t lastFrame = 0;
        while (pending.heapSize > 0 && static_cast<int64_t>(pending.heap[0].stamp) < end) {
            std::pop_heap(pending.heap.begin(),
                pending.heap.begin() + static_cast<std::ptrdiff_t>(pending.heapSize),
                [](const Pending::Key& a, const Pending::Key& b) { return keyLater(a, b); });
            const Pending::Key key = pending.heap[--pending.heapSize];
            const Event& event = pending.events[key.index];
            const int64_t stamp = static_cast<int64_t>(event.stamp);
            jack_nframes_t frame
                = stamp <= start ? 0 : static_cast<jack_nframes_t>((stamp - start) * frames / span);
            frame = std::clamp<jack_nframes_t>(frame, lastFrame, frames > 0 ? frames - 1 : 0);
            if (jack_midi_event_write(buffer, frame, event.bytes, event.size) == 0) {
                lastFrame = frame;
            } else {
                droppedOutput_.fetch_add(1, std::memory_order_relaxed);
            }
            pending.freeList[pending.freeCount++] = key.index;
            slot.done.fetch_add(1, std::memory_order_release);
        }
    }
    if (gotInput) {
        sem_post(&inputReady_);
    }
    cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackMIDIBackend::waitCycles(uint64_t count, double timeoutSeconds)
{
    const uint64_t target = cycles_.load(std::memory_order_acquire) + count;
    const MIDITimeStamp deadline = hostTimeNow() + hostTimeFromSeconds(timeoutSeconds);
    while (cycles_.load(std::memory_order_acquire) < target && alive_ && hostTimeNow() < deadline) {
        sleepSeconds(0.0005);
    }
}

void JackMIDIBackend::deliveryLoop()
{
    while (!stopping_) {
        timespec deadline {};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += 50'000'000;
        if (deadline.tv_nsec >= 1'000'000'000) {
            deadline.tv_nsec -= 1'000'000'000;
            ++deadline.tv_sec;
        }
        sem_timedwait(&inputReady_, &deadline);
        if (stopping_) {
            break;
        }
        refreshOffset();
        deliverInput();
        reapRetired(false);
        if (const uint64_t dropped = droppedInput_.exchange(0); dropped > 0) {
            rp::logf("JackMIDIBackend: %llu incoming MIDI events dropped",
                static_cast<unsigned long long>(dropped));
        }
        if (const uint64_t dropped = droppedOutput_.exchange(0); dropped > 0) {
            rp::logf("JackMIDIBackend: %llu outgoing MIDI events dropped",
                static_cast<unsigned long long>(dropped));
        }
    }
}

void JackMIDIBackend::deliverInput()
{
    MIDIPacketList list(65536);
    int currentSlot = -1;
    uint16_t currentGeneration = 0;
    auto flush = [&] {
        if (list.empty()) {
            return;
        }
        std::unique_lock lock(mutex_);
        Slot& slot = slots_[static_cast<size_t>(currentSlot)];
        if (slot.registered != nullptr && !slot.output && slot.read
            && slot.generation.load(std::memory_order_relaxed) == currentGeneration) {
            ReadProc read = slot.read;
            deliveringPort_ = slot.ref;
            lock.unlock();
            read(list);
            lock.lock();
            deliveringPort_ = 0;
            deliveryDone_.notify_all();
        }
        list.clear();
    };
    Event event;
    while (input_.pop(event)) {
        if (event.slot != currentSlot || event.generation != currentGeneration) {
            flush();
            currentSlot = event.slot;
            currentGeneration = event.generation;
        }
        const std::span<const uint8_t> bytes(event.bytes, event.size);
        if (!list.add(event.stamp, bytes)) {
            flush();
            list.add(event.stamp, bytes);
        }
    }
    flush();
}

void JackMIDIBackend::releaseSlotLocked(size_t index)
{
    Slot& slot = slots_[index];
    if (slot.output.load(std::memory_order_relaxed)) {
        // First an empty buffer for a cycle or two, so that the last events are not sent again
        // once the process callback stops looking at the port.
        slot.silenced.store(true, std::memory_order_release);
        waitCycles(2, 0.5);
    }
    slot.port.store(nullptr, std::memory_order_release);
    // Two cycles later the process callback no longer touches the port.
    waitCycles(2, 0.5);
    slot.silenced.store(false, std::memory_order_relaxed);
    if (alive_ && slot.registered != nullptr) {
        jack_port_unregister(client_, slot.registered);
    }
    slot.registered = nullptr;
    slot.ref = 0;
    slot.read = nullptr;
    slot.retiring = false;
    slot.ring.reset();
    slot.pending.reset();
}

void JackMIDIBackend::reapRetired(bool force)
{
    std::lock_guard lock(mutex_);
    const MIDITimeStamp now = hostTimeNow();
    for (size_t i = 0; i < kMaxPorts; ++i) {
        Slot& slot = slots_[i];
        if (!slot.retiring) {
            continue;
        }
        const bool drained
            = slot.done.load(std::memory_order_acquire) >= slot.queued.load(std::memory_order_relaxed);
        if (force || drained || now > slot.retireBy || !alive_) {
            releaseSlotLocked(i);
        }
    }
}

JackMIDIBackend::Slot* JackMIDIBackend::slotForPortLocked(uint32_t port, size_t* index)
{
    for (size_t i = 0; i < kMaxPorts; ++i) {
        if (port != 0 && slots_[i].ref == port && slots_[i].registered != nullptr && !slots_[i].retiring) {
            if (index != nullptr) {
                *index = i;
            }
            return &slots_[i];
        }
    }
    return nullptr;
}

std::optional<std::string> JackMIDIBackend::fullNameLocked(Kind kind, uint32_t ref)
{
    const auto found = known_.find(ref);
    if (found == known_.end() || found->second.kind != kind) {
        return std::nullopt;
    }
    // The port may have been renamed since the last listing; find it again by its UUID.
    jack_port_t* port = jack_port_by_name(client_, found->second.fullName.c_str());
    if (port == nullptr || jack_port_uuid(port) != found->second.uuid) {
        return std::nullopt;
    }
    return found->second.fullName;
}

std::string JackMIDIBackend::uniquePortNameLocked(const std::string& base)
{
    const std::string client = jack_get_client_name(client_);
    for (int n = 1; n < 1000; ++n) {
        std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        if (jack_port_by_name(client_, (client + ":" + candidate).c_str()) == nullptr) {
            return candidate;
        }
    }
    return base;
}

std::vector<MIDIBackend::EndpointInfo> JackMIDIBackend::endpoints(Kind kind)
{
    std::lock_guard lock(mutex_);
    std::vector<EndpointInfo> result;
    if (!alive_) {
        return result;
    }
    const unsigned long flags = kind == Kind::Source ? JackPortIsOutput : JackPortIsInput;
    const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    std::set<std::string> ownNames;
    {
        std::lock_guard ownLock(ownClientsMutex);
        ownNames = ownClients;
    }
    std::set<uint32_t> seen;
    for (size_t i = 0; names != nullptr && names[i] != nullptr; ++i) {
        jack_port_t* port = jack_port_by_name(client_, names[i]);
        if (port == nullptr || jack_port_is_mine(client_, port)) {
            continue;
        }
        const std::string fullName = names[i];
        const size_t colon = fullName.find(':');
        EndpointInfo info;
        info.deviceName = colon == std::string::npos ? std::string() : fullName.substr(0, colon);
        info.name = colon == std::string::npos ? fullName : fullName.substr(colon + 1);
        info.uniqueID = midiStableUniqueID("jack", kind, fullName);
        info.ownerPID = ownNames.contains(info.deviceName) ? getpid() : 0;
        const jack_uuid_t uuid = jack_port_uuid(port);
        uint32_t ref = 0;
        for (auto& [knownRef, known] : known_) {
            if (known.kind == kind && known.uuid == uuid) {
                ref = knownRef;
                known.fullName = fullName;
                break;
            }
        }
        if (ref == 0) {
            ref = nextRef_++;
            known_[ref] = KnownPort { kind, uuid, fullName };
        }
        info.ref = ref;
        seen.insert(ref);
        result.push_back(std::move(info));
    }
    jack_free(names);
    std::erase_if(
        known_, [&](const auto& entry) { return entry.second.kind == kind && !seen.contains(entry.first); });
    return result;
}

uint32_t JackMIDIBackend::createInputPort(const std::string& name, ReadProc read)
{
    std::lock_guard lock(mutex_);
    return registerPortLocked(name, false, [&](Slot& slot) { slot.read = std::move(read); });
}

uint32_t JackMIDIBackend::createOutputPort(const std::string& name)
{
    std::lock_guard lock(mutex_);
    return registerPortLocked(name, true, [](Slot& slot) {
        slot.ring = std::make_unique<MIDIEventRing<Event>>(1024);
        slot.pending = std::make_unique<Pending>();
        slot.queued.store(0, std::memory_order_relaxed);
        slot.done.store(0, std::memory_order_relaxed);
        slot.latestStamp = 0;
    });
}

// Registers a JACK port in the first free slot. `prepare` sets up the direction's own state before
// the port is published, last and with release order, to the process callback.
uint32_t JackMIDIBackend::registerPortLocked(
    const std::string& name, bool output, const std::function<void(Slot&)>& prepare)
{
    for (size_t i = 0; i < kMaxPorts; ++i) {
        Slot& slot = slots_[i];
        if (slot.registered != nullptr || slot.retiring) {
            continue;
        }
        const std::string portName = uniquePortNameLocked(name);
        jack_port_t* port = jack_port_register(client_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
            output ? JackPortIsOutput : JackPortIsInput, 0);
        if (port == nullptr) {
            rp::logf("JackMIDIBackend: could not register %s port %s", output ? "output" : "input",
                portName.c_str());
            return 0;
        }
        prepare(slot);
        slot.registered = port;
        slot.ref = nextPortRef_++;
        slot.output.store(output, std::memory_order_relaxed);
        slot.generation.fetch_add(1, std::memory_order_relaxed);
        slot.port.store(port, std::memory_order_release);
        return slot.ref;
    }
    rp::logf("JackMIDIBackend: no free port for %s", name.c_str());
    return 0;
}

bool JackMIDIBackend::connectSource(uint32_t port, uint32_t sourceRef)
{
    std::lock_guard lock(mutex_);
    Slot* slot = slotForPortLocked(port);
    const auto source = fullNameLocked(Kind::Source, sourceRef);
    if (slot == nullptr || slot->output || !source || !alive_) {
        return false;
    }
    const int status = jack_connect(client_, source->c_str(), jack_port_name(slot->registered));
    if (status != 0 && status != EEXIST) {
        rp::logf("JackMIDIBackend: error %d trying to connect %s", status, source->c_str());
        return false;
    }
    return true;
}

void JackMIDIBackend::disconnectSource(uint32_t port, uint32_t sourceRef)
{
    std::lock_guard lock(mutex_);
    Slot* slot = slotForPortLocked(port);
    const auto source = fullNameLocked(Kind::Source, sourceRef);
    if (slot != nullptr && source && alive_) {
        jack_disconnect(client_, source->c_str(), jack_port_name(slot->registered));
    }
}

bool JackMIDIBackend::connectDestinationLocked(Slot& slot, const std::string& destination)
{
    if (jack_port_connected_to(slot.registered, destination.c_str())) {
        return true;
    }
    const int status = jack_connect(client_, jack_port_name(slot.registered), destination.c_str());
    if (status != 0 && status != EEXIST) {
        rp::logf("JackMIDIBackend: error %d trying to connect to %s", status, destination.c_str());
        return false;
    }
    waitCycles(2, 0.2); // let the new connection reach the graph before the first event
    return true;
}

void JackMIDIBackend::connectDestination(uint32_t port, uint32_t destinationRef)
{
    std::lock_guard lock(mutex_);
    Slot* slot = slotForPortLocked(port);
    const auto destination = fullNameLocked(Kind::Destination, destinationRef);
    if (slot != nullptr && slot->output && destination && alive_) {
        connectDestinationLocked(*slot, *destination);
    }
}

bool JackMIDIBackend::send(uint32_t port, uint32_t destinationRef, const MIDIPacketList& list)
{
    std::lock_guard lock(mutex_);
    size_t index = 0;
    Slot* slot = slotForPortLocked(port, &index);
    const auto destination = fullNameLocked(Kind::Destination, destinationRef);
    if (slot == nullptr || !slot->output || !destination || !alive_) {
        return false;
    }
    if (!connectDestinationLocked(*slot, *destination)) {
        return false;
    }
    size_t tooLong = 0;
    size_t full = 0;
    for (const MIDIPacket packet : list) {
        forEachMIDIMessage(packet.data, [&](std::span<const uint8_t> message) {
            if (message.size() > kMaxEventBytes) {
                ++tooLong;
                return;
            }
            Event event;
            event.stamp = packet.timeStamp;
            event.slot = static_cast<uint16_t>(index);
            event.generation = 0;
            event.size = static_cast<uint16_t>(message.size());
            std::memcpy(event.bytes, message.data(), message.size());
            slot->queued.fetch_add(1, std::memory_order_relaxed);
            if (!slot->ring->push(event)) {
                slot->queued.fetch_sub(1, std::memory_order_relaxed);
                ++full;
                return;
            }
            slot->latestStamp = std::max(slot->latestStamp, packet.timeStamp);
        });
    }
    if (tooLong > 0) {
        rp::logf(
            "JackMIDIBackend: %zu MIDI messages longer than %zu bytes not sent", tooLong, kMaxEventBytes);
    }
    if (full > 0) {
        rp::logf("JackMIDIBackend: output queue full, %zu MIDI messages not sent", full);
    }
    return tooLong == 0 && full == 0;
}

void JackMIDIBackend::disposePort(uint32_t port)
{
    std::unique_lock lock(mutex_);
    size_t index = 0;
    Slot* slot = slotForPortLocked(port, &index);
    if (slot == nullptr) {
        return;
    }
    if (slot->output) {
        const bool drained
            = slot->done.load(std::memory_order_acquire) >= slot->queued.load(std::memory_order_relaxed);
        if (!drained && alive_) {
            // Packets already sent still go out at their stamps; the port closes afterwards.
            slot->retiring = true;
            slot->retireBy = std::max(hostTimeNow(), slot->latestStamp) + hostTimeFromSeconds(0.5);
            return;
        }
        releaseSlotLocked(index);
        return;
    }
    slot->port.store(nullptr, std::memory_order_release);
    slot->read = nullptr;
    if (std::this_thread::get_id() != delivery_.get_id()) {
        deliveryDone_.wait(lock, [&] { return deliveringPort_ != port; });
    }
    releaseSlotLocked(index);
}

bool JackMIDIBackend::waitUntilSent(double timeoutSeconds)
{
    const MIDITimeStamp deadline = hostTimeNow() + hostTimeFromSeconds(timeoutSeconds);
    while (true) {
        bool drained = true;
        {
            std::lock_guard lock(mutex_);
            for (const Slot& slot : slots_) {
                if (slot.registered != nullptr && slot.output
                    && slot.done.load(std::memory_order_acquire)
                        < slot.queued.load(std::memory_order_relaxed)) {
                    drained = false;
                }
            }
        }
        if (drained) {
            return true;
        }
        if (hostTimeNow() >= deadline || !alive_) {
            return false;
        }
        sleepSeconds(0.001);
    }
}

} // namespace rp
