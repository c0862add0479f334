#pragma once

// What the song document does when it opens a song file and when the user changes the song's kit:
// finding the kit (asking for one when it is missing), binding the song's drums to it, and the
// undoable kit swap.

#include "editor/ORPReconcileController.h"
#include "foundation/Error.h"
#include "foundation/Prompt.h"
#include "model/ORPSong.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace rp {
class UndoManager;
}

// Asks for a kit bundle, starting in the folder that holds `url`, or (when that names no folder)
// in the default kit's folder. None when cancelled.
std::optional<std::filesystem::path> chooseDrumKitWithDefaultURL(
    rp::Prompt& prompt, const std::optional<std::filesystem::path>& url);

class ORPSongOpener {
public:
    struct Opened {
        ORPSongPtr song; // bound to `kit` at `kitURL`, every drum reconciled
        ORPDrumKitPtr kit;
        std::filesystem::path kitURL;
        // The user chose another kit: the document now differs from its file and should be saved.
        bool changedSinceRead = false;
    };

    ORPSongOpener(ORPReconcileController& reconciler, rp::Prompt& prompt);

    // Reads the song, loads its kit (the stored location, then a kit of the same name beside the
    // song file) and reconciles its drums with "Reconcile Drum Kit"; when no kit loads or the user
    // declines, asks for a kit until one is accepted or the user cancels. None with `error` set on
    // failure: the song's own reading error, or 1002 when no kit was assigned.
    std::optional<Opened> openSong(const std::filesystem::path& url, rp::Error* error);

private:
    ORPReconcileController& reconciler_;
    rp::Prompt& prompt_;
};

// Changing a song's kit, with undo. The swap's inverse swaps back (kit, location and every
// event's drum), and undoing that swaps again.
class ORPSongKitChanger : public std::enable_shared_from_this<ORPSongKitChanger> {
public:
    // `kitSwapped` runs after every swap (the document refreshes its views and kit watch).
    static std::shared_ptr<ORPSongKitChanger> changer(ORPSongPtr song, ORPReconcileController& reconciler,
        rp::Prompt& prompt, rp::UndoManager* undoManager, std::function<void()> kitSwapped = {});
    ~ORPSongKitChanger();
    ORPSongKitChanger(const ORPSongKitChanger&) = delete;
    ORPSongKitChanger& operator=(const ORPSongKitChanger&) = delete;

    // The "change drum kit" action: pick a kit, load it, reconcile with "Change Drum Kit", swap
    // undoably and remember the kit as the default. False when nothing changed (cancelled, the kit
    // did not load, or the reconciliation was declined).
    bool changeDrumKitAction();

    // Gives each event the drum at the same index (stopping when either list ends) and the song the
    // kit at `url`, registering the inverse swap.
    void swapDrumKit(const ORPDrumKitPtr& kit, const std::filesystem::path& url,
        const std::vector<ORPDrumPtr>& drums, const std::vector<ORPEventPtr>& events);

private:
    ORPSongKitChanger(ORPSongPtr song, ORPReconcileController& reconciler, rp::Prompt& prompt,
        rp::UndoManager* undoManager, std::function<void()> kitSwapped);

    ORPSongPtr song_;
    ORPReconcileController& reconciler_;
    rp::Prompt& prompt_;
    rp::UndoManager* undoManager_;
    std::function<void()> kitSwapped_;
};
