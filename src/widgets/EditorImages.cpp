#include "widgets/EditorImages.h"

#include "model/ORPPattern.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>

namespace rp::widgets {
namespace {

// A transparent image of `points` x `points` at the ratio, painted in points.
QImage canvas(int points, qreal ratio)
{
    const int pixels = std::max(1, static_cast<int>(std::ceil(points * ratio)));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(ratio);
    return image;
}

struct DrumIconCache {
    qreal ratio = 0;
    QImage icon;
};

struct DrumCursorCache {
    qreal ratio = 0;
    qint64 iconKey = 0;
    QCursor cursor;
};

QImage fallbackIcon(const ORPDrum& drum, qreal ratio)
{
    QImage image = canvas(EditorImages::kIconSize, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fillColor = EditorImages::groupColor(drum.groupName());
    painter.setPen(QPen(fillColor.darker(150), 1.0));
    painter.setBrush(fillColor);
    painter.drawEllipse(QRectF(1.5, 1.5, 15, 15));
    const QString type = QString::fromStdString(drum.typeName()).trimmed();
    if (!type.isEmpty()) {
        QFont font = painter.font();
        font.setPixelSize(10);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(0, 0, 18, 18), Qt::AlignCenter, type.left(1).toUpper());
    }
    return image;
}

QImage iconFromSource(const ORPImageData& bytes, qreal ratio)
{
    if (bytes.empty())
        return {};
    const QImage source = QImage::fromData(bytes.data(), static_cast<int>(std::min<size_t>(bytes.size(), INT32_MAX)));
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        return {};
    QImage image = canvas(EditorImages::kIconSize, ratio);
    const double side = image.width();
    const double scale = std::min(side / source.width(), side / source.height());
    const double w = source.width() * scale;
    const double h = source.height() * scale;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Device pixels: undo the ratio the painter applies for us.
    painter.scale(1 / ratio, 1 / ratio);
    painter.drawImage(QRectF((side - w) / 2, (side - h) / 2, w, h), source);
    return image;
}

void strokeAndFill(QPainter& painter, const QPainterPath& path, const QColor& fill, const QColor& outline)
{
    painter.setPen(QPen(outline, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPath(path);
}

QPixmap drawCursor(const std::string& name, qreal ratio)
{
    QImage image = canvas(EditorImages::kCursorSize, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (name == "ibeamcursor") {
        // A text I-beam whose stem runs through (2, 10).
        QPainterPath beam;
        beam.moveTo(0.5, 3.5);
        beam.lineTo(4.5, 3.5);
        beam.moveTo(2.5, 3.5);
        beam.lineTo(2.5, 16);
        beam.moveTo(0.5, 15.5);
        beam.lineTo(4.5, 15.5);
        painter.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap));
        painter.drawPath(beam);
        painter.setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::SquareCap));
        painter.drawPath(beam);
    } else if (name == "trianglecursor") {
        // A downward triangle pointing at (8, 7): selects division columns from above.
        QPainterPath triangle;
        triangle.moveTo(2.5, 1);
        triangle.lineTo(13.5, 1);
        triangle.lineTo(8, 7.5);
        triangle.closeSubpath();
        strokeAndFill(painter, triangle, Qt::black, Qt::white);
    } else if (name == "pencil" || name == "pencilgrey") {
        // A pencil from its tip at (2, 13) up to the right.
        const QColor body = name == "pencil" ? QColor(40, 40, 40) : QColor(150, 150, 150);
        QPainterPath pencil;
        pencil.moveTo(1.5, 13.5);
        pencil.lineTo(3, 9);
        pencil.lineTo(11, 1);
        pencil.lineTo(14, 4);
        pencil.lineTo(6, 12);
        pencil.closeSubpath();
        strokeAndFill(painter, pencil, body, Qt::white);
        painter.setPen(QPen(Qt::white, 0.8));
        painter.drawLine(QPointF(3, 9), QPointF(6, 12));
    } else {
        return {};
    }
    painter.end();
    return QPixmap::fromImage(image);
}

// The note of an image name "note-<value>[dot]": head, stem and flags as the value asks.
QImage drawNote(const std::string& name, qreal ratio)
{
    if (name.rfind("note-", 0) != 0)
        return {};
    std::string value = name.substr(5);
    const bool dotted = value.size() > 3 && value.compare(value.size() - 3, 3, "dot") == 0;
    if (dotted)
        value.resize(value.size() - 3);
    int denominator = 0;
    if (value == "1")
        denominator = 1;
    else if (value == "2")
        denominator = 2;
    else if (value == "4")
        denominator = 4;
    else if (value == "8")
        denominator = 8;
    else if (value == "16")
        denominator = 16;
    else
        return {};

    QImage image = canvas(EditorImages::kNoteSize, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(30, 30, 30);
    const bool hollow = denominator <= 2;
    const QPointF head = denominator == 1 ? QPointF(6.5, 10) : QPointF(5.5, 12.5);

    painter.save();
    painter.translate(head);
    painter.rotate(-20);
    if (hollow) {
        painter.setPen(QPen(ink, 1.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QPointF(0, 0), denominator == 1 ? 3.8 : 3.2, 2.3);
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(0, 0), 3.3, 2.4);
    }
    painter.restore();

    if (denominator >= 2) {
        const double stemX = head.x() + 2.7;
        painter.setPen(QPen(ink, 1.0, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(QPointF(stemX, head.y() - 0.5), QPointF(stemX, 1.5));
        const int flags = denominator == 8 ? 1 : denominator == 16 ? 2 : 0;
        for (int f = 0; f < flags; ++f) {
            const double top = 1.5 + 3.5 * f;
            QPainterPath flag;
            flag.moveTo(stemX, top);
            flag.cubicTo(stemX + 0.5, top + 2.5, stemX + 4.5, top + 3.0, stemX + 3.5, top + 6.5);
            painter.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(flag);
        }
    }
    if (dotted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(head.x() + 6.3, head.y() + 0.5), 1.1, 1.1);
    }
    return image;
}

} // namespace

QColor EditorImages::groupColor(const std::string& groupName)
{
    // FNV-1a: stable across runs and platforms, unlike qHash's seeded hash.
    uint32_t hash = 2166136261u;
    for (unsigned char c : groupName) {
        hash ^= c;
        hash *= 16777619u;
    }
    return QColor::fromHsl(static_cast<int>(hash % 360), 110, 120);
}

QImage EditorImages::drumIcon(const ORPDrum& drum, qreal devicePixelRatio)
{
    if (auto cached = std::static_pointer_cast<DrumIconCache>(drum.iconCache());
        cached && cached->ratio == devicePixelRatio)
        return cached->icon;
    auto cache = std::make_shared<DrumIconCache>();
    cache->ratio = devicePixelRatio;
    if (const auto bytes = drum.sourceImage())
        cache->icon = iconFromSource(*bytes, devicePixelRatio);
    if (cache->icon.isNull())
        cache->icon = fallbackIcon(drum, devicePixelRatio);
    drum.setIconCache(cache);
    return cache->icon;
}

QCursor EditorImages::drumCursor(const ORPDrum& drum, qreal devicePixelRatio)
{
    const QImage icon = drumIcon(drum, devicePixelRatio);
    if (auto cached = std::static_pointer_cast<DrumCursorCache>(drum.cursorCache());
        cached && cached->ratio == devicePixelRatio && cached->iconKey == icon.cacheKey())
        return cached->cursor;
    auto cache = std::make_shared<DrumCursorCache>();
    cache->ratio = devicePixelRatio;
    cache->iconKey = icon.cacheKey();
    cache->cursor = QCursor(QPixmap::fromImage(icon), kIconSize / 2, kIconSize / 2);
    drum.setCursorCache(cache);
    return cache->cursor;
}

QPoint EditorImages::cursorHotSpot(const std::string& name)
{
    if (name == "ibeamcursor")
        return { 2, 10 };
    if (name == "trianglecursor")
        return { 8, 7 };
    if (name == "pencil" || name == "pencilgrey")
        return { 2, 13 };
    return {};
}

QPixmap EditorImages::cursorPixmap(const std::string& name, qreal devicePixelRatio)
{
    static std::map<std::pair<std::string, qreal>, QPixmap> cache;
    auto key = std::make_pair(name, devicePixelRatio);
    auto found = cache.find(key);
    if (found == cache.end())
        found = cache.emplace(key, drawCursor(name, devicePixelRatio)).first;
    return found->second;
}

QCursor EditorImages::cursor(const std::string& name, qreal devicePixelRatio)
{
    const QPixmap pixmap = cursorPixmap(name, devicePixelRatio);
    if (pixmap.isNull())
        return QCursor(Qt::ArrowCursor);
    const QPoint hot = cursorHotSpot(name);
    return QCursor(pixmap, hot.x(), hot.y());
}

QImage EditorImages::noteImage(const std::string& name, qreal devicePixelRatio)
{
    static std::map<std::pair<std::string, qreal>, QImage> cache;
    auto key = std::make_pair(name, devicePixelRatio);
    auto found = cache.find(key);
    if (found == cache.end())
        found = cache.emplace(key, drawNote(name, devicePixelRatio)).first;
    return found->second;
}

QImage EditorImages::beatBasisIcon(float beatBasis, qreal devicePixelRatio)
{
    const auto name = ORPPattern::iconNameForBeatBasis(beatBasis);
    return name ? noteImage(*name, devicePixelRatio) : QImage();
}

QPixmap EditorImages::popupArrow(qreal devicePixelRatio)
{
    QImage image(static_cast<int>(std::ceil(7 * devicePixelRatio)), static_cast<int>(std::ceil(11 * devicePixelRatio)),
        QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(devicePixelRatio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(70, 70, 70));
    painter.drawPolygon(QPolygonF({ QPointF(0.5, 4.5), QPointF(6.5, 4.5), QPointF(3.5, 1) }));
    painter.drawPolygon(QPolygonF({ QPointF(0.5, 6.5), QPointF(6.5, 6.5), QPointF(3.5, 10) }));
    painter.end();
    return QPixmap::fromImage(image);
}

} // namespace rp::widgets
