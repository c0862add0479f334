// The pointer: hover operations and cursors, painting and erasing by clicks and drags with their
// undo steps, selection clicks, the context menu and the velocity pop-up.

#include "editor/PatternEditorTestSupport.h"

using namespace rp::test;

namespace {

struct Mouse : EditorFixture {
    Mouse()
    {
        setBars(2);
        editPlaylist();
        picker.selectDrum(snare, false);
    }
    const ORPPatternPtr& pattern(size_t index) const { return section()->patterns()[index]; }
    size_t eventCount(size_t index) const { return pattern(index)->events()->size(); }
    rp::UndoManager& undo() { return song.document->undo; }
};

TEST_F(Mouse, HoverChoosesOperationAndCursor)
{
    struct Case {
        const char* what;
        ORPPoint point;
        ORPEditorModifiers modifiers;
        uint16_t operation;
        ORPEditorCursor cursor;
    };
    const Case cases[] = {
        { "title strip", { 40, 10 }, {}, ORPPatternEditor::kOpSelectBars, ORPEditorCursor::Arrow },
        { "division strip", { 40, 21 }, {}, ORPPatternEditor::kOpSelectDivisions, ORPEditorCursor::Triangle },
        { "grid cell", { 40, 60 }, {}, ORPPatternEditor::kOpPaint, ORPEditorCursor::Drum },
        { "empty cell with Option", { 40, 60 }, { .option = true }, ORPPatternEditor::kOpErase,
            ORPEditorCursor::PencilGrey },
        { "with Control", { 40, 60 }, { .control = true }, ORPPatternEditor::kOpMenu,
            ORPEditorCursor::PointingHand },
        { "on a division line", { 36, 60 }, {}, ORPPatternEditor::kOpPlace, ORPEditorCursor::IBeam },
        { "footer", { 40, 90 }, {}, ORPPatternEditor::kOpPlace, ORPEditorCursor::IBeam },
        { "below the bars", { 40, 300 }, {}, ORPPatternEditor::kOpPlace, ORPEditorCursor::IBeam },
        { "outside the visible area", { 40, 900 }, {}, ORPPatternEditor::kOpPlace, ORPEditorCursor::Arrow },
    };
    for (const auto& c : cases) {
        editor->hoverUpdate(at(c.point, c.modifiers));
        EXPECT_EQ(editor->mouseOperation(), c.operation) << c.what;
        EXPECT_EQ(view.cursor, c.cursor) << c.what;
    }
    pattern(0)->addEventWithDrum(kickHard, 1, 0.25f);
    editor->hoverUpdate(at(cell(0, 0, 2), { .option = true }));
    EXPECT_EQ(view.cursor, ORPEditorCursor::Pencil);
}

TEST_F(Mouse, HoverReportsOnlyRealChangesAndRedrawsTheColumns)
{
    EXPECT_TRUE(editor->hoverUpdate(at({ 40, 60 })));
    EXPECT_EQ(view.cursorDrum, snare);
    EXPECT_EQ(editor->hoverGroup(), 1); // moved to the current drum's row
    view.redrawn.clear();
    EXPECT_FALSE(editor->hoverUpdate(at({ 41, 70 })));
    EXPECT_TRUE(view.redrawn.empty());
    EXPECT_TRUE(editor->hoverUpdate(at({ 60, 60 })));
    EXPECT_EQ(view.redrawn, (std::vector<ORPRect> { { 36, 24, 18, 54 }, { 54, 24, 18, 54 } }));
}

TEST_F(Mouse, ClickingACellAddsTheCurrentDrumInItsOwnRow)
{
    click(cell(0, 2, 3)); // the hats' row, column 3
    ASSERT_EQ(eventCount(0), 1u);
    const auto event = pattern(0)->events()->front();
    EXPECT_EQ(event->drum(), snare);
    EXPECT_FLOAT_EQ(event->whenRatio(), 0.375f);
    EXPECT_FLOAT_EQ(event->velocity(), 1.0f);
    EXPECT_EQ(undo().undoActionName(), "Snare");
    EXPECT_EQ(undo().undoStepCount(), 1u);

    // Clicking the drum again, anywhere in the column, erases it.
    click(cell(0, 0, 3));
    EXPECT_EQ(eventCount(0), 0u);
    EXPECT_EQ(undo().undoActionName(), "Erase");
    EXPECT_EQ(editor->mouseOperation(), ORPPatternEditor::kOpPlace);
}

TEST_F(Mouse, CommandClickAddsTheClickedRowsDrum)
{
    editor->setDefaultVelocityProvider([] { return 0.6f; });
    click(cell(1, 2, 5), { .command = true });
    ASSERT_EQ(eventCount(1), 1u);
    const auto event = pattern(1)->events()->front();
    EXPECT_EQ(event->drum(), picker.defaultDrumForGroup(2));
    EXPECT_EQ(event->drum()->groupName(), "Hats");
    EXPECT_FLOAT_EQ(event->velocity(), 0.6f);
    EXPECT_TRUE(editor->editingMulti());
}

TEST_F(Mouse, OptionClickErasesWhateverTheCellShows)
{
    auto kick = pattern(0)->addEventWithDrum(kickHard, 1, 0.5f); // listed second: the snares' row
    pattern(0)->addEventWithDrum(kickLow, 1, 0.5f);
    undo().removeAllActions();
    click(cell(0, 2, 4), { .option = true }); // empty row: nothing
    EXPECT_EQ(eventCount(0), 2u);
    EXPECT_FALSE(undo().canUndo());
    click(cell(0, 0, 4), { .option = true });
    ASSERT_EQ(eventCount(0), 1u);
    EXPECT_EQ(pattern(0)->events()->front(), kick);
    EXPECT_EQ(undo().undoActionName(), "Erase");
}

TEST_F(Mouse, ShortcutKeysChooseTheDrumUnderThePointerWithoutEditing)
{
    hatClosed->setShortcutKey(std::string("h"));
    hatOpen->setShortcutKey(std::string("h"));
    kickHard->setShortcutKey(std::string("k"));
    picker.setDrumKit(kit); // shortcuts are gathered when the kit is set
    editor->hoverUpdate(at(cell(0, 0, 3)));
    ASSERT_EQ(view.cursorDrum, picker.defaultDrum());

    EXPECT_TRUE(editor->drumShortcutKeyDown("h", {}));
    EXPECT_EQ(picker.defaultDrum(), hatClosed);
    // The pointer did not move, yet the cursor and the row under it follow the new drum.
    EXPECT_EQ(view.cursorDrum, hatClosed);
    EXPECT_EQ(editor->hoverGroup(), 2);
    EXPECT_TRUE(editor->drumShortcutKeyDown("h", { .option = true }));
    EXPECT_EQ(picker.defaultDrum(), hatOpen);
    EXPECT_EQ(view.cursorDrum, hatOpen);

    // Keys no drum carries go on to the window; nothing was ever edited.
    EXPECT_FALSE(editor->drumShortcutKeyDown("z", {}));
    EXPECT_FALSE(editor->drumShortcutKeyDown("", {}));
    EXPECT_EQ(eventCount(0), 0u);
    EXPECT_FALSE(undo().canUndo());
}

TEST_F(Mouse, DragPaintingIsOneUndoStepTouchingEachCellOnce)
{
    editor->hoverUpdate(at(cell(0, 1, 2)));
    editor->mouseDown(at(cell(0, 1, 2)));
    EXPECT_EQ(editor->mouseOperation(), ORPPatternEditor::kOpPainting);
    EXPECT_TRUE(view.autoScroll);
    for (int div : { 3, 3, 4, 5, 4 }) // back over a painted cell as well
        editor->mouseDragged(at(cell(0, 1, div)));
    editor->mouseDragged(at({ cell(0, 1, 5).x, 40 })); // another row of the same column: nothing new
    editor->mouseUp(at(cell(0, 1, 4)));
    EXPECT_FALSE(view.autoScroll);
    EXPECT_EQ(eventCount(0), 4u);
    EXPECT_EQ(undo().undoStepCount(), 1u);
    EXPECT_EQ(undo().undoActionName(), "Snare");
    undo().undo();
    EXPECT_EQ(eventCount(0), 0u);

    // Starting on the drum erases along the drag, again as one step.
    undo().redo();
    editor->hoverUpdate(at(cell(0, 1, 3)));
    editor->mouseDown(at(cell(0, 1, 3)));
    EXPECT_FALSE(editor->addingMode());
    editor->mouseDragged(at(cell(0, 1, 4)));
    editor->mouseDragged(at(cell(0, 1, 6))); // nothing there
    editor->mouseUp(at(cell(0, 1, 6)));
    EXPECT_EQ(eventCount(0), 2u);
    EXPECT_EQ(undo().undoActionName(), "Erase");
    undo().undo();
    EXPECT_EQ(eventCount(0), 4u);
}

TEST_F(Mouse, DragErasingAcrossBars)
{
    for (float place : { 0.75f, 0.875f })
        pattern(0)->addEventWithDrum(hatOpen, 1, place);
    pattern(1)->addEventWithDrum(hatClosed, 1, 0);
    undo().removeAllActions();
    editor->hoverUpdate(at(cell(0, 2, 6), { .option = true }));
    editor->mouseDown(at(cell(0, 2, 6), { .option = true }));
    editor->mouseDragged(at(cell(0, 2, 7)));
    editor->mouseDragged(at(cell(1, 2, 0)));
    editor->mouseUp(at(cell(1, 2, 0)));
    EXPECT_EQ(eventCount(0) + eventCount(1), 0u);
    EXPECT_EQ(undo().undoStepCount(), 1u);
    EXPECT_EQ(undo().undoActionName(), "Erase");
}

TEST_F(Mouse, ClicksPlaceTheInsertionPointAndSelect)
{
    click({ 40, 90 }); // footer of bar 0, column 2
    EXPECT_EQ(editor->insertionPatternInstance(), bar(0));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.25f);
    click({ 100, 400 }); // below every bar: the end of the last bar of the row above
    EXPECT_EQ(editor->insertionPatternInstance(), bar(1));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 1.0f);

    click({ 40, 21 }); // division strip: the column
    EXPECT_EQ(bar(0)->selection()->rangeArray(), (std::vector<float> { 0.25f, 0.375f }));
    click({ 60, 21 }, { .shift = true });
    EXPECT_EQ(bar(0)->selection()->rangeArray(), (std::vector<float> { 0.25f, 0.5f }));
    click({ 60, 21 }, { .command = true }); // toggles the column off
    EXPECT_EQ(bar(0)->selection()->rangeArray(), (std::vector<float> { 0.25f, 0.375f }));

    click({ 150, 10 }); // title strip: the whole bar, in whole-bar mode
    EXPECT_TRUE(editor->wholeBarSelection());
    EXPECT_EQ(editor->selectedPatternInstances(), std::vector<ORPPatternInstancePtr> { bar(1) });
    click({ 40, 10 }, { .command = true });
    EXPECT_EQ(editor->selectedPatternInstances().size(), 2u);
    click({ 40, 90 }, {}, 2); // double click in the footer: the bar alone
    EXPECT_EQ(editor->selectedPatternInstances(), std::vector<ORPPatternInstancePtr> { bar(0) });
}

