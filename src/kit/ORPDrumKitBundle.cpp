// Kit bundles on disk: the kit file with its header, the Sounds folder of embedded sounds, linked
// sounds with their remembered substitutes, and the interactive search for missing sounds.

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/BuildVersion.h"
#include "foundation/FileReference.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/Prompt.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPUserDefaults.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Kit files hold an uncompressed archive; anything larger than the archive limit is not a kit.
constexpr uintmax_t kMaximumKitFileBytes = rp::KeyedUnarchiver::maximumArchiveSize + 4096;
// File names of embedded sounds stay well inside the usual 255-byte limit.
constexpr size_t kMaximumSoundBaseNameBytes = 200;
// The search for missing sounds looks at no more entries than this.
constexpr size_t kMaximumSearchEntries = 200000;
// A safe save writes into a scratch folder of this name (plus six random characters) beside the
// bundle; the saver holds a lock on it, so one without a lock was left by a save that died.
constexpr char kSaveScratchPrefix[] = ".rpkit-save-";
// Inside the scratch folder: the old bundle while the new one takes its place (when the two cannot
// be swapped in one step), as this prefix plus the bundle's name.
constexpr char kPreviousBundlePrefix[] = ".previous-";

// Replaces the first "%d" of a localised format with a number.
std::string formatCount(const std::string& english, long long count)
{
    std::string text = rp::localized(english);
    const auto at = text.find("%d");
    if (at != std::string::npos) {
        text.replace(at, 2, std::to_string(count));
    }
    return text;
}

void appendBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t readBigEndian32(const std::vector<uint8_t>& bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) << 24 | static_cast<uint32_t>(bytes[offset + 1]) << 16
        | static_cast<uint32_t>(bytes[offset + 2]) << 8 | static_cast<uint32_t>(bytes[offset + 3]);
}

bool fileExists(const fs::path& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

bool linkedSoundIsMissing(const ORPDrum& drum)
{
    if (!drum.linkAudioOnly()) {
        return false;
    }
    const OASoundPtr& sound = drum.storedSound();
    if (!sound) {
        return false;
    }
    return !sound->soundFileURL() || !fileExists(*sound->soundFileURL());
}

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string truncateUTF8(std::string text, size_t limit)
{
    if (text.size() <= limit) {
        return text;
    }
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

// The base file name of an embedded sound: the display name with slashes as hyphens, without NUL
// bytes, never empty, and short enough for a file name.
std::string soundBaseName(const ORPDrum& drum)
{
    std::string name = drum.compositeName();
    std::replace(name.begin(), name.end(), '/', '-');
    name.erase(std::remove(name.begin(), name.end(), '\0'), name.end());
    name = truncateUTF8(std::move(name), kMaximumSoundBaseNameBytes);
    if (name.empty()) {
        name = rp::localized("untitled");
    }
    return name;
}

// True when a name read from a kit file is a plain file name: it cannot reach outside the folder.
bool isPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos && name.size() <= 255;
}

// True when `path`, with every symbolic link resolved, lies inside `folder`: a link inside a bundle
// that points elsewhere does not count as part of the bundle.
bool resolvesInside(const fs::path& folder, const fs::path& path)
{
    std::error_code error;
    const fs::path base = fs::weakly_canonical(folder, error);
    if (error) {
        return false;
    }
    const fs::path resolved = fs::weakly_canonical(path, error);
    if (error) {
        return false;
    }
    auto [inBase, inResolved] = std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end());
    return inBase == base.end() && inResolved != resolved.end();
}

// True unless `path` names something other than a regular file: a named pipe or a device in place
// of a sound file would stall or never end when read.
bool isRegularFileOrMissing(const fs::path& path)
{
    std::error_code error;
    const fs::file_type type = fs::status(path, error).type();
    return type == fs::file_type::regular || type == fs::file_type::not_found;
}

