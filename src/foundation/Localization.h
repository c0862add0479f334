#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rp {

// Every user-visible text goes through the string table: the English text is the key, and also the
// answer when no table is loaded or the table has no entry for it.
std::string localized(const std::string& english);

// Replaces each "%@" in `format` with the next argument, in order; "%N$@" (N from 1) names an
// argument by position so a translation may reorder them, and "%%" is a single "%". A missing
// argument becomes the empty string; other "%" sequences are copied unchanged.
std::string formatText(std::string_view format, const std::vector<std::string>& arguments);

// localized() of the format, then formatText().
std::string localizedFormat(const std::string& englishFormat, const std::vector<std::string>& arguments);

// The string table. Tables are files named "<language>.strings" in the localization folder, one
// entry per line:   "English text" = "Translated text";
// with \" \\ \n \t escapes inside the quotes; blank lines and lines starting with // are ignored.
// The language comes from LC_ALL, LC_MESSAGES or LANG ("de_DE.UTF-8" tries de_DE, then de);
// English ("C", "POSIX", "en...") needs no table. The folder is $RP_LOCALIZATION_DIR when set,
// else the folder given to setDirectory(), else resources/localization in the source tree.
class Localization {
public:
    // Loads (or replaces) the active table from one file; false if it cannot be read. Lines that do
    // not parse are skipped.
    static bool loadTable(const std::filesystem::path& file);
    // Parses table text; exposed for tests and tools.
    static std::vector<std::pair<std::string, std::string>> parseTable(std::string_view text);
    // Drops the active table and forgets that the environment was consulted, so the next lookup
    // looks again (tests use this after changing the environment).
    static void reset();
    static void setDirectory(const std::filesystem::path& directory);
    // The language names tried for the current environment, most specific first; empty for English.
    static std::vector<std::string> preferredLanguages();
};

} // namespace rp
