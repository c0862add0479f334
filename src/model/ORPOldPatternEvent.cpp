#include "model/ORPOldPatternEvent.h"

#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "model/ORPPositionalValues.h"

#include <cmath>

namespace {

// A name slot of an old event holds a string, or in some files the drum itself.
template <class Values> void readNameObject(Values& values, ORPOldPatternEvent::Slot& slot, bool isType)
{
    rp::ArchiveObjectPtr object = values.object();
    if (!object)
        return;
    if (auto text = std::dynamic_pointer_cast<rp::ArchivedString>(object)) {
        (isType ? slot.typeName : slot.variantName) = text->value;
    } else if (auto drum = std::dynamic_pointer_cast<ORPDrum>(object)) {
        slot.drum = drum;
    } else {
        values.fail("unexpected class " + object->archiveClassName() + " in an old pattern event");
    }
}

// Five times (type name, variant name, velocity).
template <class Values> void readSlots(Values& values, std::array<ORPOldPatternEvent::Slot, 5>& slots)
{
    for (auto& slot : slots) {
        readNameObject(values, slot, true);
        readNameObject(values, slot, false);
        slot.velocity = values.real();
    }
}

} // namespace

void ORPOldPatternEvent::encodeWithCoder(rp::KeyedArchiver&) const
{
}

bool ORPOldPatternEvent::getDrumAtPosition(
    int position, std::string* typeName, std::string* variantName) const
{
    if (position < 0 || position >= kSlotCount)
        return false;
    const Slot& s = slots_[static_cast<size_t>(position)];
    std::optional<std::string> type = s.typeName;
    std::optional<std::string> variant = s.variantName;
    if (!type && s.drum)
        type = s.drum->typeName();
    if (!variant && s.drum)
        variant = s.drum->variantName();
    if (!type && !s.drum)
        return false;
    if (typeName)
        *typeName = type.value_or(std::string());
    if (variantName)
        *variantName = variant.value_or(std::string());
    return true;
}

float ORPOldPatternEvent::velocityAtPosition(int position) const
{
    if (position < 0 || position >= kSlotCount)
        return 0;
    return slots_[static_cast<size_t>(position)].velocity;
}

std::shared_ptr<ORPOldPatternEvent> ORPOldPatternEvent::initWithTypedStream(rp::TypedStreamDecoder& decoder)
{
    auto event = std::make_shared<ORPOldPatternEvent>();
    int64_t version = decoder.currentClassVersion();
    if (version > kClassVersion) {
        rp::logf("ORPOldPatternEvent version error: %ld > %ld", static_cast<long>(version),
            static_cast<long>(kClassVersion));
        while (!decoder.atEndOfObject())
            decoder.decodeNextValue();
        return event;
    }
    rp::TypedStreamPositionalValues values(decoder);
    readSlots(values, event->slots_);
    return event;
}

std::shared_ptr<ORPOldPatternEvent> ORPOldPatternEvent::initWithCoder(rp::KeyedUnarchiver& coder)
{
    // Keyed archives hold the old event's values under generic keys, in the sequential order.
    auto event = std::make_shared<ORPOldPatternEvent>();
    if (rp::KeyedPositionalValues::present(coder)) {
        rp::KeyedPositionalValues values(coder);
        readSlots(values, event->slots_);
    }
    return event;
}

ORPOldSectionMarker::ORPOldSectionMarker()
    : name(rp::localized("new section"))
{
}

void ORPOldSectionMarker::encodeWithCoder(rp::KeyedArchiver&) const
{
    rp::logf("ORPOldSectionMarker is obsolete, should not be encoding!!");
}

std::shared_ptr<ORPOldSectionMarker> ORPOldSectionMarker::initWithTypedStream(rp::TypedStreamDecoder& decoder)
{
    auto marker = std::make_shared<ORPOldSectionMarker>();
    marker->name = decoder.decodeStringObject().value_or(std::string());
    auto asPattern = [&decoder]() -> ORPPatternPtr {
        rp::ArchiveObjectPtr object = decoder.decodeObject();
        if (!object)
            return nullptr;
        auto pattern = std::dynamic_pointer_cast<ORPPattern>(object);
        if (!pattern)
            decoder.failWithError(
                "unexpected class " + object->archiveClassName() + " in an old section marker");
        return pattern;
    };
    marker->firstPattern = asPattern();
    marker->lastPattern = asPattern();
    return marker;
}
