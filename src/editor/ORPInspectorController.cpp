#include "editor/ORPInspectorController.h"

#include "editor/ORPPatternEditor.h"
#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UndoManager.h"
#include "foundation/UserDefaults.h"
#include "model/OXSelection.h"
#include "model/ORPPattern.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

constexpr const char* kEllipsis = "\xE2\x80\xA6"; // U+2026

std::string number(int64_t value)
{
    return std::to_string(value);
}

// Truncates toward zero, saturating: a hostile or absurd double never reaches an undefined cast.
int64_t truncated(double value)
{
    if (!(value == value))
        return 0;
    return static_cast<int64_t>(std::clamp(std::trunc(value), -9.0e18, 9.0e18));
}

const void* editorIdentity(const ORPPatternEditor* editor)
{
    return static_cast<const ORPPlayerEditor*>(editor);
}

} // namespace

void ORPInspectorController::registerDefaults(rp::UserDefaults& defaults)
{
    defaults.registerDefaults({
        { kDefaultVelocityKey, 1.0 },
        { kLoopPlaybackKey, false },
        { kRecordEnabledKey, false },
    });
}

ORPInspectorController::ORPInspectorController(ORPInspectorView& view, rp::UserDefaults& defaults)
    : view_(view)
    , defaults_(defaults)
    , defBeatBasis_(ORPPattern::beatBasisForTimeSignatureTop(4, 4))
{
    registerDefaults(defaults_);
    auto& center = rp::NotificationCenter::defaultCenter();
    for (const char* name : { ORPPatternGeometryChangedNotification, ORPPatternTempoChangedNotification })
        center.addObserver(this, name, nullptr, [this](const rp::Notification& note) { handleNotification(note); });
    const double velocity = defaults_.doubleForKey(kDefaultVelocityKey);
    view_.setVelocitySliderValue(velocity);
    view_.setText(ORPInspectorView::Text::Velocity, number(truncated(velocity * 10)));
    view_.setEnabled(ORPInspectorView::Control::Velocity, false);
    updatePlayStopButton(false);
    refresh();
}

ORPInspectorController::~ORPInspectorController()
{
    rp::NotificationCenter::defaultCenter().removeObserver(this);
}

void ORPInspectorController::setPatternEditor(std::shared_ptr<ORPPatternEditor> editor)
{
    auto& center = rp::NotificationCenter::defaultCenter();
    if (observedEditor_)
        center.removeObserver(this, {}, observedEditor_);
    observedEditor_ = nullptr;
    editor_ = std::move(editor);
    lastPlayingPatti_ = nullptr;
    view_.setEnabled(ORPInspectorView::Control::Velocity, editor_ != nullptr);
    if (editor_) {
        observedEditor_ = editorIdentity(editor_.get());
        center.addObserver(
            this, {}, observedEditor_, [this](const rp::Notification& note) { handleNotification(note); });
        updatePlayStopButton(editorIsPlaying());
    } else {
        updatePlayStopButton(false);
    }
    refresh();
}

void ORPInspectorController::handleNotification(const rp::Notification& note)
{
    if (note.name == ORPPatternGeometryChangedNotification || note.name == ORPPatternTempoChangedNotification) {
        if (!editor_)
            return;
        for (const auto& instance : editor_->affectedPatternInstances()) {
            if (instance->pattern().get() == note.object) {
                refresh();
                return;
            }
        }
        return;
    }
    if (note.name == ORPPatternEditorPatternSelectionChangedNotification
        || note.name == ORPPatternEditorInsertionPointMovedNotification) {
        refresh();
    } else if (note.name == ORPPatternEditorPlaybackStartedNotification) {
        updatePlayStopButton(true);
        refresh();
    } else if (note.name == ORPPatternEditorPlaybackStoppedNotification) {
        updatePlayStopButton(false);
        refresh();
    }
}

bool ORPInspectorController::editorIsPlaying() const
{
    // The editor plays while it follows a run (its heartbeat); that is when the panel shows the play head.
    return editor_ && editor_->isPlaying();
}

void ORPInspectorController::updatePlayStopButton(bool playing)
{
    view_.setPlayStopImage(playing ? "button-stop" : "button-play");
}

// --- Display ---

std::string ORPInspectorController::minutesSecondsText(double seconds)
{
    const int64_t whole = std::max<int64_t>(0, truncated(seconds));
    char text[48];
    std::snprintf(text, sizeof text, "%0lld:%02lld", static_cast<long long>(whole / 60), static_cast<long long>(whole % 60));
    return text;
}

