#include "ModelTestSupport.h"
#include "foundation/Error.h"
#include "foundation/NotificationQueue.h"
#include "foundation/PlainRunLoop.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPatternInstance.h"

#include <functional>

using namespace rp::test;

namespace {

ORPSectionPtr sectionOf(std::initializer_list<float> bpms, const std::string& name = "s")
{
    auto section = ORPSection::section();
    std::vector<ORPPatternPtr> patterns;
    for (float bpm : bpms) {
        patterns.push_back(ORPPattern::pattern());
        patterns.back()->setBpm(bpm, 4);
    }
    section->insertPatterns(patterns, 0);
    section->setName(name);
    return section;
}

ORPSectionMarkerPtr entryFor(const ORPSectionPtr& section, int16_t times)
{
    auto marker = ORPSectionMarker::sectionMarker();
    marker->setSection(section);
    marker->setNumberOfTimes(times);
    return marker;
}

// Replaces the song's contents with the given sections and entries.
void fill(ORPSong& song, const std::vector<ORPSectionPtr>& sections,
    const std::vector<ORPSectionMarkerPtr>& entries)
{
    song.removeSectionMarkers(song.sectionMarkerList());
    song.removeSections(song.sectionList());
    song.insertSections(sections, 0);
    song.insertSectionMarkers(entries, 0);
}

TEST(ORPSong, NewSongsTakeTheDefaultKit)
{
    auto kit = ORPDrumKit::kit();
    ORPSong::setDefaultKitProvider(
        [kit] { return std::make_pair(kit, std::filesystem::path("/kits/Default.rpkit")); });
    auto song = ORPSong::song();
    ORPSong::setDefaultKitProvider({});
    EXPECT_EQ(song->drumKit(), kit);
    EXPECT_EQ(song->drumKitURL(), "/kits/Default.rpkit");
    EXPECT_EQ(song->sectionMarkerList().at(0)->section(), song->sectionList().at(0));
    EXPECT_EQ(song->totalDuration(), 2.0f);
    EXPECT_FALSE(ORPSong::song()->drumKit());
}

TEST(ORPSong, PlaylistTimesBarsAndInstances)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    auto a = sectionOf({ 120, 120 }, "A");
    auto b = sectionOf({ 160 }, "B");
    fill(song, { a, b }, { entryFor(a, 3), entryFor(b, 1) });
    const auto& entries = song.sectionMarkerList();
    EXPECT_EQ(entries[1]->cueTime(), 12.0f);
    EXPECT_EQ(entries[1]->firstBarNumber(), 7u);
    EXPECT_EQ(song.totalDuration(), 13.5f);
    EXPECT_EQ(song.totalBars(), 7u);

    auto instances = ORPPatternInstance::instancesForPlaylist(song);
    ASSERT_EQ(instances.size(), 7u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(instances[i]->barNumberInSong(), i + 1);
        EXPECT_EQ(instances[i]->barNumberInSectionMarker(), i + 1);
        EXPECT_EQ(instances[i]->cueTime(), 2.0f * i);
        EXPECT_EQ(instances[i]->pattern(), a->patterns()[i % 2]);
    }
    EXPECT_EQ(instances[6]->barNumberInSectionMarker(), 1);
    EXPECT_EQ(instances[6]->sectionMarker(), entries[1]);
    EXPECT_EQ(instances[6]->previousPatternInstance(), instances[5]);
    EXPECT_EQ(instances[0]->barNumberCompare(*instances[6]), -1);
    EXPECT_FALSE(instances[0]->selection()->anySelection());
    auto alone = ORPPatternInstance::instancesForSection(*b);
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone[0]->cueTime(), 0.0f);
    EXPECT_FALSE(alone[0]->sectionMarker());
}

TEST(ORPSong, RepeatCountsAndSharedSectionsFollowChanges)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    auto verse = sectionOf({ 120 }, "verse");
    auto second = entryFor(verse, 2);
    fill(song, { verse }, { entryFor(verse, 1), second });
    EXPECT_EQ(song.totalDuration(), 6.0f);

    NotificationRecorder entryChanged(ORPSectionMarkerSectionChangedNotification, second.get());
    NotificationRecorder recalculated(ORPSongDurationRecalculatedNotification, &song);
    second->setNumberOfTimes(4);
    second->setNumberOfTimes(-3); // refused
    EXPECT_EQ(entryChanged.count(), 1u);
    EXPECT_EQ(recalculated.count(), 1u);
    EXPECT_EQ(song.totalBars(), 5u);

    // A tempo change in the shared section moves both entries once the queue is flushed.
    verse->patterns()[0]->setBpm(60, 4);
    EXPECT_EQ(verse->duration(), 4.0f);
    rp::NotificationQueue::defaultQueue().flush();
    EXPECT_EQ(song.totalDuration(), 20.0f);
    EXPECT_EQ(second->cueTime(), 4.0f);
}

