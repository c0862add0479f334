#include "foundation/CompressedData.h"

#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <random>
#include <zlib.h>

namespace {

std::vector<uint8_t> wrapper(uint32_t statedLength, const std::vector<uint8_t>& stream)
{
    // Sized up front: GCC 12 at -O2 misreports inserting into a freshly braced vector as out of bounds.
    std::vector<uint8_t> out(8 + stream.size());
    const uint8_t header[8] = { 'O', 'X', 'd', 'c', uint8_t(statedLength >> 24), uint8_t(statedLength >> 16),
        uint8_t(statedLength >> 8), uint8_t(statedLength) };
    std::copy(std::begin(header), std::end(header), out.begin());
    std::copy(stream.begin(), stream.end(), out.begin() + 8);
    return out;
}

std::vector<uint8_t> zlibStream(const std::vector<uint8_t>& data)
{
    uLongf size = compressBound(data.size());
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress(out.data(), &size, data.data(), data.size()), Z_OK);
    out.resize(size);
    return out;
}

std::vector<uint8_t> sample(size_t size)
{
    std::mt19937 random(42);
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = i % 7 == 0 ? uint8_t(random()) : uint8_t('a' + i % 13);
    return data;
}

} // namespace

TEST(CompressedData, RoundTripsAndHasTheWrapperLayout)
{
    for (size_t size : { size_t(0), size_t(1), size_t(1000), size_t(300000) }) {
        auto data = sample(size);
        auto wrapped = rp::compressedData(data);
        ASSERT_TRUE(wrapped) << size;
        ASSERT_GE(wrapped->size(), 8u);
        EXPECT_EQ(std::string(wrapped->begin(), wrapped->begin() + 4), "OXdc");
        uint32_t stated = uint32_t((*wrapped)[4]) << 24 | uint32_t((*wrapped)[5]) << 16
            | uint32_t((*wrapped)[6]) << 8 | (*wrapped)[7];
        EXPECT_EQ(stated, size);
        // The rest is a plain zlib stream that zlib's own uncompress() reads.
        uLongf plainSize = size + 1;
        std::vector<uint8_t> plain(plainSize);
        ASSERT_EQ(uncompress(plain.data(), &plainSize, wrapped->data() + 8, wrapped->size() - 8), Z_OK);
        plain.resize(plainSize);
        EXPECT_EQ(plain, data);
        auto back = rp::uncompressedData(*wrapped);
        ASSERT_TRUE(back) << size;
        EXPECT_EQ(*back, data);
    }
}

TEST(CompressedData, ReadsWrappersWrittenByPython)
{
    if (!rp::test::haveTool("python3"))
        GTEST_SKIP() << "python3 not installed";
    rp::test::TempDir dir;
    auto file = dir / "wrapped.bin";
    std::string command
        = "python3 -c \"import zlib,struct,sys; d=b'Rattlepan '*5000; "
          "open(sys.argv[1],'wb').write(b'OXdc'+struct.pack('>I',len(d))+zlib.compress(d,9))\" "
        + file.string();
    ASSERT_EQ(rp::test::runCommand(command), 0);
    auto bytes = rp::test::readFileBytes(file);
    auto data = rp::uncompressedData(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(data);
    ASSERT_EQ(data->size(), 50000u);
    EXPECT_EQ(std::string(data->begin(), data->begin() + 20), "Rattlepan Rattlepan ");

    // And Python reads what we write.
    auto ours = rp::compressedData(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    ASSERT_TRUE(ours);
    rp::test::writeFileBytes(dir / "ours.bin", std::vector<unsigned char>(ours->begin(), ours->end()));
    std::string output;
    ASSERT_EQ(
        rp::test::runCommand(
            "python3 -c \"import zlib,struct,sys; b=open(sys.argv[1],'rb').read(); "
            "n=struct.unpack('>I',b[4:8])[0]; print(b[:4]==b'OXdc' and len(zlib.decompress(b[8:]))==n, n)\" "
                + (dir / "ours.bin").string(),
            &output),
        0);
    EXPECT_EQ(output, "True " + std::to_string(bytes.size()) + "\n");
}

TEST(CompressedData, RefusesImpossibleLengthsBeforeAllocating)
{
    // A 60-byte file claiming 4 GB: 52 bytes of zlib stream can give at most 52 * 1032 bytes.
    std::vector<uint8_t> stream(52, 0x78);
    rp::LogCapture capture;
    auto result = rp::uncompressedData(wrapper(0xFFFFFFFF, stream));
    EXPECT_FALSE(result);
    EXPECT_EQ(capture.lines(),
        std::vector<std::string> { "failed to alloc mutable data of 4294967295 for uncompress output" });

    // The bound is real: the most compressible input still fits under it.
    std::vector<uint8_t> zeros(4 << 20, 0);
    auto packed = zlibStream(zeros);
    EXPECT_LE(zeros.size(), rp::maximumInflatedLength(packed.size()));
    auto back = rp::uncompressedData(wrapper(uint32_t(zeros.size()), packed));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->size(), zeros.size());
}

TEST(CompressedData, LengthMismatchAndDamageGiveNoData)
{
    auto data = sample(5000);
    auto stream = zlibStream(data);
    auto truncated = stream;
    truncated.resize(truncated.size() / 2);
    auto corrupt = stream;
    corrupt[corrupt.size() - 1] ^= 0xFF; // checksum
    const struct {
        std::vector<uint8_t> bytes;
        std::string line;
    } cases[] = {
        // Stated shorter than the real data: zlib runs out of room, as uncompress() reports it.
        { wrapper(4999, stream), "uncompress returned -5" },
        // Stated longer: inflating succeeds but the result is short.
        { wrapper(5001, stream), "uncompressed result is 5000 bytes; did not match expected 5001 bytes" },
        { wrapper(5000, truncated), "uncompress returned -3" },
        { wrapper(5000, corrupt), "uncompress returned -3" },
        // A header with nothing after it is a truncated stream, not an empty block.
        { wrapper(0, {}), "uncompress returned -3" },
    };
    for (const auto& [bytes, line] : cases) {
        rp::LogCapture capture;
        EXPECT_FALSE(rp::uncompressedData(bytes)) << line;
        EXPECT_EQ(capture.lines(), std::vector<std::string> { line });
    }
    for (auto bytes : { std::vector<uint8_t> {}, std::vector<uint8_t> { 'O', 'X', 'd', 'c', 0, 0, 0 },
             std::vector<uint8_t> { 'O', 'X', 'D', 'C', 0, 0, 0, 0, 0x78, 0x9c } }) {
        rp::LogCapture capture;
        EXPECT_FALSE(rp::uncompressedData(bytes));
        EXPECT_EQ(capture.lines(),
            std::vector<std::string> {
                "source data buffer did not begin with magic string; is it really compressed?" });
    }
}

TEST(CompressedData, SurvivesRandomDamage)
{
    auto wrapped = *rp::compressedData(sample(20000));
    std::mt19937 random(7);
    rp::LogCapture capture; // keep the expected failure lines out of the test output
    for (int round = 0; round < 300; ++round) {
        auto damaged = wrapped;
        for (int k = 0; k < 1 + round % 5; ++k)
            damaged[random() % damaged.size()] = uint8_t(random());
        if (round % 3 == 0)
            damaged.resize(random() % damaged.size());
        auto result = rp::uncompressedData(damaged);
        if (result) {
            EXPECT_LE(result->size(), rp::maximumInflatedLength(damaged.size()));
        }
    }
}
