#include "editor/ORPKitWatcher.h"

#include "editor/ORPReconcileController.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/RunLoop.h"
#include "model/ORPSong.h"

#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace rp::editor {

namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO
    | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
// A kit bundle holds a few folders (its sounds); more than this is not a kit worth following.
constexpr int kMaximumBundleDirectories = 64;
constexpr int kMaximumBundleDepth = 4;

} // namespace

struct ORPFolderWatcher::State {
    int inotifyFd = -1;
    int stopFd = -1;
    std::filesystem::path folder;
    std::optional<std::filesystem::path> bundle;
    double latency = ORPFolderWatcher::kDefaultLatency;
    std::function<void()> changed; // main thread only
    bool active = true; // main thread only
    std::thread thread;

    ~State()
    {
        if (inotifyFd >= 0)
            ::close(inotifyFd);
        if (stopFd >= 0)
            ::close(stopFd);
    }

    // The bundle's directories are watched anew after every change: a kit saved aside and renamed
    // into place is a new directory. Adding an existing watch again is harmless.
    void watchBundle() const
    {
        if (!bundle)
            return;
        std::error_code error;
        if (!std::filesystem::is_directory(*bundle, error))
            return;
        ::inotify_add_watch(inotifyFd, bundle->c_str(), kWatchMask | IN_ONLYDIR);
        int count = 1;
        std::filesystem::recursive_directory_iterator it(*bundle, error), end;
        for (; !error && it != end && count < kMaximumBundleDirectories; it.increment(error)) {
            if (it.depth() >= kMaximumBundleDepth) {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_directory(error) && !it->is_symlink(error)) {
                ::inotify_add_watch(inotifyFd, it->path().c_str(), kWatchMask | IN_ONLYDIR);
                ++count;
            }
        }
    }

    void run(std::weak_ptr<State> self)
    {
        using Clock = std::chrono::steady_clock;
        bool pending = false; // a change waits for the deadline
        Clock::time_point deadline = Clock::now();
        alignas(inotify_event) std::array<char, 16384> buffer;
        for (;;) {
            int timeout = -1;
            if (pending) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                timeout = static_cast<int>(std::max<int64_t>(0, left.count()));
            }
            pollfd fds[2] = { { inotifyFd, POLLIN, 0 }, { stopFd, POLLIN, 0 } };
            const int ready = ::poll(fds, 2, timeout);
            if (ready < 0 && errno != EINTR) {
                logf("ORPFolderWatcher: error %d polling for changes", errno);
                return;
            }
            if (fds[1].revents)
                return;
            if (ready > 0 && (fds[0].revents & POLLIN)) {
                while (::read(inotifyFd, buffer.data(), buffer.size()) > 0) {
                }
                watchBundle();
                if (!pending) {
                    pending = true;
                    deadline = Clock::now()
                        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(latency));
                }
            }
            if (pending && Clock::now() >= deadline) {
                pending = false;
                RunLoop::main().perform([self] {
                    auto state = self.lock();
                    if (!state || !state->active)
                        return;
                    auto report = state->changed; // the callback may stop this watch
                    if (report)
                        report();
                });
            }
        }
    }
};

ORPFolderWatcher::ORPFolderWatcher(double latencySeconds)
    : latency_(latencySeconds)
{
}

ORPFolderWatcher::~ORPFolderWatcher()
{
    stop();
}

bool ORPFolderWatcher::watch(const std::filesystem::path& folder,
    const std::optional<std::filesystem::path>& bundle, std::function<void()> changed)
{
    stop();
    auto state = std::make_shared<State>();
    state->inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    state->stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state->inotifyFd < 0 || state->stopFd < 0) {
        logf("ORPFolderWatcher: error %d creating the change watch", errno);
        return false;
    }
    if (::inotify_add_watch(state->inotifyFd, folder.c_str(), kWatchMask | IN_ONLYDIR) < 0) {
        logf("ORPFolderWatcher: error %d watching %s", errno, folder.c_str());
        return false;
    }
    state->folder = folder;
    state->bundle = bundle;
    state->latency = latency_;
    state->changed = std::move(changed);
    state->watchBundle();
    std::weak_ptr<State> weak = state;
    state->thread = std::thread([raw = state.get(), weak] { raw->run(weak); });
    state_ = std::move(state);
    return true;
}

void ORPFolderWatcher::stop()
{
    if (!state_)
        return;
    auto state = std::move(state_);
    state->active = false;
    const uint64_t one = 1;
    if (::write(state->stopFd, &one, sizeof one) < 0)
        logf("ORPFolderWatcher: error %d stopping the change watch", errno);
    if (state->thread.joinable())
        state->thread.join();
}

std::optional<int64_t> modificationTimeInSeconds(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<int64_t>(info.st_mtim.tv_sec);
}

ORPDrumKitWatch::ORPDrumKitWatch(
    std::function<void()> reload, Prompt::SheetWindow window, Prompt* prompt, double latencySeconds)
    : reload_(std::move(reload))
    , window_(window)
    , prompt_(prompt)
    , watcher_(latencySeconds)
{
}

bool ORPDrumKitWatch::watchDrumKitForChange(bool flag, const std::filesystem::path& kitBundle)
{
    watcher_.stop();
    if (!flag || kitBundle.empty())
        return !flag;
    kitBundle_ = kitBundle;
    kitLastModified_ = modificationTimeInSeconds(kitBundle);
    std::filesystem::path folder = kitBundle.parent_path();
    if (folder.empty())
        folder = ".";
    return watcher_.watch(folder, kitBundle, [this] { drumKitFolderChanged(); });
}

void ORPDrumKitWatch::drumKitFolderChanged()
{
    const auto now = modificationTimeInSeconds(kitBundle_);
    const bool changed = now != kitLastModified_;
    kitLastModified_ = now; // one change asks once, whatever the answer
    if (!changed)
        return;
    Prompt::Alert alert;
    alert.title = localized("The drum kit has been modified.");
    alert.message = localizedFormat(
        "Do you wish to re-load %@ to reflect recent changes?", { FormatArgument(kitBundle_.filename().string()) });
    alert.buttons = { localized("OK"), localized("Ignore") };
    alert.defaultButton = 0;
    alert.style = Prompt::AlertStyle::Warning;
    Prompt& prompt = prompt_ ? *prompt_ : Prompt::current();
    prompt.beginSheet(alert, window_, [reload = reload_](const Prompt::AlertResult& result) {
        if (result.button == 0 && reload)
            reload();
    });
}

bool reloadDrumKit(ORPSong& song, ORPReconcileController& reconciler, Prompt& prompt)
{
    const std::filesystem::path url = song.drumKitURL();
    if (url.empty())
        return false;
    Error error;
    auto kit = ORPDrumKit::drumKitFromURL(url, true, &error);
    if (!kit) {
        if (error.code == 0)
            error = Error::make(kErrorInvalidFile, "The drum kit could not be loaded.", {}, {});
        prompt.presentError(error);
        return false;
    }
    if (!reconciler.reconcileInteractivelyForPatterns(song.allPatterns(), kit, localized("Reconcile Drum Kit")))
        return false;
    song.setDrumKit(kit, url);
    return true;
}

} // namespace rp::editor
