#pragma once

#include "editor/DocumentChangeTracker.h"
#include "editor/ORPDrumPicker.h"
#include "editor/ORPPasteboard.h"
#include "editor/OXBrowserModel.h"
#include "editor/OXWindowFrame.h"
#include "foundation/Error.h"
#include "foundation/UndoManager.h"
#include "kit/ORPDrumKit.h"
#include "midi/MIDIPacketList.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace rp {
class UserDefaults;
}

class ORPMIDIPacketReceiver;

namespace rp::editor {

// Pasteboard type names of the kit editor: row indexes for drags inside the program, keyed archives
// for the clipboard (and drags between kit windows).
inline constexpr const char* ORPDrumGroupsIndexSetPboardType = "ORPDrumGroupsIndexSetPboardType";
inline constexpr const char* ORPDrumTypesIndexSetPboardType = "ORPDrumTypesIndexSetPboardType";
inline constexpr const char* ORPDrumVariantsIndexSetPboardType = "ORPDrumVariantsIndexSetPboardType";
inline constexpr const char* ORPDrumGroupsPboardType = "ORPDrumGroupsPboardType";
inline constexpr const char* ORPDrumTypesPboardType = "ORPDrumTypesPboardType";
inline constexpr const char* ORPDrumVariantsPboardType = "ORPDrumVariantsPboardType";

// The browser's columns.
enum class KitColumn : size_t { Groups = 0, Instruments = 1, Variants = 2 };
inline constexpr size_t kKitColumnCount = 3;

// An item of the kit hierarchy: a group, an instrument or a variant.
using KitItem = std::variant<ORPDrumGroupPtr, ORPDrumInstrumentPtr, ORPDrumPtr>;

// The attributes of a drum the editor changes, and their values.
enum class DrumAttribute {
    ShortcutKey, VariantPrecedence, LinkAudioOnly, Volume, Panning, Sound, SourceImage,
    MidiChannel, MidiNote, MidiVelocity,
};
using DrumValue = std::variant<bool, int, float, std::optional<std::string>, OASoundPtr, std::optional<ORPImageData>>;

enum class KitAttribute { KitName, KitInfo, FixLinksPrompt, KitImage };
using KitValue = std::variant<std::optional<std::string>, std::optional<ORPImageData>>;

// What a browser cell shows.
struct KitBrowserCell {
    std::string text;
    ORPDrumPtr iconDrum; // whose icon the cell shows
    bool bold = false;   // the default variant
    bool leaf = false;   // variants
};

// What the kit window does when the document asks. The window implements it.
class KitDocumentView {
public:
    virtual ~KitDocumentView() = default;
    // Rows or selection of the browser changed: redraw its columns from the document.
    virtual void reloadBrowser() = 0;
    // The current drum or one of its attributes changed: refill the drum fields.
    virtual void refreshDrumFields() = 0;
    // A kit attribute changed: refill the kit fields.
    virtual void refreshKitFields() = 0;
    // The listen switch turned itself off (or on).
    virtual void listenStateChanged(bool listening) = 0;
    virtual void beep() = 0;
};

// Hands a packet list to the application's MIDI destination (registering and unregistering the
// document as a sender around it). False when there is no destination.
class KitMIDISender {
public:
    virtual ~KitMIDISender() = default;
    virtual bool sendPacketList(const rp::MIDIPacketList& list) = 0;
};

// Plays a sound once through the speaker output.
class KitSoundPlayer {
public:
    virtual ~KitSoundPlayer() = default;
    virtual void playSound(const OASoundPtr& sound, float volume) = 0;
};

// The drum kit editor document without its window: the kit, its undo manager, the browser's state,
// the drum picker and the current drum. Every change registers its inverse and names its step;
// the window shows what this object says and forwards the user's actions. Main thread only.
class ORPDrumKitDocument final : public OXBrowserDelegate {
public:
    static constexpr const char* kFrameAutosaveName = "Drum Kit Window";
    // Bound on what a clipboard or drag may bring in.
    static constexpr size_t kMaximumPastedDrums = 4096;

