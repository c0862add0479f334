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
    case ScriptedPrompt::Kind::SaveFile:
        return "save choice";
    case ScriptedPrompt::Kind::Sheet:
        return "sheet";
    }
    return "question";
}

ScriptedPrompt& ScriptedPrompt::answerAlert(int button, std::string titleContains)
{
    answers_.push_back({ Kind::Alert, button, std::nullopt, std::move(titleContains), 0 });
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerSuppressibleAlert(int button, bool checked, std::string titleContains)
{
    answers_.push_back({ Kind::Alert, button, std::nullopt, std::move(titleContains), 0, checked });
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerSheet(int button, std::optional<bool> checked, std::string titleContains)
{
    answers_.push_back({ Kind::Sheet, button, std::nullopt, std::move(titleContains), 0, checked });
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answerSaveFile(std::optional<std::filesystem::path> file, std::string messageContains)
{
    answers_.push_back({ Kind::SaveFile, 0, std::move(file), std::move(messageContains), 0, std::nullopt });
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

ScriptedPrompt::AlertResult ScriptedPrompt::answerAlertQuestion(
    Kind kind, const Alert& alert, SheetWindow window)
{
    Asked asked { kind, alert.title, alert.message, alert.buttons, 0, {} };
    asked.defaultButton = alert.defaultButton;
    asked.suppression = alert.suppression;
    asked.window = window;
    const bool initiallyChecked = alert.suppression && alert.suppression->initiallyChecked;
    const AlertResult fallback { alert.defaultButton, initiallyChecked };
    auto answer = next(asked);
    if (!answer)
        return fallback;
    size_t count = alert.buttons.empty() ? 1 : alert.buttons.size();
    if (answer->button < 0 || static_cast<size_t>(answer->button) >= count) {
        fail("ScriptedPrompt: scripted button " + std::to_string(answer->button) + " does not exist in "
            + promptKindName(kind) + " \"" + alert.title + "\" with " + std::to_string(count) + " button(s)");
        return fallback;
    }
    if (answer->checked && !alert.suppression) {
        fail(std::string("ScriptedPrompt: the script sets a check box that ") + promptKindName(kind) + " \""
            + alert.title + "\" does not have");
        return fallback;
    }
    return { answer->button, answer->checked.value_or(initiallyChecked) };
}

int ScriptedPrompt::runAlert(const Alert& alert)
{
    return answerAlertQuestion(Kind::Alert, alert, nullptr).button;
}

ScriptedPrompt::AlertResult ScriptedPrompt::runAlertWithResult(const Alert& alert)
{
    return answerAlertQuestion(Kind::Alert, alert, nullptr);
}

void ScriptedPrompt::beginSheet(const Alert& alert, SheetWindow window, SheetCompletion completion)
{
    const AlertResult result = answerAlertQuestion(Kind::Sheet, alert, window);
    if (completion)
        completion(result);
}

namespace {

ScriptedPrompt::Asked choiceQuestion(ScriptedPrompt::Kind kind, const std::string& title,
    const std::string& message, const std::string& prompt, const std::filesystem::path& start,
    const std::vector<std::string>& types)
{
    ScriptedPrompt::Asked asked { kind, title, message, { prompt }, 0, {} };
    asked.startDirectory = start;
    asked.allowedTypes = types;
    return asked;
}

} // namespace

std::optional<std::filesystem::path> ScriptedPrompt::chooseFolder(const Choice& choice)
{
    auto answer = next(choiceQuestion(Kind::ChooseFolder, choice.title, choice.message, choice.prompt,
        choice.startDirectory, choice.allowedTypes));
    return answer ? answer->path : std::nullopt;
}

std::optional<std::filesystem::path> ScriptedPrompt::chooseFile(const Choice& choice)
{
    auto answer = next(choiceQuestion(Kind::ChooseFile, choice.title, choice.message, choice.prompt,
        choice.startDirectory, choice.allowedTypes));
    return answer ? answer->path : std::nullopt;
}

std::optional<std::filesystem::path> ScriptedPrompt::chooseSaveFile(const SaveChoice& choice)
{
    auto asked = choiceQuestion(Kind::SaveFile, choice.title, choice.message, choice.prompt,
        choice.startDirectory, choice.allowedTypes);
    asked.suggestedName = choice.suggestedName;
    auto answer = next(asked);
    return answer ? answer->path : std::nullopt;
}

void ScriptedPrompt::presentError(const Error& error)
{
    next({ Kind::Error, error.description, error.failureReason, {}, error.code, error.domain });
}

} // namespace rp
