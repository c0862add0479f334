// The section and playlist tables without widgets: cells and their edits with undo names,
// selections, deleting sections the playlist uses, the clipboard and drag and drop.

#include "editor/EditorTestSupport.h"
#include "editor/ORPSongTables.h"
#include "editor/PatternEditorTestSupport.h"
#include "editor/ReconcileTestSupport.h"

#include "archive/KeyedArchiver.h"
#include "foundation/ScriptedPrompt.h"

using namespace rp::editor;
using rp::test::EditorTestDocument;

namespace {

struct RecordingTablesView : SongTablesView {
    void reloadTable(SongTable table) override { reloads.push_back(table); }
    void setSelectedRows(SongTable table, const std::vector<size_t>& rows) override { shown[table] = rows; }
    void scrollRowToVisible(SongTable, size_t row) override { scrolledTo = row; }
    void editNameCell(SongTable table, size_t row) override { editing = { table, row }; }
    void makeFirstResponder(SongTable table) override { firstResponder = table; }
    void deleteButtonsChanged() override { ++buttonUpdates; }
    void beep() override { ++beeps; }

    std::vector<SongTable> reloads;
    std::map<SongTable, std::vector<size_t>> shown;
    std::optional<size_t> scrolledTo;
    std::optional<std::pair<SongTable, size_t>> editing;
    std::optional<SongTable> firstResponder;
    int buttonUpdates = 0;
    int beeps = 0;
};

ORPSectionPtr sectionNamed(const std::string& name, size_t bars, const ORPDrumPtr& drum = nullptr)
{
    auto section = ORPSection::section();
    section->setName(name);
    for (size_t i = 0; i < bars; ++i) {
        auto pattern = ORPPattern::pattern();
        pattern->setBpm(60, 4); // 4/4 at 60: four seconds a bar
        if (drum)
            pattern->addEventWithDrum(drum, 1.0f, 0.0f);
        section->insertPatterns({ pattern }, i);
    }
    return section;
}

ORPSectionMarkerPtr entryFor(const ORPSectionPtr& section, const std::string& name, int16_t times = 1)
{
    auto marker = ORPSectionMarker::sectionMarker();
    marker->setSection(section);
    marker->setName(name);
    marker->setNumberOfTimes(times);
    return marker;
}

// A song of four sections A (16 bars), B, C, D and the playlist A, B, A, C; its edits are undoable
// once set up. Each act() is one user action.
struct TablesFixture {
    TablesFixture()
    {
        ORPSong::registerArchiveClasses();
        ORPSong::setDefaultKitProvider({});
        prompt->setFailureHandler([](const std::string& message) { ADD_FAILURE() << message; });
        kit->addDrum(kick);
        song = std::make_shared<ORPSong>();
        song->setDrumKit(kit, "/nowhere/Studio.rpkit");
        song->insertSections({ sectionNamed("A", 16, kick), sectionNamed("B", 1, kick), sectionNamed("C", 2),
                                 sectionNamed("D", 1) },
            0);
        const auto& s = song->sectionList();
        song->insertSectionMarkers(
            { entryFor(s[0], "intro"), entryFor(s[1], "verse", 3), entryFor(s[0], "again"), entryFor(s[2], "out") },
            0);
        song->setDocument(document);
        hooks.isPlaying = [this] { return playing; };
        hooks.setEditedObjects = [this](const std::vector<SongTablesHooks::EditedObject>& objects,
                                     const ORPDrumKitPtr& editedKit) {
            edited = objects;
            editedWithKit = editedKit;
            ++editorUpdates;
        };
        hooks.insertBarAction = [this] {
            auto& last = song->sectionList().back();
            last->insertPatterns({ ORPPattern::pattern() }, last->patterns().size());
            undo().setActionName("Insert Bar");
        };
        hooks.precacheWaveforms = [this](const std::set<ORPDrumPtr>& drums) { precached = drums; };
        tables = std::make_unique<ORPSongTables>(song, undo(), reconciler, hooks, prompt.get());
        tables->setView(&view);
        tables->setClipboard(&clipboard);
    }

    rp::UndoManager& undo() { return document->undo; }
    template <class F> void act(F&& action)
    {
        undo().beginUndoGrouping();
        action();
        undo().endUndoGrouping();
    }
    std::vector<std::string> sectionNames() const
    {
        std::vector<std::string> names;
        for (const auto& section : song->sectionList())
            names.push_back(section->name());
        return names;
    }
    std::vector<std::string> entryNames() const
    {
        std::vector<std::string> names;
        for (const auto& marker : song->sectionMarkerList())
            names.push_back(marker->name() + ":" + (marker->section() ? marker->section()->name() : "-"));
        return names;
    }

