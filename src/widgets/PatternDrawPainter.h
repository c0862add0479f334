#pragma once

#ifndef Q_MOC_RUN
#include "editor/ORPPatternDrawList.h"
#endif

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QPalette>
#include <QPointF>
#include <QString>

#include <array>
#include <optional>
#include <vector>

class QPainter;

namespace rp::widgets {

// Paints the pattern editor's draw list with a QPainter. Everything is in points; the painter's
// device pixel ratio gives the pixels (lines are placed on pixel centres so that they stay crisp).
// The platform's colours come from the palette given.
class PatternDrawPainter : public ORPTextMeasurer {
public:
    explicit PatternDrawPainter(const QPalette& palette);

    // Paints `list` with the canvas point `origin` at the painter's (0, 0). Coordinates are taken
    // relative to the origin before they reach Qt, so a canvas far larger than Qt's own coordinate
    // range paints exactly.
    void paint(QPainter& painter, const ORPPatternDrawList& list, QPointF origin = {}) const;

    double widthOf(ORPTextStyle style, const std::string& utf8) const override;
    const QFont& font(ORPTextStyle style) const { return fonts_[static_cast<size_t>(style)]; }
    QColor textColor(ORPTextStyle style) const;
    QColor resolve(const ORPDrawColor& color) const;

    // The HTML of an empty state's text from the resources (":/editor/<name>.html"); none, and a log
    // line "Failed to load <name> in ORPPatternEditor", when it cannot be read.
    static std::optional<QString> emptyStateHtml(ORPPatternDrawSource::EmptyState state);

private:
    void paintEmptyState(QPainter& painter, const ORPDrawItem& item, const QRectF& rect) const;

    QPalette palette_;
    std::array<QFont, 5> fonts_;
    std::vector<QFontMetricsF> metrics_;
};

} // namespace rp::widgets
