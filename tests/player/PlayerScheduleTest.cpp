#include "PlayerTestSupport.h"
#include "player/ORPPlayerTimeCode.h"

#include <gtest/gtest.h>

namespace {

using namespace rp::test;

class PlayerSchedule : public PlayerFixture {
protected:
    // Schedules at `now` and returns the start index, start place and every bar's cue time.
    std::tuple<uint64_t, float, std::vector<float>> schedule(float now, bool fromTop = false)
    {
        player->scheduleInstancesRelativeToNow(now, fromTop);
        std::vector<float> times;
        for (const auto& bar : player->instances())
            times.push_back(bar->renderCueTime());
        return { player->startIndex(), player->startPlace(), times };
    }
    using Times = std::vector<float>;
};

TEST_F(PlayerSchedule, StartFollowsSelectionInsertionPointAndTheEndOfTheSong)
{
    editor->bars = { makeBar(1.0f, {}), makeBar(2.0f, {}), makeBar(1.0f, {}) };
    // Mid-bar: the start place falls exactly on the given time; earlier bars get 0.
    editor->index = 1;
    editor->place = 0.25f;
    EXPECT_EQ(schedule(10.0f), std::tuple(1u, 0.25f, Times { 0.0f, 9.5f, 11.5f }));

    // A selection plays only its bars, from the first, whatever the insertion point.
    editor->selected = { editor->bars[1], editor->bars[2] };
    EXPECT_EQ(schedule(10.0f), std::tuple(0u, 0.0f, Times { 10.0f, 12.0f }));
    EXPECT_EQ(player->instances(), editor->selected);
    editor->selected.clear();

    // The very end of the last bar: once there, the next start plays from the top.
    editor->index = 2;
    editor->place = 1.0f;
    EXPECT_EQ(std::get<0>(schedule(10.0f)), 2u);
    EXPECT_EQ(schedule(20.0f), std::tuple(0u, 0.0f, Times { 20.0f, 21.0f, 23.0f }));

    // From the top regardless of the insertion point (the loop point).
    editor->index = 1;
    editor->place = 0.5f;
    EXPECT_EQ(schedule(5.0f, true), std::tuple(0u, 0.0f, Times { 5.0f, 6.0f, 8.0f }));

    // No insertion point: from the top, whatever place the editor still reports.
    editor->index = std::nullopt;
    editor->place = 0.5f;
    EXPECT_EQ(schedule(5.0f), std::tuple(0u, 0.0f, Times { 5.0f, 6.0f, 8.0f }));

    // An insertion point past the last bar is its very end; no editor, nothing to play.
    editor->index = 7;
    EXPECT_EQ(schedule(5.0f), std::tuple(2u, 1.0f, Times { 0.0f, 0.0f, 4.0f }));
    player->setPatternEditor(nullptr);
    EXPECT_TRUE(std::get<2>(schedule(5.0f)).empty());
}

TEST_F(PlayerSchedule, HitLengthEndsWithItsSoundOrAtTheNextSameTypeHitWithPrecedence)
{
    auto open = makeClickDrum(dir, "Hats", "Hi-Hat", "open", 88200); // 2 s
    auto closed = makeClickDrum(dir, "Hats", "HI-HAT", "closed", 441);
    closed->setVariantPrecedence(true);
    editor->bars = { makeBar(1.0f, { { closed, 0.1f }, { open, 0.5f } }), makeBar(1.0f, { { closed, 0.7f } }),
        makeBar(1.0f, { { open, 0.75f } }) };
    player->scheduleInstancesRelativeToNow(0.0f, true);
    // (event, bar): the first open hat is choked in the next bar at 1.7 s, sooner at double tempo.
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(1, 0, 1.0f, false), 1.2f);
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(1, 0, 2.0f, false), 0.6f);
    // Nothing chokes it: the whole sound. The last open hat at 2.75 s: 2 s without looping, and
    // with looping cut by the closed hat near the start of the first bar (0.25 + 0.1 s).
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(0, 1, 1.0f, false), 0.01f);
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(0, 2, 1.0f, false), 2.0f);
    EXPECT_NEAR(player->maxDurationForEvtIndex(0, 2, 1.0f, true), 0.35f, 1e-6f);
    // Out of range: nothing sounds.
    EXPECT_EQ(player->maxDurationForEvtIndex(9, 0, 1.0f, false), 0.0f);
    EXPECT_EQ(player->maxDurationForEvtIndex(0, 9, 1.0f, false), 0.0f);
}

TEST(PlayerTimeCode, QuarterFramesCarryTheRunningValueInListsOf272Bytes)
{
    // 1 h 2 min 5 s and 15 frames, piece by piece; hours above 15 set bit 4 of the last piece.
    const std::vector<uint8_t> pieces { 0x0F, 0x10, 0x25, 0x30, 0x42, 0x50, 0x61, 0x76 };
    for (int piece = 0; piece < 8; ++piece)
        EXPECT_EQ(ORPPlayerTimeCode::quarterFrameData(piece, 3725.5), pieces[static_cast<size_t>(piece)]);
    EXPECT_EQ(ORPPlayerTimeCode::quarterFrameData(7, 16 * 3600.0), 0x77);

    // 0.5 s of quarter frames at 1 tick per microsecond: 61 frames (both ends), 22 per full list.
    ORPPlayerTimeCode timeCode(10.0, 1000, 1e6);
    std::vector<rp::MIDIPacketList> lists;
    const auto send = [&] {
        timeCode.sendUpTo(1000 + 500100, [&](const rp::MIDIPacketList& list) { lists.push_back(list); });
    };
    send();
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(lists[0].numPackets(), 22u);
    EXPECT_LE(lists[0].bytesUsed(), 272u);
    EXPECT_EQ(lists[0].numPackets() + lists[1].numPackets() + lists[2].numPackets(), 61u);
    EXPECT_NEAR(timeCode.value(), 10.0 + 61.0 / 120.0, 1e-9);
    // Nothing more until the host time moves on.
    send();
    EXPECT_EQ(lists.size(), 3u);
}

} // namespace
