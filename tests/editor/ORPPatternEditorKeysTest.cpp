// The pattern editor's keyboard: moving the insertion point, extending the selection, drum keys,
// step entry and recording, with and without a running player.

#include "editor/ORPInspectorController.h"
#include "editor/PatternEditorTestSupport.h"

#include "foundation/RunLoop.h"
#include "kit/ORPUserDefaults.h"
#include "player/ORPPlayer.h"

#include <algorithm>

namespace {

using namespace rp::test;
using rp::editor::EditorKey;

struct Keys : EditorFixture {
    Keys()
    {
        kickHard->setShortcutKey(std::string("k"));
        snare->setShortcutKey(std::string("s"));
        hatClosed->setShortcutKey(std::string("h"));
        hatOpen->setShortcutKey(std::string("h"));
        picker.setDrumKit(kit);
    }
    bool press(EditorKey key, ORPEditorModifiers modifiers = {}, std::string characters = {})
    {
        return editor->keyDown({ key, std::move(characters), modifiers, false });
    }
    bool type(const std::string& characters, ORPEditorModifiers modifiers = {})
    {
        return press(EditorKey::Other, modifiers, characters);
    }
    size_t insertionBar() const { return static_cast<size_t>(editor->insertionPointIndex().value_or(99)); }
    void expectInsertion(size_t index, float place) const
    {
        EXPECT_EQ(insertionBar(), index);
        EXPECT_FLOAT_EQ(editor->insertionPointPlace(), place);
    }
    std::vector<float> places(size_t index) const
    {
        std::vector<float> found;
        for (const auto& event : *bar(index)->pattern()->events())
            found.push_back(event->whenRatio());
        return found;
    }
    rp::UndoManager& undo() { return song.document->undo; }
};

// A key from (bar, place) with modifiers, and where the insertion point goes.
struct Step {
    size_t fromBar;
    float fromPlace;
    EditorKey key;
    ORPEditorModifiers modifiers;
    size_t toBar;
    float toPlace;
};
constexpr ORPEditorModifiers kNone;
constexpr ORPEditorModifiers kOption { .option = true };
constexpr ORPEditorModifiers kCommand { .command = true };

// Three bars of eight divisions in one row.
TEST_F(Keys, ArrowHomeAndEndKeysStepTheInsertionPointAndStopAtTheEnds)
{
    setBars(3);
    editPlaylist();
    const Step steps[] = {
        { 1, 0.25f, EditorKey::Left, kNone, 1, 0.125f },
        { 1, 0.0f, EditorKey::Left, kNone, 0, 0.875f },
        { 0, 0.0f, EditorKey::Left, kNone, 0, 0.0f }, // before the first bar: nothing
        { 0, 1.0f, EditorKey::Right, kNone, 1, 0.125f },
        { 2, 1.0f, EditorKey::Right, kNone, 2, 1.0f }, // after the last bar: nothing
        { 1, 0.5f, EditorKey::Left, kOption, 1, 0.0f },
        { 1, 0.0f, EditorKey::Left, kOption, 0, 0.0f },
        { 0, 0.5f, EditorKey::Right, kOption, 0, 1.0f },
        { 0, 1.0f, EditorKey::Right, kOption, 1, 1.0f },
        { 2, 1.0f, EditorKey::Right, kOption, 2, 1.0f },
        { 2, 0.5f, EditorKey::Left, kCommand, 0, 0.0f },
        { 0, 0.5f, EditorKey::Right, kCommand, 2, 1.0f },
        { 1, 0.5f, EditorKey::Down, kCommand, 2, 1.0f },
        { 1, 0.5f, EditorKey::Home, kNone, 0, 0.0f },
    };
    for (const Step& c : steps) {
        SCOPED_TRACE(testing::Message() << c.fromBar << " at " << c.fromPlace << ", key " << static_cast<int>(c.key));
        editor->moveInsertionPointToPlace(c.fromPlace, bar(c.fromBar));
        PostedNotifications moved(ORPPatternEditorInsertionPointMovedNotification);
        EXPECT_TRUE(press(c.key, c.modifiers));
        expectInsertion(c.toBar, c.toPlace);
        // A step past an end is no move at all.
        EXPECT_EQ(moved.count(), c.toBar == c.fromBar && c.toPlace == c.fromPlace ? 0u : 1u);
    }
}

TEST_F(Keys, ArrowsCollapseASelectionAndShiftExtendsItFromTheInsertionPoint)
{
    setBars(3);
    editPlaylist();
    for (EditorKey key : { EditorKey::Left, EditorKey::Down }) {
        editor->setSelected(bar(0), true, 0.25f, 0.5f);
        editor->setSelected(bar(1), true, 0.0f, 0.375f);
        EXPECT_TRUE(press(key));
        EXPECT_FALSE(editor->hasSelection());
        key == EditorKey::Left ? expectInsertion(0, 0.25f) : expectInsertion(1, 0.375f);
    }
    editor->moveInsertionPointToPlace(0.875f, bar(0));
    EXPECT_TRUE(press(EditorKey::Right, { .shift = true }));
    EXPECT_TRUE(press(EditorKey::Right, { .shift = true }));
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(0), 0.875f, 1.0f), 1);
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(1), 0.0f, 0.125f), 1);
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(1), 0.125f, 1.0f), 0);
    // Back over the anchor: the selection flips to its other side.
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(press(EditorKey::Left, { .shift = true }));
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(1), 0.0f, 1.0f), 0);
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(0), 0.75f, 0.875f), 1);
    expectInsertion(0, 0.75f);
}