// Holds an exclusive lock on a folder while it lives.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
    {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return fd_ >= 0; }
    // True when the folder at `folder` is still the one that was locked.
    bool stillAt(const fs::path& folder) const
    {
        struct stat held { };
        struct stat there { };
        return fd_ >= 0 && ::fstat(fd_, &held) == 0 && ::lstat(folder.c_str(), &there) == 0
            && held.st_dev == there.st_dev && held.st_ino == there.st_ino;
    }

private:
    int fd_;
};

// Removes the scratch folders that saves killed part-way left in `parent`. A scratch folder still
// locked belongs to a save that is running and is left alone. An old bundle found in one (the save
// died between moving the old bundle aside and moving the new one in) goes back to its place.
void removeAbandonedSaveFolders(const fs::path& parent)
{
    std::error_code error;
    std::vector<fs::path> abandoned;
    const size_t nameLength = std::strlen(kSaveScratchPrefix) + 6;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code statusError;
        if (name.size() == nameLength && name.starts_with(kSaveScratchPrefix)
            && it->symlink_status(statusError).type() == fs::file_type::directory) {
            abandoned.push_back(it->path());
        }
    }
    for (const auto& scratch : abandoned) {
        FolderLock lock(scratch);
        if (!lock.locked() || !lock.stillAt(scratch)) {
            continue;
        }
        for (fs::directory_iterator it(scratch, error), end; !error && it != end; it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.starts_with(kPreviousBundlePrefix) && name.size() > std::strlen(kPreviousBundlePrefix)) {
                const fs::path home = parent / name.substr(std::strlen(kPreviousBundlePrefix));
                std::error_code statusError;
                if (!fs::exists(fs::symlink_status(home, statusError))) {
                    ::rename(it->path().c_str(), home.c_str());
                }
            }
        }
        rp::logf("ORPDrumKit: removing %s left by an interrupted save", scratch.c_str());
        fs::remove_all(scratch, error);
    }
}

rp::Error invalidKitError(const fs::path& url)
{
    rp::Error error = rp::Error::make(rp::kErrorInvalidFile,
        "'%@' is not a valid Rattlepan drum kit file, or may be corrupt.", url.filename().string(),
        "It is not a valid Rattlepan drum kit file.");
    error.url = rp::fileURLFromPath(url.string());
    return error;
}

void setError(rp::Error* out, rp::Error error)
{
    if (out) {
        *out = std::move(error);
    }
}

std::optional<std::vector<uint8_t>> readWholeFile(const fs::path& path, rp::Error* error)
{
    // Non-blocking, so a named pipe in place of the kit file cannot stall the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        setError(error, rp::Error::posix(errno, path.string()));
        return std::nullopt;
    }
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        setError(error, rp::Error::posix(EINVAL, path.string()));
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int saved = errno;
            ::close(fd);
            setError(error, rp::Error::posix(saved, path.string()));
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        if (bytes.size() + static_cast<size_t>(got) > kMaximumKitFileBytes) {
            ::close(fd);
            setError(error, rp::Error::posix(EFBIG, path.string()));
            return std::nullopt;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(fd);
    return bytes;
}

// Writes `bytes` to a new file and flushes it to disk; false (errno set) on any failure.
bool writeWholeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        return false;
    }
    return true;
}

std::string substitutionKey(const fs::path& linkedSoundURL)
{
    return rp::fileURLFromPath(fs::absolute(linkedSoundURL).lexically_normal().string());
}

// The remembered substitute: none when there is no entry; `forget` is set when there is an entry
// that no longer resolves.
std::optional<fs::path> lookUpSurrogate(const fs::path& linkedSoundURL, bool* unresolved)
{
    rp::UserDefaults& store = ORPUserDefaults::defaults();
    auto dictionary = store.dictionaryForKey(ORPDrumKit::kSubstitutionsKey);
    if (!dictionary) {
        return std::nullopt;
    }
    const std::string key = substitutionKey(linkedSoundURL);
    auto entry = dictionary->find(key);
    if (entry == dictionary->end()) {
        return std::nullopt;
    }
    const rp::PropertyData* bookmark = entry->second.getIf<rp::PropertyData>();
    if (!bookmark) {
        if (unresolved) {
            *unresolved = true;
        }
        return std::nullopt;
    }
    bool stale = false;
    auto resolved = rp::FileReference::resolve(*bookmark, &stale);
    if (!resolved) {
        if (unresolved) {
            *unresolved = true;
        }
        return std::nullopt;
    }
    if (stale) {
        if (auto fresh = rp::FileReference::bookmarkData(*resolved)) {
            entry->second = rp::PropertyValue(*fresh);
            store.setObject(rp::PropertyValue(*dictionary), ORPDrumKit::kSubstitutionsKey);
        }
    }
    return resolved;
}

} // namespace

