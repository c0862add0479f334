#include "audio/LegacySampleDecoder.h"

#include <algorithm>
#include <array>

namespace rp {

int16_t ulawToLinear(uint8_t code)
{
    // Bits are stored inverted; sign, 3-bit exponent (segment), 4-bit mantissa, bias 0x84.
    const uint8_t u = static_cast<uint8_t>(~code);
    const int exponent = (u >> 4) & 0x07;
    const int mantissa = u & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return static_cast<int16_t>((u & 0x80) ? -magnitude : magnitude);
}

int16_t alawToLinear(uint8_t code)
{
    // Even bits are inverted (xor 0x55); a set sign bit means positive.
    const uint8_t a = code ^ 0x55;
    const int exponent = (a >> 4) & 0x07;
    const int mantissa = a & 0x0F;
    int magnitude = (mantissa << 4) + 8;
    if (exponent != 0) {
        magnitude = (magnitude + 0x100) << (exponent - 1);
    }
    return static_cast<int16_t>((a & 0x80) ? magnitude : -magnitude);
}

namespace {
constexpr std::array<int, 89> kImaStepTable = { 7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31,
    34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279,
    307, 337, 371, 408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878,
    2066, 2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493,
    10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767 };
constexpr std::array<int, 16> kImaIndexTable = { -1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8 };
} // namespace

void decodeIma4Packet(const uint8_t* packet, int16_t* out, size_t stride)
{
    // Header: the predictor's top 9 bits and a 7-bit step index, big-endian.
    const int header = (packet[0] << 8) | packet[1];
    int predictor = static_cast<int16_t>(header & 0xFF80);
    int index = std::min(header & 0x7F, 88);
    for (uint32_t i = 0; i < kIma4FramesPerPacket; ++i) {
        const uint8_t byte = packet[2 + i / 2];
        const int nibble = (i % 2 == 0) ? (byte & 0x0F) : (byte >> 4);
        const int step = kImaStepTable[static_cast<size_t>(index)];
        int diff = step >> 3;
        if (nibble & 1) {
            diff += step >> 2;
        }
        if (nibble & 2) {
            diff += step >> 1;
        }
        if (nibble & 4) {
            diff += step;
        }
        if (nibble & 8) {
            diff = -diff;
        }
        predictor = std::clamp(predictor + diff, -32768, 32767);
        index = std::clamp(index + kImaIndexTable[static_cast<size_t>(nibble)], 0, 88);
        out[i * stride] = static_cast<int16_t>(predictor);
    }
}

namespace {

struct LegacySampleFormat {
    uint32_t formatID = 0;
    uint32_t flags = 0;
    uint32_t bitsPerChannel = 0;
};

// The legacy sample-format codes (low 16 bits) and the stream each stands for; unknown codes give
// format 0, which no decoder accepts.
LegacySampleFormat legacySampleFormat(int64_t code)
{
    switch (code) {
    case 1:
        return { kAudioFormatLinearPCM, kAudioFormatFlagIsSignedInteger, 8 };
    case 2:
        return { kAudioFormatLinearPCM, kAudioFormatFlagIsSignedInteger, 16 };
    case 3:
    case 4:
        return { kAudioFormatLinearPCM, kAudioFormatFlagIsSignedInteger, 32 };
    case 5:
        return { kAudioFormatLinearPCM, 0, 8 };
    case 6:
    case 7:
        return { kAudioFormatLinearPCM, kAudioFormatFlagIsFloat, 32 };
    case 16:
        return { kAudioFormatULaw, 0, 8 };
    case 17:
        return { kAudioFormatALaw, 0, 8 };
    case 18:
    case 19:
        return { kAudioFormatAppleIMA4, 0, 0 };
    default:
        return {};
    }
}

} // namespace

AudioStreamBasicDescription legacyBlockDescription(int64_t sfFormat, double sampleRate, uint32_t channels)
{
    AudioStreamBasicDescription d;
    d.mSampleRate = sampleRate;
    d.mChannelsPerFrame = channels;
    const LegacySampleFormat format = legacySampleFormat(sfFormat & 0xFFFF);
    d.mFormatID = format.formatID;
    d.mBitsPerChannel = format.bitsPerChannel;
    const uint32_t flags = format.flags;
    d.mFormatFlags = flags | kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsPacked;
    if (d.mFormatID == kAudioFormatAppleIMA4) {
        d.mBytesPerPacket = kIma4BytesPerChannelPacket * channels;
        d.mFramesPerPacket = kIma4FramesPerPacket;
        d.mBytesPerFrame = 0;
    } else {
        d.mBytesPerFrame = d.mBitsPerChannel / 8 * channels;
        d.mBytesPerPacket = d.mBytesPerFrame;
        d.mFramesPerPacket = 1;
    }
    return d;
}

bool isDecodableLegacyDescription(const AudioStreamBasicDescription& d)
{
    if (d.mChannelsPerFrame == 0 || d.mBytesPerPacket == 0 || d.mFramesPerPacket == 0) {
        return false;
    }
    switch (d.mFormatID) {
    case kAudioFormatLinearPCM:
        return isSupportedPcmLayout(d);
    case kAudioFormatULaw:
    case kAudioFormatALaw:
        return d.mBytesPerPacket == d.mChannelsPerFrame && d.mFramesPerPacket == 1;
    case kAudioFormatAppleIMA4:
        return d.mBytesPerPacket == kIma4BytesPerChannelPacket * d.mChannelsPerFrame
            && d.mFramesPerPacket == kIma4FramesPerPacket;
    default:
        return false;
    }
}

uint64_t legacyPacketCount(const AudioStreamBasicDescription& d, size_t blockBytes, uint64_t frames)
{
    if (d.mBytesPerPacket == 0 || d.mFramesPerPacket == 0) {
        return 0;
    }
    return std::min<uint64_t>(frames / d.mFramesPerPacket, blockBytes / d.mBytesPerPacket);
}

bool decodeLegacyPackets(std::span<const uint8_t> block, const AudioStreamBasicDescription& d, uint64_t first,
    uint64_t count, PcmFrames& into)
{
    if (!isDecodableLegacyDescription(d)) {
        return false;
    }
    const uint64_t held = block.size() / d.mBytesPerPacket;
    first = std::min(first, held);
    count = std::min(count, held - first);
    const uint8_t* start = block.data() + first * d.mBytesPerPacket;
    const uint32_t channels = d.mChannelsPerFrame;
    const uint64_t frames = count * d.mFramesPerPacket;
    into.channels = channels;

    if (d.mFormatID == kAudioFormatLinearPCM) {
        PcmFrames decoded = unpackFrames(d, { start }, frames);
        if (decoded.kind != into.kind) {
            makeReal(decoded);
            makeReal(into);
        }
        if (into.kind == PcmFrames::Kind::Integer) {
            into.ints.insert(into.ints.end(), decoded.ints.begin(), decoded.ints.end());
        } else {
            into.reals.insert(into.reals.end(), decoded.reals.begin(), decoded.reals.end());
        }
        return true;
    }

    std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
    if (d.mFormatID == kAudioFormatAppleIMA4) {
        for (uint64_t p = 0; p < count; ++p) {
            for (uint32_t c = 0; c < channels; ++c) {
                const uint8_t* packet = start + p * d.mBytesPerPacket + c * kIma4BytesPerChannelPacket;
                decodeIma4Packet(packet, samples.data() + p * kIma4FramesPerPacket * channels + c, channels);
            }
        }
    } else {
        const bool ulaw = d.mFormatID == kAudioFormatULaw;
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = ulaw ? ulawToLinear(start[i]) : alawToLinear(start[i]);
        }
    }
    if (into.kind == PcmFrames::Kind::Integer) {
        for (const int16_t s : samples) {
            into.ints.push_back(static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(s)) << 16));
        }
    } else {
        for (const int16_t s : samples) {
            into.reals.push_back(s / 32768.0);
        }
    }
    return true;
}

} // namespace rp