    // A new kit holding one new drum, in one instrument of one group.
    ORPDrumKitDocument();
    // A document over a kit already in memory (untitled).
    explicit ORPDrumKitDocument(ORPDrumKitPtr kit);
    // Reads a bundle (linked sounds left unresolved), upgrading kits saved before default variants
    // were kept right. Null with `error` set when it cannot be read.
    static std::unique_ptr<ORPDrumKitDocument> open(const std::filesystem::path& path, Error& error);
    ~ORPDrumKitDocument() override;
    ORPDrumKitDocument(const ORPDrumKitDocument&) = delete;
    ORPDrumKitDocument& operator=(const ORPDrumKitDocument&) = delete;

    // Writes the bundle safely to `path`, then stores the window frame (when given) on it; the
    // embedded sounds then point into the saved bundle. False with `error` set when writing failed.
    bool writeToURL(const std::filesystem::path& path, const std::optional<OXSavedFrame>& frame,
        rp::UserDefaults& defaults, Error& error);
    // The frame stored with the file, if any.
    std::optional<OXSavedFrame> savedFrame(const rp::UserDefaults& defaults) const;

    const ORPDrumKitPtr& kit() const { return kit_; }
    const std::optional<std::filesystem::path>& fileURL() const { return fileURL_; }
    UndoManager& undoManager() { return undoManager_; }
    DocumentChangeTracker& changes() { return changes_; }
    ORPDrumPicker& drumPicker() { return drumPicker_; }
    OXBrowserModel& browser() { return browser_; }
    const OXBrowserModel& browser() const { return browser_; }
    const ORPDrumPtr& currentDrum() const { return currDrum_; }

    void setView(KitDocumentView* view) { view_ = view; }
    void setClipboard(ORPPasteboard* clipboard) { clipboard_ = clipboard; }
    void setMIDISender(KitMIDISender* sender) { midiSender_ = sender; }
    void setSoundPlayer(KitSoundPlayer* player) { soundPlayer_ = player; }

    // ---- browser contents ----
    KitBrowserCell cell(KitColumn column, size_t row) const;
    // The containers the selection names: the single selected group, the single selected instrument.
    ORPDrumGroupPtr selectedGroup() const;
    ORPDrumInstrumentPtr selectedInstrument() const;
    // The items selected in a column.
    std::vector<KitItem> selectedItems(KitColumn column) const;
    // Selects `drum` in the browser and makes it the current drum (a choice in the picker).
    void selectDrum(const ORPDrumPtr& drum);

    // ---- model operations (each registers its inverse, refreshes picker and browser) ----
    void insertGroups(const std::vector<ORPDrumGroupPtr>& groups, const std::vector<size_t>& indexes);
    void insertTypes(const std::vector<ORPDrumInstrumentPtr>& instruments, const std::vector<size_t>& indexes,
        const ORPDrumGroupPtr& group);
    void insertVariants(
        const std::vector<ORPDrumPtr>& drums, const std::vector<size_t>& indexes, const ORPDrumInstrumentPtr& instrument);
    void removeGroups(const std::vector<size_t>& indexes);
    void removeTypes(const std::vector<size_t>& indexes, const ORPDrumGroupPtr& group);
    void removeVariants(const std::vector<size_t>& indexes, const ORPDrumInstrumentPtr& instrument);
    // False (nothing registered) when the value is the current one.
    bool changeDrum(const ORPDrumPtr& drum, DrumAttribute attribute, const DrumValue& value);
    bool changeDefaultVariant(const ORPDrumPtr& drum, const ORPDrumInstrumentPtr& instrument);
    bool renameItem(const KitItem& item, const std::string& name);
    bool changeKitAttribute(KitAttribute attribute, const KitValue& value);

    static DrumValue drumValue(const ORPDrum& drum, DrumAttribute attribute);
    KitValue kitValue(KitAttribute attribute) const;

