// Dragging whole bars: the drop position and its marker, the operation, refusing a drop into the
// dragged run, moving and copying, drops from elsewhere, and the drag image's layout.

#include "editor/ORPInterfaceDefaults.h"
#include "editor/PatternEditorTestSupport.h"
#include "foundation/Logger.h"

using namespace rp::test;

namespace {

struct Drag : EditorFixture {
    const ORPPatternPtr& pattern(size_t index) const { return section()->patterns().at(index); }
    rp::UndoManager& undo() { return song.document->undo; }
    void selectBars(std::initializer_list<size_t> bars)
    {
        editor->setWholeBarSelection(true);
        for (size_t index : bars)
            editor->setSelected(bar(index), true, 0.0f, 1.0f);
    }
    // The middle of the grid of bar `index`, shifted by `dx`.
    ORPPoint inside(size_t index, double dx) const
    {
        const auto& frame = bar(index)->frame();
        return { frame.x + frame.width / 2 + dx, frame.y + 50 };
    }
};

TEST_F(Drag, DropPositionAndMarkerFollowThePoint)
{
    struct Case {
        const char* what;
        long perRow;
        double visibleWidth;
        ORPPoint point;
        size_t index;
        ORPRect marker;
    };
    const Case cases[] = {
        { "left half of the first bar", 0, 1000, { 10, 50 }, 0, { -0.5, -1, 5, 100 } },
        { "right half of the first bar", 0, 1000, { 100, 50 }, 1, { 141.5, -1, 5, 100 } },
        { "right half of the last bar", 0, 1000, { 400, 50 }, 3, { 429.5, -1, 5, 100 } },
        { "below every bar", 0, 1000, { 50, 300 }, 3, { 429.5, -1, 5, 100 } },
        { "last bar ends the view", 0, 432, { 400, 50 }, 3, { 427.5, -1, 5, 100 } },
        { "past the end of a row", 2, 1000, { 250, 50 }, 2, { 285.5, -1, 5, 100 } },
        { "left half of a second row", 2, 1000, { 20, 120 }, 2, { -0.5, 97, 5, 100 } },
        { "right of the second row", 2, 1000, { 250, 120 }, 3, { 141.5, 97, 5, 100 } },
    };
    setBars(3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        view.visible = { 0, 0, c.visibleWidth, 800 };
        defaults.store().setInteger(c.perRow, ORPInterfaceDefaults::kPatternsPerRowKey);
        editPlaylist();
        editor->adjustLayout();
        EXPECT_EQ(editor->barDragUpdated(c.point, false, ORPDragOperationCopy), ORPDragOperationCopy);
        EXPECT_EQ(editor->dropIndex(), c.index);
        EXPECT_EQ(editor->dropMarkerRect(), c.marker);
    }
}

TEST_F(Drag, OperationDependsOnWhereTheDragComesFrom)
{
    struct Case {
        bool fromThisEditor;
        uint64_t allowed;
        uint64_t expected;
    };
    const Case cases[] = {
        { true, ORPDragOperationCopy | ORPDragOperationMove, ORPDragOperationMove },
        { true, ORPDragOperationCopy, ORPDragOperationCopy },
        { true, ORPDragOperationNone, ORPDragOperationNone },
        { false, ORPDragOperationCopy | ORPDragOperationMove, ORPDragOperationCopy },
        { false, ORPDragOperationMove, ORPDragOperationNone },
    };
    setBars(2);
    editPlaylist();
    for (const auto& c : cases)
        EXPECT_EQ(editor->barDragUpdated({ 10, 50 }, c.fromThisEditor, c.allowed), c.expected)
            << c.fromThisEditor << " " << c.allowed;
    EXPECT_EQ(ORPPatternEditor::barDragSourceOperations(), ORPDragOperationCopy | ORPDragOperationMove);
}

TEST_F(Drag, EnteringHidesTheInsertionPointAndExitingRestoresIt)
{
    setBars(2);
    editPlaylist();
    view.mouseTimer = true;
    EXPECT_EQ(editor->barDragEntered(), ORPDragOperationNone);
    EXPECT_FALSE(view.mouseTimer);
    EXPECT_FALSE(view.blinkTimer);
    EXPECT_FALSE(editor->insertionBlink());
    editor->barDragUpdated({ 10, 50 }, true, ORPDragOperationMove);
    EXPECT_NE(editor->dropMarkerRect(), ORPRect {});
    editor->barDragExited();
    EXPECT_EQ(editor->dropMarkerRect(), ORPRect {});
    EXPECT_TRUE(view.mouseTimer);
    EXPECT_TRUE(view.blinkTimer);

    // Without the key window nothing restarts.
    view.key = false;
    editor->barDragEntered();
    editor->barDragExited();
    EXPECT_FALSE(view.mouseTimer);
}

TEST_F(Drag, MoveIntoTheDraggedRunIsRefused)
{
    setBars(5);
    editPlaylist();
    selectBars({ 1, 2 });
    struct Case {
        size_t dropBefore; // bar index; 5 = the end
        bool fromThisEditor;
        uint64_t operation;
        bool accepted;
    };
    const Case cases[] = {
        { 0, true, ORPDragOperationMove, true },
        { 1, true, ORPDragOperationMove, false },
        { 2, true, ORPDragOperationMove, false },
        { 3, true, ORPDragOperationMove, false }, // just after the run
        { 4, true, ORPDragOperationMove, true },
        { 5, true, ORPDragOperationMove, true },
        { 2, true, ORPDragOperationCopy, true },
        { 2, false, ORPDragOperationMove, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dropBefore);
        const ORPPoint point = c.dropBefore < 5 ? inside(c.dropBefore, -20) : inside(4, 20);
        editor->barDragUpdated(point, c.fromThisEditor, c.operation);
        ASSERT_EQ(editor->dropIndex(), c.dropBefore);
        EXPECT_EQ(editor->prepareForBarDrop(c.fromThisEditor, c.operation), c.accepted);
        EXPECT_EQ(editor->dropMarkerRect(), ORPRect {});
    }
    // Bars apart are no run: any drop moves them.
    editor->deselectAll();
    selectBars({ 1, 3 });
    editor->barDragUpdated(inside(2, -20), true, ORPDragOperationMove);
    EXPECT_TRUE(editor->prepareForBarDrop(true, ORPDragOperationMove));
}

TEST_F(Drag, DroppingTwoBarsLaterMovesThem)
{
    setBars(6);
    editPlaylist();
    for (size_t i = 0; i < 6; ++i)
        pattern(i)->addEventWithDrum(snare, 1.0f, static_cast<float>(i) / 8);
    undo().removeAllActions();
    const std::vector<ORPPatternPtr> before = section()->patterns();
    selectBars({ 1, 2 });
    editor->barDragUpdated(inside(5, -20), true, ORPDragOperationCopy | ORPDragOperationMove);
    ASSERT_TRUE(editor->prepareForBarDrop(true, ORPDragOperationMove));
    ASSERT_TRUE(editor->performBarDrop(true, ORPDragOperationMove, {}));

    const auto& after = section()->patterns();
    ASSERT_EQ(after.size(), 6u);
    EXPECT_EQ((std::vector<ORPPatternPtr> { after[0], after[1], after[2], after[5] }),
        (std::vector<ORPPatternPtr> { before[0], before[3], before[4], before[5] }));
    for (size_t i : { 3, 4 }) {
        ASSERT_EQ(after[i]->events()->size(), 1u);
        EXPECT_EQ(after[i]->events()->front()->whenRatio(), static_cast<float>(i - 2) / 8);
    }
    EXPECT_EQ(undo().undoActionName(), "Drag Bars");
    undo().undo();
    EXPECT_EQ(section()->patterns(), before);
}

TEST_F(Drag, CopyingKeepsTheOriginals)
{
    setBars(3);
    editPlaylist();
    const std::vector<ORPPatternPtr> before = section()->patterns();
    selectBars({ 2 });
    editor->barDragUpdated(inside(0, -20), true, ORPDragOperationCopy);
    ASSERT_TRUE(editor->prepareForBarDrop(true, ORPDragOperationCopy));
    ASSERT_TRUE(editor->performBarDrop(true, ORPDragOperationCopy, {}));
    ASSERT_EQ(section()->patterns().size(), 4u);
    EXPECT_NE(pattern(0), before[2]);
    EXPECT_EQ((std::vector<ORPPatternPtr> { pattern(1), pattern(2), pattern(3) }), before);
}

TEST_F(Drag, BarsFromElsewhereAreReadReconciledAndAppended)
{
    setBars(2);
    editPlaylist();
    pattern(0)->addEventWithDrum(hatOpen, 0.7f, 0.5f);
    selectBars({ 0 });
    const auto data = editor->dataForSelectedPatterns();
    editor->deselectAll();
    undo().removeAllActions();

    editor->barDragUpdated({ 900, 50 }, false, ORPDragOperationCopy | ORPDragOperationMove);
    ASSERT_EQ(editor->dropIndex(), 2u);
    ASSERT_TRUE(editor->performBarDrop(false, ORPDragOperationCopy, data));
    ASSERT_EQ(section()->patterns().size(), 3u);
    ASSERT_EQ(pattern(2)->events()->size(), 1u);
    EXPECT_EQ(pattern(2)->events()->front()->drum(), hatOpen);
    EXPECT_EQ(undo().undoActionName(), "Drag Bars");

    // Damaged data and operations other than copy and move drop nothing.
    rp::Error error;
    const std::vector<uint8_t> garbage(data.begin(), data.begin() + static_cast<ptrdiff_t>(data.size() / 2));
    EXPECT_FALSE(editor->performBarDrop(false, ORPDragOperationCopy, garbage, &error));
    EXPECT_TRUE(error.isApplicationError(rp::kErrorInvalidFile));
    rp::LogCapture log;
    EXPECT_FALSE(editor->performBarDrop(false, 2, data));
    EXPECT_FALSE(editor->performBarDrop(true, ORPDragOperationNone, data));
    EXPECT_EQ(log.lines(),
        (std::vector<std::string> { "ORPPatternEditor: inconsistent drag operation 2 specified",
            "ORPPatternEditor: inconsistent drag operation 0 specified" }));
    EXPECT_EQ(section()->patterns().size(), 3u);
}

TEST_F(Drag, ImageShowsTheLastFiveBarsAndCountsThemAll)
{
    setBars(8);
    editPlaylist();
    selectBars({ 0, 1, 2, 3, 4, 5, 6 });
    const auto image = editor->barDragImage(inside(3, 0));
    ASSERT_EQ(image.bars.size(), 5u);
    EXPECT_EQ(image.bars.front(), bar(2));
    EXPECT_EQ(image.bars.back(), bar(6));
    EXPECT_EQ(image.width, 144 + 40);
    EXPECT_EQ(image.height, 98);
    EXPECT_EQ(image.x, bar(3)->frame().x - 40);
    EXPECT_EQ(image.y, 0);
    EXPECT_EQ(image.label, "7 bars");
    EXPECT_EQ(image.labelBand, (ORPRect { 4, 35, 176, 32 }));

    editor->deselectAll();
    selectBars({ 5 });
    const auto single = editor->barDragImage(inside(5, 0));
    ASSERT_EQ(single.bars.size(), 1u);
    EXPECT_EQ(single.width, 144);
    EXPECT_EQ(single.x, bar(5)->frame().x);
    EXPECT_TRUE(single.label.empty());
}

} // namespace
