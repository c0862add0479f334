// The pattern editor's draw list: what is drawn where for the states the editor can be in, without
// pixels (the Qt painter's pixels are tested in tests/app).

#include "FakePatternDrawSource.h"

#include "editor/ORPPatternDrawList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

namespace rp::test {
namespace {

using Kind = ORPDrawItem::Kind;
using Role = ORPDrawColor::Role;
using EmptyState = ORPPatternDrawSource::EmptyState;

const FixedWidthMeasurer kMeasurer;

ORPPatternDrawState stateFor(const ORPRect& dirty)
{
    ORPPatternDrawState state;
    state.dirtyRect = dirty;
    state.visibleRect = { 0, 0, 1600, 1000 };
    state.windowIsKey = true;
    state.firstResponder = true;
    return state;
}

ORPPatternDrawList draw(const FakePatternDrawSource& source, const ORPRect& dirty = { 0, 0, 1600, 1000 })
{
    return ORPPatternDrawList::build(source, stateFor(dirty), kMeasurer);
}

std::vector<ORPDrawItem> itemsOf(const ORPPatternDrawList& list, Kind kind, const ORPRect& within)
{
    std::vector<ORPDrawItem> found;
    for (const ORPDrawItem& item : list.items()) {
        if (item.kind == kind && item.rect.x >= within.x && item.rect.x < within.x + within.width
            && item.rect.y >= within.y && item.rect.y < within.y + within.height)
            found.push_back(item);
    }
    return found;
}

std::vector<std::string> textsIn(const ORPPatternDrawList& list, const ORPRect& within, ORPTextStyle style)
{
    std::vector<std::string> texts;
    for (const ORPDrawItem& item : itemsOf(list, Kind::Text, within)) {
        if (item.textStyle == style)
            texts.push_back(item.text);
    }
    return texts;
}

ORPRect headerOf(const ORPPatternInstancePtr& bar)
{
    const ORPRect f = bar->frame();
    return { f.x, f.y, f.width, 24 };
}

ORPRect footerOf(const ORPPatternInstancePtr& bar)
{
    const ORPRect f = bar->frame();
    return { f.x, f.y + f.height - 20, f.width + 6, 20 };
}

// A playlist entry named `name` over a section of `patterns` bars, repeated `times`, laid out in
// `source` after whatever is there.
ORPSectionMarkerPtr addEntry(FakePatternDrawSource& source, const std::string& name, int patterns, int16_t times)
{
    auto section = ORPSection::section();
    std::vector<ORPPatternPtr> bars;
    for (int i = 0; i < patterns; ++i)
        bars.push_back(makeBar());
    section->insertPatterns(bars, 0);
    auto marker = ORPSectionMarker::sectionMarker();
    marker->setSection(section);
    marker->setName(name);
    marker->setNumberOfTimes(times);
    int16_t inMarker = 1;
    for (int16_t t = 0; t < times; ++t) {
        for (const auto& pattern : section->patterns())
            source.addBar(pattern, marker, inMarker++);
    }
    return marker;
}

TEST(PatternDrawList, EmptyStatesDrawTheirTextCentredInTheVisibleAreaAndNoBars)
{
    const std::pair<EmptyState, std::string> cases[] = {
        { EmptyState::NoSelection, "ORPPE_No_Selection" },
        { EmptyState::MultiSelection, "ORPPE_Multi_Selection" },
        { EmptyState::SectionEmpty, "ORPPE_Section_Empty" },
    };
    for (const auto& [state, resource] : cases) {
        FakePatternDrawSource source;
        source.addBar(makeBar()); // left over from before: must not be drawn
        source.layout(4);
        source.empty = state;
        ORPPatternDrawState view = stateFor({ 10, 10, 50, 50 });
        view.visibleRect = { 0, 300, 800, 600 };
        const ORPPatternDrawList list = ORPPatternDrawList::build(source, view, kMeasurer);

        int texts = 0;
        for (const ORPDrawItem& item : list.items()) {
            EXPECT_NE(item.kind, Kind::Frame) << resource;
            EXPECT_NE(item.kind, Kind::DrumIcon) << resource;
            if (item.kind == Kind::EmptyState) {
                ++texts;
                EXPECT_EQ(item.emptyState, state);
                EXPECT_EQ(item.rect, view.visibleRect);
            }
        }
        EXPECT_EQ(texts, 1) << resource;
        // The visible area is cleared to the window background before the text.
        ASSERT_GE(list.items().size(), 2u);
        EXPECT_EQ(list.items()[1].rect, view.visibleRect);
        EXPECT_EQ(list.items()[1].color.role, Role::WindowBackground);
        EXPECT_EQ(ORPPatternDrawList::resourceNameForEmptyState(state), resource);
        EXPECT_EQ(source.intersectCalls, 0) << "no bars are looked up in an empty state";
    }
}

TEST(PatternDrawList, TimeSignatureAndTempoOnlyWhereTheyChange)
{
    FakePatternDrawSource source;
    auto first = source.addBar(makeBar(120));
    auto same = source.addBar(makeBar(120));
    auto faster = source.addBar(makeBar(132));
    auto threeFour = source.addBar(makeBar(132, 3, 4));
    source.layout(4);
    const ORPPatternDrawList list = draw(source);

    // First bar: "4" over "4" in a column at x + 6 one character (6) wide; the icon at x + 6 + 6 + 3.
    const ORPRect f = first->frame();
    EXPECT_EQ(textsIn(list, headerOf(first), ORPTextStyle::TimeSignature), (std::vector<std::string> { "4", "4" }));
    auto icons = itemsOf(list, Kind::BeatBasisIcon, headerOf(first));
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].rect, (ORPRect { f.x + 15, f.y + 4, 16, 16 }));
    EXPECT_EQ(icons[0].beatBasis, 4.0f);
    auto tempo = itemsOf(list, Kind::Text, { f.x + 20, f.y, f.width, 24 });
    ASSERT_EQ(tempo.size(), 1u);
    EXPECT_EQ(tempo[0].text, "= 120");
    EXPECT_EQ(tempo[0].rect.x, f.x + 15 + 16 - 3);

