#pragma once

#include "foundation/Prompt.h"

namespace rp::app {

// The prompt interface as Qt dialogs: alerts are application-modal message boxes, sheets are
// window-modal ones opened with open() whose answer arrives through the completion, choosers are
// Qt's own (non-native, so that they look and behave the same on every desktop and under Xvfb).
class QtPrompt final : public Prompt {
public:
    int runAlert(const Alert& alert) override;
    AlertResult runAlertWithResult(const Alert& alert) override;
    void beginSheet(const Alert& alert, SheetWindow window, SheetCompletion completion) override;
    std::optional<std::filesystem::path> chooseFolder(const Choice& choice) override;
    std::optional<std::filesystem::path> chooseFile(const Choice& choice) override;
    std::optional<std::filesystem::path> chooseSaveFile(const SaveChoice& choice) override;
    void presentError(const Error& error) override;
};

} // namespace rp::app
