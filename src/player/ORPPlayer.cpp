#include "player/ORPPlayer.h"

#include "audio/OAOutput.h"
#include "foundation/Logger.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPUserDefaults.h"
#include "midi/KWMIDIEndpoint.h"
#include "midi/MIDIPacketList.h"
#include "model/ORPPattern.h"
#include "model/ORPSectionMarker.h"
#include "player/ORPPlayerInternal.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace rp::player;

constexpr double kLiveHitNoteSeconds = 0.5;

} // namespace

// --- Life ---

std::shared_ptr<ORPPlayer> ORPPlayer::init(std::optional<AudioDeviceKind> device)
{
    return initWithSpeakerOutput(OASpeakerOutput::init(device));
}

std::shared_ptr<ORPPlayer> ORPPlayer::initWithSpeakerOutput(std::shared_ptr<OASpeakerOutput> speaker)
{
    registerDefaults();
    if (!speaker) {
        return nullptr;
    }
    std::shared_ptr<ORPPlayer> player(new ORPPlayer());
    player->speakerOutput_ = std::move(speaker);
    return player;
}

ORPPlayer::~ORPPlayer()
{
    rp::NotificationCenter::defaultCenter().removeObserver(this);
    renderingSemaphore_ = false;
    reapWorker();
    if (speakerOutput_) {
        speakerOutput_->silenceAndFlush();
    }
}

void ORPPlayer::registerDefaults()
{
    playerDefaults().registerDefaults({
        { RPAllowFinalSoundDecayKey, true },
        { RPMuteAudioWhenActiveMIDIKey, false },
        { RPSendVerboseMIDIControlKey, true },
        { RPLastExportAudioFileTypeKey, static_cast<int64_t>(kAudioFileAIFFType) },
        { RPLastExportFormatEncodingKey, static_cast<int64_t>(kAudioFormatLinearPCM) },
        { RPLastExportSampleRateKey, 44100.0 },
        { RPLastExportBitsPerChannelKey, static_cast<int64_t>(16) },
        { RPLastExportNumberOfChannelsKey, static_cast<int64_t>(2) },
    });
}

void ORPPlayer::setPatternEditor(const std::shared_ptr<ORPPlayerEditor>& editor)
{
    auto& center = rp::NotificationCenter::defaultCenter();
    if (observedEditor_) {
        center.removeObserver(this, ORPPatternEditorPatternSelectionChangedNotification, observedEditor_);
        center.removeObserver(this, ORPPatternEditorInsertionPointMovedNotification, observedEditor_);
    }
    patternEditor_ = editor;
    observedEditor_ = editor.get();
    if (!editor) {
        return;
    }
    const auto handler = [this](const rp::Notification&) { adjustPlaybackNotification(); };
    center.addObserver(this, ORPPatternEditorPatternSelectionChangedNotification, observedEditor_, handler);
    center.addObserver(this, ORPPatternEditorInsertionPointMovedNotification, observedEditor_, handler);
}

void ORPPlayer::setMIDIDestination(const std::shared_ptr<KWMIDIEndpoint>& destination)
{
    std::lock_guard lock(stateMutex_);
    midiDestination_ = destination;
}

std::shared_ptr<KWMIDIEndpoint> ORPPlayer::midiDestination() const
{
    std::lock_guard lock(stateMutex_);
    return midiDestination_;
}

std::vector<ORPPatternInstancePtr> ORPPlayer::instances() const
{
    std::lock_guard lock(stateMutex_);
    return *instances_;
}

ORPPlayer::RunStart ORPPlayer::runStart() const
{
    std::lock_guard lock(stateMutex_);
    return { instances_, startIndex_, startPlace_, startSongTime_, startInPlaylistEntry_ };
}

uint64_t ORPPlayer::startIndex() const
{
    std::lock_guard lock(stateMutex_);
    return startIndex_;
}

float ORPPlayer::startPlace() const
{
    std::lock_guard lock(stateMutex_);
    return startPlace_;
}

void ORPPlayer::setMasterLevel(float level)
{
    masterLevel_ = level;
    speakerOutput_->setLevel(level);
}

void ORPPlayer::setMonophonic(bool mono)
{
    monophonic_ = mono;
    speakerOutput_->setMono(mono);
}

OASoundPtr ORPPlayer::soundForDrum(const ORPDrumPtr& drum) const
{
    if (!drum) {
        return nullptr;
    }
    if (const OASoundPtr& stored = drum->storedSound()) {
        return stored;
    }
    std::lock_guard lock(soundMutex_);
    if (!defaultSound_) {
        defaultSound_ = ORPDrum::defaultSound();
    }
    return defaultSound_;
}

