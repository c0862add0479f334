#include "kit/ORPUserDefaults.h"

#include "BuildInfo.h"
#include "foundation/FileReference.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/UserDefaults.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <unistd.h>

namespace {

std::atomic<rp::UserDefaults*> installedStore { nullptr };

std::string localizedName(const char* key, const char* english)
{
    std::string text = rp::localized(key);
    return text == key ? std::string(english) : text;
}

std::mutex registeredMutex;
std::set<rp::UserDefaults*> registeredStores;

void registerDefaultsOnce(rp::UserDefaults& store)
{
    std::lock_guard lock(registeredMutex);
    if (!registeredStores.insert(&store).second) {
        return;
    }
    const auto kit = ORPUserDefaults::exampleDrumKitURL();
    if (auto bookmark = rp::FileReference::bookmarkData(kit)) {
        store.registerDefaults({ { ORPUserDefaults::kDefaultDrumKitBookmarkKey, *bookmark } });
    }
}

std::filesystem::path executableDirectory()
{
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

} // namespace

rp::UserDefaults& ORPUserDefaults::defaults()
{
    rp::UserDefaults* store = installedStore.load();
    rp::UserDefaults& chosen = store ? *store : rp::UserDefaults::standard();
    registerDefaultsOnce(chosen);
    return chosen;
}

void ORPUserDefaults::setDefaults(rp::UserDefaults* store)
{
    {
        // A store installed anew (tests make one after another) registers its defaults again.
        std::lock_guard lock(registeredMutex);
        if (store) {
            registeredStores.erase(store);
        }
    }
    installedStore.store(store);
}

std::optional<std::filesystem::path> ORPUserDefaults::fileURLForKey(const std::string& key)
{
    rp::UserDefaults& store = defaults();
    auto bookmark = store.dataForKey(key);
    if (!bookmark) {
        return std::nullopt;
    }
    bool stale = false;
    rp::Error error;
    auto url = rp::FileReference::resolve(*bookmark, &stale, &error);
    if (!url) {
        return std::nullopt;
    }
    if (stale) {
        if (auto fresh = rp::FileReference::bookmarkData(*url)) {
            store.setData(*fresh, key);
        }
    }
    return url;
}

bool ORPUserDefaults::setFileURL(const std::optional<std::filesystem::path>& url, const std::string& key)
{
    rp::UserDefaults& store = defaults();
    if (!url) {
        store.removeObjectForKey(key);
        return true;
    }
    rp::Error error;
    auto bookmark = rp::FileReference::bookmarkData(*url, &error);
    if (!bookmark) {
        rp::logf("ORPUserDefaults failed to create bookmark for %s: %s", url->c_str(), error.text().c_str());
        return false;
    }
    store.setData(*bookmark, key);
    return true;
}

std::optional<std::filesystem::path> ORPUserDefaults::defaultDrumKitURL()
{
    return fileURLForKey(kDefaultDrumKitBookmarkKey);
}

bool ORPUserDefaults::setDefaultDrumKitURL(const std::optional<std::filesystem::path>& url)
{
    return setFileURL(url, kDefaultDrumKitBookmarkKey);
}

std::optional<std::filesystem::path> ORPUserDefaults::exportDirectoryURL()
{
    return fileURLForKey(kExportDirectoryBookmarkKey);
}

bool ORPUserDefaults::setExportDirectoryURL(const std::optional<std::filesystem::path>& url)
{
    return setFileURL(url, kExportDirectoryBookmarkKey);
}

std::filesystem::path ORPUserDefaults::applicationResourcesDirectory()
{
    if (const char* env = std::getenv("RATTLEPAN_RESOURCES_DIR"); env && *env) {
        return env;
    }
    const auto exe = executableDirectory();
    if (!exe.empty()) {
        const auto installed = exe.parent_path() / "share" / "rattlepan";
        std::error_code error;
        if (std::filesystem::is_directory(installed, error)) {
            return installed;
        }
    }
    return std::filesystem::path(RP_BINARY_DIR) / "resources";
}

std::string ORPUserDefaults::exampleDirectoryName()
{
    return localizedName("ORP_DrumKitDirectoryName", "Examples");
}

std::string ORPUserDefaults::defaultDrumKitName()
{
    return localizedName("ORP_DefaultDrumKitName", "Rattlepan Standard Kit");
}

std::filesystem::path ORPUserDefaults::exampleResourcesDirectoryURL()
{
    return applicationResourcesDirectory() / exampleDirectoryName();
}

std::filesystem::path ORPUserDefaults::exampleDrumKitURL()
{
    return exampleResourcesDirectoryURL() / (defaultDrumKitName() + ".rpkit");
}
