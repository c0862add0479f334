#include "widgets/OXBrowserView.h"

#include "widgets/OXPasteboard.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

namespace rp::widgets {

namespace {

OXBrowserView* theDragSource = nullptr;

std::optional<editor::OXEditCommand> editCommand(const std::string& action)
{
    if (action == "cut:")
        return editor::OXEditCommand::Cut;
    if (action == "copy:")
        return editor::OXEditCommand::Copy;
    if (action == "paste:")
        return editor::OXEditCommand::Paste;
    if (action == "clear:")
        return editor::OXEditCommand::Clear;
    return std::nullopt;
}

} // namespace

OXBrowserColumn::OXBrowserColumn(OXBrowserView& browser, size_t column)
    : browser_(browser)
    , column_(column)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(18, 18));
    setUniformItemSizes(true);
}

int OXBrowserColumn::dropRow(const QPoint& pos) const
{
    QListWidgetItem* item = itemAt(pos);
    if (!item) {
        return count();
    }
    const int r = row(item);
    return pos.y() > visualItemRect(item).center().y() ? r + 1 : r;
}

void OXBrowserColumn::startDrag(Qt::DropActions)
{
    std::vector<size_t> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.push_back(static_cast<size_t>(index.row()));
    }
    std::sort(rows.begin(), rows.end());
    editor::ORPMemoryPasteboard pasteboard;
    if (rows.empty() || !browser_.source().browserWriteRows(column_, rows, pasteboard)) {
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(new OXPasteboardMimeData(std::move(pasteboard)));
    theDragSource = &browser_;
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
    theDragSource = nullptr;
}

