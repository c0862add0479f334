// The kit document's user actions: adding, deleting and renaming items, the drum and kit fields,
// the slider texts, playing, and MIDI play and listen.

#include "editor/ORPDrumKitDocument.h"

#include "editor/ORPMIDIRouting.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/RunLoop.h"

#include <algorithm>
#include <cmath>

namespace rp::editor {

namespace {

ORPDrumPtr newDrum(bool isDefault)
{
    auto drum = ORPDrum::drum();
    drum->setDefaultVarForType(isDefault);
    return drum;
}

ORPDrumInstrumentPtr newInstrument()
{
    auto instrument = std::make_shared<ORPDrumInstrument>();
    instrument->variants.push_back(newDrum(true));
    return instrument;
}

// The rows of a level: 0 groups, 1 instruments, 2 variants; a name for one and for several.
const char* deleteName(KitColumn column)
{
    switch (column) {
    case KitColumn::Groups:
        return "Delete Groups";
    case KitColumn::Instruments:
        return "Delete Instruments";
    case KitColumn::Variants:
        return "Delete Variants";
    }
    return "";
}

} // namespace

// --- Adding and deleting ---

void ORPDrumKitDocument::addGroup()
{
    undoStep(localized("Add Group"), [this] {
        auto group = std::make_shared<ORPDrumGroup>();
        group->instruments.push_back(newInstrument());
        insertGroups({ group }, { kit_->drumsHierarchy().size() });
        return true;
    });
}

bool ORPDrumKitDocument::addInstrument()
{
    const auto group = selectedGroup();
    if (!group)
        return false;
    return undoStep(localized("Add Instrument"), [&] {
        insertTypes({ newInstrument() }, { group->instruments.size() }, group);
        return true;
    });
}

bool ORPDrumKitDocument::addVariant()
{
    const auto instrument = selectedInstrument();
    if (!instrument)
        return false;
    return undoStep(localized("Add Variant"), [&] {
        insertVariants({ newDrum(false) }, { instrument->variants.size() }, instrument);
        return true;
    });
}

bool ORPDrumKitDocument::addAction(size_t tag)
{
    switch (tag) {
    case 0:
        addGroup();
        return true;
    case 1:
        return addInstrument();
    case 2:
        return addVariant();
    default:
        return false;
    }
}

bool ORPDrumKitDocument::canDelete(KitColumn column) const
{
    const auto& rows = browser_.selectedRows(static_cast<size_t>(column));
    return !rows.empty() && rows.size() < browserRowCount(static_cast<size_t>(column));
}

bool ORPDrumKitDocument::deleteSelected(KitColumn column)
{
    if (!canDelete(column))
        return false;
    const auto items = selectedItems(column);
    const auto rows = browser_.selectedRows(static_cast<size_t>(column));
    const std::string name = items.size() == 1 ? localizedFormat("Delete \"%@\"", { kitItemName(items.front()) })
                                               : localized(deleteName(column));
    const auto group = selectedGroup();
    const auto instrument = selectedInstrument();
    return undoStep(name, [&] {
        switch (column) {
        case KitColumn::Groups:
            removeGroups(rows);
            break;
        case KitColumn::Instruments:
            removeTypes(rows, group);
            break;
        case KitColumn::Variants:
            removeVariants(rows, instrument);
            break;
        }
        return true;
    });
}

bool ORPDrumKitDocument::makeDefault()
{
    const auto instrument = selectedInstrument();
    if (!instrument || !currDrum_)
        return false;
    return undoStep(localized("Default Variant"), [&] { return changeDefaultVariant(currDrum_, instrument); });
}

// --- Drum fields ---

bool ORPDrumKitDocument::setShortcutKey(const std::string& text)
{
    return undoStep(localized("Shortcut Key"), [&] {
        return changeDrum(currDrum_, DrumAttribute::ShortcutKey,
            text.empty() ? std::optional<std::string>() : std::optional<std::string>(text));
    });
}

bool ORPDrumKitDocument::setPrecedence(bool on)
{
    return undoStep(localized("Precedence Change"),
        [&] { return changeDrum(currDrum_, DrumAttribute::VariantPrecedence, on); });
}

bool ORPDrumKitDocument::setEmbedded(bool embedded)
{
    return undoStep(localized("Embedding Change"),
        [&] { return changeDrum(currDrum_, DrumAttribute::LinkAudioOnly, !embedded); });
}

bool ORPDrumKitDocument::setPanning(float panning)
{
    if (!std::isfinite(panning))
        return false;
    panning = std::clamp(panning, -1.0f, 1.0f);
    return undoStep(localized("Panning"), [&] { return changeDrum(currDrum_, DrumAttribute::Panning, panning); });
}

bool ORPDrumKitDocument::setVolume(float volume)
{
    if (!std::isfinite(volume) || volume < 0.0f)
        return false;
    return undoStep(localized("Volume"), [&] { return changeDrum(currDrum_, DrumAttribute::Volume, volume); });
}

bool ORPDrumKitDocument::setSound(const OASoundPtr& sound)
{
    if (!sound)
        return false;
    return undoStep(localized("Change Sound"),
        [&] { return changeDrum(currDrum_, DrumAttribute::Sound, sound->copy()); });
}

bool ORPDrumKitDocument::setDrumIcon(const std::optional<ORPImageData>& image)
{
    return undoStep(localized("Drum Icon"), [&] { return changeDrum(currDrum_, DrumAttribute::SourceImage, image); });
}

bool ORPDrumKitDocument::setMIDIValue(DrumAttribute attribute, int value, int lowest, int highest, const char* actionName)
{
    return undoStep(localized(actionName),
        [&] { return changeDrum(currDrum_, attribute, std::clamp(value, lowest, highest)); });
}

bool ORPDrumKitDocument::setMIDIChannelFromStepper(int channel)
{
    return setMIDIValue(DrumAttribute::MidiChannel, channel, 0, 15, "MIDI Channel");
}

bool ORPDrumKitDocument::setMIDIChannelFromField(int shownChannel)
{
    return setMIDIValue(DrumAttribute::MidiChannel, std::clamp(shownChannel, 1, 16) - 1, 0, 15, "MIDI Channel");
}

bool ORPDrumKitDocument::setMIDINote(int note)
{
    return setMIDIValue(DrumAttribute::MidiNote, note, 0, 127, "MIDI Note");
}

bool ORPDrumKitDocument::setMIDIVelocity(int velocity)
{
    return setMIDIValue(DrumAttribute::MidiVelocity, velocity, 0, 127, "MIDI Velocity");
}

bool ORPDrumKitDocument::chooseMIDIPreset(int note)
{
    if (note < 0 || note > 127)
        return false;
    return undoStep(localized("MIDI Preset"), [&] {
        bool changed = changeDrum(currDrum_, DrumAttribute::MidiChannel, 9);
        changed = changeDrum(currDrum_, DrumAttribute::MidiNote, note) || changed;
        changed = changeDrum(currDrum_, DrumAttribute::MidiVelocity, 127) || changed;
        return changed;
    });
}

std::string ORPDrumKitDocument::midiChannelFieldText() const
{
    if (!currDrum_ || !currDrum_->hasMIDI())
        return {};
    return std::to_string(currDrum_->midiChannel() + 1);
}

// --- Kit fields (no action names of their own) ---

bool ORPDrumKitDocument::setKitName(const std::string& name)
{
    return changeKitAttribute(KitAttribute::KitName, std::optional<std::string>(name));
}

bool ORPDrumKitDocument::setKitInfo(const std::string& info)
{
    return changeKitAttribute(
        KitAttribute::KitInfo, info.empty() ? std::optional<std::string>() : std::optional<std::string>(info));
}

bool ORPDrumKitDocument::setKitImage(const std::optional<ORPImageData>& image)
{
    return changeKitAttribute(KitAttribute::KitImage, image);
}

bool ORPDrumKitDocument::setFixLinksPrompt(const std::string& prompt)
{
    if (prompt.empty())
        return false;
    return changeKitAttribute(KitAttribute::FixLinksPrompt, std::optional<std::string>(prompt));
}

// --- Slider texts ---

std::string ORPDrumKitDocument::panningText(float panning)
{
    std::string where;
    if (panning > 0)
        where = localizedFormat("%d%% right", { static_cast<int64_t>(panning * 100.0f) });
    else if (panning < 0)
        where = localizedFormat("%d%% left", { static_cast<int64_t>(panning * -100.0f) });
    else
        where = localized("center");
    return localizedFormat("Panning (%@)", { where });
}

std::string ORPDrumKitDocument::volumeText(float volume)
{
    return localizedFormat("Master Volume (%d%%)", { static_cast<int64_t>(volume * 100.0f) });
}

std::string ORPDrumKitDocument::panningText() const
{
    return panningText(currDrum_ ? currDrum_->sound()->panning() : 0.0f);
}

std::string ORPDrumKitDocument::volumeText() const
{
    return volumeText(currDrum_ ? currDrum_->sound()->volume() : 1.0f);
}

// --- Renaming in place ---

std::optional<std::string> ORPDrumKitDocument::beginRenaming(KitColumn column)
{
    const auto items = selectedItems(column);
    if (items.size() != 1)
        return std::nullopt;
    renaming_ = Renaming { column, items.front(), kitItemName(items.front()) };
    return renaming_->oldText;
}

std::string ORPDrumKitDocument::cancelRenaming()
{
    if (!renaming_)
        return {};
    auto old = renaming_->oldText;
    renaming_.reset();
    return old;
}

bool ORPDrumKitDocument::endRenaming(const std::string& text)
{
    if (!renaming_)
        return false;
    // The siblings: the other items of the same level under the same parent, compared exactly.
    std::vector<KitItem> siblings;
    const auto& item = renaming_->item;
    if (std::holds_alternative<ORPDrumGroupPtr>(item)) {
        siblings.assign(kit_->drumsHierarchy().begin(), kit_->drumsHierarchy().end());
    } else {
        for (const auto& group : kit_->drumsHierarchy())
            for (const auto& instrument : group->instruments) {
                if (const auto* renamed = std::get_if<ORPDrumInstrumentPtr>(&item); renamed && *renamed == instrument)
                    siblings.assign(group->instruments.begin(), group->instruments.end());
                if (const auto* drum = std::get_if<ORPDrumPtr>(&item);
                    drum && std::find(instrument->variants.begin(), instrument->variants.end(), *drum) != instrument->variants.end())
                    siblings.assign(instrument->variants.begin(), instrument->variants.end());
            }
    }
    for (const auto& sibling : siblings) {
        if (sibling != item && kitItemName(sibling) == text) {
            if (view_)
                view_->beep();
            return false;
        }
    }
    const auto renamed = renaming_->item;
    renaming_.reset();
    undoStep(localizedFormat("Rename \"%@\"", { text }), [&] { return renameItem(renamed, text); });
    return true;
}

// --- Playing and MIDI ---

void ORPDrumKitDocument::playSound()
{
    if (currDrum_ && soundPlayer_)
        soundPlayer_->playSound(currDrum_->sound(), 1.0f);
}

bool ORPDrumKitDocument::playMIDI()
{
    if (!currDrum_ || !currDrum_->hasMIDI() || !midiSender_)
        return false;
    rp::MIDIPacketList list(272);
    const auto channel = static_cast<uint8_t>(currDrum_->midiChannel() & 0x0F);
    list.add(hostTimeNow(),
        { static_cast<uint8_t>(0x90 + channel), static_cast<uint8_t>(currDrum_->midiNote() & 0x7F),
            static_cast<uint8_t>(currDrum_->midiVelocity() & 0x7F) });
    return midiSender_->sendPacketList(list);
}

void ORPDrumKitDocument::setListening(bool listening)
{
    listening_ = listening;
}

bool ORPDrumKitDocument::handleMIDIPacket(const std::vector<uint8_t>& bytes)
{
    if (!listening_ || !currDrum_ || bytes.size() < 3 || (bytes[0] & 0xF0) != 0x90 || bytes[2] == 0)
        return false;
    const int channel = bytes[0] & 0x0F;
    const int note = bytes[1] & 0x7F;
    const int velocity = bytes[2] & 0x7F;
    undoStep(localized("MIDI Change"), [&] {
        bool changed = changeDrum(currDrum_, DrumAttribute::MidiChannel, channel);
        changed = changeDrum(currDrum_, DrumAttribute::MidiNote, note) || changed;
        changed = changeDrum(currDrum_, DrumAttribute::MidiVelocity, velocity) || changed;
        return changed;
    });
    listening_ = false;
    if (view_)
        view_->listenStateChanged(false);
    return true;
}

namespace {

class KitMIDIForwarder final : public ORPMIDIPacketReceiver {
public:
    explicit KitMIDIForwarder(std::weak_ptr<ORPDrumKitDocument*> document)
        : document_(std::move(document))
    {
    }

