// The transport inspector over real songs and a real pattern editor: what the panel shows for the
// affected bars, the tempo, meter and beat-basis edits with their undo steps, the position display and
// the transport buttons.

#include "editor/ORPInspectorController.h"
#include "editor/PatternEditorTestSupport.h"

#include "kit/ORPUserDefaults.h"
#include "player/ORPPlayer.h"

#include <map>

namespace {

using Text = ORPInspectorView::Text;
using Control = ORPInspectorView::Control;
using Stepper = ORPInspectorView::Stepper;
using Sender = ORPInspectorController::TimeSigSender;

const std::string kEllipsis = "\xE2\x80\xA6";

class FakeInspectorView : public ORPInspectorView {
public:
    void setText(Text field, const std::string& value) override { text[field] = value; }
    void setStepperValue(Stepper stepper, int64_t value) override { steppers[stepper] = value; }
    void setEnabled(Control control, bool flag) override { enabled[control] = flag; }
    void selectBeatBasis(std::optional<float> value) override { basis = value; }
    void setVelocitySliderValue(double value) override { slider = value; }
    void setPlayStopImage(const std::string& name) override { image = name; }
    void makeEditorWindowKey() override { ++editorKeyRequests; }

    std::map<Text, std::string> text;
    std::map<Stepper, int64_t> steppers;
    std::map<Control, bool> enabled;
    std::optional<float> basis;
    double slider = -1;
    std::string image;
    int editorKeyRequests = 0;
};

struct Inspector : rp::test::EditorFixture {
    Inspector() { inspector.setPatternEditor(editor); }
    ~Inspector() override { inspector.setPatternEditor(nullptr); }

    rp::UndoManager& undo() { return song.document->undo; }
    ORPPatternPtr pattern(size_t index) const { return bar(index)->pattern(); }
    // `count` bars of 4/4 at 120, edited through the playlist.
    void bars(size_t count)
    {
        setBars(count);
        editPlaylist();
    }
    void select(std::initializer_list<size_t> indexes, float from = 0.0f, float to = 1.0f)
    {
        for (size_t index : indexes)
            editor->setSelected(bar(index), true, from, to);
        rp::NotificationQueue::defaultQueue().flush();
    }
    std::vector<std::string> position() const
    {
        return { view.text.at(Text::CurrentBar), view.text.at(Text::CurrentBeat), view.text.at(Text::CurrentTime),
            view.text.at(Text::CurrentMsecs) };
    }
    size_t undoSteps()
    {
        size_t steps = 0;
        while (undo().canUndo()) {
            undo().undo();
            ++steps;
        }
        while (undo().canRedo())
            undo().redo();
        return steps;
    }

