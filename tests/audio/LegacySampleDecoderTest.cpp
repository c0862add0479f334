#include "audio/LegacySampleDecoder.h"

#include "OASoundTestSupport.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <numeric>

using rp::test::TempDir;

namespace {

std::shared_ptr<const std::vector<uint8_t>> block(std::vector<uint8_t> bytes)
{
    return std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

// The sample data of an AIFF/AIFC file's SSND chunk.
std::vector<uint8_t> soundDataOfAiff(const std::vector<unsigned char>& file)
{
    for (size_t at = 12; at + 8 <= file.size();) {
        const size_t size = (size_t { file[at + 4] } << 24) | (size_t { file[at + 5] } << 16)
            | (size_t { file[at + 6] } << 8) | file[at + 7];
        if (std::equal(file.begin() + static_cast<ptrdiff_t>(at),
                file.begin() + static_cast<ptrdiff_t>(at + 4), "SSND")) {
            const auto begin = file.begin() + static_cast<ptrdiff_t>(at + 16);
            return std::vector<uint8_t>(begin, begin + static_cast<ptrdiff_t>(size - 8));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

std::vector<float> decodeLegacy(OASound& sound, double rate, uint32_t channels)
{
    return rp::test::decodedChannel(sound, AudioStreamBasicDescription::canonicalFloat(rate, channels));
}

} // namespace

TEST(LegacySampleDecoder, G711MatchesSox)
{
    if (!rp::test::haveTool("sox")) {
        GTEST_SKIP() << "sox not installed";
    }
    TempDir dir;
    std::vector<unsigned char> codes(256);
    std::iota(codes.begin(), codes.end(), 0);
    rp::test::writeFileBytes(dir / "codes.raw", codes);
    for (const char* encoding : { "u-law", "a-law" }) {
        SCOPED_TRACE(encoding);
        const auto out = dir / (std::string(encoding) + ".raw");
        ASSERT_EQ(0,
            rp::test::runCommand("sox -t raw -r 8000 -c 1 -b 8 -e " + std::string(encoding) + " '"
                + (dir / "codes.raw").string() + "' -t raw -e signed -b 16 -L '" + out.string() + "'"));
        const auto linear = rp::test::readFileBytes(out);
        ASSERT_EQ(linear.size(), 512u);
        for (size_t i = 0; i < 256; ++i) {
            const auto expected = static_cast<int16_t>(linear[2 * i] | (linear[2 * i + 1] << 8));
            const auto code = static_cast<uint8_t>(i);
            EXPECT_EQ(encoding[0] == 'u' ? rp::ulawToLinear(code) : rp::alawToLinear(code), expected) << i;
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
        stereo.insert(stereo.end(), { left[i], right[i] });
    }
    rp::test::writeSoundFile(path, SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM, 22050, 2, stereo);
    const std::vector<double> reference = rp::test::readSoundFile(path);
    const std::vector<uint8_t> packets = soundDataOfAiff(rp::test::readFileBytes(path));
    ASSERT_EQ(packets.size(), 100u * 68u); // 6400 frames = 100 packets of 34 bytes per channel

    rp::PcmFrames frames;
    frames.kind = rp::PcmFrames::Kind::Integer;
    ASSERT_TRUE(
        rp::decodeLegacyPackets(packets, rp::legacyBlockDescription(0x020012, 22050, 2), 0, 100, frames));
    ASSERT_EQ(reference.size(), frames.ints.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        ASSERT_EQ(frames.ints[i] >> 16, static_cast<int>(std::lround(reference[i] * 32768))) << i;
    }
    // Embedded in a sound and trimmed to start inside the second packet.
    OASound sound;
    ASSERT_TRUE(sound.setLegacyPackedBuffer(block(packets), 0x020012, 6400, 22050, 2));
    sound.setFrameOffset(100);
    const auto trimmed
        = rp::test::decodedChannel(sound, AudioStreamBasicDescription::canonicalFloat(22050, 2), 1);
    ASSERT_EQ(trimmed.size(), 6300u);
    EXPECT_FLOAT_EQ(trimmed[0], static_cast<float>(reference[201]));
    EXPECT_FLOAT_EQ(trimmed[6299], static_cast<float>(reference[12799]));
}

TEST(LegacySampleDecoder, BigEndianPcmAndG711BlocksDecodeThroughTheSound)
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
        EXPECT_EQ(decodeLegacy(sound, 8000, 1), c.expected);
    }
}

TEST(LegacySampleDecoder, HostileBlocksAreBoundedOrRefused)
{
    rp::LogCapture log;
    OASound sound;
    // More frames recorded than the block holds: only the frames really there count.
    ASSERT_TRUE(sound.setLegacyPackedBuffer(
        block({ 0x10, 0x00, 0x20, 0x00, 0x30 }), 0x020002, 1'000'000'000, 8000, 1));
    EXPECT_EQ(decodeLegacy(sound, 8000, 1), (std::vector<float> { 0x1000 / 32768.0f, 0x2000 / 32768.0f }));
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
    EXPECT_TRUE(decodeLegacy(other, 8000, 1).empty());
    EXPECT_EQ(log.lines(), std::vector<std::string> { "OASound: error 666d743f creating audio converter" });
}

TEST(LegacySampleDecoder, EmbeddedBlocksCanBeWrittenOutAsFiles)
{
    // A kit saving an old sound writes its samples to a file of its own.
    TempDir dir;
    const std::vector<uint8_t> codes = { 0x80, 0x00, 0xF0, 0x7F, 0x9C };
    OASound ulaw;
    ASSERT_TRUE(ulaw.setLegacyPackedBuffer(block(codes), 0x020010, 5, 8000, 1));
    const auto aiff16 = AudioStreamBasicDescription::bigEndianInteger(8000, 1, 16);
    ASSERT_TRUE(ulaw.writeToURL(dir / "old.aiff", kAudioFileAIFFType, aiff16));
    const std::vector<double> written = rp::test::readSoundFile(dir / "old.aiff");
    ASSERT_EQ(written.size(), codes.size());
    for (size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(std::lround(written[i] * 32768), rp::ulawToLinear(codes[i])) << i;
    }
}
