#include "editor/DocumentChangeTracker.h"

#include <string_view>

namespace rp::editor {

DocumentChangeTracker::DocumentChangeTracker(UndoManager& undoManager)
    : undoManager_(undoManager)
    , lastUndoSteps_(undoManager.undoStepCount())
{
    NotificationCenter::defaultCenter().addObserver(
        this, "", &undoManager_, [this](const Notification& note) { handle(note); });
}

DocumentChangeTracker::~DocumentChangeTracker()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

bool DocumentChangeTracker::isDocumentEdited() const
{
    return changedByReading_ || changeCount_ != savedChangeCount_;
}

void DocumentChangeTracker::markSaved()
{
    // The history may have been dropped (a revert) since the last notification.
    lastUndoSteps_ = undoManager_.undoStepCount();
    savedChangeCount_ = changeCount_;
    changedByReading_ = false;
}

void DocumentChangeTracker::handle(const Notification& notification)
{
    const std::string_view name = notification.name;
    if (name == UndoManager::DidUndoChangeNotification) {
        --changeCount_;
    } else if (name == UndoManager::DidRedoChangeNotification) {
        ++changeCount_;
    } else if (name == UndoManager::DidCloseUndoGroupNotification) {
        // Empty groups close too; only a group that became a step is an edit. (With a limit on
        // undo levels a full stack keeps its size; documents here keep every step.) Groups closed
        // while undoing or redoing are counted by the undo and redo themselves.
        if (!undoManager_.isUndoing() && !undoManager_.isRedoing() && undoManager_.undoStepCount() != lastUndoSteps_) {
            if (changeCount_ < savedChangeCount_) {
                savedChangeCount_ = kUnreachable; // the saved state's redo steps are gone
            }
            ++changeCount_;
        }
    } else {
        return;
    }
    lastUndoSteps_ = undoManager_.undoStepCount();
}

} // namespace rp::editor
