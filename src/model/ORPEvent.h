#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"
#include "kit/ORPDrum.h"
#include "model/ORPSharedValue.h"

#include <any>
#include <atomic>
#include <map>
#include <memory>
#include <string>

namespace rp {
class KeyedUnarchiver;
}

class ORPEvent;
using ORPEventPtr = std::shared_ptr<ORPEvent>;

// User info of the model's notifications: "event+" -> ORPEventPtr, "patterns+" ->
// std::vector<ORPPatternPtr>, "timeSignature" -> nullptr (the null object) ...
using ORPUserInfo = std::map<std::string, std::any>;

// One drum hit inside a bar: a place (when-ratio), a drum of the song's kit (shared, not owned) and
// a velocity. The player reads events on its own thread while the main thread edits them, so every
// field is atomic; the pattern's operations are the only way edits are undone and announced.
class ORPEvent : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    ORPEvent() = default;
    ORPEvent(float whenRatio, ORPDrumPtr drum, float velocity);
    ORPEvent(const ORPEvent&) = delete;
    ORPEvent& operator=(const ORPEvent&) = delete;

    static ORPEventPtr event(float whenRatio, ORPDrumPtr drum, float velocity)
    {
        return std::make_shared<ORPEvent>(whenRatio, std::move(drum), velocity);
    }
    // A new event sharing the drum.
    ORPEventPtr copy() const { return event(whenRatio(), drum(), velocity()); }

    float whenRatio() const { return whenRatio_.load(std::memory_order_relaxed); }
    void setWhenRatio(float ratio) { whenRatio_.store(ratio, std::memory_order_relaxed); }
    ORPDrumPtr drum() const { return drum_.load(); }
    void setDrum(ORPDrumPtr drum) { drum_.store(std::move(drum)); }
    float velocity() const { return velocity_.load(std::memory_order_relaxed); }
    void setVelocity(float velocity) { velocity_.store(velocity, std::memory_order_relaxed); }

    std::string archiveClassName() const override { return "ORPEvent"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    // Missing drums are replaced by a new drum with a log line; values the model cannot hold are
    // left for the pattern to repair or drop.
    static ORPEventPtr initWithCoder(rp::KeyedUnarchiver& coder);

    // Events refer to kit drums by name only: whoever archives events installs this on the archiver
    // so that each drum is written once, in sparse form (names and MIDI mapping), whichever event
    // meets it first, and no drum is left with a pending sparse request afterwards.
    static void archiveDrumsSparsely(rp::KeyedArchiver& coder);

private:
    std::atomic<float> whenRatio_ { 0 };
    ORPSharedValue<ORPDrum> drum_;
    std::atomic<float> velocity_ { 0 };
};

// Present in older song archives only; decoded as ORPOldPatternEvent.
class ORPPatternEvent { };
