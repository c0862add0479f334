#include "editor/ORPMIDIRouting.h"

#include "foundation/UserDefaults.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIManager.h"

#include <limits>

void ORPDocumentWindowOrder::setDocuments(const std::vector<std::shared_ptr<ORPMIDIPacketReceiver>>& frontToBack)
{
    std::vector<std::weak_ptr<ORPMIDIPacketReceiver>> documents(frontToBack.begin(), frontToBack.end());
    std::lock_guard lock(mutex_);
    documents_.swap(documents);
    // The old list's weak references are dropped after the lock is released.
}

std::vector<std::shared_ptr<ORPMIDIPacketReceiver>> ORPDocumentWindowOrder::documents() const
{
    std::vector<std::shared_ptr<ORPMIDIPacketReceiver>> live;
    std::lock_guard lock(mutex_);
    live.reserve(documents_.size());
    for (const auto& document : documents_) {
        if (auto strong = document.lock()) {
            live.push_back(std::move(strong));
        }
    }
    return live;
}

std::shared_ptr<ORPMIDIRouting> ORPMIDIRouting::create(std::shared_ptr<KWMIDIManager> manager,
    rp::UserDefaults& defaults, std::shared_ptr<ORPDocumentWindowOrder> windowOrder)
{
    return std::shared_ptr<ORPMIDIRouting>(new ORPMIDIRouting(std::move(manager), defaults, std::move(windowOrder)));
}

ORPMIDIRouting::ORPMIDIRouting(std::shared_ptr<KWMIDIManager> manager, rp::UserDefaults& defaults,
    std::shared_ptr<ORPDocumentWindowOrder> windowOrder)
    : manager_(std::move(manager))
    , defaults_(defaults)
    , windowOrder_(windowOrder ? std::move(windowOrder) : std::make_shared<ORPDocumentWindowOrder>())
{
}

ORPMIDIRouting::~ORPMIDIRouting()
{
    // Endpoints hold receivers weakly; a routing that goes away without detaching leaves a dead
    // reference that closes the port on the next change. Detach properly all the same.
    if (source_) {
        source_->removeReceiver(this);
    }
    if (destination_) {
        destination_->removeSender(this);
    }
}

std::optional<int32_t> ORPMIDIRouting::uniqueIDFromDefaults(const rp::UserDefaults& defaults, const char* key)
{
    const int64_t value = defaults.integerForKey(key);
    if (value == 0 || value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

void ORPMIDIRouting::configureMIDI()
{
    detachFromMIDIEndpoints();
    if (!manager_) {
        return;
    }
    std::shared_ptr<KWMIDIRealSource> source;
    std::shared_ptr<KWMIDIRealDestination> destination;
    if (const auto sourceID = uniqueIDFromDefaults(defaults_, kSourceIDKey)) {
        source = manager_->realSourceWithDescriptor(KWMIDIEndpointDescriptor("", *sourceID));
    }
    if (const auto destinationID = uniqueIDFromDefaults(defaults_, kDestinationIDKey)) {
        destination = manager_->realDestinationWithDescriptor(KWMIDIEndpointDescriptor("", *destinationID));
    }
    {
        std::lock_guard lock(mutex_);
        source_ = source;
        destination_ = destination;
    }
    if (source) {
        source->addReceiver(shared_from_this());
    }
}

void ORPMIDIRouting::detachFromMIDIEndpoints()
{
    std::shared_ptr<KWMIDIRealSource> source;
    std::shared_ptr<KWMIDIRealDestination> destination;
    {
        std::lock_guard lock(mutex_);
        source.swap(source_);
        destination.swap(destination_);
    }
    // Outside our lock: removing a receiver waits for a delivery under way, which reads our fields.
    if (source) {
        source->removeReceiver(this);
    }
    if (destination) {
        destination->removeSender(this);
    }
}

std::shared_ptr<KWMIDIRealSource> ORPMIDIRouting::midiSource() const
{
    std::lock_guard lock(mutex_);
    return source_;
}

std::shared_ptr<KWMIDIRealDestination> ORPMIDIRouting::midiDestination() const
{
    std::lock_guard lock(mutex_);
    return destination_;
}

void ORPMIDIRouting::processMIDIPacketList(const rp::MIDIPacketList& list, KWMIDIEndpoint* sender)
{
    if (list.empty()) {
        return;
    }
    const auto documents = windowOrder_->documents();
    if (documents.empty()) {
        return;
    }
    for (const rp::MIDIPacket packet : list) {
        if (packet.data.empty()) {
            continue;
        }
        if (packet.data[0] == kSystemReset) {
            for (const auto& document : documents) {
                document->processMIDIPacket(packet, sender);
            }
        } else {
            documents.front()->processMIDIPacket(packet, sender);
        }
    }
}
