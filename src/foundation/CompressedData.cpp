#include "foundation/CompressedData.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <zlib.h>

namespace rp {

namespace {

constexpr uint8_t kMagic[4] = { 'O', 'X', 'd', 'c' };
constexpr size_t kHeaderSize = 8;
// Deflate's best case is a 1-bit length code for 258 bytes plus a 1-bit distance code: 1032
// output bytes per input byte. Stream headers only lower the real figure.
constexpr uint64_t kMaximumDeflateRatio = 1032;
constexpr size_t kGrowthStep = 256 * 1024;

} // namespace

uint64_t maximumInflatedLength(uint64_t compressedBytes)
{
    return compressedBytes * kMaximumDeflateRatio;
}

std::optional<std::vector<uint8_t>> compressedData(std::span<const uint8_t> data)
{
    const uint64_t length = data.size();
    const uint64_t capacity = length + length / 1000 + 20;
    if (length > 0xFFFFFFFFu) {
        logf("failed to alloc mutable data of %lu for compress output", static_cast<unsigned long>(capacity));
        return std::nullopt;
    }
    std::vector<uint8_t> output;
    try {
        output.resize(kHeaderSize + capacity);
    } catch (const std::bad_alloc&) {
        logf("failed to alloc mutable data of %lu for compress output", static_cast<unsigned long>(capacity));
        return std::nullopt;
    }
    std::memcpy(output.data(), kMagic, 4);
    output[4] = static_cast<uint8_t>(length >> 24);
    output[5] = static_cast<uint8_t>(length >> 16);
    output[6] = static_cast<uint8_t>(length >> 8);
    output[7] = static_cast<uint8_t>(length);
    uLongf produced = static_cast<uLongf>(capacity);
    static const Bytef empty = 0;
    // The fastest level: archives are highly repetitive, so it compresses songs as well as the
    // default level (often better) in a sixth of the time; any zlib stream reads back the same.
    int result = compress2(output.data() + kHeaderSize, &produced, data.empty() ? &empty : data.data(),
        static_cast<uLong>(length), Z_BEST_SPEED);
    if (result != Z_OK) {
        logf("compress returned %d", result);
        return std::nullopt;
    }
    output.resize(kHeaderSize + produced);
    return output;
}

std::optional<std::vector<uint8_t>> uncompressedData(std::span<const uint8_t> wrapped)
{
    if (wrapped.size() < kHeaderSize || std::memcmp(wrapped.data(), kMagic, 4) != 0) {
        logf("source data buffer did not begin with magic string; is it really compressed?");
        return std::nullopt;
    }
    const uint64_t expected = static_cast<uint64_t>(wrapped[4]) << 24
        | static_cast<uint64_t>(wrapped[5]) << 16 | static_cast<uint64_t>(wrapped[6]) << 8
        | static_cast<uint64_t>(wrapped[7]);
    std::span<const uint8_t> stream = wrapped.subspan(kHeaderSize);
    if (expected > maximumInflatedLength(stream.size())) {
        logf("failed to alloc mutable data of %lu for uncompress output",
            static_cast<unsigned long>(expected));
        return std::nullopt;
    }

    z_stream z {};
    if (int result = inflateInit(&z); result != Z_OK) {
        logf("uncompress returned %d", result);
        return std::nullopt;
    }
    std::vector<uint8_t> output;
    uint8_t spare = 0;
    static const Bytef noInput = 0;
    z.next_in = stream.empty() ? const_cast<Bytef*>(&noInput) : const_cast<Bytef*>(stream.data());
    z.avail_in = 0;
    size_t consumed = 0;
    int result = Z_OK;
    while (true) {
        // Feed the input in pieces that fit avail_in (32 bits).
        if (z.avail_in == 0 && consumed < stream.size()) {
            size_t piece = std::min<size_t>(stream.size() - consumed, 1u << 30);
            z.next_in = const_cast<Bytef*>(stream.data() + consumed);
            z.avail_in = static_cast<uInt>(piece);
            consumed += piece;
        }
        // Grow the output towards the stated length only as far as inflating needs.
        uint64_t produced = z.total_out;
        if (produced == output.size() && output.size() < expected) {
            size_t grown = static_cast<size_t>(
                std::min<uint64_t>(expected, output.size() + std::max(kGrowthStep, output.size())));
            try {
                output.resize(grown);
            } catch (const std::bad_alloc&) {
                inflateEnd(&z);
                logf("failed to alloc mutable data of %lu for uncompress output",
                    static_cast<unsigned long>(expected));
                return std::nullopt;
            }
        }
        if (produced < output.size()) {
            z.next_out = output.data() + produced;
            z.avail_out = static_cast<uInt>(std::min<uint64_t>(output.size() - produced, 1u << 30));
        } else {
            // The stated length is reached; give inflate no room so that more data is an error.
            z.next_out = &spare;
            z.avail_out = 0;
        }
        uInt inBefore = z.avail_in;
        uInt outBefore = z.avail_out;
        result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR))
            break;
        bool progressed = z.avail_in != inBefore || z.avail_out != outBefore;
        if (!progressed) {
            // Stuck: input left over means the stream holds more than the stated length (what zlib's
            // uncompress() calls Z_BUF_ERROR); otherwise the input ran out before the stream ended.
            bool inputLeft = z.avail_in > 0 || consumed < stream.size();
            result = inputLeft ? Z_BUF_ERROR : Z_DATA_ERROR;
            break;
        }
    }
    inflateEnd(&z);
    if (result != Z_STREAM_END) {
        if (result == Z_NEED_DICT)
            result = Z_DATA_ERROR;
        logf("uncompress returned %d", result);
        return std::nullopt;
    }
    const uint64_t got = z.total_out;
    if (got != expected) {
        logf("uncompressed result is %lu bytes; did not match expected %lu bytes",
            static_cast<unsigned long>(got), static_cast<unsigned long>(expected));
        return std::nullopt;
    }
    output.resize(static_cast<size_t>(got));
    return output;
}

} // namespace rp
