#include "audio/AudioTypes.h"

std::string fourCharCodeString(FourCharCode code)
{
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>((code >> (24 - 8 * i)) & 0xFF);
        if (byte >= 0x20 && byte < 0x7F) {
            text[static_cast<size_t>(i)] = static_cast<char>(byte);
        }
    }
    return text;
}

AudioStreamBasicDescription AudioStreamBasicDescription::bigEndianInteger(
    double sampleRate, uint32_t channels, uint32_t bits)
{
    AudioStreamBasicDescription description;
    description.mSampleRate = sampleRate;
    description.mFormatID = kAudioFormatLinearPCM;
    description.mFormatFlags
        = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked | kAudioFormatFlagIsBigEndian;
    description.mBitsPerChannel = bits;
    description.mChannelsPerFrame = channels;
    description.mBytesPerFrame = bits / 8 * channels;
    description.mBytesPerPacket = description.mBytesPerFrame;
    description.mFramesPerPacket = 1;
    return description;
}

AudioStreamBasicDescription AudioStreamBasicDescription::canonicalFloat(double sampleRate, uint32_t channels)
{
    AudioStreamBasicDescription description;
    description.mSampleRate = sampleRate;
    description.mFormatID = kAudioFormatLinearPCM;
    description.mFormatFlags
        = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    description.mBytesPerPacket = sizeof(float);
    description.mFramesPerPacket = 1;
    description.mBytesPerFrame = sizeof(float);
    description.mChannelsPerFrame = channels;
    description.mBitsPerChannel = 32;
    return description;
}
