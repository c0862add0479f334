// A song document as its window uses it: opened with its kit, edited, saved aside, reverted, and
// fed MIDI from another thread.

#include "editor/ReconcileTestSupport.h"
#include "editor/SongDocument.h"

#include "foundation/NotificationCenter.h"
#include "foundation/PlainRunLoop.h"
#include "foundation/ScriptedPrompt.h"

#include <thread>

using namespace rp::test;
namespace fs = std::filesystem;

namespace {

struct DocumentFixture {
    DocumentFixture()
    {
        ORPSong::registerArchiveClasses();
        auto kit = savedKit(kitPath, "Studio", { { "Drums", "kick", "default" } });
        auto song = emptySong();
        song->setName("Groove");
        song->setDrumKit(kit, kitPath);
        song->sectionList()[0]->patterns()[0]->addEventWithDrum(kit->drumWithTypeName("kick", "default"), 1.0f, 0.0f);
        EXPECT_TRUE(song->writeToFile(songPath));
        prompt->setFailureHandler([](const std::string& message) { ADD_FAILURE() << message; });
    }

    TempDir dir;
    ScopedKitDefaults defaults;
    fs::path kitPath = dir / "Studio.rpkit";
    fs::path songPath = dir / "Groove.rpsong";
    std::shared_ptr<rp::ScriptedPrompt> prompt = std::make_shared<rp::ScriptedPrompt>();
    rp::ScopedPrompt installed { prompt };
    std::shared_ptr<ScriptedReconcilePanel> panel = std::make_shared<ScriptedReconcilePanel>();
};

TEST(SongDocument, EditsSaveAsideAndRevertToTheFile)
{
    DocumentFixture f;
    rp::Error error;
    auto document = rp::editor::SongDocument::open(f.songPath, f.panel, error);
    ASSERT_TRUE(document) << error.text();
    EXPECT_EQ(document->displayName(), "Groove");
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_EQ(document->song()->document().get(), document.get());

    auto& undo = *document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    EXPECT_FALSE(document->setName("Groove")); // unchanged: no step
    undo.endUndoGrouping();
    EXPECT_FALSE(undo.canUndo());

    undo.beginUndoGrouping();
    EXPECT_TRUE(document->setName("Friday"));
    undo.endUndoGrouping();
    EXPECT_EQ(undo.undoActionName(), "Edit Name");
    EXPECT_TRUE(document->isDocumentEdited());

    const fs::path copy = f.dir / "Friday.rpsong";
    ASSERT_TRUE(document->writeToURL(copy, error)) << error.text();
    EXPECT_EQ(document->fileURL(), copy);
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_EQ(ORPSong::songFromURL(copy, &error)->name(), "Friday");
    EXPECT_EQ(ORPSong::songFromURL(f.songPath, &error)->name(), "Groove"); // the original is untouched

    undo.beginUndoGrouping();
    document->setNotes("four on the floor");
    undo.endUndoGrouping();
    ASSERT_TRUE(document->revert(error)) << error.text();
    EXPECT_EQ(document->song()->notes(), "");
    EXPECT_EQ(document->song()->name(), "Friday");
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_FALSE(undo.canUndo()); // the history belonged to the replaced song
    EXPECT_EQ(document->song()->document().get(), document.get());

    // A save that cannot write leaves the document where it was.
    EXPECT_FALSE(document->writeToURL(f.dir / "missing-folder" / "x.rpsong", error));
    EXPECT_EQ(document->fileURL(), copy);
}

TEST(SongDocument, AKitSwapAndItsUndoAreAnnounced)
{
    DocumentFixture f;
    rp::Error error;
    auto document = rp::editor::SongDocument::open(f.songPath, f.panel, error);
    ASSERT_TRUE(document) << error.text();
    const fs::path otherKit = f.dir / "Other.rpkit";
    savedKit(otherKit, "Other", { { "Drums", "kick", "default" } });
    int swaps = 0;
    auto& center = rp::NotificationCenter::defaultCenter();
    center.addObserver(&swaps, rp::editor::SongDocumentKitSwappedNotification, document.get(),
        [&swaps](const rp::Notification&) { ++swaps; });

    f.prompt->answerChooseFile(otherKit);
    ASSERT_TRUE(document->changeDrumKit());
    EXPECT_EQ(document->song()->drumKitURL(), otherKit);
    EXPECT_EQ(swaps, 1);
    // Undo changes the kit back without the window asking: only the notification tells it.
    document->undoManager()->undo();
    EXPECT_EQ(document->song()->drumKitURL(), f.kitPath);
    EXPECT_EQ(swaps, 2);
    center.removeObserver(&swaps);
}

TEST(SongDocumentThreads, MIDIPacketsReachTheMainThreadAndNeverAnEndedDocument)
{
    DocumentFixture f;
    rp::Error error;
    auto document = rp::editor::SongDocument::open(f.songPath, f.panel, error);
    ASSERT_TRUE(document);
    std::vector<uint8_t> received;
    std::thread::id handledOn;
    rp::NotificationCenter::defaultCenter().addObserver(&received, rp::editor::SongDocumentMIDIPacketNotification,
        document.get(), [&](const rp::Notification& note) {
            received = std::any_cast<std::shared_ptr<const rp::editor::SongDocumentMIDIMessage>>(note.userInfo)->bytes;
            handledOn = std::this_thread::get_id();
        });

    auto receiver = document->midiReceiver();
    const std::vector<uint8_t> noteOn { 0x99, 36, 100 };
    rp::MIDIPacket packet;
    packet.data = noteOn;
    std::thread([&] { receiver->processMIDIPacket(packet, nullptr); }).join();
    rp::RunLoop::main().runUntil([&] { return !received.empty(); }, 5.0);
    EXPECT_EQ(received, (std::vector<uint8_t> { 0x99, 36, 100 }));
    EXPECT_EQ(handledOn, std::this_thread::get_id());

    // A packet still on its way when the document goes away is dropped.
    received.clear();
    std::thread([&] { receiver->processMIDIPacket(packet, nullptr); }).join();
    rp::NotificationCenter::defaultCenter().removeObserver(&received);
    document.reset();
    rp::RunLoop::main().runFor(0.05);
    EXPECT_TRUE(received.empty());
}

} // namespace
