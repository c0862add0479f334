// Bars from edited objects, their layout in rows, the division grid, hit-testing and the insertion
// point.

#include "editor/PatternEditorTestSupport.h"

#include <cmath>

using namespace rp::test;

namespace {

using Layout = EditorFixture;

std::vector<double> ys(const ORPPatternEditor& editor)
{
    std::vector<double> values;
    for (const auto& instance : editor.instances())
        values.push_back(instance->frame().y);
    return values;
}

TEST_F(Layout, WhatIsEditedDecidesTheBars)
{
    setBars(2);
    auto second = ORPSection::section();
    second->insertPatterns({ ORPPattern::pattern() }, 0);
    editor->setEditedObjects({ section(), second }, kit);
    EXPECT_TRUE(editor->instances().empty());
    EXPECT_EQ(editor->emptyState(), ORPPatternDrawSource::EmptyState::MultiSelection);
    EXPECT_FALSE(editor->insertionPointIndex());

    editor->setEditedObjects({ ORPSection::section() }, kit);
    EXPECT_EQ(editor->emptyState(), ORPPatternDrawSource::EmptyState::SectionEmpty);

    entry()->setNumberOfTimes(0);
    editPlaylist();
    EXPECT_TRUE(editor->instances().empty());
    // The entry is still observed: playing it again brings its bars back.
    entry()->setNumberOfTimes(1);
    section()->insertPatterns({ ORPPattern::pattern() }, 0);
    EXPECT_EQ(editor->instances().size(), 3u);

    editor->setEditedObjects({}, kit);
    EXPECT_EQ(editor->emptyState(), ORPPatternDrawSource::EmptyState::NoSelection);
}

TEST_F(Layout, RepeatsNumberBarsAndOnlyAnEntrysFirstBarStartsARow)
{
    setBars(2);
    entry()->setNumberOfTimes(3);
    auto later = ORPSectionMarker::sectionMarker();
    later->setSection(section());
    later->setNumberOfTimes(3);
    song.song->insertSectionMarkers({ later }, 1);
    defaults.store().setBool(true, ORPInterfaceDefaults::kSectionBeginsNewRowKey);
    editor->setEditedObjects({ entry(), later }, kit);

    ASSERT_EQ(editor->instances().size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(bar(i)->barNumberInSong(), static_cast<int16_t>(i + 1));
        EXPECT_EQ(bar(i)->barNumberInSectionMarker(), static_cast<int16_t>(i % 6 + 1));
        EXPECT_FLOAT_EQ(bar(i)->cueTime(), 2.0f * static_cast<float>(i));
    }
    EXPECT_EQ(ys(*editor), (std::vector<double> { 0, 0, 0, 0, 0, 0, 98, 98, 98, 98, 98, 98 }));
    EXPECT_EQ(bar(6)->frame().x, 0);
    EXPECT_EQ(bar(5)->frame().x, 5 * 144);
}

TEST_F(Layout, PatternsPerRowWrapsByCountByWidthOrNever)
{
    setBars(10);
    defaults.store().setInteger(4, ORPInterfaceDefaults::kPatternsPerRowKey);
    editPlaylist();
    EXPECT_EQ(ys(*editor), (std::vector<double> { 0, 0, 0, 0, 98, 98, 98, 98, 196, 196 }));
    EXPECT_EQ(bar(4)->frame().x, 0);
    EXPECT_EQ(view.canvas.height, 800); // never smaller than the visible area

    // Changing the default lays the bars out again: six 144-point bars fit in 1000 points.
    defaults.store().setInteger(-1, ORPInterfaceDefaults::kPatternsPerRowKey);
    EXPECT_EQ(ys(*editor), (std::vector<double> { 0, 0, 0, 0, 0, 0, 98, 98, 98, 98 }));

    defaults.store().setInteger(0, ORPInterfaceDefaults::kPatternsPerRowKey);
    EXPECT_EQ(ys(*editor), std::vector<double>(10, 0));
    EXPECT_EQ(view.canvas.width, 1440);

    // A bar wider than the view still starts its row at x = 0.
    defaults.store().setInteger(-1, ORPInterfaceDefaults::kPatternsPerRowKey);
    section()->patterns()[0]->setZoomLevel(6); // 48 divisions, 864 points
    view.visible.width = 500;
    editor->adjustLayout();
    EXPECT_EQ(bar(0)->frame(), (ORPRect { 0, 0, 864, 98 }));
    EXPECT_EQ(bar(1)->frame(), (ORPRect { 0, 98, 144, 98 }));
}

TEST_F(Layout, LayoutSetsFramesOnlyWhenTheyMove)
{
    setBars(3);
    editPlaylist();
    const int redraws = view.fullRedraws;
    editor->adjustLayout();
    EXPECT_EQ(view.fullRedraws, redraws);
}

TEST_F(Layout, DivisionsFollowTheZoomLevel)
{
    setBars(1);
    editPlaylist();
    const auto& pattern = section()->patterns()[0];
    const std::pair<int16_t, int16_t> table[] = { { -1, 1 }, { 0, 4 }, { 1, 8 }, { 2, 12 }, { 3, 16 }, { 4, 24 },
        { 5, 32 }, { 6, 48 } };
    for (const auto& [level, divisions] : table) {
        ASSERT_TRUE(pattern->setZoomLevel(level));
        EXPECT_EQ(editor->numDivsForPattern(*pattern), divisions) << "zoom level " << level;
    }
    pattern->setZoomLevel(-1);
    editor->adjustLayout();
    EXPECT_EQ(bar(0)->frame().width, 18);

    // Half a beat at one division a beat still makes one column, so the bar can be hit and drawn.
    pattern->setTimeSignatureTop(1, 8);
    pattern->setZoomLevel(0);
    ASSERT_LT(pattern->beats(), 1.0f);
    EXPECT_EQ(editor->numDivsForPattern(*pattern), 1);
    editor->adjustLayout();
    editor->hitTest({ 10, 40 });
    EXPECT_EQ(editor->hoverDiv(), 0);
    EXPECT_FLOAT_EQ(editor->hoverPlace(), 0.0f);
}

TEST_F(Layout, DivisionLinesCatchThreePointsAroundThem)
{
    setBars(1);
    editPlaylist();
    const double line = 36; // line 2 of 8
    struct Case {
        double x;
        int16_t div;
        float place;
    };
    const Case grid[] = { { line - 2, -1, 0.25f }, { line + 1, -1, 0.25f }, { line + 1.5, 2, 0.25f },
        { line + 3, 2, 0.25f }, { line - 2.5, 1, 0.125f }, { 0.5, -1, 0.0f }, { 1.5, 0, 0.0f }, { 143, -1, 1.0f } };
    for (const auto& c : grid) {
        editor->hitTest({ c.x, 40 });
        EXPECT_EQ(editor->hoverDiv(), c.div) << "x " << c.x;
        EXPECT_FLOAT_EQ(editor->hoverPlace(), c.place) << "x " << c.x;
        EXPECT_EQ(editor->hoverGroup(), 0);
    }
    // In the header a line counts as the column to its right, except at the bar's edges.
    editor->hitTest({ line, 10 });
    EXPECT_EQ(editor->hoverDiv(), 2);
    editor->hitTest({ 0.5, 10 });
    EXPECT_EQ(editor->hoverDiv(), -1);
}

TEST_F(Layout, HitTestRowsAndStrips)
{
    setBars(2);
    editPlaylist();
    struct Case {
        double y;
        int16_t group;
    };
    const Case rows[] = { { 0, -1 }, { 24, -1 }, { 24.5, 0 }, { 60.5, 2 }, { 78, 2 }, { 78.5, -2 }, { 97.9, -2 } };
    for (const auto& c : rows) {
        editor->hitTest({ 150, c.y });
        EXPECT_EQ(editor->hoverGroup(), c.group) << "y " << c.y;
        EXPECT_EQ(editor->hoverPatternInstance(), bar(1)) << "y " << c.y;
    }
    // The grid's bottom edge is in the last row, not in a row past the kit's groups.
    editor->hitTest({ 150, 24 + 3 * 18 });
    EXPECT_EQ(editor->hoverGroup(), 2);

    editor->hitTest({ 150, 98 });
    EXPECT_FALSE(editor->hoverPatternInstance());
    view.visible = { 200, 0, 800, 800 };
    editor->hitTest({ 150, 40 });
    EXPECT_FALSE(editor->hoverPatternInstance());
}

TEST_F(Layout, InstancesIntersectingARectangle)
{
    setBars(10);
    defaults.store().setInteger(4, ORPInterfaceDefaults::kPatternsPerRowKey);
    editPlaylist();
    auto found = editor->instancesIntersecting({ 150, 90, 300, 20 });
    ASSERT_EQ(found.size(), 6u);
    EXPECT_EQ(found[0], bar(1));
    EXPECT_EQ(found[2], bar(3));
    EXPECT_EQ(found[3], bar(5));
    EXPECT_TRUE(editor->instancesIntersecting({ 0, 300, 100, 100 }).empty());
    EXPECT_EQ(editor->instancesIntersecting({ 0, 0, 5000, 5000 }).size(), 10u);
    // Touching edges do not meet.
    EXPECT_EQ(editor->instancesIntersecting({ 144, 0, 0.5, 1 }), std::vector<ORPPatternInstancePtr> { bar(1) });
}

TEST_F(Layout, InsertionPointSnapsAndIsThickOnlyAtBarEdges)
{
    setBars(2);
    editPlaylist();
    editor->setInsertAtPlace(0.49f, bar(0));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.375f);
    EXPECT_EQ(editor->insertionRect(), (ORPRect { 54 - 1.25, 24, 2.5, 98 - 44 }));