fs::path URLByEnsuringUniqueLocalFilename(const fs::path& url)
{
    std::error_code error;
    if (!fs::exists(fs::symlink_status(url, error))) {
        return url;
    }
    const std::string base = url.stem().string();
    std::string extension = url.extension().string();
    if (!extension.empty()) {
        extension.erase(0, 1);
    }
    fs::path candidate;
    for (int counter = 2; counter <= 999; ++counter) {
        std::string name = base + " " + std::to_string(counter);
        if (!extension.empty()) {
            name += "." + extension;
        }
        candidate = url.parent_path() / name;
        if (!fs::exists(fs::symlink_status(candidate, error))) {
            break;
        }
    }
    return candidate;
}

fs::path ORPDrumKit::soundDirectoryForKitBundleURL(const fs::path& bundle)
{
    return bundle / kSoundsFolderName;
}

std::vector<uint8_t> ORPDrumKit::flatDataRepresentation()
{
    regenerateDrumsFromHierarchy();
    std::vector<uint8_t> archive = rp::KeyedArchiver::archivedDataWithRootObject(shared_from_this());
    if (archive.empty()) {
        rp::logf("ORPDrumKit failed to archive kit %s", kitName().c_str());
        return {};
    }
    std::vector<uint8_t> out(kKitFileMagic, kKitFileMagic + kKitFileMagicLength);
    appendBigEndian32(out, kKitCompatibilityVersion);
    appendBigEndian32(out, rp::currentBuildVersionCode());
    const std::string version = rp::currentShortVersion();
    out.insert(out.end(), version.begin(), version.end());
    out.push_back(0);
    out.insert(out.end(), archive.begin(), archive.end());
    return out;
}

bool ORPDrumKit::writeToPath(const fs::path& bundlePath)
{
    std::error_code error;
    if (!fs::create_directory(bundlePath, error)) {
        if (!error) {
            error = std::make_error_code(std::errc::file_exists);
        }
        rp::logf("ORPDrumKit failed to create %s: %s", bundlePath.c_str(), error.message().c_str());
        return false;
    }
    const fs::path sounds = soundDirectoryForKitBundleURL(bundlePath);
    if (!fs::create_directory(sounds, error)) {
        if (!error) {
            error = std::make_error_code(std::errc::file_exists);
        }
        rp::logf("ORPDrumKit failed to create %s: %s", sounds.c_str(), error.message().c_str());
        return false;
    }

    regenerateDrumsFromHierarchy();
    int missing = 0;
    for (const auto& drum : drums_) {
        OASoundPtr sound = drum->sound();
        if (!drum->storedSound()) {
            drum->setSound(sound);
        }
        if (drum->linkAudioOnly()) {
            sound->setSavesFileReference(true);
            if (!sound->soundFileURL() || !fileExists(*sound->soundFileURL())) {
                ++missing;
                sound->setName(std::string());
            }
            continue;
        }
        sound->setSavesFileReference(false);
        FourCharCode fileType = sound->sourceAudioFileType();
        std::optional<std::string> extension
            = fileType ? OASound::fileExtensionForType(fileType) : std::nullopt;
        if (!extension) {
            // A sound without a file of its own (an old embedded block) is written as AIFF.
            fileType = kAudioFileAIFFType;
            extension = OASound::fileExtensionForType(fileType).value_or("aiff");
        }
        const fs::path target
            = URLByEnsuringUniqueLocalFilename(sounds / (soundBaseName(*drum) + "." + *extension));
        rp::Error writeError;
        if (!sound->writeToURL(target, fileType, sound->sourceAudioStreamDescription(), &writeError)) {
            rp::logf("ORPDrumKit failed to write sound %s: %s", target.c_str(), writeError.text().c_str());
            return false;
        }
        sound->setSoundFileURL(target);
        sound->setName(target.filename().string());
    }

    const std::vector<uint8_t> flat = flatDataRepresentation();
    fs::path kitFile = bundlePath / bundlePath.filename();
    kitFile.replace_extension(kKitExtension);
    if (flat.empty()) {
        return false;
    }
    if (!writeWholeFile(kitFile, flat)) {
        rp::logf("ORPDrumKit failed to write %s: %s", kitFile.c_str(), std::strerror(errno));
        return false;
    }

    if (missing > 0) {
        rp::Prompt::Alert alert;
        alert.title = formatCount("Linked sound files for %d drum(s) could not be found.", missing);
        alert.message
            = rp::localized("You can try to search for them automatically by choosing \"Fix Links\".");
        alert.buttons = { rp::localized("Continue") };
        alert.style = rp::Prompt::AlertStyle::Critical;
        rp::Prompt::current().runAlert(alert);
    }
    return true;
}

