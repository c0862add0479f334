#include "audio/OASound.h"

#include "OASoundTestSupport.h"
#include "audio/SoundFile.h"
#include "foundation/Error.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using rp::test::TempDir;

namespace {

// 256 frames that every width represents exactly: k / 128 for k = -128 .. 127.
std::vector<double> exactRamp()
{
    std::vector<double> samples(256);
    for (int k = -128; k < 128; ++k) {
        samples[static_cast<size_t>(k + 128)] = k / 128.0;
    }
    return samples;
}

struct FormatCase {
    const char* name;
    int format;
    FourCharCode fileType;
    FourCharCode formatID;
    uint32_t bits;
    uint32_t flags; // expected format flags
    int64_t legacyCode;
    bool exact; // lossless: decodes to the written values
};

} // namespace

TEST(OASoundFile, DescribesEachFormatAndDecodesItLikeLibsndfile)
{
    constexpr uint32_t kSignedBE
        = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked | kAudioFormatFlagIsBigEndian;
    constexpr uint32_t kSignedLE = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    const std::vector<FormatCase> cases = {
        { "u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, kAudioFileWAVEType, kAudioFormatLinearPCM, 8,
            kAudioFormatFlagIsPacked, 0x010001, true },
        { "s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, kAudioFileWAVEType, kAudioFormatLinearPCM, 16,
            kSignedLE, 0x010002, true },
        { "s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, kAudioFileWAVEType, kAudioFormatLinearPCM, 24,
            kSignedLE, 0x010003, true },
        { "s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, kAudioFileWAVEType, kAudioFormatLinearPCM, 32,
            kSignedLE, 0x010006, true },
        { "f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, kAudioFileWAVEType, kAudioFormatLinearPCM, 32,
            kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 0x010006, true },
        { "f64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, kAudioFileWAVEType, kAudioFormatLinearPCM, 64,
            kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 0x010007, true },
        { "s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, kAudioFileAIFFType, kAudioFormatLinearPCM, 8,
            kSignedBE, 0x020001, true },
        { "s16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, kAudioFileAIFFType, kAudioFormatLinearPCM, 16,
            kSignedBE, 0x020002, true },
        { "s24.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, kAudioFileAIFFType, kAudioFormatLinearPCM, 24,
            kSignedBE, 0x020003, true },
        { "f32.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, kAudioFileAIFCType, kAudioFormatLinearPCM, 32,
            kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsBigEndian, 0x020006,
            true },
        { "ulaw.aifc", SF_FORMAT_AIFF | SF_FORMAT_ULAW, kAudioFileAIFCType, kAudioFormatULaw, 8, 0, 0x020010,
            false },
        { "ima4.aifc", SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM, kAudioFileAIFCType, kAudioFormatAppleIMA4, 0, 0,
            0x020012, false },
        { "ulaw.au", SF_FORMAT_AU | SF_FORMAT_ULAW, kAudioFileNextType, kAudioFormatULaw, 8, 0, 0x030010,
            false },
        { "alaw.au", SF_FORMAT_AU | SF_FORMAT_ALAW, kAudioFileNextType, kAudioFormatALaw, 8, 0, 0x030011,
            false },
        { "s16.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, kAudioFileNextType, kAudioFormatLinearPCM, 16, kSignedBE,
            0x030002, true },
        { "s16le.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, kAudioFileCAFType,
            kAudioFormatLinearPCM, 16, kSignedLE, 0x180002, true },
        { "s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kAudioFileFLACType, kAudioFormatFLAC, 0, 1, 0x020000,
            true },
        { "s16.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, kAudioFileWave64Type, kAudioFormatLinearPCM, 16,
            kSignedLE, 0x020002, true },
        { "s16.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, kAudioFileRF64Type, kAudioFormatLinearPCM, 16,
            kSignedLE, 0x020002, true },
        { "ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, kAudioFileWAVEType, rp::kAudioFormatDVIIntelIMA, 0,
            0, 0x010000, false },
        { "vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, rp::kAudioFileOggType, rp::kAudioFormatVorbis, 0, 0,
            0x020000, false },
        { "layer3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, kAudioFileMP3Type, kAudioFormatMPEGLayer3,
            0, 0, 0x020000, false },
    };
    TempDir dir;
    const std::vector<double> ramp = exactRamp();
    // Lossy codecs get a signal they can carry: a 440 Hz tone, a little over a second long.
    const std::vector<double> tone = rp::test::sine(440, 44100, 50000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        rp::test::writeSoundFile(path, c.format, 44100, 1, c.exact ? ramp : tone);
        SF_INFO info {};
        const std::vector<double> reference = rp::test::readSoundFile(path, &info);

        auto sound = OASound::soundWithContentsOfURL(path);
        EXPECT_EQ(fourCharCodeString(sound->sourceAudioFileType()), fourCharCodeString(c.fileType));
        const AudioStreamBasicDescription& disk = sound->sourceAudioStreamDescription();
        EXPECT_EQ(fourCharCodeString(disk.mFormatID), fourCharCodeString(c.formatID));
        EXPECT_EQ(disk.mBitsPerChannel, c.bits);
        EXPECT_EQ(disk.mFormatFlags, c.flags);
        EXPECT_EQ(sound->legacySndfileFormat(), c.legacyCode);
        if (c.formatID == kAudioFormatLinearPCM) {
            EXPECT_EQ(disk.mBytesPerPacket, c.bits / 8);
        }
        if (c.formatID == kAudioFormatAppleIMA4) {
            EXPECT_EQ(disk.mBytesPerPacket, 34u);
            EXPECT_EQ(disk.mFramesPerPacket, 64u);
        }
        ASSERT_EQ(sound->frames(), static_cast<uint64_t>(info.frames));

        const AudioBufferList* list = sound->bufferListWithAudioStreamDescription(
            AudioStreamBasicDescription::canonicalFloat(44100, 1));
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->mNumberBuffers(), 1u);
        ASSERT_EQ(rp::test::channelFrames(list, 0), reference.size());
        const float* samples = rp::test::channelData(list, 0);
        size_t mismatches = 0;
        for (size_t i = 0; i < reference.size(); ++i) {
            const double expected = c.exact ? ramp[i] : reference[i];
            if (std::fabs(samples[i] - expected) > 1e-6) {
                ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST(OASoundFile, MapsChannelsOnRead)
{
    TempDir dir;
    const std::vector<double> mono = rp::test::sine(500, 44100, 1000);
    rp::test::writeSoundFile(dir / "mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, mono);
    std::vector<double> stereo;
    for (size_t i = 0; i < 1000; ++i) {
        stereo.push_back(0.5);
        stereo.push_back(-0.25);
    }
    rp::test::writeSoundFile(dir / "stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, stereo);

    // A mono file asked for two channels fills both buffers with the same samples.
    auto sound = OASound::soundWithContentsOfURL(dir / "mono.wav");
    const AudioBufferList* list
        = sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(44100, 2));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->mNumberBuffers(), 2u);
    EXPECT_EQ(list->mBuffers[0].mNumberChannels, 1u);
    ASSERT_EQ(rp::test::channelFrames(list, 1), 1000u);
    EXPECT_EQ(
        0, std::memcmp(list->mBuffers[0].mData, list->mBuffers[1].mData, list->mBuffers[0].mDataByteSize));
    EXPECT_NEAR(rp::test::channelData(list, 1)[10], mono[10], 1e-4);

    // Stereo to one channel: the mean; to four: the channels repeat.
    auto pair = OASound::soundWithContentsOfURL(dir / "stereo.wav");
    list = pair->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(44100, 1));
    ASSERT_NE(list, nullptr);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[7], 0.125f);
    list = pair->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(44100, 4));
    ASSERT_NE(list, nullptr);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 2)[7], 0.5f);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 3)[7], -0.25f);

    // Interleaved 16-bit big-endian working format: one buffer holding both channels.
    const auto interleaved = AudioStreamBasicDescription::bigEndianInteger(44100, 2, 16);
    list = pair->bufferListWithAudioStreamDescription(interleaved);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->mNumberBuffers(), 1u);
    EXPECT_EQ(list->mBuffers[0].mNumberChannels, 2u);
    EXPECT_EQ(list->mBuffers[0].mDataByteSize, 4000u);
    const auto* bytes = static_cast<const uint8_t*>(list->mBuffers[0].mData);
    EXPECT_EQ((std::vector<uint8_t>(bytes, bytes + 4)), (std::vector<uint8_t> { 0x40, 0, 0xE0, 0 }));
}

