#pragma once

#include "editor/ORPPatternEditorView.h"
#include "model/ORPPatternInstance.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rp {
struct Notification;
class UndoManager;
class UserDefaults;
} // namespace rp
class ORPPatternEditor;

// Posted by setMonoEnabled (object: the inspector, user info: the new bool); each pattern editor
// answers by switching its player.
inline constexpr const char* ORPMonoPlaybackChangedNotification = "ORPMonoPlaybackChangedNotification";

// The transport panel's controls as the inspector sees them. The Qt panel implements it; tests fake it.
class ORPInspectorView {
public:
    enum class Text : uint8_t { TsTop, TsBottom, Tempo, Velocity, CurrentBar, CurrentBeat, CurrentTime, CurrentMsecs };
    enum class Stepper : uint8_t { TsTop, TsBottomExponent, Tempo };
    enum class Control : uint8_t {
        TsTop, // field and stepper
        TsBottom,
        Tempo,
        BeatBasis,
        Velocity,
        InsertBar,
        InsertBeat,
        DeleteBeats,
        ZoomIn,
        ZoomOut,
    };

    virtual ~ORPInspectorView() = default;
    virtual void setText(Text field, const std::string& text) = 0;
    virtual void setStepperValue(Stepper stepper, int64_t value) = 0;
    virtual void setEnabled(Control control, bool enabled) = 0;
    // none: the blank item shown where the bars disagree.
    virtual void selectBeatBasis(std::optional<float> basis) = 0;
    virtual void setVelocitySliderValue(double value) = 0;
    virtual void setPlayStopImage(const std::string& imageName) = 0;
    // After a tempo or meter edit the keyboard goes back to the editor's window.
    virtual void makeEditorWindowKey() = 0;
};

// The application-wide transport inspector's logic: what the transport panel shows for the bars the
// front editor's selection or insertion point affects, the tempo, meter and beat-basis edits of those
// bars, the position display, the transport buttons and the playing options. Main thread only.
class ORPInspectorController {
public:
    static constexpr const char* kDefaultVelocityKey = "RPDefaultVelocity";
    static constexpr const char* kLoopPlaybackKey = "RPLoopPlayback";
    static constexpr const char* kRecordEnabledKey = "RPRecordEnabled";

    // Bounds of the steppers (and so of what typing can reach).
    static constexpr int64_t kMinTop = 1;
    static constexpr int64_t kMaxTop = 64;
    static constexpr int64_t kMinBottomExponent = 0; // 1
    static constexpr int64_t kMaxBottomExponent = 6; // 64
    static constexpr int64_t kMinTempo = 1;
    static constexpr int64_t kMaxTempo = 999;

    enum class Transport : uint8_t { PlayStop, Back, Start, Forward, End };
    enum class TimeSigSender : uint8_t { TopField, BottomField, TopStepper, BottomStepper };

    // RPDefaultVelocity 1.0, RPLoopPlayback false, RPRecordEnabled false; never overrides a stored value.
    static void registerDefaults(rp::UserDefaults& defaults);

    ORPInspectorController(ORPInspectorView& view, rp::UserDefaults& defaults);
    ~ORPInspectorController();
    ORPInspectorController(const ORPInspectorController&) = delete;
    ORPInspectorController& operator=(const ORPInspectorController&) = delete;

    // The front song window's editor, or none (no song window in front).
    void setPatternEditor(std::shared_ptr<ORPPatternEditor> editor);
    const std::shared_ptr<ORPPatternEditor>& patternEditor() const { return editor_; }

    void refresh();
    void updatePlayStopButton(bool playing);
    void refreshPositionIndicator(const ORPPatternInstance& instance, float place);
    // The playback heartbeat's position; the bar's own values are shown once per bar.
    void showPlayingInstance(const ORPPatternInstancePtr& instance, float place);

    // The typed or stepped tempo.
    void tempoChanged(int64_t tempo);
    // A time-signature field was typed in or a stepper clicked; `value` is the sender's integer value.
    void timeSigChanged(TimeSigSender sender, int64_t value);
    void beatBasisChosen(float basis);
    void velocityChanged(double value);
    void transportAction(Transport button, ORPEditorModifiers modifiers);

    float defaultVelocity() const;
    bool loopingEnabled() const;
    void setLoopingEnabled(bool flag);
    bool recordEnabled() const;
    void setRecordEnabled(bool flag);
    bool monoEnabled() const { return monoEnabled_; }
    void setMonoEnabled(bool flag);

    int16_t defTimeTop() const { return defTimeTop_; }
    int16_t defTimeBottom() const { return defTimeBottom_; }
    float defTempo() const { return defTempo_; }
    float defBeatBasis() const { return defBeatBasis_; }

    // "%0d:%02d" and ".%03d" of a time in seconds (truncated; negative times read as zero).
    static std::string minutesSecondsText(double seconds);
    static std::string millisecondsText(double seconds);

private:
    void handleNotification(const rp::Notification& note);
    bool editorIsPlaying() const;
    void showSelectionTotals();
    rp::UndoManager* undoManager(const std::vector<ORPPatternInstancePtr>& affected) const;
    // Runs `edit` on each distinct pattern of the affected bars as one undo step named `name`;
    // the step is named only when something changed.
    void editAffectedPatterns(const std::string& name, const std::function<bool(ORPPattern&)>& edit);

    ORPInspectorView& view_;
    rp::UserDefaults& defaults_;
    std::shared_ptr<ORPPatternEditor> editor_;
    const void* observedEditor_ = nullptr;
    bool monoEnabled_ = false;
    int16_t defTimeTop_ = 4;
    int16_t defTimeBottom_ = 4;
    float defTempo_ = 120;
    float defBeatBasis_;
    int64_t tsTopStepper_ = 4;
    int64_t tsBottomStepper_ = 2;
    ORPPatternInstancePtr lastPlayingPatti_;
};
