// The renderer's thread against the main thread: reschedules, edits, stops and exports while it
// runs (these tests also run under ThreadSanitizer).

#include "PlayerTestSupport.h"
#include "foundation/NotificationCenter.h"
#include "foundation/ScriptedPrompt.h"

#include <gtest/gtest.h>

namespace {

using namespace rp::test;

class PlayerThreads : public PlayerFixture {
protected:
    void SetUp() override
    {
        PlayerFixture::SetUp();
        for (int i = 0; i < 4; ++i)
            drums.push_back(makeClickDrum(dir, "G", "Drum " + std::to_string(i), "default", 2205));
        drums[1]->setVariantPrecedence(true);
        std::vector<Hit> hits;
        for (size_t i = 0; i < 8; ++i)
            hits.push_back({ drums[i % drums.size()], static_cast<float>(i) / 8.0f });
        for (int bar = 0; bar < 4; ++bar)
            editor->bars.push_back(makeBar(0.2f, hits));
    }
    void post(const std::string& name) { rp::NotificationCenter::defaultCenter().post(name, editor.get()); }

    std::vector<ORPDrumPtr> drums;
};

TEST_F(PlayerThreads, RescheduleEditAndStopWhileTheRendererRuns)
{
    defaults.store().setBool(true, RPLoopPlaybackKey);
    player->startPlaybackOnceOnly(false);
    auto& loop = rp::RunLoop::main();
    for (size_t step = 0; step < 60; ++step) {
        editor->index = step % editor->bars.size();
        editor->place = static_cast<float>(step % 5) / 5.0f;
        post(ORPPatternEditorInsertionPointMovedNotification);
        if (step % 7 == 0) {
            editor->selected = step % 14 == 0 ? std::vector { editor->bars[1], editor->bars[2] }
                                              : std::vector<ORPPatternInstancePtr> {};
            post(ORPPatternEditorPatternSelectionChangedNotification);
        }
        // Paint and erase drums in the bars being walked.
        const auto& pattern = editor->bars[step % editor->bars.size()]->pattern();
        auto added = pattern->addEventWithDrum(drums[step % drums.size()], 0.5f, 0.3f);
        if (step % 2 == 0)
            pattern->removeEvent(added);
        pattern->setBpm(step % 2 == 0 ? 1200.0f : 1000.0f, 4.0f);
        ORPPatternInstancePtr instance;
        float place;
        EXPECT_TRUE(player->getCurrentPatternInstance(instance, place));
        player->setMasterLevel(step % 2 == 0 ? 0.5f : 1.0f);
        player->setMonophonic(step % 3 == 0);
        loop.runFor(0.02);
    }
    EXPECT_TRUE(player->isPlaying()); // looping: still running
    player->stopAndReset();
    EXPECT_EQ(
        std::tuple(player->isPlaying(), player->instances().size(), player->speakerOutput()->pendingFrames()),
        std::tuple(false, size_t { 0 }, uint64_t { 0 }));

    // Quick stop-and-start: the finished run's own request to stop must not end the new one.
    for (int i = 0; i < 5; ++i) {
        player->startPlaybackOnceOnly(false);
        loop.runFor(0.01);
        player->stopAndReset();
    }
    player->startPlaybackOnceOnly(false);
    loop.runFor(0.3);
    EXPECT_TRUE(player->isPlaying());
    // Ending the player stops it.
    player.reset();
}

TEST_F(PlayerThreads, ExportWhileTheMainThreadEditsAndCancels)
{
    std::vector<ORPPatternInstancePtr> bars;
    for (size_t i = 0; i < 40; ++i)
        bars.push_back(editor->bars[i % editor->bars.size()]);
    auto progress = std::make_shared<RecordingProgress>();
    rp::ScriptedPrompt prompt;
    player->exportPatternInstances(bars, 0, nullptr, std::nullopt, std::nullopt, "Song",
        [this](const ORPExportSetup&) { return std::optional(floatWaveRequest(dir / "song.wav")); }, prompt,
        progress);
    auto& loop = rp::RunLoop::main();
    int step = 0;
    loop.runUntil(
        [&] {
            const auto& pattern = editor->bars[static_cast<size_t>(step) % editor->bars.size()]->pattern();
            pattern->addEventWithDrum(drums[0], 1.0f, 0.9f);
            if (++step == 20 || progress->instances.size() >= 20) {
                player->cancelExport();
            }
            return !player->isExporting();
        },
        30);
    EXPECT_TRUE(progress->canceled);
    EXPECT_FALSE(std::filesystem::exists(dir / "song.wav"));
    EXPECT_FALSE(player->isPlaying());
}

} // namespace
