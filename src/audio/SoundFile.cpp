#include "audio/SoundFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <fstream>
#include <sndfile.h>

namespace rp {

namespace {

struct TypeEntry {
    FourCharCode type;
    int major;
    std::vector<std::string> extensions; // preferred first
};

// Container types and their libsndfile majors. The platform's own codes where it has them;
// for the rest, a code of our own so that a sound can still be written back in its own type.
const std::vector<TypeEntry>& typeTable()
{
    static const std::vector<TypeEntry> table = {
        { kAudioFileAIFFType, SF_FORMAT_AIFF, { "aiff", "aif" } },
        { kAudioFileAIFCType, SF_FORMAT_AIFF, { "aifc", "aiff", "aif" } },
        { kAudioFileWAVEType, SF_FORMAT_WAV, { "wav", "wave" } },
        { kAudioFileNextType, SF_FORMAT_AU, { "au", "snd" } },
        { kAudioFileCAFType, SF_FORMAT_CAF, { "caf" } },
        { kAudioFileSoundDesigner2Type, SF_FORMAT_SD2, { "sd2" } },
        { kAudioFileFLACType, SF_FORMAT_FLAC, { "flac" } },
        { kAudioFileMP3Type, SF_FORMAT_MPEG, { "mp3", "mpeg" } },
        { kAudioFileMP2Type, SF_FORMAT_MPEG, { "mp2" } },
        { kAudioFileMP1Type, SF_FORMAT_MPEG, { "mp1" } },
        { kAudioFileWave64Type, SF_FORMAT_W64, { "w64" } },
        { kAudioFileRF64Type, SF_FORMAT_RF64, { "rf64" } },
        { kAudioFileOggType, SF_FORMAT_OGG, { "ogg", "oga", "opus" } },
        { fourCharCode("NIST"), SF_FORMAT_NIST, { "nist", "sph" } },
        { fourCharCode("IRCM"), SF_FORMAT_IRCAM, { "sf", "ircam" } },
        { fourCharCode("VOC "), SF_FORMAT_VOC, { "voc" } },
        { fourCharCode("8SVX"), SF_FORMAT_SVX, { "iff", "svx" } },
        { fourCharCode("PAF "), SF_FORMAT_PAF, { "paf" } },
        { fourCharCode("AVR "), SF_FORMAT_AVR, { "avr" } },
        { fourCharCode("MAT4"), SF_FORMAT_MAT4, { "mat" } },
        { fourCharCode("MAT5"), SF_FORMAT_MAT5, { "mat" } },
        { fourCharCode("PVF "), SF_FORMAT_PVF, { "pvf" } },
        { fourCharCode("XI  "), SF_FORMAT_XI, { "xi" } },
        { fourCharCode("HTK "), SF_FORMAT_HTK, { "htk" } },
        { fourCharCode("SDS "), SF_FORMAT_SDS, { "sds" } },
        { fourCharCode("WVE "), SF_FORMAT_WVE, { "wve" } },
        { fourCharCode("MPC "), SF_FORMAT_MPC2K, { "mpc" } },
    };
    return table;
}

int subtypeOf(int format)
{
    return format & SF_FORMAT_SUBMASK;
}
int majorOf(int format)
{
    return format & SF_FORMAT_TYPEMASK;
}

// Bits of the source data that lossless codecs report in their format flags (1 = 16-bit,
// 2 = 20-bit, 3 = 24-bit, 4 = 32-bit source data), as the platform does.
uint32_t losslessSourceFlag(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
        return 1;
    case SF_FORMAT_ALAC_20:
        return 2;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
        return 4;
    default:
        return 0;
    }
}

FourCharCode readFormType(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::array<unsigned char, 12> head {};
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) {
        return 0;
    }
    if (head[0] != 'F' || head[1] != 'O' || head[2] != 'R' || head[3] != 'M') {
        return 0;
    }
    return (static_cast<uint32_t>(head[8]) << 24) | (static_cast<uint32_t>(head[9]) << 16)
        | (static_cast<uint32_t>(head[10]) << 8) | head[11];
}

} // namespace

