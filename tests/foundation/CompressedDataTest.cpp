#include "foundation/CompressedData.h"

#include "foundation/Logger.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

// The 8-byte wrapper header ("OXdc", big-endian stated length) followed by `stream`.
std::vector<uint8_t> wrapper(uint32_t statedLength, const std::vector<uint8_t>& stream)
{
    std::vector<uint8_t> out { 'O', 'X', 'd', 'c' };
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(statedLength >> shift));
    out.resize(8 + stream.size()); // sized, not inserted: GCC 12 at -O2 misreports inserting here
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
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = uint8_t(i % 7 == 0 ? i * 2654435761u >> 13 : 'a' + i % 13);
    return data;
}

} // namespace

TEST(CompressedData, RoundTripsAsTheWrapperAroundAPlainZlibStream)
{
    for (size_t size : { size_t(0), size_t(1), size_t(1000), size_t(300000) }) {
        auto data = sample(size);
        auto wrapped = rp::compressedData(data);
        ASSERT_TRUE(wrapped && wrapped->size() >= 8) << size;
        EXPECT_EQ(std::vector<uint8_t>(wrapped->begin(), wrapped->begin() + 8), wrapper(uint32_t(size), {}));
        // The rest is a plain zlib stream that zlib's own uncompress() reads.
        uLongf plainSize = size + 1;
        std::vector<uint8_t> plain(plainSize);
        ASSERT_EQ(uncompress(plain.data(), &plainSize, wrapped->data() + 8, wrapped->size() - 8), Z_OK);
        plain.resize(plainSize);
        EXPECT_EQ(plain, data);
        EXPECT_EQ(rp::uncompressedData(*wrapped), data);
    }
}

TEST(CompressedData, RefusesImpossibleLengthsBeforeAllocating)
{
    // A 60-byte file claiming 4 GB: 52 bytes of zlib stream can give at most 52 * 1032 bytes.
    rp::LogCapture capture;
    EXPECT_FALSE(rp::uncompressedData(wrapper(0xFFFFFFFF, std::vector<uint8_t>(52, 0x78))));
    EXPECT_EQ(capture.lines(),
        std::vector<std::string> { "failed to alloc mutable data of 4294967295 for uncompress output" });

    // The bound is real: the most compressible input still fits under it.
    std::vector<uint8_t> zeros(4 << 20, 0);
    auto packed = zlibStream(zeros);
    EXPECT_LE(zeros.size(), rp::maximumInflatedLength(packed.size()));
    EXPECT_EQ(rp::uncompressedData(wrapper(uint32_t(zeros.size()), packed)), zeros);
}

TEST(CompressedData, LengthMismatchAndDamageGiveNoData)
{
    auto data = sample(5000);
    auto stream = zlibStream(data);
    auto truncated = stream;
    truncated.resize(truncated.size() / 2);
    auto corrupt = stream;
    corrupt[corrupt.size() - 1] ^= 0xFF; // checksum
    const std::string badMagic
        = "source data buffer did not begin with magic string; is it really compressed?";
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        // Stated shorter than the real data: zlib runs out of room, as uncompress() reports it.
        { wrapper(4999, stream), "uncompress returned -5" },
        // Stated longer: inflating succeeds but the result is short.
        { wrapper(5001, stream), "uncompressed result is 5000 bytes; did not match expected 5001 bytes" },
        { wrapper(5000, truncated), "uncompress returned -3" },
        { wrapper(5000, corrupt), "uncompress returned -3" },
        // A header with nothing after it is a truncated stream, not an empty block.
        { wrapper(0, {}), "uncompress returned -3" },
        { {}, badMagic },
        { { 'O', 'X', 'd', 'c', 0, 0, 0 }, badMagic },
        { { 'O', 'X', 'D', 'C', 0, 0, 0, 0, 0x78, 0x9c }, badMagic },
    };
    for (const auto& [bytes, line] : cases) {
        rp::LogCapture capture;
        EXPECT_FALSE(rp::uncompressedData(bytes)) << line;
        EXPECT_EQ(capture.lines(), std::vector<std::string> { line });
    }
}
