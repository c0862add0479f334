#include "editor/ORPSongTables.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "editor/ORPReconcileController.h"
#include "editor/PasteboardTypes.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/Prompt.h"
#include "foundation/UndoManager.h"
#include "model/ORPEvent.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rp::editor {

namespace {

std::string minutesAndSeconds(double seconds)
{
    const int64_t whole = seconds > 0 ? static_cast<int64_t>(seconds) : 0;
    return formatText(" (%d:%02d)", { FormatArgument(whole / 60), FormatArgument(whole % 60) });
}

std::vector<size_t> sortedUnique(std::vector<size_t> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::vector<size_t> withinCount(const std::vector<size_t>& rows, size_t count)
{
    std::vector<size_t> kept;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(kept), [count](size_t row) { return row < count; });
    return kept;
}

template <class T> std::vector<T> itemsAt(const std::vector<T>& list, const std::vector<size_t>& rows)
{
    std::vector<T> items;
    for (size_t row : rows)
        if (row < list.size())
            items.push_back(list[row]);
    return items;
}

// The index a block of dragged rows lands at when it is taken out and put back above `row`.
size_t movedIndex(size_t row, const std::vector<size_t>& dragged)
{
    const auto above = std::count_if(dragged.begin(), dragged.end(), [row](size_t r) { return r < row; });
    return row - static_cast<size_t>(above);
}

std::vector<ORPPatternPtr> patternsOf(const std::vector<ORPSectionPtr>& sections)
{
    std::vector<ORPPatternPtr> patterns;
    for (const auto& section : sections)
        patterns.insert(patterns.end(), section->patterns().begin(), section->patterns().end());
    return patterns;
}

constexpr uint8_t kIndexSetMagic[4] = { 'R', 'P', 'I', 'X' };

} // namespace

// --- Columns ---

const char* columnIdentifier(TableColumn column)
{
    switch (column) {
    case TableColumn::Name:
        return "name";
    case TableColumn::Length:
        return "length";
    case TableColumn::Section:
        return "section";
    case TableColumn::Repeats:
        return "repeats";
    case TableColumn::CuePoint:
        return "cuepoint";
    }
    return "";
}

std::optional<TableColumn> columnFromIdentifier(const std::string& identifier)
{
    for (TableColumn column : { TableColumn::Name, TableColumn::Length, TableColumn::Section, TableColumn::Repeats,
             TableColumn::CuePoint })
        if (identifier == columnIdentifier(column))
            return column;
    return std::nullopt;
}

std::vector<TableColumn> columnsOf(SongTable table)
{
    if (table == SongTable::Sections)
        return { TableColumn::Name, TableColumn::Length };
    return { TableColumn::Section, TableColumn::Name, TableColumn::Repeats, TableColumn::CuePoint };
}

// --- Pasteboard data ---

std::vector<uint8_t> RowIndexSet::encode(const std::vector<size_t>& rows)
{
    const auto sorted = sortedUnique(rows);
    std::vector<uint8_t> bytes(std::begin(kIndexSetMagic), std::end(kIndexSetMagic));
    auto put = [&bytes](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<uint8_t>(value >> shift));
    };
    put(static_cast<uint32_t>(sorted.size()));
    for (size_t row : sorted)
        put(static_cast<uint32_t>(std::min<size_t>(row, std::numeric_limits<uint32_t>::max())));
    return bytes;
}

std::optional<std::vector<size_t>> RowIndexSet::decode(const std::vector<uint8_t>& bytes, size_t maximumCount)
{
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kIndexSetMagic, 4) != 0)
        return std::nullopt;
    auto get = [&bytes](size_t at) {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<uint32_t>(bytes[at + static_cast<size_t>(i)]) << (8 * i);
        return value;
    };
    const size_t count = get(4);
    if (count == 0 || count > maximumCount || bytes.size() != 8 + 4 * count)
        return std::nullopt;
    std::vector<size_t> rows;
    rows.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t row = get(8 + 4 * i);
        if (!rows.empty() && row <= rows.back())
            return std::nullopt;
        rows.push_back(row);
    }
    return rows;
}

