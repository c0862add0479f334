#include "model/ORPPattern.h"

#include "foundation/Logger.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UndoManager.h"
#include "model/ORPSection.h"
#include "model/OXSelection.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

struct BeatBasisRow {
    float basis;
    int legacyCode;
    const char* iconName;
};

const BeatBasisRow kBeatBases[] = {
    { 1.0f, 10, "note-1" },
    { 4.0f / 3.0f, 25, "note-2dot" },
    { 2.0f, 20, "note-2" },
    { 8.0f / 3.0f, 45, "note-4dot" },
    { 4.0f, 40, "note-4" },
    { 16.0f / 3.0f, 85, "note-8dot" },
    { 8.0f, 80, "note-8" },
    { 32.0f / 3.0f, 165, "note-16dot" },
    { 16.0f, 160, "note-16" },
};

// Places arrive as 32-bit floats: k / T for a beat boundary k may be stored a hair below k / T, so
// snapping a place to its written beat allows this much (in beats) before truncating.
constexpr double kBeatSnapTolerance = 1e-5;

} // namespace

ORPPattern::ORPPattern()
    : events_(std::make_shared<const EventList>())
{
}

ORPPattern::~ORPPattern() = default;

ORPPatternPtr ORPPattern::copy() const
{
    auto result = pattern();
    result->tsTop_ = timeSignatureTop();
    result->tsBottom_ = timeSignatureBottom();
    result->beatBasis_ = beatBasis();
    result->duration_ = duration();
    result->zoomLevel_ = zoomLevel();
    EventList copies;
    for (const auto& event : *events())
        copies.push_back(event->copy());
    result->replaceEvents(std::move(copies));
    return result;
}

std::vector<float> ORPPattern::allBeatBases()
{
    std::vector<float> bases;
    for (const auto& row : kBeatBases)
        bases.push_back(row.basis);
    return bases;
}

std::optional<std::string> ORPPattern::iconNameForBeatBasis(float basis)
{
    for (const auto& row : kBeatBases) {
        if (row.basis == basis)
            return std::string(row.iconName);
    }
    return std::nullopt;
}

bool ORPPattern::isTableBeatBasis(float basis)
{
    return iconNameForBeatBasis(basis).has_value();
}

std::optional<float> ORPPattern::beatBasisForLegacyCode(int64_t code)
{
    for (const auto& row : kBeatBases) {
        if (row.legacyCode == code)
            return row.basis;
    }
    return std::nullopt;
}

float ORPPattern::beatBasisForTimeSignatureTop(int16_t top, int16_t bottom)
{
    switch (bottom) {
    case 1:
        return 1.0f;
    case 2:
        return 2.0f;
    case 4:
        return 4.0f;
    case 8:
        return top % 3 == 0 ? 8.0f / 3.0f : 8.0f;
    default:
        return top % 3 == 0 ? 16.0f / 3.0f : 16.0f;
    }
}

float ORPPattern::beats() const
{
    return static_cast<float>(
        static_cast<double>(timeSignatureTop()) * beatBasis() / static_cast<double>(timeSignatureBottom()));
}

float ORPPattern::bpm() const
{
    return static_cast<float>(orpRoundHalfAway(static_cast<double>(beats()) * 60.0 / duration()));
}

rp::UndoManager* ORPPattern::undoManager() const
{
    auto section = parentSection();
    return section ? section->undoManager() : nullptr;
}

void ORPPattern::registerUndo(std::function<void(ORPPattern&)> inverse)
{
    rp::UndoManager* manager = undoManager();
    if (!manager)
        return;
    std::weak_ptr<ORPPattern> weakSelf = std::static_pointer_cast<ORPPattern>(shared_from_this());
    manager->registerUndo(this, [weakSelf, inverse = std::move(inverse)] {
        if (auto self = weakSelf.lock())
            inverse(*self);
    });
}

void ORPPattern::post(const char* name, ORPUserInfo info, bool withInfo)
{
    if (withInfo)
        rp::NotificationCenter::defaultCenter().post(name, this, std::move(info));
    else
        rp::NotificationCenter::defaultCenter().post(name, this);
}