bool ORPDrumKit::saveToPath(const fs::path& bundlePath)
{
    fs::path parent = bundlePath.parent_path();
    if (parent.empty()) {
        parent = ".";
    }
    removeAbandonedSaveFolders(parent);
    // The lock marks the scratch folder as in use for as long as this save runs (a killed
    // process drops it). A folder removed by another save between its creation and the lock is
    // made again.
    // Held through a pointer: GCC 12 wrongly reports an optional's destructor reading an
    // uninitialised descriptor at -O2.
    std::unique_ptr<FolderLock> lock;
    std::string pattern;
    for (int attempt = 0; attempt < 10 && !(lock && lock->locked()); ++attempt) {
        pattern = (parent / (std::string(kSaveScratchPrefix) + "XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) {
            rp::logf("ORPDrumKit failed to create %s: %s", pattern.c_str(), std::strerror(errno));
            return false;
        }
        lock = std::make_unique<FolderLock>(pattern);
        if (lock->locked() && !lock->stillAt(pattern)) {
            lock.reset();
        }
    }
    if (!lock || !lock->locked()) {
        rp::logf("ORPDrumKit failed to lock %s", pattern.c_str());
        return false;
    }
    const fs::path scratch = pattern;
    const fs::path written = scratch / bundlePath.filename();
    std::error_code error;
    // Writing moves the sounds to the scratch bundle; a failed save puts them back.
    struct SoundState {
        OASoundPtr sound;
        std::optional<fs::path> url;
        std::string name;
        bool savesFileReference;
    };
    std::vector<SoundState> before;
    for (const auto& drum : drums_) {
        if (const OASoundPtr& sound = drum->storedSound()) {
            before.push_back(
                { sound, sound->soundFileURL(), sound->storedName(), sound->savesFileReference() });
        }
    }
    auto cleanUp = [&] { fs::remove_all(scratch, error); };
    auto restore = [&] {
        for (const auto& state : before) {
            if (state.sound->soundFileURL() != state.url) {
                state.sound->setSoundFileURL(state.url);
            }
            state.sound->setName(state.name);
            state.sound->setSavesFileReference(state.savesFileReference);
        }
    };

    if (!writeToPath(written)) {
        cleanUp();
        restore();
        return false;
    }
    if (fs::exists(fs::symlink_status(bundlePath, error))) {
        // Swap the new bundle and the old one in one step, then drop the old one.
        if (::renameat2(AT_FDCWD, written.c_str(), AT_FDCWD, bundlePath.c_str(), RENAME_EXCHANGE) != 0) {
            const fs::path previous
                = scratch / (std::string(kPreviousBundlePrefix) + bundlePath.filename().string());
            if (::rename(bundlePath.c_str(), previous.c_str()) != 0) {
                rp::logf("ORPDrumKit failed to replace %s: %s", bundlePath.c_str(), std::strerror(errno));
                cleanUp();
                restore();
                return false;
            }
            if (::rename(written.c_str(), bundlePath.c_str()) != 0) {
                rp::logf("ORPDrumKit failed to replace %s: %s", bundlePath.c_str(), std::strerror(errno));
                ::rename(previous.c_str(), bundlePath.c_str());
                cleanUp();
                restore();
                return false;
            }
        }
    } else if (::rename(written.c_str(), bundlePath.c_str()) != 0) {
        rp::logf("ORPDrumKit failed to move %s: %s", bundlePath.c_str(), std::strerror(errno));
        cleanUp();
        restore();
        return false;
    }
    cleanUp();
    updateSoundFilePathsForKitURL(bundlePath);
    return true;
}

void ORPDrumKit::updateSoundFilePathsForKitURL(const fs::path& bundle)
{
    const fs::path sounds = soundDirectoryForKitBundleURL(bundle);
    for (const auto& drum : drums_) {
        const OASoundPtr& sound = drum->storedSound();
        if (!sound || drum->linkAudioOnly() || !sound->soundFileURL()) {
            continue;
        }
        sound->setSoundFileURL(sounds / sound->soundFileURL()->filename());
    }
}

int ORPDrumKit::missingLinkedSoundCount() const
{
    return static_cast<int>(std::count_if(
        drums_.begin(), drums_.end(), [](const ORPDrumPtr& drum) { return linkedSoundIsMissing(*drum); }));
}

ORPDrumKitPtr ORPDrumKit::drumKitFromURL(
    const fs::path& url, bool interactivelyResolveLinks, rp::Error* error)
{
    registerArchiveClasses();
    fs::path kitFile = url;
    std::error_code fsError;
    if (fs::is_directory(url, fsError)) {
        std::vector<fs::path> candidates;
        for (fs::directory_iterator it(url, fsError), end; !fsError && it != end; it.increment(fsError)) {
            if (it->path().extension() != std::string(".") + kKitExtension) {
                continue;
            }
            if (!resolvesInside(url, it->path())) {
                rp::logf("ORPDrumKit: ignoring %s, which lies outside the bundle", it->path().c_str());
                continue;
            }
            candidates.push_back(it->path());
        }
        if (candidates.empty()) {
            return nullptr;
        }
        kitFile = *std::min_element(candidates.begin(), candidates.end());
    }

    auto bytes = readWholeFile(kitFile, error);
    if (!bytes) {
        return nullptr;
    }

    if (bytes->size() >= kKitFileMagicLength + 8
        && std::memcmp(bytes->data(), kKitFileMagic, kKitFileMagicLength) == 0) {
        const uint32_t compatibility = readBigEndian32(*bytes, 23);
        const uint32_t savedWith = readBigEndian32(*bytes, 27);
        size_t archiveStart = 31;
        std::string versionString;
        if (compatibility >= kKitCompatibilityVersion) {
            auto end = std::find(bytes->begin() + 31, bytes->end(), uint8_t { 0 });
            if (end == bytes->end()) {
                setError(error, invalidKitError(url));
                return nullptr;
            }
            versionString.assign(bytes->begin() + 31, end);
            archiveStart = static_cast<size_t>(end - bytes->begin()) + 1;
        }
        const uint32_t current = rp::currentBuildVersionCode();
        if (compatibility > current) {
            rp::logf("%s failed: current version %s, compatibility version %s, saved with version %s",
                "ORPDrumKit", rp::formatBuildVersionCode(current).c_str(),
                rp::formatBuildVersionCode(compatibility).c_str(),
                rp::formatBuildVersionCode(savedWith).c_str());
            rp::Error newer = rp::Error::make(rp::kErrorNewerVersion,
                "'%@' was created with a newer version of Rattlepan, and can't be opened.",
                url.filename().string(), "It was created with a newer version of Rattlepan.",
                "This drum kit was created with Rattlepan %@. You may wish to upgrade to the latest version.",
                versionString);
            newer.url = rp::fileURLFromPath(url.string());
            setError(error, std::move(newer));
            return nullptr;
        }
        std::string decodeError;
        auto root = rp::KeyedUnarchiver::unarchiveObjectWithData(
            std::span<const uint8_t>(*bytes).subspan(archiveStart), &decodeError);
        auto kit = root && root->archiveClassName() == "ORPDrumKit"
            ? std::dynamic_pointer_cast<ORPDrumKit>(root)
            : nullptr;
        if (!kit) {
            rp::logf("ORPDrumKit failed to decode %s: %s", kitFile.c_str(),
                decodeError.empty() ? "the archive does not hold a drum kit" : decodeError.c_str());
            setError(error, invalidKitError(url));
            return nullptr;
        }
        if (savedWith > current) {
            rp::logf("%s warning: current version %s, compatibility version %s, saved with version %s",
                "ORPDrumKit", rp::formatBuildVersionCode(current).c_str(),
                rp::formatBuildVersionCode(compatibility).c_str(),
                rp::formatBuildVersionCode(savedWith).c_str());
            rp::Prompt::Alert alert;
            alert.title = rp::localizedFormat(
                "'%@' was created with a newer version of Rattlepan.", { url.filename().string() });
            alert.message = rp::localizedFormat(
                "This song was created with Rattlepan %@. Some information may be lost.", { versionString });
            alert.buttons = { rp::localized("Continue") };
            rp::Prompt::current().runAlert(alert);
        }
        kit->buildVersionSavedWith_ = savedWith;

        const fs::path sounds = soundDirectoryForKitBundleURL(url);
        bool broken = false;
        for (const auto& drum : kit->drums_) {
            const OASoundPtr& sound = drum->storedSound();
            if (!sound) {
                continue;
            }
            if (!drum->linkAudioOnly()) {
                if (sound->hasLegacyEmbeddedBuffer()) {
                    continue;
                }
                const std::string name = sound->storedName();
                if (!isPlainFileName(name)) {
                    rp::logf("ORPDrumKit: embedded sound name \"%s\" of %s is not a file name in the Sounds "
                             "folder; the drum has no sound file",
                        name.c_str(), drum->compositeName().c_str());
                    sound->setSoundFileURL(std::nullopt);
                    continue;
                }
                if (!resolvesInside(url, sounds / name) || !isRegularFileOrMissing(sounds / name)) {
                    rp::logf("ORPDrumKit: embedded sound \"%s\" of %s lies outside the bundle or is not a "
                             "regular file; the drum has no sound file",
                        name.c_str(), drum->compositeName().c_str());
                    sound->setSoundFileURL(std::nullopt);
                    continue;
                }
                sound->setSoundFileURL(sounds / name);
                continue;
            }
            if (!interactivelyResolveLinks) {
                continue;
            }
            const auto& linked = sound->soundFileURL();
            if (linked && fileExists(*linked)) {
                continue;
            }
            if (!linked) {
                broken = true;
                continue;
            }
            bool unresolved = false;
            auto surrogate = lookUpSurrogate(*linked, &unresolved);
            if (surrogate && fileExists(*surrogate)) {
                sound->setSoundFileURL(surrogate);
                continue;
            }
            if (surrogate || unresolved) {
                setSurrogateURL(std::nullopt, *linked);
            }
            broken = true;
        }
        if (broken && kit->fixBrokenLinksInteractively() != 0) {
            rp::Error missing = rp::Error::make(rp::kErrorKitSoundsMissing,
                "'%@' couldn't be opened because some sounds are missing.", url.filename().string(),
                "Some sounds are missing.",
                "To use this drum kit with a song, you must first locate all referenced sounds.");
            missing.filePath = url.string();
            missing.url = rp::fileURLFromPath(url.string());
            setError(error, std::move(missing));
            return nullptr;
        }
        return kit;
    }

    if (rp::TypedStreamDecoder::hasSignature(*bytes)) {
        std::string decodeError;
        auto root = rp::TypedStreamDecoder::unarchiveObjectWithData(*bytes, &decodeError);
        if (root && root->archiveClassName() == "ORPDrumKit") {
            if (auto kit = std::dynamic_pointer_cast<ORPDrumKit>(root)) {
                return kit;
            }
        }
        rp::logf("ORPDrumKit failed to decode %s: %s", kitFile.c_str(),
            decodeError.empty() ? "the archive does not hold a drum kit" : decodeError.c_str());
    }
    setError(error, invalidKitError(url));
    return nullptr;
}

std::string ORPDrumKit::defaultFixLinksPrompt()
{
    std::string prompt = rp::localized("{{default fix links prompt}}");
    if (prompt == "{{default fix links prompt}}") {
        prompt = "Choose a folder that holds the missing sounds. Rattlepan searches it and every "
                 "folder inside it for files of the same names.";
    }
    return prompt;
}

int ORPDrumKit::fixBrokenLinksInteractively()
{
    const int missing = missingLinkedSoundCount();
    if (missing == 0) {
        return 0;
    }
    rp::Prompt::Alert alert;
    alert.title = formatCount("Linked sound files for %d drum(s) need to be located.", missing);
    const auto prompt = fixLinksPrompt();
    if (prompt && !prompt->empty()) {
        alert.message = *prompt;
    } else {
        alert.message = defaultFixLinksPrompt();
    }
    alert.buttons = { rp::localized("Continue") };
    rp::Prompt::current().runAlert(alert);

    rp::Prompt::Choice choice;
    choice.prompt = rp::localized("Search");
    choice.message = rp::localized("Select a Folder to Search");
    auto folder = rp::Prompt::current().chooseFolder(choice);
    if (!folder) {
        return -1;
    }

    // Every item below the folder, as paths relative to it; symbolic links are not followed so a
    // link loop cannot trap the search.
    std::vector<fs::path> listed;
    std::error_code error;
    for (fs::recursive_directory_iterator it(*folder, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        if (listed.size() == kMaximumSearchEntries) {
            rp::logf("ORPDrumKit: stopped searching %s after %zu items", folder->c_str(), listed.size());
            break;
        }
        listed.push_back(it->path().lexically_relative(*folder));
    }
    std::sort(listed.begin(), listed.end());

    int stillMissing = 0;
    for (const auto& drum : drums_) {
        if (!linkedSoundIsMissing(*drum)) {
            continue;
        }
        const OASoundPtr& sound = drum->storedSound();
        if (!sound->soundFileURL()) {
            ++stillMissing;
            continue;
        }
        const fs::path old = *sound->soundFileURL();
        const fs::path wanted = old.filename();
        auto found = std::find_if(listed.begin(), listed.end(),
            [&](const fs::path& relative) { return relative.filename() == wanted; });
        if (found == listed.end()) {
            ++stillMissing;
            continue;
        }
        const fs::path replacement = *folder / *found;
        sound->setSoundFileURL(replacement);
        sound->setSavesFileReference(true);
        setSurrogateURL(replacement, old);
    }
    return stillMissing;
}

std::optional<fs::path> ORPDrumKit::surrogateURLForLinkedSoundURL(const std::optional<fs::path>& url)
{
    if (!url) {
        return std::nullopt;
    }
    return lookUpSurrogate(*url, nullptr);
}

void ORPDrumKit::setSurrogateURL(const std::optional<fs::path>& surrogate, const fs::path& linkedSoundURL)
{
    rp::UserDefaults& store = ORPUserDefaults::defaults();
    rp::PropertyDictionary dictionary
        = store.dictionaryForKey(kSubstitutionsKey).value_or(rp::PropertyDictionary {});
    const std::string key = substitutionKey(linkedSoundURL);
    if (surrogate) {
        rp::Error error;
        auto bookmark = rp::FileReference::bookmarkData(*surrogate, &error);
        if (!bookmark) {
            rp::logf(
                "ORPDrumKit failed to create bookmark for %s: %s", surrogate->c_str(), error.text().c_str());
            return;
        }
        dictionary[key] = rp::PropertyValue(*bookmark);
    } else {
        dictionary.erase(key);
    }
    store.setObject(rp::PropertyValue(dictionary), kSubstitutionsKey);
}