TEST(OASoundFile, ConvertsSampleRateKeepingPitchAndRemovingAliases)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, rp::test::sine(1000, 44100, 44100));
    auto sound = OASound::soundWithContentsOfURL(dir / "a.wav");
    const AudioBufferList* list
        = sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(48000, 1));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(sound->loadedFrames(), 48000u);
    ASSERT_EQ(rp::test::channelFrames(list, 0), 48000u);
    const float* samples = rp::test::channelData(list, 0);
    EXPECT_NEAR(rp::test::measuredFrequency(samples, 48000, 48000), 1000.0, 0.05);
    double sum = 0;
    for (size_t i = 1000; i < 47000; ++i) {
        sum += samples[i] * samples[i];
    }
    EXPECT_NEAR(std::sqrt(sum / 46000), 0.5 / std::sqrt(2.0), 0.002);
    // The converted sound starts on time: the sine's first upward crossing stays at the start.
    EXPECT_LT(std::fabs(samples[0]), 0.02f);
    EXPECT_GT(samples[3], 0.0f);

    // A 15 kHz tone does not fit below 22050 Hz: the converter must remove it, not fold it down.
    rp::test::writeSoundFile(
        dir / "b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, rp::test::sine(15000, 48000, 48000));
    auto high = OASound::soundWithContentsOfURL(dir / "b.wav");
    list = high->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(22050, 1));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(high->loadedFrames(), 22050u);
    double peak = 0;
    for (size_t i = 500; i < 21500; ++i) {
        peak = std::max(peak, std::fabs(static_cast<double>(rp::test::channelData(list, 0)[i])));
    }
    EXPECT_LT(peak, 0.001);

    // Odd ratios truncate the frame count.
    EXPECT_TRUE(
        sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(22051, 1)));
    EXPECT_EQ(sound->loadedFrames(), static_cast<uint64_t>(44100.0 * 22051 / 44100));
}

