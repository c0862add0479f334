#include "MIDIFileTestSupport.h"
#include "model/ORPPattern.h"
#include "player/ORPMIDIFileExport.h"

#include <algorithm>
#include <map>

using namespace rp::test;

namespace {

constexpr long long kQuarter = rp::StandardMIDIFile::kTicksPerQuarterNote;

ORPDrumPtr mappedDrum(const std::string& type, int channel, int note, int velocity)
{
    auto drum = ORPDrum::drum();
    drum->setTypeName(type);
    drum->setMidiChannel(static_cast<int8_t>(channel));
    drum->setMidiNote(static_cast<int8_t>(note));
    drum->setMidiVelocity(static_cast<int8_t>(velocity));
    return drum;
}

ORPPatternPtr bar(int16_t top, int16_t bottom, float bpm, float basis)
{
    auto pattern = ORPPattern::pattern();
    pattern->setTimeSignatureTop(top, bottom);
    pattern->setBpm(bpm, basis);
    return pattern;
}

std::vector<ORPPatternInstancePtr> instancesOf(const std::vector<ORPPatternPtr>& patterns)
{
    std::vector<ORPPatternInstancePtr> instances;
    for (const auto& pattern : patterns)
        instances.push_back(ORPPatternInstance::initWithPattern(pattern, nullptr));
    return instances;
}

// Builds with every hit allowed its full second unless `durations` says otherwise (keyed by
// instance index * 1000 + event index), writes the file and reads it back.
std::vector<MidiCsvRecord> exportAndRead(const TempDir& dir,
    const std::vector<ORPPatternInstancePtr>& instances,
    const std::vector<std::pair<uint8_t, std::string>>& meta = {}, const std::map<int, float>& durations = {},
    const ORPMIDIFileExport::InstanceStep& step = {})
{
    auto file = ORPMIDIFileExport::build(
        instances, meta,
        [&](uint16_t event, uint16_t instance) {
            auto found = durations.find(instance * 1000 + event);
            return found == durations.end() ? 5.0f : found->second;
        },
        step);
    const auto path = dir / "out.mid";
    EXPECT_TRUE(file.writeToFile(path));
    return readMidiCsv(path);
}

TEST(MIDIFileExport, AllCommonTimeSongHasOneTimeSignatureOneTempoAndItsNotes)
{
    RP_REQUIRE_MIDICSV();
    TempDir dir;
    auto kick = mappedDrum("Kick", 9, 36, 101);
    auto snare = mappedDrum("Snare", 9, 38, 127);
    auto unmapped = ORPDrum::drum();
    std::vector<ORPPatternPtr> bars;
    for (int i = 0; i < 3; ++i) {
        auto pattern = bar(4, 4, 120, 4);
        pattern->addEventWithDrum(kick, 0.5f, 0.0f); // 0.5 x 101 = 50.5 -> 50
        pattern->addEventWithDrum(unmapped, 1.0f, 0.25f);
        pattern->addEventWithDrum(snare, 1.0f, 0.75f);
        bars.push_back(pattern);
    }
    // Bar 2's snare is cut short after 0.25 s (a choke); bar 3's kick has only 0.1 s left.
    const auto records = exportAndRead(dir, instancesOf(bars), {}, { { 1002, 0.25f }, { 2000, 0.1f } });

    EXPECT_EQ(
        recordsOfType(records, "Header").at(0).fields, (std::vector<std::string> { "1", "2", "15360" }));
    ASSERT_EQ(recordsOfType(records, "Time_signature").size(), 1u);
    EXPECT_EQ(recordsOfType(records, "Time_signature")[0].fields,
        (std::vector<std::string> { "4", "2", "24", "8" }));
    const auto tempos = recordsOfType(records, "Tempo");
    ASSERT_EQ(tempos.size(), 1u);
    EXPECT_EQ(tempos[0].number(0), 500000);
    EXPECT_EQ(tempos[0].track, 1);

    const auto ons = recordsOfType(records, "Note_on_c");
    const auto offs = recordsOfType(records, "Note_off_c");
    ASSERT_EQ(ons.size(), 6u); // the unmapped drum is left out
    ASSERT_EQ(offs.size(), 6u);
    const long long barTicks = 4 * kQuarter;
    struct Expected {
        long long on, off, note, velocity;
    };
    // A second at 120 quarter notes a minute is two quarter notes.
    const std::vector<Expected> expected = {
        { 0, 2 * kQuarter, 36, 50 },
        { 3 * kQuarter, 5 * kQuarter, 38, 127 },
        { barTicks, barTicks + 2 * kQuarter, 36, 50 },
        { barTicks + 3 * kQuarter, barTicks + 3 * kQuarter + kQuarter / 2, 38, 127 },
        { 2 * barTicks, 2 * barTicks + kQuarter / 5, 36, 50 },
        { 2 * barTicks + 3 * kQuarter, 2 * barTicks + 5 * kQuarter, 38, 127 },
    };
    std::multimap<long long, MidiCsvRecord> offsByTick;
    for (const auto& off : offs)
        offsByTick.emplace(off.tick, off);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ons[i].track, 2);
        EXPECT_EQ(ons[i].tick, expected[i].on);
        EXPECT_EQ(ons[i].number(1), expected[i].note);
        EXPECT_EQ(ons[i].number(2), expected[i].velocity);
        auto found = offsByTick.find(expected[i].off);
        ASSERT_NE(found, offsByTick.end());
        EXPECT_EQ(found->second.number(1), expected[i].note);
        EXPECT_EQ(found->second.number(2), 0);
    }
}

