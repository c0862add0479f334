#include "foundation/Prompt.h"

#include "foundation/Logger.h"

#include <mutex>

namespace rp {

namespace {

std::mutex& promptMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Prompt>& installedPrompt()
{
    static std::shared_ptr<Prompt> prompt = std::make_shared<NonInteractivePrompt>();
    return prompt;
}

} // namespace

Prompt& Prompt::current()
{
    std::lock_guard lock(promptMutex());
    // The installed prompt stays alive while installed; callers use it on the main thread, where
    // it is also replaced.
    return *installedPrompt();
}

std::shared_ptr<Prompt> Prompt::setCurrent(std::shared_ptr<Prompt> prompt)
{
    std::lock_guard lock(promptMutex());
    if (!prompt)
        prompt = std::make_shared<NonInteractivePrompt>();
    std::swap(installedPrompt(), prompt);
    return prompt;
}

int Prompt::alert(const std::string& title, const std::string& message,
    const std::vector<std::string>& buttons, int defaultButton)
{
    Alert a;
    a.title = title;
    a.message = message;
    a.buttons = buttons;
    a.defaultButton = defaultButton;
    return current().runAlert(a);
}

int NonInteractivePrompt::runAlert(const Alert& alert)
{
    if (alert.buttons.empty())
        return 0;
    if (alert.defaultButton < 0 || static_cast<size_t>(alert.defaultButton) >= alert.buttons.size())
        return 0;
    return alert.defaultButton;
}

std::optional<std::filesystem::path> NonInteractivePrompt::chooseFolder(const Choice&)
{
    return std::nullopt;
}

std::optional<std::filesystem::path> NonInteractivePrompt::chooseFile(const Choice&)
{
    return std::nullopt;
}

std::optional<std::filesystem::path> NonInteractivePrompt::chooseSaveFile(const SaveChoice&)
{
    return std::nullopt;
}

Prompt::AlertResult NonInteractivePrompt::runAlertWithResult(const Alert& alert)
{
    return { runAlert(alert), alert.suppression && alert.suppression->initiallyChecked };
}

void NonInteractivePrompt::beginSheet(const Alert& alert, SheetWindow, SheetCompletion completion)
{
    const AlertResult result = runAlertWithResult(alert);
    if (completion)
        completion(result);
}

void NonInteractivePrompt::presentError(const Error& error)
{
    std::string line = error.description;
    if (!error.failureReason.empty() && error.failureReason != error.description)
        line += " " + error.failureReason;
    if (!error.recoverySuggestion.empty())
        line += " " + error.recoverySuggestion;
    Logger::log(line);
}

ScopedPrompt::ScopedPrompt(std::shared_ptr<Prompt> prompt)
    : previous_(Prompt::setCurrent(std::move(prompt)))
{
}

ScopedPrompt::~ScopedPrompt()
{
    Prompt::setCurrent(std::move(previous_));
}

} // namespace rp
