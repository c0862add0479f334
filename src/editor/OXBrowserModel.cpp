#include "editor/OXBrowserModel.h"

#include "editor/ORPSongTablesRows.h"

#include <stdexcept>

namespace rp::editor {

using tablerows::sortedUnique;
using tablerows::withinCount;

OXBrowserModel::OXBrowserModel(OXBrowserDelegate& delegate, size_t columnCount)
    : delegate_(delegate)
    , selection_(columnCount)
{
    if (columnCount == 0)
        throw std::invalid_argument("OXBrowserModel: a browser needs a column");
}

size_t OXBrowserModel::visibleColumnCount() const
{
    size_t count = 1;
    while (count < selection_.size() && selection_[count - 1].size() == 1)
        ++count;
    return count;
}

size_t OXBrowserModel::rowCount(size_t column) const
{
    return column < visibleColumnCount() ? delegate_.browserRowCount(column) : 0;
}

std::optional<size_t> OXBrowserModel::selectedRow(size_t column) const
{
    if (column >= selection_.size() || selection_[column].size() != 1)
        return std::nullopt;
    return selection_[column].front();
}

std::optional<size_t> OXBrowserModel::selectedColumn() const
{
    for (size_t column = selection_.size(); column-- > 0;)
        if (!selection_[column].empty())
            return column;
    return std::nullopt;
}

void OXBrowserModel::setFocusedColumn(std::optional<size_t> column)
{
    focused_ = column && *column < selection_.size() ? column : std::nullopt;
}

void OXBrowserModel::clearFrom(size_t column)
{
    for (size_t c = column; c < selection_.size(); ++c)
        selection_[c].clear();
}

void OXBrowserModel::setSelection(std::vector<std::vector<size_t>> rowsPerColumn)
{
    clearFrom(0);
    // Column by column, so that each column's row count is asked with the selection to its left.
    for (size_t column = 0; column < selection_.size() && column < rowsPerColumn.size(); ++column) {
        if (column > 0 && selection_[column - 1].size() != 1)
            break;
        auto rows = withinCount(sortedUnique(std::move(rowsPerColumn[column])), delegate_.browserRowCount(column));
        if (!allowsMultiple_ && rows.size() > 1)
            rows.resize(1);
        selection_[column] = std::move(rows);
    }
    if (focused_ && *focused_ >= visibleColumnCount())
        focused_ = visibleColumnCount() - 1;
}

void OXBrowserModel::userSelectRows(size_t column, std::vector<size_t> rows)
{
    if (column >= visibleColumnCount())
        return;
    std::vector<std::vector<size_t>> wanted(selection_.begin(), selection_.begin() + static_cast<std::ptrdiff_t>(column));
    wanted.push_back(std::move(rows));
    setSelection(std::move(wanted));
    focused_ = column;
    delegate_.browserSelectionDidChange();
}

bool OXBrowserModel::validate(OXEditCommand command) const
{
    switch (command) {
    case OXEditCommand::SelectAll: {
        const auto column = selectedColumn();
        return allowsMultiple_ && column && selection_[*column].size() < rowCount(*column);
    }
    case OXEditCommand::DeselectAll:
        return allowsEmpty_ && selectedColumn().has_value();
    case OXEditCommand::Copy:
        return delegate_.browserCanPerformCopy();
    case OXEditCommand::Paste:
        return delegate_.browserCanPerformPaste();
    case OXEditCommand::Clear:
        return delegate_.browserCanPerformClear();
    case OXEditCommand::Cut:
        return delegate_.browserCanPerformCopy() && delegate_.browserCanPerformClear();
    }
    return false;
}

bool OXBrowserModel::perform(OXEditCommand command)
{
    if (!validate(command))
        return false;
    switch (command) {
    case OXEditCommand::SelectAll: {
        const size_t column = *selectedColumn();
        std::vector<size_t> all(rowCount(column));
        for (size_t row = 0; row < all.size(); ++row)
            all[row] = row;
        userSelectRows(column, std::move(all));
        break;
    }
    case OXEditCommand::DeselectAll: {
        // The first column (or none) reloads, which leaves nothing selected; otherwise the row to
        // the left is selected again, which empties the current column.
        const auto column = selectedColumn();
        if (!column || *column == 0)
            clearFrom(0);
        else
            clearFrom(*column);
        delegate_.browserSelectionDidChange();
        break;
    }
    case OXEditCommand::Copy:
        delegate_.browserCopy();
        break;
    case OXEditCommand::Paste:
        delegate_.browserPaste();
        break;
    case OXEditCommand::Clear:
        delegate_.browserClear();
        break;
    case OXEditCommand::Cut:
        delegate_.browserCut();
        break;
    }
    return true;
}

void OXBrowserModel::selectRange(size_t column, size_t first, size_t last)
{
    std::vector<size_t> rows;
    for (size_t row = first; row <= last; ++row)
        rows.push_back(row);
    userSelectRows(column, std::move(rows));
}

bool OXBrowserModel::home(bool shift)
{
    if (!focused_)
        return false;
    const size_t column = *focused_;
    if (rowCount(column) == 0)
        return false;
    const auto& selected = selection_[column];
    selectRange(column, 0, shift && !selected.empty() ? selected.back() : 0);
    return true;
}

bool OXBrowserModel::end(bool shift)
{
    if (!focused_)
        return false;
    const size_t column = *focused_;
    const size_t rows = rowCount(column);
    if (rows == 0)
        return false;
    const auto& selected = selection_[column];
    selectRange(column, shift && !selected.empty() ? selected.front() : rows - 1, rows - 1);
    return true;
}

std::vector<OXMenuItem> OXBrowserModel::rightClick(size_t column, size_t row)
{
    if (column >= visibleColumnCount() || row >= rowCount(column))
        return {};
    focused_ = column;
    const auto& selected = selection_[column];
    if (std::find(selected.begin(), selected.end(), row) == selected.end())
        userSelectRows(column, { row });
    return delegate_.browserContextMenu(column);
}

} // namespace rp::editor
