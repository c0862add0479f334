#include "editor/ORPDrumPicker.h"

#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/NotificationCenter.h"
#include "player/ORPPlayer.h"

#include <algorithm>

// --- ORPDrumListEntry ---

std::string ORPDrumListEntry::typeName() const
{
    return drums_.empty() ? std::string("[no drums]") : drums_.front()->typeName();
}

ORPDrumPtr ORPDrumListEntry::defaultVariant() const
{
    if (defVarIndex_ < 0 || static_cast<size_t>(defVarIndex_) >= drums_.size())
        return nullptr;
    return drums_[static_cast<size_t>(defVarIndex_)];
}

void ORPDrumListEntry::setDefaultVariant(const ORPDrumPtr& drum)
{
    const auto found = std::find(drums_.begin(), drums_.end(), drum);
    if (!drum || found == drums_.end()) {
        rp::Logger::log("DLE setDefaultVariant: no such drum");
        return;
    }
    defVarIndex_ = static_cast<int16_t>(found - drums_.begin());
}

std::vector<ORPDrumListEntry::MenuItem> ORPDrumListEntry::variantsMenu() const
{
    std::vector<MenuItem> items;
    items.reserve(drums_.size());
    for (size_t i = 0; i < drums_.size(); ++i)
        items.push_back({ drums_[i]->variantName(), drums_[i], static_cast<int16_t>(i) == defVarIndex_ });
    return items;
}

void ORPDrumListEntry::chooseNewVariantFromMenuItem(size_t index)
{
    if (index >= drums_.size())
        return;
    const ORPDrumPtr variant = drums_[index];
    setDefaultVariant(variant);
    drumPicker_->selectDrum(variant, false);
    drumPicker_->sendAction();
}

// --- ORPDrumPicker ---

void ORPDrumPicker::setDrumKit(const ORPDrumKitPtr& kit)
{
    drumKit_ = kit;
    drumList_.clear();
    defaultDrumsByGroup_.clear();
    defaultDrumsByShortcut_.clear();

    if (kit) {
        for (const auto& group : kit->drumsHierarchy()) {
            ORPDrumPtr groupDefault;
            for (const auto& instrument : group->instruments) {
                auto entry = std::make_unique<ORPDrumListEntry>(*this);
                ORPDrumPtr instrumentDefault;
                for (const auto& drum : instrument->variants) {
                    entry->appendVariant(drum);
                    // The last flagged variant wins; without a flag the first variant is the default.
                    if (drum->isDefaultVarForType() || !instrumentDefault)
                        instrumentDefault = drum;
                    if (drum->isDefaultVarForType() && drum->shortcutKey())
                        defaultDrumsByShortcut_[*drum->shortcutKey()] = drum;
                }
                if (instrumentDefault)
                    entry->setDefaultVariant(instrumentDefault);
                if (!groupDefault && instrumentDefault) {
                    groupDefault = instrumentDefault;
                    defaultDrumsByGroup_.push_back(groupDefault);
                }
                drumList_.push_back(std::move(entry));
            }
        }
    }

    if (hooks_.reloadData)
        hooks_.reloadData();
    lastDrumSelected_ = drumList_.empty() ? nullptr : drumList_.front()->defaultVariant();
    selectedRow_ = drumList_.empty() ? std::nullopt : std::optional<size_t>(0);
    if (hooks_.selectRow)
        hooks_.selectRow(selectedRow_);
}

ORPDrumPtr ORPDrumPicker::defaultDrumForGroup(int64_t group) const
{
    if (group < 0 || static_cast<size_t>(group) >= defaultDrumsByGroup_.size()) {
        rp::Logger::log(rp::formatText("ORPDrumPicker: group %d is out of bounds", { group }));
        return nullptr;
    }
    return defaultDrumsByGroup_[static_cast<size_t>(group)];
}

void ORPDrumPicker::selectDrum(const ORPDrumPtr& drum, bool needsRefresh)
{
    if (drum == lastDrumSelected_)
        return;
    if (needsRefresh) {
        if (!drum) {
            selectedRow_.reset();
            if (hooks_.selectRow)
                hooks_.selectRow(std::nullopt);
            lastDrumSelected_ = nullptr;
            return;
        }
        if (const auto row = rowOfDrum(drum)) {
            drumList_[*row]->setDefaultVariant(drum);
            selectedRow_ = row;
            if (hooks_.selectRow)
                hooks_.selectRow(row);
        }
    }
    if (drum) {
        const auto group = static_cast<size_t>(defaultGridPositionForDrum(*drum));
        if (group < defaultDrumsByGroup_.size())
            defaultDrumsByGroup_[group] = drum;
    }
    lastDrumSelected_ = drum;
}

int32_t ORPDrumPicker::defaultGridPositionForDrum(const ORPDrumPtr& drum) const
{
    if (!drum) {
        rp::Logger::log("ORPDrumPicker: defaultGridPositionForDrum found no matching group found for (null)");
        return 0;
    }
    return defaultGridPositionForDrum(*drum);
}

int32_t ORPDrumPicker::defaultGridPositionForDrum(const ORPDrum& drum) const
{
    if (const auto kit = drumKit_.lock()) {
        int32_t index = 0;
        for (const auto& group : kit->drumsHierarchy()) {
            const bool hasFirstDrum = !group->instruments.empty() && !group->instruments.front()->variants.empty();
            if (hasFirstDrum && group->instruments.front()->variants.front()->groupName() == drum.groupName())
                return index;
            ++index;
        }
    }
    rp::Logger::log(rp::formatText(
        "ORPDrumPicker: defaultGridPositionForDrum found no matching group found for %@", { drum.description() }));
    return 0;
}

