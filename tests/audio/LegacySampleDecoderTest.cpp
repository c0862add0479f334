#include "audio/LegacySampleDecoder.h"

#include "OASoundTestSupport.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using rp::test::TempDir;

namespace {

std::shared_ptr<const std::vector<uint8_t>> block(std::vector<uint8_t> bytes)
{
    return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

// The sample data of an AIFF/AIFC file's SSND chunk.
std::vector<uint8_t> soundDataOfAiff(const std::vector<unsigned char>& file)
{
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::string id(
            file.begin() + static_cast<ptrdiff_t>(at), file.begin() + static_cast<ptrdiff_t>(at + 4));
        const size_t size = (size_t { file[at + 4] } << 24) | (size_t { file[at + 5] } << 16)
            | (size_t { file[at + 6] } << 8) | file[at + 7];
        if (id == "SSND") {
            const auto begin = file.begin() + static_cast<ptrdiff_t>(at + 16);
            return std::vector<uint8_t>(begin, begin + static_cast<ptrdiff_t>(size - 8));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

const float* decodeLegacy(OASound& sound, double rate, uint32_t channels)
{
    const AudioBufferList* list = sound.bufferListWithAudioStreamDescription(
        AudioStreamBasicDescription::canonicalFloat(rate, channels));
    return list ? rp::test::channelData(list, 0) : nullptr;
}

} // namespace

TEST(LegacySampleDecoder, G711MatchesKnownValuesAndSox)
{
    EXPECT_EQ(rp::ulawToLinear(0x00), -32124);
    EXPECT_EQ(rp::ulawToLinear(0xF0), 120);
    EXPECT_EQ(rp::alawToLinear(0xD5), 8);
    EXPECT_EQ(rp::alawToLinear(0x2A), -32256);

    if (!rp::test::haveTool("sox")) {
        GTEST_SKIP() << "sox not installed";
    }
    TempDir dir;
    std::vector<unsigned char> codes(256);
    for (int i = 0; i < 256; ++i) {
        codes[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
    }
    rp::test::writeFileBytes(dir / "codes.raw", codes);
    for (const char* encoding : { "u-law", "a-law" }) {
        SCOPED_TRACE(encoding);
        const auto out = dir / (std::string(encoding) + ".raw");
        ASSERT_EQ(0,
            rp::test::runCommand("sox -t raw -r 8000 -c 1 -b 8 -e " + std::string(encoding) + " '"
                + (dir / "codes.raw").string() + "' -t raw -e signed -b 16 -L '" + out.string() + "'"));
        const auto linear = rp::test::readFileBytes(out);
        ASSERT_EQ(linear.size(), 512u);
        for (int i = 0; i < 256; ++i) {
            const auto expected = static_cast<int16_t>(
                linear[2 * static_cast<size_t>(i)] | (linear[2 * static_cast<size_t>(i) + 1] << 8));
            const auto code = static_cast<uint8_t>(i);
            EXPECT_EQ(encoding[0] == 'u' ? rp::ulawToLinear(code) : rp::alawToLinear(code), expected)
                << "code " << i;
        }
    }
}

TEST(LegacySampleDecoder, Ima4MatchesLibsndfilesDecodeOfAnAifcFile)
{
    TempDir dir;
    const auto path = dir / "ima4.aifc";
    std::vector<double> stereo;
    const auto left = rp::test::sine(440, 22050, 6400, 0.7);
    const auto right = rp::test::sine(1750, 22050, 6400, 0.3);
    for (size_t i = 0; i < left.size(); ++i) {
        stereo.push_back(left[i]);
        stereo.push_back(right[i]);
    }
    rp::test::writeSoundFile(path, SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM, 22050, 2, stereo);
    SF_INFO info {};
    const std::vector<double> reference = rp::test::readSoundFile(path, &info);
    const std::vector<uint8_t> packets = soundDataOfAiff(rp::test::readFileBytes(path));
    ASSERT_EQ(packets.size(), 100u * 68u); // 6400 frames = 100 packets of 34 bytes per channel

    const auto description = rp::legacyBlockDescription(0x020012, 22050, 2);
    rp::PcmFrames frames;
    frames.kind = rp::PcmFrames::Kind::Integer;
    ASSERT_TRUE(rp::decodeLegacyPackets(packets, description, 0, 100, frames));
    ASSERT_EQ(frames.frames(), 6400u);
    ASSERT_EQ(reference.size(), frames.ints.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        ASSERT_EQ(frames.ints[i] >> 16, static_cast<int>(std::lround(reference[i] * 32768)))
            << "sample " << i;
    }

    // The same block embedded in a sound decodes to the same samples, trimmed as asked.
    OASound sound;
    ASSERT_TRUE(sound.setLegacyPackedBuffer(block(packets), 0x020012, 6400, 22050, 2));
    sound.setFrameOffset(100);
    EXPECT_EQ(sound.frames(), 6300u);
    const AudioBufferList* list
        = sound.bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(22050, 2));
    ASSERT_NE(list, nullptr);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[0], static_cast<float>(reference[200]));
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 1)[0], static_cast<float>(reference[201]));
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 1)[6299], static_cast<float>(reference[12799]));
}

