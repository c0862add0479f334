#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPInspectorController.h"
#endif

#include "widgets/OXInspectorPanel.h"

#include <functional>
#include <string>

class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QToolButton;

namespace rp::app {

class ValueStepper;

// The floating transport: play/stop and the navigation buttons, loop and record, the bar commands,
// meter, tempo, beat basis, default velocity and the position display. It shows what the inspector
// controller computes and hands every user action to it; it decides nothing itself.
class TransportPanel final : public widgets::OXInspectorPanel, public ORPInspectorView {
public:
    // Below the song window, from its left edge.
    static constexpr int16_t kDefaultSnapPosition = 1;
    static constexpr float kDefaultSnapOffset = 0;

    explicit TransportPanel(QWidget* parent = nullptr);
    ~TransportPanel() override;

    void setController(ORPInspectorController* controller);
    // The bar commands go to the front window's editor by action name.
    void setCommandHandler(std::function<void(const std::string&)> handler) { commandHandler_ = std::move(handler); }
    void setEditorWindow(QWidget* window) { editorWindow_ = window; }
    // Change Tempo: the tempo field takes the keyboard.
    void focusTempoField();
    // Shows the loop and record toggles as the defaults hold them.
    void refreshToggles();

    // --- ORPInspectorView ---
    void setText(Text field, const std::string& text) override;
    void setStepperValue(ORPInspectorView::Stepper stepper, int64_t value) override;
    void setEnabled(Control control, bool enabled) override;
    void selectBeatBasis(std::optional<float> basis) override;
    void setVelocitySliderValue(double value) override;
    void setPlayStopImage(const std::string& imageName) override;
    void makeEditorWindowKey() override;

private:
    QToolButton* transportButton(const char* probeName, const char* icon, const QString& tip);
    QToolButton* commandButton(const char* probeName, const char* icon, const char* action, const QString& tip);
    QLineEdit* numberField(const char* probeName, int width);
    void transport(ORPInspectorController::Transport button);

    ORPInspectorController* controller_ = nullptr;
    std::function<void(const std::string&)> commandHandler_;
    QWidget* editorWindow_ = nullptr;
    QToolButton* playStop_ = nullptr;
    QToolButton* loop_ = nullptr;
    QToolButton* record_ = nullptr;
    QToolButton* insertBar_ = nullptr;
    QToolButton* insertBeat_ = nullptr;
    QToolButton* deleteBeats_ = nullptr;
    QToolButton* zoomIn_ = nullptr;
    QToolButton* zoomOut_ = nullptr;
    QLineEdit* tsTop_ = nullptr;
    QLineEdit* tsBottom_ = nullptr;
    QLineEdit* tempo_ = nullptr;
    ValueStepper* tsTopStepper_ = nullptr;
    ValueStepper* tsBottomStepper_ = nullptr;
    ValueStepper* tempoStepper_ = nullptr;
    QComboBox* beatBasis_ = nullptr;
    QSlider* velocitySlider_ = nullptr;
    QLineEdit* velocityField_ = nullptr;
    QLabel* currentBar_ = nullptr;
    QLabel* currentBeat_ = nullptr;
    QLabel* currentTime_ = nullptr;
    QLabel* currentMsecs_ = nullptr;
    bool updating_ = false;
};

} // namespace rp::app