TEST(MIDIFileExport, OddAndCompoundMetersLandOnTheirBarLines)
{
    RP_REQUIRE_MIDICSV();
    TempDir dir;
    auto hat = mappedDrum("Hat", 0, 42, 100);
    // 4/4 at 120; 7/8 counted in quarter notes (3.5 beats) at 105; 6/8 counted in dotted quarters
    // (2 beats) at 80; 5/4 at 100.5 (a fractional tempo); then 4/4 at 120 again.
    std::vector<ORPPatternPtr> bars = { bar(4, 4, 120, 4), bar(7, 8, 105, 4), bar(6, 8, 80, 8.0f / 3.0f),
        bar(5, 4, 100.5f, 4), bar(4, 4, 120, 4) };
    for (const auto& pattern : bars)
        pattern->addEventWithDrum(hat, 1.0f, 0.5f);
    const auto records = exportAndRead(dir, instancesOf(bars));

    // Bars last 4, 3.5, 3, 5 and 4 quarter notes.
    const std::vector<long long> starts
        = { 0, 4 * kQuarter, 15 * kQuarter / 2, 21 * kQuarter / 2, 31 * kQuarter / 2 };
    const auto signatures = recordsOfType(records, "Time_signature");
    ASSERT_EQ(signatures.size(), 5u);
    const std::vector<std::vector<std::string>> signatureFields
        = { { "4", "2" }, { "7", "3" }, { "6", "3" }, { "5", "2" }, { "4", "2" } };
    for (size_t i = 0; i < signatures.size(); ++i) {
        EXPECT_EQ(signatures[i].tick, starts[i]) << i;
        EXPECT_EQ(std::vector<std::string>(signatures[i].fields.begin(), signatures[i].fields.begin() + 2),
            signatureFields[i]);
    }
    // Microseconds per quarter note: the bar's duration over its quarter notes. 7/8 at 105 quarter
    // notes a minute; 6/8 at 80 dotted quarters = 120 quarters; 5/4 at 100.5.
    const auto tempos = recordsOfType(records, "Tempo");
    ASSERT_EQ(tempos.size(), 5u);
    const std::vector<long long> micros = { 500000, 571429, 500000, 597015, 500000 };
    for (size_t i = 0; i < tempos.size(); ++i) {
        EXPECT_EQ(tempos[i].tick, starts[i]) << i;
        EXPECT_NEAR(tempos[i].number(0), micros[i], 1) << i;
    }
    // Each hit half-way through its bar; it lasts one second in its bar's tempo.
    const auto ons = recordsOfType(records, "Note_on_c");
    const auto offs = recordsOfType(records, "Note_off_c");
    ASSERT_EQ(ons.size(), 5u);
    ASSERT_EQ(offs.size(), 5u);
    const std::vector<double> quarterNotes = { 4, 3.5, 3, 5, 4 };
    const std::vector<double> perSecond = { 2, 1.75, 2, 100.5 / 60, 2 };
    for (size_t i = 0; i < ons.size(); ++i) {
        const long long on = starts[i] + static_cast<long long>(quarterNotes[i] * kQuarter / 2);
        EXPECT_EQ(ons[i].tick, on) << i;
        EXPECT_NEAR(offs[i].tick, on + perSecond[i] * kQuarter, 1) << i;
    }
}

