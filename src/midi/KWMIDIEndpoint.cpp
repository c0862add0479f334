#include "midi/KWMIDIEndpoint.h"

#include "archive/KeyedArchiver.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/TextCompare.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIManager.h"
#include "midi/KWMIDIPlatform.h"

#include <algorithm>

using rp::MIDIBackend;

KWMIDIEndpoint::KWMIDIEndpoint(
    const std::shared_ptr<KWMIDIManager>& manager, Kind kind, std::string name, int32_t uniqueID)
    : manager_(manager)
    , backend_(manager->backend())
    , name_(std::move(name))
    , displayName_(name_)
    , uniqueID_(uniqueID)
{
    (void)kind;
}

KWMIDIEndpoint::KWMIDIEndpoint(const std::shared_ptr<KWMIDIManager>& manager, Kind kind, uint32_t endpointRef)
    : manager_(manager)
    , backend_(manager->backend())
{
    if (auto info = backend_->endpointInfo(kind, endpointRef)) {
        std::lock_guard lock(mutex_);
        endpointRef_ = endpointRef;
        adoptInfoLocked(*info);
    }
}

KWMIDIEndpoint::~KWMIDIEndpoint() = default;

std::string KWMIDIEndpoint::endpointName(const MIDIBackend::EndpointInfo& info)
{
    if (info.name.empty()) {
        return info.deviceName;
    }
    if (!info.deviceName.empty() && !rp::equalIgnoringCase(info.deviceName, info.name)) {
        return rp::formatText("%@ %@", { info.deviceName, info.name });
    }
    return info.name;
}

std::string KWMIDIEndpoint::displayNameFor(MIDIBackend& backend, const MIDIBackend::EndpointInfo& info)
{
    std::string joined;
    for (const int32_t id : info.connectionUniqueIDs) {
        if (id == 0) {
            continue;
        }
        const auto object = backend.objectWithUniqueID(id);
        if (!object) {
            continue;
        }
        std::string name;
        if (object->type == MIDIBackend::ObjectInfo::Type::Device) {
            name = object->name;
        } else {
            MIDIBackend::EndpointInfo connected;
            connected.name = object->name;
            connected.deviceName = object->deviceName;
            name = endpointName(connected);
        }
        if (name.empty()) {
            continue;
        }
        joined += joined.empty() ? name : ", " + name;
    }
    if (!joined.empty()) {
        return joined;
    }
    const std::string own = endpointName(info);
    return own.empty() ? "UNKNOWN DEVICE" : own;
}

// Called with mutex_ held: takes unique ID, names and flags from the service.
void KWMIDIEndpoint::adoptInfoLocked(const MIDIBackend::EndpointInfo& info)
{
    uniqueID_ = info.uniqueID;
    name_ = endpointName(info);
    displayName_ = displayNameFor(*backend_, info);
    serviceOffline_ = info.offline;
    interApplicationBus_ = info.interApplicationBus;
}

std::shared_ptr<KWMIDIEndpointDescriptor> KWMIDIEndpoint::descriptor() const
{
    std::lock_guard lock(mutex_);
    return KWMIDIEndpointDescriptor::descriptorWithName(name_, uniqueID_);
}

std::string KWMIDIEndpoint::name() const
{
    std::lock_guard lock(mutex_);
    return name_;
}

std::string KWMIDIEndpoint::displayName() const
{
    std::lock_guard lock(mutex_);
    if (endpointRef_ == 0 || serviceOffline_) {
        return rp::localizedFormat("%@ (offline)", { displayName_ });
    }
    return displayName_;
}

int32_t KWMIDIEndpoint::uniqueID() const
{
    std::lock_guard lock(mutex_);
    return uniqueID_;
}

uint32_t KWMIDIEndpoint::midiEndpointRef() const
{
    std::lock_guard lock(mutex_);
    return endpointRef_;
}

bool KWMIDIEndpoint::writeToService(const std::function<bool(uint32_t ref)>& write)
{
    const uint32_t ref = midiEndpointRef();
    if (ref == 0) {
        return false;
    }
    auto manager = manager_.lock();
    if (manager) {
        manager->disableNotifications();
    }
    const bool written = write(ref);
    if (manager) {
        manager->enableNotifications();
    }
    return written;
}

bool KWMIDIEndpoint::setName(const std::string& name)
{
    const bool written
        = writeToService([&](uint32_t ref) { return backend_->setEndpointName(kind(), ref, name); });
    if (written) {
        std::lock_guard lock(mutex_);
        name_ = name;
        displayName_ = name;
    }
    return written;
}

bool KWMIDIEndpoint::setUniqueID(int32_t uniqueID)
{
    const bool written
        = writeToService([&](uint32_t ref) { return backend_->setEndpointUniqueID(kind(), ref, uniqueID); });
    if (written) {
        std::lock_guard lock(mutex_);
        uniqueID_ = uniqueID;
    }
    return written;
}

int KWMIDIEndpoint::compareByDisplayName(const KWMIDIEndpoint& other) const
{
    return rp::compareIgnoringCase(displayName(), other.displayName());
}