    rp::test::TempDefaults defaults;
    std::shared_ptr<rp::test::ScriptedReconcilePanel> panel = std::make_shared<rp::test::ScriptedReconcilePanel>();
    ORPReconcileController reconciler { panel, &defaults.store() };
    std::shared_ptr<rp::ScriptedPrompt> prompt = std::make_shared<rp::ScriptedPrompt>();
    std::shared_ptr<EditorTestDocument> document = std::make_shared<EditorTestDocument>();
    ORPDrumKitPtr kit = ORPDrumKit::kit();
    ORPDrumPtr kick = rp::test::editorDrum("Drums", "kick", "default");
    ORPSongPtr song;
    SongTablesHooks hooks;
    bool playing = false;
    std::vector<SongTablesHooks::EditedObject> edited;
    ORPDrumKitPtr editedWithKit;
    int editorUpdates = 0;
    std::set<ORPDrumPtr> precached;
    RecordingTablesView view;
    ORPMemoryPasteboard clipboard;
    std::unique_ptr<ORPSongTables> tables;
};

} // namespace

TEST(SongTables, CellsShowNamesLengthsRepeatsAndCuePoints)
{
    TablesFixture f;
    struct Case {
        SongTable table;
        TableColumn column;
        size_t row;
        std::string text;
        std::string suffix;
        ORPDrawColor color;
    };
    const ORPDrawColor plain = ORPDrawColor::white(0);
    const Case cases[] = {
        { SongTable::Sections, TableColumn::Name, 0, "A", "", ORPDrawColor::rgba(0.69f, 0.08f, 0, 1) },
        { SongTable::Sections, TableColumn::Length, 0, "16", " (1:04)", plain },
        { SongTable::Sections, TableColumn::Length, 2, "2", " (0:08)", plain },
        { SongTable::Playlist, TableColumn::Name, 1, "verse", "", ORPDrawColor::rgba(0, 0.45f, 0.24f, 1) },
        { SongTable::Playlist, TableColumn::Repeats, 1, "3", "", plain },
        // intro 64 s, verse 3 x 4 s: "again" starts at bar 20, 1:16.
        { SongTable::Playlist, TableColumn::CuePoint, 2, "20", " (1:16)", plain },
        { SongTable::Playlist, TableColumn::CuePoint, 0, "1", " (0:00)", plain },
        { SongTable::Sections, TableColumn::Name, 4, "", "", plain }, // beyond the list
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(columnIdentifier(c.column)) + " row " + std::to_string(c.row));
        const TableCell cell = f.tables->cell(c.table, c.column, c.row);
        EXPECT_EQ(cell.text, c.text);
        EXPECT_EQ(cell.suffix, c.suffix);
        EXPECT_EQ(cell.color, c.color);
    }
    EXPECT_EQ(TableCell::greyColor(), ORPDrawColor::rgba(0.4f, 0.4f, 0.4f, 1));
    EXPECT_EQ(f.tables->cell(SongTable::Playlist, TableColumn::Section, 3).popUpIndex, 2);
    EXPECT_EQ(f.tables->cell(SongTable::Playlist, TableColumn::Repeats, 1).number, 3);
    EXPECT_EQ(f.tables->sectionMenuTitles(), (std::vector<std::string> { "A", "B", "C", "D" }));
    EXPECT_EQ(f.tables->numberOfRows(SongTable::Sections), 4u);
    EXPECT_EQ(f.tables->numberOfRows(SongTable::Playlist), 4u);
    EXPECT_EQ(columnFromIdentifier("cuepoint"), TableColumn::CuePoint);
    EXPECT_FALSE(columnFromIdentifier("tempo"));
}

