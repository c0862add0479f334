#pragma once

#include "model/ORPSong.h"
#include "model/OXSelection.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class ORPPatternInstance;
using ORPPatternInstancePtr = std::shared_ptr<ORPPatternInstance>;

// A rectangle in the editor's coordinates.
struct ORPRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const ORPRect&) const = default;
};

// One appearance of one pattern on the song's time line: its bar numbers, cue time, the start the
// player gives it on its rendering clock, its frame in the editor and the selected places in it.
class ORPPatternInstance : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    ORPPatternInstance(ORPPatternPtr pattern, const ORPSectionMarkerPtr& sectionMarker);
    ORPPatternInstance(const ORPPatternInstance&) = delete;
    ORPPatternInstance& operator=(const ORPPatternInstance&) = delete;

    static ORPPatternInstancePtr initWithPattern(
        ORPPatternPtr pattern, const ORPSectionMarkerPtr& sectionMarker)
    {
        return std::make_shared<ORPPatternInstance>(std::move(pattern), sectionMarker);
    }

    const ORPPatternPtr& pattern() const { return pattern_; }
    void setPattern(ORPPatternPtr pattern) { pattern_ = std::move(pattern); }
    ORPSectionMarkerPtr sectionMarker() const { return sectionMarker_.lock(); }
    ORPPatternInstancePtr previousPatternInstance() const { return prevInstance_.lock(); }
    void setPreviousPatternInstance(const ORPPatternInstancePtr& previous) { prevInstance_ = previous; }

    int16_t barNumberInSong() const { return barNumInSong_; }
    int16_t barNumberInSectionMarker() const { return barNumInMarker_; }
    void setBarNumberInSong(int16_t inSong, int16_t inSectionMarker, float cueTime);
    float cueTime() const { return cueTime_; }
    // Written by the player, read by the editor's timer: atomic. Seconds on an output clock that may
    // have run for days, so a double (a float would round to milliseconds after hours).
    double renderCueTime() const { return renderCueTime_.load(std::memory_order_relaxed); }
    void setRenderCueTime(double time) { renderCueTime_.store(time, std::memory_order_relaxed); }
    const ORPRect& frame() const { return frame_; }
    void setFrame(const ORPRect& frame) { frame_ = frame; }
    const std::shared_ptr<OXSelection>& selection() const { return selection_; }

    // The playlist laid out bar by bar: each entry's patterns repeated its number of times, bar
    // numbers from the entry's first bar (and from 1 within the entry), cue times from the entry's,
    // each instance linked to the one before it. Bar numbers beyond 32767 are not representable and
    // stop the layout.
    static std::vector<ORPPatternInstancePtr> instancesForPlaylist(const ORPSong& song);
    // One section alone: laid out once from bar 1 and time 0, without a playlist entry.
    static std::vector<ORPPatternInstancePtr> instancesForSection(const ORPSection& section);

    // Orders by bar number in the song: -1, 0 or 1.
    int barNumberCompare(const ORPPatternInstance& other) const;

    std::string archiveClassName() const override { return "ORPPatternInstance"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static ORPPatternInstancePtr initWithCoder(rp::KeyedUnarchiver& coder);

private:
    ORPPatternPtr pattern_;
    std::weak_ptr<ORPSectionMarker> sectionMarker_;
    std::weak_ptr<ORPPatternInstance> prevInstance_;
    ORPRect frame_;
    int16_t barNumInSong_ = 0;
    int16_t barNumInMarker_ = 0;
    float cueTime_ = 0;
    std::atomic<double> renderCueTime_ { 0 };
    std::shared_ptr<OXSelection> selection_;
};