// Two bars a row; the fourth bar is narrower (four divisions, 72 points), so a probe can miss it.
TEST_F(Keys, UpAndDownProbeTheRowAboveOrBelowAndFallBackToHomeAndEnd)
{
    defaults.store().setInteger(2, ORPInterfaceDefaults::kPatternsPerRowKey);
    setBars(6);
    editPlaylist();
    ASSERT_TRUE(bar(3)->pattern()->setZoomLevel(0));
    editor->adjustLayout();
    ASSERT_EQ(bar(3)->frame().width, 72);
    ASSERT_EQ(bar(2)->frame().y, 98);
    const Step steps[] = {
        { 0, 0.25f, EditorKey::Down, kNone, 2, 0.25f },
        { 2, 0.25f, EditorKey::Up, kNone, 0, 0.25f },
        { 1, 0.5f, EditorKey::Down, kNone, 3, 0.0f }, // past the narrow bar's right edge
        { 1, 0.25f, EditorKey::Down, kNone, 3, 0.5f },
        { 1, 0.0f, EditorKey::Down, kNone, 3, 0.0f }, // the thick marker at a bar edge probes too
        { 0, 0.5f, EditorKey::Up, kNone, 0, 0.0f },   // no row above: Home
        { 4, 0.25f, EditorKey::Down, kNone, 5, 1.0f }, // no row below: End
        { 0, 0.25f, EditorKey::Down, kOption, 4, 0.25f }, // a page: two rows fit in 200 points
        { 2, 0.25f, EditorKey::Down, kOption, 5, 1.0f },
    };
    view.visible.height = 200;
    for (const Step& c : steps) {
        SCOPED_TRACE(testing::Message() << c.fromBar << " at " << c.fromPlace);
        editor->moveInsertionPointToPlace(c.fromPlace, bar(c.fromBar));
        EXPECT_TRUE(press(c.key, c.modifiers));
        expectInsertion(c.toBar, c.toPlace);
    }
    // Shift+Down selects the whole way down to the probed place.
    editor->moveInsertionPointToPlace(0.25f, bar(0));
    EXPECT_TRUE(press(EditorKey::Down, { .shift = true }));
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(0), 0.25f, 1.0f), 1);
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(1), 0.0f, 1.0f), 1);
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(2), 0.0f, 0.25f), 1);
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(2), 0.25f, 1.0f), 0);
}

TEST_F(Keys, DrumKeysOnlyChooseAndPlayUntilRecordingIsOn)
{
    // Without an insertion point the move keys are drum keys too; keys without a drum go on.
    editor->setEditedObjects({}, kit);
    EXPECT_TRUE(press(EditorKey::Left, {}, "s"));
    EXPECT_EQ(picker.defaultDrum(), snare);
    EXPECT_FALSE(press(EditorKey::Right));
    EXPECT_FALSE(press(EditorKey::Escape, {}, "\x1b"));
    EXPECT_TRUE(press(EditorKey::Space, {}, " ")); // the play key, even with nothing to play

    setBars(2);
    editPlaylist();
    EXPECT_TRUE(type("k"));
    EXPECT_TRUE(places(0).empty());
    // Recording on: Option still only cycles; a provider (the transport's switch) overrides the default.
    defaults.store().setBool(true, ORPInspectorController::kRecordEnabledKey);
    EXPECT_TRUE(type("h", { .option = true }));
    EXPECT_TRUE(places(0).empty());
    bool record = false;
    editor->setRecordEnabledProvider([&] { return record; });
    EXPECT_TRUE(type("k"));
    EXPECT_TRUE(places(0).empty());
    EXPECT_FALSE(undo().canUndo());
    record = true;
    EXPECT_TRUE(type("k"));
    EXPECT_EQ(places(0), std::vector<float> { 0.0f });
}

