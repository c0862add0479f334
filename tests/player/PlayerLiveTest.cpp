// Live runs on the null audio device, with the MIDI output captured by the loopback backend.

#include "PlayerTestSupport.h"
#include "midi/KWMIDIManager.h"
#include "midi/LoopbackMIDIBackend.h"
#include "model/ORPSectionMarker.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using namespace rp::test;
using Bytes = std::vector<uint8_t>;

class PlayerLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        player = ORPPlayer::init(AudioDeviceKind::Null);
        ASSERT_TRUE(player);
        player->setPatternEditor(editor);
        manager = KWMIDIManager::create(backend);
        backend->plug(rp::MIDIBackend::Kind::Destination,
            { .deviceName = "Synth", .name = "In", .connectionUniqueIDs = {} });
        backend->waitUntilQuiet();
        rp::RunLoop::main().runFor(0.05);
        ASSERT_EQ(manager->realDestinations().size(), 1u);
        destination = manager->realDestinations()[0];
        player->setMIDIDestination(destination);
    }

    ORPDrumPtr mappedDrum(const std::string& type, int note, size_t frames = 441)
    {
        auto drum = makeClickDrum(dir, "G", type, "default", frames);
        drum->setMidiChannel(9);
        drum->setMidiNote(static_cast<int8_t>(note));
        drum->setMidiVelocity(100);
        return drum;
    }
    // Plays once to the end with the main loop running, then lets the MIDI out.
    void playOnce()
    {
        player->startPlaybackOnceOnly(true);
        ASSERT_TRUE(rp::RunLoop::main().runUntil([&] { return !player->isPlaying(); }, 10));
        ASSERT_TRUE(backend->waitUntilSent(5.0));
    }
    // The deliveries whose status (or status nibble) is `status`.
    std::vector<rp::LoopbackMIDIBackend::Delivery> delivered(uint8_t status) const
    {
        std::vector<rp::LoopbackMIDIBackend::Delivery> found;
        for (const auto& delivery : backend->deliveries(destination->uniqueID())) {
            if ((delivery.bytes[0] & 0xF0) == status || delivery.bytes[0] == status)
                found.push_back(delivery);
        }
        return found;
    }

    ScopedKitDefaults defaults;
    TempDir dir;
    std::shared_ptr<TestEditor> editor = std::make_shared<TestEditor>();
    std::shared_ptr<rp::LoopbackMIDIBackend> backend = std::make_shared<rp::LoopbackMIDIBackend>();
    std::shared_ptr<KWMIDIManager> manager;
    std::shared_ptr<KWMIDIRealDestination> destination;
    std::shared_ptr<ORPPlayer> player; // ends first, before the MIDI manager
};

double seconds(rp::MIDITimeStamp from, rp::MIDITimeStamp to)
{
    return (static_cast<double>(to) - static_cast<double>(from)) / 1e9;
}

TEST_F(PlayerLive, MidBarStartAndSingleHitSendNotesOnTimeAtTheMappedVelocity)
{
    defaults.store().setBool(false, RPSendVerboseMIDIControlKey);
    auto hat = mappedDrum("Hat", 42);
    editor->bars = { makeBar(0.5f, { { hat, 0.0f }, { hat, 0.25f }, { hat, 0.5f }, { hat, 0.75f, 0.5f } }),
        makeBar(0.5f, { { hat, 0.0f, 0.25f } }) };
    editor->place = 0.5f;
    player->setMasterLevel(0.5f);

    const rp::MIDITimeStamp started = rp::hostTimeNow();
    playOnce();
    // The hits at 0 and 0.25 of the first bar lie before the start. The first sounds at the start
    // (0.05 s from now), the others 0.125 s and 0.25 s later; channel 10, note 42, velocity =
    // mapping x hit x master level; a 10 ms sound, yet its note lasts 1 s.
    const auto ons = delivered(0x90);
    const auto offs = delivered(0x80);
    ASSERT_EQ(ons.size(), 3u);
    ASSERT_EQ(offs.size(), 3u);
    EXPECT_NEAR(seconds(started, ons[0].stamp), 0.05, 0.02);
    const uint8_t velocities[] = { 50, 25, 12 };
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(seconds(ons[0].stamp, ons[i].stamp), 0.125 * static_cast<double>(i), 1e-6);
        EXPECT_EQ(ons[i].bytes, (Bytes { 0x99, 42, velocities[i] }));
        EXPECT_EQ(offs[i].bytes, (Bytes { 0x89, 42, 64 }));
        EXPECT_NEAR(seconds(ons[i].stamp, offs[i].stamp), 1.0, 1e-6);
    }
    // Not verbose: no transport or time code.
    for (uint8_t status : { 0xF0, 0xF1, 0xFA, 0xFC })
        EXPECT_TRUE(delivered(status).empty()) << int(status);

    // A single hit sounds now (stamped 0); its MIDI velocity ignores the hit's, its note lasts 0.5 s.
    backend->clearDeliveries();
    const rp::MIDITimeStamp before = rp::hostTimeNow();
    player->playDrumSound(mappedDrum("Kick", 36, 4410), 0.1f);
    EXPECT_GT(player->speakerOutput()->pendingFrames(), 0u);
    ASSERT_TRUE(backend->waitUntilSent(5.0));
    const auto single = backend->deliveries(destination->uniqueID());
    ASSERT_EQ(single.size(), 2u);
    EXPECT_EQ(single[0].bytes, (Bytes { 0x99, 36, 50 }));
    EXPECT_EQ(single[0].stamp, 0u);
    EXPECT_EQ(single[1].bytes, (Bytes { 0x89, 36, 64 }));
    EXPECT_NEAR(seconds(before, single[1].stamp), 0.5, 0.05);
    EXPECT_FALSE(destination->isInUse()); // the player unregistered
}

