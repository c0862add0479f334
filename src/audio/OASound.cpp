#include "audio/OASound.h"

#include "audio/LegacySampleDecoder.h"
#include "audio/SampleConversion.h"
#include "audio/SoundFile.h"
#include "foundation/Error.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <system_error>

namespace {

// The platform's domain for numeric status codes.
constexpr const char* kOSStatusErrorDomain = "NSOSStatusErrorDomain";
// "wht?": an unspecified failure of the audio-file service.
constexpr int kAudioFileUnspecifiedError = static_cast<int>(fourCharCode("wht?"));

std::string urlText(const std::filesystem::path& path)
{
    return rp::fileURLFromPath(path.string());
}

std::string format(const char* text, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* text, ...)
{
    va_list args;
    va_start(args, text);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, text, copy);
    va_end(copy);
    std::string result(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(result.data(), result.size() + 1, text, args);
    }
    va_end(args);
    return result;
}

// Whether the source's samples are integers, so that a lossless copy of them travels as integers.
bool sourceHoldsIntegers(const AudioStreamBasicDescription& d)
{
    switch (d.mFormatID) {
    case kAudioFormatLinearPCM:
        return (d.mFormatFlags & kAudioFormatFlagIsFloat) == 0;
    case kAudioFormatULaw:
    case kAudioFormatALaw:
    case kAudioFormatAppleIMA4:
    case kAudioFormatFLAC:
    case rp::kAudioFormatAppleLossless:
    case rp::kAudioFormatDVIIntelIMA:
    case rp::kAudioFormatMicrosoftADPCM:
    case rp::kAudioFormatGSM610:
    case rp::kAudioFormatMicrosoftGSM:
        return true;
    default:
        return false;
    }
}

// Interleaved linear PCM that holds the source's samples without loss: 32-bit integers for
// integer sources, 64-bit floats otherwise.
AudioStreamBasicDescription losslessCarrier(double sampleRate, uint32_t channels, bool integers)
{
    AudioStreamBasicDescription d;
    d.mSampleRate = sampleRate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags
        = (integers ? kAudioFormatFlagIsSignedInteger : kAudioFormatFlagIsFloat) | kAudioFormatFlagIsPacked;
    d.mBitsPerChannel = integers ? 32 : 64;
    d.mBytesPerFrame = d.mBitsPerChannel / 8 * channels;
    d.mBytesPerPacket = d.mBytesPerFrame;
    d.mFramesPerPacket = 1;
    d.mChannelsPerFrame = channels;
    return d;
}

} // namespace

OASound::OASound()
{
    buffers_.reserve(2);
}

OASound::OASound(const std::filesystem::path& url)
    : OASound()
{
    setSoundFileURL(url);
}

OASound::~OASound()
{
    flushBuffers();
}

// ---- the source -----------------------------------------------------------------------------

void OASound::setSoundFileURL(const std::optional<std::filesystem::path>& url)
{
    soundFileURL_ = url;
    flushBuffers();
    if (!url) {
        return;
    }
    int status = 0;
    auto reader = rp::SoundFileReader::open(*url, &status);
    if (!reader) {
        rp::logf("OASound: error %d trying to open %s", status, urlText(*url).c_str());
        return;
    }
    const AudioStreamBasicDescription& dataFormat = reader->dataFormat();
    if (!rp::isPlausibleSourceFormat(dataFormat.mSampleRate, dataFormat.mChannelsPerFrame)) {
        rp::logf("OASound: error %d trying to fetch kExtAudioFileProperty_FileDataFormat for %s",
            rp::kSoundFileUnsupportedFormat, urlText(*url).c_str());
        return;
    }
    if (reader->lengthFrames() < 0) {
        rp::logf("OASound: error %d trying to fetch kExtAudioFileProperty_FileLengthFrames for %s",
            reader->lastError(), urlText(*url).c_str());
        return;
    }
    diskAudioDesc_ = dataFormat;
    sourceLengthFrames_ = std::min<uint64_t>(static_cast<uint64_t>(reader->lengthFrames()), kMaximumFrames);
    audioFileType_ = reader->fileType();
    legacySndfileFormat_
        = legacyFormatForFileType(audioFileType_, dataFormat.mFormatID, dataFormat.mBitsPerChannel);
    updateTrimmedFrames();
}