    FakeInspectorView view;
    ORPInspectorController inspector { view, defaults.store() };
};

TEST_F(Inspector, BarsThatDisagreeShowAnEllipsisWhileTheSteppersHoldTheFirstBar)
{
    bars(3);
    pattern(0)->setTimeSignatureTop(3, 4);
    pattern(1)->setBpm(100, 4);
    undo().removeAllActions();
    select({ 0, 1 });
    EXPECT_EQ(view.text[Text::TsTop], kEllipsis);
    EXPECT_EQ(view.steppers[Stepper::TsTop], 3);
    EXPECT_EQ(view.text[Text::TsBottom], "4");
    EXPECT_EQ(view.steppers[Stepper::TsBottomExponent], 2);
    EXPECT_EQ(view.text[Text::Tempo], kEllipsis);
    EXPECT_EQ(view.steppers[Stepper::Tempo], 90); // 3/4 over 2 s
    EXPECT_EQ(view.basis, std::optional<float>(4.0f));

    // Bars with different beat bases show the blank item; agreeing bars show their values again.
    pattern(1)->setBpm(200, 8);
    EXPECT_EQ(view.basis, std::nullopt);
    // (A new beat basis regrids the bar, and the editor drops its selection then.)
    pattern(1)->setBpm(120, 4);
    editor->deselectAll();
    select({ 1, 2 }, 0.0f, 0.5f);
    EXPECT_EQ(view.text[Text::TsTop], "4");
    EXPECT_EQ(view.text[Text::Tempo], "120");
    EXPECT_EQ(view.basis, std::optional<float>(4.0f));
    // A bar outside the affected ones changing does not reach the panel.
    view.text[Text::Tempo] = "untouched";
    pattern(0)->setBpm(60, 4);
    EXPECT_EQ(view.text[Text::Tempo], "untouched");
}

TEST_F(Inspector, ATypedBottomBecomesThePowerOfTwoBelowItForEveryAffectedBar)
{
    bars(3);
    struct Case {
        Sender sender;
        int64_t typed;
        int16_t top, bottom;
    };
    for (const Case& c : std::vector<Case> {
             { Sender::BottomField, 6, 4, 4 },
             { Sender::BottomField, 12, 4, 8 },
             { Sender::BottomField, 2, 4, 2 },
             { Sender::BottomField, 0, 4, 1 },      // nothing sensible typed: the smallest bottom
             { Sender::BottomField, 100000, 4, 64 }, // bounded by the stepper
             { Sender::BottomStepper, 3, 4, 8 },
             { Sender::TopField, 7, 7, 8 },
             { Sender::TopField, -5, 1, 8 },
             { Sender::TopStepper, 500, 64, 8 },
         }) {
        // A new meter regrids the bars and the editor drops its selection: select again each time.
        select({ 0, 2 });
        inspector.timeSigChanged(c.sender, c.typed);
        for (size_t index : { 0u, 2u }) {
            EXPECT_EQ(pattern(index)->timeSignatureTop(), c.top) << c.typed;
            EXPECT_EQ(pattern(index)->timeSignatureBottom(), c.bottom) << c.typed;
        }
        EXPECT_EQ(pattern(1)->timeSignatureBottom(), 4); // not affected
        EXPECT_EQ(view.text[Text::TsBottom], std::to_string(c.bottom)) << c.typed;
    }
    EXPECT_EQ(undo().undoActionName(), "Time Signature");
    EXPECT_GT(view.editorKeyRequests, 0);
}

TEST_F(Inspector, MeterChangesKeepTheTempoNumberAndTakeTheMetersBeatBasis)
{
    bars(2);
    select({ 0 });
    inspector.timeSigChanged(Sender::TopField, 6);
    EXPECT_FALSE(editor->hasSelection());
    select({ 0 });
    inspector.timeSigChanged(Sender::BottomField, 8);
    EXPECT_EQ(pattern(0)->bpm(), 120);
    EXPECT_FLOAT_EQ(pattern(0)->beatBasis(), 8.0f / 3.0f);
    EXPECT_EQ(view.text[Text::Tempo], "120");
    EXPECT_EQ(view.basis, std::optional<float>(8.0f / 3.0f));

    // A meter with the same beat basis keeps the tempo too: the bar gets shorter, not slower.
    select({ 0 });
    inspector.timeSigChanged(Sender::BottomField, 4);
    select({ 0 });
    inspector.timeSigChanged(Sender::TopField, 3);
    EXPECT_EQ(pattern(0)->bpm(), 120);
    EXPECT_FLOAT_EQ(pattern(0)->duration(), 1.5f);
    EXPECT_EQ(pattern(1)->timeSignatureTop(), 4);
}

TEST_F(Inspector, EachEditIsOneNamedUndoStepAndAnEditThatChangesNothingLeavesNone)
{
    bars(3);
    select({ 0, 1, 2 });
    inspector.tempoChanged(90);
    for (size_t index : { 0u, 1u, 2u })
        EXPECT_EQ(pattern(index)->bpm(), 90);
    EXPECT_EQ(undo().undoActionName(), "Tempo Change");
    EXPECT_EQ(undoSteps(), 1u);
    inspector.tempoChanged(90);
    EXPECT_EQ(undoSteps(), 1u);

    // Quarter to eighth at 90 counts twice as many beats at the same speed.
    inspector.beatBasisChosen(8);
    EXPECT_EQ(pattern(2)->bpm(), 180);
    EXPECT_FLOAT_EQ(pattern(2)->duration(), 2.0f * 120 / 90);
    EXPECT_EQ(undo().undoActionName(), "Time Signature");
    EXPECT_EQ(undoSteps(), 2u);
    inspector.beatBasisChosen(8);
    EXPECT_EQ(undoSteps(), 2u);
    EXPECT_EQ(undo().undoActionName(), "Time Signature");

    // Undoing brings every bar back and the panel follows the patterns' notifications.
    undo().undo();
    undo().undo();
    for (size_t index : { 0u, 1u, 2u })
        EXPECT_EQ(pattern(index)->bpm(), 120);
    EXPECT_EQ(view.text[Text::Tempo], "120");
    EXPECT_EQ(view.basis, std::optional<float>(4.0f));
}

TEST_F(Inspector, QuarterToEighthAt120Gives240)
{
    bars(1);
    editor->moveInsertionPointToPlace(0.25f, bar(0));
    inspector.beatBasisChosen(8);
    EXPECT_EQ(pattern(0)->bpm(), 240);
    EXPECT_FLOAT_EQ(pattern(0)->duration(), 2.0f);
    EXPECT_EQ(view.text[Text::Tempo], "240");
}

TEST_F(Inspector, APlaylistEntryPlayedTwiceChangesItsPatternOnce)
{
    bars(1);
    entry()->setNumberOfTimes(2);
    editPlaylist();
    ASSERT_EQ(editor->instances().size(), 2u);
    select({ 0, 1 });
    inspector.beatBasisChosen(8);
    EXPECT_EQ(pattern(0)->bpm(), 240); // not 480
}

TEST_F(Inspector, ThePositionShowsTheInsertionPointWithTheEndOfABarAsTheNextOnesStart)
{
    bars(3);
    struct Case {
        size_t bar;
        float place;
        std::vector<std::string> shown;
    };
    for (const Case& c : std::vector<Case> {
             { 0, 0.0f, { "1", "1|4", "0:00", ".000" } },
             { 0, 0.5f, { "1", "3|4", "0:01", ".000" } },
             { 1, 0.875f, { "2", "4|4", "0:03", ".750" } },
             { 0, 1.0f, { "2", "1|4", "0:02", ".000" } }, // not the last bar: the next bar's start
             { 2, 1.0f, { "3", "4|4", "0:06", ".000" } }, // the song's end stays the end
         }) {
        editor->moveInsertionPointToPlace(c.place, bar(c.bar));
        EXPECT_EQ(position(), c.shown) << c.bar << " " << c.place;
    }
}

TEST_F(Inspector, ASelectionShowsItsBarsOrItsLengthInBeats)
{
    bars(3);
    select({ 0, 1, 2 });
    EXPECT_EQ(position(), (std::vector<std::string> { "3", "bars", "0:06", ".000" }));
    editor->deselectAll();
    select({ 1 });
    EXPECT_EQ(position(), (std::vector<std::string> { "1", "bar", "0:02", ".000" }));
    editor->deselectAll();
    select({ 0 }, 0.25f, 0.5f);
    select({ 1 });
    EXPECT_EQ(position(), (std::vector<std::string> { "-", "beats", "0:02", ".500" }));

    // Ten bars of 6 s and a quarter of another: 61.5 s.
    setBars(11);
    for (const auto& p : section()->patterns())
        p->setBpm(40, 4);
    editPlaylist();
    editor->deselectAll();
    for (size_t index = 0; index < 10; ++index)
        editor->setSelected(bar(index), true, 0.0f, 1.0f);
    select({ 10 }, 0.0f, 0.25f);
    EXPECT_EQ(position(), (std::vector<std::string> { "-", "beats", "1:01", ".500" }));
}

TEST(InspectorTexts, TimesReadAsMinutesSecondsAndMilliseconds)
{
    struct Case {
        double seconds;
        const char* clock;
        const char* millis;
    };
    for (const Case& c : std::vector<Case> { { 61.5, "1:01", ".500" }, { 0, "0:00", ".000" },
             { 59.9999, "0:59", ".999" }, { 600.25, "10:00", ".250" }, { 3725.0, "62:05", ".000" },
             { -3, "0:00", ".000" } }) {
        EXPECT_EQ(ORPInspectorController::minutesSecondsText(c.seconds), c.clock) << c.seconds;
        EXPECT_EQ(ORPInspectorController::millisecondsText(c.seconds), c.millis) << c.seconds;
    }
}

TEST_F(Inspector, WithoutBarsOrAnEditorTheValuesAreEmptyAndDisabled)
{
    editor->setEditedObjects({}, kit);
    inspector.refresh();
    for (Text t : { Text::TsTop, Text::TsBottom, Text::Tempo })
        EXPECT_EQ(view.text[t], "");
    for (Control c : { Control::TsTop, Control::TsBottom, Control::Tempo, Control::BeatBasis })
        EXPECT_FALSE(view.enabled[c]);
    EXPECT_EQ(view.basis, std::nullopt);

    bars(1);
    inspector.refresh();
    EXPECT_TRUE(view.enabled[Control::Tempo]);
    EXPECT_TRUE(view.enabled[Control::InsertBar]);
    EXPECT_TRUE(view.enabled[Control::Velocity]);

    inspector.setPatternEditor(nullptr);
    for (Control c : { Control::InsertBar, Control::ZoomIn, Control::Velocity, Control::Tempo })
        EXPECT_FALSE(view.enabled[c]);
    // Nothing to edit: the actions do nothing rather than fail.
    inspector.tempoChanged(60);
    inspector.transportAction(ORPInspectorController::Transport::PlayStop, {});
    EXPECT_EQ(pattern(0)->bpm(), 120);
    EXPECT_EQ(view.editorKeyRequests, 0);
}

TEST_F(Inspector, TheTransportButtonsMoveTheInsertionPointAsTheArrowKeysDo)
{
    bars(3);
    editor->moveInsertionPointToPlace(0.5f, bar(1));
    inspector.transportAction(ORPInspectorController::Transport::End, {});
    EXPECT_EQ(editor->insertionPatternInstance(), bar(2));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 1.0f);
    inspector.transportAction(ORPInspectorController::Transport::Start, {});
    EXPECT_EQ(editor->insertionPatternInstance(), bar(0));
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.0f);
    EXPECT_EQ(view.text[Text::CurrentBar], "1");
    inspector.transportAction(ORPInspectorController::Transport::Forward, {});
    EXPECT_GT(editor->insertionPointPlace(), 0.0f);
    inspector.transportAction(ORPInspectorController::Transport::Back, {});
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.0f);
    // Shift held while clicking extends the selection, as Shift with the keys does.
    inspector.transportAction(ORPInspectorController::Transport::End, { .shift = true });
    EXPECT_TRUE(editor->hasSelection());
    EXPECT_EQ(editor->selectedPatternInstances().size(), 3u);
}

