#include "editor/ORPPatternDrawList.h"

#include "model/ORPPattern.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using EmptyState = ORPPatternDrawSource::EmptyState;
using Role = ORPDrawColor::Role;

constexpr ORPDrawColor kBarWhite = ORPDrawColor::white(0.99f);
constexpr ORPDrawColor kBlack = ORPDrawColor::white(0.0f);
constexpr ORPDrawColor kGrey = ORPDrawColor::white(0.5f);
constexpr ORPDrawColor kLightGrey = ORPDrawColor::white(2.0f / 3.0f);
constexpr ORPDrawColor kHeaderEdgeFrom = ORPDrawColor::rgba(0.42f, 0.31f, 0.40f, 0.10f);
constexpr ORPDrawColor kHeaderEdgeTo = ORPDrawColor::rgba(0.30f, 0.42f, 0.31f, 0.0f);
constexpr ORPDrawColor kEntryEdgeFrom = ORPDrawColor::rgba(0.40f, 0.45f, 0.24f, 0.15f);
constexpr ORPDrawColor kEntryEdgeTo = ORPDrawColor::rgba(0.40f, 0.45f, 0.24f, 0.0f);
constexpr ORPDrawColor kPlay = ORPDrawColor::rgba(0.0f, 0.9f, 0.0f, 0.4f);
constexpr ORPDrawColor kPlayHeaderTo = ORPDrawColor::rgba(0.0f, 0.9f, 0.0f, 0.05f);
constexpr ORPDrawColor kPointer = ORPDrawColor::rgba(0.0f, 0.0f, 1.0f, 0.05f);
constexpr ORPDrawColor kOffGrid = ORPDrawColor::rgba(0.6f, 0.4f, 0.2f, 0.1f);
constexpr ORPDrawColor kRedMarker = ORPDrawColor::rgba(1.0f, 0.0f, 0.0f, 0.4f);

double right(const ORPRect& r) { return r.x + r.width; }
double bottom(const ORPRect& r) { return r.y + r.height; }

std::string formatInt(long long value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld", value);
    return buffer;
}

// Byte offsets where the UTF-8 characters of `text` begin.
std::vector<size_t> characterStarts(const std::string& text)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            starts.push_back(i);
    }
    return starts;
}

} // namespace

ORPDrawColor ORPPatternDrawList::sectionTextColor()
{
    return ORPDrawColor::rgba(0.69f, 0.08f, 0.0f, 1.0f);
}

ORPDrawColor ORPPatternDrawList::sectionMarkerTextColor()
{
    return ORPDrawColor::rgba(0.0f, 0.45f, 0.24f, 1.0f);
}

std::string ORPPatternDrawList::resourceNameForEmptyState(EmptyState state)
{
    switch (state) {
    case EmptyState::NoSelection:
        return "ORPPE_No_Selection";
    case EmptyState::MultiSelection:
        return "ORPPE_Multi_Selection";
    case EmptyState::SectionEmpty:
        return "ORPPE_Section_Empty";
    case EmptyState::None:
        break;
    }
    return {};
}

bool ORPPatternDrawList::intersects(const ORPRect& a, const ORPRect& b)
{
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.x < right(b) && b.x < right(a)
        && a.y < bottom(b) && b.y < bottom(a);
}

ORPRect ORPPatternDrawList::intersection(const ORPRect& a, const ORPRect& b)
{
    if (!intersects(a, b))
        return {};
    const double x0 = std::max(a.x, b.x);
    const double y0 = std::max(a.y, b.y);
    return { x0, y0, std::min(right(a), right(b)) - x0, std::min(bottom(a), bottom(b)) - y0 };
}

std::string ORPPatternDrawList::truncateMiddle(
    const std::string& text, double width, ORPTextStyle style, const ORPTextMeasurer& measurer)
{
    if (measurer.widthOf(style, text) <= width)
        return text;
    static const std::string kEllipsis = "\xE2\x80\xA6"; // U+2026
    const std::vector<size_t> starts = characterStarts(text);
    const size_t count = starts.size();
    // Keep `keep` characters, the larger half at the front; fewer until it fits.
    for (size_t keep = count == 0 ? 0 : count - 1;; --keep) {
        const size_t head = (keep + 1) / 2;
        const size_t tail = keep - head;
        const size_t headEnd = head < count ? starts[head] : text.size();
        const size_t tailBegin = tail == 0 ? text.size() : starts[count - tail];
        std::string candidate = text.substr(0, headEnd) + kEllipsis + text.substr(tailBegin);
        if (measurer.widthOf(style, candidate) <= width)
            return candidate;
        if (keep == 0)
            return {};
    }
}

