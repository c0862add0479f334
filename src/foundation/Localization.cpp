#include "foundation/Localization.h"

#include "BuildInfo.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <unordered_map>

namespace rp {

namespace {

struct TableState {
    std::mutex mutex;
    bool consultedEnvironment = false;
    std::unordered_map<std::string, std::string> table;
    std::filesystem::path directory;
};

TableState& state()
{
    static TableState instance;
    return instance;
}

std::unordered_map<std::string, std::string> readTable(const std::filesystem::path& file, bool* ok)
{
    std::ifstream in(file, std::ios::binary);
    *ok = static_cast<bool>(in);
    std::unordered_map<std::string, std::string> table;
    if (!in)
        return table;
    std::ostringstream text;
    text << in.rdbuf();
    for (auto& [key, value] : Localization::parseTable(text.str()))
        table[key] = std::move(value);
    return table;
}

// Loads the table for the environment's language on first use. Caller holds the mutex.
void consultEnvironment(TableState& s)
{
    if (s.consultedEnvironment)
        return;
    s.consultedEnvironment = true;
    std::filesystem::path directory;
    if (const char* env = std::getenv("RP_LOCALIZATION_DIR"); env && *env)
        directory = env;
    else if (!s.directory.empty())
        directory = s.directory;
    else
        directory = std::filesystem::path(RP_SOURCE_DIR) / "resources" / "localization";
    for (const std::string& language : Localization::preferredLanguages()) {
        bool ok = false;
        auto table = readTable(directory / (language + ".strings"), &ok);
        if (ok) {
            s.table = std::move(table);
            return;
        }
    }
}

// Reads a quoted string starting at text[pos] == '"'; leaves pos after the closing quote.
std::optional<std::string> readQuoted(std::string_view text, size_t& pos)
{
    if (pos >= text.size() || text[pos] != '"')
        return std::nullopt;
    std::string result;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return result;
        }
        if (c == '\n')
            return std::nullopt;
        if (c == '\\' && pos + 1 < text.size()) {
            char e = text[++pos];
            switch (e) {
            case 'n':
                result += '\n';
                break;
            case 't':
                result += '\t';
                break;
            default:
                result += e;
                break;
            }
            continue;
        }
        result += c;
    }
    return std::nullopt;
}

void skipBlanks(std::string_view text, size_t& pos)
{
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r'))
        ++pos;
}

} // namespace

std::string localized(const std::string& english)
{
    TableState& s = state();
    std::lock_guard lock(s.mutex);
    consultEnvironment(s);
    auto it = s.table.find(english);
    return it == s.table.end() ? english : it->second;
}

namespace {

struct Conversion {
    bool leftAlign = false;
    bool zeroPad = false;
    bool plusSign = false;
    bool spaceSign = false;
    int width = 0;
    std::optional<int> precision;
    char conversion = 0;
};

// Reads digits as a number that stops growing past `cap` (so "%999999999d" cannot overflow).
int readCappedNumber(std::string_view format, size_t& pos, int cap)
{
    int value = 0;
    while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9') {
        if (value <= cap)
            value = value * 10 + (format[pos] - '0');
        ++pos;
    }
    return std::min(value, cap);
}

