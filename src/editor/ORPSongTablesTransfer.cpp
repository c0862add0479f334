// The song tables' clipboard commands and drag and drop, and the data they carry.

#include "editor/ORPSongTables.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "editor/ORPReconcileController.h"
#include "editor/ORPSongTablesRows.h"
#include "editor/PasteboardTypes.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "model/ORPEvent.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rp::editor {

using namespace tablerows;

namespace {

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

bool ORPSongTables::writeRows(SongTable table, const std::vector<size_t>& rows, ORPPasteboard& pasteboard)
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

std::optional<std::vector<size_t>> ORPSongTables::draggedRows(SongTable source, const ORPPasteboard& data) const
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

DropOperation ORPSongTables::validateDrop(const DropProposal& proposal, const ORPPasteboard& data) const
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

bool ORPSongTables::acceptDrop(const DropProposal& proposal, const ORPPasteboard& data)
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

} // namespace rp::editor