    void processMIDIPacket(const rp::MIDIPacket& packet, KWMIDIEndpoint*) override
    {
        // The packet's bytes belong to the MIDI thread's buffer: copy them before handing over.
        std::vector<uint8_t> bytes(packet.data.begin(), packet.data.end());
        RunLoop::main().perform([document = document_, bytes = std::move(bytes)] {
            if (auto live = document.lock()) {
                (*live)->handleMIDIPacket(bytes);
            }
        });
    }

private:
    std::weak_ptr<ORPDrumKitDocument*> document_;
};

} // namespace

std::shared_ptr<ORPMIDIPacketReceiver> ORPDrumKitDocument::midiReceiver()
{
    if (!midiReceiver_) {
        midiReceiver_ = std::make_shared<KitMIDIForwarder>(liveness_);
    }
    return midiReceiver_;
}

// --- Context menu ---

std::vector<OXMenuItem> ORPDrumKitDocument::contextMenu(KitColumn column)
{
    std::vector<OXMenuItem> menu;
    const bool single = browser_.selectedRows(static_cast<size_t>(column)).size() == 1;
    if (single && column == KitColumn::Variants) {
        menu.push_back({ localized("Play"), "playAction:", 0, false });
        if (currDrum_ && !currDrum_->isDefaultVarForType())
            menu.push_back({ localized("Make Default"), "makeDefaultAction:", 0, false });
    }
    menu.push_back({ localized("Rename"), "renameAction:", 0, false });
    const size_t at = menu.size();
    OXInsertEditCommands(menu, at, [this](OXEditCommand command) { return browser_.validate(command); });
    menu.push_back(OXMenuItem::separatorItem());
    static const char* const kNewTitles[] = { "New Group", "New Instrument", "New Variant" };
    const size_t c = static_cast<size_t>(column);
    menu.push_back({ localized(kNewTitles[c]), "addAction:", static_cast<int>(c), false });
    if (single && c < 2)
        menu.push_back({ localized(kNewTitles[c + 1]), "addAction:", static_cast<int>(c + 1), false });
    return menu;
}

} // namespace rp::editor
