#pragma once

// A table view that carries the edit commands (cut, copy, paste, clear), its context menu and drag
// and drop to the document that owns the rows, through OXTableViewDelegate. Home and End (with
// Shift extending the selection) select the first or last row; a right click selects the row under
// the pointer before the context menu opens.

#include "editor/ORPSongTables.h"
#include "widgets/OXPasteboard.h"

#include <QTableView>

#include <memory>
#include <optional>
#include <vector>

class QMenu;
class OXTableView;

// The document's side of a table. Every operation has a default: a command the delegate does not
// handle is disabled and does nothing.
class OXTableViewDelegate {
public:
    virtual ~OXTableViewDelegate() = default;

    virtual bool tableViewValidateEditCommand(OXTableView*, rp::editor::EditCommand) { return false; }
    virtual void tableViewPerformEditCommand(OXTableView*, rp::editor::EditCommand) { }
    virtual bool tableViewSelectionShouldChange(OXTableView*) { return true; }
    // The user changed the selection; rows ascending.
    virtual void tableViewSelectionDidChange(OXTableView*, const std::vector<size_t>&) { }
    // Fills the (empty) context menu; an empty menu is not shown.
    virtual void tableViewBuildContextMenu(OXTableView*, QMenu*) { }
    // Return typed in the table (not while editing a cell).
    virtual void tableViewReturnKey(OXTableView*) { }

    // Drag and drop: rows written for a drag, and drops judged and taken. `source` is the widget a
    // drag came from (null for another program); `optionHeld` the copy modifier.
    struct Drop {
        QObject* source = nullptr;
        bool optionHeld = false;
        size_t row = 0;
        rp::editor::DropPosition position = rp::editor::DropPosition::Above;
    };
    virtual bool tableViewWriteRows(OXTableView*, const std::vector<size_t>&, rp::editor::ORPPasteboard&)
    {
        return false;
    }
    virtual rp::editor::DropOperation tableViewValidateDrop(
        OXTableView*, const Drop&, const rp::editor::ORPPasteboard&)
    {
        return rp::editor::DropOperation::None;
    }
    virtual bool tableViewAcceptDrop(OXTableView*, const Drop&, const rp::editor::ORPPasteboard&) { return false; }
};

class OXTableView : public QTableView {
    Q_OBJECT
public:
    explicit OXTableView(QWidget* parent = nullptr);

    void setTableDelegate(OXTableViewDelegate* delegate) { tableDelegate_ = delegate; }
    OXTableViewDelegate* tableDelegate() const { return tableDelegate_; }
    // The name the UI probe reports for this table (the "probeName" property).
    void setProbeName(const QString& name) { setProperty("probeName", name); }

    // Selects exactly first..last (replacing the selection) and scrolls the last into view.
    void selectAndScrollFromRow(int first, int last);
    std::vector<size_t> selectedRowList() const;
    // Replaces the selection without reporting it to the delegate.
    void setSelectedRowsQuietly(const std::vector<size_t>& rows);

    // Enabling of the Edit menu's items while this table has the focus. Cut and the others ask
    // the delegate; Select All needs multiple selection and unselected rows, Deselect All a
    // selection that may become empty.
    bool validateEditCommand(rp::editor::EditCommand command) const;
    bool validateSelectAll() const;
    bool validateDeselectAll() const;
    // Runs the command when it is enabled.
    void performEditCommand(rp::editor::EditCommand command);

    // The row and position a drop at `point` (viewport coordinates) proposes.
    std::pair<size_t, rp::editor::DropPosition> dropTargetAt(const QPoint& point) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index, const QEvent* event) const override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    bool judgeDrop(QDropEvent* event);
    bool selectionMayChange() const;

    OXTableViewDelegate* tableDelegate_ = nullptr;
    bool quiet_ = false;
    QRect dropIndicator_;
};

// Inserts into `menu` at `index` the edit commands `table` enables (Cut only with Copy and Clear),
// with separators between them and the menu's other items.
void insertEditCommands(QMenu* menu, int index, OXTableView* table);
