#include "editor/ORPSongOpener.h"

#include "foundation/Localization.h"
#include "foundation/UndoManager.h"
#include "kit/ORPUserDefaults.h"

namespace fs = std::filesystem;

namespace {

// Loads a kit with link repair; a failure without an error of its own (a folder holding no kit
// file) still gets one, so that the user is told why.
ORPDrumKitPtr loadKit(const fs::path& url, rp::Error* error)
{
    rp::Error kitError;
    ORPDrumKitPtr kit = ORPDrumKit::drumKitFromURL(url, true, &kitError);
    if (!kit && error) {
        if (kitError.domain.empty()) {
            kitError = rp::Error::make(rp::kErrorInvalidFile,
                "'%@' is not a valid Rattlepan drum kit file, or may be corrupt.", url.filename().string(),
                "It is not a valid Rattlepan drum kit file.");
            kitError.url = rp::fileURLFromPath(fs::absolute(url).string());
        }
        *error = std::move(kitError);
    }
    return kit;
}

} // namespace

std::optional<fs::path> chooseDrumKitWithDefaultURL(rp::Prompt& prompt, const std::optional<fs::path>& url)
{
    fs::path start = url ? url->parent_path() : fs::path();
    if (start.empty()) {
        if (auto defaultKit = ORPUserDefaults::defaultDrumKitURL())
            start = defaultKit->parent_path();
    }
    rp::Prompt::Choice choice;
    choice.message = rp::localized("Choose a Drum Kit");
    choice.prompt = rp::localized("Choose");
    choice.startDirectory = start;
    choice.allowedTypes = { ORPDrumKit::kKitExtension };
    return prompt.chooseFile(choice);
}

// ---- ORPSongOpener ------------------------------------------------------------------------------

ORPSongOpener::ORPSongOpener(ORPReconcileController& reconciler, rp::Prompt& prompt)
    : reconciler_(reconciler)
    , prompt_(prompt)
{
}

std::optional<ORPSongOpener::Opened> ORPSongOpener::openSong(const fs::path& url, rp::Error* error)
{
    rp::Error readError;
    ORPSongPtr song = ORPSong::songFromURL(url, &readError);
    if (!song) {
        if (error)
            *error = std::move(readError);
        return std::nullopt;
    }
    const auto& patterns = song->allPatterns();
    const std::string reconcileName = rp::localized("Reconcile Drum Kit");

    // The stored location, then a kit of the same name lying beside the song file.
    const fs::path stored = song->drumKitURL();
    std::vector<fs::path> candidates;
    if (!stored.empty()) {
        candidates.push_back(stored);
        if (stored.has_filename())
            candidates.push_back(url.parent_path() / stored.filename());
    }

    Opened opened;
    opened.song = song;
    std::optional<fs::path> lastTried;
    bool accepted = false;
    for (const auto& candidate : candidates) {
        lastTried = candidate;
        if (auto kit = ORPDrumKit::drumKitFromURL(candidate, true, nullptr)) {
            opened.kit = kit;
            opened.kitURL = candidate;
            break;
        }
    }
    if (opened.kit)
        accepted = reconciler_.reconcileInteractivelyForPatterns(patterns, opened.kit, reconcileName);

    while (!accepted) {
        rp::Prompt::Alert alert;
        alert.title = rp::localizedFormat("Can't find drum kit '%@'", { stored.filename().string() });
        alert.message = rp::localized("Please choose a drum kit to use for this song.");
        alert.buttons = { rp::localized("Choose..."), rp::localized("Cancel") };
        alert.defaultButton = 0;
        if (prompt_.runAlert(alert) != 0)
            break;
        auto chosen = chooseDrumKitWithDefaultURL(prompt_, lastTried);
        if (!chosen)
            break;
        lastTried = chosen;
        rp::Error kitError;
        auto kit = loadKit(*chosen, &kitError);
        if (!kit) {
            prompt_.presentError(kitError);
            continue;
        }
        opened.changedSinceRead = true;
        opened.kit = kit;
        opened.kitURL = *chosen;
        accepted = reconciler_.reconcileInteractivelyForPatterns(patterns, kit, reconcileName);
    }

    if (!accepted) {
        if (error) {
            *error = rp::Error::make(rp::kErrorNoDrumKit,
                "'%@' couldn't be opened because no drum kit was assigned.", url.filename().string(),
                "No drum kit was assigned.", "To open this song, you must choose a drum kit to use with it.");
            error->filePath = url.string();
            error->url = rp::fileURLFromPath(fs::absolute(url).string());
        }
        return std::nullopt;
    }
    song->setDrumKit(opened.kit, opened.kitURL);
    return opened;
}

