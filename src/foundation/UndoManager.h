#pragma once

#include "foundation/NotificationCenter.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rp {

// Records the inverse of every edit so that it can be undone and redone. An edit registers a closure
// that reverses it, together with the object it acts on (the target); registrations are collected into
// groups, and undo runs a whole group, last-registered first. What the inverses register while undoing
// becomes the redo group, and what a redo registers becomes undoable again.
//
// Grouping: with groupsByEvent (the default) the first registration of a run-loop turn opens a group
// that the main run loop closes at the end of the turn, so one user event is one undo step. Only the
// outermost turn counts: a nested loop (a modal dialog, the player waiting) stays inside the user's
// action. Explicit begin/endUndoGrouping pairs nest inside it and may span several turns (a drag).
//
// Main thread only.
class UndoManager {
public:
    static constexpr const char* CheckpointNotification = "RPUndoManagerCheckpointNotification";
    static constexpr const char* WillUndoChangeNotification = "RPUndoManagerWillUndoChangeNotification";
    static constexpr const char* DidUndoChangeNotification = "RPUndoManagerDidUndoChangeNotification";
    static constexpr const char* WillRedoChangeNotification = "RPUndoManagerWillRedoChangeNotification";
    static constexpr const char* DidRedoChangeNotification = "RPUndoManagerDidRedoChangeNotification";
    static constexpr const char* DidOpenUndoGroupNotification = "RPUndoManagerDidOpenUndoGroupNotification";
    static constexpr const char* DidCloseUndoGroupNotification = "RPUndoManagerDidCloseUndoGroupNotification";

    // Notifications go to `center`, with this manager as their object.
    explicit UndoManager(NotificationCenter& center = NotificationCenter::defaultCenter());
    ~UndoManager();
    UndoManager(const UndoManager&) = delete;
    UndoManager& operator=(const UndoManager&) = delete;

    // Records an inverse for the group being built. Ignored while registration is disabled. Outside
    // undo and redo a registration clears the redo stack.
    void registerUndo(const void* target, std::function<void()> inverse);

    // Names the step being built: the open group (the name sticks only if the group ends up with
    // registrations; an empty group is dropped, name and all), or during undo/redo the group being
    // recorded. With no group open it names the step the caller has just closed with
    // endUndoGrouping (or, without grouping by event, an unframed registration), as long as nothing
    // else was grouped and the user action has not ended since. Otherwise it does nothing: an action
    // that recorded nothing (an unchanged value committed) never renames an earlier step.
    void setActionName(const std::string& name);
    std::string undoActionName() const;
    std::string redoActionName() const;
    // "Undo <name>", or "Undo" when the next undo step has no name (likewise for redo); localized.
    std::string undoMenuItemTitle() const;
    std::string redoMenuItemTitle() const;
    static std::string undoMenuTitleForUndoActionName(const std::string& name);
    static std::string redoMenuTitleForUndoActionName(const std::string& name);

    void beginUndoGrouping();
    void endUndoGrouping();
    int groupingLevel() const { return groupingLevel_; }
    bool groupsByEvent() const { return groupsByEvent_; }
    void setGroupsByEvent(bool groupsByEvent) { groupsByEvent_ = groupsByEvent; }

    // Undo closes an open automatic group first; with an explicit group still open it does nothing.
    void undo();
    void redo();
    bool canUndo() const;
    bool canRedo() const;
    bool isUndoing() const { return state_ == State::Undoing; }
    bool isRedoing() const { return state_ == State::Redoing; }

    // Nested: registration resumes when every disable has been matched by an enable.
    void disableUndoRegistration();
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return disableCount_ == 0; }

    // Removes every step, or the inverses registered for one target (a target being destroyed);
    // groups left empty disappear. Inverses of the target still waiting in a group being undone or
    // redone right now are skipped too.
    void removeAllActions();
    void removeAllActionsWithTarget(const void* target);

    // Maximum number of undo steps kept (0 = unlimited); older steps are dropped.
    int levelsOfUndo() const { return levelsOfUndo_; }
    void setLevelsOfUndo(int levels);

    size_t undoStepCount() const { return undoStack_.size(); }
    size_t redoStepCount() const { return redoStack_.size(); }

private:
    enum class State { Idle, Undoing, Redoing };

    struct Action {
        const void* target;
        std::function<void()> inverse;
    };
    struct Group {
        std::string actionName;
        std::vector<Action> actions;
    };

    void openGroup(bool automatic);
    // Returns whether the group became an undo step (it had registrations and no undo was running).
    bool closeTopLevelGroup();
    // The group just closed may be named with no group open, until the user action ends.
    void keepClosedGroupNameable(bool pushed);
    void scheduleEndOfTurn();
    void pushGroup(std::vector<Group>& stack, Group group);
    void trim(std::vector<Group>& stack);
    void runGroup(std::vector<Group>& from, State state, const char* willName, const char* didName);
    void endOfTurn();
    void post(const char* name);

    NotificationCenter& center_;
    std::vector<Group> undoStack_; // most recent last
    std::vector<Group> redoStack_;
    Group open_; // the group being built when groupingLevel_ > 0
    int groupingLevel_ = 0;
    bool automaticGroupOpen_ = false; // the outermost open group was opened by a registration
    bool endOfTurnPending_ = false;
    // Set when a caller's endUndoGrouping (or unframed registration) has just pushed the top undo
    // step, with the main loop's outermost-turn count at that moment.
    bool closedGroupNameable_ = false;
    uint64_t closedGroupTurn_ = 0;
    bool groupsByEvent_ = true;
    int disableCount_ = 0;
    int levelsOfUndo_ = 0;
    State state_ = State::Idle;
    std::vector<Action>* running_ = nullptr; // the inverses being run by undo or redo
    std::shared_ptr<UndoManager*> alive_; // lets a pending end-of-turn hook outlive the manager
};

} // namespace rp