    // Same meter and tempo: nothing in the header.
    EXPECT_TRUE(itemsOf(list, Kind::Text, headerOf(same)).empty());
    EXPECT_TRUE(itemsOf(list, Kind::BeatBasisIcon, headerOf(same)).empty());

    // Only the tempo changes: icon at x + 5, the text 3 points before its right edge.
    const ORPRect g = faster->frame();
    EXPECT_TRUE(textsIn(list, headerOf(faster), ORPTextStyle::TimeSignature).empty());
    icons = itemsOf(list, Kind::BeatBasisIcon, headerOf(faster));
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].rect.x, g.x + 5);
    EXPECT_EQ(textsIn(list, headerOf(faster), ORPTextStyle::BarNumber), (std::vector<std::string> { "= 132" }));
    EXPECT_EQ(itemsOf(list, Kind::Text, headerOf(faster))[0].rect.x, g.x + 5 + 13);

    // Only the meter changes: the numbers, no tempo.
    EXPECT_EQ(textsIn(list, headerOf(threeFour), ORPTextStyle::TimeSignature), (std::vector<std::string> { "3", "4" }));
    EXPECT_TRUE(itemsOf(list, Kind::BeatBasisIcon, headerOf(threeFour)).empty());
}

TEST(PatternDrawList, TempoCountsAsChangedWhenOnlyTheBeatBasisDiffers)
{
    FakePatternDrawSource source;
    source.addBar(makeBar(120));
    auto pattern = makeBar(120);
    pattern->setBpm(120, 8.0f);
    auto eighths = source.addBar(pattern);
    source.layout(4);
    auto icons = itemsOf(draw(source), Kind::BeatBasisIcon, headerOf(eighths));
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].beatBasis, 8.0f);
}

