#include "model/OXSelection.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

double orpRoundHalfAway(double value)
{
    // std::round rounds halfway cases away from zero.
    return std::round(value);
}

bool OXSelection::isSelected(float x) const
{
    for (size_t i = 0; i + 1 < ranges_.size(); i += 2) {
        if (ranges_[i] <= x && x < ranges_[i + 1])
            return true;
    }
    return false;
}

int OXSelection::selectionFrom(float a, float b) const
{
    for (size_t i = 0; i + 1 < ranges_.size(); i += 2) {
        float s = ranges_[i];
        float e = ranges_[i + 1];
        if (e <= a)
            continue;
        if (s >= b)
            return 0;
        if (s <= a && b <= e)
            return 1;
        return 2;
    }
    return 0;
}

void OXSelection::select(bool flag, float from, float to)
{
    if (!(to > from))
        return;
    if (flag)
        add(from, to);
    else
        remove(from, to);
}

void OXSelection::add(float a, float b)
{
    if (ranges_.empty()) {
        ranges_ = { a, b };
        return;
    }
    size_t k = ranges_.size();
    for (size_t i = 0; i + 1 < ranges_.size(); i += 2) {
        if (ranges_[i] <= a && b <= ranges_[i + 1])
            return;
        if (ranges_[i] > a) {
            k = i;
            break;
        }
    }
    // Position of the next range to examine after the start of the growing range is settled.
    size_t pos;
    if (k >= 2 && ranges_[k - 1] >= a) {
        // Join the preceding range: its end goes, its start starts the growing range.
        ranges_.erase(ranges_.begin() + static_cast<std::ptrdiff_t>(k - 1));
        pos = k - 1;
    } else {
        ranges_.insert(ranges_.begin() + static_cast<std::ptrdiff_t>(k), a);
        pos = k + 1;
    }
    while (pos < ranges_.size()) {
        float s = ranges_[pos];
        if (s > b) {
            ranges_.insert(ranges_.begin() + static_cast<std::ptrdiff_t>(pos), b);
            return;
        }
        ranges_.erase(ranges_.begin() + static_cast<std::ptrdiff_t>(pos)); // its start
        if (ranges_[pos] >= b)
            return; // its end ends the growing range
        ranges_.erase(ranges_.begin() + static_cast<std::ptrdiff_t>(pos)); // swallowed
    }
    ranges_.push_back(b);
}

void OXSelection::remove(float a, float b)
{
    if (a <= 0 && b >= 1) {
        ranges_.clear();
        return;
    }
    size_t i = 0;
    while (i + 1 < ranges_.size()) {
        float s = ranges_[i];
        float e = ranges_[i + 1];
        auto at = ranges_.begin() + static_cast<std::ptrdiff_t>(i);
        if (b <= s)
            return;
        if (e <= a) {
            i += 2;
        } else if (a <= s && e <= b) {
            ranges_.erase(at, at + 2);
        } else if (s < a && b < e) {
            ranges_[i + 1] = a;
            ranges_.insert(ranges_.begin() + static_cast<std::ptrdiff_t>(i + 2), { b, e });
            return;
        } else if (a <= s && b < e) {
            ranges_[i] = b;
            return;
        } else {
            ranges_[i + 1] = a;
            i += 2;
        }
    }
}

void OXSelection::addSelection(const OXSelection& other)
{
    const std::vector<float> theirs = other.ranges_; // other may be this selection
    for (size_t i = 0; i + 1 < theirs.size(); i += 2)
        select(true, theirs[i], theirs[i + 1]);
}

void OXSelection::normalizeToGranularity(float granularity)
{
    if (!(granularity > 0) || !std::isfinite(granularity))
        return;
    const double g = granularity;
    const std::vector<float> copy = ranges_;
    for (size_t i = 0; i + 1 < copy.size(); i += 2) {
        double s = orpRoundHalfAway((copy[i] - 0.0001) / g) * g;
        double e = (1.0 / g - orpRoundHalfAway((1.0 - copy[i + 1]) / g)) * g;
        select(true, static_cast<float>(s), static_cast<float>(e));
    }
}

std::string OXSelection::description() const
{
    if (ranges_.empty())
        return "[0,0)";
    std::string text;
    char buffer[96];
    for (size_t i = 0; i + 1 < ranges_.size(); i += 2) {
        std::snprintf(buffer, sizeof buffer, "[%f,%f) ", static_cast<double>(ranges_[i]),
            static_cast<double>(ranges_[i + 1]));
        text += buffer;
    }
    return text;
}

void OXSelection::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    std::vector<rp::ArchiveObjectPtr> numbers;
    numbers.reserve(ranges_.size());
    for (float value : ranges_)
        numbers.push_back(std::make_shared<rp::ArchivedNumber>(value));
    coder.encodeArrayOfObjects(numbers, "OXS_ranges", true);
}

std::shared_ptr<OXSelection> OXSelection::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto selection = std::make_shared<OXSelection>();
    // Rebuilt through select() so a hostile list cannot break the ordering invariant.
    auto numbers = coder.decodeArrayOfObjectsOfClassForKey<rp::ArchivedNumber>("OXS_ranges");
    for (size_t i = 0; i + 1 < numbers.size(); i += 2) {
        double s = numbers[i]->doubleValue();
        double e = numbers[i + 1]->doubleValue();
        if (std::isfinite(s) && std::isfinite(e))
            selection->select(true, static_cast<float>(std::clamp(s, 0.0, 1.0)),
                static_cast<float>(std::clamp(e, 0.0, 1.0)));
    }
    return selection;
}

void OXSelection::registerArchiveClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        rp::KeyedUnarchiver::registerClass("OXSelection",
            [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr { return initWithCoder(coder); });
    });
}