TEST(SongTables, CellEditsNameTheirStepsAndUnchangedValuesNeverRenameAnEarlierOne)
{
    TablesFixture f;
    auto& undo = f.undo();
    bool changed = true;

    f.act([&] { changed = f.tables->setCellValue(SongTable::Sections, TableColumn::Name, 1, std::string("Bridge")); });
    EXPECT_TRUE(changed);
    EXPECT_EQ(undo.undoActionName(), "Rename");

    // Same name: no step, and "Rename" stays the name of the step before.
    f.act([&] { changed = f.tables->setCellValue(SongTable::Sections, TableColumn::Name, 1, std::string("Bridge")); });
    EXPECT_FALSE(changed);
    EXPECT_EQ(undo.undoStepCount(), 1u);

    // The pop-up's choice counts even when it is the section the entry already has.
    f.act([&] { f.tables->setCellValue(SongTable::Playlist, TableColumn::Section, 0, int64_t { 0 }); });
    EXPECT_EQ(undo.undoActionName(), "Section Change");
    EXPECT_EQ(undo.undoStepCount(), 2u);

    // Repeats set to the same value still make an "Edit Repeats" step.
    f.act([&] { f.tables->setCellValue(SongTable::Playlist, TableColumn::Repeats, 1, int64_t { 3 }); });
    EXPECT_EQ(undo.undoActionName(), "Edit Repeats");
    EXPECT_EQ(undo.undoStepCount(), 3u);

    // A negative count is refused: no step, the previous name stays.
    f.act([&] { f.tables->setCellValue(SongTable::Playlist, TableColumn::Repeats, 2, int64_t { -4 }); });
    EXPECT_EQ(undo.undoStepCount(), 3u);
    EXPECT_EQ(f.song->sectionMarkerList()[2]->numberOfTimes(), 1);

    // Too large for the count: held at the largest, not wrapped to a small number.
    f.act([&] { f.tables->setCellValue(SongTable::Playlist, TableColumn::Repeats, 2, int64_t { 70000 }); });
    EXPECT_EQ(f.song->sectionMarkerList()[2]->numberOfTimes(), 32767);

    f.act([&] { f.tables->setCellValue(SongTable::Playlist, TableColumn::Name, 3, std::string("coda")); });
    EXPECT_EQ(undo.undoActionName(), "Rename");
    EXPECT_EQ(f.song->sectionMarkerList()[3]->name(), "coda");

    // Rows beyond the list, columns that are not editable and a wrong kind of value change nothing.
    const size_t steps = undo.undoStepCount();
    f.act([&] {
        EXPECT_FALSE(f.tables->setCellValue(SongTable::Sections, TableColumn::Name, 9, std::string("x")));
        EXPECT_FALSE(f.tables->setCellValue(SongTable::Sections, TableColumn::Length, 0, int64_t { 2 }));
        EXPECT_FALSE(f.tables->setCellValue(SongTable::Playlist, TableColumn::Section, 0, int64_t { 4 }));
        EXPECT_FALSE(f.tables->setCellValue(SongTable::Playlist, TableColumn::Repeats, 0, std::string("2")));
    });
    EXPECT_EQ(undo.undoStepCount(), steps);

    undo.undo();
    EXPECT_EQ(f.song->sectionMarkerList()[3]->name(), "out");
}

