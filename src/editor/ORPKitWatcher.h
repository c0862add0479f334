#pragma once

// Watching a song's kit bundle on disk. ORPFolderWatcher reports that something changed in a
// folder (or in the kit bundle inside it), coalesced over a latency, on the main thread.
// ORPDrumKitWatch is the song document's rule on top of it: only a new modification time of the
// kit bundle itself asks the user whether to reload the kit, and each change asks once.

#include "foundation/Prompt.h"
#include "kit/ORPDrumKit.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class ORPSong;
class ORPReconcileController;

namespace rp::editor {

// inotify on a folder and on the directories of one bundle inside it (the bundle's own files change
// without touching the folder). Changes are gathered for `latency` seconds after the first one and
// then reported once, through RunLoop::main(). Created, used and destroyed on the main thread.
class ORPFolderWatcher {
public:
    static constexpr double kDefaultLatency = 2.0;

    explicit ORPFolderWatcher(double latencySeconds = kDefaultLatency);
    ~ORPFolderWatcher();
    ORPFolderWatcher(const ORPFolderWatcher&) = delete;
    ORPFolderWatcher& operator=(const ORPFolderWatcher&) = delete;

    // Stops any earlier watch, then watches `folder` and, when given, the bundle directory inside it.
    // `changed` runs on the main thread, never after stop() or destruction. False (and nothing
    // watched) when the folder cannot be watched.
    bool watch(const std::filesystem::path& folder, const std::optional<std::filesystem::path>& bundle,
        std::function<void()> changed);
    void stop();
    bool isWatching() const { return state_ != nullptr; }

private:
    struct State;
    double latency_;
    std::shared_ptr<State> state_;
};

// The modification time of a file or directory in whole seconds; none when it cannot be read.
std::optional<int64_t> modificationTimeInSeconds(const std::filesystem::path& path);

// The document's kit watch. Main thread only.
class ORPDrumKitWatch {
public:
    // `reload` runs when the user answers the modified-kit sheet with "OK". `window` is the sheet's
    // window; `prompt` null means Prompt::current().
    ORPDrumKitWatch(std::function<void()> reload, Prompt::SheetWindow window = nullptr, Prompt* prompt = nullptr,
        double latencySeconds = ORPFolderWatcher::kDefaultLatency);

    // Stops any watch; when `flag`, records the bundle's time and watches the folder holding it.
    // False when asked to watch and the folder cannot be watched.
    bool watchDrumKitForChange(bool flag, const std::filesystem::path& kitBundle);
    // Something changed in the kit's folder: asks (as a sheet) when the bundle's time differs from
    // the recorded one, and records the new time in any case.
    void drumKitFolderChanged();

    bool isWatching() const { return watcher_.isWatching(); }
    std::optional<int64_t> kitLastModified() const { return kitLastModified_; }

private:
    std::function<void()> reload_;
    Prompt::SheetWindow window_;
    Prompt* prompt_;
    ORPFolderWatcher watcher_;
    std::filesystem::path kitBundle_;
    std::optional<int64_t> kitLastModified_;
};

// After "OK": loads the song's kit again from its location (links resolved interactively), presents
// the error on failure, reconciles every pattern with it under "Reconcile Drum Kit" and, when
// accepted, gives the song the reloaded kit at the same location. Not undoable. True when swapped.
bool reloadDrumKit(ORPSong& song, ORPReconcileController& reconciler, Prompt& prompt);

} // namespace rp::editor
