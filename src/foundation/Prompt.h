#pragma once

#include "foundation/Error.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rp {

// How core code asks the user something. The GUI answers with dialogs, the command-line tool with
// its flags, tests with ScriptedPrompt. Texts arrive already localised. Main thread only.
class Prompt {
public:
    enum class AlertStyle { Warning, Informational, Critical };

    struct Alert {
        std::string title; // the alert's main text
        std::string message; // the informative text below it
        std::vector<std::string> buttons; // left to right as the caller lists them; none means one "OK"
        int defaultButton = 0; // the button Return chooses
        AlertStyle style = AlertStyle::Warning;
    };

    struct Choice {
        std::string title; // window title, may be empty
        std::string message; // e.g. "Choose a Drum Kit"
        std::string prompt; // the OK button's title, e.g. "Choose"
        std::filesystem::path startDirectory;
        std::vector<std::string> allowedTypes; // file extensions without the dot; empty = any
    };

    virtual ~Prompt() = default;

    // Returns the index of the chosen button in alert.buttons (0 when the list is empty).
    virtual int runAlert(const Alert& alert) = 0;
    // The chosen folder or file, or none when cancelled.
    virtual std::optional<std::filesystem::path> chooseFolder(const Choice& choice) = 0;
    virtual std::optional<std::filesystem::path> chooseFile(const Choice& choice) = 0;
    virtual void presentError(const Error& error) = 0;

    // The installed prompt; a NonInteractivePrompt until something else is installed.
    static Prompt& current();
    // Installs a prompt (null restores the non-interactive one); returns the one it replaces.
    static std::shared_ptr<Prompt> setCurrent(std::shared_ptr<Prompt> prompt);

    // Convenience: a one-call alert.
    static int alert(const std::string& title, const std::string& message,
        const std::vector<std::string>& buttons, int defaultButton = 0);
};

// For runs without anyone to ask: every alert takes its default button, nothing is chosen, and
// errors are logged as one line.
class NonInteractivePrompt : public Prompt {
public:
    int runAlert(const Alert& alert) override;
    std::optional<std::filesystem::path> chooseFolder(const Choice& choice) override;
    std::optional<std::filesystem::path> chooseFile(const Choice& choice) override;
    void presentError(const Error& error) override;
};

// Installs a prompt for the lifetime of the object and restores the previous one afterwards.
class ScopedPrompt {
public:
    explicit ScopedPrompt(std::shared_ptr<Prompt> prompt);
    ~ScopedPrompt();
    ScopedPrompt(const ScopedPrompt&) = delete;
    ScopedPrompt& operator=(const ScopedPrompt&) = delete;

private:
    std::shared_ptr<Prompt> previous_;
};

} // namespace rp
