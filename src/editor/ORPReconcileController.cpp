#include "editor/ORPReconcileController.h"

#include "foundation/PropertyValue.h"
#include "foundation/TextCompare.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPUserDefaults.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>

namespace {

const std::string* stringEntry(const rp::PropertyDictionary& dictionary, const char* key)
{
    auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : found->second.getIf<std::string>();
}

// The remembered choices for a drum's names, newest first; null when there are none. The store may
// hold anything a damaged defaults file held, so every level's type is checked.
const rp::PropertyArray* cachedChoices(
    const rp::PropertyDictionary& cache, const std::string& type, const std::string& variant)
{
    const auto byType = cache.find(type);
    const auto* variants = byType == cache.end() ? nullptr : byType->second.getIf<rp::PropertyDictionary>();
    if (!variants)
        return nullptr;
    const auto byVariant = variants->find(variant);
    return byVariant == variants->end() ? nullptr : byVariant->second.getIf<rp::PropertyArray>();
}

ORPDrumPtr cachedDestination(const rp::PropertyDictionary& cache, const ORPDrum& drum, const ORPDrumKit& kit)
{
    const auto* choices = cachedChoices(cache, drum.typeName(), drum.variantName());
    if (!choices)
        return nullptr;
    for (const auto& choice : *choices) {
        const auto* entry = choice.getIf<rp::PropertyDictionary>();
        const std::string* type = entry ? stringEntry(*entry, "type") : nullptr;
        const std::string* variant = entry ? stringEntry(*entry, "variant") : nullptr;
        if (!type || !variant)
            continue;
        if (auto match = kit.drumWithTypeName(*type, *variant))
            return match;
    }
    return nullptr;
}

rp::PropertyDate now()
{
    // Property-list dates count from 2001-01-01 00:00:00 UTC.
    constexpr double kReferenceDateUnixSeconds = 978307200.0;
    const auto since1970 = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch());
    return { since1970.count() - kReferenceDateUnixSeconds };
}

const ORPPatternPtr& patternOf(const ReconcileItem& item)
{
    static const ORPPatternPtr none;
    if (const auto* pattern = std::get_if<ORPPatternPtr>(&item))
        return *pattern;
    const auto& instance = std::get<ORPPatternInstancePtr>(item);
    return instance ? instance->pattern() : none;
}

} // namespace

// ---- ReconcilePanelModel ------------------------------------------------------------------------

ReconcilePanelModel::ReconcilePanelModel(std::vector<ReconcileEntry>& entries, ORPDrumKitPtr kit, std::string title)
    : entries_(entries)
    , kit_(std::move(kit))
    , title_(std::move(title))
{
}

void ReconcilePanelModel::selectRow(std::optional<size_t> row)
{
    selectedRow_ = row && *row < entries_.size() ? row : std::nullopt;
}

ORPDrumPtr ReconcilePanelModel::pickerSelection() const
{
    return selectedRow_ ? entries_[*selectedRow_].destDrum : nullptr;
}

bool ReconcilePanelModel::pickDrum(const ORPDrumPtr& drum)
{
    if (!selectedRow_ || !drum || !kit_)
        return false;
    const auto& kitDrums = kit_->drums();
    if (std::find(kitDrums.begin(), kitDrums.end(), drum) == kitDrums.end())
        return false;
    auto& entry = entries_[*selectedRow_];
    entry.destDrum = drum;
    entry.isNewMapping = drum != entry.originalDestDrum;
    return true;
}

void ReconcilePanelModel::keepSourceDrumsWithoutDestination()
{
    for (auto& entry : entries_) {
        if (!entry.destDrum)
            entry.destDrum = entry.proxyDrum;
    }
}

bool ReconcilePanelModel::okEnabled() const
{
    return std::all_of(entries_.begin(), entries_.end(), [](const ReconcileEntry& e) { return e.destDrum != nullptr; });
}

bool ReconcilePanelModel::ok()
{
    if (!okEnabled())
        return false;
    modalResult_ = 1;
    return true;
}

// ---- NonInteractiveReconcilePanel ---------------------------------------------------------------

bool NonInteractiveReconcilePanel::runModal(ReconcilePanelModel& model)
{
    unmatched_.clear();
    for (size_t row = 0; row < model.rowCount(); ++row) {
        if (!model.destinationDrum(row))
            unmatched_.push_back(model.sourceDrum(row));
    }
    model.keepSourceDrumsWithoutDestination();
    return model.ok();
}

// ---- ORPReconcileController ---------------------------------------------------------------------

ORPReconcileController::ORPReconcileController(std::shared_ptr<ReconcilePanel> panel, rp::UserDefaults* defaults)
    : panel_(std::move(panel))
    , defaults_(defaults)
{
}

rp::UserDefaults& ORPReconcileController::defaults() const
{
    return defaults_ ? *defaults_ : ORPUserDefaults::defaults();
}

bool ORPReconcileController::prepareInteractivelyForPatterns(
    const std::vector<ORPPatternPtr>& patterns, const ORPDrumKitPtr& kit, const std::string& actionName)
{
    return prepareInteractivelyForPatterns(
        std::vector<ReconcileItem>(patterns.begin(), patterns.end()), kit, actionName);
}

