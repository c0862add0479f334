#include "editor/ORPMIDIRouting.h"

#include "editor/EditorTestSupport.h"
#include "editor/MIDITestDocuments.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using Kind = rp::MIDIBackend::Kind;
using rp::test::RecordingDocument;

// Input keeps arriving on the MIDI thread while the main thread opens, closes and reorders windows:
// every note-on still reaches exactly one document, every reset at least one.
TEST(ORPMIDIRoutingThreads, RoutingReadsTheWindowOrderWhileTheMainThreadChangesIt)
{
    rp::test::LoopbackMIDI midi;
    rp::test::TempDefaults defaults;
    const uint32_t sourceRef = midi.plug(Kind::Source, "Pads", "Out", 4711);
    midi.settle();
    defaults.store().setInteger(4711, ORPMIDIRouting::kSourceIDKey);
    auto order = std::make_shared<ORPDocumentWindowOrder>();
    auto routing = ORPMIDIRouting::create(midi.manager, defaults.store(), order);
    routing->configureMIDI();

    std::vector<std::shared_ptr<RecordingDocument>> everyDocument;
    auto fresh = [&] {
        everyDocument.push_back(std::make_shared<RecordingDocument>());
        return everyDocument.back();
    };
    order->setDocuments({ fresh() });

    constexpr int kLists = 400;
    std::atomic<bool> done { false };
    std::thread input([&] {
        rp::MIDIPacketList list;
        list.add(0, { 0x90, 60, 100 });
        list.add(0, { 0xFF });
        for (int i = 0; i < kLists; ++i) {
            midi.backend->inject(sourceRef, list);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        done = true;
    });
    // The main thread: windows come and go; the list is never empty.
    std::vector<std::shared_ptr<RecordingDocument>> open { everyDocument.back() };
    int step = 0;
    while (!done) {
        if (++step % 3 == 0 && open.size() > 1) {
            open.erase(open.begin());
        } else {
            open.insert(open.begin() + static_cast<long>(step % (open.size() + 1)), fresh());
        }
        order->setDocuments({ open.begin(), open.end() });
        std::this_thread::yield();
    }
    input.join();
    midi.backend->waitUntilQuiet();

    size_t noteOns = 0;
    size_t resets = 0;
    for (const auto& document : everyDocument) {
        for (const auto& packet : document->packets()) {
            (packet.bytes[0] == 0xFF ? resets : noteOns) += 1;
        }
    }
    EXPECT_EQ(noteOns, size_t { kLists });
    EXPECT_GE(resets, size_t { kLists });
    EXPECT_GT(everyDocument.size(), 2u);
    routing->detachFromMIDIEndpoints();
}