bool OASound::setLegacyPackedBuffer(std::shared_ptr<const std::vector<uint8_t>> block, int64_t sfFormat,
    int64_t frames, double sampleRate, uint32_t channels)
{
    if (!block || !rp::isPlausibleSourceFormat(sampleRate, channels)) {
        rp::logf("OASound: refusing embedded sample block of %u channels at %f Hz", channels, sampleRate);
        return false;
    }
    flushBuffers();
    legacyPackedBuffer_ = std::move(block);
    diskAudioDesc_ = rp::legacyBlockDescription(sfFormat, sampleRate, channels);
    audioFileType_ = kAudioFileAIFFType;
    legacySndfileFormat_ = sfFormat;
    uint64_t length = frames < 0 ? 0 : std::min<uint64_t>(static_cast<uint64_t>(frames), kMaximumFrames);
    if (rp::isDecodableLegacyDescription(diskAudioDesc_)) {
        // A block shorter than its recorded length holds only the frames that are really there.
        length = std::min<uint64_t>(length,
            rp::legacyPacketCount(diskAudioDesc_, legacyPackedBuffer_->size(), length)
                * diskAudioDesc_.mFramesPerPacket);
    }
    sourceLengthFrames_ = length;
    updateTrimmedFrames();
    return true;
}

void OASound::setFrameOffset(uint64_t offset)
{
    frameOffset_ = offset;
    updateTrimmedFrames();
}

void OASound::setFrameCount(uint64_t count)
{
    frameCount_ = count;
    updateTrimmedFrames();
}

void OASound::updateTrimmedFrames()
{
    // An offset at or past the end leaves nothing (rather than wrapping round to a huge count).
    uint64_t count = frameOffset_ >= sourceLengthFrames_ ? 0 : sourceLengthFrames_ - frameOffset_;
    if (frameCount_ != 0) {
        count = std::min(count, frameCount_);
    }
    diskFrames_ = count;
}

// ---- derived properties ---------------------------------------------------------------------

double OASound::duration() const
{
    return diskAudioDesc_.mSampleRate > 0 ? static_cast<double>(diskFrames_) / diskAudioDesc_.mSampleRate
                                          : 0.0;
}

uint64_t OASound::loadedFrames() const
{
    if (!(diskAudioDesc_.mSampleRate > 0) || !(workingAudioDesc_.mSampleRate > 0)) {
        return 0;
    }
    if (workingAudioDesc_.mSampleRate == diskAudioDesc_.mSampleRate) {
        return diskFrames_;
    }
    const double frames
        = static_cast<double>(diskFrames_) * workingAudioDesc_.mSampleRate / diskAudioDesc_.mSampleRate;
    if (!(frames < 9.0e18)) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(frames);
}

std::string OASound::name() const
{
    if (soundFileURL_) {
        return soundFileURL_->filename().string();
    }
    if (!name_.empty()) {
        return name_;
    }
    return rp::localized("untitled");
}

std::string OASound::description() const
{
    return format("%s: %d channels of %ld samples at %f Hz", name().c_str(), static_cast<int>(channels()),
        static_cast<long>(diskFrames_), static_cast<double>(sampleRate()));
}

// ---- decoding -------------------------------------------------------------------------------

const AudioBufferList* OASound::bufferListWithAudioStreamDescription(
    const AudioStreamBasicDescription& description)
{
    if (bufferList_ && description == workingAudioDesc_) {
        return bufferList_.get();
    }
    workingAudioDesc_ = description;
    if (!reloadBuffers()) {
        return nullptr;
    }
    return bufferList_.get();
}

void OASound::flushBuffers()
{
    bufferList_.reset();
    buffers_.clear();
}

