// Song files from hostile bytes: the header, the compression wrapper, the keyed archive of the song
// model and the older sequential songs. Whatever opens is saved again and walked.

#include "foundation/Error.h"
#include "foundation/Logger.h"
#include "model/ORPPatternInstance.h"
#include "model/ORPSong.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        rp::Logger::setSink([](const std::string&) {});
        ORPSong::setDefaultKitProvider({});
        return true;
    }();
    (void)quiet;
    rp::Error error;
    auto song = ORPSong::songFromData(std::span<const uint8_t>(data, size), "/fuzz/input.rpsong", &error);
    if (!song)
        return 0;
    for (const auto& pattern : song->allPatterns()) {
        (void)pattern->description();
        (void)pattern->bpm();
    }
    (void)ORPPatternInstance::instancesForPlaylist(*song);
    (void)song->drumsCurrentlyInUse();
    auto again = song->dataRepresentation();
    (void)again;
    return 0;
}
