// The render walk shared by live playback and audio export, the playback thread, and how long a
// hit may sound.

#include "audio/OAOutput.h"
#include "foundation/Logger.h"
#include "foundation/RunLoop.h"
#include "midi/KWMIDIEndpoint.h"
#include "midi/MIDIPacketList.h"
#include "model/ORPPattern.h"
#include "player/ORPPlayer.h"
#include "player/ORPPlayerInternal.h"
#include "player/ORPPlayerTimeCode.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <span>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace rp::player;

// Quarter frames go out this far past each event.
constexpr double kTimeCodeLookAheadSeconds = 0.1;
// A note-off never follows its note-on sooner than this.
constexpr double kMinimumNoteSeconds = 1.0;

// Time-sharing off and raised precedence for the playback thread; a refusal is logged and the thread
// goes on at normal priority.
void raiseRendererThreadPriority()
{
    sched_param parameters {};
    parameters.sched_priority = sched_get_priority_min(SCHED_RR);
    const int policyError = pthread_setschedparam(pthread_self(), SCHED_RR, &parameters);
    if (policyError != 0) {
        rp::logf("Couldn't set feeder thread's extended policy: %s", std::strerror(policyError));
    }
    int precedenceError = 0;
    if (policyError == 0) {
        parameters.sched_priority
            = std::min(sched_get_priority_min(SCHED_RR) + 4, sched_get_priority_max(SCHED_RR));
        precedenceError = pthread_setschedparam(pthread_self(), SCHED_RR, &parameters);
    } else if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -4) != 0) {
        precedenceError = errno;
    }
    if (precedenceError != 0) {
        rp::logf("Couldn't set feeder thread's precedence policy: %s", std::strerror(precedenceError));
    }
}

} // namespace

// --- How long a hit may sound ---

float ORPPlayer::maxDurationForEvtIndex(uint16_t evt, uint16_t patt, float bpmFactor, bool looping) const
{
    return maxDuration(*runStart().instances, evt, patt, bpmFactor, looping,
        [this](const ORPDrumPtr& drum) { return soundForDrum(drum); });
}

float ORPPlayer::maxDuration(const InstanceList& instances, size_t evt, size_t patt, float bpmFactor,
    bool looping, const std::function<OASoundPtr(const ORPDrumPtr&)>& soundFor)
{
    if (patt >= instances.size() || !(bpmFactor > 0)) {
        return 0;
    }
    const ORPPatternPtr& pattern = instances[patt]->pattern();
    const ORPPattern::EventSnapshot events = pattern->events();
    if (evt >= events->size()) {
        return 0;
    }
    const ORPEventPtr& event = (*events)[evt];
    const ORPDrumPtr drum = event->drum();
    const OASoundPtr sound = soundFor(drum);
    const auto soundLength = static_cast<float>(sound ? sound->duration() : 0.0);
    if (!(soundLength > 0)) {
        return soundLength;
    }
    const double t0 = static_cast<double>(pattern->duration()) * event->whenRatio() / bpmFactor;

    double offset = 0; // start of instance `index` relative to the start of instance `patt`
    double offsetAtLastWrap = 0;
    size_t index = patt;
    size_t first = evt + 1;
    while (true) {
        const ORPPatternPtr& bar = instances[index]->pattern();
        const ORPPattern::EventSnapshot later = index == patt && first == evt + 1 ? events : bar->events();
        const double barDuration = static_cast<double>(bar->duration()) / bpmFactor;
        for (size_t k = first; k < later->size(); ++k) {
            const ORPEventPtr& other = (*later)[k];
            const double d = barDuration * other->whenRatio() + offset - t0;
            if (d >= soundLength) {
                return soundLength;
            }
            const ORPDrumPtr otherDrum = other->drum();
            if (otherDrum && drum && drum->isSameTypeAs(otherDrum) && otherDrum->variantPrecedence()) {
                return static_cast<float>(std::max(d, 0.0));
            }
        }
        offset += barDuration;
        const size_t next = (index + 1) % instances.size();
        if ((!looping && next == 0) || offset - t0 >= soundLength) {
            return soundLength;
        }
        if (next == 0) {
            // A whole loop of bars without length would never reach the end of the sound.
            if (!(offset > offsetAtLastWrap)) {
                return soundLength;
            }
            offsetAtLastWrap = offset;
        }
        index = next;
        first = 0;
    }
}

