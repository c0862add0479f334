#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"

#include <gtest/gtest.h>

TEST(Prompt, NonInteractiveAnswersDefaultsAndLogsErrors)
{
    rp::NonInteractivePrompt prompt;
    EXPECT_EQ(prompt.runAlert({ "Title", "Message", { "Save", "Cancel", "Don't Save" }, 1 }), 1);
    EXPECT_EQ(prompt.runAlert({ "Title", "Message", { "OK" }, 5 }), 0);
    EXPECT_EQ(prompt.runAlert({ "Title", "Message", {}, 0 }), 0);
    EXPECT_FALSE(prompt.chooseFolder({ "", "Select a Folder to Search", "Search", {}, {} }));
    EXPECT_FALSE(prompt.chooseFile({ "", "Choose a Drum Kit", "Choose", {}, { "rpkit" } }));
    rp::LogCapture capture;
    prompt.presentError(rp::Error::make(rp::kErrorNoDrumKit,
        "'%@' couldn't be opened because no drum kit was assigned.", "a.rpsong", "No drum kit was assigned.",
        "To open this song, you must choose a drum kit to use with it."));
    EXPECT_EQ(capture.lines(),
        std::vector<std::string> { "'a.rpsong' couldn't be opened because no drum kit was assigned. "
                                   "No drum kit was assigned. To open this song, you must choose a "
                                   "drum kit to use with it." });
}

TEST(Prompt, CurrentPromptIsInstalledAndRestored)
{
    auto scripted = std::make_shared<rp::ScriptedPrompt>();
    scripted->answerAlert(2, "newer version");
    {
        rp::ScopedPrompt scope(scripted);
        EXPECT_EQ(&rp::Prompt::current(), scripted.get());
        EXPECT_EQ(rp::Prompt::alert("'a' was created with a newer version of Rattlepan.", "",
                      { "Continue", "Other", "Third" }),
            2);
    }
    EXPECT_NE(dynamic_cast<rp::NonInteractivePrompt*>(&rp::Prompt::current()), nullptr);
    EXPECT_EQ(rp::Prompt::alert("t", "m", { "A", "B" }, 1), 1);
}

TEST(Prompt, ScriptedPromptAnswersInOrderAndRecordsQuestions)
{
    rp::ScriptedPrompt prompt;
    prompt.answerChooseFolder(std::filesystem::path("/music"), "Select a Folder")
        .answerAlert(0)
        .answerChooseFile(std::nullopt)
        .expectError(rp::kErrorInvalidFile);
    EXPECT_EQ(prompt.chooseFolder({ "", "Select a Folder to Search", "Search", {}, {} }),
        std::filesystem::path("/music"));
    EXPECT_EQ(prompt.runAlert({ "Missing sounds", "Locate them?", { "Locate", "Cancel" }, 1 }), 0);
    EXPECT_FALSE(prompt.chooseFile({ "", "Choose a Sound", "Choose", {}, {} }));
    prompt.presentError(rp::Error::make(rp::kErrorInvalidFile, "'%@' is bad.", "x", "It is bad."));
    EXPECT_EQ(prompt.pendingAnswers(), 0u);
    prompt.verifyAllAnswered();
    ASSERT_EQ(prompt.asked().size(), 4u);
    EXPECT_EQ(prompt.asked()[1].kind, rp::ScriptedPrompt::Kind::Alert);
    EXPECT_EQ(prompt.asked()[1].buttons, (std::vector<std::string> { "Locate", "Cancel" }));
    EXPECT_EQ(prompt.asked()[3].title, "'x' is bad.");
}

TEST(Prompt, ScriptedPromptFailsClearlyOnUnexpectedQuestions)
{
    {
        rp::ScriptedPrompt prompt;
        try {
            prompt.runAlert({ "Surprise", "Nobody expected this", { "OK" }, 0 });
            FAIL() << "no failure reported";
        } catch (const rp::UnexpectedPromptError& e) {
            EXPECT_STREQ(e.what(),
                "ScriptedPrompt: unexpected alert \"Surprise\" / \"Nobody expected this\": no scripted "
                "answer left");
        }
    }
    std::vector<std::string> failures;
    rp::ScriptedPrompt prompt;
    prompt.setFailureHandler([&](const std::string& message) { failures.push_back(message); });
    prompt.answerAlert(0, "kit");
    EXPECT_FALSE(prompt.chooseFile({ "", "Choose a Sound", "Choose", {}, {} })); // wrong kind
    prompt.answerAlert(0, "kit");
    EXPECT_EQ(prompt.runAlert({ "Song", "no match", { "A", "B" }, 1 }), 1); // text does not match: default
    prompt.answerAlert(5);
    EXPECT_EQ(prompt.runAlert({ "Song", "", { "A", "B" }, 1 }), 1); // no such button
    prompt.answerChooseFolder(std::nullopt);
    prompt.verifyAllAnswered();
    ASSERT_EQ(failures.size(), 4u);
    EXPECT_NE(failures[0].find("unexpected file choice"), std::string::npos);
    EXPECT_NE(failures[0].find("expected a alert"), std::string::npos);
    EXPECT_NE(failures[1].find("containing \"kit\""), std::string::npos);
    EXPECT_NE(failures[2].find("button 5 does not exist"), std::string::npos);
    EXPECT_NE(failures[3].find("never asked for"), std::string::npos);
}
