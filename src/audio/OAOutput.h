#pragma once

#include "audio/AudioTypes.h"
#include "audio/OASound.h"
#include "audio/VirtualRingBuffer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The mixing core shared by the speaker and the file output. For each output channel a mirrored
// ring of 32-bit float samples holds the mixed audio not yet taken; playing a sound adds its samples,
// scaled by gain and pan, into the rings at the frame where it starts. The pull side takes frames
// out in order and counts them: that count is the output's clock.
//
// Threads: the producer (player, export or main thread) and the consumer (the device callback, or
// the export thread itself) meet only at `ringBuffersMutex_`. The level, the mono flag and the clock
// are atomics so either side may read them without the lock.
class OAOutput {
public:
    virtual ~OAOutput();
    OAOutput(const OAOutput&) = delete;
    OAOutput& operator=(const OAOutput&) = delete;

    const AudioStreamBasicDescription& audioStreamDescription() const { return audioStreamDesc_; }
    float sampleRate() const { return static_cast<float>(audioStreamDesc_.mSampleRate); }
    uint32_t channels() const { return audioStreamDesc_.mChannelsPerFrame; }

    // The gain the pull side applies after taking frames from the rings (1 at creation).
    bool setLevel(float level);
    float level() const { return masterLevel_.load(std::memory_order_relaxed); }

    // When mono, panning is ignored.
    void setMono(bool mono) { isMono_.store(mono, std::memory_order_relaxed); }
    bool isMono() const { return isMono_.load(std::memory_order_relaxed); }

    // Frames taken out by the pull side; the frame number of the first readable sample.
    uint64_t totalFramesRead() const { return totalFramesRead_.load(std::memory_order_acquire); }
    // totalFramesRead / sample rate. Double: a float counted from the output's creation would round
    // hit times to milliseconds after a few hours.
    double currentSeconds() const;
    // The frame a time on this clock falls in: truncated, except that a time meant to lie exactly on a
    // frame is not pushed one frame early by the rounding of its seconds. Times before 0 give frame 0.
    uint64_t frameAtSeconds(double seconds) const;

    // Decodes the sound in the output's format and makes the rings large enough for it.
    bool preloadBufferForSound(const OASoundPtr& sound);

    // The whole sound, starting 0.05 s from now.
    bool playSound(const OASoundPtr& sound, float volume);
    // Mixes `sound` at `atSeconds` on this output's clock for at most `forSeconds`, scaled by
    // `volume`, the sound's volume and its pan. First lets time pass up to the start (cueToFrame).
    // A null sound only lets time pass.
    bool playSound(const OASoundPtr& sound, float volume, float forSeconds, double atSeconds);

    // Seconds the rings hold beyond the 0.05 s lead; 0 before they exist.
    float bufferDuration() const;
    bool setBufferDuration(float seconds);
    // Makes every ring hold at least `frames` frames plus 0.05 s. Bigger rings replace the old ones
    // (pending audio is dropped); a failure keeps the old ones.
    bool reallocateRingBuffersForMinimumFrames(uint64_t frames);

    // Lets time pass until a sound can be mixed at `frame`. The subclass decides how.
    virtual void cueToFrame(uint64_t frame);

    // The pull side: fills each buffer of `bufferList` (one per channel, `frames` frames) from the
    // rings, zero-filling what they lack, and advances the clock by `frames`. Allocates nothing,
    // never logs; takes only the ring-buffer mutex.
    void renderWithFlags(
        uint32_t* flags, double sampleTime, uint32_t bus, uint32_t frames, AudioBufferList& bufferList);

    // Frames mixed and not yet taken (ring 0).
    uint64_t pendingFrames() const { return readableBytesOfFirstRing() / sizeof(float); }

    // Number of rings (0 before the first sizing) and their length in bytes.
    size_t ringBufferCount() const;
    uint64_t ringBufferLength() const;

    // The mixer's stream-format limits.
    static constexpr uint32_t kMaximumChannels = 32;

protected:
    OAOutput() = default;

    // Sets the mixing format; false (logged) when the rate or channel count cannot be mixed.
    bool initWithSampleRate(float sampleRate, uint32_t channels);

    // The pull side followed by the level: what the stereo mixer hands on to the device or file.
    void renderMixer(uint32_t frames, AudioBufferList& bufferList);

    // Moves the clock (file output: after writing silence; new file: back to 0).
    void setTotalFramesRead(uint64_t frames);

    // Readable bytes of ring 0 (0 without rings).
    uint64_t readableBytesOfFirstRing() const;

    // Discards all pending audio; the clock is unchanged.
    void emptyRingBuffers();
    // Silences pending audio at and after `frame` on the clock; what lies before it still plays.
    void silenceRingBuffersFromFrame(uint64_t frame);

private:
    const AudioBufferList* acquireBufferFor(OASound& sound);

    AudioStreamBasicDescription audioStreamDesc_ {};
    std::vector<std::unique_ptr<VirtualRingBuffer>> ringBuffers_;
    mutable std::mutex ringBuffersMutex_;
    std::atomic<float> masterLevel_ { 1.0f };
    std::atomic<bool> isMono_ { false };
    std::atomic<uint64_t> totalFramesRead_ { 0 };
};