ORPDrumPtr ORPDrumPicker::chooseDrumWithShortcut(const std::string& key)
{
    const auto found = defaultDrumsByShortcut_.find(key);
    if (found == defaultDrumsByShortcut_.end())
        return chooseNextDrumWithShortcut(key);
    const ORPDrumPtr drum = found->second;
    selectDrum(drum, true);
    sendAction();
    return drum;
}

ORPDrumPtr ORPDrumPicker::chooseNextDrumWithShortcut(const std::string& key)
{
    const auto kit = drumKit_.lock();
    if (!kit)
        return nullptr;
    const auto stored = defaultDrumsByShortcut_.find(key);
    const ORPDrumPtr current = stored == defaultDrumsByShortcut_.end() ? nullptr : stored->second;

    ORPDrumPtr chosen;
    ORPDrumPtr firstMatch;
    bool passedCurrent = false;
    for (const auto& drum : kit->drums()) {
        if (!drum->shortcutKey() || *drum->shortcutKey() != key)
            continue;
        if (!current || passedCurrent) {
            chosen = drum;
            break;
        }
        if (drum == current)
            passedCurrent = true;
        if (!firstMatch)
            firstMatch = drum;
    }
    // Past the last drum with the key the cycle wraps; a stored drum that no longer carries the key
    // (or left the kit) chooses nothing.
    if (!chosen && passedCurrent)
        chosen = firstMatch;
    if (!chosen)
        return nullptr;

    selectDrum(chosen, true);
    defaultDrumsByShortcut_[key] = chosen;
    sendAction();
    return chosen;
}

ORPDrumPtr ORPDrumPicker::chooseDefaultDrumWithMIDIChannel(int16_t channel, int16_t note)
{
    const auto kit = drumKit_.lock();
    if (!kit)
        return nullptr;
    for (const auto& drum : kit->drums()) {
        if (static_cast<int16_t>(drum->midiChannel()) == channel && static_cast<int16_t>(drum->midiNote()) == note) {
            selectDrum(drum, true);
            sendAction();
            return drum;
        }
    }
    return nullptr;
}

std::string ORPDrumPicker::headingText() const
{
    const auto kit = drumKit_.lock();
    return kit ? kit->kitName() : rp::localized("No drum kit");
}

bool ORPDrumPicker::rowIsFirstInGroup(size_t row) const
{
    if (row == 0 || row >= drumList_.size())
        return false;
    const auto drum = drumList_[row]->defaultVariant();
    const auto previous = drumList_[row - 1]->defaultVariant();
    const std::string name = drum ? drum->groupName() : std::string();
    const std::string previousName = previous ? previous->groupName() : std::string();
    return name != previousName;
}

ORPDrumPickerCellText ORPDrumPicker::cellText(size_t row) const
{
    const ORPDrumListEntry& rowEntry = entry(row);
    ORPDrumPickerCellText text;
    text.drum = rowEntry.defaultVariant();
    if (rowEntry.variants().size() < 2) {
        if (!text.drum) {
            text.typeText = rp::localized("Choose...");
            text.chooseText = true;
        } else {
            text.typeText = rowEntry.typeName();
        }
        return text;
    }
    text.typeText = rowEntry.typeName() + " ";
    text.variantText = "(" + (text.drum ? text.drum->variantName() : std::string()) + ")";
    text.showsPopUpArrow = true;
    return text;
}

ORPDrumPickerCellText ORPDrumPicker::cellTextForDrum(const ORPDrumPtr& drum)
{
    ORPDrumPickerCellText text;
    text.drum = drum;
    if (!drum) {
        text.typeText = rp::localized("Choose...");
        text.chooseText = true;
        return text;
    }
    text.typeText = drum->typeName() + " ";
    text.variantText = "(" + drum->variantName() + ")";
    return text;
}

bool ORPDrumPicker::clickOpensVariantsMenu(size_t row, double x, double cellWidth) const
{
    return row < drumList_.size() && drumList_[row]->variants().size() >= 2 && x > cellWidth * 0.6;
}

void ORPDrumPicker::userSelectedRow(size_t row)
{
    if (row >= drumList_.size())
        return;
    selectedRow_ = row;
    selectDrum(drumList_[row]->defaultVariant(), false);
    sendAction();
}

void ORPDrumPicker::userClickedRow(std::optional<size_t> row)
{
    if (!row || *row >= drumList_.size())
        return;
    const auto drum = drumList_[selectedRow_.value_or(*row)]->defaultVariant();
    if (const auto player = player_.lock(); player && drum)
        player->playDrumSound(drum, 1.0f);
}

void ORPDrumPicker::userClickedHeading()
{
    rp::NotificationCenter::defaultCenter().post(ORPDrumPickerHeadingClickedNotification, this);
}

void ORPDrumPicker::sendAction()
{
    if (action_)
        action_(*this);
}

std::optional<size_t> ORPDrumPicker::rowOfDrum(const ORPDrumPtr& drum) const
{
    for (size_t row = 0; row < drumList_.size(); ++row) {
        const auto& variants = drumList_[row]->variants();
        if (std::find(variants.begin(), variants.end(), drum) != variants.end())
            return row;
    }
    return std::nullopt;
}
