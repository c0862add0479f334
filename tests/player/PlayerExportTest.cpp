#include "PlayerTestSupport.h"
#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"
#include "kit/ORPDrumKit.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using namespace rp::test;

// A click as made by makeClickDrum, for building the samples a file should hold.
struct Click {
    size_t frames;
    float peak;
    float tail = 0.125f;
};

// The samples an export should contain, built hit by hit from the musical rules.
struct ExpectedAudio {
    explicit ExpectedAudio(size_t frames)
        : channels(2, std::vector<float>(frames, 0.0f))
    {
    }
    // A hit at `frame` ringing for `length` frames (at most the click's), with a gain per channel.
    void add(size_t frame, const Click& click, float left, float right, size_t length = SIZE_MAX)
    {
        const size_t ring = std::min(length, click.frames);
        for (size_t i = 0; i < ring && frame + i < channels[0].size(); ++i) {
            const float sample = i == 0 ? click.peak : click.tail;
            channels[0][frame + i] += sample * left;
            channels[1][frame + i] += sample * right;
        }
    }
    void scale(float level)
    {
        for (auto& channel : channels) {
            for (float& sample : channel) {
                sample *= level;
            }
        }
    }
    std::vector<std::vector<float>> channels;
};

// Every sample equal (within float rounding); reports the first difference.
void expectSameAudio(
    const std::vector<std::vector<float>>& actual, const std::vector<std::vector<float>>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t c = 0; c < actual.size(); ++c) {
        ASSERT_EQ(actual[c].size(), expected[c].size()) << "channel " << c;
        for (size_t f = 0; f < actual[c].size(); ++f) {
            if (std::abs(actual[c][f] - expected[c][f]) > 1e-6f) {
                ADD_FAILURE() << "channel " << c << " frame " << f << ": " << actual[c][f] << " instead of "
                              << expected[c][f];
                return;
            }
        }
    }
}

class PlayerExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        player = ORPPlayer::init(AudioDeviceKind::Null);
        ASSERT_TRUE(player);
        std::filesystem::create_directory(dir / "out");
    }

    // Runs an export to its end and returns the progress it reported.
    std::shared_ptr<RecordingProgress> exportBars(const std::vector<ORPPatternInstancePtr>& bars,
        unsigned mode, const std::optional<ORPExportRequest>& request,
        std::function<void(const std::string&)> onFile = {})
    {
        auto progress = std::make_shared<RecordingProgress>();
        progress->onFile = std::move(onFile);
        player->exportPatternInstances(
            bars, mode, kit, std::string("Title"), std::nullopt, "Song.rpsong", request, prompt, progress);
        EXPECT_TRUE(waitForExport(*player, player->isExporting() ? progress.get() : nullptr));
        return progress;
    }

    ScopedKitDefaults defaults;
    TempDir dir;
    rp::ScriptedPrompt prompt;
    std::shared_ptr<ORPDrumKit> kit = ORPDrumKit::kit();
    std::shared_ptr<ORPPlayer> player;
};

TEST_F(PlayerExport, MixedFileHasEveryHitOnItsFrameAtItsLevelAndPanForTheLengthOfTheBars)
{
    const Click kickClick { 1000, 0.5f };
    const Click snareClick { 500, 0.75f };
    auto kick = makeClickDrum(dir, "Kicks", "Kick", "default", kickClick.frames, kickClick.peak);
    auto snare = makeClickDrum(dir, "Snares", "Snare", "default", snareClick.frames, snareClick.peak);
    snare->storedSound()->setPanning(-1.0f); // left only
    snare->storedSound()->setVolume(0.5f);
    // Bars of different lengths, laid end to end: 1 s then 0.5 s.
    const std::vector bars { makeBar(1.0f, { { kick, 0.0f }, { snare, 0.25f, 0.5f } }),
        makeBar(0.5f, { { kick, 0.5f, 0.8f }, { snare, 0.5f } }) };
    player->setMasterLevel(0.5f);

    const auto path = dir / "out" / "Song.wav";
    const auto progress = exportBars(bars, 0, floatWaveRequest(path));
    EXPECT_EQ(progress->files, std::vector<std::string> { path.string() });
    EXPECT_EQ(progress->instances, bars);
    EXPECT_TRUE(progress->finished && !progress->canceled);

    ExpectedAudio expected(66150); // 1.5 s
    expected.add(0, kickClick, 1.0f, 1.0f);
    expected.add(11025, snareClick, 0.25f, 0.0f);
    expected.add(55125, kickClick, 0.8f, 0.8f);
    expected.add(55125, snareClick, 0.5f, 0.0f); // two hits on one frame add up
    expected.scale(0.5f);
    expectSameAudio(readChannels(path), expected.channels);
}

