#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/SongOverview.h"
#endif

#include <QWidget>

#include <vector>

namespace rp::widgets {

// The bars of the song, read-only: rows of equal-width bar cells with the playlist entry's title on
// its first bar, the meter and tempo where they change, the bar number below and a dot per drum hit
// density. Wraps to the view's width.
class BarOverviewView final : public QWidget {
    Q_OBJECT
public:
    explicit BarOverviewView(QWidget* parent = nullptr);

    void setBars(std::vector<editor::BarSummary> bars);
    // The bars-per-row preference: N > 0 wraps after every N bars, -1 at the view's width, 0 (or
    // anything below -1) never.
    void setPatternsPerRow(int64_t patternsPerRow);
    const std::vector<editor::BarSummary>& bars() const { return bars_; }
    // Where each bar is drawn, in this widget's coordinates.
    QRect barRect(size_t index) const;

    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int barsPerRow(int width) const;

    std::vector<editor::BarSummary> bars_;
    int64_t patternsPerRow_ = -1;
};

} // namespace rp::widgets