TEST(LegacySampleDecoder, BigEndianPcmBlocksDecodeThroughTheSound)
{
    struct Case {
        int64_t code;
        std::vector<uint8_t> bytes;
        std::vector<float> expected;
    };
    const Case cases[] = {
        { 0x020001, { 0x40, 0xC0, 0x80, 0x7F }, { 0.5f, -0.5f, -1.0f, 127 / 128.0f } },
        { 0x020005, { 0xC0, 0x40, 0x00, 0x80 }, { 0.5f, -0.5f, -1.0f, 0.0f } },
        { 0x020002, { 0x40, 0x00, 0xC0, 0x00, 0x80, 0x00, 0x00, 0x01 },
            { 0.5f, -0.5f, -1.0f, 1 / 32768.0f } },
        { 0x020004, { 0x40, 0, 0, 0, 0xE0, 0, 0, 0 }, { 0.5f, -0.25f } },
        { 0x020003, { 0x40, 0, 0, 0, 0xE0, 0, 0, 0 }, { 0.5f, -0.25f } },
        { 0x020006, { 0x3F, 0x00, 0, 0, 0xBE, 0x80, 0, 0 }, { 0.5f, -0.25f } },
        { 0x020010, { 0x80, 0x00 }, { 32124 / 32768.0f, -32124 / 32768.0f } },
        { 0x020011, { 0xAA, 0x2A }, { 32256 / 32768.0f, -32256 / 32768.0f } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code);
        OASound sound;
        ASSERT_TRUE(sound.setLegacyPackedBuffer(
            block(c.bytes), c.code, static_cast<int64_t>(c.expected.size()), 8000, 1));
        EXPECT_EQ(sound.frames(), c.expected.size());
        const float* samples = decodeLegacy(sound, 8000, 1);
        ASSERT_NE(samples, nullptr);
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_FLOAT_EQ(samples[i], c.expected[i]) << i;
        }
    }
}