TEST(PatternDrawList, EntryTitlesOnTheFirstBarAndEachRepeatWithEdgeShading)
{
    FakePatternDrawSource source;
    const auto entry = addEntry(source, "Verse", 2, 3); // bars hold their entry weakly
    auto loose = source.addBar(makeBar()); // a bar edited in its section: no title
    source.layout(8);
    const ORPPatternDrawList list = draw(source, { 0, 0, 4000, 1000 });

    const std::vector<std::vector<std::string>> expected = {
        { "\xE2\x9D\x9A Verse" }, {}, { " \xE2\x9C\x95 2" }, {}, { " \xE2\x9C\x95 3" }, {},
    };
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(textsIn(list, headerOf(source.instances[i]), ORPTextStyle::EntryTitle), expected[i]) << "bar " << i + 1;
    EXPECT_TRUE(textsIn(list, headerOf(loose), ORPTextStyle::EntryTitle).empty());

    // The entry's first column fades in from the left, its last column from the right.
    std::vector<std::pair<double, double>> edges; // (x, angle)
    for (const ORPDrawItem& item : list.items()) {
        if (item.kind == Kind::Gradient && item.rect.height == source.rowHeight())
            edges.emplace_back(item.rect.x, item.angle);
    }
    const ORPRect last = source.instances[5]->frame();
    EXPECT_EQ(edges, (std::vector<std::pair<double, double>> { { 0, 0 }, { last.x + last.width - 18, 180 } }));
}

TEST(PatternDrawList, LongEntryTitleLosesItsMiddleAndFitsTheBox)
{
    FakePatternDrawSource source;
    const auto entry = addEntry(source, "The long bridge before the last chorus", 1, 1);
    source.layout(4);
    const auto& bar = source.instances[0];
    auto titles = itemsOf(draw(source), Kind::Text, headerOf(bar));
    std::erase_if(titles, [](const ORPDrawItem& item) { return item.textStyle != ORPTextStyle::EntryTitle; });
    ASSERT_EQ(titles.size(), 1u);
    const std::string& title = titles[0].text;
    EXPECT_LE(kMeasurer.widthOf(ORPTextStyle::EntryTitle, title), titles[0].rect.width);
    EXPECT_EQ(title.rfind("\xE2\x9D\x9A The", 0), 0u) << title;
    EXPECT_NE(title.find("\xE2\x80\xA6"), std::string::npos) << title;
    EXPECT_EQ(title.substr(title.size() - 3), "rus") << title;
    // The box ends 6 points before the bar's right edge.
    EXPECT_DOUBLE_EQ(titles[0].rect.x + titles[0].rect.width, bar->frame().x + bar->frame().width - 6);
}

TEST(PatternDrawList, TruncateMiddleKeepsWholeCharactersAndGivesUpWhenNothingFits)
{
    const std::string text = "ab\xC3\xA9" "cdef"; // 7 characters, one of two bytes
    EXPECT_EQ(ORPPatternDrawList::truncateMiddle(text, 42, ORPTextStyle::EntryTitle, kMeasurer), text);
    EXPECT_EQ(ORPPatternDrawList::truncateMiddle(text, 30, ORPTextStyle::EntryTitle, kMeasurer),
        "ab\xE2\x80\xA6" "ef");
    EXPECT_EQ(ORPPatternDrawList::truncateMiddle(text, 24, ORPTextStyle::EntryTitle, kMeasurer),
        "ab\xE2\x80\xA6" "f");
    EXPECT_EQ(ORPPatternDrawList::truncateMiddle(text, 6, ORPTextStyle::EntryTitle, kMeasurer), "\xE2\x80\xA6");
    EXPECT_EQ(ORPPatternDrawList::truncateMiddle(text, 5, ORPTextStyle::EntryTitle, kMeasurer), "");
}

TEST(PatternDrawList, BeatNumbersOnlyWithMoreThanFiveBeatsOrMoreThanTwoDivisionsPerBeat)
{
    struct Case {
        int16_t top;
        int16_t bottom;
        int16_t zoom;
        std::vector<std::string> beats;
    };
    const Case cases[] = {
        { 4, 4, 1, {} },                        // 2 per beat
        { 4, 4, 0, {} },                        // 1 per beat
        { 5, 4, 1, {} },                        // 5 beats is not more than 5
        { 4, 4, 2, { "2", "3", "4" } },         // 3 per beat
        { 6, 4, 0, { "2", "3", "4", "5", "6" } }, // 6 beats
        { 4, 4, -1, {} },                       // the whole bar one division
    };
    for (const Case& c : cases) {
        FakePatternDrawSource source;
        auto bar = source.addBar(makeBar(120, c.top, c.bottom, c.zoom));
        source.layout(4);
        const ORPPatternDrawList list = draw(source);
        EXPECT_EQ(textsIn(list, footerOf(bar), ORPTextStyle::BeatNumber), c.beats)
            << c.top << "/" << c.bottom << " zoom " << c.zoom;
        EXPECT_EQ(textsIn(list, footerOf(bar), ORPTextStyle::BarNumber), (std::vector<std::string> { "1" }));
    }
}

