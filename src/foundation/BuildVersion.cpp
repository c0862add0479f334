#include "foundation/BuildVersion.h"

#include "BuildInfo.h"

namespace rp {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Reads an optionally signed decimal number after optional white space, as "%hd" does, into a
// wide value (so an overflowing number is seen as out of range instead of wrapping).
bool readNumber(std::string_view text, size_t& pos, long& value)
{
    while (pos < text.size() && isSpace(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    size_t start = pos;
    long result = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (result < 1000000)
            result = result * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos == start)
        return false;
    value = negative ? -result : result;
    return true;
}

} // namespace

uint32_t parseBuildVersionCode(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    size_t pos = 0;
    long major = 0;
    long minor = 0;
    if (!readNumber(text, pos, major) || pos >= text.size())
        return kInvalidBuildVersionCode;
    char letter = text[pos++];
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return kInvalidBuildVersionCode;
    if (!readNumber(text, pos, minor))
        return kInvalidBuildVersionCode;
    if (major < 0 || major > 255 || minor < 0 || minor > 65535)
        return kInvalidBuildVersionCode;
    uint32_t position = static_cast<uint32_t>(letter - 'A' + 1);
    return static_cast<uint32_t>(major) << 24 | position << 16 | static_cast<uint32_t>(minor);
}

std::string formatBuildVersionCode(uint32_t code)
{
    uint32_t position = (code >> 16) & 0xFF;
    char letter = position >= 1 && position <= 26 ? static_cast<char>(position + 64) : '?';
    return std::to_string(code >> 24) + letter + std::to_string(code & 0xFFFF);
}

int compareBuildVersionCodes(uint32_t a, uint32_t b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

uint32_t currentBuildVersionCode()
{
    static const uint32_t code = parseBuildVersionCode(RP_BUILD_VERSION_CODE);
    return code;
}

std::string currentBuildVersionString()
{
    return RP_BUILD_VERSION_CODE;
}

std::string currentShortVersion()
{
    return RP_BUILD_SHORT_VERSION;
}

} // namespace rp
