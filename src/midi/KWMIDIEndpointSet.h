#pragma once

#include "archive/ArchiveObject.h"
#include "midi/KWMIDIEndpoint.h"

#include <memory>
#include <vector>

namespace rp {
class KeyedArchiver;
class KeyedUnarchiver;
} // namespace rp

// A list of endpoints for lookup by descriptor and for archiving endpoints as descriptors:
// attached to an archiver it writes each endpoint of the set as its descriptor; attached to an
// unarchiver it turns each decoded descriptor back into the set's endpoint.
class KWMIDIEndpointSet {
public:
    explicit KWMIDIEndpointSet(std::vector<std::shared_ptr<KWMIDIEndpoint>> endpoints);
    static std::shared_ptr<KWMIDIEndpointSet> endpointSetWithArray(
        std::vector<std::shared_ptr<KWMIDIEndpoint>> endpoints);

    const std::vector<std::shared_ptr<KWMIDIEndpoint>>& endpointArray() const { return endpointArray_; }

    // The first endpoint with the descriptor's unique ID, else the first with its name, else none.
    // A zero unique ID and an empty name match nothing.
    std::shared_ptr<KWMIDIEndpoint> endpointWithDescriptor(const KWMIDIEndpointDescriptor& descriptor) const;
    static std::shared_ptr<KWMIDIEndpoint> endpointWithDescriptor(
        const std::vector<std::shared_ptr<KWMIDIEndpoint>>& endpoints,
        const KWMIDIEndpointDescriptor& descriptor);

    // The archiver and unarchiver delegate hooks.
    rp::ArchiveObjectPtr replacementObjectForArchiving(const rp::ArchiveObjectPtr& object) const;
    rp::ArchiveObjectPtr replacementObjectForUnarchiving(const rp::ArchiveObjectPtr& object) const;
    // Installs the hooks; the set must outlive the coder's use of them.
    void attachTo(rp::KeyedArchiver& archiver) const;
    void attachTo(rp::KeyedUnarchiver& unarchiver) const;

private:
    std::vector<std::shared_ptr<KWMIDIEndpoint>> endpointArray_;
};