TEST_F(Mouse, DraggingSelectsColumnsFromTheAnchor)
{
    editor->hoverUpdate(at({ 40, 21 }));
    editor->mouseDown(at({ 40, 21 }));
    editor->mouseDragged(at({ 150, 40 })); // bar 1, column 0, grid row
    editor->mouseUp(at({ 150, 40 }));
    EXPECT_EQ(bar(0)->selection()->rangeArray(), (std::vector<float> { 0.25f, 1 }));
    EXPECT_EQ(bar(1)->selection()->rangeArray(), (std::vector<float> { 0, 0.125f }));
}

TEST_F(Mouse, RightClickOnAHitOpensTheVelocityPopUp)
{
    auto event = pattern(1)->addEventWithDrum(hatOpen, 0.55f, 0.25f);
    undo().removeAllActions();
    editor->rightMouseDown(at(cell(1, 2, 2)));
    EXPECT_EQ(view.popUpEvent, event);
    EXPECT_EQ(view.popUpAt, (ORPPoint { 144 + 3 * 18, 24 + 2 * 18 }));
    EXPECT_FALSE(view.mouseTimer);
    EXPECT_EQ(view.contextMenus, 0);

    auto& menu = editor->eventMenuController();
    EXPECT_FLOAT_EQ(menu.sliderValue(), 0.55f);
    EXPECT_EQ(menu.fieldText(), "5");
    menu.velocityChanged(0.8f);
    menu.velocityChanged(0.91f);
    EXPECT_EQ(menu.fieldText(), "9");
    EXPECT_FLOAT_EQ(event->velocity(), 0.91f);
    EXPECT_EQ(event->drum(), hatOpen);
    editor->velocityPopUpClosed();
    EXPECT_TRUE(view.mouseTimer);
    EXPECT_EQ(undo().undoStepCount(), 1u);
    EXPECT_EQ(undo().undoActionName(), "Velocity Change");
    undo().undo();
    EXPECT_FLOAT_EQ(event->velocity(), 0.55f);
}

