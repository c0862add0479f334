#include "editor/OXPanelSnapping.h"

#include "editor/OXWindowFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr long kMaxOffset = 100000;

enum Side { kLeft = 0, kBelow = 1, kRight = 2, kAbove = 3 };
constexpr int kFromFarEdge = 4;

double top(const OXSnapRect& rect) { return rect.y + rect.height; }
double right(const OXSnapRect& rect) { return rect.x + rect.width; }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

} // namespace

OXSnapRect OXFlipRect(const OXSnapRect& rect)
{
    return { rect.x, -(rect.y + rect.height), rect.width, rect.height };
}

std::optional<OXSnapPoint> OXSnappedOrigin(const OXSnapRect& panel, const OXSnapRect& window, const OXPanelSnap& snap)
{
    if (!snap.isSnapped()) {
        return std::nullopt;
    }
    const bool fromFarEdge = (snap.position & kFromFarEdge) != 0;
    OXSnapPoint origin { panel.x, panel.y };
    switch (snap.position & 3) {
    case kLeft:
        origin.x = window.x - panel.width - 1;
        break;
    case kBelow:
        origin.y = window.y - panel.height - 1;
        break;
    case kRight:
        origin.x = right(window) + 1;
        break;
    case kAbove:
        origin.y = top(window) + 1;
        break;
    }
    if ((snap.position & 1) == 0) {
        // Left or right: the offset places the panel vertically.
        origin.y = fromFarEdge ? top(window) - panel.height - snap.offset : window.y + snap.offset;
    } else {
        origin.x = fromFarEdge ? right(window) - panel.width - snap.offset : window.x + snap.offset;
    }
    return origin;
}

OXPanelSnap OXSnapForMovedPanel(const OXSnapRect& panel, const OXSnapRect& window)
{
    const double capture = kOXSnapCaptureDistance;
    int side = -1;
    if (window.x > panel.x && std::abs(window.x - right(panel)) <= capture) {
        side = kLeft;
    } else if (right(panel) > right(window) && std::abs(right(window) - panel.x) <= capture) {
        side = kRight;
    }
    if (side >= 0) {
        if (panel.y + panel.height / 2 > window.y + window.height / 2) {
            return { static_cast<int16_t>(side + kFromFarEdge), static_cast<float>(top(window) - top(panel)) };
        }
        return { static_cast<int16_t>(side), static_cast<float>(panel.y - window.y) };
    }
    if (window.y > panel.y && std::abs(window.y - top(panel)) <= capture) {
        side = kBelow;
    } else if (top(panel) > top(window) && std::abs(top(window) - panel.y) <= capture) {
        side = kAbove;
    } else {
        return {};
    }
    if (panel.x + panel.width / 2 > window.x + window.width / 2) {
        return { static_cast<int16_t>(side + kFromFarEdge), static_cast<float>(right(window) - right(panel)) };
    }
    return { static_cast<int16_t>(side), static_cast<float>(panel.x - window.x) };
}

std::string OXSnapString(const OXPanelSnap& snap)
{
    // Offsets are kept in range on reading; a wild one from a far-off window is clamped rather than
    // overflowing the conversion.
    const double offset = std::trunc(std::clamp(static_cast<double>(snap.offset), -1e9, 1e9));
    char text[48];
    std::snprintf(text, sizeof text, "%d %ld", static_cast<int>(snap.position), static_cast<long>(offset));
    return text;
}

std::optional<OXPanelSnap> OXParseSnapString(std::string_view text)
{
    std::vector<std::string_view> tokens;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) {
            ++i;
        }
        const size_t start = i;
        while (i < text.size() && !isSpace(text[i])) {
            ++i;
        }
        if (i > start) {
            tokens.push_back(text.substr(start, i - start));
        }
    }
    if (tokens.size() != 2) {
        return std::nullopt;
    }
    const auto position = OXParseStoredInteger(tokens[0]);
    const auto offset = OXParseStoredInteger(tokens[1]);
    if (!position || !offset || *position < OXPanelSnap::kUnsnapped || *position > 7 || std::abs(*offset) > kMaxOffset) {
        return std::nullopt;
    }
    return OXPanelSnap { static_cast<int16_t>(*position), static_cast<float>(*offset) };
}

std::string OXSnappingDefaultsKey(std::string_view className, std::string_view autosaveName)
{
    std::string key(className);
    key += " Snapping ";
    key += autosaveName;
    return key;
}