bool OXBrowserColumn::validate(QDropEvent* event)
{
    const OXMimePasteboard pasteboard(event->mimeData());
    const bool copyOnly = (event->modifiers() & Qt::ControlModifier) != 0;
    const int row = dropRow(event->position().toPoint());
    const auto drop = browser_.source().browserValidateDrop(
        pasteboard, OXBrowserView::dragSource(), column_, static_cast<size_t>(row), copyOnly);
    if (drop == OXBrowserSource::Drop::None) {
        event->ignore();
        return false;
    }
    event->setDropAction(drop == OXBrowserSource::Drop::Move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
    return true;
}

void OXBrowserColumn::dragEnterEvent(QDragEnterEvent* event)
{
    // Entering is allowed for any drag of ours; each position is judged as it moves.
    event->accept();
}

void OXBrowserColumn::dragMoveEvent(QDragMoveEvent* event)
{
    validate(event);
}

void OXBrowserColumn::dragLeaveEvent(QDragLeaveEvent* event)
{
    event->accept();
}

void OXBrowserColumn::dropEvent(QDropEvent* event)
{
    if (!validate(event)) {
        return;
    }
    const OXMimePasteboard pasteboard(event->mimeData());
    const bool copyOnly = (event->modifiers() & Qt::ControlModifier) != 0;
    const int row = dropRow(event->position().toPoint());
    if (!browser_.source().browserAcceptDrop(
            pasteboard, OXBrowserView::dragSource(), column_, static_cast<size_t>(row), copyOnly)) {
        event->ignore();
        return;
    }
    // The document moved the rows itself: the drag's source must not delete anything.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void OXBrowserColumn::contextMenuEvent(QContextMenuEvent* event)
{
    QListWidgetItem* item = itemAt(event->pos());
    if (!item) {
        return;
    }
    browser_.cancelRenaming();
    setFocus(Qt::MouseFocusReason);
    const auto items = browser_.model().rightClick(column_, static_cast<size_t>(row(item)));
    browser_.reload();
    if (items.empty()) {
        return;
    }
    QMenu menu(this);
    for (const auto& menuItem : items) {
        if (menuItem.separator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(menuItem.title));
        action->setProperty("actionName", QString::fromStdString(menuItem.action));
        action->setProperty("tag", menuItem.tag);
        QPointer<OXBrowserView> browser(&browser_);
        const size_t column = column_;
        connect(action, &QAction::triggered, this, [browser, menuItem, column] {
            if (browser) {
                browser->performMenuItem(menuItem, column);
            }
        });
    }
    menu.exec(event->globalPos());
}

void OXBrowserColumn::keyPressEvent(QKeyEvent* event)
{
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    auto& model = browser_.model();
    switch (event->key()) {
    case Qt::Key_Home:
        model.setFocusedColumn(column_);
        if (model.home(shift)) {
            browser_.reload();
        }
        return;
    case Qt::Key_End:
        model.setFocusedColumn(column_);
        if (model.end(shift)) {
            browser_.reload();
        }
        return;
    case Qt::Key_Right:
        if (column_ + 1 < browser_.columnCount() && browser_.columnView(column_ + 1)->count() > 0) {
            auto* next = browser_.columnView(column_ + 1);
            next->setFocus(Qt::TabFocusReason);
            if (model.selectedRows(column_ + 1).empty()) {
                model.userSelectRows(column_ + 1, { 0 });
                browser_.reload();
            }
        }
        return;
    case Qt::Key_Left:
        if (column_ > 0) {
            browser_.columnView(column_ - 1)->setFocus(Qt::TabFocusReason);
        }
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        browser_.beginRenaming(column_);
        return;
    default:
        QListWidget::keyPressEvent(event);
    }
}

void OXBrowserColumn::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (itemAt(event->position().toPoint())) {
        browser_.beginRenaming(column_);
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
}

void OXBrowserColumn::focusInEvent(QFocusEvent* event)
{
    browser_.model().setFocusedColumn(column_);
    QListWidget::focusInEvent(event);
}

OXBrowserView::OXBrowserView(editor::OXBrowserModel& model, OXBrowserSource& source, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , source_(source)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (size_t c = 0; c < model_.columnCount(); ++c) {
        auto* column = new OXBrowserColumn(*this, c);
        column->setProperty("probeName", QStringLiteral("browserColumn%1").arg(c));
        columns_.push_back(column);
        layout->addWidget(column, 1);
        connect(column, &QListWidget::itemSelectionChanged, this, [this, c] { columnSelectionChanged(c); });
    }
}

OXBrowserView* OXBrowserView::dragSource()
{
    return theDragSource;
}

void OXBrowserView::columnSelectionChanged(size_t column)
{
    if (reloading_) {
        return;
    }
    std::vector<size_t> rows;
    for (const QModelIndex& index : columns_[column]->selectionModel()->selectedRows()) {
        rows.push_back(static_cast<size_t>(index.row()));
    }
    std::sort(rows.begin(), rows.end());
    model_.userSelectRows(column, rows);
    reload();
}

void OXBrowserView::reload()
{
    reloading_ = true;
    const size_t visible = model_.visibleColumnCount();
    for (size_t c = 0; c < columns_.size(); ++c) {
        OXBrowserColumn* list = columns_[c];
        const size_t rows = c < visible ? model_.rowCount(c) : 0;
        std::vector<OXBrowserSource::Cell> cells;
        cells.reserve(rows);
        for (size_t r = 0; r < rows; ++r) {
            cells.push_back(source_.browserCell(c, r));
        }
        if (static_cast<size_t>(list->count()) != rows) {
            list->clear();
            for (size_t r = 0; r < rows; ++r) {
                list->addItem(new QListWidgetItem);
            }
        }
        for (size_t r = 0; r < rows; ++r) {
            QListWidgetItem* item = list->item(static_cast<int>(r));
            if (item->text() != cells[r].text) {
                item->setText(cells[r].text);
            }
            QFont font = list->font();
            font.setBold(cells[r].bold);
            if (item->font() != font) {
                item->setFont(font);
            }
            item->setIcon(cells[r].icon.isNull() ? QIcon() : QIcon(QPixmap::fromImage(cells[r].icon)));
        }
        const auto& selected = c < visible ? model_.selectedRows(c) : std::vector<size_t> {};
        for (int r = 0; r < list->count(); ++r) {
            const bool on = std::find(selected.begin(), selected.end(), static_cast<size_t>(r)) != selected.end();
            if (list->item(r)->isSelected() != on) {
                list->item(r)->setSelected(on);
            }
        }
        if (!selected.empty()) {
            list->setCurrentRow(static_cast<int>(selected.back()), QItemSelectionModel::NoUpdate);
            list->scrollToItem(list->item(static_cast<int>(selected.back())));
        }
    }
    reloading_ = false;
}

bool OXBrowserView::beginRenaming(size_t column)
{
    if (editor_) {
        return false;
    }
    const auto row = model_.selectedRow(column);
    if (!row) {
        return false;
    }
    const auto oldText = source_.browserBeginRenaming(column);
    if (!oldText) {
        return false;
    }
    OXBrowserColumn* list = columns_[column];
    QListWidgetItem* item = list->item(static_cast<int>(*row));
    if (!item) {
        source_.browserCancelRenaming();
        return false;
    }
    editingColumn_ = column;
    editor_ = new QLineEdit(list->viewport());
    editor_->setProperty("probeName", QStringLiteral("browserRenameField"));
    editor_->setText(QString::fromStdString(*oldText));
    QRect rect = list->visualItemRect(item);
    rect.setLeft(rect.left() + list->iconSize().width() + 4);
    editor_->setGeometry(rect.adjusted(0, -1, 0, 1));
    editor_->installEventFilter(this);
    editor_->show();
    editor_->selectAll();
    editor_->setFocus(Qt::OtherFocusReason);
    return true;
}

bool OXBrowserView::commitRenaming()
{
    if (!editor_) {
        return true;
    }
    if (!source_.browserEndRenaming(editor_->text().toStdString())) {
        editor_->selectAll();
        return false;
    }
    QLineEdit* done = editor_;
    editor_ = nullptr;
    done->removeEventFilter(this);
    done->hide();
    done->deleteLater();
    reload();
    columns_[editingColumn_]->setFocus(Qt::OtherFocusReason);
    return true;
}

void OXBrowserView::cancelRenaming()
{
    if (!editor_) {
        return;
    }
    QLineEdit* done = editor_;
    editor_ = nullptr;
    done->removeEventFilter(this);
    done->hide();
    done->deleteLater();
    source_.browserCancelRenaming();
    reload();
    columns_[editingColumn_]->setFocus(Qt::OtherFocusReason);
}

bool OXBrowserView::eventFilter(QObject* watched, QEvent* event)
{
    if (editor_ && watched == editor_) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                commitRenaming();
                return true;
            }
            if (key == Qt::Key_Escape) {
                cancelRenaming();
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            // Clicking elsewhere ends editing as Return does; a refused name keeps the editor.
            if (QApplication::activeWindow() == window() && !commitRenaming() && editor_) {
                QPointer<QLineEdit> field = editor_;
                QMetaObject::invokeMethod(this, [field] { if (field) field->setFocus(); }, Qt::QueuedConnection);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void OXBrowserView::performMenuItem(const editor::OXMenuItem& item, size_t column)
{
    if (const auto command = editCommand(item.action)) {
        model_.setFocusedColumn(column);
        model_.perform(*command);
        reload();
    } else if (item.action == "renameAction:") {
        beginRenaming(column);
    } else {
        source_.browserMenuAction(item, column);
    }
}

} // namespace rp::widgets
