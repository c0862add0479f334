#pragma once

#include "archive/KeyedArchivePlist.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace rp::keyed {

// Parses a binary property list ("bplist00") into a PlistValue. The bytes are hostile: the
// trailer, the offset table and every reachable object are bounds-checked, references must
// be in range and free of cycles, nesting is limited to maximumPlistDepth, UTF-16 must be
// well formed, and the size of the tree the list expands to (a shared object is copied at
// every reference) is worked out before anything is built and refused above a budget that
// grows with the input. Reals keep their stored width (singlePrecision), integers stored in
// 8 bytes read as signed, 16-byte integers are accepted when they fit in 64 bits.
// Dictionaries, arrays, strings (ASCII or UTF-16), integers, reals, booleans, dates, data and
// UIDs are read; sets, null and fill markers are refused. nullopt with `error` on failure.
std::optional<PlistValue> readBinaryPlistBytes(std::span<const uint8_t> bytes, std::string* error = nullptr);

// The checks of readBinaryPlistBytes without building the tree. Empty on success, else what
// is wrong.
std::string validateBinaryPlistBytes(std::span<const uint8_t> bytes);

} // namespace rp::keyed
