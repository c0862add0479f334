// The drum list under the offscreen platform: rows follow the picker, a click chooses, and the
// floating panel lends each window's list and gives it back.

#include "app/DrumListPanel.h"
#include "editor/ORPDrumPicker.h"
#include "widgets/DrumPickerView.h"

#include "QtTestApplication.h"

#include <QApplication>
#include <QMainWindow>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace rp::app {
namespace {

QApplication& application()
{
    return rp::test::testApplication();
}

ORPDrumKitPtr twoGroupKit()
{
    auto kit = ORPDrumKit::kit();
    kit->setKitName("Small Kit");
    for (auto [group, type, variant] : { std::tuple { "Drums", "kick", "default" }, { "Drums", "snare", "dry" },
             { "Drums", "snare", "wet" }, { "Cymbals", "ride", "default" } }) {
        auto drum = ORPDrum::drum();
        drum->setGroupName(group);
        drum->setTypeName(type);
        drum->setVariantName(variant);
        kit->addDrum(drum);
    }
    return kit;
}

TEST(DrumPickerView, RowsFollowThePickerAndAClickChoosesTheRowsDrum)
{
    application();
    const auto kit = twoGroupKit();
    ORPDrumPicker picker;
    int actions = 0;
    picker.setAction([&actions](ORPDrumPicker&) { ++actions; });
    widgets::DrumPickerView view(picker);
    picker.setDrumKit(kit);
    view.resize(220, 300);
    view.show();

    QTableWidget* table = view.table();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), "Small Kit");
    EXPECT_EQ(table->item(1, 0)->text(), "snare (dry)");
    EXPECT_TRUE(table->selectionModel()->isRowSelected(0, {}));

    // Choosing by shortcut elsewhere moves the table's selection, without a second action.
    picker.selectDrum(kit->drumWithTypeName("ride", "default"), true);
    EXPECT_TRUE(table->selectionModel()->isRowSelected(2, {}));
    EXPECT_EQ(actions, 0);

    // A click on the left part of a row chooses its default variant.
    const QRect row = table->visualRect(table->model()->index(1, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(row.left() + 10, row.center().y()));
    EXPECT_EQ(picker.defaultDrum(), kit->drumWithTypeName("snare", "dry"));
    EXPECT_EQ(actions, 1);
}

TEST(DrumListPanel, LendsTheFrontWindowsListAndGivesItBack)
{
    application();
    const auto kit = twoGroupKit();
    ORPDrumPicker firstPicker, secondPicker;
    QMainWindow first, second;
    auto* firstList = new widgets::DrumPickerView(firstPicker, &first);
    auto* secondList = new widgets::DrumPickerView(secondPicker, &second);
    first.show();

    DrumListPanel panel;
    panel.showPicker(firstList, &first);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.isAncestorOf(firstList));

    panel.showPicker(secondList, &second);
    EXPECT_TRUE(panel.isAncestorOf(secondList));
    EXPECT_EQ(firstList->parentWidget(), &first);
    EXPECT_FALSE(firstList->isVisible());

    // A window that goes away takes its list with it; the panel then has nothing to show.
    delete secondList;
    EXPECT_EQ(panel.picker(), nullptr);
    panel.showPicker(nullptr, nullptr);
    EXPECT_FALSE(panel.isVisible());
}

} // namespace
} // namespace rp::app
