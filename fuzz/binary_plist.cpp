// libFuzzer target: binary property lists must parse or fail cleanly, and whatever parses must
// write back out and read again to the very same bytes.
#include "archive/BinaryPlistReader.h"
#include "archive/BinaryPlistWriter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace rp::keyed;
    const std::span<const uint8_t> bytes(data, size);
    std::string error;
    auto value = readBinaryPlistBytes(bytes, &error);
    // The validator and the reader must agree on what is acceptable.
    if (validateBinaryPlistBytes(bytes) != (value ? std::string() : error)) {
        std::abort();
    }
    if (!value) {
        return 0;
    }
    const auto written = writeBinaryPlistBytes(*value, &error);
    if (written.empty()) {
        std::abort();
    }
    auto again = readBinaryPlistBytes(written, &error);
    if (!again || writeBinaryPlistBytes(*again) != written) {
        std::abort();
    }
    return 0;
}
