#include "editor/ORPPreferences.h"

#include "editor/EditorTestSupport.h"
#include "editor/MIDITestDocuments.h"
#include "editor/ORPInterfaceDefaults.h"

#include <gtest/gtest.h>

using Kind = rp::MIDIBackend::Kind;

TEST(ORPPreferences, BarsPerRowControlsFollowTheStoredValue)
{
    struct Case {
        int64_t stored;
        ORPBarsPerRowControls shown;
    };
    for (const Case& c : std::vector<Case> {
             { -1, { 1, false, "" } },
             { 0, { 0, false, "" } },
             { 5, { 2, true, "5" } },
             { 1, { 2, true, "1" } },
             { -2, { 2, true, "1" } },
             { -1000, { 2, true, "1" } },
             { 1234567, { 2, true, "1234567" } },
         }) {
        EXPECT_EQ(ORPPreferences::barsPerRowControls(c.stored), c.shown) << c.stored;
    }
    struct Typed {
        const char* text;
        int64_t value;
    };
    for (const Typed& t : std::vector<Typed> { { "12", 12 }, { "  7 bars", 7 }, { "-3", -3 }, { "+4", 4 },
             { "", 0 }, { "abc", 0 }, { "99999999999999999999", 2147483647 }, { "-99999999999", -2147483648LL } }) {
        EXPECT_EQ(ORPPreferences::integerValueOfField(t.text), t.value) << t.text;
    }
}

TEST(ORPPreferences, RadioChoicesAndFieldEditsAreHeldUntilOK)
{
    rp::test::TempDefaults defaults;
    ORPInterfaceDefaults::registerDefaults(defaults.store());
    ORPPreferences prefs(defaults.store(), nullptr, nullptr);
    EXPECT_EQ(prefs.barsPerRowControls(), (ORPBarsPerRowControls { 1, false, "" })); // the registered -1

    EXPECT_EQ(prefs.chooseBarsPerRowTag(2), (ORPBarsPerRowControls { 2, true, "8" }));
    EXPECT_EQ(prefs.editBarsPerRowField("5"), (ORPBarsPerRowControls { 2, true, "5" }));
    EXPECT_EQ(prefs.chooseBarsPerRowTag(7), (ORPBarsPerRowControls { 2, true, "5" })); // no such button
    EXPECT_EQ(defaults.store().integerForKey("RPPatternsPerRow"), -1); // held, not applied
    prefs.dismiss(false);
    EXPECT_EQ(prefs.barsPerRowControls(), (ORPBarsPerRowControls { 1, false, "" }));
    EXPECT_FALSE(defaults.store().hasStoredValue("RPPatternsPerRow"));

    EXPECT_EQ(prefs.chooseBarsPerRowTag(0), (ORPBarsPerRowControls { 0, false, "" }));
    prefs.dismiss(true);
    EXPECT_EQ(defaults.store().integerForKey("RPPatternsPerRow"), 0);
    EXPECT_FALSE(prefs.hasHeldChanges());
}

namespace {

class ORPPreferencesMIDI : public ::testing::Test {
protected:
    void SetUp() override
    {
        midi.plug(Kind::Source, "Pads", "Out", 11);
        midi.plug(Kind::Source, "Keys", "Out", 12);
        midi.plug(Kind::Destination, "Synth", "In", 21);
        midi.settle();
        routing = ORPMIDIRouting::create(midi.manager, defaults.store(), nullptr);
    }
    void TearDown() override { routing->detachFromMIDIEndpoints(); }

    static std::vector<std::pair<std::string, int32_t>> titles(const ORPMIDIMenu& menu)
    {
        std::vector<std::pair<std::string, int32_t>> all;
        for (const auto& item : menu.items) {
            all.emplace_back(item.title, item.tag);
        }
        return all;
    }

    rp::test::LoopbackMIDI midi;
    rp::test::TempDefaults defaults;
    std::shared_ptr<ORPMIDIRouting> routing;
};

} // namespace

