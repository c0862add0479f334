#include "widgets/DrumPickerView.h"

#include "widgets/EditorImages.h"
#include "widgets/InterfaceFonts.h"

#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace rp::widgets {

namespace {

constexpr int kRowHeight = 16;
constexpr int kIconSize = 14;

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

QFont pickerFont(const char* family, int pixelSize, bool bold = false)
{
    return interfaceFont(family, pixelSize, bold);
}

// Paints a picker row from the picker's cell text: icon, instrument, variant, arrow; a separator
// above the first row of each group.
class DrumRowDelegate final : public QStyledItemDelegate {
public:
    DrumRowDelegate(ORPDrumPicker& picker, const DrumPickerView::IconProvider& icons, QObject* parent)
        : QStyledItemDelegate(parent)
        , picker_(picker)
        , icons_(icons)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const auto row = static_cast<size_t>(index.row());
        if (row >= picker_.numberOfRows()) {
            return;
        }
        const auto text = picker_.cellText(row);
        const QPalette& palette = option.palette;
        const QRectF cell = option.rect;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QColor background = (index.row() % 2) ? palette.alternateBase().color() : palette.base().color();
        if (option.state & QStyle::State_Selected) {
            // The highlight softened towards white, so the icon and texts stay readable.
            const QColor knob = palette.highlight().color();
            background = QColor::fromRgbF(knob.redF() * 0.7 + 0.3, knob.greenF() * 0.7 + 0.3, knob.blueF() * 0.7 + 0.3);
        }
        painter->fillRect(cell, background);
        if (picker_.rowIsFirstInGroup(row)) {
            QColor line = palette.mid().color();
            line.setAlphaF(0.95);
            painter->fillRect(QRectF(cell.left(), cell.top(), cell.width(), 1), line);
        }

        double x = cell.left() + 2;
        if (text.drum && icons_) {
            const QPixmap icon = icons_(*text.drum);
            if (!icon.isNull()) {
                painter->drawPixmap(QRectF(x, cell.top() + (cell.height() - kIconSize) / 2, kIconSize, kIconSize), icon,
                    QRectF(icon.rect()));
            }
        }
        x += kIconSize + 4;
        const double arrowSpace = text.showsPopUpArrow ? 14 : 0;
        const QRectF textBox(x, cell.top(), cell.right() - x - arrowSpace, cell.height());
        const bool light = background.lightnessF() > 0.5;
        QFont typeFont = pickerFont("Helvetica", 13, text.chooseText);
        painter->setFont(typeFont);
        painter->setPen(text.chooseText ? QColor(Qt::red) : (light ? QColor(Qt::black) : palette.text().color()));
        const QFontMetricsF typeMetrics(typeFont);
        const QString typeText = typeMetrics.elidedText(qt(text.typeText), Qt::ElideRight, textBox.width());
        painter->drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, typeText);
        const double typeWidth = typeMetrics.horizontalAdvance(typeText);
        if (!text.variantText.empty() && typeWidth < textBox.width()) {
            const QFont variantFont = pickerFont("Helvetica", 11);
            painter->setFont(variantFont);
            painter->setPen(light ? QColor::fromRgbF(0.3, 0.3, 0.3) : palette.placeholderText().color());
            const QRectF variantBox(textBox.left() + typeWidth, cell.top(), textBox.width() - typeWidth, cell.height());
            painter->drawText(variantBox, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetricsF(variantFont).elidedText(qt(text.variantText), Qt::ElideRight, variantBox.width()));
        }
        if (text.showsPopUpArrow) {
            const QPixmap arrow = EditorImages::popupArrow(painter->device()->devicePixelRatioF());
            const QSizeF size = arrow.deviceIndependentSize();
            painter->drawPixmap(QRectF(cell.right() - arrowSpace + (arrowSpace - size.width()) / 2,
                                    cell.top() + (cell.height() - size.height()) / 2, size.width(), size.height()),
                arrow, QRectF(arrow.rect()));
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return { 160, kRowHeight }; }

private:
    ORPDrumPicker& picker_;
    const DrumPickerView::IconProvider& icons_;
};

} // namespace