    editor->setInsertAtPlace(0.0f, bar(0));
    EXPECT_EQ(editor->insertionRect(), (ORPRect { -2.5 + 2, -1, 5, 100 }));
    editor->setInsertAtPlace(1.0f, bar(0));
    EXPECT_EQ(editor->insertionRect(), (ORPRect { 144 - 2.5, -1, 5, 100 }));

    view.visible.width = 288;
    editor->adjustLayout();
    editor->setInsertAtPlace(1.0f, bar(1));
    EXPECT_EQ(editor->insertionRect(), (ORPRect { 288 - 2.5 - 2, -1, 5, 100 }));

    // A place stored a hair under a line is on that line.
    section()->patterns()[0]->setZoomLevel(4); // 24 divisions
    editor->setInsertAtPlace(5.0f / 6.0f, bar(0));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace() * 24, 20.0f);
}

TEST_F(Layout, RebuildKeepsTheInsertionPointNearestEarlierSurvivingBar)
{
    setBars(4);
    editPlaylist();
    const auto patterns = section()->patterns();
    editor->setInsertAtPlace(0.5f, bar(2));
    editor->setSelected(bar(1), true, 0.25f, 0.5f);

    // A rebuild selects every new appearance of a selected bar, as a whole.
    entry()->setNumberOfTimes(2);
    EXPECT_EQ(editor->selectedPatternInstances(), (std::vector<ORPPatternInstancePtr> { bar(1), bar(5) }));
    EXPECT_EQ(editor->patternInstanceIsSelected(*bar(5), 0, 1), 1);
    EXPECT_EQ(editor->insertionPatternInstance(), bar(2));
    entry()->setNumberOfTimes(1);

    section()->removePatterns({ patterns[3] });
    EXPECT_EQ(editor->insertionPatternInstance()->pattern(), patterns[2]);
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.5f);
    EXPECT_FALSE(editor->hasSelection()); // removing bars deselects

    section()->removePatterns({ patterns[2] });
    EXPECT_EQ(editor->insertionPatternInstance()->pattern(), patterns[1]);
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 1.0f);
    EXPECT_EQ(editor->anchorPatternInstance(), editor->insertionPatternInstance());
    EXPECT_EQ(editor->insertionPointIndex(), std::optional<uint64_t>(1));

    editor->setInsertAtPlace(0.5f, bar(0));
    section()->removePatterns({ patterns[0] });
    EXPECT_EQ(editor->insertionPatternInstance()->pattern(), patterns[1]);
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.0f);
}

