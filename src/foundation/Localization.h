#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace rp {

// One argument of formatText: a text, an integer or a real number, each kept with its own type so
// that a format (often a translation, so untrusted) can never make it read as another type.
class FormatArgument {
public:
    FormatArgument(std::string text)
        : value_(std::move(text))
    {
    }
    FormatArgument(const char* text)
        : value_(std::string(text ? text : ""))
    {
    }
    FormatArgument(std::string_view text)
        : value_(std::string(text))
    {
    }
    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, char8_t>)
    FormatArgument(T number)
    {
        if constexpr (std::is_signed_v<T>)
            value_ = static_cast<int64_t>(number);
        else
            value_ = static_cast<uint64_t>(number);
    }
    FormatArgument(double number)
        : value_(number)
    {
    }
    // Kept as a float so that its natural text is the float's shortest one ("0.1", not the
    // double nearest to it).
    FormatArgument(float number)
        : value_(number)
    {
    }
    FormatArgument(bool) = delete;
    FormatArgument(char) = delete;

    const std::variant<std::string, int64_t, uint64_t, double, float>& value() const { return value_; }

private:
    std::variant<std::string, int64_t, uint64_t, double, float> value_;
};

// Every user-visible text goes through the string table: the English text is the key, and also the
// answer when no table is loaded or the table has no entry for it.
std::string localized(const std::string& english);

// printf-style formatting that a bad format cannot break. Each conversion takes the next argument,
// or "%N$..." (N from 1) the Nth, so a translation may reorder them; "%%" is a single "%".
// Conversions: "%@" and "%s" (the argument's natural text), "%d" "%i" "%u" (integers), "%f" "%e"
// "%g" and their capitals (reals), with the flags - 0 + and space, a width, a precision ".N" and
// the length modifiers l ll h hh q z j t L (accepted and ignored: the argument's own type decides).
// Widths and precisions are capped (kMaxFormatWidth, kMaxFormatPrecision). An argument of the
// wrong kind is converted sensibly: an integer to a real, a real given to an integer conversion or
// a text given to a number conversion shows its natural text, padded to the width; an integer is
// never reinterpreted (-1 under "%u" stays -1). A missing argument is the empty text. Reals use
// "." whatever the C locale. A "%" sequence that is not a conversion, including a lone "%" at the
// end, is copied unchanged and takes no argument.
inline constexpr int kMaxFormatWidth = 128;
inline constexpr int kMaxFormatPrecision = 64;
std::string formatText(std::string_view format, const std::vector<FormatArgument>& arguments);

// localized() of the format, then formatText().
std::string localizedFormat(const std::string& englishFormat, const std::vector<FormatArgument>& arguments);

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
