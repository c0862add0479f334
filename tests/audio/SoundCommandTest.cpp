#include "OAOutputTestSupport.h"
#include "support/TestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

const std::string kCli = RP_CLI_PATH;

TEST(SoundCommand, InfoReportsWhatTheSoundReports)
{
    if (!rp::test::haveTool("sox")) {
        GTEST_SKIP() << "SKIPPED: sox is not installed, so no AIFF file can be made for this test";
    }
    rp::test::TempDir dir;
    const std::string path = (dir / "snare.aiff").string();
    ASSERT_EQ(rp::test::runCommand("sox -n -r 22050 -c 2 -b 24 '" + path + "' synth 0.5 sine 300"), 0);
    std::string output;
    ASSERT_EQ(rp::test::runCommand(kCli + " sound info --json '" + path + "'", &output), 0);
    const auto info = nlohmann::json::parse(output);
    EXPECT_EQ(info["frames"], 11025);
    EXPECT_EQ(info["channels"], 2);
    EXPECT_EQ(info["fileType"], "AIFF");
    EXPECT_EQ(info["sfFormat"], 0x020003);
    // Not a sound: a message and a failure status, no crash.
    rp::test::writeFileBytes(
        dir / "junk.wav", { 'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 'W', 'A', 'V', 'E' });
    EXPECT_NE(
        rp::test::runCommand(kCli + " sound info '" + (dir / "junk.wav").string() + "' 2>/dev/null"), 0);
}

TEST(SoundCommand, PlayReturnsWhenTheSoundHasFinished)
{
    rp::test::TempDir dir;
    const std::string path = (dir / "hit.wav").string();
    rp::test::writeFloatWav(path, 44100, { std::vector<float>(17640, 0.25f) }); // 0.4 s
    const auto start = std::chrono::steady_clock::now();
    std::string output;
    ASSERT_EQ(
        rp::test::runCommand(kCli + " sound play --device null --volume 0.5 '" + path + "'", &output), 0);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 0.4);
    EXPECT_LT(elapsed, 3.0);
    EXPECT_NE(output.find("played hit.wav"), std::string::npos) << output;
    EXPECT_NE(rp::test::runCommand(kCli + " sound play --device coreaudio '" + path + "' 2>/dev/null"), 0);
    EXPECT_NE(rp::test::runCommand(kCli + " sound play --volume -1 '" + path + "' 2>/dev/null"), 0);
}

} // namespace
