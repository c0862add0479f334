// The pattern editor: editing commands, clipboard and menu validation.

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "editor/ORPPatternEditor.h"
#include "editor/ORPReconcileController.h"
#include "editor/PasteboardTypes.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/UndoManager.h"
#include "model/ORPSong.h"
#include "player/ORPPlayer.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>
#include <unordered_set>

using rp::editor::ORPPattisForBarsPboardType;
using rp::editor::ORPPattisForDrumsPboardType;

namespace {

// One undo step for a command: the registrations between construction and finish() are grouped
// and named. Without an undo manager (a bar outside any song) it does nothing.
class CommandStep {
public:
    explicit CommandStep(rp::UndoManager* undo)
        : undo_(undo)
    {
        if (undo_)
            undo_->beginUndoGrouping();
    }
    ~CommandStep()
    {
        if (undo_)
            undo_->endUndoGrouping();
    }
    CommandStep(const CommandStep&) = delete;
    CommandStep& operator=(const CommandStep&) = delete;

    void finish(const std::string& actionName)
    {
        if (!undo_)
            return;
        undo_->endUndoGrouping();
        undo_->setActionName(rp::localized(actionName));
        undo_ = nullptr;
    }

private:
    rp::UndoManager* undo_;
};

ORPSectionPtr sectionOf(const ORPPatternEditor::EditedObject& object)
{
    if (const auto* section = std::get_if<ORPSectionPtr>(&object))
        return *section;
    const auto& marker = std::get<ORPSectionMarkerPtr>(object);
    return marker ? marker->section() : nullptr;
}

std::optional<size_t> indexOfPattern(const ORPSection& section, const ORPPattern* pattern)
{
    const auto& patterns = section.patterns();
    for (size_t i = 0; i < patterns.size(); ++i)
        if (patterns[i].get() == pattern)
            return i;
    return std::nullopt;
}

// After normalising to whole beats: one range from beat 0 to the last beat.
bool coversWholeBar(const OXSelection& selection, int64_t top)
{
    const auto& ranges = selection.rangeArray();
    return ranges.size() == 2 && orpRoundHalfAway(static_cast<double>(ranges[0]) * static_cast<double>(top)) <= 0
        && orpRoundHalfAway(static_cast<double>(ranges[1]) * static_cast<double>(top)) >= static_cast<double>(top);
}

rp::Error unusableClipboardError()
{
    return rp::Error::make(rp::kErrorInvalidFile, "The clipboard's contents can't be pasted.", {},
        "The copied bars are damaged, or were not copied from Rattlepan.");
}

} // namespace

// --- Helpers ---

bool ORPPatternEditor::notPlaying() const
{
    return !isHeartbeatRunning();
}

rp::UndoManager* ORPPatternEditor::commandUndoManager() const
{
    for (const auto& instance : instances_)
        if (auto* undo = instance->pattern()->undoManager())
            return undo;
    for (const auto& object : objectList_)
        if (const auto section = sectionOf(object))
            if (auto* undo = section->undoManager())
                return undo;
    return nullptr;
}

std::pair<ORPSectionPtr, size_t> ORPPatternEditor::insertionTarget() const
{
    if (insertPatti_) {
        const auto& pattern = insertPatti_->pattern();
        if (const auto section = pattern->parentSection()) {
            const size_t index = indexOfPattern(*section, pattern.get()).value_or(section->patterns().size());
            return { section, insertPlace_ != 0 ? index + 1 : index };
        }
    }
    if (objectList_.empty())
        return { nullptr, 0 };
    return { sectionOf(objectList_.front()), 0 };
}

ORPPatternInstancePtr ORPPatternEditor::instanceOfPattern(
    const ORPPatternPtr& pattern, const ORPSectionMarkerPtr& marker) const
{
    ORPPatternInstancePtr first;
    for (const auto& instance : instances_) {
        if (instance->pattern() != pattern)
            continue;
        if (instance->sectionMarker() == marker)
            return instance;
        if (!first)
            first = instance;
    }
    // The bar is not shown under that entry (there was no insertion point): its first appearance.
    return first;
}

