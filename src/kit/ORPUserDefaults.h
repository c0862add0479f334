#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace rp {
class UserDefaults;
}

// File locations kept in the user defaults as bookmarks, so that a moved file is found again.
class ORPUserDefaults {
public:
    static constexpr const char* kDefaultDrumKitBookmarkKey = "RPDefaultDrumKitBookmark";
    static constexpr const char* kExportDirectoryBookmarkKey = "RPExportDirectoryBookmark";

    // The store used (the standard store unless a test installed another). Registers the default
    // of RPDefaultDrumKitBookmark on first use of each store.
    static rp::UserDefaults& defaults();
    // Installs another store (null: the standard one again).
    static void setDefaults(rp::UserDefaults* store);

    // Resolves the bookmark under `key`; a stale bookmark is replaced by a fresh one. None when
    // there is no bookmark or it does not resolve.
    static std::optional<std::filesystem::path> fileURLForKey(const std::string& key);
    // Stores a bookmark of `url` under `key`; none removes the key. False when no bookmark could
    // be made (the file does not exist).
    static bool setFileURL(const std::optional<std::filesystem::path>& url, const std::string& key);

    static std::optional<std::filesystem::path> defaultDrumKitURL();
    static bool setDefaultDrumKitURL(const std::optional<std::filesystem::path>& url);
    static std::optional<std::filesystem::path> exportDirectoryURL();
    static bool setExportDirectoryURL(const std::optional<std::filesystem::path>& url);

    // The application's resources: $RATTLEPAN_RESOURCES_DIR, else <executable>/../share/rattlepan
    // when it exists, else the build's resources folder.
    static std::filesystem::path applicationResourcesDirectory();
    // The folder of example content inside the resources (localised "ORP_DrumKitDirectoryName").
    static std::filesystem::path exampleResourcesDirectoryURL();
    // The example kit: <examples>/<localised "ORP_DefaultDrumKitName">.rpkit
    static std::filesystem::path exampleDrumKitURL();

    // The localised text of a resource-name key, with the English names as fallback.
    static std::string exampleDirectoryName();
    static std::string defaultDrumKitName();
};
