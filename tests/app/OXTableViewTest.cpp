// The edit-command table under the offscreen platform: Home and End with Shift, a right click
// selecting the row first, selections refused while the delegate says so, edit commands reaching
// the delegate and their context-menu items, drag data carried lazily and bounded, the one-key
// field, and a song table's cells edited through the item model.

#include "editor/ORPReconcileController.h"
#include "editor/PasteboardTypes.h"
#include "app/QtTestApplication.h"
#include "support/TestSupport.h"
#include "widgets/OXShortcutKeyField.h"
#include "widgets/OXTableView.h"
#include "widgets/SongTableModel.h"

#include "foundation/UndoManager.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QMenu>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

using rp::editor::EditCommand;

namespace {

QApplication& app()
{
    return rp::test::testApplication();
}

struct RecordingDelegate : OXTableViewDelegate {
    bool tableViewValidateEditCommand(OXTableView*, EditCommand command) override
    {
        return command == EditCommand::Copy ? copy : command == EditCommand::Clear ? clear : paste;
    }
    void tableViewPerformEditCommand(OXTableView*, EditCommand command) override { performed.push_back(command); }
    bool tableViewSelectionShouldChange(OXTableView*) override { return mayChange; }
    void tableViewSelectionDidChange(OXTableView*, const std::vector<size_t>& rows) override { reported = rows; }
    void tableViewBuildContextMenu(OXTableView*, QMenu*) override { ++menus; }

    bool copy = true, clear = true, paste = false, mayChange = true;
    std::vector<EditCommand> performed;
    std::vector<size_t> reported;
    int menus = 0;
};

struct TableFixture {
    TableFixture()
    {
        model.setRowCount(6);
        model.setColumnCount(2);
        for (int row = 0; row < 6; ++row)
            model.setItem(row, 0, new QStandardItem(QString::number(row)));
        table.setModel(&model);
        table.setTableDelegate(&delegate);
        table.resize(300, 300);
        table.show();
    }
    std::vector<size_t> selected() const { return table.selectedRowList(); }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(&table, key, modifiers); }

    QApplication& application = app(); // before any widget
    QStandardItemModel model;
    RecordingDelegate delegate;
    OXTableView table;
};

} // namespace

