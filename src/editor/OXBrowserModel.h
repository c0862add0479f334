#pragma once

#include "foundation/Localization.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace rp::editor {

enum class OXEditCommand { Cut, Copy, Paste, Clear, SelectAll, DeselectAll };

// One item of a context menu as the logic builds it; the window turns it into a real menu.
struct OXMenuItem {
    std::string title;   // localized; empty for a separator
    std::string action;  // "cut:", "addAction:" ...
    int tag = 0;
    bool separator = false;

    static OXMenuItem separatorItem() { return OXMenuItem { {}, {}, 0, true }; }
};

// Inserts at `index` those of Cut, Copy, Paste and Clear that `enabled` allows (Cut only when Copy
// and Clear both are), with a separator after them when more items follow and one before them when
// the index is past the start. Returns how many items were inserted, separators included.
template <class Enabled> size_t OXInsertEditCommands(std::vector<OXMenuItem>& menu, size_t index, Enabled enabled);

// What a column browser asks of the object that owns its data.
class OXBrowserDelegate {
public:
    virtual ~OXBrowserDelegate() = default;
    // Rows of `column` given the selection to its left (column c + 1 is only shown while column c
    // has exactly one selected row).
    virtual size_t browserRowCount(size_t column) const = 0;
    // The selection changed through the user (a click, a key, a right click).
    virtual void browserSelectionDidChange() = 0;
    virtual bool browserCanPerformCopy() const = 0;
    virtual bool browserCanPerformPaste() const = 0;
    virtual bool browserCanPerformClear() const = 0;
    virtual void browserCopy() = 0;
    virtual void browserPaste() = 0;
    virtual void browserClear() = 0;
    virtual void browserCut() = 0;
    virtual std::vector<OXMenuItem> browserContextMenu(size_t column) = 0;
};

// The state of a column browser without its widgets: the selected rows of each column, the column
// with the keyboard focus, the enabling of the edit commands, Deselect All, Home and End, and the
// right click that selects before its menu opens. Main thread only.
class OXBrowserModel {
public:
    OXBrowserModel(OXBrowserDelegate& delegate, size_t columnCount);

    size_t columnCount() const { return selection_.size(); }
    // Columns shown: the first, and each next one while the column before has one row selected.
    size_t visibleColumnCount() const;
    size_t rowCount(size_t column) const;

    const std::vector<size_t>& selectedRows(size_t column) const { return selection_.at(column); }
    // The single selected row of the column, if exactly one is selected.
    std::optional<size_t> selectedRow(size_t column) const;
    // The rightmost column with a selection; none when nothing is selected.
    std::optional<size_t> selectedColumn() const;
    std::optional<size_t> focusedColumn() const { return focused_; }
    void setFocusedColumn(std::optional<size_t> column);

    bool allowsMultipleSelection() const { return allowsMultiple_; }
    void setAllowsMultipleSelection(bool allows) { allowsMultiple_ = allows; }
    bool allowsEmptySelection() const { return allowsEmpty_; }
    void setAllowsEmptySelection(bool allows) { allowsEmpty_ = allows; }

    // Sets the whole selection, one row list per column from the left (missing columns: none).
    // Rows past the end and columns that would not be shown are dropped. Does not notify.
    void setSelection(std::vector<std::vector<size_t>> rowsPerColumn);
    // A click: the column's selection becomes `rows`, the columns to its right are emptied, the
    // column takes the focus and the delegate hears of it.
    void userSelectRows(size_t column, std::vector<size_t> rows);

    bool validate(OXEditCommand command) const;
    // Runs an enabled command; false when it is disabled.
    bool perform(OXEditCommand command);

    // Home and End in the focused column (with rows present): Home selects row 0, or with Shift
    // rows 0 to the last selected one; End selects the last row, or with Shift and a selection the
    // first selected row to the last row. False when nothing happened.
    bool home(bool shift);
    bool end(bool shift);

    // A right click on `row` of `column`: focuses the column; an unselected row becomes the only
    // selection (columns to its right emptied, delegate told); returns the column's menu.
    std::vector<OXMenuItem> rightClick(size_t column, size_t row);

private:
    void clearFrom(size_t column);
    void selectRange(size_t column, size_t first, size_t last);

    OXBrowserDelegate& delegate_;
    std::vector<std::vector<size_t>> selection_;
    std::optional<size_t> focused_;
    bool allowsMultiple_ = true;
    bool allowsEmpty_ = true;
};

template <class Enabled> size_t OXInsertEditCommands(std::vector<OXMenuItem>& menu, size_t index, Enabled enabled)
{
    index = std::min(index, menu.size());
    const bool copy = enabled(OXEditCommand::Copy);
    const bool clear = enabled(OXEditCommand::Clear);
    const bool paste = enabled(OXEditCommand::Paste);
    std::vector<OXMenuItem> items;
    if (copy && clear)
        items.push_back({ localized("Cut"), "cut:", 0, false });
    if (copy)
        items.push_back({ localized("Copy"), "copy:", 0, false });
    if (paste)
        items.push_back({ localized("Paste"), "paste:", 0, false });
    if (clear)
        items.push_back({ localized("Clear"), "clear:", 0, false });
    if (items.empty())
        return 0;
    if (index < menu.size())
        items.push_back(OXMenuItem::separatorItem());
    if (index > 0)
        items.insert(items.begin(), OXMenuItem::separatorItem());
    menu.insert(menu.begin() + static_cast<std::ptrdiff_t>(index), items.begin(), items.end());
    return items.size();
}

} // namespace rp::editor
