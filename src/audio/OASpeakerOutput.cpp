#include "audio/OASpeakerOutput.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
constexpr double kNullDeviceRate = 44100.0;
constexpr int kInvalidPropertyValue = -10851;
} // namespace

OASpeakerOutputPtr OASpeakerOutput::init(std::optional<AudioDeviceKind> kind, uint64_t clockOrigin)
{
    // The device's own rate decides the mixing rate, so the device is opened first.
    OASpeakerOutputPtr output(new OASpeakerOutput());
    if (!output->openDevice(kind, 0, 2)) {
        return nullptr;
    }
    const double rate = output->device_->sampleRate();
    if (!(rate > 0)) {
        rp::logf("OAOutput: error %d trying to fetch output sample rate", kInvalidPropertyValue);
        return nullptr;
    }
    if (!output->OAOutput::initWithSampleRate(static_cast<float>(rate), 2)) {
        return nullptr;
    }
    output->setTotalFramesRead(clockOrigin);
    output->startDevice();
    return output;
}

OASpeakerOutputPtr OASpeakerOutput::initWithSampleRate(
    float sampleRate, uint32_t channels, std::optional<AudioDeviceKind> kind, uint64_t clockOrigin)
{
    OASpeakerOutputPtr output(new OASpeakerOutput());
    if (!output->OAOutput::initWithSampleRate(sampleRate, channels)) {
        return nullptr;
    }
    if (!output->openDevice(kind, sampleRate, channels)) {
        return nullptr;
    }
    if (output->device_->sampleRate() != static_cast<double>(sampleRate)) {
        rp::logf("OASpeakerOutput: result %d setting an output stream format", kInvalidPropertyValue);
        return nullptr;
    }
    output->setTotalFramesRead(clockOrigin);
    output->startDevice();
    return output;
}

OASpeakerOutput::~OASpeakerOutput()
{
    // The device stops calling in before the rings go away.
    if (device_) {
        device_->stop();
        device_.reset();
    }
}

bool OASpeakerOutput::openDevice(std::optional<AudioDeviceKind> kind, double sampleRate, uint32_t channels)
{
    deviceBufferList_.mBuffers.assign(channels, AudioBuffer {});
    for (AudioBuffer& buffer : deviceBufferList_.mBuffers) {
        buffer.mNumberChannels = 1;
    }
    const AudioDeviceKind wanted = kind.value_or(AudioDevice::defaultKind());
    std::string error;
    device_ = AudioDevice::open(wanted, sampleRate, channels, &OASpeakerOutput::renderDevice, this, &error);
    if (!device_) {
        rp::logf("OASpeakerOutput: no %s audio device could be opened (%s); playing into the null device",
            audioDeviceKindName(wanted), error.c_str());
        device_ = AudioDevice::openNull(
            sampleRate > 0 ? sampleRate : kNullDeviceRate, channels, &OASpeakerOutput::renderDevice, this);
    }
    return device_ != nullptr;
}

bool OASpeakerOutput::startDevice()
{
    std::string error;
    if (device_->start(&error)) {
        return true;
    }
    // A device that will not run would stop the clock and leave every cue waiting for ever; the
    // null device keeps time instead.
    rp::logf("OASpeakerOutput: failed to start output unit!");
    const double rate = sampleRate();
    device_ = AudioDevice::openNull(rate, channels(), &OASpeakerOutput::renderDevice, this);
    device_->start(nullptr);
    return false;
}

void OASpeakerOutput::renderDevice(
    void* context, float* const* channels, uint32_t channelCount, uint32_t frames)
{
    auto* self = static_cast<OASpeakerOutput*>(context);
    AudioBufferList& list = self->deviceBufferList_;
    const size_t count = std::min<size_t>(channelCount, list.mBuffers.size());
    for (size_t c = 0; c < count; ++c) {
        list.mBuffers[c].mData = channels[c];
        list.mBuffers[c].mDataByteSize = frames * static_cast<uint32_t>(sizeof(float));
    }
    self->renderMixer(frames, list);
    for (size_t c = count; c < channelCount; ++c) {
        std::fill(channels[c], channels[c] + frames, 0.0f);
    }
}

void OASpeakerOutput::cueToFrame(uint64_t frame)
{
    const auto lead = static_cast<uint64_t>(0.05 * static_cast<double>(static_cast<int64_t>(sampleRate())));
    uint64_t lastSeen = totalFramesRead();
    auto lastMove = std::chrono::steady_clock::now();
    while (true) {
        const uint64_t now = totalFramesRead();
        if (now + lead >= frame) {
            return;
        }
        if (now != lastSeen) {
            lastSeen = now;
            lastMove = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastMove > std::chrono::seconds(1)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void OASpeakerOutput::silenceAndFlush()
{
    emptyRingBuffers();
}
