#pragma once

#include <string>
#include <string_view>

namespace rp {

// A display name made safe as one file name: path separators and colons become hyphens, control
// characters go, leading dots, spaces and hyphens go (no hidden files, no "..", nothing that reads
// as a command option), and it is cut to at most `maximumBytes` on a character boundary.
// `fallback` when nothing is left.
std::string sanitizedFilename(std::string_view name, std::string_view fallback, size_t maximumBytes = 200);

} // namespace rp