TEST_F(PlayerExport, FinalDecayDecidesWhetherTheLastSoundRingsOutPastTheBars)
{
    const Click cymbalClick { 66150, 0.5f }; // 1.5 s
    auto cymbal = makeClickDrum(dir, "Cymbals", "Crash", "default", cymbalClick.frames, cymbalClick.peak);
    const std::vector bars { makeBar(1.0f, {}), makeBar(1.0f, { { cymbal, 0.75f } }) };

    // On: the file ends when the crash at 1.75 s has died away, at 3.25 s.
    const auto ringing = dir / "out" / "ringing.wav";
    exportBars(bars, 0, floatWaveRequest(ringing));
    ExpectedAudio expected(143325);
    expected.add(77175, cymbalClick, 1.0f, 1.0f);
    expectSameAudio(readChannels(ringing), expected.channels);

    // Off: the file is as long as the bars and the crash is cut there.
    defaults.store().setBool(false, RPAllowFinalSoundDecayKey);
    const auto cut = dir / "out" / "cut.wav";
    exportBars(bars, 0, floatWaveRequest(cut));
    ExpectedAudio cutExpected(88200);
    cutExpected.add(77175, cymbalClick, 1.0f, 1.0f);
    expectSameAudio(readChannels(cut), cutExpected.channels);
}

TEST_F(PlayerExport, SameTypeHitWithPrecedenceChokesARingingHitEvenInTheNextBar)
{
    const Click openClick { 66150, 0.5f }; // rings 1.5 s
    const Click shortClick { 100, 0.25f };
    auto open = makeClickDrum(dir, "Hats", "Hi-Hat", "open", openClick.frames, openClick.peak);
    auto closed = makeClickDrum(dir, "Hats", "hi-hat", "closed", shortClick.frames, shortClick.peak);
    closed->setVariantPrecedence(true);
    auto pedal = makeClickDrum(dir, "Hats", "Hi-Hat", "pedal", shortClick.frames, shortClick.peak);
    auto tom = makeClickDrum(dir, "Toms", "Tom", "default", shortClick.frames, shortClick.peak);
    tom->setVariantPrecedence(true);
    // The open hat at 0.5 s; a tom (other type, precedence) and a pedal hat (same type, no
    // precedence) do not cut it; the closed hat at 1.25 s does.
    const std::vector bars { makeBar(1.0f, { { open, 0.5f }, { tom, 0.75f } }),
        makeBar(1.0f, { { pedal, 0.0f }, { closed, 0.25f } }) };

    const auto path = dir / "out" / "hats.wav";
    exportBars(bars, 0, floatWaveRequest(path));
    ExpectedAudio expected(88200);
    expected.add(22050, openClick, 1.0f, 1.0f, 33075); // 0.75 s, up to the closed hat
    expected.add(33075, shortClick, 1.0f, 1.0f);
    expected.add(44100, shortClick, 1.0f, 1.0f);
    expected.add(55125, shortClick, 1.0f, 1.0f);
    expectSameAudio(readChannels(path), expected.channels);
}

