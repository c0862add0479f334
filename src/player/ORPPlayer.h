#pragma once

#include "audio/AudioDevice.h"
#include "audio/AudioTypes.h"
#include "audio/OASpeakerOutput.h"
#include "kit/ORPDrum.h"
#include "model/ORPPatternInstance.h"
#include "player/ORPPlayerEditor.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class KWMIDIEndpoint;
class ORPDrumKit;
class OAOutput;
namespace rp {
class Prompt;
}

// User-default keys the player reads.
inline constexpr const char* RPAllowFinalSoundDecayKey = "RPAllowFinalSoundDecay";
inline constexpr const char* RPMuteAudioWhenActiveMIDIKey = "RPMuteAudioWhenActiveMIDI";
inline constexpr const char* RPSendVerboseMIDIControlKey = "RPSendVerboseMIDIControl";
// Registered (false) by the transport inspector, which owns the option; read false when unregistered.
inline constexpr const char* RPLoopPlaybackKey = "RPLoopPlayback";
inline constexpr const char* RPLastExportAudioFileTypeKey = "RPLastExportAudioFileType";
inline constexpr const char* RPLastExportFormatEncodingKey = "RPLastExportFormatEncoding";
inline constexpr const char* RPLastExportSampleRateKey = "RPLastExportSampleRate";
inline constexpr const char* RPLastExportBitsPerChannelKey = "RPLastExportBitsPerChannel";
inline constexpr const char* RPLastExportNumberOfChannelsKey = "RPLastExportNumberOfChannels";

// Where an export goes: the answer of the export panel (modes 0 and 1) or of the save panel (mode 2).
struct ORPExportRequest {
    FourCharCode fileType = 0; // 'AIFF', 'WAVE', ... (modes 0, 1)
    AudioStreamBasicDescription streamDescription; // rate, format ID, bits, channels (modes 0, 1)
    std::string path; // mode 0: the file; mode 1: the base name, each group's file gets " (Group)"
                      // before the extension; mode 2: the MIDI file
};

// What the chooser of an export's destination is told.
struct ORPExportSetup {
    unsigned mode = 0;
    double duration = 0; // seconds of the bars laid end to end
    std::string defaultFilename; // as the caller gave it
    ORPExportRequest remembered; // the remembered format (modes 0 and 1)
    std::vector<std::string> filenameSuffixes; // mode 1: " (Group)" for each group of the kit, in order
};
// Asks the user where (and for audio, in which format) to export; none when they dismissed the
// question. Called on the main thread, for mode 2 after the alert about drums without MIDI notes.
using ORPExportDestination = std::function<std::optional<ORPExportRequest>(const ORPExportSetup&)>;

// The progress display of an export. Called on the main thread; the export thread waits for each call.
class ORPExportProgress {
public:
    virtual ~ORPExportProgress() = default;
    virtual void playerWillExportFilename(const std::string& path) = 0;
    virtual void playerIsExportingPatternInstance(const ORPPatternInstancePtr& instance) = 0;
    // The export is over: finished (0.5 s after the last file was written) or canceled (every file of
    // the export deleted). Called once for every export whose thread was started.
    virtual void playerDidFinishExport(bool canceled) = 0;
};

// Turns a run of pattern instances into timed drum sounds and MIDI messages: live playback on the
// speaker output from a playback thread, audio export into files and MIDI file export from an
// export thread, single live hits, and the play position for the editor.
//
// Threads: every public operation is for the main thread, except the getters marked otherwise. The
// renderer (playback or export thread) reads the run flags at every event, holds `renderingLock_`
// for a whole render walk, and calls the main thread (waiting) for export progress and for the
// reschedule at a loop point, which is why stopAndReset runs the main loop while it waits.
class ORPPlayer : public std::enable_shared_from_this<ORPPlayer> {
public:
    // With the speaker output on `device` (none: the default device). Null when the output cannot be
    // made.
    static std::shared_ptr<ORPPlayer> init(std::optional<AudioDeviceKind> device = std::nullopt);
    // With `speaker` as its speaker output (for example one whose clock has been running for days).
    // Null when there is no output.
    static std::shared_ptr<ORPPlayer> initWithSpeakerOutput(std::shared_ptr<OASpeakerOutput> speaker);
    // Stops a run (or an export) and waits for its thread.
    ~ORPPlayer();
    ORPPlayer(const ORPPlayer&) = delete;
    ORPPlayer& operator=(const ORPPlayer&) = delete;