TEST(OASoundFile, TrimsToOffsetAndCount)
{
    TempDir dir;
    std::vector<double> ramp(1000);
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<double>(i) / 1024.0;
    }
    rp::test::writeSoundFile(dir / "ramp.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, ramp);
    auto sound = OASound::soundWithContentsOfURL(dir / "ramp.wav");
    const auto working = AudioStreamBasicDescription::canonicalFloat(8000, 1);
    EXPECT_DOUBLE_EQ(sound->duration(), 0.125);
    struct Case {
        uint64_t offset, count, frames;
    };
    const Case cases[] = {
        { 100, 0, 900 }, // count 0: to the end
        { 100, 50, 50 }, { 100, 5000, 900 }, // a count past the end changes nothing
        { 999, 0, 1 }, { 1000, 0, 0 }, // offset at the end: nothing, not a wrapped-round count
        { 5000, 10, 0 }, { UINT64_MAX, 0, 0 }, // a negative offset from an archive, sign-extended
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " count " << c.count);
        sound->setFrameOffset(c.offset);
        sound->setFrameCount(c.count);
        EXPECT_EQ(sound->frames(), c.frames);
        const AudioBufferList* list = sound->bufferListWithAudioStreamDescription(working);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(rp::test::channelFrames(list, 0), c.frames);
        if (c.frames > 0) {
            EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[0], static_cast<float>(ramp[c.offset]));
            EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[c.frames - 1],
                static_cast<float>(ramp[c.offset + c.frames - 1]));
        }
        sound->flushBuffers();
    }
}

TEST(OASoundFile, ClampsSourcesLongerThanTheLimit)
{
    // An 8-bit WAV whose data chunk holds 0x90000000 frames, as a sparse file: nothing is written
    // but the header, and the reads below touch only its far end.
    TempDir dir;
    const auto path = dir / "long.wav";
    const uint32_t dataBytes = 0x90000000u;
    std::vector<unsigned char> header = { 'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't',
        ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 'd', 'a', 't', 'a' };
    const uint32_t riffSize = dataBytes + 36;
    for (int i = 0; i < 4; ++i) {
        header[4 + static_cast<size_t>(i)] = static_cast<unsigned char>(riffSize >> (8 * i));
    }
    for (int i = 0; i < 4; ++i) {
        header.push_back(static_cast<unsigned char>(dataBytes >> (8 * i)));
    }
    rp::test::writeFileBytes(path, header);
    ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(header.size()) + dataBytes));

    auto sound = OASound::soundWithContentsOfURL(path);
    EXPECT_EQ(sound->frames(), 2147483647u);
    // The last frames inside the limit read from deep in the file (zero bytes: unsigned -1.0).
    sound->setFrameOffset(OASound::kMaximumFrames - 10);
    EXPECT_EQ(sound->frames(), 10u);
    const AudioBufferList* list
        = sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(8000, 1));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(rp::test::channelFrames(list, 0), 10u);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[9], -1.0f);

    // Asking for all of it is refused before anything is allocated.
    sound->setFrameOffset(0);
    rp::LogCapture log;
    EXPECT_EQ(
        sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(8000, 2)),
        nullptr);
    EXPECT_TRUE(log.contains("OASound: failed to alloc ")) << (log.lines().empty() ? "" : log.lines()[0]);
    EXPECT_FALSE(sound->buffersAreLoaded());
}

