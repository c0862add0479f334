#include "audio/AudioDeviceBackends.h"

#include <array>
#include <atomic>
#include <dlfcn.h>
#include <exception>
#include <rtaudio/RtAudio.h>
#include <string>

namespace {

// RtAudio reports errors either by throwing or through a plain function without user data; the
// latter runs synchronously on the thread that made the failing call, so a per-thread note is
// enough to carry the text back.
thread_local std::string lastRtAudioError;

void recordRtAudioError(RtAudioError::Type type, const std::string& text)
{
    if (type != RtAudioError::WARNING && type != RtAudioError::DEBUG_WARNING) {
        lastRtAudioError = text;
    }
}

// alsa-lib prints its own diagnostics while probing for cards (a machine without any prints eight
// lines); our one log line already says what failed. The library is loaded through RtAudio, so its
// handler is reached without linking it here, and the default handler is put back afterwards.
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
using SetAlsaErrorHandler = int (*)(AlsaErrorHandler);

void discardAlsaMessage(const char*, int, const char*, int, const char*, ...)
{
}

class QuietAlsa {
public:
    explicit QuietAlsa(bool enabled)
        : set_(enabled
                ? reinterpret_cast<SetAlsaErrorHandler>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))
                : nullptr)
    {
        if (set_) {
            set_(&discardAlsaMessage);
        }
    }
    ~QuietAlsa()
    {
        if (set_) {
            set_(nullptr);
        }
    }
    QuietAlsa(const QuietAlsa&) = delete;
    QuietAlsa& operator=(const QuietAlsa&) = delete;

private:
    SetAlsaErrorHandler set_;
};

RtAudio::Api apiForKind(AudioDeviceKind kind)
{
    switch (kind) {
    case AudioDeviceKind::Jack:
        return RtAudio::UNIX_JACK;
    case AudioDeviceKind::Pulse:
        return RtAudio::LINUX_PULSE;
    case AudioDeviceKind::Alsa:
        return RtAudio::LINUX_ALSA;
    default:
        return RtAudio::UNSPECIFIED;
    }
}

bool apiCompiled(RtAudio::Api api)
{
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    for (RtAudio::Api compiled : apis) {
        if (compiled == api) {
            return true;
        }
    }
    return false;
}

class RtAudioDevice final : public AudioDevice {
public:
    static constexpr uint32_t kMaximumChannels = 32;

    RtAudioDevice(AudioDeviceKind kind, uint32_t channels, AudioDeviceRenderFunction render, void* context)
        : kind_(kind)
        , channels_(channels)
        , render_(render)
        , context_(context)
        , audio_(apiForKind(kind))
    {
        audio_.showWarnings(false);
    }

    ~RtAudioDevice() override
    {
        stop();
        try {
            if (audio_.isStreamOpen()) {
                audio_.closeStream();
            }
        } catch (const std::exception&) {
            // Closing is best effort at the end of the object.
        }
    }

    bool open(double sampleRate, std::string* error)
    {
        const QuietAlsa quiet(kind_ == AudioDeviceKind::Alsa);
        lastRtAudioError.clear();
        try {
            const unsigned count = audio_.getDeviceCount();
            if (count == 0) {
                return fail(error, "no output devices");
            }
            unsigned deviceId = audio_.getDefaultOutputDevice();
            if (deviceId >= count) {
                deviceId = 0;
            }
            RtAudio::DeviceInfo info = audio_.getDeviceInfo(deviceId);
            if (info.outputChannels == 0) {
                // The default is not an output; take the first device that is.
                for (unsigned i = 0; i < count; ++i) {
                    RtAudio::DeviceInfo candidate = audio_.getDeviceInfo(i);
                    if (candidate.probed && candidate.outputChannels > 0) {
                        deviceId = i;
                        info = candidate;
                        break;
                    }
                }
            }
            if (info.outputChannels == 0) {
                return fail(error, "no output devices");
            }
            deviceName_ = info.name;

            unsigned rate = static_cast<unsigned>(sampleRate);
            if (rate == 0) {
                rate = info.preferredSampleRate;
                if (rate == 0 && !info.sampleRates.empty()) {
                    rate = info.sampleRates.back();
                }
                if (rate == 0) {
                    rate = 44100;
                }
            }

            RtAudio::StreamParameters output;
            output.deviceId = deviceId;
            output.nChannels = channels_;
            output.firstChannel = 0;
            RtAudio::StreamOptions options;
            options.flags = RTAUDIO_NONINTERLEAVED | RTAUDIO_SCHEDULE_REALTIME;
            options.streamName = "rattlepan";
            options.priority = 70;
            unsigned bufferFrames = 256;
            audio_.openStream(&output, nullptr, RTAUDIO_FLOAT32, rate, &bufferFrames,
                &RtAudioDevice::callback, this, &options, &recordRtAudioError);
            if (!audio_.isStreamOpen()) {
                return fail(error, lastRtAudioError.empty() ? "the stream did not open" : lastRtAudioError);
            }
            sampleRate_ = audio_.getStreamSampleRate();
            if (sampleRate_ == 0) {
                sampleRate_ = rate;
            }
            return true;
        } catch (const std::exception& e) {
            return fail(error, e.what());
        }
    }

