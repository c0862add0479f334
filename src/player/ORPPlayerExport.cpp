// Audio export (one mixed file or one file per drum group) and MIDI file export: the entry
// operation on the main thread and the export threads.

#include "BuildInfo.h"
#include "audio/OAFileOutput.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/Prompt.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPUserDefaults.h"
#include "model/ORPPattern.h"
#include "player/ORPMIDIFileExport.h"
#include "player/ORPPlayer.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

// Extra ring room beyond the longest sound, for the frames resampling may add.
constexpr float kRingMarginSeconds = 0.01f;

std::vector<ORPDrumPtr> drumsOfInstances(const std::vector<ORPPatternInstancePtr>& instances)
{
    std::vector<ORPDrumPtr> drums;
    std::set<const ORPDrum*> seen;
    for (const auto& instance : instances) {
        // Hold the snapshot: the main thread may replace the pattern's event list meanwhile.
        const ORPPattern::EventSnapshot events = instance->pattern()->events();
        for (const auto& event : *events) {
            if (auto drum = event->drum(); drum && seen.insert(drum.get()).second) {
                drums.push_back(std::move(drum));
            }
        }
    }
    return drums;
}

void rememberExportFolder(const std::string& path)
{
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        ORPUserDefaults::setExportDirectoryURL(folder);
    }
}

} // namespace

// What the audio export thread works on, fixed when the export starts.
struct ORPPlayer::AudioExportJob {
    FourCharCode fileType = 0;
    AudioStreamBasicDescription description;
    OAFileOutputPtr firstOutput;
    std::vector<std::string> filenames;
    std::vector<std::optional<std::string>> groups; // parallel to filenames; none: every drum
    float bufferDuration = 0;
    float level = 1;
    std::vector<ORPPatternInstancePtr> instances;
    std::shared_ptr<ORPExportProgress> progress;
    uint64_t generation = 0;
};

std::string ORPPlayer::exportSuffixForGroup(const std::string& group)
{
    // A group name is part of one file-name component: a slash in it must not reach into another
    // folder.
    std::string name = group;
    std::replace(name.begin(), name.end(), '/', '-');
    return rp::formatText(" (%@)", { name });
}

std::string ORPPlayer::exportFilenameForGroup(const std::string& basePath, const std::string& group)
{
    const std::filesystem::path base(basePath);
    std::filesystem::path file
        = base.parent_path() / (base.stem().string() + exportSuffixForGroup(group) + base.extension().string());
    return file.string();
}

ORPExportRequest ORPPlayer::rememberedExportFormat()
{
    registerDefaults();
    rp::UserDefaults& defaults = ORPUserDefaults::defaults();
    ORPExportRequest request;
    request.fileType = static_cast<FourCharCode>(defaults.integerForKey(RPLastExportAudioFileTypeKey));
    const double rate = defaults.doubleForKey(RPLastExportSampleRateKey);
    const auto channels = static_cast<uint32_t>(std::clamp<int64_t>(
        defaults.integerForKey(RPLastExportNumberOfChannelsKey), 1, OAOutput::kMaximumChannels));
    const auto bits = static_cast<uint32_t>(
        std::clamp<int64_t>(defaults.integerForKey(RPLastExportBitsPerChannelKey), 0, 64));
    const auto format = static_cast<FourCharCode>(defaults.integerForKey(RPLastExportFormatEncodingKey));
    if (format == kAudioFormatLinearPCM) {
        request.streamDescription = AudioStreamBasicDescription::bigEndianInteger(rate, channels, bits);
    } else {
        request.streamDescription.mSampleRate = rate;
        request.streamDescription.mFormatID = format;
        request.streamDescription.mChannelsPerFrame = channels;
        request.streamDescription.mBitsPerChannel = bits;
    }
    return request;
}

