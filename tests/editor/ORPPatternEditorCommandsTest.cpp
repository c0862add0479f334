// The editing commands: copy, cut, clear, paste (drums lined up by beats, bars), insert and delete
// beats and bars with their undo names, menu validation, and what a damaged clipboard does.

#include "archive/KeyedArchiver.h"
#include "editor/PasteboardTypes.h"
#include "editor/PatternEditorTestSupport.h"
#include "editor/ReconcileTestSupport.h"
#include "foundation/Logger.h"
#include "model/ORPSong.h"

#include <map>
#include <random>

using namespace rp::test;
using rp::editor::ORPPattisForBarsPboardType;
using rp::editor::ORPPattisForDrumsPboardType;

namespace {

// The clipboard in memory, with one type put on it the way a copy does.
class FakePasteboard : public rp::editor::ORPMemoryPasteboard {
public:
    void put(const std::string& type, std::vector<uint8_t> bytes)
    {
        declareTypes({ type });
        setData(type, std::move(bytes));
    }
};

struct Commands : EditorFixture {
    Commands() { editor->setPasteboard(board); }

    const ORPPatternPtr& pattern(size_t index) const { return section()->patterns().at(index); }
    rp::UndoManager& undo() { return song.document->undo; }
    void add(size_t bar, const ORPDrumPtr& drum, float place) { pattern(bar)->addEventWithDrum(drum, 0.5f, place); }
    // (drum type, place) of every event of a bar, in order.
    std::vector<std::pair<std::string, float>> hits(size_t bar) const
    {
        std::vector<std::pair<std::string, float>> result;
        for (const auto& event : *pattern(bar)->events())
            result.emplace_back(event->drum()->typeName(), event->whenRatio());
        return result;
    }
    void selectDivisions(size_t bar, float from, float to)
    {
        editor->setWholeBarSelection(false);
        editor->setSelected(this->bar(bar), true, from, to);
    }
    void selectBars(std::initializer_list<size_t> bars)
    {
        editor->setWholeBarSelection(true);
        for (size_t index : bars)
            editor->setSelected(bar(index), true, 0.0f, 1.0f);
    }
    void setTop(size_t bar, int16_t top)
    {
        pattern(bar)->setTimeSignatureTop(top, 4);
        undo().removeAllActions();
    }