std::vector<uint8_t> SectionArchive::archive(const std::vector<ORPSectionPtr>& sections)
{
    std::vector<ArchiveObjectPtr> objects(sections.begin(), sections.end());
    KeyedArchiver archiver;
    ORPEvent::archiveDrumsSparsely(archiver);
    archiver.encodeArrayOfObjects(objects, "root");
    auto bytes = archiver.finishEncoding();
    if (bytes.empty())
        logf("ORPSongTables: archiving sections failed: %s", archiver.errorText().c_str());
    return bytes;
}

std::optional<std::vector<ORPSectionPtr>> SectionArchive::unarchive(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty() || bytes.size() > PasteboardTypes::kMaximumForeignBytes)
        return std::nullopt;
    ORPSong::registerArchiveClasses();
    std::string problem;
    auto root = KeyedUnarchiver::unarchiveObjectWithData(bytes, &problem);
    auto array = std::dynamic_pointer_cast<ArchivedArray>(root);
    if (!array || array->items.empty()) {
        if (!problem.empty())
            logf("ORPSongTables: unreadable sections: %s", problem.c_str());
        return std::nullopt;
    }
    std::vector<ORPSectionPtr> sections;
    for (const auto& item : array->items) {
        auto section = std::dynamic_pointer_cast<ORPSection>(item);
        if (!section || std::find(sections.begin(), sections.end(), section) != sections.end())
            return std::nullopt;
        sections.push_back(section);
    }
    return sections;
}

// --- The tables ---

ORPSongTables::ORPSongTables(ORPSongPtr song, rp::UndoManager& undo, ORPReconcileController& reconciler,
    SongTablesHooks hooks, rp::Prompt* prompt)
    : song_(std::move(song))
    , undo_(undo)
    , reconciler_(reconciler)
    , hooks_(std::move(hooks))
    , prompt_(prompt)
{
}

void ORPSongTables::setSong(ORPSongPtr song)
{
    song_ = std::move(song);
    selectedSections_.clear();
    selectedMarkers_.clear();
    delSectionEnabled_ = delMarkerEnabled_ = false;
    if (view_) {
        view_->reloadTable(SongTable::Sections);
        view_->reloadTable(SongTable::Playlist);
        view_->deleteButtonsChanged();
    }
}

bool ORPSongTables::isPlaying() const
{
    return hooks_.isPlaying && hooks_.isPlaying();
}

void ORPSongTables::setActionName(const std::string& name)
{
    undo_.setActionName(localized(name));
}

size_t ORPSongTables::numberOfRows(SongTable table) const
{
    if (!song_)
        return 0;
    return table == SongTable::Sections ? song_->sectionList().size() : song_->sectionMarkerList().size();
}

TableCell ORPSongTables::cell(SongTable table, TableColumn column, size_t row) const
{
    TableCell cell;
    if (row >= numberOfRows(table))
        return cell;
    if (table == SongTable::Sections) {
        const auto& section = song_->sectionList()[row];
        if (column == TableColumn::Name) {
            cell.text = section->name();
            cell.color = ORPPatternDrawList::sectionTextColor();
        } else if (column == TableColumn::Length) {
            cell.text = formatText("%lu", { FormatArgument(static_cast<uint64_t>(section->patterns().size())) });
            cell.suffix = minutesAndSeconds(section->duration());
        }
        return cell;
    }
    const auto& marker = song_->sectionMarkerList()[row];
    switch (column) {
    case TableColumn::Section: {
        const auto& sections = song_->sectionList();
        auto found = std::find(sections.begin(), sections.end(), marker->section());
        cell.popUpIndex = found == sections.end() ? -1 : static_cast<int>(found - sections.begin());
        cell.text = marker->section() ? marker->section()->name() : std::string();
        break;
    }
    case TableColumn::Name:
        cell.text = marker->name();
        cell.color = ORPPatternDrawList::sectionMarkerTextColor();
        break;
    case TableColumn::Repeats:
        cell.number = marker->numberOfTimes();
        cell.text = std::to_string(marker->numberOfTimes());
        break;
    case TableColumn::CuePoint:
        cell.text = formatText("%d", { FormatArgument(static_cast<uint64_t>(marker->firstBarNumber())) });
        cell.suffix = minutesAndSeconds(marker->cueTime());
        break;
    case TableColumn::Length:
        break;
    }
    return cell;
}

