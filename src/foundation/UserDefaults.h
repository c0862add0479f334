#pragma once

#include "foundation/NotificationCenter.h"
#include "foundation/PropertyValue.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace rp {

// The per-user preferences store: typed values by key, read from and saved to a binary property list.
// A value set by the user (stored) wins over a registered default; registered defaults live only in
// memory and never overwrite stored values. Every change is saved at once, atomically (written aside,
// synced, renamed over the old file).
//
// Reads and writes are thread-safe (the playback thread reads a few booleans). Change notifications
// and key observers run on the thread that made the change, after the store's lock is released.
class UserDefaults {
public:
    // Posted with this store as object and the key (std::string) as user info, whenever the value a
    // key reads changes.
    static constexpr const char* DidChangeNotification = "RPUserDefaultsDidChangeNotification";

    // Loads `file` if it exists. An unreadable or malformed file is logged and ignored: the store
    // starts empty and the bad file is kept, renamed to "<name>.bad" when the store first saves.
    explicit UserDefaults(
        std::filesystem::path file, NotificationCenter& center = NotificationCenter::defaultCenter());
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The application's store, at defaultFilePath().
    static UserDefaults& standard();
    // $RATTLEPAN_DEFAULTS_DIR, else $XDG_CONFIG_HOME/rattlepan, else ~/.config/rattlepan; the file is
    // named after the application identifier.
    static std::filesystem::path defaultFilePath();
    const std::filesystem::path& filePath() const { return file_; }

    // Adds (or replaces) registered defaults. Null values are ignored.
    void registerDefaults(const PropertyDictionary& defaults);

    std::optional<PropertyValue> objectForKey(const std::string& key) const;
    bool boolForKey(const std::string& key) const;
    int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<PropertyData> dataForKey(const std::string& key) const;
    std::optional<PropertyArray> arrayForKey(const std::string& key) const;
    std::optional<PropertyDictionary> dictionaryForKey(const std::string& key) const;
    std::optional<PropertyDate> dateForKey(const std::string& key) const;
    // True when the key has a stored (not merely registered) value.
    bool hasStoredValue(const std::string& key) const;
    // Registered defaults overlaid with stored values.
    PropertyDictionary dictionaryRepresentation() const;

    void setBool(bool value, const std::string& key);
    void setInteger(int64_t value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setString(const std::string& value, const std::string& key);
    void setData(const PropertyData& value, const std::string& key);
    // A null value removes the key; a value with a null inside is refused (false, logged).
    bool setObject(const PropertyValue& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Saves unsaved changes (a save that failed earlier is retried). True when the file is up to date.
    bool synchronize();

    // Calls the handler whenever the value the key reads changes. Removed by removeKeyObservers or by
    // removing the observer from the notification centre.
    void addObserverForKey(
        const void* observer, const std::string& key, std::function<void(const std::string& key)> handler);
    void removeKeyObservers(const void* observer);

private:
    std::optional<PropertyValue> lookup(const std::string& key) const; // caller holds mutex_
    void load();
    void changeStored(const std::string& key, const std::optional<PropertyValue>& value);
    bool writeFile(const PropertyDictionary& stored);

    const std::filesystem::path file_;
    NotificationCenter& center_;

    mutable std::mutex mutex_; // guards the dictionaries and counters
    PropertyDictionary registered_;
    PropertyDictionary stored_;
    uint64_t generation_ = 0; // bumped by every change to stored_
    uint64_t savedGeneration_ = 0; // the generation the file holds
    bool badFileKept_ = false; // a bad file is still at file_ and must be moved aside first

    std::mutex saveMutex_; // serialises writers so an older snapshot never replaces a newer one
};

} // namespace rp