    std::shared_ptr<FakePasteboard> board = std::make_shared<FakePasteboard>();
};

// --- Copy and paste ---

TEST_F(Commands, CopyWritesOnlyTheTypeOfTheSelectionMode)
{
    setBars(2);
    editPlaylist();
    add(0, snare, 0.25f);
    selectDivisions(0, 0.0f, 0.5f);
    editor->copy();
    EXPECT_EQ(board->types(), std::vector<std::string> { ORPPattisForDrumsPboardType });

    editor->deselectAll();
    selectBars({ 0, 1 });
    editor->copy();
    EXPECT_EQ(board->types(), std::vector<std::string> { ORPPattisForBarsPboardType });
    const auto copied = ORPPatternEditor::instancesFromPasteboardData(*board->data(ORPPattisForBarsPboardType), nullptr);
    ASSERT_EQ(copied.size(), 2u);
    EXPECT_EQ(copied[0]->pattern()->events()->size(), 1u);
    EXPECT_EQ(copied[0]->selection()->description(), bar(0)->selection()->description());
    EXPECT_EQ(ORPPatternEditor::writableTypes(),
        (std::vector<std::string> { ORPPattisForBarsPboardType, ORPPattisForDrumsPboardType }));
}

TEST_F(Commands, PastePrefersDrumsWhenBothTypesAreOffered)
{
    setBars(2);
    editPlaylist();
    add(0, snare, 0.0f);
    selectDivisions(0, 0.0f, 0.25f);
    const auto drums = editor->dataForSelectedPatterns();
    board->declareTypes({ ORPPattisForDrumsPboardType, ORPPattisForBarsPboardType });
    board->setData(ORPPattisForDrumsPboardType, drums);
    board->setData(ORPPattisForBarsPboardType, drums);
    editor->moveInsertionPointToPlace(0.0f, bar(1));

    EXPECT_EQ(editor->paste(), std::nullopt);
    EXPECT_EQ(section()->patterns().size(), 2u);
    EXPECT_EQ(hits(1), (std::vector<std::pair<std::string, float>> { { "Snare", 0.0f } }));
    EXPECT_EQ(pattern(1)->events()->front()->drum(), snare); // the kit's own drum, not the archived one
    EXPECT_EQ(undo().undoActionName(), "Paste Drums");
}

TEST_F(Commands, DrumsFromTwoFourFourHalvesLandBeatByBeatOnThreeFourBars)
{
    setBars(4);
    editPlaylist();
    add(0, snare, 0.5f);
    add(0, hatClosed, 0.75f);
    add(1, ride, 0.0f);
    add(1, kickLow, 0.25f);
    selectDivisions(0, 0.5f, 1.0f);
    selectDivisions(1, 0.0f, 0.5f);
    editor->copy();
    setTop(2, 3);
    setTop(3, 3);
    editor->moveInsertionPointToPlace(0.0f, bar(2));

    ASSERT_EQ(editor->paste(), std::nullopt);
    EXPECT_EQ(hits(2),
        (std::vector<std::pair<std::string, float>> { { "Snare", 0.0f }, { "Hat", 1.0f / 3 }, { "Ride", 2.0f / 3 } }));
    EXPECT_EQ(hits(3), (std::vector<std::pair<std::string, float>> { { "Low Kick", 0.0f } }));
    // The target range shows as the selection.
    EXPECT_EQ(editor->selectedPatternInstances(), (std::vector<ORPPatternInstancePtr> { bar(2), bar(3) }));
    EXPECT_EQ(bar(2)->selection()->selectionFrom(0.0f, 1.0f), 1);
    EXPECT_EQ(bar(3)->selection()->selectionFrom(0.0f, 1.0f / 3), 1);
    EXPECT_FALSE(bar(3)->selection()->isSelected(0.5f));

    undo().undo();
    EXPECT_TRUE(hits(2).empty());
    EXPECT_TRUE(hits(3).empty());
    EXPECT_FALSE(editor->hasSelection());
}

TEST_F(Commands, PasteDrumsErasesTheTargetRangeAndPasteOverKeepsIt)
{
    struct Case {
        bool over;
        std::vector<std::pair<std::string, float>> expected;
        const char* actionName;
    };
    const Case cases[] = {
        { false, { { "Snare", 0.0f }, { "Hat", 0.75f } }, "Paste Drums" },
        { true, { { "Snare", 0.0f }, { "Hat", 0.25f }, { "Hat", 0.75f } }, "Paste Drums Over" },
    };
    setBars(2);
    editPlaylist();
    add(0, snare, 0.0f);
    selectDivisions(0, 0.0f, 0.5f);
    editor->copy();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.actionName);
        add(1, hatOpen, 0.25f);
        add(1, hatOpen, 0.75f); // outside the pasted half bar: always kept
        editor->moveInsertionPointToPlace(0.0f, bar(1));
        ASSERT_EQ(c.over ? editor->pasteOver() : editor->paste(), std::nullopt);
        EXPECT_EQ(hits(1), c.expected);
        EXPECT_EQ(undo().undoActionName(), c.actionName);
        undo().undo();
        EXPECT_EQ(hits(1), (std::vector<std::pair<std::string, float>> { { "Hat", 0.25f }, { "Hat", 0.75f } }));
        for (const auto& event : std::vector<ORPEventPtr>(*pattern(1)->events()))
            pattern(1)->removeEvent(event);
    }
}

TEST_F(Commands, DrumsRunningPastTheLastBarBeepAndKeepWhatFits)
{
    setBars(3);
    editPlaylist();
    add(0, snare, 0.0f);
    add(0, snare, 0.5f);
    add(1, ride, 0.0f);
    selectDivisions(0, 0.0f, 1.0f);
    selectDivisions(1, 0.0f, 1.0f);
    editor->copy();
    editor->moveInsertionPointToPlace(0.5f, bar(2));

    ASSERT_EQ(editor->paste(), std::nullopt);
    EXPECT_EQ(view.beeps, 1);
    EXPECT_EQ(hits(2), (std::vector<std::pair<std::string, float>> { { "Snare", 0.5f } }));
    EXPECT_EQ(undo().undoActionName(), "Paste Drums");
}

