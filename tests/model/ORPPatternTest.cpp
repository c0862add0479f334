#include "model/ORPPattern.h"

#include "ModelTestSupport.h"
#include "foundation/Logger.h"
#include "model/ORPSection.h"

#include <cmath>
#include <limits>

using namespace rp::test;

namespace {

// A pattern inside a section of a song owned by a test document, so its edits are undoable.
struct OwnedPattern : SongFixture {
    OwnedPattern() { pattern = song->sectionList().front()->patterns().front(); }
    ORPPatternPtr pattern;
};

TEST(ORPPattern, UnitsAndTempo)
{
    auto pattern = ORPPattern::pattern();
    pattern->setBpm(120.0f * 2.0f / 2.1f, 4); // a 2.1 s bar
    EXPECT_FLOAT_EQ(pattern->duration(), 2.1f);
    EXPECT_EQ(pattern->bpm(), 114.0f);

    auto compound = ORPPattern::pattern();
    compound->setTimeSignatureTop(6, 8);
    compound->setBpm(60, 8.0f / 3.0f);
    EXPECT_FLOAT_EQ(compound->beats(), 2.0f);
    EXPECT_FLOAT_EQ(compound->duration(), 2.0f);

    // Changing the signature keeps the duration, so the tempo follows the beat count.
    auto threeFour = ORPPattern::pattern();
    threeFour->setTimeSignatureTop(3, 4);
    EXPECT_EQ(threeFour->duration(), 2.0f);
    EXPECT_EQ(threeFour->bpm(), 90.0f);
}

TEST(ORPPattern, BeatBasisTable)
{
    EXPECT_FALSE(ORPPattern::iconNameForBeatBasis(3.0f));
    // Compound meters (a top divisible by 3, over 8 or 16) count in dotted notes.
    EXPECT_EQ(ORPPattern::beatBasisForTimeSignatureTop(6, 8), 8.0f / 3.0f);
    EXPECT_EQ(ORPPattern::beatBasisForTimeSignatureTop(0, 8), 8.0f / 3.0f);
    EXPECT_EQ(ORPPattern::beatBasisForTimeSignatureTop(7, 8), 8.0f);
    EXPECT_EQ(ORPPattern::beatBasisForTimeSignatureTop(12, 16), 16.0f / 3.0f);
    EXPECT_EQ(ORPPattern::beatBasisForTimeSignatureTop(3, 4), 4.0f);

    EXPECT_EQ(ORPPattern::beatBasisForLegacyCode(45), 8.0f / 3.0f);
    EXPECT_EQ(ORPPattern::beatBasisForLegacyCode(160), 16.0f);
    EXPECT_FALSE(ORPPattern::beatBasisForLegacyCode(41));
}

TEST(ORPPattern, InsertAndDeleteBeatsRetimeEvents)
{
    auto drum = makeDrum("snare");
    auto pattern = ORPPattern::pattern();
    for (float place : { 0.0f, 0.25f, 0.5f })
        pattern->addEventWithDrum(drum, 1, place);

    pattern->insertBeats(1, 0.3f);
    EXPECT_EQ(pattern->timeSignatureTop(), 5);
    EXPECT_FLOAT_EQ(pattern->duration(), 2.5f);
    EXPECT_EQ(places(*pattern), (std::vector<float> { 0.0f, 0.4f, 0.6f }));

    auto other = ORPPattern::pattern();
    other->addEventWithDrum(drum, 1, 0.3f);
    other->addEventWithDrum(drum, 1, 0.5f);
    other->addEventWithDrum(drum, 1, 0.75f);
    EXPECT_EQ(other->deleteBeatsFromPlace(0.3f, 0.6f), 1);
    EXPECT_EQ(other->timeSignatureTop(), 3);
    EXPECT_FLOAT_EQ(other->duration(), 1.5f);
    EXPECT_EQ(places(*other), (std::vector<float> { 1.0f / 3.0f, 2.0f / 3.0f }));

    // A bar keeps at least one written beat; empty, reversed and unreadable ranges delete nothing.
    auto whole = ORPPattern::pattern();
    NotificationRecorder geometry(ORPPatternGeometryChangedNotification, whole.get());
    EXPECT_EQ(whole->deleteBeatsFromPlace(0.0f, 1.0f), 0);
    EXPECT_EQ(whole->deleteBeatsFromPlace(0.6f, 0.3f), 0);
    EXPECT_EQ(whole->deleteBeatsFromPlace(std::nanf(""), 0.5f), 0);
    // Inserting fewer than one beat, or at a place that is not a number, changes nothing.
    whole->insertBeats(0, 0.5f);
    whole->insertBeats(-2, 0.5f);
    whole->insertBeats(1, std::nanf(""));
    EXPECT_EQ(whole->timeSignatureTop(), 4);
    EXPECT_EQ(whole->duration(), 2.0f);
    EXPECT_EQ(geometry.count(), 0u);

    // A thirds grid: places like 2/3 stored as floats still snap to their own beat.
    auto thirds = ORPPattern::pattern();
    thirds->setTimeSignatureTop(3, 4);
    thirds->addEventWithDrum(drum, 1, 2.0f / 3.0f);
    EXPECT_EQ(thirds->deleteBeatsFromPlace(2.0f / 3.0f, 1.0f), 1);
    EXPECT_TRUE(thirds->events()->empty());
}

TEST(ORPPattern, SameTypeRuleAndEventOrder)
{
    auto pattern = ORPPattern::pattern();
    auto open = makeDrum("hi hat", "open");
    auto closed = makeDrum("Hi Hat", "closed");
    auto kick = makeDrum("kick");
    NotificationRecorder modified(ORPPatternEventsModifiedNotification, pattern.get());

    auto first = pattern->addEventWithDrum(open, 0.7f, 0.5f);
    ASSERT_TRUE(first);
    EXPECT_EQ(std::any_cast<ORPEventPtr>(modified.lastInfo("event+")), first);

    auto changed = pattern->addEventWithDrum(closed, 0.2f, 0.5f);
    EXPECT_EQ(changed, first);
    EXPECT_EQ(first->drum(), closed);
    EXPECT_EQ(first->velocity(), 0.7f); // the old velocity stays
    EXPECT_EQ(std::any_cast<ORPEventPtr>(modified.lastInfo("event~")), first);

    EXPECT_EQ(pattern->addEventWithDrum(closed, 0.9f, 0.5f), first);
    EXPECT_EQ(modified.count(), 2u); // the very same drum: nothing posted

    // Another type at the same place goes before the events already there.
    auto kickEvent = pattern->addEventWithDrum(kick, 1, 0.5f);
    pattern->addEventWithDrum(kick, 1, 0.25f);
    pattern->addEventWithDrum(kick, 1, 0.75f);
    auto snapshot = pattern->events();
    EXPECT_EQ((*snapshot)[1], kickEvent);
    EXPECT_EQ((*snapshot)[2], first);
    EXPECT_EQ(places(*pattern), (std::vector<float> { 0.25f, 0.5f, 0.5f, 0.75f }));

    EXPECT_EQ(pattern->eventsAtPlace(0.5f).size(), 2u);
    pattern->addEventWithDrum(kick, 1, 0.2500001f);
    EXPECT_EQ(pattern->eventsAtPlace(0.25f).size(), 1u);

    pattern->removeEvent(kickEvent);
    EXPECT_EQ(std::any_cast<ORPEventPtr>(modified.lastInfo("event-")), kickEvent);
    size_t before = modified.count();
    pattern->removeEvent(kickEvent); // no longer in the pattern
    pattern->changeEvent(ORPEvent::event(0.1f, kick, 1), open, 1);
    EXPECT_EQ(modified.count(), before);
}

TEST(ORPPattern, PlacesOutsideTheBarAreRefusedAndLogged)
{
    auto pattern = ORPPattern::pattern();
    auto snare = makeDrum("snare");
    rp::LogCapture log;
    EXPECT_FALSE(pattern->addEventWithDrum(snare, 1, 1.0f));
    EXPECT_TRUE(log.contains("Invalid place 1.000000 to add snare"));
    for (float bad : { -0.25f, std::nanf(""), std::numeric_limits<float>::infinity() })
        EXPECT_FALSE(pattern->addEventWithDrum(snare, 1, bad));
    EXPECT_TRUE(log.contains("Invalid place nan to add snare"));
    EXPECT_TRUE(pattern->events()->empty());
}

TEST(ORPPattern, TempoRulesNotificationsAndZoom)
{
    auto pattern = ORPPattern::pattern();
    NotificationRecorder tempo(ORPPatternTempoChangedNotification, pattern.get());
    NotificationRecorder geometry(ORPPatternGeometryChangedNotification, pattern.get());

    pattern->setBpm(120, 4); // unchanged
    for (float bad : { 0.0f, -60.0f, std::nanf(""), std::numeric_limits<float>::infinity() })
        pattern->setBpm(bad, 4);
    pattern->setBpm(100, 0.0f);
    EXPECT_EQ(pattern->duration(), 2.0f);
    EXPECT_EQ(tempo.count() + geometry.count(), 0u);

    pattern->setBpm(60, 4);
    EXPECT_EQ(tempo.count(), 1u);
    EXPECT_FALSE(tempo.lastHasInfo());
    pattern->setBpm(60, 8);
    EXPECT_EQ(geometry.count(), 1u);
    EXPECT_FLOAT_EQ(pattern->duration(), 8.0f);

    pattern->setTimeSignatureTop(7, 8);
    EXPECT_EQ(geometry.count(), 2u);
    EXPECT_EQ(std::any_cast<std::nullptr_t>(geometry.lastInfo("timeSignature")), nullptr);
    pattern->setTimeSignatureTop(7, 8);
    pattern->setTimeSignatureTop(0, 8);
    pattern->setTimeSignatureTop(7, -4);
    EXPECT_EQ(geometry.count(), 2u);
    EXPECT_EQ(pattern->timeSignatureTop(), 7);

    pattern->insertBeats(1, 0);
    EXPECT_TRUE(geometry.lastInfo("beats+").has_value());
    pattern->deleteBeatsFromPlace(0, 0.1f);
    EXPECT_TRUE(geometry.lastInfo("beats-").has_value());

    EXPECT_TRUE(pattern->setZoomLevel(-1));
    EXPECT_TRUE(pattern->setZoomLevel(6));
    EXPECT_FALSE(pattern->setZoomLevel(7));
    EXPECT_FALSE(pattern->setZoomLevel(-2));
    EXPECT_EQ(pattern->zoomLevel(), 6);
}

TEST(ORPPattern, DescriptionAndCopy)
{
    auto pattern = ORPPattern::pattern();
    auto hat = makeDrum("hi hat", "closed");
    pattern->addEventWithDrum(hat, 0.8f, 0.25f);
    pattern->setZoomLevel(3);
    EXPECT_EQ(pattern->description(), "4|4 (120.00bpm, 2.00s);\n  0.25000 hi hat (closed) (0.80)\n");

    auto copy = pattern->copy();
    EXPECT_EQ(copy->description(), pattern->description());
    EXPECT_EQ(copy->zoomLevel(), 3);
    EXPECT_NE(copy->events()->front(), pattern->events()->front());
    EXPECT_EQ(copy->events()->front()->drum(), hat); // the drum is shared
}

TEST(ORPPatternUndo, EveryEditUndoesAndRedoes)
{
    OwnedPattern fixture;
    auto& doc = *fixture.document;
    auto pattern = fixture.pattern;
    auto kick = makeDrum("kick");
    auto snare = makeDrum("snare");
    auto rim = makeDrum("snare", "rim");

    ORPEventPtr event;
    doc.edit([&] { event = pattern->addEventWithDrum(kick, 0.5f, 0.25f); });
    doc.edit([&] { pattern->addEventWithDrum(snare, 0.6f, 0.5f); });
    doc.edit([&] { pattern->changeEvent(event, rim, 0.9f); });
    doc.edit([&] { pattern->setTimeSignatureTop(3, 4); });
    doc.edit([&] { pattern->setBpm(100, 8); });
    const std::string edited = pattern->description();

    for (int i = 0; i < 5; ++i)
        doc.undo.undo();
    EXPECT_EQ(pattern->description(), "4|4 (120.00bpm, 2.00s);\n");
    for (int i = 0; i < 5; ++i)
        doc.undo.redo();
    EXPECT_EQ(pattern->description(), edited);
    EXPECT_EQ(pattern->events()->front()->drum(), rim);

    doc.edit([&] { pattern->removeEvent(pattern->events()->front()); });
    doc.undo.undo();
    EXPECT_EQ(pattern->description(), edited);
}

TEST(ORPPatternUndo, DeletedBeatsComeBackWithTheirEvents)
{
    OwnedPattern fixture;
    auto& doc = *fixture.document;
    auto pattern = fixture.pattern;
    auto kick = makeDrum("kick");
    auto hat = makeDrum("hi hat");
    doc.edit([&] {
        for (float place : { 0.0f, 0.25f, 0.375f, 0.5f, 0.75f })
            pattern->addEventWithDrum(place == 0.375f ? hat : kick, 0.5f, place);
    });
    const std::string before = pattern->description();

    int64_t deleted = 0;
    doc.edit([&] { deleted = pattern->deleteBeatsFromPlace(0.25f, 0.5f); });
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(pattern->events()->size(), 3u);
    doc.undo.undo();
    EXPECT_EQ(pattern->description(), before);
    doc.undo.redo();
    EXPECT_EQ(pattern->timeSignatureTop(), 3);
    EXPECT_EQ(places(*pattern), (std::vector<float> { 0.0f, 1.0f / 3.0f, 2.0f / 3.0f }));

    doc.undo.undo();
    doc.edit([&] { pattern->insertBeats(2, 0.6f); });
    EXPECT_EQ(pattern->timeSignatureTop(), 6);
    doc.undo.undo();
    EXPECT_EQ(pattern->description(), before);
}

} // namespace
