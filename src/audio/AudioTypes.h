#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The audio engine's shared vocabulary: four-character codes, the 40-byte stream description
// that says how samples are laid out, and the buffer list handed from a sound to the mixer.

using FourCharCode = uint32_t;

constexpr FourCharCode fourCharCode(const char (&text)[5])
{
    return (static_cast<uint32_t>(static_cast<unsigned char>(text[0])) << 24)
        | (static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 16)
        | (static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 8)
        | static_cast<uint32_t>(static_cast<unsigned char>(text[3]));
}

// "AIFF" from 0x41494646; non-printable bytes come out as '?'.
std::string fourCharCodeString(FourCharCode code);

// Container types.
constexpr FourCharCode kAudioFileAIFFType = fourCharCode("AIFF");
constexpr FourCharCode kAudioFileAIFCType = fourCharCode("AIFC");
constexpr FourCharCode kAudioFileWAVEType = fourCharCode("WAVE");
constexpr FourCharCode kAudioFileNextType = fourCharCode("NeXT");
constexpr FourCharCode kAudioFileCAFType = fourCharCode("caff");
constexpr FourCharCode kAudioFileSoundDesigner2Type = fourCharCode("Sd2f");
constexpr FourCharCode kAudioFileFLACType = fourCharCode("flac");
constexpr FourCharCode kAudioFileMP3Type = fourCharCode("MPG3");
constexpr FourCharCode kAudioFileWave64Type = fourCharCode("W64f");
constexpr FourCharCode kAudioFileRF64Type = fourCharCode("RF64");

// Sample formats.
constexpr FourCharCode kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr FourCharCode kAudioFormatULaw = fourCharCode("ulaw");
constexpr FourCharCode kAudioFormatALaw = fourCharCode("alaw");
constexpr FourCharCode kAudioFormatAppleIMA4 = fourCharCode("ima4");
constexpr FourCharCode kAudioFormatFLAC = fourCharCode("flac");
constexpr FourCharCode kAudioFormatMPEGLayer3 = fourCharCode(".mp3");

// Format flags of linear PCM.
constexpr uint32_t kAudioFormatFlagIsFloat = 1u << 0;
constexpr uint32_t kAudioFormatFlagIsBigEndian = 1u << 1;
constexpr uint32_t kAudioFormatFlagIsSignedInteger = 1u << 2;
constexpr uint32_t kAudioFormatFlagIsPacked = 1u << 3;
constexpr uint32_t kAudioFormatFlagIsAlignedHigh = 1u << 4;
constexpr uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;

// The 40-byte stream description. Two descriptions are equal when all 40 bytes are.
struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    FourCharCode mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;

    bool operator==(const AudioStreamBasicDescription& other) const
    {
        return std::memcmp(this, &other, sizeof(AudioStreamBasicDescription)) == 0;
    }
    bool isNonInterleaved() const { return (mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0; }

    // The mixer's own format: 32-bit float, one buffer per channel.
    static AudioStreamBasicDescription canonicalFloat(double sampleRate, uint32_t channels);
    // Packed, interleaved, big-endian signed integers: what AIFF files hold.
    static AudioStreamBasicDescription bigEndianInteger(double sampleRate, uint32_t channels, uint32_t bits);
};
static_assert(sizeof(AudioStreamBasicDescription) == 40, "stream descriptions are 40 bytes");

// One buffer of a buffer list: how many interleaved channels it holds, its size and its memory.
struct AudioBuffer {
    uint32_t mNumberChannels = 0;
    uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

// A buffer list: one entry per channel for non-interleaved formats, one entry otherwise.
// The memory the entries point to is owned by whoever handed out the list (the sound).
struct AudioBufferList {
    std::vector<AudioBuffer> mBuffers;

    uint32_t mNumberBuffers() const { return static_cast<uint32_t>(mBuffers.size()); }
};