    // ---- user actions (each one undo step with its action name) ----
    void addGroup();
    bool addInstrument();
    bool addVariant();
    // The add action with a column as tag (buttons and context-menu items).
    bool addAction(size_t tag);
    // Deletes the rows selected in the column; refused for all rows of a column.
    bool deleteSelected(KitColumn column);
    bool makeDefault();
    bool setShortcutKey(const std::string& text);
    bool setPrecedence(bool on);
    bool setEmbedded(bool embedded);
    bool setPanning(float panning);
    bool resetPanning() { return setPanning(0.0f); }
    bool setVolume(float volume);
    bool resetVolume() { return setVolume(1.0f); }
    // Stores a copy of the sound.
    bool setSound(const OASoundPtr& sound);
    bool setDrumIcon(const std::optional<ORPImageData>& image);
    bool setMIDIChannelFromStepper(int channel);
    // The field shows channels 1 to 16.
    bool setMIDIChannelFromField(int shownChannel);
    bool setMIDINote(int note);
    bool setMIDIVelocity(int velocity);
    // General MIDI percussion: channel 10 (stored 9), the note, velocity 127.
    bool chooseMIDIPreset(int note);
    bool setKitName(const std::string& name);
    bool setKitInfo(const std::string& info);
    bool setKitImage(const std::optional<ORPImageData>& image);
    // The prompt panel's OK: an empty text changes nothing.
    bool setFixLinksPrompt(const std::string& prompt);

    // ---- texts and enabling ----
    std::string panningText() const;
    std::string volumeText() const;
    static std::string panningText(float panning);
    static std::string volumeText(float volume);
    // "" without a MIDI mapping, else 1 to 16.
    std::string midiChannelFieldText() const;
    bool fixLinksEnabled() const { return fixLinksEnabled_; }
    // Runs the interactive search; the button stays enabled while sounds are still missing.
    void fixLinks();
    bool canAddInstrument() const { return selectedGroup() != nullptr; }
    bool canAddVariant() const { return selectedInstrument() != nullptr; }
    bool canDelete(KitColumn column) const;

    // ---- renaming in place ----
    // Starts editing the single selected cell of the column; its current text, none when no
    // single cell is selected.
    std::optional<std::string> beginRenaming(KitColumn column);
    bool isRenaming() const { return renaming_.has_value(); }
    // Escape: the old text comes back and editing ends.
    std::string cancelRenaming();
    // Editing would end with `text`: a sibling of that name beeps and keeps the editor open (false);
    // otherwise the rename is applied ("Rename \"%@\"" when something changed) and editing ends.
    bool endRenaming(const std::string& text);

    // ---- playing and MIDI ----
    void playSound();
    // Sends a note-on of the current drum's mapping; false when it has none or nothing took it.
    bool playMIDI();
    bool isListening() const { return listening_; }
    void setListening(bool listening);
    // A MIDI packet moved to the main thread: while listening, the first note-on with a non-zero
    // velocity sets the current drum's channel, note and velocity and ends listening.
    bool handleMIDIPacket(const std::vector<uint8_t>& bytes);
    // What the MIDI routing delivers to while this kit's window is in front: it copies each packet
    // and hands it to handleMIDIPacket on the main thread, unless the document has gone by then.
    std::shared_ptr<ORPMIDIPacketReceiver> midiReceiver();

    // ---- clipboard, drag and drop ----
    bool canCopy() const;
    bool canPaste() const;
    bool canClear() const;
    bool copy();
    bool paste();
    bool cut();
    bool clear();
    // Writes the dragged rows of a column; false when there are none.
    bool writeRows(KitColumn column, const std::vector<size_t>& rows, ORPPasteboard& pasteboard);
    enum class DropOperation { None, Move, Copy };
    // `source` is the kit document the drag came from (null: another program).
    DropOperation validateDrop(const ORPPasteboard& pasteboard, const ORPDrumKitDocument* source,
        KitColumn column, size_t row, bool copyOnly) const;
    bool acceptDrop(const ORPPasteboard& pasteboard, ORPDrumKitDocument* source, KitColumn column, size_t row,
        bool copyOnly);
    // A kit whose drums have no sounds yet (a new kit) may be built from a folder of sound files,
    // as one undo step. False with `failure` set otherwise.
    bool isEmptyKit() const;
    bool buildFromSoundFolder(const std::filesystem::path& folder, std::string* failure = nullptr);

