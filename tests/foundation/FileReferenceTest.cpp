#include "foundation/FileReference.h"

#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;

namespace {

void touch(const fs::path& path, const std::string& text = "x")
{
    std::ofstream(path) << text;
}

std::vector<uint8_t> bookmarkOf(const fs::path& path, const fs::path& relativeTo = {})
{
    rp::Error error;
    auto bytes = rp::FileReference::bookmarkData(path, &error, relativeTo);
    EXPECT_TRUE(bytes) << error.text();
    return bytes.value_or(std::vector<uint8_t> {});
}

struct Resolved {
    std::optional<fs::path> path;
    bool stale = false;
    rp::Error error;
};

Resolved resolve(const std::vector<uint8_t>& bytes, const fs::path& relativeTo = {})
{
    Resolved r;
    r.path = rp::FileReference::resolve(bytes, &r.stale, &r.error, relativeTo);
    return r;
}

// The other platform's bookmark layout, little-endian: header of 48 bytes, then (offsets counted
// from the header's end) the first TOC's offset, data records and a TOC listing the path array.
std::vector<uint8_t> platformBookmark(const std::vector<std::string>& components)
{
    std::vector<uint8_t> body(4, 0); // offset of the first TOC, filled in below
    auto le32 = [](std::vector<uint8_t>& v, uint32_t x) {
        for (int i = 0; i < 4; ++i)
            v.push_back(uint8_t(x >> (8 * i)));
    };
    auto record = [&](uint32_t type, const std::vector<uint8_t>& data) {
        uint32_t at = uint32_t(body.size());
        le32(body, uint32_t(data.size()));
        le32(body, type);
        body.insert(body.end(), data.begin(), data.end());
        while (body.size() % 4)
            body.push_back(0);
        return at;
    };
    std::vector<uint8_t> offsets;
    for (const auto& c : components)
        le32(offsets, record(0x0101, std::vector<uint8_t>(c.begin(), c.end())));
    uint32_t volume = record(0x0101, { '/' });
    uint32_t array = record(0x0601, offsets);
    uint32_t toc = uint32_t(body.size());
    le32(body, 20 + 2 * 12 - 8);
    le32(body, 0xFFFFFFFE);
    le32(body, 1);
    le32(body, 0);
    le32(body, 2);
    for (auto [key, offset] : { std::pair<uint32_t, uint32_t> { 0x1004, array }, { 0x2002, volume } }) {
        le32(body, key);
        le32(body, offset);
        le32(body, 0);
    }
    body[0] = uint8_t(toc);
    body[1] = uint8_t(toc >> 8);
    std::vector<uint8_t> out { 'b', 'o', 'o', 'k' };
    le32(out, uint32_t(48 + body.size()));
    le32(out, 0x10040000);
    le32(out, 48);
    out.resize(48, 0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A version-3 alias record with the given tagged fields.
std::vector<uint8_t> aliasV3(const std::vector<std::pair<uint16_t, std::string>>& tags)
{
    std::vector<uint8_t> out(58, 0);
    out[7] = 3;
    for (const auto& [tag, value] : tags) {
        out.insert(out.end(),
            { uint8_t(tag >> 8), uint8_t(tag), uint8_t(value.size() >> 8), uint8_t(value.size()) });
        out.insert(out.end(), value.begin(), value.end());
        if (value.size() & 1)
            out.push_back(0);
    }
    out.insert(out.end(), { 0xFF, 0xFF, 0, 0 });
    out[4] = uint8_t(out.size() >> 8);
    out[5] = uint8_t(out.size());
    return out;
}

} // namespace

TEST(FileReference, ResolvesUnmovedFilesAndFoldersAsFresh)
{
    rp::test::TempDir dir;
    touch(dir / "song.rpsong");
    fs::create_directories(dir / "Example.rpkit" / "Sounds");
    for (const fs::path& target : { dir / "song.rpsong", dir / "Example.rpkit" }) {
        auto bytes = bookmarkOf(target);
        EXPECT_EQ(rp::FileReference::formatOf(bytes), rp::FileReference::Format::Ours);
        EXPECT_EQ(rp::FileReference::pathStoredInBookmark(bytes), target);
        auto r = resolve(bytes);
        EXPECT_EQ(r.path, target);
        EXPECT_FALSE(r.stale);
    }
    // A relative path is stored as an absolute one.
    auto cwd = fs::current_path();
    fs::current_path(dir.path());
    auto bytes = bookmarkOf("song.rpsong");
    fs::current_path(cwd);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(bytes), dir / "song.rpsong");
}

TEST(FileReference, FollowsRenamedAndMovedFilesAndFolders)
{
    rp::test::TempDir dir;
    fs::create_directories(dir / "Music" / "Kits");
    fs::create_directories(dir / "Music" / "Example.rpkit" / "Sounds");
    touch(dir / "Music" / "Example.rpkit" / "Sounds" / "kick.wav");
    touch(dir / "Music" / "song.rpsong");
    auto kit = bookmarkOf(dir / "Music" / "Example.rpkit");
    auto sound = bookmarkOf(dir / "Music" / "Example.rpkit" / "Sounds" / "kick.wav");
    auto song = bookmarkOf(dir / "Music" / "song.rpsong");

    // The kit bundle moves into a sibling folder and is renamed; the sound inside goes with it.
    fs::rename(dir / "Music" / "Example.rpkit", dir / "Music" / "Kits" / "Mine.rpkit");
    auto r = resolve(kit);
    EXPECT_EQ(r.path, dir / "Music" / "Kits" / "Mine.rpkit");
    EXPECT_TRUE(r.stale);
    r = resolve(sound);
    EXPECT_EQ(r.path, dir / "Music" / "Kits" / "Mine.rpkit" / "Sounds" / "kick.wav");
    EXPECT_TRUE(r.stale);

    // Renamed in place.
    fs::rename(dir / "Music" / "song.rpsong", dir / "Music" / "renamed.rpsong");
    r = resolve(song);
    EXPECT_EQ(r.path, dir / "Music" / "renamed.rpsong");
    EXPECT_TRUE(r.stale);

    // The fresh bytes of the answer resolve without staleness.
    auto fresh = bookmarkOf(*r.path);
    r = resolve(fresh);
    EXPECT_EQ(r.path, dir / "Music" / "renamed.rpsong");
    EXPECT_FALSE(r.stale);

    // Moved up out of a folder that was then deleted.
    fs::create_directories(dir / "Deep" / "Inner");
    touch(dir / "Deep" / "Inner" / "take.rpsong");
    auto take = bookmarkOf(dir / "Deep" / "Inner" / "take.rpsong");
    fs::rename(dir / "Deep" / "Inner" / "take.rpsong", dir / "take.rpsong");
    fs::remove_all(dir / "Deep");
    r = resolve(take);
    EXPECT_EQ(r.path, dir / "take.rpsong");
    EXPECT_TRUE(r.stale);
}

TEST(FileReference, ReplacedFilesKeepTheirPathButAreStale)
{
    rp::test::TempDir dir;
    touch(dir / "song.rpsong", "old");
    auto bytes = bookmarkOf(dir / "song.rpsong");
    // A save that writes aside and renames gives the path a new inode.
    touch(dir / "song.rpsong.tmp", "new");
    fs::rename(dir / "song.rpsong.tmp", dir / "song.rpsong");
    auto r = resolve(bytes);
    EXPECT_EQ(r.path, dir / "song.rpsong");
    EXPECT_TRUE(r.stale);
}

TEST(FileReference, DeletedFilesFailButKeepTheirStoredPath)
{
    rp::test::TempDir dir;
    touch(dir / "gone.wav");
    auto bytes = bookmarkOf(dir / "gone.wav");
    fs::remove(dir / "gone.wav");
    touch(dir / "other.wav"); // a different file in the same folder is not taken for it
    auto r = resolve(bytes);
    EXPECT_FALSE(r.path);
    EXPECT_EQ(r.error.domain, rp::kPosixErrorDomain);
    EXPECT_EQ(r.error.code, ENOENT);
    EXPECT_NE(r.error.description.find("gone.wav"), std::string::npos);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(bytes), dir / "gone.wav");