bool KWMIDIEndpoint::isOffline() const
{
    std::lock_guard lock(mutex_);
    return endpointRef_ == 0 || serviceOffline_;
}

bool KWMIDIEndpoint::isInUse() const
{
    std::lock_guard lock(mutex_);
    const auto alive = [](const auto& entry) { return !entry.object.expired(); };
    return std::any_of(receivers_.begin(), receivers_.end(), alive)
        || std::any_of(senders_.begin(), senders_.end(), alive);
}

bool KWMIDIEndpoint::isIACBus() const
{
    std::lock_guard lock(mutex_);
    return endpointRef_ != 0 && interApplicationBus_;
}

namespace {

template <typename List, typename T> void addUserOnce(List& users, const std::shared_ptr<T>& user)
{
    const bool known = std::any_of(
        users.begin(), users.end(), [&](const auto& entry) { return entry.identity == user.get(); });
    if (!known) {
        users.push_back({ user.get(), user });
    }
}

template <typename List> void removeUser(List& users, const void* user)
{
    std::erase_if(users, [&](const auto& entry) { return entry.identity == user; });
}

} // namespace

void KWMIDIEndpoint::addReceiver(const std::shared_ptr<KWMIDIReceiver>& receiver)
{
    if (!receiver) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        addUserOnce(receivers_, receiver);
    }
    updateIOForUse();
}

void KWMIDIEndpoint::removeReceiver(const KWMIDIReceiver* receiver)
{
    {
        std::lock_guard lock(mutex_);
        removeUser(receivers_, receiver);
    }
    // Once this returns, the receiver hears nothing more: wait out a delivery in progress.
    {
        std::lock_guard delivery(deliveryMutex_);
    }
    updateIOForUse();
}

void KWMIDIEndpoint::addSender(const std::shared_ptr<const void>& sender)
{
    if (!sender) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        addUserOnce(senders_, sender);
    }
    updateIOForUse();
}

void KWMIDIEndpoint::removeSender(const void* sender)
{
    {
        std::lock_guard lock(mutex_);
        removeUser(senders_, sender);
    }
    updateIOForUse();
}

void KWMIDIEndpoint::updateIOForUse()
{
    {
        // Objects that went away without removing themselves no longer count.
        std::lock_guard lock(mutex_);
        std::erase_if(receivers_, [](const Receiver& entry) { return entry.object.expired(); });
        std::erase_if(senders_, [](const Sender& entry) { return entry.object.expired(); });
    }
    if (isInUse()) {
        startIO();
    } else {
        stopIO();
    }
}

std::vector<std::shared_ptr<KWMIDIReceiver>> KWMIDIEndpoint::liveReceivers() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<KWMIDIReceiver>> result;
    for (const Receiver& entry : receivers_) {
        if (auto receiver = entry.object.lock()) {
            result.push_back(std::move(receiver));
        }
    }
    return result;
}

bool KWMIDIEndpoint::hasReceiver(const KWMIDIReceiver* receiver) const
{
    std::lock_guard lock(mutex_);
    return std::any_of(receivers_.begin(), receivers_.end(),
        [&](const Receiver& entry) { return entry.identity == receiver; });
}

void KWMIDIEndpoint::syncWithMIDIEndpoint()
{
    std::lock_guard io(ioMutex_);
    const std::vector<MIDIBackend::EndpointInfo> present = backend_->endpoints(kind());
    uint32_t ref = 0;
    int32_t uniqueID = 0;
    std::string name;
    {
        std::lock_guard lock(mutex_);
        ref = endpointRef_;
        uniqueID = uniqueID_;
        name = name_;
    }
    const MIDIBackend::EndpointInfo* match = nullptr;
    if (ref != 0) {
        for (const auto& info : present) {
            if (info.ref == ref) {
                match = &info;
                break;
            }
        }
    }
    // A zero unique ID or an empty name identifies nothing: an endpoint made from a bare
    // descriptor must not latch onto whatever device happens to share the blank value.
    if (match == nullptr && uniqueID != 0) {
        for (const auto& info : present) {
            if (info.uniqueID == uniqueID) {
                match = &info;
                break;
            }
        }
    }
    if (match == nullptr && !name.empty()) {
        for (const auto& info : present) {
            if (endpointName(info) == name) {
                match = &info;
                break;
            }
        }
    }
    const uint32_t newRef = match != nullptr ? match->ref : 0;
    if (newRef != ref) {
        stopIO();
        {
            std::lock_guard lock(mutex_);
            endpointRef_ = newRef;
        }
        if (isInUse()) {
            startIO();
        }
    }
    if (match != nullptr) {
        std::lock_guard lock(mutex_);
        adoptInfoLocked(*match);
    }
}

void KWMIDIEndpoint::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    std::lock_guard lock(mutex_);
    coder.encodeString(name_, "name");
    coder.encodeInt32(uniqueID_, "uniqueID");
    coder.encodeString(displayName_, "displayName");
}