std::string ORPInspectorController::millisecondsText(double seconds)
{
    const int64_t millis = std::max<int64_t>(0, truncated(seconds * 1000));
    char text[16];
    std::snprintf(text, sizeof text, ".%03lld", static_cast<long long>(millis % 1000));
    return text;
}

void ORPInspectorController::refreshPositionIndicator(const ORPPatternInstance& instance, float place)
{
    using Text = ORPInspectorView::Text;
    const auto& pattern = instance.pattern();
    view_.setText(Text::CurrentBar, number(instance.barNumberInSong()));
    const int64_t top = pattern ? pattern->timeSignatureTop() : 0;
    const double beats = static_cast<double>(top) * static_cast<double>(place);
    // The end of the bar reads as its last beat, like the last beat itself.
    const int64_t beat = place < 1.0f ? truncated(beats) + 1 : truncated(beats);
    view_.setText(Text::CurrentBeat, number(beat) + "|" + number(top));
    const double seconds = static_cast<double>(instance.cueTime())
        + static_cast<double>(place) * static_cast<double>(pattern ? pattern->duration() : 0.0f);
    view_.setText(Text::CurrentTime, minutesSecondsText(seconds));
    view_.setText(Text::CurrentMsecs, millisecondsText(seconds));
}

void ORPInspectorController::showSelectionTotals()
{
    using Text = ORPInspectorView::Text;
    const auto selected = editor_->selectedPatternInstances();
    double total = 0;
    bool wholeBars = true;
    for (const auto& instance : selected) {
        const auto& selection = instance->selection();
        const double duration = instance->pattern() ? instance->pattern()->duration() : 0.0;
        if (selection) {
            const auto& ranges = selection->rangeArray();
            for (size_t i = 0; i + 1 < ranges.size(); i += 2)
                total += (static_cast<double>(ranges[i + 1]) - static_cast<double>(ranges[i])) * duration;
        }
        if (!selection || selection->selectionFrom(0.0f, 1.0f) != 1)
            wholeBars = false;
    }
    if (wholeBars) {
        view_.setText(Text::CurrentBar, number(static_cast<int64_t>(selected.size())));
        view_.setText(Text::CurrentBeat, rp::localized(selected.size() < 2 ? "bar" : "bars"));
    } else {
        view_.setText(Text::CurrentBar, "-");
        view_.setText(Text::CurrentBeat, rp::localized("beats"));
    }
    view_.setText(Text::CurrentTime, minutesSecondsText(total));
    view_.setText(Text::CurrentMsecs, millisecondsText(total));
}

void ORPInspectorController::refresh()
{
    using Text = ORPInspectorView::Text;
    using Control = ORPInspectorView::Control;
    using Stepper = ORPInspectorView::Stepper;
    static constexpr std::pair<Control, const char*> kButtons[] = {
        { Control::InsertBar, "insertBarAction:" },
        { Control::InsertBeat, "insertBeatAction:" },
        { Control::DeleteBeats, "deleteBeatsAction:" },
        { Control::ZoomIn, "zoomIn:" },
        { Control::ZoomOut, "zoomOut:" },
    };
    const bool playing = editorIsPlaying();
    const std::vector<ORPPatternInstancePtr> affected
        = editor_ ? editor_->affectedPatternInstances() : std::vector<ORPPatternInstancePtr> {};

    if (editor_ && !editor_->hasSelection()) {
        float place = editor_->insertionPointPlace();
        if (place == 1.0f) {
            // The end of a bar is the start of the next one, except at the end of the song.
            const auto index = editor_->insertionPointIndex();
            const auto count = editor_->patternInstances().size();
            if (!(index && count > 0 && *index == count - 1))
                place = 0.0f;
        }
        if (!affected.empty())
            refreshPositionIndicator(*affected.front(), place);
    } else if (editor_) {
        showSelectionTotals();
    }

    if (!editor_ || editor_->patternInstances().empty()) {
        for (Text text : { Text::TsTop, Text::TsBottom, Text::Tempo })
            view_.setText(text, "");
        for (Control control : { Control::TsTop, Control::TsBottom, Control::Tempo, Control::BeatBasis })
            view_.setEnabled(control, false);
        view_.selectBeatBasis(std::nullopt);
    } else {
        bool sameTop = true, sameBottom = true, sameTempo = true, sameBasis = true;
        for (size_t i = 0; i < affected.size(); ++i) {
            const auto& pattern = affected[i]->pattern();
            if (!pattern)
                continue;
            if (i == 0) {
                defTempo_ = pattern->bpm();
                defBeatBasis_ = pattern->beatBasis();
                defTimeTop_ = pattern->timeSignatureTop();
                defTimeBottom_ = pattern->timeSignatureBottom();
                continue;
            }
            sameTempo = sameTempo && pattern->bpm() == defTempo_;
            sameBasis = sameBasis && pattern->beatBasis() == defBeatBasis_;
            sameTop = sameTop && pattern->timeSignatureTop() == defTimeTop_;
            sameBottom = sameBottom && pattern->timeSignatureBottom() == defTimeBottom_;
        }
        tsTopStepper_ = defTimeTop_;
        tsBottomStepper_ = defTimeBottom_ > 0 ? truncated(std::log2(static_cast<double>(defTimeBottom_))) : 0;
        view_.setText(Text::TsTop, sameTop ? number(defTimeTop_) : kEllipsis);
        view_.setStepperValue(Stepper::TsTop, tsTopStepper_);
        view_.setText(Text::TsBottom, sameBottom ? number(defTimeBottom_) : kEllipsis);
        view_.setStepperValue(Stepper::TsBottomExponent, tsBottomStepper_);
        view_.setText(Text::Tempo, sameTempo ? number(truncated(defTempo_)) : kEllipsis);
        view_.setStepperValue(Stepper::Tempo, truncated(defTempo_));
        view_.selectBeatBasis(sameBasis ? std::optional<float>(defBeatBasis_) : std::nullopt);
        // The meter cannot change under a running bar; the tempo and the basis can.
        view_.setEnabled(Control::TsTop, !playing);
        view_.setEnabled(Control::TsBottom, !playing);
        view_.setEnabled(Control::Tempo, true);
        view_.setEnabled(Control::BeatBasis, true);
    }

    for (const auto& [control, action] : kButtons)
        view_.setEnabled(control, editor_ && editor_->validateAction(action).enabled);
}

