// The kit document's model operations: each changes the kit, registers its inverse, then the
// picker, the browser (with the selection the change implies) and the drum fields follow.

#include "editor/ORPDrumKitDocument.h"

#include "editor/ORPSongTablesRows.h"
#include "foundation/Logger.h"

#include <algorithm>

namespace rp::editor {

namespace {

// Inserts items at indexes given as final positions (ascending), as the platform's indexed
// insertion does. Indexes past the end append. Returns the positions the items took; none when the
// lists do not match (nothing inserted).
template <class T>
std::optional<std::vector<size_t>> insertAtIndexes(
    std::vector<T>& list, const std::vector<T>& items, const std::vector<size_t>& indexes)
{
    if (items.empty() || items.size() != indexes.size() || !std::is_sorted(indexes.begin(), indexes.end())
        || std::adjacent_find(indexes.begin(), indexes.end()) != indexes.end()) {
        logf("ORPDrumKitDocument: %zu items for %zu indexes; nothing inserted", items.size(), indexes.size());
        return std::nullopt;
    }
    std::vector<size_t> positions;
    for (size_t i = 0; i < items.size(); ++i) {
        const size_t at = std::min(indexes[i], list.size());
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), items[i]);
        positions.push_back(at);
    }
    return positions;
}

// Removes the items at valid indexes; returns them with their indexes.
template <class T> std::pair<std::vector<T>, std::vector<size_t>> removeAtIndexes(std::vector<T>& list, std::vector<size_t> indexes)
{
    indexes = tablerows::withinCount(tablerows::sortedUnique(std::move(indexes)), list.size());
    auto removed = tablerows::itemsAt(list, indexes);
    for (size_t i = indexes.size(); i-- > 0;)
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(indexes[i]));
    return { removed, indexes };
}

std::vector<ORPDrumPtr> drumsOf(const std::vector<ORPDrumInstrumentPtr>& instruments)
{
    std::vector<ORPDrumPtr> drums;
    for (const auto& instrument : instruments)
        drums.insert(drums.end(), instrument->variants.begin(), instrument->variants.end());
    return drums;
}

std::vector<ORPDrumPtr> drumsOf(const std::vector<ORPDrumGroupPtr>& groups)
{
    std::vector<ORPDrumPtr> drums;
    for (const auto& group : groups) {
        auto more = drumsOf(group->instruments);
        drums.insert(drums.end(), more.begin(), more.end());
    }
    return drums;
}

template <class T> std::vector<KitItem> asItems(const std::vector<T>& list)
{
    return std::vector<KitItem>(list.begin(), list.end());
}

ORPDrumPtr firstDrumOf(const ORPDrumGroupPtr& group)
{
    for (const auto& instrument : group->instruments)
        if (!instrument->variants.empty())
            return instrument->variants.front();
    return nullptr;
}

} // namespace

void ORPDrumKitDocument::addDrumsToList(const std::vector<ORPDrumPtr>& drums)
{
    auto& list = kit_->drums();
    for (const auto& drum : drums)
        if (std::find(list.begin(), list.end(), drum) == list.end())
            list.push_back(drum);
}

void ORPDrumKitDocument::removeDrumsFromList(const std::vector<ORPDrumPtr>& drums)
{
    auto& list = kit_->drums();
    list.erase(std::remove_if(list.begin(), list.end(),
                   [&drums](const ORPDrumPtr& drum) { return std::find(drums.begin(), drums.end(), drum) != drums.end(); }),
        list.end());
}

// --- Insert and remove ---

void ORPDrumKitDocument::insertGroups(const std::vector<ORPDrumGroupPtr>& groups, const std::vector<size_t>& indexes)
{
    auto& hierarchy = kit_->drumsHierarchy();
    const auto inserted = insertAtIndexes(hierarchy, groups, indexes);
    if (!inserted)
        return;
    const auto at = *inserted;
    addDrumsToList(drumsOf(groups));
    undoManager_.registerUndo(this, [this, at] { removeGroups(at); });
    selectItems(asItems(groups));
    refreshAfterChange();
}

void ORPDrumKitDocument::insertTypes(const std::vector<ORPDrumInstrumentPtr>& instruments,
    const std::vector<size_t>& indexes, const ORPDrumGroupPtr& group)
{
    if (!group || instruments.empty())
        return;
    if (const auto first = firstDrumOf(group))
        for (const auto& drum : drumsOf(instruments))
            drum->setGroupName(first->groupName());
    const auto inserted = insertAtIndexes(group->instruments, instruments, indexes);
    if (!inserted)
        return;
    const auto at = *inserted;
    addDrumsToList(drumsOf(instruments));
    undoManager_.registerUndo(this, [this, at, group] { removeTypes(at, group); });
    selectItems(asItems(instruments));
    refreshAfterChange();
}