TEST(SongTables, SelectionsChooseWhatTheEditorEditsAndWhichDeleteButtonWorks)
{
    TablesFixture f;
    f.tables->selectionDidChange(SongTable::Playlist, { 1, 3 });
    ASSERT_EQ(f.edited.size(), 2u);
    EXPECT_EQ(std::get<ORPSectionMarkerPtr>(f.edited[0]), f.song->sectionMarkerList()[1]);
    EXPECT_EQ(f.editedWithKit, f.kit);
    EXPECT_TRUE(f.tables->canDeleteSectionMarkers());

    // Selecting sections deselects the playlist (without telling the editor twice).
    const int updates = f.editorUpdates;
    f.tables->selectionDidChange(SongTable::Sections, { 2, 0, 2 });
    EXPECT_EQ(f.editorUpdates, updates + 1);
    EXPECT_EQ(f.tables->selectedRows(SongTable::Sections), (std::vector<size_t> { 0, 2 }));
    EXPECT_TRUE(f.view.shown[SongTable::Playlist].empty());
    EXPECT_TRUE(f.tables->selectedRows(SongTable::Playlist).empty());
    EXPECT_FALSE(f.tables->canDeleteSectionMarkers());
    ASSERT_EQ(f.edited.size(), 2u);
    EXPECT_EQ(std::get<ORPSectionPtr>(f.edited[1])->name(), "C");
    EXPECT_TRUE(f.tables->canDeleteSections());
    for (auto command : { EditCommand::Cut, EditCommand::Copy, EditCommand::Clear })
        EXPECT_TRUE(f.tables->validateEditCommand(SongTable::Sections, command));

    // All sections selected: one must remain, so nothing deletes them.
    f.tables->selectionDidChange(SongTable::Sections, { 0, 1, 2, 3 });
    EXPECT_FALSE(f.tables->canDeleteSections());
    for (auto command : { EditCommand::Cut, EditCommand::Copy, EditCommand::Clear })
        EXPECT_FALSE(f.tables->validateEditCommand(SongTable::Sections, command));
    f.act([&] { EXPECT_FALSE(f.tables->removeSelectedSections()); });
    EXPECT_EQ(f.song->sectionList().size(), 4u);

    // Nothing selected anywhere: the editor edits nothing.
    f.tables->selectionDidChange(SongTable::Sections, {});
    EXPECT_TRUE(f.edited.empty());
    EXPECT_FALSE(f.editedWithKit);
    EXPECT_FALSE(f.tables->canDeleteSections());

    // The playlist's cut, copy and paste are never offered; rows past the end are not selected.
    f.tables->selectionDidChange(SongTable::Playlist, { 0, 7 });
    EXPECT_EQ(f.tables->selectedRows(SongTable::Playlist), (std::vector<size_t> { 0 }));
    EXPECT_TRUE(f.tables->validateEditCommand(SongTable::Playlist, EditCommand::Clear));
    for (auto command : { EditCommand::Cut, EditCommand::Copy, EditCommand::Paste })
        EXPECT_FALSE(f.tables->validateEditCommand(SongTable::Playlist, command));

    f.playing = true;
    EXPECT_FALSE(f.tables->selectionShouldChange(SongTable::Sections));
    EXPECT_FALSE(f.tables->selectionShouldChange(SongTable::Playlist));
    EXPECT_FALSE(f.tables->canAdd());
}

TEST(SongTables, DeletingSectionsThePlaylistUsesAsksForEachAndCancelKeepsThatOne)
{
    TablesFixture f;
    f.tables->selectionDidChange(SongTable::Sections, { 0, 1 });
    f.prompt->answerAlert(0, "\"A\" appears at least once").answerAlert(1, "\"B\" appears at least once");
    f.act([&] { f.tables->removeSectionsAction(); });
    f.prompt->verifyAllAnswered();
    ASSERT_EQ(f.prompt->asked().size(), 2u);
    EXPECT_EQ(f.prompt->asked()[0].title, "This section is currently used in the song.");
    EXPECT_EQ(f.prompt->asked()[0].message,
        "\"A\" appears at least once in the playlist. All references will be deleted if you proceed.");
    EXPECT_EQ(f.prompt->asked()[0].buttons, (std::vector<std::string> { "Delete", "Cancel" }));
    EXPECT_EQ(f.prompt->asked()[0].defaultButton, 0);

    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "B", "C", "D" }));
    EXPECT_EQ(f.entryNames(), (std::vector<std::string> { "verse:B", "out:C" }));
    EXPECT_EQ(f.undo().undoActionName(), "Delete Sections");
    EXPECT_TRUE(f.tables->selectedRows(SongTable::Sections).empty());

    f.undo().undo();
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C", "D" }));
    EXPECT_EQ(f.entryNames(), (std::vector<std::string> { "intro:A", "verse:B", "again:A", "out:C" }));

    // A section outside the playlist goes without asking; one row names the step in the singular.
    f.tables->selectionDidChange(SongTable::Sections, { 3 });
    f.act([&] { f.tables->removeSectionsAction(); });
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C" }));
    EXPECT_EQ(f.undo().undoActionName(), "Delete Section");

    // Cancelling the only one removes nothing and names nothing.
    f.tables->selectionDidChange(SongTable::Sections, { 2 });
    f.prompt->answerAlert(1);
    f.act([&] { f.tables->removeSectionsAction(); });
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C" }));
    EXPECT_EQ(f.undo().undoActionName(), "Delete Section");

    // Entries go with their own action.
    f.tables->selectionDidChange(SongTable::Playlist, { 0, 2 });
    f.act([&] { f.tables->removeSectionMarkersAction(); });
    EXPECT_EQ(f.entryNames(), (std::vector<std::string> { "verse:B", "out:C" }));
    EXPECT_EQ(f.undo().undoActionName(), "Delete from Playlist");
    EXPECT_TRUE(f.tables->selectedRows(SongTable::Playlist).empty());
}

