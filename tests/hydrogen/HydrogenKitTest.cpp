#include "hydrogen/HydrogenFiles.h"
#include "hydrogen/HydrogenImport.h"
#include "hydrogen/HydrogenTestSupport.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPKitFromFolder.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using rp::hydrogen::ImportError;
using rp::hydrogen::importKit;
using rp::test::TempDir;
using rp::test::TestInstrument;

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    return out;
}

ORPDrumKitPtr reopen(const fs::path& bundle)
{
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(bundle, false, &error);
    EXPECT_TRUE(kit) << error.text();
    return kit;
}

std::vector<std::string> layout(const ORPDrumKit& kit)
{
    std::vector<std::string> out;
    for (const auto& group : kit.drumsHierarchy()) {
        for (const auto& instrument : group->instruments) {
            std::string line = group->groupName() + "/" + instrument->typeName() + ":";
            for (const auto& drum : instrument->variants)
                line += " " + drum->variantName() + (drum->isDefaultVarForType() ? "*" : "");
            out.push_back(line);
        }
    }
    return out;
}

TEST(HydrogenKitTest, InstalledKitsImportFromFolderXmlAndArchiveAndReopen)
{
    if (!rp::test::haveHydrogenData())
        GTEST_SKIP() << "hydrogen-data is not installed";
    TempDir dir;
    const fs::path kits = rp::test::kHydrogenData / "drumkits";
    for (const auto& entry : fs::directory_iterator(kits)) {
        const fs::path out = dir / (entry.path().filename().string() + ".rpkit");
        const auto report = importKit(entry.path(), out);
        EXPECT_TRUE(report.warnings.empty()) << joined(report.warnings);
        auto kit = reopen(out);
        ASSERT_TRUE(kit);
        EXPECT_EQ(kit->kitName(), out.stem().string());
        for (const auto& drum : kit->drums())
            EXPECT_GT(drum->sound()->frames(), 0u) << drum->compositeName();
    }

    // GMRockKit: five velocity layers per drum, named by range, the loudest the default; the MIDI
    // out notes on channel 10; pan and volume on the sounds.
    auto rock = reopen(dir / "GMRockKit.rpkit");
    ASSERT_TRUE(rock);
    const auto lines = layout(*rock);
    EXPECT_EQ(lines.size(), 18u);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "Kicks/Kick: 0-26 26-47 47-93 93-110 110-127*"), lines.end())
        << joined(lines);
    std::vector<std::string> groups;
    for (const auto& group : rock->drumsHierarchy())
        groups.push_back(group->groupName());
    EXPECT_EQ(
        groups, (std::vector<std::string> { "Kicks", "Snares", "Toms", "Hi hats", "Cymbals", "Percussion" }));
    const auto stick = rock->drumWithTypeName("Stick", "99-127");
    ASSERT_TRUE(stick);
    EXPECT_FLOAT_EQ(stick->sound()->panning(), -0.3f);
    EXPECT_NEAR(stick->sound()->volume(), 0.99569f, 1e-5);
    EXPECT_EQ((std::vector<int> { stick->midiChannel(), stick->midiNote(), stick->midiVelocity() }),
        (std::vector<int> { 9, 37, 127 }));

    // The same kit through its drumkit.xml, and as a compressed .h2drumkit archive.
    const fs::path tr808 = kits / "TR808EmulationKit";
    importKit(tr808 / "drumkit.xml", dir / "ByXml.rpkit");
    EXPECT_EQ(reopen(dir / "ByXml.rpkit")->drums().size(), 16u);
    std::vector<rp::test::ArchiveItem> items { { "TR808EmulationKit", "",
        rp::test::ArchiveItem::Directory } };
    for (const auto& file : fs::directory_iterator(tr808)) {
        const auto bytes = rp::test::readFileBytes(file.path());
        items.push_back({ "TR808EmulationKit/" + file.path().filename().string(),
            std::string(bytes.begin(), bytes.end()) });
    }
    rp::test::writeArchive(dir / "TR808.h2drumkit", items);
    {
        const rp::test::ScopedTemporaryFolder scratch(dir / "tmp");
        importKit(dir / "TR808.h2drumkit", dir / "ByArchive.rpkit");
        EXPECT_TRUE(scratch.leftovers().empty()); // the unpacked copy is gone
    }
    auto archived = reopen(dir / "ByArchive.rpkit");
    ASSERT_TRUE(archived);
    EXPECT_EQ(layout(*archived), layout(*reopen(dir / "ByXml.rpkit")));
}