void ORPDrumKitDocument::insertVariants(
    const std::vector<ORPDrumPtr>& drums, const std::vector<size_t>& indexes, const ORPDrumInstrumentPtr& instrument)
{
    if (!instrument || drums.empty())
        return;
    if (!instrument->variants.empty()) {
        const auto& first = instrument->variants.front();
        for (const auto& drum : drums) {
            drum->setGroupName(first->groupName());
            drum->setTypeName(first->typeName());
        }
    }
    const auto inserted = insertAtIndexes(instrument->variants, drums, indexes);
    if (!inserted)
        return;
    const auto at = *inserted;
    addDrumsToList(drums);
    undoManager_.registerUndo(this, [this, at, instrument] { removeVariants(at, instrument); });
    selectItems(asItems(drums));
    refreshAfterChange();
}

void ORPDrumKitDocument::removeGroups(const std::vector<size_t>& indexes)
{
    auto [removed, at] = removeAtIndexes(kit_->drumsHierarchy(), indexes);
    if (removed.empty())
        return;
    removeDrumsFromList(drumsOf(removed));
    undoManager_.registerUndo(this, [this, removed = removed, at = at] { insertGroups(removed, at); });
    browser_.setSelection({});
    refreshAfterChange();
}

void ORPDrumKitDocument::removeTypes(const std::vector<size_t>& indexes, const ORPDrumGroupPtr& group)
{
    if (!group)
        return;
    auto [removed, at] = removeAtIndexes(group->instruments, indexes);
    if (removed.empty())
        return;
    removeDrumsFromList(drumsOf(removed));
    undoManager_.registerUndo(this, [this, removed = removed, at = at, group] { insertTypes(removed, at, group); });
    selectItems({ group });
    refreshAfterChange();
}

void ORPDrumKitDocument::removeVariants(const std::vector<size_t>& indexes, const ORPDrumInstrumentPtr& instrument)
{
    if (!instrument)
        return;
    auto [removed, at] = removeAtIndexes(instrument->variants, indexes);
    if (removed.empty())
        return;
    removeDrumsFromList(removed);
    undoManager_.registerUndo(this, [this, removed = removed, at = at, instrument] { insertVariants(removed, at, instrument); });
    selectItems({ instrument });
    refreshAfterChange();
}

// --- Attributes ---

DrumValue ORPDrumKitDocument::drumValue(const ORPDrum& drum, DrumAttribute attribute)
{
    switch (attribute) {
    case DrumAttribute::ShortcutKey:
        return drum.shortcutKey();
    case DrumAttribute::VariantPrecedence:
        return drum.variantPrecedence();
    case DrumAttribute::LinkAudioOnly:
        return drum.linkAudioOnly();
    case DrumAttribute::Volume:
        return drum.sound()->volume();
    case DrumAttribute::Panning:
        return drum.sound()->panning();
    case DrumAttribute::Sound:
        return drum.storedSound();
    case DrumAttribute::SourceImage:
        return drum.storedSourceImage();
    case DrumAttribute::MidiChannel:
        return int { drum.midiChannel() };
    case DrumAttribute::MidiNote:
        return int { drum.midiNote() };
    case DrumAttribute::MidiVelocity:
        return int { drum.midiVelocity() };
    }
    return false;
}

bool ORPDrumKitDocument::changeDrum(const ORPDrumPtr& drum, DrumAttribute attribute, const DrumValue& value)
{
    if (!drum)
        return false;
    const auto old = drumValue(*drum, attribute);
    if (old.index() != value.index()) {
        logf("ORPDrumKitDocument: a value of the wrong kind for a drum attribute; ignored");
        return false;
    }
    if (old == value)
        return false;
    if ((attribute == DrumAttribute::Volume || attribute == DrumAttribute::Panning) && !drum->storedSound()) {
        // A drum without a sound of its own gets one to carry the value; undoing takes it away again.
        auto sound = drum->sound();
        if (attribute == DrumAttribute::Volume)
            sound->setVolume(std::get<float>(value));
        else
            sound->setPanning(std::get<float>(value));
        drum->setSound(sound);
        undoManager_.registerUndo(this, [this, drum] { changeDrum(drum, DrumAttribute::Sound, OASoundPtr()); });
        refreshAfterChange();
        return true;
    }
    switch (attribute) {
    case DrumAttribute::ShortcutKey:
        drum->setShortcutKey(std::get<std::optional<std::string>>(value));
        break;
    case DrumAttribute::VariantPrecedence:
        drum->setVariantPrecedence(std::get<bool>(value));
        break;
    case DrumAttribute::LinkAudioOnly:
        drum->setLinkAudioOnly(std::get<bool>(value));
        break;
    case DrumAttribute::Volume:
    case DrumAttribute::Panning:
        if (attribute == DrumAttribute::Volume)
            drum->storedSound()->setVolume(std::get<float>(value));
        else
            drum->storedSound()->setPanning(std::get<float>(value));
        break;
    case DrumAttribute::Sound:
        drum->setSound(std::get<OASoundPtr>(value));
        break;
    case DrumAttribute::SourceImage:
        drum->setSourceImage(std::get<std::optional<ORPImageData>>(value));
        break;
    case DrumAttribute::MidiChannel:
        drum->setMidiChannel(static_cast<int8_t>(std::get<int>(value)));
        break;
    case DrumAttribute::MidiNote:
        drum->setMidiNote(static_cast<int8_t>(std::get<int>(value)));
        break;
    case DrumAttribute::MidiVelocity:
        drum->setMidiVelocity(static_cast<int8_t>(std::get<int>(value)));
        break;
    }
    undoManager_.registerUndo(this, [this, drum, attribute, old] { changeDrum(drum, attribute, old); });
    refreshAfterChange();
    return true;
}