TEST(MIDIFileExport, MetaEventsAreWrittenInOrderAsASCIIAndCut)
{
    RP_REQUIRE_MIDICSV();
    TempDir dir;
    const std::string longNotes(5000, 'n');
    auto records = exportAndRead(dir, instancesOf({ bar(4, 4, 120, 4) }),
        { { 1, "Generated by Orrery Rattlepan 2.0" }, { 3, "" }, { 2, "Caf\xC3\xA9 \xE6\x97\xA5" },
            { 4, longNotes } });
    std::vector<MidiCsvRecord> metas;
    for (const auto& record : records) {
        if (record.type == "Text_t" || record.type == "Title_t" || record.type == "Copyright_t"
            || record.type == "Instrument_name_t")
            metas.push_back(record);
    }
    ASSERT_EQ(metas.size(), 4u);
    EXPECT_EQ(metas[0].fields[0], "Generated by Orrery Rattlepan 2.0");
    EXPECT_EQ(metas[1].type, "Title_t"); // an empty title is still an event
    EXPECT_EQ(metas[2].fields[0], "Cafe ?");
    EXPECT_EQ(metas[3].fields[0], std::string(4088, 'n'));
    // Absent entries are not written; an empty bar list still gives both tracks.
    records = exportAndRead(dir, {}, { { 4, "Kit" } });
    EXPECT_TRUE(recordsOfType(records, "Title_t").empty());
    EXPECT_EQ(recordsOfType(records, "Instrument_name_t").size(), 1u);
    EXPECT_EQ(recordsOfType(records, "Start_track").size(), 2u);
}

TEST(MIDIFileExport, StoppingMidwayAndUnmappedDrums)
{
    RP_REQUIRE_MIDICSV();
    TempDir dir;
    auto kick = mappedDrum("Kick", 9, 36, 100);
    auto tom = ORPDrum::drum();
    auto ride = ORPDrum::drum();
    auto first = bar(4, 4, 120, 4);
    first->addEventWithDrum(kick, 1.0f, 0.0f);
    first->addEventWithDrum(tom, 1.0f, 0.5f);
    auto second = bar(3, 4, 90, 4);
    second->addEventWithDrum(kick, 1.0f, 0.0f);
    second->addEventWithDrum(ride, 1.0f, 0.5f);
    second->addEventWithDrum(tom, 1.0f, 0.75f);
    const auto instances = instancesOf({ first, second, second });

    EXPECT_EQ(ORPMIDIFileExport::drumsWithoutMIDI(instances), (std::vector<ORPDrumPtr> { tom, ride }));

    // A step answering false stops before that instance: only the first bar's kick remains.
    size_t steps = 0;
    const auto records = exportAndRead(dir, instances, {}, {}, [&](const ORPPatternInstancePtr& instance) {
        EXPECT_EQ(instance, instances[steps]);
        return ++steps < 2;
    });
    EXPECT_EQ(steps, 2u);
    EXPECT_EQ(recordsOfType(records, "Note_on_c").size(), 1u);
    EXPECT_EQ(recordsOfType(records, "Tempo").size(), 1u);
}

TEST(MIDIFileExport, HostileDrumValuesStayInRange)
{
    RP_REQUIRE_MIDICSV();
    TempDir dir;
    // A mapped drum whose velocity was never set (-1), one whose note is out of range, and a
    // hit so soft that its velocity truncates to 0 (a note-on of 0 would be a note-off).
    auto pattern = bar(4, 4, 120, 4);
    pattern->addEventWithDrum(mappedDrum("A", 3, 40, -1), 1.0f, 0.0f);
    pattern->addEventWithDrum(mappedDrum("B", 15, -5, 127), 1.0f, 0.25f);
    pattern->addEventWithDrum(mappedDrum("C", 9, 50, 100), 0.001f, 0.5f);
    // A hit that may not sound at all (choked at once) still gets a note-off after its note-on.
    pattern->addEventWithDrum(mappedDrum("D", 9, 51, 100), 1.0f, 0.75f);
    const auto records = exportAndRead(dir, instancesOf({ pattern }), {}, { { 3, 0.0f } });
    const auto ons = recordsOfType(records, "Note_on_c");
    ASSERT_EQ(ons.size(), 4u);
    EXPECT_EQ(ons[0].fields, (std::vector<std::string> { "3", "40", "1" }));
    EXPECT_EQ(ons[1].fields, (std::vector<std::string> { "15", "0", "127" }));
    EXPECT_EQ(ons[2].number(2), 1);
    const auto offs = recordsOfType(records, "Note_off_c");
    ASSERT_EQ(offs.size(), 4u);
    const auto chokedOff = std::find_if(
        offs.begin(), offs.end(), [](const MidiCsvRecord& off) { return off.number(1) == 51; });
    ASSERT_NE(chokedOff, offs.end());
    EXPECT_EQ(chokedOff->tick, ons[3].tick + 1);
}

} // namespace
