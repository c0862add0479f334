#pragma once

// Binding patterns to another kit: every drum the patterns use is replaced by a drum of the target
// kit, matched by exact type and variant name, else by a mapping the user chose before, else by
// the user in a panel. The panel itself is the interface's; here it is an abstract ReconcilePanel
// driving a ReconcilePanelModel, so the rules can be tested without windows.

#include "kit/ORPDrumKit.h"
#include "model/ORPPattern.h"
#include "model/ORPPatternInstance.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace rp {
class UserDefaults;
}

// One row of the panel: one distinct drum object used by the patterns.
struct ReconcileEntry {
    ORPDrumPtr proxyDrum; // the drum the events use now
    ORPDrumPtr destDrum; // the target kit's drum that will replace it, or null
    ORPDrumPtr originalDestDrum; // the destination proposed before the user chose anything
    bool initiallyEmpty = false; // nothing could be proposed
    bool isNewMapping = false; // the user chose a destination other than the proposed one
};

// What the panel shows and what its controls do, without the widgets.
class ReconcilePanelModel {
public:
    ReconcilePanelModel(std::vector<ReconcileEntry>& entries, ORPDrumKitPtr kit, std::string title);

    const std::string& title() const { return title_; }
    const ORPDrumKitPtr& kit() const { return kit_; }
    size_t rowCount() const { return entries_.size(); }
    const ReconcileEntry& entry(size_t row) const { return entries_.at(row); }
    // Column "src" and column "dest" (null: an empty cell).
    const ORPDrumPtr& sourceDrum(size_t row) const { return entries_.at(row).proxyDrum; }
    const ORPDrumPtr& destinationDrum(size_t row) const { return entries_.at(row).destDrum; }

    // Selecting a row (none, or a row past the end, clears the selection).
    void selectRow(std::optional<size_t> row);
    std::optional<size_t> selectedRow() const { return selectedRow_; }
    // The drum the picker shows selected: the selected row's destination, or null.
    ORPDrumPtr pickerSelection() const;
    // The drum a click on the selected row plays, or null.
    ORPDrumPtr drumToAudition() const { return pickerSelection(); }

    // The picker chose `drum` (a drum of the kit): it becomes the selected row's destination, a new
    // mapping exactly when it differs from the proposal. False (nothing changes) without a selected
    // row or for a drum that is not the kit's.
    bool pickDrum(const ORPDrumPtr& drum);

    // Rows without a destination keep their own drum: their events stay as they are. Not a pick, so
    // nothing is remembered for them. For panels with nobody to ask.
    void keepSourceDrumsWithoutDestination();

    // OK is enabled exactly when every row has a destination.
    bool okEnabled() const;
    // OK ends the modal run with result 1; refused (false) while OK is disabled.
    bool ok();
    // Closing the panel ends the modal run with result 0.
    void close() { modalResult_ = 0; }
    // 1 after OK, 0 after closing, none while the panel runs.
    std::optional<int> modalResult() const { return modalResult_; }

private:
    std::vector<ReconcileEntry>& entries_;
    ORPDrumKitPtr kit_;
    std::string title_;
    std::optional<size_t> selectedRow_;
    std::optional<int> modalResult_;
};

// The modal panel. The interface shows the model's rows and the kit's picker, and forwards the
// user's selections and picks to the model until OK or closing ends the run.
class ReconcilePanel {
public:
    virtual ~ReconcilePanel() = default;
    // Runs the panel modally on `model` (its first row selected, its title the action name). True
    // when it ended with OK.
    virtual bool runModal(ReconcilePanelModel& model) = 0;
};

// For runs with nobody to ask (the command-line tool): accepts the proposals, and lets drums that
// found no destination stay on their events (recorded as unmatched; nothing is remembered).
class NonInteractiveReconcilePanel : public ReconcilePanel {
public:
    bool runModal(ReconcilePanelModel& model) override;
    // The drums of the last run that kept no destination, in row order.
    const std::vector<ORPDrumPtr>& unmatchedDrums() const { return unmatched_; }

private:
    std::vector<ORPDrumPtr> unmatched_;
};

// A pattern, or a pattern instance standing for its pattern.
using ReconcileItem = std::variant<ORPPatternPtr, ORPPatternInstancePtr>;

// The drum reconciler of one song document. Main thread only.
class ORPReconcileController {
public:
    static constexpr const char* kCacheKey = "RPReconcileCacheByType";

    // `defaults` holds the remembered mappings (null: ORPUserDefaults' store).
    explicit ORPReconcileController(std::shared_ptr<ReconcilePanel> panel, rp::UserDefaults* defaults = nullptr);

    void setPanel(std::shared_ptr<ReconcilePanel> panel) { panel_ = std::move(panel); }

    // Builds the entries, shows the panel when any drum lacks an exact match and fills the result
    // lists. False when the user closed the panel: then nothing changed and the lists are empty.
    bool prepareInteractivelyForPatterns(
        const std::vector<ReconcileItem>& items, const ORPDrumKitPtr& kit, const std::string& actionName);
    bool prepareInteractivelyForPatterns(
        const std::vector<ORPPatternPtr>& patterns, const ORPDrumKitPtr& kit, const std::string& actionName);
    // Prepares, and on success gives every event its new drum.
    bool reconcileInteractivelyForPatterns(
        const std::vector<ReconcileItem>& items, const ORPDrumKitPtr& kit, const std::string& actionName);
    bool reconcileInteractivelyForPatterns(
        const std::vector<ORPPatternPtr>& patterns, const ORPDrumKitPtr& kit, const std::string& actionName);
    // Gives each event of reconciledEvents() the drum at the same index of reconciledDrums().
    void doReconcile();

    // Results of the last preparation, index by index; valid until the next one.
    const std::vector<ORPDrumPtr>& reconciledDrums() const { return newDrums_; }
    const std::vector<ORPEventPtr>& reconciledEvents() const { return allEvents_; }
    // The rows of the last preparation, in the panel's order.
    const std::vector<ReconcileEntry>& entries() const { return entries_; }

private:
    rp::UserDefaults& defaults() const;
    void rememberNewMappings() const;

    std::shared_ptr<ReconcilePanel> panel_;
    rp::UserDefaults* defaults_;
    std::vector<ReconcileEntry> entries_;
    std::vector<ORPEventPtr> allEvents_;
    std::vector<ORPDrumPtr> newDrums_;
};
