// The kit document's life cycle, its browser contents and selection, and the refresh after changes.

#include "editor/ORPDrumKitDocument.h"

#include "foundation/Localization.h"
#include "foundation/Logger.h"

#include <algorithm>

namespace rp::editor {

namespace {

template <class T> std::optional<size_t> indexOf(const std::vector<T>& list, const T& item)
{
    const auto found = std::find(list.begin(), list.end(), item);
    if (found == list.end())
        return std::nullopt;
    return static_cast<size_t>(found - list.begin());
}

ORPDrumPtr defaultVariantOf(const ORPDrumInstrumentPtr& instrument)
{
    if (!instrument || instrument->variants.empty())
        return nullptr;
    for (const auto& drum : instrument->variants)
        if (drum->isDefaultVarForType())
            return drum;
    return instrument->variants.front();
}

} // namespace

std::string kitItemName(const KitItem& item)
{
    if (const auto* group = std::get_if<ORPDrumGroupPtr>(&item))
        return *group ? (*group)->groupName() : std::string();
    if (const auto* instrument = std::get_if<ORPDrumInstrumentPtr>(&item))
        return *instrument ? (*instrument)->typeName() : std::string();
    const auto& drum = std::get<ORPDrumPtr>(item);
    return drum ? drum->variantName() : std::string();
}

std::vector<ORPDrumPtr> kitItemDrums(const KitItem& item)
{
    std::vector<ORPDrumPtr> drums;
    if (const auto* group = std::get_if<ORPDrumGroupPtr>(&item)) {
        if (*group)
            for (const auto& instrument : (*group)->instruments)
                drums.insert(drums.end(), instrument->variants.begin(), instrument->variants.end());
    } else if (const auto* instrument = std::get_if<ORPDrumInstrumentPtr>(&item)) {
        if (*instrument)
            drums = (*instrument)->variants;
    } else if (const auto& drum = std::get<ORPDrumPtr>(item)) {
        drums.push_back(drum);
    }
    return drums;
}

// --- Life cycle ---

ORPDrumKitDocument::ORPDrumKitDocument()
{
    auto kit = ORPDrumKit::kit();
    auto drum = ORPDrum::drum();
    drum->setDefaultVarForType(true);
    kit->addDrum(drum);
    adopt(kit);
}

ORPDrumKitDocument::ORPDrumKitDocument(ORPDrumKitPtr kit)
{
    adopt(std::move(kit));
}

ORPDrumKitDocument::~ORPDrumKitDocument()
{
    undoManager_.removeAllActions();
}

std::unique_ptr<ORPDrumKitDocument> ORPDrumKitDocument::open(const std::filesystem::path& path, Error& error)
{
    Error readError;
    auto kit = ORPDrumKit::drumKitFromURL(path, false, &readError);
    if (!kit) {
        // The reader leaves the error untouched for a bundle without a kit file: the open must
        // still fail with an error, never look like success.
        error = readError.code != 0 || !readError.description.empty()
            ? readError
            : Error::make(1000, "The file \"%@\" could not be opened.", path.filename().string(),
                  "The file is not a valid drum kit.");
        if (error.filePath.empty())
            error.filePath = path.string();
        return nullptr;
    }
    kit->upgradeDefaultVariantsIfNeeded();
    std::unique_ptr<ORPDrumKitDocument> document(new ORPDrumKitDocument(kit));
    document->fileURL_ = path;
    return document;
}

void ORPDrumKitDocument::adopt(ORPDrumKitPtr kit)
{
    kit_ = std::move(kit);
    fixLinksEnabled_ = kit_->missingLinkedSoundCount() > 0;
    drumPicker_.setAction([this](ORPDrumPicker& picker) {
        if (picker.defaultDrum())
            selectDrum(picker.defaultDrum());
    });
    drumPicker_.setDrumKit(kit_);
    auto first = drumPicker_.defaultDrum();
    if (!first && !kit_->drumsHierarchy().empty() && !kit_->drumsHierarchy().front()->instruments.empty())
        first = defaultVariantOf(kit_->drumsHierarchy().front()->instruments.front());
    if (first)
        selectDrum(first);
}

bool ORPDrumKitDocument::writeToURL(const std::filesystem::path& path, const std::optional<OXSavedFrame>& frame,
    rp::UserDefaults& defaults, Error& error)
{
    // saveToPath writes beside the old bundle and only then replaces it, so a failure keeps the
    // previous file.
    if (!kit_->saveToPath(path)) {
        error = Error::make(1000, "The drum kit \"%@\" could not be saved.", path.filename().string(),
            "The kit bundle could not be written.");
        error.filePath = path.string();
        return false;
    }
    if (frame)
        OXWindowFrameAttribute::saveFrameToAttributeAtURL(path, kFrameAutosaveName, *frame, defaults);
    kit_->updateSoundFilePathsForKitURL(path);
    fileURL_ = path;
    changes_.markSaved();
    return true;
}

std::optional<OXSavedFrame> ORPDrumKitDocument::savedFrame(const rp::UserDefaults& defaults) const
{
    if (!fileURL_)
        return std::nullopt;
    return OXWindowFrameAttribute::frameFromAttributeAtURL(*fileURL_, kFrameAutosaveName, defaults);
}

void ORPDrumKitDocument::fixLinks()
{
    fixLinksEnabled_ = kit_->fixBrokenLinksInteractively() != 0;
    if (view_)
        view_->refreshDrumFields();
}

// --- Browser contents ---

size_t ORPDrumKitDocument::browserRowCount(size_t column) const
{
    switch (static_cast<KitColumn>(column)) {
    case KitColumn::Groups:
        return kit_->drumsHierarchy().size();
    case KitColumn::Instruments: {
        const auto row = browser_.selectedRow(0);
        return row && *row < kit_->drumsHierarchy().size() ? kit_->drumsHierarchy()[*row]->instruments.size() : 0;
    }
    case KitColumn::Variants: {
        const auto group = selectedGroup();
        const auto row = browser_.selectedRow(1);
        return group && row && *row < group->instruments.size() ? group->instruments[*row]->variants.size() : 0;
    }
    }
    return 0;
}

ORPDrumGroupPtr ORPDrumKitDocument::selectedGroup() const
{
    const auto row = browser_.selectedRow(0);
    if (!row || *row >= kit_->drumsHierarchy().size())
        return nullptr;
    return kit_->drumsHierarchy()[*row];
}

ORPDrumInstrumentPtr ORPDrumKitDocument::selectedInstrument() const
{
    const auto group = selectedGroup();
    const auto row = browser_.selectedRow(1);
    if (!group || !row || *row >= group->instruments.size())
        return nullptr;
    return group->instruments[*row];
}

std::vector<KitItem> ORPDrumKitDocument::selectedItems(KitColumn column) const
{
    std::vector<KitItem> items;
    const auto& rows = browser_.selectedRows(static_cast<size_t>(column));
    switch (column) {
    case KitColumn::Groups:
        for (size_t row : rows)
            if (row < kit_->drumsHierarchy().size())
                items.emplace_back(kit_->drumsHierarchy()[row]);
        break;
    case KitColumn::Instruments:
        if (const auto group = selectedGroup())
            for (size_t row : rows)
                if (row < group->instruments.size())
                    items.emplace_back(group->instruments[row]);
        break;
    case KitColumn::Variants:
        if (const auto instrument = selectedInstrument())
            for (size_t row : rows)
                if (row < instrument->variants.size())
                    items.emplace_back(instrument->variants[row]);
        break;
    }
    return items;
}

KitBrowserCell ORPDrumKitDocument::cell(KitColumn column, size_t row) const
{
    KitBrowserCell cell;
    switch (column) {
    case KitColumn::Groups:
        if (row < kit_->drumsHierarchy().size())
            cell.text = kit_->drumsHierarchy()[row]->groupName();
        break;
    case KitColumn::Instruments:
        if (const auto group = selectedGroup(); group && row < group->instruments.size()) {
            cell.text = group->instruments[row]->typeName();
            cell.iconDrum = defaultVariantOf(group->instruments[row]);
        }
        break;
    case KitColumn::Variants:
        if (const auto instrument = selectedInstrument(); instrument && row < instrument->variants.size()) {
            const auto& drum = instrument->variants[row];
            cell.text = drum->variantName();
            cell.iconDrum = drum;
            cell.bold = drum->isDefaultVarForType();
            cell.leaf = true;
        }
        break;
    }
    return cell;
}

std::vector<std::vector<size_t>> ORPDrumKitDocument::pathTo(const KitItem& item) const
{
    const auto& groups = kit_->drumsHierarchy();
    for (size_t g = 0; g < groups.size(); ++g) {
        if (const auto* group = std::get_if<ORPDrumGroupPtr>(&item); group && *group == groups[g])
            return { { g } };
        const auto& instruments = groups[g]->instruments;
        for (size_t i = 0; i < instruments.size(); ++i) {
            if (const auto* instrument = std::get_if<ORPDrumInstrumentPtr>(&item); instrument && *instrument == instruments[i])
                return { { g }, { i } };
            if (const auto* drum = std::get_if<ORPDrumPtr>(&item))
                if (const auto v = indexOf(instruments[i]->variants, *drum))
                    return { { g }, { i }, { *v } };
        }
    }
    return {};
}

void ORPDrumKitDocument::selectItems(const std::vector<KitItem>& items)
{
    std::vector<std::vector<size_t>> selection;
    for (const auto& item : items) {
        auto path = pathTo(item);
        if (path.empty())
            continue;
        if (selection.empty()) {
            selection = path;
            continue;
        }
        // Only items under the same parent can be selected together.
        if (path.size() != selection.size()
            || !std::equal(path.begin(), path.end() - 1, selection.begin()))
            continue;
        selection.back().push_back(path.back().front());
    }
    browser_.setSelection(selection);
    if (!selection.empty())
        browser_.setFocusedColumn(selection.size() - 1);
}

void ORPDrumKitDocument::selectDrum(const ORPDrumPtr& drum)
{
    if (!drum || pathTo(drum).empty())
        return;
    selectItems({ drum });
    currDrum_ = drum;
    if (view_) {
        view_->reloadBrowser();
        view_->refreshDrumFields();
    }
}

void ORPDrumKitDocument::browserSelectionDidChange()
{
    followSelection();
    if (view_) {
        view_->reloadBrowser();
        view_->refreshDrumFields();
    }
}

// The current drum follows the browser: the one selected variant; else the default variant of the
// one selected instrument, or of the first instrument of the one selected group. Otherwise it stays
// while it is still in the kit, and falls back to the first drum.
void ORPDrumKitDocument::followSelection()
{
    ORPDrumPtr drum;
    if (const auto instrument = selectedInstrument()) {
        const auto row = browser_.selectedRow(2);
        drum = row && *row < instrument->variants.size() ? instrument->variants[*row] : defaultVariantOf(instrument);
    } else if (const auto group = selectedGroup(); group && !group->instruments.empty()) {
        drum = defaultVariantOf(group->instruments.front());
    }
    if (!drum && currDrum_ && !pathTo(currDrum_).empty())
        drum = currDrum_;
    if (!drum && !kit_->drumsHierarchy().empty() && !kit_->drumsHierarchy().front()->instruments.empty())
        drum = defaultVariantOf(kit_->drumsHierarchy().front()->instruments.front());
    currDrum_ = drum;
}

void ORPDrumKitDocument::refreshAfterChange()
{
    drumPicker_.setDrumKit(kit_);
    followSelection();
    if (currDrum_)
        drumPicker_.selectDrum(currDrum_, true);
    if (view_) {
        view_->reloadBrowser();
        view_->refreshDrumFields();
    }
}

void ORPDrumKitDocument::setActionName(const std::string& name)
{
    undoManager_.setActionName(name);
}

} // namespace rp::editor