ORPPatternDrawList::ORPPatternDrawList(
    const ORPPatternDrawSource& source, const ORPPatternDrawState& state, const ORPTextMeasurer& measurer)
    : source_(&source)
    , state_(state)
    , measurer_(&measurer)
    , focused_(state.firstResponder && state.windowIsKey)
{
}

ORPPatternDrawList ORPPatternDrawList::build(
    const ORPPatternDrawSource& source, const ORPPatternDrawState& state, const ORPTextMeasurer& measurer)
{
    ORPPatternDrawList list(source, state, measurer);
    const ORPRect& dirty = state.dirtyRect;
    list.fill(dirty, ORPDrawColor::platform(Role::WindowBackground, 1));

    const EmptyState empty = source.emptyState();
    if (empty != EmptyState::None) {
        list.fill(state.visibleRect, ORPDrawColor::platform(Role::WindowBackground, 1));
        ORPDrawItem item;
        item.kind = ORPDrawItem::Kind::EmptyState;
        item.rect = state.visibleRect;
        item.emptyState = empty;
        list.items_.push_back(std::move(item));
    } else {
        for (const ORPPatternInstancePtr& instance : source.instancesIntersecting(dirty)) {
            const ORPRect part = intersection(instance->frame(), dirty);
            if (part.width > 0)
                list.appendPatternInstance(*instance, part);
        }
    }
    list.appendTopLayer();
    return list;
}

void ORPPatternDrawList::appendTopLayer()
{
    const ORPRect drop = source_->dropMarkerRect();
    if (drop.width != 0) {
        fill(drop, kRedMarker);
        return;
    }
    const ORPRect insertion = source_->insertionRect();
    if (!source_->insertionInstance() || !intersects(insertion, state_.dirtyRect) || source_->hasSelection()
        || source_->isPlaying())
        return;
    const ORPDrawColor steady = ORPDrawColor::platform(Role::SecondarySelectedControl, 0.7f);
    if (!state_.windowIsKey)
        fill(insertion, steady);
    else if (state_.blinkShown)
        fill(insertion, state_.firstResponder ? kRedMarker : steady);
}

ORPDrawColor ORPPatternDrawList::selectionColor(float alpha) const
{
    return ORPDrawColor::platform(focused_ ? Role::SelectedControl : Role::SecondarySelectedControl, alpha);
}