TEST(SongTables, AddingRowsSelectsAndEditsTheNewName)
{
    TablesFixture f;
    f.act([&] { f.tables->addNewSection(); });
    ASSERT_EQ(f.song->sectionList().size(), 5u);
    EXPECT_EQ(f.song->sectionList()[4]->patterns().size(), 1u); // the editor's new bar
    EXPECT_EQ(f.undo().undoActionName(), "Add Section"); // named after the bar was inserted
    EXPECT_EQ(f.tables->selectedRows(SongTable::Sections), (std::vector<size_t> { 4 }));
    EXPECT_EQ(f.view.editing, std::make_pair(SongTable::Sections, size_t { 4 }));
    f.undo().undo();
    EXPECT_EQ(f.song->sectionList().size(), 4u);

    f.act([&] { f.tables->addNewSectionMarker(); });
    EXPECT_EQ(f.entryNames().back(), "D:D");
    EXPECT_EQ(f.undo().undoActionName(), "Add Marker");
    EXPECT_EQ(f.view.editing, std::make_pair(SongTable::Playlist, size_t { 4 }));

    f.tables->selectAllMarkers();
    EXPECT_EQ(f.view.firstResponder, SongTable::Playlist);
    EXPECT_EQ(f.tables->selectedRows(SongTable::Playlist).size(), 5u);

    // Return edits the selected row's name, or beeps with none selected.
    f.view.editing.reset();
    f.tables->returnKeyDown(SongTable::Sections);
    EXPECT_EQ(f.view.beeps, 1);
    f.tables->returnKeyDown(SongTable::Playlist);
    EXPECT_EQ(f.view.editing, std::make_pair(SongTable::Playlist, size_t { 4 }));
    f.tables->returnKeyDown(std::nullopt);
    EXPECT_EQ(f.view.beeps, 1);

    f.playing = true;
    f.act([&] { f.tables->addNewSection(); });
    EXPECT_EQ(f.song->sectionList().size(), 4u);
}

TEST(SongTables, DropValidationFollowsSourceTargetAndPosition)
{
    TablesFixture f;
    ORPMemoryPasteboard sectionsDrag, playlistDrag, foreign, nothing;
    ASSERT_TRUE(f.tables->writeRows(SongTable::Sections, { 0, 1 }, sectionsDrag));
    ASSERT_TRUE(f.tables->writeRows(SongTable::Playlist, { 2 }, playlistDrag));
    foreign.declareTypes({ ORPSectionArrayPboardType });
    foreign.setData(ORPSectionArrayPboardType, SectionArchive::archive({ sectionNamed("X", 1) }));
    EXPECT_EQ(sectionsDrag.providerCalls(), 0); // the section array waits until a reader asks

    using O = DragOrigin;
    using P = DropPosition;
    using Op = DropOperation;
    struct Case {
        SongTable target;
        O origin;
        const ORPMemoryPasteboard* data;
        bool option;
        size_t row;
        P position;
        Op expected;
    };
    const Case cases[] = {
        { SongTable::Sections, O::ThisSectionsTable, &sectionsDrag, false, 3, P::Above, Op::Move },
        { SongTable::Sections, O::ThisSectionsTable, &sectionsDrag, true, 3, P::Above, Op::Copy },
        { SongTable::Sections, O::ThisSectionsTable, &sectionsDrag, false, 2, P::On, Op::None },
        { SongTable::Sections, O::ThisSectionsTable, &sectionsDrag, false, 4, P::Above, Op::Move }, // at the end
        { SongTable::Sections, O::ThisSectionsTable, &sectionsDrag, false, 5, P::Above, Op::None },
        { SongTable::Sections, O::Elsewhere, &sectionsDrag, false, 1, P::Above, Op::Copy },
        { SongTable::Sections, O::Elsewhere, &foreign, true, 1, P::Above, Op::Copy },
        { SongTable::Sections, O::Elsewhere, &foreign, false, 1, P::On, Op::None },
        { SongTable::Sections, O::ThisPlaylistTable, &playlistDrag, false, 1, P::Above, Op::None },
        { SongTable::Sections, O::Elsewhere, &nothing, false, 1, P::Above, Op::None },
        { SongTable::Playlist, O::ThisPlaylistTable, &playlistDrag, false, 0, P::Above, Op::Move },
        { SongTable::Playlist, O::ThisPlaylistTable, &playlistDrag, true, 0, P::Above, Op::Copy },
        { SongTable::Playlist, O::ThisPlaylistTable, &playlistDrag, false, 0, P::On, Op::None },
        { SongTable::Playlist, O::ThisSectionsTable, &sectionsDrag, false, 1, P::Above, Op::Copy },
        { SongTable::Playlist, O::ThisSectionsTable, &sectionsDrag, true, 1, P::On, Op::Link },
        { SongTable::Playlist, O::ThisSectionsTable, &sectionsDrag, false, 4, P::On, Op::None }, // no row 4
        { SongTable::Playlist, O::Elsewhere, &sectionsDrag, false, 1, P::Above, Op::None },
        { SongTable::Playlist, O::Elsewhere, &foreign, false, 1, P::On, Op::None },
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        EXPECT_EQ(f.tables->validateDrop({ c.target, c.origin, c.option, c.row, c.position }, *c.data), c.expected);
    }

    f.playing = true;
    for (const auto& c : cases)
        EXPECT_EQ(f.tables->validateDrop({ c.target, c.origin, c.option, c.row, c.position }, *c.data), Op::None);
    EXPECT_FALSE(f.tables->acceptDrop(
        { SongTable::Sections, O::ThisSectionsTable, false, 3, P::Above }, sectionsDrag));
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C", "D" }));
}

