// The kit document's clipboard, drag and drop in and between kit windows, and building a new kit
// from a folder of sounds.

#include "editor/ORPDrumKitDocument.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "editor/ORPSongTables.h"
#include "editor/ORPSongTablesRows.h"
#include "editor/PasteboardTypes.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "kit/ORPKitFromFolder.h"

#include <algorithm>

namespace rp::editor {

using tablerows::itemsAt;
using tablerows::sortedUnique;
using tablerows::withinCount;

namespace {

const char* indexSetType(KitColumn column)
{
    static const char* const kTypes[] = { ORPDrumGroupsIndexSetPboardType, ORPDrumTypesIndexSetPboardType,
        ORPDrumVariantsIndexSetPboardType };
    return kTypes[static_cast<size_t>(column)];
}

const char* contentType(KitColumn column)
{
    static const char* const kTypes[] = { ORPDrumGroupsPboardType, ORPDrumTypesPboardType, ORPDrumVariantsPboardType };
    return kTypes[static_cast<size_t>(column)];
}

// An action name: for one item the format with the item's name, else the plural name of the level.
std::string nameForItems(const std::vector<KitItem>& items, KitColumn column, const char* singleFormat,
    const char* groups, const char* instruments, const char* variants)
{
    if (items.size() == 1)
        return localizedFormat(singleFormat, { kitItemName(items.front()) });
    const char* const plural[] = { groups, instruments, variants };
    return localized(plural[static_cast<size_t>(column)]);
}

ArchiveObjectPtr archivedDrums(const std::vector<ORPDrumPtr>& drums)
{
    std::vector<ArchiveObjectPtr> copies;
    for (const auto& drum : drums)
        copies.push_back(drum->copy()); // full form, whatever the kit's drums were asked before
    return std::make_shared<ArchivedArray>(std::move(copies));
}

// Reads a list of `depth` nested levels of non-empty arrays with drums at the bottom; each drum is
// copied, so an archive naming one object twice still yields distinct drums.
struct ArchiveReader {
    size_t drums = 0;

    std::optional<std::vector<ORPDrumPtr>> drumList(const ArchiveObjectPtr& object)
    {
        auto array = std::dynamic_pointer_cast<ArchivedArray>(object);
        if (!array || array->items.empty())
            return std::nullopt;
        std::vector<ORPDrumPtr> list;
        for (const auto& item : array->items) {
            auto drum = std::dynamic_pointer_cast<ORPDrum>(item);
            if (!drum || ++drums > ORPDrumKitDocument::kMaximumPastedDrums)
                return std::nullopt;
            list.push_back(drum->copy());
        }
        return list;
    }

    ORPDrumInstrumentPtr instrument(const ArchiveObjectPtr& object)
    {
        auto list = drumList(object);
        if (!list)
            return nullptr;
        auto instrument = std::make_shared<ORPDrumInstrument>();
        instrument->variants = std::move(*list);
        // One type name and exactly one default variant, as every instrument of a kit has.
        const auto& first = instrument->variants.front();
        bool seenDefault = false;
        for (const auto& drum : instrument->variants) {
            drum->setTypeName(first->typeName());
            drum->setDefaultVarForType(drum->isDefaultVarForType() && !seenDefault);
            seenDefault = seenDefault || drum->isDefaultVarForType();
        }
        if (!seenDefault)
            first->setDefaultVarForType(true);
        return instrument;
    }

