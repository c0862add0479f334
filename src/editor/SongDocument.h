#pragma once

#include "editor/DocumentChangeTracker.h"
#include "editor/ORPMIDIRouting.h"
#include "foundation/Error.h"
#include "foundation/UndoManager.h"
#include "model/ORPSong.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

class ORPReconcileController;
class ORPSongKitChanger;
class ReconcilePanel;

namespace rp::editor {

// Posted on the main thread for each MIDI packet routed to the document; the object is the
// document, the user info a std::shared_ptr<const SongDocumentMIDIMessage>.
inline constexpr const char* SongDocumentMIDIPacketNotification = "RPSongDocumentMIDIPacketNotification";

// Posted (object: the document) whenever the song's kit is swapped: by Change Drum Kit and by its
// undo and redo, which the window otherwise would not notice.
inline constexpr const char* SongDocumentKitSwappedNotification = "RPSongDocumentKitSwappedNotification";

// A routed packet's bytes, copied off the MIDI thread.
struct SongDocumentMIDIMessage {
    MIDITimeStamp timeStamp = 0;
    std::vector<uint8_t> bytes;
};

// A song document without its window: the song, its undo manager and whether it differs from its
// file. Opening binds the song to a kit (asking the user through the prompt and the reconcile panel
// when the stored kit cannot be used); saving writes the file aside and renames it over the old one.
// The window holds this object; the song refers back to it weakly. Main thread only.
class SongDocument final : public ORPSongDocument, public std::enable_shared_from_this<SongDocument> {
public:
    SongDocument();
    ~SongDocument() override;

    // A new song with the default kit (none when the default kit cannot be loaded).
    // The panel is the one the document's reconciler shows when drums need choosing.
    static std::shared_ptr<SongDocument> makeUntitled(std::shared_ptr<ReconcilePanel> panel);
    // Reads the song at `path` and binds it to a kit; none with `error` set when that fails.
    static std::shared_ptr<SongDocument> open(
        const std::filesystem::path& path, std::shared_ptr<ReconcilePanel> panel, Error& error);

    UndoManager* undoManager() override { return &undoManager_; }
    const ORPSongPtr& song() const { return song_; }
    const std::optional<std::filesystem::path>& fileURL() const { return fileURL_; }
    // The file name without its extension, or "Untitled".
    std::string displayName() const;

    bool isDocumentEdited() const { return changes_.isDocumentEdited(); }
    DocumentChangeTracker& changes() { return changes_; }

    // Writes the song to `path` (aside, then renamed); on success the document belongs to that file
    // and counts as saved.
    bool writeToURL(const std::filesystem::path& path, Error& error);
    // Reads the file again (binding the kit anew); the undo history is dropped. On failure the
    // document keeps what it had.
    bool revert(Error& error);

    // The song fields as the window edits them; each names its undo step and returns whether
    // anything changed.
    bool setName(const std::string& name);
    bool setNotes(const std::string& notes);
    void setMasterLevel(float level);

    ORPReconcileController& reconciler() { return *reconciler_; }
    // Asks for another kit, reconciles the song's drums with it and swaps it in as one undoable
    // step; the chosen kit becomes the default kit. False when nothing changed.
    bool changeDrumKit();

    // What the MIDI routing delivers this document's packets to. It holds the document weakly and
    // hands each packet to the main thread as a SongDocumentMIDIPacketNotification, so the MIDI
    // thread never holds (or ends) the document itself.
    std::shared_ptr<ORPMIDIPacketReceiver> midiReceiver();

private:
    void adopt(ORPSongPtr song);

    UndoManager undoManager_;
    DocumentChangeTracker changes_ { undoManager_ };
    ORPSongPtr song_;
    std::optional<std::filesystem::path> fileURL_;
    std::unique_ptr<ORPReconcileController> reconciler_;
    std::shared_ptr<ORPSongKitChanger> kitChanger_;
    std::shared_ptr<ORPMIDIPacketReceiver> midiReceiver_;
};

} // namespace rp::editor