ORPReconcileController& ORPPatternEditor::reconciler()
{
    if (reconcilerProvider_)
        if (auto* provided = reconcilerProvider_())
            return *provided;
    if (!ownReconciler_)
        ownReconciler_ = std::make_shared<ORPReconcileController>(nullptr, &defaults_);
    return *ownReconciler_;
}

bool ORPPatternEditor::reconcileForPaste(
    const std::vector<std::variant<ORPPatternPtr, ORPPatternInstancePtr>>& items, const std::string& actionName)
{
    if (!drumKit_)
        return false;
    auto& controller = reconciler();
    if (!controller.prepareInteractivelyForPatterns(items, drumKit_, rp::localized(actionName)))
        return false;
    controller.doReconcile();
    if (player_) {
        std::vector<ORPDrumPtr> drums;
        std::unordered_set<const ORPDrum*> seen;
        for (const auto& drum : controller.reconciledDrums())
            if (drum && seen.insert(drum.get()).second)
                drums.push_back(drum);
        player_->precacheWaveformsForDrums(drums);
    }
    return true;
}

void ORPPatternEditor::registerSelectionUndo(
    const ORPPatternInstancePtr& instance, bool selected, float from, float to)
{
    auto* undo = commandUndoManager();
    if (!undo)
        return;
    std::weak_ptr<ORPPatternEditor> editor = weak_from_this();
    std::weak_ptr<ORPPatternInstance> bar = instance;
    undo->registerUndo(this, [editor, bar, selected, from, to] {
        const auto self = editor.lock();
        const auto target = bar.lock();
        if (!self || !target)
            return;
        self->setSelected(target, !selected, from, to);
        self->registerSelectionUndo(target, !selected, from, to);
    });
}

// --- Validation ---

ORPMenuItemState ORPPatternEditor::validateAction(const std::string& action) const
{
    const bool quiet = notPlaying();
    auto offers = [&](const char* type) { return pasteboard_ && pasteboard_->hasType(type); };
    if (action == "copy:" || action == "exportSelectionAudio:")
        return { hasSelection(), {} };
    if (action == "cut:" || action == "clear:" || action == "deselectAll:")
        return { quiet && hasSelection(), {} };
    if (action == "selectAll:")
        return { quiet && selected_.size() < instances_.size(), {} };
    if (action == "paste:")
        return { quiet && (offers(ORPPattisForDrumsPboardType) || offers(ORPPattisForBarsPboardType)), {} };
    if (action == "pasteOver:")
        return { quiet && offers(ORPPattisForDrumsPboardType), {} };
    if (action == "zoomIn:" || action == "zoomOut:" || action == "zoomSelectionIn:" || action == "zoomSelectionOut:")
        return { !instances_.empty(), {} };
    if (action == "insertBarAction:") {
        const bool severalSections = objectList_.size() >= 2 && std::holds_alternative<ORPSectionPtr>(objectList_[0]);
        return { quiet && !objectList_.empty() && !severalSections && selected_.size() <= 1, {} };
    }
    if (action == "insertBeatAction:")
        return { quiet && insertPatti_ && !hasSelection(), {} };
    if (action == "deleteBeatsAction:") {
        size_t bars = 0;
        size_t partial = 0;
        for (const auto& instance : affectedPatternInstances()) {
            if (instance->selection()->selectionFrom(0.0f, 1.0f) == 1)
                ++bars;
            else
                ++partial;
        }
        const char* title = (bars >= 2 || (bars == 1 && partial > 0)) ? "Delete Bars"
            : partial == 0                                            ? "Delete Bar"
                                                                      : "Delete Beats";
        return { quiet && insertPatti_, rp::localized(title) };
    }
    if (action == "changeTempoAction:")
        return { quiet && !instances_.empty(), {} };
    if (action == "playOrStopAction:")
        return { true, rp::localized(isPlaying() ? "Stop Playing" : "Play") };
    return { true, {} };
}

// --- Clipboard data ---

std::vector<uint8_t> ORPPatternEditor::dataForSelectedPatterns() const
{
    rp::KeyedArchiver archiver;
    ORPEvent::archiveDrumsSparsely(archiver);
    std::vector<rp::ArchiveObjectPtr> items(selected_.begin(), selected_.end());
    archiver.encodeObject(std::make_shared<rp::ArchivedArray>(std::move(items)), "root");
    std::vector<uint8_t> data = archiver.finishEncoding();
    if (data.empty())
        rp::logf("ORPPatternEditor: archiving the selected bars failed: %s", archiver.errorText().c_str());
    return data;
}