    void setPatternEditor(const std::shared_ptr<ORPPlayerEditor>& editor);
    // The MIDI output (none: no MIDI is sent).
    void setMIDIDestination(const std::shared_ptr<KWMIDIEndpoint>& destination);

    // Any thread.
    bool isPlaying() const { return renderingSemaphore_.load(); }
    void startPlaybackOnceOnly(bool once);
    void stopAndReset();
    bool getCurrentPatternInstance(ORPPatternInstancePtr& instance, float& place) const;

    void playDrumSound(const ORPDrumPtr& drum, float velocity);
    void precacheWaveformsForDrums(const std::vector<ORPDrumPtr>& drums);
    void setMasterLevel(float level);
    float masterLevel() const { return masterLevel_.load(); }
    void setMonophonic(bool mono);
    bool isMonophonic() const { return monophonic_.load(); }
    const std::shared_ptr<OASpeakerOutput>& speakerOutput() const { return speakerOutput_; }

    // How long the event `evt` of instance `patt` may sound, in seconds: until its sound ends or a
    // later hit of a drum of the same type with variant precedence chokes it. Any thread.
    float maxDurationForEvtIndex(uint16_t evt, uint16_t patt, float bpmFactor, bool looping) const;

    // The two halves of a run. Scheduling gives every instance its start on the output clock so that
    // the start place falls on `seconds`; rendering walks the events into `output` (for an export,
    // only the drums of `group` when one is given). Rendering runs on the renderer's thread.
    void scheduleInstancesRelativeToNow(double seconds, bool fromTop);
    void renderPatternInstancesToOutput(OAOutput& output, const std::optional<std::string>& group);

    // Export entry. Mode 0: one audio file; mode 1: one audio file per drum group of the kit; mode 2:
    // a Standard MIDI File. `chooseDestination` is asked where to write; none means the user
    // dismissed it and nothing happens. `prompt` answers the alert about drums without MIDI notes
    // (mode 2). Returns once the export thread is started; progress is reported on the main run loop.
    void exportPatternInstances(const std::vector<ORPPatternInstancePtr>& instances, unsigned mode,
        const std::shared_ptr<ORPDrumKit>& kit, const std::optional<std::string>& songTitle,
        const std::optional<std::string>& authorNotes, const std::string& defaultFilename,
        const ORPExportDestination& chooseDestination, rp::Prompt& prompt,
        const std::shared_ptr<ORPExportProgress>& progress);
    // The progress display's Cancel button: stops the export; its files are deleted. May be called
    // from inside a progress call.
    void cancelExport();
    // True from the start of an export until its thread has finished (files written or deleted).
    bool isExporting() const { return exportActive_.load(); }
    bool exportCanceled() const { return exportCanceled_.load(); }

    // The remembered export format: type, and a description with rate, format ID, bits and channels.
    static ORPExportRequest rememberedExportFormat();
    // The per-group file names of a base path: "dir/Song.aiff" -> "dir/Song (Drums).aiff".
    static std::string exportFilenameForGroup(const std::string& basePath, const std::string& group);
    // The suffix of a group's file name: " (Drums)".
    static std::string exportSuffixForGroup(const std::string& group);

    // Registers the defaults of every key above (idempotent).
    static void registerDefaults();

    // The run as last scheduled. Any thread.
    std::vector<ORPPatternInstancePtr> instances() const;
    uint64_t startIndex() const;
    float startPlace() const;

private:
    using InstanceList = std::vector<ORPPatternInstancePtr>;
    struct AudioExportJob;
    // The bars of the current run and where it starts, read together under the state lock.
    struct RunStart {
        std::shared_ptr<const InstanceList> instances;
        uint64_t index = 0;
        float place = 0;
        // The song time of the start position (the start bar's cue time plus the start place), where
        // the time code begins; whether the start bar belongs to a playlist entry (then MMC locates).
        double songTime = 0;
        bool inPlaylistEntry = false;
    };
    RunStart runStart() const;