    // Archives of the clipboard types, and reading them back (hostile: bounded, checked, copied).
    static std::vector<uint8_t> archiveItems(const std::vector<KitItem>& items);
    static std::optional<std::vector<KitItem>> unarchiveItems(const std::vector<uint8_t>& bytes, KitColumn column);

    // The context menu of a column.
    std::vector<OXMenuItem> contextMenu(KitColumn column);

    // OXBrowserDelegate
    size_t browserRowCount(size_t column) const override;
    void browserSelectionDidChange() override;
    bool browserCanPerformCopy() const override { return canCopy(); }
    bool browserCanPerformPaste() const override { return canPaste(); }
    bool browserCanPerformClear() const override { return canClear(); }
    void browserCopy() override { copy(); }
    void browserPaste() override { paste(); }
    void browserClear() override { clear(); }
    void browserCut() override { cut(); }
    std::vector<OXMenuItem> browserContextMenu(size_t column) override
    {
        return contextMenu(static_cast<KitColumn>(column));
    }

private:
    void adopt(ORPDrumKitPtr kit);

    // Runs `body` as one undo step named `name` (when it registered anything).
    template <class Body> auto undoStep(const std::string& name, Body body);
    void setActionName(const std::string& name);
    // After every change: the picker shows the kit again, the browser and drum fields follow.
    void refreshAfterChange();
    void followSelection();
    // Selects these items (all of one level) in the browser.
    void selectItems(const std::vector<KitItem>& items);
    std::vector<std::vector<size_t>> pathTo(const KitItem& item) const;
    // Sets names of drums (group, type, variant) and registers restoring the previous ones.
    struct DrumNames {
        std::string group, type, variant;
    };
    void setDrumNames(const std::vector<ORPDrumPtr>& drums, const std::vector<DrumNames>& names);
    void setDefaultFlags(const ORPDrumInstrumentPtr& instrument, const std::vector<bool>& flags);
    bool setMIDIValue(DrumAttribute attribute, int value, int lowest, int highest, const char* actionName);
    std::optional<KitColumn> clipboardColumn() const;
    bool insertPasted(std::vector<KitItem> items, KitColumn column, const std::string& name);
    void addDrumsToList(const std::vector<ORPDrumPtr>& drums);
    void removeDrumsFromList(const std::vector<ORPDrumPtr>& drums);

    UndoManager undoManager_;
    DocumentChangeTracker changes_ { undoManager_ };
    ORPDrumKitPtr kit_;
    std::optional<std::filesystem::path> fileURL_;
    OXBrowserModel browser_ { *this, kKitColumnCount };
    ORPDrumPicker drumPicker_;
    ORPDrumPtr currDrum_;
    KitDocumentView* view_ = nullptr;
    ORPPasteboard* clipboard_ = nullptr;
    KitMIDISender* midiSender_ = nullptr;
    KitSoundPlayer* soundPlayer_ = nullptr;
    bool fixLinksEnabled_ = false;
    bool listening_ = false;
    // Lives exactly as long as the document: packets queued for the main thread check it first.
    std::shared_ptr<ORPDrumKitDocument*> liveness_ = std::make_shared<ORPDrumKitDocument*>(this);
    std::shared_ptr<ORPMIDIPacketReceiver> midiReceiver_;
    // While a cell is being renamed: its column, item and old text.
    struct Renaming {
        KitColumn column;
        KitItem item;
        std::string oldText;
    };
    std::optional<Renaming> renaming_;
};

template <class Body> auto ORPDrumKitDocument::undoStep(const std::string& name, Body body)
{
    undoManager_.beginUndoGrouping();
    auto result = body();
    undoManager_.setActionName(name);
    undoManager_.endUndoGrouping();
    return result;
}

// The items of a drag or a copy, as their own names say ("Kick", a group's name, a variant's name).
std::string kitItemName(const KitItem& item);
// Every drum an item holds.
std::vector<ORPDrumPtr> kitItemDrums(const KitItem& item);

} // namespace rp::editor