FourCharCode fileTypeForSndfileFormat(int sndfileFormat, FourCharCode formType)
{
    const int major = majorOf(sndfileFormat);
    switch (major) {
    case SF_FORMAT_AIFF:
        return formType == kAudioFileAIFCType ? kAudioFileAIFCType : kAudioFileAIFFType;
    case SF_FORMAT_WAVEX:
        return kAudioFileWAVEType;
    case SF_FORMAT_MPEG:
        switch (subtypeOf(sndfileFormat)) {
        case SF_FORMAT_MPEG_LAYER_I:
            return kAudioFileMP1Type;
        case SF_FORMAT_MPEG_LAYER_II:
            return kAudioFileMP2Type;
        default:
            return kAudioFileMP3Type;
        }
    default:
        break;
    }
    for (const auto& entry : typeTable()) {
        if (entry.major == major) {
            return entry.type;
        }
    }
    return 0;
}

std::optional<int> sndfileMajorForFileType(FourCharCode fileType)
{
    for (const auto& entry : typeTable()) {
        if (entry.type == fileType) {
            return entry.major;
        }
    }
    return std::nullopt;
}

std::vector<std::string> extensionsForFileType(FourCharCode fileType)
{
    for (const auto& entry : typeTable()) {
        if (entry.type == fileType) {
            return entry.extensions;
        }
    }
    return {};
}

std::vector<std::string> readableExtensions()
{
    std::vector<std::string> result;
    auto add = [&result](const std::string& extension) {
        if (!extension.empty() && std::find(result.begin(), result.end(), extension) == result.end()) {
            result.push_back(extension);
        }
    };
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info {};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0) {
            continue;
        }
        if (majorOf(info.format) == SF_FORMAT_RAW) {
            continue; // header-less data cannot be opened by name alone
        }
        bool known = false;
        for (const auto& entry : typeTable()) {
            if (entry.major == majorOf(info.format)) {
                known = true;
                for (const auto& extension : entry.extensions) {
                    add(extension);
                }
            }
        }
        if (!known && info.extension) {
            add(info.extension);
        }
    }
    return result;
}

bool sndfileDecodesToIntegers(int sndfileFormat)
{
    switch (subtypeOf(sndfileFormat)) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return false;
    default:
        return true;
    }
}

