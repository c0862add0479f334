#include "foundation/UndoManager.h"

#include "foundation/Logger.h"
#include "foundation/PlainRunLoop.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// A value whose setter registers its own inverse, as model objects do.
struct Counter {
    rp::UndoManager& undo;
    int value = 0;
    std::vector<std::string>* journal = nullptr;

    void setValue(int newValue)
    {
        const int old = value;
        undo.registerUndo(this, [this, old] { setValue(old); });
        if (journal != nullptr) {
            journal->push_back(std::to_string(old) + "->" + std::to_string(newValue)
                + (undo.isUndoing()        ? " undoing"
                        : undo.isRedoing() ? " redoing"
                                           : ""));
        }
        value = newValue;
    }
};

// A list whose add and remove register each other.
struct Items {
    rp::UndoManager& undo;
    std::vector<std::string> items;

    void add(const std::string& item)
    {
        items.push_back(item);
        undo.registerUndo(this, [this, item] { remove(item); });
    }
    void remove(const std::string& item)
    {
        std::erase(items, item);
        undo.registerUndo(this, [this, item] { add(item); });
    }
};

void step(rp::UndoManager& undo, const std::string& name, const std::function<void()>& edit)
{
    undo.beginUndoGrouping();
    edit();
    undo.endUndoGrouping();
    undo.setActionName(name);
}

} // namespace

TEST(UndoManager, UndoAndRedoChainThroughInversesOfInverses)
{
    rp::NotificationCenter center;
    rp::UndoManager undo(center);
    undo.setGroupsByEvent(false);
    std::vector<std::string> journal;
    Counter counter { undo, 0, &journal };

    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo");
    step(undo, "One", [&] { counter.setValue(1); });
    step(undo, "Two", [&] { counter.setValue(2); });
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo Two");
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo");

    undo.undo();
    EXPECT_EQ(counter.value, 1);
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Two");
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo One");
    undo.undo();
    EXPECT_EQ(counter.value, 0);
    EXPECT_FALSE(undo.canUndo());
    undo.redo();
    undo.redo();
    EXPECT_EQ(counter.value, 2);
    EXPECT_FALSE(undo.canRedo());
    undo.undo();
    undo.redo();
    undo.undo();
    EXPECT_EQ(counter.value, 1);
    EXPECT_EQ(journal,
        (std::vector<std::string> { "0->1", "1->2", "2->1 undoing", "1->0 undoing", "0->1 redoing",
            "1->2 redoing", "2->1 undoing", "1->2 redoing", "2->1 undoing" }));
    EXPECT_FALSE(undo.isUndoing());

    // A fresh edit outside undo and redo clears the redo stack.
    EXPECT_TRUE(undo.canRedo());
    step(undo, "Five", [&] { counter.setValue(5); });
    EXPECT_FALSE(undo.canRedo());
    EXPECT_EQ(undo.undoStepCount(), 2u);
}

TEST(UndoManager, AGroupUndoesLastRegisteredFirstAndRedoRestoresTheOrder)
{
    rp::NotificationCenter center;
    rp::UndoManager undo(center);
    undo.setGroupsByEvent(false);
    Items list { undo, {} };
    step(undo, "Add Three", [&] {
        list.add("a");
        list.add("b");
        list.add("c");
    });
    std::vector<std::string> seen;
    int observer = 0;
    center.addObserver(&observer, "", &undo, [&](const rp::Notification& n) {
        if (n.name == rp::UndoManager::WillUndoChangeNotification
            || n.name == rp::UndoManager::DidUndoChangeNotification) {
            seen.push_back(n.name + " " + std::to_string(list.items.size()));
        }
    });
    undo.undo();
    EXPECT_TRUE(list.items.empty());
    EXPECT_EQ(seen,
        (std::vector<std::string> { std::string(rp::UndoManager::WillUndoChangeNotification) + " 3",
            std::string(rp::UndoManager::DidUndoChangeNotification) + " 0" }));
    EXPECT_EQ(undo.redoActionName(), "Add Three"); // the redo step carries the undone step's name
    undo.redo();
    EXPECT_EQ(list.items, (std::vector<std::string> { "a", "b", "c" }));
    EXPECT_EQ(undo.undoActionName(), "Add Three");
    center.removeObserver(&observer);
}