void ORPInspectorController::showPlayingInstance(const ORPPatternInstancePtr& instance, float place)
{
    using Text = ORPInspectorView::Text;
    if (!instance)
        return;
    refreshPositionIndicator(*instance, place);
    if (instance == lastPlayingPatti_ || !instance->pattern())
        return;
    const auto& pattern = instance->pattern();
    view_.setText(Text::TsTop, number(pattern->timeSignatureTop()));
    view_.setText(Text::TsBottom, number(pattern->timeSignatureBottom()));
    view_.setText(Text::Tempo, number(truncated(pattern->bpm())));
    view_.selectBeatBasis(pattern->beatBasis());
    lastPlayingPatti_ = instance;
}

// --- Edits ---

rp::UndoManager* ORPInspectorController::undoManager(const std::vector<ORPPatternInstancePtr>& affected) const
{
    for (const auto& instance : affected)
        if (instance->pattern())
            if (auto* undo = instance->pattern()->undoManager())
                return undo;
    return nullptr;
}

void ORPInspectorController::editAffectedPatterns(const std::string& name, const std::function<bool(ORPPattern&)>& edit)
{
    if (!editor_)
        return;
    const auto affected = editor_->affectedPatternInstances();
    std::vector<ORPPattern*> patterns;
    for (const auto& instance : affected) {
        ORPPattern* pattern = instance->pattern().get();
        // A bar played twice in the playlist is one pattern: it is changed once.
        if (pattern && std::find(patterns.begin(), patterns.end(), pattern) == patterns.end())
            patterns.push_back(pattern);
    }
    rp::UndoManager* undo = undoManager(affected);
    if (undo)
        undo->beginUndoGrouping();
    bool changed = false;
    for (ORPPattern* pattern : patterns)
        changed = edit(*pattern) || changed;
    if (undo) {
        // Named while open: an action that changed nothing leaves no step and renames none.
        if (changed)
            undo->setActionName(rp::localized(name));
        undo->endUndoGrouping();
    }
}

void ORPInspectorController::tempoChanged(int64_t tempo)
{
    tempo = std::clamp(tempo, kMinTempo, kMaxTempo);
    defTempo_ = static_cast<float>(tempo);
    const float newTempo = defTempo_;
    editAffectedPatterns("Tempo Change", [&](ORPPattern& pattern) {
        const float before = pattern.duration();
        pattern.setBpm(newTempo, pattern.beatBasis());
        return pattern.duration() != before;
    });
    if (editor_)
        view_.makeEditorWindowKey();
}

