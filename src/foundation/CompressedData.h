#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace rp {

// The compressed-data wrapper around any block of bytes:
//   "OXdc" | uncompressed length, 32-bit big-endian | zlib stream (zlib's compress())
// Every failure is logged as one line and gives no data.

// Blocks of 4 GiB or more cannot be wrapped (the length field has 32 bits).
std::optional<std::vector<uint8_t>> compressedData(std::span<const uint8_t> data);

// The stated length comes from the file, so it is never trusted for allocation: a length that the
// zlib stream could not possibly produce (deflate expands at most 1032 times) is refused before
// anything is allocated, and the output grows only as inflated bytes actually arrive, never past
// the stated length.
std::optional<std::vector<uint8_t>> uncompressedData(std::span<const uint8_t> wrapped);

// Greatest length a zlib stream of this many bytes can inflate to.
uint64_t maximumInflatedLength(uint64_t compressedBytes);

} // namespace rp
