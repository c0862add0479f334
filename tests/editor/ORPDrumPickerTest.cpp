#include "editor/ORPDrumPicker.h"

#include "foundation/NotificationCenter.h"

#include <gtest/gtest.h>

namespace {

struct DrumRow {
    const char* group;
    const char* type;
    const char* variant;
    bool isDefault = false;
    const char* shortcut = nullptr;
    int midiNote = -1;
};

ORPDrumKitPtr makeKit(std::initializer_list<DrumRow> rows, const char* name = "Test Kit")
{
    auto kit = ORPDrumKit::kit();
    kit->setKitName(name);
    for (const auto& row : rows) {
        auto drum = ORPDrum::drum();
        drum->setGroupName(row.group);
        drum->setTypeName(row.type);
        drum->setVariantName(row.variant);
        drum->setDefaultVarForType(row.isDefault);
        if (row.shortcut)
            drum->setShortcutKey(std::string(row.shortcut));
        if (row.midiNote >= 0) {
            drum->setMidiChannel(9);
            drum->setMidiNote(static_cast<int8_t>(row.midiNote));
        } else {
            drum->setNoMIDI();
        }
        kit->addDrum(drum);
    }
    return kit;
}

ORPDrumPtr drumNamed(const ORPDrumKitPtr& kit, const char* type, const char* variant)
{
    auto drum = kit->drumWithTypeName(type, variant);
    EXPECT_TRUE(drum) << type << " " << variant;
    return drum;
}

// Counts the action calls and remembers the table selections the picker asked its view for.
struct PickerHarness {
    ORPDrumPicker picker;
    int actions = 0;
    std::vector<std::optional<size_t>> rowsSelected;

