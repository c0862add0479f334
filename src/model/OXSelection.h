#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"

#include <memory>
#include <string>
#include <vector>

namespace rp {
class KeyedUnarchiver;
}

// The selected parts of one bar: disjoint, non-touching half-open ranges of places, stored flat as
// [s0, e0, s1, e1, ...] with s0 < e0 < s1 < e1 < ... . No notifications, no undo.
class OXSelection : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    OXSelection() = default;

    std::string archiveClassName() const override { return "OXSelection"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static std::shared_ptr<OXSelection> initWithCoder(rp::KeyedUnarchiver& coder);
    static void registerArchiveClasses();

    const std::vector<float>& rangeArray() const { return ranges_; }
    bool anySelection() const { return !ranges_.empty(); }
    bool isSelected(float x) const;
    // 1: [a, b) lies inside one range; 2: it overlaps a range only partly; 0: it overlaps none.
    int selectionFrom(float a, float b) const;
    void select(bool flag, float from, float to);
    void addSelection(const OXSelection& other);
    void normalizeToGranularity(float granularity);
    std::string description() const;

private:
    void add(float a, float b);
    void remove(float a, float b);

    std::vector<float> ranges_;
};

// Rounds half away from zero (as the model's arithmetic does everywhere).
double orpRoundHalfAway(double value);
