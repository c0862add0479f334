#pragma once

#include "foundation/PropertyValue.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class KWMIDIEndpoint;
class KWMIDIManager;
class ORPMIDIRouting;
namespace rp {
class UserDefaults;
}

// What the bars-per-row radio group and its number field show.
struct ORPBarsPerRowControls {
    int radioTag = 1; // 0: one row per section's worth of bars fitted, 1: as many as fit, 2: the field's count
    bool fieldEnabled = false;
    std::string fieldText; // empty unless tag 2
    bool operator==(const ORPBarsPerRowControls&) const = default;
};

// One item of a MIDI pop-up menu: "None" (tag 0, no endpoint), then one per endpoint.
struct ORPMIDIMenuItem {
    std::string title;
    int32_t tag = 0;
    std::shared_ptr<KWMIDIEndpoint> endpoint;
};

struct ORPMIDIMenu {
    std::vector<ORPMIDIMenuItem> items;
    size_t selectedIndex = 0;
};

// The preferences window's logic. Changes are held until the window closes through OK (or the close
// box); Cancel drops them. Main thread only.
class ORPPreferences {
public:
    static constexpr const char* kPatternsPerRowKey = "RPPatternsPerRow";
    static constexpr int64_t kBarsPerRowWhenChosen = 8; // what choosing the third button puts in the field

    ORPPreferences(rp::UserDefaults& defaults, std::shared_ptr<KWMIDIManager> manager,
        std::shared_ptr<ORPMIDIRouting> routing);

    // The controls for a value of RPPatternsPerRow: 0 -> tag 0, -1 -> tag 1, anything else -> tag 2
    // showing the value, at least 1. Both with an empty, disabled field except tag 2.
    static ORPBarsPerRowControls barsPerRowControls(int64_t patternsPerRow);
    // The integer a typed field holds: leading blanks, a sign and digits; anything else reads 0, and
    // values beyond 32 bits are clamped.
    static int64_t integerValueOfField(const std::string& text);

    // The controls for the value now held (or stored).
    ORPBarsPerRowControls barsPerRowControls() const;
    // A radio button was chosen: tag 0 holds 0, tag 1 holds -1, tag 2 holds 8. Unknown tags change nothing.
    ORPBarsPerRowControls chooseBarsPerRowTag(int tag);
    // The number field was edited.
    ORPBarsPerRowControls editBarsPerRowField(const std::string& text);

    // The two pop-ups: "None", then the endpoints online or in use, with the item of the held choice
    // selected (the application's current endpoint when nothing is held; "None" when that is not listed).
    ORPMIDIMenu sourceMenu() const;
    ORPMIDIMenu destinationMenu() const;
    void chooseMIDISourceTag(int32_t tag);
    void chooseMIDIDestinationTag(int32_t tag);

    // The value a key reads in the window: the held change, else the store's.
    std::optional<rp::PropertyValue> value(const std::string& key) const;
    bool hasHeldChanges() const { return !held_.empty(); }

    // OK: saves the held changes and reconfigures MIDI. Cancel: drops them, then closes the same way
    // (nothing left to save; MIDI is configured from the unchanged store).
    void dismiss(bool ok);

private:
    ORPMIDIMenu menu(bool sources) const;
    void hold(const std::string& key, rp::PropertyValue value);

    rp::UserDefaults& defaults_;
    std::shared_ptr<KWMIDIManager> manager_;
    std::shared_ptr<ORPMIDIRouting> routing_;
    rp::PropertyDictionary held_;
};