// --- The playback thread and the render walk ---

void ORPPlayer::playbackThread(uint64_t generation)
{
    raiseRendererThreadPriority();
    try {
        renderPatternInstancesToOutput(*speakerOutput_, std::nullopt);
    } catch (const std::exception& exception) {
        rp::logf("Exception raised in playbackThread: %s", exception.what());
    }
    std::weak_ptr<ORPPlayer> weak = weak_from_this();
    rp::RunLoop::main().perform([weak, generation] {
        if (auto player = weak.lock()) {
            player->stopAndResetRun(generation);
        }
    });
}

void ORPPlayer::renderPatternInstancesToOutput(OAOutput& output, const std::optional<std::string>& group)
{
    rp::UserDefaults& defaults = playerDefaults();
    const bool decay = defaults.boolForKey(RPAllowFinalSoundDecayKey);
    const bool exporting = exporting_.load();
    if (runStart().instances->empty()) {
        return;
    }

    // MIDI goes out only during live runs while the destination is online.
    const auto destination = midiDestination();
    if (destination) {
        destination->addSender(midiSender_);
    }
    const bool midiActive = !exporting && destination && destination->isOnline();
    const bool verbose = midiActive && defaults.boolForKey(RPSendVerboseMIDIControlKey);
    const bool audioOn = !midiActive || !defaults.boolForKey(RPMuteAudioWhenActiveMIDIKey);
    const auto send = [&](const rp::MIDIPacketList& list) {
        destination->processMIDIPacketList(list, midiSender_.get());
    };

    // Output time to host time.
    const double hostZero
        = static_cast<double>(rp::hostTimeNow()) - speakerOutput_->currentSeconds() * kHostTicksPerSecond;
    const auto hostTimeFor = [hostZero](double seconds) {
        return static_cast<rp::MIDITimeStamp>(std::max(0.0, hostZero + seconds * kHostTicksPerSecond));
    };
    const auto hostTicks
        = [](double seconds) { return static_cast<rp::MIDITimeStamp>(seconds * kHostTicksPerSecond); };

    // The time code runs from the song time of where a pass starts. A pass that loops must not send
    // quarter frames at or past its end, where the next pass locates back to the loop's start.
    std::optional<ORPPlayerTimeCode> timeCode;
    std::optional<rp::MIDITimeStamp> timeCodeLimit;
    const auto sendTimeCodeUpTo = [&](rp::MIDITimeStamp until) {
        timeCode->sendUpTo(timeCodeLimit ? std::min(until, *timeCodeLimit) : until, send);
    };
    const auto locate = [&](rp::MIDITimeStamp at, const RunStart& run, bool startTransport) {
        const double value = run.songTime / bpmFactor_;
        if (run.inPlaylistEntry) {
            rp::MIDIPacketList messages;
            if (startTransport) {
                messages.add(at, { 0xF0, 0x7F, 0x7F, 0x06, 0x03, 0xF7 });
            }
            const auto message = ORPPlayerTimeCode::locateMessage(value);
            messages.add(at, std::span<const uint8_t>(message));
            if (startTransport) {
                messages.add(at, { 0xFA });
            }
            send(messages);
        }
        timeCode.emplace(value, at, kHostTicksPerSecond);
    };
    bool firstEventOfRun = true;
    rp::MIDITimeStamp lastHostTime = rp::hostTimeNow();
    double lastSoundEnd = 0;

    // Live runs wait until a time is within the lead of the output clock, watching the run flags.
    enum class Wait { Ready, Stopped, Rescheduled };
    const auto waitUntil = [&](double t) {
        if (exporting) {
            return renderingSemaphore_ ? Wait::Ready : Wait::Stopped;
        }
        while (t > output.currentSeconds() + kLeadSeconds) {
            std::this_thread::sleep_for(kRendererPoll);
            if (!renderingSemaphore_) {
                return Wait::Stopped;
            }
            if (rescheduledSemaphore_) {
                return Wait::Rescheduled;
            }
            if (timeCode) {
                // Keep the time code flowing through long gaps between hits.
                sendTimeCodeUpTo(
                    hostTimeFor(output.currentSeconds() + kLeadSeconds + kTimeCodeLookAheadSeconds));
            }
        }
        return Wait::Ready;
    };

    std::lock_guard rendering(renderingLock_);
    const auto soundFor = [this](const ORPDrumPtr& drum) { return soundForDrum(drum); };

    std::optional<double> finalEndTime;
    // Set when a pass starts again at the loop's start. (A plain double and a flag: GCC 12 reports a
    // std::optional<double> here as maybe uninitialized at -O1.)
    double loopPoint = 0;
    bool atLoopPoint = false;
    while (true) {
        // A pass: from the start bar and place to the end of the list. Pending sound is cut: at a
        // loop point only what lies at or beyond it (the end of the last bar is still to be heard);
        // at the start of a run or after a reschedule, all of it.
        if (!exporting) {
            if (atLoopPoint) {
                speakerOutput_->silenceFromFrame(speakerOutput_->frameAtSeconds(loopPoint));
            } else {
                speakerOutput_->silenceAndFlush();
            }
        }
        rescheduledSemaphore_ = false;
        const RunStart run = runStart();
        const auto& list = run.instances;
        const uint64_t startIndex = run.index;
        const float startPlace = run.place;
        Wait state = Wait::Ready;
        bool looping = false;
        std::optional<size_t> lastWalked;
        timeCodeLimit.reset();

        // Where this pass starts on the output clock; once the time code runs, every new pass
        // (a loop wrap or a reschedule) locates there and restarts the quarter frames.
        const double passStart = startIndex < list->size()
            ? (*list)[startIndex]->renderCueTime()
                + static_cast<double>((*list)[startIndex]->pattern()->duration()) * startPlace / bpmFactor_
            : 0.0;
        const double passEnd = list->empty()
            ? 0.0
            : list->back()->renderCueTime() + static_cast<double>(list->back()->pattern()->duration()) / bpmFactor_;
        if (verbose && timeCode) {
            locate(hostTimeFor(passStart), run, false);
        }
        atLoopPoint = false;

        for (size_t i = startIndex; i < list->size() && state == Wait::Ready && renderingSemaphore_; ++i) {
            const ORPPatternInstancePtr& instance = (*list)[i];
            const ORPPatternPtr pattern = instance->pattern();
            const ORPPattern::EventSnapshot events = pattern->events();
            looping = !exporting && !playOnceOnly_ && defaults.boolForKey(RPLoopPlaybackKey);
            if (looping) {
                // Half a quarter frame short of the loop point, clear of rounding in either series.
                timeCodeLimit = hostTimeFor(passEnd - 0.5 / ORPPlayerTimeCode::kQuarterFramesPerSecond);
            } else {
                timeCodeLimit.reset();
            }
            lastWalked = i;

            size_t firstEvent = 0;
            if (i == startIndex) {
                while (firstEvent < events->size() && (*events)[firstEvent]->whenRatio() < startPlace) {
                    ++firstEvent;
                }
            }
            for (size_t e = firstEvent; e < events->size(); ++e) {
                if (rescheduledSemaphore_) {
                    state = Wait::Rescheduled;
                    break;
                }
                const ORPEventPtr& event = (*events)[e];
                const double t = static_cast<double>(instance->renderCueTime())
                    + static_cast<double>(pattern->duration()) * event->whenRatio() / bpmFactor_;
                state = waitUntil(t);
                if (state != Wait::Ready) {
                    break;
                }
                const rp::MIDITimeStamp h = hostTimeFor(t);
                if (verbose) {
                    if (firstEventOfRun) {
                        // The transport starts at the start position, which the first hit may follow.
                        locate(hostTimeFor(std::min(passStart, t)), run, true);
                    }
                    sendTimeCodeUpTo(h + hostTicks(kTimeCodeLookAheadSeconds));
                }
                firstEventOfRun = false;
                lastHostTime = h;

                const ORPDrumPtr drum = event->drum();
                if (!drum) {
                    continue;
                }
                const float length = maxDuration(*list, e, i, bpmFactor_, looping, soundFor);
                // Every group's file of an export ends with the longest sound of all groups, so
                // that the stems of one export line up and are the same length.
                lastSoundEnd = std::max(lastSoundEnd, t + static_cast<double>(length));
                if (group && drum->groupName() != *group) {
                    continue;
                }
                if (audioOn || (midiActive && !drum->hasMIDI())) {
                    output.playSound(soundFor(drum), event->velocity(), length, t);
                }
                if (midiActive && drum->hasMIDI()) {
                    const auto channel = static_cast<uint8_t>(drum->midiChannel() & 0x0F);
                    const auto note = static_cast<uint8_t>(drum->midiNote() & 0x7F);
                    const double velocity = static_cast<double>(drum->midiVelocity()) * event->velocity()
                        * static_cast<double>(masterLevel_.load());
                    rp::MIDIPacketList notes;
                    notes.add(h, { static_cast<uint8_t>(0x90 | channel), note, midiByte(velocity) });
                    notes.add(h + hostTicks(std::max(kMinimumNoteSeconds, static_cast<double>(length))),
                        { static_cast<uint8_t>(0x80 | channel), note, kNoteOffVelocity });
                    send(notes);
                }
            }
            if (exporting && state == Wait::Ready && exportProgress_) {
                const auto& progress = exportProgress_;
                performForRenderer(
                    [&progress, &instance] { progress->playerIsExportingPatternInstance(instance); });
            }
        }
        if (state == Wait::Rescheduled) {
            continue;
        }
        if (state == Wait::Stopped || !renderingSemaphore_ || !lastWalked) {
            break; // stopped: the run ends without its final cue
        }

        // End of the pass: let time pass (speaker) or write the file (file output) up to the end.
        const ORPPatternInstancePtr& last = (*list)[*lastWalked];
        double endTime = last->renderCueTime() + static_cast<double>(last->pattern()->duration()) / bpmFactor_;
        if (!looping && decay) {
            endTime = std::max(endTime, lastSoundEnd);
        }
        state = waitUntil(endTime);
        if (state == Wait::Rescheduled) {
            continue;
        }
        if (state == Wait::Stopped) {
            break;
        }
        output.playSound(nullptr, 0, 0, endTime);
        if (!looping) {
            finalEndTime = endTime;
            break;
        }
        performForRenderer([this, endTime] {
            if (renderingSemaphore_) {
                scheduleInstancesRelativeToNow(endTime, true);
            }
        });
        loopPoint = endTime;
        atLoopPoint = true;
        if (!renderingSemaphore_) {
            break;
        }
    }

    // A live run that ends by itself lets its last sound finish before the stop that follows
    // empties the rings.
    if (finalEndTime && !exporting) {
        while (renderingSemaphore_ && output.currentSeconds() < *finalEndTime) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    if (verbose) {
        rp::MIDIPacketList stop;
        stop.add(lastHostTime, { 0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7 });
        stop.add(lastHostTime, { 0xFC });
        send(stop);
    }
    if (destination) {
        destination->removeSender(midiSender_.get());
    }
}
