#include "ModelTestSupport.h"
#include "foundation/NotificationQueue.h"
#include "foundation/PlainRunLoop.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPatternInstance.h"

using namespace rp::test;

namespace {

ORPSectionPtr sectionOf(std::initializer_list<float> bpms, const std::string& name = "s")
{
    auto section = ORPSection::section();
    std::vector<ORPPatternPtr> patterns;
    for (float bpm : bpms) {
        auto pattern = ORPPattern::pattern();
        pattern->setBpm(bpm, 4);
        patterns.push_back(pattern);
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

// Replaces the new song's contents with the given sections and entries.
void fill(ORPSong& song, const std::vector<ORPSectionPtr>& sections,
    const std::vector<ORPSectionMarkerPtr>& entries)
{
    song.removeSectionMarkers(song.sectionMarkerList());
    song.removeSections(song.sectionList());
    song.insertSections(sections, 0);
    song.insertSectionMarkers(entries, 0);
}

TEST(ORPSong, NewSongShape)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    ASSERT_EQ(song.sectionList().size(), 1u);
    ASSERT_EQ(song.sectionMarkerList().size(), 1u);
    EXPECT_EQ(song.sectionMarkerList()[0]->section(), song.sectionList()[0]);
    EXPECT_EQ(song.sectionList()[0]->parentSong().get(), &song);
    EXPECT_EQ(song.sectionList()[0]->patterns()[0]->parentSection(), song.sectionList()[0]);
    EXPECT_EQ(song.totalBars(), 1u);
    EXPECT_EQ(song.totalDuration(), 2.0f);
    EXPECT_FALSE(song.drumKit());

    auto kit = ORPDrumKit::kit();
    ORPSong::setDefaultKitProvider(
        [kit] { return std::make_pair(kit, std::filesystem::path("/kits/Default.rpkit")); });
    auto withKit = ORPSong::song();
    ORPSong::setDefaultKitProvider({});
    EXPECT_EQ(withKit->drumKit(), kit);
    EXPECT_EQ(withKit->drumKitURL(), "/kits/Default.rpkit");
}

TEST(ORPSong, PlaylistOverviewAndInstances)
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
    auto first = entryFor(verse, 1);
    auto second = entryFor(verse, 2);
    fill(song, { verse }, { first, second });
    EXPECT_EQ(song.totalDuration(), 6.0f);

    NotificationRecorder entryChanged(ORPSectionMarkerSectionChangedNotification, second.get());
    NotificationRecorder recalculated(ORPSongDurationRecalculatedNotification, &song);
    second->setNumberOfTimes(4);
    EXPECT_EQ(entryChanged.count(), 1u);
    EXPECT_EQ(recalculated.count(), 1u);
    EXPECT_EQ(song.totalBars(), 5u);
    second->setNumberOfTimes(0); // refused
    second->setNumberOfTimes(-3);
    EXPECT_EQ(second->numberOfTimes(), 4);

    // A tempo change in the shared section moves both entries once the queue is flushed.
    verse->patterns()[0]->setBpm(60, 4);
    EXPECT_EQ(verse->duration(), 4.0f);
    rp::NotificationQueue::defaultQueue().flush();
    EXPECT_EQ(song.totalDuration(), 20.0f);
    EXPECT_EQ(second->cueTime(), 4.0f);
}

TEST(ORPSong, SectionInsertRemoveAndUndo)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    auto& doc = *fixture.document;
    std::vector<ORPSectionPtr> s;
    for (int i = 0; i < 6; ++i)
        s.push_back(sectionOf({ 120 }, "s" + std::to_string(i)));
    fill(song, s, {});

    NotificationRecorder changed(ORPSongSectionsAddedOrRemovedNotification, &song);
    doc.edit([&] { song.removeSections({ s[1], s[3], s[4] }); });
    EXPECT_EQ(song.sectionList(), (std::vector<ORPSectionPtr> { s[0], s[2], s[5] }));
    EXPECT_FALSE(s[3]->parentSong());
    doc.undo.undo();
    EXPECT_EQ(song.sectionList(), s);
    EXPECT_EQ(s[3]->parentSong().get(), &song);

