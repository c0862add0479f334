#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where a floating inspector panel sits against the window it snaps to.
//
// Rectangles here are screen rectangles with y growing upwards: "top" is y + height, "right" is
// x + width. Qt's frames (y growing downwards) convert with OXFlipRect, which keeps every relative
// placement (left of, above, distances between edges) while mirroring up and down.
struct OXSnapRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const OXSnapRect&) const = default;
};

struct OXSnapPoint {
    double x = 0;
    double y = 0;
    bool operator==(const OXSnapPoint&) const = default;
};

// A snap position and the offset along that edge. Bits 0-1 of the position give the side of the
// window the panel sits on (0 left, 1 below, 2 right, 3 above); bit 2 measures the offset from the
// top edges (sides 0 and 2) or the right edges (sides 1 and 3) instead of the bottom or left ones.
// -1 means not snapped.
struct OXPanelSnap {
    static constexpr int16_t kUnsnapped = -1;
    int16_t position = kUnsnapped;
    float offset = 0;
    bool operator==(const OXPanelSnap&) const = default;

    bool isSnapped() const { return position >= 0 && position <= 7; }
};

// A panel dragged to within this distance of one of the window's outside edges is captured by it.
inline constexpr double kOXSnapCaptureDistance = 25;

// y-up <-> y-down: the same rectangle seen from the other direction (its own inverse).
OXSnapRect OXFlipRect(const OXSnapRect& rect);

// The panel's origin when snapped at `snap` to `window`; none when the position is -1 or not one of
// 0-7. The panel keeps its size.
std::optional<OXSnapPoint> OXSnappedOrigin(const OXSnapRect& panel, const OXSnapRect& window, const OXPanelSnap& snap);

// The snap a panel dragged by the user to `panel` gets against `window`: the first of the left, right,
// below and above sides whose edge lies within the capture distance, on the side outside the window;
// unsnapped (-1, offset 0) when none captures it.
OXPanelSnap OXSnapForMovedPanel(const OXSnapRect& panel, const OXSnapRect& window);

// The stored form "position offset", the offset truncated towards zero.
std::string OXSnapString(const OXPanelSnap& snap);

// Reads the stored form back. Text from the defaults file is not trusted: anything but two integers
// separated by white space, a position outside -1..7 or an offset beyond +-100000 gives none.
std::optional<OXPanelSnap> OXParseSnapString(std::string_view text);

// The defaults key of a panel's snap: "<class name> Snapping <frame autosave name>".
std::string OXSnappingDefaultsKey(std::string_view className, std::string_view autosaveName);

// The class name every inspector panel stores its snap under.
inline constexpr const char* kOXInspectorPanelClassName = "OXInspectorPanel";