// The pop-ups offer "None" and the endpoints online or in use; the current endpoint is selected, an
// offline one still shown while we listen to it.
TEST_F(ORPPreferencesMIDI, PopUpsListNoneThenEndpointsAndSelectTheCurrentOne)
{
    ORPPreferences prefs(defaults.store(), midi.manager, routing);
    auto sources = prefs.sourceMenu();
    EXPECT_EQ(titles(sources),
        (std::vector<std::pair<std::string, int32_t>> { { "None", 0 }, { "Keys Out", 12 }, { "Pads Out", 11 } }));
    EXPECT_EQ(sources.selectedIndex, 0u);
    EXPECT_FALSE(sources.items[0].endpoint);
    EXPECT_EQ(sources.items[2].endpoint->uniqueID(), 11);
    EXPECT_EQ(titles(prefs.destinationMenu()),
        (std::vector<std::pair<std::string, int32_t>> { { "None", 0 }, { "Synth In", 21 } }));

    defaults.store().setInteger(11, ORPMIDIRouting::kSourceIDKey);
    defaults.store().setInteger(21, ORPMIDIRouting::kDestinationIDKey);
    routing->configureMIDI();
    EXPECT_EQ(prefs.sourceMenu().selectedIndex, 2u);
    EXPECT_EQ(prefs.destinationMenu().selectedIndex, 1u);

    // Unplugged while in use: still offered (offline), still selected.
    midi.backend->unplug(Kind::Source, routing->midiSource()->midiEndpointRef());
    midi.settle();
    sources = prefs.sourceMenu();
    EXPECT_EQ(titles(sources),
        (std::vector<std::pair<std::string, int32_t>> {
            { "None", 0 }, { "Keys Out", 12 }, { "Pads Out (offline)", 11 } }));
    EXPECT_EQ(sources.selectedIndex, 2u);
    // An offline destination nobody sends to is not offered; the selection falls back to "None".
    midi.backend->unplug(Kind::Destination, routing->midiDestination()->midiEndpointRef());
    midi.settle();
    EXPECT_EQ(prefs.destinationMenu().items.size(), 1u);
    EXPECT_EQ(prefs.destinationMenu().selectedIndex, 0u);
}

TEST_F(ORPPreferencesMIDI, CancelKeepsTheSourceAndOKSwitchesIt)
{
    defaults.store().setInteger(11, ORPMIDIRouting::kSourceIDKey);
    routing->configureMIDI();
    const auto pads = routing->midiSource();
    ASSERT_TRUE(pads);

    ORPPreferences prefs(defaults.store(), midi.manager, routing);
    prefs.chooseMIDISourceTag(12);
    EXPECT_EQ(prefs.sourceMenu().selectedIndex, 1u); // the pop-up shows the held choice
    EXPECT_EQ(routing->midiSource(), pads); // nothing applied yet
    prefs.dismiss(false);
    EXPECT_EQ(defaults.store().integerForKey(ORPMIDIRouting::kSourceIDKey), 11);
    EXPECT_EQ(routing->midiSource(), pads);
    EXPECT_TRUE(pads->ioIsRunning());
    EXPECT_EQ(prefs.sourceMenu().selectedIndex, 2u);

    prefs.chooseMIDISourceTag(12);
    prefs.dismiss(true);
    EXPECT_EQ(defaults.store().integerForKey(ORPMIDIRouting::kSourceIDKey), 12);
    ASSERT_TRUE(routing->midiSource());
    EXPECT_EQ(routing->midiSource()->uniqueID(), 12);
    EXPECT_FALSE(pads->ioIsRunning());
    EXPECT_EQ(midi.backend->openPorts().size(), 1u);

    prefs.chooseMIDISourceTag(0);
    prefs.dismiss(true);
    EXPECT_FALSE(routing->midiSource());
    EXPECT_TRUE(midi.backend->openPorts().empty());
}
