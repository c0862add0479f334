// The song window's tables pane under the offscreen platform: the buttons following the selection
// and playing, a cell being edited committed on demand (before an undo), and the views keeping the
// tables' selection when the song changes under them.

#include "app/SongTablesPane.h"

#include "QtTestApplication.h"
#include "editor/ORPReconcileController.h"
#include "editor/SongDocument.h"
#include "foundation/NotificationCenter.h"
#include "widgets/OXTableView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using rp::editor::SongTable;
using Rows = std::vector<size_t>;

struct PaneFixture {
    PaneFixture()
    {
        document->undoManager()->setGroupsByEvent(false);
        rp::editor::SongTablesHooks hooks;
        hooks.isPlaying = [this] { return playing; };
        hooks.setEditedObjects = [this](const std::vector<rp::editor::SongTablesHooks::EditedObject>& objects,
                                     const ORPDrumKitPtr&) { edited = objects; };
        hooks.insertBarAction = [this] { ++barsInserted; };
        pane = std::make_unique<rp::app::SongTablesPane>(document, std::move(hooks));
        pane->resize(600, 300);
        pane->show();
    }

    QPushButton* button(const char* probeName) const
    {
        for (auto* button : pane->findChildren<QPushButton*>())
            if (button->property("probeName").toString() == QLatin1String(probeName))
                return button;
        ADD_FAILURE() << "no button " << probeName;
        return nullptr;
    }
    // Groups each user action as one undo step, as the event loop would.
    template <typename Action> void step(Action&& action)
    {
        document->undoManager()->beginUndoGrouping();
        action();
        document->undoManager()->endUndoGrouping();
    }
    const ORPSongPtr& song() const { return document->song(); }

    QApplication& application = rp::test::testApplication();
    bool kitless = [] {
        ORPSong::setDefaultKitProvider({});
        return true;
    }();
    std::shared_ptr<rp::editor::SongDocument> document
        = rp::editor::SongDocument::makeUntitled(std::make_shared<NonInteractiveReconcilePanel>());
    bool playing = false;
    std::vector<rp::editor::SongTablesHooks::EditedObject> edited;
    int barsInserted = 0;
    std::unique_ptr<rp::app::SongTablesPane> pane;
};

TEST(SongTablesPane, ButtonsFollowTheSelectionAndPlaying)
{
    PaneFixture f;
    EXPECT_FALSE(f.button("delSectionButton")->isEnabled());
    f.step([&] { QTest::mouseClick(f.button("addSectionButton"), Qt::LeftButton); });
    ASSERT_EQ(f.song()->sectionList().size(), 2u);
    EXPECT_EQ(f.barsInserted, 1);
    EXPECT_EQ(f.pane->sectionsTable()->selectedRowList(), Rows { 1 });
    ASSERT_EQ(f.edited.size(), 1u);
    EXPECT_EQ(std::get<ORPSectionPtr>(f.edited[0]), f.song()->sectionList()[1]);
    // One of two sections selected may go; both may not (one always remains).
    EXPECT_TRUE(f.button("delSectionButton")->isEnabled());
    f.pane->commitEditing();
    f.pane->sectionsTable()->selectAndScrollFromRow(0, 1);
    EXPECT_FALSE(f.button("delSectionButton")->isEnabled());

    f.step([&] { QTest::mouseClick(f.button("addMarkerButton"), Qt::LeftButton); });
    f.pane->commitEditing();
    ASSERT_EQ(f.song()->sectionMarkerList().size(), 2u);
    // Selecting entries deselects the sections.
    EXPECT_TRUE(f.pane->sectionsTable()->selectedRowList().empty());
    EXPECT_EQ(f.pane->layoutTable()->selectedRowList(), Rows { 1 });
    EXPECT_TRUE(f.button("delMarkerButton")->isEnabled());

    f.playing = true;
    f.pane->playbackChanged();
    for (const char* name : { "addSectionButton", "addMarkerButton", "allMarkersButton" })
        EXPECT_FALSE(f.button(name)->isEnabled()) << name;
    f.playing = false;
    f.pane->playbackChanged();
    for (const char* name : { "addSectionButton", "addMarkerButton", "allMarkersButton" })
        EXPECT_TRUE(f.button(name)->isEnabled()) << name;

    QTest::mouseClick(f.button("allMarkersButton"), Qt::LeftButton);
    EXPECT_EQ(f.pane->layoutTable()->selectedRowList(), (Rows { 0, 1 }));
    EXPECT_FALSE(f.button("delMarkerButton")->isEnabled());
}