TEST_F(PlayerLive, VerboseRunLocatesStartsSendsTimeCodeAndStops)
{
    auto kick = mappedDrum("Kick", 36);
    auto entry = ORPSectionMarker::sectionMarker();
    entry->setCueTime(3725.5f, 1);
    editor->bars = { ORPPatternInstance::initWithPattern(
        makeBar(0.5f, { { kick, 0.0f }, { kick, 0.5f } })->pattern(), entry) };
    editor->bars[0]->setBarNumberInSong(1, 1, 3725.5f);
    playOnce();

    // MMC Deferred Play, MMC Locate to the bar's song time (1 h 2 min 5 s 15 frames), MIDI Start.
    const auto all = backend->deliveries(destination->uniqueID());
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all[0].bytes, (Bytes { 0xF0, 0x7F, 0x7F, 0x06, 0x03, 0xF7 }));
    EXPECT_EQ(all[1].bytes, (Bytes { 0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 1, 2, 5, 15, 0x00, 0xF7 }));
    EXPECT_EQ(all[2].bytes, (Bytes { 0xFA }));
    // Quarter frames every 1/120 s from the first hit to 0.1 s past the last: about 0.35 s.
    const auto frames = delivered(0xF1);
    ASSERT_GE(frames.size(), 40u);
    EXPECT_EQ(frames[0].bytes, (Bytes { 0xF1, 0x0F }));
    EXPECT_EQ(frames[0].stamp, all[0].stamp);
    EXPECT_NEAR(seconds(frames[0].stamp, frames[1].stamp), 1.0 / 120, 1e-6);
    // MMC Stop and MIDI Stop, stamped at the last hit.
    const auto notes = delivered(0x90);
    const auto stops = delivered(0xFC);
    ASSERT_EQ(notes.size(), 2u);
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].stamp, notes[1].stamp);
    const auto system = delivered(0xF0); // every system message
    EXPECT_TRUE(std::any_of(system.begin(), system.end(), [](const auto& delivery) {
        return delivery.bytes == Bytes { 0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7 };
    }));
}

