// Selecting ranges and bars, the redraws and notifications they cause, the bars an edit works on,
// and zoom.

#include "audio/AudioDevice.h"
#include "editor/PatternEditorTestSupport.h"
#include "kit/ORPUserDefaults.h"
#include "player/ORPPlayer.h"

using namespace rp::test;

namespace {

using Selection = EditorFixture;

TEST_F(Selection, RedrawsAndNotifiesOnlyWhenTheChangeShows)
{
    setBars(2);
    editPlaylist();
    rp::NotificationQueue::defaultQueue().flush();
    PostedNotifications changed(ORPPatternEditorPatternSelectionChangedNotification);
    const ORPRect columns2to4 { 36, 24, 3 * 18, 54 };
    struct Step {
        bool select;
        float from, to;
        bool redraws;
    };
    const Step steps[] = {
        { true, 0.25f, 0.5f, true },      // nothing selected before
        { true, 0.25f, 0.5f, false },     // all of it already selected
        { true, 0.375f, 0.625f, true },   // part of it selected
        { false, 0.75f, 0.875f, false },  // nothing of it selected
        { false, 0.25f, 0.375f, true },   // all of it selected
        { true, 0.5f, 0.5f, false },      // empty range: nothing happens
    };
    for (const auto& step : steps) {
        view.redrawn.clear();
        editor->setSelected(bar(1), step.select, step.from, step.to);
        const bool redrawnSelection = std::find_if(view.redrawn.begin(), view.redrawn.end(), [&](const ORPRect& r) {
            return r.y == 24 && r.height == 54;
        }) != view.redrawn.end();
        EXPECT_EQ(redrawnSelection, step.redraws) << step.from << ".." << step.to;
    }
    EXPECT_EQ(bar(1)->selection()->rangeArray(), (std::vector<float> { 0.375f, 0.625f }));

    // The first step's rectangle: the two end columns and what lies between, in the second bar.
    view.redrawn.clear();
    editor->setSelected(bar(0), true, 0.25f, 0.5f);
    EXPECT_EQ(view.redrawn.front(), columns2to4);
    // Whole-bar mode redraws the bar.
    editor->setWholeBarSelection(true);
    view.redrawn.clear();
    editor->setSelected(bar(0), false, 0, 1);
    EXPECT_EQ(view.redrawn.front(), bar(0)->frame());

    // Several changes in one turn are one notification.
    EXPECT_EQ(changed.count(), 0u);
    rp::NotificationQueue::defaultQueue().flush();
    EXPECT_EQ(changed.count(), 1u);
    EXPECT_EQ(changed.posted[0].object, static_cast<const ORPPlayerEditor*>(editor.get()));
    editor->setSelected(bar(1), true, 0.375f, 0.5f); // already selected
    rp::NotificationQueue::defaultQueue().flush();
    EXPECT_EQ(changed.count(), 1u);
}

TEST_F(Selection, SelectedBarsStaySortedAndLeaveWhenEmpty)
{
    setBars(3);
    editPlaylist();
    editor->setSelected(bar(2), true, 0, 0.5f);
    editor->setSelected(bar(0), true, 0.5f, 1);
    EXPECT_EQ(editor->selectedPatternInstances(), (std::vector<ORPPatternInstancePtr> { bar(0), bar(2) }));
    EXPECT_FALSE(view.blinkTimer); // the blink stops while anything is selected
    editor->setSelected(bar(0), false, 0, 1);
    EXPECT_EQ(editor->selectedPatternInstances(), std::vector<ORPPatternInstancePtr> { bar(2) });
    editor->deselectAll();
    EXPECT_FALSE(editor->hasSelection());
    EXPECT_FALSE(bar(2)->selection()->anySelection());
    EXPECT_TRUE(view.blinkTimer);
}

TEST_F(Selection, ExtendingRunsFromTheAnchorEitherWay)
{
    setBars(4);
    editPlaylist();
    editor->moveInsertionPointToPlace(0.5f, bar(1));
    editor->extendSelectionToPatternInstance(bar(3), 0.25f, 0.5f);
    EXPECT_EQ(bar(0)->selection()->rangeArray(), std::vector<float> {});
    EXPECT_EQ(bar(1)->selection()->rangeArray(), (std::vector<float> { 0.5f, 1 }));
    EXPECT_EQ(bar(2)->selection()->rangeArray(), (std::vector<float> { 0, 1 }));
    EXPECT_EQ(bar(3)->selection()->rangeArray(), (std::vector<float> { 0, 0.5f }));
    EXPECT_EQ(editor->insertionPatternInstance(), bar(3));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.5f);

    // Shrinking towards the anchor gives up what lies beyond the target.
    editor->extendSelectionToPatternInstance(bar(2), 0.5f, 0.75f);
    EXPECT_EQ(bar(2)->selection()->rangeArray(), (std::vector<float> { 0, 0.75f }));
    EXPECT_FALSE(bar(3)->selection()->anySelection());

    // Back past the anchor: the bars beyond the anchor are left as they are, the anchor stays.
    editor->extendSelectionToPatternInstance(bar(0), 0.25f, 0.25f);
    EXPECT_EQ(bar(0)->selection()->rangeArray(), (std::vector<float> { 0.25f, 1 }));
    EXPECT_EQ(bar(1)->selection()->rangeArray(), (std::vector<float> { 0, 1 }));
    EXPECT_EQ(bar(2)->selection()->rangeArray(), (std::vector<float> { 0, 0.75f }));
    EXPECT_EQ(editor->anchorPatternInstance(), bar(1));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.25f);
    EXPECT_EQ(editor->insertionPatternInstance(), bar(0));
}