// ---- ORPSongKitChanger --------------------------------------------------------------------------

std::shared_ptr<ORPSongKitChanger> ORPSongKitChanger::changer(ORPSongPtr song, ORPReconcileController& reconciler,
    rp::Prompt& prompt, rp::UndoManager* undoManager, std::function<void()> kitSwapped)
{
    return std::shared_ptr<ORPSongKitChanger>(
        new ORPSongKitChanger(std::move(song), reconciler, prompt, undoManager, std::move(kitSwapped)));
}

ORPSongKitChanger::ORPSongKitChanger(ORPSongPtr song, ORPReconcileController& reconciler, rp::Prompt& prompt,
    rp::UndoManager* undoManager, std::function<void()> kitSwapped)
    : song_(std::move(song))
    , reconciler_(reconciler)
    , prompt_(prompt)
    , undoManager_(undoManager)
    , kitSwapped_(std::move(kitSwapped))
{
}

ORPSongKitChanger::~ORPSongKitChanger()
{
    if (undoManager_)
        undoManager_->removeAllActionsWithTarget(this);
}

bool ORPSongKitChanger::changeDrumKitAction()
{
    const fs::path current = song_->drumKitURL();
    auto chosen = chooseDrumKitWithDefaultURL(prompt_, current.empty() ? std::nullopt : std::optional(current));
    if (!chosen)
        return false;
    rp::Error kitError;
    auto kit = loadKit(*chosen, &kitError);
    if (!kit) {
        prompt_.presentError(kitError);
        return false;
    }
    const std::string actionName = rp::localized("Change Drum Kit");
    if (!reconciler_.prepareInteractivelyForPatterns(song_->allPatterns(), kit, actionName))
        return false;
    if (undoManager_)
        undoManager_->beginUndoGrouping();
    swapDrumKit(kit, *chosen, reconciler_.reconciledDrums(), reconciler_.reconciledEvents());
    if (undoManager_) {
        undoManager_->setActionName(actionName);
        undoManager_->endUndoGrouping();
    }
    ORPUserDefaults::setDefaultDrumKitURL(*chosen);
    return true;
}

void ORPSongKitChanger::swapDrumKit(const ORPDrumKitPtr& kit, const fs::path& url,
    const std::vector<ORPDrumPtr>& drums, const std::vector<ORPEventPtr>& events)
{
    const size_t count = std::min(drums.size(), events.size());
    std::vector<ORPDrumPtr> oldDrums;
    std::vector<ORPEventPtr> swapped(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(count));
    oldDrums.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        oldDrums.push_back(events[i]->drum());
        events[i]->setDrum(drums[i]);
    }
    if (undoManager_) {
        // The inverse holds the changer weakly: once the document is gone there is nothing to swap.
        std::weak_ptr<ORPSongKitChanger> weak = weak_from_this();
        undoManager_->registerUndo(this,
            [weak, oldKit = song_->drumKit(), oldURL = song_->drumKitURL(), oldDrums = std::move(oldDrums),
                swapped = std::move(swapped)] {
                if (auto self = weak.lock())
                    self->swapDrumKit(oldKit, oldURL, oldDrums, swapped);
            });
    }
    song_->setDrumKit(kit, url);
    if (kitSwapped_)
        kitSwapped_();
}