TEST(SongTables, DroppingRowsMovesCopiesAndLinksWithTheRightIndexes)
{
    TablesFixture f;
    ORPMemoryPasteboard drag;
    f.tables->writeRows(SongTable::Sections, { 0, 1 }, drag);

    // Rows 0 and 1 dropped above row 3 land at 1 and 2.
    f.act([&] {
        EXPECT_TRUE(f.tables->acceptDrop({ SongTable::Sections, DragOrigin::ThisSectionsTable, false, 3 }, drag));
    });
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "C", "A", "B", "D" }));
    EXPECT_EQ(f.undo().undoActionName(), "Reorder Sections");
    EXPECT_EQ(f.tables->selectedRows(SongTable::Sections), (std::vector<size_t> { 1, 2 }));
    EXPECT_EQ(f.view.scrolledTo, 2u);
    f.undo().undo();
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C", "D" }));

    // With Option, copies go in at 3 and the dragged rows stay.
    f.act([&] {
        EXPECT_TRUE(f.tables->acceptDrop({ SongTable::Sections, DragOrigin::ThisSectionsTable, true, 3 }, drag));
    });
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C", "A", "B", "D" }));
    EXPECT_NE(f.song->sectionList()[3], f.song->sectionList()[0]);
    EXPECT_EQ(f.song->sectionList()[3]->patterns().size(), 16u);
    EXPECT_EQ(f.undo().undoActionName(), "Add Sections");
    EXPECT_EQ(f.tables->selectedRows(SongTable::Sections), (std::vector<size_t> { 3, 4 }));
    f.undo().undo();

    // Playlist entries 0 and 2 moved to the end.
    ORPMemoryPasteboard entries;
    f.tables->writeRows(SongTable::Playlist, { 0, 2 }, entries);
    f.act([&] {
        EXPECT_TRUE(f.tables->acceptDrop({ SongTable::Playlist, DragOrigin::ThisPlaylistTable, false, 4 }, entries));
    });
    EXPECT_EQ(f.entryNames(), (std::vector<std::string> { "verse:B", "out:C", "intro:A", "again:A" }));
    EXPECT_EQ(f.undo().undoActionName(), "Reorder Playlist");
    f.undo().undo();
    EXPECT_EQ(f.entryNames(), (std::vector<std::string> { "intro:A", "verse:B", "again:A", "out:C" }));

    // One section onto an entry changes its section; two onto an entry are refused.
    ORPMemoryPasteboard one;
    f.tables->writeRows(SongTable::Sections, { 3 }, one);
    f.act([&] {
        EXPECT_TRUE(f.tables->acceptDrop(
            { SongTable::Playlist, DragOrigin::ThisSectionsTable, false, 1, DropPosition::On }, one));
    });
    EXPECT_EQ(f.entryNames()[1], "verse:D");
    EXPECT_EQ(f.undo().undoActionName(), "Section Change");
    EXPECT_EQ(f.tables->selectedRows(SongTable::Playlist), (std::vector<size_t> { 1 }));
    EXPECT_EQ(f.view.firstResponder, SongTable::Playlist);
    EXPECT_FALSE(f.tables->acceptDrop(
        { SongTable::Playlist, DragOrigin::ThisSectionsTable, false, 1, DropPosition::On }, drag));

    // Dropped between entries they become new entries named after the sections.
    f.act([&] {
        EXPECT_TRUE(f.tables->acceptDrop({ SongTable::Playlist, DragOrigin::ThisSectionsTable, false, 1 }, drag));
    });
    EXPECT_EQ(f.entryNames(),
        (std::vector<std::string> { "intro:A", "A:A", "B:B", "verse:D", "again:A", "out:C" }));
    EXPECT_EQ(f.undo().undoActionName(), "Add to Playlist");
    EXPECT_EQ(f.tables->selectedRows(SongTable::Playlist), (std::vector<size_t> { 1, 2 }));
}

