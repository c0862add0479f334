#include "foundation/ScriptedPrompt.h"

namespace rp {

const char* promptKindName(ScriptedPrompt::Kind kind)
{
    switch (kind) {
    case ScriptedPrompt::Kind::Alert:
        return "alert";
    case ScriptedPrompt::Kind::ChooseFolder:
        return "folder choice";
    case ScriptedPrompt::Kind::ChooseFile:
        return "file choice";
    case ScriptedPrompt::Kind::Error:
        return "error";
    }
    return "question";
}

ScriptedPrompt& ScriptedPrompt::answerAlert(int button, std::string titleContains)
{
    answers_.push_back({ Kind::Alert, button, std::nullopt, std::move(titleContains), 0 });
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerChooseFolder(
    std::optional<std::filesystem::path> folder, std::string messageContains)
{
    answers_.push_back({ Kind::ChooseFolder, 0, std::move(folder), std::move(messageContains), 0 });
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerChooseFile(
    std::optional<std::filesystem::path> file, std::string messageContains)
{
    answers_.push_back({ Kind::ChooseFile, 0, std::move(file), std::move(messageContains), 0 });
    return *this;
}

ScriptedPrompt& ScriptedPrompt::expectError(int code)
{
    answers_.push_back({ Kind::Error, 0, std::nullopt, {}, code });
    return *this;
}

void ScriptedPrompt::verifyAllAnswered()
{
    if (answers_.empty())
        return;
    std::string message = "ScriptedPrompt: " + std::to_string(answers_.size())
        + " scripted answer(s) never asked for; next: " + promptKindName(answers_.front().kind);
    if (!answers_.front().contains.empty())
        message += " containing \"" + answers_.front().contains + "\"";
    answers_.clear();
    fail(message);
}

void ScriptedPrompt::fail(const std::string& message)
{
    if (failure_) {
        failure_(message);
        return;
    }
    throw UnexpectedPromptError(message);
}

std::optional<ScriptedPrompt::Answer> ScriptedPrompt::next(const Asked& asked)
{
    asked_.push_back(asked);
    std::string what
        = std::string(promptKindName(asked.kind)) + " \"" + asked.title + "\" / \"" + asked.message + "\"";
    if (asked.kind == Kind::Error)
        what += " (" + asked.errorDomain + " " + std::to_string(asked.errorCode) + ")";
    if (answers_.empty()) {
        fail("ScriptedPrompt: unexpected " + what + ": no scripted answer left");
        return std::nullopt;
    }
    // A mismatched answer is used up all the same, so one surprise is reported once, not again
    // for every question after it.
    Answer answer = answers_.front();
    answers_.pop_front();
    if (answer.kind != asked.kind) {
        fail("ScriptedPrompt: unexpected " + what + ": the script expected a " + promptKindName(answer.kind));
        return std::nullopt;
    }
    if (!answer.contains.empty() && asked.title.find(answer.contains) == std::string::npos
        && asked.message.find(answer.contains) == std::string::npos) {
        fail("ScriptedPrompt: unexpected " + what + ": the script expected one containing \""
            + answer.contains + "\"");
        return std::nullopt;
    }
    if (answer.kind == Kind::Error && answer.errorCode != 0 && answer.errorCode != asked.errorCode) {
        fail("ScriptedPrompt: unexpected " + what + ": the script expected code "
            + std::to_string(answer.errorCode));
        return std::nullopt;
    }
    return answer;
}

int ScriptedPrompt::runAlert(const Alert& alert)
{
    auto answer = next({ Kind::Alert, alert.title, alert.message, alert.buttons, 0, {} });
    if (!answer)
        return alert.defaultButton;
    size_t count = alert.buttons.empty() ? 1 : alert.buttons.size();
    if (answer->button < 0 || static_cast<size_t>(answer->button) >= count) {
        fail("ScriptedPrompt: scripted button " + std::to_string(answer->button)
            + " does not exist in alert \"" + alert.title + "\" with " + std::to_string(count)
            + " button(s)");
        return alert.defaultButton;
    }
    return answer->button;
}

std::optional<std::filesystem::path> ScriptedPrompt::chooseFolder(const Choice& choice)
{
    auto answer = next({ Kind::ChooseFolder, choice.title, choice.message, { choice.prompt }, 0, {} });
    return answer ? answer->path : std::nullopt;
}

std::optional<std::filesystem::path> ScriptedPrompt::chooseFile(const Choice& choice)
{
    auto answer = next({ Kind::ChooseFile, choice.title, choice.message, { choice.prompt }, 0, {} });
    return answer ? answer->path : std::nullopt;
}

void ScriptedPrompt::presentError(const Error& error)
{
    next({ Kind::Error, error.description, error.failureReason, {}, error.code, error.domain });
}

} // namespace rp
