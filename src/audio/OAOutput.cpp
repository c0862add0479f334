#include "audio/OAOutput.h"

#include "audio/SampleKernels.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Lead between the clock and the earliest frame a sound is mixed at, and spare room in the rings.
constexpr double kLeadSeconds = 0.05;

// Error codes reported in log lines, in the numbering the audio-unit services use.
constexpr int kFormatNotSupported = -10868;
constexpr int kInvalidParameter = -10878;

// Seconds to a frame number: truncated, with a tolerance far below one frame so that a time meant
// to fall on a frame (a bar start plus an offset, both rounded to doubles) is not truncated to the
// frame before; times before zero (or not a number) start at frame 0.
uint64_t frameForSeconds(double seconds, double sampleRate)
{
    constexpr double kFrameTolerance = 1e-4;
    const double frame = seconds * sampleRate + kFrameTolerance;
    if (!(frame > 0)) {
        return 0;
    }
    if (frame >= 9223372036854775807.0) {
        return static_cast<uint64_t>(INT64_MAX);
    }
    return static_cast<uint64_t>(frame);
}

} // namespace

OAOutput::~OAOutput() = default;

bool OAOutput::initWithSampleRate(float sampleRate, uint32_t channels)
{
    if (!(sampleRate >= 1000.0f && sampleRate <= 1536000.0f) || channels == 0
        || channels > kMaximumChannels) {
        rp::logf("OAOutput: result %d setting mixer stream format (%d ch at %f Hz)", kFormatNotSupported,
            static_cast<int>(channels), static_cast<double>(sampleRate));
        return false;
    }
    audioStreamDesc_ = AudioStreamBasicDescription::canonicalFloat(sampleRate, channels);
    return true;
}

bool OAOutput::setLevel(float level)
{
    if (!std::isfinite(level) || level < 0.0f) {
        rp::logf("result %d setting fader level in mixer unit", kInvalidParameter);
        return false;
    }
    masterLevel_.store(level, std::memory_order_relaxed);
    return true;
}

double OAOutput::currentSeconds() const
{
    return static_cast<double>(totalFramesRead()) / audioStreamDesc_.mSampleRate;
}

uint64_t OAOutput::frameAtSeconds(double seconds) const
{
    return frameForSeconds(seconds, audioStreamDesc_.mSampleRate);
}

// The sound's data converted for this output (never more channels than the sound has), decoded and
// cached by the sound on first use; null, logged, when it cannot be had.
const AudioBufferList* OAOutput::acquireBufferFor(OASound& sound)
{
    AudioStreamBasicDescription working = audioStreamDesc_;
    working.mChannelsPerFrame = std::min<uint32_t>(working.mChannelsPerFrame, sound.channels());
    const AudioBufferList* list = sound.bufferListWithAudioStreamDescription(working);
    if (!list || list->mNumberBuffers() == 0) {
        rp::logf("OAOutput: failed to acquire buffer for %s", sound.description().c_str());
        return nullptr;
    }
    return list;
}

bool OAOutput::preloadBufferForSound(const OASoundPtr& sound)
{
    if (!sound || !acquireBufferFor(*sound)) {
        return false;
    }
    return reallocateRingBuffersForMinimumFrames(sound->loadedFrames());
}

bool OAOutput::playSound(const OASoundPtr& sound, float volume)
{
    const float length = sound ? static_cast<float>(sound->duration()) : 0.0f;
    return playSound(sound, volume, length, currentSeconds() + kLeadSeconds);
}

