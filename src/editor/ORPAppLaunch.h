#pragma once

#include "foundation/PropertyValue.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rp {
class UserDefaults;
struct Error;
}

// An alert with a "do not show again" check box. The GUI answers with a dialog, tests with scripts.
class ORPSuppressibleAlert {
public:
    struct Request {
        std::string message; // the alert's main text
        std::string informativeText;
        std::vector<std::string> buttons; // left to right; index 0 is the default button
        bool suppressionChecked = true; // the check box's state when the alert appears
        int suppressionFontSize = 11; // the check box's title uses the system font at this size
    };
    struct Answer {
        int button = 0; // index into Request::buttons
        bool suppressionChecked = true; // the check box's state when the alert closed
    };
    virtual ~ORPSuppressibleAlert() = default;
    virtual Answer run(const Request& request) = 0;
};

// The application's HTML help, shown in the desktop's browser.
class ORPHelpBook {
public:
    virtual ~ORPHelpBook() = default;
    // Opens a page of the help; an empty name is the start page. Returns 0, or a non-zero status
    // when the page could not be shown.
    virtual int openHelpPage(const std::string& page) = 0;
};

// The start-up and shut-down decisions of the application controller, kept apart from the windows.
class ORPAppLaunch {
public:
    static constexpr const char* kPreviouslyOpenDocumentBookmarksKey = "RPPreviouslyOpenDocumentBookmarks";
    static constexpr const char* kBuildIdentifierKey = "RPBuildIdentifier";
    static constexpr const char* kSparkleGetTestBuildsKey = "RPSparkleGetTestBuilds";
    // The first build whose release history the program shows after an upgrade.
    static constexpr const char* kReleaseHistoryBuild = "1G16";
    static constexpr const char* kReleaseHistoryPage = "history.html";

    // The example song in the application's resources: the example folder plus the localised
    // "ORP_DefaultSongFileName".
    static std::filesystem::path exampleSongURL();
    static std::string defaultSongFileName();

    // The files to reopen at launch. Without the key (first launch): the example song. With it:
    // every bookmark that still resolves, in stored order; the rest are skipped silently.
    static std::vector<std::filesystem::path> documentsToReopen(const rp::UserDefaults& defaults);

    // Opens each file through `open` (none on success, the error otherwise); a failure is logged as
    // "Failed to re-open document: %@" and the others are still opened.
    static void reopenDocuments(const std::vector<std::filesystem::path>& files,
        const std::function<std::optional<rp::Error>(const std::filesystem::path&)>& open);

    // At termination: bookmarks of the open documents' files, in window order. An untitled document
    // (empty path) is skipped, and so is a file that no longer exists. The key is always written, so
    // an empty list means "nothing was open" rather than "first launch".
    static void storeOpenDocumentBookmarks(
        rp::UserDefaults& defaults, const std::vector<std::filesystem::path>& documentFiles);

    // What applicationDidFinishLaunching showed, for the caller's log and the tests.
    enum class BuildGreeting { None, Welcome, ReleaseHistory };

    // The build-code bookkeeping after launch: a welcome on the first launch (the code is stored only
    // when its check box stays ticked), the release history after an upgrade from a build older than
    // 1G16, and the stored code raised to ours, never lowered.
    static BuildGreeting greetBuild(rp::UserDefaults& defaults, uint32_t applicationBuildCode,
        ORPSuppressibleAlert& alert, ORPHelpBook& help);

    // True when the short version string holds a Greek small letter beta.
    static bool isPrereleaseVersion(const std::string& shortVersion);
    // Registers RPSparkleGetTestBuilds = true in a pre-release build; nothing otherwise.
    static void registerPrereleaseDefaults(rp::UserDefaults& defaults, const std::string& shortVersion);
    // The parameters sent with each update check: dictionaries with "key", "value", "displayKey" and
    // "displayValue".
    static rp::PropertyArray feedParametersForUpdater(
        const rp::UserDefaults& defaults, const std::string& buildString);
};
