#include "editor/SongDocument.h"

#include "editor/ORPReconcileController.h"
#include "editor/ORPSongOpener.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prompt.h"
#include "foundation/RunLoop.h"
#include "foundation/Localization.h"

namespace rp::editor {

SongDocument::SongDocument() = default;

SongDocument::~SongDocument()
{
    undoManager_.removeAllActions();
}

std::shared_ptr<SongDocument> SongDocument::makeUntitled(std::shared_ptr<ReconcilePanel> panel)
{
    auto document = std::make_shared<SongDocument>();
    document->reconciler_ = std::make_unique<ORPReconcileController>(std::move(panel));
    document->adopt(ORPSong::song());
    return document;
}

std::shared_ptr<SongDocument> SongDocument::open(
    const std::filesystem::path& path, std::shared_ptr<ReconcilePanel> panel, Error& error)
{
    auto document = std::make_shared<SongDocument>();
    document->reconciler_ = std::make_unique<ORPReconcileController>(std::move(panel));
    auto opened = ORPSongOpener(*document->reconciler_, Prompt::current()).openSong(path, &error);
    if (!opened) {
        return nullptr;
    }
    document->fileURL_ = path;
    document->adopt(opened->song);
    if (opened->changedSinceRead) {
        document->changes_.markChangedByReading();
    }
    return document;
}

void SongDocument::adopt(ORPSongPtr song)
{
    kitChanger_.reset(); // it changes the kit of the song it was made for
    song_ = std::move(song);
    song_->setDocument(weak_from_this());
}

std::string SongDocument::displayName() const
{
    return fileURL_ ? fileURL_->stem().string() : localized("Untitled");
}

bool SongDocument::writeToURL(const std::filesystem::path& path, Error& error)
{
    if (!song_->writeToFile(path, &error)) {
        return false;
    }
    fileURL_ = path;
    changes_.markSaved();
    return true;
}

bool SongDocument::revert(Error& error)
{
    if (!fileURL_) {
        return false;
    }
    auto opened = ORPSongOpener(*reconciler_, Prompt::current()).openSong(*fileURL_, &error);
    if (!opened) {
        return false;
    }
    undoManager_.removeAllActions();
    song_->setDocument({});
    adopt(opened->song);
    changes_.markSaved();
    if (opened->changedSinceRead) {
        changes_.markChangedByReading();
    }
    return true;
}

bool SongDocument::setName(const std::string& name)
{
    if (name == song_->name()) {
        return false;
    }
    song_->setName(name);
    undoManager_.setActionName(localized("Edit Name"));
    return true;
}

bool SongDocument::setNotes(const std::string& notes)
{
    if (notes == song_->notes()) {
        return false;
    }
    song_->setNotes(notes);
    undoManager_.setActionName(localized("Edit Notes"));
    return true;
}

void SongDocument::setMasterLevel(float level)
{
    song_->setMasterLevel(level);
    undoManager_.setActionName(localized("Master Level"));
}

bool SongDocument::changeDrumKit()
{
    // The changer lives with the song: its undo steps refer to it and go when it goes.
    if (!kitChanger_) {
        kitChanger_ = ORPSongKitChanger::changer(song_, *reconciler_, Prompt::current(), &undoManager_,
            [this] { NotificationCenter::defaultCenter().post(SongDocumentKitSwappedNotification, this); });
    }
    if (!kitChanger_->changeDrumKitAction()) {
        return false;
    }
    undoManager_.setActionName(localized("Change Drum Kit"));
    return true;
}

namespace {

class MainThreadMIDIForwarder final : public ORPMIDIPacketReceiver {
public:
    explicit MainThreadMIDIForwarder(std::weak_ptr<SongDocument> document)
        : document_(std::move(document))
    {
    }

    void processMIDIPacket(const MIDIPacket& packet, KWMIDIEndpoint*) override
    {
        // The packet's bytes belong to the MIDI thread's buffer: copy them before handing over.
        auto copy = std::make_shared<const SongDocumentMIDIMessage>(
            SongDocumentMIDIMessage { packet.timeStamp, { packet.data.begin(), packet.data.end() } });
        RunLoop::main().perform([document = document_, copy] {
            if (auto live = document.lock()) {
                NotificationCenter::defaultCenter().post(SongDocumentMIDIPacketNotification, live.get(), copy);
            }
        });
    }

private:
    std::weak_ptr<SongDocument> document_;
};

} // namespace

std::shared_ptr<ORPMIDIPacketReceiver> SongDocument::midiReceiver()
{
    if (!midiReceiver_) {
        midiReceiver_ = std::make_shared<MainThreadMIDIForwarder>(weak_from_this());
    }
    return midiReceiver_;
}

} // namespace rp::editor
