// Feeds arbitrary bytes to the compressed-data wrapper's reader; whatever it returns must be
// within the stated length and, re-wrapped, must read back unchanged.

#include "foundation/CompressedData.h"
#include "foundation/Logger.h"

#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        rp::Logger::setSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    std::span<const uint8_t> bytes(data, size);
    auto result = rp::uncompressedData(bytes);
    if (!result)
        return 0;
    if (size < 8 || result->size() > rp::maximumInflatedLength(size - 8))
        std::abort();
    uint64_t stated = uint64_t(data[4]) << 24 | uint64_t(data[5]) << 16 | uint64_t(data[6]) << 8 | data[7];
    if (result->size() != stated)
        std::abort();
    auto again = rp::compressedData(*result);
    if (!again || rp::uncompressedData(*again) != result)
        std::abort();
    return 0;
}