bool ORPSongTables::isEditable(SongTable table, TableColumn column) const
{
    if (table == SongTable::Sections)
        return column == TableColumn::Name;
    return column == TableColumn::Section || column == TableColumn::Name || column == TableColumn::Repeats;
}

std::vector<std::string> ORPSongTables::sectionMenuTitles() const
{
    std::vector<std::string> titles;
    if (song_)
        for (const auto& section : song_->sectionList())
            titles.push_back(section->name());
    return titles;
}

bool ORPSongTables::setCellValue(SongTable table, TableColumn column, size_t row, const CellValue& value)
{
    if (row >= numberOfRows(table) || !isEditable(table, column))
        return false;
    const std::string* text = std::get_if<std::string>(&value);
    const int64_t* number = std::get_if<int64_t>(&value);
    if (table == SongTable::Sections) {
        const auto& section = song_->sectionList()[row];
        if (!text || *text == section->name())
            return false;
        section->setName(*text);
        setActionName("Rename");
        return true;
    }
    const auto& marker = song_->sectionMarkerList()[row];
    switch (column) {
    case TableColumn::Section: {
        const auto& sections = song_->sectionList();
        if (!number || *number < 0 || static_cast<uint64_t>(*number) >= sections.size())
            return false;
        // Registered even when unchanged, as the pop-up committed a choice.
        marker->setSection(sections[static_cast<size_t>(*number)]);
        setActionName("Section Change");
        return true;
    }
    case TableColumn::Name:
        if (!text || *text == marker->name())
            return false;
        marker->setName(*text);
        setActionName("Rename");
        return true;
    case TableColumn::Repeats: {
        if (!number || *number < 0)
            return false; // a negative count is refused by the entry; nothing to name
        // Out-of-range numbers are held at the largest count rather than wrapped around.
        const auto times = static_cast<int16_t>(std::min<int64_t>(*number, std::numeric_limits<int16_t>::max()));
        marker->setNumberOfTimes(times);
        // Names the step only when setNumberOfTimes registered one (the undo manager never
        // renames an earlier step).
        setActionName("Edit Repeats");
        return true;
    }
    default:
        return false;
    }
}

// --- Selection ---

bool ORPSongTables::selectionShouldChange(SongTable) const
{
    return !isPlaying();
}

const std::vector<size_t>& ORPSongTables::selectedRows(SongTable table) const
{
    return table == SongTable::Sections ? selectedSections_ : selectedMarkers_;
}

std::vector<ORPSectionPtr> ORPSongTables::selectedSections() const
{
    return song_ ? itemsAt(song_->sectionList(), selectedSections_) : std::vector<ORPSectionPtr> {};
}

std::vector<ORPSectionMarkerPtr> ORPSongTables::selectedSectionMarkers() const
{
    return song_ ? itemsAt(song_->sectionMarkerList(), selectedMarkers_) : std::vector<ORPSectionMarkerPtr> {};
}

void ORPSongTables::selectionDidChange(SongTable table, const std::vector<size_t>& rows)
{
    auto cleaned = withinCount(sortedUnique(rows), numberOfRows(table));
    if (cleaned == selectedRows(table))
        return;
    (table == SongTable::Sections ? selectedSections_ : selectedMarkers_) = std::move(cleaned);
    tableSelectionChanged(table);
}

void ORPSongTables::setSelection(SongTable table, std::vector<size_t> rows)
{
    rows = withinCount(sortedUnique(std::move(rows)), numberOfRows(table));
    (table == SongTable::Sections ? selectedSections_ : selectedMarkers_) = rows;
    if (view_)
        view_->setSelectedRows(table, rows);
    tableSelectionChanged(table);
}