AudioStreamBasicDescription describeSndfileData(
    int sndfileFormat, uint32_t channels, double sampleRate, bool bigEndian)
{
    AudioStreamBasicDescription d;
    d.mSampleRate = sampleRate;
    d.mChannelsPerFrame = channels;
    const int major = majorOf(sndfileFormat);
    const int subtype = subtypeOf(sndfileFormat);
    auto linear = [&](uint32_t bits, uint32_t flags) {
        d.mFormatID = kAudioFormatLinearPCM;
        d.mFormatFlags = flags | kAudioFormatFlagIsPacked | (bigEndian ? kAudioFormatFlagIsBigEndian : 0);
        d.mBitsPerChannel = bits;
        d.mBytesPerFrame = bits / 8 * channels;
        d.mBytesPerPacket = d.mBytesPerFrame;
        d.mFramesPerPacket = 1;
    };
    if (major == SF_FORMAT_FLAC) {
        d.mFormatID = kAudioFormatFLAC;
        d.mFormatFlags = losslessSourceFlag(subtype);
        return d;
    }
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
        linear(8, kAudioFormatFlagIsSignedInteger);
        break;
    case SF_FORMAT_PCM_U8:
        linear(8, 0);
        break;
    case SF_FORMAT_PCM_16:
        linear(16, kAudioFormatFlagIsSignedInteger);
        break;
    case SF_FORMAT_PCM_24:
        linear(24, kAudioFormatFlagIsSignedInteger);
        break;
    case SF_FORMAT_PCM_32:
        linear(32, kAudioFormatFlagIsSignedInteger);
        break;
    case SF_FORMAT_FLOAT:
        linear(32, kAudioFormatFlagIsFloat);
        break;
    case SF_FORMAT_DOUBLE:
        linear(64, kAudioFormatFlagIsFloat);
        break;
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        d.mFormatID = subtype == SF_FORMAT_ULAW ? kAudioFormatULaw : kAudioFormatALaw;
        d.mBitsPerChannel = 8;
        d.mBytesPerFrame = channels;
        d.mBytesPerPacket = channels;
        d.mFramesPerPacket = 1;
        break;
    case SF_FORMAT_IMA_ADPCM:
        if (major == SF_FORMAT_AIFF || major == SF_FORMAT_CAF) {
            d.mFormatID = kAudioFormatAppleIMA4;
            d.mBytesPerPacket = 34 * channels;
            d.mFramesPerPacket = 64;
        } else {
            d.mFormatID = kAudioFormatDVIIntelIMA;
        }
        break;
    case SF_FORMAT_MS_ADPCM:
        d.mFormatID = kAudioFormatMicrosoftADPCM;
        break;
    case SF_FORMAT_GSM610:
        d.mFormatID = major == SF_FORMAT_WAV ? kAudioFormatMicrosoftGSM : kAudioFormatGSM610;
        d.mFramesPerPacket = 160;
        d.mBytesPerPacket = 33;
        break;
    case SF_FORMAT_ALAC_16:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32:
        d.mFormatID = kAudioFormatAppleLossless;
        d.mFormatFlags = losslessSourceFlag(subtype);
        d.mFramesPerPacket = 4096;
        break;
    case SF_FORMAT_VORBIS:
        d.mFormatID = kAudioFormatVorbis;
        break;
    case SF_FORMAT_OPUS:
        d.mFormatID = kAudioFormatOpus;
        d.mFramesPerPacket = 960;
        break;
    case SF_FORMAT_MPEG_LAYER_I:
        d.mFormatID = kAudioFormatMPEGLayer1;
        d.mFramesPerPacket = 384;
        break;
    case SF_FORMAT_MPEG_LAYER_II:
        d.mFormatID = kAudioFormatMPEGLayer2;
        d.mFramesPerPacket = 1152;
        break;
    case SF_FORMAT_MPEG_LAYER_III:
        d.mFormatID = kAudioFormatMPEGLayer3;
        d.mFramesPerPacket = 1152;
        break;
    default:
        break; // other codecs have no platform format ID
    }
    return d;
}

