#include "foundation/FileReference.h"

#include "support/TestSupport.h"

#include <climits>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;

namespace {

void touch(const fs::path& path, const std::string& text = "x")
{
    fs::create_directories(path.parent_path());
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
std::vector<uint8_t> platformBookmark(const fs::path& path)
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
    for (const auto& part : path.relative_path()) {
        const std::string text = part.string();
        le32(offsets, record(0x0101, std::vector<uint8_t>(text.begin(), text.end())));
    }
    uint32_t volume = record(0x0101, { '/' });
    uint32_t array = record(0x0601, offsets);
    const uint32_t toc = uint32_t(body.size());
    // TOC: length, magic, id, next TOC, count, then (key, offset, flags) for the path and volume.
    for (uint32_t x : { 20u + 2 * 12 - 8, 0xFFFFFFFEu, 1u, 0u, 2u, 0x1004u, array, 0u, 0x2002u, volume, 0u })
        le32(body, x);
    body[0] = uint8_t(toc);
    body[1] = uint8_t(toc >> 8);
    std::vector<uint8_t> out { 'b', 'o', 'o', 'k' };
    for (uint32_t x : { uint32_t(48 + body.size()), 0x10040000u, 48u })
        le32(out, x);
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

TEST(FileReference, FollowsRenamedMovedAndReplacedFilesAndFoldersAndMarksThemStale)
{
    rp::test::TempDir dir;
    fs::create_directories(dir / "Music" / "Kits");
    touch(dir / "Music" / "Example.rpkit" / "Sounds" / "kick.wav");
    touch(dir / "Music" / "song.rpsong");
    touch(dir / "Deep" / "Inner" / "take.rpsong");
    auto kit = bookmarkOf(dir / "Music" / "Example.rpkit");
    auto sound = bookmarkOf(dir / "Music" / "Example.rpkit" / "Sounds" / "kick.wav");
    auto song = bookmarkOf(dir / "Music" / "song.rpsong");
    auto take = bookmarkOf(dir / "Deep" / "Inner" / "take.rpsong");
    for (const auto& bytes : { kit, song }) {
        auto r = resolve(bytes);
        EXPECT_EQ(r.path, rp::FileReference::pathStoredInBookmark(bytes));
        EXPECT_FALSE(r.stale);
    }

    // The kit bundle moves into a sibling folder and is renamed, the sound inside goes with it; a
    // song is renamed in place; a take moves up out of a folder that is then deleted.
    fs::rename(dir / "Music" / "Example.rpkit", dir / "Music" / "Kits" / "Mine.rpkit");
    fs::rename(dir / "Music" / "song.rpsong", dir / "Music" / "renamed.rpsong");
    fs::rename(dir / "Deep" / "Inner" / "take.rpsong", dir / "take.rpsong");
    fs::remove_all(dir / "Deep");
    const std::pair<const std::vector<uint8_t>&, fs::path> cases[] = {
        { kit, dir / "Music" / "Kits" / "Mine.rpkit" },
        { sound, dir / "Music" / "Kits" / "Mine.rpkit" / "Sounds" / "kick.wav" },
        { song, dir / "Music" / "renamed.rpsong" },
        { take, dir / "take.rpsong" },
    };
    for (const auto& [bytes, moved] : cases) {
        auto r = resolve(bytes);
        EXPECT_EQ(r.path, moved);
        EXPECT_TRUE(r.stale);
    }

    // A save that writes aside and renames gives the path a new inode: same path, but stale.
    auto fresh = bookmarkOf(dir / "take.rpsong");
    touch(dir / "take.tmp", "new");
    fs::rename(dir / "take.tmp", dir / "take.rpsong");
    auto r = resolve(fresh);
    EXPECT_EQ(r.path, dir / "take.rpsong");
    EXPECT_TRUE(r.stale);
}

TEST(FileReference, DeletedFilesFailTheSearchIsBoundedAndRelativePathsFindCopies)
{
    rp::test::TempDir dir;
    touch(dir / "a" / "loop.wav");
    touch(dir / "a" / "gone.wav");
    touch(dir / "a" / "Kit.rpkit" / "Sounds" / "snare.wav");
    auto loop = bookmarkOf(dir / "a" / "loop.wav");
    auto gone = bookmarkOf(dir / "a" / "gone.wav");
    auto snare = bookmarkOf(dir / "a" / "Kit.rpkit" / "Sounds" / "snare.wav", dir / "a" / "Kit.rpkit");

    // Deleted: a different file in the same folder is not taken for it; the stored path remains.
    fs::remove(dir / "a" / "gone.wav");
    touch(dir / "a" / "other.wav");
    auto r = resolve(gone);
    EXPECT_FALSE(r.path);
    EXPECT_EQ(std::pair(r.error.domain, r.error.code), std::pair(std::string(rp::kPosixErrorDomain), ENOENT));
    EXPECT_NE(r.error.description.find("gone.wav"), std::string::npos);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(gone), dir / "a" / "gone.wav");
    rp::Error error;
    EXPECT_FALSE(rp::FileReference::bookmarkData(dir / "never.wav", &error));
    EXPECT_EQ(error.code, ENOENT);

    // Moved five folders away it is not found, and a folder symlinked into itself does not trap
    // the search.
    fs::create_directories(dir / "b" / "c" / "d" / "e" / "f");
    fs::rename(dir / "a" / "loop.wav", dir / "b" / "c" / "d" / "e" / "f" / "renamed.wav");
    fs::create_directory_symlink(dir.path(), dir / "a" / "loop");
    EXPECT_FALSE(resolve(loop).path);

    // Copied (new inodes) elsewhere and the original removed: only the relative path finds it.
    fs::remove(dir / "a" / "loop");
    fs::copy(dir / "a", dir / "copy", fs::copy_options::recursive);
    fs::remove_all(dir / "a");
    EXPECT_FALSE(resolve(snare).path);
    r = resolve(snare, dir / "copy" / "Kit.rpkit");
    EXPECT_EQ(r.path, dir / "copy" / "Kit.rpkit" / "Sounds" / "snare.wav");
    EXPECT_TRUE(r.stale);
}

// A reference for a file that is not there: only its path, followed when something is there.
TEST(FileReference, PathOnlyReferencesNameFilesThatAreAway)
{
    rp::test::TempDir dir;
    const auto away = dir / "Kits" / "Studio.rpkit";
    auto bytes = rp::FileReference::pathOnlyBookmarkData(away);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(rp::FileReference::formatOf(*bytes), rp::FileReference::Format::Ours);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(*bytes), away);
    auto r = resolve(*bytes);
    EXPECT_FALSE(r.path);
    EXPECT_EQ(r.error.code, ENOENT);