TEST_F(Commands, PasteBarsReplacesSelectedBarsAndGivesRepeatedBarsTheirOwnPattern)
{
    setBars(3);
    entry()->setNumberOfTimes(2); // six bars on screen, each pattern twice
    editPlaylist();
    add(0, snare, 0.0f);
    selectBars({ 0, 3 }); // the same pattern in both repeats
    editor->copy();
    editor->deselectAll();
    selectBars({ 1, 2 });
    const auto replaced = pattern(1);

    ASSERT_EQ(editor->paste(), std::nullopt);
    ASSERT_EQ(section()->patterns().size(), 3u);
    EXPECT_NE(pattern(1), pattern(2));
    EXPECT_EQ(hits(1), hits(0));
    EXPECT_EQ(hits(2), hits(0));
    EXPECT_NE(pattern(1), replaced);
    EXPECT_EQ(undo().undoActionName(), "Paste Bars");
    // The insertion point ends the last pasted bar, in the first repeat.
    EXPECT_EQ(editor->insertionPatternInstance(), bar(2));
    EXPECT_EQ(editor->insertionPointPlace(), 1.0f);

    undo().undo();
    EXPECT_EQ(section()->patterns().size(), 3u);
    EXPECT_EQ(pattern(1), replaced);
}

TEST_F(Commands, PastingBarsOverTheLastBarsKeepsThemAtTheEnd)
{
    setBars(3);
    editPlaylist();
    add(0, snare, 0.0f);
    selectBars({ 0 });
    editor->copy();
    editor->deselectAll();
    selectBars({ 1, 2 });
    const auto kept = pattern(0);

    ASSERT_EQ(editor->paste(), std::nullopt);
    ASSERT_EQ(section()->patterns().size(), 2u);
    EXPECT_EQ(pattern(0), kept);
    EXPECT_EQ(hits(1), hits(0));
}

TEST_F(Commands, BarsWhoseDrumsTheUserDeclinesChangeNothing)
{
    auto panel = std::make_shared<ScriptedReconcilePanel>([](ReconcilePanelModel& model) {
        model.close();
        return false;
    });
    ORPReconcileController controller(panel, &defaults.store());
    editor->setReconcilerProvider([&] { return &controller; });
    setBars(1);
    editPlaylist();
    auto foreign = ORPPattern::pattern();
    foreign->addEventWithDrum(editorDrum("Toms", "Tom", "Deep"), 1.0f, 0.0f);
    auto instance = ORPPatternInstance::initWithPattern(foreign, nullptr);
    instance->selection()->select(true, 0.0f, 1.0f);
    board->put(ORPPattisForBarsPboardType,
        rp::KeyedArchiver::archivedDataWithRootObject(std::make_shared<rp::ArchivedArray>(
            std::vector<rp::ArchiveObjectPtr> { instance })));

    EXPECT_EQ(editor->paste(), std::nullopt);
    EXPECT_EQ(panel->runs(), 1u);
    EXPECT_EQ(panel->titles[0], "Paste Bars");
    EXPECT_EQ(section()->patterns().size(), 1u);
    EXPECT_FALSE(undo().canUndo());
}

// Clipboard bytes from anywhere: nothing changes, and the window gets an error to show.
TEST_F(Commands, UnusableClipboardDataChangesNothingAndReportsAnError)
{
    setBars(2);
    editPlaylist();
    add(0, snare, 0.0f);
    selectDivisions(0, 0.0f, 1.0f);
    const auto valid = editor->dataForSelectedPatterns();
    editor->deselectAll();
    auto archive = [](rp::ArchiveObjectPtr root) { return rp::KeyedArchiver::archivedDataWithRootObject(root); };
    auto array = [](std::vector<rp::ArchiveObjectPtr> items) { return std::make_shared<rp::ArchivedArray>(items); };

    std::map<std::string, std::vector<uint8_t>> cases = {
        { "empty", {} },
        { "text", { 'h', 'e', 'l', 'l', 'o' } },
        { "a bar, not an array", archive(ORPPatternInstance::initWithPattern(pattern(0), nullptr)) },
        { "an array of text", archive(array({ std::make_shared<rp::ArchivedString>("bar") })) },
        { "an empty array", archive(array({})) },
        { "a bar without its pattern", archive(array({ ORPPatternInstance::initWithPattern(nullptr, nullptr) })) },
        { "too large", std::vector<uint8_t>(rp::editor::PasteboardTypes::kMaximumForeignBytes + 1, 0) },
    };
    for (size_t cut : { size_t { 8 }, valid.size() / 2, valid.size() - 1 })
        cases["cut at " + std::to_string(cut)] = std::vector<uint8_t>(valid.begin(), valid.begin() + cut);
    std::mt19937 random(7);
    for (int i = 0; i < 20; ++i) {
        // Damage a few bytes of a good archive.
        auto damaged = valid;
        for (int k = 0; k < 4; ++k)
            damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
        cases["damaged " + std::to_string(i)] = damaged;
    }

    const auto before0 = hits(0);
    undo().removeAllActions();
    rp::LogCapture log;
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        for (const char* type : { ORPPattisForDrumsPboardType, ORPPattisForBarsPboardType }) {
            board->put(type, bytes);
            editor->moveInsertionPointToPlace(0.0f, bar(1));
            const auto error = editor->paste();
            const auto decoded = ORPPatternEditor::instancesFromPasteboardData(bytes, nullptr);
            if (!decoded.empty())
                continue; // damage that left a readable archive may paste
            ASSERT_TRUE(error.has_value());
            EXPECT_TRUE(error->isApplicationError(rp::kErrorInvalidFile));
            EXPECT_FALSE(error->description.empty());
            EXPECT_EQ(section()->patterns().size(), 2u);
            EXPECT_EQ(hits(0), before0);
            EXPECT_TRUE(hits(1).empty());
            EXPECT_FALSE(undo().canUndo());
            if (std::string(type) == ORPPattisForDrumsPboardType) {
                EXPECT_TRUE(editor->pasteOver().has_value());
                EXPECT_TRUE(hits(1).empty());
            }
        }
        while (undo().canUndo())
            undo().undo();
    }
    EXPECT_TRUE(log.contains("ORPPatternEditor: unusable bars on the clipboard: a bar without its pattern"));
    // Every case above but the damaged ones is refused outright.
    for (const char* what : { "empty", "text", "a bar, not an array", "an array of text", "an empty array",
             "a bar without its pattern", "too large", "cut at 8" })
        EXPECT_TRUE(ORPPatternEditor::instancesFromPasteboardData(cases[what], nullptr).empty()) << what;
}