void ORPInspectorController::timeSigChanged(TimeSigSender sender, int64_t value)
{
    using Stepper = ORPInspectorView::Stepper;
    switch (sender) {
    case TimeSigSender::TopField:
    case TimeSigSender::TopStepper:
        tsTopStepper_ = std::clamp(value, kMinTop, kMaxTop);
        break;
    case TimeSigSender::BottomField:
        // The bottom is a power of two: a typed 6 becomes 4, a typed 12 becomes 8.
        tsBottomStepper_ = std::clamp(
            value >= 1 ? truncated(std::log2(static_cast<double>(value))) : 0, kMinBottomExponent, kMaxBottomExponent);
        break;
    case TimeSigSender::BottomStepper:
        tsBottomStepper_ = std::clamp(value, kMinBottomExponent, kMaxBottomExponent);
        break;
    }
    view_.setStepperValue(Stepper::TsTop, tsTopStepper_);
    view_.setStepperValue(Stepper::TsBottomExponent, tsBottomStepper_);
    defTimeTop_ = static_cast<int16_t>(tsTopStepper_);
    defTimeBottom_ = static_cast<int16_t>(1 << tsBottomStepper_);
    defBeatBasis_ = ORPPattern::beatBasisForTimeSignatureTop(defTimeTop_, defTimeBottom_);
    // Copies: the patterns' notifications refresh the panel (and the def values) while this runs.
    const int16_t newTop = defTimeTop_;
    const int16_t newBottom = defTimeBottom_;
    const float newBasis = defBeatBasis_;
    editAffectedPatterns("Time Signature", [&](ORPPattern& pattern) {
        // The tempo number stays whatever the meter: a bar keeps its bpm and gets longer or shorter.
        const float bpm = pattern.bpm();
        const int16_t top = pattern.timeSignatureTop();
        const int16_t bottom = pattern.timeSignatureBottom();
        const float basis = pattern.beatBasis();
        const float duration = pattern.duration();
        pattern.setTimeSignatureTop(newTop, newBottom);
        pattern.setBpm(bpm, newBasis);
        return pattern.timeSignatureTop() != top || pattern.timeSignatureBottom() != bottom
            || pattern.beatBasis() != basis || pattern.duration() != duration;
    });
    if (editor_)
        view_.makeEditorWindowKey();
}

void ORPInspectorController::beatBasisChosen(float basis)
{
    if (!(basis > 0) || !std::isfinite(basis))
        return;
    editAffectedPatterns("Time Signature", [&](ORPPattern& pattern) {
        const float old = pattern.beatBasis();
        if (old == basis || !(old > 0))
            return false;
        // The same speed counted in another note value.
        pattern.setBpm(static_cast<float>(static_cast<double>(pattern.bpm()) * basis / old), basis);
        return pattern.beatBasis() != old;
    });
}

void ORPInspectorController::velocityChanged(double value)
{
    if (!(value == value))
        return;
    value = std::clamp(value, 0.0, 1.0);
    view_.setText(ORPInspectorView::Text::Velocity, number(truncated(value * 10)));
    defaults_.setDouble(static_cast<double>(static_cast<float>(value)), kDefaultVelocityKey);
}

void ORPInspectorController::transportAction(Transport button, ORPEditorModifiers modifiers)
{
    if (!editor_)
        return;
    rp::editor::KeyInput key;
    key.modifiers = modifiers;
    switch (button) {
    case Transport::PlayStop:
        editor_->playOrStopAction();
        return;
    case Transport::Back:
        key.key = rp::editor::EditorKey::Left;
        break;
    case Transport::Forward:
        key.key = rp::editor::EditorKey::Right;
        break;
    case Transport::Start:
        key.key = rp::editor::EditorKey::Up;
        key.modifiers.command = true;
        break;
    case Transport::End:
        key.key = rp::editor::EditorKey::Down;
        key.modifiers.command = true;
        break;
    }
    editor_->keyDown(key);
}

// --- Options ---

float ORPInspectorController::defaultVelocity() const
{
    return static_cast<float>(defaults_.doubleForKey(kDefaultVelocityKey));
}

bool ORPInspectorController::loopingEnabled() const
{
    return defaults_.boolForKey(kLoopPlaybackKey);
}

void ORPInspectorController::setLoopingEnabled(bool flag)
{
    defaults_.setBool(flag, kLoopPlaybackKey);
}

bool ORPInspectorController::recordEnabled() const
{
    return defaults_.boolForKey(kRecordEnabledKey);
}

void ORPInspectorController::setRecordEnabled(bool flag)
{
    defaults_.setBool(flag, kRecordEnabledKey);
}

void ORPInspectorController::setMonoEnabled(bool flag)
{
    monoEnabled_ = flag;
    rp::NotificationCenter::defaultCenter().post(ORPMonoPlaybackChangedNotification, this, flag);
}
