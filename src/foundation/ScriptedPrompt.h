#pragma once

#include "foundation/Prompt.h"

#include <deque>
#include <functional>
#include <stdexcept>

namespace rp {

// Thrown (by default) when a ScriptedPrompt is asked something its script did not expect. Test
// frameworks report an exception escaping a test body as that test's failure, with this text.
class UnexpectedPromptError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// A prompt for tests: answers are queued in the order the questions are expected, every question
// is recorded, and a question that does not match the next answer (or comes when none is left)
// is reported through the failure handler, which throws UnexpectedPromptError unless replaced.
class ScriptedPrompt : public Prompt {
public:
    enum class Kind { Alert, ChooseFolder, ChooseFile, Error, SaveFile, Sheet };

    struct Asked {
        Kind kind;
        std::string title;
        std::string message;
        std::vector<std::string> buttons; // a choice's prompt is its one button
        int errorCode = 0; // for Kind::Error
        std::string errorDomain;
        int defaultButton = 0; // alerts and sheets
        std::optional<Suppression> suppression {}; // alerts and sheets
        SheetWindow window = nullptr; // sheets
        std::filesystem::path startDirectory {}; // choices
        std::string suggestedName {}; // save choices
        std::vector<std::string> allowedTypes {}; // choices
    };

    // The next question must be an alert; answer with this button index. When `titleContains` is
    // not empty the alert's title or message must contain it.
    ScriptedPrompt& answerAlert(int button, std::string titleContains = {});
    // The next question must be an alert with a check box: answer with this button and leave the
    // box in this state. (answerAlert also answers such an alert, leaving the box as it was.)
    ScriptedPrompt& answerSuppressibleAlert(int button, bool checked, std::string titleContains = {});
    // The next question must be a sheet: its completion runs at once with this button and, when
    // given, this check-box state (else the box's initial state).
    ScriptedPrompt& answerSheet(
        int button, std::optional<bool> checked = std::nullopt, std::string titleContains = {});
    // The next question must be a save panel; answer with this path, or cancel with none.
    ScriptedPrompt& answerSaveFile(std::optional<std::filesystem::path> file, std::string messageContains = {});
    // The next question must be a folder (or file) choice; answer with this path, or cancel with none.
    ScriptedPrompt& answerChooseFolder(
        std::optional<std::filesystem::path> folder, std::string messageContains = {});
    ScriptedPrompt& answerChooseFile(
        std::optional<std::filesystem::path> file, std::string messageContains = {});
    // The next question must be an error presentation; when code is not 0 it must have that code.
    ScriptedPrompt& expectError(int code = 0);

    const std::vector<Asked>& asked() const { return asked_; }
    size_t pendingAnswers() const { return answers_.size(); }
    // Reports (through the failure handler) every answer that was never asked for.
    void verifyAllAnswered();

    using FailureHandler = std::function<void(const std::string& message)>;
    void setFailureHandler(FailureHandler handler) { failure_ = std::move(handler); }

    int runAlert(const Alert& alert) override;
    std::optional<std::filesystem::path> chooseFolder(const Choice& choice) override;
    std::optional<std::filesystem::path> chooseFile(const Choice& choice) override;
    void presentError(const Error& error) override;
    std::optional<std::filesystem::path> chooseSaveFile(const SaveChoice& choice) override;
    AlertResult runAlertWithResult(const Alert& alert) override;
    void beginSheet(const Alert& alert, SheetWindow window, SheetCompletion completion) override;

private:
    struct Answer {
        Kind kind;
        int button = 0;
        std::optional<std::filesystem::path> path;
        std::string contains;
        int errorCode = 0;
        std::optional<bool> checked {}; // alerts and sheets: the check box's final state
    };

    // Asks an alert or sheet question and answers it from the script (the default button and the
    // box's initial state when the script fails).
    AlertResult answerAlertQuestion(Kind kind, const Alert& alert, SheetWindow window);

    // Pops the next answer if it is of this kind; otherwise reports the failure and returns none.
    std::optional<Answer> next(const Asked& asked);
    void fail(const std::string& message);

    std::deque<Answer> answers_;
    std::vector<Asked> asked_;
    FailureHandler failure_;
};

const char* promptKindName(ScriptedPrompt::Kind kind);

} // namespace rp