std::vector<std::string> KWMIDIEndpoint::keyedArchiveSuperclasses() const
{
    return { "KWMIDIRealEndpoint", "KWMIDIEndpoint", "NSObject" };
}

uint32_t KWMIDIRealEndpoint::midiPortRef() const
{
    std::lock_guard lock(mutex_);
    return portRef_;
}

// Sources

KWMIDIRealSource::KWMIDIRealSource(
    const std::shared_ptr<KWMIDIManager>& manager, std::string name, int32_t uniqueID)
    : KWMIDIRealEndpoint(manager, Kind::Source, std::move(name), uniqueID)
{
}

KWMIDIRealSource::KWMIDIRealSource(const std::shared_ptr<KWMIDIManager>& manager, uint32_t endpointRef)
    : KWMIDIRealEndpoint(manager, Kind::Source, endpointRef)
{
}

KWMIDIRealSource::~KWMIDIRealSource()
{
    stopIO();
}

void KWMIDIRealSource::processMIDIPacketList(const rp::MIDIPacketList& list, const void*)
{
    std::lock_guard delivery(deliveryMutex_);
    for (const auto& receiver : liveReceivers()) {
        if (hasReceiver(receiver.get())) { // an earlier receiver may have removed it
            receiver->processMIDIPacketList(list, this);
        }
    }
}

void KWMIDIRealSource::startIO()
{
    std::lock_guard io(ioMutex_);
    uint32_t ref = 0;
    {
        std::lock_guard lock(mutex_);
        if (endpointRef_ == 0 || portRef_ != 0) {
            return;
        }
        ref = endpointRef_;
    }
    std::weak_ptr<rp::ArchiveObject> weakSelf = weak_from_this();
    const uint32_t port
        = backend_->createInputPort("KWMIDIRealSource", [weakSelf](const rp::MIDIPacketList& list) {
              if (auto self = std::static_pointer_cast<KWMIDIRealSource>(weakSelf.lock())) {
                  self->processMIDIPacketList(list, nullptr);
                  // Should everybody else have let go meanwhile, end the source's life on the
                  // main thread, never on the backend's own delivery thread.
                  if (self.use_count() == 1) {
                      rp::midiPerformOnMainThread([last = std::move(self)] {});
                  }
              }
          });
    if (port == 0) {
        rp::logf("KWMIDIRealSource: could not create input port for %s", name().c_str());
        return;
    }
    if (!backend_->connectSource(port, ref)) {
        rp::logf("KWMIDIRealSource: could not connect %s", name().c_str());
    }
    std::lock_guard lock(mutex_);
    portRef_ = port;
}

void KWMIDIRealSource::stopIO()
{
    std::lock_guard io(ioMutex_);
    uint32_t port = 0;
    uint32_t ref = 0;
    {
        std::lock_guard lock(mutex_);
        port = portRef_;
        ref = endpointRef_;
        portRef_ = 0;
    }
    if (port == 0) {
        return;
    }
    if (ref != 0) {
        backend_->disconnectSource(port, ref);
    }
    backend_->disposePort(port);
}

// Destinations

KWMIDIRealDestination::KWMIDIRealDestination(
    const std::shared_ptr<KWMIDIManager>& manager, std::string name, int32_t uniqueID)
    : KWMIDIRealEndpoint(manager, Kind::Destination, std::move(name), uniqueID)
{
}

KWMIDIRealDestination::KWMIDIRealDestination(
    const std::shared_ptr<KWMIDIManager>& manager, uint32_t endpointRef)
    : KWMIDIRealEndpoint(manager, Kind::Destination, endpointRef)
{
}

KWMIDIRealDestination::~KWMIDIRealDestination()
{
    stopIO();
}

void KWMIDIRealDestination::processMIDIPacketList(const rp::MIDIPacketList& list, const void*)
{
    uint32_t ref = 0;
    uint32_t port = 0;
    {
        std::lock_guard lock(mutex_);
        ref = endpointRef_;
        port = portRef_;
    }
    if (ref == 0 || port == 0 || list.empty()) {
        return;
    }
    if (!backend_->send(port, ref, list)) {
        rp::logf("KWMIDIRealDestination: could not send to %s", name().c_str());
    }
}

void KWMIDIRealDestination::startIO()
{
    std::lock_guard io(ioMutex_);
    uint32_t ref = 0;
    {
        std::lock_guard lock(mutex_);
        if (endpointRef_ == 0 || portRef_ != 0) {
            return;
        }
        ref = endpointRef_;
    }
    const uint32_t port = backend_->createOutputPort("KWMIDIRealDestination");
    if (port == 0) {
        rp::logf("KWMIDIRealDestination: could not create output port for %s", name().c_str());
        return;
    }
    backend_->connectDestination(port, ref);
    std::lock_guard lock(mutex_);
    portRef_ = port;
}

void KWMIDIRealDestination::stopIO()
{
    std::lock_guard io(ioMutex_);
    uint32_t port = 0;
    {
        std::lock_guard lock(mutex_);
        port = portRef_;
        portRef_ = 0;
    }
    if (port != 0) {
        backend_->disposePort(port);
    }
}