void ORPSongTables::tableSelectionChanged(SongTable table)
{
    if (table == SongTable::Playlist && isPlaying())
        return;
    const SongTable other = table == SongTable::Sections ? SongTable::Playlist : SongTable::Sections;
    const auto& rows = selectedRows(table);
    bool& enabled = table == SongTable::Sections ? delSectionEnabled_ : delMarkerEnabled_;
    if (!rows.empty()) {
        if (!selectedRows(other).empty()) {
            (other == SongTable::Sections ? selectedSections_ : selectedMarkers_).clear();
            (other == SongTable::Sections ? delSectionEnabled_ : delMarkerEnabled_) = false;
            if (view_)
                view_->setSelectedRows(other, {});
        }
        std::vector<SongTablesHooks::EditedObject> objects;
        if (table == SongTable::Sections)
            for (auto& section : selectedSections())
                objects.emplace_back(section);
        else
            for (auto& marker : selectedSectionMarkers())
                objects.emplace_back(marker);
        if (hooks_.setEditedObjects)
            hooks_.setEditedObjects(objects, song_->drumKit());
        // At least one section (or entry) always remains.
        enabled = rows.size() < numberOfRows(table);
    } else {
        if (selectedRows(other).empty() && hooks_.setEditedObjects)
            hooks_.setEditedObjects({}, nullptr);
        enabled = false;
    }
    if (view_)
        view_->deleteButtonsChanged();
}

void ORPSongTables::selectAndScroll(SongTable table, size_t first, size_t last)
{
    std::vector<size_t> rows;
    for (size_t row = first; row <= last && row < numberOfRows(table); ++row)
        rows.push_back(row);
    setSelection(table, rows);
    if (view_ && !rows.empty())
        view_->scrollRowToVisible(table, rows.back());
}

void ORPSongTables::reloadData()
{
    for (SongTable table : { SongTable::Sections, SongTable::Playlist }) {
        auto& rows = table == SongTable::Sections ? selectedSections_ : selectedMarkers_;
        const auto kept = withinCount(rows, numberOfRows(table));
        if (view_)
            view_->reloadTable(table);
        if (kept != rows)
            setSelection(table, kept);
        else if (view_)
            view_->setSelectedRows(table, rows);
    }
}

// --- Actions ---

void ORPSongTables::addNewSection()
{
    if (!song_ || isPlaying())
        return;
    song_->insertSections({ ORPSection::section() }, song_->sectionList().size());
    const size_t row = song_->sectionList().size() - 1;
    selectAndScroll(SongTable::Sections, row, row);
    if (hooks_.insertBarAction)
        hooks_.insertBarAction();
    setActionName("Add Section");
    if (view_)
        view_->editNameCell(SongTable::Sections, row);
}

void ORPSongTables::addNewSectionMarker()
{
    if (!song_ || isPlaying() || song_->sectionList().empty())
        return;
    const auto& section = song_->sectionList().back();
    auto marker = ORPSectionMarker::sectionMarker();
    marker->setSection(section);
    marker->setName(section->name());
    song_->insertSectionMarkers({ marker }, song_->sectionMarkerList().size());
    setActionName("Add Marker");
    const size_t row = song_->sectionMarkerList().size() - 1;
    selectAndScroll(SongTable::Playlist, row, row);
    if (view_)
        view_->editNameCell(SongTable::Playlist, row);
}

std::vector<ORPSectionMarkerPtr> ORPSongTables::markersUsing(const ORPSectionPtr& section) const
{
    std::vector<ORPSectionMarkerPtr> markers;
    for (const auto& marker : song_->sectionMarkerList())
        if (marker->section() == section)
            markers.push_back(marker);
    return markers;
}

bool ORPSongTables::removeSelectedSections()
{
    // At least one section always remains.
    if (!song_ || selectedSections_.empty() || selectedSections_.size() >= song_->sectionList().size())
        return false;
    rp::Prompt& prompt = prompt_ ? *prompt_ : rp::Prompt::current();
    std::vector<ORPSectionPtr> sections;
    std::vector<ORPSectionMarkerPtr> markers;
    for (const auto& section : selectedSections()) {
        auto using_ = markersUsing(section);
        if (!using_.empty()) {
            rp::Prompt::Alert alert;
            alert.title = localized("This section is currently used in the song.");
            alert.message = localizedFormat(
                "\"%@\" appears at least once in the playlist. All references will be deleted if you proceed.",
                { FormatArgument(section->name()) });
            alert.buttons = { localized("Delete"), localized("Cancel") };
            alert.defaultButton = 0;
            alert.style = rp::Prompt::AlertStyle::Critical;
            if (prompt.runAlert(alert) != 0)
                continue;
        }
        sections.push_back(section);
        markers.insert(markers.end(), using_.begin(), using_.end());
    }
    if (sections.empty())
        return false;
    if (!markers.empty())
        song_->removeSectionMarkers(markers);
    song_->removeSections(sections);
    setSelection(SongTable::Sections, {});
    if (!markers.empty())
        reloadData();
    return true;
}