TEST_F(PlayerExport, GroupFilesHoldOnlyTheirGroupAndAreAllAsLongAsTheBars)
{
    defaults.store().setBool(false, RPAllowFinalSoundDecayKey);
    const Click longClick { 66150, 0.5f };
    const Click snareClick { 300, 0.75f };
    auto kick = makeClickDrum(dir, "Kicks", "Kick", "default", longClick.frames, longClick.peak);
    auto snare = makeClickDrum(dir, "Snares", "Snare", "default", snareClick.frames, snareClick.peak);
    auto tom = makeClickDrum(dir, "Toms", "Tom", "default", snareClick.frames, snareClick.peak);
    kit->addDrum(kick);
    kit->addDrum(snare);
    kit->addDrum(tom);
    // The kick still rings at the end of the last bar: none of it may reach the next group's file.
    const std::vector bars { makeBar(1.0f, { { snare, 0.0f } }), makeBar(1.0f, { { kick, 0.5f } }) };

    const auto base = dir / "out" / "Song.wav";
    const auto progress = exportBars(bars, 1, floatWaveRequest(base));
    const std::vector<std::string> names { (dir / "out" / "Song (Kicks).wav").string(),
        (dir / "out" / "Song (Snares).wav").string(), (dir / "out" / "Song (Toms).wav").string() };
    EXPECT_EQ(progress->files, names);
    EXPECT_EQ(progress->instances.size(), 6u); // each file walks both bars
    EXPECT_FALSE(std::filesystem::exists(base));

    ExpectedAudio kicks(88200);
    kicks.add(66150, longClick, 1.0f, 1.0f);
    expectSameAudio(readChannels(names[0]), kicks.channels);
    ExpectedAudio snares(88200);
    snares.add(0, snareClick, 1.0f, 1.0f);
    expectSameAudio(readChannels(names[1]), snares.channels);
    expectSameAudio(readChannels(names[2]), ExpectedAudio(88200).channels); // silence, full length
}

TEST_F(PlayerExport, CancelDuringTheSecondFileLeavesNoFileOfTheExport)
{
    for (const char* group : { "A", "B", "C" }) {
        kit->addDrum(makeClickDrum(dir, group, std::string("Drum ") + group, "default", 200));
    }
    std::vector<ORPPatternInstancePtr> bars;
    for (int i = 0; i < 8; ++i) {
        bars.push_back(makeBar(1.0f, { { kit->drums()[0], 0.0f }, { kit->drums()[1], 0.5f } }));
    }
    const auto progress
        = exportBars(bars, 1, floatWaveRequest(dir / "out" / "Song.aiff"), [this](const std::string&) {
              if (std::filesystem::exists(dir / "out" / "Song (A).aiff")) {
                  player->cancelExport(); // from inside the progress call, as the sheet's button may
              }
          });
    EXPECT_TRUE(progress->finished && progress->canceled);
    EXPECT_EQ(progress->files.size(), 2u);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlayerExport, ChosenFormatAndFolderAreRememberedForTheNextExport)
{
    EXPECT_EQ(ORPPlayer::rememberedExportFormat().fileType, kAudioFileAIFFType);
    auto drum = makeClickDrum(dir, "G", "Drum", "default", 100);
    ORPExportRequest request;
    request.fileType = kAudioFileWAVEType;
    request.streamDescription = AudioStreamBasicDescription::bigEndianInteger(48000, 1, 24);
    request.path = (dir / "out" / "mono.wav").string();
    exportBars({ makeBar(0.5f, { { drum, 0.0f } }) }, 0, request);

    const auto after = ORPPlayer::rememberedExportFormat();
    EXPECT_EQ(after.fileType, kAudioFileWAVEType);
    EXPECT_EQ(after.streamDescription.mSampleRate, 48000.0);
    EXPECT_EQ(after.streamDescription.mBitsPerChannel, 24u);
    EXPECT_EQ(after.streamDescription.mChannelsPerFrame, 1u);
    EXPECT_EQ(ORPUserDefaults::exportDirectoryURL(), dir / "out");
    SF_INFO info {};
    const auto channels = readChannels(request.path, &info);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.frames, 24000); // 0.5 s at 48 kHz
    // The click, resampled to the file's rate, starts the file.
    EXPECT_GT(*std::max_element(channels[0].begin(), channels[0].begin() + 50), 0.1f);
}