TEST_F(Commands, PasteWithNothingEditedOnlyLogs)
{
    board->put(ORPPattisForBarsPboardType, { 1, 2, 3 });
    rp::LogCapture log;
    EXPECT_EQ(editor->paste(), std::nullopt);
    EXPECT_EQ(log.lines(), std::vector<std::string> { "paste: no sections in song!" });
    EXPECT_EQ(section()->patterns().size(), 1u);
}

// --- Cut and clear ---

TEST_F(Commands, CutCopiesThenClearsAsOneStep)
{
    setBars(2);
    editPlaylist();
    add(0, snare, 0.0f);
    add(0, hatClosed, 0.5f);
    selectDivisions(0, 0.0f, 0.25f);
    editor->cut();
    EXPECT_EQ(board->types(), std::vector<std::string> { ORPPattisForDrumsPboardType });
    EXPECT_EQ(hits(0), (std::vector<std::pair<std::string, float>> { { "Hat", 0.5f } }));
    EXPECT_EQ(undo().undoActionName(), "Cut");

    editor->deselectAll();
    selectBars({ 1 });
    editor->cut();
    EXPECT_EQ(board->types(), std::vector<std::string> { ORPPattisForBarsPboardType });
    EXPECT_EQ(section()->patterns().size(), 1u);
    EXPECT_EQ(undo().undoActionName(), "Cut");
    undo().undo();
    EXPECT_EQ(section()->patterns().size(), 2u);
}

// --- Delete and insert ---

TEST_F(Commands, DeleteAtTheInsertionPointRemovesOneBeat)
{
    struct Case {
        float place;
        std::vector<std::pair<std::string, float>> left; // of drums on beats 1 to 4
        float insertion;
    };
    const Case cases[] = {
        { 1.0f, { { "Kick", 0.0f }, { "Snare", 1.0f / 3 }, { "Hat", 2.0f / 3 } }, 1.0f }, // the last beat
        { 0.5f, { { "Kick", 0.0f }, { "Snare", 1.0f / 3 }, { "Ride", 2.0f / 3 } }, 2.0f / 3 }, // the beat after
        { 0.0f, { { "Snare", 0.0f }, { "Hat", 1.0f / 3 }, { "Ride", 2.0f / 3 } }, 0.0f },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.place);
        setBars(1);
        editPlaylist();
        add(0, kickHard, 0.0f);
        add(0, snare, 0.25f);
        add(0, hatClosed, 0.5f);
        add(0, ride, 0.75f);
        undo().removeAllActions();
        editor->moveInsertionPointToPlace(c.place, bar(0));
        editor->deleteBeatsAction();
        EXPECT_EQ(pattern(0)->timeSignatureTop(), 3);
        EXPECT_EQ(hits(0), c.left);
        EXPECT_EQ(undo().undoActionName(), "Delete Beat");
        EXPECT_EQ(editor->insertionPatternInstance(), bar(0));
        EXPECT_FLOAT_EQ(editor->insertionPointPlace(), c.insertion);
        undo().undo();
        EXPECT_EQ(pattern(0)->timeSignatureTop(), 4);
        EXPECT_EQ(hits(0).size(), 4u);
        section()->removePatterns({ pattern(0) });
    }
}

