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
    const std::vector<std::pair<std::string, int>> cases
        = { { "Kick", 36 }, { "bass_drum_2", 36 }, { "snare", 38 }, { "snare-rim", 37 }, { "clap", 39 },
              { "HiHat closed", 42 }, { "hi hat open", 46 }, { "hh pedal", 44 }, { "floor tom", 41 },
              { "low tom", 45 }, { "tom", 47 }, { "hi tom", 50 }, { "Crash 16", 49 }, { "ride", 51 },
              { "ride bell", 53 }, { "cowbell", 56 }, { "shaker", 70 }, { "tambourine", 54 } };
    for (const auto& [name, note] : cases) {
        EXPECT_EQ(generalMIDINoteForInstrumentName(name), note) << name;
    }
    EXPECT_FALSE(generalMIDINoteForInstrumentName("laser zap"));
    EXPECT_FALSE(generalMIDINoteForInstrumentName(""));
}

TEST(KitFromFolderTest, GroupsPerSubfolderAndInstrumentsPerFileInNameOrder)
{
    TempDir dir;
    const fs::path folder = dir / "My Sounds";
    fs::create_directories(folder / "b perc");
    fs::create_directories(folder / "a cymbals");
    makeSoundFile(folder / "snare.aiff", 200);
    makeSoundFile(folder / "kick.wav", 60, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    makeSoundFile(folder / "b perc" / "zap.flac", 900, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    makeSoundFile(folder / "b perc" / "cowbell.aiff", 800);
    makeSoundFile(folder / "a cymbals" / "ride.aiff", 3000);
    rp::test::writeFileBytes(folder / "notes.txt", { 'h', 'i' });
    rp::test::writeFileBytes(folder / "a cymbals" / "broken.wav", { 'R', 'I', 'F', 'F' });
    fs::create_directories(dir / "empty");

    std::string failure;
    EXPECT_FALSE(drumKitFromSoundFolder(dir / "empty", &failure));
    EXPECT_NE(failure.find("holds no sound files"), std::string::npos);
    EXPECT_FALSE(drumKitFromSoundFolder(dir / "missing", &failure));

    auto kit = drumKitFromSoundFolder(folder, &failure);
    ASSERT_TRUE(kit) << failure;
    std::vector<std::string> layout; // the broken file is skipped
    for (const auto& group : kit->drumsHierarchy()) {
        for (const auto& instrument : group->instruments) {
            layout.push_back(group->groupName() + "/" + instrument->typeName());
        }
    }
    EXPECT_EQ(layout,
        (std::vector<std::string> {
            "My Sounds/kick", "My Sounds/snare", "a cymbals/ride", "b perc/cowbell", "b perc/zap" }));
    auto kick = kit->drumWithTypeName("kick", "default");
    ASSERT_TRUE(kick);
    EXPECT_TRUE(kick->isDefaultVarForType());
    EXPECT_EQ((std::vector<int> { kick->midiChannel(), kick->midiNote(), kick->midiVelocity() }),
        (std::vector<int> { 9, 36, 127 }));
    auto zap = kit->drumWithTypeName("zap", "default");
    ASSERT_TRUE(zap);
    EXPECT_FALSE(zap->hasMIDI());
}

TEST(KitFromFolderTest, KitNewCommandWritesABundleThatInfoReads)
{
    if (!fs::exists(RP_CLI_PATH)) {
        GTEST_SKIP() << "rattlepan-cli not built";
    }
    if (!rp::test::haveTool("sox")) {
        GTEST_SKIP() << "sox not installed";
    }
    TempDir dir;
    fs::create_directories(dir / "src" / "Hats");
    ASSERT_EQ(rp::test::runCommand("sox -n -r 44100 -c 1 -b 16 '" + (dir / "src" / "kick.aiff").string()
                  + "' synth 0.2 sine 60 fade 0 0.2 0.15"),
        0);
    ASSERT_EQ(
        rp::test::runCommand("sox -n -r 48000 -c 2 -b 24 '"
            + (dir / "src" / "Hats" / "hi hat open.wav").string() + "' synth 0.3 whitenoise fade 0 0.3 0.25"),
        0);
    const fs::path out = dir / "Made.rpkit";
    std::string output;
    ASSERT_EQ(rp::test::runCommand(std::string(RP_CLI_PATH) + " kit new --from-folder '"
                      + (dir / "src").string() + "' '" + out.string() + "'",
                  &output),
        0)
        << output;
    EXPECT_TRUE(fs::exists(out / "Sounds" / "kick.aiff"));
    EXPECT_TRUE(fs::exists(out / "Sounds" / "hi hat open.wav"));
    // An existing target is never replaced.
    EXPECT_NE(rp::test::runCommand(std::string(RP_CLI_PATH) + " kit new --from-folder '"
                  + (dir / "src").string() + "' '" + (dir / "src").string() + "'"),
        0);
    EXPECT_TRUE(fs::exists(dir / "src" / "kick.aiff"));

    output.clear();
    ASSERT_EQ(
        rp::test::runCommand(std::string(RP_CLI_PATH) + " info --json '" + out.string() + "'", &output), 0);
    auto info = nlohmann::json::parse(output);
    EXPECT_EQ(info["kitName"], "Made");
    ASSERT_EQ(info["groups"].size(), 2u);
    const auto& hat = info["groups"][1]["instruments"][0];
    EXPECT_EQ(hat["typeName"], "hi hat open");
    EXPECT_EQ(hat["variants"][0]["midiNote"], 46);
    EXPECT_EQ(hat["variants"][0]["sound"]["frames"], 14400);

    // A file that is no kit: error JSON and exit 1.
    rp::test::writeFileBytes(dir / "bad.rpkit", { 'x' });
    output.clear();
    EXPECT_NE(rp::test::runCommand(
                  std::string(RP_CLI_PATH) + " info --json '" + (dir / "bad.rpkit").string() + "'", &output),
        0);
}

} // namespace