TEST(LegacySampleDecoder, HostileBlocksAreBoundedOrRefused)
{
    rp::LogCapture log;
    OASound sound;
    // More frames recorded than the block holds: only the frames really there count.
    ASSERT_TRUE(sound.setLegacyPackedBuffer(
        block({ 0x10, 0x00, 0x20, 0x00, 0x30 }), 0x020002, 1'000'000'000, 8000, 1));
    EXPECT_EQ(sound.frames(), 2u);
    const float* samples = decodeLegacy(sound, 8000, 1);
    ASSERT_NE(samples, nullptr);
    EXPECT_FLOAT_EQ(samples[1], 0x2000 / 32768.0f);
    // A negative count is no frames.
    ASSERT_TRUE(sound.setLegacyPackedBuffer(block({ 1, 2 }), 0x020002, -5, 8000, 1));
    EXPECT_EQ(sound.frames(), 0u);
    EXPECT_TRUE(log.lines().empty());

    // Rates and channel counts no sound has are refused before anything is decoded.
    OASound other;
    EXPECT_FALSE(other.setLegacyPackedBuffer(block({ 0, 0 }), 0x020002, 1, 1.0e-30, 1));
    EXPECT_FALSE(other.setLegacyPackedBuffer(block({ 0, 0 }), 0x020002, 1, 1.0e12, 1));
    EXPECT_FALSE(other.setLegacyPackedBuffer(block({ 0, 0 }), 0x020002, 1, 44100, 0));
    EXPECT_FALSE(other.setLegacyPackedBuffer(block({ 0, 0 }), 0x020002, 1, 44100, 100000));
    EXPECT_FALSE(other.hasLegacyEmbeddedBuffer());
    ASSERT_EQ(log.lines().size(), 4u);
    EXPECT_EQ(
        log.lines()[3], "OASound: refusing embedded sample block of 100000 channels at 44100.000000 Hz");

    // An unknown encoding cannot be converted.
    log.clear();
    ASSERT_TRUE(other.setLegacyPackedBuffer(block({ 0, 0 }), 0x020040, 2, 8000, 1));
    EXPECT_EQ(decodeLegacy(other, 8000, 1), nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "OASound: error 666d743f creating audio converter");
}

TEST(LegacySampleDecoder, ConvertsRateOfEmbeddedBlocks)
{
    // A 16-bit big-endian 500 Hz tone at 11025 Hz played at 44100 Hz keeps its pitch.
    const auto tone = rp::test::sine(500, 11025, 11025, 0.5);
    std::vector<uint8_t> bytes;
    for (const double v : tone) {
        const auto s = static_cast<int16_t>(std::lround(v * 32767));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
    }
    OASound sound;
    ASSERT_TRUE(sound.setLegacyPackedBuffer(block(bytes), 0x020002, 11025, 11025, 1));
    EXPECT_DOUBLE_EQ(sound.duration(), 1.0);
    const float* samples = decodeLegacy(sound, 44100, 2);
    ASSERT_NE(samples, nullptr);
    EXPECT_EQ(sound.loadedFrames(), 44100u);
    EXPECT_NEAR(rp::test::measuredFrequency(samples, 44100, 44100), 500.0, 0.05);
    // The copy shares the block and decodes on its own.
    auto copy = sound.copy();
    EXPECT_EQ(copy->legacyPackedBuffer(), sound.legacyPackedBuffer());
    EXPECT_FALSE(copy->buffersAreLoaded());
    EXPECT_NE(decodeLegacy(*copy, 11025, 1), nullptr);
}

TEST(LegacySampleDecoder, EmbeddedBlocksCanBeWrittenOutAsFiles)
{
    // A kit saving an old sound writes its samples to a file of its own.
    TempDir dir;
    const std::vector<uint8_t> codes = { 0x80, 0x00, 0xF0, 0x7F, 0x9C };
    OASound sound;
    ASSERT_TRUE(sound.setLegacyPackedBuffer(block(codes), 0x020010, 5, 8000, 1));
    const auto aiff16 = AudioStreamBasicDescription::bigEndianInteger(8000, 1, 16);
    ASSERT_TRUE(sound.writeToURL(dir / "old.aiff", kAudioFileAIFFType, aiff16));
    const std::vector<double> written = rp::test::readSoundFile(dir / "old.aiff");
    ASSERT_EQ(written.size(), codes.size());
    for (size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(std::lround(written[i] * 32768), rp::ulawToLinear(codes[i])) << i;
    }
    auto reread = OASound::soundWithContentsOfURL(dir / "old.aiff");
    EXPECT_EQ(reread->sourceAudioStreamDescription(), aiff16);
    EXPECT_EQ(reread->sourceAudioFileType(), kAudioFileAIFFType);
}
