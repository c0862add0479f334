#pragma once

#ifndef Q_MOC_RUN
#include "editor/ORPPasteboard.h"
#include "editor/OXBrowserModel.h"
#endif

#include <QImage>
#include <QListWidget>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QLineEdit;

namespace rp::widgets {

class OXBrowserView;

// What the browser view asks of the window that owns the data behind its model.
class OXBrowserSource {
public:
    struct Cell {
        QString text;
        QImage icon;
        bool bold = false;
    };
    enum class Drop { None, Move, Copy };

    virtual ~OXBrowserSource() = default;
    virtual Cell browserCell(size_t column, size_t row) const = 0;
    // Renaming in place: the old text (none: not possible), the end (false keeps the editor open)
    // and Escape.
    virtual std::optional<std::string> browserBeginRenaming(size_t column) = 0;
    virtual bool browserEndRenaming(const std::string& text) = 0;
    virtual void browserCancelRenaming() = 0;
    // Dragging rows out, and drops at a row of a column; `source` is the browser the drag came from
    // (null: another program).
    virtual bool browserWriteRows(size_t column, const std::vector<size_t>& rows, editor::ORPPasteboard& pasteboard) = 0;
    virtual Drop browserValidateDrop(const editor::ORPPasteboard& pasteboard, OXBrowserView* source, size_t column,
        size_t row, bool copyOnly) = 0;
    virtual bool browserAcceptDrop(const editor::ORPPasteboard& pasteboard, OXBrowserView* source, size_t column,
        size_t row, bool copyOnly) = 0;
    // A context-menu item other than the edit commands and "Rename".
    virtual void browserMenuAction(const editor::OXMenuItem& item, size_t column) = 0;
};

// One column of the browser.
class OXBrowserColumn final : public QListWidget {
    Q_OBJECT
public:
    OXBrowserColumn(OXBrowserView& browser, size_t column);
    size_t column() const { return column_; }
    // The row a drop at `pos` goes before.
    int dropRow(const QPoint& pos) const;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    bool validate(QDropEvent* event);

    OXBrowserView& browser_;
    size_t column_;
};

// A column browser over OXBrowserModel: one list per column, each showing the rows the model has
// for it; clicks, keys and right clicks go to the model; double click renames in place; rows drag
// and drop through the source.
class OXBrowserView final : public QWidget {
    Q_OBJECT
public:
    OXBrowserView(editor::OXBrowserModel& model, OXBrowserSource& source, QWidget* parent = nullptr);

    editor::OXBrowserModel& model() { return model_; }
    OXBrowserSource& source() { return source_; }
    OXBrowserColumn* columnView(size_t column) const { return columns_.at(column); }
    size_t columnCount() const { return columns_.size(); }

    // Refills the columns from the model (only columns whose rows changed are rebuilt) and shows its
    // selection.
    void reload();
    // Starts renaming the single selected cell of the column; false when none can be.
    bool beginRenaming(size_t column);
    bool isRenaming() const { return editor_ != nullptr; }
    // Ends renaming with the editor's text; false when the text was refused (editing goes on).
    bool commitRenaming();
    void cancelRenaming();
    // Runs one of the browser's own menu items (edit commands, "Rename"), else hands it to the source.
    void performMenuItem(const editor::OXMenuItem& item, size_t column);

    // The browser a drag inside this program started from, while it runs.
    static OXBrowserView* dragSource();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class OXBrowserColumn;
    void columnSelectionChanged(size_t column);

    editor::OXBrowserModel& model_;
    OXBrowserSource& source_;
    std::vector<OXBrowserColumn*> columns_;
    QPointer<QLineEdit> editor_;
    size_t editingColumn_ = 0;
    bool reloading_ = false;
};

} // namespace rp::widgets