void ORPPlayer::exportPatternInstances(const std::vector<ORPPatternInstancePtr>& instances, unsigned mode,
    const std::shared_ptr<ORPDrumKit>& kit, const std::optional<std::string>& songTitle,
    const std::optional<std::string>& authorNotes, const std::string& defaultFilename,
    const ORPExportDestination& chooseDestination, rp::Prompt& prompt,
    const std::shared_ptr<ORPExportProgress>& progress)
{
    registerDefaults();
    stopAndReset();
    reapWorker(); // an earlier export may still be deleting or pre-caching

    // The bars laid end to end from time 0.
    InstanceList list = instances;
    std::erase_if(
        list, [](const ORPPatternInstancePtr& instance) { return !instance || !instance->pattern(); });
    double cue = 0;
    for (const auto& instance : list) {
        instance->setRenderCueTime(cue);
        cue += static_cast<double>(instance->pattern()->duration()) / bpmFactor_;
    }
    {
        std::lock_guard lock(stateMutex_);
        instances_ = std::make_shared<const InstanceList>(list);
        startIndex_ = 0;
        startPlace_ = 0;
        startSongTime_ = 0;
        startInPlaylistEntry_ = false;
    }

    ORPExportSetup setup;
    setup.mode = mode;
    setup.duration = cue;
    setup.defaultFilename = defaultFilename;
    if (mode == 2) {
        startExportMIDI(kit, songTitle, authorNotes, setup, chooseDestination, prompt, progress);
        return;
    }
    if (mode != 0 && mode != 1) {
        rp::logf("ORPPlayer: error, bad exportMode (%lu) passed to exportPatternInstances!",
            static_cast<unsigned long>(mode));
        exportCanceled_ = true;
        stopAndReset();
        return;
    }

    auto job = std::make_shared<AudioExportJob>();
    setup.remembered = rememberedExportFormat();
    std::vector<std::string> groups;
    if (mode == 1 && kit) {
        for (const auto& group : kit->drumsHierarchy()) {
            groups.push_back(group ? group->groupName() : std::string());
            setup.filenameSuffixes.push_back(exportSuffixForGroup(groups.back()));
        }
    }
    const std::optional<ORPExportRequest> request = chooseDestination ? chooseDestination(setup) : std::nullopt;
    if (!request) {
        return; // the panel was dismissed
    }
    if (mode == 1) {
        for (const auto& name : groups) {
            job->groups.emplace_back(name);
            job->filenames.push_back(exportFilenameForGroup(request->path, name));
        }
    } else {
        job->groups.emplace_back(std::nullopt);
        job->filenames.push_back(request->path);
    }

    rp::UserDefaults& defaults = ORPUserDefaults::defaults();
    const AudioStreamBasicDescription& description = request->streamDescription;
    defaults.setInteger(request->fileType, RPLastExportAudioFileTypeKey);
    defaults.setInteger(description.mFormatID, RPLastExportFormatEncodingKey);
    defaults.setDouble(description.mSampleRate, RPLastExportSampleRateKey);
    defaults.setInteger(description.mBitsPerChannel, RPLastExportBitsPerChannelKey);
    defaults.setInteger(description.mChannelsPerFrame, RPLastExportNumberOfChannelsKey);
    rememberExportFolder(request->path);

    job->firstOutput = OAFileOutput::initWithFileType(request->fileType, description);
    if (!job->firstOutput) {
        rp::logf("Problem initializing file output device.");
        return;
    }
    job->fileType = request->fileType;
    job->description = description;
    job->bufferDuration = speakerOutput_->bufferDuration();
    job->level = masterLevel_.load();
    job->instances = std::move(list);
    job->progress = progress;

    renderingSemaphore_ = true;
    exporting_ = true;
    exportCanceled_ = false;
    exportActive_ = true;
    exportProgress_ = progress;
    job->generation = ++runGeneration_;
    startWorker([this, job] { exportAudioThread(job); });
}

void ORPPlayer::exportAudioThread(const std::shared_ptr<AudioExportJob>& job)
{
    // The rings must hold the longest sound from the start: growing them mid-file drops what is
    // pending in them.
    float longestSound = job->bufferDuration;
    for (const auto& drum : drumsOfInstances(job->instances)) {
        if (const auto sound = soundForDrum(drum)) {
            longestSound = std::max(longestSound, static_cast<float>(sound->duration()) + kRingMarginSeconds);
        }
    }

    for (size_t i = 0; i < job->filenames.size() && renderingSemaphore_; ++i) {
        const std::string& path = job->filenames[i];
        if (job->progress) {
            performForRenderer([&] { job->progress->playerWillExportFilename(path); });
        }
        // Each file gets an output of its own, so that sound still pending at the end of one
        // group's file cannot leak into the next.
        OAFileOutputPtr output
            = i == 0 ? job->firstOutput : OAFileOutput::initWithFileType(job->fileType, job->description);
        if (!output) {
            rp::logf("Problem initializing file output device.");
            continue;
        }
        output->setBufferDuration(longestSound);
        output->setLevel(job->level);
        if (!output->openWithFileName(path)) {
            continue; // logged by the output
        }
        renderPatternInstancesToOutput(*output, job->groups[i]);
        output->close();
    }
    job->firstOutput.reset();

    const bool canceled = exportCanceled_.load();
    if (canceled) {
        for (const auto& path : job->filenames) {
            std::error_code error;
            std::filesystem::remove(path, error);
        }
    }
    finishExportThread(canceled, drumsOfInstances(job->instances), job->progress, job->generation);
}