TEST(PatternDrawList, BeatLinesAreHeavierAndCrossTheFooter)
{
    FakePatternDrawSource source;
    auto bar = source.addBar(makeBar(120, 4, 4, 1)); // 8 divisions, beats on 0, 2, 4, 6
    source.layout(4);
    const ORPRect f = bar->frame();
    int beatLines = 0;
    int divisionLines = 0;
    const ORPPatternDrawList list = draw(source);
    for (const ORPDrawItem& item : list.items()) {
        if (item.kind != Kind::Line || item.rect.width != 0)
            continue;
        const int d = static_cast<int>(std::lround((item.rect.x - f.x) / 18));
        if (d % 2 == 0) {
            ++beatLines;
            EXPECT_EQ(item.lineWidth, 1.0);
            EXPECT_EQ(item.rect.y + item.rect.height, f.y + f.height);
        } else {
            ++divisionLines;
            EXPECT_EQ(item.lineWidth, 0.2);
            EXPECT_EQ(item.rect.y + item.rect.height, f.y + f.height - 20);
        }
    }
    EXPECT_EQ(beatLines, 4);
    EXPECT_EQ(divisionLines, 4);
}

TEST(PatternDrawList, OffGridDrumTintsItsRowUntilZoomPutsItOnALine)
{
    auto drum = ORPDrum::drum();
    auto pattern = makeBar(120, 4, 4, 0); // 4 divisions
    pattern->addEventWithDrum(drum, 1.0f, 0.375f); // 1.5 divisions in
    FakePatternDrawSource source;
    source.gridPositions[drum.get()] = 2;
    auto bar = source.addBar(pattern);
    source.layout(4);

    const ORPRect f = bar->frame();
    auto list = draw(source);
    auto tinted = itemsOf(list, Kind::Fill, { f.x, f.y + 24, f.width, f.height - 44 });
    std::erase_if(tinted, [](const ORPDrawItem& item) { return item.color.red != 0.6f; });
    ASSERT_EQ(tinted.size(), 1u);
    EXPECT_EQ(tinted[0].rect, (ORPRect { f.x + 18, f.y + 24 + 36, 18, 18 }));
    EXPECT_FLOAT_EQ(tinted[0].color.alpha, 0.1f);
    EXPECT_TRUE(itemsOf(list, Kind::DrumIcon, f).empty());

    pattern->setZoomLevel(1); // 8 divisions: 0.375 is line 3
    source.layout(4);
    list = draw(source);
    const ORPRect g = bar->frame();
    auto icons = itemsOf(list, Kind::DrumIcon, g);
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].rect, (ORPRect { g.x + 54, g.y + 24 + 36, 18, 18 }));
    EXPECT_EQ(icons[0].drum, drum);
    for (const ORPDrawItem& item : list.items())
        EXPECT_FALSE(item.kind == Kind::Fill && item.color.red == 0.6f) << "no tint once on the grid";
}

TEST(PatternDrawList, IconOpacityFollowsVelocity)
{
    auto drum = ORPDrum::drum();
    auto pattern = makeBar();
    pattern->addEventWithDrum(drum, 0.5f, 0.0f);
    pattern->addEventWithDrum(drum, 1.0f, 0.5f);
    pattern->addEventWithDrum(drum, 0.0f, 0.75f);
    FakePatternDrawSource source;
    source.addBar(pattern);
    source.layout(4);
    std::vector<double> opacities;
    const ORPPatternDrawList list = draw(source);
    for (const ORPDrawItem& item : list.items()) {
        if (item.kind == Kind::DrumIcon)
            opacities.push_back(item.opacity);
    }
    EXPECT_EQ(opacities, (std::vector<double> { 0.5, 1.0, 0.0 }));
}

