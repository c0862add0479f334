#include "foundation/Localization.h"

#include "ScopedEnv.h"
#include "foundation/Error.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

TEST(Localization, PlaceholdersAreReplacedAndTablesParsedAndChosenByLanguage)
{
    EXPECT_EQ(rp::formatText("%@ failed: current version %@, compatibility version %@, saved with version %@",
                  { "ORPSong", "1H1", "1E2", "1I0" }),
        "ORPSong failed: current version 1H1, compatibility version 1E2, saved with version 1I0");
    EXPECT_EQ(rp::formatText("%2$@ then %1$@", { "a", "b" }), "b then a");
    EXPECT_EQ(rp::formatText("100%% of %@, %d stays", { "x" }), "100% of x, %d stays");
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
