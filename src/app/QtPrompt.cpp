#include "app/QtPrompt.h"

#include "foundation/Localization.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

QMessageBox::Icon iconFor(Prompt::AlertStyle style)
{
    switch (style) {
    case Prompt::AlertStyle::Informational:
        return QMessageBox::Information;
    case Prompt::AlertStyle::Critical:
        return QMessageBox::Critical;
    case Prompt::AlertStyle::Warning:
        break;
    }
    return QMessageBox::Warning;
}

// A message box for the alert; its buttons are in the caller's order, left to right.
std::unique_ptr<QMessageBox> makeBox(const Prompt::Alert& alert, QWidget* parent, std::vector<QPushButton*>& buttons)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setIcon(iconFor(alert.style));
    box->setWindowTitle(QApplication::applicationDisplayName());
    box->setText(qt(alert.title));
    box->setInformativeText(qt(alert.message));
    std::vector<std::string> titles = alert.buttons;
    if (titles.empty()) {
        titles.push_back(localized("OK"));
    }
    for (const auto& title : titles) {
        // ActionRole keeps Qt from reordering the buttons by role.
        buttons.push_back(box->addButton(qt(title), QMessageBox::ActionRole));
    }
    const int defaultIndex = alert.defaultButton >= 0 && alert.defaultButton < static_cast<int>(buttons.size())
        ? alert.defaultButton
        : 0;
    box->setDefaultButton(buttons[static_cast<size_t>(defaultIndex)]);
    if (alert.suppression) {
        auto* check = new QCheckBox(qt(alert.suppression->title));
        check->setChecked(alert.suppression->initiallyChecked);
        // The small system font: 11 against a 13-point interface font, scaled to this desktop's.
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * 11.0 / 13.0);
        check->setFont(font);
        box->setCheckBox(check);
    }
    return box;
}

Prompt::AlertResult resultOf(QMessageBox& box, const std::vector<QPushButton*>& buttons, const Prompt::Alert& alert)
{
    Prompt::AlertResult result;
    result.button = 0;
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) {
            result.button = static_cast<int>(i);
        }
    }
    // Closing the box with Escape or its close button is the last button's answer (Cancel).
    if (!box.clickedButton() && buttons.size() > 1) {
        result.button = static_cast<int>(buttons.size()) - 1;
    }
    result.suppressionChecked = box.checkBox() ? box.checkBox()->isChecked()
                                               : (alert.suppression && alert.suppression->initiallyChecked);
    return result;
}

QString filterFor(const std::vector<std::string>& types)
{
    if (types.empty()) {
        return {};
    }
    QStringList patterns;
    for (const auto& type : types) {
        patterns << QStringLiteral("*.") + qt(type);
    }
    return patterns.join(' ') + QStringLiteral(" (") + patterns.join(' ') + QStringLiteral(")");
}

} // namespace

int QtPrompt::runAlert(const Alert& alert)
{
    return runAlertWithResult(alert).button;
}

Prompt::AlertResult QtPrompt::runAlertWithResult(const Alert& alert)
{
    std::vector<QPushButton*> buttons;
    auto box = makeBox(alert, nullptr, buttons);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    return resultOf(*box, buttons, alert);
}

void QtPrompt::beginSheet(const Alert& alert, SheetWindow window, SheetCompletion completion)
{
    auto* parent = static_cast<QWidget*>(const_cast<void*>(window));
    std::vector<QPushButton*> buttons;
    QMessageBox* box = makeBox(alert, parent, buttons).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, alert, completion = std::move(completion)](int) {
        if (completion) {
            completion(resultOf(*box, buttons, alert));
        }
    });
    box->open();
}

namespace {

// A Qt file dialog for a choice, run modally; the chosen path or none.
std::optional<std::filesystem::path> runFileDialog(const std::string& title, const std::string& message,
    const std::string& prompt, const std::filesystem::path& start, const std::function<void(QFileDialog&)>& setUp)
{
    QFileDialog dialog(nullptr, qt(title.empty() ? message : title), qt(start.string()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    setUp(dialog);
    if (!prompt.empty()) {
        dialog.setLabelText(QFileDialog::Accept, qt(prompt));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(dialog.selectedFiles().front().toStdString());
}

} // namespace

std::optional<std::filesystem::path> QtPrompt::chooseFolder(const Choice& choice)
{
    return runFileDialog(choice.title, choice.message, choice.prompt, choice.startDirectory, [](QFileDialog& dialog) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    });
}

std::optional<std::filesystem::path> QtPrompt::chooseFile(const Choice& choice)
{
    // Kit bundles are folders with an extension: let them be chosen as the file they stand for.
    const bool bundles = std::find(choice.allowedTypes.begin(), choice.allowedTypes.end(), "rpkit")
        != choice.allowedTypes.end();
    return runFileDialog(choice.title, choice.message, choice.prompt, choice.startDirectory, [&](QFileDialog& dialog) {
        dialog.setFileMode(bundles ? QFileDialog::Directory : QFileDialog::ExistingFile);
        if (!bundles) {
            dialog.setNameFilter(filterFor(choice.allowedTypes));
        }
    });
}

std::optional<std::filesystem::path> QtPrompt::chooseSaveFile(const SaveChoice& choice)
{
    return runFileDialog(choice.title, choice.message, choice.prompt, choice.startDirectory / choice.suggestedName,
        [&](QFileDialog& dialog) {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setNameFilter(filterFor(choice.allowedTypes));
            if (!choice.allowedTypes.empty()) {
                dialog.setDefaultSuffix(qt(choice.allowedTypes.front()));
            }
        });
}

void QtPrompt::presentError(const Error& error)
{
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), qt(error.description));
    std::string details = error.failureReason;
    if (!error.recoverySuggestion.empty()) {
        details += (details.empty() ? "" : "\n\n") + error.recoverySuggestion;
    }
    box.setInformativeText(qt(details));
    box.addButton(qt(localized("OK")), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace rp::app
