#pragma once

#include "editor/ORPPatternDrawList.h"
#include "model/ORPPattern.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rp::test {

// A drawing source over hand-made bars: rows of `barsPerRow` bars from (0, 0), every bar as high as
// the groups need. Fields are public so a test sets exactly the state it draws.
class FakePatternDrawSource : public ORPPatternDrawSource {
public:
    EmptyState empty = EmptyState::None;
    std::vector<ORPPatternInstancePtr> instances;
    int16_t groups = 4;
    std::map<const ORPDrum*, int32_t> gridPositions;
    bool wholeBars = false;
    bool selection = false;
    const ORPPatternInstance* playing = nullptr;
    int16_t playDiv = -1;
    bool playingNow = false;
    const ORPPatternInstance* hover = nullptr;
    int16_t hoverColumn = -1;
    int16_t hoverRow = -1;
    uint16_t operation = 0;
    const ORPPatternInstance* insertion = nullptr;
    ORPRect insertionFrame;
    ORPRect dropMarker;

    double rowHeight() const { return groups * 18.0 + 44.0; }

    // Appends a bar of `pattern` (in `marker` when given) after the last one, linked to it.
    ORPPatternInstancePtr addBar(const ORPPatternPtr& pattern, const ORPSectionMarkerPtr& marker = nullptr,
        int16_t barInMarker = 1)
    {
        auto instance = ORPPatternInstance::initWithPattern(pattern, marker);
        const int16_t number = static_cast<int16_t>(instances.size() + 1);
        instance->setBarNumberInSong(number, marker ? barInMarker : number, 0);
        if (!instances.empty())
            instance->setPreviousPatternInstance(instances.back());
        instances.push_back(instance);
        return instance;
    }

    void layout(int barsPerRow)
    {
        rowStarts_.clear();
        double x = 0;
        double y = 0;
        for (size_t i = 0; i < instances.size(); ++i) {
            if (i % static_cast<size_t>(barsPerRow) == 0) {
                x = 0;
                y = static_cast<double>(i / static_cast<size_t>(barsPerRow)) * rowHeight();
                rowStarts_.push_back(i);
            }
            const double w = numDivsForPattern(*instances[i]->pattern()) * 18.0;
            instances[i]->setFrame({ x, y, w, rowHeight() });
            x += w;
            width_ = std::max(width_, x);
        }
        height_ = static_cast<double>(rowStarts_.size()) * rowHeight();
    }

    EmptyState emptyState() const override { return empty; }

    std::vector<ORPPatternInstancePtr> instancesIntersecting(const ORPRect& rect) const override
    {
        ++intersectCalls;
        std::vector<ORPPatternInstancePtr> result;
        if (rowStarts_.empty())
            return result;
        const auto firstRow = static_cast<size_t>(std::max(0.0, std::floor(rect.y / rowHeight())));
        for (size_t row = firstRow; row < rowStarts_.size(); ++row) {
            if (static_cast<double>(row) * rowHeight() >= rect.y + rect.height)
                break;
            const size_t end = row + 1 < rowStarts_.size() ? rowStarts_[row + 1] : instances.size();
            for (size_t i = rowStarts_[row]; i < end; ++i) {
                if (ORPPatternDrawList::intersects(instances[i]->frame(), rect))
                    result.push_back(instances[i]);
            }
        }
        return result;
    }
    double contentWidth() const override { return width_; }
    double contentHeight() const override { return height_; }

