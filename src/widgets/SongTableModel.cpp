#include "widgets/SongTableModel.h"

#include "foundation/Localization.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QSpinBox>

#include <limits>

using rp::editor::SongTable;
using rp::editor::TableColumn;

namespace {

QColor colorOf(const ORPDrawColor& color)
{
    return QColor::fromRgbF(color.red, color.green, color.blue, color.alpha);
}

bool isPlainColor(const ORPDrawColor& color)
{
    return color == ORPDrawColor::white(0);
}

QString headerTitle(TableColumn column)
{
    switch (column) {
    case TableColumn::Name:
        return QString::fromStdString(rp::localized("Name"));
    case TableColumn::Length:
        return QString::fromStdString(rp::localized("Length"));
    case TableColumn::Section:
        return QString::fromStdString(rp::localized("Section"));
    case TableColumn::Repeats:
        return QString::fromStdString(rp::localized("Repeats"));
    case TableColumn::CuePoint:
        return QString::fromStdString(rp::localized("Cue Point"));
    }
    return {};
}

} // namespace

SongTableModel::SongTableModel(rp::editor::ORPSongTables& tables, SongTable table, QObject* parent)
    : QAbstractTableModel(parent)
    , tables_(tables)
    , table_(table)
    , columns_(rp::editor::columnsOf(table))
{
}

void SongTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

int SongTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(tables_.numberOfRows(table_));
}

int SongTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant SongTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= columnCount())
        return {};
    const TableColumn column = columnAt(index.column());
    const auto cell = tables_.cell(table_, column, static_cast<size_t>(index.row()));
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(cell.text);
    case Qt::EditRole:
        if (cell.number)
            return *cell.number;
        if (column == TableColumn::Section)
            return cell.popUpIndex;
        return QString::fromStdString(cell.text);
    case Qt::ForegroundRole:
        return isPlainColor(cell.color) ? QVariant() : QVariant(colorOf(cell.color));
    case SuffixRole:
        return QString::fromStdString(cell.suffix);
    case PopUpIndexRole:
        return cell.popUpIndex;
    case PopUpItemsRole: {
        QStringList items;
        for (const auto& title : tables_.sectionMenuTitles())
            items << QString::fromStdString(title);
        return items;
    }
    case Qt::TextAlignmentRole:
        return column == TableColumn::Repeats ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default:
        return {};
    }
}

bool SongTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    const TableColumn column = columnAt(index.column());
    rp::editor::CellValue cellValue;
    if (column == TableColumn::Name)
        cellValue = value.toString().toStdString();
    else
        cellValue = static_cast<int64_t>(value.toLongLong());
    const bool changed = tables_.setCellValue(table_, column, static_cast<size_t>(index.row()), cellValue);
    if (changed)
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    return changed;
}

QVariant SongTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount())
        return {};
    return headerTitle(columnAt(section));
}

Qt::ItemFlags SongTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (tables_.isEditable(table_, columnAt(index.column())))
        flags |= Qt::ItemIsEditable;
    return flags;
}

Qt::DropActions SongTableModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
}

void SongTableItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QString suffix = index.data(SongTableModel::SuffixRole).toString();
    if (suffix.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The text in its own colour, then the suffix in grey.
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(2, 0, -2, 0);
    painter->save();
    const bool selected = opt.state & QStyle::State_Selected;
    painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText) : opt.palette.color(QPalette::Text));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
    const int textWidth = opt.fontMetrics.horizontalAdvance(text);
    painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText)
                             : colorOf(rp::editor::TableCell::greyColor()));
    painter->drawText(textRect.adjusted(textWidth, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
        opt.fontMetrics.elidedText(suffix, Qt::ElideRight, std::max(0, textRect.width() - textWidth)));
    painter->restore();
}

QWidget* SongTableItemDelegate::createEditor(
    QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto* model = qobject_cast<const SongTableModel*>(index.model());
    if (!model)
        return QStyledItemDelegate::createEditor(parent, option, index);
    switch (model->columnAt(index.column())) {
    case TableColumn::Section: {
        auto* combo = new QComboBox(parent);
        combo->addItems(index.data(SongTableModel::PopUpItemsRole).toStringList());
        return combo;
    }
    case TableColumn::Repeats: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(0, std::numeric_limits<int16_t>::max());
        return spin;
    }
    default: {
        auto* field = new QLineEdit(parent);
        field->setFrame(false);
        return field;
    }
    }
}

void SongTableItemDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        combo->setCurrentIndex(index.data(SongTableModel::PopUpIndexRole).toInt());
    } else if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
        spin->setValue(index.data(Qt::EditRole).toInt());
        spin->selectAll();
    } else if (auto* field = qobject_cast<QLineEdit*>(editor)) {
        field->setText(index.data(Qt::EditRole).toString());
        field->selectAll();
    }
}

void SongTableItemDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        if (combo->currentIndex() >= 0)
            model->setData(index, combo->currentIndex(), Qt::EditRole);
    } else if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
        spin->interpretText();
        model->setData(index, spin->value(), Qt::EditRole);
    } else if (auto* field = qobject_cast<QLineEdit*>(editor)) {
        model->setData(index, field->text(), Qt::EditRole);
    }
}