std::vector<ORPPatternInstancePtr> ORPPatternEditor::instancesFromPasteboardData(
    std::span<const uint8_t> data, rp::Error* error)
{
    auto fail = [&](const std::string& why) {
        rp::logf("ORPPatternEditor: unusable bars on the clipboard: %s", why.c_str());
        if (error)
            *error = unusableClipboardError();
        return std::vector<ORPPatternInstancePtr> {};
    };
    if (data.size() > rp::editor::PasteboardTypes::kMaximumForeignBytes)
        return fail("too large");
    ORPSong::registerArchiveClasses();
    rp::KeyedUnarchiver coder(data);
    // A bar whose pattern is missing decodes with an empty stand-in: know which patterns were read.
    std::unordered_set<const rp::ArchiveObject*> patterns;
    coder.setReplacement([&patterns](const rp::ArchiveObjectPtr& object) {
        if (dynamic_cast<const ORPPattern*>(object.get()))
            patterns.insert(object.get());
        return object;
    });
    const rp::ArchiveObjectPtr root = coder.failed() ? nullptr : coder.decodeRootObject();
    if (!root || coder.failed())
        return fail(coder.errorText().empty() ? std::string("no root object") : coder.errorText());
    const auto array = std::dynamic_pointer_cast<rp::ArchivedArray>(root);
    if (!array)
        return fail("not an array but " + root->archiveClassName());
    if (array->items.empty())
        return fail("no bars");
    std::vector<ORPPatternInstancePtr> instances;
    instances.reserve(array->items.size());
    for (const auto& item : array->items) {
        auto instance = std::dynamic_pointer_cast<ORPPatternInstance>(item);
        if (!instance)
            return fail("an element is " + (item ? item->archiveClassName() : std::string("null")));
        if (!instance->pattern() || !patterns.contains(instance->pattern().get()))
            return fail("a bar without its pattern");
        instances.push_back(std::move(instance));
    }
    if (error)
        *error = rp::Error();
    return instances;
}

std::vector<ORPPatternInstancePtr> ORPPatternEditor::readPasteboard(const char* typeName, rp::Error* error) const
{
    const auto data = pasteboard_ ? pasteboard_->data(typeName) : std::nullopt;
    if (!data) {
        if (error)
            *error = unusableClipboardError();
        return {};
    }
    return instancesFromPasteboardData(*data, error);
}

std::vector<std::string> ORPPatternEditor::writableTypes()
{
    return { ORPPattisForBarsPboardType, ORPPattisForDrumsPboardType };
}

// --- Copy, cut, clear ---

void ORPPatternEditor::copy()
{
    if (!pasteboard_ || selected_.empty())
        return;
    std::vector<uint8_t> data = dataForSelectedPatterns();
    if (data.empty())
        return;
    const std::string type = wholeBarSelection_ ? ORPPattisForBarsPboardType : ORPPattisForDrumsPboardType;
    pasteboard_->declareTypes({ type });
    pasteboard_->setData(type, std::move(data));
}

void ORPPatternEditor::cut()
{
    CommandStep step(commandUndoManager());
    copy();
    clear();
    step.finish("Cut");
}

void ORPPatternEditor::clear()
{
    if (wholeBarSelection_) {
        for (const auto& instance : std::vector<ORPPatternInstancePtr>(selected_))
            setSelected(instance, true, 0.0f, 1.0f);
        deleteBeatsAction();
        return;
    }
    CommandStep step(commandUndoManager());
    for (const auto& instance : std::vector<ORPPatternInstancePtr>(selected_)) {
        const auto& pattern = instance->pattern();
        const auto events = pattern->events();
        for (const auto& event : *events)
            if (instance->selection()->isSelected(event->whenRatio()))
                pattern->removeEvent(event);
    }
}

// --- Beats and bars ---

void ORPPatternEditor::insertBeatAction()
{
    if (!insertPatti_)
        return;
    const auto pattern = insertPatti_->pattern();
    CommandStep step(pattern->undoManager());
    pattern->insertBeats(1, insertPlace_);
    step.finish("Insert Beat");
}

