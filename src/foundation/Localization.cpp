#include "foundation/Localization.h"

#include "BuildInfo.h"

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

std::string formatText(std::string_view format, const std::vector<std::string>& arguments)
{
    std::string result;
    result.reserve(format.size());
    size_t next = 0;
    auto argument = [&](size_t index) -> const std::string& {
        static const std::string empty;
        return index < arguments.size() ? arguments[index] : empty;
    };
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            result += c;
            continue;
        }
        char d = format[i + 1];
        if (d == '@') {
            result += argument(next++);
            ++i;
        } else if (d == '%') {
            result += '%';
            ++i;
        } else if (d >= '1' && d <= '9') {
            size_t j = i + 1;
            size_t position = 0;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9' && position < 1000)
                position = position * 10 + static_cast<size_t>(format[j++] - '0');
            if (j + 1 < format.size() && format[j] == '$' && format[j + 1] == '@') {
                result += argument(position - 1);
                i = j + 1;
            } else {
                result += c;
            }
        } else {
            result += c;
        }
    }
    return result;
}

std::string localizedFormat(const std::string& englishFormat, const std::vector<std::string>& arguments)
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
