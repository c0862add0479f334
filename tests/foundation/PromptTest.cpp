#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"

#include <gtest/gtest.h>

TEST(Prompt, NonInteractiveAnswersDefaultsAndLogsErrors)
{
    rp::NonInteractivePrompt prompt;
    EXPECT_EQ(prompt.runAlert({ "Title", "Message", { "Save", "Cancel", "Don't Save" }, 1 }), 1);
    EXPECT_EQ(prompt.runAlert({ "Title", "Message", { "OK" }, 5 }), 0);
    EXPECT_EQ(prompt.runAlert({ "Title", "Message", {}, 0 }), 0);
    rp::LogCapture capture;
    prompt.presentError(rp::Error::make(rp::kErrorNoDrumKit,
        "'%@' couldn't be opened because no drum kit was assigned.", "a.rpsong", "No drum kit was assigned.",
        "To open this song, you must choose a drum kit to use with it."));
    EXPECT_EQ(capture.lines(),
        std::vector<std::string> { "'a.rpsong' couldn't be opened because no drum kit was assigned. "
                                   "No drum kit was assigned. To open this song, you must choose a "
                                   "drum kit to use with it." });
}

// Answering in order, installing with ScopedPrompt and recording questions are exercised by every
// song and kit test that scripts a prompt; what those cannot see is a script that fails to fail.
TEST(Prompt, ScriptedPromptFailsClearlyOnUnexpectedQuestions)
{
    try {
        rp::ScriptedPrompt().runAlert({ "Surprise", "Nobody expected this", { "OK" }, 0 });
        ADD_FAILURE() << "no failure reported";
    } catch (const rp::UnexpectedPromptError& e) {
        EXPECT_STREQ(e.what(),
            "ScriptedPrompt: unexpected alert \"Surprise\" / \"Nobody expected this\": no scripted answer "
            "left");
    }
    // With a failure handler: a question of the wrong kind, an answer for text that does not
    // match, a button that does not exist and an answer never asked for are each reported.
    std::vector<std::string> failures;
    rp::ScriptedPrompt prompt;
    prompt.setFailureHandler([&](const std::string& message) { failures.push_back(message); });
    prompt.answerAlert(0, "kit").answerAlert(0, "kit").answerAlert(5).answerChooseFolder(std::nullopt);
    EXPECT_FALSE(prompt.chooseFile({ "", "Choose a Sound", "Choose", {}, {} }));
    EXPECT_EQ(prompt.runAlert({ "Song", "no match", { "A", "B" }, 1 }), 1); // the default
    EXPECT_EQ(prompt.runAlert({ "Song", "", { "A", "B" }, 1 }), 1);
    prompt.verifyAllAnswered();
    ASSERT_EQ(failures.size(), 4u);
    const char* fragments[]
        = { "expected a alert", "containing \"kit\"", "button 5 does not exist", "never asked for" };
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NE(failures[i].find(fragments[i]), std::string::npos) << failures[i];
}

TEST(Prompt, CheckBoxesSheetsAndSavePanels)
{
    rp::Prompt::Alert alert { "Kit changed", "Reload?", { "OK", "Ignore" }, 1 };
    alert.suppression = rp::Prompt::Suppression { "Do not ask again", true };
    int window = 0; // any object stands for the window

    // Nobody to ask: the default button, the box as it was, the sheet's completion before returning.
    rp::NonInteractivePrompt quiet;
    EXPECT_EQ(quiet.runAlertWithResult(alert), (rp::Prompt::AlertResult { 1, true }));
    std::vector<rp::Prompt::AlertResult> completions;
    quiet.beginSheet(alert, &window, [&](const rp::Prompt::AlertResult& r) { completions.push_back(r); });
    EXPECT_EQ(completions, (std::vector<rp::Prompt::AlertResult> { { 1, true } }));
    EXPECT_FALSE(quiet.chooseSaveFile({ "", "Export", "Save", "/tmp", "a.wav", { "wav" } }));

    // Scripted: each kind answered in order and recorded with what the caller showed.
    rp::ScriptedPrompt prompt;
    prompt.answerSheet(0, false, "changed")
        .answerSheet(1)
        .answerSuppressibleAlert(0, false)
        .answerAlert(1)
        .answerSaveFile(std::filesystem::path("/out/b.wav"), "Export");
    completions.clear();
    prompt.beginSheet(alert, &window, [&](const rp::Prompt::AlertResult& r) { completions.push_back(r); });
    prompt.beginSheet(alert, &window, [&](const rp::Prompt::AlertResult& r) { completions.push_back(r); });
    EXPECT_EQ(completions, (std::vector<rp::Prompt::AlertResult> { { 0, false }, { 1, true } }));
    EXPECT_EQ(prompt.runAlertWithResult(alert), (rp::Prompt::AlertResult { 0, false }));
    EXPECT_EQ(prompt.runAlertWithResult(alert), (rp::Prompt::AlertResult { 1, true }));
    EXPECT_EQ(prompt.chooseSaveFile({ "", "Export", "Save", "/music", "song.wav", { "wav", "aiff" } }),
        std::filesystem::path("/out/b.wav"));
    prompt.verifyAllAnswered();
    const auto& asked = prompt.asked();
    ASSERT_EQ(asked.size(), 5u);
    EXPECT_EQ(asked[0].kind, rp::ScriptedPrompt::Kind::Sheet);
    EXPECT_EQ(asked[0].window, &window);
    ASSERT_TRUE(asked[0].suppression);
    EXPECT_EQ(asked[0].suppression->title, "Do not ask again");
    EXPECT_EQ(asked[2].kind, rp::ScriptedPrompt::Kind::Alert);
    EXPECT_EQ(asked[2].defaultButton, 1);
    EXPECT_EQ(asked[4].kind, rp::ScriptedPrompt::Kind::SaveFile);
    EXPECT_EQ(asked[4].buttons, std::vector<std::string> { "Save" });
    EXPECT_EQ(asked[4].startDirectory, std::filesystem::path("/music"));
    EXPECT_EQ(asked[4].suggestedName, "song.wav");
    EXPECT_EQ(asked[4].allowedTypes, (std::vector<std::string> { "wav", "aiff" }));

    // A sheet is not an alert, and a box the alert does not have cannot be ticked: both reported,
    // and the sheet still completes (with its default) so its caller is never left waiting.
    std::vector<std::string> failures;
    rp::ScriptedPrompt strict;
    strict.setFailureHandler([&](const std::string& message) { failures.push_back(message); });
    strict.answerAlert(0).answerSuppressibleAlert(0, true);
    completions.clear();
    strict.beginSheet(alert, &window, [&](const rp::Prompt::AlertResult& r) { completions.push_back(r); });
    EXPECT_EQ(strict.runAlertWithResult({ "Plain", "", { "OK", "Cancel" }, 1 }),
        (rp::Prompt::AlertResult { 1, false }));
    EXPECT_EQ(completions, (std::vector<rp::Prompt::AlertResult> { { 1, true } }));
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[0].find("unexpected sheet"), std::string::npos) << failures[0];
    EXPECT_NE(failures[1].find("check box"), std::string::npos) << failures[1];
}
