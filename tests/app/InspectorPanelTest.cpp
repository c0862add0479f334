// The inspector panel on the offscreen platform: it sits where its snap says, follows the window,
// re-snaps or floats after a move by someone else, and keeps its snap in the defaults.

#include "widgets/OXInspectorPanel.h"

#include "foundation/UserDefaults.h"

#include "QtTestApplication.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

namespace rp::widgets {
namespace {

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
}

// Waits (briefly) until `condition` holds; the window system reports moves after they are asked for.
template <typename Condition>
bool eventually(Condition condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 2000) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
    return condition();
}

// Makes the application before the fixture's widgets (each test may run alone in its process).
struct WithApplication {
    WithApplication() { rp::test::testApplication(); }
};

struct InspectorPanel : ::testing::Test, WithApplication {
    InspectorPanel()
    {
        window.setGeometry(500, 200, 600, 400);
        window.show();
        settle();
        panel.resize(200, 300);
    }
    // Left of the window, 51 below its top edge.
    bool atDefaultSnap() const
    {
        const QRect w = window.frameGeometry();
        const QRect p = panel.frameGeometry();
        return p.x() + p.width() == w.x() - 1 && p.y() == w.y() + 51;
    }

    QMainWindow window;
    OXInspectorPanel panel;
};

TEST_F(InspectorPanel, SitsAtItsSnapAndFollowsTheWindowAsItMovesAndResizes)
{
    UserDefaults::standard().removeObjectForKey("OXInspectorPanel Snapping Follow");
    panel.setDefaultSnapPosition(4, 51);
    panel.setFrameAutosaveName("Follow");
    panel.show();
    panel.setSnappableToWindow(&window);
    EXPECT_TRUE(eventually([&] { return atDefaultSnap(); })) << panel.frameGeometry().x() << "," << panel.frameGeometry().y();

    window.move(window.x() + 37, window.y() - 20);
    EXPECT_TRUE(eventually([&] { return atDefaultSnap(); }));
    // Measured from the top: a taller window keeps the panel the same distance below its top.
    window.resize(600, 700);
    EXPECT_TRUE(eventually([&] { return atDefaultSnap(); }));
    EXPECT_EQ(panel.windowSnapPosition(), 4);
}

TEST_F(InspectorPanel, AMoveBySomeoneElseReSnapsNearAnEdgeAndFloatsElsewhere)
{
    UserDefaults::standard().removeObjectForKey("OXInspectorPanel Snapping Moves");
    panel.setDefaultSnapPosition(4, 51);
    panel.setFrameAutosaveName("Moves");
    panel.show();
    panel.setSnappableToWindow(&window);
    ASSERT_TRUE(eventually([&] { return atDefaultSnap(); }));

    // Dropped far from the window: it stays where it was put, unsnapped, and no longer follows.
    panel.move(20, 700);
    ASSERT_TRUE(eventually([&] { return panel.windowSnapPosition() == -1; }));
    const QPoint floating = panel.pos();
    window.move(window.x() + 15, window.y());
    settle();
    EXPECT_EQ(panel.pos(), floating);

    // Dropped 20 to the right of the right edge, high up: pulled against that edge, measured from the
    // top edges (its centre is above the window's).
    const QRect w = window.frameGeometry();
    panel.move(w.x() + w.width() + 20, w.y() + 10);
    ASSERT_TRUE(eventually([&] { return panel.windowSnapPosition() == 6; }));
    EXPECT_TRUE(eventually([&] { return panel.frameGeometry().x() == w.x() + w.width() + 1; }));
    EXPECT_EQ(panel.frameGeometry().y(), w.y() + 10);
    EXPECT_FLOAT_EQ(panel.windowSnapOffset(), 10);
}

TEST_F(InspectorPanel, HidingStoresTheSnapAndTheNextPanelOfThatNameRestoresIt)
{
    auto& defaults = UserDefaults::standard();
    defaults.removeObjectForKey("OXInspectorPanel Snapping Stored");
    panel.setDefaultSnapPosition(4, 51);
    panel.setFrameAutosaveName("Stored");
    panel.show();
    panel.setSnappableToWindow(&window);
    ASSERT_TRUE(eventually([&] { return atDefaultSnap(); }));
    const QRect w = window.frameGeometry();
    panel.move(w.x() + 40, w.y() + w.height() + 12);
    ASSERT_TRUE(eventually([&] { return panel.windowSnapPosition() == 1; }));
    panel.hide();
    EXPECT_EQ(defaults.stringForKey("OXInspectorPanel Snapping Stored"), "1 40");

    OXInspectorPanel next;
    next.setDefaultSnapPosition(4, 51);
    next.setFrameAutosaveName("Stored");
    EXPECT_EQ(next.windowSnapPosition(), 1);
    EXPECT_FLOAT_EQ(next.windowSnapOffset(), 40);
    EXPECT_EQ(next.size(), panel.size());

    // Text that is not a snap is ignored in favour of the defaults.
    for (const char* hostile : { "9 0", "4 banana", "" }) {
        defaults.setString(hostile, "OXInspectorPanel Snapping Stored");
        OXInspectorPanel other;
        other.setDefaultSnapPosition(2, 7);
        other.setFrameAutosaveName("Stored");
        EXPECT_EQ(other.windowSnapPosition(), 2) << hostile;
        EXPECT_FLOAT_EQ(other.windowSnapOffset(), 7) << hostile;
    }
}

TEST_F(InspectorPanel, AnInactiveApplicationHidesThePanelUntilItIsActiveAgain)
{
    panel.setDefaultSnapPosition(4, 51);
    panel.setFrameAutosaveName("State");
    panel.show();
    panel.setSnappableToWindow(&window);
    ASSERT_TRUE(eventually([&] { return atDefaultSnap(); }));

    QMetaObject::invokeMethod(qApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationInactive));
    EXPECT_FALSE(panel.isVisible());
    // Asked to show meanwhile (the front window changed): it waits for the application.
    panel.orderFront();
    EXPECT_FALSE(panel.isVisible());
    // The window moved while the panel was away: it comes back at its snap.
    window.move(window.x() + 30, window.y() + 30);
    settle();
    QMetaObject::invokeMethod(qApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationActive));
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(eventually([&] { return atDefaultSnap(); }));

    // Put away for good while inactive, it stays away when the application returns.
    QMetaObject::invokeMethod(qApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationInactive));
    panel.orderOut();
    QMetaObject::invokeMethod(qApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationActive));
    EXPECT_FALSE(panel.isVisible());
}

} // namespace
} // namespace rp::widgets