void ORPPattern::setTimeSignatureTop(int16_t top, int16_t bottom)
{
    if (top == timeSignatureTop() && bottom == timeSignatureBottom())
        return;
    // A bar has at least one written beat of a real note value: anything else divides by zero.
    if (top < 1 || bottom < 1)
        return;
    int16_t oldTop = timeSignatureTop();
    int16_t oldBottom = timeSignatureBottom();
    registerUndo([oldTop, oldBottom](ORPPattern& self) { self.setTimeSignatureTop(oldTop, oldBottom); });
    tsTop_ = top;
    tsBottom_ = bottom;
    post(ORPPatternGeometryChangedNotification, { { "timeSignature", nullptr } });
}

void ORPPattern::setBpm(float newBpm, float basis)
{
    // A tempo of zero or below (or not a number) would make the duration infinite or negative.
    if (!(newBpm > 0) || !std::isfinite(newBpm) || !(basis > 0) || !std::isfinite(basis))
        return;
    bool basisChanged = basis != beatBasis();
    if (!basisChanged && newBpm == bpm())
        return;
    // The bar's beats counted in the new basis (the same sum as beats()).
    const auto newBeats = static_cast<float>(
        static_cast<double>(timeSignatureTop()) * basis / static_cast<double>(timeSignatureBottom()));
    restoreTempo(static_cast<float>(static_cast<double>(newBeats) * 60.0 / newBpm), basis);
}

void ORPPattern::restoreTempo(float exactDuration, float basis)
{
    // The inverse restores the exact duration: a tempo rounded to whole beats a minute would not
    // bring back a bar of, say, 2.1 s.
    const float oldDuration = duration();
    const float oldBasis = beatBasis();
    registerUndo([oldDuration, oldBasis](ORPPattern& self) { self.restoreTempo(oldDuration, oldBasis); });
    const bool basisChanged = basis != oldBasis;
    beatBasis_ = basis;
    duration_ = exactDuration;
    if (basisChanged)
        post(ORPPatternGeometryChangedNotification, {}, false);
    else
        post(ORPPatternTempoChangedNotification, {}, false);
}

void ORPPattern::insertBeats(int64_t count, float place)
{
    const int64_t top = timeSignatureTop();
    if (count < 1 || !std::isfinite(place) || top + count > std::numeric_limits<int16_t>::max())
        return;
    const double T = static_cast<double>(top);
    const double newT = static_cast<double>(top + count);
    const double N = static_cast<double>(count);
    const double snappedBeat = std::trunc(T * place + kBeatSnapTolerance);
    const double q = snappedBeat / T;
    const double from = q * T / newT;
    registerUndo([from, to = from + N / newT](ORPPattern& self) {
        self.deleteBeatsFromPlace(static_cast<float>(from), static_cast<float>(to));
    });
    for (const auto& event : *events()) {
        double x = static_cast<double>(event->whenRatio()) * T;
        double ratio = x >= snappedBeat - kBeatSnapTolerance ? (x + N) / newT : x / newT;
        event->setWhenRatio(static_cast<float>(ratio));
    }
    duration_ = static_cast<float>(static_cast<double>(duration()) * newT / T);
    tsTop_ = static_cast<int16_t>(top + count);
    post(ORPPatternGeometryChangedNotification, { { "beats+", nullptr } });
}

int64_t ORPPattern::deleteBeatsFromPlace(float from, float to)
{
    if (!std::isfinite(from) || !std::isfinite(to))
        return 0;
    const int64_t top = timeSignatureTop();
    const double T = static_cast<double>(top);
    const double fromBeat = std::clamp(std::trunc(T * from + kBeatSnapTolerance), 0.0, T);
    const double toBeat = std::clamp(T - orpRoundHalfAway(T * (1.0 - static_cast<double>(to))), 0.0, T);
    const int64_t n = static_cast<int64_t>(toBeat) - static_cast<int64_t>(fromBeat);
    const int64_t newTop = top - n;
    // Nothing to delete (an empty or reversed range), or less than one written beat would remain.
    if (n <= 0 || newTop < 1)
        return 0;
    const double newT = static_cast<double>(newTop);
    const EventSnapshot before = events();
    for (const auto& event : *before) {
        double x = static_cast<double>(event->whenRatio()) * T;
        if (x >= fromBeat - kBeatSnapTolerance && x < toBeat - kBeatSnapTolerance) {
            removeEvent(event);
            continue;
        }
        if (x >= toBeat - kBeatSnapTolerance)
            x -= static_cast<double>(n);
        event->setWhenRatio(static_cast<float>(x / newT));
    }
    const double insertPlace = fromBeat / newT;
    registerUndo(
        [n, insertPlace](ORPPattern& self) { self.insertBeats(n, static_cast<float>(insertPlace)); });
    duration_ = static_cast<float>(static_cast<double>(duration()) * newT / T);
    tsTop_ = static_cast<int16_t>(newTop);
    post(ORPPatternGeometryChangedNotification, { { "beats-", nullptr } });
    return n;
}

