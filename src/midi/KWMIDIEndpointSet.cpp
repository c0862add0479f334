#include "midi/KWMIDIEndpointSet.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "midi/KWMIDIEndpointDescriptor.h"

KWMIDIEndpointSet::KWMIDIEndpointSet(std::vector<std::shared_ptr<KWMIDIEndpoint>> endpoints)
    : endpointArray_(std::move(endpoints))
{
}

std::shared_ptr<KWMIDIEndpointSet> KWMIDIEndpointSet::endpointSetWithArray(
    std::vector<std::shared_ptr<KWMIDIEndpoint>> endpoints)
{
    return std::make_shared<KWMIDIEndpointSet>(std::move(endpoints));
}

std::shared_ptr<KWMIDIEndpoint> KWMIDIEndpointSet::endpointWithDescriptor(
    const KWMIDIEndpointDescriptor& descriptor) const
{
    return endpointWithDescriptor(endpointArray_, descriptor);
}

std::shared_ptr<KWMIDIEndpoint> KWMIDIEndpointSet::endpointWithDescriptor(
    const std::vector<std::shared_ptr<KWMIDIEndpoint>>& endpoints, const KWMIDIEndpointDescriptor& descriptor)
{
    if (descriptor.uniqueID() != 0) {
        for (const auto& endpoint : endpoints) {
            if (endpoint->uniqueID() == descriptor.uniqueID()) {
                return endpoint;
            }
        }
    }
    if (!descriptor.name().empty()) {
        for (const auto& endpoint : endpoints) {
            if (endpoint->name() == descriptor.name()) {
                return endpoint;
            }
        }
    }
    return nullptr;
}

rp::ArchiveObjectPtr KWMIDIEndpointSet::replacementObjectForArchiving(
    const rp::ArchiveObjectPtr& object) const
{
    for (const auto& endpoint : endpointArray_) {
        if (endpoint == object) {
            return endpoint->descriptor();
        }
    }
    return object;
}

rp::ArchiveObjectPtr KWMIDIEndpointSet::replacementObjectForUnarchiving(
    const rp::ArchiveObjectPtr& object) const
{
    if (const auto descriptor = std::dynamic_pointer_cast<KWMIDIEndpointDescriptor>(object)) {
        return endpointWithDescriptor(*descriptor);
    }
    return object;
}

void KWMIDIEndpointSet::attachTo(rp::KeyedArchiver& archiver) const
{
    archiver.setReplacement(
        [this](const rp::ArchiveObjectPtr& object) { return replacementObjectForArchiving(object); });
}

void KWMIDIEndpointSet::attachTo(rp::KeyedUnarchiver& unarchiver) const
{
    unarchiver.setReplacement(
        [this](const rp::ArchiveObjectPtr& object) { return replacementObjectForUnarchiving(object); });
}
