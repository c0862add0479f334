#include "editor/ORPSongTables.h"

#include "editor/ORPReconcileController.h"
#include "editor/ORPSongTablesRows.h"
#include "foundation/Localization.h"
#include "foundation/Prompt.h"
#include "foundation/UndoManager.h"

#include <algorithm>
#include <limits>

namespace rp::editor {

namespace {

std::string minutesAndSeconds(double seconds)
{
    const int64_t whole = seconds > 0 ? static_cast<int64_t>(seconds) : 0;
    return formatText(" (%d:%02d)", { FormatArgument(whole / 60), FormatArgument(whole % 60) });
}

} // namespace

using namespace tablerows;

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