void ORPDrumKitDocument::setDefaultFlags(const ORPDrumInstrumentPtr& instrument, const std::vector<bool>& flags)
{
    std::vector<bool> previous;
    for (size_t i = 0; i < instrument->variants.size(); ++i) {
        previous.push_back(instrument->variants[i]->isDefaultVarForType());
        if (i < flags.size())
            instrument->variants[i]->setDefaultVarForType(flags[i]);
    }
    undoManager_.registerUndo(this, [this, instrument, previous] { setDefaultFlags(instrument, previous); });
    refreshAfterChange();
}

bool ORPDrumKitDocument::changeDefaultVariant(const ORPDrumPtr& drum, const ORPDrumInstrumentPtr& instrument)
{
    if (!drum || !instrument
        || std::find(instrument->variants.begin(), instrument->variants.end(), drum) == instrument->variants.end())
        return false;
    std::vector<bool> flags;
    bool changes = false;
    for (const auto& variant : instrument->variants) {
        flags.push_back(variant == drum);
        changes = changes || variant->isDefaultVarForType() != flags.back();
    }
    if (!changes)
        return false;
    // The inverse restores every flag as it was (even an instrument that had several or none).
    setDefaultFlags(instrument, flags);
    return true;
}

void ORPDrumKitDocument::setDrumNames(const std::vector<ORPDrumPtr>& drums, const std::vector<DrumNames>& names)
{
    std::vector<DrumNames> previous;
    for (size_t i = 0; i < drums.size() && i < names.size(); ++i) {
        previous.push_back({ drums[i]->groupName(), drums[i]->typeName(), drums[i]->variantName() });
        drums[i]->setGroupName(names[i].group);
        drums[i]->setTypeName(names[i].type);
        drums[i]->setVariantName(names[i].variant);
    }
    undoManager_.registerUndo(this, [this, drums, previous] { setDrumNames(drums, previous); });
    refreshAfterChange();
}

bool ORPDrumKitDocument::renameItem(const KitItem& item, const std::string& name)
{
    if (name == kitItemName(item))
        return false;
    const auto drums = kitItemDrums(item);
    if (drums.empty())
        return false;
    std::vector<DrumNames> names;
    for (const auto& drum : drums) {
        DrumNames drumNames { drum->groupName(), drum->typeName(), drum->variantName() };
        if (std::holds_alternative<ORPDrumGroupPtr>(item))
            drumNames.group = name;
        else if (std::holds_alternative<ORPDrumInstrumentPtr>(item))
            drumNames.type = name;
        else
            drumNames.variant = name;
        names.push_back(drumNames);
    }
    setDrumNames(drums, names);
    return true;
}

KitValue ORPDrumKitDocument::kitValue(KitAttribute attribute) const
{
    switch (attribute) {
    case KitAttribute::KitName:
        return std::optional<std::string>(kit_->kitName());
    case KitAttribute::KitInfo:
        return kit_->kitInfo();
    case KitAttribute::FixLinksPrompt:
        return kit_->fixLinksPrompt();
    case KitAttribute::KitImage:
        return kit_->kitImage();
    }
    return std::optional<std::string>();
}

bool ORPDrumKitDocument::changeKitAttribute(KitAttribute attribute, const KitValue& value)
{
    const auto old = kitValue(attribute);
    if (old.index() != value.index() || old == value)
        return false;
    switch (attribute) {
    case KitAttribute::KitName:
        kit_->setKitName(std::get<std::optional<std::string>>(value).value_or(std::string()));
        break;
    case KitAttribute::KitInfo:
        kit_->setKitInfo(std::get<std::optional<std::string>>(value));
        break;
    case KitAttribute::FixLinksPrompt:
        kit_->setFixLinksPrompt(std::get<std::optional<std::string>>(value));
        break;
    case KitAttribute::KitImage:
        kit_->setKitImage(std::get<std::optional<ORPImageData>>(value));
        break;
    }
    undoManager_.registerUndo(this, [this, attribute, old] { changeKitAttribute(attribute, old); });
    drumPicker_.setDrumKit(kit_); // the picker's heading shows the kit's name
    if (currDrum_)
        drumPicker_.selectDrum(currDrum_, true);
    if (view_)
        view_->refreshKitFields();
    return true;
}

} // namespace rp::editor