TEST_F(Keys, StepEntryAddsAtTheInsertionPointAdvancesAndUndoesOneHitAtATime)
{
    setBars(2);
    editPlaylist();
    editor->setDefaultVelocityProvider([] { return 0.6f; });
    defaults.store().setBool(true, ORPInspectorController::kRecordEnabledKey);
    editor->moveInsertionPointToPlace(0.75f, bar(0));
    for (const char* key : { "k", "s", "k" })
        EXPECT_TRUE(type(key));
    EXPECT_EQ(places(0), (std::vector<float> { 0.75f, 0.875f }));
    EXPECT_EQ(places(1), std::vector<float> { 0.0f }); // the bar's end is the next bar's start
    EXPECT_FLOAT_EQ(bar(0)->pattern()->events()->front()->velocity(), 0.6f);
    expectInsertion(1, 0.125f);
    EXPECT_EQ(undo().undoStepCount(), 3u);
    EXPECT_EQ(undo().undoActionName(), "Kick");

    // Undo takes the hit away and puts the insertion point back on it; redo steps on again.
    undo().undo();
    EXPECT_TRUE(places(1).empty());
    expectInsertion(1, 0.0f);
    EXPECT_EQ(undo().undoActionName(), "Snare");
    undo().undo();
    EXPECT_EQ(places(0), std::vector<float> { 0.75f });
    expectInsertion(0, 0.875f);
    undo().redo();
    EXPECT_EQ(places(0), (std::vector<float> { 0.75f, 0.875f }));
    expectInsertion(0, 1.0f);
}

TEST_F(Keys, RecordingPastTheLastBarIsIgnoredAndASelectionGivesThePlace)
{
    setBars(2);
    editPlaylist();
    defaults.store().setBool(true, ORPInspectorController::kRecordEnabledKey);
    editor->moveInsertionPointToPlace(0.875f, bar(1));
    EXPECT_TRUE(type("k"));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 1.0f);
    const size_t steps = undo().undoStepCount();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(type("s")); // the drum is still chosen
        EXPECT_FALSE(editor->recordAndPlayDrum(snare));
    }
    EXPECT_EQ(places(1), std::vector<float> { 0.875f });
    EXPECT_EQ(undo().undoStepCount(), steps);
    EXPECT_EQ(picker.defaultDrum(), snare);

    // Stopped with a selection, the hit goes to the first selected range's start.
    editor->setSelected(bar(1), true, 0.25f, 0.5f);
    editor->setSelected(bar(0), true, 0.5f, 0.625f);
    EXPECT_TRUE(editor->recordAndPlayDrum(hatClosed));
    EXPECT_EQ(places(0), std::vector<float> { 0.5f });
    EXPECT_FALSE(editor->hasSelection());
    expectInsertion(0, 0.625f);
}

// The editor's player on the null audio device, with the view's playback timer on the main loop.
struct Playing : Keys {
    Playing()
    {
        ORPUserDefaults::setDefaults(&defaults.store());
        player = ORPPlayer::init(AudioDeviceKind::Null);
        view.onPlaybackTimer = [this](bool run) { runTimer(run); };
    }
    ~Playing() override
    {
        editor->stopPlaying();
        runTimer(false);
        editor->setPlayer(nullptr);
        player.reset();
        ORPUserDefaults::setDefaults(nullptr);
    }
    void runTimer(bool run)
    {
        if (run && !timer)
            timer = rp::RunLoop::main().addTimer(0.05, true, [this] { editor->playbackHeartbeat(); });
        else if (!run && timer)
            rp::RunLoop::main().cancelTimer(std::exchange(timer, 0));
    }
    // `count` bars of `seconds` each.
    void shortBars(size_t count, float seconds)
    {
        setBars(count);
        for (const auto& pattern : section()->patterns())
            pattern->setBpm(4.0f * 60.0f / seconds, 4.0f);
        undo().removeAllActions();
        editPlaylist();
        editor->setPlayer(player);
    }
    bool runUntil(const std::function<bool()>& done, double seconds = 10)
    {
        return rp::RunLoop::main().runUntil(done, seconds);
    }

    std::shared_ptr<ORPPlayer> player;
    rp::RunLoop::TimerId timer = 0;
};

