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