TEST(SongTables, DragDataFromElsewhereIsCheckedBeforeUse)
{
    TablesFixture f;
    // Index sets naming rows this song does not have, or malformed ones, refuse the drop.
    for (const auto& bytes : { RowIndexSet::encode({ 2, 9 }), std::vector<uint8_t> { 'R', 'P', 'I', 'X', 1, 0 },
             std::vector<uint8_t> { 'R', 'P', 'I', 'X', 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0 }, // not ascending
             std::vector<uint8_t> { 'R', 'P', 'I', 'X', 0xff, 0xff, 0xff, 0xff, 1, 0, 0, 0 } }) {
        ORPMemoryPasteboard drag;
        drag.declareTypes({ ORPSectionListIndexSetPboardType });
        drag.setData(ORPSectionListIndexSetPboardType, bytes);
        EXPECT_FALSE(f.tables->acceptDrop({ SongTable::Sections, DragOrigin::ThisSectionsTable, false, 0 }, drag));
    }
    EXPECT_EQ(RowIndexSet::decode(RowIndexSet::encode({ 5, 1, 5 }), 10), (std::vector<size_t> { 1, 5 }));
    EXPECT_FALSE(RowIndexSet::decode(RowIndexSet::encode({ 1, 2, 3 }), 2)); // more rows than the table has

    // A section array that is not one: refused, nothing changes, no crash.
    for (const auto& bytes : { std::vector<uint8_t> { 'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2 },
             SectionArchive::archive({}), rp::KeyedArchiver::archivedDataWithRootObject(ORPPattern::pattern()) }) {
        ORPMemoryPasteboard drag;
        drag.declareTypes({ ORPSectionArrayPboardType });
        drag.setData(ORPSectionArrayPboardType, bytes);
        EXPECT_FALSE(f.tables->acceptDrop({ SongTable::Sections, DragOrigin::Elsewhere, false, 0 }, drag));
        f.clipboard.declareTypes({ ORPSectionArrayPboardType });
        f.clipboard.setData(ORPSectionArrayPboardType, bytes);
        f.act([&] { f.tables->performEditCommand(SongTable::Sections, EditCommand::Paste); });
    }
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C", "D" }));
    EXPECT_FALSE(f.undo().canUndo());
}

TEST(SongTables, CutThenPasteBringsBackWhatWasCut)
{
    TablesFixture f;
    f.tables->selectionDidChange(SongTable::Sections, { 3 });
    f.act([&] { f.tables->performEditCommand(SongTable::Sections, EditCommand::Cut); });
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C" }));
    EXPECT_EQ(f.undo().undoActionName(), "Cut");
    ASSERT_TRUE(f.tables->validateEditCommand(SongTable::Sections, EditCommand::Paste));

    // The clipboard holds the section that was cut, not whatever row 3 holds now.
    f.act([&] { f.tables->performEditCommand(SongTable::Sections, EditCommand::Paste); });
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C", "D" }));
    EXPECT_EQ(f.undo().undoActionName(), "Paste");
    EXPECT_EQ(f.tables->selectedRows(SongTable::Sections), (std::vector<size_t> { 3 }));

    // Copy of a section with hits: the pasted copy's events use this song's kit drum again.
    f.tables->selectionDidChange(SongTable::Sections, { 1 });
    const size_t steps = f.undo().undoStepCount();
    f.act([&] { f.tables->performEditCommand(SongTable::Sections, EditCommand::Copy); });
    EXPECT_EQ(f.undo().undoStepCount(), steps);
    f.act([&] { f.tables->performEditCommand(SongTable::Sections, EditCommand::Paste); });
    ASSERT_EQ(f.sectionNames().back(), "B");
    const auto pasted = f.song->sectionList().back();
    EXPECT_NE(pasted, f.song->sectionList()[1]);
    EXPECT_EQ((*pasted->patterns()[0]->events())[0]->drum(), f.kick);
    EXPECT_EQ(f.precached, std::set<ORPDrumPtr> { f.kick });
    EXPECT_EQ(f.panel->runs(), 0u);
}

TEST(SongTables, SectionsFromAnotherKitAreReconciledAndADeclineChangesNothing)
{
    TablesFixture f;
    auto foreignDrum = rp::test::editorDrum("Drums", "cowbell", "default");
    ORPMemoryPasteboard drag;
    drag.declareTypes({ ORPSectionListIndexSetPboardType, ORPSectionArrayPboardType });
    drag.setData(ORPSectionListIndexSetPboardType, RowIndexSet::encode({ 0 }));
    drag.setData(ORPSectionArrayPboardType, SectionArchive::archive({ sectionNamed("Other", 2, foreignDrum) }));
    const DropProposal proposal { SongTable::Sections, DragOrigin::Elsewhere, false, 1 };

    f.panel->setScript([](ReconcilePanelModel& model) {
        model.close();
        return false;
    });
    f.act([&] { EXPECT_TRUE(f.tables->acceptDrop(proposal, drag)); }); // accepted though declined
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "B", "C", "D" }));
    EXPECT_FALSE(f.undo().canUndo());
    ASSERT_EQ(f.panel->runs(), 1u);
    EXPECT_EQ(f.panel->titles[0], "Add Section");

    f.panel->setScript([&](ReconcilePanelModel& model) {
        model.pickDrum(f.kick);
        return model.ok();
    });
    f.act([&] { EXPECT_TRUE(f.tables->acceptDrop(proposal, drag)); });
    EXPECT_EQ(f.sectionNames(), (std::vector<std::string> { "A", "Other", "B", "C", "D" }));
    EXPECT_EQ(f.undo().undoActionName(), "Add Section");
    EXPECT_EQ((*f.song->sectionList()[1]->patterns()[1]->events())[0]->drum(), f.kick);
    EXPECT_EQ(f.tables->selectedRows(SongTable::Sections), (std::vector<size_t> { 1 }));
}

