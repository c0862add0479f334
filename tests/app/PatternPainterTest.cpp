// The pattern editor's pixels under the offscreen platform: the painter over a fake drawing source,
// our own images and cursors, and the scrolling canvas with its coordinate mapping.

#include "editor/FakePatternDrawSource.h"
#include "foundation/Logger.h"
#include "widgets/EditorImages.h"
#include "widgets/PatternDrawPainter.h"
#include "widgets/PatternEditorView.h"

#include "QtTestApplication.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace rp::test {
namespace {

QApplication& application()
{
    return rp::test::testApplication();
}

// The source drawn into an image of `width` x `height` points at `ratio`.
QImage render(const FakePatternDrawSource& source, int width, int height, qreal ratio = 1.0)
{
    application();
    QImage image(static_cast<int>(width * ratio), static_cast<int>(height * ratio), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::magenta);
    widgets::PatternDrawPainter painter(QApplication::palette());
    ORPPatternDrawState state;
    state.dirtyRect = { 0, 0, static_cast<double>(width), static_cast<double>(height) };
    state.visibleRect = state.dirtyRect;
    const ORPPatternDrawList list = ORPPatternDrawList::build(source, state, painter);
    QPainter qp(&image);
    painter.paint(qp, list);
    return image;
}

ORPImageData pngOf(const QColor& color)
{
    QImage image(12, 12, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return ORPImageData(bytes.begin(), bytes.end());
}

int darkPixels(const QImage& image, const QRect& area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            dark += qGray(image.pixel(x, y)) < 150;
    return dark;
}

TEST(PatternPainter, HalfVelocityIconIsHalfAsStrongOverTheBarsWhite)
{
    application();
    auto drum = ORPDrum::drum();
    drum->setSourceImage(pngOf(QColor(200, 0, 0)));
    auto pattern = makeBar(); // 8 divisions
    pattern->addEventWithDrum(drum, 1.0f, 0.0f);
    pattern->addEventWithDrum(drum, 0.5f, 0.25f);
    FakePatternDrawSource source;
    source.addBar(pattern);
    source.layout(4);

    for (qreal ratio : { 1.0, 2.0 }) {
        const QImage image = render(source, 300, 200, ratio);
        auto at = [&](double x, double y) { return image.pixelColor(static_cast<int>(x * ratio), static_cast<int>(y * ratio)); };
        const QColor full = at(9, 24 + 9);      // division 0, row 0
        const QColor half = at(2 * 18 + 9, 33); // division 2
        const QColor white = at(4 * 18 + 9, 33); // an empty cell
        EXPECT_NEAR(white.red(), 252, 1);
        EXPECT_NEAR(full.red(), 200, 2);
        EXPECT_NEAR(full.green(), 0, 2);
        for (auto channel : { &QColor::red, &QColor::green, &QColor::blue })
            EXPECT_NEAR((half.*channel)(), ((full.*channel)() + (white.*channel)()) / 2.0, 3.0) << "ratio " << ratio;
    }
}

TEST(PatternPainter, NoTempoTextOverABarWhoseTempoDidNotChange)
{
    FakePatternDrawSource source;
    auto first = source.addBar(makeBar(120));
    auto second = source.addBar(makeBar(120));
    auto third = source.addBar(makeBar(96));
    source.layout(4);
    const QImage image = render(source, 500, 200);
    auto headerText = [&](const ORPPatternInstancePtr& bar) {
        const ORPRect f = bar->frame();
        return darkPixels(image, QRect(static_cast<int>(f.x) + 3, 2, static_cast<int>(f.width) - 8, 19));
    };
    EXPECT_GT(headerText(first), 10) << "the first bar shows meter and tempo";
    EXPECT_EQ(headerText(second), 0);
    EXPECT_GT(headerText(third), 10) << "a tempo change shows";
}

TEST(PatternPainter, EmptyStateTextsLoadAndShowCentred)
{
    application();
    using EmptyState = ORPPatternDrawSource::EmptyState;
    for (EmptyState state : { EmptyState::NoSelection, EmptyState::MultiSelection, EmptyState::SectionEmpty }) {
        LogCapture log;
        const auto html = widgets::PatternDrawPainter::emptyStateHtml(state);
        ASSERT_TRUE(html.has_value());
        EXPECT_FALSE(html->isEmpty());
        EXPECT_TRUE(log.lines().empty());

        FakePatternDrawSource source;
        source.empty = state;
        const QImage image = render(source, 600, 400);
        EXPECT_GT(darkPixels(image, QRect(150, 150, 300, 100)), 20) << "text in the middle";
        EXPECT_EQ(darkPixels(image, QRect(0, 0, 600, 60)), 0) << "nothing at the top";
    }
    LogCapture log;
    EXPECT_FALSE(widgets::PatternDrawPainter::emptyStateHtml(EmptyState::None).has_value());
    EXPECT_TRUE(log.contains("Failed to load  in ORPPatternEditor"));
}

TEST(EditorImages, EveryBeatBasisHasItsOwnNoteAtTheRatio)
{
    application();
    std::set<QByteArray> distinct;
    for (float basis : ORPPattern::allBeatBases()) {
        const QImage note = widgets::EditorImages::beatBasisIcon(basis, 2.0);
        ASSERT_FALSE(note.isNull()) << basis;
        EXPECT_EQ(note.size(), QSize(32, 32));
        EXPECT_EQ(note.deviceIndependentSize(), QSizeF(16, 16));
        distinct.insert(QByteArray(reinterpret_cast<const char*>(note.constBits()), static_cast<int>(note.sizeInBytes())));
    }
    EXPECT_EQ(distinct.size(), ORPPattern::allBeatBases().size());
    EXPECT_TRUE(widgets::EditorImages::beatBasisIcon(3.0f, 1.0).isNull());
}

TEST(EditorImages, DrumIconsFallBackToTheGroupColourAndFollowANewImage)
{
    application();
    auto drum = ORPDrum::drum();
    drum->setGroupName("Toms");
    drum->setSourceImage(ORPImageData { 'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e' });
    const QImage fallback = widgets::EditorImages::drumIcon(*drum, 1.0);
    ASSERT_EQ(fallback.size(), QSize(18, 18));
    const QColor group = widgets::EditorImages::groupColor("Toms");
    EXPECT_EQ(widgets::EditorImages::groupColor("Toms"), group);
    const QColor edge = fallback.pixelColor(4, 9); // inside the disc, clear of the initial
    EXPECT_NEAR(edge.hue(), group.hue(), 4);

    drum->setSourceImage(pngOf(QColor(0, 0, 255)));
    const QImage blue = widgets::EditorImages::drumIcon(*drum, 1.0);
    EXPECT_EQ(blue.pixelColor(9, 9), QColor(0, 0, 255));
    // The cursor is rebuilt from the new icon too, with its hot spot at the centre.
    const QCursor cursor = widgets::EditorImages::drumCursor(*drum, 1.0);
    EXPECT_EQ(cursor.hotSpot(), QPoint(9, 9));
    EXPECT_EQ(cursor.pixmap().toImage().pixelColor(9, 9), QColor(0, 0, 255));
}

TEST(EditorImages, CursorsHaveTheirHotSpotsOnInk)
{
    application();
    const std::pair<std::string, QPoint> cursors[] = {
        { "ibeamcursor", { 2, 10 } },
        { "trianglecursor", { 8, 7 } },
        { "pencil", { 2, 13 } },
        { "pencilgrey", { 2, 13 } },
    };
    for (const auto& [name, hot] : cursors) {
        const QCursor cursor = widgets::EditorImages::cursor(name, 1.0);
        EXPECT_EQ(cursor.hotSpot(), hot) << name;
        const QImage image = widgets::EditorImages::cursorPixmap(name, 1.0).toImage();
        // The pixel the click lands on (or a neighbour) is drawn, not transparent.
        int ink = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                ink = std::max(ink, image.pixelColor(hot.x() + dx, hot.y() + dy).alpha());
        EXPECT_GT(ink, 128) << name;
    }
    EXPECT_EQ(widgets::EditorImages::cursor("no such cursor", 1.0).shape(), Qt::ArrowCursor);
    EXPECT_FALSE(widgets::EditorImages::popupArrow(2.0).isNull());
}

// Records what the canvas hands on.
class RecordingInput : public editor::PatternEditorInput {
public:
    std::vector<std::pair<std::string, ORPMouseInput>> mice;
    std::vector<editor::KeyInput> keys;
    void mouseDown(const ORPMouseInput& m) override { mice.emplace_back("down", m); }
    void mouseDragged(const ORPMouseInput& m) override { mice.emplace_back("drag", m); }
    void mouseMoved(const ORPMouseInput& m) override { mice.emplace_back("move", m); }
    void mouseUp(const ORPMouseInput& m) override { mice.emplace_back("up", m); }
    void mouseDoubleClicked(const ORPMouseInput& m) override { mice.emplace_back("double", m); }
    void contextMenu(const ORPMouseInput& m) override { mice.emplace_back("menu", m); }
    void mouseExited() override { }
    bool keyDown(const editor::KeyInput& k) override
    {
        keys.push_back(k);
        return true;
    }
    void keyUp(const editor::KeyInput&) override { }
    void focusIn() override { }
    void focusOut() override { }
};

TEST(PatternEditorView, ModifierKeysMapToTheEditorsNames)
{
    using M = ORPEditorModifiers;
    const std::pair<Qt::KeyboardModifiers, M> cases[] = {
        { Qt::ControlModifier, M { .command = true } },
        { Qt::AltModifier, M { .option = true } },
        { Qt::MetaModifier, M { .control = true } },
        { Qt::ShiftModifier, M { .shift = true } },
        { Qt::ControlModifier | Qt::ShiftModifier, M { .shift = true, .command = true } },
        { Qt::NoModifier, M {} },
    };
    for (const auto& [qt, flags] : cases)
        EXPECT_EQ(widgets::editorModifiers(qt), flags);
}

TEST(PatternEditorView, ScrollingAHugeCanvasShowsTheFarEndsBar)
{
    application();
    FakePatternDrawSource source;
    // 4/4 bars at 12 divisions a beat: 864 points each; enough of them in one row for 10,000,000.
    const int bars = 10'000'000 / 864 + 1;
    for (int i = 0; i < bars; ++i)
        source.addBar(makeBar(120, 4, 4, 6));
    source.layout(bars);
    ASSERT_GT(source.contentWidth(), 10'000'000.0);

    widgets::PatternEditorView view;
    RecordingInput input;
    view.setSource(&source);
    view.setInput(&input);
    view.resize(900, 400);
    view.show();
    view.setCanvasSize(source.contentWidth(), source.contentHeight());
    const ORPRect last = source.instances.back()->frame();
    view.scrollCanvasRectToVisible(last);
    const ORPRect visible = view.visibleCanvasRect();
    EXPECT_LE(visible.x, last.x);
    EXPECT_DOUBLE_EQ(visible.x + visible.width, std::ceil(last.x + last.width));

    const QImage image = view.viewport()->grab().toImage();
    const int barLeft = static_cast<int>(last.x - visible.x);
    ASSERT_GE(barLeft, 0);
    // The last bar's left outline is dark, the inside of its grid the bar's white.
    EXPECT_LT(qGray(image.pixel(barLeft, 51)), 160);
    EXPECT_NEAR(qGray(image.pixel(barLeft + 9 + 18, 51)), 252, 2);
    // Its bar number is written in its footer.
    const int footer = static_cast<int>(last.height) - 18;
    EXPECT_GT(darkPixels(image, QRect(barLeft + 5, footer, 40, 12)), 5);

    // A click goes to the editor in canvas coordinates with the editor's modifiers.
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::AltModifier, QPoint(barLeft + 30, 50));
    ASSERT_FALSE(input.mice.empty());
    EXPECT_EQ(input.mice.back().first, "down");
    EXPECT_DOUBLE_EQ(input.mice.back().second.point.x, visible.x + barLeft + 30);
    EXPECT_DOUBLE_EQ(input.mice.back().second.point.y, 50);
    EXPECT_EQ(input.mice.back().second.modifiers, ORPEditorModifiers { .option = true });
    QTest::keyClick(&view, Qt::Key_Left, Qt::ControlModifier);
    ASSERT_FALSE(input.keys.empty()); // the Ctrl key itself comes first
    EXPECT_EQ(input.keys.back().key, editor::EditorKey::Left);
    EXPECT_EQ(input.keys.back().modifiers, ORPEditorModifiers { .command = true });
}

TEST(PatternEditorView, PaintsALargeSongQuickly)
{
    application();
    FakePatternDrawSource source;
    std::vector<ORPDrumPtr> drums;
    fillBigSong(source, 10000, drums);
    widgets::PatternEditorView view;
    view.setSource(&source);
    view.setFrameShape(QFrame::NoFrame);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(1600, 1000);
    view.setCanvasSize(source.contentWidth(), source.contentHeight());
    view.show();
    view.scrollCanvasRectToVisible({ 0, source.contentHeight() / 2, 10, 1000 });
    std::vector<double> times;
    view.setPaintObserver([&times](double ms) { times.push_back(ms); });
    for (int i = 0; i < 7; ++i)
        view.viewport()->grab();
    ASSERT_EQ(times.size(), 7u);
    std::sort(times.begin(), times.end());
    const double median = times[3];
    std::printf("[ measured ] 1600x1000 paint of a 10,000-bar song: median %.2f ms (min %.2f)\n", median, times[0]);
    EXPECT_LT(median, 40.0) << "a loose bound: the machine is shared";
}

} // namespace
} // namespace rp::test
