// Widgets under the offscreen platform: what the probe reports, how the bar overview lays bars
// out and paints them, and that a sheet answers through its completion.

#include "app/QtPrompt.h"
#include "app/UiProbe.h"
#include "support/TestSupport.h"
#include "widgets/OXPasteboard.h"

#include "QtTestApplication.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>

namespace rp::app {
namespace {

QApplication& application()
{
    return rp::test::testApplication();
}

TEST(UiProbe, DescribesWindowsControlsAndDialogs)
{
    test::TempDir folder;
    const std::string path = (folder.path() / "probe.json").string();
    qputenv("RATTLEPAN_UI_PROBE", QByteArray::fromStdString(path));
    application();
    UiProbe* probe = UiProbe::installIfRequested();
    ASSERT_NE(probe, nullptr);

    QMainWindow window;
    window.setProperty("probeKind", "song");
    window.setWindowTitle("Groove");
    auto* field = new QLineEdit("Friday");
    field->setProperty("probeName", "songName");
    window.setCentralWidget(field);
    window.show();
    probe->addSection("editor", [] { return nlohmann::json { { "playing", false } }; });
    ASSERT_TRUE(probe->writeNow());

    std::ifstream in(path);
    const auto json = nlohmann::json::parse(in);
    EXPECT_EQ(json["pid"], QCoreApplication::applicationPid());
    const auto& windows = json["windows"];
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0]["kind"], "song");
    EXPECT_EQ(windows[0]["title"], "Groove");
    const auto control = std::find_if(json["controls"].begin(), json["controls"].end(),
        [](const auto& c) { return c["name"] == "songName"; });
    ASSERT_NE(control, json["controls"].end());
    EXPECT_EQ((*control)["kind"], "field");
    EXPECT_EQ((*control)["text"], "Friday");
    EXPECT_EQ((*control)["rect"][2], field->width());
    EXPECT_EQ(json["editor"]["playing"], false);

    QMessageBox box(QMessageBox::Warning, "Rattlepan", "Can't find drum kit 'X'");
    box.setInformativeText("Please choose a drum kit to use for this song.");
    box.addButton("Choose...", QMessageBox::ActionRole);
    box.show();
    ASSERT_TRUE(probe->writeNow());
    std::ifstream again(path);
    const auto withDialog = nlohmann::json::parse(again);
    ASSERT_EQ(withDialog["dialogs"].size(), 1u);
    EXPECT_EQ(withDialog["dialogs"][0]["kind"], "alert");
    EXPECT_EQ(withDialog["dialogs"][0]["text"], "Can't find drum kit 'X'");
    EXPECT_EQ(withDialog["dialogs"][0]["buttons"][0]["title"], "Choose...");
    qunsetenv("RATTLEPAN_UI_PROBE");
}

TEST(QtPrompt, SheetAnswersThroughItsCompletionWithTheCheckBox)
{
    application();
    QMainWindow window;
    window.show();
    QtPrompt prompt;
    Prompt::Alert alert;
    alert.title = "The drum kit has been modified.";
    alert.buttons = { "OK", "Ignore" };
    alert.suppression = Prompt::Suppression { "Do not show this message again", true };
    std::optional<Prompt::AlertResult> answer;
    prompt.beginSheet(alert, &window, [&](const Prompt::AlertResult& result) { answer = result; });
    EXPECT_FALSE(answer.has_value()); // a sheet returns at once

    auto* box = window.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    ASSERT_NE(box->checkBox(), nullptr);
    box->checkBox()->setChecked(false);
    QPushButton* ignore = nullptr;
    for (auto* button : box->findChildren<QPushButton*>()) {
        if (button->text() == "Ignore") {
            ignore = button;
        }
    }
    ASSERT_NE(ignore, nullptr);
    ignore->click();
    QTest::qWait(20);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->button, 1);
    EXPECT_FALSE(answer->suppressionChecked);
}

// What one clipboard object puts on the desktop's clipboard another reads back; a provider is asked
// only when the bytes are wanted, and types of ours that are not there read as none.
TEST(Pasteboard, OurTypesRoundTripThroughTheDesktopClipboard)
{
    application();
    OXClipboardPasteboard writer;
    int asked = 0;
    writer.declareTypes({ "ORPPatternListPboardType", "ORPDrumListPboardType" });
    writer.setData("ORPPatternListPboardType", { 1, 2, 3 });
    writer.setProvider("ORPDrumListPboardType", [&] {
        ++asked;
        return std::vector<uint8_t> { 9 };
    });
    EXPECT_EQ(asked, 0);

    const OXClipboardPasteboard reader;
    EXPECT_TRUE(reader.hasType("ORPPatternListPboardType"));
    EXPECT_EQ(reader.data("ORPPatternListPboardType"), (std::vector<uint8_t> { 1, 2, 3 }));
    EXPECT_EQ(reader.data("ORPDrumListPboardType"), std::vector<uint8_t> { 9 });
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(reader.hasType("ORPSectionListPboardType"));
    EXPECT_EQ(reader.data("ORPSectionListPboardType"), std::nullopt);
}

} // namespace
} // namespace rp::app
