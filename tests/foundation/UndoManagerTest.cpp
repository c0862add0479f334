#include "foundation/UndoManager.h"

#include "foundation/Logger.h"
#include "foundation/PlainRunLoop.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// A value whose setter registers its own inverse, as model objects do; the journal records
// each change and whether it came from undo or redo.
struct Counter {
    rp::UndoManager& undo;
    int value = 0;
    std::vector<std::string>* journal = nullptr;

    void setValue(int newValue)
    {
        const int old = value;
        undo.registerUndo(this, [this, old] { setValue(old); });
        if (journal != nullptr)
            journal->push_back(std::to_string(old) + "->" + std::to_string(newValue)
                + (undo.isUndoing()        ? " undoing"
                        : undo.isRedoing() ? " redoing"
                                           : ""));
        value = newValue;
    }
};

void step(rp::UndoManager& undo, const std::string& name, const std::function<void()>& edit)
{
    undo.beginUndoGrouping();
    edit();
    undo.endUndoGrouping();
    undo.setActionName(name);
}

class UndoManagerTest : public ::testing::Test {
protected:
    void SetUp() override { undo.setGroupsByEvent(false); }
    rp::NotificationCenter center;
    rp::UndoManager undo { center };
    std::vector<std::string> journal;
    Counter counter { undo, 0, &journal };
};

} // namespace

TEST_F(UndoManagerTest, UndoAndRedoChainThroughInversesOfInversesAndTitlesFollowTheStacks)
{
    int observer = 0;
    center.addObserver(&observer, "", &undo, [&](const rp::Notification& n) {
        if (n.name == rp::UndoManager::WillUndoChangeNotification
            || n.name == rp::UndoManager::DidUndoChangeNotification)
            journal.push_back(
                n.name == rp::UndoManager::WillUndoChangeNotification ? "will undo" : "did undo");
    });
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo");
    step(undo, "One", [&] { counter.setValue(1); });
    // A group undoes its last registration first: 3, 2, then 1 leaves 1.
    step(undo, "Two", [&] {
        for (int v = 3; v >= 2; --v)
            counter.setValue(v);
    });
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Two");
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo");
    undo.undo();
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Two");
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo One");
    undo.undo();
    EXPECT_FALSE(undo.canUndo());
    undo.redo();
    undo.redo();
    EXPECT_FALSE(undo.canRedo());
    undo.undo();
    center.removeObserver(&observer);
    EXPECT_EQ(journal,
        (std::vector<std::string> { "0->1", "1->3", "3->2", "will undo", "2->3 undoing", "3->1 undoing",
            "did undo", "will undo", "1->0 undoing", "did undo", "0->1 redoing", "1->3 redoing",
            "3->2 redoing", "will undo", "2->3 undoing", "3->1 undoing", "did undo" }));

    // A fresh edit outside undo and redo clears the redo stack.
    step(undo, "Five", [&] { counter.setValue(5); });
    EXPECT_FALSE(undo.canRedo());

    // A name set while undoing names the recorded redo step; an unnamed step has plain titles.
    undo.registerUndo(&counter, [&] {
        undo.registerUndo(&counter, [] {});
        undo.setActionName("Restore");
    });
    undo.undo();
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Restore");
    EXPECT_EQ(rp::UndoManager::redoMenuTitleForUndoActionName("Erase"), "Redo Erase");
    undo.registerUndo(&counter, [] {});
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo");
}

TEST_F(UndoManagerTest, GroupsByRunLoopTurnAndLetsExplicitGroupsSpanTurns)
{
    auto loop = std::make_shared<rp::PlainRunLoop>();
    rp::RunLoop::setMain(loop);
    undo.setGroupsByEvent(true);

    // One turn: two edits, named afterwards, become one step.
    loop->perform([&] {
        counter.setValue(1);
        counter.setValue(2);
        undo.setActionName("Typing");
    });
    loop->runFor(0);
    // The next turn is a step of its own.
    loop->perform([&] {
        counter.setValue(3);
        undo.setActionName("Three");
    });
    loop->runFor(0);
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Three");

    // A drag: an explicit group opened in one turn and closed three turns later is one step.
    loop->perform([&] {
        undo.beginUndoGrouping();
        counter.setValue(10);
    });
    loop->perform([&] { counter.setValue(11); });
    loop->perform([&] { counter.setValue(12); });
    loop->runFor(0);
    EXPECT_EQ(undo.groupingLevel(), 2); // the drag's group inside the turn's group stays open
    loop->perform([&] {
        undo.endUndoGrouping();
        undo.setActionName("Paint");
    });
    loop->runFor(0);
    std::vector<int> values;
    for (int i = 0; i < 3; ++i) {
        undo.undo();
        values.push_back(counter.value);
    }
    EXPECT_EQ(values, (std::vector<int> { 3, 2, 0 }));
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Typing");

    // An edit made outside any turn is closed by the next one; undo closes it even without a turn.
    counter.setValue(7);
    EXPECT_TRUE(undo.canUndo());
    undo.undo();
    EXPECT_EQ(counter.value, 0);
    rp::RunLoop::setMain(nullptr);
}

