#include "editor/OXBrowserModel.h"

#include <gtest/gtest.h>

using namespace rp::editor;

namespace {

// Three columns of 4, 3 and 2 rows; the enabling answers are set by the test.
class FakeDelegate : public OXBrowserDelegate {
public:
    size_t browserRowCount(size_t column) const override { return rows.at(column); }
    void browserSelectionDidChange() override { ++changes; }
    bool browserCanPerformCopy() const override { return canCopy; }
    bool browserCanPerformPaste() const override { return canPaste; }
    bool browserCanPerformClear() const override { return canClear; }
    void browserCopy() override { calls.push_back("copy"); }
    void browserPaste() override { calls.push_back("paste"); }
    void browserClear() override { calls.push_back("clear"); }
    void browserCut() override { calls.push_back("cut"); }
    std::vector<OXMenuItem> browserContextMenu(size_t column) override
    {
        return { { "menu", "", static_cast<int>(column), false } };
    }

    std::vector<size_t> rows { 4, 3, 2 };
    bool canCopy = false, canPaste = false, canClear = false;
    int changes = 0;
    std::vector<std::string> calls;
};

struct BrowserModelTest : ::testing::Test {
    FakeDelegate delegate;
    OXBrowserModel browser { delegate, 3 };
};

TEST_F(BrowserModelTest, NextColumnShowsOnlyForASingleSelection)
{
    EXPECT_EQ(browser.visibleColumnCount(), 1u);
    browser.setSelection({ { 1 }, { 2 }, { 0, 1, 5 } });
    EXPECT_EQ(browser.visibleColumnCount(), 3u);
    EXPECT_EQ(browser.selectedRows(2), (std::vector<size_t> { 0, 1 })); // row 5 does not exist
    browser.userSelectRows(0, { 0, 2 });
    EXPECT_EQ(browser.visibleColumnCount(), 1u);
    EXPECT_TRUE(browser.selectedRows(1).empty());
    EXPECT_EQ(browser.rowCount(1), 0u);
    EXPECT_EQ(delegate.changes, 1);
}

TEST_F(BrowserModelTest, CutNeedsCopyAndClear)
{
    struct Case {
        bool copy, clear, cut;
    };
    for (const auto& c : std::vector<Case> { { true, true, true }, { true, false, false }, { false, true, false } }) {
        delegate.canCopy = c.copy;
        delegate.canClear = c.clear;
        EXPECT_EQ(browser.validate(OXEditCommand::Cut), c.cut);
        EXPECT_EQ(browser.perform(OXEditCommand::Cut), c.cut);
    }
    EXPECT_EQ(delegate.calls, std::vector<std::string> { "cut" });
}

TEST_F(BrowserModelTest, DeselectAllEmptiesOnlyTheRightmostSelectedColumn)
{
    EXPECT_FALSE(browser.validate(OXEditCommand::DeselectAll));
    browser.setSelection({ { 1 }, { 2 } });
    ASSERT_TRUE(browser.perform(OXEditCommand::DeselectAll));
    EXPECT_EQ(browser.selectedRows(0), std::vector<size_t> { 1 });
    EXPECT_TRUE(browser.selectedRows(1).empty());
    ASSERT_TRUE(browser.perform(OXEditCommand::DeselectAll));
    EXPECT_FALSE(browser.selectedColumn().has_value());
    browser.setSelection({ { 1 } });
    browser.setAllowsEmptySelection(false);
    EXPECT_FALSE(browser.perform(OXEditCommand::DeselectAll));
    EXPECT_EQ(browser.selectedRows(0), std::vector<size_t> { 1 });
}

TEST_F(BrowserModelTest, SelectAllOnlyWhileRowsAreLeft)
{
    browser.setSelection({ { 1 }, { 0, 1 } });
    ASSERT_TRUE(browser.perform(OXEditCommand::SelectAll));
    EXPECT_EQ(browser.selectedRows(1), (std::vector<size_t> { 0, 1, 2 }));
    EXPECT_FALSE(browser.validate(OXEditCommand::SelectAll));
}

TEST_F(BrowserModelTest, HomeAndEndWithAndWithoutShift)
{
    EXPECT_FALSE(browser.end(false)); // no focused column
    browser.setFocusedColumn(0);
    EXPECT_TRUE(browser.end(true)); // Shift+End without a selection: the last row only
    EXPECT_EQ(browser.selectedRows(0), std::vector<size_t> { 3 });
    browser.userSelectRows(0, { 1 });
    browser.end(true);
    EXPECT_EQ(browser.selectedRows(0), (std::vector<size_t> { 1, 2, 3 }));
    browser.userSelectRows(0, { 2 });
    browser.home(true);
    EXPECT_EQ(browser.selectedRows(0), (std::vector<size_t> { 0, 1, 2 }));
    browser.home(false);
    EXPECT_EQ(browser.selectedRows(0), std::vector<size_t> { 0 });
    delegate.rows[0] = 0;
    EXPECT_FALSE(browser.home(false));
}

TEST_F(BrowserModelTest, RightClickSelectsAnUnselectedRowButKeepsAMultipleSelection)
{
    browser.setSelection({ { 1 }, { 0, 2 } });
    const int before = delegate.changes;
    auto menu = browser.rightClick(1, 2);
    EXPECT_EQ(browser.selectedRows(1), (std::vector<size_t> { 0, 2 }));
    EXPECT_EQ(delegate.changes, before);
    EXPECT_EQ(browser.focusedColumn(), size_t { 1 });
    ASSERT_EQ(menu.size(), 1u);
    EXPECT_EQ(menu[0].tag, 1);
    browser.rightClick(1, 1);
    EXPECT_EQ(browser.selectedRows(1), std::vector<size_t> { 1 });
    EXPECT_EQ(delegate.changes, before + 1);
    EXPECT_TRUE(browser.rightClick(2, 9).empty()); // no such row
}

TEST(EditCommandInsertionTest, SeparatorsOnlyWhereItemsNeighbour)
{
    const auto all = [](OXEditCommand) { return true; };
    std::vector<OXMenuItem> empty;
    EXPECT_EQ(OXInsertEditCommands(empty, 0, all), 4u);
    for (const auto& item : empty)
        EXPECT_FALSE(item.separator);

    std::vector<OXMenuItem> five(5, OXMenuItem { "x", "", 0, false });
    EXPECT_EQ(OXInsertEditCommands(five, 3, all), 6u);
    EXPECT_TRUE(five[3].separator);
    EXPECT_EQ(five[4].title, "Cut");
    EXPECT_TRUE(five[8].separator);
    EXPECT_EQ(five[9].title, "x");

    // Copy without Clear: Copy (and Paste) but no Cut.
    std::vector<OXMenuItem> menu;
    OXInsertEditCommands(menu, 0, [](OXEditCommand c) { return c == OXEditCommand::Copy || c == OXEditCommand::Paste; });
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].title, "Copy");
    EXPECT_EQ(menu[1].title, "Paste");

    std::vector<OXMenuItem> none(2);
    EXPECT_EQ(OXInsertEditCommands(none, 1, [](OXEditCommand) { return false; }), 0u);
    EXPECT_EQ(none.size(), 2u);
}

} // namespace
