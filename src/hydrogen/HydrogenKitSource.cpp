#include "hydrogen/HydrogenKitSource.h"

#include "hydrogen/HydrogenFiles.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace rp::hydrogen {

namespace {

struct ArchiveCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

// A file name of our own for an archive entry's copy: its last component with anything but
// letters, digits and ". _ - ( ) +" and spaces replaced.
std::string safeFileName(const std::string& entryName)
{
    std::string name = entryName.substr(entryName.find_last_of('/') + 1);
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || u >= 0x80 || c == '.' || c == '_' || c == '-' || c == ' ' || c == '('
                || c == ')' || c == '+'))
            c = '_';
    }
    if (name.empty() || name == "." || name == "..")
        name = "file";
    return name.substr(0, 200);
}

std::string errorText(archive* a)
{
    const char* text = archive_error_string(a);
    return text ? text : "unknown error";
}

} // namespace

std::optional<std::string> normalisedRelativeName(const std::string& name)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return std::nullopt;
    std::string slashes = name;
    for (char& c : slashes) {
        if (c == '\\')
            c = '/';
    }
    if (slashes.front() == '/')
        return std::nullopt;
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= slashes.size()) {
        const size_t end = std::min(slashes.find('/', start), slashes.size());
        const std::string part = slashes.substr(start, end - start);
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            parts.push_back(part);
        start = end + 1;
    }
    if (parts.empty())
        return std::nullopt;
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : "/") + part;
    return out;
}

KitSource::KitSource(const fs::path& source)
{
    std::error_code error;
    const auto status = fs::status(source, error);
    if (error || !fs::exists(status))
        throw ImportError("there is no Hydrogen kit at " + source.string(), source);
    if (fs::is_directory(status)) {
        folder_ = source;
        xmlPath_ = source / "drumkit.xml";
        if (!fs::exists(xmlPath_, error))
            throw ImportError(
                source.string() + " is not a Hydrogen drumkit folder (it has no drumkit.xml)", source);
        xml_ = readXmlFile(xmlPath_);
        return;
    }
    if (!fs::is_regular_file(status))
        throw ImportError(source.string() + " is not a regular file", source);
    if (source.extension() == ".xml") {
        folder_ = source.parent_path().empty() ? fs::path(".") : source.parent_path();
        xmlPath_ = source;
        xml_ = readXmlFile(source);
        return;
    }
    try {
        openArchive(source);
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        std::error_code ignored;
        if (!scratch_.empty())
            fs::remove_all(scratch_, ignored);
        throw;
    }
}

KitSource::~KitSource()
{
    if (!scratch_.empty()) {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }
}

