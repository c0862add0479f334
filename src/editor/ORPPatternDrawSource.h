#pragma once

#include "model/ORPPatternInstance.h"

#include <cstdint>
#include <vector>

// What drawing the pattern editor reads from it: the bars with their frames, the grid rules, the
// selection, the pointer, the play head, the insertion point and the drop marker. The pattern editor
// implements it; the draw-list builder consumes it (and tests give it a fake). Main thread only.
class ORPPatternDrawSource {
public:
    enum class EmptyState {
        None,           // bars are shown
        NoSelection,    // nothing is edited
        MultiSelection, // two or more sections at once
        SectionEmpty,   // the edited objects give no bars
    };

    virtual ~ORPPatternDrawSource() = default;

    virtual EmptyState emptyState() const = 0;
    // The bars whose frames meet `rect` (view coordinates), in playlist order.
    virtual std::vector<ORPPatternInstancePtr> instancesIntersecting(const ORPRect& rect) const = 0;
    // The size of the whole canvas.
    virtual double contentWidth() const = 0;
    virtual double contentHeight() const = 0;

    virtual int16_t numGroups() const = 0;
    virtual int16_t numDivsForPattern(const ORPPattern& pattern) const = 0;
    // numGroups() slots, each an event or null, for the events exactly at `place`.
    virtual std::vector<ORPEventPtr> eventsByGroupAtRatio(float place, const ORPPattern& pattern) const = 0;
    virtual int32_t defaultGridPositionForDrum(const ORPDrum& drum) const = 0;

    // 0 nothing of division `div` selected, 1 all of it, 2 part of it.
    virtual int patternInstanceIsDivSelected(const ORPPatternInstance& instance, int16_t div) const = 0;
    virtual bool wholeBarSelection() const = 0;
    virtual bool hasSelection() const = 0;

    // The play head: the bar being played (null when stopped) and its division.
    virtual const ORPPatternInstance* playingInstance() const = 0;
    virtual int16_t playingDiv() const = 0;
    virtual bool isPlaying() const = 0;

    // The pointer: the bar, division column and group row under it (-1 header, -2 footer) and the
    // current mouse operation (0..5, 256..258).
    virtual const ORPPatternInstance* hoverInstance() const = 0;
    virtual int16_t hoverDiv() const = 0;
    virtual int16_t hoverGroup() const = 0;
    virtual uint16_t mouseOperation() const = 0;

    // The insertion point: its bar (null when none) and rectangle; the drop marker (zero width when
    // no bar drag is over the editor).
    virtual const ORPPatternInstance* insertionInstance() const = 0;
    virtual ORPRect insertionRect() const = 0;
    virtual ORPRect dropMarkerRect() const = 0;
};