struct InspectorPlaying : Inspector {
    InspectorPlaying()
    {
        ORPUserDefaults::setDefaults(&defaults.store());
        player = ORPPlayer::init(AudioDeviceKind::Null);
    }
    ~InspectorPlaying() override
    {
        editor->stopPlaying();
        editor->setPlayer(nullptr);
        player.reset();
        ORPUserDefaults::setDefaults(nullptr);
    }
    std::shared_ptr<ORPPlayer> player;
};

TEST_F(InspectorPlaying, WhilePlayingOnlyTheMeterIsLockedAndThePanelFollowsThePlayHead)
{
    ASSERT_TRUE(player);
    bars(2);
    pattern(1)->setTimeSignatureTop(3, 4);
    undo().removeAllActions();
    editor->setPlayer(player);
    editor->moveInsertionPointToPlace(0, bar(0));
    EXPECT_EQ(view.image, "button-play");
    ASSERT_TRUE(editor->startPlayingOnce(false));
    EXPECT_EQ(view.image, "button-stop");
    EXPECT_FALSE(view.enabled[Control::TsTop]);
    EXPECT_FALSE(view.enabled[Control::TsBottom]);
    EXPECT_TRUE(view.enabled[Control::Tempo]);
    EXPECT_TRUE(view.enabled[Control::BeatBasis]);

    // The play head's bar shows its own values once; after that only the position moves.
    inspector.showPlayingInstance(bar(1), 0.5f);
    EXPECT_EQ(view.text[Text::TsTop], "3");
    EXPECT_EQ(view.text[Text::Tempo], "90");
    view.text[Text::TsTop] = "kept";
    inspector.showPlayingInstance(bar(1), 0.75f);
    EXPECT_EQ(view.text[Text::TsTop], "kept");
    EXPECT_EQ(position(), (std::vector<std::string> { "2", "3|3", "0:03", ".500" }));

    editor->stopPlaying();
    EXPECT_EQ(view.image, "button-play");
    EXPECT_TRUE(view.enabled[Control::TsTop]);
}