    // Once something is at the path it is taken, stale so that callers store a full reference;
    // an unrelated file elsewhere is never searched for.
    touch(dir / "Elsewhere" / "Studio.rpkit");
    EXPECT_FALSE(resolve(*bytes).path);
    touch(away);
    r = resolve(*bytes);
    EXPECT_EQ(r.path, away);
    EXPECT_TRUE(r.stale);

    // Relative paths are made absolute; nothing, or a path too long for any file system, gives none.
    const auto relative = rp::FileReference::pathOnlyBookmarkData("Kits/../Kits/Studio.rpkit/");
    ASSERT_TRUE(relative);
    EXPECT_EQ(
        rp::FileReference::pathStoredInBookmark(*relative), fs::current_path() / "Kits" / "Studio.rpkit");
    EXPECT_FALSE(rp::FileReference::pathOnlyBookmarkData({}));
    EXPECT_FALSE(rp::FileReference::pathOnlyBookmarkData("/" + std::string(PATH_MAX + 1, 'x')));
}

TEST(FileReference, ReadsThePathsOfPlatformBookmarksAndAliasRecords)
{
    rp::test::TempDir dir;
    touch(dir / "kit file");
    auto r = resolve(platformBookmark(dir / "kit file"));
    EXPECT_EQ(r.path, dir / "kit file");
    EXPECT_TRUE(r.stale); // to be rewritten in our own form

    // Alias records: the POSIX path (joined to the volume's mount point), else the Carbon path.
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(
                  aliasV3({ { 18, "/Users/ann/Rock.rpkit" }, { 19, "/Volumes/Backup" } })),
        fs::path("/Volumes/Backup/Users/ann/Rock.rpkit"));
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(aliasV3({ { 2,
                  "Macintosh HD:Users:ann:a/b \x8E"
                  "t\x8E.rpkit" } })),
        fs::path("/Users/ann/a:b \xC3\xA9t\xC3\xA9.rpkit")); // Mac OS Roman 0x8E is e acute

    // A version-2 record written here carries the path, and reading it back finds the file.
    auto written = rp::FileReference::aliasRecordData(dir / "kit file");
    ASSERT_TRUE(written);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(*written), dir / "kit file");
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
    std::vector<std::vector<uint8_t>> seeds { bookmarkOf(dir / "f"), platformBookmark("/tmp/x"),
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
        EXPECT_EQ(path.value_or("").string().find('\0'), std::string::npos);
        resolve(bytes);
    }
}
