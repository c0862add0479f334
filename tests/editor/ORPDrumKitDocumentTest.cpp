#include "editor/ORPDrumKitDocument.h"

#include "editor/EditorTestSupport.h"
#include "editor/ORPSongTables.h"
#include "kit/KitTestSupport.h"
#include "editor/ORPMIDIRouting.h"
#include "foundation/Logger.h"
#include "foundation/PlainRunLoop.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <thread>

using namespace rp::editor;
using rp::test::makeDrum;

namespace {

// Every name, flag and value of the kit in hierarchy order, and the flat list as a sorted set.
std::string snapshot(const ORPDrumKit& kit)
{
    std::ostringstream out;
    out << kit.kitName() << "\n";
    for (const auto& group : kit.drumsHierarchy()) {
        out << "G " << group->groupName() << "\n";
        for (const auto& instrument : group->instruments) {
            out << " I " << instrument->typeName() << "\n";
            for (const auto& drum : instrument->variants) {
                const auto sound = drum->storedSound();
                out << "  " << drum->groupName() << "/" << drum->typeName() << "/" << drum->variantName()
                    << (drum->isDefaultVarForType() ? " *" : "") << " midi " << int { drum->midiChannel() } << ","
                    << int { drum->midiNote() } << "," << int { drum->midiVelocity() } << " key "
                    << drum->shortcutKey().value_or("-") << " prec " << drum->variantPrecedence() << " link "
                    << drum->linkAudioOnly() << " sound " << sound.get();
                if (sound)
                    out << " vol " << sound->volume() << " pan " << sound->panning();
                out << "\n";
            }
        }
    }
    std::vector<const ORPDrum*> flat;
    for (const auto& drum : kit.drums())
        flat.push_back(drum.get());
    std::sort(flat.begin(), flat.end());
    for (const auto* drum : flat)
        out << "D " << drum << "\n";
    return out.str();
}

class FakeView : public KitDocumentView {
public:
    void reloadBrowser() override { ++reloads; }
    void refreshDrumFields() override { ++drumRefreshes; }
    void refreshKitFields() override { ++kitRefreshes; }
    void listenStateChanged(bool on) override { listening.push_back(on); }
    void beep() override { ++beeps; }
    int reloads = 0, drumRefreshes = 0, kitRefreshes = 0, beeps = 0;
    std::vector<bool> listening;
};

class FakeSender : public KitMIDISender {
public:
    bool sendPacketList(const rp::MIDIPacketList& list) override
    {
        for (const auto& packet : list)
            sent.emplace_back(packet.data.begin(), packet.data.end());
        return true;
    }
    std::vector<std::vector<uint8_t>> sent;
};

// Drums: Kick (default*, soft), Snare (a*, b, c); Cymbals: Ride (x*).
ORPDrumKitPtr sampleKit()
{
    auto kit = ORPDrumKit::kit();
    kit->setKitName("Sample");
    for (auto [group, type, variant, isDefault] : std::vector<std::tuple<const char*, const char*, const char*, bool>> {
             { "Drums", "Kick", "default", true }, { "Drums", "Kick", "soft", false },
             { "Drums", "Snare", "a", true }, { "Drums", "Snare", "b", false }, { "Drums", "Snare", "c", false },
             { "Cymbals", "Ride", "x", true } }) {
        auto drum = makeDrum(group, type, variant);
        drum->setDefaultVarForType(isDefault);
        kit->addDrum(drum);
    }
    return kit;
}

struct KitDocumentTest : ::testing::Test {
    KitDocumentTest()
    {
        doc.undoManager().setGroupsByEvent(false);
        doc.setView(&view);
        doc.setClipboard(&clipboard);
        doc.setMIDISender(&sender);
    }
    // Selects like clicks: group, then instrument, then variants.
    void select(std::vector<std::vector<size_t>> path)
    {
        doc.browser().setSelection(path);
        doc.browser().setFocusedColumn(path.size() - 1);
        doc.browserSelectionDidChange();
    }
    std::vector<std::string> variantNames(size_t group, size_t instrument) const
    {
        std::vector<std::string> names;
        for (const auto& drum : doc.kit()->drumsHierarchy()[group]->instruments[instrument]->variants)
            names.push_back(drum->variantName());
        return names;
    }

