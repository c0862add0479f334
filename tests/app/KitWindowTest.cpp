// The kit window under the offscreen platform: the browser's columns follow the document through
// adds, undo and renaming in place (refused names keep the editor open), the drum fields follow the
// preset menu and the sliders, drags inside one window move rows while drags from another window
// copy them, and the waveform well paints its columns inside its frame.

#include "app/KitWindow.h"
#include "app/QtTestApplication.h"
#include "widgets/OASoundView.h"
#include "widgets/OXImageView.h"
#include "foundation/UndoManager.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using rp::app::KitWindow;
using rp::editor::ORPDrumKitDocument;
using rp::widgets::OXBrowserColumn;
using rp::widgets::OXBrowserView;

namespace {

struct KitWindowFixture : ::testing::Test {
    void SetUp() override
    {
        rp::test::testApplication();
        window = new KitWindow(std::make_unique<ORPDrumKitDocument>());
        window->show();
        browser = window->findChild<OXBrowserView*>();
        ASSERT_NE(browser, nullptr);
    }
    void TearDown() override { delete window; }

    std::vector<std::string> texts(size_t column) const
    {
        std::vector<std::string> result;
        auto* list = browser->columnView(column);
        for (int r = 0; r < list->count(); ++r)
            result.push_back(list->item(r)->text().toStdString());
        return result;
    }
    std::vector<int> selected(size_t column) const
    {
        std::vector<int> rows;
        auto* list = browser->columnView(column);
        for (int r = 0; r < list->count(); ++r)
            if (list->item(r)->isSelected())
                rows.push_back(r);
        return rows;
    }
    template <class W> W* named(const char* name) const
    {
        for (W* widget : window->findChildren<W*>())
            if (widget->property("probeName").toString() == QLatin1String(name))
                return widget;
        return nullptr;
    }
    // The editor in use (an ended one lingers hidden until the event loop deletes it).
    QLineEdit* renameField() const
    {
        for (QLineEdit* field : browser->findChildren<QLineEdit*>())
            if (field->isVisible())
                return field;
        return nullptr;
    }

