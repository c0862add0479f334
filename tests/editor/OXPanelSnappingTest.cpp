#include "editor/OXPanelSnapping.h"

#include <gtest/gtest.h>

namespace {

// y-up: the window spans x 400..1200 and y 100..700 (top edge at 700).
const OXSnapRect kWindow { 400, 100, 800, 600 };
constexpr double kPanelWidth = 220;
constexpr double kPanelHeight = 300;

OXSnapRect panelAt(double x, double y) { return { x, y, kPanelWidth, kPanelHeight }; }

OXSnapRect placed(const OXPanelSnap& snap)
{
    const auto origin = OXSnappedOrigin(panelAt(0, 0), kWindow, snap);
    EXPECT_TRUE(origin.has_value());
    return origin ? panelAt(origin->x, origin->y) : OXSnapRect {};
}

} // namespace

TEST(OXPanelSnapping, EachPositionPlacesThePanelOnItsSideWithTheOffsetFromItsEdge)
{
    struct Case {
        int16_t position;
        float offset;
        OXSnapPoint origin;
    };
    const Case cases[] = {
        { 0, 30, { 400 - 220 - 1, 100 + 30 } }, // left, up from the bottom edges
        { 4, 51, { 400 - 220 - 1, 700 - 300 - 51 } }, // left, down from the top edges
        { 1, 10, { 400 + 10, 100 - 300 - 1 } }, // below, from the left edges
        { 5, 10, { 1200 - 220 - 10, 100 - 300 - 1 } }, // below, from the right edges
        { 2, 0, { 1201, 100 } }, // right
        { 6, -20, { 1201, 700 - 300 + 20 } }, // right, a negative offset pokes out above
        { 3, 0, { 400, 701 } }, // above
        { 7, 5, { 1200 - 220 - 5, 701 } },
    };
    for (const auto& c : cases) {
        const auto origin = OXSnappedOrigin(panelAt(-5000, 9000), kWindow, { c.position, c.offset });
        ASSERT_TRUE(origin.has_value()) << c.position;
        EXPECT_EQ(*origin, c.origin) << "position " << c.position;
    }
    // Unsnapped and out-of-range positions place nothing.
    for (const int16_t position : { -1, -2, 8, 100 }) {
        EXPECT_FALSE(OXSnappedOrigin(panelAt(0, 0), kWindow, { position, 0 }).has_value()) << position;
    }
}

TEST(OXPanelSnapping, APanelSnappedAnywhereIsRecognisedWhereItSits)
{
    // What snapping puts down, a drag ending there must read back: same position, same offset.
    const OXPanelSnap snaps[] = { { 0, 0 }, { 0, 120 }, { 4, 0 }, { 4, 51 }, { 1, 0 }, { 1, 200 }, { 5, 0 },
        { 5, 150 }, { 2, 40 }, { 6, 51 }, { 3, 12 }, { 7, 80 } };
    for (const auto& snap : snaps) {
        EXPECT_EQ(OXSnapForMovedPanel(placed(snap), kWindow), snap) << "position " << snap.position;
    }
}

TEST(OXPanelSnapping, CaptureReachesTwentyFivePointsAndNoFurther)
{
    struct Case {
        const char* what;
        OXSnapRect panel;
        OXPanelSnap snap;
    };
    const Case cases[] = {
        // Left edge, the panel's centre above the window's: offset between the two top edges.
        { "left at 25", panelAt(400 - 220 - 25, 700 - 300 - 40), { 4, 40 } },
        { "left at 26", panelAt(400 - 220 - 26, 700 - 300 - 40), {} },
        { "left overlapping by 25", panelAt(400 - 220 + 25, 150), { 0, 50 } },
        { "left overlapping by 26", panelAt(400 - 220 + 26, 150), {} },
        { "right at 25", panelAt(1200 + 25, 120), { 2, 20 } },
        { "right at 26", panelAt(1200 + 26, 120), {} },
        { "below at 25", panelAt(420, 100 - 300 - 25), { 1, 20 } },
        { "below at 26", panelAt(420, 100 - 300 - 26), {} },
        { "above at 25, right half", panelAt(900, 700 + 25), { 7, 80 } },
        { "above at 26", panelAt(900, 700 + 26), {} },
        // Far away, and inside the window: released.
        { "far off", panelAt(-3000, -3000), {} },
        { "inside", panelAt(600, 300), {} },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OXSnapForMovedPanel(c.panel, kWindow), c.snap) << c.what;
    }
}

