#include "model/ORPOldPatternEvent.h"

#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"

#include <cmath>

namespace {

// A name slot of an old event holds a string, or in some files the drum itself.
void readNameObject(rp::TypedStreamDecoder& decoder, ORPOldPatternEvent::Slot& slot, bool isType)
{
    rp::ArchiveObjectPtr object = decoder.decodeObject();
    if (!object)
        return;
    if (auto text = std::dynamic_pointer_cast<rp::ArchivedString>(object)) {
        (isType ? slot.typeName : slot.variantName) = text->value;
    } else if (auto drum = std::dynamic_pointer_cast<ORPDrum>(object)) {
        slot.drum = drum;
    } else {
        decoder.failWithError("unexpected class " + object->archiveClassName() + " in an old pattern event");
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
    for (auto& slot : event->slots_) {
        readNameObject(decoder, slot, true);
        readNameObject(decoder, slot, false);
        slot.velocity = decoder.decodeFloat();
    }
    return event;
}

std::shared_ptr<ORPOldPatternEvent> ORPOldPatternEvent::initWithCoder(rp::KeyedUnarchiver&)
{
    // Keyed archives name the class but carry no hits we know how to read: an empty event.
    return std::make_shared<ORPOldPatternEvent>();
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