    KitWindow* window = nullptr;
    OXBrowserView* browser = nullptr;
};

TEST_F(KitWindowFixture, ColumnsFollowAddsUndoAndTheDeleteRules)
{
    EXPECT_EQ(texts(0).size(), 1u);
    EXPECT_EQ(texts(1).size(), 1u);
    EXPECT_EQ(texts(2).size(), 1u);
    // The last group, instrument and variant cannot be deleted.
    for (const char* name : { "deleteGroupButton", "deleteInstrumentButton", "deleteVariantButton" })
        EXPECT_FALSE(named<QPushButton>(name)->isEnabled()) << name;

    QTest::mouseClick(named<QPushButton>("addGroupButton"), Qt::LeftButton);
    EXPECT_EQ(texts(0).size(), 2u);
    EXPECT_EQ(selected(0), std::vector<int> { 1 });
    EXPECT_EQ(texts(1).size(), 1u) << "the new group's instrument is shown";
    EXPECT_TRUE(named<QPushButton>("deleteGroupButton")->isEnabled());

    window->undo();
    EXPECT_EQ(texts(0).size(), 1u);
    EXPECT_FALSE(named<QPushButton>("deleteGroupButton")->isEnabled());
    window->redo();
    EXPECT_EQ(texts(0).size(), 2u);

    // A click in a column selects through the model: the columns to its right follow.
    QTest::mouseClick(browser->columnView(0)->viewport(), Qt::LeftButton, {},
        browser->columnView(0)->visualItemRect(browser->columnView(0)->item(0)).center());
    EXPECT_EQ(selected(0), std::vector<int> { 0 });
    EXPECT_EQ(window->document().browser().selectedRows(0), std::vector<size_t> { 0 });
}

TEST_F(KitWindowFixture, RenamingInPlaceKeepsTheEditorOpenForASiblingsName)
{
    ASSERT_TRUE(browser->beginRenaming(0));
    ASSERT_NE(renameField(), nullptr);
    renameField()->setText("Percussion");
    QTest::keyClick(renameField(), Qt::Key_Return);
    EXPECT_FALSE(browser->isRenaming());
    EXPECT_EQ(texts(0), std::vector<std::string> { "Percussion" });

    window->document().addGroup();
    ASSERT_EQ(selected(0), std::vector<int> { 1 });
    ASSERT_TRUE(browser->beginRenaming(0));
    renameField()->setText("Percussion");
    QTest::keyClick(renameField(), Qt::Key_Return);
    EXPECT_TRUE(browser->isRenaming()) << "a clash with a sibling keeps editing";
    QTest::keyClick(renameField(), Qt::Key_Escape);
    EXPECT_FALSE(browser->isRenaming());
    EXPECT_NE(texts(0)[1], "Percussion");

    // Renaming the new group's instrument to a group's name is no clash: only siblings count.
    window->document().browser().userSelectRows(1, { 0 });
    ASSERT_TRUE(browser->beginRenaming(1));
    renameField()->setText("Percussion");
    QTest::keyClick(renameField(), Qt::Key_Return);
    EXPECT_FALSE(browser->isRenaming());
    EXPECT_EQ(texts(1), std::vector<std::string> { "Percussion" });
}

TEST_F(KitWindowFixture, DrumFieldsFollowThePresetMenuAndTheSliders)
{
    auto* preset = named<QPushButton>("midiPresetPopUp");
    ASSERT_NE(preset, nullptr);
    QAction* snare = nullptr;
    for (QAction* action : preset->menu()->actions())
        if (action->property("tag").toInt() == 38)
            snare = action;
    ASSERT_NE(snare, nullptr);
    snare->trigger();
    EXPECT_EQ(named<QSpinBox>("midiChannelField")->text(), "10");
    EXPECT_EQ(named<QSpinBox>("midiNoteField")->value(), 38);
    EXPECT_EQ(named<QSpinBox>("midiVelocityField")->value(), 127);
    EXPECT_EQ(window->document().currentDrum()->midiChannel(), 9);

    // Typing a channel stores it less one.
    named<QSpinBox>("midiChannelField")->setValue(3);
    EXPECT_EQ(window->document().currentDrum()->midiChannel(), 2);
    EXPECT_EQ(named<QSpinBox>("midiChannelField")->text(), "3");
}

// A mono 16-bit WAV file of `frames` samples at full scale, alternating sign.
std::filesystem::path writeWav(const std::filesystem::path& path, uint32_t frames)
{
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + frames * 2);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(44100);
    u32(88200);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(frames * 2);
    for (uint32_t i = 0; i < frames; ++i)
        u16(static_cast<uint16_t>(static_cast<int16_t>(i % 2 ? 30000 : -30000)));
    return path;
}