void ORPPlayer::finishExportThread(bool canceled, const std::vector<ORPDrumPtr>& drums,
    const std::shared_ptr<ORPExportProgress>& progress, uint64_t generation)
{
    if (!drums.empty()) {
        // The export may have decoded the sounds at its own rate: decode them again for the speaker.
        performForRenderer([&] { precacheWaveformsForDrums(drums); });
    }
    std::weak_ptr<ORPPlayer> weak = weak_from_this();
    rp::RunLoop::main().perform([weak, canceled, progress, generation] {
        const auto player = weak.lock();
        if (!player) {
            return;
        }
        player->stopAndResetRun(generation);
        player->exportProgress_.reset();
        player->exportActive_ = false;
        if (!progress) {
            return;
        }
        if (canceled) {
            progress->playerDidFinishExport(true);
        } else {
            // The finished display stays up for half a second.
            rp::RunLoop::main().addTimer(0.5, false, [progress] { progress->playerDidFinishExport(false); });
        }
    });
}

void ORPPlayer::cancelExport()
{
    if (!exportActive_ || exportCanceled_) {
        return;
    }
    exportCanceled_ = true;
    stopAndReset();
}

// --- MIDI file ---

void ORPPlayer::startExportMIDI(const std::shared_ptr<ORPDrumKit>& kit,
    const std::optional<std::string>& songTitle, const std::optional<std::string>& authorNotes,
    const ORPExportSetup& setup, const ORPExportDestination& chooseDestination, rp::Prompt& prompt,
    const std::shared_ptr<ORPExportProgress>& progress)
{
    const std::string kitName = kit ? kit->kitName() : std::string();
    const auto unmapped = ORPMIDIFileExport::drumsWithoutMIDI(instances());
    if (!unmapped.empty()) {
        rp::Prompt::Alert alert;
        alert.style = rp::Prompt::AlertStyle::Informational;
        alert.title = rp::localized("Some drums do not have MIDI note assignments.");
        if (unmapped.size() == 1) {
            alert.message = rp::localizedFormat(
                "One instrument from %@ will be missing from the MIDI file.", { kitName });
        } else {
            std::string format = rp::localized("%lu instruments from %@ will be missing from the MIDI file.");
            if (const auto at = format.find("%lu"); at != std::string::npos) {
                format.replace(at, 3, std::to_string(unmapped.size()));
            }
            alert.message = rp::formatText(format, { kitName });
        }
        alert.buttons = { rp::localized("Continue"), rp::localized("Cancel") };
        alert.defaultButton = 0;
        if (prompt.runAlert(alert) != 0) {
            return;
        }
    }
    const std::optional<ORPExportRequest> request = chooseDestination ? chooseDestination(setup) : std::nullopt;
    if (!request) {
        return; // the save panel was dismissed
    }
    rememberExportFolder(request->path);

    std::vector<std::pair<uint8_t, std::string>> meta;
    meta.emplace_back(1, rp::formatText("Generated by Orrery Rattlepan %@", { RP_BUILD_SHORT_VERSION }));
    if (songTitle) {
        meta.emplace_back(3, *songTitle);
    }
    if (authorNotes) {
        meta.emplace_back(2, *authorNotes);
    }
    meta.emplace_back(4, kitName);

    renderingSemaphore_ = true;
    exporting_ = true;
    exportCanceled_ = false;
    exportActive_ = true;
    exportProgress_ = progress;
    const uint64_t generation = ++runGeneration_;
    startWorker([this, meta = std::move(meta), path = request->path, progress, generation]() mutable {
        exportMIDIThread(std::move(meta), std::move(path), std::move(progress), generation);
    });
}

void ORPPlayer::exportMIDIThread(std::vector<std::pair<uint8_t, std::string>> meta, std::string path,
    std::shared_ptr<ORPExportProgress> progress, uint64_t generation)
{
    bool canceled = false;
    {
        std::lock_guard rendering(renderingLock_);
        if (progress) {
            performForRenderer([&] { progress->playerWillExportFilename(path); });
        }
        const std::shared_ptr<const InstanceList> list = runStart().instances;
        const auto soundFor = [this](const ORPDrumPtr& drum) { return soundForDrum(drum); };
        const rp::StandardMIDIFile file = ORPMIDIFileExport::build(
            *list, meta,
            [&](uint16_t eventIndex, uint16_t instanceIndex) {
                return maxDuration(*list, eventIndex, instanceIndex, 1.0f, false, soundFor);
            },
            [&](const ORPPatternInstancePtr& instance) {
                if (!renderingSemaphore_) {
                    return false;
                }
                if (progress) {
                    performForRenderer([&] { progress->playerIsExportingPatternInstance(instance); });
                }
                return true;
            });
        canceled = exportCanceled_.load();
        if (!canceled) {
            file.writeToFile(path); // a failure is logged by the writer
        }
    }
    finishExportThread(canceled, {}, progress, generation);
}
