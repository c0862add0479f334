#include "midi/KWMIDIEndpointDescriptor.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"

KWMIDIEndpointDescriptor::KWMIDIEndpointDescriptor(std::string name, int32_t uniqueID)
    : name_(std::move(name))
    , uniqueID_(uniqueID)
{
}

std::shared_ptr<KWMIDIEndpointDescriptor> KWMIDIEndpointDescriptor::descriptorWithName(
    std::string name, int32_t uniqueID)
{
    return std::make_shared<KWMIDIEndpointDescriptor>(std::move(name), uniqueID);
}

void KWMIDIEndpointDescriptor::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeString(name_, "name");
    coder.encodeInt32(uniqueID_, "uniqueID");
}

void KWMIDIEndpointDescriptor::registerArchiveClass()
{
    rp::KeyedUnarchiver::registerClass(
        "KWMIDIEndpointDescriptor", [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr {
            return descriptorWithName(
                coder.decodeStringForKey("name").value_or(""), coder.decodeInt32ForKey("uniqueID"));
        });
}
