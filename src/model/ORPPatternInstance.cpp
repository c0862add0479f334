#include "model/ORPPatternInstance.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"

ORPPatternInstance::ORPPatternInstance(ORPPatternPtr pattern, const ORPSectionMarkerPtr& sectionMarker)
    : pattern_(std::move(pattern))
    , sectionMarker_(sectionMarker)
    , selection_(std::make_shared<OXSelection>())
{
}

void ORPPatternInstance::setBarNumberInSong(int16_t inSong, int16_t inSectionMarker, float cueTime)
{
    barNumInSong_ = inSong;
    barNumInMarker_ = inSectionMarker;
    cueTime_ = cueTime;
}

std::vector<ORPPatternInstancePtr> ORPPatternInstance::instancesForPlaylist(const ORPSong& song)
{
    std::vector<ORPPatternInstancePtr> result;
    ORPPatternInstancePtr previous;
    for (const auto& marker : song.sectionMarkerList()) {
        const auto& section = marker->section();
        if (!section)
            continue;
        int64_t barInSong = marker->firstBarNumber();
        int64_t barInMarker = 1;
        double cue = marker->cueTime();
        for (int16_t time = 0; time < marker->numberOfTimes(); ++time) {
            for (const auto& pattern : section->patterns()) {
                if (barInSong > INT16_MAX)
                    return result;
                auto instance = initWithPattern(pattern, marker);
                instance->setBarNumberInSong(static_cast<int16_t>(barInSong),
                    static_cast<int16_t>(barInMarker), static_cast<float>(cue));
                instance->setPreviousPatternInstance(previous);
                result.push_back(instance);
                previous = instance;
                ++barInSong;
                ++barInMarker;
                cue += pattern->duration();
            }
        }
    }
    return result;
}

std::vector<ORPPatternInstancePtr> ORPPatternInstance::instancesForSection(const ORPSection& section)
{
    std::vector<ORPPatternInstancePtr> result;
    ORPPatternInstancePtr previous;
    double cue = 0;
    int64_t bar = 1;
    for (const auto& pattern : section.patterns()) {
        if (bar > INT16_MAX)
            break;
        auto instance = initWithPattern(pattern, nullptr);
        instance->setBarNumberInSong(
            static_cast<int16_t>(bar), static_cast<int16_t>(bar), static_cast<float>(cue));
        instance->setPreviousPatternInstance(previous);
        result.push_back(instance);
        previous = instance;
        ++bar;
        cue += pattern->duration();
    }
    return result;
}

int ORPPatternInstance::barNumberCompare(const ORPPatternInstance& other) const
{
    if (barNumInSong_ < other.barNumInSong_)
        return -1;
    return barNumInSong_ > other.barNumInSong_ ? 1 : 0;
}

void ORPPatternInstance::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeObject(pattern_, "ORPPI_pattern");
    coder.encodeConditionalObject(sectionMarker(), "ORPPI_sectionMarker");
    coder.encodeObject(selection_, "ORPPI_selection");
}

ORPPatternInstancePtr ORPPatternInstance::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto pattern = coder.decodeObjectOfClassForKey<ORPPattern>("ORPPI_pattern");
    auto marker = coder.decodeObjectOfClassForKey<ORPSectionMarker>("ORPPI_sectionMarker");
    auto selection = coder.decodeObjectOfClassForKey<OXSelection>("ORPPI_selection");
    if (!pattern)
        pattern = ORPPattern::pattern();
    auto instance = initWithPattern(std::move(pattern), marker);
    if (selection)
        instance->selection_ = selection;
    return instance;
}
