#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rp {

// Comparisons "ignoring case": both texts are brought to composed form (NFC) and Unicode case
// folded, then compared by code point (UTF-8 byte order). "Straße" equals "STRASSE", "É" (one
// code point) equals "E" plus a combining acute. Text that is not valid UTF-8 is compared
// bytewise with only its ASCII letters folded; it never throws or crashes.
bool equalIgnoringCase(std::string_view a, std::string_view b);
int compareIgnoringCase(std::string_view a, std::string_view b); // -1, 0 or 1

// The leading integer of a text as a number field reads it: spaces, a sign, digits; 0 without
// digits; clamped to the 32-bit range.
int64_t leadingIntegerValue(std::string_view text);

// The folded form used above (for keys of maps that should ignore case); none for invalid UTF-8.
std::optional<std::string> foldCase(std::string_view text);

} // namespace rp
