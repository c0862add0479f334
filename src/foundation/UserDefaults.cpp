#include "foundation/UserDefaults.h"

#include "BuildInfo.h"
#include "foundation/Logger.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rp {

namespace {

// A preferences file is small; anything larger is not ours.
constexpr off_t maximumFileSize = 8 << 20;

std::string errnoText(int error)
{
    return std::strerror(error);
}

// Reads the whole file; none with `error` set when it cannot. `missing` tells a missing file apart.
std::optional<std::vector<uint8_t>> readSmallFile(
    const std::filesystem::path& path, bool& missing, std::string& error)
{
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        error = errnoText(errno);
        return std::nullopt;
    }
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = "not a regular file";
        ::close(fd);
        return std::nullopt;
    }
    if (status.st_size > maximumFileSize) {
        error = "file too large";
        ::close(fd);
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error = errnoText(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        if (bytes.size() + static_cast<size_t>(count) > static_cast<size_t>(maximumFileSize)) {
            error = "file too large";
            ::close(fd);
            return std::nullopt;
        }
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    ::close(fd);
    return bytes;
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        written += static_cast<size_t>(count);
    }
    return true;
}

} // namespace

UserDefaults::UserDefaults(std::filesystem::path file, NotificationCenter& center)
    : file_(std::move(file))
    , center_(center)
{
    load();
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults defaults(defaultFilePath());
    return defaults;
}

std::filesystem::path UserDefaults::defaultFilePath()
{
    const std::string fileName = std::string(RP_APP_IDENTIFIER) + ".plist";
    if (const char* folder = std::getenv("RATTLEPAN_DEFAULTS_DIR"); folder != nullptr && *folder != '\0') {
        return std::filesystem::path(folder) / fileName;
    }
    // XDG: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
        return std::filesystem::path(config) / "rattlepan" / fileName;
    }
    std::filesystem::path home;
    if (const char* value = std::getenv("HOME"); value != nullptr && *value != '\0') {
        home = value;
    } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        home = entry->pw_dir;
    } else {
        home = std::filesystem::temp_directory_path();
    }
    return home / ".config" / "rattlepan" / fileName;
}

void UserDefaults::load()
{
    bool missing = false;
    std::string error;
    auto bytes = readSmallFile(file_, missing, error);
    if (!bytes && missing) {
        return;
    }
    if (bytes) {
        auto root = PropertyValue::fromBinaryPropertyList(*bytes, &error);
        if (root && root->getIf<PropertyDictionary>() != nullptr) {
            for (auto& [key, value] : *root->getIf<PropertyDictionary>()) {
                if (!value.containsNull()) { // values we cannot represent are dropped
                    stored_.emplace(key, value);
                }
            }
            return;
        }
        if (root) {
            error = "top level is not a dictionary";
        }
    }
    logf("UserDefaults: ignoring unreadable defaults file %s (%s); starting empty", file_.c_str(),
        error.c_str());
    badFileKept_ = true;
}

std::optional<PropertyValue> UserDefaults::lookup(const std::string& key) const
{
    if (auto found = stored_.find(key); found != stored_.end()) {
        return found->second;
    }
    if (auto found = registered_.find(key); found != registered_.end()) {
        return found->second;
    }
    return std::nullopt;
}

void UserDefaults::registerDefaults(const PropertyDictionary& defaults)
{
    std::vector<std::string> changed;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, value] : defaults) {
            if (value.containsNull()) {
                continue;
            }
            const auto before = lookup(key);
            registered_[key] = value;
            if (before != lookup(key)) {
                changed.push_back(key);
            }
        }
    }
    for (const auto& key : changed) {
        center_.post(DidChangeNotification, this, key);
    }
}

std::optional<PropertyValue> UserDefaults::objectForKey(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    return lookup(key);
}

bool UserDefaults::boolForKey(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto value = lookup(key);
    return value && value->toBool();
}

int64_t UserDefaults::integerForKey(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto value = lookup(key);
    return value ? value->toInteger() : 0;
}

double UserDefaults::doubleForKey(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto value = lookup(key);
    return value ? value->toReal() : 0.0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto value = lookup(key);
    return value ? value->toStringValue() : std::nullopt;
}

namespace {
template <typename T> std::optional<T> exactly(const std::optional<PropertyValue>& value)
{
    if (value) {
        if (const T* typed = value->getIf<T>()) {
            return *typed;
        }
    }
    return std::nullopt;
}
} // namespace

std::optional<PropertyData> UserDefaults::dataForKey(const std::string& key) const
{
    return exactly<PropertyData>(objectForKey(key));
}

std::optional<PropertyArray> UserDefaults::arrayForKey(const std::string& key) const
{
    return exactly<PropertyArray>(objectForKey(key));
}

