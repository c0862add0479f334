#include "foundation/Localization.h"

#include "ScopedEnv.h"
#include "foundation/Error.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <limits>
#include <gtest/gtest.h>

TEST(Localization, PlaceholdersAreReplacedAndTablesParsedAndChosenByLanguage)
{
    EXPECT_EQ(rp::formatText("%@ failed: current version %@, compatibility version %@, saved with version %@",
                  { "ORPSong", "1H1", "1E2", "1I0" }),
        "ORPSong failed: current version 1H1, compatibility version 1E2, saved with version 1I0");
    EXPECT_EQ(rp::formatText("%2$@ then %1$@", { "a", "b" }), "b then a");
    EXPECT_EQ(rp::formatText("100%% of %@, %y stays", { "x" }), "100% of x, %y stays");
    EXPECT_EQ(rp::formatText("%@ and %@ and %9$@", { "only" }), "only and  and ");
    EXPECT_EQ(rp::formatText("%@", { "%@ inside" }), "%@ inside"); // arguments are not re-scanned
    EXPECT_EQ(rp::formatText("trailing %", {}), "trailing %");

    auto entries = rp::Localization::parseTable("// comment\n"
                                                "\"Continue\" = \"Weiter\";\n"
                                                "  \"Say \\\"%@\\\"\"=\"Sag \\\"%@\\\"\\n\" ;\r\n"
                                                "\"broken\" = \"no semicolon\"\n"
                                                "\"unterminated = \"x\";\n");
    EXPECT_EQ(entries,
        (std::vector<std::pair<std::string, std::string>> {
            { "Continue", "Weiter" }, { "Say \"%@\"", "Sag \"%@\"\n" } }));

    rp::test::TempDir dir;
    std::ofstream(dir / "de.strings")
        << "\"Continue\" = \"Weiter\";\n\"'%@' was created with a newer version of Rattlepan.\" = "
           "\"'%@' wurde mit einer neueren Version erstellt.\";\n";
    rp::test::ScopedEnv folder("RP_LOCALIZATION_DIR", dir.path().c_str(), rp::Localization::reset);
    {
        rp::test::ScopedEnv language(
            "LC_ALL", "de_AT.UTF-8", rp::Localization::reset); // no de_AT table: falls back to de
        EXPECT_EQ(rp::Localization::preferredLanguages(), (std::vector<std::string> { "de_AT", "de" }));
        EXPECT_EQ(rp::localized("Cancel"), "Cancel");
        EXPECT_EQ(rp::localizedFormat("'%@' was created with a newer version of Rattlepan.", { "a.rpsong" }),
            "'a.rpsong' wurde mit einer neueren Version erstellt.");
    }
    {
        rp::test::ScopedEnv language(
            "LC_ALL", "../../etc/passwd", rp::Localization::reset); // never becomes a file name
        EXPECT_TRUE(rp::Localization::preferredLanguages().empty());
    }
}

TEST(Localization, NumberConversionsFollowPrintfAndBadFormatsStaySafe)
{
    struct Case {
        const char* format;
        std::vector<rp::FormatArgument> arguments;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // The interface's own texts.
        { "Total %d bars, %d:%02d duration", { 12, 1, 5 }, "Total 12 bars, 1:05 duration" },
        { "%lu sections", { size_t { 3 } }, "3 sections" },
        { "%d%%", { 80 }, "80%" },
        { "%.1f s", { 2.25 }, "2.2 s" },
        { "%.1f", { 0.1f }, "0.1" },
        // Flags, widths and precisions.
        { "[%5d|%-5d|%05d|%+d|% d]", { 42, 42, -42, 7, 7 }, "[   42|42   |-0042|+7| 7]" },
        { "[%.3d|%08.3f|%-8.2f|%e|%G]", { 5, -3.14159, 2.5, 1500.0, 0.00001 },
            "[005|-003.142|2.50    |1.500000e+03|1E-05]" },
        { "%ld %lld %hd %zu %i", { int64_t { -9 }, INT64_MIN, short { 3 }, UINT64_MAX, 0 },
            "-9 -9223372036854775808 3 18446744073709551615 0" },
        { "[%6@|%-4s|%3@]", { "ab", "cd", "Grüße" }, "[    ab|cd  |Grüße]" },
        // Positions may reorder and repeat.
        { "%2$d:%1$02d, %2$@", { 7, 3 }, "3:07, 3" },
        // Arguments of the wrong kind show their natural text; integers are never reinterpreted.
        { "%d|%u|%@|%@|%f|%5d", { 2.5, -1, 12, 0.5f, 3, "x" }, "2.5|-1|12|0.5|3.000000|    x" },
        // Missing arguments, positions beyond the list, and sequences that are not conversions.
        { "%d-%5@-%3$f-%0$d-%*d-%", { 1 }, "1-     --%0$d-%*d-%" },
        { "100%", {}, "100%" },
        { "%-", {}, "%-" },
        { "%.f", { 2.5 }, "2" },
        { "%f", { std::numeric_limits<double>::infinity() }, "inf" },
        { "%05f", { -std::numeric_limits<double>::infinity() }, " -inf" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(rp::formatText(c.format, c.arguments), c.expected) << c.format;

    // Absurd widths and precisions are capped, not honoured.
    EXPECT_EQ(rp::formatText("%999999999d", { 1 }).size(), size_t(rp::kMaxFormatWidth));
    EXPECT_EQ(rp::formatText("%99999999999999999999@", { "a" }).size(), size_t(rp::kMaxFormatWidth));
    const std::string huge = rp::formatText("%.999999999f", { 1e308 });
    EXPECT_EQ(huge.size(), 309u + 1u + size_t(rp::kMaxFormatPrecision));
    EXPECT_EQ(rp::formatText("%2147483648$d|%4294967297$@", { 5 }), "|");
}

TEST(Error, CarriesTheApplicationDomainAndTexts)
{
    auto error = rp::Error::make(rp::kErrorNewerVersion,
        "'%@' was created with a newer version of Rattlepan, and can't be opened.", "Beat.rpsong",
        "It was created with a newer version of Rattlepan.",
        "This song was created with Rattlepan %@. You may wish to upgrade to the latest version.", "3.0");
    error.url = rp::fileURLFromPath("/home/ann/My Songs/Beat.rpsong");
    EXPECT_TRUE(error.isApplicationError(1001));
    EXPECT_EQ(error.recoverySuggestion,
        "This song was created with Rattlepan 3.0. You may wish to upgrade to the latest version.");
    EXPECT_EQ(error.url, "file:///home/ann/My%20Songs/Beat.rpsong");
    EXPECT_EQ(error.text(),
        std::string("Error Domain=") + rp::kErrorDomain
            + " Code=1001 \"'Beat.rpsong' was created with a newer version of Rattlepan, and can't be "
              "opened.\" "
              "(It was created with a newer version of Rattlepan.)");
    EXPECT_EQ(rp::Error::posix(ENOENT, "/no/such").failureReason, "No such file or directory");
}