TEST(OASoundFile, SameDescriptionReturnsTheSameListWithoutTouchingTheFile)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 1, rp::test::sine(300, 44100, 500));
    auto sound = OASound::soundWithContentsOfURL(dir / "a.aiff");
    EXPECT_FALSE(sound->buffersAreLoaded());
    EXPECT_EQ(sound->loadedAudioStreamDescription(), AudioStreamBasicDescription {});
    const auto working = AudioStreamBasicDescription::canonicalFloat(44100, 2);
    const AudioBufferList* first = sound->bufferListWithAudioStreamDescription(working);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(sound->buffersAreLoaded());
    EXPECT_EQ(sound->loadedAudioStreamDescription(), working);
    const void* data = first->mBuffers[0].mData;

    std::filesystem::remove(dir / "a.aiff");
    rp::LogCapture log;
    EXPECT_EQ(sound->bufferListWithAudioStreamDescription(working), first);
    EXPECT_EQ(first->mBuffers[0].mData, data);
    EXPECT_TRUE(log.lines().empty());

    // Another description must go back to the file, which is gone.
    EXPECT_EQ(
        sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(44100, 1)),
        nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("OASound: error ", 0), 0u);
    EXPECT_NE(log.lines()[0].find(" re-opening file file://"), std::string::npos);
    EXPECT_FALSE(sound->buffersAreLoaded());
}

TEST(OASoundFile, FailuresAreLoggedAndLeaveTheOldDescription)
{
    TempDir dir;
    rp::LogCapture log;
    auto empty = std::make_shared<OASound>();
    EXPECT_EQ(
        empty->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(44100, 2)),
        nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "OASound: there is no sound data source to load!");

    rp::test::writeSoundFile(
        dir / "good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2, std::vector<double>(200, 0.1));
    auto sound = OASound::soundWithContentsOfURL(dir / "good.wav");
    ASSERT_TRUE(
        sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(22050, 2)));
    log.clear();
    rp::test::writeFileBytes(dir / "junk.wav", { 'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o' });
    sound->setSoundFileURL(dir / "junk.wav");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("OASound: error ", 0), 0u);
    EXPECT_NE(log.lines()[0].find(" trying to open file://"), std::string::npos);
    EXPECT_FALSE(sound->buffersAreLoaded());
    EXPECT_EQ(sound->frames(), 100u);
    EXPECT_EQ(sound->sampleRate(), 22050.0f);
    EXPECT_EQ(sound->channels(), 2);
    EXPECT_EQ(sound->name(), "junk.wav");

    // A working format that is not linear PCM cannot be produced.
    sound->setSoundFileURL(dir / "good.wav");
    log.clear();
    AudioStreamBasicDescription ulaw = sound->sourceAudioStreamDescription();
    ulaw.mFormatID = kAudioFormatULaw;
    EXPECT_EQ(sound->bufferListWithAudioStreamDescription(ulaw), nullptr);
    EXPECT_TRUE(log.contains("OASound: error 666d743f trying to set client data format."));
}

TEST(OASoundFile, NameAndDescription)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "Kick 1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, std::vector<double>(882, 0.0));
    auto sound = OASound::soundWithContentsOfURL(dir / "Kick 1.wav");
    sound->setName("stored"); // the file's name wins over a stored one
    EXPECT_EQ(sound->description(), "Kick 1.wav: 2 channels of 441 samples at 44100.000000 Hz");
    auto unnamed = std::make_shared<OASound>();
    unnamed->setName("stored");
    EXPECT_EQ(unnamed->name(), "stored");
}