TEST(SongTablesPane, CommittingEndsTheCellBeingEdited)
{
    PaneFixture f;
    f.step([&] { QTest::mouseClick(f.button("addSectionButton"), Qt::LeftButton); });
    // The new section's name is being edited, its text selected: typing replaces it.
    auto* field = f.pane->sectionsTable()->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->selectedText().toStdString(), f.song()->sectionList()[1]->name());
    field->setText("Bridge");
    EXPECT_NE(f.song()->sectionList()[1]->name(), "Bridge");
    f.step([&] { f.pane->commitEditing(); });
    EXPECT_EQ(f.song()->sectionList()[1]->name(), "Bridge");
    EXPECT_EQ(f.document->undoManager()->undoActionName(), "Rename");
    // Committing again (no cell open) changes nothing.
    QApplication::processEvents();
    f.step([&] { f.pane->commitEditing(); });
    EXPECT_EQ(f.document->undoManager()->undoActionName(), "Rename");
    f.document->undoManager()->undo();
    EXPECT_NE(f.song()->sectionList()[1]->name(), "Bridge");
}

TEST(SongTablesPane, TheViewsKeepTheSelectionWhenTheSongChanges)
{
    PaneFixture f;
    for (int i = 0; i < 3; ++i) {
        f.step([&] { f.pane->tables().addNewSection(); });
        f.pane->commitEditing();
    }
    ASSERT_EQ(f.song()->sectionList().size(), 4u);
    f.pane->sectionsTable()->selectAndScrollFromRow(1, 2);
    // Removing the last section under the tables keeps rows 1 and 2; removing row 2 drops it.
    f.song()->removeSections({ f.song()->sectionList()[3] });
    f.pane->reloadFromSong();
    EXPECT_EQ(f.pane->sectionsTable()->model()->rowCount(), 3);
    EXPECT_EQ(f.pane->sectionsTable()->selectedRowList(), (Rows { 1, 2 }));
    f.song()->removeSections({ f.song()->sectionList()[2] });
    f.pane->reloadFromSong();
    EXPECT_EQ(f.pane->sectionsTable()->selectedRowList(), Rows { 1 });
    EXPECT_EQ(f.pane->tables().selectedRows(SongTable::Sections), Rows { 1 });
    EXPECT_TRUE(f.button("delSectionButton")->isEnabled());
}

TEST(SongTablesPane, ACellCommitReloadingTheTablesKeepsItsEditor)
{
    PaneFixture f;
    // As in the window: every change of the song reloads the tables, here from inside the commit
    // (new repeats recalculate the song's duration).
    auto& center = rp::NotificationCenter::defaultCenter();
    center.addObserver(&f, "", f.song().get(), [&](const rp::Notification&) { f.pane->reloadFromSong(); });
    f.step([&] { f.pane->tables().addNewSectionMarker(); });
    f.pane->commitEditing();
    const size_t row = f.song()->sectionMarkerList().size() - 1;
    OXTableView* table = f.pane->layoutTable();
    const QModelIndex repeats = table->model()->index(static_cast<int>(row), 2);
    table->setCurrentIndex(repeats);
    table->edit(repeats);
    auto* spin = table->findChild<QSpinBox*>();
    ASSERT_NE(spin, nullptr);
    spin->setValue(3);
    // Return commits and closes the editor, the reload happening in between.
    f.step([&] { QTest::keyClick(spin, Qt::Key_Return); });
    QApplication::processEvents();
    center.removeObserver(&f);
    EXPECT_EQ(f.song()->sectionMarkerList()[row]->numberOfTimes(), 3);
    EXPECT_EQ(table->model()->index(static_cast<int>(row), 2).data().toString(), "3");
    EXPECT_EQ(table->selectedRowList(), Rows { row });
}

} // namespace
