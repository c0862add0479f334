#include "audio/OAFileOutput.h"

#include "OAOutputTestSupport.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

AudioStreamBasicDescription floatWav(uint32_t channels, double rate = 44100)
{
    AudioStreamBasicDescription description
        = AudioStreamBasicDescription::bigEndianInteger(rate, channels, 32);
    description.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    return description;
}

class OAFileOutputTest : public ::testing::Test {
protected:
    OASoundPtr makeSound(const std::string& name, const std::vector<std::vector<float>>& channels)
    {
        rp::test::writeFloatWav(dir / name, 44100, channels);
        return OASound::soundWithContentsOfURL(dir / name);
    }
    static bool play(OAFileOutput& output, const OASoundPtr& sound, float seconds)
    {
        return output.playSound(sound, 1.0f, static_cast<float>(sound->duration()), seconds);
    }
    rp::test::TempDir dir;
};

TEST_F(OAFileOutputTest, ExportEndsAtTheLastCueAndPendingAudioIsLeftOut)
{
    const auto path = dir / "song.aiff";
    auto output = OAFileOutput::initWithFileName(
        path.string(), kAudioFileAIFFType, AudioStreamBasicDescription::bigEndianInteger(22050, 1, 16));
    ASSERT_TRUE(output);
    auto sound = makeSound("hit.wav", { std::vector<float>(4410, 0.5f) }); // 0.1 s at 44.1k
    // Sounds are converted to the file's rate: 0.1 s is 2205 frames here.
    ASSERT_TRUE(play(*output, sound, 0.25f));
    ASSERT_TRUE(play(*output, sound, 0.30f));
    // The end of the run: a bare cue to 0.32 s cuts the second hit short.
    ASSERT_TRUE(output->playSound(nullptr, 1.0f, 0.0f, 0.32f));
    output->close();

    SF_INFO info {};
    auto channels = rp::test::readChannels(path, &info);
    EXPECT_EQ(info.frames, static_cast<sf_count_t>(static_cast<double>(0.32f) * 22050));
    EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(channels[0][5000], 0.0f);
    EXPECT_NEAR(channels[0][5600], 0.5f, 1e-3);
    EXPECT_NEAR(channels[0][6700], 1.0f, 1e-3); // the two hits overlap and add
    std::string soxi; // frames and bits as sox sees them
    if (rp::test::haveTool("soxi")) {
        const std::string file = "'" + path.string() + "'";
        ASSERT_EQ(rp::test::runCommand("soxi -s " + file + " && soxi -b " + file, &soxi), 0);
        EXPECT_EQ(soxi, std::to_string(info.frames) + "\n16\n");
    }
}

TEST_F(OAFileOutputTest, IntegerFilesSaturateInsteadOfWrappingAndTheLevelApplies)
{
    const auto path = dir / "loud.wav";
    AudioStreamBasicDescription description = AudioStreamBasicDescription::bigEndianInteger(44100, 1, 16);
    description.mFormatFlags &= ~kAudioFormatFlagIsBigEndian;
    auto output = OAFileOutput::initWithFileName(path.string(), kAudioFileWAVEType, description);
    ASSERT_TRUE(output);
    auto sound = makeSound("source.wav", { std::vector<float>(100, 0.9f) });
    ASSERT_TRUE(play(*output, sound, 0.0f));
    ASSERT_TRUE(play(*output, sound, 0.0f));
    output->cueToFrame(100);
    ASSERT_TRUE(output->setLevel(0.25f));
    ASSERT_TRUE(play(*output, sound, 100.0f / 44100));
    output->cueToFrame(200);
    output->close();

    const auto pcm = rp::test::readChannels(path)[0];
    ASSERT_EQ(pcm.size(), 200u);
    EXPECT_EQ(pcm[0], 32767 / 32768.0f); // 1.8 saturates
    EXPECT_EQ(pcm[99], 32767 / 32768.0f);
    EXPECT_NEAR(pcm[150], 0.225, 1e-4);
}

TEST_F(OAFileOutputTest, FailuresAreLoggedAndTheExportGoesOn)
{
    rp::LogCapture log;
    EXPECT_FALSE(OAFileOutput::init());
    EXPECT_TRUE(log.contains("OAFileOutput: error, must use a designated initializer."));
    auto blank = OAFileOutput::initWithFileType(kAudioFileWAVEType, floatWav(1));
    ASSERT_TRUE(blank);
    const std::string badPath = (dir / "missing" / "x.wav").string();
    EXPECT_FALSE(blank->openWithFileName(badPath));
    EXPECT_TRUE(log.contains("OAFileOutput: failed to create file " + badPath));
    // A format libsndfile cannot write into that container.
    AudioStreamBasicDescription odd = floatWav(1);
    odd.mBitsPerChannel = 12;
    auto unwritable = OAFileOutput::initWithFileType(kAudioFileWAVEType, odd);
    ASSERT_TRUE(unwritable);
    EXPECT_FALSE(unwritable->openWithFileName((dir / "odd.wav").string()));

    // Without a file every slice is reported and the export goes on.
    log.clear();
    blank->cueToFrame(1500);
    EXPECT_TRUE(log.contains("OAFileOutput: error -50 writing 1024 frames silence to file"));
    EXPECT_TRUE(log.contains("OAFileOutput: error -50 writing 476 frames silence to file"));
    EXPECT_EQ(blank->totalFramesRead(), 1500u);
}

} // namespace