TEST(HydrogenKitTest, MappingOfMuteGroupsLayersAndWhatIsNotCarriedOver)
{
    TempDir dir;
    const fs::path folder = dir / "Mixed";
    rp::test::writeKitFolder(folder, "Mixed",
        { { 0, "Kick", { { "k1.wav", 0, 0.5 }, { "k2.wav", 0.5, 1 } }, 3, 36,
              "   <filterActive>true</filterActive>\n   <Attack>12</Attack>\n" },
            { 1, "Snare", { { "s.wav", 0, 1 } }, 3, -1, "   <FX2Level>0.4</FX2Level>\n" },
            { 2, "Hat Closed", { { "hc.wav", 0, 1 } }, 1, 42 },
            { 3, "Hat Open", { { "ho1.wav", 0, 0.6 }, { "ho2.wav", 0.6, 1 } }, 1, 46 },
            { 4, "Hat Pedal", { { "hp.wav", 0, 1 } }, 1, 44 },
            { 5, "Laser", { { "laser.wav", 0, 1 }, { "missing.wav", 0, 1 } } },
            { 6, "Kick", { { "k1.wav", 0, 1 } } } });
    const auto report = importKit(folder, dir / "Mixed.rpkit");
    auto kit = reopen(dir / "Mixed.rpkit");
    ASSERT_TRUE(kit);
    EXPECT_EQ(layout(*kit),
        (std::vector<std::string> { "Kicks/Kick: 0-64 64-127*", "Kicks/Kick 2: default*",
            "Snares/Snare: default*", "Hi hats/hi hat: closed* open 0-76 open 76-127 pedal",
            "Other/Laser: default*" }));
    // The closed and pedal sounds choke the open one, as Hydrogen's mute group did.
    EXPECT_TRUE(kit->drumWithTypeName("hi hat", "closed")->variantPrecedence());
    EXPECT_TRUE(kit->drumWithTypeName("hi hat", "pedal")->variantPrecedence());
    EXPECT_FALSE(kit->drumWithTypeName("hi hat", "open 76-127")->variantPrecedence());
    EXPECT_EQ(int { kit->drumWithTypeName("hi hat", "pedal")->midiNote() }, 44);
    // Snare had no MIDI out note: its name gives the General MIDI one.
    EXPECT_EQ(int { kit->drumWithTypeName("Snare", "default")->midiNote() }, 38);
    EXPECT_EQ(joined(report.notCarriedOver),
        "mute group 3 (Kick, Snare)\nfilter (Kick)\nADSR envelope (Kick)\nFX sends (Snare)\n");
    ASSERT_EQ(report.warnings.size(), 1u) << joined(report.warnings);
    EXPECT_NE(report.warnings[0].find("missing.wav"), std::string::npos);
}

TEST(HydrogenKitTest, PlainFolderOfLayersBecomesGroupedInstrumentsWithVariants)
{
    if (!rp::test::haveHydrogenData())
        GTEST_SKIP() << "hydrogen-data is not installed";
    // GMRockKit's folder as a folder of sounds: 86 files, 18 drums with their layers as variants.
    std::string failure;
    auto kit = drumKitFromSoundFolder(rp::test::kHydrogenData / "drumkits" / "GMRockKit", &failure);
    ASSERT_TRUE(kit) << failure;
    const auto lines = layout(*kit);
    EXPECT_EQ(kit->drums().size(), 86u);
    EXPECT_EQ(lines.size(), 18u) << joined(lines);
    for (const char* expected :
        { "Kicks/Kick: Softest Soft Med Hard Hardest*", "Percussion/HandClap: default*",
            "Cymbals/24Ride: 1 2 3 4 5*", "Toms/TomFloor: Softest Soft Med Hard Hardest*",
            "Hi hats/HatSemiOpen: Softest Soft Med Hard Hardest*",
            "Snares/SideStick: Softest Soft Med Hard Hardest*" })
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected << "\n"
                                                                                << joined(lines);
    EXPECT_EQ(int { kit->drumWithTypeName("HatOpen", "Soft")->midiNote() }, 46);

    EXPECT_EQ(drumGroupNameForInstrumentName("Tom1"), "Toms");
    EXPECT_EQ(drumGroupNameForInstrumentName("zap"), "");
    // A suffix counts only after a separator: "Tom1" and "Tom2" are two drums.
    EXPECT_FALSE(splitLayerSuffix("Tom1"));
    EXPECT_EQ(splitLayerSuffix("snare_ff")->base, "snare");
    EXPECT_GT(splitLayerSuffix("x-fff")->loudness, splitLayerSuffix("x-mp")->loudness);
}