bool OASound::reloadBuffers()
{
    // Every setter keeps the trimmed length current, so decoding only reads it: the player asks a
    // sound's duration on its own thread while the main thread may be decoding the same sound.
    flushBuffers();
    std::string failure;
    const bool loaded = [&] {
        if (!soundFileURL_ && !legacyPackedBuffer_) {
            failure = "there is no sound data source to load!";
            return false;
        }
        const AudioStreamBasicDescription& working = workingAudioDesc_;
        const uint64_t frames = loadedFrames();
        const uint32_t bufferCount = working.isNonInterleaved() ? working.mChannelsPerFrame : 1;
        if (rp::isSupportedPcmLayout(working)) {
            // Refuse what no sound should need before anything is allocated: the working copy and
            // the frames decoded on the way there (at either rate, with either channel count) are
            // both bounded.
            const uint64_t widest = std::max<uint32_t>(
                std::max<uint32_t>(diskAudioDesc_.mChannelsPerFrame, working.mChannelsPerFrame), 1);
            const uint64_t longest = std::max(frames, diskFrames_);
            const uint64_t workingBytes = frames > rp::kMaximumDecodedBytes
                ? UINT64_MAX
                : frames * working.mBytesPerFrame * bufferCount;
            const uint64_t carrierBytes
                = longest > rp::kMaximumDecodedBytes ? UINT64_MAX : longest * widest * sizeof(double);
            if (workingBytes > rp::kMaximumDecodedBytes || carrierBytes > rp::kMaximumDecodedBytes) {
                failure = format("failed to alloc %" PRIu64 " bytes for buffer list",
                    std::max(workingBytes, carrierBytes));
                return false;
            }
            try {
                auto list = std::make_unique<AudioBufferList>();
                list->mBuffers.resize(bufferCount);
                for (uint32_t i = 0; i < bufferCount; ++i) {
                    const uint64_t bytes = frames * working.mBytesPerFrame;
                    buffers_.emplace_back(static_cast<size_t>(bytes));
                    list->mBuffers[i].mNumberChannels
                        = working.isNonInterleaved() ? 1 : working.mChannelsPerFrame;
                    list->mBuffers[i].mDataByteSize = static_cast<uint32_t>(bytes);
                    list->mBuffers[i].mData = buffers_.back().data();
                }
                bufferList_ = std::move(list);
            } catch (const std::bad_alloc&) {
                failure = format("failed to alloc %" PRIu64 " bytes for %ld samples on channel %d",
                    frames * working.mBytesPerFrame, static_cast<long>(frames),
                    static_cast<int>(buffers_.size()));
                return false;
            }
        }
        return soundFileURL_ ? loadFromFile(failure) : loadFromLegacyBlock(failure);
    }();
    if (!loaded) {
        rp::logf("OASound: %s", failure.c_str());
        flushBuffers();
        return false;
    }
    return true;
}

bool OASound::deliverFrames(rp::PcmFrames& frames, double sourceRate, std::string& failure)
{
    const AudioStreamBasicDescription& working = workingAudioDesc_;
    const uint64_t wanted = loadedFrames();
    frames = rp::mapChannels(std::move(frames), working.mChannelsPerFrame);
    if (working.mSampleRate != sourceRate) {
        std::string error;
        if (!rp::resampleFrames(frames, working.mSampleRate / sourceRate, wanted, &error)) {
            failure = format("error %x attempting to convert audio buffer", rp::kSoundFileUnsupportedFormat);
            return false;
        }
    } else {
        rp::fitFrames(frames, wanted);
    }
    std::vector<uint8_t*> destinations;
    for (auto& buffer : buffers_) {
        destinations.push_back(buffer.data());
    }
    rp::packFrames(frames, working, destinations, wanted);
    return true;
}

bool OASound::loadFromFile(std::string& failure)
{
    const std::filesystem::path& url = *soundFileURL_;
    int status = 0;
    auto reader = rp::SoundFileReader::open(url, &status);
    if (!reader) {
        failure = format("error %d re-opening file %s", status, urlText(url).c_str());
        return false;
    }
    const double sourceRate = reader->dataFormat().mSampleRate;
    const AudioStreamBasicDescription& working = workingAudioDesc_;
    // The file may have been replaced since it was opened: its format must still be one we take,
    // with no more channels than the allocation bound above allowed for.
    if (!rp::isPlausibleSourceFormat(sourceRate, reader->dataFormat().mChannelsPerFrame)
        || reader->dataFormat().mChannelsPerFrame > std::max<uint32_t>(diskAudioDesc_.mChannelsPerFrame, 1)) {
        failure = format("error %x trying to set client data format.", rp::kSoundFileUnsupportedFormat);
        return false;
    }
    // The file service converts format, channel count and sample rate on the way in.
    if (!rp::isSupportedPcmLayout(working) || !(sourceRate > 0)
        || (working.mSampleRate != sourceRate
            && !rp::isConvertibleRateRatio(working.mSampleRate / sourceRate))) {
        failure = format("error %x trying to set client data format.", rp::kSoundFileUnsupportedFormat);
        return false;
    }
    rp::PcmFrames frames;
    frames.kind = rp::wantsIntegerCarrier(working, sourceRate) && reader->decodesToIntegers()
        ? rp::PcmFrames::Kind::Integer
        : rp::PcmFrames::Kind::Real;
    frames.channels = std::max<uint32_t>(reader->dataFormat().mChannelsPerFrame, 1);
    if (diskFrames_ > 0) {
        if (!reader->seek(frameOffset_, &status)) {
            failure = format("read returned %d after loading %u of %u converted frames", status, 0u,
                static_cast<unsigned>(loadedFrames()));
            return false;
        }
        const uint64_t got = reader->read(frames, diskFrames_);
        if (got < diskFrames_) {
            const double ratio = working.mSampleRate / sourceRate;
            failure = format("read returned %d after loading %u of %u converted frames", reader->lastError(),
                static_cast<unsigned>(static_cast<double>(got) * ratio),
                static_cast<unsigned>(loadedFrames()));
            return false;
        }
    }
    return deliverFrames(frames, sourceRate, failure);
}

