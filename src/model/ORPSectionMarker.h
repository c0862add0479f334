#pragma once

#include "model/ORPSection.h"

#include <cstdint>
#include <memory>
#include <string>

class ORPSectionMarker;
using ORPSectionMarkerPtr = std::shared_ptr<ORPSectionMarker>;

inline constexpr const char* ORPSectionMarkerRenamedNotification = "ORPSectionMarkerRenamedNotification";
inline constexpr const char* ORPSectionMarkerSectionChangedNotification
    = "ORPSectionMarkerSectionChangedNotification";

// A playlist entry: a section (held, not owned) played a number of times in a row. Its cue time and
// first bar number are kept by the song's overview. Main thread only.
class ORPSectionMarker : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    ORPSectionMarker(); // named the localized "unnamed", no section, played once
    ~ORPSectionMarker() override;
    ORPSectionMarker(const ORPSectionMarker&) = delete;
    ORPSectionMarker& operator=(const ORPSectionMarker&) = delete;

    static ORPSectionMarkerPtr sectionMarker() { return std::make_shared<ORPSectionMarker>(); }
    // The same section, a copy of the name, the same cue time, first bar and repeat count.
    ORPSectionMarkerPtr copy() const;

    const ORPSectionPtr& section() const { return section_; }
    void setSection(const ORPSectionPtr& section);
    const std::string& name() const { return name_; }
    void setName(const std::string& name);
    int16_t numberOfTimes() const { return numberOfTimes_; }
    // 0 keeps the entry in the playlist without playing it (no bars, no time); a negative count is
    // refused.
    void setNumberOfTimes(int16_t times);
    float cueTime() const { return cueTime_; }
    uint32_t firstBarNumber() const { return firstBarNumber_; }
    void setCueTime(float cueTime, uint32_t firstBarNumber);
    rp::UndoManager* undoManager() const;

    std::string archiveClassName() const override { return "ORPSectionMarker"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static ORPSectionMarkerPtr initWithCoder(rp::KeyedUnarchiver& coder);

private:
    void registerUndo(std::function<void(ORPSectionMarker&)> inverse, rp::UndoManager* manager = nullptr);

    ORPSectionPtr section_;
    std::string name_;
    int16_t numberOfTimes_ = 1;
    float cueTime_ = 0;
    uint32_t firstBarNumber_ = 1;
};
