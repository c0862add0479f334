#include "PlayerTestSupport.h"
#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"
#include "kit/ORPDrumKit.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using namespace rp::test;
using Channels = std::vector<std::vector<float>>;

// A click as made by makeClickDrum, for building the samples a file should hold.
struct Click {
    size_t frames;
    float peak;
};

// A hit at `frame` ringing for `length` frames (at most the click's), with a gain per channel.
struct Ring {
    size_t frame;
    Click click;
    float left = 1.0f;
    float right = 1.0f;
    size_t length = SIZE_MAX;
};

// The stereo samples an export should contain, built hit by hit from the musical rules.
Channels expectedAudio(size_t frames, const std::vector<Ring>& rings)
{
    Channels channels(2, std::vector<float>(frames, 0.0f));
    for (const Ring& ring : rings) {
        for (size_t i = 0; i < std::min(ring.length, ring.click.frames) && ring.frame + i < frames; ++i) {
            const float sample = i == 0 ? ring.click.peak : 0.125f;
            channels[0][ring.frame + i] += sample * ring.left;
            channels[1][ring.frame + i] += sample * ring.right;
        }
    }
    return channels;
}

// Every sample equal (within float rounding); reports the first difference.
void expectSameAudio(const std::filesystem::path& path, const Channels& expected)
{
    const Channels actual = readChannels(path);
    ASSERT_EQ(actual.size(), expected.size()) << path;
    for (size_t c = 0; c < actual.size(); ++c) {
        ASSERT_EQ(actual[c].size(), expected[c].size()) << path << " channel " << c;
        const auto [a, e] = std::mismatch(actual[c].begin(), actual[c].end(), expected[c].begin(),
            [](float x, float y) { return std::abs(x - y) <= 1e-6f; });
        EXPECT_TRUE(a == actual[c].end()) << path << " channel " << c << " frame " << (a - actual[c].begin())
                                          << ": " << *a << " instead of " << *e;
    }
}

class PlayerExport : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        std::filesystem::create_directory(dir / "out");
    }

    ORPDrumPtr drum(
        const std::string& group, const std::string& type, const std::string& variant, Click click)
    {
        return makeClickDrum(dir, group, type, variant, click.frames, click.peak);
    }

    // Runs an export to its end and returns the progress it reported.
    std::shared_ptr<RecordingProgress> exportBars(const std::vector<ORPPatternInstancePtr>& bars,
        unsigned mode, const std::optional<ORPExportRequest>& request,
        std::function<void(const std::string&)> onFile = {})
    {
        auto progress = std::make_shared<RecordingProgress>();
        progress->onFile = std::move(onFile);
        const auto choose = [this, request](const ORPExportSetup& setup) {
            setups.push_back(setup);
            return request;
        };
        player->exportPatternInstances(
            bars, mode, kit, std::string("Title"), std::nullopt, "Song.rpsong", choose, prompt, progress);
        EXPECT_TRUE(waitForExport(*player, player->isExporting() ? progress.get() : nullptr));
        return progress;
    }

    rp::ScriptedPrompt prompt;
    std::shared_ptr<ORPDrumKit> kit = ORPDrumKit::kit();
    std::vector<ORPExportSetup> setups; // what the destination chooser was told, in order
};

TEST_F(PlayerExport, MixedFileHasEveryHitOnItsFrameAtItsLevelAndPanForTheLengthOfTheBars)
{
    const Click kickClick { 1000, 0.5f };
    const Click snareClick { 500, 0.75f };
    auto kick = drum("Kicks", "Kick", "default", kickClick);
    auto snare = drum("Snares", "Snare", "default", snareClick);
    snare->storedSound()->setPanning(-1.0f); // left only
    snare->storedSound()->setVolume(0.5f);
    // Bars of different lengths, laid end to end: 1 s then 0.5 s. Master level 0.5.
    const std::vector bars { makeBar(1.0f, { { kick, 0.0f }, { snare, 0.25f, 0.5f } }),
        makeBar(0.5f, { { kick, 0.5f, 0.8f }, { snare, 0.5f } }) };
    player->setMasterLevel(0.5f);

    const auto path = dir / "out" / "Song.wav";
    const auto progress = exportBars(bars, 0, floatWaveRequest(path));
    EXPECT_EQ(progress->files, std::vector<std::string> { path.string() });
    EXPECT_EQ(progress->instances, bars);
    // Two hits on one frame add up.
    expectSameAudio(path,
        expectedAudio(66150,
            { { 0, kickClick, 0.5f, 0.5f }, { 11025, snareClick, 0.125f, 0.0f },
                { 55125, kickClick, 0.4f, 0.4f }, { 55125, snareClick, 0.25f, 0.0f } }));
}