DrumPickerView::DrumPickerView(ORPDrumPicker& picker, QWidget* parent)
    : QWidget(parent)
    , picker_(picker)
{
    table_ = new QTableWidget(0, 1, this);
    table_->setProperty("probeName", "drumsTable");
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSectionsMovable(false);
    table_->horizontalHeader()->setSectionsClickable(true);
    table_->horizontalHeader()->setHighlightSections(false);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setShowGrid(false);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setItemDelegate(new DrumRowDelegate(picker_, iconProvider_, table_));
    table_->viewport()->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);

    connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this] { picker_.userClickedHeading(); });
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
        const auto rows = table_->selectionModel()->selectedRows();
        if (!updatingSelection_ && !rows.isEmpty()) {
            picker_.userSelectedRow(static_cast<size_t>(rows.front().row()));
        }
    });
    connect(table_, &QTableWidget::cellClicked, this,
        [this](int row, int) { picker_.userClickedRow(static_cast<size_t>(row)); });

    picker_.setViewHooks({ [this] { reloadData(); }, [this](std::optional<size_t> row) { selectRow(row); } });
    reloadData();
    selectRow(picker_.selectedRow());
}

DrumPickerView::~DrumPickerView()
{
    picker_.setViewHooks({});
}

void DrumPickerView::setIconProvider(IconProvider provider)
{
    iconProvider_ = std::move(provider);
    table_->viewport()->update();
}

void DrumPickerView::reloadData()
{
    const QSignalBlocker block(table_);
    updatingSelection_ = true;
    table_->setHorizontalHeaderLabels({ qt(picker_.headingText()) });
    table_->setRowCount(static_cast<int>(picker_.numberOfRows()));
    for (size_t row = 0; row < picker_.numberOfRows(); ++row) {
        const auto text = picker_.cellText(row);
        // The plain text is what the probe and accessibility read; the delegate paints the row.
        auto* item = new QTableWidgetItem(qt(text.typeText + text.variantText));
        table_->setItem(static_cast<int>(row), 0, item);
    }
    updatingSelection_ = false;
    table_->viewport()->update();
}

void DrumPickerView::selectRow(std::optional<size_t> row)
{
    updatingSelection_ = true;
    if (row && *row < picker_.numberOfRows()) {
        const int index = static_cast<int>(*row);
        table_->selectRow(index);
        table_->scrollTo(table_->model()->index(index, 0));
        // The row's text may have changed with its default variant.
        const auto text = picker_.cellText(*row);
        if (auto* item = table_->item(index, 0)) {
            item->setText(qt(text.typeText + text.variantText));
        }
    } else {
        table_->clearSelection();
    }
    updatingSelection_ = false;
    table_->viewport()->update();
}

void DrumPickerView::openVariantsMenu(size_t row)
{
    auto& entry = picker_.entry(row);
    QMenu menu(this);
    const QFont variantFont = pickerFont("Helvetica", 11);
    const auto items = entry.variantsMenu();
    for (size_t i = 0; i < items.size(); ++i) {
        QAction* action = menu.addAction(qt(items[i].title));
        action->setFont(variantFont);
        action->setCheckable(true);
        action->setChecked(items[i].checked);
        if (iconProvider_ && items[i].drum) {
            action->setIcon(QIcon(iconProvider_(*items[i].drum)));
        }
        action->setData(static_cast<qulonglong>(i));
    }
    const QRect rowRect = table_->visualRect(table_->model()->index(static_cast<int>(row), 0));
    const QPoint at = table_->viewport()->mapToGlobal(QPoint(rowRect.center().x(), rowRect.bottom()));
    if (QAction* chosen = menu.exec(at)) {
        entry.chooseNewVariantFromMenuItem(static_cast<size_t>(chosen->data().toULongLong()));
        if (auto* item = table_->item(static_cast<int>(row), 0)) {
            const auto text = picker_.cellText(row);
            item->setText(qt(text.typeText + text.variantText));
        }
        table_->viewport()->update();
    }
}

bool DrumPickerView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == table_->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QModelIndex index = table_->indexAt(mouse->position().toPoint());
        if (index.isValid() && mouse->button() == Qt::LeftButton) {
            const auto row = static_cast<size_t>(index.row());
            const QRect rowRect = table_->visualRect(index);
            if (picker_.clickOpensVariantsMenu(row, mouse->position().x() - rowRect.left(), rowRect.width())) {
                openVariantsMenu(row);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace rp::widgets
