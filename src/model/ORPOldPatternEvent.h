#pragma once

#include "model/ORPPattern.h"

#include <array>
#include <optional>
#include <string>

// Import-only classes of the older song archives (never written).

// One place of the old five-row drum grid: up to five hits, one per row.
class ORPOldPatternEvent : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    static constexpr int kClassVersion = 0;
    static constexpr int kSlotCount = 5;

    struct Slot {
        ORPDrumPtr drum;
        std::optional<std::string> typeName;
        std::optional<std::string> variantName;
        float velocity = 0;
    };

    std::string archiveClassName() const override { return "ORPOldPatternEvent"; }
    // Old events are never written; archiving one writes no keys.
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;

    // The slot's names (the stored ones, else its drum's); false for an empty slot or one above 4.
    bool getDrumAtPosition(int position, std::string* typeName, std::string* variantName) const;
    float velocityAtPosition(int position) const;

    Slot& slot(int position) { return slots_.at(static_cast<size_t>(position)); }

    static std::shared_ptr<ORPOldPatternEvent> initWithTypedStream(rp::TypedStreamDecoder& decoder);
    static std::shared_ptr<ORPOldPatternEvent> initWithCoder(rp::KeyedUnarchiver& coder);

private:
    std::array<Slot, kSlotCount> slots_;
};

// A playlist marker of the older format: a name and the first and last pattern of its run.
class ORPOldSectionMarker : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    ORPOldSectionMarker();

    std::string archiveClassName() const override { return "ORPOldSectionMarker"; }
    // Only logs: the class is obsolete.
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;

    std::string name;
    ORPPatternPtr firstPattern;
    ORPPatternPtr lastPattern;

    static std::shared_ptr<ORPOldSectionMarker> initWithTypedStream(rp::TypedStreamDecoder& decoder);
};
