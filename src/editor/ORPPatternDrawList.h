#pragma once

#include "editor/ORPPatternDrawSource.h"

#include <cstdint>
#include <string>
#include <vector>

// A colour of the drawing. Fixed colours carry their own components; the platform's colours are named
// here and resolved by the painter from the desktop palette, `alpha` then replacing theirs.
struct ORPDrawColor {
    enum class Role : uint8_t {
        Fixed,
        WindowBackground,
        SelectedControl,
        SecondarySelectedControl,
    };
    Role role = Role::Fixed;
    float red = 0;
    float green = 0;
    float blue = 0;
    float alpha = 1;

    static constexpr ORPDrawColor rgba(float r, float g, float b, float a) { return { Role::Fixed, r, g, b, a }; }
    static constexpr ORPDrawColor white(float w, float a = 1) { return { Role::Fixed, w, w, w, a }; }
    static constexpr ORPDrawColor platform(Role role, float a) { return { role, 0, 0, 0, a }; }
    bool operator==(const ORPDrawColor&) const = default;
};

// The text styles of the editor; each has its font, colour and alignment.
enum class ORPTextStyle : uint8_t {
    BarNumber,     // 10 pt, black, left: bar numbers and the tempo text
    BeatNumber,    // 9 pt, light grey, left
    TimeSignature, // 11 pt, black, centred, clipped
    EntryTitle,    // 11 pt, left, already truncated in the middle, the playlist-entry colour
    LargeLabel,    // 24 pt, grey, centred, clipped: the bar count on a dragged bar's image
};

// Measures text as the painter will draw it. The Qt painter measures with font metrics; tests use a
// fixed width per character.
class ORPTextMeasurer {
public:
    virtual ~ORPTextMeasurer() = default;
    virtual double widthOf(ORPTextStyle style, const std::string& utf8) const = 0;
};

// One drawing step. Rectangles are in view coordinates (flipped: y grows downwards).
struct ORPDrawItem {
    enum class Kind : uint8_t {
        Fill,          // rect with color
        Gradient,      // rect from color to endColor at angle (0 left to right, 90 top down,
                       // 180 right to left, 270 bottom up)
        Line,          // from (rect.x, rect.y) to (rect.x + rect.width, rect.y + rect.height)
        Frame,         // outline of rect
        Text,          // text in the box rect
        BeatBasisIcon, // the note image of beatBasis in rect
        DrumIcon,      // drum's icon scaled into rect at opacity
        EmptyState,    // the text of emptyState centred in rect
    };
    Kind kind = Kind::Fill;
    ORPRect rect;
    ORPDrawColor color;
    ORPDrawColor endColor;
    double angle = 0;
    double lineWidth = 0;
    ORPTextStyle textStyle = ORPTextStyle::BarNumber;
    std::string text;
    float beatBasis = 0;
    ORPDrumPtr drum;
    double opacity = 1;
    ORPPatternDrawSource::EmptyState emptyState = ORPPatternDrawSource::EmptyState::None;
};

// What the view knows about itself when it is asked to draw.
struct ORPPatternDrawState {
    ORPRect dirtyRect;
    ORPRect visibleRect;
    bool windowIsKey = false;
    bool firstResponder = false; // the editor is its window's first responder
    bool blinkShown = true;      // the insertion point's blink phase
};

// The pattern editor's picture of one dirty rectangle as a list of primitives: the empty states or
// the bars that meet the rectangle, then the drop marker or the insertion point on top. Qt-free; the
// painter in src/widgets turns it into pixels.
class ORPPatternDrawList {
public:
    static constexpr double kCell = 18;
    static constexpr double kHeader = 24;
    static constexpr double kFooter = 20;

    static ORPPatternDrawList build(
        const ORPPatternDrawSource& source, const ORPPatternDrawState& state, const ORPTextMeasurer& measurer);

    const std::vector<ORPDrawItem>& items() const { return items_; }

    // One bar, limited to `rect` (its intersection with the dirty rectangle).
    void appendPatternInstance(const ORPPatternInstance& instance, const ORPRect& rect);

    // The colours the section and playlist tables share with the editor.
    static ORPDrawColor sectionTextColor();
    static ORPDrawColor sectionMarkerTextColor();

    // The resource name of an empty state's text ("ORPPE_No_Selection" ...); empty for None.
    static std::string resourceNameForEmptyState(ORPPatternDrawSource::EmptyState state);

    // `text` shortened by removing characters from its middle (replaced by an ellipsis) until it fits
    // `width`; unchanged when it fits, empty when not even the ellipsis fits.
    static std::string truncateMiddle(
        const std::string& text, double width, ORPTextStyle style, const ORPTextMeasurer& measurer);

    static bool intersects(const ORPRect& a, const ORPRect& b);
    static ORPRect intersection(const ORPRect& a, const ORPRect& b);

private:
    ORPPatternDrawList(const ORPPatternDrawSource& source, const ORPPatternDrawState& state,
        const ORPTextMeasurer& measurer);

    void appendHeader(const ORPPatternInstance& instance, const ORPRect& frame, bool focused);
    void appendTopLayer();
    ORPDrawColor selectionColor(float alpha) const;

    void fill(const ORPRect& rect, const ORPDrawColor& color);
    void gradient(const ORPRect& rect, const ORPDrawColor& from, const ORPDrawColor& to, double angle);
    void line(double x0, double y0, double x1, double y1, double width, const ORPDrawColor& color);
    void text(const ORPRect& box, ORPTextStyle style, std::string content);

    const ORPPatternDrawSource* source_;
    ORPPatternDrawState state_;
    const ORPTextMeasurer* measurer_;
    bool focused_ = false;
    std::vector<ORPDrawItem> items_;
};
