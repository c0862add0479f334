#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rp {

// Build version codes: a build string "<major><letter><minor>" such as 1G11 packed into 32 bits as
// major << 24 | letter position (A = 1) << 16 | minor, so 1G11 is 0x0107000B. Later builds have
// greater codes; codes compare as unsigned integers.
//
// Parsing trims surrounding white space and reads a number, one letter (either case) and a number,
// like sscanf "%hd%c%hd"; anything after the minor number is ignored. Text that does not have
// that shape (no digits, no letter, a major above 255 or a minor above 65535, a negative number)
// parses to kInvalidBuildVersionCode, 0, which is older than every real build.
inline constexpr uint32_t kInvalidBuildVersionCode = 0;

uint32_t parseBuildVersionCode(std::string_view text);

// "%d%c%d": major, the letter (position + 64), minor. A letter byte that is not A to Z shows as '?'.
std::string formatBuildVersionCode(uint32_t code);

// -1, 0 or 1 as the unsigned codes compare.
int compareBuildVersionCodes(uint32_t a, uint32_t b);

// The running build's code and user-visible version, from the build configuration. The code is
// parsed once and cached.
uint32_t currentBuildVersionCode();
std::string currentBuildVersionString();
std::string currentShortVersion();

} // namespace rp
