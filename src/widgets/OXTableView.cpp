#include "widgets/OXTableView.h"

#include "editor/PasteboardTypes.h"
#include "foundation/Localization.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>

#include <algorithm>

using rp::editor::DropOperation;
using rp::editor::DropPosition;
using rp::editor::EditCommand;

namespace {

Qt::DropAction dropActionFor(DropOperation operation)
{
    switch (operation) {
    case DropOperation::Copy:
        return Qt::CopyAction;
    case DropOperation::Move:
        return Qt::MoveAction;
    case DropOperation::Link:
        return Qt::LinkAction;
    case DropOperation::None:
        break;
    }
    return Qt::IgnoreAction;
}

} // namespace

OXTableView::OXTableView(QWidget* parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(false); // drawn here: the delegate decides where a drop goes
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    verticalHeader()->hide();
}

bool OXTableView::selectionMayChange() const
{
    return !tableDelegate_ || tableDelegate_->tableViewSelectionShouldChange(const_cast<OXTableView*>(this));
}

std::vector<size_t> OXTableView::selectedRowList() const
{
    std::vector<size_t> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(static_cast<size_t>(index.row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void OXTableView::setSelectedRowsQuietly(const std::vector<size_t>& rows)
{
    if (!model() || !selectionModel())
        return;
    quiet_ = true;
    QItemSelection selection;
    const int lastColumn = std::max(0, model()->columnCount() - 1);
    for (size_t row : rows) {
        const int r = static_cast<int>(row);
        if (r < model()->rowCount())
            selection.select(model()->index(r, 0), model()->index(r, lastColumn));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    quiet_ = false;
}

void OXTableView::selectAndScrollFromRow(int first, int last)
{
    if (!model() || first < 0 || last < first || last >= model()->rowCount())
        return;
    std::vector<size_t> rows;
    for (int row = first; row <= last; ++row)
        rows.push_back(static_cast<size_t>(row));
    setSelectedRowsQuietly(rows);
    selectionModel()->setCurrentIndex(model()->index(last, 0), QItemSelectionModel::NoUpdate);
    scrollTo(model()->index(last, 0));
    if (tableDelegate_)
        tableDelegate_->tableViewSelectionDidChange(this, rows);
}

void OXTableView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QTableView::selectionChanged(selected, deselected);
    if (!quiet_ && tableDelegate_)
        tableDelegate_->tableViewSelectionDidChange(this, selectedRowList());
}

QItemSelectionModel::SelectionFlags OXTableView::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    if (!selectionMayChange())
        return QItemSelectionModel::NoUpdate;
    return QTableView::selectionCommand(index, event);
}

bool OXTableView::validateEditCommand(EditCommand command) const
{
    if (!tableDelegate_)
        return false;
    auto* self = const_cast<OXTableView*>(this);
    if (command == EditCommand::Cut)
        return tableDelegate_->tableViewValidateEditCommand(self, EditCommand::Copy)
            && tableDelegate_->tableViewValidateEditCommand(self, EditCommand::Clear)
            && tableDelegate_->tableViewValidateEditCommand(self, EditCommand::Cut);
    return tableDelegate_->tableViewValidateEditCommand(self, command);
}

bool OXTableView::validateSelectAll() const
{
    const bool multiple = selectionMode() == QAbstractItemView::ExtendedSelection
        || selectionMode() == QAbstractItemView::MultiSelection;
    return multiple && model() && selectedRowList().size() < static_cast<size_t>(model()->rowCount());
}

bool OXTableView::validateDeselectAll() const
{
    return !selectedRowList().empty();
}

void OXTableView::performEditCommand(EditCommand command)
{
    if (validateEditCommand(command))
        tableDelegate_->tableViewPerformEditCommand(this, command);
}

void OXTableView::keyPressEvent(QKeyEvent* event)
{
    const int rows = model() ? model()->rowCount() : 0;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool command = event->modifiers() & Qt::ControlModifier;
    const bool home = event->key() == Qt::Key_Home || (command && event->key() == Qt::Key_Up);
    const bool end = event->key() == Qt::Key_End || (command && event->key() == Qt::Key_Down);
    if ((home || end) && rows > 0) {
        if (selectionMayChange()) {
            const auto selected = selectedRowList();
            if (home)
                selectAndScrollFromRow(0, shift && !selected.empty() ? static_cast<int>(selected.back()) : 0);
            else
                selectAndScrollFromRow(shift && !selected.empty() ? static_cast<int>(selected.front()) : rows - 1,
                    rows - 1);
        }
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
        focusNextPrevChild(event->key() == Qt::Key_Tab && !shift);
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState) {
        if (tableDelegate_)
            tableDelegate_->tableViewReturnKey(this);
        event->accept();
        return;
    }
    struct Binding {
        QKeySequence::StandardKey key;
        EditCommand command;
    };
    for (const Binding binding : { Binding { QKeySequence::Cut, EditCommand::Cut },
             Binding { QKeySequence::Copy, EditCommand::Copy }, Binding { QKeySequence::Paste, EditCommand::Paste },
             Binding { QKeySequence::Delete, EditCommand::Clear } }) {
        if (event->matches(binding.key)) {
            performEditCommand(binding.command);
            event->accept();
            return;
        }
    }
    if (event->key() == Qt::Key_Backspace && event->modifiers() == Qt::NoModifier) {
        performEditCommand(EditCommand::Clear);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void OXTableView::mousePressEvent(QMouseEvent* event)
{
    // A right click acts on the row under the pointer: it becomes the selection unless it is
    // already part of it.
    if (event->button() == Qt::RightButton) {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid() && selectionMayChange()) {
            const auto selected = selectedRowList();
            const auto row = static_cast<size_t>(index.row());
            if (std::find(selected.begin(), selected.end(), row) == selected.end())
                selectAndScrollFromRow(index.row(), index.row());
        }
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void OXTableView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!tableDelegate_)
        return;
    QMenu menu(this);
    tableDelegate_->tableViewBuildContextMenu(this, &menu);
    if (!menu.actions().isEmpty())
        menu.exec(event->globalPos());
    event->accept();
}

void OXTableView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Ending an edit never moves on to edit another cell; the table takes the focus back.
    if (hint == QAbstractItemDelegate::EditNextItem || hint == QAbstractItemDelegate::EditPreviousItem)
        hint = QAbstractItemDelegate::NoHint;
    QTableView::closeEditor(editor, hint);
    setFocus(Qt::OtherFocusReason);
}

void OXTableView::startDrag(Qt::DropActions)
{
    if (!tableDelegate_)
        return;
    const auto rows = selectedRowList();
    if (rows.empty())
        return;
    rp::editor::ORPMemoryPasteboard pasteboard;
    if (!tableDelegate_->tableViewWriteRows(this, rows, pasteboard))
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(new OXPasteboardMimeData(std::move(pasteboard)));
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::MoveAction);
}

std::pair<size_t, DropPosition> OXTableView::dropTargetAt(const QPoint& point) const
{
    const int rows = model() ? model()->rowCount() : 0;
    const int row = rowAt(point.y());
    if (row < 0)
        return { static_cast<size_t>(rows), DropPosition::Above };
    const int top = rowViewportPosition(row);
    const int height = rowHeight(row);
    const int margin = std::clamp(static_cast<int>(height / 5.5), 2, 12);
    if (point.y() - top < margin)
        return { static_cast<size_t>(row), DropPosition::Above };
    if (top + height - point.y() <= margin)
        return { static_cast<size_t>(row + 1), DropPosition::Above };
    return { static_cast<size_t>(row), DropPosition::On };
}

bool OXTableView::judgeDrop(QDropEvent* event)
{
    dropIndicator_ = {};
    if (!tableDelegate_) {
        event->ignore();
        return false;
    }
    const auto [row, position] = dropTargetAt(event->position().toPoint());
    // Alt is the copy modifier of the program's own keys; Ctrl is the desktop's usual one.
    const bool option = event->modifiers() & (Qt::AltModifier | Qt::ControlModifier);
    const OXTableViewDelegate::Drop drop { event->source(), option, row, position };
    OXMimePasteboard dragData(event->mimeData());
    const DropOperation operation = tableDelegate_->tableViewValidateDrop(this, drop, dragData);
    if (operation == DropOperation::None) {
        event->ignore();
        viewport()->update();
        return false;
    }
    event->setDropAction(dropActionFor(operation));
    event->accept();
    const int rows = model()->rowCount();
    if (position == DropPosition::On) {
        dropIndicator_ = QRect(0, rowViewportPosition(static_cast<int>(row)), viewport()->width(),
            rowHeight(static_cast<int>(row)));
    } else {
        const int y = row < static_cast<size_t>(rows)
            ? rowViewportPosition(static_cast<int>(row))
            : (rows > 0 ? rowViewportPosition(rows - 1) + rowHeight(rows - 1) : 0);
        dropIndicator_ = QRect(0, y, viewport()->width(), 0);
    }
    viewport()->update();
    return true;
}

void OXTableView::dragEnterEvent(QDragEnterEvent* event)
{
    judgeDrop(event);
}

void OXTableView::dragMoveEvent(QDragMoveEvent* event)
{
    QTableView::dragMoveEvent(event); // scrolls near the edges; the verdict is the delegate's
    judgeDrop(event);
}

void OXTableView::dragLeaveEvent(QDragLeaveEvent* event)
{
    dropIndicator_ = {};
    viewport()->update();
    event->accept();
}

void OXTableView::dropEvent(QDropEvent* event)
{
    if (!judgeDrop(event))
        return;
    dropIndicator_ = {};
    viewport()->update();
    const auto [row, position] = dropTargetAt(event->position().toPoint());
    const bool option = event->modifiers() & (Qt::AltModifier | Qt::ControlModifier);
    OXMimePasteboard dragData(event->mimeData());
    if (!tableDelegate_->tableViewAcceptDrop(this, { event->source(), option, row, position }, dragData))
        event->ignore();
    else
        event->accept();
}

void OXTableView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if (dropIndicator_.width() <= 0)
        return;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    if (dropIndicator_.height() > 0)
        painter.drawRect(dropIndicator_.adjusted(1, 1, -1, -1));
    else
        painter.drawLine(dropIndicator_.left(), dropIndicator_.top(), dropIndicator_.right(), dropIndicator_.top());
}

void insertEditCommands(QMenu* menu, int index, OXTableView* table)
{
    if (!menu || !table)
        return;
    const auto items = rp::editor::editCommandsToInsert(static_cast<size_t>(menu->actions().size()),
        static_cast<size_t>(std::max(0, index)), table->validateEditCommand(EditCommand::Copy),
        table->validateEditCommand(EditCommand::Paste), table->validateEditCommand(EditCommand::Clear));
    QAction* before = index < menu->actions().size() ? menu->actions().at(index) : nullptr;
    for (const auto& item : items) {
        QAction* action = nullptr;
        if (!item) {
            action = new QAction(menu);
            action->setSeparator(true);
        } else {
            const EditCommand command = *item;
            action = new QAction(QString::fromStdString(rp::localized(rp::editor::editCommandTitle(command))), menu);
            QObject::connect(action, &QAction::triggered, table, [table, command] { table->performEditCommand(command); });
        }
        menu->insertAction(before, action);
    }
}