ORPPattern::EventList ORPPattern::eventsAtPlace(float place) const
{
    EventList found;
    for (const auto& event : *events()) {
        if (event->whenRatio() == place)
            found.push_back(event);
    }
    return found;
}

ORPEventPtr ORPPattern::addEventWithDrum(const ORPDrumPtr& drum, float velocity, float place)
{
    return addEvent(drum, velocity, place, nullptr);
}

ORPEventPtr ORPPattern::addEvent(
    const ORPDrumPtr& drum, float velocity, float place, const ORPEventPtr& reuse)
{
    // Written so that a place that is not a number fails too.
    if (!(place >= 0 && place < 1) || !drum) {
        rp::logf("Invalid place %f to add %s", static_cast<double>(place),
            drum ? drum->description().c_str() : "(null)");
        return nullptr;
    }
    const EventSnapshot current = events();
    size_t index = 0;
    for (const auto& event : *current) {
        float when = event->whenRatio();
        if (when > place)
            break;
        if (when == place && event->drum() && event->drum()->isSameTypeAs(drum)) {
            if (event->drum() != drum)
                changeEvent(event, drum, event->velocity());
            return event;
        }
        if (when < place)
            ++index;
    }
    ORPEventPtr event;
    if (reuse && std::find(current->begin(), current->end(), reuse) == current->end()) {
        event = reuse;
        event->setWhenRatio(place);
        event->setDrum(drum);
        event->setVelocity(velocity);
    } else {
        event = ORPEvent::event(place, drum, velocity);
    }
    EventList updated(*current);
    updated.insert(updated.begin() + static_cast<std::ptrdiff_t>(index), event);
    registerUndo([event](ORPPattern& self) { self.removeEvent(event); });
    replaceEvents(std::move(updated));
    post(ORPPatternEventsModifiedNotification, { { "event+", event } });
    return event;
}

void ORPPattern::changeEvent(const ORPEventPtr& event, const ORPDrumPtr& drum, float velocity)
{
    const EventSnapshot current = events();
    if (!event || std::find(current->begin(), current->end(), event) == current->end())
        return;
    ORPDrumPtr oldDrum = event->drum();
    float oldVelocity = event->velocity();
    registerUndo(
        [event, oldDrum, oldVelocity](ORPPattern& self) { self.changeEvent(event, oldDrum, oldVelocity); });
    event->setDrum(drum);
    event->setVelocity(velocity);
    post(ORPPatternEventsModifiedNotification, { { "event~", event } });
}

void ORPPattern::removeEvent(const ORPEventPtr& event)
{
    const EventSnapshot current = events();
    auto found = event ? std::find(current->begin(), current->end(), event) : current->end();
    if (found == current->end())
        return;
    ORPDrumPtr drum = event->drum();
    float velocity = event->velocity();
    float when = event->whenRatio();
    registerUndo(
        [event, drum, velocity, when](ORPPattern& self) { self.addEvent(drum, velocity, when, event); });
    EventList updated(*current);
    updated.erase(updated.begin() + (found - current->begin()));
    replaceEvents(std::move(updated));
    post(ORPPatternEventsModifiedNotification, { { "event-", event } });
}

bool ORPPattern::setZoomLevel(int16_t level)
{
    if (level < -1 || level > 6)
        return false;
    zoomLevel_ = level;
    return true;
}

std::string ORPPattern::description() const
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%d|%d (%.2fbpm, %.2fs);\n", timeSignatureTop(),
        timeSignatureBottom(), static_cast<double>(bpm()), static_cast<double>(duration()));
    std::string text = buffer;
    for (const auto& event : *events()) {
        auto drum = event->drum();
        std::snprintf(buffer, sizeof buffer, "  %.5f ", static_cast<double>(event->whenRatio()));
        text += buffer;
        text += drum ? drum->description() : "(null)";
        std::snprintf(buffer, sizeof buffer, " (%.2f)\n", static_cast<double>(event->velocity()));
        text += buffer;
    }
    return text;
}
