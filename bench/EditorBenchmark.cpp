// rattlepan-bench editor: the pattern editor laying out a 10,000-bar song and hit-testing points in
// it, each against a plain baseline of similar shape measured in the same run.

#include "BenchmarkRegistry.h"
#include "editor/ORPInterfaceDefaults.h"
#include "editor/ORPPatternEditor.h"
#include "foundation/NotificationQueue.h"
#include "foundation/UserDefaults.h"
#include "model/ORPSectionMarker.h"

#ifdef RP_BENCH_WITH_GUI
#include "widgets/PatternEditorView.h"

#include <QApplication>
#include <QImage>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kBars = 10000;
constexpr int kHitsPerBar = 16;
constexpr int kPoints = 100000;


ORPDrumKitPtr benchKit()
{
    auto kit = ORPDrumKit::kit();
    const char* groups[] = { "Kicks", "Snares", "Hats", "Toms", "Cymbals", "Percussion" };
    for (const char* group : groups) {
        for (int variant = 0; variant < 2; ++variant) {
            auto drum = ORPDrum::drum();
            drum->setGroupName(group);
            drum->setTypeName(std::string(group) + " drum");
            drum->setVariantName(variant ? "Soft" : "Hard");
            kit->addDrum(drum);
        }
    }
    return kit;
}

#ifdef RP_BENCH_WITH_GUI
struct PaintTimes {
    double paint = 0;    // median of the view's paints
    double baseline = 0; // median of filling an image of the view's size
};

// Paints a 1600x1000 view of the editor (scrolled to the song's middle) offscreen.
PaintTimes measurePaint(const ORPPatternEditor& editor)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "rattlepan-bench";
    char* argv[] = { name, nullptr };
    QApplication application(argc, argv);

    rp::widgets::PatternEditorView view;
    view.setSource(&editor);
    view.setFrameShape(QFrame::NoFrame);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(1600, 1000);
    view.setCanvasSize(editor.contentWidth(), editor.contentHeight());
    view.show();
    view.scrollCanvasRectToVisible({ 0, editor.contentHeight() / 2, 10, 1000 });
    std::vector<double> paints;
    view.setPaintObserver([&paints](double ms) { paints.push_back(ms); });
    view.viewport()->grab(); // the first paint loads fonts and images
    paints.clear();
    for (int i = 0; i < 9; ++i)
        view.viewport()->grab();

    std::vector<double> fills;
    QImage image(1600, 1000, QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < 9; ++i) {
        const auto start = Clock::now();
        image.fill(QColor::fromRgbF(0.99, 0.99, 0.99));
        rp::bench::keep(image.constBits());
        fills.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    };
    return { median(paints), median(fills) };
}
#endif

