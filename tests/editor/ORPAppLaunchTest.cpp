#include "editor/ORPAppLaunch.h"

#include "editor/EditorTestSupport.h"
#include "foundation/BuildVersion.h"
#include "foundation/Error.h"
#include "foundation/FileReference.h"
#include "foundation/Logger.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using rp::test::TempDefaults;
using rp::test::TempDir;
using rp::test::writeFileBytes;

namespace {

// Answers the welcome alert from a script and remembers what it was shown.
class ScriptedWelcome final : public ORPSuppressibleAlert {
public:
    explicit ScriptedWelcome(Answer answer)
        : answer_(answer)
    {
    }
    Answer run(const Request& request) override
    {
        shown.push_back(request);
        return answer_;
    }
    std::vector<Request> shown;

private:
    Answer answer_;
};

class RecordingHelp final : public ORPHelpBook {
public:
    explicit RecordingHelp(int status = 0)
        : status_(status)
    {
    }
    int openHelpPage(const std::string& page) override
    {
        pages.push_back(page);
        return status_;
    }
    std::vector<std::string> pages;

private:
    int status_;
};

const uint32_t kOurs = rp::parseBuildVersionCode("1H1");

} // namespace

TEST(ORPAppLaunch, FirstLaunchOpensTheExampleSongAnEmptyListNothing)
{
    TempDir resources;
    rp::test::ScopedResourcesDir scoped(resources.path());
    TempDefaults defaults;
    EXPECT_EQ(ORPAppLaunch::documentsToReopen(defaults.store()),
        std::vector<fs::path> { resources / "Examples" / "Rattlepan Example Song.rpsong" });

    defaults.store().setObject(rp::PropertyArray {}, ORPAppLaunch::kPreviouslyOpenDocumentBookmarksKey);
    EXPECT_TRUE(ORPAppLaunch::documentsToReopen(defaults.store()).empty());
    // A damaged store holding something else than a list opens nothing either.
    defaults.store().setString("garbage", ORPAppLaunch::kPreviouslyOpenDocumentBookmarksKey);
    EXPECT_TRUE(ORPAppLaunch::documentsToReopen(defaults.store()).empty());
}

// What termination stores, the next launch reopens: untitled documents and vanished files are skipped,
// moved files are followed, garbage entries are ignored.
TEST(ORPAppLaunch, TerminationBookmarksComeBackAtTheNextLaunch)
{
    TempDir dir;
    TempDefaults defaults;
    fs::create_directory(dir / "songs");
    writeFileBytes(dir / "songs" / "A.rpsong", { 1 });
    writeFileBytes(dir / "B.rpsong", { 2 });
    writeFileBytes(dir / "Gone.rpsong", { 3 });
    fs::create_directory(dir / "Kit.rpkit");

    ORPAppLaunch::storeOpenDocumentBookmarks(defaults.store(),
        { dir / "songs" / "A.rpsong", fs::path(), dir / "Gone.rpsong", dir / "Kit.rpkit", dir / "B.rpsong",
            dir / "never-existed.rpsong" });
    fs::remove(dir / "Gone.rpsong");
    fs::rename(dir / "songs", dir / "moved");

    auto nextLaunch = defaults.reopened();
    auto stored = nextLaunch->arrayForKey(ORPAppLaunch::kPreviouslyOpenDocumentBookmarksKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 4u); // A, Gone, Kit, B: untitled and never-existing are not stored
    stored->push_back(rp::PropertyValue("not a bookmark"));
    stored->push_back(rp::PropertyValue(rp::PropertyData { 'R', 'P', 'f', 'r', 1, 9 }));
    nextLaunch->setObject(*stored, ORPAppLaunch::kPreviouslyOpenDocumentBookmarksKey);

    EXPECT_EQ(ORPAppLaunch::documentsToReopen(*nextLaunch),
        (std::vector<fs::path> { dir / "moved" / "A.rpsong", dir / "Kit.rpkit", dir / "B.rpsong" }));

    // Nothing open at quit: the key stays, empty, so the example song does not come back.
    ORPAppLaunch::storeOpenDocumentBookmarks(*nextLaunch, { fs::path() });
    EXPECT_TRUE(nextLaunch->hasStoredValue(ORPAppLaunch::kPreviouslyOpenDocumentBookmarksKey));
    EXPECT_TRUE(ORPAppLaunch::documentsToReopen(*nextLaunch).empty());
}

TEST(ORPAppLaunch, AFailedReopenIsLoggedAndTheOthersStillOpen)
{
    rp::LogCapture log;
    std::vector<fs::path> opened;
    ORPAppLaunch::reopenDocuments({ "/a.rpsong", "/b.rpsong", "/c.rpsong" },
        [&](const fs::path& file) -> std::optional<rp::Error> {
            opened.push_back(file);
            if (file == "/b.rpsong") {
                return rp::Error { rp::kErrorDomain, rp::kErrorInvalidFile, "broken", "", "", "", "" };
            }
            return std::nullopt;
        });
    EXPECT_EQ(opened.size(), 3u);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.contains("Failed to re-open document: "));
    EXPECT_TRUE(log.contains("broken"));
}