TEST(HydrogenKitTest, HostileKitsGiveClearErrorsAndWriteNothingOutsideTheOutput)
{
    TempDir dir;
    TempDir scratchDir; // the importer's temporary folder, outside the tree checked below
    const rp::test::ScopedTemporaryFolder scratch(scratchDir.path());
    const fs::path kitFolder = dir / "k";
    rp::test::writeSample(kitFolder / "ok.wav");
    rp::test::writeSample(dir / "outside.wav");
    const std::string good = rp::test::drumkitXml("K", { { 0, "Kick", { { "ok.wav", 0, 1 } } } });

    auto expectError = [&](const std::string& label, const fs::path& source, const std::string& fragment) {
        const fs::path out = dir / "out" / "K.rpkit";
        fs::create_directories(out.parent_path());
        const auto before = rp::test::treeOf(dir.path());
        try {
            importKit(source, out);
            ADD_FAILURE() << label << ": imported";
        } catch (const ImportError& error) {
            EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos)
                << label << ": " << error.what();
            EXPECT_EQ(error.error().code, rp::kErrorInvalidFile);
        }
        EXPECT_EQ(rp::test::treeOf(dir.path()), before) << label;
    };
    auto xmlCase = [&](const std::string& label, const std::string& xml, const std::string& fragment) {
        rp::test::writeText(kitFolder / "drumkit.xml", xml);
        expectError(label, kitFolder, fragment);
    };
    xmlCase("malformed", "<drumkit_info><name>K</name><instrumentList><instrument>",
        "not a readable Hydrogen drumkit");
    xmlCase("truncated", good.substr(0, good.size() / 2), "not a readable Hydrogen drumkit");
    xmlCase("other root", "<song/>", "no drumkit_info");
    xmlCase("no instruments", "<drumkit_info><name>K</name></drumkit_info>", "holds no instruments");
    std::vector<TestInstrument> many;
    for (int i = 0; i < 1100; ++i)
        many.push_back({ i, "I" + std::to_string(i), { { "ok.wav", 0, 1 } } });
    xmlCase("huge count", rp::test::drumkitXml("K", many), "more than 1024 instruments");
    xmlCase("samples leave the kit or are missing",
        rp::test::drumkitXml("K",
            { { 0, "Kick", { { "../outside.wav", 0, 1 }, { "/etc/passwd", 0, 1 }, { "gone.wav", 0, 1 } } },
                { 1, "Snare", { { "..\\outside.wav", 0, 1 } } } }),
        "no instrument of the kit \"K\" has a readable sample");
    xmlCase("entity expansion",
        "<!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
        "<drumkit_info><name>&b;&b;&b;</name></drumkit_info>",
        "holds no instruments");
    expectError("missing source", dir / "nothing", "there is no Hydrogen kit");
    expectError("folder without drumkit.xml", dir / "out", "has no drumkit.xml");

    // Names with path separators and odd numbers are taken as names: the import works.
    rp::test::writeText(kitFolder / "drumkit.xml",
        rp::test::drumkitXml("../../K",
            { { 0, "Kick/../../x", { { "ok.wav", 0, 1 } }, -1, 300, "<volume>nan</volume>" },
                { 0, "Dup", { { "ok.wav", 0, 1 } } } }));
    const auto report = importKit(kitFolder, dir / "Odd.rpkit");
    EXPECT_TRUE(rp::test::treeOf(dir.path()).count("Odd.rpkit"));
    EXPECT_EQ(reopen(dir / "Odd.rpkit")->drums().front()->typeName(), "Kick/../../x");
    EXPECT_GE(report.warnings.size(), 2u) << joined(report.warnings); // MIDI note, repeated id

    // Archives: links, escapes, absolute paths, special files and expansion bombs are refused.
    using Item = rp::test::ArchiveItem;
    const Item xml { "K/drumkit.xml", good };
    const auto sampleBytes = rp::test::readFileBytes(kitFolder / "ok.wav");
    const Item sample { "K/ok.wav", std::string(sampleBytes.begin(), sampleBytes.end()) };
    auto archiveCase
        = [&](const std::string& label, const std::vector<Item>& items, const std::string& fragment) {
              const fs::path archive = dir / "in" / "k.h2drumkit";
              fs::create_directories(archive.parent_path());
              rp::test::writeArchive(archive, items);
              expectError(label, archive, fragment);
              fs::remove(archive);
          };
    archiveCase("dot dot", { xml, sample, { "K/../../evil.wav", "x" } }, "climbs out");
    archiveCase("absolute", { xml, { "/tmp/rp-evil.wav", "x" } }, "absolute path");
    archiveCase("symlink", { xml, { "K/ok.wav", "", Item::Symlink, "/etc/passwd" } }, "is a link");
    archiveCase("hardlink", { xml, sample, { "K/again.wav", "", Item::Hardlink, "K/ok.wav" } }, "is a link");
    archiveCase("bomb", { xml, { "K/big.wav", "", Item::Zeros, "", 80u << 20 } }, "expands to more");
    archiveCase("no kit", { sample }, "holds no drumkit.xml");
    rp::test::writeText(dir / "in" / "garbage.h2drumkit", "this is not an archive at all");
    expectError("not an archive", dir / "in" / "garbage.h2drumkit", "not a Hydrogen drumkit archive");
    std::string gz;
    {
        rp::test::writeArchive(dir / "in" / "whole.h2drumkit", { xml, sample });
        const auto bytes = rp::test::readFileBytes(dir / "in" / "whole.h2drumkit");
        gz.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
    }
    rp::test::writeText(dir / "in" / "cut.h2drumkit", gz);
    expectError("truncated archive", dir / "in" / "cut.h2drumkit", "truncated");
    EXPECT_FALSE(fs::exists("/tmp/rp-evil.wav"));
    EXPECT_FALSE(fs::exists(dir / "evil.wav"));
    EXPECT_TRUE(scratch.leftovers().empty());

    // The intact archive imports.
    importKit(dir / "in" / "whole.h2drumkit", dir / "Whole.rpkit");
    EXPECT_EQ(reopen(dir / "Whole.rpkit")->drums().size(), 1u);
}

