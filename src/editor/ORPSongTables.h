#pragma once

// The song window's two tables, the sections table (one row per section) and the playlist table
// (one row per playlist entry), without widgets: what each cell shows, what editing a cell does,
// what a selection makes the pattern editor edit, adding and deleting rows, the context menus, the
// clipboard commands and drag and drop. The window shows the cells and forwards the user's
// actions; this object answers through a SongTablesView.

#include "editor/ORPPatternDrawList.h"
#include "editor/ORPPasteboard.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPSong.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace rp {
class Prompt;
class UndoManager;
} // namespace rp
class ORPReconcileController;

namespace rp::editor {

enum class SongTable { Sections, Playlist };

// Column identifiers: sections "name", "length"; playlist "section", "name", "repeats", "cuepoint".
enum class TableColumn { Name, Length, Section, Repeats, CuePoint };
const char* columnIdentifier(TableColumn column);
std::optional<TableColumn> columnFromIdentifier(const std::string& identifier);
std::vector<TableColumn> columnsOf(SongTable table);

enum class EditCommand { Cut, Copy, Paste, Clear };

// Pasteboard type names of the tables (PasteboardTypes makes the full names).
inline constexpr const char* ORPSectionListIndexSetPboardType = "ORPSectionListIndexSetPboardType";
inline constexpr const char* ORPSectionMarkerListIndexSetPboardType = "ORPSectionMarkerListIndexSetPboardType";
inline constexpr const char* ORPSectionArrayPboardType = "ORPSectionArrayPboardType";

// A cell as shown: its text in its colour, an optional grey suffix, and for the playlist's
// "section" column the index of the pop-up item (-1 for none) and for "repeats" the number.
struct TableCell {
    std::string text;
    ORPDrawColor color = ORPDrawColor::white(0);
    std::string suffix; // shown after the text in greyColor()
    int popUpIndex = -1;
    std::optional<int> number;

    static ORPDrawColor greyColor() { return ORPDrawColor::white(0.4f); }
};

// A value typed or chosen in a cell: text for names, a number for repeats and the section pop-up.
using CellValue = std::variant<std::string, int64_t>;

enum class DropOperation { None, Copy, Move, Link };
// Above a row means between rows (row may equal the row count: after the last); on a row, onto it.
enum class DropPosition { Above, On };
// Where a drag comes from, as this document sees it.
enum class DragOrigin { ThisSectionsTable, ThisPlaylistTable, Elsewhere };

struct DropProposal {
    SongTable target = SongTable::Sections;
    DragOrigin origin = DragOrigin::Elsewhere;
    // Option held: the drag's source operation mask is exactly copy.
    bool optionHeld = false;
    size_t row = 0;
    DropPosition position = DropPosition::Above;
};

// The items of a table's context menu, top to bottom.
struct TableMenuItem {
    enum class Action { AddSection, RemoveSections, AddSectionMarker, RemoveSectionMarkers, Separator, ExportSubmenu };
    Action action;
    std::string title; // localized; empty for a separator
};

// The index-set data of a drag within one document: row indexes, strictly ascending. Decoding
// refuses anything malformed or longer than `maximumCount` indexes.
struct RowIndexSet {
    static std::vector<uint8_t> encode(const std::vector<size_t>& rows);
    static std::optional<std::vector<size_t>> decode(const std::vector<uint8_t>& bytes, size_t maximumCount);
};

// A keyed archive of a list of sections, and reading one back: only a list of ORPSection objects
// (with their patterns and events) is accepted; anything else reads as none.
struct SectionArchive {
    static std::vector<uint8_t> archive(const std::vector<ORPSectionPtr>& sections);
    static std::optional<std::vector<ORPSectionPtr>> unarchive(const std::vector<uint8_t>& bytes);
};

// What the tables' window does when the model asks.
class SongTablesView {
public:
    virtual ~SongTablesView() = default;
    virtual void reloadTable(SongTable table) = 0;
    // Replaces the table's selection (empty: deselect all) without reporting it back.
    virtual void setSelectedRows(SongTable table, const std::vector<size_t>& rows) = 0;
    virtual void scrollRowToVisible(SongTable table, size_t row) = 0;
    // Starts editing the row's "name" cell with its whole text selected.
    virtual void editNameCell(SongTable table, size_t row) = 0;
    virtual void makeFirstResponder(SongTable table) = 0;
    // The delete buttons' enabling changed (canDeleteSections(), canDeleteSectionMarkers()).
    virtual void deleteButtonsChanged() = 0;
    virtual void beep() = 0;
};

// The window's companions the tables reach, each optional.
struct SongTablesHooks {
    std::function<bool()> isPlaying;
    using EditedObject = std::variant<ORPSectionPtr, ORPSectionMarkerPtr>;
    // The pattern editor's setEditedObjects (no objects and a null kit: edit nothing).
    std::function<void(const std::vector<EditedObject>&, const ORPDrumKitPtr&)> setEditedObjects;
    // The pattern editor's insertBarAction, so that a new section starts with one bar.
    std::function<void()> insertBarAction;
    std::function<void(const std::set<ORPDrumPtr>&)> precacheWaveforms;
};

// Main thread only.
class ORPSongTables {
public:
    // `prompt` null: the installed Prompt::current().
    ORPSongTables(ORPSongPtr song, rp::UndoManager& undo, ORPReconcileController& reconciler,
        SongTablesHooks hooks = {}, rp::Prompt* prompt = nullptr);

