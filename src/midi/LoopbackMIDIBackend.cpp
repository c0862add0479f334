#include "midi/LoopbackMIDIBackend.h"

namespace rp {

LoopbackMIDIBackend::LoopbackMIDIBackend()
    : scheduler_([this](uint32_t port, uint32_t destination, MIDITimeStamp stamp,
                     std::span<const uint8_t> bytes) { emit(port, destination, stamp, bytes); })
{
    worker_ = std::thread([this] { run(); });
}

LoopbackMIDIBackend::~LoopbackMIDIBackend()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

uint32_t LoopbackMIDIBackend::createClient(const std::string&, NotifyProc notify)
{
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
    return 1;
}

MIDIBackend::EndpointInfo LoopbackMIDIBackend::infoFor(
    Kind kind, uint32_t ref, const EndpointSpec& endpoint) const
{
    EndpointInfo info;
    info.ref = ref;
    info.name = endpoint.name;
    info.deviceName = endpoint.deviceName;
    info.uniqueID = endpoint.uniqueID != 0
        ? endpoint.uniqueID
        : midiStableUniqueID("loopback", kind, endpoint.deviceName + ":" + endpoint.name);
    info.offline = endpoint.offline;
    info.ownerPID = endpoint.ownerPID;
    info.interApplicationBus = endpoint.interApplicationBus;
    info.connectionUniqueIDs = endpoint.connectionUniqueIDs;
    return info;
}

void LoopbackMIDIBackend::postNotificationLocked()
{
    work_.push_back(Work { 0, MIDIPacketList(0) });
    wake_.notify_all();
}

uint32_t LoopbackMIDIBackend::plug(Kind kind, EndpointSpec endpoint)
{
    std::lock_guard lock(mutex_);
    const uint32_t ref = nextRef_++;
    table(kind)[ref] = std::move(endpoint);
    postNotificationLocked();
    return ref;
}

bool LoopbackMIDIBackend::unplug(Kind kind, uint32_t ref)
{
    std::lock_guard lock(mutex_);
    if (table(kind).erase(ref) == 0) {
        return false;
    }
    if (kind == Kind::Source) {
        for (auto& [id, port] : ports_) {
            port.state.connectedSources.erase(ref);
        }
    }
    postNotificationLocked();
    return true;
}

bool LoopbackMIDIBackend::change(Kind kind, uint32_t ref, EndpointSpec endpoint)
{
    std::lock_guard lock(mutex_);
    auto found = table(kind).find(ref);
    if (found == table(kind).end()) {
        return false;
    }
    found->second = std::move(endpoint);
    postNotificationLocked();
    return true;
}

void LoopbackMIDIBackend::addDevice(int32_t uniqueID, std::string name)
{
    std::lock_guard lock(mutex_);
    devices_[uniqueID] = std::move(name);
    postNotificationLocked();
}

std::optional<LoopbackMIDIBackend::EndpointSpec> LoopbackMIDIBackend::pluggedEndpoint(Kind kind, uint32_t ref) const
{
    std::lock_guard lock(mutex_);
    const auto found = table(kind).find(ref);
    if (found == table(kind).end()) {
        return std::nullopt;
    }
    return found->second;
}

bool LoopbackMIDIBackend::inject(uint32_t sourceRef, const MIDIPacketList& list)
{
    std::lock_guard lock(mutex_);
    if (!sources_.contains(sourceRef)) {
        return false;
    }
    work_.push_back(Work { sourceRef, list });
    wake_.notify_all();
    return true;
}

std::vector<LoopbackMIDIBackend::Delivery> LoopbackMIDIBackend::deliveries(int32_t destinationUniqueID) const
{
    std::lock_guard lock(mutex_);
    const auto found = deliveries_.find(destinationUniqueID);
    return found == deliveries_.end() ? std::vector<Delivery> {} : found->second;
}

void LoopbackMIDIBackend::clearDeliveries()
{
    std::lock_guard lock(mutex_);
    deliveries_.clear();
}

std::map<uint32_t, LoopbackMIDIBackend::PortState> LoopbackMIDIBackend::openPorts() const
{
    std::lock_guard lock(mutex_);
    std::map<uint32_t, PortState> result;
    for (const auto& [id, port] : ports_) {
        result[id] = port.state;
    }
    return result;
}

int LoopbackMIDIBackend::notificationsPosted() const
{
    std::lock_guard lock(mutex_);
    return notifications_;
}

void LoopbackMIDIBackend::waitUntilQuiet()
{
    std::unique_lock lock(mutex_);
    quiet_.wait(lock, [this] { return work_.empty() && !busy_; });
}

std::vector<MIDIBackend::EndpointInfo> LoopbackMIDIBackend::endpoints(Kind kind)
{
    std::lock_guard lock(mutex_);
    std::vector<EndpointInfo> result;
    for (const auto& [ref, endpoint] : table(kind)) {
        result.push_back(infoFor(kind, ref, endpoint));
    }
    return result;
}

std::optional<MIDIBackend::ObjectInfo> LoopbackMIDIBackend::objectWithUniqueID(int32_t uniqueID)
{
    if (auto endpoint = MIDIBackend::objectWithUniqueID(uniqueID)) {
        return endpoint;
    }
    std::lock_guard lock(mutex_);
    const auto device = devices_.find(uniqueID);
    if (device == devices_.end()) {
        return std::nullopt;
    }
    return ObjectInfo { ObjectInfo::Type::Device, device->second, {} };
}

bool LoopbackMIDIBackend::setEndpointName(Kind kind, uint32_t ref, const std::string& name)
{
    std::lock_guard lock(mutex_);
    auto found = table(kind).find(ref);
    if (found == table(kind).end()) {
        return false;
    }
    found->second.name = name;
    postNotificationLocked();
    return true;
}

bool LoopbackMIDIBackend::setEndpointUniqueID(Kind kind, uint32_t ref, int32_t uniqueID)
{
    std::lock_guard lock(mutex_);
    auto found = table(kind).find(ref);
    if (found == table(kind).end() || uniqueID == 0) {
        return false;
    }
    found->second.uniqueID = uniqueID;
    postNotificationLocked();
    return true;
}

uint32_t LoopbackMIDIBackend::createInputPort(const std::string& name, ReadProc read)
{
    std::lock_guard lock(mutex_);
    const uint32_t id = nextRef_++;
    ports_[id] = Port { PortState { name, true, {} }, std::move(read) };
    return id;
}

bool LoopbackMIDIBackend::connectSource(uint32_t port, uint32_t sourceRef)
{
    std::lock_guard lock(mutex_);
    auto found = ports_.find(port);
    if (found == ports_.end() || !found->second.state.input || !sources_.contains(sourceRef)) {
        return false;
    }
    found->second.state.connectedSources.insert(sourceRef);
    return true;
}

void LoopbackMIDIBackend::disconnectSource(uint32_t port, uint32_t sourceRef)
{
    std::lock_guard lock(mutex_);
    auto found = ports_.find(port);
    if (found != ports_.end()) {
        found->second.state.connectedSources.erase(sourceRef);
    }
}

uint32_t LoopbackMIDIBackend::createOutputPort(const std::string& name)
{
    std::lock_guard lock(mutex_);
    const uint32_t id = nextRef_++;
    ports_[id] = Port { PortState { name, false, {} }, {} };
    return id;
}

bool LoopbackMIDIBackend::send(uint32_t port, uint32_t destinationRef, const MIDIPacketList& list)
{
    {
        std::lock_guard lock(mutex_);
        const auto found = ports_.find(port);
        if (found == ports_.end() || found->second.state.input || !destinations_.contains(destinationRef)) {
            return false;
        }
    }
    scheduler_.schedule(port, destinationRef, list);
    return true;
}

void LoopbackMIDIBackend::disposePort(uint32_t port)
{
    std::unique_lock lock(mutex_);
    ports_.erase(port);
    if (std::this_thread::get_id() != worker_.get_id()) {
        deliveryDone_.wait(lock, [&] { return deliveringPort_ != port; });
    }
}

bool LoopbackMIDIBackend::waitUntilSent(double timeoutSeconds)
{
    return scheduler_.waitUntilIdle(timeoutSeconds);
}

void LoopbackMIDIBackend::emit(
    uint32_t port, uint32_t destination, MIDITimeStamp stamp, std::span<const uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    const auto found = destinations_.find(destination);
    if (found == destinations_.end()) {
        return; // unplugged meanwhile: the packet is lost like on a cable pulled out
    }
    const int32_t uniqueID = infoFor(Kind::Destination, destination, found->second).uniqueID;
    deliveries_[uniqueID].push_back(Delivery { stamp, hostTimeNow(), { bytes.begin(), bytes.end() }, port });
}

void LoopbackMIDIBackend::run()
{
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !work_.empty(); });
        if (stopping_) {
            return;
        }
        Work work = std::move(work_.front());
        work_.pop_front();
        busy_ = true;
        if (work.source == 0) {
            ++notifications_;
            NotifyProc notify = notify_;
            lock.unlock();
            if (notify) {
                notify(kMessageSetupChanged);
            }
            lock.lock();
        } else {
            std::vector<uint32_t> targets;
            for (const auto& [id, port] : ports_) {
                if (port.state.input && port.state.connectedSources.contains(work.source)) {
                    targets.push_back(id);
                }
            }
            for (const uint32_t id : targets) {
                const auto port = ports_.find(id);
                if (port == ports_.end()) {
                    continue; // disposed while an earlier port was being served
                }
                ReadProc read = port->second.read;
                deliveringPort_ = id;
                lock.unlock();
                read(work.list);
                lock.lock();
                deliveringPort_ = 0;
                deliveryDone_.notify_all();
            }
        }
        busy_ = false;
        if (work_.empty()) {
            quiet_.notify_all();
        }
    }
}

} // namespace rp
