#pragma once

// Helpers for the Hydrogen import tests: where hydrogen-data keeps its kits and songs, small
// drumkit.xml and .h2song texts with tiny samples, and archives made with libarchive.

#include "audio/OASoundTestSupport.h"
#include "support/TestSupport.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace rp::test {

inline const std::filesystem::path kHydrogenData = "/usr/share/hydrogen/data";

inline bool haveHydrogenData()
{
    return std::filesystem::exists(kHydrogenData / "drumkits" / "GMRockKit" / "drumkit.xml")
        && std::filesystem::exists(kHydrogenData / "demo_songs" / "GM_kit_demo1.h2song");
}

inline void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A 0.05 s mono WAV.
inline void writeSample(const std::filesystem::path& path)
{
    std::filesystem::create_directories(path.parent_path());
    writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, sine(220, 44100, 2205));
}

// One instrument of a drumkit.xml; `layers` are (file, min, max).
struct TestInstrument {
    using Layers = std::vector<std::tuple<std::string, double, double>>;
    TestInstrument(int id_, std::string name_, Layers layers_, int muteGroup_ = -1, int midiOutNote_ = -1,
        std::string extra_ = {})
        : id(id_)
        , name(std::move(name_))
        , layers(std::move(layers_))
        , muteGroup(muteGroup_)
        , midiOutNote(midiOutNote_)
        , extra(std::move(extra_))
    {
    }
    int id;
    std::string name;
    Layers layers;
    int muteGroup;
    int midiOutNote;
    std::string extra; // more XML inside <instrument>
};

inline std::string instrumentXml(const TestInstrument& instrument)
{
    std::string xml = "  <instrument>\n   <id>" + std::to_string(instrument.id) + "</id>\n   <name>"
        + instrument.name
        + "</name>\n   <volume>1</volume>\n   <gain>1</gain>\n   <pan>0</pan>\n   <muteGroup>"
        + std::to_string(instrument.muteGroup) + "</muteGroup>\n   <midiOutNote>"
        + std::to_string(instrument.midiOutNote) + "</midiOutNote>\n" + instrument.extra
        + "   <instrumentComponent>\n    <component_id>0</component_id>\n    <gain>1</gain>\n";
    for (const auto& [file, min, max] : instrument.layers) {
        xml += "    <layer><filename>" + file + "</filename><min>" + std::to_string(min) + "</min><max>"
            + std::to_string(max) + "</max><gain>1</gain><pitch>0</pitch></layer>\n";
    }
    return xml + "   </instrumentComponent>\n  </instrument>\n";
}

inline std::string drumkitXml(const std::string& name, const std::vector<TestInstrument>& instruments)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<drumkit_info "
                      "xmlns=\"http://www.hydrogen-music.org/drumkit\">\n <name>"
        + name + "</name>\n <author>Tester</author>\n <instrumentList>\n";
    for (const auto& instrument : instruments)
        xml += instrumentXml(instrument);
    return xml + " </instrumentList>\n</drumkit_info>\n";
}

// Writes a kit folder with drumkit.xml and a sample for every layer file name without a "/".
inline void writeKitFolder(const std::filesystem::path& folder, const std::string& name,
    const std::vector<TestInstrument>& instruments)
{
    writeText(folder / "drumkit.xml", drumkitXml(name, instruments));
    for (const auto& instrument : instruments) {
        for (const auto& layer : instrument.layers) {
            const std::string& file = std::get<0>(layer);
            if (file.find('/') == std::string::npos && file.find("missing") == std::string::npos)
                writeSample(folder / file);
        }
    }
}

// One entry of a test archive: a regular file with contents, a directory, a symbolic or hard link
// (to `target`), or a file that claims `zeros` bytes of zeros (streamed, for expansion bombs).
struct ArchiveItem {
    enum Kind { File, Directory, Symlink, Hardlink, Zeros };
    ArchiveItem(std::string name_, std::string contents_ = {}, Kind kind_ = File, std::string target_ = {},
        size_t zeros_ = 0)
        : name(std::move(name_))
        , contents(std::move(contents_))
        , kind(kind_)
        , target(std::move(target_))
        , zeros(zeros_)
    {
    }
    std::string name;
    std::string contents;
    Kind kind;
    std::string target;
    size_t zeros;
};

// Writes a gzip-compressed tar.
inline void writeArchive(const std::filesystem::path& path, const std::vector<ArchiveItem>& items)
{
    archive* writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    archive_write_open_filename(writer, path.c_str());
    for (const auto& item : items) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.c_str());
        archive_entry_set_perm(entry, 0644);
        switch (item.kind) {
        case ArchiveItem::Directory:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case ArchiveItem::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, item.target.c_str());
            break;
        case ArchiveItem::Hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, item.target.c_str());
            break;
        case ArchiveItem::Zeros:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, static_cast<la_int64_t>(item.zeros));
            break;
        case ArchiveItem::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, static_cast<la_int64_t>(item.contents.size()));
            break;
        }
        archive_write_header(writer, entry);
        if (item.kind == ArchiveItem::File) {
            archive_write_data(writer, item.contents.data(), item.contents.size());
        } else if (item.kind == ArchiveItem::Zeros) {
            const std::vector<char> block(1 << 20, 0);
            for (size_t done = 0; done < item.zeros; done += block.size())
                archive_write_data(writer, block.data(), std::min(block.size(), item.zeros - done));
        }
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
}

// Every path under `folder`, for checking that nothing was written where it should not be.
inline std::set<std::string> treeOf(const std::filesystem::path& folder)
{
    std::set<std::string> out;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        out.insert(std::filesystem::relative(it->path(), folder).string());
    return out;
}

// Points the system's temporary folder (TMPDIR) at a fresh folder for as long as it lives, so that
// what the importer unpacks there can be checked without other processes' files in the way.
class ScopedTemporaryFolder {
public:
    explicit ScopedTemporaryFolder(const std::filesystem::path& folder)
        : folder_(folder)
    {
        std::filesystem::create_directories(folder);
        if (const char* previous = std::getenv("TMPDIR"))
            previous_ = previous;
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~ScopedTemporaryFolder()
    {
        if (previous_)
            ::setenv("TMPDIR", previous_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    ScopedTemporaryFolder(const ScopedTemporaryFolder&) = delete;
    ScopedTemporaryFolder& operator=(const ScopedTemporaryFolder&) = delete;

    // What is left in the folder.
    std::set<std::string> leftovers() const { return treeOf(folder_); }

private:
    std::filesystem::path folder_;
    std::optional<std::string> previous_;
};

} // namespace rp::test
