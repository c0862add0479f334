#include "ModelTestSupport.h"
#include "foundation/Error.h"
#include "support/TestSupport.h"

#include <fstream>
#include <nlohmann/json.hpp>

using namespace rp::test;

namespace {

TEST(ORPSongCli, InfoAndConvert)
{
    TempDir dir;
    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::song();
    song->setName("Cli");
    auto drum = makeDrum("kick");
    drum->setMidiChannel(9);
    drum->setMidiNote(36);
    song->sectionList()[0]->patterns()[0]->addEventWithDrum(drum, 0.75f, 0.5f);
    song->sectionMarkerList()[0]->setNumberOfTimes(2);
    ASSERT_TRUE(song->writeToFile(dir / "in.rpsong"));

    const std::string cli = std::string(RP_CLI_PATH) + " ";
    ASSERT_EQ(
        runCommand(cli + "convert " + (dir / "in.rpsong").string() + " " + (dir / "out.rpsong").string()), 0);
    std::string output;
    ASSERT_EQ(runCommand(cli + "info --json " + (dir / "out.rpsong").string(), &output), 0);
    const auto info = nlohmann::json::parse(output);
    const auto& event = info["sections"][0]["patterns"][0]["events"][0];
    EXPECT_EQ(nlohmann::json::array({ info["type"], info["name"], info["totalBars"], info["kitURL"],
                  info["playlist"][0]["section"], info["playlist"][0]["numberOfTimes"], event["whenRatio"],
                  event["drum"]["typeName"], event["drum"]["midiNote"] }),
        nlohmann::json::parse(R"(["song", "Cli", 2, null, 0, 2, 0.5, "kick", 36])"));

    // A song whose kit is on another machine keeps naming it after conversion, and says so.
    const auto kit = dir / "Studio.rpkit";
    std::filesystem::create_directory(kit);
    song->setDrumKit(nullptr, kit);
    ASSERT_TRUE(song->writeToFile(dir / "kit.rpsong"));
    std::filesystem::remove(kit);
    output.clear();
    ASSERT_EQ(runCommand(cli + "convert " + (dir / "kit.rpsong").string() + " "
                      + (dir / "kit2.rpsong").string() + " 2>&1",
                  &output),
        0);
    EXPECT_NE(output.find("is not on this computer; its location is kept"), std::string::npos) << output;
    output.clear();
    ASSERT_EQ(runCommand(cli + "info --json " + (dir / "kit2.rpsong").string(), &output), 0);
    EXPECT_EQ(nlohmann::json::parse(output)["kitURL"], rp::fileURLFromPath(kit.string())) << output;

    // A file that is no song: error 1000 as JSON, and convert writes nothing.
    std::ofstream(dir / "junk.rpsong") << "not a song at all";
    output.clear();
    EXPECT_NE(runCommand(cli + "info --json " + (dir / "junk.rpsong").string(), &output), 0);
    EXPECT_NE(output.find("\"code\": 1000"), std::string::npos) << output;
    EXPECT_NE(runCommand(cli + "convert " + (dir / "junk.rpsong").string() + " " + (dir / "x.rpsong").string()
                  + " 2>/dev/null"),
        0);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.rpsong"));
}

} // namespace