TEST(OXTableView, HomeAndEndSelectTheEndsAndShiftExtends)
{
    TableFixture f;
    using Rows = std::vector<size_t>;
    f.key(Qt::Key_End, Qt::ShiftModifier); // nothing selected: only the last row
    EXPECT_EQ(f.selected(), Rows { 5 });
    f.table.selectAndScrollFromRow(2, 3);
    f.key(Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(f.selected(), (Rows { 2, 3, 4, 5 }));
    EXPECT_EQ(f.delegate.reported, (Rows { 2, 3, 4, 5 }));
    f.table.selectAndScrollFromRow(3, 4);
    f.key(Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(f.selected(), (Rows { 0, 1, 2, 3, 4 }));
    f.key(Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(f.selected(), Rows { 5 });
    f.key(Qt::Key_Home);
    EXPECT_EQ(f.selected(), Rows { 0 });

    // While the delegate refuses, neither keys nor clicks change the selection.
    f.delegate.mayChange = false;
    f.key(Qt::Key_End);
    QTest::mouseClick(f.table.viewport(), Qt::LeftButton, {}, f.table.visualRect(f.model.index(4, 0)).center());
    EXPECT_EQ(f.selected(), Rows { 0 });
}

TEST(OXTableView, ARightClickSelectsTheRowUnlessItIsAlreadySelected)
{
    TableFixture f;
    using Rows = std::vector<size_t>;
    f.table.selectAndScrollFromRow(1, 3);
    QTest::mousePress(f.table.viewport(), Qt::RightButton, {}, f.table.visualRect(f.model.index(2, 0)).center());
    EXPECT_EQ(f.selected(), (Rows { 1, 2, 3 }));
    QTest::mousePress(f.table.viewport(), Qt::RightButton, {}, f.table.visualRect(f.model.index(5, 1)).center());
    EXPECT_EQ(f.selected(), Rows { 5 });
    EXPECT_EQ(f.delegate.reported, Rows { 5 });
}

TEST(OXTableView, EditCommandsReachTheDelegateAndCutNeedsCopyAndClear)
{
    TableFixture f;
    f.table.setFocus();
    f.key(Qt::Key_C, Qt::ControlModifier);
    f.key(Qt::Key_Delete);
    f.key(Qt::Key_V, Qt::ControlModifier); // paste disabled: not forwarded
    EXPECT_EQ(f.delegate.performed, (std::vector<EditCommand> { EditCommand::Copy, EditCommand::Clear }));

    f.delegate.clear = false;
    EXPECT_FALSE(f.table.validateEditCommand(EditCommand::Cut));
    f.key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(f.delegate.performed.size(), 2u);

    auto titles = [](const QMenu& menu) {
        QStringList list;
        for (QAction* action : menu.actions())
            list << (action->isSeparator() ? QString("-") : action->text());
        return list;
    };
    QMenu menu;
    for (const char* title : { "a", "b", "c", "d", "e" })
        menu.addAction(title);
    f.delegate.paste = true;
    insertEditCommands(&menu, 3, &f.table);
    EXPECT_EQ(titles(menu), (QStringList { "a", "b", "c", "-", "Copy", "Paste", "-", "d", "e" }));
    menu.actions().at(4)->trigger();
    EXPECT_EQ(f.delegate.performed.back(), EditCommand::Copy);

    QMenu empty;
    f.delegate.clear = true;
    insertEditCommands(&empty, 0, &f.table);
    EXPECT_EQ(titles(empty), (QStringList { "Cut", "Copy", "Paste", "Clear" }));

    f.table.selectAndScrollFromRow(0, 5);
    EXPECT_FALSE(f.table.validateSelectAll());
    EXPECT_TRUE(f.table.validateDeselectAll());
}

TEST(OXTableView, DragDataIsProducedOnDemandAndBoundedWhenRead)
{
    app();
    rp::editor::ORPMemoryPasteboard board;
    board.declareTypes({ "ORPSectionListIndexSetPboardType", "ORPSectionArrayPboardType" });
    board.setData("ORPSectionListIndexSetPboardType", { 1, 2, 3 });
    int produced = 0;
    board.setProvider("ORPSectionArrayPboardType", [&] {
        ++produced;
        return std::vector<uint8_t> { 9, 9 };
    });
    OXPasteboardMimeData mime(board);
    OXMimePasteboard reader(&mime);
    EXPECT_TRUE(reader.hasType("ORPSectionArrayPboardType"));
    EXPECT_FALSE(reader.hasType("ORPSectionMarkerListIndexSetPboardType"));
    EXPECT_EQ(produced, 0);
    EXPECT_EQ(reader.data("ORPSectionArrayPboardType"), (std::vector<uint8_t> { 9, 9 }));
    EXPECT_EQ(reader.data("ORPSectionArrayPboardType"), (std::vector<uint8_t> { 9, 9 }));
    EXPECT_EQ(produced, 1);

    // Data from another program larger than the bound is not read.
    QMimeData foreign;
    const auto type = QString::fromStdString(rp::editor::PasteboardTypes::mimeType("ORPSectionArrayPboardType"));
    foreign.setData(type, QByteArray(static_cast<qsizetype>(rp::editor::PasteboardTypes::kMaximumForeignBytes + 1), 'x'));
    EXPECT_TRUE(OXMimePasteboard(&foreign).hasType("ORPSectionArrayPboardType"));
    EXPECT_FALSE(OXMimePasteboard(&foreign).data("ORPSectionArrayPboardType"));
}

TEST(OXTableView, DropPositionsFollowTheRowEdges)
{
    TableFixture f;
    const QRect row2 = f.table.visualRect(f.model.index(2, 0));
    using P = rp::editor::DropPosition;
    EXPECT_EQ(f.table.dropTargetAt({ 5, row2.top() + 1 }), std::make_pair(size_t { 2 }, P::Above));
    EXPECT_EQ(f.table.dropTargetAt({ 5, row2.center().y() }), std::make_pair(size_t { 2 }, P::On));
    EXPECT_EQ(f.table.dropTargetAt({ 5, row2.bottom() }), std::make_pair(size_t { 3 }, P::Above));
    EXPECT_EQ(f.table.dropTargetAt({ 5, 290 }), std::make_pair(size_t { 6 }, P::Above)); // below the rows
}

TEST(OXShortcutKeyField, TypingAlwaysReplacesTheOneCharacter)
{
    app();
    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* field = new OXShortcutKeyField(&window);
    field->move(0, 40);
    field->setText("k");
    window.show();
    field->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(field->selectedText(), "k");
    field->setCursorPosition(1); // an attempt to move the cursor selects again
    EXPECT_EQ(field->selectedText(), "k");
    QTest::keyClick(field, Qt::Key_S);
    EXPECT_EQ(field->text(), "s");
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_J);
    EXPECT_EQ(field->text(), "j");
    other->setFocus();
}

TEST(SongTableModel, CellsShowAndEditThroughTheItemModel)
{
    app();
    ORPSong::setDefaultKitProvider({});
    struct Document : ORPSongDocument {
        rp::UndoManager* undoManager() override { return &undo; }
        rp::UndoManager undo;
    };
    auto document = std::make_shared<Document>();
    document->undo.setGroupsByEvent(false);
    auto song = ORPSong::song();
    song->setDocument(document);
    rp::test::TempDir dir;
    rp::UserDefaults defaults(dir / "defaults.plist");
    ORPReconcileController reconciler(std::make_shared<NonInteractiveReconcilePanel>(), &defaults);
    rp::editor::ORPSongTables tables(song, document->undo, reconciler);
    SongTableModel sections(tables, rp::editor::SongTable::Sections);
    SongTableModel playlist(tables, rp::editor::SongTable::Playlist);

    EXPECT_EQ(playlist.columnCount(), 4);
    EXPECT_EQ(sections.data(sections.index(0, 1), SongTableModel::SuffixRole).toString(), " (0:02)");
    EXPECT_FALSE(sections.flags(sections.index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_TRUE(playlist.flags(playlist.index(0, 2)) & Qt::ItemIsEditable);

    document->undo.beginUndoGrouping();
    EXPECT_TRUE(sections.setData(sections.index(0, 0), QString("Chorus"), Qt::EditRole));
    document->undo.endUndoGrouping();
    EXPECT_EQ(song->sectionList()[0]->name(), "Chorus");
    EXPECT_EQ(document->undo.undoActionName(), "Rename");
    document->undo.beginUndoGrouping();
    EXPECT_TRUE(playlist.setData(playlist.index(0, 2), 4, Qt::EditRole));
    document->undo.endUndoGrouping();
    EXPECT_EQ(song->sectionMarkerList()[0]->numberOfTimes(), 4);
    EXPECT_EQ(playlist.data(playlist.index(0, 0), SongTableModel::PopUpItemsRole).toStringList(), QStringList { "Chorus" });
}