bool OAOutput::playSound(const OASoundPtr& sound, float volume, float forSeconds, double atSeconds)
{
    const double rate = audioStreamDesc_.mSampleRate;
    const uint64_t startFrame = frameForSeconds(atSeconds, rate);
    cueToFrame(startFrame);
    if (!sound) {
        return true;
    }
    const AudioBufferList* list = acquireBufferFor(*sound);
    if (!list) {
        return false;
    }

    uint64_t frames;
    if (forSeconds == static_cast<float>(sound->duration())) {
        frames = sound->loadedFrames();
    } else {
        frames = frameForSeconds(std::min(sound->duration(), static_cast<double>(forSeconds)), rate);
    }
    // Never read beyond what the sound actually decoded, whatever the rounding above gave.
    for (const AudioBuffer& buffer : list->mBuffers) {
        const uint64_t held = buffer.mData ? buffer.mDataByteSize / sizeof(float) : 0;
        frames = std::min(frames, held);
    }

    if (!reallocateRingBuffersForMinimumFrames(frames)) {
        return false;
    }

    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    const int64_t offset
        = static_cast<int64_t>(startFrame - totalFramesRead_.load(std::memory_order_relaxed));
    if (offset < 0) {
        rp::logf("OAOutput: buffer underflow by %ld frames (%.2f sec) for %s", static_cast<long>(-offset),
            static_cast<double>(-offset) / rate, sound->name().c_str());
    }

    // A start so late that the whole sound is already past mixes nothing.
    const uint64_t skippedFrames = offset < 0 ? std::min(frames, static_cast<uint64_t>(-offset)) : 0;
    const uint64_t neededBytes = frames * sizeof(float);
    const float pan = sound->panning();
    const bool mono = isMono();
    const uint32_t sourceCount = list->mNumberBuffers();

    for (size_t channel = 0; channel < ringBuffers_.size(); ++channel) {
        VirtualRingBuffer& ring = *ringBuffers_[channel];
        void* readPointer = nullptr;
        void* writePointer = nullptr;
        const uint64_t readable = ring.lengthAvailableToReadReturningPointer(&readPointer);
        const uint64_t writable = ring.lengthAvailableToWriteReturningPointer(&writePointer);
        if (readable + writable < neededBytes) {
            rp::logf("output buffer is too small; is %ld bytes, require %ld bytes",
                static_cast<long>(readable + writable), static_cast<long>(neededBytes));
            return false;
        }
        const uint64_t offsetFrames = offset > 0 ? static_cast<uint64_t>(offset) : 0;
        const uint64_t offsetBytes = offsetFrames * sizeof(float);
        if (offsetFrames > (readable + writable) / sizeof(float)
            || readable + writable < offsetBytes + neededBytes) {
            rp::logf("OAOutput: offset is too large, given sound length and buffer size");
            return false;
        }

        const auto* source = static_cast<const float*>(list->mBuffers[channel % sourceCount].mData);
        const float* const sourceEnd = source + frames;
        source += skippedFrames;

        float panFactor = 1.0f;
        if (channel < 2 && !mono) {
            panFactor = channel == 0 ? std::min(1.0f, 1.0f - pan) : std::min(1.0f, 1.0f + pan);
        }
        const float gain = sound->volume() * volume * panFactor;

        // Where the sound meets audio already in the ring, it is added; beyond that it is stored
        // after a gap of silence when it starts past the end of what is pending.
        float* mixRegion = nullptr;
        uint64_t mixBytes = 0;
        uint64_t gapBytes = 0;
        if (offset <= 0) {
            mixRegion = static_cast<float*>(readPointer);
            mixBytes = readable;
        } else if (offsetBytes < readable) {
            mixRegion = static_cast<float*>(readPointer) + offset;
            mixBytes = readable - offsetBytes;
        } else {
            gapBytes = offsetBytes - readable;
        }

        const auto remaining = static_cast<size_t>(sourceEnd - source);
        const size_t mixed = std::min<size_t>(remaining, static_cast<size_t>(mixBytes / sizeof(float)));
        if (mixed > 0) {
            rp::sampleKernels().addScaled(mixRegion, source, mixed, gain);
            source += mixed;
        }
        const auto stored = static_cast<size_t>(sourceEnd - source);
        auto* destination = static_cast<std::byte*>(writePointer);
        if (gapBytes > 0) {
            std::memset(destination, 0, static_cast<size_t>(gapBytes));
        }
        if (stored > 0) {
            rp::sampleKernels().storeScaled(
                reinterpret_cast<float*>(destination + gapBytes), source, stored, gain);
        }
        ring.didWriteLength(gapBytes + stored * sizeof(float));
    }
    return true;
}

float OAOutput::bufferDuration() const
{
    const uint64_t length = ringBufferLength();
    if (length == 0) {
        return 0.0f;
    }
    return static_cast<float>(
        static_cast<double>(length) / (4.0 * audioStreamDesc_.mSampleRate) - kLeadSeconds);
}

bool OAOutput::setBufferDuration(float seconds)
{
    return reallocateRingBuffersForMinimumFrames(frameForSeconds(seconds, audioStreamDesc_.mSampleRate));
}