TEST(PatternDrawList, InsertionPointRules)
{
    struct Case {
        const char* name;
        bool selection, playing, key, firstResponder, blinkShown, drop;
        // Expected: what fills the insertion rectangle (none, red 0.4, secondary 0.7) and whether red
        // fills the drop marker.
        enum { None, Red, Steady } insertion;
    };
    const Case cases[] = {
        { "key, focused, shown", false, false, true, true, true, false, Case::Red },
        { "key, focused, hidden phase", false, false, true, true, false, false, Case::None },
        { "key, not first responder", false, false, true, false, true, false, Case::Steady },
        { "key, not first responder, hidden phase", false, false, true, false, false, false, Case::None },
        { "background window, hidden phase", false, false, false, true, false, false, Case::Steady },
        { "background window", false, false, false, false, true, false, Case::Steady },
        { "something selected", true, false, true, true, true, false, Case::None },
        { "playing", false, true, true, true, true, false, Case::None },
        { "drop marker", false, false, true, true, true, true, Case::None },
    };
    for (const Case& c : cases) {
        FakePatternDrawSource source;
        auto bar = source.addBar(makeBar());
        source.layout(4);
        source.insertion = bar.get();
        source.insertionFrame = { 70.75, 24, 2.5, 72 };
        source.selection = c.selection;
        source.playingNow = c.playing;
        if (c.drop)
            source.dropMarker = { -2.5, -1, 5, 118 };
        ORPPatternDrawState state = stateFor({ 0, 0, 400, 400 });
        state.windowIsKey = c.key;
        state.firstResponder = c.firstResponder;
        state.blinkShown = c.blinkShown;
        const ORPPatternDrawList list = ORPPatternDrawList::build(source, state, kMeasurer);

        const ORPDrawItem& top = list.items().back();
        if (c.drop) {
            EXPECT_EQ(top.rect, source.dropMarker) << c.name;
            EXPECT_EQ(top.color, ORPDrawColor::rgba(1, 0, 0, 0.4f)) << c.name;
        }
        const bool drawn = top.rect == source.insertionFrame;
        EXPECT_EQ(drawn, c.insertion != Case::None) << c.name;
        if (c.insertion == Case::Red) {
            EXPECT_EQ(top.color, ORPDrawColor::rgba(1, 0, 0, 0.4f)) << c.name;
        }
        if (c.insertion == Case::Steady) {
            EXPECT_EQ(top.color, ORPDrawColor::platform(Role::SecondarySelectedControl, 0.7f)) << c.name;
        }
    }
}

TEST(PatternDrawList, InsertionPointOutsideTheDirtyRectIsNotDrawn)
{
    FakePatternDrawSource source;
    auto bar = source.addBar(makeBar());
    source.layout(4);
    source.insertion = bar.get();
    source.insertionFrame = { 70.75, 24, 2.5, 72 };
    const ORPPatternDrawList list = draw(source, { 100, 0, 40, 100 });
    for (const ORPDrawItem& item : list.items())
        EXPECT_NE(item.rect, source.insertionFrame);
}

TEST(PatternDrawList, SelectionPlayHeadAndPointerColumns)
{
    FakePatternDrawSource source;
    auto bar = source.addBar(makeBar()); // 8 divisions
    auto other = source.addBar(makeBar());
    source.layout(4);
    bar->selection()->select(true, 0.25f, 0.5f); // divisions 2 and 3
    source.selection = true;
    source.playing = other.get();
    source.playDiv = 5;
    source.hover = other.get();
    source.hoverColumn = 1;
    source.hoverRow = 2;

    auto columnFill = [&](const ORPPatternDrawList& list, const ORPPatternInstancePtr& instance, int d) {
        const ORPRect f = instance->frame();
        const ORPRect grid { f.x + 18 * d, f.y + 24, 18, f.height - 44 };
        std::vector<ORPDrawItem> found;
        for (const ORPDrawItem& item : list.items()) {
            if (item.rect == grid)
                found.push_back(item);
        }
        return found;
    };

    auto list = draw(source);
    for (int d : { 2, 3 }) {
        auto fills = columnFill(list, bar, d);
        ASSERT_EQ(fills.size(), 1u) << d;
        EXPECT_EQ(fills[0].kind, Kind::Gradient);
        EXPECT_EQ(fills[0].angle, 90);
        EXPECT_EQ(fills[0].color, ORPDrawColor::platform(Role::SelectedControl, 1.0f));
        EXPECT_EQ(fills[0].endColor, ORPDrawColor::platform(Role::SelectedControl, 0.5f));
    }
    EXPECT_TRUE(columnFill(list, bar, 4).empty());
    ASSERT_EQ(columnFill(list, other, 5).size(), 1u);
    EXPECT_EQ(columnFill(list, other, 5)[0].color, ORPDrawColor::rgba(0, 0.9f, 0, 0.4f));
    ASSERT_EQ(columnFill(list, other, 1).size(), 1u);
    EXPECT_EQ(columnFill(list, other, 1)[0].color, ORPDrawColor::rgba(0, 0, 1, 0.05f));

    // The playing bar's header gets the play gradient from the bottom up.
    bool playHeader = false;
    for (const ORPDrawItem& item : list.items())
        playHeader |= item.kind == Kind::Gradient && item.rect == headerOf(other) && item.angle == 270
            && item.color == ORPDrawColor::rgba(0, 0.9f, 0, 0.4f);
    EXPECT_TRUE(playHeader);

    // Without focus the selection takes the secondary colour; a pointer in the footer shows nothing.
    ORPPatternDrawState unfocused = stateFor({ 0, 0, 1600, 1000 });
    unfocused.firstResponder = false;
    source.hoverRow = -2;
    list = ORPPatternDrawList::build(source, unfocused, kMeasurer);
    EXPECT_EQ(columnFill(list, bar, 2)[0].color.role, Role::SecondarySelectedControl);
    EXPECT_TRUE(columnFill(list, other, 1).empty());
    // ... but in the division strip (mouse operation 1) it does.
    source.operation = 1;
    EXPECT_EQ(columnFill(ORPPatternDrawList::build(source, unfocused, kMeasurer), other, 1).size(), 1u);
}