TEST(UndoManager, GroupsByRunLoopTurnAndLetsExplicitGroupsSpanTurns)
{
    auto loop = std::make_shared<rp::PlainRunLoop>();
    rp::RunLoop::setMain(loop);
    rp::NotificationCenter center;
    rp::UndoManager undo(center);
    Counter counter { undo };

    // One turn: two edits, named afterwards, become one step.
    loop->perform([&] {
        counter.setValue(1);
        counter.setValue(2);
        undo.setActionName("Typing");
    });
    loop->runFor(0);
    EXPECT_EQ(undo.groupingLevel(), 0);
    // The next turn is a step of its own.
    loop->perform([&] { counter.setValue(3); });
    loop->runFor(0);
    undo.setActionName("Three"); // after the turn: names the last step
    ASSERT_EQ(undo.undoStepCount(), 2u);
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
    EXPECT_EQ(undo.groupingLevel(), 0);
    EXPECT_EQ(undo.undoStepCount(), 3u);

    undo.undo();
    EXPECT_EQ(counter.value, 3);
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Paint");
    undo.undo();
    EXPECT_EQ(counter.value, 2);
    undo.undo();
    EXPECT_EQ(counter.value, 0);

    // An edit made outside any turn is closed by the next one; undo closes it even without a turn.
    counter.setValue(7);
    EXPECT_TRUE(undo.canUndo());
    undo.undo();
    EXPECT_EQ(counter.value, 0);
    rp::RunLoop::setMain(nullptr);
}

TEST(UndoManager, NamesDuringUndoNameTheRecordedStepAndTitlesFollowTheStacks)
{
    rp::NotificationCenter center;
    rp::UndoManager undo(center);
    undo.setGroupsByEvent(false);
    int value = 0;
    std::function<void(int)> set = [&](int v) {
        const int old = value;
        value = v;
        undo.registerUndo(&value, [&, old] { set(old); });
        if (undo.isUndoing()) {
            undo.setActionName("Restore");
        }
    };
    step(undo, "Velocity Change", [&] { set(5); });
    undo.undo();
    EXPECT_EQ(undo.redoMenuItemTitle(), "Redo Restore");
    EXPECT_EQ(rp::UndoManager::undoMenuTitleForUndoActionName(""), "Undo");
    EXPECT_EQ(rp::UndoManager::redoMenuTitleForUndoActionName("Erase"), "Redo Erase");

    // An unnamed step has plain titles.
    undo.redo();
    undo.registerUndo(&value, [] {});
    EXPECT_EQ(undo.undoMenuItemTitle(), "Undo");
}

TEST(UndoManager, RemovingATargetsActionsDropsEmptiedStepsAndSkipsItsPendingInverses)
{
    rp::NotificationCenter center;
    rp::UndoManager undo(center);
    undo.setGroupsByEvent(false);
    Counter a { undo };
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
    EXPECT_EQ(b.value, 0);
    EXPECT_EQ(a.value, 3);

    // An inverse that destroys a target removes that target's remaining inverses in the step being
    // undone: they must not run.
    rp::UndoManager undo2(center);
    undo2.setGroupsByEvent(false);
    auto doomed = std::make_unique<Counter>(Counter { undo2 });
    Counter* raw = doomed.get();
    bool destroyerRan = false;
    undo2.beginUndoGrouping();
    raw->setValue(4); // registered first, so undone last
    undo2.registerUndo(&destroyerRan, [&] {
        destroyerRan = true;
        undo2.removeAllActionsWithTarget(raw);
        doomed.reset();
    });
    undo2.endUndoGrouping();
    undo2.undo(); // would use the destroyed counter if its inverse still ran
    EXPECT_TRUE(destroyerRan);
    EXPECT_EQ(doomed, nullptr);
}

TEST(UndoManager, DisablingLevelsAndMisuse)
{
    rp::NotificationCenter center;
    rp::UndoManager undo(center);
    undo.setGroupsByEvent(false);
    Counter counter { undo };

    undo.disableUndoRegistration();
    undo.disableUndoRegistration();
    counter.setValue(1);
    undo.enableUndoRegistration();
    counter.setValue(2);
    EXPECT_FALSE(undo.canUndo());
    undo.enableUndoRegistration();
    EXPECT_TRUE(undo.isUndoRegistrationEnabled());

    // Without grouping by event an unframed registration is a step of its own.
    counter.setValue(3);
    counter.setValue(4);
    EXPECT_EQ(undo.undoStepCount(), 2u);

    undo.setLevelsOfUndo(3);
    for (int v = 5; v < 10; ++v) {
        counter.setValue(v);
    }
    EXPECT_EQ(undo.undoStepCount(), 3u);
    for (int i = 0; i < 5; ++i) {
        undo.undo();
    }
    EXPECT_EQ(counter.value, 6); // only the three newest steps were kept

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

    undo.removeAllActions();
    EXPECT_FALSE(undo.canUndo());
    EXPECT_FALSE(undo.canRedo());
}
