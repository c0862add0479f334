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
    AudioStreamBasicDescription description;
    description.mSampleRate = rate;
    description.mFormatID = kAudioFormatLinearPCM;
    description.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    description.mBitsPerChannel = 32;
    description.mChannelsPerFrame = channels;
    description.mBytesPerFrame = 4 * channels;
    description.mBytesPerPacket = 4 * channels;
    description.mFramesPerPacket = 1;
    return description;
}

AudioStreamBasicDescription int16Aiff(uint32_t channels, double rate = 44100)
{
    return AudioStreamBasicDescription::bigEndianInteger(rate, channels, 16);
}

// One number from soxi about `path`, or -1 when soxi is not installed.
long soxi(const char* option, const std::filesystem::path& path)
{
    std::string text;
    if (!rp::test::haveTool("soxi")
        || rp::test::runCommand(std::string("soxi ") + option + " '" + path.string() + "'", &text) != 0) {
        return -1;
    }
    return std::stol(text);
}

class OAFileOutputTest : public ::testing::Test {
protected:
    OASoundPtr makeSound(const std::string& name, const std::vector<std::vector<float>>& channels)
    {
        rp::test::writeFloatWav(dir / name, 44100, channels);
        return OASound::soundWithContentsOfURL(dir / name);
    }
    rp::test::TempDir dir;
};

TEST_F(OAFileOutputTest, CueRendersPendingFramesThenSilence)
{
    const auto path = dir / "out.wav";
    auto output = OAFileOutput::initWithFileName(path.string(), kAudioFileWAVEType, floatWav(2));
    ASSERT_TRUE(output);
    ASSERT_TRUE(output->isOpen());

    std::vector<float> samples(600);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.001f * static_cast<float>(i + 1);
    }
    auto sound = makeSound("ramp.wav", { samples });
    sound->setPanning(0.5f);
    // Mixing at frame 0 cues to 0 first (nothing to write), then 600 frames are pending.
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.0f));
    EXPECT_EQ(output->totalFramesRead(), 0u);

    // 600 frames rendered, 1900 of silence.
    output->cueToFrame(2500);
    EXPECT_EQ(output->totalFramesRead(), 2500u);
    // Already past: nothing more.
    output->cueToFrame(1000);
    EXPECT_EQ(output->totalFramesRead(), 2500u);
    output->close();
    EXPECT_FALSE(output->isOpen());

    SF_INFO info {};
    auto channels = rp::test::readChannels(path, &info);
    ASSERT_EQ(info.frames, 2500);
    ASSERT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 44100);
    for (size_t f = 0; f < 2500; ++f) {
        const float left = f < 600 ? samples[f] * 0.5f : 0.0f;
        const float right = f < 600 ? samples[f] : 0.0f;
        ASSERT_EQ(channels[0][f], left) << f;
        ASSERT_EQ(channels[1][f], right) << f;
    }

    if (rp::test::haveTool("soxi")) {
        EXPECT_EQ(soxi("-s", path), 2500);
        EXPECT_EQ(soxi("-c", path), 2);
    }
}

TEST_F(OAFileOutputTest, ExportEndsAtTheLastCueAndPendingAudioIsLeftOut)
{
    const auto path = dir / "song.aiff";
    auto output = OAFileOutput::initWithFileName(path.string(), kAudioFileAIFFType, int16Aiff(1, 22050));
    ASSERT_TRUE(output);
    auto sound = makeSound("hit.wav", { std::vector<float>(4410, 0.5f) }); // 0.1 s at 44.1k
    // Sounds are converted to the file's rate: 0.1 s is 2205 frames here.
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.25f));
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.30f));
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

    if (rp::test::haveTool("soxi")) {
        EXPECT_EQ(soxi("-s", path), info.frames);
        EXPECT_EQ(soxi("-b", path), 16);
    }
}

TEST_F(OAFileOutputTest, IntegerFilesSaturateInsteadOfWrappingAndTheLevelApplies)
{
    const auto path = dir / "loud.wav";
    AudioStreamBasicDescription description = int16Aiff(1);
    description.mFormatFlags &= ~kAudioFormatFlagIsBigEndian;
    auto output = OAFileOutput::initWithFileName(path.string(), kAudioFileWAVEType, description);
    ASSERT_TRUE(output);
    auto sound = makeSound("source.wav", { std::vector<float>(100, 0.9f) });
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.0f));
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 0.0f));
    output->cueToFrame(100);
    ASSERT_TRUE(output->setLevel(0.25f));
    ASSERT_TRUE(output->playSound(sound, 1.0f, static_cast<float>(sound->duration()), 100.0f / 44100));
    output->cueToFrame(200);
    output->close();

    SF_INFO info {};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_TRUE(file);
    std::vector<short> pcm(200);
    ASSERT_EQ(sf_readf_short(file, pcm.data(), 200), 200);
    sf_close(file);
    EXPECT_EQ(pcm[0], 32767); // 1.8 saturates
    EXPECT_EQ(pcm[99], 32767);
    EXPECT_NEAR(pcm[150], 0.225 * 32767, 2);
}

TEST_F(OAFileOutputTest, OpeningAnotherFileRestartsTheClock)
{
    auto output = OAFileOutput::initWithFileType(kAudioFileCAFType, floatWav(2, 48000));
    ASSERT_TRUE(output);
    EXPECT_FALSE(output->isOpen());
    ASSERT_TRUE(output->openWithFileName((dir / "a.caf").string()));
    output->cueToFrame(3000);
    // Existing files are erased; the clock starts over.
    rp::test::writeFileBytes(dir / "b.caf", { 'j', 'u', 'n', 'k' });
    ASSERT_TRUE(output->openWithFileName((dir / "b.caf").string()));
    EXPECT_EQ(output->totalFramesRead(), 0u);
    output->cueToFrame(100);
    output->close();

    SF_INFO info {};
    rp::test::readChannels(dir / "a.caf", &info);
    EXPECT_EQ(info.frames, 3000);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_CAF);
    rp::test::readChannels(dir / "b.caf", &info);
    EXPECT_EQ(info.frames, 100);
}

TEST_F(OAFileOutputTest, FailuresAreLoggedLines)
{
    rp::LogCapture log;
    EXPECT_FALSE(OAFileOutput::init());
    EXPECT_TRUE(log.contains("OAFileOutput: error, must use a designated initializer."));

    auto output = OAFileOutput::initWithFileType(kAudioFileWAVEType, floatWav(1));
    ASSERT_TRUE(output);
    const std::string badPath = (dir / "missing" / "x.wav").string();
    EXPECT_FALSE(output->openWithFileName(badPath));
    EXPECT_TRUE(log.contains("OAFileOutput: failed to create file " + badPath));

    // A format libsndfile cannot write into that container.
    AudioStreamBasicDescription odd = floatWav(1);
    odd.mBitsPerChannel = 12;
    auto unwritable = OAFileOutput::initWithFileType(kAudioFileWAVEType, odd);
    ASSERT_TRUE(unwritable);
    EXPECT_FALSE(unwritable->openWithFileName((dir / "odd.wav").string()));

    // Without a file every slice is reported and the export goes on.
    log.clear();
    output->cueToFrame(1500);
    EXPECT_TRUE(log.contains("OAFileOutput: error -50 writing 1024 frames silence to file"));
    EXPECT_TRUE(log.contains("OAFileOutput: error -50 writing 476 frames silence to file"));
    EXPECT_EQ(output->totalFramesRead(), 1500u);
}

} // namespace