// The transport locates to where playing starts (a bar's song time plus the start place, not its
// playlist entry's cue time), and a loop wrap locates back to the loop's start and restarts the
// quarter frames there; the previous series stops short of the loop point.
TEST_F(PlayerLive, TimeCodeStartsWherePlayingStartsAndRelocatesAtTheLoop)
{
    defaults.store().setBool(true, RPLoopPlaybackKey);
    auto kick = mappedDrum("Kick", 36);
    auto entry = ORPSectionMarker::sectionMarker();
    entry->setCueTime(4.8f, 1);
    for (int bar = 0; bar < 2; ++bar) {
        auto instance = ORPPatternInstance::initWithPattern(
            makeBar(0.5f, { { kick, 0.0f }, { kick, 0.75f } })->pattern(), entry);
        instance->setBarNumberInSong(static_cast<int16_t>(bar + 1), static_cast<int16_t>(bar + 1),
            4.8f + 0.5f * static_cast<float>(bar));
        editor->bars.push_back(instance);
    }
    editor->index = 1;
    editor->place = 0.5f; // song time 5.3 + 0.25 = 5.55 s

    player->startPlaybackOnceOnly(false);
    const auto isLocate = [](const auto& delivery) { return delivery.bytes.size() == 13 && delivery.bytes[4] == 0x44; };
    ASSERT_TRUE(rp::RunLoop::main().runUntil([&] {
        const auto system = delivered(0xF0);
        return std::count_if(system.begin(), system.end(), isLocate) >= 2;
    }, 5));
    player->stopAndReset();
    ASSERT_TRUE(backend->waitUntilSent(5.0));

    std::vector<rp::LoopbackMIDIBackend::Delivery> locates;
    for (const auto& delivery : delivered(0xF0)) {
        if (isLocate(delivery))
            locates.push_back(delivery);
    }
    ASSERT_GE(locates.size(), 2u);
    EXPECT_EQ(locates[0].bytes, (Bytes { 0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0, 0, 5, 16, 0x00, 0xF7 }));
    EXPECT_EQ(locates[1].bytes, (Bytes { 0xF0, 0x7F, 0x7F, 0x06, 0x44, 0x06, 0x01, 0, 0, 4, 24, 0x00, 0xF7 }));
    // The wrap comes after the remaining half of the start bar.
    EXPECT_NEAR(seconds(locates[0].stamp, locates[1].stamp), 0.25, 1e-6);

    const auto frames = delivered(0xF1);
    const auto wrap = std::find_if(
        frames.begin(), frames.end(), [&](const auto& delivery) { return delivery.stamp >= locates[1].stamp; });
    // Before the wrap: from the start, 1/120 s apart, 5 s 16 frames.
    ASSERT_GE(wrap - frames.begin(), 2);
    EXPECT_EQ(frames[0].stamp, locates[0].stamp);
    EXPECT_EQ(frames[0].bytes, (Bytes { 0xF1, 0x00 })); // frames low nibble of 16
    EXPECT_EQ(frames[1].bytes, (Bytes { 0xF1, 0x11 })); // frames high nibble
    EXPECT_EQ(wrap - frames.begin(), 30); // 0.25 s of quarter frames, none at or past the loop point
    // After it: piece 0 again, at the loop point, counting from 4 s 24 frames.
    ASSERT_GE(frames.end() - wrap, 3);
    EXPECT_EQ(wrap[0].stamp, locates[1].stamp);
    EXPECT_EQ(wrap[0].bytes, (Bytes { 0xF1, 0x08 }));
    EXPECT_EQ(wrap[1].bytes, (Bytes { 0xF1, 0x11 }));
    EXPECT_EQ(wrap[2].bytes, (Bytes { 0xF1, 0x24 }));
}

TEST_F(PlayerLive, MutedAudioStillPlaysDrumsWithoutMIDIAndOfflineOutputSendsNothing)
{
    defaults.store().setBool(false, RPSendVerboseMIDIControlKey);
    editor->bars = { makeBar(0.6f, { { mappedDrum("Kick", 36, 8820), 0.0f } }), // 0.2 s sounds
        makeBar(0.6f, { { makeClickDrum(dir, "G", "Clap", "default", 8820), 0.0f } }) };

    // The most audio waiting in the speaker's rings while each bar's hit should sound.
    const auto peakPendingPerBar = [&](bool muted) {
        defaults.store().setBool(muted, RPMuteAudioWhenActiveMIDIKey);
        std::array<uint64_t, 2> peak { 0, 0 };
        player->startPlaybackOnceOnly(true);
        const float start = editor->bars[0]->renderCueTime();
        rp::RunLoop::main().runUntil(
            [&] {
                const float now = player->speakerOutput()->currentSeconds() - start;
                const uint64_t pending = player->speakerOutput()->pendingFrames();
                if (now >= 0.0f && now < 0.15f)
                    peak[0] = std::max(peak[0], pending);
                else if (now >= 0.6f && now < 0.75f)
                    peak[1] = std::max(peak[1], pending);
                return !player->isPlaying();
            },
            10);
        return peak;
    };
    // Muted: the mapped drum goes out as MIDI only; the drum without a mapping is still heard.
    const auto muted = peakPendingPerBar(true);
    EXPECT_EQ(muted[0], 0u);
    EXPECT_GT(muted[1], 0u);
    ASSERT_TRUE(backend->waitUntilSent(5.0));
    EXPECT_EQ(delivered(0x90).size(), 1u);
    EXPECT_GT(peakPendingPerBar(false)[0], 0u);

    // An offline destination gets nothing, and the audio plays even when muting is on.
    backend->clearDeliveries();
    backend->unplug(rp::MIDIBackend::Kind::Destination, destination->midiEndpointRef());
    backend->waitUntilQuiet();
    rp::RunLoop::main().runFor(0.05);
    ASSERT_TRUE(destination->isOffline());
    EXPECT_GT(peakPendingPerBar(true)[0], 0u);
    EXPECT_TRUE(backend->deliveries(destination->uniqueID()).empty());
}

} // namespace
