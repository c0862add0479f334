#include "ModelTestSupport.h"

#include <atomic>
#include <thread>

using namespace rp::test;

namespace {

// The player walks a pattern's events on its own thread while the main thread edits the pattern.
// A walk holds the snapshot it started with: its length never changes under it, and every event
// and drum in it stays alive and readable.
TEST(ORPPatternThreads, EditingWhileAnotherThreadWalksTheEvents)
{
    SongFixture fixture;
    auto pattern = fixture.song->sectionList()[0]->patterns()[0];
    auto& doc = *fixture.document;
    std::vector<ORPDrumPtr> drums { makeDrum("kick"), makeDrum("snare"), makeDrum("hi hat", "closed") };

    std::atomic<bool> stop { false };
    std::atomic<uint64_t> walks { 0 };
    std::atomic<bool> inconsistent { false };
    std::thread player([&] {
        while (!stop.load()) {
            auto snapshot = pattern->events();
            const size_t size = snapshot->size();
            double sum = pattern->duration() + pattern->timeSignatureTop();
            for (const auto& event : *snapshot) {
                auto drum = event->drum();
                sum += event->whenRatio() * event->velocity() + static_cast<double>(drum->typeName().size());
            }
            if (snapshot->size() != size || !(sum > 0))
                inconsistent = true;
            walks.fetch_add(1);
        }
    });

    for (int round = 0; round < 300; ++round) {
        doc.edit([&] {
            for (int i = 0; i < 16; ++i)
                pattern->addEventWithDrum(drums[static_cast<size_t>(i) % drums.size()], 0.5f, i / 16.0f);
        });
        doc.edit([&] { pattern->changeEvent(pattern->events()->front(), drums[2], 0.9f); });
        doc.edit([&] { pattern->insertBeats(1, 0.5f); });
        doc.edit([&] { pattern->setBpm(90 + round % 50, 4); });
        doc.edit([&] { pattern->deleteBeatsFromPlace(0.0f, 0.3f); });
        if (round % 3 == 0) {
            doc.undo.undo();
            doc.undo.redo();
        }
        doc.edit([&] {
            auto snapshot = pattern->events();
            for (const auto& event : *snapshot)
                pattern->removeEvent(event);
        });
    }
    // Let the walker finish at least a few walks even on a slow machine.
    while (walks.load() < 10)
        std::this_thread::yield();
    stop = true;
    player.join();
    EXPECT_FALSE(inconsistent.load());
    EXPECT_TRUE(pattern->events()->empty());
}

} // namespace