    ORPDrumKitDocument doc { sampleKit() };
    FakeView view;
    ORPMemoryPasteboard clipboard;
    FakeSender sender;
};

TEST(KitDocumentNewTest, NewKitHoldsOneDefaultDrumInOneInstrumentOfOneGroup)
{
    ORPDrumKitDocument doc;
    const auto& kit = *doc.kit();
    ASSERT_EQ(kit.drumsHierarchy().size(), 1u);
    ASSERT_EQ(kit.drumsHierarchy()[0]->instruments.size(), 1u);
    ASSERT_EQ(kit.drums().size(), 1u);
    const auto& drum = kit.drums()[0];
    EXPECT_EQ(drum->groupName(), "New group");
    EXPECT_EQ(drum->typeName(), "New instrument");
    EXPECT_EQ(drum->variantName(), "default");
    EXPECT_TRUE(drum->isDefaultVarForType());
    EXPECT_EQ(doc.currentDrum(), drum);
}

// Each user action changes the kit as one named step; undo restores the kit exactly, redo repeats it.
struct ActionCase {
    const char* label;
    std::vector<std::vector<size_t>> selection;
    std::function<bool(KitDocumentTest&)> action;
    const char* actionName;
};

class KitActionRoundTrip : public KitDocumentTest, public ::testing::WithParamInterface<ActionCase> { };

TEST_P(KitActionRoundTrip, UndoRestoresAndRedoRepeats)
{
    const auto& param = GetParam();
    if (!param.selection.empty())
        select(param.selection);
    const auto before = snapshot(*doc.kit());
    ASSERT_TRUE(param.action(*this)) << param.label;
    const auto after = snapshot(*doc.kit());
    ASSERT_NE(before, after) << param.label;
    EXPECT_EQ(doc.undoManager().undoStepCount(), 1u) << param.label;
    EXPECT_EQ(doc.undoManager().undoActionName(), param.actionName);
    doc.undoManager().undo();
    EXPECT_EQ(snapshot(*doc.kit()), before) << param.label;
    doc.undoManager().redo();
    EXPECT_EQ(snapshot(*doc.kit()), after) << param.label;
}

INSTANTIATE_TEST_SUITE_P(Actions, KitActionRoundTrip,
    ::testing::Values(
        ActionCase { "add group", {}, [](KitDocumentTest& k) { k.doc.addGroup(); return true; }, "Add Group" },
        ActionCase { "add instrument", { { 0 } }, [](KitDocumentTest& k) { return k.doc.addInstrument(); }, "Add Instrument" },
        ActionCase { "add variant", { { 0 }, { 1 } }, [](KitDocumentTest& k) { return k.doc.addVariant(); }, "Add Variant" },
        ActionCase { "delete variants", { { 0 }, { 1 }, { 1, 2 } },
            [](KitDocumentTest& k) { return k.doc.deleteSelected(KitColumn::Variants); }, "Delete Variants" },
        ActionCase { "delete one instrument", { { 0 }, { 0 } },
            [](KitDocumentTest& k) { return k.doc.deleteSelected(KitColumn::Instruments); }, "Delete \"Kick\"" },
        ActionCase { "delete a group", { { 1 } }, [](KitDocumentTest& k) { return k.doc.deleteSelected(KitColumn::Groups); },
            "Delete \"Cymbals\"" },
        ActionCase { "make default", { { 0 }, { 1 }, { 2 } }, [](KitDocumentTest& k) { return k.doc.makeDefault(); },
            "Default Variant" },
        ActionCase { "panning", { { 0 }, { 0 }, { 0 } }, [](KitDocumentTest& k) { return k.doc.setPanning(-0.25f); }, "Panning" },
        ActionCase { "volume", { { 0 }, { 0 }, { 0 } }, [](KitDocumentTest& k) { return k.doc.setVolume(0.5f); }, "Volume" },
        ActionCase { "preset", { { 0 }, { 1 }, { 0 } }, [](KitDocumentTest& k) { return k.doc.chooseMIDIPreset(38); },
            "MIDI Preset" },
        ActionCase { "channel field", { { 0 }, { 0 }, { 0 } },
            [](KitDocumentTest& k) { return k.doc.setMIDIChannelFromField(16); }, "MIDI Channel" },
        ActionCase { "shortcut", { { 0 }, { 0 }, { 1 } }, [](KitDocumentTest& k) { return k.doc.setShortcutKey("k"); },
            "Shortcut Key" },
        ActionCase { "precedence", { { 1 }, { 0 }, { 0 } }, [](KitDocumentTest& k) { return k.doc.setPrecedence(true); },
            "Precedence Change" },
        ActionCase { "embedding", { { 1 }, { 0 }, { 0 } }, [](KitDocumentTest& k) { return k.doc.setEmbedded(false); },
            "Embedding Change" },
        ActionCase { "rename group", { { 0 } },
            [](KitDocumentTest& k) { k.doc.beginRenaming(KitColumn::Groups); return k.doc.endRenaming("Percussion"); },
            "Rename \"Percussion\"" },
        ActionCase { "rename instrument", { { 0 }, { 1 } },
            [](KitDocumentTest& k) { k.doc.beginRenaming(KitColumn::Instruments); return k.doc.endRenaming("Rim"); },
            "Rename \"Rim\"" },
        ActionCase { "move variant", { { 0 }, { 1 }, { 0 } },
            [](KitDocumentTest& k) {
                ORPMemoryPasteboard drag;
                k.doc.writeRows(KitColumn::Variants, { 0 }, drag);
                return k.doc.acceptDrop(drag, &k.doc, KitColumn::Variants, 3, false);
            },
            "Move \"a\"" },
        ActionCase { "duplicate a group", { { 0 } },
            [](KitDocumentTest& k) {
                ORPMemoryPasteboard drag;
                k.doc.writeRows(KitColumn::Groups, { 0 }, drag);
                return k.doc.acceptDrop(drag, &k.doc, KitColumn::Groups, 2, true);
            },
            "Duplicate \"Drums\"" },
        ActionCase { "duplicate variants", { { 0 }, { 1 }, { 0, 1 } },
            [](KitDocumentTest& k) {
                ORPMemoryPasteboard drag;
                k.doc.writeRows(KitColumn::Variants, { 0, 1 }, drag);
                return k.doc.acceptDrop(drag, &k.doc, KitColumn::Variants, 3, true);
            },
            "Duplicate Variants" },
        ActionCase { "cut an instrument", { { 0 }, { 1 } }, [](KitDocumentTest& k) { return k.doc.cut(); }, "Cut" }),
    [](const ::testing::TestParamInfo<ActionCase>& p) {
        std::string name = p.param.label;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(KitDocumentTest, UndoingAddGroupRemovesTheGroupAndItsDrum)
{
    doc.addGroup();
    ASSERT_EQ(doc.kit()->drums().size(), 7u);
    const auto added = doc.kit()->drumsHierarchy().back()->instruments[0]->variants[0];
    EXPECT_TRUE(added->isDefaultVarForType());
    EXPECT_EQ(doc.browser().selectedRows(0), std::vector<size_t> { 2 });
    doc.undoManager().undo();
    EXPECT_EQ(doc.kit()->drumsHierarchy().size(), 2u);
    EXPECT_EQ(std::count(doc.kit()->drums().begin(), doc.kit()->drums().end(), added), 0);
}

TEST_F(KitDocumentTest, SelectionFollowsEachChange)
{
    select({ { 0 }, { 1 }, { 1, 2 } });
    doc.deleteSelected(KitColumn::Variants);
    EXPECT_EQ(doc.browser().selectedRows(1), std::vector<size_t> { 1 }); // their instrument
    EXPECT_TRUE(doc.browser().selectedRows(2).empty());
    select({ { 0 }, { 0 } });
    doc.deleteSelected(KitColumn::Instruments);
    EXPECT_EQ(doc.browser().selectedRows(0), std::vector<size_t> { 0 }); // their group
    EXPECT_TRUE(doc.browser().selectedRows(1).empty());
    select({ { 1 } });
    doc.deleteSelected(KitColumn::Groups);
    EXPECT_FALSE(doc.browser().selectedColumn().has_value());
    EXPECT_GT(view.reloads, 0);
}

TEST_F(KitDocumentTest, LastItemOfALevelCannotBeCleared)
{
    select({ { 0 }, { 1 }, { 0, 1, 2 } }); // every variant of Snare
    EXPECT_FALSE(doc.canClear());
    EXPECT_FALSE(doc.browser().validate(OXEditCommand::Cut));
    EXPECT_TRUE(doc.browser().validate(OXEditCommand::Copy));
    select({ { 1 }, { 0 }, { 0 } }); // the only variant of Ride
    EXPECT_FALSE(doc.canClear());
    select({ { 1 }, { 0 } }); // the only instrument of Cymbals
    EXPECT_FALSE(doc.canClear());
    select({ { 0, 1 } }); // every group
    EXPECT_FALSE(doc.canClear());
    EXPECT_FALSE(doc.deleteSelected(KitColumn::Groups));
    select({ { 0 }, { 1 }, { 2 } });
    EXPECT_TRUE(doc.canClear());
}

TEST_F(KitDocumentTest, DropRulesForVariantsInTheSameInstrument)
{
    select({ { 0 }, { 1 }, { 0 } });
    ORPMemoryPasteboard drag;
    ASSERT_TRUE(doc.writeRows(KitColumn::Variants, { 0 }, drag));
    using Op = ORPDrumKitDocument::DropOperation;
    EXPECT_EQ(doc.validateDrop(drag, &doc, KitColumn::Variants, 0, false), Op::None); // on itself
    EXPECT_EQ(doc.validateDrop(drag, &doc, KitColumn::Variants, 1, false), Op::None); // right after itself
    EXPECT_EQ(doc.validateDrop(drag, &doc, KitColumn::Variants, 4, false), Op::None); // past the end
    EXPECT_EQ(doc.validateDrop(drag, &doc, KitColumn::Instruments, 0, false), Op::None); // another level
    EXPECT_EQ(doc.validateDrop(drag, nullptr, KitColumn::Variants, 3, false), Op::None); // another program
    EXPECT_EQ(doc.validateDrop(drag, &doc, KitColumn::Variants, 3, true), Op::Copy);
    EXPECT_EQ(doc.validateDrop(drag, &doc, KitColumn::Variants, 3, false), Op::Move);
    ASSERT_TRUE(doc.acceptDrop(drag, &doc, KitColumn::Variants, 3, false));
    EXPECT_EQ(variantNames(0, 1), (std::vector<std::string> { "b", "c", "a" }));
    EXPECT_EQ(doc.browser().selectedRows(2), std::vector<size_t> { 2 });
}

TEST_F(KitDocumentTest, DropsWithoutIndexesOrWithHostileIndexesAreRefused)
{
    select({ { 0 }, { 1 }, { 0 } });
    using Op = ORPDrumKitDocument::DropOperation;
    rp::LogCapture log;
    ORPMemoryPasteboard none;
    none.declareTypes({ "public.text" });
    EXPECT_EQ(doc.validateDrop(none, &doc, KitColumn::Variants, 3, false), Op::None);
    EXPECT_TRUE(log.contains("ORPDKD: Drop error; no acceptable type found on pasteboard!"));
    ORPMemoryPasteboard outOfRange;
    outOfRange.declareTypes({ ORPDrumVariantsIndexSetPboardType });
    outOfRange.setData(ORPDrumVariantsIndexSetPboardType, RowIndexSet::encode({ 7 }));
    EXPECT_EQ(doc.validateDrop(outOfRange, &doc, KitColumn::Variants, 0, false), Op::None);
    ORPMemoryPasteboard garbage;
    garbage.declareTypes({ ORPDrumVariantsIndexSetPboardType });
    garbage.setData(ORPDrumVariantsIndexSetPboardType, { 'R', 'P', 'I', 'X', 0xff, 0xff, 0xff, 0xff });
    EXPECT_FALSE(doc.acceptDrop(garbage, &doc, KitColumn::Variants, 0, false));
    EXPECT_EQ(variantNames(0, 1), (std::vector<std::string> { "a", "b", "c" }));
}

TEST_F(KitDocumentTest, InstrumentDraggedToAnotherWindowIsCopiedIntoItsSelectedGroup)
{
    ORPDrumKitDocument other;
    other.undoManager().setGroupsByEvent(false);
    other.browser().setSelection({ { 0 } });
    select({ { 0 }, { 1 } }); // Snare
    const auto before = snapshot(*doc.kit());
    ORPMemoryPasteboard drag;
    doc.writeRows(KitColumn::Instruments, { 1 }, drag);
    EXPECT_EQ(other.validateDrop(drag, &doc, KitColumn::Instruments, 1, false), ORPDrumKitDocument::DropOperation::Copy);
    ASSERT_TRUE(other.acceptDrop(drag, &doc, KitColumn::Instruments, 1, false));
    EXPECT_EQ(other.undoManager().undoActionName(), "Duplicate \"Snare\"");
    const auto& copied = other.kit()->drumsHierarchy()[0]->instruments[1]->variants;
    ASSERT_EQ(copied.size(), 3u);
    for (const auto& drum : copied)
        EXPECT_EQ(drum->groupName(), "New group");
    EXPECT_NE(copied[0], doc.kit()->drumsHierarchy()[0]->instruments[1]->variants[0]);
    EXPECT_EQ(other.kit()->drums().size(), 4u);
    EXPECT_EQ(snapshot(*doc.kit()), before);
}

TEST_F(KitDocumentTest, PastingTwoVariantsAppendsThemWithTheInstrumentsNames)
{
    select({ { 1 }, { 0 }, { 0 } }); // Ride x
    ASSERT_TRUE(doc.copy());
    select({ { 0 }, { 1 }, { 1, 2 } }); // Snare b, c
    ASSERT_TRUE(doc.copy());
    select({ { 1 }, { 0 }, { 0 } });
    ASSERT_TRUE(doc.canPaste());
    ASSERT_TRUE(doc.paste());
    EXPECT_EQ(doc.undoManager().undoActionName(), "Paste Variants");
    EXPECT_EQ(variantNames(1, 0), (std::vector<std::string> { "x", "b", "c" }));
    const auto& ride = doc.kit()->drumsHierarchy()[1]->instruments[0]->variants;
    for (const auto& drum : ride) {
        EXPECT_EQ(drum->typeName(), "Ride");
        EXPECT_EQ(drum->groupName(), "Cymbals");
    }
    // The instrument keeps exactly one default variant.
    EXPECT_EQ(std::count_if(ride.begin(), ride.end(), [](const auto& d) { return d->isDefaultVarForType(); }), 1);
    EXPECT_EQ(doc.kit()->drums().size(), 8u);
}

TEST_F(KitDocumentTest, PasteGoesWhereTheFocusAndSelectionAllow)
{
    select({ { 0 }, { 0 } });
    ASSERT_TRUE(doc.copy()); // Kick, an instrument
    struct Case {
        std::vector<std::vector<size_t>> selection;
        bool expected;
    };
    for (const auto& c : std::vector<Case> { { { { 0 } }, true }, // column 0, one group
             { { { 0, 1 } }, false },                                 // column 0, two groups
             { { { 1 }, { 0 } }, true },                              // column 1
             { { { 1 }, { 0 }, { 0 } }, false } }) {                  // column 2
        select(c.selection);
        EXPECT_EQ(doc.canPaste(), c.expected) << c.selection.size();
    }
    select({ { 1 } });
    ASSERT_TRUE(doc.paste());
    EXPECT_EQ(doc.undoManager().undoActionName(), "Paste \"Kick\"");
    EXPECT_EQ(doc.kit()->drumsHierarchy()[1]->instruments[1]->variants[0]->groupName(), "Cymbals");
}

TEST(KitClipboardArchiveTest, HostileArchivesAreRefusedAndSharedObjectsCopied)
{
    EXPECT_FALSE(ORPDrumKitDocument::unarchiveItems({}, KitColumn::Variants));
    EXPECT_FALSE(ORPDrumKitDocument::unarchiveItems({ 'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2 }, KitColumn::Groups));
    auto drum = makeDrum("G", "T", "v");
    const auto variants = ORPDrumKitDocument::archiveItems({ drum, drum });
    ASSERT_FALSE(variants.empty());
    // A list of drums is not a list of instruments or groups.
    EXPECT_FALSE(ORPDrumKitDocument::unarchiveItems(variants, KitColumn::Instruments));
    EXPECT_FALSE(ORPDrumKitDocument::unarchiveItems(variants, KitColumn::Groups));
    const auto items = ORPDrumKitDocument::unarchiveItems(variants, KitColumn::Variants);
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 2u);
    EXPECT_NE(std::get<ORPDrumPtr>((*items)[0]), std::get<ORPDrumPtr>((*items)[1]));
    // An instrument with mixed names and no default comes back as one instrument with one default.
    auto instrument = std::make_shared<ORPDrumInstrument>();
    instrument->variants = { makeDrum("G", "T", "a"), makeDrum("H", "U", "b") };
    const auto back = ORPDrumKitDocument::unarchiveItems(ORPDrumKitDocument::archiveItems({ instrument }), KitColumn::Instruments);
    ASSERT_TRUE(back);
    const auto& read = std::get<ORPDrumInstrumentPtr>(back->front())->variants;
    EXPECT_EQ(read[1]->typeName(), "T");
    EXPECT_TRUE(read[0]->isDefaultVarForType());
    EXPECT_FALSE(read[1]->isDefaultVarForType());
}

TEST_F(KitDocumentTest, RenameClashesCountOnlyAmongSiblings)
{
    select({ { 0 }, { 1 }, { 1 } }); // Snare b
    ASSERT_EQ(doc.beginRenaming(KitColumn::Variants), "b");
    EXPECT_FALSE(doc.endRenaming("c"));
    EXPECT_EQ(view.beeps, 1);
    EXPECT_TRUE(doc.isRenaming());
    EXPECT_FALSE(doc.endRenaming("a"));
    EXPECT_TRUE(doc.endRenaming("soft")); // a variant of Kick, not a sibling
    EXPECT_FALSE(doc.isRenaming());
    EXPECT_EQ(variantNames(0, 1)[1], "soft");
    // An unchanged name ends editing without an undo step.
    select({ { 0 }, { 1 }, { 0 } });
    doc.beginRenaming(KitColumn::Variants);
    const auto steps = doc.undoManager().undoStepCount();
    EXPECT_TRUE(doc.endRenaming("a"));
    EXPECT_EQ(doc.undoManager().undoStepCount(), steps);
    // Escape gives the old text back.
    doc.beginRenaming(KitColumn::Variants);
    EXPECT_EQ(doc.cancelRenaming(), "a");
    // Renaming a group renames it in all its drums; case differences are no clash.
    select({ { 1 } });
    doc.beginRenaming(KitColumn::Groups);
    EXPECT_TRUE(doc.endRenaming("drums"));
    EXPECT_EQ(doc.kit()->drumsHierarchy()[1]->instruments[0]->variants[0]->groupName(), "drums");
}

TEST(KitDocumentTextsTest, SliderTexts)
{
    struct Case {
        float value;
        const char* panning;
    };
    for (const auto& c : std::vector<Case> { { -0.25f, "Panning (25% left)" }, { 0.5f, "Panning (50% right)" },
             { 0.0f, "Panning (center)" }, { 0.999f, "Panning (99% right)" }, { -1.0f, "Panning (100% left)" } })
        EXPECT_EQ(ORPDrumKitDocument::panningText(c.value), c.panning);
    EXPECT_EQ(ORPDrumKitDocument::volumeText(0.755f), "Master Volume (75%)");
    EXPECT_EQ(ORPDrumKitDocument::volumeText(1.0f), "Master Volume (100%)");
}

TEST_F(KitDocumentTest, MIDIFieldsPresetAndLimits)
{
    select({ { 0 }, { 1 }, { 0 } });
    EXPECT_EQ(doc.midiChannelFieldText(), "");
    ASSERT_TRUE(doc.chooseMIDIPreset(38));
    const auto& drum = doc.currentDrum();
    EXPECT_EQ(int { drum->midiChannel() }, 9);
    EXPECT_EQ(int { drum->midiNote() }, 38);
    EXPECT_EQ(int { drum->midiVelocity() }, 127);
    EXPECT_EQ(doc.midiChannelFieldText(), "10");
    EXPECT_EQ(doc.undoManager().undoStepCount(), 1u);
    EXPECT_FALSE(doc.chooseMIDIPreset(38)); // nothing changes, nothing registered
    EXPECT_EQ(doc.undoManager().undoStepCount(), 1u);
    doc.setMIDIChannelFromField(1);
    EXPECT_EQ(int { drum->midiChannel() }, 0);
    doc.setMIDIChannelFromField(99); // typed nonsense is held to the field's range
    EXPECT_EQ(int { drum->midiChannel() }, 15);
    doc.setMIDINote(300);
    EXPECT_EQ(int { drum->midiNote() }, 127);
    doc.setMIDIVelocity(-4);
    EXPECT_EQ(int { drum->midiVelocity() }, 0);
}

TEST_F(KitDocumentTest, MIDIListenTakesTheFirstSoundingNoteOnly)
{
    select({ { 0 }, { 0 }, { 1 } });
    EXPECT_FALSE(doc.handleMIDIPacket({ 0x93, 40, 100 })); // not listening
    doc.setListening(true);
    EXPECT_FALSE(doc.handleMIDIPacket({ 0x83, 40, 100 })); // note-off
    EXPECT_FALSE(doc.handleMIDIPacket({ 0x93, 40, 0 }));   // note-on at velocity 0
    EXPECT_FALSE(doc.handleMIDIPacket({ 0x93, 40 }));      // truncated
    EXPECT_EQ(doc.undoManager().undoStepCount(), 0u);
    EXPECT_TRUE(doc.handleMIDIPacket({ 0x93, 40, 100 }));
    const auto& drum = doc.currentDrum();
    EXPECT_EQ(drum->variantName(), "soft");
    EXPECT_EQ(int { drum->midiChannel() }, 3);
    EXPECT_EQ(int { drum->midiNote() }, 40);
    EXPECT_EQ(int { drum->midiVelocity() }, 100);
    EXPECT_EQ(doc.undoManager().undoActionName(), "MIDI Change");
    EXPECT_FALSE(doc.isListening());
    EXPECT_EQ(view.listening, std::vector<bool> { false });
    EXPECT_FALSE(doc.handleMIDIPacket({ 0x94, 41, 100 }));
}

TEST_F(KitDocumentTest, MIDIPlaySendsOneNoteOnOnlyForMappedDrums)
{
    select({ { 0 }, { 0 }, { 0 } });
    EXPECT_FALSE(doc.playMIDI());
    EXPECT_TRUE(sender.sent.empty());
    doc.chooseMIDIPreset(36);
    ASSERT_TRUE(doc.playMIDI());
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0], (std::vector<uint8_t> { 0x99, 36, 127 }));
}

TEST_F(KitDocumentTest, ContextMenuOffersWhatTheSelectionAllows)
{
    select({ { 0 }, { 1 }, { 1 } });
    auto menu = doc.browser().rightClick(2, 1);
    std::vector<std::string> titles;
    for (const auto& item : menu)
        titles.push_back(item.separator ? "-" : item.title);
    EXPECT_EQ(titles, (std::vector<std::string> { "Play", "Make Default", "Rename", "-", "Cut", "Copy", "Clear", "-",
                          "New Variant" }));
    // Right-clicking another row of Snare selects it first; the default variant offers no Make Default.
    menu = doc.browser().rightClick(2, 0);
    EXPECT_EQ(doc.currentDrum()->variantName(), "a");
    EXPECT_EQ(menu[1].title, "Rename");
    menu = doc.browser().rightClick(0, 1);
    EXPECT_EQ(menu.back().title, "New Instrument");
    EXPECT_EQ(menu.back().tag, 1);
}

TEST_F(KitDocumentTest, SavedKitReopensWithItsFrameAndUpgrade)
{
    rp::test::TempDir dir;
    rp::test::TempDefaults defaults;
    select({ { 0 }, { 0 }, { 0 } });
    doc.chooseMIDIPreset(38);
    const auto path = dir / "Sample.rpkit";
    rp::Error error;
    const OXSavedFrame frame { { 10, 20, 600, 400 }, { 0, 0, 1600, 1000 } };
    ASSERT_TRUE(doc.writeToURL(path, frame, defaults.store(), error)) << error.text();
    EXPECT_FALSE(doc.changes().isDocumentEdited());
    auto reopened = ORPDrumKitDocument::open(path, error);
    ASSERT_TRUE(reopened) << error.text();
    EXPECT_EQ(snapshot(*reopened->kit()).substr(0, 20), snapshot(*doc.kit()).substr(0, 20));
    EXPECT_EQ(reopened->kit()->drumsHierarchy().size(), 2u);
    const auto kick = reopened->kit()->drumWithTypeName("Kick", "default");
    ASSERT_TRUE(kick);
    EXPECT_EQ(int { kick->midiNote() }, 38);
    EXPECT_EQ(reopened->savedFrame(defaults.store()), frame);
}

TEST(KitDocumentOpenTest, BundleWithoutAKitFileFailsWithAnError)
{
    rp::test::TempDir dir;
    std::filesystem::create_directories(dir / "Empty.rpkit");
    rp::Error error;
    EXPECT_FALSE(ORPDrumKitDocument::open(dir / "Empty.rpkit", error));
    EXPECT_EQ(error.code, 1000);
    EXPECT_FALSE(error.description.empty());
}

TEST(KitDocumentFolderTest, AFolderOfSamplesBuildsANewKitAsOneStep)
{
    rp::test::TempDir dir;
    std::filesystem::create_directories(dir / "Kit" / "Toms");
    rp::test::makeSoundFile(dir / "Kit" / "kick.aiff");
    rp::test::makeSoundFile(dir / "Kit" / "Toms" / "floor tom.aiff");
    ORPDrumKitDocument doc;
    doc.undoManager().setGroupsByEvent(false);
    const auto before = snapshot(*doc.kit());
    ASSERT_TRUE(doc.isEmptyKit());
    ASSERT_TRUE(doc.buildFromSoundFolder(dir / "Kit"));
    EXPECT_EQ(doc.undoManager().undoStepCount(), 1u);
    ASSERT_EQ(doc.kit()->drumsHierarchy().size(), 2u);
    const auto kick = doc.kit()->drumWithTypeName("kick", "default");
    ASSERT_TRUE(kick);
    EXPECT_EQ(int { kick->midiNote() }, 36);
    EXPECT_EQ(doc.kit()->drums().size(), 2u);
    EXPECT_FALSE(doc.isEmptyKit());
    EXPECT_FALSE(doc.buildFromSoundFolder(dir / "Kit")); // only an empty kit
    doc.undoManager().undo();
    EXPECT_EQ(snapshot(*doc.kit()), before);
}

} // namespace

TEST(KitDocumentThreads, ListenedNotesCrossToTheMainThreadAndNeverReachAnEndedDocument)
{
    auto document = std::make_unique<ORPDrumKitDocument>();
    document->setListening(true);
    auto receiver = document->midiReceiver();
    const std::vector<uint8_t> noteOn { 0x99, 38, 90 };
    rp::MIDIPacket packet;
    packet.data = noteOn;
    std::thread([&] { receiver->processMIDIPacket(packet, nullptr); }).join();
    rp::RunLoop::main().runUntil([&] { return !document->isListening(); }, 5.0);
    const auto& drum = document->currentDrum();
    EXPECT_EQ(int { drum->midiChannel() }, 9);
    EXPECT_EQ(int { drum->midiNote() }, 38);
    EXPECT_EQ(int { drum->midiVelocity() }, 90);

    // A note still on its way when the window closes is dropped (the sanitizer builds would report
    // a stale document being touched).
    document->setListening(true);
    std::thread([&] { receiver->processMIDIPacket(packet, nullptr); }).join();
    document.reset();
    rp::RunLoop::main().runFor(0.05);
    EXPECT_EQ(receiver.use_count(), 1);
}