void ORPPatternEditor::deleteBeatsAction()
{
    struct Work {
        ORPPatternPtr pattern;
        std::shared_ptr<OXSelection> selection; // a copy: the commands' own edits deselect the bars
    };
    std::vector<Work> work;
    size_t firstIndex = 0;
    if (selected_.empty()) {
        if (!insertPatti_)
            return;
        const auto& pattern = insertPatti_->pattern();
        const float length = 0.6f / static_cast<float>(pattern->timeSignatureTop());
        auto selection = std::make_shared<OXSelection>();
        if (insertPlace_ >= 1.0f)
            selection->select(true, std::max(0.0f, 1.0f - length), 1.0f);
        else
            selection->select(true, insertPlace_, std::min(1.0f, insertPlace_ + length));
        work.push_back({ pattern, selection });
        firstIndex = insertionPointIndex().value_or(0);
    } else {
        for (const auto& instance : affectedPatternInstances()) {
            auto same = std::find_if(
                work.begin(), work.end(), [&](const Work& w) { return w.pattern == instance->pattern(); });
            if (same != work.end()) {
                same->selection->addSelection(*instance->selection());
                continue;
            }
            auto selection = std::make_shared<OXSelection>();
            selection->addSelection(*instance->selection());
            work.push_back({ instance->pattern(), selection });
        }
        const auto found = indexOf_.find(selected_.front().get());
        firstIndex = found == indexOf_.end() ? 0 : found->second;
    }
    if (work.empty())
        return;
    const OXSelection& first = *work.front().selection;
    float place = first.selectionFrom(0.0f, 1.0f) == 1 || !first.anySelection() ? 0.0f : first.rangeArray()[0];

    int64_t bars = 0;
    int64_t beats = 0;
    CommandStep step(commandUndoManager());
    while (!work.empty()) {
        const auto section = work.back().pattern->parentSection();
        if (!section) {
            work.pop_back();
            continue;
        }
        std::vector<ORPPatternPtr> removed;
        // From the end of the list, so the last place computed is that of the first bar.
        for (size_t i = work.size(); i-- > 0;) {
            if (work[i].pattern->parentSection() != section)
                continue;
            const Work item = work[i];
            work.erase(work.begin() + static_cast<ptrdiff_t>(i));
            const int64_t top = item.pattern->timeSignatureTop();
            item.selection->normalizeToGranularity(1.0f / static_cast<float>(top));
            if (coversWholeBar(*item.selection, top)) {
                removed.push_back(item.pattern);
                ++bars;
                continue;
            }
            int64_t deleted = 0;
            const std::vector<float> ranges = item.selection->rangeArray();
            for (size_t k = 0; k + 1 < ranges.size(); k += 2) {
                const double s = orpRoundHalfAway(static_cast<double>(ranges[k]) * static_cast<double>(top));
                const double e = orpRoundHalfAway(static_cast<double>(ranges[k + 1]) * static_cast<double>(top));
                const double d = static_cast<double>(deleted);
                const double remaining = static_cast<double>(top) - d;
                const int64_t n = item.pattern->deleteBeatsFromPlace(
                    static_cast<float>((s - d) / remaining), static_cast<float>((e - d) / remaining));
                deleted += n;
                beats += n;
                const double after = static_cast<double>(top - deleted);
                place = static_cast<float>(std::max(0.0, e - static_cast<double>(deleted)) / after);
            }
        }
        if (!removed.empty())
            section->removePatterns(removed);
    }

    view_.redrawRect(insertionRect_);
    if (!instances_.empty()) {
        if (firstIndex < instances_.size())
            setInsertAtPlace(place, instances_[firstIndex]);
        else
            // The removed bars ended the list: the insertion point goes where they were, at the end.
            setInsertAtPlace(1.0f, instances_.back());
    }
    view_.redrawRect(insertionRect_);
    currPatti_.reset();

    const char* name = (bars >= 2 || (bars == 1 && beats > 0)) ? "Delete Bars"
        : beats >= 2                                           ? "Delete Beats"
        : beats == 1                                           ? "Delete Beat"
                                                               : "Delete Bar";
    step.finish(name);
}

