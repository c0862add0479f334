#include "widgets/PatternDrawPainter.h"

#include "widgets/InterfaceFonts.h"

#include "editor/ORPInterfaceDefaults.h"
#include "foundation/Logger.h"
#include "widgets/EditorImages.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFile>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <QTextDocument>

#include <cmath>
#include <numbers>

// The resources live in the static GUI library; make sure they are registered before the first read
// (main() does it too; the widget tests do not run main()).
static void registerEditorResources()
{
    static const bool once = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)once;
}

namespace rp::widgets {
namespace {

using Kind = ORPDrawItem::Kind;

struct StyleFont {
    const char* family;
    double size;
};

// Per ORPTextStyle, in its order.
constexpr StyleFont kStyleFonts[] = {
    { "Lucida Sans", 10 },
    { "Lucida Sans", 9 },
    { "Helvetica", 11 },
    { "Helvetica", 11 },
    { "Helvetica", 24 },
};

QFont fontFor(const StyleFont& style)
{
    return interfaceFont(style.family, style.size);
}

QColor fromComponents(const ORPDrawColor& c)
{
    return QColor::fromRgbF(c.red, c.green, c.blue, c.alpha);
}

// A coordinate moved onto a device pixel's centre (odd line widths) or edge (even ones), so that thin
// lines do not smear over two pixels.
double snap(double value, double lineWidth, double ratio)
{
    const double pixels = std::max(1.0, std::round(lineWidth * ratio));
    const double device = value * ratio;
    const double snapped = static_cast<long long>(pixels) % 2 == 1 ? std::floor(device) + 0.5 : std::round(device);
    return snapped / ratio;
}

} // namespace

PatternDrawPainter::PatternDrawPainter(const QPalette& palette)
    : palette_(palette)
{
    for (size_t i = 0; i < fonts_.size(); ++i) {
        fonts_[i] = fontFor(kStyleFonts[i]);
        metrics_.emplace_back(fonts_[i]);
    }
}

double PatternDrawPainter::widthOf(ORPTextStyle style, const std::string& utf8) const
{
    return metrics_[static_cast<size_t>(style)].horizontalAdvance(QString::fromStdString(utf8));
}

QColor PatternDrawPainter::textColor(ORPTextStyle style) const
{
    switch (style) {
    case ORPTextStyle::BeatNumber:
        return QColor::fromRgbF(2.0f / 3.0f, 2.0f / 3.0f, 2.0f / 3.0f);
    case ORPTextStyle::EntryTitle:
        return fromComponents(ORPPatternDrawList::sectionMarkerTextColor());
    case ORPTextStyle::LargeLabel:
        return QColor::fromRgbF(0.5f, 0.5f, 0.5f);
    case ORPTextStyle::BarNumber:
    case ORPTextStyle::TimeSignature:
        break;
    }
    return Qt::black;
}

QColor PatternDrawPainter::resolve(const ORPDrawColor& color) const
{
    QColor result;
    switch (color.role) {
    case ORPDrawColor::Role::Fixed:
        return fromComponents(color);
    case ORPDrawColor::Role::WindowBackground:
        result = palette_.color(QPalette::Active, QPalette::Window);
        break;
    case ORPDrawColor::Role::SelectedControl:
        result = palette_.color(QPalette::Active, QPalette::Highlight);
        break;
    case ORPDrawColor::Role::SecondarySelectedControl: {
        // The inactive highlight where the style has one of its own; else the highlight, paled.
        result = palette_.color(QPalette::Inactive, QPalette::Highlight);
        if (result == palette_.color(QPalette::Active, QPalette::Highlight)) {
            const QColor base = palette_.color(QPalette::Active, QPalette::Window);
            result = QColor::fromRgbF((result.redF() + 2 * base.redF()) / 3, (result.greenF() + 2 * base.greenF()) / 3,
                (result.blueF() + 2 * base.blueF()) / 3);
        }
        break;
    }
    }
    result.setAlphaF(color.alpha);
    return result;
}

std::optional<QString> PatternDrawPainter::emptyStateHtml(ORPPatternDrawSource::EmptyState state)
{
    registerEditorResources();
    const std::string name = ORPPatternDrawList::resourceNameForEmptyState(state);
    QFile file(QStringLiteral(":/editor/%1.html").arg(QString::fromStdString(name)));
    if (name.empty() || !file.open(QIODevice::ReadOnly)) {
        rp::logf("Failed to load %s in ORPPatternEditor", name.c_str());
        return std::nullopt;
    }
    return QString::fromUtf8(file.readAll());
}

void PatternDrawPainter::paintEmptyState(QPainter& painter, const ORPDrawItem& item, const QRectF& rect) const
{
    const std::optional<QString> html = emptyStateHtml(item.emptyState);
    if (!html)
        return;
    QTextDocument document;
    QFont font = fonts_[static_cast<size_t>(ORPTextStyle::TimeSignature)];
    font.setPixelSize(14);
    document.setDefaultFont(font);
    document.setHtml(*html);
    document.setTextWidth(std::max(100.0, std::min(rect.width() - 40, 420.0)));
    QTextOption option = document.defaultTextOption();
    option.setAlignment(Qt::AlignHCenter);
    document.setDefaultTextOption(option);
    const QSizeF size = document.size();
    painter.save();
    painter.translate(rect.x() + (rect.width() - size.width()) / 2, rect.y() + (rect.height() - size.height()) / 2);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette_;
    context.palette.setColor(QPalette::Text, palette_.color(QPalette::Active, QPalette::WindowText));
    document.documentLayout()->draw(&painter, context);
    painter.restore();
}

void PatternDrawPainter::paint(QPainter& painter, const ORPPatternDrawList& list, QPointF origin) const
{
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const double ox = origin.x();
    const double oy = origin.y();
    auto rectOf = [&](const ORPRect& r) { return QRectF(r.x - ox, r.y - oy, r.width, r.height); };

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    for (const ORPDrawItem& item : list.items()) {
        switch (item.kind) {
        case Kind::Fill:
            painter.fillRect(rectOf(item.rect), resolve(item.color));
            break;
        case Kind::Gradient: {
            const QRectF r = rectOf(item.rect);
            // Angles in the flipped view: 0 runs left to right, 90 top down, 180 right to left, 270 up.
            const double radians = item.angle * std::numbers::pi / 180.0;
            const double dx = std::cos(radians);
            const double dy = std::sin(radians);
            const double reach = std::abs(r.width() / 2 * dx) + std::abs(r.height() / 2 * dy);
            const QPointF centre = r.center();
            QLinearGradient gradient(centre - QPointF(dx, dy) * reach, centre + QPointF(dx, dy) * reach);
            gradient.setColorAt(0, resolve(item.color));
            gradient.setColorAt(1, resolve(item.endColor));
            painter.fillRect(r, gradient);
            break;
        }
        case Kind::Line: {
            painter.setPen(QPen(resolve(item.color), item.lineWidth, Qt::SolidLine, Qt::FlatCap));
            double x0 = item.rect.x - ox;
            double y0 = item.rect.y - oy;
            double x1 = x0 + item.rect.width;
            double y1 = y0 + item.rect.height;
            if (item.rect.width == 0)
                x0 = x1 = snap(x0, item.lineWidth, ratio);
            if (item.rect.height == 0)
                y0 = y1 = snap(y0, item.lineWidth, ratio);
            painter.drawLine(QPointF(x0, y0), QPointF(x1, y1));
            break;
        }
        case Kind::Frame: {
            painter.setPen(QPen(resolve(item.color), item.lineWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            painter.setBrush(Qt::NoBrush);
            const QRectF r = rectOf(item.rect);
            const double x0 = snap(r.left(), item.lineWidth, ratio);
            const double y0 = snap(r.top(), item.lineWidth, ratio);
            const double x1 = snap(r.right(), item.lineWidth, ratio);
            const double y1 = snap(r.bottom(), item.lineWidth, ratio);
            painter.drawRect(QRectF(QPointF(x0, y0), QPointF(x1, y1)));
            break;
        }
        case Kind::Text: {
            const QRectF box = rectOf(item.rect);
            painter.setFont(font(item.textStyle));
            painter.setPen(textColor(item.textStyle));
            const QString text = QString::fromStdString(item.text);
            if (item.textStyle == ORPTextStyle::TimeSignature || item.textStyle == ORPTextStyle::LargeLabel) {
                painter.save();
                painter.setClipRect(box, Qt::IntersectClip);
                painter.drawText(box, Qt::AlignCenter, text);
                painter.restore();
            } else {
                painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, text);
            }
            break;
        }
        case Kind::BeatBasisIcon: {
            const QImage icon = EditorImages::beatBasisIcon(item.beatBasis, ratio);
            if (!icon.isNull())
                painter.drawImage(rectOf(item.rect), icon);
            break;
        }
        case Kind::DrumIcon:
            if (item.drum && item.opacity > 0) {
                painter.save();
                painter.setOpacity(item.opacity);
                painter.drawImage(rectOf(item.rect), EditorImages::drumIcon(*item.drum, ratio));
                painter.restore();
            }
            break;
        case Kind::EmptyState:
            paintEmptyState(painter, item, rectOf(item.rect));
            break;
        }
    }
    painter.restore();
}

} // namespace rp::widgets