void ORPPlayer::precacheWaveformsForDrums(const std::vector<ORPDrumPtr>& drums)
{
    for (const auto& drum : drums) {
        if (auto sound = soundForDrum(drum)) {
            speakerOutput_->preloadBufferForSound(sound);
        }
    }
}

// --- Threads ---

void ORPPlayer::reapWorker()
{
    if (!worker_.joinable()) {
        return;
    }
    // The worker may be waiting for the main thread (export progress, loop reschedule): keep the
    // main loop turning until it has finished.
    auto& loop = rp::RunLoop::main();
    while (workerRunning_.load()) {
        if (loop.isMainThread()) {
            loop.runFor(0.01);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    worker_.join();
}

void ORPPlayer::startWorker(std::function<void()> work)
{
    reapWorker();
    workerRunning_ = true;
    worker_ = std::thread([this, work = std::move(work)] {
        work();
        workerRunning_ = false;
    });
}

// --- Scheduling and stopping ---

void ORPPlayer::startPlaybackOnceOnly(bool once)
{
    registerDefaults();
    // A run already under way is stopped first (its thread must end before the new one starts).
    stopAndReset();
    reapWorker();
    renderingSemaphore_ = true;
    exporting_ = false;
    playOnceOnly_ = once;
    const uint64_t generation = ++runGeneration_;
    scheduleInstancesRelativeToNow(speakerOutput_->currentSeconds() + kLeadSeconds, false);
    startWorker([this, generation] { playbackThread(generation); });
}

void ORPPlayer::scheduleInstancesRelativeToNow(double seconds, bool fromTop)
{
    const auto editor = patternEditor_.lock();
    InstanceList list;
    uint64_t index = 0;
    float place = 0;
    if (editor && editor->hasSelection()) {
        list = editor->selectedPatternInstances();
    } else if (editor) {
        list = editor->patternInstances();
        uint64_t previousIndex;
        float previousPlace;
        {
            std::lock_guard lock(stateMutex_);
            previousIndex = lastScheduledIndex_;
            previousPlace = lastScheduledPlace_;
        }
        const bool previousAtEnd = !list.empty() && previousIndex == list.size() - 1 && previousPlace == 1.0f;
        if (!(previousAtEnd || fromTop || exporting_)) {
            if (const auto insertion = editor->insertionPointIndex()) { // none: from the top
                index = *insertion;
                place = editor->insertionPointPlace();
            }
        }
    }
    std::erase_if(
        list, [](const ORPPatternInstancePtr& instance) { return !instance || !instance->pattern(); });
    if (index >= list.size()) {
        // An insertion point past the last bar starts at the very end of the last one.
        index = list.empty() ? 0 : list.size() - 1;
        place = list.empty() ? 0.0f : 1.0f;
    }
    place = std::clamp(place, 0.0f, 1.0f);

    for (uint64_t i = 0; i < index; ++i) {
        list[i]->setRenderCueTime(0);
    }
    double songTime = 0;
    bool inPlaylistEntry = false;
    if (!list.empty()) {
        const ORPPatternInstancePtr& start = list[index];
        const double startOffset = static_cast<double>(start->pattern()->duration()) * place;
        double cue = seconds - startOffset / bpmFactor_;
        for (uint64_t i = index; i < list.size(); ++i) {
            list[i]->setRenderCueTime(cue);
            cue += static_cast<double>(list[i]->pattern()->duration()) / bpmFactor_;
        }
        songTime = static_cast<double>(start->cueTime()) + startOffset;
        inPlaylistEntry = start->sectionMarker() != nullptr;
    }
    {
        std::lock_guard lock(stateMutex_);
        startSongTime_ = songTime;
        startInPlaylistEntry_ = inPlaylistEntry;
        instances_ = std::make_shared<const InstanceList>(std::move(list));
        startIndex_ = lastScheduledIndex_ = index;
        startPlace_ = lastScheduledPlace_ = place;
    }
    rescheduledSemaphore_ = true;
}

void ORPPlayer::adjustPlaybackNotification()
{
    if (isPlaying() && !exporting_) {
        // With the usual lead, so that the first hit at the new place keeps its attack.
        scheduleInstancesRelativeToNow(speakerOutput_->currentSeconds() + kLeadSeconds, false);
    }
}

void ORPPlayer::stopAndReset()
{
    if (!isPlaying()) {
        return;
    }
    renderingSemaphore_ = false;
    if (rendererCallDepth_ > 0) {
        // Called from inside a call the renderer is waiting for (export progress): the renderer cannot
        // leave before this returns, so the rest of the stop happens in a later turn.
        std::weak_ptr<ORPPlayer> weak = weak_from_this();
        rp::RunLoop::main().perform([weak] {
            if (auto player = weak.lock()) {
                player->completeStop();
            }
        });
        return;
    }
    completeStop();
}

void ORPPlayer::completeStop()
{
    auto& loop = rp::RunLoop::main();
    std::unique_lock lock(renderingLock_, std::try_to_lock);
    while (!lock.owns_lock()) {
        // The renderer may be waiting for the main thread; let that call complete.
        if (loop.isMainThread()) {
            loop.runFor(0.01);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        lock.try_lock();
    }
    speakerOutput_->silenceAndFlush();
    std::lock_guard state(stateMutex_);
    instances_ = std::make_shared<const InstanceList>();
    startIndex_ = 0;
    startPlace_ = 0;
}

void ORPPlayer::performForRenderer(const std::function<void()>& work)
{
    rp::RunLoop::main().performAndWait([this, &work] {
        ++rendererCallDepth_;
        work();
        --rendererCallDepth_;
    });
}

void ORPPlayer::stopAndResetRun(uint64_t generation)
{
    if (runGeneration_.load() == generation) {
        stopAndReset();
    }
}

bool ORPPlayer::getCurrentPatternInstance(ORPPatternInstancePtr& instance, float& place) const
{
    instance = nullptr;
    place = 0;
    if (!isPlaying()) {
        return false;
    }
    const RunStart run = runStart();
    const auto& list = run.instances;
    const uint64_t start = run.index;
    const float startAt = run.place;
    if (list->empty()) {
        return false;
    }
    const double now = speakerOutput_->currentSeconds();
    const auto spanEnd = [this](const ORPPatternInstancePtr& i) {
        return i->renderCueTime() + static_cast<double>(i->pattern()->duration()) / bpmFactor_;
    };
    size_t low = 0;
    size_t high = list->size();
    size_t probed = 0;
    std::optional<size_t> found;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        probed = middle;
        const auto& candidate = (*list)[middle];
        if (now < candidate->renderCueTime()) {
            high = middle;
        } else if (now > spanEnd(candidate)) {
            low = middle + 1;
        } else {
            found = middle;
            break;
        }
    }
    const size_t index = found.value_or(probed);
    const auto& at = (*list)[index];
    const float computed = static_cast<float>(
        (now - at->renderCueTime()) * bpmFactor_ / std::max(at->pattern()->duration(), 1e-6f));
    if (found && (index < start || (index == start && computed <= startAt))) {
        instance = (*list)[std::min<size_t>(start, list->size() - 1)];
        place = startAt;
    } else {
        instance = at;
        place = computed;
    }
    return true;
}

// --- Live single hit ---

void ORPPlayer::playDrumSound(const ORPDrumPtr& drum, float velocity)
{
    if (!drum) {
        return;
    }
    registerDefaults();
    const auto destination = midiDestination();
    if (destination) {
        destination->addSender(midiSender_);
    }
    const OASoundPtr sound = soundForDrum(drum);
    if (!drum->hasMIDI() || !destination || !destination->isOnline()) {
        speakerOutput_->playSound(sound, velocity);
    } else {
        if (!playerDefaults().boolForKey(RPMuteAudioWhenActiveMIDIKey)) {
            speakerOutput_->playSound(sound, velocity);
        }
        const auto channel = static_cast<uint8_t>(drum->midiChannel() & 0x0F);
        const auto note = static_cast<uint8_t>(drum->midiNote() & 0x7F);
        rp::MIDIPacketList list;
        list.add(0,
            { static_cast<uint8_t>(0x90 | channel), note,
                midiByte(static_cast<double>(drum->midiVelocity()) * masterLevel_.load()) });
        list.add(
            rp::hostTimeNow() + static_cast<rp::MIDITimeStamp>(kLiveHitNoteSeconds * kHostTicksPerSecond),
            { static_cast<uint8_t>(0x80 | channel), note, kNoteOffVelocity });
        destination->processMIDIPacketList(list, midiSender_.get());
    }
    if (destination) {
        destination->removeSender(midiSender_.get());
    }
}
