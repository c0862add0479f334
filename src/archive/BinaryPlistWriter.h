#pragma once

#include "archive/KeyedArchivePlist.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rp::keyed {

// Serialises a property list in the binary form "bplist00", as the platform's writer lays it
// out: objects numbered depth first (a container, then its keys, then its values), equal
// strings, integers, reals, dates, data and UIDs stored once and shared, dictionaries and
// arrays never shared, reference and offset widths as small as the list allows, and the
// 32-byte trailer. Strings go out as ASCII when they can, else as UTF-16 (big-endian);
// negative integers in 8 bytes; reals in 4 bytes when made with makeFloat, else 8.
// Runs in time linear in the size of the list. Empty with `error` set when a string is not
// valid UTF-8 or the list is too large for the format.
std::vector<uint8_t> writeBinaryPlistBytes(const PlistValue& value, std::string* error = nullptr);

} // namespace rp::keyed
