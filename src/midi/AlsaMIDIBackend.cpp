#include "midi/AlsaMIDIBackend.h"

#include "foundation/Logger.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace rp {

namespace {

void quietAlsaError(const char*, int, const char*, int, const char*, ...)
{
}

constexpr long kCodecBufferBytes = 4096;

} // namespace

std::shared_ptr<AlsaMIDIBackend> AlsaMIDIBackend::open(const std::string& clientName)
{
    snd_lib_error_set_handler(quietAlsaError);
    snd_seq_t* seq = nullptr;
    const int status = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    snd_lib_error_set_handler(nullptr);
    if (status < 0 || seq == nullptr) {
        return nullptr;
    }
    snd_seq_set_client_name(seq, clientName.c_str());
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        snd_seq_close(seq);
        return nullptr;
    }
    return std::shared_ptr<AlsaMIDIBackend>(new AlsaMIDIBackend(seq, wakeFd));
}

AlsaMIDIBackend::AlsaMIDIBackend(snd_seq_t* seq, int wakeFd)
    : seq_(seq)
    , wakeFd_(wakeFd)
{
    clientId_ = snd_seq_client_id(seq_);
    snd_midi_event_new(kCodecBufferBytes, &encoder_);
    snd_midi_event_new(kCodecBufferBytes, &decoder_);
    if (decoder_ != nullptr) {
        snd_midi_event_no_status(decoder_, 1); // every message with its status byte
    }
    // Announcements of clients and ports arriving, leaving and changing.
    announcePort_ = snd_seq_create_simple_port(seq_, "KWMIDIManager",
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, SND_SEQ_PORT_TYPE_APPLICATION);
    if (announcePort_ >= 0) {
        snd_seq_connect_from(seq_, announcePort_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    }
    scheduler_ = std::make_unique<MIDIScheduler>(
        [this](uint32_t port, uint32_t destination, MIDITimeStamp, std::span<const uint8_t> bytes) {
            emit(port, destination, bytes);
        });
    thread_ = std::thread([this] { run(); });
}

AlsaMIDIBackend::~AlsaMIDIBackend()
{
    scheduler_->waitUntilIdle(2.0);
    scheduler_.reset();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
    thread_.join();
    close(wakeFd_);
    if (encoder_ != nullptr) {
        snd_midi_event_free(encoder_);
    }
    if (decoder_ != nullptr) {
        snd_midi_event_free(decoder_);
    }
    snd_seq_close(seq_);
}

uint32_t AlsaMIDIBackend::createClient(const std::string& name, NotifyProc notify)
{
    std::lock_guard lock(mutex_);
    snd_seq_set_client_name(seq_, name.c_str());
    notify_ = std::move(notify);
    return static_cast<uint32_t>(clientId_) + 1;
}

std::vector<MIDIBackend::EndpointInfo> AlsaMIDIBackend::endpoints(Kind kind)
{
    std::lock_guard lock(mutex_);
    std::vector<EndpointInfo> result;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    if (snd_seq_client_info_malloc(&client) < 0 || snd_seq_port_info_malloc(&port) < 0) {
        snd_seq_client_info_free(client);
        return result;
    }
    const unsigned int needed = kind == Kind::Source ? (SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ)
                                                     : (SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    std::set<uint32_t> seen;
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
        const int clientId = snd_seq_client_info_get_client(client);
        if (clientId == SND_SEQ_CLIENT_SYSTEM || clientId == clientId_) {
            continue;
        }
        const std::string clientName = snd_seq_client_info_get_name(client);
        const int pid = snd_seq_client_info_get_pid(client);
        snd_seq_port_info_set_client(port, clientId);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq_, port) >= 0) {
            const unsigned int caps = snd_seq_port_info_get_capability(port);
            if ((caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0 || (caps & needed) != needed) {
                continue;
            }
            const int portId = snd_seq_port_info_get_port(port);
            EndpointInfo info;
            info.deviceName = clientName;
            info.name = snd_seq_port_info_get_name(port);
            const std::string fullName = clientName + ":" + info.name;
            info.uniqueID = midiStableUniqueID("alsa", kind, fullName);
            info.ownerPID = pid > 0 ? pid : 0;
            info.interApplicationBus = clientName == "Midi Through";
            // A handle stands for one port at one address; a new port there gets a new handle.
            uint32_t ref = 0;
            for (const auto& [knownRef, address] : known_) {
                if (address.kind == kind && address.client == clientId && address.port == portId
                    && address.fullName == fullName) {
                    ref = knownRef;
                    break;
                }
            }
            if (ref == 0) {
                ref = nextRef_++;
                known_[ref] = Address { kind, clientId, portId, fullName };
            }
            info.ref = ref;
            seen.insert(ref);
            result.push_back(std::move(info));
        }
    }
    snd_seq_port_info_free(port);
    snd_seq_client_info_free(client);
    std::erase_if(
        known_, [&](const auto& entry) { return entry.second.kind == kind && !seen.contains(entry.first); });
    return result;
}