    AudioDeviceKind kind() const override { return kind_; }
    double sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    std::string name() const override { return std::string(audioDeviceKindName(kind_)) + ": " + deviceName_; }

    bool start(std::string* error) override
    {
        lastRtAudioError.clear();
        try {
            if (!audio_.isStreamRunning()) {
                audio_.startStream();
            }
            if (!audio_.isStreamRunning()) {
                return fail(error, lastRtAudioError.empty() ? "the stream did not start" : lastRtAudioError);
            }
            return true;
        } catch (const std::exception& e) {
            return fail(error, e.what());
        }
    }

    void stop() override
    {
        try {
            if (audio_.isStreamOpen() && audio_.isStreamRunning()) {
                audio_.stopStream();
            }
        } catch (const std::exception&) {
            // A device that has gone away is stopped as far as we are concerned.
        }
    }

    bool isRunning() const override { return audio_.isStreamRunning(); }

private:
    static bool fail(std::string* error, const std::string& text)
    {
        if (error) {
            *error = text;
        }
        return false;
    }

    static int callback(void* outputBuffer, void* /*inputBuffer*/, unsigned int frames, double /*streamTime*/,
        RtAudioStreamStatus /*status*/, void* userData)
    {
        auto* self = static_cast<RtAudioDevice*>(userData);
        // Non-interleaved: channel c starts c x frames floats into the block.
        std::array<float*, kMaximumChannels> channels {};
        auto* samples = static_cast<float*>(outputBuffer);
        for (uint32_t c = 0; c < self->channels_; ++c) {
            channels[c] = samples + static_cast<size_t>(c) * frames;
        }
        self->render_(self->context_, channels.data(), self->channels_, frames);
        return 0;
    }

    AudioDeviceKind kind_;
    uint32_t channels_;
    AudioDeviceRenderFunction render_;
    void* context_;
    mutable RtAudio audio_;
    double sampleRate_ = 0;
    std::string deviceName_;
};

} // namespace

std::unique_ptr<AudioDevice> openRtAudioDevice(AudioDeviceKind kind, double sampleRate, uint32_t channels,
    AudioDeviceRenderFunction render, void* context, std::string* error)
{
    const RtAudio::Api api = apiForKind(kind);
    if (api == RtAudio::UNSPECIFIED || !apiCompiled(api)) {
        if (error) {
            *error = std::string("RtAudio was built without ") + audioDeviceKindName(kind);
        }
        return nullptr;
    }
    if (channels == 0 || channels > RtAudioDevice::kMaximumChannels) {
        if (error) {
            *error = "unsupported channel count";
        }
        return nullptr;
    }
    try {
        auto device = std::make_unique<RtAudioDevice>(kind, channels, render, context);
        if (!device->open(sampleRate, error)) {
            return nullptr;
        }
        return device;
    } catch (const std::exception& e) {
        if (error) {
            *error = e.what();
        }
        return nullptr;
    }
}