void ORPPatternDrawList::appendPatternInstance(const ORPPatternInstance& instance, const ORPRect& rect)
{
    const ORPPattern& pattern = *instance.pattern();
    const ORPRect frame = instance.frame();
    const double x = frame.x;
    const double y = frame.y;
    const double w = frame.width;
    const double h = frame.height;
    const int n = std::max<int>(1, source_->numDivsForPattern(pattern));
    const int groups = std::max<int>(0, source_->numGroups());
    const float beats = pattern.beats();
    const int wholeBeats = static_cast<int>(beats);
    const int perBeat = std::max(1, wholeBeats > 0 ? n / wholeBeats : n);
    const bool beatNumbers = beats > 5 || perBeat > 2;
    const ORPSectionMarkerPtr marker = instance.sectionMarker();

    fill(rect, kBarWhite);
    if (intersects({ x, y, w, kHeader }, rect))
        appendHeader(instance, frame, focused_);

    // Group lines, only those inside the rectangle.
    for (int g = 1; g <= groups; ++g) {
        const double gy = y + kHeader + kCell * g;
        if (gy >= rect.y - 1 && gy <= bottom(rect) + 1)
            line(rect.x, gy, right(rect), gy, 0.2, kGrey);
    }

    // The bar number under the first column.
    const ORPRect barNumberBox { x + 5, y + h - 18, w, 12 };
    if (intersects(barNumberBox, rect))
        text(barNumberBox, ORPTextStyle::BarNumber, formatInt(instance.barNumberInSong()));

    // Entry edges: the first column of the entry's first bar, the last column of its last bar.
    bool entryStart = false;
    bool entryEnd = false;
    if (marker) {
        const ORPSectionPtr& section = marker->section();
        const long long perRepeat = section ? static_cast<long long>(section->patterns().size()) : 0;
        entryStart = instance.barNumberInSectionMarker() == 1;
        entryEnd = instance.barNumberInSectionMarker() == marker->numberOfTimes() * perRepeat;
    }

    const ORPPatternInstance* playing = source_->playingInstance();
    const bool playingHere = playing == &instance;
    const bool hoverHere = source_->hoverInstance() == &instance
        && (source_->hoverGroup() >= 0 || source_->mouseOperation() == 1);
    const bool wholeBars = source_->wholeBarSelection();
    const ORPPattern::EventSnapshot events = pattern.events();

    // Only the divisions whose lines or columns can touch the rectangle.
    const int first = std::max(0, static_cast<int>(std::floor((rect.x - x - 1) / kCell)));
    const int last = std::min(n - 1, static_cast<int>(std::floor((right(rect) - x + 1) / kCell)));
    std::vector<bool> offGrid(static_cast<size_t>(groups));
    for (int d = first; d <= last; ++d) {
        const double cx = x + kCell * d;
        const bool beatLine = d % perBeat == 0;
        if (cx >= rect.x - 1 && cx <= right(rect) + 1) {
            if (beatLine)
                line(cx, y + kHeader, cx, y + h, 1.0, kLightGrey);
            else
                line(cx, y + kHeader, cx, y + h - kFooter, 0.2, kLightGrey);
        }
        if (beatLine && d > 0 && beatNumbers) {
            const ORPRect box { cx + 5, y + h - 18, 15, 12 };
            if (intersects(box, rect))
                text(box, ORPTextStyle::BeatNumber, formatInt(d / perBeat + 1));
        }

        const ORPRect column { cx, y, kCell, h };
        if (!intersects(column, rect))
            continue;
        if (entryStart && d == 0)
            gradient(column, kEntryEdgeFrom, kEntryEdgeTo, 0);
        if (entryEnd && d == n - 1)
            gradient(column, kEntryEdgeFrom, kEntryEdgeTo, 180);

        const ORPRect grid { cx, y + kHeader, kCell, h - kHeader - kFooter };
        if (playingHere && source_->playingDiv() == d)
            fill(grid, kPlay);
        else if (!wholeBars && source_->patternInstanceIsDivSelected(instance, static_cast<int16_t>(d)) != 0)
            gradient(grid, selectionColor(1.0f), selectionColor(0.5f), 90);
        else if (hoverHere && source_->hoverDiv() == d)
            fill(grid, kPointer);

        if (groups == 0 || !intersects(grid, rect))
            continue;
        // Events strictly between this line and the next are off the grid at this zoom: tint their rows.
        const float lineAt = static_cast<float>(d) / static_cast<float>(n);
        const float nextLine = static_cast<float>(d + 1) / static_cast<float>(n);
        std::fill(offGrid.begin(), offGrid.end(), false);
        if (events) {
            auto it = std::upper_bound(events->begin(), events->end(), lineAt,
                [](float place, const ORPEventPtr& event) { return place < event->whenRatio(); });
            for (; it != events->end() && (*it)->whenRatio() < nextLine; ++it) {
                const ORPDrumPtr drum = (*it)->drum();
                if (!drum)
                    continue;
                const int32_t g = source_->defaultGridPositionForDrum(*drum);
                if (g >= 0 && g < groups)
                    offGrid[static_cast<size_t>(g)] = true;
            }
        }
        const std::vector<ORPEventPtr> atLine = source_->eventsByGroupAtRatio(lineAt, pattern);
        for (int g = 0; g < groups; ++g) {
            const ORPRect cell { cx, y + kHeader + kCell * g, kCell, kCell };
            if (!intersects(cell, rect))
                continue;
            if (offGrid[static_cast<size_t>(g)])
                fill(cell, kOffGrid);
            if (static_cast<size_t>(g) < atLine.size() && atLine[static_cast<size_t>(g)]) {
                const ORPEvent& event = *atLine[static_cast<size_t>(g)];
                ORPDrawItem item;
                item.kind = ORPDrawItem::Kind::DrumIcon;
                item.rect = cell;
                item.drum = event.drum();
                item.opacity = std::clamp(static_cast<double>(event.velocity()), 0.0, 1.0);
                if (item.drum)
                    items_.push_back(std::move(item));
            }
        }
    }

    ORPDrawItem outline;
    outline.kind = ORPDrawItem::Kind::Frame;
    outline.rect = frame;
    outline.color = kBlack;
    outline.lineWidth = 0.8;
    items_.push_back(std::move(outline));
}

