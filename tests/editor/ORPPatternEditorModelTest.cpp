// How the pattern editor follows the model: bars added and removed, geometry, renames, the kit, and
// objects it cannot show.

#include "editor/PatternEditorTestSupport.h"
#include "foundation/Logger.h"

using namespace rp::test;

namespace {

using FollowsModel = EditorFixture;

TEST_F(FollowsModel, AddedBarsAreSelectedAsWholeBars)
{
    setBars(2);
    entry()->setNumberOfTimes(2);
    editPlaylist();
    auto added = ORPPattern::pattern();
    section()->insertPatterns({ added }, 1);
    ASSERT_EQ(editor->instances().size(), 6u);
    EXPECT_TRUE(editor->wholeBarSelection());
    EXPECT_EQ(editor->selectedPatternInstances(), (std::vector<ORPPatternInstancePtr> { bar(1), bar(4) }));
    EXPECT_EQ(bar(1)->pattern(), added);
    EXPECT_EQ(bar(4)->selection()->rangeArray(), (std::vector<float> { 0.5f, 1 }));
    EXPECT_EQ(bar(2)->frame().x, 2 * 144); // laid out again

    section()->removePatterns({ added });
    EXPECT_FALSE(editor->hasSelection());
    EXPECT_EQ(editor->instances().size(), 4u);
}

TEST_F(FollowsModel, GeometryChangesLayOutAgainAndDeselect)
{
    setBars(2);
    editPlaylist();
    editor->setSelected(bar(1), true, 0, 0.5f);
    section()->patterns()[0]->setTimeSignatureTop(3, 4); // 3 beats: 6 divisions
    EXPECT_EQ(bar(0)->frame().width, 6 * 18);
    EXPECT_EQ(bar(1)->frame().x, 6 * 18);
    EXPECT_FALSE(editor->hasSelection());
}

TEST_F(FollowsModel, RenamesRedrawEverything)
{
    setBars(1);
    editPlaylist();
    const int before = view.fullRedraws;
    entry()->setName("Chorus");
    section()->setName("Verse");
    EXPECT_EQ(view.fullRedraws, before + 2);
}

TEST_F(FollowsModel, SameObjectsKeepTheInsertionPointAndANewKitResetsTheDrum)
{
    setBars(3);
    editPlaylist();
    editor->moveInsertionPointToPlace(0.5f, bar(2));
    PostedNotifications moved(ORPPatternEditorInsertionPointMovedNotification);
    editor->setEditedObjects({ entry() }, kit);
    EXPECT_EQ(editor->insertionPatternInstance(), bar(2));
    EXPECT_EQ(moved.count(), 1u); // announced even so

    picker.selectDrum(snare, false);
    editor->hoverUpdate(at(cell(0, 0, 1)));
    EXPECT_EQ(editor->currentDrum(), snare);
    auto small = ORPDrumKit::kit();
    small->addDrum(editorDrum("Hands", "Clap", "default"));
    editor->setEditedObjects({ entry() }, small);
    EXPECT_FALSE(editor->currentDrum());
    EXPECT_EQ(editor->numGroups(), 1);
    EXPECT_EQ(editor->rowHeight(), 18 + 44);
    EXPECT_EQ(bar(0)->frame().height, 62);
    EXPECT_EQ(picker.drumKit(), small);
}

TEST_F(FollowsModel, AnObjectItCannotShowLeavesTheBarsAsTheyWere)
{
    setBars(2);
    editPlaylist();
    const auto before = editor->instances();
    rp::LogCapture log;
    editor->setEditedObjects({ entry(), ORPSectionMarkerPtr {} }, kit);
    EXPECT_EQ(editor->instances(), before);
    EXPECT_EQ(log.lines(), std::vector<std::string> { "not a reasonable object type in pattern editor object array!" });
}

TEST_F(FollowsModel, FocusChangesRedrawTheSelectionAndSwitchTimers)
{
    setBars(2);
    editPlaylist();
    editor->setSelected(bar(1), true, 0, 1);
    view.redrawn.clear();
    editor->windowKeyChanged(false);
    EXPECT_FALSE(view.mouseTimer);
    EXPECT_FALSE(view.blinkTimer);
    EXPECT_EQ(view.redrawn.back(), bar(1)->frame());
    editor->deselectAll();
    editor->windowKeyChanged(true);
    EXPECT_TRUE(view.mouseTimer);
    EXPECT_TRUE(view.blinkTimer);
}

} // namespace