int runEditor(const std::vector<std::string>&)
{
    const auto folder = std::filesystem::temp_directory_path() / ("rattlepan-bench-editor-" + std::to_string(getpid()));
    rp::UserDefaults defaults(folder / "defaults.plist");
    ORPInterfaceDefaults::registerDefaults(defaults);
    defaults.setInteger(4, ORPInterfaceDefaults::kPatternsPerRowKey);

    const auto kit = benchKit();
    std::vector<ORPPatternPtr> patterns;
    for (size_t i = 0; i < kBars; ++i) {
        auto pattern = ORPPattern::pattern();
        pattern->setZoomLevel(3); // 4/4 at 4 divisions a beat: 16 columns
        for (int hit = 0; hit < kHitsPerBar; ++hit)
            pattern->addEventWithDrum(kit->drums()[static_cast<size_t>(hit) % kit->drums().size()], 0.8f,
                static_cast<float>(hit) / kHitsPerBar);
        patterns.push_back(std::move(pattern));
    }
    auto section = ORPSection::section();
    section->insertPatterns(patterns, 0);
    auto entry = ORPSectionMarker::sectionMarker();
    entry->setSection(section);

    ORPDetachedPatternEditorView view;
    auto editor = std::make_shared<ORPPatternEditor>(view, defaults);
    editor->setEditedObjects({ entry }, kit);

    // Layout: every frame is cleared first, so every one is computed and set again.
    double layout = 1e30;
    for (int round = 0; round < 6; ++round) {
        for (const auto& instance : editor->instances())
            instance->setFrame({});
        const auto start = Clock::now();
        editor->adjustLayout();
        layout = std::min(layout, std::chrono::duration<double>(Clock::now() - start).count());
    }
    // Rebuilding the bars from the playlist entry and laying them out, as opening the song does.
    double rebuild = 1e30;
    for (int round = 0; round < 4; ++round) {
        editor->setEditedObjects({}, kit);
        const auto start = Clock::now();
        editor->setEditedObjects({ entry }, kit);
        rebuild = std::min(rebuild, std::chrono::duration<double>(Clock::now() - start).count());
    }
    // Baseline: the same number of rectangles written in sequence.
    double layoutBase = 1e30;
    std::vector<ORPRect> rects(kBars);
    for (int round = 0; round < 6; ++round) {
        const auto start = Clock::now();
        for (size_t i = 0; i < kBars; ++i)
            rects[i] = { static_cast<double>(i % 4) * 288, static_cast<double>(i / 4) * 152, 288, 152 };
        rp::bench::keep(rects.data());
        layoutBase = std::min(layoutBase, std::chrono::duration<double>(Clock::now() - start).count());
    }

    // Selecting and deselecting every bar (the selection list stays sorted as it grows).
    const auto selectStart = Clock::now();
    editor->selectAll();
    editor->deselectAll();
    const double selectAll = std::chrono::duration<double>(Clock::now() - selectStart).count();

    // Hit-testing random points over the whole canvas (the view shows all of it here, so that every
    // point is tested against the bars and none stops at the visible-area check).
    std::mt19937 random(7);
    std::uniform_real_distribution<double> xs(0, editor->contentWidth());
    std::uniform_real_distribution<double> ys(0, editor->contentHeight());
    std::vector<ORPPoint> points(kPoints);
    for (auto& point : points)
        point = { xs(random), ys(random) };
    ORPDetachedPatternEditorView whole({ 0, 0, editor->contentWidth(), editor->contentHeight() });
    auto hitEditor = std::make_shared<ORPPatternEditor>(whole, defaults);
    hitEditor->setEditedObjects({ entry }, kit);
    double hit = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        for (const auto& point : points) {
            hitEditor->hitTest(point);
            rp::bench::keep(hitEditor->hoverInstance());
        }
        hit = std::min(hit, std::chrono::duration<double>(Clock::now() - start).count() / kPoints);
    }
    // Baseline: one binary search per point over the bars' row tops.
    std::vector<double> tops(kBars / 4);
    for (size_t i = 0; i < tops.size(); ++i)
        tops[i] = static_cast<double>(i) * 152;
    double hitBase = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        for (const auto& point : points) {
            auto found = std::upper_bound(tops.begin(), tops.end(), point.y);
            rp::bench::keep(&*(found - 1));
        }
        hitBase = std::min(hitBase, std::chrono::duration<double>(Clock::now() - start).count() / kPoints);
    }

#ifdef RP_BENCH_WITH_GUI
    const PaintTimes paint = measurePaint(*editor);
#endif
    editor.reset();
    hitEditor.reset();
    rp::NotificationQueue::defaultQueue().flush();
    std::filesystem::remove_all(folder);

    std::printf("editor.layout_ms: %.3f ms\n", layout * 1e3);
    std::printf("baseline.rect_fill_ms: %.3f ms\n", layoutBase * 1e3);
    std::printf("editor.layout_ratio: %.1f\n", layout / layoutBase);
    std::printf("editor.rebuild_and_layout_ms: %.3f ms\n", rebuild * 1e3);
    std::printf("editor.select_and_deselect_all_ms: %.3f ms\n", selectAll * 1e3);
#ifdef RP_BENCH_WITH_GUI
    std::printf("editor.paint_ms: %.3f ms\n", paint.paint);
    std::printf("baseline.image_fill_ms: %.3f ms\n", paint.baseline);
    std::printf("editor.paint_ratio: %.1f\n", paint.paint / paint.baseline);
#else
    std::printf("editor.paint_ms: not measured (built without the interface)\n");
#endif
    std::printf("editor.hit_test_ns: %.1f ns\n", hit * 1e9);
    std::printf("baseline.binary_search_ns: %.1f ns\n", hitBase * 1e9);
    std::printf("editor.hit_test_ratio: %.1f\n", hit / hitBase);
    return 0;
}

const rp::bench::BenchmarkRegistration registration(
    "editor", "lays out a 10,000-bar song and hit-tests points in it, against plain baselines", runEditor);

} // namespace