TEST_F(Selection, SelectAllAndMovingTheInsertionPoint)
{
    setBars(3);
    editPlaylist();
    PostedNotifications moved(ORPPatternEditorInsertionPointMovedNotification);
    editor->selectAll();
    EXPECT_TRUE(editor->wholeBarSelection());
    EXPECT_EQ(editor->selectedPatternInstances().size(), 3u);
    EXPECT_EQ(editor->insertionPatternInstance(), bar(2));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 1.0f);
    EXPECT_EQ(moved.count(), 0u);

    editor->moveInsertionPointToPlace(0.3f, bar(1));
    EXPECT_FALSE(editor->hasSelection());
    EXPECT_FALSE(editor->wholeBarSelection());
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.25f);
    EXPECT_EQ(editor->anchorPatternInstance(), bar(1));
    EXPECT_FLOAT_EQ(editor->anchorPlace(), 0.25f);
    EXPECT_EQ(moved.count(), 1u); // at once, not queued
    EXPECT_EQ(editor->insertionPointIndex(), std::optional<uint64_t>(1));
}

TEST_F(Selection, AffectedBars)
{
    setBars(3);
    editPlaylist();
    editor->setInsertAtPlace(0.5f, bar(1));
    EXPECT_EQ(editor->affectedPatternInstances(), std::vector<ORPPatternInstancePtr> { bar(1) });
    editor->setInsertAtPlace(1.0f, bar(1));
    EXPECT_EQ(editor->affectedPatternInstances(), std::vector<ORPPatternInstancePtr> { bar(2) });
    editor->setInsertAtPlace(1.0f, bar(2));
    EXPECT_EQ(editor->affectedPatternInstances(), std::vector<ORPPatternInstancePtr> { bar(2) });
    editor->setSelected(bar(0), true, 0, 0.5f);
    EXPECT_EQ(editor->affectedPatternInstances(), std::vector<ORPPatternInstancePtr> { bar(0) });
    editor->setEditedObjects({}, kit);
    EXPECT_TRUE(editor->affectedPatternInstances().empty());
}

TEST_F(Selection, ZoomStepsPatternsAndBeepsWhenNothingChanges)
{
    setBars(3);
    entry()->setNumberOfTimes(2); // every pattern twice
    editPlaylist();
    const auto patterns = section()->patterns();

    editor->performZoom(true, false);
    EXPECT_EQ(view.beeps, 1); // no song to ask for its sections
    editor->setAllSectionsProvider([&] { return song.song->sectionList(); });

    editor->setInsertAtPlace(0.5f, bar(4));
    editor->performZoom(true, true);
    EXPECT_EQ(patterns[1]->zoomLevel(), 2);
    EXPECT_EQ(patterns[0]->zoomLevel(), 1);
    EXPECT_EQ(bar(1)->frame().width, 12 * 18);
    EXPECT_EQ(bar(4)->frame().width, 12 * 18); // the same pattern's other appearance
    EXPECT_EQ(bar(2)->frame().x, 144 + 12 * 18);

    editor->performZoom(false, false);
    EXPECT_EQ(patterns[0]->zoomLevel(), 0);
    EXPECT_EQ(patterns[1]->zoomLevel(), 1);
    EXPECT_EQ(bar(0)->frame().width, 4 * 18);
    EXPECT_EQ(view.beeps, 1);

    for (int step = 0; step < 8; ++step)
        editor->performZoom(true, false);
    EXPECT_EQ(patterns[0]->zoomLevel(), 6);
    EXPECT_EQ(bar(0)->frame().width, 48 * 18);
    const int beeps = view.beeps;
    for (const auto& pattern : patterns)
        pattern->setZoomLevel(6);
    editor->performZoom(true, false);
    EXPECT_EQ(view.beeps, beeps + 1);
}

} // namespace

namespace {

// The editor's player on the null audio device, reading its defaults from the fixture's store.
struct WithPlayer : EditorFixture {
    WithPlayer()
    {
        ORPUserDefaults::setDefaults(&defaults.store());
        player = ORPPlayer::init(AudioDeviceKind::Null);
    }
    ~WithPlayer() override
    {
        if (player)
            player->stopAndReset();
        editor->setPlayer(nullptr);
        player.reset();
        ORPUserDefaults::setDefaults(nullptr);
    }
    std::shared_ptr<ORPPlayer> player;
};

TEST_F(WithPlayer, ChangingASelectionBeingPlayedStopsIt)
{
    ASSERT_TRUE(player);
    setBars(3);
    editPlaylist();
    editor->setPlayer(player);
    editor->setSelected(bar(1), true, 0, 1);
    ASSERT_TRUE(editor->startPlayingOnce(false));
    ASSERT_TRUE(editor->isPlaying());
    // The player plays what the editor selected.
    EXPECT_EQ(player->instances(), std::vector<ORPPatternInstancePtr> { bar(1) });
    EXPECT_FALSE(view.blinkTimer);

    editor->setSelected(bar(2), true, 0, 1);
    EXPECT_FALSE(editor->isPlaying());
    EXPECT_FALSE(editor->stopPlaying()); // nothing left to stop

    // Without a selection, moving the insertion point leaves playback running.
    editor->deselectAll();
    ASSERT_TRUE(editor->startPlayingOnce(false));
    ASSERT_TRUE(editor->isPlaying());
    editor->moveInsertionPointToPlace(0.5f, bar(0));
    EXPECT_TRUE(editor->isPlaying());
    EXPECT_TRUE(editor->stopPlaying());
    EXPECT_TRUE(view.blinkTimer);
}

} // namespace