    ORPPlayer() = default;

    void adjustPlaybackNotification();
    // stopAndReset for the run of that generation only (a finished thread's request must not stop a
    // run started after it).
    void stopAndResetRun(uint64_t generation);
    // The part of stopAndReset after the flag is cleared: waits for the renderer, empties the rings.
    void completeStop();
    // Runs `work` on the main thread for the renderer and waits for it; a stop requested inside it is
    // completed afterwards.
    void performForRenderer(const std::function<void()>& work);
    void playbackThread(uint64_t generation);
    void exportAudioThread(const std::shared_ptr<AudioExportJob>& job);
    void exportMIDIThread(std::vector<std::pair<uint8_t, std::string>> meta, std::string path,
        std::shared_ptr<ORPExportProgress> progress, uint64_t generation);
    void startExportMIDI(const std::shared_ptr<ORPDrumKit>& kit, const std::optional<std::string>& songTitle,
        const std::optional<std::string>& authorNotes, const ORPExportSetup& setup,
        const ORPExportDestination& chooseDestination, rp::Prompt& prompt,
        const std::shared_ptr<ORPExportProgress>& progress);
    void finishExportThread(bool canceled, const std::vector<ORPDrumPtr>& drums,
        const std::shared_ptr<ORPExportProgress>& progress, uint64_t generation);

    // Starts the renderer's thread, after waiting for the previous one.
    void startWorker(std::function<void()> work);
    void reapWorker();

    // The drum's sound; drums without one share the player's default sound.
    OASoundPtr soundForDrum(const ORPDrumPtr& drum) const;
    static float maxDuration(const InstanceList& instances, size_t evt, size_t patt, float bpmFactor,
        bool looping, const std::function<OASoundPtr(const ORPDrumPtr&)>& soundFor);

    std::shared_ptr<KWMIDIEndpoint> midiDestination() const;

    // --- run state, guarded by stateMutex_ (the instances' render cue times are atomics) ---
    mutable std::mutex stateMutex_;
    std::shared_ptr<const InstanceList> instances_ = std::make_shared<const InstanceList>();
    uint64_t startIndex_ = 0;
    float startPlace_ = 0;
    // Where the last scheduling started (kept across stops: starting twice at the very end of the
    // song plays from the top the second time).
    uint64_t lastScheduledIndex_ = 0;
    float lastScheduledPlace_ = 0;
    std::shared_ptr<KWMIDIEndpoint> midiDestination_;
    double startSongTime_ = 0;
    bool startInPlaylistEntry_ = false;

    std::weak_ptr<ORPPlayerEditor> patternEditor_;
    const void* observedEditor_ = nullptr;
    const float bpmFactor_ = 1.0f;
    std::atomic<float> masterLevel_ { 1.0f };
    std::atomic<bool> monophonic_ { false };
    std::atomic<bool> playOnceOnly_ { false };
    std::atomic<bool> exporting_ { false };
    std::atomic<bool> renderingSemaphore_ { false };
    std::atomic<bool> rescheduledSemaphore_ { false };
    std::atomic<uint64_t> runGeneration_ { 0 };
    int rendererCallDepth_ = 0; // main thread only
    std::mutex renderingLock_;

    std::shared_ptr<OASpeakerOutput> speakerOutput_;
    // Identifies the player as a sender to the MIDI destination without keeping the player alive.
    std::shared_ptr<const int> midiSender_ = std::make_shared<const int>(0);
    mutable std::mutex soundMutex_;
    mutable OASoundPtr defaultSound_;

    // --- export ---
    std::atomic<bool> exportCanceled_ { false };
    std::atomic<bool> exportActive_ { false };
    std::shared_ptr<ORPExportProgress> exportProgress_; // main thread only

    std::thread worker_;
    std::atomic<bool> workerRunning_ { false };
};