void ORPSongTables::removeSectionsAction()
{
    const size_t count = selectedSections_.size();
    if (removeSelectedSections())
        setActionName(count == 1 ? "Delete Section" : "Delete Sections");
}

void ORPSongTables::removeSectionMarkersAction()
{
    auto markers = selectedSectionMarkers();
    if (markers.empty())
        return;
    song_->removeSectionMarkers(markers);
    setActionName("Delete from Playlist");
    setSelection(SongTable::Playlist, {});
}

void ORPSongTables::selectAllMarkers()
{
    if (view_)
        view_->makeFirstResponder(SongTable::Playlist);
    const size_t count = numberOfRows(SongTable::Playlist);
    if (count > 0)
        selectAndScroll(SongTable::Playlist, 0, count - 1);
}

void ORPSongTables::returnKeyDown(std::optional<SongTable> firstResponder)
{
    if (!firstResponder || !view_)
        return;
    const auto& rows = selectedRows(*firstResponder);
    if (rows.empty())
        view_->beep();
    else
        view_->editNameCell(*firstResponder, rows.back());
}

// --- Context menus ---

std::vector<TableMenuItem> ORPSongTables::contextMenuItems(SongTable table) const
{
    using Action = TableMenuItem::Action;
    std::vector<TableMenuItem> items;
    if (table == SongTable::Sections) {
        items.push_back({ Action::AddSection, localized("Add Section") });
        if (!selectedSections_.empty())
            items.push_back({ Action::RemoveSections,
                localized(selectedSections_.size() == 1 ? "Delete Section" : "Delete Sections") });
    } else {
        items.push_back({ Action::AddSectionMarker, localized("Add to Playlist") });
        if (!selectedMarkers_.empty())
            items.push_back({ Action::RemoveSectionMarkers, localized("Delete from Playlist") });
    }
    if (selectedSections_.size() == 1 || !selectedMarkers_.empty()) {
        items.push_back({ Action::Separator, {} });
        items.push_back({ Action::ExportSubmenu, localized("Export") });
    }
    return items;
}

// --- Clipboard ---

bool ORPSongTables::validateEditCommand(SongTable table, EditCommand command) const
{
    if (table == SongTable::Playlist)
        return command == EditCommand::Clear && delMarkerEnabled_;
    if (command == EditCommand::Paste)
        return clipboard_ && clipboard_->hasType(ORPSectionArrayPboardType);
    return delSectionEnabled_;
}

void ORPSongTables::performEditCommand(SongTable table, EditCommand command)
{
    if (!validateEditCommand(table, command))
        return;
    if (table == SongTable::Playlist) {
        removeSectionMarkersAction();
        return;
    }
    switch (command) {
    case EditCommand::Copy:
    case EditCommand::Cut: {
        if (!clipboard_)
            return;
        // The clipboard keeps the sections as they are now: its section array is written at once,
        // since a later cut or edit would change what the rows point at.
        const auto rows = selectedSections_;
        clipboard_->declareTypes({ ORPSectionListIndexSetPboardType, ORPSectionArrayPboardType });
        clipboard_->setData(ORPSectionListIndexSetPboardType, RowIndexSet::encode(rows));
        clipboard_->setData(ORPSectionArrayPboardType, SectionArchive::archive(selectedSections()));
        if (command == EditCommand::Cut && removeSelectedSections())
            setActionName("Cut");
        return;
    }
    case EditCommand::Clear:
        removeSectionsAction();
        return;
    case EditCommand::Paste: {
        auto bytes = clipboard_->data(ORPSectionArrayPboardType);
        auto sections = bytes ? SectionArchive::unarchive(*bytes) : std::nullopt;
        if (!sections)
            return;
        insertForeignSections(*sections, song_->sectionList().size(), "Paste");
        return;
    }
    }
}

