#include "editor/ORPAppLaunch.h"

#include "foundation/BuildVersion.h"
#include "foundation/Error.h"
#include "foundation/FileReference.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPUserDefaults.h"

#include <limits>

namespace {

constexpr const char* kDefaultSongFileNameKey = "ORP_DefaultSongFileName";

// The stored build code as the unsigned code it stands for. A hostile or damaged store may hold
// anything: nothing usable counts as "never launched", a value beyond 32 bits as a newer build.
uint32_t storedBuildCode(const rp::UserDefaults& defaults)
{
    const int64_t value = defaults.integerForKey(ORPAppLaunch::kBuildIdentifierKey);
    if (value <= 0) {
        return 0;
    }
    if (value > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(value);
}

void openHelp(ORPHelpBook& help, const std::string& page)
{
    if (const int status = help.openHelpPage(page); status != 0) {
        rp::logf("Error %d launching help book", status);
    }
}

} // namespace

std::string ORPAppLaunch::defaultSongFileName()
{
    const std::string text = rp::localized(kDefaultSongFileNameKey);
    return text == kDefaultSongFileNameKey ? std::string("Rattlepan Example Song.rpsong") : text;
}

std::filesystem::path ORPAppLaunch::exampleSongURL()
{
    return ORPUserDefaults::exampleResourcesDirectoryURL() / defaultSongFileName();
}

std::vector<std::filesystem::path> ORPAppLaunch::documentsToReopen(const rp::UserDefaults& defaults)
{
    const auto stored = defaults.objectForKey(kPreviouslyOpenDocumentBookmarksKey);
    if (!stored) {
        return { exampleSongURL() };
    }
    std::vector<std::filesystem::path> files;
    const auto* bookmarks = stored->getIf<rp::PropertyArray>();
    if (!bookmarks) {
        return files; // present but not a list: a damaged store opens nothing
    }
    for (const rp::PropertyValue& entry : *bookmarks) {
        const auto* bytes = entry.getIf<rp::PropertyData>();
        if (!bytes) {
            continue;
        }
        if (auto file = rp::FileReference::resolve(*bytes)) {
            files.push_back(std::move(*file));
        }
    }
    return files;
}

void ORPAppLaunch::reopenDocuments(const std::vector<std::filesystem::path>& files,
    const std::function<std::optional<rp::Error>(const std::filesystem::path&)>& open)
{
    for (const auto& file : files) {
        if (const auto error = open(file)) {
            rp::logf("Failed to re-open document: %s", error->text().c_str());
        }
    }
}

void ORPAppLaunch::storeOpenDocumentBookmarks(
    rp::UserDefaults& defaults, const std::vector<std::filesystem::path>& documentFiles)
{
    rp::PropertyArray bookmarks;
    for (const auto& file : documentFiles) {
        if (file.empty()) {
            continue;
        }
        if (auto bytes = rp::FileReference::bookmarkData(file)) {
            bookmarks.emplace_back(std::move(*bytes));
        }
    }
    defaults.setObject(rp::PropertyValue(std::move(bookmarks)), kPreviouslyOpenDocumentBookmarksKey);
}

ORPAppLaunch::BuildGreeting ORPAppLaunch::greetBuild(
    rp::UserDefaults& defaults, uint32_t applicationBuildCode, ORPSuppressibleAlert& alert, ORPHelpBook& help)
{
    const uint32_t stored = storedBuildCode(defaults);
    if (stored == 0) {
        ORPSuppressibleAlert::Request request;
        request.message = rp::localized("Welcome to Rattlepan!");
        request.informativeText = rp::localized("You can find example song and drum kit files, as well as a "
                                                "full Rattlepan User's Guide, accessible from the Help menu.");
        request.buttons = { rp::localized("OK"), rp::localized("Open User's Guide") };
        request.suppressionChecked = true;
        const ORPSuppressibleAlert::Answer answer = alert.run(request);
        if (answer.button == 1) {
            openHelp(help, "");
        }
        // Cleared, nothing is stored and the welcome comes again next time.
        if (answer.suppressionChecked) {
            defaults.setInteger(applicationBuildCode, kBuildIdentifierKey);
        }
        return BuildGreeting::Welcome;
    }

    BuildGreeting shown = BuildGreeting::None;
    if (stored < rp::parseBuildVersionCode(kReleaseHistoryBuild)) {
        openHelp(help, kReleaseHistoryPage);
        shown = BuildGreeting::ReleaseHistory;
    }
    if (stored < applicationBuildCode) {
        defaults.setInteger(applicationBuildCode, kBuildIdentifierKey);
    }
    return shown;
}

bool ORPAppLaunch::isPrereleaseVersion(const std::string& shortVersion)
{
    return shortVersion.find("\xCE\xB2") != std::string::npos; // U+03B2 in UTF-8
}

void ORPAppLaunch::registerPrereleaseDefaults(rp::UserDefaults& defaults, const std::string& shortVersion)
{
    if (isPrereleaseVersion(shortVersion)) {
        defaults.registerDefaults({ { kSparkleGetTestBuildsKey, true } });
    }
}

rp::PropertyArray ORPAppLaunch::feedParametersForUpdater(
    const rp::UserDefaults& defaults, const std::string& buildString)
{
    rp::PropertyArray parameters;
    parameters.emplace_back(rp::PropertyDictionary {
        { "key", "appVersion" },
        { "value", buildString },
        { "displayKey", rp::localized("Application Build") },
        { "displayValue", buildString },
    });
    if (defaults.boolForKey(kSparkleGetTestBuildsKey)) {
        parameters.emplace_back(rp::PropertyDictionary {
            { "key", "testBuilds" },
            { "value", true },
            { "displayKey", rp::localized("Pre-release Builds") },
            { "displayValue", rp::localized("Yes") },
        });
    }
    return parameters;
}