bool OASound::loadFromLegacyBlock(std::string& failure)
{
    const AudioStreamBasicDescription& source = diskAudioDesc_;
    const AudioStreamBasicDescription& working = workingAudioDesc_;
    if (!rp::isDecodableLegacyDescription(source) || !rp::isSupportedPcmLayout(working)) {
        failure = format("error %x creating audio converter", rp::kSoundFileUnsupportedFormat);
        return false;
    }
    if (working.mSampleRate != source.mSampleRate
        && !rp::isConvertibleRateRatio(working.mSampleRate / source.mSampleRate)) {
        failure = format("error %x setting prime mode on converter", rp::kSoundFileUnsupportedFormat);
        return false;
    }
    rp::PcmFrames frames;
    frames.kind = rp::wantsIntegerCarrier(working, source.mSampleRate)
            && (source.mFormatFlags & kAudioFormatFlagIsFloat) == 0
        ? rp::PcmFrames::Kind::Integer
        : rp::PcmFrames::Kind::Real;
    frames.channels = source.mChannelsPerFrame;
    // The converter's input: hand out the block packet by packet from the current index, only
    // the packets that hold the trimmed frames.
    const uint64_t packets = rp::legacyPacketCount(source, legacyPackedBuffer_->size(), sourceLengthFrames_);
    const uint64_t framesPerPacket = source.mFramesPerPacket;
    const uint64_t firstPacket = diskFrames_ == 0 ? packets : frameOffset_ / framesPerPacket;
    const uint64_t endPacket = diskFrames_ == 0
        ? packets
        : std::min(packets, (frameOffset_ + diskFrames_ + framesPerPacket - 1) / framesPerPacket);
    constexpr uint64_t kPacketsPerFill = 4096;
    legacyBufferPacketIndex_ = static_cast<uint32_t>(firstPacket);
    while (legacyBufferPacketIndex_ < endPacket) {
        const uint64_t count = std::min(kPacketsPerFill, endPacket - legacyBufferPacketIndex_);
        if (!rp::decodeLegacyPackets(*legacyPackedBuffer_, source, legacyBufferPacketIndex_, count, frames)) {
            failure = format("error %x attempting to convert audio buffer", rp::kSoundFileUnsupportedFormat);
            return false;
        }
        legacyBufferPacketIndex_ += static_cast<uint32_t>(count);
    }
    rp::sliceFrames(frames, diskFrames_ == 0 ? 0 : frameOffset_ - firstPacket * framesPerPacket, diskFrames_);
    return deliverFrames(frames, source.mSampleRate, failure);
}

// ---- writing --------------------------------------------------------------------------------

