#include "foundation/FileNames.h"

namespace rp {

std::string sanitizedFilename(std::string_view name, std::string_view fallback, size_t maximumBytes)
{
    std::string safe;
    safe.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':') {
            safe += '-';
        } else if (byte >= 0x20 && byte != 0x7f) {
            safe += c;
        }
    }
    const size_t start = safe.find_first_not_of(". -");
    safe.erase(0, start == std::string::npos ? safe.size() : start);
    if (safe.size() > maximumBytes) {
        size_t end = maximumBytes;
        // Back up over UTF-8 continuation bytes so no character is cut in half.
        while (end > 0 && (static_cast<unsigned char>(safe[end]) & 0xC0) == 0x80) {
            --end;
        }
        safe.resize(end);
    }
    while (!safe.empty() && safe.back() == ' ') {
        safe.pop_back();
    }
    return safe.empty() ? std::string(fallback) : safe;
}

} // namespace rp