std::optional<AlsaMIDIBackend::Address> AlsaMIDIBackend::addressLocked(Kind kind, uint32_t ref) const
{
    const auto found = known_.find(ref);
    if (found == known_.end() || found->second.kind != kind) {
        return std::nullopt;
    }
    return found->second;
}

uint32_t AlsaMIDIBackend::createInputPort(const std::string& name, ReadProc read)
{
    std::lock_guard lock(mutex_);
    const int alsaPort = snd_seq_create_simple_port(seq_, name.c_str(),
        SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (alsaPort < 0) {
        rp::logf("AlsaMIDIBackend: error %d trying to create an input port", alsaPort);
        return 0;
    }
    const uint32_t id = nextRef_++;
    ports_[id] = Port { true, alsaPort, std::move(read), false };
    return id;
}

uint32_t AlsaMIDIBackend::createOutputPort(const std::string& name)
{
    std::lock_guard lock(mutex_);
    const int alsaPort
        = snd_seq_create_simple_port(seq_, name.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_NO_EXPORT,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (alsaPort < 0) {
        rp::logf("AlsaMIDIBackend: error %d trying to create an output port", alsaPort);
        return 0;
    }
    const uint32_t id = nextRef_++;
    ports_[id] = Port { false, alsaPort, {}, false };
    return id;
}

bool AlsaMIDIBackend::connectSource(uint32_t port, uint32_t sourceRef)
{
    std::lock_guard lock(mutex_);
    const auto found = ports_.find(port);
    const auto source = addressLocked(Kind::Source, sourceRef);
    if (found == ports_.end() || !found->second.input || !source) {
        return false;
    }
    const int status = snd_seq_connect_from(seq_, found->second.alsaPort, source->client, source->port);
    if (status < 0 && status != -EBUSY) {
        rp::logf("AlsaMIDIBackend: error %d trying to connect %d:%d", status, source->client, source->port);
        return false;
    }
    return true;
}

void AlsaMIDIBackend::disconnectSource(uint32_t port, uint32_t sourceRef)
{
    std::lock_guard lock(mutex_);
    const auto found = ports_.find(port);
    const auto source = addressLocked(Kind::Source, sourceRef);
    if (found != ports_.end() && source) {
        snd_seq_disconnect_from(seq_, found->second.alsaPort, source->client, source->port);
    }
}

bool AlsaMIDIBackend::send(uint32_t port, uint32_t destinationRef, const MIDIPacketList& list)
{
    {
        std::lock_guard lock(mutex_);
        const auto found = ports_.find(port);
        if (found == ports_.end() || found->second.input || found->second.retiring
            || !addressLocked(Kind::Destination, destinationRef)) {
            return false;
        }
    }
    scheduler_->schedule(port, destinationRef, list);
    return true;
}

void AlsaMIDIBackend::emit(uint32_t port, uint32_t destination, std::span<const uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    const auto found = ports_.find(port);
    const auto target = addressLocked(Kind::Destination, destination);
    if (found == ports_.end() || !target || encoder_ == nullptr) {
        return;
    }
    forEachMIDIMessage(bytes, [&](std::span<const uint8_t> message) {
        snd_midi_event_reset_encode(encoder_);
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const long used
            = snd_midi_event_encode(encoder_, message.data(), static_cast<long>(message.size()), &event);
        if (used <= 0 || event.type == SND_SEQ_EVENT_NONE) {
            return;
        }
        snd_seq_ev_set_source(&event, static_cast<unsigned char>(found->second.alsaPort));
        snd_seq_ev_set_dest(
            &event, static_cast<unsigned char>(target->client), static_cast<unsigned char>(target->port));
        snd_seq_ev_set_direct(&event);
        if (const int status = snd_seq_event_output_direct(seq_, &event); status < 0) {
            rp::logf(
                "AlsaMIDIBackend: error %d trying to send to %d:%d", status, target->client, target->port);
        }
    });
}

void AlsaMIDIBackend::disposePort(uint32_t port)
{
    std::unique_lock lock(mutex_);
    auto found = ports_.find(port);
    if (found == ports_.end()) {
        return;
    }
    if (!found->second.input && scheduler_->pendingForPort(port) > 0) {
        found->second.retiring = true; // closed once what it sent has gone out
        return;
    }
    snd_seq_delete_simple_port(seq_, found->second.alsaPort);
    ports_.erase(found);
    if (std::this_thread::get_id() != thread_.get_id()) {
        deliveryDone_.wait(lock, [&] { return deliveringPort_ != port; });
    }
}

void AlsaMIDIBackend::reapRetiredLocked()
{
    for (auto it = ports_.begin(); it != ports_.end();) {
        if (it->second.retiring && scheduler_->pendingForPort(it->first) == 0) {
            snd_seq_delete_simple_port(seq_, it->second.alsaPort);
            it = ports_.erase(it);
        } else {
            ++it;
        }
    }
}

bool AlsaMIDIBackend::waitUntilSent(double timeoutSeconds)
{
    return scheduler_->waitUntilIdle(timeoutSeconds);
}

void AlsaMIDIBackend::run()
{
    std::vector<pollfd> fds;
    {
        std::lock_guard lock(mutex_);
        const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
        fds.resize(static_cast<size_t>(std::max(count, 0)) + 1);
        snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned int>(count), POLLIN);
        fds.back() = pollfd { wakeFd_, POLLIN, 0 };
    }
    std::vector<uint8_t> bytes(kCodecBufferBytes);
    while (true) {
        poll(fds.data(), fds.size(), 100);
        bool changed = false;
        std::map<uint32_t, MIDIPacketList> arrived;
        NotifyProc notify;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            reapRetiredLocked();
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(seq_, &event) >= 0 && event != nullptr) {
                if (event->dest.port == announcePort_) {
                    switch (event->type) {
                    case SND_SEQ_EVENT_CLIENT_START:
                    case SND_SEQ_EVENT_CLIENT_EXIT:
                    case SND_SEQ_EVENT_CLIENT_CHANGE:
                    case SND_SEQ_EVENT_PORT_START:
                    case SND_SEQ_EVENT_PORT_EXIT:
                    case SND_SEQ_EVENT_PORT_CHANGE:
                        changed = true;
                        break;
                    default:
                        break;
                    }
                    continue;
                }
                uint32_t target = 0;
                for (const auto& [id, port] : ports_) {
                    if (port.input && port.alsaPort == event->dest.port) {
                        target = id;
                        break;
                    }
                }
                if (target == 0 || decoder_ == nullptr) {
                    continue;
                }
                const long length
                    = snd_midi_event_decode(decoder_, bytes.data(), static_cast<long>(bytes.size()), event);
                if (length <= 0) {
                    continue; // not a MIDI message (or longer than the buffer)
                }
                auto list = arrived.try_emplace(target, 65536).first;
                const MIDITimeStamp now = hostTimeNow();
                if (!list->second.add(
                        now, std::span<const uint8_t>(bytes.data(), static_cast<size_t>(length)))) {
                    rp::logf("AlsaMIDIBackend: incoming MIDI event dropped");
                }
            }
            notify = notify_;
        }
        for (auto& [id, list] : arrived) {
            std::unique_lock lock(mutex_);
            const auto port = ports_.find(id);
            if (port == ports_.end() || !port->second.read) {
                continue;
            }
            ReadProc readProc = port->second.read;
            deliveringPort_ = id;
            lock.unlock();
            readProc(list);
            lock.lock();
            deliveringPort_ = 0;
            deliveryDone_.notify_all();
        }
        if (changed && notify) {
            notify(kMessageSetupChanged);
        }
        uint64_t drained = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &drained, sizeof drained);
    }
}

} // namespace rp
