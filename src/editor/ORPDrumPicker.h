#pragma once

#include "kit/ORPDrumKit.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ORPPlayer;
class ORPDrumPicker;

// Posted (object: the picker) when the user clicks the list's heading; the song document answers by
// offering another kit.
inline constexpr const char* ORPDrumPickerHeadingClickedNotification = "ORPDrumPickerHeadingClickedNotification";

// One row of the picker: an instrument's variants and which of them the row offers by default.
class ORPDrumListEntry {
public:
    explicit ORPDrumListEntry(ORPDrumPicker& picker) : drumPicker_(&picker) { }

    // The type name of the first variant; "[no drums]" for an empty entry.
    std::string typeName() const;
    const std::vector<ORPDrumPtr>& variants() const { return drums_; }
    void appendVariant(const ORPDrumPtr& drum) { drums_.push_back(drum); }
    // The variant at the default index; none when the index is not a valid one.
    ORPDrumPtr defaultVariant() const;
    // Index of the checked variant, -1 for none.
    int16_t defaultVariantIndex() const { return defVarIndex_; }
    // Makes `drum` (found by identity) the default; a drum that is not a variant changes nothing.
    void setDefaultVariant(const ORPDrumPtr& drum);

    // The variants menu: one item per variant in order, the default one checked.
    struct MenuItem {
        std::string title;
        ORPDrumPtr drum;
        bool checked = false;
    };
    std::vector<MenuItem> variantsMenu() const;
    // The user chose item `index` of the variants menu: it becomes the default, the picker selects
    // it (without moving the table selection) and sends its action.
    void chooseNewVariantFromMenuItem(size_t index);

private:
    ORPDrumPicker* drumPicker_;
    std::vector<ORPDrumPtr> drums_;
    int16_t defVarIndex_ = -1;
};

// What a picker row shows: the instrument name and, for an instrument with several variants (or a
// single drum), the variant in brackets; "Choose..." in bold red when the row has no default.
struct ORPDrumPickerCellText {
    std::string typeText;     // "Kick " (with the trailing space when a variant follows)
    std::string variantText;  // "(Soft)", or empty
    bool chooseText = false;  // the type text is the localized "Choose..."
    bool showsPopUpArrow = false;
    ORPDrumPtr drum;          // whose icon the row shows; may be none
};

// The list from which the current drum is chosen: one row per instrument of the kit in hierarchy
// order, remembering per instrument its default variant, per group and per shortcut key the drum
// last chosen. Every choice by the user (row, variant, shortcut, MIDI note) selects the drum and
// calls the action. Qt-free; a view shows the rows and forwards clicks. Main thread only.
class ORPDrumPicker {
public:
    using Action = std::function<void(ORPDrumPicker&)>;
    // What the view must redo when the picker changes under it.
    struct ViewHooks {
        std::function<void()> reloadData;                 // rows and heading changed
        std::function<void(std::optional<size_t>)> selectRow; // select (and scroll to) a row, none to clear
    };

    ORPDrumPicker() = default;
    ORPDrumPicker(const ORPDrumPicker&) = delete;
    ORPDrumPicker& operator=(const ORPDrumPicker&) = delete;

    void setAction(Action action) { action_ = std::move(action); }
    void setViewHooks(ViewHooks hooks) { hooks_ = std::move(hooks); }
    void setPlayer(const std::weak_ptr<ORPPlayer>& player) { player_ = player; }

    // Rebuilds the rows for the kit (none shows an empty list); every remembered choice is reset.
    void setDrumKit(const ORPDrumKitPtr& kit);
    ORPDrumKitPtr drumKit() const { return drumKit_.lock(); }

    ORPDrumPtr defaultDrum() const { return lastDrumSelected_; }
    // The drum last chosen in hierarchy group `group`; none (with a log line) when out of range.
    ORPDrumPtr defaultDrumForGroup(int64_t group) const;
    ORPDrumPtr chooseDrumWithShortcut(const std::string& key);
    // Steps through the drums sharing the key, in kit order, wrapping.
    ORPDrumPtr chooseNextDrumWithShortcut(const std::string& key);
    ORPDrumPtr chooseDefaultDrumWithMIDIChannel(int16_t channel, int16_t note);
    void selectDrum(const ORPDrumPtr& drum, bool needsRefresh);
    // The index of the hierarchy group the drum belongs to (by group name); 0 with a log line when
    // none matches.
    int32_t defaultGridPositionForDrum(const ORPDrumPtr& drum) const;
    int32_t defaultGridPositionForDrum(const ORPDrum& drum) const;

    // --- The table ---
    size_t numberOfRows() const { return drumList_.size(); }
    const ORPDrumListEntry& entry(size_t row) const { return *drumList_.at(row); }
    ORPDrumListEntry& entry(size_t row) { return *drumList_.at(row); }
    std::optional<size_t> selectedRow() const { return selectedRow_; }
    // The kit's name, or the localized "No drum kit".
    std::string headingText() const;
    // Whether a separator is drawn above the row: its group differs from the previous row's.
    bool rowIsFirstInGroup(size_t row) const;
    ORPDrumPickerCellText cellText(size_t row) const;
    // The text of a cell that shows one drum (the reconcile panel's rows).
    static ORPDrumPickerCellText cellTextForDrum(const ORPDrumPtr& drum);
    // A click at `x` in a row `cellWidth` wide opens the variants menu only past 60% of the width,
    // and only when the row has two or more variants.
    bool clickOpensVariantsMenu(size_t row, double x, double cellWidth) const;

    // The user selected a row: its default variant becomes the current drum; the action is sent.
    void userSelectedRow(size_t row);
    // The user clicked a row: its default variant is auditioned at full velocity.
    void userClickedRow(std::optional<size_t> row);
    // The user clicked the heading.
    void userClickedHeading();

private:
    friend class ORPDrumListEntry; // a variant chosen from a row's menu sends the picker's action
    void sendAction();
    std::optional<size_t> rowOfDrum(const ORPDrumPtr& drum) const;

    Action action_;
    ViewHooks hooks_;
    std::weak_ptr<ORPPlayer> player_;
    std::weak_ptr<ORPDrumKit> drumKit_;
    std::vector<std::unique_ptr<ORPDrumListEntry>> drumList_;
    std::vector<ORPDrumPtr> defaultDrumsByGroup_;
    std::map<std::string, ORPDrumPtr> defaultDrumsByShortcut_;
    ORPDrumPtr lastDrumSelected_;
    std::optional<size_t> selectedRow_;
};