TEST_F(KitWindowFixture, ASoundTakenByTheWellReachesTheDrumAndIsPaintedInsideTheFrame)
{
    const auto folder = std::filesystem::temp_directory_path() / ("rp-kitwindow-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto file = writeWav(folder / "Loud.wav", 8000);
    auto* well = window->findChild<rp::widgets::OASoundView*>();
    ASSERT_NE(well, nullptr);
    well->resize(216, 96);
    ASSERT_TRUE(well->model().takeSoundFromFile(file));
    ASSERT_NE(window->document().currentDrum()->storedSound(), nullptr);
    EXPECT_EQ(window->document().currentDrum()->storedSound()->name(), well->model().sound()->name());
    EXPECT_TRUE(named<QPushButton>("playSoundButton")->isEnabled());

    // Full-scale samples fill each column from top to bottom of the picture, and nothing of the
    // fill colour lands in the 8-pixel margin.
    const QImage image = well->grab().toImage();
    auto isFill = [](QColor c) { return c.blue() > 150 && c.red() < 140 && c.green() < 140; };
    EXPECT_TRUE(isFill(image.pixelColor(100, 20)));
    EXPECT_TRUE(isFill(image.pixelColor(100, 76)));
    for (int x = 0; x < image.width(); ++x) {
        EXPECT_FALSE(isFill(image.pixelColor(x, 3))) << x;
    }
    std::filesystem::remove_all(folder);
}

TEST_F(KitWindowFixture, ImageWellsStoreBoundedPNGsAsOneUndoStepEach)
{
    const auto folder = std::filesystem::temp_directory_path() / ("rp-kitwells-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    QImage big(2000, 1000, QImage::Format_RGB32);
    big.fill(Qt::red);
    const QString bigFile = QString::fromStdString((folder / "big.jpg").string());
    ASSERT_TRUE(big.save(bigFile, "JPG"));
    std::ofstream(folder / "fake.png") << "not an image";

    auto* icon = named<rp::widgets::OXImageView>("drumIcon");
    auto* picture = named<rp::widgets::OXImageView>("kitImageWell");
    ASSERT_NE(icon, nullptr);
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(icon->takeImageFromFile(QString::fromStdString((folder / "fake.png").string())));
    EXPECT_EQ(window->document().undoManager().undoStepCount(), 0u);

    // The icon is scaled to its bound and kept as PNG on the drum.
    ASSERT_TRUE(icon->takeImageFromFile(bigFile));
    const auto stored = window->document().currentDrum()->storedSourceImage();
    ASSERT_TRUE(stored);
    const QImage decoded = QImage::fromData(stored->data(), static_cast<int>(stored->size()), "PNG");
    EXPECT_EQ(decoded.size(), QSize(256, 128));
    EXPECT_EQ(window->document().undoManager().undoActionName(), "Drum Icon");

    ASSERT_TRUE(picture->takeImageFromFile(bigFile));
    const auto kitImage = window->document().kit()->kitImage();
    ASSERT_TRUE(kitImage);
    EXPECT_EQ(QImage::fromData(kitImage->data(), static_cast<int>(kitImage->size())).size(), QSize(1024, 512));

    // Undo takes the picture back out of the well as well as the kit.
    window->undo();
    EXPECT_FALSE(window->document().kit()->kitImage());
    EXPECT_FALSE(picture->imageData());
    std::filesystem::remove_all(folder);
}

TEST_F(KitWindowFixture, TheListenButtonFollowsTheDocument)
{
    auto* listen = named<QPushButton>("midiListenButton");
    ASSERT_NE(listen, nullptr);
    listen->click();
    EXPECT_TRUE(window->document().isListening());
    EXPECT_TRUE(window->document().handleMIDIPacket({ 0x92, 45, 77 }));
    // One accepted note turns the switch off.
    EXPECT_FALSE(listen->isChecked());
    EXPECT_FALSE(window->document().isListening());
    EXPECT_EQ(named<QSpinBox>("midiChannelField")->value(), 3);
    EXPECT_EQ(named<QSpinBox>("midiNoteField")->value(), 45);
}

TEST(KitWindowDrag, RowsDraggedInOneWindowMoveAndFromAnotherAreCopied)
{
    rp::test::testApplication();
    KitWindow first(std::make_unique<ORPDrumKitDocument>());
    KitWindow second(std::make_unique<ORPDrumKitDocument>());
    auto* firstBrowser = first.findChild<OXBrowserView*>();
    auto* secondBrowser = second.findChild<OXBrowserView*>();
    first.document().addVariant();
    first.document().addVariant();
    auto& instrument = first.document().kit()->drumsHierarchy().front()->instruments.front()->variants;
    ASSERT_EQ(instrument.size(), 3u);
    const auto moved = instrument[0];
    first.document().browser().userSelectRows(2, { 0 });

    rp::editor::ORPMemoryPasteboard pasteboard;
    ASSERT_TRUE(first.browserWriteRows(2, { 0 }, pasteboard));
    using Drop = rp::widgets::OXBrowserSource::Drop;
    EXPECT_EQ(first.browserValidateDrop(pasteboard, firstBrowser, 2, 1, false), Drop::None);
    EXPECT_EQ(first.browserValidateDrop(pasteboard, firstBrowser, 2, 3, false), Drop::Move);
    EXPECT_EQ(first.browserValidateDrop(pasteboard, firstBrowser, 2, 3, true), Drop::Copy);
    ASSERT_TRUE(first.browserAcceptDrop(pasteboard, firstBrowser, 2, 3, false));
    EXPECT_EQ(instrument.size(), 3u);
    EXPECT_EQ(instrument[2], moved);

    // The same rows offered to another window are copied there, the source kit left alone.
    const size_t before = second.document().kit()->drumsHierarchy().front()->instruments.front()->variants.size();
    EXPECT_EQ(second.browserValidateDrop(pasteboard, firstBrowser, 2, 0, false), Drop::Copy);
    ASSERT_TRUE(second.browserAcceptDrop(pasteboard, firstBrowser, 2, 0, false));
    EXPECT_EQ(second.document().kit()->drumsHierarchy().front()->instruments.front()->variants.size(), before + 1);
    EXPECT_EQ(instrument.size(), 3u);
    (void)secondBrowser;
}

} // namespace