std::optional<int> sndfileFormatForDescription(FourCharCode fileType, const AudioStreamBasicDescription& d)
{
    const auto major = sndfileMajorForFileType(fileType);
    if (!major || !isPlausibleSourceFormat(d.mSampleRate, d.mChannelsPerFrame)) {
        return std::nullopt;
    }
    const bool riff = *major == SF_FORMAT_WAV || *major == SF_FORMAT_W64 || *major == SF_FORMAT_RF64;
    int subtype = 0;
    int endian = SF_ENDIAN_FILE;
    switch (d.mFormatID) {
    case kAudioFormatLinearPCM: {
        const bool isFloat = (d.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
        const bool isSigned = (d.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0;
        if (isFloat) {
            subtype = d.mBitsPerChannel == 32 ? SF_FORMAT_FLOAT
                : d.mBitsPerChannel == 64     ? SF_FORMAT_DOUBLE
                                              : 0;
        } else if (d.mBitsPerChannel == 8) {
            subtype = (isSigned && !riff) ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_U8;
        } else if (d.mBitsPerChannel == 16) {
            subtype = SF_FORMAT_PCM_16;
        } else if (d.mBitsPerChannel == 24) {
            subtype = SF_FORMAT_PCM_24;
        } else if (d.mBitsPerChannel == 32) {
            subtype = SF_FORMAT_PCM_32;
        }
        // libsndfile writes plain AIFF for big-endian integers in the file's own byte order, and
        // AIFF-C when a byte order is named; CAF takes either order.
        const bool bigEndian = (d.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0;
        if (*major == SF_FORMAT_CAF || fileType == kAudioFileAIFCType
            || (*major == SF_FORMAT_AIFF && !bigEndian)) {
            endian = bigEndian ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE;
        }
        break;
    }
    case kAudioFormatULaw:
        subtype = SF_FORMAT_ULAW;
        break;
    case kAudioFormatALaw:
        subtype = SF_FORMAT_ALAW;
        break;
    case kAudioFormatAppleIMA4:
    case kAudioFormatDVIIntelIMA:
        subtype = SF_FORMAT_IMA_ADPCM;
        break;
    case kAudioFormatMicrosoftADPCM:
        subtype = SF_FORMAT_MS_ADPCM;
        break;
    case kAudioFormatGSM610:
    case kAudioFormatMicrosoftGSM:
        subtype = SF_FORMAT_GSM610;
        break;
    case kAudioFormatFLAC:
        subtype = d.mFormatFlags >= 2 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16;
        break;
    case kAudioFormatAppleLossless: {
        static constexpr int alac[] = { SF_FORMAT_ALAC_16, SF_FORMAT_ALAC_16, SF_FORMAT_ALAC_20,
            SF_FORMAT_ALAC_24, SF_FORMAT_ALAC_32 };
        subtype = alac[std::min<uint32_t>(d.mFormatFlags, 4)];
        break;
    }
    case kAudioFormatVorbis:
        subtype = SF_FORMAT_VORBIS;
        break;
    case kAudioFormatOpus:
        subtype = SF_FORMAT_OPUS;
        break;
    case kAudioFormatMPEGLayer3:
        subtype = SF_FORMAT_MPEG_LAYER_III;
        break;
    case kAudioFormatMPEGLayer2:
        subtype = SF_FORMAT_MPEG_LAYER_II;
        break;
    default:
        break;
    }
    if (subtype == 0) {
        return std::nullopt;
    }
    SF_INFO info {};
    info.samplerate = static_cast<int>(d.mSampleRate);
    info.channels = static_cast<int>(d.mChannelsPerFrame);
    for (const int order : { endian, static_cast<int>(SF_ENDIAN_FILE) }) {
        info.format = *major | subtype | order;
        if (sf_format_check(&info)) {
            return info.format;
        }
    }
    return std::nullopt;
}

// ---- reading -------------------------------------------------------------------------------

std::unique_ptr<SoundFileReader> SoundFileReader::open(const std::filesystem::path& path, int* status)
{
    SF_INFO info {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        *status = sf_error(nullptr);
        if (*status == SF_ERR_NO_ERROR) {
            *status = SF_ERR_UNRECOGNISED_FORMAT;
        }
        return nullptr;
    }
    std::unique_ptr<SoundFileReader> reader(new SoundFileReader);
    reader->file_ = file;
    reader->sndfileFormat_ = info.format;
    reader->channels_ = info.channels > 0 ? static_cast<uint32_t>(info.channels) : 0;
    reader->lengthFrames_ = info.frames;
    FourCharCode formType = 0;
    if (majorOf(info.format) == SF_FORMAT_AIFF) {
        formType = readFormType(path);
    }
    reader->fileType_ = fileTypeForSndfileFormat(info.format, formType);
    bool bigEndian = false;
    const int subtype = subtypeOf(info.format);
    if (subtype >= SF_FORMAT_PCM_S8 && subtype <= SF_FORMAT_DOUBLE) {
        // The host is little-endian: data that needs swapping is stored big-endian.
        bigEndian = sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
        if constexpr (std::endian::native == std::endian::big) {
            bigEndian = !bigEndian;
        }
    }
    reader->dataFormat_ = describeSndfileData(
        info.format, reader->channels_, static_cast<double>(info.samplerate), bigEndian);
    // Float data read as doubles keeps its value; integers read as doubles are divided by 2^(bits-1).
    sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    *status = 0;
    return reader;
}

SoundFileReader::~SoundFileReader()
{
    if (file_) {
        sf_close(file_);
    }
}

bool SoundFileReader::seek(uint64_t frame, int* status)
{
    if (frame == 0) {
        return true; // where a freshly opened file stands; some codecs cannot seek at all
    }
    if (sf_seek(file_, static_cast<sf_count_t>(frame), SEEK_SET) < 0) {
        *status = sf_error(file_);
        if (*status == 0) {
            *status = SF_ERR_UNSUPPORTED_ENCODING;
        }
        return false;
    }
    return true;
}

uint64_t SoundFileReader::read(PcmFrames& into, uint64_t frames)
{
    constexpr uint64_t kChunkFrames = 16384;
    into.channels = channels_;
    if (channels_ == 0) {
        return 0;
    }
    uint64_t total = 0;
    while (total < frames) {
        const uint64_t want = std::min(kChunkFrames, frames - total);
        const size_t samples = static_cast<size_t>(want) * channels_;
        sf_count_t got = 0;
        if (into.kind == PcmFrames::Kind::Integer) {
            const size_t at = into.ints.size();
            into.ints.resize(at + samples);
            got = sf_readf_int(file_, into.ints.data() + at, static_cast<sf_count_t>(want));
            into.ints.resize(at + static_cast<size_t>(std::max<sf_count_t>(got, 0)) * channels_);
        } else {
            const size_t at = into.reals.size();
            into.reals.resize(at + samples);
            got = sf_readf_double(file_, into.reals.data() + at, static_cast<sf_count_t>(want));
            into.reals.resize(at + static_cast<size_t>(std::max<sf_count_t>(got, 0)) * channels_);
        }
        if (got <= 0) {
            break;
        }
        total += static_cast<uint64_t>(got);
    }
    return total;
}

int SoundFileReader::lastError() const
{
    return sf_error(file_);
}

// ---- writing -------------------------------------------------------------------------------

std::unique_ptr<SoundFileWriter> SoundFileWriter::create(const std::filesystem::path& path,
    FourCharCode fileType, const AudioStreamBasicDescription& description, int* status)
{
    const auto format = sndfileFormatForDescription(fileType, description);
    if (!format) {
        *status = kSoundFileUnsupportedFormat;
        return nullptr;
    }
    SF_INFO info {};
    info.format = *format;
    info.samplerate = static_cast<int>(description.mSampleRate);
    info.channels = static_cast<int>(description.mChannelsPerFrame);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        *status = sf_error(nullptr);
        if (*status == SF_ERR_NO_ERROR) {
            *status = SF_ERR_SYSTEM;
        }
        return nullptr;
    }
    // Reals beyond full scale are clipped rather than wrapped round.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::unique_ptr<SoundFileWriter> writer(new SoundFileWriter);
    writer->file_ = file;
    writer->channels_ = description.mChannelsPerFrame;
    *status = 0;
    return writer;
}

SoundFileWriter::~SoundFileWriter()
{
    close();
}

bool SoundFileWriter::write(const PcmFrames& frames, int* status)
{
    if (!file_ || frames.channels != channels_) {
        *status = SF_ERR_UNSUPPORTED_ENCODING;
        return false;
    }
    const auto count = static_cast<sf_count_t>(frames.frames());
    sf_count_t written = 0;
    if (frames.kind == PcmFrames::Kind::Integer) {
        written = sf_writef_int(file_, frames.ints.data(), count);
    } else {
        written = sf_writef_double(file_, frames.reals.data(), count);
    }
    if (written != count) {
        *status = sf_error(file_);
        if (*status == 0) {
            *status = SF_ERR_SYSTEM;
        }
        return false;
    }
    return true;
}

int SoundFileWriter::close()
{
    int status = 0;
    if (file_) {
        status = sf_close(file_);
        file_ = nullptr;
    }
    return status;
}

} // namespace rp