TEST(OASoundWrite, CopiesTheSourceWhenTypeAndFormatMatch)
{
    TempDir dir;
    const auto source = dir / "source.aiff";
    rp::test::writeSoundFile(
        source, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 1, rp::test::sine(200, 44100, 3000));
    // Trailing bytes no encoder would write: only a byte-for-byte copy keeps them.
    auto bytes = rp::test::readFileBytes(source);
    bytes.insert(bytes.end(), { 'J', 'U', 'N', 'K', 0, 0, 0, 2, 'h', 'i' });
    rp::test::writeFileBytes(source, bytes);

    auto sound = OASound::soundWithContentsOfURL(source);
    sound->setFrameOffset(100); // a copy ignores the trim, as the file is the sound's source
    rp::Error error;
    ASSERT_TRUE(sound->writeToURL(
        dir / "copy.aiff", kAudioFileAIFFType, sound->sourceAudioStreamDescription(), &error));
    EXPECT_EQ(rp::test::readFileBytes(dir / "copy.aiff"), bytes);

    // A copy that cannot be made reports the file system's error.
    rp::LogCapture log;
    EXPECT_FALSE(sound->writeToURL(
        dir / "missing" / "copy.aiff", kAudioFileAIFFType, sound->sourceAudioStreamDescription(), &error));
    EXPECT_TRUE(log.contains("OASound: error copying file file://"));
    EXPECT_EQ(error.domain, rp::kPosixErrorDomain);
    EXPECT_NE(error.code, 0);
}

TEST(OASoundWrite, EncodesOtherTypesAndFormats)
{
    TempDir dir;
    std::vector<double> stereo;
    for (int i = 0; i < 4410; ++i) {
        stereo.push_back(std::round(8000 * std::sin(i * 0.05)) / 32768.0);
        stereo.push_back(std::round(-6000 * std::sin(i * 0.031)) / 32768.0);
    }
    rp::test::writeSoundFile(dir / "source.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, stereo);
    auto sound = OASound::soundWithContentsOfURL(dir / "source.wav");

    const auto aiff24 = AudioStreamBasicDescription::bigEndianInteger(44100, 2, 24);
    ASSERT_TRUE(sound->writeToURL(dir / "out.aiff", kAudioFileAIFFType, aiff24));
    EXPECT_EQ(rp::test::readSoundFile(dir / "out.aiff"), stereo); // 16 bits widen to 24 without loss
    auto written = OASound::soundWithContentsOfURL(dir / "out.aiff");
    EXPECT_EQ(written->sourceAudioFileType(), kAudioFileAIFFType);
    EXPECT_EQ(written->sourceAudioStreamDescription(), aiff24);

    AudioStreamBasicDescription cafFloat = aiff24;
    cafFloat.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    cafFloat.mBitsPerChannel = 32;
    cafFloat.mBytesPerFrame = cafFloat.mBytesPerPacket = 8;
    cafFloat.mSampleRate = 22050;
    ASSERT_TRUE(sound->writeToURL(dir / "out.caf", kAudioFileCAFType, cafFloat));

    AudioStreamBasicDescription ulaw {};
    ulaw.mSampleRate = 8000;
    ulaw.mFormatID = kAudioFormatULaw;
    ulaw.mChannelsPerFrame = 1;
    ulaw.mBitsPerChannel = 8;
    ulaw.mBytesPerFrame = ulaw.mBytesPerPacket = 1;
    ulaw.mFramesPerPacket = 1;
    ASSERT_TRUE(sound->writeToURL(dir / "out.au", kAudioFileNextType, ulaw));

    if (rp::test::haveTool("soxi")) {
        auto soxi = [&](const char* option, const char* file) {
            std::string out;
            rp::test::runCommand(
                std::string("soxi ") + option + " '" + (dir / file).string() + "' 2>/dev/null", &out);
            return out.substr(0, out.find('\n'));
        };
        EXPECT_EQ(soxi("-t", "out.aiff") + soxi("-b", "out.aiff") + soxi("-s", "out.aiff"), "aiff244410");
        EXPECT_EQ(soxi("-t", "out.caf") + soxi("-r", "out.caf") + soxi("-s", "out.caf"), "caf220502205");
        EXPECT_EQ(soxi("-e", "out.caf"), "Floating Point PCM");
        EXPECT_EQ(soxi("-e", "out.au") + soxi("-r", "out.au") + soxi("-c", "out.au"), "u-law80001");
    }

    // A type libsndfile cannot write fails with an OS-status error.
    rp::LogCapture log;
    rp::Error error;
    EXPECT_FALSE(sound->writeToURL(dir / "out.zzz", fourCharCode("zzzz"), aiff24, &error));
    EXPECT_EQ(error.domain, "NSOSStatusErrorDomain");
    EXPECT_EQ(error.code, rp::kSoundFileUnsupportedFormat);
    EXPECT_TRUE(log.contains("OASound: error 1718449215 trying to create file://"));
}

TEST(OASoundWrite, CopyOfASoundSharesOnlyWhatItShould)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, std::vector<double>(100, 0.25));
    auto sound = OASound::soundWithContentsOfURL(dir / "a.wav");
    sound->setFrameOffset(10);
    sound->setFrameCount(20);
    sound->setVolume(0.5f);
    sound->setPanning(-0.75f);
    sound->setSavesFileReference(false);
    ASSERT_TRUE(
        sound->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(44100, 1)));
    auto copy = sound->copy();
    EXPECT_EQ(copy->soundFileURL(), sound->soundFileURL());
    EXPECT_EQ(copy->frameOffset(), 10u);
    EXPECT_EQ(copy->frames(), 20u);
    EXPECT_EQ(std::make_pair(copy->volume(), copy->panning()), std::make_pair(0.5f, -0.75f));
    EXPECT_FALSE(copy->savesFileReference());
    EXPECT_FALSE(copy->buffersAreLoaded()); // buffers are not shared
}