size_t codePointCount(std::string_view text)
{
    size_t count = 0;
    for (char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Pads `body` (whose first `signLength` bytes are a sign) to the width: spaces on the left or, with
// '-', on the right; zeros between the sign and the digits when `zeros`.
void appendPadded(std::string& out, std::string_view body, const Conversion& conversion, bool zeros = false,
    size_t signLength = 0)
{
    const size_t length = codePointCount(body);
    const size_t width = static_cast<size_t>(conversion.width);
    const size_t padding = width > length ? width - length : 0;
    if (conversion.leftAlign) {
        out += body;
        out.append(padding, ' ');
    } else if (zeros) {
        out += body.substr(0, signLength);
        out.append(padding, '0');
        out += body.substr(signLength);
    } else {
        out.append(padding, ' ');
        out += body;
    }
}

std::string naturalText(const FormatArgument& argument)
{
    char buffer[64];
    return std::visit(
        [&](const auto& value) -> std::string {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return value;
            } else {
                auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
                return error == std::errc() ? std::string(buffer, end) : std::string();
            }
        },
        argument.value());
}

std::string signFor(bool negative, const Conversion& conversion)
{
    if (negative)
        return "-";
    if (conversion.plusSign)
        return "+";
    return conversion.spaceSign ? " " : "";
}

void appendInteger(std::string& out, bool negative, uint64_t magnitude, const Conversion& conversion)
{
    char buffer[32];
    std::string digits;
    if (!(conversion.precision && *conversion.precision == 0 && magnitude == 0)) { // "%.0d" of 0 prints no digits
        auto end = std::to_chars(buffer, buffer + sizeof buffer, magnitude).ptr;
        digits.assign(buffer, end);
    }
    if (conversion.precision && digits.size() < static_cast<size_t>(*conversion.precision))
        digits.insert(0, static_cast<size_t>(*conversion.precision) - digits.size(), '0');
    const std::string sign = signFor(negative, conversion);
    // As in printf, a precision turns zero padding off.
    appendPadded(out, sign + digits, conversion, conversion.zeroPad && !conversion.precision, sign.size());
}

void appendReal(std::string& out, double value, const Conversion& conversion)
{
    const int precision = conversion.precision.value_or(6);
    const char lower = static_cast<char>(conversion.conversion | 0x20);
    const auto format = lower == 'f' ? std::chars_format::fixed
        : lower == 'e'               ? std::chars_format::scientific
                                     : std::chars_format::general;
    // Enough for the longest fixed-point double (309 digits) at the largest precision.
    char buffer[kMaxFormatPrecision + 400];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, format,
        lower == 'g' && precision == 0 ? 1 : precision);
    if (error != std::errc())
        return;
    std::string text(buffer, end);
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        text.erase(0, 1);
    if (conversion.conversion != lower) {
        for (char& c : text)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    const std::string sign = signFor(negative, conversion);
    appendPadded(out, sign + text, conversion, conversion.zeroPad && std::isfinite(value), sign.size());
}

void appendConversion(std::string& out, const FormatArgument* argument, const Conversion& conversion)
{
    if (!argument) {
        appendPadded(out, "", conversion);
        return;
    }
    const auto& value = argument->value();
    switch (conversion.conversion) {
    case 'd':
    case 'i':
    case 'u':
        if (const auto* number = std::get_if<int64_t>(&value)) {
            const bool negative = *number < 0;
            // Two's-complement negation in unsigned arithmetic also handles INT64_MIN.
            const uint64_t magnitude
                = negative ? 0 - static_cast<uint64_t>(*number) : static_cast<uint64_t>(*number);
            appendInteger(out, negative, magnitude, conversion);
            return;
        }
        if (const auto* number = std::get_if<uint64_t>(&value)) {
            appendInteger(out, false, *number, conversion);
            return;
        }
        break;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
        if (const auto* number = std::get_if<double>(&value)) {
            appendReal(out, *number, conversion);
            return;
        }
        if (const auto* number = std::get_if<float>(&value)) {
            appendReal(out, *number, conversion);
            return;
        }
        if (const auto* number = std::get_if<int64_t>(&value)) {
            appendReal(out, static_cast<double>(*number), conversion);
            return;
        }
        if (const auto* number = std::get_if<uint64_t>(&value)) {
            appendReal(out, static_cast<double>(*number), conversion);
            return;
        }
        break;
    default:
        break;
    }
    appendPadded(out, naturalText(*argument), conversion);
}

bool isConversion(char c)
{
    return std::string_view("@sdiufFeEgG").find(c) != std::string_view::npos;
}

} // namespace