    PickerHarness()
    {
        picker.setAction([this](ORPDrumPicker&) { ++actions; });
        picker.setViewHooks({ [] { }, [this](std::optional<size_t> row) { rowsSelected.push_back(row); } });
    }
};

TEST(ORPDrumPicker, RowsDefaultsAndGroupsFollowTheKitHierarchy)
{
    const auto kit = makeKit({
        { "Kicks", "Kick", "Hard" },
        { "Kicks", "Kick", "Soft", true, "b" },
        { "Kicks", "Kick", "Round", true, "b" }, // the later flagged variant wins the row and the key
        { "Toms", "Tom", "High" },
        { "Toms", "Tom", "Mid" },
        { "Toms", "Tom", "Low" },
        { "Toms", "Floor", "Only" },
    });
    PickerHarness h;
    h.picker.setDrumKit(kit);

    ASSERT_EQ(h.picker.numberOfRows(), 3u);
    EXPECT_EQ(h.picker.headingText(), "Test Kit");
    EXPECT_EQ(h.picker.entry(0).defaultVariant(), drumNamed(kit, "Kick", "Round"));
    EXPECT_EQ(h.picker.entry(1).defaultVariant(), drumNamed(kit, "Tom", "High"));
    EXPECT_EQ(h.picker.defaultDrum(), drumNamed(kit, "Kick", "Round"));
    EXPECT_EQ(h.picker.selectedRow(), std::optional<size_t>(0));
    EXPECT_EQ(h.picker.defaultDrumForGroup(1), drumNamed(kit, "Tom", "High"));
    EXPECT_EQ(h.picker.defaultGridPositionForDrum(drumNamed(kit, "Floor", "Only")), 1);

    EXPECT_FALSE(h.picker.rowIsFirstInGroup(0));
    EXPECT_TRUE(h.picker.rowIsFirstInGroup(1));
    EXPECT_FALSE(h.picker.rowIsFirstInGroup(2));

    const auto multi = h.picker.cellText(1);
    EXPECT_EQ(multi.typeText + multi.variantText, "Tom (High)");
    EXPECT_TRUE(multi.showsPopUpArrow);
    const auto single = h.picker.cellText(2);
    EXPECT_EQ(single.typeText, "Floor");
    EXPECT_TRUE(single.variantText.empty());
    EXPECT_FALSE(single.showsPopUpArrow);

    // Only a row with several variants opens its menu, and only right of 60% of the width.
    EXPECT_FALSE(h.picker.clickOpensVariantsMenu(1, 60, 100));
    EXPECT_TRUE(h.picker.clickOpensVariantsMenu(1, 61, 100));
    EXPECT_FALSE(h.picker.clickOpensVariantsMenu(2, 90, 100));

    // The group index past the end is refused.
    EXPECT_EQ(h.picker.defaultDrumForGroup(2), nullptr);
    EXPECT_EQ(h.picker.chooseDrumWithShortcut("b"), drumNamed(kit, "Kick", "Round"));
}

TEST(ORPDrumPicker, ChoosingAVariantFromTheMenuMovesTheCheckAndTheGroupDefaultNotTheTableSelection)
{
    const auto kit = makeKit({
        { "Kicks", "Kick", "One" },
        { "Toms", "Tom", "High" },
        { "Toms", "Tom", "Mid" },
        { "Toms", "Tom", "Low" },
    });
    PickerHarness h;
    h.picker.setDrumKit(kit);
    h.rowsSelected.clear();

    h.picker.entry(1).chooseNewVariantFromMenuItem(2);

    const auto low = drumNamed(kit, "Tom", "Low");
    const auto menu = h.picker.entry(1).variantsMenu();
    ASSERT_EQ(menu.size(), 3u);
    EXPECT_FALSE(menu[0].checked);
    EXPECT_TRUE(menu[2].checked);
    EXPECT_EQ(h.actions, 1);
    EXPECT_EQ(h.picker.defaultDrum(), low);
    EXPECT_EQ(h.picker.defaultDrumForGroup(1), low);
    EXPECT_TRUE(h.rowsSelected.empty());
    EXPECT_EQ(h.picker.selectedRow(), std::optional<size_t>(0));

    // Selecting the drum already selected does nothing at all.
    h.picker.selectDrum(low, true);
    EXPECT_EQ(h.actions, 1);
    EXPECT_TRUE(h.rowsSelected.empty());

    // A drum from elsewhere is no variant of the row and changes nothing.
    h.picker.entry(1).setDefaultVariant(ORPDrum::drum());
    EXPECT_EQ(h.picker.entry(1).defaultVariant(), low);
}

TEST(ORPDrumPicker, ShortcutsCycleInKitOrderAndWrap)
{
    const auto kit = makeKit({
        { "Hats", "Hat", "A", false, "k" },
        { "Hats", "Hat", "B", true, "k" },
        { "Hats", "Hat", "C", false, "k" },
        { "Perc", "Clap", "One", false, "c" },
        { "Perc", "Clap", "Two", false, "c" },
    });
    PickerHarness h;
    h.picker.setDrumKit(kit);
    const auto a = drumNamed(kit, "Hat", "A"), b = drumNamed(kit, "Hat", "B"), c = drumNamed(kit, "Hat", "C");

    EXPECT_EQ(h.picker.chooseDrumWithShortcut("k"), b);
    EXPECT_EQ(h.picker.chooseNextDrumWithShortcut("k"), c);
    EXPECT_EQ(h.picker.chooseNextDrumWithShortcut("k"), a);
    EXPECT_EQ(h.picker.chooseNextDrumWithShortcut("k"), b);
    EXPECT_EQ(h.picker.chooseDrumWithShortcut("k"), b);
    EXPECT_EQ(h.picker.entry(0).defaultVariant(), b);
    EXPECT_EQ(h.actions, 5);

    // A key only non-default drums carry: the first in kit order, then remembered for the key.
    const auto one = drumNamed(kit, "Clap", "One");
    EXPECT_EQ(h.picker.chooseDrumWithShortcut("c"), one);
    EXPECT_EQ(h.picker.chooseDrumWithShortcut("c"), one);
    EXPECT_EQ(h.picker.selectedRow(), std::optional<size_t>(1));

    // A remembered drum that lost its key chooses nothing.
    one->setShortcutKey(std::nullopt);
    const int before = h.actions;
    EXPECT_EQ(h.picker.chooseNextDrumWithShortcut("c"), nullptr);
    EXPECT_EQ(h.actions, before);
    EXPECT_EQ(h.picker.chooseDrumWithShortcut("z"), nullptr);
}

TEST(ORPDrumPicker, MidiNotesChooseTheFirstMappedDrum)
{
    const auto kit = makeKit({
        { "Kicks", "Kick", "One", true, nullptr, 36 },
        { "Kicks", "Kick", "Two", false, nullptr, 36 },
        { "Snares", "Snare", "One", true, nullptr, 38 },
    });
    PickerHarness h;
    h.picker.setDrumKit(kit);
    h.picker.selectDrum(drumNamed(kit, "Snare", "One"), true);

    EXPECT_EQ(h.picker.chooseDefaultDrumWithMIDIChannel(9, 36), drumNamed(kit, "Kick", "One"));
    EXPECT_EQ(h.picker.chooseDefaultDrumWithMIDIChannel(9, 40), nullptr);
    EXPECT_EQ(h.picker.chooseDefaultDrumWithMIDIChannel(0, 36), nullptr);
    EXPECT_EQ(h.picker.defaultDrum(), drumNamed(kit, "Kick", "One"));
    EXPECT_EQ(h.actions, 1);
}

TEST(ORPDrumPicker, EmptyKitsAndNoKit)
{
    PickerHarness h;
    const auto bare = makeKit({}, "Bare"); // the picker holds its kit weakly
    h.picker.setDrumKit(bare);
    EXPECT_EQ(h.picker.headingText(), "Bare");
    EXPECT_EQ(h.picker.numberOfRows(), 0u);
    EXPECT_EQ(h.picker.defaultDrum(), nullptr);
    EXPECT_EQ(h.picker.defaultDrumForGroup(0), nullptr);

    h.picker.setDrumKit(nullptr);
    EXPECT_EQ(h.picker.headingText(), "No drum kit");
    EXPECT_EQ(h.picker.chooseNextDrumWithShortcut("k"), nullptr);

    // Deselecting keeps the group defaults.
    const auto kit = makeKit({ { "Kicks", "Kick", "One" } });
    h.picker.setDrumKit(kit);
    h.picker.selectDrum(nullptr, true);
    EXPECT_EQ(h.picker.defaultDrum(), nullptr);
    EXPECT_EQ(h.picker.selectedRow(), std::nullopt);
    EXPECT_EQ(h.picker.defaultDrumForGroup(0), drumNamed(kit, "Kick", "One"));
    EXPECT_EQ(h.picker.cellText(0).typeText, "Kick");

    int headingClicks = 0;
    auto& center = rp::NotificationCenter::defaultCenter();
    center.addObserver(&headingClicks, ORPDrumPickerHeadingClickedNotification, &h.picker,
        [&](const rp::Notification&) { ++headingClicks; });
    h.picker.userClickedHeading();
    center.removeObserver(&headingClicks);
    EXPECT_EQ(headingClicks, 1);
}

} // namespace
