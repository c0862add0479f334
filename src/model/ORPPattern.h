#pragma once

#include "model/ORPEvent.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rp {
struct Notification;
class UndoManager;
class TypedStreamDecoder;
} // namespace rp

class ORPSection;
class ORPOldPatternEvent;
class ORPPattern;
using ORPPatternPtr = std::shared_ptr<ORPPattern>;

inline constexpr const char* ORPPatternEventsModifiedNotification = "ORPPatternEventsModifiedNotification";
inline constexpr const char* ORPPatternGeometryChangedNotification = "ORPPatternGeometryChangedNotification";
inline constexpr const char* ORPPatternTempoChangedNotification = "ORPPatternTempoChangedNotification";

// One bar: time signature, beat basis, duration in seconds (together the tempo) and the drum events
// in ascending place order.
//
// Threads: the main thread edits; the player may walk a pattern on its own thread. The event list is
// an immutable snapshot replaced (under a short lock) on every insertion or removal, so a reader keeps the
// snapshot it took for as long as it holds it; the numeric fields and the events' own fields are
// atomic. Everything else (undo, notifications, parent) is main-thread only.
class ORPPattern : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    static constexpr int kClassVersion = 2;

    using EventList = std::vector<ORPEventPtr>;
    using EventSnapshot = std::shared_ptr<const EventList>;

    ORPPattern(); // 4/4, basis 4, 2.0 s, no events, zoom level 1
    ~ORPPattern() override;
    ORPPattern(const ORPPattern&) = delete;
    ORPPattern& operator=(const ORPPattern&) = delete;

    static ORPPatternPtr pattern() { return std::make_shared<ORPPattern>(); }
    // Same time signature, basis, duration and zoom, copies of the events, no parent section.
    ORPPatternPtr copy() const;

    // --- The beat-basis table ---
    static std::vector<float> allBeatBases();
    static std::optional<std::string> iconNameForBeatBasis(float basis);
    static float beatBasisForTimeSignatureTop(int16_t top, int16_t bottom);
    static bool isTableBeatBasis(float basis);
    // The older file format's code for a basis (10 x denominator, + 5 when dotted); none when not found.
    static std::optional<float> beatBasisForLegacyCode(int64_t code);

    // --- Units ---
    int16_t timeSignatureTop() const { return tsTop_.load(std::memory_order_relaxed); }
    int16_t timeSignatureBottom() const { return tsBottom_.load(std::memory_order_relaxed); }
    float beatBasis() const { return beatBasis_.load(std::memory_order_relaxed); }
    float duration() const { return duration_.load(std::memory_order_relaxed); }
    // tsTop x beatBasis / tsBottom
    float beats() const;
    // round(beats x 60 / duration), half away from zero
    float bpm() const;

    void setTimeSignatureTop(int16_t top, int16_t bottom);
    void setBpm(float bpm, float beatBasis);
    void insertBeats(int64_t count, float place);
    int64_t deleteBeatsFromPlace(float from, float to);

    // --- Events ---
    // The current snapshot; it never changes once taken.
    EventSnapshot events() const { return events_.load(); }
    // Events whose place equals `place` exactly, in list order.
    EventList eventsAtPlace(float place) const;
    ORPEventPtr addEventWithDrum(const ORPDrumPtr& drum, float velocity, float place);
    void changeEvent(const ORPEventPtr& event, const ORPDrumPtr& drum, float velocity);
    void removeEvent(const ORPEventPtr& event);
    // Adds the hits of one event of the older five-row format at a place.
    void importLegacyPatternEvent(const ORPOldPatternEvent& event, float ratio);

    int16_t zoomLevel() const { return zoomLevel_.load(std::memory_order_relaxed); }
    bool setZoomLevel(int16_t level);

    std::shared_ptr<ORPSection> parentSection() const { return parentSection_.lock(); }
    void setParentSection(const std::weak_ptr<ORPSection>& section) { parentSection_ = section; }
    rp::UndoManager* undoManager() const;

    std::string description() const;

    // --- Archiving ---
    std::string archiveClassName() const override { return "ORPPattern"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static ORPPatternPtr initWithCoder(rp::KeyedUnarchiver& coder);
    static ORPPatternPtr initWithTypedStream(rp::TypedStreamDecoder& decoder);

    // Brings values read from a file into the range the model can hold, logging each repair.
    void repairDecodedValues();

private:
    void registerUndo(std::function<void(ORPPattern&)> inverse);
    // Stores the duration and basis as given, registering the exact old ones as the inverse, and
    // announces the change as setBpm does.
    void restoreTempo(float exactDuration, float basis);
    // addEventWithDrum, re-using `reuse` (when given and not in the list) as the new event, so that
    // undo steps recorded against a removed event still find it after it is re-added.
    ORPEventPtr addEvent(const ORPDrumPtr& drum, float velocity, float place, const ORPEventPtr& reuse);
    void post(const char* name, ORPUserInfo info, bool withInfo = true);
    void replaceEvents(EventList events)
    {
        events_.store(std::make_shared<const EventList>(std::move(events)));
    }
    // The version-1 body (top, bottom, legacy basis code, tempo, then events at positions of 24 a
    // written beat up to 65535), from a typed stream or from a keyed archive's generic keys.
    template <class Values> void decodeVersion1Body(Values& values);

    std::atomic<int16_t> tsTop_ { 4 };
    std::atomic<int16_t> tsBottom_ { 4 };
    std::atomic<float> beatBasis_ { 4.0f };
    std::atomic<float> duration_ { 2.0f };
    ORPSharedValue<const EventList> events_;
    std::atomic<int16_t> zoomLevel_ { 1 };
    std::weak_ptr<ORPSection> parentSection_;
};