    rp::Error error;
    EXPECT_FALSE(rp::FileReference::bookmarkData(dir / "never.wav", &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST(FileReference, SearchForMovedFilesIsBounded)
{
    rp::test::TempDir dir;
    fs::create_directories(dir / "a");
    touch(dir / "a" / "loop.wav");
    auto bytes = bookmarkOf(dir / "a" / "loop.wav");
    fs::path far = dir / "b" / "c" / "d" / "e" / "f";
    fs::create_directories(far);
    fs::rename(dir / "a" / "loop.wav", far / "renamed.wav");
    auto r = resolve(bytes);
    EXPECT_FALSE(r.path);
    EXPECT_EQ(r.error.code, ENOENT);
    // A folder symlinked into itself does not trap the search.
    fs::create_directory_symlink(dir.path(), dir / "a" / "loop");
    EXPECT_FALSE(resolve(bytes).path);
}

TEST(FileReference, RelativePathFindsCopiesInAMovedTree)
{
    rp::test::TempDir dir;
    fs::create_directories(dir / "a" / "Kit.rpkit" / "Sounds");
    touch(dir / "a" / "Kit.rpkit" / "Sounds" / "snare.wav");
    auto bytes = bookmarkOf(dir / "a" / "Kit.rpkit" / "Sounds" / "snare.wav", dir / "a" / "Kit.rpkit");
    // Copied (new inodes) elsewhere and the original removed: only the relative path finds it.
    fs::copy(dir / "a", dir / "b", fs::copy_options::recursive);
    fs::remove_all(dir / "a");
    EXPECT_FALSE(resolve(bytes).path);
    auto r = resolve(bytes, dir / "b" / "Kit.rpkit");
    EXPECT_EQ(r.path, dir / "b" / "Kit.rpkit" / "Sounds" / "snare.wav");
    EXPECT_TRUE(r.stale);
}

TEST(FileReference, ReadsThePathsOfPlatformBookmarksAndAliasRecords)
{
    rp::test::TempDir dir;
    touch(dir / "kit file");
    std::vector<std::string> components;
    for (const auto& part : (dir / "kit file").relative_path())
        components.push_back(part.string());

    auto book = platformBookmark(components);
    EXPECT_EQ(rp::FileReference::formatOf(book), rp::FileReference::Format::PlatformBookmark);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(book), dir / "kit file");
    auto r = resolve(book);
    EXPECT_EQ(r.path, dir / "kit file");
    EXPECT_TRUE(r.stale); // to be rewritten in our own form
    EXPECT_EQ(
        rp::FileReference::pathStoredInBookmark(platformBookmark({ "Users", "ann", "Kits", "Rock.rpkit" })),
        fs::path("/Users/ann/Kits/Rock.rpkit"));

    // Alias records: the POSIX path (joined to the volume's mount point), else the Carbon path.
    auto alias = aliasV3({ { 18, "/Users/ann/Rock.rpkit" }, { 19, "/Volumes/Backup" } });
    EXPECT_EQ(rp::FileReference::formatOf(alias), rp::FileReference::Format::AliasRecord);
    EXPECT_EQ(
        rp::FileReference::pathStoredInBookmark(alias), fs::path("/Volumes/Backup/Users/ann/Rock.rpkit"));
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(aliasV3({ { 2,
                  "Macintosh HD:Users:ann:a/b \x8E"
                  "t\x8E.rpkit" } })),
        fs::path("/Users/ann/a:b \xC3\xA9t\xC3\xA9.rpkit")); // Mac OS Roman 0x8E is e acute

    // A version-2 record written here carries the path, and reading it back finds the file.
    auto written = rp::FileReference::aliasRecordData(dir / "kit file");
    ASSERT_TRUE(written);
    EXPECT_EQ(rp::FileReference::formatOf(*written), rp::FileReference::Format::AliasRecord);
    EXPECT_EQ(rp::FileReference::pathFromAliasRecordData(*written), dir / "kit file");
    // Without the POSIX path tag the fixed fields still name the file.
    std::vector<uint8_t> bare(written->begin(), written->begin() + 150);
    bare.insert(bare.end(), { 0xFF, 0xFF, 0, 0 });
    bare[4] = 0;
    bare[5] = uint8_t(bare.size());
    EXPECT_EQ(rp::FileReference::pathFromAliasRecordData(bare), fs::path("/kit file"));
}

TEST(FileReference, GarbageAndDamagedBytesNeverCrash)
{
    rp::test::TempDir dir;
    touch(dir / "f");
    std::vector<std::vector<uint8_t>> seeds { bookmarkOf(dir / "f"), platformBookmark({ "tmp", "x" }),
        aliasV3({ { 18, "/tmp/x" } }), *rp::FileReference::aliasRecordData(dir / "f") };
    for (auto bytes : { std::vector<uint8_t> {}, std::vector<uint8_t> { 'R', 'P', 'f', 'r' },
             std::vector<uint8_t> { 'R', 'P', 'f', 'r', 1, 1, 0xFF, 0xFF, 0xFF, 0xFF },
             std::vector<uint8_t>(100, 0xFF),
             std::vector<uint8_t> { 'b', 'o', 'o', 'k', 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF } }) {
        auto r = resolve(bytes);
        EXPECT_FALSE(r.path);
        EXPECT_EQ(r.error.code, EINVAL);
        EXPECT_FALSE(rp::FileReference::pathStoredInBookmark(bytes));
    }
    std::mt19937 random(3);
    for (int round = 0; round < 2000; ++round) {
        auto bytes = seeds[size_t(round) % seeds.size()];
        for (int k = 0; k < 1 + round % 4; ++k)
            bytes[random() % bytes.size()] = uint8_t(random());
        if (round % 5 == 0)
            bytes.resize(random() % bytes.size());
        auto path = rp::FileReference::pathStoredInBookmark(bytes);
        if (path) {
            EXPECT_EQ(path->string().find('\0'), std::string::npos);
        }
        bool stale = false;
        rp::FileReference::resolve(bytes, &stale);
    }
}