TEST(OASoundCatalogue, FileTypesAndExtensions)
{
    const auto types = OASound::unfilteredFileTypes();
    ASSERT_TRUE(types);
    for (const char* extension :
        { "wav", "aiff", "aif", "aifc", "caf", "au", "flac", "ogg", "w64", "rf64", "mp3" }) {
        EXPECT_NE(std::find(types->begin(), types->end(), extension), types->end()) << extension;
    }
    EXPECT_EQ(std::find(types->begin(), types->end(), "raw"), types->end());
    EXPECT_EQ(OASound::fileExtensionForType(kAudioFileAIFCType), "aifc");
    EXPECT_EQ(OASound::fileExtensionForType(fourCharCode("zzzz")), std::nullopt);

    EXPECT_EQ(OASound::legacyFormatForFileType(kAudioFileWAVEType, kAudioFormatLinearPCM, 12), 0x010000);
    EXPECT_EQ(
        OASound::legacyFormatForFileType(kAudioFileSoundDesigner2Type, kAudioFormatLinearPCM, 24), 0x160003);
    EXPECT_EQ(OASound::legacyFormatForFileType(kAudioFileCAFType, kAudioFormatAppleIMA4, 0), 0x180012);
    EXPECT_EQ(OASound::legacyFormatForFileType(kAudioFileMP3Type, kAudioFormatMPEGLayer3, 0), 0x020000);
    EXPECT_EQ(OASound::legacyFormatForFileType(kAudioFileNextType, kAudioFormatALaw, 8), 0x030011);
}

TEST(OASoundWrite, ByteOrderChoosesBetweenAiffAndAifc)
{
    TempDir dir;
    rp::test::writeSoundFile(dir / "s.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, { 0.5, -0.5, 0.25 });
    auto sound = OASound::soundWithContentsOfURL(dir / "s.wav");
    AudioStreamBasicDescription little = sound->sourceAudioStreamDescription(); // 16-bit little-endian
    ASSERT_TRUE(sound->writeToURL(dir / "le.aifc", kAudioFileAIFFType, little));
    auto reread = OASound::soundWithContentsOfURL(dir / "le.aifc");
    EXPECT_EQ(reread->sourceAudioFileType(), kAudioFileAIFCType);
    EXPECT_EQ(reread->sourceAudioStreamDescription(), little);

    AudioStreamBasicDescription big = little;
    big.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    ASSERT_TRUE(sound->writeToURL(dir / "be.aiff", kAudioFileAIFFType, big));
    EXPECT_EQ(OASound::soundWithContentsOfURL(dir / "be.aiff")->sourceAudioFileType(), kAudioFileAIFFType);
    ASSERT_TRUE(sound->writeToURL(dir / "be.aifc", kAudioFileAIFCType, big));
    reread = OASound::soundWithContentsOfURL(dir / "be.aifc");
    EXPECT_EQ(reread->sourceAudioFileType(), kAudioFileAIFCType);
    EXPECT_EQ(reread->sourceAudioStreamDescription(), big);
    EXPECT_EQ(rp::test::readSoundFile(dir / "be.aifc"), (std::vector<double> { 0.5, -0.5, 0.25 }));
}