TEST_F(Playing, TheHeartbeatFollowsThePlayHeadAndStopsAtTheEnd)
{
    ASSERT_TRUE(player);
    shortBars(2, 0.4f);
    std::vector<std::pair<const ORPPatternInstance*, int16_t>> heads;
    editor->setShowPlayingInstanceHook([&](const ORPPatternInstancePtr& instance, float) {
        if (editor->playingInstance())
            heads.emplace_back(instance.get(), editor->playingDiv());
        EXPECT_EQ(editor->insertionPatternInstance(), instance); // the view follows the play head
    });
    PostedNotifications started(ORPPatternEditorPlaybackStartedNotification);
    PostedNotifications stopped(ORPPatternEditorPlaybackStoppedNotification);
    ASSERT_TRUE(editor->startPlayingOnce(false));
    EXPECT_EQ(started.count(), 1u);
    EXPECT_TRUE(view.playbackTimer);
    EXPECT_FALSE(view.blinkTimer);
    EXPECT_FALSE(editor->startPlayingOnce(false)); // already followed

    ASSERT_TRUE(runUntil([&] { return !editor->isHeartbeatRunning(); }));
    EXPECT_EQ(stopped.count(), 1u);
    EXPECT_FALSE(view.playbackTimer);
    EXPECT_TRUE(view.blinkTimer);
    EXPECT_EQ(editor->playingInstance(), nullptr);
    expectInsertion(1, 1.0f);
    // The play head went through both bars, redrawing its column as it moved.
    ASSERT_GE(heads.size(), 4u);
    EXPECT_EQ(heads.front().first, bar(0).get());
    EXPECT_EQ(heads.back().first, bar(1).get());
    const ORPRect lastColumn = ORPPatternEditor::gridColumnRect(bar(1)->frame(), heads.back().second);
    EXPECT_NE(std::find(view.redrawn.begin(), view.redrawn.end(), lastColumn), view.redrawn.end());

    // The player ends a run a little before the end of its last bar; when the last beat saw an
    // earlier division, the insertion point still goes to the end.
    editor->moveInsertionPointToPlace(0.5f, bar(1));
    view.onPlaybackTimer = {}; // beats by hand
    ASSERT_TRUE(editor->startPlayingOnce(true));
    editor->playbackHeartbeat();
    ASSERT_EQ(editor->playingInstance(), bar(1).get());
    ASSERT_LT(editor->playingDiv(), 6);
    ASSERT_TRUE(runUntil([&] { return !player->isPlaying(); }));
    editor->playbackHeartbeat();
    EXPECT_FALSE(editor->isHeartbeatRunning());
    expectInsertion(1, 1.0f);
    EXPECT_EQ(stopped.count(), 2u);
    view.onPlaybackTimer = [this](bool run) { runTimer(run); };

    // Stopping by hand: the play head goes, and nothing is left to stop.
    editor->moveInsertionPointToPlace(0, bar(0));
    editor->playOrStopAction();
    ASSERT_TRUE(editor->isHeartbeatRunning());
    ASSERT_TRUE(runUntil([&] { return editor->playingInstance() != nullptr; }));
    editor->playOrStopAction();
    EXPECT_FALSE(editor->isHeartbeatRunning());
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(editor->playingInstance(), nullptr);
    EXPECT_FALSE(editor->stopPlaying());
    EXPECT_EQ(stopped.count(), 3u);
}

TEST_F(Playing, LiveHitsLandOnTheDivisionBeingPlayedWithoutDisturbingTheRun)
{
    ASSERT_TRUE(player);
    defaults.store().setBool(true, RPLoopPlaybackKey);
    defaults.store().setBool(true, ORPInspectorController::kRecordEnabledKey);
    shortBars(2, 3.2f); // 0.4 s a division
    editor->setSelected(bar(0), true, 0.0f, 1.0f);
    ASSERT_TRUE(editor->startPlayingOnce(false));
    ASSERT_TRUE(runUntil([&] { return editor->playingInstance() == bar(0).get() && editor->playingDiv() >= 1; }));
    const int16_t div = editor->playingDiv();
    EXPECT_TRUE(type("k"));
    EXPECT_EQ(places(0), std::vector<float> { static_cast<float>(div) / 8 });
    // The insertion point marks the hit, the selection being played stays, and the run goes on from
    // where it was rather than starting again at the hit.
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), static_cast<float>(div) / 8);
    EXPECT_TRUE(editor->hasSelection());
    EXPECT_TRUE(editor->isHeartbeatRunning());
    rp::RunLoop::main().runFor(0.1);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_FLOAT_EQ(player->startPlace(), 0.0f);

    // Without a selection the player starts at the insertion point; hits must not move its start.
    editor->stopPlaying();
    editor->moveInsertionPointToPlace(0, bar(0));
    ASSERT_TRUE(editor->startPlayingOnce(false));
    ASSERT_TRUE(runUntil([&] { return editor->playingDiv() >= 2; }));
    const int16_t later = editor->playingDiv();
    EXPECT_TRUE(editor->recordAndPlayDrum(snare));
    rp::RunLoop::main().runFor(0.1);
    EXPECT_EQ(player->startIndex(), 0u);
    EXPECT_FLOAT_EQ(player->startPlace(), 0.0f);
    EXPECT_EQ(bar(0)->pattern()->eventsAtPlace(static_cast<float>(later) / 8).size(), 1u);
    undo().undo(); // while playing too
    EXPECT_TRUE(bar(0)->pattern()->eventsAtPlace(static_cast<float>(later) / 8).empty());
    EXPECT_TRUE(editor->isHeartbeatRunning());
}

} // namespace