TEST_F(PlayerExport, ChokesAcrossBarsAndFinalDecayDecideHowLongHitsRing)
{
    const Click openClick { 66150, 0.5f }; // rings 1.5 s
    const Click shortClick { 100, 0.25f };
    auto open = drum("Hats", "Hi-Hat", "open", openClick);
    auto closed = drum("Hats", "hi-hat", "closed", shortClick);
    closed->setVariantPrecedence(true);
    auto pedal = drum("Hats", "Hi-Hat", "pedal", shortClick);
    auto tom = drum("Toms", "Tom", "default", shortClick);
    tom->setVariantPrecedence(true);
    // The open hat at 0.5 s; a tom (other type, precedence) and a pedal hat (same type, no
    // precedence) do not cut it; the closed hat at 1.25 s does, after 0.75 s. The crash at 1.75 s
    // rings out to 3.25 s with final decay on; without, the file ends with the bars.
    const std::vector bars {
        makeBar(1.0f, { { open, 0.5f }, { tom, 0.75f } }),
        makeBar(1.0f,
            { { pedal, 0.0f }, { closed, 0.25f }, { drum("Cymbals", "Crash", "default", openClick), 0.75f } })
    };
    for (const bool decay : { true, false }) {
        SCOPED_TRACE(decay);
        defaults.store().setBool(decay, RPAllowFinalSoundDecayKey);
        const auto path = dir / "out" / (decay ? "ringing.wav" : "cut.wav");
        exportBars(bars, 0, floatWaveRequest(path));
        expectSameAudio(path,
            expectedAudio(decay ? 143325 : 88200,
                { { 22050, openClick, 1.0f, 1.0f, 33075 }, { 33075, shortClick }, { 44100, shortClick },
                    { 55125, shortClick }, { 77175, openClick } }));
    }
}

TEST_F(PlayerExport, GroupFilesHoldOnlyTheirGroupForTheLengthOfTheBarsAndCancelLeavesNone)
{
    defaults.store().setBool(false, RPAllowFinalSoundDecayKey);
    const Click longClick { 66150, 0.5f };
    const Click snareClick { 300, 0.75f };
    auto kick = drum("Kicks", "Kick", "default", longClick);
    auto snare = drum("Snares", "Snare", "default", snareClick);
    for (const auto& each : { kick, snare, drum("Toms", "Tom", "default", snareClick) })
        kit->addDrum(each);
    // The kick still rings at the end of the last bar: none of it may reach the next group's file.
    const std::vector bars { makeBar(1.0f, { { snare, 0.0f } }), makeBar(1.0f, { { kick, 0.5f } }) };

    const auto progress = exportBars(bars, 1, floatWaveRequest(dir / "out" / "Song.wav"));
    const std::vector<std::string> names { (dir / "out" / "Song (Kicks).wav").string(),
        (dir / "out" / "Song (Snares).wav").string(), (dir / "out" / "Song (Toms).wav").string() };
    EXPECT_EQ(progress->files, names);
    // The panel was told the three files to come and how long the bars last.
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_EQ(setups[0].filenameSuffixes, (std::vector<std::string> { " (Kicks)", " (Snares)", " (Toms)" }));
    EXPECT_DOUBLE_EQ(setups[0].duration, 2.0);
    EXPECT_EQ(setups[0].defaultFilename, "Song.rpsong");
    EXPECT_EQ(progress->instances.size(), 6u); // each file walks both bars
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "Song.wav"));
    expectSameAudio(names[0], expectedAudio(88200, { { 66150, longClick } }));
    expectSameAudio(names[1], expectedAudio(88200, { { 0, snareClick } }));
    expectSameAudio(names[2], expectedAudio(88200, {})); // silence, full length

    // Cancelled from inside the progress call (as the sheet's button may) when the second file
    // starts: no file of that export is left.
    std::filesystem::create_directory(dir / "cut");
    const auto canceled
        = exportBars(bars, 1, floatWaveRequest(dir / "cut" / "Song.aiff"), [&](const std::string&) {
              if (std::filesystem::exists(dir / "cut" / "Song (Kicks).aiff"))
                  player->cancelExport();
          });
    EXPECT_TRUE(canceled->finished && canceled->canceled);
    EXPECT_EQ(canceled->files.size(), 2u);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "cut"));
}

