#include "model/ORPPattern.h"

#include "ModelTestSupport.h"
#include "foundation/Logger.h"
#include "model/ORPSection.h"

#include <cmath>
#include <limits>

using namespace rp::test;

namespace {

const float kNaN = std::nanf("");
const float kInfinity = std::numeric_limits<float>::infinity();

ORPPatternPtr patternWith(std::initializer_list<float> placesOfSnares, int top = 4)
{
    auto pattern = ORPPattern::pattern();
    pattern->setTimeSignatureTop(top, 4);
    for (float place : placesOfSnares)
        pattern->addEventWithDrum(makeDrum("snare"), 1, place);
    return pattern;
}

TEST(ORPPattern, InsertAndDeleteBeatsRetimeEvents)
{
    auto pattern = patternWith({ 0.0f, 0.25f, 0.5f });
    pattern->insertBeats(1, 0.3f);
    EXPECT_EQ(pattern->timeSignatureTop(), 5);
    EXPECT_FLOAT_EQ(pattern->duration(), 2.5f);
    EXPECT_EQ(places(*pattern), (std::vector<float> { 0.0f, 0.4f, 0.6f }));

    auto other = patternWith({ 0.3f, 0.5f, 0.75f });
    EXPECT_EQ(other->deleteBeatsFromPlace(0.3f, 0.6f), 1);
    EXPECT_EQ(other->timeSignatureTop(), 3);
    EXPECT_FLOAT_EQ(other->duration(), 1.5f);
    EXPECT_EQ(places(*other), (std::vector<float> { 1.0f / 3.0f, 2.0f / 3.0f }));

    // A bar keeps at least one written beat; empty, reversed and unreadable ranges delete nothing,
    // and inserting fewer than one beat, or at a place that is not a number, changes nothing.
    auto whole = ORPPattern::pattern();
    NotificationRecorder geometry(ORPPatternGeometryChangedNotification, whole.get());
    EXPECT_EQ(whole->deleteBeatsFromPlace(0.0f, 1.0f) + whole->deleteBeatsFromPlace(0.6f, 0.3f)
            + whole->deleteBeatsFromPlace(kNaN, 0.5f),
        0);
    whole->insertBeats(0, 0.5f);
    whole->insertBeats(-2, 0.5f);
    whole->insertBeats(1, kNaN);
    EXPECT_EQ(whole->description(), "4|4 (120.00bpm, 2.00s);\n");
    EXPECT_EQ(geometry.count(), 0u);

    // A thirds grid: places like 2/3 stored as floats still snap to their own beat.
    auto thirds = patternWith({ 2.0f / 3.0f }, 3);
    EXPECT_EQ(thirds->deleteBeatsFromPlace(2.0f / 3.0f, 1.0f), 1);
    EXPECT_TRUE(thirds->events()->empty());
}

TEST(ORPPattern, PlacesSameTypeRuleAndEventOrder)
{
    auto pattern = ORPPattern::pattern();
    rp::LogCapture log;
    for (float bad : { 1.0f, -0.25f, kNaN, kInfinity })
        EXPECT_FALSE(pattern->addEventWithDrum(makeDrum("snare"), 1, bad));
    EXPECT_TRUE(log.contains("Invalid place 1.000000 to add snare"));
    EXPECT_TRUE(log.contains("Invalid place nan to add snare"));
    EXPECT_TRUE(pattern->events()->empty());

    auto open = makeDrum("hi hat", "open");
    auto closed = makeDrum("Hi Hat", "closed");
    auto kick = makeDrum("kick");
    NotificationRecorder modified(ORPPatternEventsModifiedNotification, pattern.get());
    auto eventPosted = [&](const char* key) { return std::any_cast<ORPEventPtr>(modified.lastInfo(key)); };

    auto first = pattern->addEventWithDrum(open, 0.7f, 0.5f);
    ASSERT_TRUE(first);
    EXPECT_EQ(eventPosted("event+"), first);
    // Another variant of the same type at the same place changes the drum but keeps the velocity.
    EXPECT_EQ(pattern->addEventWithDrum(closed, 0.2f, 0.5f), first);
    EXPECT_EQ(first->drum(), closed);
    EXPECT_EQ(first->velocity(), 0.7f);
    EXPECT_EQ(eventPosted("event~"), first);
    EXPECT_EQ(pattern->addEventWithDrum(closed, 0.9f, 0.5f), first);
    EXPECT_EQ(modified.count(), 2u); // the very same drum: nothing posted

    // Another type at the same place goes before the events already there.
    auto kickEvent = pattern->addEventWithDrum(kick, 1, 0.5f);
    pattern->addEventWithDrum(kick, 1, 0.25f);
    pattern->addEventWithDrum(kick, 1, 0.75f);
    EXPECT_EQ((*pattern->events())[1], kickEvent);
    EXPECT_EQ((*pattern->events())[2], first);
    EXPECT_EQ(places(*pattern), (std::vector<float> { 0.25f, 0.5f, 0.5f, 0.75f }));
    EXPECT_EQ(pattern->eventsAtPlace(0.5f).size(), 2u);
    pattern->addEventWithDrum(kick, 1, 0.2500001f);
    EXPECT_EQ(pattern->eventsAtPlace(0.25f).size(), 1u);

    pattern->removeEvent(kickEvent);
    EXPECT_EQ(eventPosted("event-"), kickEvent);
    // Events not in the pattern are neither removed nor changed.
    const size_t before = modified.count();
    pattern->removeEvent(kickEvent);
    pattern->changeEvent(ORPEvent::event(0.1f, kick, 1), open, 1);
    EXPECT_EQ(modified.count(), before);
}

TEST(ORPPattern, TempoSignatureBeatBasisAndTheirNotifications)
{
    auto pattern = ORPPattern::pattern();
    pattern->setBpm(120.0f * 2.0f / 2.1f, 4); // a 2.1 s bar
    EXPECT_FLOAT_EQ(pattern->duration(), 2.1f);
    EXPECT_EQ(pattern->bpm(), 114.0f);
    // Compound meters (a top divisible by 3, over 8 or 16) count in dotted notes.
    auto compound = ORPPattern::pattern();
    compound->setTimeSignatureTop(6, 8);
    compound->setBpm(60, 8.0f / 3.0f);
    EXPECT_FLOAT_EQ(compound->beats(), 2.0f);
    EXPECT_FLOAT_EQ(compound->duration(), 2.0f);
    // Changing the signature keeps the duration, so the tempo follows the beat count.
    EXPECT_EQ(patternWith({}, 3)->bpm(), 90.0f);

    const std::vector<std::tuple<int, int, float>> bases = { { 6, 8, 8.0f / 3.0f }, { 0, 8, 8.0f / 3.0f },
        { 7, 8, 8.0f }, { 12, 16, 16.0f / 3.0f }, { 3, 4, 4.0f } };
    for (const auto& [top, bottom, basis] : bases)
        EXPECT_EQ(ORPPattern::beatBasisForTimeSignatureTop(top, bottom), basis) << top << "/" << bottom;

    pattern = ORPPattern::pattern();
    NotificationRecorder tempo(ORPPatternTempoChangedNotification, pattern.get());
    NotificationRecorder geometry(ORPPatternGeometryChangedNotification, pattern.get());

    // Unchanged and unusable tempos and signatures change and post nothing.
    pattern->setBpm(120, 4);
    for (float bad : { 0.0f, -60.0f, kNaN, kInfinity })
        pattern->setBpm(bad, 4);
    pattern->setBpm(100, 0.0f);
    EXPECT_EQ(tempo.count() + geometry.count(), 0u);
    pattern->setBpm(60, 4);
    EXPECT_EQ(tempo.count(), 1u);
    EXPECT_FALSE(tempo.posted.back().userInfo.has_value());
    pattern->setBpm(60, 8);
    EXPECT_EQ(geometry.count(), 1u);
    pattern->setTimeSignatureTop(7, 8);
    EXPECT_EQ(geometry.count(), 2u);
    EXPECT_EQ(std::any_cast<std::nullptr_t>(geometry.lastInfo("timeSignature")), nullptr);
    pattern->setTimeSignatureTop(7, 8);
    pattern->setTimeSignatureTop(0, 8);
    pattern->setTimeSignatureTop(7, -4);
    EXPECT_EQ(geometry.count(), 2u);
    EXPECT_EQ(pattern->description(), "7|8 (53.00bpm, 8.00s);\n");
    pattern->insertBeats(1, 0);
    EXPECT_TRUE(geometry.lastInfo("beats+").has_value());
    pattern->deleteBeatsFromPlace(0, 0.1f);
    EXPECT_TRUE(geometry.lastInfo("beats-").has_value());

    EXPECT_TRUE(pattern->setZoomLevel(6));
}

} // namespace