void KitSource::openArchive(const fs::path& path)
{
    const std::string name = path.filename().string();
    std::error_code error;
    const uint64_t archiveSize = fs::file_size(path, error);
    std::unique_ptr<archive, ArchiveCloser> reader(archive_read_new());
    if (!reader)
        throw ImportError("cannot read archives (out of memory)", path);
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_format_gnutar(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) {
        throw ImportError(name + " is not a Hydrogen drumkit archive: " + errorText(reader.get()), path);
    }
    const fs::path base = fs::temp_directory_path(error);
    std::string pattern = ((error ? fs::path("/tmp") : base) / "rp-h2kit-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw ImportError(std::string("cannot make a temporary folder: ") + std::strerror(errno), path);
    scratch_ = pattern;

    auto refuse
        = [&](const std::string& why) -> void { throw ImportError(name + " is refused: " + why, path); };
    uint64_t total = 0;
    size_t entries = 0;
    std::string xmlEntry;
    std::vector<char> buffer(64 * 1024);
    archive_entry* entry = nullptr;
    while (true) {
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN && entries == 0) {
            throw ImportError(name + " is not a Hydrogen drumkit archive: " + errorText(reader.get()), path);
        }
        if (status < ARCHIVE_WARN)
            refuse(std::string("it is damaged (") + errorText(reader.get()) + ")");
        if (++entries > kMaxArchiveEntries)
            refuse("it holds more than " + std::to_string(kMaxArchiveEntries) + " entries");
        const char* rawName = archive_entry_pathname(entry);
        if (!rawName || !*rawName)
            refuse("an entry has no name");
        const std::string entryName = rawName;
        const std::string shown = "\"" + entryName.substr(0, 120) + "\"";
        if (entryName.front() == '/' || entryName.front() == '\\')
            refuse("the entry " + shown + " has an absolute path");
        const auto normal = normalisedRelativeName(entryName);
        if (!normal) {
            // "./" alone names the archive's top folder; anything else without a name climbs out.
            if (entryName.find("..") != std::string::npos)
                refuse("the entry " + shown + " climbs out of the archive with \"..\"");
            continue;
        }
        if (archive_entry_hardlink(entry) || archive_entry_symlink(entry))
            refuse("the entry " + shown + " is a link");
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR)
            continue;
        if (type != AE_IFREG)
            refuse("the entry " + shown + " is not a regular file");

        const fs::path copy = scratch_ / std::to_string(entries) / safeFileName(*normal);
        fs::create_directory(copy.parent_path(), error);
        const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            throw ImportError("cannot write a temporary file: " + std::string(std::strerror(errno)), path);
        while (true) {
            const la_ssize_t got = archive_read_data(reader.get(), buffer.data(), buffer.size());
            if (got == 0)
                break;
            if (got < 0) {
                ::close(fd);
                refuse("the entry " + shown + " is damaged (" + errorText(reader.get()) + ")");
            }
            total += static_cast<uint64_t>(got);
            if (total > kMaxArchiveBytes
                || (total > kBombFloorBytes
                    && total > kMaxExpansionRatio * std::max<uint64_t>(archiveSize, 1))) {
                ::close(fd);
                refuse("it expands to more than a drumkit can hold");
            }
            size_t written = 0;
            while (written < static_cast<size_t>(got)) {
                const ssize_t w = ::write(fd, buffer.data() + written, static_cast<size_t>(got) - written);
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0) {
                    ::close(fd);
                    throw ImportError(
                        "cannot write a temporary file: " + std::string(std::strerror(errno)), path);
                }
                written += static_cast<size_t>(w);
            }
        }
        ::close(fd);
        archiveFiles_[*normal] = copy;
        // The shallowest drumkit.xml is the kit's.
        if (normal->substr(normal->find_last_of('/') + 1) == "drumkit.xml") {
            const auto depth = [](const std::string& n) { return std::count(n.begin(), n.end(), '/'); };
            if (xmlEntry.empty() || depth(*normal) < depth(xmlEntry))
                xmlEntry = *normal;
        }
    }
    if (xmlEntry.empty())
        throw ImportError(name + " is not a Hydrogen drumkit archive (it holds no drumkit.xml)", path);
    archiveBase_ = xmlEntry.substr(0, xmlEntry.size() - std::string("drumkit.xml").size());
    xmlPath_ = path / xmlEntry;
    xml_ = readXmlFile(archiveFiles_.at(xmlEntry));
}

std::optional<fs::path> KitSource::resolve(const std::string& filename, std::string& why) const
{
    const auto normal = normalisedRelativeName(filename);
    if (!normal) {
        why = "its name \"" + filename.substr(0, 120) + "\" leaves the kit";
        return std::nullopt;
    }
    if (!scratch_.empty()) {
        const auto found = archiveFiles_.find(archiveBase_ + *normal);
        if (found == archiveFiles_.end()) {
            why = "the archive does not hold it";
            return std::nullopt;
        }
        return found->second;
    }
    const fs::path file = folder_ / *normal;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        why = fs::exists(file, error) ? "it is not a regular file" : "it is missing";
        return std::nullopt;
    }
    return file;
}

} // namespace rp::hydrogen
