#include "kit/KitTestSupport.h"
#include "kit/ORPKitFromFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

using rp::test::makeSoundFile;
using rp::test::TempDir;

TEST(KitFromFolderTest, GeneralMIDINotesForNamesThatSayWhatTheyAre)
{
    // Separators, case and the longer names that contain shorter ones ("snare rim", "ride bell").
    const std::vector<std::pair<std::string, int>> cases = { { "bass_drum_2", 36 }, { "snare", 38 },
        { "snare-rim", 37 }, { "HiHat closed", 42 }, { "hi hat open", 46 }, { "hh pedal", 44 },
        { "floor tom", 41 }, { "tom", 47 }, { "hi tom", 50 }, { "Crash 16", 49 }, { "ride bell", 53 } };
    for (const auto& [name, note] : cases)
        EXPECT_EQ(generalMIDINoteForInstrumentName(name), note) << name;
    EXPECT_FALSE(generalMIDINoteForInstrumentName("laser zap") || generalMIDINoteForInstrumentName(""));
}

TEST(KitFromFolderTest, GroupsPerSubfolderAndInstrumentsPerFileInNameOrder)
{
    TempDir dir;
    const fs::path folder = dir / "My Sounds";
    fs::create_directories(folder / "b perc");
    fs::create_directories(folder / "a cymbals");
    fs::create_directories(dir / "empty");
    makeSoundFile(folder / "snare.aiff", 200);
    makeSoundFile(folder / "kick.wav", 60, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    makeSoundFile(folder / "b perc" / "zap.flac", 900, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    makeSoundFile(folder / "b perc" / "hi hat open.wav", 800, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    makeSoundFile(folder / "a cymbals" / "ride.aiff", 3000);
    rp::test::writeFileBytes(folder / "notes.txt", { 'h', 'i' });
    rp::test::writeFileBytes(folder / "a cymbals" / "broken.wav", { 'R', 'I', 'F', 'F' });

    std::string failure;
    EXPECT_FALSE(drumKitFromSoundFolder(dir / "empty", &failure));
    EXPECT_NE(failure.find("holds no sound files"), std::string::npos);
    EXPECT_FALSE(drumKitFromSoundFolder(dir / "missing", &failure));
    auto kit = drumKitFromSoundFolder(folder, &failure);
    ASSERT_TRUE(kit) << failure;
    std::vector<std::string> layout; // the broken file is skipped
    for (const auto& group : kit->drumsHierarchy())
        for (const auto& instrument : group->instruments)
            layout.push_back(group->groupName() + "/" + instrument->typeName());
    EXPECT_EQ(layout,
        (std::vector<std::string> {
            "My Sounds/kick", "My Sounds/snare", "a cymbals/ride", "b perc/hi hat open", "b perc/zap" }));
    auto kick = kit->drumWithTypeName("kick", "default");
    ASSERT_TRUE(kick);
    EXPECT_TRUE(kick->isDefaultVarForType());
    EXPECT_EQ((std::vector<int> { kick->midiChannel(), kick->midiNote(), kick->midiVelocity() }),
        (std::vector<int> { 9, 36, 127 }));
    EXPECT_FALSE(kit->drumWithTypeName("zap", "default")->hasMIDI());

    // The command line makes a bundle of the same folder, which its info command reads.
    if (!fs::exists(RP_CLI_PATH))
        GTEST_SKIP() << "rattlepan-cli not built";
    const std::string cli = RP_CLI_PATH;
    const fs::path out = dir / "Made.rpkit";
    std::string output;
    ASSERT_EQ(rp::test::runCommand(
                  cli + " kit new --from-folder '" + folder.string() + "' '" + out.string() + "'", &output),
        0)
        << output;
    EXPECT_TRUE(fs::exists(out / "Sounds" / "kick.wav"));
    // An existing target is never replaced.
    EXPECT_NE(rp::test::runCommand(cli + " kit new --from-folder '" + folder.string() + "' '"
                  + folder.string() + "' 2>/dev/null"),
        0);
    EXPECT_TRUE(fs::exists(folder / "kick.wav"));
    output.clear();
    ASSERT_EQ(rp::test::runCommand(cli + " info --json '" + out.string() + "'", &output), 0);
    const auto info = nlohmann::json::parse(output);
    const auto& hat = info["groups"][2]["instruments"][0];
    EXPECT_EQ(nlohmann::json::array({ info["kitName"], info["groups"].size(), hat["typeName"],
                  hat["variants"][0]["midiNote"], hat["variants"][0]["sound"]["frames"] }),
        nlohmann::json::parse(R"(["Made", 3, "hi hat open", 46, 2205])"));
}

TEST(KitFromFolderTest, AFlatFolderIsGroupedByDrumNameAndLayerSuffixesBecomeVariants)
{
    TempDir dir;
    const fs::path folder = dir / "Flat";
    fs::create_directories(folder);
    for (const char* name :
        { "Kick-Soft.wav", "Kick-Hard.wav", "Kick-Med.wav", "Tom1.wav", "Tom2.wav", "snare_1.wav",
            "snare_2.wav", "Ride-ff.wav", "Ride-p.wav", "zap.wav", "HatOpen.wav", "Crash-1.wav" })
        makeSoundFile(folder / name, 300, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::string failure;
    auto kit = drumKitFromSoundFolder(folder, &failure);
    ASSERT_TRUE(kit) << failure;
    std::vector<std::string> layout;
    for (const auto& group : kit->drumsHierarchy()) {
        for (const auto& instrument : group->instruments) {
            std::string line = group->groupName() + "/" + instrument->typeName() + ":";
            for (const auto& drum : instrument->variants)
                line += " " + drum->variantName() + (drum->isDefaultVarForType() ? "*" : "");
            layout.push_back(line);
        }
    }
    // "Tom1" and "Tom2" are two drums (no separator before the number); a lone "Crash-1" keeps its name.
    EXPECT_EQ(layout,
        (std::vector<std::string> { "Kicks/Kick: Soft Med Hard*", "Snares/snare: 1 2*", "Toms/Tom1: default*",
            "Toms/Tom2: default*", "Hi hats/HatOpen: default*", "Cymbals/Crash-1: default*",
            "Cymbals/Ride: p ff*", "Flat/zap: default*" }));
    EXPECT_EQ(int { kit->drumWithTypeName("HatOpen", "default")->midiNote() }, 46);
}

} // namespace