// An entry repeated 0 times stays in the playlist but adds no bars and no time, in the totals, the
// later entries' cue times, the laid-out bars and a saved copy; undo brings its count back.
TEST(ORPSong, AnEntryRepeatedZeroTimesPlaysNothing)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    auto a = sectionOf({ 120, 120 }, "A");
    auto b = sectionOf({ 60 }, "B");
    auto muted = entryFor(b, 2);
    fill(song, { a, b }, { entryFor(a, 1), muted, entryFor(a, 1) });
    NotificationRecorder entryChanged(ORPSectionMarkerSectionChangedNotification, muted.get());
    fixture.document->edit([&] { muted->setNumberOfTimes(0); });
    muted->setNumberOfTimes(-1); // refused
    EXPECT_EQ(muted->numberOfTimes(), 0);
    EXPECT_EQ(entryChanged.count(), 1u);

    const auto& entries = song.sectionMarkerList();
    EXPECT_EQ(std::pair(muted->cueTime(), muted->firstBarNumber()), std::pair(4.0f, 3u));
    EXPECT_EQ(std::pair(entries[2]->cueTime(), entries[2]->firstBarNumber()), std::pair(4.0f, 3u));
    EXPECT_EQ(std::pair(song.totalDuration(), song.totalBars()), std::pair(8.0f, 4u));
    auto instances = ORPPatternInstance::instancesForPlaylist(song);
    ASSERT_EQ(instances.size(), 4u);
    EXPECT_EQ(instances[2]->sectionMarker(), entries[2]);
    EXPECT_EQ(instances[2]->barNumberInSong(), 3);
    EXPECT_EQ(instances[2]->cueTime(), 4.0f);
    EXPECT_EQ(instances[2]->previousPatternInstance(), instances[1]);

    rp::Error error;
    auto reopened = ORPSong::songFromData(song.dataRepresentation(), "/songs/Zero.rpsong", &error);
    ASSERT_TRUE(reopened) << error.text();
    EXPECT_EQ(reopened->sectionMarkerList().at(1)->numberOfTimes(), 0);
    EXPECT_EQ(reopened->totalBars(), 4u);

    fixture.document->undo.undo();
    EXPECT_EQ(muted->numberOfTimes(), 2);
    EXPECT_EQ(song.totalBars(), 6u);
}

// Every kind of edit to a song, its sections, playlist and bars is its own undo step: undoing them
// one by one passes back through every earlier state, and redoing them all comes back.
TEST(ORPSongUndo, EveryEditUndoesAndRedoesStepByStep)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    auto section = song.sectionList()[0];
    auto entry = song.sectionMarkerList()[0];
    auto pattern = section->patterns()[0];
    auto extra = sectionOf({ 90, 100 }, "extra");
    auto bar = ORPPattern::pattern();
    ORPEventPtr event;
    NotificationRecorder patterns(ORPSectionPatternsAddedOrRemovedNotification, section.get());
    NotificationRecorder sections(ORPSongSectionsAddedOrRemovedNotification, &song);
    NotificationRecorder markers(ORPSongSectionMarkersAddedOrRemovedNotification, &song);
    const std::vector<std::function<void()>> edits = {
        [&] { event = pattern->addEventWithDrum(makeDrum("kick"), 0.5f, 0.25f); },
        [&] {
            for (float place : { 0.375f, 0.5f, 0.75f })
                pattern->addEventWithDrum(makeDrum(place == 0.375f ? "hi hat" : "snare"), 0.6f, place);
        },
        [&] { pattern->changeEvent(event, makeDrum("snare", "rim"), 0.9f); },
        [&] { pattern->setTimeSignatureTop(3, 4); },
        [&] { pattern->setBpm(100, 8); },
        [&] { pattern->insertBeats(2, 0.6f); },
        [&] { pattern->removeEvent(pattern->events()->front()); },
        [&] { pattern->deleteBeatsFromPlace(0.1f, 0.5f); },
        [&] { section->insertPatterns({ bar }, 1); },
        [&] { section->setName("C"); },
        [&] { song.insertSections({ extra }, 99); }, // an index past the end appends
        [&] { song.insertSectionMarkers({ entryFor(extra, 2) }, 0); },
        [&] { entry->setNumberOfTimes(3); },
        [&] { entry->setName("chorus"); },
        [&] { entry->setSection(extra); },
        [&] { song.removeSections({ section }); },
        [&] { song.setName("Song"); },
        [&] { song.setNotes("notes"); },
        [&] { song.setMasterLevel(0.5f); },
    };
    std::vector<std::string> states = { outline(song) };
    for (const auto& edit : edits) {
        fixture.document->edit(edit);
        states.push_back(outline(song));
        EXPECT_NE(states.back(), states[states.size() - 2]) << states.back();
    }
    EXPECT_FALSE(section->parentSong());
    for (size_t i = edits.size(); i-- > 0;) {
        fixture.document->undo.undo();
        EXPECT_EQ(outline(song), states[i]) << "undoing edit " << i;
    }
    EXPECT_EQ(section->parentSong().get(), &song);
    EXPECT_FALSE(bar->parentSection());
    EXPECT_EQ(std::any_cast<std::vector<ORPPatternPtr>>(patterns.lastInfo("patterns-")).front(), bar);
    for (size_t i = 0; i < edits.size(); ++i)
        fixture.document->undo.redo();
    EXPECT_EQ(outline(song), states.back());
    EXPECT_EQ(bar->parentSection(), section);
    EXPECT_EQ(std::vector<size_t>({ patterns.count(), sections.count(), markers.count() }),
        std::vector<size_t>({ 3, 6, 3 }));
}