void ORPPatternEditor::insertBarAction()
{
    const auto [section, index] = insertionTarget();
    if (!section)
        return;
    auto pattern = ORPPattern::pattern();
    if (insertPatti_) {
        const auto& model = insertPatti_->pattern();
        pattern->setTimeSignatureTop(model->timeSignatureTop(), model->timeSignatureBottom());
        pattern->setBpm(model->bpm(), model->beatBasis());
    }
    const auto marker = insertPatti_ ? insertPatti_->sectionMarker() : nullptr;
    CommandStep step(section->undoManager());
    section->insertPatterns({ pattern }, index);
    step.finish("Insert Bar");
    moveInsertionPointToPlace(1.0f, instanceOfPattern(pattern, marker));
}

// --- Paste ---

std::optional<rp::Error> ORPPatternEditor::paste()
{
    if (objectList_.empty()) {
        rp::logf("paste: no sections in song!");
        return std::nullopt;
    }
    if (!pasteboard_)
        return std::nullopt;
    rp::Error error;
    if (pasteboard_->hasType(ORPPattisForDrumsPboardType)) {
        const auto instances = readPasteboard(ORPPattisForDrumsPboardType, &error);
        if (instances.empty())
            return error;
        pasteDrumsFromInstances(instances, true, "Paste Drums");
        return std::nullopt;
    }
    if (!pasteboard_->hasType(ORPPattisForBarsPboardType))
        return std::nullopt;
    const auto instances = readPasteboard(ORPPattisForBarsPboardType, &error);
    if (instances.empty())
        return error;
    // A bar copied twice (a repeated section) arrives as one pattern; each bar needs its own.
    std::vector<ORPPatternPtr> patterns;
    std::set<const ORPPattern*> seen;
    for (const auto& instance : instances) {
        const auto& pattern = instance->pattern();
        patterns.push_back(seen.insert(pattern.get()).second ? pattern : pattern->copy());
    }

    CommandStep step(commandUndoManager());
    if (!reconcileForPaste({ patterns.begin(), patterns.end() }, "Paste Bars"))
        return std::nullopt;
    ORPSectionPtr section;
    size_t index = 0;
    if (wholeBarSelection_ && hasSelection()) {
        // The pasted bars take the place of the selected ones: where the first of them stands, less
        // the selected bars before it that leave its section. (Where Delete leaves the insertion point
        // is not that place when a repeated section shows a bar twice.)
        const auto& first = selected_.front()->pattern();
        section = first->parentSection();
        if (section) {
            index = indexOfPattern(*section, first.get()).value_or(0);
            std::set<const ORPPattern*> before;
            for (const auto& instance : selected_) {
                const auto at = indexOfPattern(*section, instance->pattern().get());
                if (at && *at < index)
                    before.insert(instance->pattern().get());
            }
            index -= before.size();
        }
        clear();
    }
    const auto marker = insertPatti_ ? insertPatti_->sectionMarker() : nullptr;
    if (!section)
        std::tie(section, index) = insertionTarget();
    if (!section)
        return std::nullopt;
    section->insertPatterns(patterns, index);
    step.finish("Paste Bars");
    moveInsertionPointToPlace(1.0f, instanceOfPattern(patterns.back(), marker));
    return std::nullopt;
}

std::optional<rp::Error> ORPPatternEditor::pasteOver()
{
    if (!pasteboard_ || !pasteboard_->hasType(ORPPattisForDrumsPboardType))
        return std::nullopt;
    rp::Error error;
    const auto instances = readPasteboard(ORPPattisForDrumsPboardType, &error);
    if (instances.empty())
        return error;
    pasteDrumsFromInstances(instances, false, "Paste Drums Over");
    return std::nullopt;
}