TEST(HydrogenKitTest, CommandLineImportReportsAndRefusesToReplace)
{
    if (!fs::exists(RP_CLI_PATH))
        GTEST_SKIP() << "rattlepan-cli not built";
    TempDir dir;
    rp::test::writeKitFolder(
        dir / "Src", "Src", { { 0, "Kick", { { "k.wav", 0, 1 } }, -1, 36, "<pitchOffset>2</pitchOffset>" } });
    const std::string cli = RP_CLI_PATH;
    std::string output;
    ASSERT_EQ(rp::test::runCommand(cli + " kit import '" + (dir / "Src").string() + "' '"
                      + (dir / "A.rpkit").string() + "' 2>" + (dir / "err.txt").string(),
                  &output),
        0);
    EXPECT_NE(output.find("1 groups, 1 instruments"), std::string::npos) << output;
    const auto errors = rp::test::readFileBytes(dir / "err.txt");
    EXPECT_NE(std::string(errors.begin(), errors.end()).find("pitch (Kick)"), std::string::npos);
    EXPECT_NE(rp::test::runCommand(cli + " kit import '" + (dir / "Src").string() + "' '"
                  + (dir / "Src").string() + "' 2>/dev/null"),
        0);
    EXPECT_NE(rp::test::runCommand(cli + " kit import '" + (dir / "none").string() + "' '"
                  + (dir / "B.rpkit").string() + "' 2>/dev/null"),
        0);
    EXPECT_FALSE(fs::exists(dir / "B.rpkit"));
}

} // namespace