TEST_F(Commands, DeleteNamesTheStepByWhatGoes)
{
    struct Case {
        const char* name;
        const char* menuTitle; // decided before the selection is widened to whole beats
        std::vector<std::pair<size_t, std::pair<float, float>>> selection; // bar, range
        size_t barsLeft;
        std::vector<int16_t> tops;
    };
    const Case cases[] = {
        { "Delete Bars", "Delete Bars", { { 0, { 0.0f, 1.0f } }, { 1, { 0.0f, 0.25f } } }, 2, { 3, 4 } },
        { "Delete Beats", "Delete Beats", { { 0, { 0.5f, 0.75f } }, { 1, { 0.25f, 0.5f } } }, 3, { 3, 3, 4 } },
        { "Delete Beats", "Delete Beats", { { 0, { 0.0f, 0.5f } } }, 3, { 2, 4, 4 } },
        { "Delete Bar", "Delete Bar", { { 2, { 0.0f, 1.0f } } }, 2, { 4, 4 } },
        { "Delete Bars", "Delete Bars", { { 1, { 0.0f, 1.0f } }, { 2, { 0.0f, 1.0f } } }, 1, { 4 } },
        // Part of a beat is widened to the whole beat.
        { "Delete Beat", "Delete Beats", { { 1, { 0.3f, 0.4f } } }, 3, { 4, 3, 4 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setBars(3);
        editPlaylist();
        editor->deselectAll();
        // Whole bars are selected in whole-bar mode, parts in division mode, as the mouse does.
        editor->setWholeBarSelection(c.selection.front().second == std::pair { 0.0f, 1.0f });
        for (const auto& [index, range] : c.selection)
            editor->setSelected(bar(index), true, range.first, range.second);
        const auto menu = editor->validateAction("deleteBeatsAction:");
        editor->deleteBeatsAction();
        EXPECT_EQ(undo().undoActionName(), c.name);
        EXPECT_EQ(menu.title, c.menuTitle);
        ASSERT_EQ(section()->patterns().size(), c.barsLeft);
        for (size_t i = 0; i < c.tops.size(); ++i)
            EXPECT_EQ(pattern(i)->timeSignatureTop(), c.tops[i]) << i;
        undo().undo();
        ASSERT_EQ(section()->patterns().size(), 3u);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(pattern(i)->timeSignatureTop(), 4);
        undo().removeAllActions();
    }
}

TEST_F(Commands, DeletingTheLastBarsLeavesTheInsertionPointAtTheEnd)
{
    setBars(3);
    editPlaylist();
    selectBars({ 1, 2 });
    editor->deleteBeatsAction();
    ASSERT_EQ(editor->instances().size(), 1u);
    EXPECT_EQ(editor->insertionPatternInstance(), bar(0));
    EXPECT_EQ(editor->insertionPointPlace(), 1.0f);

    // Deleting bars in the middle: the start of the bar that followed them.
    setBars(4);
    editor->moveInsertionPointToPlace(0.0f, bar(0));
    selectBars({ 1, 2 });
    const auto next = pattern(3);
    editor->deleteBeatsAction();
    EXPECT_EQ(editor->insertionPatternInstance()->pattern(), next);
    EXPECT_EQ(editor->insertionPointPlace(), 0.0f);
}

TEST_F(Commands, InsertBarGoesBeforeAtTheStartAndAfterElsewhereWithTheSameMeterAndTempo)
{
    for (float place : { 0.0f, 0.5f, 1.0f }) {
        SCOPED_TRACE(place);
        setBars(2);
        editPlaylist();
        pattern(1)->setTimeSignatureTop(6, 8);
        pattern(1)->setBpm(90, 8.0f / 3);
        undo().removeAllActions();
        const auto model = pattern(1);
        editor->moveInsertionPointToPlace(place, bar(1));
        ASSERT_TRUE(editor->validateAction("insertBarAction:").enabled);
        editor->insertBarAction();
        ASSERT_EQ(section()->patterns().size(), 3u);
        const size_t at = place == 0.0f ? 1 : 2;
        EXPECT_EQ(pattern(at == 1 ? 2 : 1), model);
        const auto& added = pattern(at);
        EXPECT_TRUE(added->events()->empty());
        EXPECT_EQ(added->timeSignatureTop(), 6);
        EXPECT_EQ(added->timeSignatureBottom(), 8);
        EXPECT_EQ(added->beatBasis(), 8.0f / 3);
        EXPECT_EQ(added->bpm(), 90);
        EXPECT_EQ(undo().undoActionName(), "Insert Bar");
        EXPECT_EQ(editor->insertionPatternInstance(), bar(at));
        EXPECT_EQ(editor->insertionPointPlace(), 1.0f);
        undo().undo();
        EXPECT_EQ(section()->patterns().size(), 2u);
        section()->removePatterns({ pattern(1) });
        undo().removeAllActions();
    }
}

TEST_F(Commands, InsertBarWithoutAnInsertionPointStartsTheSection)
{
    section()->removePatterns({ pattern(0) });
    editPlaylist();
    ASSERT_EQ(editor->insertionPatternInstance(), nullptr);
    editor->insertBarAction();
    ASSERT_EQ(section()->patterns().size(), 1u);
    EXPECT_EQ(pattern(0)->timeSignatureTop(), 4);
    EXPECT_EQ(editor->insertionPatternInstance(), bar(0));
}

TEST_F(Commands, InsertBeatAddsOneBeatAtTheInsertionPoint)
{
    setBars(1);
    editPlaylist();
    add(0, snare, 0.5f);
    editor->moveInsertionPointToPlace(0.25f, bar(0));
    editor->insertBeatAction();
    EXPECT_EQ(pattern(0)->timeSignatureTop(), 5);
    EXPECT_EQ(hits(0), (std::vector<std::pair<std::string, float>> { { "Snare", 0.6f } }));
    EXPECT_EQ(undo().undoActionName(), "Insert Beat");
}

// --- Validation ---

TEST_F(Commands, MenuItemsFollowSelectionClipboardAndEditedObjects)
{
    auto enabled = [&](const char* action) { return editor->validateAction(action).enabled; };
    // Nothing edited.
    for (const char* action : { "copy:", "cut:", "clear:", "deselectAll:", "paste:", "pasteOver:", "zoomIn:",
             "zoomSelectionOut:", "insertBarAction:", "insertBeatAction:", "deleteBeatsAction:",
             "changeTempoAction:", "exportSelectionAudio:", "selectAll:" })
        EXPECT_FALSE(enabled(action)) << action;
    EXPECT_TRUE(enabled("playOrStopAction:"));
    EXPECT_EQ(editor->validateAction("playOrStopAction:").title, "Play");
    EXPECT_TRUE(enabled("someOtherAction:"));

    setBars(2);
    editPlaylist();
    for (const char* action : { "zoomIn:", "zoomOut:", "zoomSelectionIn:", "zoomSelectionOut:", "selectAll:",
             "insertBarAction:", "insertBeatAction:", "deleteBeatsAction:", "changeTempoAction:" })
        EXPECT_TRUE(enabled(action)) << action;
    for (const char* action : { "copy:", "cut:", "clear:", "deselectAll:", "exportSelectionAudio:", "paste:" })
        EXPECT_FALSE(enabled(action)) << action;

    selectDivisions(0, 0.0f, 0.5f);
    for (const char* action : { "copy:", "cut:", "clear:", "deselectAll:", "exportSelectionAudio:", "selectAll:",
             "insertBarAction:", "deleteBeatsAction:" })
        EXPECT_TRUE(enabled(action)) << action;
    EXPECT_FALSE(enabled("insertBeatAction:")); // not with a selection
    selectDivisions(1, 0.0f, 0.5f);
    EXPECT_FALSE(enabled("insertBarAction:")); // more than one bar selected

    editor->copy();
    EXPECT_TRUE(enabled("paste:"));
    EXPECT_TRUE(enabled("pasteOver:"));
    editor->selectAll();
    EXPECT_FALSE(enabled("selectAll:"));
    editor->copy();
    EXPECT_TRUE(enabled("paste:"));
    EXPECT_FALSE(enabled("pasteOver:")); // bars only

    // Several sections at once show nothing, and a bar cannot be inserted.
    editor->setEditedObjects({ section(), ORPSection::section() }, kit);
    EXPECT_FALSE(enabled("insertBarAction:"));
    EXPECT_FALSE(enabled("zoomIn:"));
}

} // namespace