    ORPDrumGroupPtr group(const ArchiveObjectPtr& object)
    {
        auto array = std::dynamic_pointer_cast<ArchivedArray>(object);
        if (!array || array->items.empty())
            return nullptr;
        auto group = std::make_shared<ORPDrumGroup>();
        for (const auto& item : array->items) {
            auto next = instrument(item);
            if (!next)
                return nullptr;
            group->instruments.push_back(next);
        }
        const auto name = group->instruments.front()->variants.front()->groupName();
        for (const auto& instrument : group->instruments)
            for (const auto& drum : instrument->variants)
                drum->setGroupName(name);
        return group;
    }
};

} // namespace

// --- Archives ---

std::vector<uint8_t> ORPDrumKitDocument::archiveItems(const std::vector<KitItem>& items)
{
    std::vector<ArchiveObjectPtr> list;
    for (const auto& item : items) {
        if (const auto* group = std::get_if<ORPDrumGroupPtr>(&item)) {
            std::vector<ArchiveObjectPtr> instruments;
            for (const auto& instrument : (*group)->instruments)
                instruments.push_back(archivedDrums(instrument->variants));
            list.push_back(std::make_shared<ArchivedArray>(std::move(instruments)));
        } else if (const auto* instrument = std::get_if<ORPDrumInstrumentPtr>(&item)) {
            list.push_back(archivedDrums((*instrument)->variants));
        } else {
            list.push_back(std::get<ORPDrumPtr>(item)->copy());
        }
    }
    KeyedArchiver archiver;
    archiver.encodeArrayOfObjects(list, "root");
    auto bytes = archiver.finishEncoding();
    if (bytes.empty())
        logf("ORPDrumKitDocument: archiving kit items failed: %s", archiver.errorText().c_str());
    return bytes;
}

std::optional<std::vector<KitItem>> ORPDrumKitDocument::unarchiveItems(const std::vector<uint8_t>& bytes, KitColumn column)
{
    if (bytes.empty() || bytes.size() > PasteboardTypes::kMaximumForeignBytes)
        return std::nullopt;
    ORPDrumKit::registerArchiveClasses();
    std::string problem;
    auto root = KeyedUnarchiver::unarchiveObjectWithData(bytes, &problem);
    auto array = std::dynamic_pointer_cast<ArchivedArray>(root);
    if (!array || array->items.empty()) {
        if (!problem.empty())
            logf("ORPDrumKitDocument: unreadable kit items: %s", problem.c_str());
        return std::nullopt;
    }
    ArchiveReader reader;
    std::vector<KitItem> items;
    switch (column) {
    case KitColumn::Groups:
        for (const auto& object : array->items) {
            auto group = reader.group(object);
            if (!group)
                return std::nullopt;
            items.emplace_back(group);
        }
        break;
    case KitColumn::Instruments:
        for (const auto& object : array->items) {
            auto instrument = reader.instrument(object);
            if (!instrument)
                return std::nullopt;
            items.emplace_back(instrument);
        }
        break;
    case KitColumn::Variants: {
        auto drums = reader.drumList(array);
        if (!drums)
            return std::nullopt;
        items.assign(drums->begin(), drums->end());
        break;
    }
    }
    return items;
}

// --- Clipboard ---

bool ORPDrumKitDocument::canCopy() const
{
    const auto column = browser_.focusedColumn();
    return column && !browser_.selectedRows(*column).empty();
}

bool ORPDrumKitDocument::canClear() const
{
    const auto column = browser_.focusedColumn();
    return column && canDelete(static_cast<KitColumn>(*column));
}

std::optional<KitColumn> ORPDrumKitDocument::clipboardColumn() const
{
    if (!clipboard_)
        return std::nullopt;
    const auto focus = browser_.focusedColumn();
    if (clipboard_->hasType(ORPDrumGroupsPboardType) && (!focus || *focus == 0))
        return KitColumn::Groups;
    if (clipboard_->hasType(ORPDrumTypesPboardType)
        && ((focus == size_t { 1 } && selectedGroup()) || (focus == size_t { 0 } && selectedGroup())))
        return KitColumn::Instruments;
    if (clipboard_->hasType(ORPDrumVariantsPboardType)
        && ((focus == size_t { 2 } && selectedInstrument()) || (focus == size_t { 1 } && selectedInstrument())))
        return KitColumn::Variants;
    return std::nullopt;
}

bool ORPDrumKitDocument::canPaste() const
{
    return clipboardColumn().has_value();
}

bool ORPDrumKitDocument::copy()
{
    if (!canCopy() || !clipboard_)
        return false;
    const auto column = static_cast<KitColumn>(*browser_.focusedColumn());
    auto bytes = archiveItems(selectedItems(column));
    if (bytes.empty())
        return false;
    clipboard_->declareTypes({ contentType(column) });
    clipboard_->setData(contentType(column), std::move(bytes));
    return true;
}

bool ORPDrumKitDocument::clear()
{
    const auto column = browser_.focusedColumn();
    return column && deleteSelected(static_cast<KitColumn>(*column));
}

bool ORPDrumKitDocument::cut()
{
    if (!canCopy() || !canClear())
        return false;
    return undoStep(localized("Cut"), [this] { return copy() && clear(); });
}

bool ORPDrumKitDocument::insertPasted(std::vector<KitItem> items, KitColumn column, const std::string& name)
{
    const auto group = selectedGroup();
    const auto instrument = selectedInstrument();
    return undoStep(name, [&] {
        switch (column) {
        case KitColumn::Groups: {
            std::vector<ORPDrumGroupPtr> groups;
            std::vector<size_t> at;
            for (const auto& item : items) {
                at.push_back(kit_->drumsHierarchy().size() + groups.size());
                groups.push_back(std::get<ORPDrumGroupPtr>(item));
            }
            insertGroups(groups, at);
            break;
        }
        case KitColumn::Instruments: {
            if (!group)
                return false;
            std::vector<ORPDrumInstrumentPtr> instruments;
            std::vector<size_t> at;
            for (const auto& item : items) {
                at.push_back(group->instruments.size() + instruments.size());
                instruments.push_back(std::get<ORPDrumInstrumentPtr>(item));
            }
            insertTypes(instruments, at, group);
            break;
        }
        case KitColumn::Variants: {
            if (!instrument)
                return false;
            std::vector<ORPDrumPtr> drums;
            std::vector<size_t> at;
            for (const auto& item : items) {
                at.push_back(instrument->variants.size() + drums.size());
                drums.push_back(std::get<ORPDrumPtr>(item));
            }
            insertVariants(drums, at, instrument);
            break;
        }
        }
        return true;
    });
}

bool ORPDrumKitDocument::paste()
{
    const auto column = clipboardColumn();
    if (!column)
        return false;
    const auto bytes = clipboard_->data(contentType(*column));
    auto items = bytes ? unarchiveItems(*bytes, *column) : std::nullopt;
    if (!items)
        return false;
    if (*column == KitColumn::Variants)
        // The instrument keeps its own default variant.
        for (const auto& item : *items)
            std::get<ORPDrumPtr>(item)->setDefaultVarForType(false);
    return insertPasted(*items, *column,
        nameForItems(*items, *column, "Paste \"%@\"", "Paste Groups", "Paste Instruments", "Paste Variants"));
}

// --- Drag and drop ---

bool ORPDrumKitDocument::writeRows(KitColumn column, const std::vector<size_t>& rows, ORPPasteboard& pasteboard)
{
    const auto valid = withinCount(sortedUnique(rows), browser_.rowCount(static_cast<size_t>(column)));
    if (valid.empty())
        return false;
    pasteboard.declareTypes({ indexSetType(column) });
    pasteboard.setData(indexSetType(column), RowIndexSet::encode(valid));
    return true;
}

namespace {

size_t containerCount(const ORPDrumKitDocument& document, KitColumn column)
{
    switch (column) {
    case KitColumn::Groups:
        return document.kit()->drumsHierarchy().size();
    case KitColumn::Instruments:
        return document.selectedGroup() ? document.selectedGroup()->instruments.size() : 0;
    case KitColumn::Variants:
        return document.selectedInstrument() ? document.selectedInstrument()->variants.size() : 0;
    }
    return 0;
}

bool hasContainer(const ORPDrumKitDocument& document, KitColumn column)
{
    return column == KitColumn::Groups || (column == KitColumn::Instruments && document.selectedGroup())
        || (column == KitColumn::Variants && document.selectedInstrument());
}

std::optional<std::vector<size_t>> draggedRows(
    const ORPPasteboard& pasteboard, const ORPDrumKitDocument& source, KitColumn column)
{
    const auto bytes = pasteboard.data(indexSetType(column));
    if (!bytes || !hasContainer(source, column))
        return std::nullopt;
    const size_t count = containerCount(source, column);
    auto rows = RowIndexSet::decode(*bytes, count);
    if (!rows || rows->back() >= count)
        return std::nullopt;
    return rows;
}

std::vector<KitItem> itemsOf(const ORPDrumKitDocument& document, KitColumn column, const std::vector<size_t>& rows)
{
    std::vector<KitItem> items;
    switch (column) {
    case KitColumn::Groups:
        for (const auto& group : itemsAt(document.kit()->drumsHierarchy(), rows))
            items.emplace_back(group);
        break;
    case KitColumn::Instruments:
        for (const auto& instrument : itemsAt(document.selectedGroup()->instruments, rows))
            items.emplace_back(instrument);
        break;
    case KitColumn::Variants:
        for (const auto& drum : itemsAt(document.selectedInstrument()->variants, rows))
            items.emplace_back(drum);
        break;
    }
    return items;
}

KitItem deepCopy(const KitItem& item)
{
    const auto copyInstrument = [](const ORPDrumInstrumentPtr& instrument) {
        auto copy = std::make_shared<ORPDrumInstrument>();
        for (const auto& drum : instrument->variants)
            copy->variants.push_back(drum->copy());
        return copy;
    };
    if (const auto* group = std::get_if<ORPDrumGroupPtr>(&item)) {
        auto copy = std::make_shared<ORPDrumGroup>();
        for (const auto& instrument : (*group)->instruments)
            copy->instruments.push_back(copyInstrument(instrument));
        return copy;
    }
    if (const auto* instrument = std::get_if<ORPDrumInstrumentPtr>(&item))
        return copyInstrument(*instrument);
    auto drum = std::get<ORPDrumPtr>(item)->copy();
    drum->setDefaultVarForType(false);
    return drum;
}

} // namespace

ORPDrumKitDocument::DropOperation ORPDrumKitDocument::validateDrop(const ORPPasteboard& pasteboard,
    const ORPDrumKitDocument* source, KitColumn column, size_t row, bool copyOnly) const
{
    if (!pasteboard.hasType(ORPDrumGroupsIndexSetPboardType) && !pasteboard.hasType(ORPDrumTypesIndexSetPboardType)
        && !pasteboard.hasType(ORPDrumVariantsIndexSetPboardType)) {
        logf("ORPDKD: Drop error; no acceptable type found on pasteboard!");
        return DropOperation::None;
    }
    // Row indexes mean something only to a kit window of this program.
    if (!source || !pasteboard.hasType(indexSetType(column)) || !hasContainer(*this, column)
        || row > containerCount(*this, column))
        return DropOperation::None;
    const auto rows = draggedRows(pasteboard, *source, column);
    if (!rows)
        return DropOperation::None;
    if (source != this)
        return DropOperation::Copy;
    for (size_t dragged : *rows)
        if (row == dragged || row == dragged + 1)
            return DropOperation::None;
    return copyOnly ? DropOperation::Copy : DropOperation::Move;
}

bool ORPDrumKitDocument::acceptDrop(
    const ORPPasteboard& pasteboard, ORPDrumKitDocument* source, KitColumn column, size_t row, bool copyOnly)
{
    const auto operation = validateDrop(pasteboard, source, column, row, copyOnly);
    if (operation == DropOperation::None)
        return false;
    const auto rows = *draggedRows(pasteboard, *source, column);
    auto items = itemsOf(*source, column, rows);
    const auto group = selectedGroup();
    const auto instrument = selectedInstrument();
    std::string name;
    if (operation == DropOperation::Move) {
        name = nameForItems(items, column, "Move \"%@\"", "Move Groups", "Move Instruments", "Move Variants");
        row -= static_cast<size_t>(std::count_if(rows.begin(), rows.end(), [row](size_t r) { return r < row; }));
    } else {
        name = nameForItems(items, column, "Duplicate \"%@\"", "Duplicate Groups", "Duplicate Instruments",
            "Duplicate Variants");
        for (auto& item : items)
            item = deepCopy(item);
    }
    std::vector<size_t> at;
    for (size_t i = 0; i < items.size(); ++i)
        at.push_back(row + i);
    return undoStep(name, [&] {
        switch (column) {
        case KitColumn::Groups: {
            if (operation == DropOperation::Move)
                removeGroups(rows);
            std::vector<ORPDrumGroupPtr> list;
            for (const auto& item : items)
                list.push_back(std::get<ORPDrumGroupPtr>(item));
            insertGroups(list, at);
            break;
        }
        case KitColumn::Instruments: {
            if (operation == DropOperation::Move)
                removeTypes(rows, group);
            std::vector<ORPDrumInstrumentPtr> list;
            for (const auto& item : items)
                list.push_back(std::get<ORPDrumInstrumentPtr>(item));
            insertTypes(list, at, group);
            break;
        }
        case KitColumn::Variants: {
            if (operation == DropOperation::Move)
                removeVariants(rows, instrument);
            std::vector<ORPDrumPtr> list;
            for (const auto& item : items)
                list.push_back(std::get<ORPDrumPtr>(item));
            insertVariants(list, at, instrument);
            break;
        }
        }
        return true;
    });
}

// --- A kit from a folder ---

bool ORPDrumKitDocument::isEmptyKit() const
{
    return std::none_of(kit_->drums().begin(), kit_->drums().end(),
        [](const ORPDrumPtr& drum) { return drum->storedSound() != nullptr; });
}

bool ORPDrumKitDocument::buildFromSoundFolder(const std::filesystem::path& folder, std::string* failure)
{
    if (!isEmptyKit()) {
        if (failure)
            *failure = localized("Only a kit without sounds can be built from a folder.");
        return false;
    }
    auto built = drumKitFromSoundFolder(folder, failure);
    if (!built || built->drumsHierarchy().empty())
        return false;
    std::vector<size_t> old(kit_->drumsHierarchy().size());
    for (size_t i = 0; i < old.size(); ++i)
        old[i] = i;
    std::vector<size_t> at(built->drumsHierarchy().size());
    for (size_t i = 0; i < at.size(); ++i)
        at[i] = i;
    return undoStep(localized("Kit From Folder"), [&] {
        removeGroups(old);
        insertGroups(built->drumsHierarchy(), at);
        if (!built->kitName().empty())
            changeKitAttribute(KitAttribute::KitName, std::optional<std::string>(built->kitName()));
        return true;
    });
}

} // namespace rp::editor