void ORPPatternDrawList::appendHeader(const ORPPatternInstance& instance, const ORPRect& frame, bool focused)
{
    const ORPPattern& pattern = *instance.pattern();
    const double x = frame.x;
    const double y = frame.y;
    const double w = frame.width;
    const ORPRect header { x, y, w, kHeader };

    if (source_->playingInstance() == &instance) {
        gradient(header, kPlay, kPlayHeaderTo, 270);
    } else if (source_->wholeBarSelection() && instance.selection() && instance.selection()->anySelection()) {
        const Role role = focused ? Role::SelectedControl : Role::SecondarySelectedControl;
        gradient(header, ORPDrawColor::platform(role, 1.0f), ORPDrawColor::platform(role, 0.5f), 90);
    }
    gradient({ x, y, w, 8 }, kHeaderEdgeFrom, kHeaderEdgeTo, 90);
    gradient({ x, y + 16, w, 8 }, kHeaderEdgeFrom, kHeaderEdgeTo, 270);

    const ORPPatternInstancePtr previous = instance.previousPatternInstance();
    const ORPPattern* before = previous ? previous->pattern().get() : nullptr;

    double textStart = x + 5;
    if (!before || before->timeSignatureTop() != pattern.timeSignatureTop()
        || before->timeSignatureBottom() != pattern.timeSignatureBottom()) {
        const std::string top = formatInt(pattern.timeSignatureTop());
        const std::string lower = formatInt(pattern.timeSignatureBottom());
        const double column = std::max(measurer_->widthOf(ORPTextStyle::TimeSignature, top),
            measurer_->widthOf(ORPTextStyle::TimeSignature, lower));
        text({ x + 6, y, column, 12 }, ORPTextStyle::TimeSignature, top);
        text({ x + 6, y + 9, column, 12 }, ORPTextStyle::TimeSignature, lower);
        textStart = x + 6 + column + 3;
    }

    double titleX = textStart;
    if (!before || before->bpm() != pattern.bpm() || before->beatBasis() != pattern.beatBasis()) {
        ORPDrawItem icon;
        icon.kind = ORPDrawItem::Kind::BeatBasisIcon;
        icon.rect = { textStart, y + 4, 16, 16 };
        icon.beatBasis = pattern.beatBasis();
        items_.push_back(std::move(icon));
        const std::string tempo = "= " + formatInt(std::llround(pattern.bpm()));
        const double textX = textStart + 16 - 3;
        const double width = measurer_->widthOf(ORPTextStyle::BarNumber, tempo);
        text({ textX, y + 4, width, 16 }, ORPTextStyle::BarNumber, tempo);
        titleX = textX + width + 5;
    }

    const ORPSectionMarkerPtr marker = instance.sectionMarker();
    if (!marker)
        return;
    const ORPRect box { titleX, y + 5, x + w - 6 - titleX, 15 };
    std::string title;
    const ORPSectionPtr& section = marker->section();
    if (instance.barNumberInSectionMarker() == 1) {
        title = "\xE2\x9D\x9A " + marker->name(); // U+275A
    } else if (section && !section->patterns().empty() && section->patterns().front() == instance.pattern()) {
        const long long perRepeat = static_cast<long long>(section->patterns().size());
        title = " \xE2\x9C\x95 " + formatInt((instance.barNumberInSectionMarker() - 1) / perRepeat + 1); // U+2715
    }
    if (title.empty() || box.width <= 0)
        return;
    title = truncateMiddle(title, box.width, ORPTextStyle::EntryTitle, *measurer_);
    if (!title.empty())
        text(box, ORPTextStyle::EntryTitle, std::move(title));
}

void ORPPatternDrawList::fill(const ORPRect& rect, const ORPDrawColor& color)
{
    ORPDrawItem item;
    item.kind = ORPDrawItem::Kind::Fill;
    item.rect = rect;
    item.color = color;
    items_.push_back(std::move(item));
}

void ORPPatternDrawList::gradient(const ORPRect& rect, const ORPDrawColor& from, const ORPDrawColor& to, double angle)
{
    ORPDrawItem item;
    item.kind = ORPDrawItem::Kind::Gradient;
    item.rect = rect;
    item.color = from;
    item.endColor = to;
    item.angle = angle;
    items_.push_back(std::move(item));
}

void ORPPatternDrawList::line(double x0, double y0, double x1, double y1, double width, const ORPDrawColor& color)
{
    ORPDrawItem item;
    item.kind = ORPDrawItem::Kind::Line;
    item.rect = { x0, y0, x1 - x0, y1 - y0 };
    item.color = color;
    item.lineWidth = width;
    items_.push_back(std::move(item));
}

void ORPPatternDrawList::text(const ORPRect& box, ORPTextStyle style, std::string content)
{
    ORPDrawItem item;
    item.kind = ORPDrawItem::Kind::Text;
    item.rect = box;
    item.textStyle = style;
    item.text = std::move(content);
    items_.push_back(std::move(item));
}
