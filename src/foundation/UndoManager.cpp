#include "foundation/UndoManager.h"

#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/RunLoop.h"

#include <algorithm>

namespace rp {

UndoManager::UndoManager(NotificationCenter& center)
    : center_(center)
    , alive_(std::make_shared<UndoManager*>(this))
{
}

UndoManager::~UndoManager() = default;

void UndoManager::post(const char* name)
{
    center_.post(name, this);
}

void UndoManager::registerUndo(const void* target, std::function<void()> inverse)
{
    if (!inverse || disableCount_ > 0) {
        return;
    }
    bool singleStep = false;
    if (groupingLevel_ == 0) {
        // Without grouping by event an unframed registration is a step of its own.
        singleStep = !groupsByEvent_;
        openGroup(!singleStep);
    }
    if (state_ == State::Idle) {
        redoStack_.clear();
    }
    open_.actions.push_back(Action { target, std::move(inverse) });
    if (singleStep) {
        keepClosedGroupNameable(closeTopLevelGroup());
    }
}

void UndoManager::keepClosedGroupNameable(bool pushed)
{
    closedGroupNameable_ = pushed;
    if (pushed) {
        closedGroupTurn_ = RunLoop::main().outermostTurnsFinished();
    }
}

void UndoManager::scheduleEndOfTurn()
{
    endOfTurnPending_ = true;
    std::weak_ptr<UndoManager*> weak = alive_;
    RunLoop::main().performAtEndOfTurn([weak] {
        if (auto manager = weak.lock()) {
            (*manager)->endOfTurn();
        }
    });
}

void UndoManager::openGroup(bool automatic)
{
    closedGroupNameable_ = false;
    if (groupingLevel_ == 0) {
        open_ = Group {};
        automaticGroupOpen_ = automatic;
        if (automatic && !endOfTurnPending_) {
            scheduleEndOfTurn();
        }
    } else {
        post(CheckpointNotification);
    }
    ++groupingLevel_;
    post(DidOpenUndoGroupNotification);
}

void UndoManager::endOfTurn()
{
    endOfTurnPending_ = false;
    if (!automaticGroupOpen_ || groupingLevel_ == 0 || state_ != State::Idle) {
        return;
    }
    if (groupingLevel_ == 1) {
        closeTopLevelGroup();
    } else {
        // An explicit group (a drag) is still open inside the automatic one: look again next turn.
        scheduleEndOfTurn();
    }
}

void UndoManager::beginUndoGrouping()
{
    if (groupingLevel_ == 0 && groupsByEvent_) {
        openGroup(true);
    }
    openGroup(false);
}

void UndoManager::endUndoGrouping()
{
    if (groupingLevel_ == 0) {
        logf("UndoManager: endUndoGrouping called with no open undo group");
        return;
    }
    if (groupingLevel_ == 1 && state_ != State::Idle) {
        logf("UndoManager: endUndoGrouping called without a matching beginUndoGrouping during undo or redo");
        return;
    }
    if (groupingLevel_ == 1) {
        keepClosedGroupNameable(closeTopLevelGroup());
        return;
    }
    --groupingLevel_;
    post(CheckpointNotification);
    post(DidCloseUndoGroupNotification);
}

bool UndoManager::closeTopLevelGroup()
{
    Group group = std::move(open_);
    open_ = Group {};
    groupingLevel_ = 0;
    automaticGroupOpen_ = false;
    closedGroupNameable_ = false;
    const bool pushed = !group.actions.empty() && state_ == State::Idle;
    if (!group.actions.empty()) {
        pushGroup(state_ == State::Undoing ? redoStack_ : undoStack_, std::move(group));
    }
    post(CheckpointNotification);
    post(DidCloseUndoGroupNotification);
    return pushed;
}

void UndoManager::pushGroup(std::vector<Group>& stack, Group group)
{
    stack.push_back(std::move(group));
    trim(stack);
}

void UndoManager::trim(std::vector<Group>& stack)
{
    if (levelsOfUndo_ > 0 && stack.size() > static_cast<size_t>(levelsOfUndo_)) {
        stack.erase(stack.begin(), stack.end() - levelsOfUndo_);
    }
}

void UndoManager::setLevelsOfUndo(int levels)
{
    levelsOfUndo_ = std::max(levels, 0);
    trim(undoStack_);
    trim(redoStack_);
}

void UndoManager::setActionName(const std::string& name)
{
    if (groupingLevel_ > 0) {
        open_.actionName = name;
    } else if (closedGroupNameable_ && !undoStack_.empty()
        && closedGroupTurn_ == RunLoop::main().outermostTurnsFinished()) {
        undoStack_.back().actionName = name;
    }
}

std::string UndoManager::undoActionName() const
{
    if (state_ == State::Idle && groupingLevel_ > 0 && !open_.actions.empty()) {
        return open_.actionName;
    }
    return undoStack_.empty() ? std::string() : undoStack_.back().actionName;
}

std::string UndoManager::redoActionName() const
{
    return redoStack_.empty() ? std::string() : redoStack_.back().actionName;
}

std::string UndoManager::undoMenuTitleForUndoActionName(const std::string& name)
{
    return name.empty() ? localized("Undo") : localizedFormat("Undo %@", { name });
}

std::string UndoManager::redoMenuTitleForUndoActionName(const std::string& name)
{
    return name.empty() ? localized("Redo") : localizedFormat("Redo %@", { name });
}

std::string UndoManager::undoMenuItemTitle() const
{
    return undoMenuTitleForUndoActionName(canUndo() ? undoActionName() : std::string());
}

std::string UndoManager::redoMenuItemTitle() const
{
    return redoMenuTitleForUndoActionName(canRedo() ? redoActionName() : std::string());
}

bool UndoManager::canUndo() const
{
    return !undoStack_.empty() || (state_ == State::Idle && groupingLevel_ > 0 && !open_.actions.empty());
}

bool UndoManager::canRedo() const
{
    return !redoStack_.empty();
}

void UndoManager::undo()
{
    if (state_ != State::Idle) {
        logf("UndoManager: undo called while undoing or redoing");
        return;
    }
    if (groupingLevel_ == 1 && automaticGroupOpen_) {
        closeTopLevelGroup();
    }
    if (groupingLevel_ > 0) {
        logf("UndoManager: undo called with an open undo group");
        return;
    }
    if (!undoStack_.empty()) {
        runGroup(undoStack_, State::Undoing, WillUndoChangeNotification, DidUndoChangeNotification);
    }
}

void UndoManager::redo()
{
    if (state_ != State::Idle) {
        logf("UndoManager: redo called while undoing or redoing");
        return;
    }
    if (groupingLevel_ == 1 && automaticGroupOpen_) {
        closeTopLevelGroup();
    }
    if (groupingLevel_ > 0) {
        logf("UndoManager: redo called with an open undo group");
        return;
    }
    if (!redoStack_.empty()) {
        runGroup(redoStack_, State::Redoing, WillRedoChangeNotification, DidRedoChangeNotification);
    }
}

void UndoManager::runGroup(std::vector<Group>& from, State state, const char* willName, const char* didName)
{
    closedGroupNameable_ = false;
    post(willName);
    Group group = std::move(from.back());
    from.pop_back();

    // The inverses register into a group of their own, named like the step they undo, which lands on
    // the opposite stack.
    state_ = state;
    open_ = Group { group.actionName, {} };
    groupingLevel_ = 1;
    automaticGroupOpen_ = false;
    running_ = &group.actions;
    auto finish = [this] {
        running_ = nullptr;
        if (groupingLevel_ != 1) {
            logf("UndoManager: an undo or redo action left %d undo groups open", groupingLevel_ - 1);
        }
        closeTopLevelGroup();
        state_ = State::Idle;
    };
    try {
        for (size_t index = group.actions.size(); index-- > 0;) {
            // Taken out first: removeAllActionsWithTarget may clear later entries while this one runs.
            auto inverse = std::move(group.actions[index].inverse);
            if (inverse) {
                inverse();
            }
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    post(didName);
}

void UndoManager::disableUndoRegistration()
{
    ++disableCount_;
}

void UndoManager::enableUndoRegistration()
{
    if (disableCount_ == 0) {
        logf("UndoManager: enableUndoRegistration called without a matching disableUndoRegistration");
        return;
    }
    --disableCount_;
}

void UndoManager::removeAllActions()
{
    closedGroupNameable_ = false;
    undoStack_.clear();
    redoStack_.clear();
    open_.actions.clear();
    if (running_ != nullptr) {
        for (auto& action : *running_) {
            action.inverse = nullptr;
        }
    }
    disableCount_ = 0;
}

void UndoManager::removeAllActionsWithTarget(const void* target)
{
    auto strip = [target](std::vector<Action>& actions) {
        actions.erase(std::remove_if(actions.begin(), actions.end(),
                          [target](const Action& action) { return action.target == target; }),
            actions.end());
    };
    const size_t undoSteps = undoStack_.size();
    for (auto* stack : { &undoStack_, &redoStack_ }) {
        for (auto& group : *stack) {
            strip(group.actions);
        }
        stack->erase(std::remove_if(stack->begin(), stack->end(),
                         [](const Group& group) { return group.actions.empty(); }),
            stack->end());
    }
    if (undoStack_.size() != undoSteps) {
        closedGroupNameable_ = false; // the top step may be another one now
    }
    strip(open_.actions);
    if (running_ != nullptr) {
        for (auto& action : *running_) {
            if (action.target == target) {
                action.inverse = nullptr;
            }
        }
    }
}

} // namespace rp