TEST(SongTables, ContextMenusAndTheEditCommandsTheyGet)
{
    TablesFixture f;
    using A = TableMenuItem::Action;
    auto actions = [&](SongTable table) {
        std::vector<A> list;
        for (const auto& item : f.tables->contextMenuItems(table))
            list.push_back(item.action);
        return list;
    };
    EXPECT_EQ(actions(SongTable::Sections), (std::vector<A> { A::AddSection }));
    f.tables->selectionDidChange(SongTable::Sections, { 1 });
    EXPECT_EQ(actions(SongTable::Sections), (std::vector<A> { A::AddSection, A::RemoveSections, A::Separator, A::ExportSubmenu }));
    EXPECT_EQ(f.tables->contextMenuItems(SongTable::Sections)[1].title, "Delete Section");
    f.tables->selectionDidChange(SongTable::Sections, { 1, 2 });
    EXPECT_EQ(actions(SongTable::Sections), (std::vector<A> { A::AddSection, A::RemoveSections }));
    EXPECT_EQ(f.tables->contextMenuItems(SongTable::Sections)[1].title, "Delete Sections");
    f.tables->selectionDidChange(SongTable::Playlist, { 0, 1 });
    EXPECT_EQ(actions(SongTable::Playlist),
        (std::vector<A> { A::AddSectionMarker, A::RemoveSectionMarkers, A::Separator, A::ExportSubmenu }));

    using C = std::optional<EditCommand>;
    const C sep = std::nullopt;
    struct Case {
        size_t count, index;
        bool copy, paste, clear;
        std::vector<C> expected;
    };
    const Case cases[] = {
        { 0, 0, true, true, true, { EditCommand::Cut, EditCommand::Copy, EditCommand::Paste, EditCommand::Clear } },
        { 5, 3, true, false, true, { sep, EditCommand::Cut, EditCommand::Copy, EditCommand::Clear, sep } },
        { 2, 0, true, true, false, { EditCommand::Copy, EditCommand::Paste, sep } }, // no Cut without Clear
        { 2, 2, false, false, true, { sep, EditCommand::Clear } },
        { 3, 1, false, false, false, {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(editCommandsToInsert(c.count, c.index, c.copy, c.paste, c.clear), c.expected);
}
