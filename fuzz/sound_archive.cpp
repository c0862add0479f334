// Sounds read from hostile archives: keyed archives and typed streams holding an OASound, and
// embedded sample blocks with arbitrary format codes, rates and channel counts. Whatever is read
// is decoded into two working formats (with and without rate conversion).
//
// Input: first byte selects the path (0: keyed archive, 1: typed stream, 2: raw legacy block);
// for a raw block the next 8 bytes give the format code (2 bytes), sample rate (4 bytes) and
// channel count (2 bytes), big-endian, and the rest is the block.

#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

void decode(const OASoundPtr& sound)
{
    if (!sound) {
        return;
    }
    sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(44100, 2));
    sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(32000, 1));
    (void)sound->description();
}

uint32_t bigEndian(std::span<const uint8_t> bytes)
{
    uint32_t value = 0;
    for (const uint8_t b : bytes) {
        value = (value << 8) | b;
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool once = [] {
        rp::Logger::setSink([](const std::string&) {});
        OASound::registerArchiveClasses();
        return true;
    }();
    (void)once;
    if (size < 1) {
        return 0;
    }
    const std::span<const uint8_t> rest(data + 1, size - 1);
    switch (data[0]) {
    case 0:
        decode(
            std::dynamic_pointer_cast<OASound>(rp::KeyedUnarchiver::unarchiveObjectWithData(rest, nullptr)));
        break;
    case 1:
        decode(std::dynamic_pointer_cast<OASound>(
            rp::TypedStreamDecoder::unarchiveObjectWithData(rest, nullptr)));
        break;
    case 2: {
        if (rest.size() < 8) {
            return 0;
        }
        auto sound = std::make_shared<OASound>();
        const auto block = std::make_shared<const std::vector<uint8_t>>(rest.begin() + 8, rest.end());
        const int64_t format = 0x020000 | bigEndian(rest.subspan(0, 2));
        const double rate = bigEndian(rest.subspan(2, 4));
        const uint32_t channels = bigEndian(rest.subspan(6, 2));
        if (sound->setLegacyPackedBuffer(
                block, format, static_cast<int64_t>(block->size()), rate, channels)) {
            sound->setFrameOffset(block->size() % 7);
            decode(sound);
        }
        break;
    }
    default:
        break;
    }
    return 0;
}