    // Sections not in the song: nothing changes, but an undo step and a notification still happen.
    auto stranger = sectionOf({ 120 });
    size_t steps = doc.undo.undoStepCount();
    size_t posts = changed.count();
    doc.edit([&] { song.removeSections({ stranger }); });
    EXPECT_EQ(song.sectionList(), s);
    EXPECT_EQ(doc.undo.undoStepCount(), steps + 1);
    EXPECT_EQ(changed.count(), posts + 1);

    doc.edit([&] { song.insertSections({ stranger }, 99); }); // an index past the end appends
    EXPECT_EQ(song.sectionList().back(), stranger);
    doc.undo.undo();
    EXPECT_EQ(song.sectionList(), s);
}

TEST(ORPSong, PlaylistAndPatternEditsUndo)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    auto& doc = *fixture.document;
    auto section = song.sectionList()[0];
    auto entry = song.sectionMarkerList()[0];

    NotificationRecorder markers(ORPSongSectionMarkersAddedOrRemovedNotification, &song);
    auto extra = entryFor(section, 2);
    doc.edit([&] { song.insertSectionMarkers({ extra }, 0); });
    EXPECT_EQ(markers.count(), 1u);
    EXPECT_EQ(entry->firstBarNumber(), 3u);
    doc.undo.undo();
    EXPECT_EQ(song.sectionMarkerList().size(), 1u);
    EXPECT_EQ(entry->firstBarNumber(), 1u);

    NotificationRecorder patterns(ORPSectionPatternsAddedOrRemovedNotification, section.get());
    auto bar = ORPPattern::pattern();
    doc.edit([&] { section->insertPatterns({ bar }, 1); });
    EXPECT_EQ(std::any_cast<std::vector<ORPPatternPtr>>(patterns.lastInfo("patterns+")).size(), 1u);
    EXPECT_EQ(song.totalBars(), 2u);
    EXPECT_EQ(bar->parentSection(), section);
    doc.undo.undo();
    EXPECT_EQ(std::any_cast<std::vector<ORPPatternPtr>>(patterns.lastInfo("patterns-")).front(), bar);
    EXPECT_EQ(song.totalBars(), 1u);
    EXPECT_FALSE(bar->parentSection());

    doc.edit([&] { entry->setNumberOfTimes(3); });
    doc.edit([&] { entry->setName("chorus"); });
    doc.edit([&] { section->setName("C"); });
    doc.edit([&] { song.setName("Song"); });
    doc.edit([&] { song.setNotes("notes"); });
    doc.edit([&] { song.setMasterLevel(0.5f); });
    auto other = sectionOf({ 90 });
    doc.edit([&] { entry->setSection(other); });
    for (int i = 0; i < 7; ++i)
        doc.undo.undo();
    EXPECT_EQ(entry->numberOfTimes(), 1);
    EXPECT_EQ(entry->name(), "unnamed");
    EXPECT_EQ(song.notes(), "");
    EXPECT_EQ(entry->section(), section);
    for (int i = 0; i < 7; ++i)
        doc.undo.redo();
    EXPECT_EQ(song.masterLevel(), 0.5f);
    EXPECT_EQ(entry->section(), other);
    EXPECT_EQ(song.totalDuration(), 3 * other->duration());
}

TEST(ORPSong, DrumsInUseAndCopies)
{
    SongFixture fixture;
    auto& song = *fixture.song;
    auto kick = makeDrum("kick");
    auto tom = makeDrum("tom");
    song.sectionList()[0]->patterns()[0]->addEventWithDrum(kick, 1, 0);
    auto unplayed = sectionOf({ 120 });
    unplayed->patterns()[0]->addEventWithDrum(tom, 1, 0.5f);
    unplayed->patterns()[0]->addEventWithDrum(kick, 1, 0.75f);
    song.insertSections({ unplayed }, 1);
    EXPECT_EQ(song.drumsCurrentlyInUse(), (std::set<ORPDrumPtr> { kick, tom }));
    EXPECT_EQ(song.allPatterns().size(), 2u);

    auto copy = unplayed->copy();
    EXPECT_FALSE(copy->parentSong());
    ASSERT_EQ(copy->patterns().size(), 1u);
    EXPECT_NE(copy->patterns()[0], unplayed->patterns()[0]);
    EXPECT_EQ(copy->patterns()[0]->parentSection(), copy);
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
