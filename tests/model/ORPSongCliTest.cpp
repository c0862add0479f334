#include "ModelTestSupport.h"

#include "support/TestSupport.h"

#include <fstream>

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

    const std::string cli = RP_CLI_PATH;
    ASSERT_EQ(runCommand(cli + " convert " + (dir / "in.rpsong").string() + " " + (dir / "out.rpsong").string()), 0);
    std::string json;
    ASSERT_EQ(runCommand(cli + " info --json " + (dir / "out.rpsong").string(), &json), 0);
    std::ofstream(dir / "info.json") << json;
    if (haveTool("python3")) {
        std::string check;
        int status = runCommand("python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                                "e=d['sections'][0]['patterns'][0]['events'][0]; "
                                "print(d['type'], d['name'], d['totalBars'], d['kitURL'], d['playlist'][0]['section'], "
                                "d['playlist'][0]['numberOfTimes'], e['whenRatio'], e['drum']['typeName'], "
                                "e['drum']['midiNote'])\" "
                + (dir / "info.json").string(),
            &check);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(check, "song Cli 2 None 0 2 0.5 kick 36\n");
    }

    std::ofstream(dir / "junk.rpsong") << "not a song at all";
    std::string errorJson;
    EXPECT_NE(runCommand(cli + " info --json " + (dir / "junk.rpsong").string(), &errorJson), 0);
    EXPECT_NE(errorJson.find("\"code\": 1000"), std::string::npos) << errorJson;
    EXPECT_NE(runCommand(cli + " convert " + (dir / "junk.rpsong").string() + " " + (dir / "x.rpsong").string()
                  + " 2>/dev/null"),
        0);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.rpsong"));
}

} // namespace