TEST(ORPAppLaunch, TheWelcomeStoresTheBuildOnlyWhileItsBoxStaysTicked)
{
    struct Case {
        int button;
        bool ticked;
        std::vector<std::string> helpPages;
        bool stored;
    };
    for (const Case& c : std::vector<Case> {
             { 0, true, {}, true },
             { 1, true, { "" }, true }, // "Open User's Guide": the start page
             { 0, false, {}, false },
             { 1, false, { "" }, false },
         }) {
        SCOPED_TRACE(testing::Message() << "button " << c.button << " ticked " << c.ticked);
        TempDefaults defaults;
        ScriptedWelcome welcome({ c.button, c.ticked });
        RecordingHelp help;
        EXPECT_EQ(ORPAppLaunch::greetBuild(defaults.store(), kOurs, welcome, help),
            ORPAppLaunch::BuildGreeting::Welcome);
        ASSERT_EQ(welcome.shown.size(), 1u);
        const auto& request = welcome.shown[0];
        EXPECT_EQ(request.message, "Welcome to Rattlepan!");
        EXPECT_EQ(request.informativeText,
            "You can find example song and drum kit files, as well as a full Rattlepan User's Guide, "
            "accessible from the Help menu.");
        EXPECT_EQ(request.buttons, (std::vector<std::string> { "OK", "Open User's Guide" }));
        EXPECT_TRUE(request.suppressionChecked);
        EXPECT_EQ(help.pages, c.helpPages);
        EXPECT_EQ(defaults.store().hasStoredValue(ORPAppLaunch::kBuildIdentifierKey), c.stored);
        if (c.stored) {
            EXPECT_EQ(defaults.store().integerForKey(ORPAppLaunch::kBuildIdentifierKey), kOurs);
        }
        // Cleared box: the next launch welcomes again.
        ScriptedWelcome again({ 0, true });
        ORPAppLaunch::greetBuild(defaults.store(), kOurs, again, help);
        EXPECT_EQ(again.shown.size(), c.stored ? 0u : 1u);
    }
}

TEST(ORPAppLaunch, UpgradesShowTheReleaseHistoryAndTheStoredBuildIsNeverLowered)
{
    struct Case {
        int64_t stored;
        ORPAppLaunch::BuildGreeting shown;
        int64_t after;
    };
    const int64_t before1G16 = rp::parseBuildVersionCode("1G15");
    const int64_t at1G16 = rp::parseBuildVersionCode("1G16");
    const int64_t newer = rp::parseBuildVersionCode("3A2");
    for (const Case& c : std::vector<Case> {
             { before1G16, ORPAppLaunch::BuildGreeting::ReleaseHistory, kOurs },
             { rp::parseBuildVersionCode("1A1"), ORPAppLaunch::BuildGreeting::ReleaseHistory, kOurs },
             { at1G16, ORPAppLaunch::BuildGreeting::None, kOurs },
             { kOurs, ORPAppLaunch::BuildGreeting::None, kOurs },
             { newer, ORPAppLaunch::BuildGreeting::None, newer }, // an older build after a newer one
             { int64_t { 1 } << 40, ORPAppLaunch::BuildGreeting::None, int64_t { 1 } << 40 },
         }) {
        SCOPED_TRACE(c.stored);
        TempDefaults defaults;
        defaults.store().setInteger(c.stored, ORPAppLaunch::kBuildIdentifierKey);
        ScriptedWelcome welcome({ 0, true });
        RecordingHelp help;
        EXPECT_EQ(ORPAppLaunch::greetBuild(defaults.store(), kOurs, welcome, help), c.shown);
        EXPECT_TRUE(welcome.shown.empty());
        EXPECT_EQ(help.pages,
            c.shown == ORPAppLaunch::BuildGreeting::ReleaseHistory ? std::vector<std::string> { "history.html" }
                                                                   : std::vector<std::string> {});
        EXPECT_EQ(defaults.store().integerForKey(ORPAppLaunch::kBuildIdentifierKey), c.after);
    }
}

TEST(ORPAppLaunch, HelpThatCannotOpenIsLogged)
{
    rp::LogCapture log;
    TempDefaults defaults;
    defaults.store().setInteger(rp::parseBuildVersionCode("1G2"), ORPAppLaunch::kBuildIdentifierKey);
    ScriptedWelcome welcome({ 1, true });
    RecordingHelp failing(-43);
    ORPAppLaunch::greetBuild(defaults.store(), kOurs, welcome, failing);
    EXPECT_EQ(log.lines(), std::vector<std::string> { "Error -43 launching help book" });
}

TEST(ORPAppLaunch, PrereleaseBuildsAskForTestBuildsInTheirFeedParameters)
{
    EXPECT_TRUE(ORPAppLaunch::isPrereleaseVersion("2.0\xCE\xB2" "3"));
    EXPECT_FALSE(ORPAppLaunch::isPrereleaseVersion("2.0b3")); // a Latin b is no beta
    EXPECT_FALSE(ORPAppLaunch::isPrereleaseVersion("2.0"));

    TempDefaults release;
    ORPAppLaunch::registerPrereleaseDefaults(release.store(), "2.0");
    const auto parameters = ORPAppLaunch::feedParametersForUpdater(release.store(), "1H1");
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0],
        rp::PropertyValue(rp::PropertyDictionary { { "key", "appVersion" }, { "value", "1H1" },
            { "displayKey", "Application Build" }, { "displayValue", "1H1" } }));

    TempDefaults beta;
    ORPAppLaunch::registerPrereleaseDefaults(beta.store(), "2.1\xCE\xB2");
    EXPECT_FALSE(beta.store().hasStoredValue(ORPAppLaunch::kSparkleGetTestBuildsKey)); // registered only
    auto withTests = ORPAppLaunch::feedParametersForUpdater(beta.store(), "1H2");
    ASSERT_EQ(withTests.size(), 2u);
    EXPECT_EQ(withTests[1],
        rp::PropertyValue(rp::PropertyDictionary { { "key", "testBuilds" }, { "value", true },
            { "displayKey", "Pre-release Builds" }, { "displayValue", "Yes" } }));
    // The user may switch it off even in a pre-release build.
    beta.store().setBool(false, ORPAppLaunch::kSparkleGetTestBuildsKey);
    EXPECT_EQ(ORPAppLaunch::feedParametersForUpdater(beta.store(), "1H2").size(), 1u);
}
