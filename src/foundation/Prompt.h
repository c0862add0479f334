#pragma once

#include "foundation/Error.h"

#include <filesystem>
#include <functional>
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

    // A check box under an alert's text ("Do not show this message again").
    struct Suppression {
        std::string title;
        bool initiallyChecked = false;
    };

    struct Alert {
        std::string title; // the alert's main text
        std::string message; // the informative text below it
        std::vector<std::string> buttons; // left to right as the caller lists them; none means one "OK"
        int defaultButton = 0; // the button Return chooses
        AlertStyle style = AlertStyle::Warning;
        std::optional<Suppression> suppression {}; // none: no check box
    };

    // The button chosen and the check box's state when the alert ended (its initial state when the
    // alert has none, false without a check box).
    struct AlertResult {
        int button = 0;
        bool suppressionChecked = false;
        bool operator==(const AlertResult&) const = default;
    };

    // Identifies the window a sheet attaches to; opaque to the prompt's callers (the document).
    using SheetWindow = const void*;
    using SheetCompletion = std::function<void(const AlertResult&)>;

    struct Choice {
        std::string title; // window title, may be empty
        std::string message; // e.g. "Choose a Drum Kit"
        std::string prompt; // the OK button's title, e.g. "Choose"
        std::filesystem::path startDirectory;
        std::vector<std::string> allowedTypes; // file extensions without the dot; empty = any
    };

    // A save panel: where to write a new file.
    struct SaveChoice {
        std::string title;
        std::string message;
        std::string prompt; // the save button's title
        std::filesystem::path startDirectory;
        std::string suggestedName; // the name field's initial text
        std::vector<std::string> allowedTypes; // file extensions without the dot; empty = any
    };

    virtual ~Prompt() = default;

    // Returns the index of the chosen button in alert.buttons (0 when the list is empty).
    virtual int runAlert(const Alert& alert) = 0;
    // The chosen folder or file, or none when cancelled.
    virtual std::optional<std::filesystem::path> chooseFolder(const Choice& choice) = 0;
    virtual std::optional<std::filesystem::path> chooseFile(const Choice& choice) = 0;
    virtual void presentError(const Error& error) = 0;
    // The chosen file to write (it may exist; the panel asked about replacing it), or none.
    virtual std::optional<std::filesystem::path> chooseSaveFile(const SaveChoice& choice) = 0;
    // An application-modal alert that also reports its check box.
    virtual AlertResult runAlertWithResult(const Alert& alert) = 0;
    // The alert as a sheet on `window`: returns at once; `completion` runs once, when the user has
    // answered (the GUI calls it later from its event loop; prompts with nobody to ask call it
    // before returning).
    virtual void beginSheet(const Alert& alert, SheetWindow window, SheetCompletion completion) = 0;

    // The installed prompt; a NonInteractivePrompt until something else is installed.
    static Prompt& current();
    // Installs a prompt (null restores the non-interactive one); returns the one it replaces.
    static std::shared_ptr<Prompt> setCurrent(std::shared_ptr<Prompt> prompt);

    // Convenience: a one-call alert.
    static int alert(const std::string& title, const std::string& message,
        const std::vector<std::string>& buttons, int defaultButton = 0);
};

// For runs without anyone to ask: every alert (and sheet) takes its default button and leaves its
// check box as it was, nothing is chosen, and errors are logged as one line.
class NonInteractivePrompt : public Prompt {
public:
    int runAlert(const Alert& alert) override;
    std::optional<std::filesystem::path> chooseFolder(const Choice& choice) override;
    std::optional<std::filesystem::path> chooseFile(const Choice& choice) override;
    void presentError(const Error& error) override;
    std::optional<std::filesystem::path> chooseSaveFile(const SaveChoice& choice) override;
    AlertResult runAlertWithResult(const Alert& alert) override;
    void beginSheet(const Alert& alert, SheetWindow window, SheetCompletion completion) override;
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