bool OASound::writeToURL(const std::filesystem::path& url, FourCharCode fileType,
    const AudioStreamBasicDescription& description, rp::Error* error)
{
    std::string failure;
    std::optional<rp::Error> failureError;
    auto osStatus = [](int code) {
        rp::Error e;
        e.domain = kOSStatusErrorDomain;
        e.code = code;
        e.description = format("The operation couldn't be completed. (OSStatus error %d.)", code);
        return e;
    };

    std::error_code exists;
    if (soundFileURL_ && std::filesystem::is_regular_file(*soundFileURL_, exists)
        && audioFileType_ == fileType && diskAudioDesc_ == description) {
        std::error_code copyError;
        std::filesystem::copy_file(
            *soundFileURL_, url, std::filesystem::copy_options::overwrite_existing, copyError);
        if (copyError) {
            rp::Error e = rp::Error::posix(copyError.value(), url.string());
            failure = format("error copying file %s to %s: %s", urlText(*soundFileURL_).c_str(),
                urlText(url).c_str(), e.text().c_str());
            failureError = e;
        }
    } else {
        // Decode in the source's own format when it is linear PCM at the target's rate and channel
        // count; otherwise in a lossless carrier at the target's rate and channel count.
        AudioStreamBasicDescription working = diskAudioDesc_;
        if (!rp::isSupportedPcmLayout(working) || working.mSampleRate != description.mSampleRate
            || working.mChannelsPerFrame != description.mChannelsPerFrame) {
            working = losslessCarrier(
                description.mSampleRate, description.mChannelsPerFrame, sourceHoldsIntegers(diskAudioDesc_));
        }
        int status = 0;
        const AudioBufferList* list = bufferListWithAudioStreamDescription(working);
        std::unique_ptr<rp::SoundFileWriter> writer;
        if (!list) {
            status = kAudioFileUnspecifiedError;
            failure = format("error %d writing to file", status);
        } else if (!(writer = rp::SoundFileWriter::create(url, fileType, description, &status))) {
            failure = format("error %d trying to create %s", status, urlText(url).c_str());
        } else {
            std::vector<const uint8_t*> sources;
            for (const auto& buffer : list->mBuffers) {
                sources.push_back(static_cast<const uint8_t*>(buffer.mData));
            }
            const rp::PcmFrames frames = rp::unpackFrames(working, sources, loadedFrames());
            if (!writer->write(frames, &status)) {
                failure = format("error %d writing to file", status);
            }
        }
        if (writer) {
            const int closeStatus = writer->close();
            if (failure.empty() && closeStatus != 0) {
                status = closeStatus;
                failure = format("error %d writing to file", status);
            }
        }
        if (!failure.empty()) {
            failureError = osStatus(status);
        }
    }
    if (failure.empty()) {
        return true;
    }
    rp::logf("OASound: %s", failure.c_str());
    if (error && failureError) {
        *error = *failureError;
    }
    return false;
}

// ---- copying --------------------------------------------------------------------------------

OASoundPtr OASound::copy() const
{
    auto sound = std::make_shared<OASound>();
    if (soundFileURL_) {
        sound->setSoundFileURL(soundFileURL_);
    }
    if (legacyPackedBuffer_) {
        sound->legacyPackedBuffer_ = legacyPackedBuffer_;
        sound->diskAudioDesc_ = diskAudioDesc_;
        sound->legacySndfileFormat_ = legacySndfileFormat_;
        sound->audioFileType_ = audioFileType_;
        sound->sourceLengthFrames_ = sourceLengthFrames_;
        sound->diskFrames_ = diskFrames_;
    }
    sound->setFrameOffset(frameOffset_);
    sound->setFrameCount(frameCount_);
    sound->setSavesFileReference(savesFileReference_);
    sound->setPanning(panning_);
    sound->setVolume(volume_);
    sound->setName(name());
    return sound;
}

// ---- file-type catalogue --------------------------------------------------------------------

std::optional<std::vector<std::string>> OASound::unfilteredFileTypes()
{
    static const std::optional<std::vector<std::string>> types
        = []() -> std::optional<std::vector<std::string>> {
        auto extensions = rp::readableExtensions();
        if (extensions.empty()) {
            return std::nullopt;
        }
        return extensions;
    }();
    return types;
}

std::optional<std::string> OASound::fileExtensionForType(FourCharCode fileType)
{
    const auto extensions = rp::extensionsForFileType(fileType);
    if (extensions.empty()) {
        return std::nullopt;
    }
    return extensions.front();
}

int64_t OASound::legacyFormatForFileType(FourCharCode fileType, FourCharCode formatID, uint32_t bitDepth)
{
    int64_t major = 0x020000;
    switch (fileType) {
    case kAudioFileWAVEType:
        major = 0x010000;
        break;
    case kAudioFileNextType:
        major = 0x030000;
        break;
    case kAudioFileSoundDesigner2Type:
        major = 0x160000;
        break;
    case kAudioFileCAFType:
        major = 0x180000;
        break;
    default:
        break;
    }
    int64_t minor = 0;
    switch (formatID) {
    case kAudioFormatLinearPCM:
        switch (bitDepth) {
        case 8:
            minor = 1;
            break;
        case 16:
            minor = 2;
            break;
        case 24:
            minor = 3;
            break;
        case 32:
            minor = 6;
            break;
        case 64:
            minor = 7;
            break;
        default:
            break;
        }
        break;
    case kAudioFormatULaw:
        minor = 16;
        break;
    case kAudioFormatALaw:
        minor = 17;
        break;
    case kAudioFormatAppleIMA4:
        minor = 18;
        break;
    default:
        break;
    }
    return major + minor;
}