bool ORPSongTables::insertForeignSections(
    const std::vector<ORPSectionPtr>& sections, size_t index, const std::string& name)
{
    if (!song_ || !song_->drumKit() || sections.empty())
        return false;
    if (!reconciler_.reconcileInteractivelyForPatterns(patternsOf(sections), song_->drumKit(), localized(name)))
        return false;
    index = std::min(index, song_->sectionList().size());
    song_->insertSections(sections, index);
    selectAndScroll(SongTable::Sections, index, index + sections.size() - 1);
    setActionName(name);
    if (hooks_.precacheWaveforms) {
        const auto& drums = reconciler_.reconciledDrums();
        hooks_.precacheWaveforms(std::set<ORPDrumPtr>(drums.begin(), drums.end()));
    }
    return true;
}

// --- Drag and drop ---

bool ORPSongTables::writeRows(SongTable table, const std::vector<size_t>& rows, TablePasteboard& pasteboard)
{
    const auto valid = withinCount(sortedUnique(rows), numberOfRows(table));
    if (valid.empty())
        return false;
    if (table == SongTable::Sections) {
        pasteboard.declareTypes({ ORPSectionListIndexSetPboardType, ORPSectionArrayPboardType });
        pasteboard.setData(ORPSectionListIndexSetPboardType, RowIndexSet::encode(valid));
        // Archived only when a reader asks (a drop in another document); the sections are taken
        // now, so the data stays right whatever the rows hold by then.
        auto sections = itemsAt(song_->sectionList(), valid);
        pasteboard.setProvider(ORPSectionArrayPboardType, [sections] { return SectionArchive::archive(sections); });
    } else {
        pasteboard.declareTypes({ ORPSectionMarkerListIndexSetPboardType });
        pasteboard.setData(ORPSectionMarkerListIndexSetPboardType, RowIndexSet::encode(valid));
    }
    return true;
}

std::optional<std::vector<size_t>> ORPSongTables::draggedRows(SongTable source, const TablePasteboard& data) const
{
    const char* type = source == SongTable::Sections ? ORPSectionListIndexSetPboardType
                                                      : ORPSectionMarkerListIndexSetPboardType;
    auto bytes = data.data(type);
    if (!bytes)
        return std::nullopt;
    const size_t count = numberOfRows(source);
    auto rows = RowIndexSet::decode(*bytes, count);
    if (!rows || rows->back() >= count)
        return std::nullopt;
    return rows;
}

DropOperation ORPSongTables::validateDrop(const DropProposal& proposal, const TablePasteboard& data) const
{
    if (!song_ || isPlaying())
        return DropOperation::None;
    const size_t count = numberOfRows(proposal.target);
    const bool above = proposal.position == DropPosition::Above;
    if (above ? proposal.row > count : proposal.row >= count)
        return DropOperation::None;
    const DropOperation reorder = proposal.optionHeld ? DropOperation::Copy : DropOperation::Move;
    if (proposal.target == SongTable::Sections) {
        if (proposal.origin == DragOrigin::ThisSectionsTable) {
            if (!above || !data.hasType(ORPSectionListIndexSetPboardType))
                return DropOperation::None;
            return reorder;
        }
        return above && data.hasType(ORPSectionArrayPboardType) ? DropOperation::Copy : DropOperation::None;
    }
    if (proposal.origin == DragOrigin::ThisPlaylistTable) {
        if (!above || !data.hasType(ORPSectionMarkerListIndexSetPboardType))
            return DropOperation::None;
        return reorder;
    }
    if (proposal.origin == DragOrigin::ThisSectionsTable && data.hasType(ORPSectionListIndexSetPboardType))
        return above ? DropOperation::Copy : DropOperation::Link;
    return DropOperation::None;
}

