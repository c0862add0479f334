#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"

#include <cstdint>
#include <memory>
#include <string>

// The persistent handle of a MIDI endpoint: its name and unique ID. Stored in preferences
// and archives and turned back into a live endpoint by the manager or an endpoint set.
class KWMIDIEndpointDescriptor final : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    KWMIDIEndpointDescriptor(std::string name, int32_t uniqueID); // initWithName:uniqueID:
    static std::shared_ptr<KWMIDIEndpointDescriptor> descriptorWithName(std::string name, int32_t uniqueID);

    const std::string& name() const { return name_; }
    int32_t uniqueID() const { return uniqueID_; }

    std::string archiveClassName() const override { return "KWMIDIEndpointDescriptor"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    // Registers the class with the keyed unarchiver (archive keys "name" and "uniqueID").
    static void registerArchiveClass();

private:
    std::string name_;
    int32_t uniqueID_;
};