    void setView(SongTablesView* view) { view_ = view; }
    // A reverted document's new song: selections are dropped.
    void setSong(ORPSongPtr song);
    const ORPSongPtr& song() const { return song_; }

    // --- Rows and cells ---
    size_t numberOfRows(SongTable table) const;
    // Empty for a row beyond the list or a column the table does not have.
    TableCell cell(SongTable table, TableColumn column, size_t row) const;
    bool isEditable(SongTable table, TableColumn column) const;
    // The section pop-up's items: one title per section, in song order.
    std::vector<std::string> sectionMenuTitles() const;
    // Commits an edited cell, registering and naming its undo step. False when nothing changed
    // (row beyond the list, unchanged name, wrong value kind).
    bool setCellValue(SongTable table, TableColumn column, size_t row, const CellValue& value);

    // --- Selection ---
    // False while playing: neither table may change its selection then.
    bool selectionShouldChange(SongTable table) const;
    // The user changed a table's selection (the window reports it after the fact).
    void selectionDidChange(SongTable table, const std::vector<size_t>& rows);
    const std::vector<size_t>& selectedRows(SongTable table) const;
    std::vector<ORPSectionPtr> selectedSections() const;
    std::vector<ORPSectionMarkerPtr> selectedSectionMarkers() const;
    // Selects exactly first..last, scrolls to last and follows the new selection.
    void selectAndScroll(SongTable table, size_t first, size_t last);
    // The song's lists changed under the tables: drops selected rows that no longer exist.
    void reloadData();
    bool canDeleteSections() const { return delSectionEnabled_; }
    bool canDeleteSectionMarkers() const { return delMarkerEnabled_; }
    // Adding rows and selecting all entries are not offered while playing.
    bool canAdd() const { return !isPlaying(); }

    // --- Actions ---
    void addNewSection();
    void addNewSectionMarker();
    void removeSectionsAction();
    // Asks about every selected section the playlist uses; true when anything was removed.
    bool removeSelectedSections();
    void removeSectionMarkersAction();
    void selectAllMarkers();
    // Return typed with `firstResponder` (none: neither table) as the focus.
    void returnKeyDown(std::optional<SongTable> firstResponder);

    // --- Context menus ---
    std::vector<TableMenuItem> contextMenuItems(SongTable table) const;

    // --- Clipboard (the general pasteboard) ---
    void setClipboard(ORPPasteboard* clipboard) { clipboard_ = clipboard; }
    bool validateEditCommand(SongTable table, EditCommand command) const;
    // Does nothing when the command is not enabled.
    void performEditCommand(SongTable table, EditCommand command);

    // --- Drag and drop ---
    // Writes the rows for a drag (or a copy); false for a table that gives no drag data.
    bool writeRows(SongTable table, const std::vector<size_t>& rows, ORPPasteboard& pasteboard);
    DropOperation validateDrop(const DropProposal& proposal, const ORPPasteboard& data) const;
    bool acceptDrop(const DropProposal& proposal, const ORPPasteboard& data);

private:
    bool isPlaying() const;
    void setActionName(const std::string& name);
    void tableSelectionChanged(SongTable table);
    void setSelection(SongTable table, std::vector<size_t> rows);
    std::optional<std::vector<size_t>> draggedRows(SongTable source, const ORPPasteboard& data) const;
    // Reconciles foreign sections with the song's kit; on acceptance inserts them at `index`,
    // selects them, names the step and precaches their drums.
    bool insertForeignSections(const std::vector<ORPSectionPtr>& sections, size_t index, const std::string& name);
    std::vector<ORPSectionMarkerPtr> markersUsing(const ORPSectionPtr& section) const;

    ORPSongPtr song_;
    rp::UndoManager& undo_;
    ORPReconcileController& reconciler_;
    SongTablesHooks hooks_;
    rp::Prompt* prompt_;
    SongTablesView* view_ = nullptr;
    ORPPasteboard* clipboard_ = nullptr;
    std::vector<size_t> selectedSections_;
    std::vector<size_t> selectedMarkers_;
    bool delSectionEnabled_ = false;
    bool delMarkerEnabled_ = false;
};

// The edit commands a context menu gets (Cut only when Copy and Clear are both enabled), with a
// separator after them when the menu goes on and before them when they are not at its top. Returns
// the items to insert at `index`, in order; nullopt entries are separators.
std::vector<std::optional<EditCommand>> editCommandsToInsert(
    size_t menuItemCount, size_t index, bool copyEnabled, bool pasteEnabled, bool clearEnabled);
const char* editCommandTitle(EditCommand command); // "Cut", "Copy", "Paste", "Clear" (unlocalized)

} // namespace rp::editor