TEST_F(UndoManagerTest, RemovingATargetsActionsDropsEmptiedStepsAndSkipsItsPendingInverses)
{
    Counter& a = counter;
    Counter b { undo };
    step(undo, "A only", [&] { a.setValue(1); });
    step(undo, "Both", [&] {
        a.setValue(2);
        b.setValue(2);
    });
    step(undo, "A again", [&] { a.setValue(3); });
    undo.removeAllActionsWithTarget(&a);
    ASSERT_EQ(undo.undoStepCount(), 1u);
    EXPECT_EQ(undo.undoActionName(), "Both");
    undo.undo();
    EXPECT_EQ(std::pair(a.value, b.value), std::pair(3, 0));

    // An inverse that destroys a target removes that target's remaining inverses in the step being
    // undone: they must not run.
    undo.removeAllActions();
    auto doomed = std::make_unique<Counter>(Counter { undo });
    Counter* raw = doomed.get();
    bool destroyerRan = false;
    undo.beginUndoGrouping();
    raw->setValue(4); // registered first, so undone last
    undo.registerUndo(&destroyerRan, [&] {
        destroyerRan = true;
        undo.removeAllActionsWithTarget(raw);
        doomed.reset();
    });
    undo.endUndoGrouping();
    undo.undo(); // would use the destroyed counter if its inverse still ran
    EXPECT_TRUE(destroyerRan);
    EXPECT_EQ(doomed, nullptr);
}

TEST_F(UndoManagerTest, DisablingNestsLevelsCapTheStackAndUndoInAnOpenGroupIsRefused)
{
    undo.disableUndoRegistration();
    undo.disableUndoRegistration();
    counter.setValue(1);
    undo.enableUndoRegistration();
    counter.setValue(2);
    EXPECT_FALSE(undo.canUndo());
    undo.enableUndoRegistration();

    undo.setLevelsOfUndo(3);
    for (int v = 5; v < 10; ++v)
        counter.setValue(v);
    for (int i = 0; i < 5; ++i)
        undo.undo();
    EXPECT_EQ(counter.value, 6); // only the three newest steps were kept, each unframed one its own

    rp::LogCapture capture;
    undo.enableUndoRegistration();
    undo.endUndoGrouping();
    undo.beginUndoGrouping();
    counter.setValue(20);
    undo.undo(); // refused: an explicit group is open
    EXPECT_EQ(counter.value, 20);
    undo.endUndoGrouping();
    undo.undo();
    EXPECT_EQ(counter.value, 6);
    EXPECT_EQ(capture.lines().size(), 3u);
    EXPECT_TRUE(capture.contains("undo called with an open undo group"));
}

TEST_F(UndoManagerTest, NamingAnActionThatRecordedNothingLeavesEarlierStepsAlone)
{
    auto loop = std::make_shared<rp::PlainRunLoop>();
    rp::RunLoop::setMain(loop);
    undo.setGroupsByEvent(true);
    loop->perform([&] {
        counter.setValue(1);
        undo.setActionName("Set One");
    });
    loop->runFor(0);

    // Later user actions that register nothing: an unchanged field committed, an empty explicit
    // group, a name given after the action's turn ended.
    loop->perform([&] { undo.setActionName("Edit Repeats"); });
    loop->perform([&] {
        undo.beginUndoGrouping();
        undo.setActionName("Rename");
        undo.endUndoGrouping();
    });
    loop->runFor(0);
    undo.setActionName("Late");
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Set One");
    EXPECT_EQ(undo.undoStepCount(), 1u);

    // A name given to an open group before its registrations still names it.
    loop->perform([&] {
        undo.beginUndoGrouping();
        undo.setActionName("Paint");
        counter.setValue(2);
        undo.endUndoGrouping();
    });
    loop->runFor(0);
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Paint");

    // Without grouping by event, "end the group, then name it" names that group until the user
    // action ends, and not after an undo.
    undo.setGroupsByEvent(false);
    step(undo, "Three", [&] { counter.setValue(3); });
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Three");
    loop->runFor(0);
    undo.setActionName("Next Turn");
    counter.setValue(4); // an unframed registration is a step of its own, nameable right after
    undo.setActionName("Four");
    undo.undo();
    undo.setActionName("After Undo");
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Three");
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Four");
    rp::RunLoop::setMain(nullptr);
}

TEST_F(UndoManagerTest, ANestedLoopInsideAUserActionDoesNotSplitItsUndoStep)
{
    auto loop = std::make_shared<rp::PlainRunLoop>();
    rp::RunLoop::setMain(loop);
    undo.setGroupsByEvent(true);
    int nestedWorkRan = 0;
    loop->perform([&] {
        counter.setValue(1);
        // A modal dialog (or the player waiting for its thread) spins the loop; the work it serves
        // belongs to the same user action.
        loop->perform([&] {
            ++nestedWorkRan;
            counter.setValue(2);
        });
        loop->runFor(0.01);
        counter.setValue(3);
        undo.setActionName("Edit");
    });
    loop->runFor(0);
    EXPECT_EQ(nestedWorkRan, 1);
    EXPECT_EQ(undo.undoStepCount(), 1u);
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Edit");
    undo.undo();
    EXPECT_EQ(counter.value, 0);
    rp::RunLoop::setMain(nullptr);
}