bool ORPSongTables::acceptDrop(const DropProposal& proposal, const TablePasteboard& data)
{
    if (validateDrop(proposal, data) == DropOperation::None)
        return false;
    const size_t r = proposal.row;
    if (proposal.target == SongTable::Sections && proposal.origin != DragOrigin::ThisSectionsTable) {
        auto bytes = data.data(ORPSectionArrayPboardType);
        auto sections = bytes ? SectionArchive::unarchive(*bytes) : std::nullopt;
        if (!sections)
            return false;
        insertForeignSections(*sections, r, sections->size() < 2 ? "Add Section" : "Add Sections");
        return true; // accepted even when the user declined the reconciliation
    }
    const SongTable source
        = proposal.origin == DragOrigin::ThisPlaylistTable ? SongTable::Playlist : SongTable::Sections;
    auto rows = draggedRows(source, data);
    if (!rows)
        return false;

    if (proposal.target == SongTable::Sections) {
        auto dragged = itemsAt(song_->sectionList(), *rows);
        size_t index = r;
        if (proposal.optionHeld) {
            std::vector<ORPSectionPtr> copies;
            for (const auto& section : dragged)
                copies.push_back(section->copy());
            song_->insertSections(copies, r);
            setActionName(copies.size() > 1 ? "Add Sections" : "Add Section");
        } else {
            index = movedIndex(r, *rows);
            song_->removeSections(dragged);
            song_->insertSections(dragged, index);
            setActionName("Reorder Sections");
        }
        selectAndScroll(SongTable::Sections, index, index + dragged.size() - 1);
        return true;
    }

    if (source == SongTable::Playlist) {
        auto dragged = itemsAt(song_->sectionMarkerList(), *rows);
        size_t index = r;
        if (proposal.optionHeld) {
            std::vector<ORPSectionMarkerPtr> copies;
            for (const auto& marker : dragged)
                copies.push_back(marker->copy());
            song_->insertSectionMarkers(copies, r);
            setActionName("Add to Playlist");
        } else {
            index = movedIndex(r, *rows);
            song_->removeSectionMarkers(dragged);
            song_->insertSectionMarkers(dragged, index);
            setActionName("Reorder Playlist");
        }
        selectAndScroll(SongTable::Playlist, index, index + dragged.size() - 1);
        return true;
    }

    // Sections from this sections table onto the playlist.
    auto sections = itemsAt(song_->sectionList(), *rows);
    if (proposal.position == DropPosition::On) {
        if (sections.size() != 1)
            return false;
        song_->sectionMarkerList()[r]->setSection(sections.front());
        setActionName("Section Change");
        setSelection(SongTable::Playlist, { r });
    } else {
        std::vector<ORPSectionMarkerPtr> markers;
        for (const auto& section : sections) {
            auto marker = ORPSectionMarker::sectionMarker();
            marker->setSection(section);
            marker->setName(section->name());
            markers.push_back(marker);
        }
        song_->insertSectionMarkers(markers, r);
        setActionName("Add to Playlist");
        selectAndScroll(SongTable::Playlist, r, r + markers.size() - 1);
    }
    if (view_)
        view_->makeFirstResponder(SongTable::Playlist);
    return true;
}

// --- Context-menu edit commands ---

std::vector<std::optional<EditCommand>> editCommandsToInsert(
    size_t menuItemCount, size_t index, bool copyEnabled, bool pasteEnabled, bool clearEnabled)
{
    std::vector<std::optional<EditCommand>> items;
    if (copyEnabled && clearEnabled)
        items.emplace_back(EditCommand::Cut);
    if (copyEnabled)
        items.emplace_back(EditCommand::Copy);
    if (pasteEnabled)
        items.emplace_back(EditCommand::Paste);
    if (clearEnabled)
        items.emplace_back(EditCommand::Clear);
    if (items.empty())
        return items;
    index = std::min(index, menuItemCount);
    if (index < menuItemCount)
        items.emplace_back(std::nullopt);
    if (index > 0)
        items.insert(items.begin(), std::nullopt);
    return items;
}

const char* editCommandTitle(EditCommand command)
{
    switch (command) {
    case EditCommand::Cut:
        return "Cut";
    case EditCommand::Copy:
        return "Copy";
    case EditCommand::Paste:
        return "Paste";
    case EditCommand::Clear:
        return "Clear";
    }
    return "";
}

} // namespace rp::editor