TEST_F(PlayerExport, BadModeDismissedPanelAndUnwritableFileEndWithoutHarm)
{
    auto drum = makeClickDrum(dir, "G", "Drum", "default", 100);
    const std::vector bars { makeBar(0.5f, { { drum, 0.0f } }) };
    {
        rp::LogCapture log;
        exportBars(bars, 3, floatWaveRequest(dir / "out" / "x.wav"));
        EXPECT_TRUE(log.contains("ORPPlayer: error, bad exportMode (3) passed to exportPatternInstances!"));
        EXPECT_TRUE(player->exportCanceled());
    }
    const auto dismissed = exportBars(bars, 0, std::nullopt);
    EXPECT_TRUE(dismissed->files.empty());
    EXPECT_FALSE(dismissed->finished);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
    {
        rp::LogCapture log;
        const auto progress = exportBars(bars, 0, floatWaveRequest(dir / "missing" / "x.wav"));
        EXPECT_TRUE(log.contains("OAFileOutput: failed to create file"));
        EXPECT_TRUE(progress->finished);
    }
}

TEST_F(PlayerExport, MIDIFileAlertCountsUsedUnmappedDrumsAndCancelWritesNoFile)
{
    kit->setKitName("Test Kit");
    auto mapped = makeClickDrum(dir, "G", "Kick", "default", 100);
    mapped->setMidiChannel(9);
    mapped->setMidiNote(36);
    mapped->setMidiVelocity(100);
    auto snare = makeClickDrum(dir, "G", "Snare", "default", 100);
    auto tom = makeClickDrum(dir, "G", "Tom", "default", 100);
    auto unused = makeClickDrum(dir, "G", "Cowbell", "default", 100);
    for (const auto& drum : { mapped, snare, tom, unused }) {
        kit->addDrum(drum);
    }
    const auto path = dir / "out" / "Song.mid";
    ORPExportRequest request;
    request.path = path.string();

    // Two unmapped drums used (the unused one does not count): plural text; Cancel ends it.
    prompt.answerAlert(1, "Some drums do not have MIDI note assignments.");
    exportBars({ makeBar(1.0f, { { mapped, 0.0f }, { snare, 0.25f }, { tom, 0.5f }, { snare, 0.75f } }) }, 2,
        request);
    ASSERT_EQ(prompt.asked().size(), 1u);
    EXPECT_EQ(prompt.asked()[0].message, "2 instruments from Test Kit will be missing from the MIDI file.");
    EXPECT_EQ(prompt.asked()[0].buttons, (std::vector<std::string> { "Continue", "Cancel" }));
    EXPECT_FALSE(std::filesystem::exists(path));

    // One: singular text; Continue writes the file with the texts.
    prompt.answerAlert(0);
    const auto bars = std::vector { makeBar(1.0f, { { mapped, 0.0f }, { snare, 0.5f } }) };
    const auto progress = exportBars(bars, 2, request);
    ASSERT_EQ(prompt.asked().size(), 2u);
    EXPECT_EQ(prompt.asked()[1].message, "One instrument from Test Kit will be missing from the MIDI file.");
    EXPECT_EQ(progress->files, std::vector<std::string> { path.string() });
    EXPECT_TRUE(progress->finished);
    const auto bytes = readFileBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    for (const char* expected : { "MThd", "Generated by Orrery Rattlepan 2.0", "Title", "Test Kit" }) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }

    // Every drum mapped: no alert (the scripted prompt would refuse one). Cancelled: no file.
    std::filesystem::remove(path);
    const auto onlyMapped = std::vector { makeBar(1.0f, { { mapped, 0.0f } }) };
    const auto canceled
        = exportBars(onlyMapped, 2, request, [this](const std::string&) { player->cancelExport(); });
    EXPECT_TRUE(canceled->canceled);
    EXPECT_FALSE(std::filesystem::exists(path));
    prompt.verifyAllAnswered();
}

} // namespace
