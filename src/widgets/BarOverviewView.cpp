#include "widgets/BarOverviewView.h"

#include "editor/ORPInterfaceDefaults.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPaintEvent>
#include <QApplication>

#include <algorithm>

namespace rp::widgets {

namespace {

constexpr int kMargin = 12;
constexpr int kBarWidth = 150;
constexpr int kBarHeight = 64;
constexpr int kTitleHeight = 18;
constexpr int kFooterHeight = 16;
constexpr int kRowHeight = kTitleHeight + kBarHeight + kFooterHeight + 8;

} // namespace

BarOverviewView::BarOverviewView(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // The grid's lettering: Helvetica where it exists, else the nearest sans face installed.
    const QStringList families = QFontDatabase::families();
    const ORPFontChoice choice = preferredFont("Helvetica", 11.0,
        [&families](const std::string& family) { return families.contains(QString::fromStdString(family)); });
    QFont lettering = choice.isSystemFont ? QApplication::font() : QFont(QString::fromStdString(choice.family));
    // Sizes are points of a 72 dpi screen, that is pixels; one more reads better on Linux's hinting.
    lettering.setPixelSize(static_cast<int>(choice.size + 1.5));
    setFont(lettering);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void BarOverviewView::setBars(std::vector<editor::BarSummary> bars)
{
    bars_ = std::move(bars);
    updateGeometry();
    setMinimumHeight(heightForWidth(width()));
    update();
}

void BarOverviewView::setPatternsPerRow(int64_t patternsPerRow)
{
    patternsPerRow_ = patternsPerRow;
    updateGeometry();
    setMinimumHeight(heightForWidth(width()));
    update();
}

int BarOverviewView::barsPerRow(int width) const
{
    if (patternsPerRow_ > 0) {
        return static_cast<int>(std::min<int64_t>(patternsPerRow_, 100000));
    }
    if (patternsPerRow_ == -1) {
        return std::max(1, (width - 2 * kMargin) / kBarWidth);
    }
    return std::max<int>(1, static_cast<int>(bars_.size()));
}

QRect BarOverviewView::barRect(size_t index) const
{
    const int perRow = barsPerRow(width());
    const int row = static_cast<int>(index) / perRow;
    const int column = static_cast<int>(index) % perRow;
    return QRect(kMargin + column * kBarWidth, kMargin + row * kRowHeight + kTitleHeight, kBarWidth, kBarHeight);
}

QSize BarOverviewView::sizeHint() const
{
    const int columns = patternsPerRow_ == -1 ? 4 : std::min<int>(barsPerRow(0), static_cast<int>(bars_.size()));
    const int width = kMargin * 2 + kBarWidth * std::max(columns, 1);
    return QSize(width, heightForWidth(width));
}

int BarOverviewView::heightForWidth(int width) const
{
    const int perRow = barsPerRow(width);
    const int rows = std::max<int>(1, (static_cast<int>(bars_.size()) + perRow - 1) / perRow);
    return kMargin * 2 + rows * kRowHeight;
}

void BarOverviewView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setMinimumHeight(heightForWidth(width()));
    if (patternsPerRow_ != -1) {
        setMinimumWidth(sizeHint().width()); // fixed rows scroll sideways instead of squeezing
    } else {
        setMinimumWidth(0);
    }
}

void BarOverviewView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    if (bars_.empty()) {
        painter.setPen(colors.color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter, tr("This song has no bars in its playlist."));
        return;
    }
    QFont small = font();
    small.setPixelSize(std::max(9, font().pixelSize() - 1));
    const QColor grid = colors.color(QPalette::Mid);
    const QColor accent = colors.color(QPalette::Highlight);
    for (size_t i = 0; i < bars_.size(); ++i) {
        const QRect cell = barRect(i);
        const QRect outer = cell.adjusted(0, -kTitleHeight, 0, kFooterHeight);
        if (!event->rect().intersects(outer)) {
            continue;
        }
        const auto& bar = bars_[i];
        const QRect box = cell.adjusted(1, 0, -1, 0);
        painter.setPen(QPen(grid, 1));
        painter.setBrush(colors.color(QPalette::AlternateBase));
        painter.drawRoundedRect(box, 3, 3);

        painter.setFont(font());
        painter.setPen(colors.color(QPalette::Text));
        if (!bar.entryTitle.empty()) {
            QFont bold = font();
            bold.setBold(true);
            painter.setFont(bold);
            painter.drawText(QRect(cell.left() + 2, cell.top() - kTitleHeight, cell.width() - 4, kTitleHeight),
                Qt::AlignLeft | Qt::AlignVCenter,
                painter.fontMetrics().elidedText(QString::fromStdString(bar.entryTitle), Qt::ElideRight, cell.width() - 4));
        }
        painter.setFont(small);
        QStringList marks;
        if (bar.meterChanges) {
            marks << QString::fromStdString(bar.meter);
        }
        if (bar.tempoChanges) {
            marks << QStringLiteral("\u2669 = %1").arg(QString::fromStdString(bar.tempo));
        }
        painter.drawText(box.adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, marks.join(QStringLiteral("   ")));

        // Hit density: a bar filled in proportion to the number of hits (up to 32).
        const double fill = std::min<double>(static_cast<double>(bar.events), 32.0) / 32.0;
        const QRect meter(box.left() + 6, box.bottom() - 12, static_cast<int>((box.width() - 12) * fill), 6);
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawRoundedRect(meter, 2, 2);

        painter.setPen(colors.color(QPalette::PlaceholderText));
        painter.drawText(QRect(cell.left(), cell.bottom() + 1, cell.width(), kFooterHeight), Qt::AlignCenter,
            QString::number(bar.barNumber));
    }
}

} // namespace rp::widgets