// A tempo is shown rounded, but undo and redo bring back the exact bar length, including when the
// beat basis changed with it.
TEST(ORPSongUndo, TempoUndoRestoresTheExactDuration)
{
    SongFixture fixture;
    auto pattern = fixture.song->sectionList()[0]->patterns()[0];
    pattern->setBpm(120.0f * 2.0f / 2.1f, 4); // a 2.1 s bar, shown as 114 bpm
    const float exact = pattern->duration();
    ASSERT_FLOAT_EQ(exact, 2.1f);
    struct Change {
        float bpm;
        float basis;
    };
    for (const Change change : { Change { 120, 4 }, Change { 90, 8 }, Change { 60, 4 } }) {
        fixture.document->edit([&] { pattern->setBpm(change.bpm, change.basis); });
        const float changed = pattern->duration();
        const float changedBasis = pattern->beatBasis();
        NotificationRecorder tempo(ORPPatternTempoChangedNotification, pattern.get());
        NotificationRecorder geometry(ORPPatternGeometryChangedNotification, pattern.get());
        fixture.document->undo.undo();
        EXPECT_EQ(pattern->duration(), exact) << change.bpm;
        EXPECT_EQ(pattern->beatBasis(), 4.0f);
        EXPECT_EQ((change.basis == 4 ? tempo : geometry).count(), 1u);
        fixture.document->undo.redo();
        EXPECT_EQ(pattern->duration(), changed) << change.bpm;
        EXPECT_EQ(pattern->beatBasis(), changedBasis);
        fixture.document->undo.undo();
        EXPECT_EQ(pattern->duration(), exact) << change.bpm;
    }
}

TEST(ORPSong, SectionCopiesOwnAndObserveTheirOwnPatterns)
{
    auto unplayed = sectionOf({ 120 });
    unplayed->patterns()[0]->addEventWithDrum(makeDrum("tom"), 1, 0.5f);
    auto copy = unplayed->copy();
    EXPECT_FALSE(copy->parentSong());
    ASSERT_EQ(copy->patterns().size(), 1u);
    EXPECT_NE(copy->patterns()[0], unplayed->patterns()[0]);
    EXPECT_EQ(copy->patterns()[0]->parentSection(), copy);
    // Each copied pattern has its own events, with the same drums.
    EXPECT_EQ(copy->patterns()[0]->description(), unplayed->patterns()[0]->description());
    EXPECT_NE(copy->patterns()[0]->events()->front(), unplayed->patterns()[0]->events()->front());
    EXPECT_EQ(
        copy->patterns()[0]->events()->front()->drum(), unplayed->patterns()[0]->events()->front()->drum());
    copy->patterns()[0]->setBpm(60, 4); // the copy observes its own patterns
    EXPECT_EQ(copy->duration(), 4.0f);
}

// A burst of tempo changes to one section within one turn of the run loop recomputes the song once.
TEST(ORPSong, SectionDurationChangesAreCoalescedPerTurn)
{
    auto loop = std::make_shared<rp::PlainRunLoop>();
    rp::RunLoop::setMain(loop);
    {
        SongFixture fixture;
        auto& song = *fixture.song;
        auto a = sectionOf({ 120, 120, 120 }, "A");
        auto b = sectionOf({ 120 }, "B");
        fill(song, { a, b }, { entryFor(a, 1), entryFor(b, 1) });
        rp::NotificationQueue::defaultQueue().flush();

        NotificationRecorder recalculated(ORPSongDurationRecalculatedNotification, &song);
        NotificationRecorder durationA(ORPSectionDurationChangedNotification, a.get());
        bool done = false;
        loop->perform([&] {
            for (const auto& pattern : a->patterns())
                pattern->setBpm(60, 4);
            a->patterns()[0]->setTimeSignatureTop(3, 4);
            b->patterns()[0]->setBpm(240, 4);
            EXPECT_EQ(recalculated.count(), 0u); // nothing yet: the notifications wait for the turn's end
        });
        loop->perform([&] { done = true; });
        loop->runUntil([&] { return done; }, 5.0);
        EXPECT_EQ(durationA.count(), 1u);
        EXPECT_EQ(recalculated.count(), 2u); // once for A, once for B
        EXPECT_EQ(song.totalDuration(), 4.0f + 4.0f + 4.0f + 1.0f); // a 3/4 bar keeps its 4 s
    }
    rp::RunLoop::setMain(nullptr);
}

} // namespace
