// MIDI notes into the song: which packets choose and record a drum, and recording from a MIDI
// thread while the player plays.

#include "editor/ORPInspectorController.h"
#include "editor/ORPMIDINoteRecorder.h"
#include "editor/PatternEditorTestSupport.h"
#include "editor/MIDITestDocuments.h"
#include "editor/ReconcileTestSupport.h"
#include "editor/SongDocument.h"

#include "foundation/RunLoop.h"
#include "kit/ORPUserDefaults.h"
#include "midi/JackMIDIBackend.h"
#include "player/ORPPlayer.h"
#include "support/JackTestServer.h"

#include <atomic>
#include <cmath>
#include <thread>

namespace {

using namespace rp::test;
using Bytes = std::vector<uint8_t>;

struct NoteRecorder : EditorFixture {
    NoteRecorder()
    {
        kickHard->setMidiChannel(9);
        kickHard->setMidiNote(36);
        snare->setMidiChannel(9);
        snare->setMidiNote(38);
        hatClosed->setMidiChannel(0);
        hatClosed->setMidiNote(42);
    }
    size_t eventCount() const { return section()->patterns()[0]->events()->size(); }
};

TEST_F(NoteRecorder, OnlyNoteOnsWithAVelocityChooseADrum)
{
    setBars(2);
    editPlaylist();
    ORPMIDINoteRecorder recorder(song.document.get(), editor);
    struct Case {
        Bytes bytes;
        ORPDrumPtr chosen;
    };
    const Case cases[] = {
        { { 0x99, 36, 100 }, kickHard },
        { { 0x99, 38, 1 }, snare },
        { { 0x90, 42, 127 }, hatClosed },
        { { 0x99, 36, 0 }, nullptr },    // a note-off in disguise
        { { 0x89, 36, 64 }, nullptr },   // note-off
        { { 0x98, 36, 100 }, nullptr },  // another channel
        { { 0x99, 37, 100 }, nullptr },  // an unmapped note
        { { 0x99, 36 }, nullptr },       // cut short
        { {}, nullptr },
        { { 0x99, 0xA4, 100 }, nullptr }, // a status byte where a note belongs
        { { 0x99, 36, 0x90 }, nullptr },
        { { 0xFA }, nullptr },            // start: not this object's business
    };
    for (const Case& c : cases) {
        picker.selectDrum(ride, false);
        EXPECT_EQ(recorder.processMessage(c.bytes), c.chosen) << testing::PrintToString(c.bytes);
        EXPECT_EQ(picker.defaultDrum(), c.chosen ? c.chosen : ride);
    }
    // Recording was off: nothing was edited.
    EXPECT_EQ(eventCount(), 0u);
    EXPECT_FALSE(song.document->undo.canUndo());
}

TEST_F(NoteRecorder, WithRecordingOnNotesStepIntoTheSongOfTheirDocumentOnly)
{
    setBars(2);
    editPlaylist();
    defaults.store().setBool(true, ORPInspectorController::kRecordEnabledKey);
    ORPMIDINoteRecorder recorder(song.document.get(), editor);
    int otherDocument = 0;
    for (const void* document : { static_cast<const void*>(song.document.get()), static_cast<const void*>(&otherDocument) }) {
        for (Bytes bytes : { Bytes { 0x99, 36, 100 }, Bytes { 0x99, 38, 0 }, Bytes { 0x99, 38, 20 } }) {
            rp::NotificationCenter::defaultCenter().post(rp::editor::SongDocumentMIDIPacketNotification, document,
                std::make_shared<const rp::editor::SongDocumentMIDIMessage>(rp::editor::SongDocumentMIDIMessage { 0, bytes }));
        }
    }
    const auto events = *section()->patterns()[0]->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]->drum(), kickHard);
    EXPECT_EQ(events[1]->drum(), snare);
    EXPECT_FLOAT_EQ(events[1]->whenRatio(), 0.125f);
    EXPECT_FLOAT_EQ(editor->insertionPointPlace(), 0.25f);
}

// A pad sending notes through a real JACK server: jack_midiseq loops C1 (note 36, channel 1) and
// each note, routed to the document as the preferences name the source, steps into the song.
TEST_F(NoteRecorder, NotesFromAJackClientStepIntoTheSong)
{
    if (!haveTool("jackd") || !haveTool("jack_midiseq")) {
        GTEST_SKIP() << "jackd and jack_midiseq are needed (package jackd2)";
    }
    JackTestServer server;
    ASSERT_TRUE(server.ready()) << "the dummy JACK server did not start";
    auto backend = rp::JackMIDIBackend::open("Rattlepan");
    ASSERT_TRUE(backend);
    auto manager = KWMIDIManager::create(backend);
    KWMIDIManager::setSharedInstance(manager);
    kickHard->setMidiChannel(0);

    defaults.store().setBool(true, ORPInspectorController::kRecordEnabledKey);
    defaults.store().setInteger(
        rp::midiStableUniqueID("jack", rp::MIDIBackend::Kind::Source, "rpseq:out"), ORPMIDIRouting::kSourceIDKey);
    auto document = rp::editor::SongDocument::makeUntitled(std::make_shared<ScriptedReconcilePanel>());
    ASSERT_TRUE(document);
    const ORPSongPtr& played = document->song();
    played->setDrumKit(kit, {});
    editor->setEditedObjects({ played->sectionMarkerList()[0] }, kit);
    const auto& pattern = played->sectionList()[0]->patterns()[0];
    ORPMIDINoteRecorder recorder(document.get(), editor);
    auto order = std::make_shared<ORPDocumentWindowOrder>();
    order->setDocuments({ document->midiReceiver() });
    auto routing = ORPMIDIRouting::create(manager, defaults.store(), order);
    routing->configureMIDI();

    // A quarter-second loop at 48 kHz: the note on at frame 0, its note off 2000 frames later.
    server.start({ "jack_midiseq", "rpseq", "12000", "0", "36", "2000" });
    const bool recorded = runMainUntil([&] { return pattern->events()->size() >= 3; }, 15.0);
    routing->detachFromMIDIEndpoints();
    KWMIDIManager::setSharedInstance(nullptr);
    ASSERT_TRUE(recorded) << pattern->events()->size() << " hits recorded";

    // Step entry: one hit per division from the start of the bar, note-offs leaving no trace.
    const auto events = *pattern->events();
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i]->drum(), kickHard);
        EXPECT_FLOAT_EQ(events[i]->whenRatio(), static_cast<float>(i) / 8.0f);
    }
    EXPECT_EQ(picker.defaultDrum(), kickHard);
}

