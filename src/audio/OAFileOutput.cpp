#include "audio/OAFileOutput.h"

#include "audio/SoundFile.h"
#include "foundation/Logger.h"

#include <algorithm>
#include <sndfile.h>

namespace {

// The shared source of silence: 4096 zero bytes, never written.
constexpr uint32_t kSilenceBytes = 4096;
const float kSilence[kSilenceBytes / sizeof(float)] = {};

constexpr int kParameterError = -50;

} // namespace

int OAFileOutput::sndfileFormatFor(FourCharCode fileType, const AudioStreamBasicDescription& description)
{
    return rp::sndfileFormatForDescription(fileType, description).value_or(0);
}

OAFileOutputPtr OAFileOutput::init()
{
    rp::logf("OAFileOutput: error, must use a designated initializer.");
    return nullptr;
}

OAFileOutputPtr OAFileOutput::initWithFileType(
    FourCharCode fileType, const AudioStreamBasicDescription& description)
{
    OAFileOutputPtr output(new OAFileOutput());
    if (!output->initWithSampleRate(
            static_cast<float>(description.mSampleRate), description.mChannelsPerFrame)) {
        return nullptr;
    }
    output->audiofiletype_ = fileType;
    output->outputStreamDesc_ = description;
    const uint32_t channelCount = output->channels();
    output->sliceBuffers_.assign(channelCount, std::vector<float>(kSliceFrames, 0.0f));
    output->bufferList_.mBuffers.assign(channelCount, AudioBuffer {});
    output->interleaved_.assign(static_cast<size_t>(channelCount) * kSliceFrames, 0.0f);
    return output;
}

OAFileOutputPtr OAFileOutput::initWithFileName(
    const std::string& fileName, FourCharCode fileType, const AudioStreamBasicDescription& description)
{
    OAFileOutputPtr output = initWithFileType(fileType, description);
    if (output) {
        output->openWithFileName(fileName);
    }
    return output;
}

OAFileOutput::~OAFileOutput()
{
    close();
}

bool OAFileOutput::openWithFileName(const std::string& fileName)
{
    SF_INFO info {};
    info.samplerate = static_cast<int>(outputStreamDesc_.mSampleRate);
    info.channels = static_cast<int>(outputStreamDesc_.mChannelsPerFrame);
    info.format = sndfileFormatFor(audiofiletype_, outputStreamDesc_);
    SNDFILE* file = info.format ? sf_open(fileName.c_str(), SFM_WRITE, &info) : nullptr;
    if (!file) {
        rp::logf("OAFileOutput: failed to create file %s", fileName.c_str());
        return false;
    }
    // We hand the file float samples; integer encodings saturate out-of-range values rather than
    // wrapping round, as the platform's converter does.
    const bool isFloatFile = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT
        || (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE;
    if (!isFloatFile && sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE) != SF_TRUE) {
        rp::logf("OAFileOutput: error %d trying to set client data format", sf_error(file));
        sf_close(file);
        return false;
    }
    close();
    filename_ = fileName;
    audiofile_ = file;
    setTotalFramesRead(0);
    return true;
}

void OAFileOutput::close()
{
    if (audiofile_) {
        sf_close(audiofile_);
        audiofile_ = nullptr;
        filename_.clear();
    }
}

int OAFileOutput::writeBufferList(uint32_t frames)
{
    if (!audiofile_) {
        return kParameterError;
    }
    auto* file = audiofile_;
    const size_t channelCount = bufferList_.mBuffers.size();
    const float* samples;
    if (channelCount == 1) {
        samples = static_cast<const float*>(bufferList_.mBuffers[0].mData);
    } else {
        for (size_t c = 0; c < channelCount; ++c) {
            const auto* channel = static_cast<const float*>(bufferList_.mBuffers[c].mData);
            for (uint32_t f = 0; f < frames; ++f) {
                interleaved_[f * channelCount + c] = channel[f];
            }
        }
        samples = interleaved_.data();
    }
    const sf_count_t written = sf_writef_float(file, samples, frames);
    if (written != static_cast<sf_count_t>(frames)) {
        const int code = sf_error(file);
        return code != 0 ? code : -1;
    }
    return 0;
}

void OAFileOutput::cueToFrame(uint64_t frame)
{
    const uint64_t now = totalFramesRead();
    if (now >= frame) {
        return;
    }
    const uint64_t gap = frame - now;
    const uint64_t available = readableBytesOfFirstRing() / sizeof(float);
    uint64_t toRender = std::min(gap, available);
    uint64_t toSilence = gap > available ? gap - available : 0;

    while (toRender > 0) {
        const auto slice = static_cast<uint32_t>(std::min<uint64_t>(toRender, kSliceFrames));
        for (size_t c = 0; c < bufferList_.mBuffers.size(); ++c) {
            AudioBuffer& buffer = bufferList_.mBuffers[c];
            buffer.mNumberChannels = 1;
            buffer.mDataByteSize = slice * static_cast<uint32_t>(sizeof(float));
            buffer.mData = sliceBuffers_[c].data();
        }
        renderMixer(slice, bufferList_);
        if (const int status = writeBufferList(slice)) {
            rp::logf("OAFileOutput: error %d writing %u frames buffer to file", status, slice);
        }
        toRender -= slice;
    }

    constexpr uint32_t silenceSliceFrames = kSilenceBytes / sizeof(float);
    while (toSilence > 0) {
        const auto slice = static_cast<uint32_t>(std::min<uint64_t>(toSilence, silenceSliceFrames));
        for (AudioBuffer& buffer : bufferList_.mBuffers) {
            buffer.mNumberChannels = 1;
            buffer.mDataByteSize = slice * static_cast<uint32_t>(sizeof(float));
            buffer.mData = const_cast<float*>(kSilence);
        }
        if (const int status = writeBufferList(slice)) {
            rp::logf("OAFileOutput: error %d writing %u frames silence to file", status, slice);
        }
        toSilence -= slice;
    }
    setTotalFramesRead(frame);
}
