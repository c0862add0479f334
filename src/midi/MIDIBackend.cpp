#include "midi/MIDIBackend.h"

#include "midi/AlsaMIDIBackend.h"
#include "midi/JackMIDIBackend.h"
#include "midi/LoopbackMIDIBackend.h"

namespace rp {

std::optional<MIDIBackend::EndpointInfo> MIDIBackend::endpointInfo(Kind kind, uint32_t ref)
{
    if (ref == 0) {
        return std::nullopt;
    }
    for (EndpointInfo& info : endpoints(kind)) {
        if (info.ref == ref) {
            return std::move(info);
        }
    }
    return std::nullopt;
}

std::optional<MIDIBackend::ObjectInfo> MIDIBackend::objectWithUniqueID(int32_t uniqueID)
{
    if (uniqueID == 0) {
        return std::nullopt;
    }
    for (const Kind kind : { Kind::Source, Kind::Destination }) {
        for (const EndpointInfo& info : endpoints(kind)) {
            if (info.uniqueID == uniqueID) {
                return ObjectInfo { kind == Kind::Source ? ObjectInfo::Type::Source
                                                         : ObjectInfo::Type::Destination,
                    info.name, info.deviceName };
            }
        }
    }
    return std::nullopt;
}

bool MIDIBackend::setEndpointName(Kind, uint32_t, const std::string&)
{
    return false;
}

void MIDIBackend::connectDestination(uint32_t, uint32_t)
{
}

bool MIDIBackend::setEndpointUniqueID(Kind, uint32_t, int32_t)
{
    return false;
}

int32_t midiStableUniqueID(std::string_view backend, MIDIBackend::Kind kind, std::string_view fullName)
{
    uint32_t hash = 2166136261u;
    auto mix = [&hash](std::string_view text) {
        for (const char c : text) {
            hash ^= static_cast<uint8_t>(c);
            hash *= 16777619u;
        }
    };
    mix(backend);
    mix(kind == MIDIBackend::Kind::Source ? "/source/" : "/destination/");
    mix(fullName);
    const auto id = static_cast<int32_t>(hash);
    return id != 0 ? id : 1;
}

std::shared_ptr<MIDIBackend> makeMIDIBackend(std::string_view choice)
{
    static const std::string clientName = "KWMIDIManager";
    if (choice == "jack") {
        return JackMIDIBackend::open(clientName);
    }
    if (choice == "alsa") {
        return AlsaMIDIBackend::open(clientName);
    }
    if (choice == "loopback") {
        return std::make_shared<LoopbackMIDIBackend>();
    }
    if (choice == "none") {
        return std::make_shared<NullMIDIBackend>();
    }
    if (choice == "auto" || choice.empty()) {
        if (auto jack = JackMIDIBackend::open(clientName)) {
            return jack;
        }
        if (auto alsa = AlsaMIDIBackend::open(clientName)) {
            return alsa;
        }
        return std::make_shared<NullMIDIBackend>();
    }
    return nullptr;
}

} // namespace rp
