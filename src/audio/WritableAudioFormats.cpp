#include "audio/WritableAudioFormats.h"

#include "audio/SoundFile.h"

namespace rp {

namespace {

AudioStreamBasicDescription encoding(FourCharCode format, uint32_t flags, uint32_t bits)
{
    AudioStreamBasicDescription d;
    d.mFormatID = format;
    d.mFormatFlags = flags;
    d.mBitsPerChannel = bits;
    return d;
}

bool isBigEndianType(FourCharCode type)
{
    return type == kAudioFileAIFFType || type == kAudioFileAIFCType || type == kAudioFileNextType
        || type == kAudioFileCAFType;
}

// Every encoding we know how to name, in menu order; each type keeps those libsndfile accepts.
std::vector<WritableEncoding> candidateEncodings(FourCharCode type)
{
    const uint32_t order = isBigEndianType(type) ? kAudioFormatFlagIsBigEndian : 0u;
    const uint32_t integer = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked | order;
    const uint32_t real = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | order;
    const bool riff = type == kAudioFileWAVEType || type == kAudioFileWave64Type || type == kAudioFileRF64Type;
    // RIFF files store 8-bit samples unsigned.
    const uint32_t eightBit = riff ? (kAudioFormatFlagIsPacked | order) : integer;
    const FourCharCode ima = riff ? kAudioFormatDVIIntelIMA : kAudioFormatAppleIMA4;
    const FourCharCode gsm = riff ? kAudioFormatMicrosoftGSM : kAudioFormatGSM610;
    std::vector<WritableEncoding> all = {
        { "8-bit Integer", "lpcm", encoding(kAudioFormatLinearPCM, eightBit, 8) },
        { "16-bit Integer", "lpcm", encoding(kAudioFormatLinearPCM, integer, 16) },
        { "24-bit Integer", "lpcm", encoding(kAudioFormatLinearPCM, integer, 24) },
        { "32-bit Integer", "lpcm", encoding(kAudioFormatLinearPCM, integer, 32) },
        { "32-bit Float", "float", encoding(kAudioFormatLinearPCM, real, 32) },
        { "64-bit Float", "float", encoding(kAudioFormatLinearPCM, real, 64) },
        { "\xC2\xB5Law", "ulaw", encoding(kAudioFormatULaw, 0, 8) },
        { "aLaw", "alaw", encoding(kAudioFormatALaw, 0, 8) },
        { "IMA 4:1", "ima4", encoding(ima, 0, 0) },
        { "Microsoft ADPCM", "msadpcm", encoding(kAudioFormatMicrosoftADPCM, 0, 0) },
        { "GSM 6.10", "gsm", encoding(gsm, 0, 0) },
        { "FLAC, 16-bit source", "flac", encoding(kAudioFormatFLAC, 1, 0) },
        { "FLAC, 24-bit source", "flac", encoding(kAudioFormatFLAC, 3, 0) },
        { "Apple Lossless, 16-bit source", "alac", encoding(kAudioFormatAppleLossless, 1, 0) },
        { "Apple Lossless, 24-bit source", "alac", encoding(kAudioFormatAppleLossless, 3, 0) },
        { "Apple Lossless, 32-bit source", "alac", encoding(kAudioFormatAppleLossless, 4, 0) },
        { "Vorbis", "vorbis", encoding(kAudioFormatVorbis, 0, 0) },
        { "Opus", "opus", encoding(kAudioFormatOpus, 0, 0) },
        { "MPEG Layer 3", "mp3", encoding(kAudioFormatMPEGLayer3, 0, 0) },
    };
    // The codecs that have a container of their own are offered only there: libsndfile accepts
    // some of their numbers for other containers but would write plain samples.
    std::erase_if(all, [type](const WritableEncoding& e) {
        switch (e.description.mFormatID) {
        case kAudioFormatFLAC:
            return type != kAudioFileFLACType;
        case kAudioFormatMPEGLayer3:
            return type != kAudioFileMP3Type;
        case kAudioFormatVorbis:
        case kAudioFormatOpus:
            return type != kAudioFileOggType;
        case kAudioFormatAppleLossless:
            return type != kAudioFileCAFType;
        default:
            // A FLAC file holds FLAC only.
            return type == kAudioFileFLACType;
        }
    });
    if (type == kAudioFileAIFCType) {
        // libsndfile writes 8-bit samples as a plain AIFF file.
        std::erase_if(all, [](const WritableEncoding& e) {
            return e.description.mFormatID == kAudioFormatLinearPCM && e.description.mBitsPerChannel == 8;
        });
    }
    if (type == kAudioFileAIFFType) {
        // A plain AIFF file holds integers only; everything else makes an AIFF-C file.
        std::erase_if(all, [](const WritableEncoding& e) {
            return e.description.mFormatID != kAudioFormatLinearPCM
                || (e.description.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
        });
    }
    return all;
}

std::vector<WritableFileType> buildTypes()
{
    static const std::pair<FourCharCode, const char*> named[] = {
        { kAudioFileAIFFType, "AIFF" },
        { kAudioFileAIFCType, "AIFF-C" },
        { kAudioFileWAVEType, "WAVE" },
        { kAudioFileNextType, "NeXT/Sun" },
        { kAudioFileCAFType, "CAF" },
        { kAudioFileFLACType, "FLAC" },
        { kAudioFileWave64Type, "Wave64" },
        { kAudioFileRF64Type, "RF64" },
        { kAudioFileOggType, "Ogg" },
        { kAudioFileMP3Type, "MPEG Layer 3" },
    };
    std::vector<WritableFileType> types;
    for (const auto& [type, name] : named) {
        WritableFileType entry { type, name, {} };
        for (auto& candidate : candidateEncodings(type)) {
            if (sndfileFormatForDescription(type, completeDescription(candidate.description, 44100, 2))) {
                entry.encodings.push_back(std::move(candidate));
            }
        }
        if (!entry.encodings.empty()) {
            types.push_back(std::move(entry));
        }
    }
    return types;
}

} // namespace

AudioStreamBasicDescription completeDescription(
    const AudioStreamBasicDescription& encoding, double sampleRate, uint32_t channels)
{
    AudioStreamBasicDescription d = encoding;
    d.mSampleRate = sampleRate;
    d.mChannelsPerFrame = channels;
    if (d.mBitsPerChannel != 0) {
        d.mFramesPerPacket = 1;
        d.mBytesPerFrame = d.mBitsPerChannel * channels / 8;
        d.mBytesPerPacket = d.mBytesPerFrame;
    }
    return d;
}

const std::vector<WritableFileType>& writableAudioFileTypes()
{
    static const std::vector<WritableFileType> types = buildTypes();
    return types;
}

const WritableFileType* writableAudioFileType(FourCharCode type)
{
    for (const auto& entry : writableAudioFileTypes()) {
        if (entry.type == type) {
            return &entry;
        }
    }
    return nullptr;
}

std::vector<WritableEncoding> encodingsForFileType(FourCharCode type, double sampleRate, uint32_t channels)
{
    std::vector<WritableEncoding> result;
    if (const auto* entry = writableAudioFileType(type)) {
        for (WritableEncoding e : entry->encodings) {
            e.description = completeDescription(e.description, sampleRate, channels);
            result.push_back(std::move(e));
        }
    }
    return result;
}

} // namespace rp
