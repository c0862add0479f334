#pragma once

#include "foundation/UndoManager.h"

namespace rp::editor {

// Whether a document differs from its file, counted from its undo manager: a completed edit adds
// one, an undo takes one away, a redo adds one back. Saving remembers the count; undoing past the
// saved point and then making a new edit can never return to it. Contents read from another file
// (a kit chosen while opening) mark the document changed until it is saved.
class DocumentChangeTracker {
public:
    explicit DocumentChangeTracker(UndoManager& undoManager);
    ~DocumentChangeTracker();
    DocumentChangeTracker(const DocumentChangeTracker&) = delete;
    DocumentChangeTracker& operator=(const DocumentChangeTracker&) = delete;

    bool isDocumentEdited() const;
    void markSaved();
    void markChangedByReading() { changedByReading_ = true; }
    long changeCount() const { return changeCount_; }

private:
    static constexpr long kUnreachable = -1000000000L;
    void handle(const Notification& notification);

    UndoManager& undoManager_;
    long changeCount_ = 0;
    long savedChangeCount_ = 0;
    size_t lastUndoSteps_ = 0;
    bool changedByReading_ = false;
};

} // namespace rp::editor