bool ORPReconcileController::reconcileInteractivelyForPatterns(
    const std::vector<ORPPatternPtr>& patterns, const ORPDrumKitPtr& kit, const std::string& actionName)
{
    return reconcileInteractivelyForPatterns(
        std::vector<ReconcileItem>(patterns.begin(), patterns.end()), kit, actionName);
}

bool ORPReconcileController::prepareInteractivelyForPatterns(
    const std::vector<ReconcileItem>& items, const ORPDrumKitPtr& kit, const std::string& actionName)
{
    newDrums_.clear();
    allEvents_.clear();
    entries_.clear();
    const auto cache = defaults().dictionaryForKey(kCacheKey);
    bool needsUser = false;

    // The events as they are now, in item and event order; the results are built from the same
    // snapshots so that they match the entries whatever happens while the panel is up.
    std::vector<ORPPattern::EventSnapshot> snapshots;
    std::unordered_map<const ORPDrum*, size_t> seen;
    for (const auto& item : items) {
        const auto& pattern = patternOf(item);
        if (!pattern)
            continue;
        snapshots.push_back(pattern->events());
        for (const auto& event : *snapshots.back()) {
            const ORPDrumPtr drum = event ? event->drum() : nullptr;
            if (!drum || seen.count(drum.get()))
                continue;
            seen.emplace(drum.get(), entries_.size());
            ORPDrumPtr proposal = kit ? kit->drumWithTypeName(drum->typeName(), drum->variantName()) : nullptr;
            if (!proposal) {
                needsUser = true;
                if (cache && kit)
                    proposal = cachedDestination(*cache, *drum, *kit);
            }
            entries_.push_back({ drum, proposal, proposal, proposal == nullptr, false });
        }
    }

    if (needsUser) {
        std::stable_sort(entries_.begin(), entries_.end(), [](const ReconcileEntry& a, const ReconcileEntry& b) {
            if (a.initiallyEmpty != b.initiallyEmpty)
                return a.initiallyEmpty;
            if (int order = rp::compareIgnoringCase(a.proxyDrum->typeName(), b.proxyDrum->typeName()))
                return order < 0;
            return rp::compareIgnoringCase(a.proxyDrum->variantName(), b.proxyDrum->variantName()) < 0;
        });
        ReconcilePanelModel model(entries_, kit, actionName);
        model.selectRow(0);
        // Only OK accepts, and OK needs a destination on every row: a panel that claims success
        // otherwise must not hand out events without a drum.
        const bool accepted = panel_ && panel_->runModal(model) && model.modalResult() == 1 && model.okEnabled();
        if (!accepted)
            return false;
        rememberNewMappings();
        seen.clear();
        for (size_t i = 0; i < entries_.size(); ++i)
            seen[entries_[i].proxyDrum.get()] = i;
    }

    for (const auto& snapshot : snapshots) {
        for (const auto& event : *snapshot) {
            const ORPDrumPtr drum = event ? event->drum() : nullptr;
            auto found = drum ? seen.find(drum.get()) : seen.end();
            if (found == seen.end() || !entries_[found->second].destDrum)
                continue;
            allEvents_.push_back(event);
            newDrums_.push_back(entries_[found->second].destDrum);
        }
    }
    return true;
}

bool ORPReconcileController::reconcileInteractivelyForPatterns(
    const std::vector<ReconcileItem>& items, const ORPDrumKitPtr& kit, const std::string& actionName)
{
    if (!prepareInteractivelyForPatterns(items, kit, actionName))
        return false;
    doReconcile();
    return true;
}

void ORPReconcileController::doReconcile()
{
    const size_t count = std::min(allEvents_.size(), newDrums_.size());
    for (size_t i = 0; i < count; ++i)
        allEvents_[i]->setDrum(newDrums_[i]);
}

void ORPReconcileController::rememberNewMappings() const
{
    auto& store = defaults();
    auto cache = store.dictionaryForKey(kCacheKey).value_or(rp::PropertyDictionary {});
    bool changed = false;
    for (const auto& entry : entries_) {
        if (!entry.isNewMapping || !entry.destDrum)
            continue;
        // Levels that are missing, or not of the kind they should be, start afresh.
        auto& byType = cache[entry.proxyDrum->typeName()];
        if (!byType.getIf<rp::PropertyDictionary>())
            byType = rp::PropertyDictionary {};
        auto variants = *byType.getIf<rp::PropertyDictionary>();
        auto& byVariant = variants[entry.proxyDrum->variantName()];
        if (!byVariant.getIf<rp::PropertyArray>())
            byVariant = rp::PropertyArray {};
        auto choices = *byVariant.getIf<rp::PropertyArray>();
        choices.insert(choices.begin(),
            rp::PropertyDictionary { { "type", entry.destDrum->typeName() },
                { "variant", entry.destDrum->variantName() }, { "date", now() } });
        byVariant = std::move(choices);
        byType = std::move(variants);
        changed = true;
    }
    // Nothing new: the store is left alone (the command-line tool must not write the user's
    // defaults on every run).
    if (changed)
        store.setObject(cache, kCacheKey);
}
