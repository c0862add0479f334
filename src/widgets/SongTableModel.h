#pragma once

// The Qt face of one of the song window's tables: an item model over ORPSongTables and an item
// delegate that paints a cell's grey suffix and edits the playlist's section pop-up and repeats.

#include "editor/ORPSongTables.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

class SongTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The cell's grey suffix (QString) and, for the section pop-up, its items (QStringList).
    static constexpr int SuffixRole = Qt::UserRole + 1;
    static constexpr int PopUpItemsRole = Qt::UserRole + 2;
    static constexpr int PopUpIndexRole = Qt::UserRole + 3;

    SongTableModel(rp::editor::ORPSongTables& tables, rp::editor::SongTable table, QObject* parent = nullptr);

    rp::editor::SongTable table() const { return table_; }
    rp::editor::TableColumn columnAt(int column) const { return columns_.at(static_cast<size_t>(column)); }
    // The rows or cells changed under the model.
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;

private:
    rp::editor::ORPSongTables& tables_;
    rp::editor::SongTable table_;
    std::vector<rp::editor::TableColumn> columns_;
};

class SongTableItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};