// With the final decay, every stem of one per-group export is as long as the longest sound of all
// groups, read back from the files; a group without hits is silence of that length.
TEST_F(PlayerExport, GroupFilesWithFinalDecayAllLastUntilTheLongestSoundEnds)
{
    const Click longClick { 66150, 0.5f }; // 1.5 s
    const Click crashClick { 22050, 0.25f }; // 0.5 s
    const Click snareClick { 300, 0.75f };
    auto kick = drum("Kicks", "Kick", "default", longClick);
    auto snare = drum("Snares", "Snare", "default", snareClick);
    auto crash = drum("Cymbals", "Crash", "default", crashClick);
    for (const auto& each : { kick, snare, crash, drum("Toms", "Tom", "default", snareClick) })
        kit->addDrum(each);
    // Sounds end at 0.007 s (snare), 2.25 s (crash) and 3 s (kick); the bars at 2 s.
    const std::vector bars { makeBar(1.0f, { { snare, 0.0f } }), makeBar(1.0f, { { kick, 0.5f }, { crash, 0.75f } }) };

    exportBars(bars, 1, floatWaveRequest(dir / "out" / "Song.wav"));
    const size_t length = 132300;
    for (const auto& [group, rings] : std::vector<std::pair<std::string, std::vector<Ring>>> {
             { "Kicks", { { 66150, longClick } } }, { "Snares", { { 0, snareClick } } },
             { "Cymbals", { { 77175, crashClick } } }, { "Toms", {} } }) {
        const auto path = dir / "out" / ("Song (" + group + ").wav");
        SF_INFO info {};
        readChannels(path, &info);
        EXPECT_EQ(info.frames, static_cast<sf_count_t>(length)) << group;
        expectSameAudio(path, expectedAudio(length, rings));
    }
}

TEST_F(PlayerExport, BadModeDismissedPanelAndUnwritableFileEndWithoutHarm)
{
    const std::vector bars { makeBar(0.5f, { { makeClickDrum(dir, "G", "Drum", "default", 100), 0.0f } }) };
    rp::LogCapture log;
    exportBars(bars, 3, floatWaveRequest(dir / "out" / "x.wav"));
    EXPECT_TRUE(log.contains("ORPPlayer: error, bad exportMode (3) passed to exportPatternInstances!"));
    EXPECT_TRUE(player->exportCanceled());

    // A dismissed save panel: nothing written, nothing reported.
    EXPECT_FALSE(exportBars(bars, 0, std::nullopt)->finished);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));

    EXPECT_TRUE(exportBars(bars, 0, floatWaveRequest(dir / "missing" / "x.wav"))->finished);
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
    for (const auto& each : { mapped, snare, tom, makeClickDrum(dir, "G", "Cowbell", "default", 100) })
        kit->addDrum(each);
    const auto path = dir / "out" / "Song.mid";
    ORPExportRequest request;
    request.path = path.string();

    // Two unmapped drums used (the unused cowbell does not count): plural text; Cancel ends it.
    prompt.answerAlert(1, "Some drums do not have MIDI note assignments.");
    exportBars({ makeBar(1.0f, { { mapped, 0.0f }, { snare, 0.25f }, { tom, 0.5f }, { snare, 0.75f } }) }, 2,
        request);
    ASSERT_EQ(prompt.asked().size(), 1u);
    EXPECT_EQ(prompt.asked()[0].message, "2 instruments from Test Kit will be missing from the MIDI file.");
    EXPECT_EQ(prompt.asked()[0].buttons, (std::vector<std::string> { "Continue", "Cancel" }));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(setups.empty()) << "the save panel comes only after Continue";

    // Every drum mapped: no alert (the scripted prompt would refuse one). Cancelled: no file.
    const auto canceled = exportBars({ makeBar(1.0f, { { mapped, 0.0f } }) }, 2, request,
        [this](const std::string&) { player->cancelExport(); });
    EXPECT_TRUE(canceled->canceled);
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_EQ(setups[0].mode, 2u);
    prompt.verifyAllAnswered();
}

} // namespace
