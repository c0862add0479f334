// MIDI transport into a song: which packets start or stop it, that a command asking for what is
// already happening is ignored, and that only the document's own packets count.

#include "editor/ORPMIDITransport.h"

#include "editor/SongDocument.h"
#include "foundation/NotificationCenter.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;
using Command = ORPMIDITransport::Command;

TEST(MIDITransport, PacketsMapToPlayAndStop)
{
    const struct {
        Bytes bytes;
        Command expected;
    } cases[] = {
        { { 0xFA }, Command::Play },
        { { 0xFB }, Command::Play }, // Continue resumes
        { { 0xFC }, Command::Stop },
        { { 0xF8 }, Command::None }, // clock
        { { 0xFE }, Command::None }, // active sensing
        { { 0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7 }, Command::Stop },
        { { 0xF0, 0x7F, 0x10, 0x06, 0x09, 0xF7 }, Command::Stop }, // pause, any device
        { { 0xF0, 0x7F, 0x00, 0x06, 0x03, 0xF7 }, Command::Play }, // deferred play
        { { 0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7 }, Command::None }, // play (not deferred) is not ours
        { { 0xF0, 0x7F, 0x7F, 0x06, 0x44, 0xF7 }, Command::None }, // locate
        { { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 }, Command::None }, // non-real-time universal
        { { 0xF0, 0x7F, 0x7F, 0x07, 0x01, 0xF7 }, Command::None }, // MMC response, not command
        { { 0xF0, 0x7F, 0x90, 0x06, 0x01, 0xF7 }, Command::None }, // a status byte as device
        { { 0xF0, 0x7F, 0x7F, 0x06 }, Command::None }, // cut short
        { { 0xF0 }, Command::None },
        { { 0x99, 36, 100 }, Command::None }, // notes are the note recorder's
        { { 0x99, 0xFA, 100 }, Command::None },
        { {}, Command::None },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(ORPMIDITransport::commandForMessage(c.bytes), c.expected);
    }
}

struct FakeTransport {
    bool playing = false;
    int toggles = 0;
    int document = 0;
    ORPMIDITransport transport { &document, [this] { return playing; },
        [this] {
            ++toggles;
            playing = !playing;
        } };

    void post(const void* object, const Bytes& bytes)
    {
        rp::NotificationCenter::defaultCenter().post(rp::editor::SongDocumentMIDIPacketNotification, object,
            std::make_shared<const rp::editor::SongDocumentMIDIMessage>(
                rp::editor::SongDocumentMIDIMessage { 0, bytes }));
    }
};

TEST(MIDITransport, CommandsForWhatIsAlreadyHappeningAreIgnored)
{
    FakeTransport f;
    // A sequencer sending Start twice, then Stop twice, then MMC pause while stopped.
    const struct {
        Bytes bytes;
        bool playingAfter;
        int toggles;
    } steps[] = {
        { { 0xFA }, true, 1 },
        { { 0xFA }, true, 1 },
        { { 0xFB }, true, 1 },
        { { 0x99, 36, 0 }, true, 1 },
        { { 0xFC }, false, 2 },
        { { 0xFC }, false, 2 },
        { { 0xF0, 0x7F, 0x7F, 0x06, 0x09, 0xF7 }, false, 2 },
        { { 0xF0, 0x7F, 0x7F, 0x06, 0x03, 0xF7 }, true, 3 },
        { { 0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7 }, false, 4 },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::PrintToString(step.bytes));
        f.post(&f.document, step.bytes);
        EXPECT_EQ(f.playing, step.playingAfter);
        EXPECT_EQ(f.toggles, step.toggles);
    }
}

TEST(MIDITransport, OnlyTheDocumentsOwnPacketsCount)
{
    FakeTransport f;
    int otherDocument = 0;
    f.post(&otherDocument, { 0xFA });
    EXPECT_EQ(f.toggles, 0);
    // A notification without a message (or with another user info) is ignored, not a crash.
    rp::NotificationCenter::defaultCenter().post(rp::editor::SongDocumentMIDIPacketNotification, &f.document);
    rp::NotificationCenter::defaultCenter().post(rp::editor::SongDocumentMIDIPacketNotification, &f.document,
        std::shared_ptr<const rp::editor::SongDocumentMIDIMessage>());
    EXPECT_EQ(f.toggles, 0);
    f.post(&f.document, { 0xFA });
    EXPECT_EQ(f.toggles, 1);
}

TEST(MIDITransport, StopsListeningWhenDestroyed)
{
    int document = 0;
    int toggles = 0;
    {
        ORPMIDITransport transport(
            &document, [] { return false; }, [&] { ++toggles; });
    }
    rp::NotificationCenter::defaultCenter().post(rp::editor::SongDocumentMIDIPacketNotification, &document,
        std::make_shared<const rp::editor::SongDocumentMIDIMessage>(
            rp::editor::SongDocumentMIDIMessage { 0, { 0xFA } }));
    EXPECT_EQ(toggles, 0);
}

} // namespace