TEST(OXPanelSnapping, APanelCapturedTwiceGoesToTheFirstMatchingSideLeftRightBelowAbove)
{
    struct Case {
        const char* what;
        OXSnapRect window;
        OXSnapRect panel;
        int16_t position;
    };
    const Case cases[] = {
        // Near both the left edge and the top edge: left wins, measured from the top (centre above).
        { "left over top", kWindow, panelAt(400 - 220 - 5, 700 - 100), 4 },
        { "left over bottom", kWindow, panelAt(400 - 220 - 5, 100 - 250), 0 },
        { "right over top", kWindow, panelAt(1200 + 5, 700 - 100), 6 },
        { "right over bottom", kWindow, panelAt(1200 + 5, 100 - 250), 2 },
        // A window narrower than twice the capture: a panel across it is near both sides.
        { "left over right", { 400, 100, 20, 600 }, { 396, 200, 28, 100 }, 0 },
        // A window lower than twice the capture: near both the bottom and the top edges.
        { "below over above", { 400, 100, 800, 20 }, { 500, 96, 220, 28 }, 1 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OXSnapForMovedPanel(c.panel, c.window).position, c.position) << c.what;
    }
}

TEST(OXPanelSnapping, WithoutAWindowTheZeroRectangleIsTheReference)
{
    const OXSnapRect none {};
    EXPECT_EQ(OXSnapForMovedPanel(panelAt(-230, -250), none), (OXPanelSnap { 0, -250 }));
    EXPECT_EQ(OXSnappedOrigin(panelAt(7, 7), none, { 4, 51 }), (OXSnapPoint { -221, -351 }));
}

TEST(OXPanelSnapping, FlippingToScreenCoordinatesKeepsTheOffsetFromTheTop)
{
    // Qt frames (y down): the window's top edge is at y 150, the panel is 300 tall.
    const OXSnapRect windowDown { 400, 150, 800, 600 };
    const OXSnapRect panelDown { 0, 0, 220, 300 };
    const auto origin = OXSnappedOrigin(OXFlipRect(panelDown), OXFlipRect(windowDown), { 4, 51 });
    ASSERT_TRUE(origin.has_value());
    const OXSnapRect placedDown = OXFlipRect({ origin->x, origin->y, 220, 300 });
    EXPECT_EQ(placedDown, (OXSnapRect { 179, 150 + 51, 220, 300 }));
    // Dragged back in y-down terms, the same snap is read.
    EXPECT_EQ(OXSnapForMovedPanel(OXFlipRect(placedDown), OXFlipRect(windowDown)), (OXPanelSnap { 4, 51 }));
    EXPECT_EQ(OXFlipRect(OXFlipRect(windowDown)), windowDown);
}

TEST(OXPanelSnapping, StoredTextTruncatesOffsetsAndRefusesHostileText)
{
    EXPECT_EQ(OXSnapString({ 4, 51 }), "4 51");
    EXPECT_EQ(OXSnapString({ 4, 51.9F }), "4 51");
    EXPECT_EQ(OXSnapString({ 0, -3.7F }), "0 -3");
    EXPECT_EQ(OXSnapString({ -1, 0 }), "-1 0");
    EXPECT_EQ(OXSnapString({ 2, 1e30F }), "2 1000000000");

    struct Case {
        const char* text;
        std::optional<OXPanelSnap> snap;
    };
    const Case cases[] = {
        { "4 51", OXPanelSnap { 4, 51.0F } },
        { " 0\t-12\n", OXPanelSnap { 0, -12 } },
        { "-1 0", OXPanelSnap {} },
        { "7 100000", OXPanelSnap { 7, 100000 } },
        { "", std::nullopt },
        { "4", std::nullopt },
        { "4 51 3", std::nullopt },
        { "4 51.5", std::nullopt },
        { "four 51", std::nullopt },
        { "8 0", std::nullopt },
        { "-2 0", std::nullopt },
        { "4 100001", std::nullopt },
        { "4 -", std::nullopt },
        { "99999999999999999999 0", std::nullopt },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OXParseSnapString(c.text), c.snap) << '"' << c.text << '"';
    }
    // An embedded zero byte is not a separator.
    EXPECT_EQ(OXParseSnapString(std::string_view("4\0 51", 5)), std::nullopt);

    // What is written reads back.
    for (const OXPanelSnap snap : { OXPanelSnap { 5, 33 }, OXPanelSnap { -1, 0 }, OXPanelSnap { 0, -250 } }) {
        EXPECT_EQ(OXParseSnapString(OXSnapString(snap)), snap);
    }
    EXPECT_EQ(OXSnappingDefaultsKey(kOXInspectorPanelClassName, "DrumListPanel"), "OXInspectorPanel Snapping DrumListPanel");
}
