#pragma once

#include "audio/AudioTypes.h"
#include "audio/SampleConversion.h"

#include <cstdint>
#include <span>

namespace rp {

// Decoders for the packed sample blocks that old archives embed in a sound: big-endian linear
// PCM, G.711 u-law and A-law, and Apple IMA4 ADPCM (34-byte packets of 64 frames per channel,
// the channels' packets following one another).

// G.711 expansion to 16-bit linear samples.
int16_t ulawToLinear(uint8_t code);
int16_t alawToLinear(uint8_t code);

constexpr uint32_t kIma4FramesPerPacket = 64;
constexpr uint32_t kIma4BytesPerChannelPacket = 34;

// Decodes one channel's IMA4 packet into 64 samples, written `stride` samples apart.
void decodeIma4Packet(const uint8_t* packet, int16_t* out, size_t stride);

// The stream description of an embedded block, rebuilt from the libsndfile format code's low
// 16 bits: format ID, flags and bits per channel by encoding, big-endian and packed flags added.
// u-law and A-law samples are one byte each; IMA4 packets are 34 bytes per channel holding 64
// frames. An unknown encoding gives format ID 0.
AudioStreamBasicDescription legacyBlockDescription(int64_t sfFormat, double sampleRate, uint32_t channels);

// Whether decodeLegacyPackets understands `description`.
bool isDecodableLegacyDescription(const AudioStreamBasicDescription& description);

// Whole packets the block holds, at most `frames` frames' worth.
uint64_t legacyPacketCount(
    const AudioStreamBasicDescription& description, size_t blockBytes, uint64_t frames);

// Appends the frames of `count` packets starting at packet `first` to `into` (integer samples,
// or reals for float data). Packets beyond the block are not read. False for an undecodable
// description.
bool decodeLegacyPackets(std::span<const uint8_t> block, const AudioStreamBasicDescription& description,
    uint64_t first, uint64_t count, PcmFrames& into);

} // namespace rp
