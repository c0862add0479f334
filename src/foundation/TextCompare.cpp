#include "foundation/TextCompare.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utf8proc.h>

namespace rp {

namespace {

bool isAscii(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

int compareBytes(std::string_view a, std::string_view b)
{
    size_t common = std::min(a.size(), b.size());
    int c = common ? std::memcmp(a.data(), b.data(), common) : 0;
    if (c != 0)
        return sign(c);
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

} // namespace

std::optional<std::string> foldCase(std::string_view text)
{
    if (isAscii(text)) {
        std::string folded(text);
        for (char& c : folded)
            c = asciiLower(c);
        return folded;
    }
    utf8proc_uint8_t* result = nullptr;
    auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD);
    utf8proc_ssize_t length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
        static_cast<utf8proc_ssize_t>(text.size()), &result, options);
    if (length < 0) {
        std::free(result);
        return std::nullopt;
    }
    std::string folded(reinterpret_cast<const char*>(result), static_cast<size_t>(length));
    std::free(result);
    return folded;
}

int compareIgnoringCase(std::string_view a, std::string_view b)
{
    if (isAscii(a) && isAscii(b)) {
        size_t common = std::min(a.size(), b.size());
        for (size_t i = 0; i < common; ++i) {
            char x = asciiLower(a[i]);
            char y = asciiLower(b[i]);
            if (x != y)
                return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
        }
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    }
    // Invalid UTF-8 keeps its bytes; only its ASCII letters are folded.
    auto fold = [](std::string_view text) {
        if (auto folded = foldCase(text))
            return *folded;
        std::string bytes(text);
        for (char& c : bytes)
            c = asciiLower(c);
        return bytes;
    };
    return compareBytes(fold(a), fold(b));
}

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    return compareIgnoringCase(a, b) == 0;
}

int64_t leadingIntegerValue(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr int64_t limit = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = std::min(value * 10 + (text[i] - '0'), limit + 1);
    }
    return negative ? std::max(-value, -limit - 1) : std::min(value, limit);
}

} // namespace rp