bool OAOutput::reallocateRingBuffersForMinimumFrames(uint64_t frames)
{
    const auto wantedBytes = static_cast<uint32_t>(static_cast<uint64_t>(
        (audioStreamDesc_.mSampleRate * kLeadSeconds + static_cast<double>(frames)) * 4.0));
    if (ringBufferLength() > wantedBytes) {
        return true;
    }

    std::vector<std::unique_ptr<VirtualRingBuffer>> rings;
    rings.reserve(channels());
    for (uint32_t channel = 0; channel < channels(); ++channel) {
        auto ring = VirtualRingBuffer::initWithLength(wantedBytes);
        if (!ring) {
            rp::logf("OAOutput: failed to alloc %u bytes for ring buffer channel %d", wantedBytes,
                static_cast<int>(channel));
            return false;
        }
        rings.push_back(std::move(ring));
    }
    {
        std::lock_guard<std::mutex> lock(ringBuffersMutex_);
        ringBuffers_.swap(rings);
    }
    // The old rings are unmapped here, outside the lock.
    return true;
}

void OAOutput::cueToFrame(uint64_t /*frame*/)
{
    rp::logf("OAOutput: implementation error; this method must be overridden!");
}

void OAOutput::renderWithFlags(uint32_t* /*flags*/, double /*sampleTime*/, uint32_t /*bus*/, uint32_t frames,
    AudioBufferList& bufferList)
{
    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    for (size_t i = 0; i < bufferList.mBuffers.size(); ++i) {
        AudioBuffer& buffer = bufferList.mBuffers[i];
        if (!buffer.mData) {
            continue;
        }
        auto* destination = static_cast<std::byte*>(buffer.mData);
        uint64_t taken = 0;
        if (i < ringBuffers_.size()) {
            void* readPointer = nullptr;
            const uint64_t readable = ringBuffers_[i]->lengthAvailableToReadReturningPointer(&readPointer);
            taken = std::min<uint64_t>(readable, buffer.mDataByteSize);
            if (taken > 0) {
                std::memcpy(destination, readPointer, static_cast<size_t>(taken));
                ringBuffers_[i]->didReadLength(taken);
            }
        }
        if (taken < buffer.mDataByteSize) {
            std::memset(destination + taken, 0, static_cast<size_t>(buffer.mDataByteSize - taken));
        }
    }
    // The clock never stalls: it counts the frames asked for, silence included.
    totalFramesRead_.fetch_add(frames, std::memory_order_acq_rel);
}

void OAOutput::renderMixer(uint32_t frames, AudioBufferList& bufferList)
{
    uint32_t flags = 0;
    renderWithFlags(&flags, static_cast<double>(totalFramesRead()), 0, frames, bufferList);
    const float gain = level();
    if (gain != 1.0f) {
        for (AudioBuffer& buffer : bufferList.mBuffers) {
            if (buffer.mData) {
                rp::sampleKernels().scaleInPlace(
                    static_cast<float*>(buffer.mData), buffer.mDataByteSize / sizeof(float), gain);
            }
        }
    }
}

void OAOutput::setTotalFramesRead(uint64_t frames)
{
    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    totalFramesRead_.store(frames, std::memory_order_release);
}

uint64_t OAOutput::readableBytesOfFirstRing() const
{
    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    if (ringBuffers_.empty()) {
        return 0;
    }
    return ringBuffers_[0]->lengthAvailableToReadReturningPointer(nullptr);
}

void OAOutput::emptyRingBuffers()
{
    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    for (auto& ring : ringBuffers_) {
        ring->empty();
    }
}

void OAOutput::silenceRingBuffersFromFrame(uint64_t frame)
{
    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    const uint64_t now = totalFramesRead_.load(std::memory_order_relaxed);
    const uint64_t keptBytes = frame > now ? (frame - now) * sizeof(float) : 0;
    for (auto& ring : ringBuffers_) {
        void* readPointer = nullptr;
        const uint64_t readable = ring->lengthAvailableToReadReturningPointer(&readPointer);
        if (readable > keptBytes) {
            // The readable bytes are one block thanks to the mirrored mapping. Zeroed rather than
            // given back, so that sounds mixed later still add into place.
            std::memset(static_cast<std::byte*>(readPointer) + keptBytes, 0,
                static_cast<size_t>(readable - keptBytes));
        }
    }
}

size_t OAOutput::ringBufferCount() const
{
    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    return ringBuffers_.size();
}

uint64_t OAOutput::ringBufferLength() const
{
    std::lock_guard<std::mutex> lock(ringBuffersMutex_);
    return ringBuffers_.empty() ? 0 : ringBuffers_[0]->length();
}