TEST_F(Mouse, RightClickElsewhereClicksThenOffersTheMenu)
{
    editor->rightMouseDown(at({ 40, 90 }));
    EXPECT_EQ(view.contextMenus, 1);
    EXPECT_EQ(editor->mouseOperation(), ORPPatternEditor::kOpMenu);
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.25f);
    EXPECT_FALSE(view.popUpEvent);
    // Control-click is the same.
    editor->mouseDown(at(cell(0, 0, 5), { .control = true }));
    EXPECT_EQ(view.contextMenus, 2);
    EXPECT_EQ(eventCount(0), 0u);
}

TEST_F(Mouse, FirstMouseOnlyOnABarHeaderOfAnActiveApplication)
{
    EXPECT_TRUE(editor->acceptsFirstMouse(at({ 40, 10 }), true));
    EXPECT_FALSE(editor->acceptsFirstMouse(at({ 40, 10 }), false));
    EXPECT_FALSE(editor->acceptsFirstMouse(at(cell(0, 0, 0)), true));
    EXPECT_FALSE(editor->acceptsFirstMouse(at({ 40, 300 }), true));
}

TEST_F(Mouse, BlinkRunsOnlyWithNothingSelected)
{
    editor->setInsertAtPlace(0.5f, bar(0));
    EXPECT_TRUE(editor->enableInsertionPointBlink(true));
    EXPECT_TRUE(editor->insertionBlink());
    editor->blinkInsertionPoint();
    EXPECT_FALSE(editor->insertionBlink());
    EXPECT_EQ(view.redrawn.back(), editor->insertionRect());
    editor->setSelected(bar(0), true, 0, 0.5f);
    EXPECT_FALSE(editor->enableInsertionPointBlink(true));
    EXPECT_FALSE(view.blinkTimer);
}

} // namespace
