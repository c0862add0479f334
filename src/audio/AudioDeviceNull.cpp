#include "audio/AudioDeviceBackends.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <time.h>
#include <vector>

namespace {

// Pulls frames at the nominal rate from a thread of its own and throws them away, so that the
// output clock runs as it would on a sound card.
class NullAudioDevice final : public AudioDevice {
public:
    NullAudioDevice(double sampleRate, uint32_t channels, AudioDeviceRenderFunction render, void* context)
        : sampleRate_(sampleRate)
        , channels_(channels)
        , render_(render)
        , context_(context)
        , samples_(static_cast<size_t>(channels) * kFramesPerCall, 0.0f)
        , channelPointers_(channels)
    {
        for (uint32_t c = 0; c < channels_; ++c) {
            channelPointers_[c] = samples_.data() + static_cast<size_t>(c) * kFramesPerCall;
        }
    }

    ~NullAudioDevice() override { stop(); }

    AudioDeviceKind kind() const override { return AudioDeviceKind::Null; }
    double sampleRate() const override { return sampleRate_; }
    uint32_t channels() const override { return channels_; }
    std::string name() const override { return "null"; }

    bool start(std::string* /*error*/) override
    {
        if (thread_.joinable()) {
            return true;
        }
        stopping_.store(false);
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void stop() override
    {
        if (!thread_.joinable()) {
            return;
        }
        stopping_.store(true);
        thread_.join();
    }

    bool isRunning() const override { return thread_.joinable(); }

private:
    static constexpr uint32_t kFramesPerCall = 256;

    static void addNanoseconds(timespec& time, int64_t nanoseconds)
    {
        int64_t total = static_cast<int64_t>(time.tv_nsec) + nanoseconds;
        time.tv_sec += static_cast<time_t>(total / 1000000000);
        time.tv_nsec = static_cast<long>(total % 1000000000);
    }

    static int64_t nanosecondsBetween(const timespec& from, const timespec& to)
    {
        return (static_cast<int64_t>(to.tv_sec) - static_cast<int64_t>(from.tv_sec)) * 1000000000
            + (static_cast<int64_t>(to.tv_nsec) - static_cast<int64_t>(from.tv_nsec));
    }

    void run()
    {
        // Real-time priority when the system grants it; running without it only costs accuracy.
        sched_param parameters {};
        parameters.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters);

        // Whole periods are pulled on an absolute schedule derived from the frame count, so the
        // clock keeps the nominal rate without drifting.
        timespec origin {};
        clock_gettime(CLOCK_MONOTONIC, &origin);
        uint64_t framesPulled = 0;
        while (!stopping_.load(std::memory_order_relaxed)) {
            render_(context_, channelPointers_.data(), channels_, kFramesPerCall);
            framesPulled += kFramesPerCall;

            timespec due = origin;
            addNanoseconds(due, static_cast<int64_t>(static_cast<double>(framesPulled) * 1e9 / sampleRate_));
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            // After a long stall (a suspended process) start the schedule afresh instead of
            // rushing through the missed periods.
            if (nanosecondsBetween(due, now) > 500000000) {
                origin = now;
                framesPulled = 0;
                continue;
            }
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) { }
        }
    }

    double sampleRate_;
    uint32_t channels_;
    AudioDeviceRenderFunction render_;
    void* context_;
    std::vector<float> samples_;
    std::vector<float*> channelPointers_;
    std::atomic<bool> stopping_ { false };
    std::thread thread_;
};

} // namespace

std::unique_ptr<AudioDevice> openNullAudioDevice(
    double sampleRate, uint32_t channels, AudioDeviceRenderFunction render, void* context)
{
    if (!(sampleRate > 0) || sampleRate > 1e7) {
        sampleRate = 44100.0;
    }
    return std::make_unique<NullAudioDevice>(sampleRate, channels, render, context);
}