bool ORPPatternEditor::pasteDrumsFromInstances(
    const std::vector<ORPPatternInstancePtr>& sources, bool destructively, const std::string& actionName)
{
    if (sources.empty() || instances_.empty())
        return false;
    CommandStep step(commandUndoManager());
    if (!reconcileForPaste({ sources.begin(), sources.end() }, actionName))
        return false;

    auto topOf = [](const ORPPatternInstancePtr& instance) {
        return static_cast<double>(instance->pattern()->timeSignatureTop());
    };
    const auto& firstSource = sources.front();
    const auto& firstRanges = firstSource->selection()->rangeArray();
    const double S = firstRanges.empty() ? 0.0 : static_cast<double>(firstRanges[0]) * topOf(firstSource);

    if (wholeBarSelection_ && hasSelection())
        moveInsertionPointToPlace(static_cast<float>(S / topOf(firstSource)), selected_.front());
    ORPPatternInstancePtr destination;
    double startOffset = 0;
    if (hasSelection()) {
        destination = selected_.front();
        startOffset = static_cast<double>(destination->selection()->rangeArray()[0]) * topOf(destination);
    } else if (insertPatti_) {
        destination = insertPatti_;
        startOffset = static_cast<double>(insertPlace_) * topOf(destination);
    }
    const auto startIndex = destination ? indexOf_.find(destination.get()) : indexOf_.end();
    if (startIndex == indexOf_.end())
        return false;
    deselectAll();
    wholeBarSelection_ = false;

    // A cursor over the destination bars counting beats: the bar, its top, the offset into it.
    struct Cursor {
        const std::vector<ORPPatternInstancePtr>& bars;
        size_t index;
        double top;
        double offset;
        bool step()
        {
            if (index + 1 >= bars.size())
                return false;
            offset -= top;
            ++index;
            top = static_cast<double>(bars[index]->pattern()->timeSignatureTop());
            return true;
        }
        const ORPPatternInstancePtr& bar() const { return bars[index]; }
    };
    // The editor's own edits rebuild nothing here (no bars come or go), but keep the list steady.
    const std::vector<ORPPatternInstancePtr> bars = instances_;

    // Marking: select the destination ranges the source ranges fall on.
    auto mark = [&](const ORPPatternInstancePtr& bar, float from, float to) {
        if (!(from < to))
            return;
        setSelected(bar, true, from, to);
        registerSelectionUndo(bar, true, from, to);
    };
    Cursor cursor { bars, startIndex->second, topOf(bars[startIndex->second]), startOffset };
    bool room = true;
    for (const auto& source : sources) {
        const double t = topOf(source);
        const std::vector<float> ranges = source->selection()->rangeArray();
        for (size_t k = 0; room && k + 1 < ranges.size(); k += 2) {
            const double b0 = static_cast<double>(ranges[k]) * t - S;
            const double b1 = static_cast<double>(ranges[k + 1]) * t - S;
            while (room && b0 + cursor.offset >= cursor.top)
                room = cursor.step();
            if (!room)
                break;
            double from = (b0 + cursor.offset) / cursor.top;
            while (room && b1 + cursor.offset >= cursor.top) {
                mark(cursor.bar(), static_cast<float>(from), 1.0f);
                room = cursor.step();
                from = 0;
            }
            if (room)
                mark(cursor.bar(), static_cast<float>(from), static_cast<float>((b1 + cursor.offset) / cursor.top));
        }
        if (!room)
            break;
        cursor.offset += t;
    }

    // What to copy, taken before the erasing in case a source shares a pattern with the target.
    struct Hit {
        ORPDrumPtr drum;
        float velocity;
        double beat; // from the source start
    };
    std::vector<std::vector<Hit>> hits;
    for (const auto& source : sources) {
        const double t = topOf(source);
        auto& list = hits.emplace_back();
        for (const auto& event : *source->pattern()->events())
            if (source->selection()->isSelected(event->whenRatio()))
                list.push_back({ event->drum(), event->velocity(), static_cast<double>(event->whenRatio()) * t - S });
    }
    if (destructively)
        clear();

    Cursor copying { bars, startIndex->second, topOf(bars[startIndex->second]), startOffset };
    for (size_t i = 0; i < sources.size(); ++i) {
        for (const auto& hit : hits[i]) {
            while (hit.beat + copying.offset >= copying.top) {
                if (!copying.step()) {
                    view_.beep();
                    step.finish(actionName);
                    return true;
                }
            }
            copying.bar()->pattern()->addEventWithDrum(
                hit.drum, hit.velocity, static_cast<float>((hit.beat + copying.offset) / copying.top));
        }
        copying.offset += topOf(sources[i]);
    }
    step.finish(actionName);
    return true;
}