// Notes played on a MIDI device while the song plays: the MIDI thread hands each packet to the main
// thread, which records it into the bars the playback thread is rendering.
using NoteRecorderThreads = NoteRecorder;

TEST_F(NoteRecorderThreads, MIDINotesAreRecordedWhileThePlayerPlays)
{
    LoopbackMIDI midi;
    const uint32_t source = midi.plug(rp::MIDIBackend::Kind::Source, "Pads", "Out", 4711);
    midi.settle();
    defaults.store().setInteger(4711, ORPMIDIRouting::kSourceIDKey);
    defaults.store().setBool(true, ORPInspectorController::kRecordEnabledKey);
    defaults.store().setBool(true, RPLoopPlaybackKey);
    ORPUserDefaults::setDefaults(&defaults.store());

    auto document = rp::editor::SongDocument::makeUntitled(std::make_shared<ScriptedReconcilePanel>());
    ASSERT_TRUE(document);
    const ORPSongPtr& played = document->song();
    played->setDrumKit(kit, {});
    const auto& section = played->sectionList()[0];
    section->insertPatterns({ ORPPattern::pattern() }, section->patterns().size());
    for (const auto& pattern : section->patterns())
        pattern->setBpm(4.0f * 60.0f / 0.4f, 4.0f); // 0.4 s bars
    editor->setEditedObjects({ played->sectionMarkerList()[0] }, kit);
    ASSERT_EQ(editor->instances().size(), 2u);

    auto player = ORPPlayer::init(AudioDeviceKind::Null);
    ASSERT_TRUE(player);
    editor->setPlayer(player);
    rp::RunLoop::TimerId heartbeat = 0;
    view.onPlaybackTimer = [&](bool run) {
        if (run && !heartbeat)
            heartbeat = rp::RunLoop::main().addTimer(0.05, true, [&] { editor->playbackHeartbeat(); });
        else if (!run && heartbeat)
            rp::RunLoop::main().cancelTimer(std::exchange(heartbeat, 0));
    };
    ORPMIDINoteRecorder recorder(document.get(), editor);
    size_t delivered = 0;
    rp::NotificationCenter::defaultCenter().addObserver(
        &delivered, rp::editor::SongDocumentMIDIPacketNotification, document.get(), [&](const rp::Notification&) {
            EXPECT_TRUE(rp::RunLoop::main().isMainThread());
            ++delivered;
        });

    auto order = std::make_shared<ORPDocumentWindowOrder>();
    order->setDocuments({ document->midiReceiver() });
    auto routing = ORPMIDIRouting::create(midi.manager, defaults.store(), order);
    routing->configureMIDI();
    midi.settle();

    ASSERT_TRUE(editor->startPlayingOnce(false));
    constexpr int kHits = 60;
    std::atomic<bool> sent { false };
    std::thread pads([&] {
        for (int i = 0; i < kHits; ++i) {
            rp::MIDIPacketList list;
            list.add(0, { 0x99, static_cast<uint8_t>(i % 2 ? 38 : 36), 100 });
            list.add(0, { 0x90, 42, 0 }); // velocity 0: never recorded
            midi.backend->inject(source, list);
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        sent = true;
    });
    const bool arrived
        = rp::RunLoop::main().runUntil([&] { return sent && delivered == size_t { 2 * kHits }; }, 20);
    pads.join();
    EXPECT_TRUE(arrived) << delivered << " packets";
    EXPECT_TRUE(editor->isHeartbeatRunning());
    EXPECT_TRUE(player->isPlaying());
    EXPECT_TRUE(editor->stopPlaying());

    // Both bars were played over; every hit sits on a division line of the bar it was played in.
    size_t recorded = 0;
    for (const auto& pattern : section->patterns()) {
        const auto events = *pattern->events();
        EXPECT_FALSE(events.empty());
        for (const auto& event : events) {
            EXPECT_TRUE(event->drum() == kickHard || event->drum() == snare);
            const float divs = event->whenRatio() * 8;
            EXPECT_FLOAT_EQ(divs, std::round(divs));
            ++recorded;
        }
    }
    EXPECT_GE(recorded, 4u);

    rp::NotificationCenter::defaultCenter().removeObserver(&delivered);
    routing->detachFromMIDIEndpoints();
    view.onPlaybackTimer(false);
    editor->setPlayer(nullptr);
    player.reset();
    ORPUserDefaults::setDefaults(nullptr);
}

} // namespace
