#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPPreferences.h"
#endif

#include <QDialog>

#include <memory>

class QButtonGroup;
class QComboBox;
class QLineEdit;

namespace rp::app {

// The preferences window: bars per row of the pattern editor, and the MIDI input and output.
// Changes are held until OK (or the close box) and dropped by Cancel.
class PreferencesWindow final : public QDialog {
    Q_OBJECT
public:
    PreferencesWindow(UserDefaults& defaults, std::shared_ptr<KWMIDIManager> manager,
        std::shared_ptr<ORPMIDIRouting> routing, QWidget* parent = nullptr);
    ~PreferencesWindow() override;

    // Reads the stored values into the controls and shows the window.
    void showWindow();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape is Cancel.
    void reject() override { finish(false); }

private:
    void showBarsPerRow(const ORPBarsPerRowControls& controls);
    void fillMIDIMenus();
    void finish(bool ok);

    UserDefaults& defaults_;
    std::shared_ptr<KWMIDIManager> manager_;
    std::shared_ptr<ORPMIDIRouting> routing_;
    std::unique_ptr<ORPPreferences> preferences_;
    QButtonGroup* barsPerRow_ = nullptr;
    QLineEdit* barsPerRowField_ = nullptr;
    QComboBox* midiSources_ = nullptr;
    QComboBox* midiDestinations_ = nullptr;
    bool finishing_ = false;
};

} // namespace rp::app
