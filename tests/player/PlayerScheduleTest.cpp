#include "PlayerTestSupport.h"
#include "player/ORPPlayerTimeCode.h"

#include <gtest/gtest.h>

namespace {

using namespace rp::test;

class PlayerSchedule : public ::testing::Test {
protected:
    void SetUp() override
    {
        player = ORPPlayer::init(AudioDeviceKind::Null);
        ASSERT_TRUE(player);
        player->setPatternEditor(editor);
    }
    std::vector<float> cueTimes() const
    {
        std::vector<float> times;
        for (const auto& bar : player->instances()) {
            times.push_back(bar->renderCueTime());
        }
        return times;
    }

    ScopedKitDefaults defaults;
    TempDir dir;
    std::shared_ptr<TestEditor> editor = std::make_shared<TestEditor>();
    std::shared_ptr<ORPPlayer> player;
};

TEST_F(PlayerSchedule, StartFollowsSelectionInsertionPointAndTheEndOfTheSong)
{
    editor->bars = { makeBar(1.0f, {}), makeBar(2.0f, {}), makeBar(1.0f, {}) };

    // Mid-bar: the start place falls exactly on the given time; earlier bars get 0.
    editor->index = 1;
    editor->place = 0.25f;
    player->scheduleInstancesRelativeToNow(10.0f, false);
    EXPECT_EQ(player->startIndex(), 1u);
    EXPECT_EQ(player->startPlace(), 0.25f);
    EXPECT_EQ(cueTimes(), (std::vector<float> { 0.0f, 9.5f, 11.5f }));

    // A selection plays only its bars, from the first, whatever the insertion point.
    editor->selected = { editor->bars[1], editor->bars[2] };
    player->scheduleInstancesRelativeToNow(10.0f, false);
    EXPECT_EQ(player->instances(), editor->selected);
    EXPECT_EQ(player->startIndex(), 0u);
    EXPECT_EQ(player->startPlace(), 0.0f);
    EXPECT_EQ(cueTimes(), (std::vector<float> { 10.0f, 12.0f }));
    editor->selected.clear();

    // The very end of the last bar: once there, the next start plays from the top.
    editor->index = 2;
    editor->place = 1.0f;
    player->scheduleInstancesRelativeToNow(10.0f, false);
    EXPECT_EQ(player->startIndex(), 2u);
    EXPECT_EQ(player->startPlace(), 1.0f);
    player->scheduleInstancesRelativeToNow(20.0f, false);
    EXPECT_EQ(player->startIndex(), 0u);
    EXPECT_EQ(cueTimes(), (std::vector<float> { 20.0f, 21.0f, 23.0f }));

    // From the top regardless of the insertion point (the loop point).
    editor->index = 1;
    editor->place = 0.5f;
    player->scheduleInstancesRelativeToNow(5.0f, true);
    EXPECT_EQ(player->startIndex(), 0u);
    EXPECT_EQ(cueTimes().front(), 5.0f);

    // An insertion point past the last bar is its very end; no editor, nothing to play.
    editor->index = 7;
    player->scheduleInstancesRelativeToNow(5.0f, false);
    EXPECT_EQ(player->startIndex(), 2u);
    EXPECT_EQ(player->startPlace(), 1.0f);
    player->setPatternEditor(nullptr);
    player->scheduleInstancesRelativeToNow(5.0f, false);
    EXPECT_TRUE(player->instances().empty());
}

TEST_F(PlayerSchedule, HitLengthEndsWithItsSoundOrAtTheNextSameTypeHitWithPrecedence)
{
    auto open = makeClickDrum(dir, "Hats", "Hi-Hat", "open", 88200); // 2 s
    auto closed = makeClickDrum(dir, "Hats", "HI-HAT", "closed", 441);
    closed->setVariantPrecedence(true);
    auto pedal = makeClickDrum(dir, "Hats", "Hi-Hat", "pedal", 441); // no precedence
    auto crash = makeClickDrum(dir, "Cymbals", "Crash", "default", 441);
    crash->setVariantPrecedence(true); // another type
    editor->bars = { makeBar(1.0f, { { closed, 0.1f }, { open, 0.5f }, { crash, 0.6f } }),
        makeBar(1.0f, { { pedal, 0.2f }, { closed, 0.7f } }),
        makeBar(1.0f, { { crash, 0.0f }, { open, 0.75f } }) };
    player->scheduleInstancesRelativeToNow(0.0f, true);

    // Choked in the next bar by the closed hat at 1.7 s; the pedal and the crash do not cut it.
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(1, 0, 1.0f, false), 1.2f);
    // A tempo factor shortens every offset.
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(1, 0, 2.0f, false), 0.6f);
    // Nothing chokes it: the whole sound. The last open hat at 2.75 s: 2 s without looping...
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(0, 2, 1.0f, false), 0.01f);
    EXPECT_FLOAT_EQ(player->maxDurationForEvtIndex(1, 2, 1.0f, false), 2.0f);
    // ... and with looping, cut by the closed hat near the start of the first bar (0.25 + 0.1 s).
    EXPECT_NEAR(player->maxDurationForEvtIndex(1, 2, 1.0f, true), 0.35f, 1e-6f);
    // Out of range: nothing sounds.
    EXPECT_EQ(player->maxDurationForEvtIndex(9, 0, 1.0f, false), 0.0f);
    EXPECT_EQ(player->maxDurationForEvtIndex(0, 9, 1.0f, false), 0.0f);
}

TEST(PlayerTimeCode, QuarterFramesCarryTheRunningValueInListsOf272Bytes)
{
    // 1 h 2 min 5 s and 15 frames.
    const double value = 3725.5;
    const std::vector<uint8_t> pieces { 0x0F, 0x10, 0x25, 0x30, 0x42, 0x50, 0x61, 0x76 };
    for (int piece = 0; piece < 8; ++piece) {
        EXPECT_EQ(ORPPlayerTimeCode::quarterFrameData(piece, value), pieces[piece]) << piece;
    }
    EXPECT_EQ(ORPPlayerTimeCode::quarterFrameData(7, 16 * 3600.0), 0x77); // hours bit 4
    const auto locate = ORPPlayerTimeCode::locateMessage(value);
    EXPECT_EQ(std::vector<uint8_t>(locate.begin(), locate.end()),
        (std::vector<uint8_t> { 0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 1, 2, 5, 15, 0x00, 0xF7 }));

    // 0.5 s of quarter frames at 1 tick per microsecond: 61 frames (both ends), 22 per full list.
    ORPPlayerTimeCode timeCode(10.0, 1000, 1e6);
    std::vector<rp::MIDIPacketList> lists;
    timeCode.sendUpTo(1000 + 500100, [&](const rp::MIDIPacketList& list) { lists.push_back(list); });
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(lists[0].numPackets(), 22u);
    EXPECT_LE(lists[0].bytesUsed(), 272u);
    EXPECT_EQ(lists[0].numPackets() + lists[1].numPackets() + lists[2].numPackets(), 61u);
    EXPECT_EQ(lists[0].packet(0).timeStamp, 1000u);
    EXPECT_EQ(lists[0].packet(1).timeStamp, 1000u + 8333u);
    EXPECT_EQ(lists[0].packet(8).data[1] >> 4, 0); // the pieces cycle 0 to 7
    EXPECT_NEAR(timeCode.value(), 10.0 + 61.0 / 120.0, 1e-9);
    // Nothing more until the host time moves on.
    timeCode.sendUpTo(1000 + 500100, [&](const rp::MIDIPacketList& list) { lists.push_back(list); });
    EXPECT_EQ(lists.size(), 3u);
}

} // namespace
