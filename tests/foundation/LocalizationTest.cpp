#include "foundation/Localization.h"

#include "ScopedEnv.h"
#include "foundation/Error.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

TEST(Localization, FormatTextReplacesPlaceholdersInOrder)
{
    EXPECT_EQ(rp::formatText("%@ failed: current version %@, compatibility version %@, saved with version %@",
                  { "ORPSong", "1H1", "1E2", "1I0" }),
        "ORPSong failed: current version 1H1, compatibility version 1E2, saved with version 1I0");
    EXPECT_EQ(rp::formatText("%2$@ then %1$@", { "a", "b" }), "b then a");
    EXPECT_EQ(rp::formatText("100%% of %@, %d stays", { "x" }), "100% of x, %d stays");
    EXPECT_EQ(rp::formatText("%@ and %@ and %9$@", { "only" }), "only and  and ");
    EXPECT_EQ(rp::formatText("%@", { "%@ inside" }), "%@ inside"); // arguments are not re-scanned
    EXPECT_EQ(rp::formatText("trailing %", {}), "trailing %");
}

TEST(Localization, TablesAreParsedAndChosenByLanguage)
{
    auto entries = rp::Localization::parseTable("// comment\n"
                                                "\"Continue\" = \"Weiter\";\n"
                                                "  \"Say \\\"%@\\\"\"=\"Sag \\\"%@\\\"\\n\" ;\r\n"
                                                "\"broken\" = \"no semicolon\"\n"
                                                "\"unterminated = \"x\";\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (std::pair<std::string, std::string> { "Continue", "Weiter" }));
    EXPECT_EQ(entries[1], (std::pair<std::string, std::string> { "Say \"%@\"", "Sag \"%@\"\n" }));

    rp::test::TempDir dir;
    std::ofstream(dir / "de.strings")
        << "\"Continue\" = \"Weiter\";\n\"'%@' was created with a newer version of Rattlepan.\" = "
           "\"'%@' wurde mit einer neueren Version erstellt.\";\n";
    rp::test::ScopedEnv folder("RP_LOCALIZATION_DIR", dir.path().c_str(), rp::Localization::reset);
    {
        rp::test::ScopedEnv language(
            "LC_ALL", "de_AT.UTF-8", rp::Localization::reset); // no de_AT table: falls back to de
        EXPECT_EQ(rp::Localization::preferredLanguages(), (std::vector<std::string> { "de_AT", "de" }));
        EXPECT_EQ(rp::localized("Continue"), "Weiter");
        EXPECT_EQ(rp::localized("Cancel"), "Cancel");
        EXPECT_EQ(rp::localizedFormat("'%@' was created with a newer version of Rattlepan.", { "a.rpsong" }),
            "'a.rpsong' wurde mit einer neueren Version erstellt.");
    }
    {
        rp::test::ScopedEnv language("LC_ALL", "fr_FR", rp::Localization::reset);
        EXPECT_EQ(rp::localized("Continue"), "Continue");
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
    EXPECT_FALSE(error.isApplicationError(1000));
    EXPECT_EQ(error.description,
        "'Beat.rpsong' was created with a newer version of Rattlepan, and can't be opened.");
    EXPECT_EQ(error.failureReason, "It was created with a newer version of Rattlepan.");
    EXPECT_EQ(error.recoverySuggestion,
        "This song was created with Rattlepan 3.0. You may wish to upgrade to the latest version.");
    EXPECT_EQ(error.url, "file:///home/ann/My%20Songs/Beat.rpsong");
    EXPECT_EQ(error.text(),
        std::string("Error Domain=") + rp::kErrorDomain
            + " Code=1001 \"'Beat.rpsong' was created with a newer version of Rattlepan, and can't be "
              "opened.\" "
              "(It was created with a newer version of Rattlepan.)");

    auto posix = rp::Error::posix(ENOENT, "/no/such");
    EXPECT_EQ(posix.domain, rp::kPosixErrorDomain);
    EXPECT_EQ(posix.code, ENOENT);
    EXPECT_EQ(posix.failureReason, "No such file or directory");
    EXPECT_EQ(posix.url, "file:///no/such");
}
