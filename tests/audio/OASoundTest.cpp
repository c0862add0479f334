#include "audio/OASound.h"

#include "OASoundTestSupport.h"
#include "audio/SoundFile.h"
#include "foundation/Error.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

using rp::test::TempDir;
using testing::ElementsAre;
using testing::MatchesRegex;

namespace {

constexpr uint32_t kPacked = kAudioFormatFlagIsPacked;
constexpr uint32_t kSignedLE = kAudioFormatFlagIsSignedInteger | kPacked;
constexpr uint32_t kSignedBE = kSignedLE | kAudioFormatFlagIsBigEndian;
constexpr uint32_t kFloat = kAudioFormatFlagIsFloat | kPacked;

AudioStreamBasicDescription floatFormat(double rate, uint32_t channels)
{
    return AudioStreamBasicDescription::canonicalFloat(rate, channels);
}

} // namespace

TEST(OASoundFile, DescribesEachFormatAndDecodesItLikeLibsndfile)
{
    struct FormatCase {
        const char* name;
        int format;
        FourCharCode fileType, formatID;
        uint32_t bits, flags;
        int64_t legacyCode;
    };
    const FourCharCode kPCM = kAudioFormatLinearPCM;
    const FormatCase cases[] = {
        { "u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, kAudioFileWAVEType, kPCM, 8, kPacked, 0x010001 },
        { "s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, kAudioFileWAVEType, kPCM, 16, kSignedLE, 0x010002 },
        { "s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, kAudioFileWAVEType, kPCM, 24, kSignedLE, 0x010003 },
        { "s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, kAudioFileWAVEType, kPCM, 32, kSignedLE, 0x010006 },
        { "f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, kAudioFileWAVEType, kPCM, 32, kFloat, 0x010006 },
        { "f64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, kAudioFileWAVEType, kPCM, 64, kFloat, 0x010007 },
        { "s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, kAudioFileAIFFType, kPCM, 8, kSignedBE, 0x020001 },
        { "s24.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, kAudioFileAIFFType, kPCM, 24, kSignedBE, 0x020003 },
        { "f32.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, kAudioFileAIFCType, kPCM, 32,
            kFloat | kAudioFormatFlagIsBigEndian, 0x020006 },
        { "ulaw.aifc", SF_FORMAT_AIFF | SF_FORMAT_ULAW, kAudioFileAIFCType, kAudioFormatULaw, 8, 0,
            0x020010 },
        { "ima4.aifc", SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM, kAudioFileAIFCType, kAudioFormatAppleIMA4, 0, 0,
            0x020012 },
        { "alaw.au", SF_FORMAT_AU | SF_FORMAT_ALAW, kAudioFileNextType, kAudioFormatALaw, 8, 0, 0x030011 },
        { "s16.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, kAudioFileNextType, kPCM, 16, kSignedBE, 0x030002 },
        { "s16le.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, kAudioFileCAFType, kPCM, 16,
            kSignedLE, 0x180002 },
        { "s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kAudioFileFLACType, kAudioFormatFLAC, 0, 1,
            0x020000 },
        { "s16.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, kAudioFileWave64Type, kPCM, 16, kSignedLE, 0x020002 },
        { "s16.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, kAudioFileRF64Type, kPCM, 16, kSignedLE, 0x020002 },
        { "ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, kAudioFileWAVEType, rp::kAudioFormatDVIIntelIMA, 0,
            0, 0x010000 },
        { "vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, rp::kAudioFileOggType, rp::kAudioFormatVorbis, 0, 0,
            0x020000 },
        { "layer3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, kAudioFileMP3Type, kAudioFormatMPEGLayer3,
            0, 0, 0x020000 },
    };
    TempDir dir;
    // Lossless formats carry k / 128 exactly at every width; lossy ones get a 440 Hz tone.
    std::vector<double> ramp;
    for (int k = -128; k < 128; ++k) {
        ramp.push_back(k / 128.0);
    }
    const std::vector<double> tone = rp::test::sine(440, 44100, 50000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool exact = c.formatID == kPCM || c.formatID == kAudioFormatFLAC;
        rp::test::writeSoundFile(dir / c.name, c.format, 44100, 1, exact ? ramp : tone);
        const std::vector<double> reference = rp::test::readSoundFile(dir / c.name);

        auto sound = OASound::soundWithContentsOfURL(dir / c.name);
        const AudioStreamBasicDescription& disk = sound->sourceAudioStreamDescription();
        EXPECT_EQ(fourCharCodeString(sound->sourceAudioFileType()), fourCharCodeString(c.fileType));
        EXPECT_EQ(fourCharCodeString(disk.mFormatID), fourCharCodeString(c.formatID));
        EXPECT_EQ(std::make_pair(disk.mBitsPerChannel, disk.mFormatFlags), std::make_pair(c.bits, c.flags));
        EXPECT_EQ(sound->legacySndfileFormat(), c.legacyCode);
        ASSERT_EQ(sound->frames(), reference.size());
        const std::vector<float> samples = rp::test::decodedChannel(*sound, floatFormat(44100, 1));
        ASSERT_EQ(samples.size(), reference.size());
        size_t mismatches = 0;
        for (size_t i = 0; i < reference.size(); ++i) {
            mismatches += std::fabs(samples[i] - (exact ? ramp[i] : reference[i])) > 1e-6 ? 1 : 0;
        }
        EXPECT_EQ(mismatches, 0u);
    }
}

TEST(OASoundFile, ConvertsSampleRateKeepingPitchAndRemovingAliases)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, rp::test::sine(1000, 44100, 44100));
    auto sound = OASound::soundWithContentsOfURL(dir / "a.wav");
    const auto samples = rp::test::decodedChannel(*sound, floatFormat(48000, 1));
    EXPECT_EQ(sound->loadedFrames(), 48000u);
    ASSERT_EQ(samples.size(), 48000u);
    int upwardCrossings = 0; // one a cycle: the pitch is kept
    for (size_t i = 1; i < samples.size(); ++i) {
        upwardCrossings += samples[i - 1] < 0 && samples[i] >= 0 ? 1 : 0;
    }
    EXPECT_EQ(upwardCrossings, 999);
    // The converted sound starts on time: the sine's first upward crossing stays at the start.
    EXPECT_LT(std::fabs(samples[0]), 0.02f);
    EXPECT_GT(samples[3], 0.0f);

    // A 15 kHz tone does not fit below 22050 Hz: the converter must remove it, not fold it down.
    rp::test::writeSoundFile(
        dir / "b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, rp::test::sine(15000, 48000, 48000));
    auto high = OASound::soundWithContentsOfURL(dir / "b.wav");
    const auto low = rp::test::decodedChannel(*high, floatFormat(22050, 1));
    ASSERT_EQ(low.size(), 22050u);
    double peak = 0;
    for (size_t i = 500; i < 21500; ++i) {
        peak = std::max(peak, std::fabs(static_cast<double>(low[i])));
    }
    EXPECT_LT(peak, 0.001);
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
        std::vector<float> expected;
        for (uint64_t i = 0; i < c.frames; ++i) {
            expected.push_back(static_cast<float>(ramp[c.offset + i]));
        }
        EXPECT_EQ(rp::test::decodedChannel(*sound, floatFormat(8000, 1)), expected);
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
    for (int i = 0; i < 4; ++i) {
        header[4 + static_cast<size_t>(i)] = static_cast<unsigned char>((dataBytes + 36) >> (8 * i));
        header.push_back(static_cast<unsigned char>(dataBytes >> (8 * i)));
    }
    rp::test::writeFileBytes(path, header);
    ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(header.size()) + dataBytes));

    auto sound = OASound::soundWithContentsOfURL(path);
    EXPECT_EQ(sound->frames(), 2147483647u);
    // The last frames inside the limit read from deep in the file (zero bytes: unsigned -1.0).
    sound->setFrameOffset(OASound::kMaximumFrames - 10);
    EXPECT_EQ(rp::test::decodedChannel(*sound, floatFormat(8000, 1)), std::vector<float>(10, -1.0f));

    // Asking for all of it is refused before anything is allocated.
    sound->setFrameOffset(0);
    rp::LogCapture log;
    EXPECT_EQ(sound->bufferListWithAudioStreamDescription(floatFormat(8000, 2)), nullptr);
    EXPECT_TRUE(log.contains("OASound: failed to alloc ")) << testing::PrintToString(log.lines());
    EXPECT_FALSE(sound->buffersAreLoaded());
}

TEST(OASoundFile, CachedListOutlivesTheFileAndFailuresAreLogged)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "Kick 1.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 22050, 2, std::vector<double>(200, 0.1));
    auto sound = OASound::soundWithContentsOfURL(dir / "Kick 1.aiff");
    sound->setName("stored"); // the file's name wins over a stored one
    EXPECT_EQ(sound->description(), "Kick 1.aiff: 2 channels of 100 samples at 22050.000000 Hz");
    const auto working = floatFormat(22050, 2);
    const AudioBufferList* first = sound->bufferListWithAudioStreamDescription(working);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(sound->loadedAudioStreamDescription(), working);
    const void* data = first->mBuffers[0].mData;

    // The same description again is served from memory, even with the file gone.
    std::filesystem::rename(dir / "Kick 1.aiff", dir / "moved.aiff");
    rp::LogCapture log;
    EXPECT_EQ(sound->bufferListWithAudioStreamDescription(working), first);
    EXPECT_EQ(first->mBuffers[0].mData, data);
    EXPECT_TRUE(log.lines().empty());
    // Another description must go back to the file.
    EXPECT_EQ(sound->bufferListWithAudioStreamDescription(floatFormat(22050, 1)), nullptr);
    EXPECT_THAT(log.lines(), ElementsAre(MatchesRegex("OASound: error .* re-opening file file://.*")));
    EXPECT_FALSE(sound->buffersAreLoaded());

    // A file that is not audio: logged, and the old description and length stay.
    log.clear();
    rp::test::writeFileBytes(dir / "junk.wav", { 'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o' });
    sound->setSoundFileURL(dir / "junk.wav");
    EXPECT_THAT(log.lines(), ElementsAre(MatchesRegex("OASound: error .* trying to open file://.*")));
    EXPECT_EQ(std::make_tuple(sound->frames(), sound->sampleRate(), sound->channels()),
        std::make_tuple(uint64_t { 100 }, 22050.0f, uint16_t { 2 }));
    EXPECT_EQ(sound->name(), "junk.wav");

    // A working format that is not linear PCM cannot be produced.
    sound->setSoundFileURL(dir / "moved.aiff");
    log.clear();
    AudioStreamBasicDescription ulaw = sound->sourceAudioStreamDescription();
    ulaw.mFormatID = kAudioFormatULaw;
    EXPECT_EQ(sound->bufferListWithAudioStreamDescription(ulaw), nullptr);
    EXPECT_TRUE(log.contains("OASound: error 666d743f trying to set client data format."));

    // No source at all.
    log.clear();
    auto empty = std::make_shared<OASound>();
    EXPECT_EQ(empty->bufferListWithAudioStreamDescription(working), nullptr);
    EXPECT_EQ(log.lines(), std::vector<std::string> { "OASound: there is no sound data source to load!" });
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
    const auto format = sound->sourceAudioStreamDescription();
    rp::Error error;
    ASSERT_TRUE(sound->writeToURL(dir / "copy.aiff", kAudioFileAIFFType, format, &error));
    EXPECT_EQ(rp::test::readFileBytes(dir / "copy.aiff"), bytes);

    // A copy that cannot be made reports the file system's error.
    rp::LogCapture log;
    EXPECT_FALSE(sound->writeToURL(dir / "missing" / "copy.aiff", kAudioFileAIFFType, format, &error));
    EXPECT_TRUE(log.contains("OASound: error copying file file://"));
    EXPECT_EQ(error.domain, rp::kPosixErrorDomain);
    EXPECT_NE(error.code, 0);
}

TEST(OASoundWrite, EncodesOtherTypesFormatsAndByteOrders)
{
    TempDir dir;
    std::vector<double> stereo;
    for (int i = 0; i < 4410; ++i) {
        stereo.push_back(std::round(8000 * std::sin(i * 0.05)) / 32768.0);
        stereo.push_back(std::round(-6000 * std::sin(i * 0.031)) / 32768.0);
    }
    rp::test::writeSoundFile(dir / "source.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, stereo);
    auto sound = OASound::soundWithContentsOfURL(dir / "source.wav");
    const auto reread = [&](const char* name) { return OASound::soundWithContentsOfURL(dir / name); };

    const auto aiff24 = AudioStreamBasicDescription::bigEndianInteger(44100, 2, 24);
    ASSERT_TRUE(sound->writeToURL(dir / "out.aiff", kAudioFileAIFFType, aiff24));
    EXPECT_EQ(rp::test::readSoundFile(dir / "out.aiff"), stereo); // 16 bits widen to 24 without loss

    // Little-endian samples asked for as AIFF need AIFC; big-endian ones as AIFC stay AIFC.
    const AudioStreamBasicDescription little = sound->sourceAudioStreamDescription();
    ASSERT_TRUE(sound->writeToURL(dir / "le.aifc", kAudioFileAIFFType, little));
    EXPECT_EQ(reread("le.aifc")->sourceAudioFileType(), kAudioFileAIFCType);
    EXPECT_EQ(reread("le.aifc")->sourceAudioStreamDescription(), little);
    AudioStreamBasicDescription big = little;
    big.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    ASSERT_TRUE(sound->writeToURL(dir / "be.aifc", kAudioFileAIFCType, big));
    EXPECT_EQ(reread("be.aifc")->sourceAudioFileType(), kAudioFileAIFCType);
    EXPECT_EQ(rp::test::readSoundFile(dir / "be.aifc"), stereo);

    AudioStreamBasicDescription ulaw {};
    ulaw.mSampleRate = 8000;
    ulaw.mFormatID = kAudioFormatULaw;
    ulaw.mChannelsPerFrame = ulaw.mBytesPerFrame = ulaw.mBytesPerPacket = ulaw.mFramesPerPacket = 1;
    ulaw.mBitsPerChannel = 8;
    ASSERT_TRUE(sound->writeToURL(dir / "out.au", kAudioFileNextType, ulaw));
    if (rp::test::haveTool("soxi")) {
        auto soxi = [&](const char* option, const char* file) {
            std::string out;
            rp::test::runCommand(
                std::string("soxi ") + option + " '" + (dir / file).string() + "' 2>/dev/null", &out);
            return out.substr(0, out.find('\n'));
        };
        EXPECT_EQ(soxi("-t", "out.aiff") + soxi("-b", "out.aiff") + soxi("-s", "out.aiff"), "aiff244410");
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