std::string formatText(std::string_view format, const std::vector<FormatArgument>& arguments)
{
    std::string result;
    result.reserve(format.size());
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            result += format[i];
            continue;
        }
        size_t pos = i + 1;
        if (pos < format.size() && format[pos] == '%') {
            result += '%';
            i = pos;
            continue;
        }
        // "%N$": an argument named by position.
        std::optional<size_t> position;
        if (pos < format.size() && format[pos] >= '1' && format[pos] <= '9') {
            size_t digitsEnd = pos;
            const int number = readCappedNumber(format, digitsEnd, 100000);
            if (digitsEnd < format.size() && format[digitsEnd] == '$') {
                position = static_cast<size_t>(number);
                pos = digitsEnd + 1;
            }
        }
        Conversion conversion;
        for (; pos < format.size(); ++pos) {
            const char flag = format[pos];
            if (flag == '-')
                conversion.leftAlign = true;
            else if (flag == '0')
                conversion.zeroPad = true;
            else if (flag == '+')
                conversion.plusSign = true;
            else if (flag == ' ')
                conversion.spaceSign = true;
            else if (flag != '#' && flag != '\'')
                break;
        }
        conversion.width = readCappedNumber(format, pos, kMaxFormatWidth);
        if (pos < format.size() && format[pos] == '.') {
            ++pos;
            conversion.precision = readCappedNumber(format, pos, kMaxFormatPrecision);
        }
        while (pos < format.size() && std::string_view("hlqzjtL").find(format[pos]) != std::string_view::npos)
            ++pos;
        if (pos >= format.size() || !isConversion(format[pos])) {
            result += '%'; // not a conversion: the rest is copied as it stands
            continue;
        }
        conversion.conversion = format[pos];
        const size_t index = position ? *position - 1 : next++;
        appendConversion(result, index < arguments.size() ? &arguments[index] : nullptr, conversion);
        i = pos;
    }
    return result;
}

std::string localizedFormat(const std::string& englishFormat, const std::vector<FormatArgument>& arguments)
{
    return formatText(localized(englishFormat), arguments);
}

bool Localization::loadTable(const std::filesystem::path& file)
{
    bool ok = false;
    auto table = readTable(file, &ok);
    if (!ok)
        return false;
    TableState& s = state();
    std::lock_guard lock(s.mutex);
    s.consultedEnvironment = true;
    s.table = std::move(table);
    return true;
}

std::vector<std::pair<std::string, std::string>> Localization::parseTable(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lineEnd = text.find('\n', pos);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        std::string_view line = text.substr(pos, lineEnd - pos);
        size_t at = 0;
        skipBlanks(line, at);
        if (at < line.size() && line[at] == '"') {
            auto key = readQuoted(line, at);
            skipBlanks(line, at);
            if (key && at < line.size() && line[at] == '=') {
                ++at;
                skipBlanks(line, at);
                auto value = readQuoted(line, at);
                skipBlanks(line, at);
                if (value && at < line.size() && line[at] == ';')
                    entries.emplace_back(std::move(*key), std::move(*value));
            }
        }
        pos = lineEnd + 1;
    }
    return entries;
}

void Localization::reset()
{
    TableState& s = state();
    std::lock_guard lock(s.mutex);
    s.consultedEnvironment = false;
    s.table.clear();
}

void Localization::setDirectory(const std::filesystem::path& directory)
{
    TableState& s = state();
    std::lock_guard lock(s.mutex);
    s.directory = directory;
    s.consultedEnvironment = false;
    s.table.clear();
}

std::vector<std::string> Localization::preferredLanguages()
{
    std::string value;
    for (const char* name : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        if (const char* env = std::getenv(name); env && *env) {
            value = env;
            break;
        }
    }
    // "de_DE.UTF-8@euro" -> "de_DE"
    value = value.substr(0, value.find_first_of(".@"));
    if (value.empty() || value == "C" || value == "POSIX" || value.rfind("en", 0) == 0)
        return {};
    for (char c : value) {
        bool fine = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
            || c == '-';
        if (!fine)
            return {}; // never build a file name from anything else
    }
    std::vector<std::string> languages { value };
    size_t cut = value.find_first_of("_-");
    if (cut != std::string::npos && cut > 0)
        languages.push_back(value.substr(0, cut));
    return languages;
}

} // namespace rp