TEST_F(InspectorPlaying, MonoPlaybackReachesTheEditorsPlayer)
{
    ASSERT_TRUE(player);
    bars(1);
    editor->setPlayer(player);
    rp::test::PostedNotifications posted(ORPMonoPlaybackChangedNotification);
    inspector.setMonoEnabled(true);
    EXPECT_TRUE(player->isMonophonic());
    EXPECT_TRUE(inspector.monoEnabled());
    ASSERT_EQ(posted.count(), 1u);
    EXPECT_EQ(posted.posted[0].object, &inspector);
    inspector.setMonoEnabled(false);
    EXPECT_FALSE(player->isMonophonic());
}

TEST_F(Inspector, TheOptionsLiveInTheDefaultsTheEditorReads)
{
    EXPECT_DOUBLE_EQ(view.slider, 1.0);
    EXPECT_FALSE(inspector.loopingEnabled());
    EXPECT_FALSE(inspector.recordEnabled());
    inspector.velocityChanged(0.75);
    EXPECT_EQ(view.text[Text::Velocity], "7");
    EXPECT_FLOAT_EQ(inspector.defaultVelocity(), 0.75f);
    EXPECT_FLOAT_EQ(editor->defaultVelocity(), 0.75f);
    inspector.velocityChanged(4.0); // beyond the slider
    EXPECT_FLOAT_EQ(editor->defaultVelocity(), 1.0f);
    inspector.setRecordEnabled(true);
    EXPECT_TRUE(editor->recordEnabled());
    inspector.setLoopingEnabled(true);
    EXPECT_TRUE(defaults.store().boolForKey(RPLoopPlaybackKey));
}

} // namespace