TEST_F(Layout, EventsOfOneGroupSpreadToFreeRows)
{
    setBars(1);
    editPlaylist();
    const auto& pattern = section()->patterns()[0];
    // The pattern lists the latest hit at a place first; rows are given in the pattern's order.
    auto kick = pattern->addEventWithDrum(kickHard, 1, 0.5f);
    auto low = pattern->addEventWithDrum(kickLow, 1, 0.5f);
    ASSERT_EQ(pattern->eventsAtPlace(0.5f), (std::vector<ORPEventPtr> { low, kick }));
    EXPECT_EQ(editor->eventsByGroupAtRatio(0.5f, *pattern), (std::vector<ORPEventPtr> { low, kick, nullptr }));

    // With every row taken, the first kick finds no row and is not shown.
    auto snareHit = pattern->addEventWithDrum(snare, 1, 0.5f);
    auto hat = pattern->addEventWithDrum(hatOpen, 1, 0.5f);
    EXPECT_EQ(editor->eventsByGroupAtRatio(0.5f, *pattern), (std::vector<ORPEventPtr> { low, snareHit, hat }));
    EXPECT_EQ(editor->eventsByGroupAtRatio(0.25f, *pattern), std::vector<ORPEventPtr>(3));

    // The last group has no row below: its second drum goes up.
    auto other = ORPPattern::pattern();
    auto rideHit = other->addEventWithDrum(ride, 1, 0);
    auto hatHit = other->addEventWithDrum(hatClosed, 1, 0);
    EXPECT_EQ(editor->eventsByGroupAtRatio(0, *other), (std::vector<ORPEventPtr> { nullptr, rideHit, hatHit }));
}

TEST_F(Layout, EventChangesRedrawOneColumnOfEachVisibleBarOfThePattern)
{
    setBars(1);
    entry()->setNumberOfTimes(3);
    view.visible.width = 280; // the third bar is out of sight
    editPlaylist();
    view.redrawn.clear();
    section()->patterns()[0]->addEventWithDrum(snare, 1, 0.25f);
    EXPECT_EQ(view.redrawn,
        (std::vector<ORPRect> { { 36, 24, 18, 54 }, { 144 + 36, 24, 18, 54 } }));
}

TEST_F(Layout, DurationChangesRecomputeCueTimes)
{
    setBars(2);
    entry()->setNumberOfTimes(2);
    editPlaylist();
    section()->patterns()[0]->setBpm(60, 4); // 4 s
    rp::NotificationQueue::defaultQueue().flush();
    EXPECT_FLOAT_EQ(bar(1)->cueTime(), 4.0f);
    EXPECT_FLOAT_EQ(bar(2)->cueTime(), 6.0f);
    EXPECT_FLOAT_EQ(bar(3)->cueTime(), 10.0f);
}

} // namespace