TEST(PatternDrawList, WholeBarSelectionShadesTheHeaderNotTheColumns)
{
    FakePatternDrawSource source;
    auto bar = source.addBar(makeBar());
    source.layout(4);
    bar->selection()->select(true, 0.0f, 1.0f);
    source.selection = true;
    source.wholeBars = true;
    const auto list = draw(source);
    int headerShades = 0;
    for (const ORPDrawItem& item : list.items()) {
        if (item.kind == Kind::Gradient && item.color.role == Role::SelectedControl) {
            EXPECT_EQ(item.rect, headerOf(bar));
            ++headerShades;
        }
    }
    EXPECT_EQ(headerShades, 1);
}

TEST(PatternDrawList, OnlyTheDirtyPartOfABarIsDrawn)
{
    auto drum = ORPDrum::drum();
    auto pattern = makeBar();
    for (int k = 0; k < 8; ++k)
        pattern->addEventWithDrum(drum, 1.0f, static_cast<float>(k) / 8.0f);
    FakePatternDrawSource source;
    auto bar = source.addBar(pattern);
    source.addBar(makeBar());
    source.layout(4);

    // One grid column of the first bar, as an event change redraws it.
    const ORPRect column { 3 * 18, 24, 18, source.rowHeight() - 44 };
    const auto list = draw(source, column);
    int icons = 0;
    int frames = 0;
    for (const ORPDrawItem& item : list.items()) {
        EXPECT_NE(item.kind, Kind::Text) << "header and footer lie outside the column";
        EXPECT_NE(item.kind, Kind::BeatBasisIcon);
        icons += item.kind == Kind::DrumIcon;
        frames += item.kind == Kind::Frame;
        if (item.kind == Kind::DrumIcon) {
            EXPECT_EQ(item.rect.x, 54);
        }
    }
    EXPECT_EQ(icons, 1);
    EXPECT_EQ(frames, 1) << "only the bar that meets the column";
}

TEST(PatternDrawList, LargeSongBuildsOnlyWhatIsVisible)
{
    FakePatternDrawSource source;
    std::vector<ORPDrumPtr> drums;
    fillBigSong(source, 10000, drums);
    const double middle = std::floor(source.contentHeight() / 2);
    const auto start = std::chrono::steady_clock::now();
    const auto list = draw(source, { 0, middle, 1600, 1000 });
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    int frames = 0;
    int icons = 0;
    for (const ORPDrawItem& item : list.items()) {
        frames += item.kind == Kind::Frame;
        icons += item.kind == Kind::DrumIcon;
    }
    // 4 bars a row, rows 116 high: 9 or 10 rows meet a 1000-point rect.
    EXPECT_GE(frames, 36);
    EXPECT_LE(frames, 40);
    EXPECT_GT(icons, 16 * 20);
    EXPECT_LT(ms, 8.0);
}

} // namespace
} // namespace rp::test