    int16_t numGroups() const override { return groups; }
    int16_t numDivsForPattern(const ORPPattern& pattern) const override
    {
        static const int perBeat[] = { 1, 2, 3, 4, 6, 8, 12 };
        if (pattern.zoomLevel() < 0)
            return 1;
        return static_cast<int16_t>(pattern.beats() * static_cast<float>(perBeat[pattern.zoomLevel()]));
    }
    std::vector<ORPEventPtr> eventsByGroupAtRatio(float place, const ORPPattern& pattern) const override
    {
        std::vector<ORPEventPtr> rows(static_cast<size_t>(groups));
        for (const ORPEventPtr& event : pattern.eventsAtPlace(place)) {
            const int32_t g = defaultGridPositionForDrum(*event->drum());
            for (int k = 0; k < groups; ++k) {
                if (g + k < groups && !rows[static_cast<size_t>(g + k)]) {
                    rows[static_cast<size_t>(g + k)] = event;
                    break;
                }
                if (g - k >= 0 && g - k < groups && !rows[static_cast<size_t>(g - k)]) {
                    rows[static_cast<size_t>(g - k)] = event;
                    break;
                }
            }
        }
        return rows;
    }
    int32_t defaultGridPositionForDrum(const ORPDrum& drum) const override
    {
        auto found = gridPositions.find(&drum);
        return found == gridPositions.end() ? 0 : found->second;
    }

    int patternInstanceIsDivSelected(const ORPPatternInstance& instance, int16_t div) const override
    {
        const float n = static_cast<float>(numDivsForPattern(*instance.pattern()));
        return instance.selection()->selectionFrom(static_cast<float>(div) / n, static_cast<float>(div + 1) / n);
    }
    bool wholeBarSelection() const override { return wholeBars; }
    bool hasSelection() const override { return selection; }

    const ORPPatternInstance* playingInstance() const override { return playing; }
    int16_t playingDiv() const override { return playDiv; }
    bool isPlaying() const override { return playingNow; }

    const ORPPatternInstance* hoverInstance() const override { return hover; }
    int16_t hoverDiv() const override { return hoverColumn; }
    int16_t hoverGroup() const override { return hoverRow; }
    uint16_t mouseOperation() const override { return operation; }

    const ORPPatternInstance* insertionInstance() const override { return insertion; }
    ORPRect insertionRect() const override { return insertionFrame; }
    ORPRect dropMarkerRect() const override { return dropMarker; }

    mutable int intersectCalls = 0;

private:
    std::vector<size_t> rowStarts_;
    double width_ = 0;
    double height_ = 0;
};

// A bar at `bpm` on the quarter, 4/4 and zoom level 1 (two divisions a beat) unless told otherwise.
inline ORPPatternPtr makeBar(float bpm = 120, int16_t top = 4, int16_t bottom = 4, int16_t zoom = 1)
{
    auto pattern = ORPPattern::pattern();
    pattern->setTimeSignatureTop(top, bottom);
    pattern->setBpm(bpm, pattern->beatBasis());
    pattern->setZoomLevel(zoom);
    return pattern;
}

// `count` bars of 16 hits each (four drums on the sixteenths), four bars a row: the big song.
inline void fillBigSong(FakePatternDrawSource& source, int count, std::vector<ORPDrumPtr>& drums)
{
    for (int g = 0; g < 4; ++g) {
        auto drum = ORPDrum::drum();
        drum->setTypeName("drum " + std::to_string(g));
        source.gridPositions[drum.get()] = g;
        drums.push_back(drum);
    }
    for (int i = 0; i < count; ++i) {
        auto pattern = makeBar(i % 100 == 0 ? 100.0f + static_cast<float>(i % 7) : 100.0f, 4, 4, 3);
        for (int k = 0; k < 16; ++k)
            pattern->addEventWithDrum(drums[static_cast<size_t>(k % 4)], 0.5f + 0.03f * static_cast<float>(k),
                static_cast<float>(k) / 16.0f);
        source.addBar(pattern);
    }
    source.layout(4);
}

// Characters of a fixed width (multi-byte UTF-8 sequences count as one character).
class FixedWidthMeasurer : public ORPTextMeasurer {
public:
    explicit FixedWidthMeasurer(double perCharacter = 6) : perCharacter_(perCharacter) { }
    double widthOf(ORPTextStyle, const std::string& utf8) const override
    {
        double count = 0;
        for (unsigned char c : utf8)
            count += (c & 0xC0) != 0x80 ? 1 : 0;
        return count * perCharacter_;
    }

private:
    double perCharacter_;
};

} // namespace rp::test
