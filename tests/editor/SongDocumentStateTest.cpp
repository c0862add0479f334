// Whether a song document counts as edited, and the texts its window shows.

#include "editor/DocumentChangeTracker.h"
#include "editor/SongOverview.h"
#include "foundation/PlainRunLoop.h"
#include "model/ORPPattern.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"

#include <gtest/gtest.h>

namespace rp::editor {
namespace {

// A registered inverse that flips a value back, as a model edit would.
void edit(UndoManager& undo, int& value, int to)
{
    const int before = value;
    value = to;
    undo.registerUndo(&value, [&undo, &value, before] { edit(undo, value, before); });
}

TEST(DocumentChangeTracker, FollowsEditsUndoRedoAndTheSavedPoint)
{
    UndoManager undo;
    undo.setGroupsByEvent(false);
    DocumentChangeTracker tracker(undo);
    int value = 0;
    EXPECT_FALSE(tracker.isDocumentEdited());

    auto step = [&](int to) {
        undo.beginUndoGrouping();
        edit(undo, value, to);
        undo.endUndoGrouping();
    };
    step(1);
    EXPECT_TRUE(tracker.isDocumentEdited());
    tracker.markSaved();
    EXPECT_FALSE(tracker.isDocumentEdited());

    step(2);
    EXPECT_TRUE(tracker.isDocumentEdited());
    undo.undo(); // back to the saved state
    EXPECT_FALSE(tracker.isDocumentEdited());
    undo.redo();
    EXPECT_TRUE(tracker.isDocumentEdited());
    undo.undo();
    undo.undo(); // before the saved state
    EXPECT_TRUE(tracker.isDocumentEdited());

    // A new edit after undoing past the saved point throws the saved state's redo away: no number
    // of undos or redos returns to it.
    step(3);
    EXPECT_TRUE(tracker.isDocumentEdited());
    undo.undo();
    EXPECT_TRUE(tracker.isDocumentEdited());
    undo.redo();
    EXPECT_TRUE(tracker.isDocumentEdited());

    // An empty group is no edit.
    tracker.markSaved();
    undo.beginUndoGrouping();
    undo.endUndoGrouping();
    EXPECT_FALSE(tracker.isDocumentEdited());

    // A revert drops the history and counts as saved; the next edit is a change again.
    step(4);
    undo.removeAllActions();
    tracker.markSaved();
    EXPECT_FALSE(tracker.isDocumentEdited());
    step(5);
    EXPECT_TRUE(tracker.isDocumentEdited());
    tracker.markSaved();

    // Contents read from another file count as a change until saved.
    tracker.markChangedByReading();
    EXPECT_TRUE(tracker.isDocumentEdited());
    tracker.markSaved();
    EXPECT_FALSE(tracker.isDocumentEdited());
}

TEST(SongOverview, TextsTruncateAndRowsFollowTheSong)
{
    EXPECT_EQ(SongOverview::masterLevelText(0.8f), "80%");
    EXPECT_EQ(SongOverview::masterLevelText(0.999f), "99%");
    EXPECT_EQ(SongOverview::masterLevelText(0.0f), "0%");
    EXPECT_EQ(SongOverview::masterLevelText(0.35f), "35%"); // 0.35f is 0.34999999...

    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::song();
    auto section = song->sectionList().front();
    section->setName("Verse");
    auto odd = ORPPattern::pattern();
    odd->setTimeSignatureTop(7, 8);
    section->insertPatterns({ ORPPattern::pattern(), odd }, 1);
    song->sectionMarkerList().front()->setNumberOfTimes(2);
    song->updateOverview();

    const auto sections = SongOverview::sectionRows(*song);
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].name, "Verse");
    EXPECT_EQ(sections[0].bars, 3u);
    const auto entries = SongOverview::playlistRows(*song);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].sectionName, "Verse");
    EXPECT_EQ(entries[0].repeats, 2);

    // Two 2 s bars and a 7/8 bar at the same tempo, twice; seconds are truncated.
    const int seconds = static_cast<int>(song->totalDuration());
    EXPECT_EQ(SongOverview::durationText(*song),
        "Total 6 bars, " + std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "")
            + std::to_string(seconds % 60) + " duration");
}

} // namespace
} // namespace rp::editor

#include "editor/PasteboardTypes.h"

namespace rp::editor {
namespace {

TEST(PasteboardTypes, NamesRoundTripAndForeignTypesAreRefused)
{
    const std::string mime = PasteboardTypes::mimeType("ORPSectionListPboardType");
    EXPECT_EQ(mime, "application/x-net.rattlepan.Rattlepan.ORPSectionListPboardType");
    EXPECT_EQ(PasteboardTypes::nameFromMimeType(mime), "ORPSectionListPboardType");
    for (const char* foreign : { "text/plain", "application/x-net.rattlepan.Rattlepan.", "application/x-net.rattlepan.Rattlepan",
             "application/x-net.rattlepan.Rattlepan.a b", "application/x-org.other.App.ORPSectionListPboardType" }) {
        EXPECT_EQ(PasteboardTypes::nameFromMimeType(foreign), std::nullopt) << foreign;
    }
}

TEST(ExportSelectionLabel, SectionThenSingleEntryThenCount)
{
    EXPECT_EQ(ExportSelectionLabel::label("Verse", 3, std::nullopt), "Verse");
    EXPECT_EQ(ExportSelectionLabel::label(std::nullopt, 1, "Chorus x2"), "Chorus x2");
    EXPECT_EQ(ExportSelectionLabel::label(std::nullopt, 3, std::nullopt), "3 sections");
    EXPECT_EQ(ExportSelectionLabel::title("My Song", "3 sections"), "My Song (3 sections)");
}

} // namespace
} // namespace rp::editor