std::optional<PropertyDictionary> UserDefaults::dictionaryForKey(const std::string& key) const
{
    return exactly<PropertyDictionary>(objectForKey(key));
}

std::optional<PropertyDate> UserDefaults::dateForKey(const std::string& key) const
{
    return exactly<PropertyDate>(objectForKey(key));
}

bool UserDefaults::hasStoredValue(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    return stored_.count(key) != 0;
}

PropertyDictionary UserDefaults::dictionaryRepresentation() const
{
    std::lock_guard lock(mutex_);
    PropertyDictionary result = stored_;
    result.insert(registered_.begin(), registered_.end()); // keeps stored values where both exist
    return result;
}

void UserDefaults::setBool(bool value, const std::string& key)
{
    changeStored(key, PropertyValue(value));
}

void UserDefaults::setInteger(int64_t value, const std::string& key)
{
    changeStored(key, PropertyValue(value));
}

void UserDefaults::setDouble(double value, const std::string& key)
{
    changeStored(key, PropertyValue(value));
}

void UserDefaults::setString(const std::string& value, const std::string& key)
{
    changeStored(key, PropertyValue(value));
}

void UserDefaults::setData(const PropertyData& value, const std::string& key)
{
    changeStored(key, PropertyValue(value));
}

bool UserDefaults::setObject(const PropertyValue& value, const std::string& key)
{
    if (value.isNull()) {
        changeStored(key, std::nullopt);
        return true;
    }
    if (value.containsNull()) {
        logf("UserDefaults: refusing to store a value with an empty element for key %s", key.c_str());
        return false;
    }
    changeStored(key, value);
    return true;
}

void UserDefaults::removeObjectForKey(const std::string& key)
{
    changeStored(key, std::nullopt);
}

void UserDefaults::changeStored(const std::string& key, const std::optional<PropertyValue>& value)
{
    bool storedChanged = false;
    bool effectiveChanged = false;
    {
        std::lock_guard lock(mutex_);
        const auto before = lookup(key);
        auto found = stored_.find(key);
        if (value) {
            if (found == stored_.end() || !(found->second == *value)) {
                stored_[key] = *value;
                storedChanged = true;
            }
        } else if (found != stored_.end()) {
            stored_.erase(found);
            storedChanged = true;
        }
        if (storedChanged) {
            ++generation_;
            effectiveChanged = before != lookup(key);
        }
    }
    if (storedChanged) {
        synchronize();
    }
    if (effectiveChanged) {
        center_.post(DidChangeNotification, this, key);
    }
}

bool UserDefaults::synchronize()
{
    std::lock_guard saveLock(saveMutex_);
    PropertyDictionary snapshot;
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        if (generation_ == savedGeneration_) {
            return true;
        }
        snapshot = stored_;
        generation = generation_;
    }
    if (!writeFile(snapshot)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    savedGeneration_ = std::max(savedGeneration_, generation);
    return true;
}

bool UserDefaults::writeFile(const PropertyDictionary& stored)
{
    // Caller holds saveMutex_, which also guards badFileKept_ after construction.
    const std::string path = file_.string();
    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error) {
        logf("UserDefaults: could not save %s: %s", path.c_str(), error.message().c_str());
        return false;
    }
    if (badFileKept_) {
        const std::string aside = path + ".bad";
        if (::rename(path.c_str(), aside.c_str()) != 0 && errno != ENOENT) {
            logf("UserDefaults: could not move the unreadable defaults file aside to %s: %s", aside.c_str(),
                errnoText(errno).c_str());
            return false;
        }
        badFileKept_ = false;
    }
    const auto bytes = PropertyValue(stored).toBinaryPropertyList();
    if (!bytes) {
        logf(
            "UserDefaults: could not save %s: the values cannot be written as a property list", path.c_str());
        return false;
    }
    std::string temporary = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        logf("UserDefaults: could not save %s: %s", path.c_str(), errnoText(errno).c_str());
        return false;
    }
    const bool written = writeAll(fd, *bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int failure = !written ? writeError : errno;
        ::unlink(temporary.c_str());
        logf("UserDefaults: could not save %s: %s", path.c_str(), errnoText(failure).c_str());
        return false;
    }
    // Make the rename itself durable.
    const int folder = ::open(file_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void UserDefaults::addObserverForKey(
    const void* observer, const std::string& key, std::function<void(const std::string& key)> handler)
{
    if (!handler) {
        return;
    }
    center_.addObserver(observer, DidChangeNotification, this,
        [key, handler = std::move(handler)](const Notification& notification) {
            const auto* changed = std::any_cast<std::string>(&notification.userInfo);
            if (changed != nullptr && *changed == key) {
                handler(key);
            }
        });
}

void UserDefaults::removeKeyObservers(const void* observer)
{
    center_.removeObserver(observer, DidChangeNotification, this);
}

} // namespace rp
