#include "archive/ArchiveDump.h"
#include "archive/TypedStreamWriter.h"
#include "foundation/CompressedData.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

using nlohmann::json;
using rp::test::TempDir;
using rp::test::TypedStreamWriter;

namespace {

struct DumpRun {
    int status = -1;
    std::string out;
    std::string err;
};

DumpRun runDump(const TempDir& dir, const std::filesystem::path& file)
{
    DumpRun run;
    auto errPath = dir / "stderr.txt";
    run.status = rp::test::runCommand(
        std::string("'") + RP_CLI_PATH + "' dump '" + file.string() + "' 2> '" + errPath.string() + "'",
        &run.out);
    auto errBytes = rp::test::readFileBytes(errPath);
    run.err.assign(errBytes.begin(), errBytes.end());
    return run;
}

void append(std::vector<uint8_t>& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

void appendBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A keyed archive written by Python's plistlib: a song whose section list is shared and
// which refers back to the song (a cycle through the list).
std::vector<uint8_t> plistlibArchive(const TempDir& dir)
{
    auto script = dir / "make.py";
    std::ofstream(script) << R"(import plistlib, sys
from plistlib import UID
objects = ['$null',
  {'$class': UID(4), 'ORPS_songName': UID(2), 'ORPS_sectionList': UID(5), 'ORPS_masterLevel': 0.5,
   'ORPS_drumKitAlias': b'\x00\x01\xfe\xff', 'ORPS_loopPlayback': True, 'count': -3, 'sameList': UID(5)},
  'Caf\u00e9 song', 'unused',
  {'$classname': 'ORPSong', '$classes': ['ORPSong', 'NSObject']},
  {'$class': UID(6), 'NS.objects': [UID(2), UID(0), UID(1)]},
  {'$classname': 'NSMutableArray', '$classes': ['NSMutableArray', 'NSArray', 'NSObject']}]
archive = {'$archiver': 'NSKeyedArchiver', '$version': 100000, '$top': {'root': UID(1)}, '$objects': objects}
sys.stdout.buffer.write(plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))
)";
    auto out = dir / "archive.bin";
    int status = rp::test::runCommand("python3 '" + script.string() + "' > '" + out.string() + "'");
    EXPECT_EQ(status, 0);
    return rp::test::readFileBytes(out);
}

// An older song as a typed stream: the song class is unknown to the dump and read generically;
// one pattern object appears twice.
std::vector<uint8_t> oldSongStream(bool bigEndian)
{
    TypedStreamWriter w(bigEndian);
    w.group("@");
    w.beginObject({ { "SongFile", 2 }, { "NSObject", 0 } });
    w.group("@@@");
    w.stringObject("Old song");
    w.nil();
    w.dataObject({ 'a', 'l', 'i', 's' });
    int pattern = -1;
    w.group("@");
    w.arrayObject(1, [&](int) {
        pattern = w.beginObject({ { "DrumPattern", 1 }, { "NSObject", 0 } });
        w.group("ssssf");
        for (int v : { 4, 4, 1, 0 })
            w.integer(v);
        w.floatValue(120.5f, true);
        w.group("S");
        w.integer(65535);
        w.endObject();
    });
    w.group("@");
    w.arrayObject(1, [&](int) {
        w.beginObject({ { "SectionMarker", 0 }, { "NSObject", 0 } });
        w.group("@@@");
        w.stringObject("verse");
        w.reference(pattern);
        w.reference(pattern);
        w.endObject();
    });
    w.group("fcf");
    w.floatValue(1);
    w.byte(1);
    w.floatValue(0.8f, true);
    w.endObject();
    return w.bytes();
}

std::vector<uint8_t> songFile(const std::vector<uint8_t>& archive, uint32_t compatibility, bool compress)
{
    std::vector<uint8_t> file;
    append(file, std::string_view("Orrery Rattlepan rpsong\0", 24));
    appendBigEndian32(file, compatibility);
    appendBigEndian32(file, 0x01080001);
    if (compatibility >= 0x01020005) {
        append(file, "2.0");
        file.push_back(0);
    }
    if (compress) {
        auto wrapped = rp::compressedData(archive);
        EXPECT_TRUE(wrapped);
        file.insert(file.end(), wrapped->begin(), wrapped->end());
    } else {
        file.insert(file.end(), archive.begin(), archive.end());
    }
    return file;
}

} // namespace

TEST(DumpCommand, PrintsAKeyedArchiveWrittenByPlistlib)
{
    if (!rp::test::haveTool("python3"))
        GTEST_SKIP() << "python3 not available";
    TempDir dir;
    auto archive = plistlibArchive(dir);
    ASSERT_FALSE(archive.empty());
    rp::test::writeFileBytes(dir / "song.archive", archive);
    DumpRun run = runDump(dir, dir / "song.archive");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    json doc = json::parse(run.out);
    EXPECT_EQ(doc["format"], "keyed archive");
    EXPECT_EQ(doc["archiver"], "NSKeyedArchiver");
    const json& root = doc["top"]["root"];
    EXPECT_EQ(root["$class"], "ORPSong");
    EXPECT_EQ(root["ORPS_songName"], "Caf\xc3\xa9 song");
    EXPECT_EQ(root["ORPS_drumKitAlias"]["$data"], "AAH+/w==");
    EXPECT_EQ(root["ORPS_loopPlayback"], true);
    EXPECT_EQ(root["count"], -3);
    const json& list = root["ORPS_sectionList"];
    ASSERT_EQ(list["NS.objects"].size(), 3u);
    EXPECT_TRUE(list["NS.objects"][1].is_null());
    EXPECT_EQ(list["NS.objects"][2], json({ { "$ref", 1 } })); // the cycle back to the song
    EXPECT_EQ(root["sameList"], json({ { "$ref", 5 } }));

    // The same archive inside a compressed song file and inside a kit file.
    rp::test::writeFileBytes(dir / "new.rpsong", songFile(archive, 0x01050002, true));
    run = runDump(dir, dir / "new.rpsong");
    ASSERT_EQ(run.status, 0) << run.err;
    doc = json::parse(run.out);
    EXPECT_EQ(doc["compatibilityVersion"], "1E2");
    EXPECT_EQ(doc["savedWithVersion"], "1H1");
    EXPECT_EQ(doc["compressed"], true);
    EXPECT_EQ(doc["archive"]["top"]["root"]["$class"], "ORPSong");

    std::vector<uint8_t> kit;
    append(kit, std::string_view("Orrery Rattlepan rpkit\0", 23));
    appendBigEndian32(kit, 0x01020005);
    appendBigEndian32(kit, 0x01080001);
    append(kit, "2.0");
    kit.push_back(0);
    kit.insert(kit.end(), archive.begin(), archive.end());
    std::filesystem::create_directory(dir / "Rock.rpkit");
    std::filesystem::create_directory(dir / "Rock.rpkit" / "Sounds");
    rp::test::writeFileBytes(dir / "Rock.rpkit" / "Rock.rpkit", kit);
    run = runDump(dir, dir / "Rock.rpkit"); // the bundle folder
    ASSERT_EQ(run.status, 0) << run.err;
    doc = json::parse(run.out);
    EXPECT_EQ(doc["format"], "rpkit");
    EXPECT_EQ(doc["archive"]["top"]["root"]["ORPS_songName"], "Caf\xc3\xa9 song");
}

TEST(DumpCommand, PrintsTypedStreamsAndOlderSongHeaders)
{
    TempDir dir;
    for (bool bigEndian : { true, false }) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        rp::test::writeFileBytes(dir / "old.song", oldSongStream(bigEndian));
        DumpRun run = runDump(dir, dir / "old.song");
        ASSERT_EQ(run.status, 0) << run.err;
        json doc = json::parse(run.out);
        EXPECT_EQ(doc["byteOrder"], bigEndian ? "big-endian" : "little-endian");
        const json& song = doc["values"][0]["value"];
        EXPECT_EQ(song["$version"], 2);
        EXPECT_EQ(song["types"], "@@@@@fcf");
        const json& values = song["values"];
        ASSERT_EQ(values.size(), 8u);
        EXPECT_TRUE(values[1].is_null());
        EXPECT_EQ(values[2]["data"], "YWxpcw==");
        const json& pattern = values[3]["objects"][0];
        EXPECT_EQ(pattern["types"], "ssssfS");
        EXPECT_DOUBLE_EQ(pattern["values"][4].get<double>(), 120.5); // byte-swapped float
        EXPECT_EQ(pattern["values"][5], 65535);
        // The same pattern object twice: a reference to its id.
        EXPECT_EQ(values[4]["objects"][0]["values"][1], json({ { "$ref", pattern["$id"] } }));
    }

    // A song header older than 1B5 has no version string; the typed stream follows at once.
    rp::test::writeFileBytes(dir / "old.rpsong", songFile(oldSongStream(true), 0x01020004, false));
    DumpRun run = runDump(dir, dir / "old.rpsong");
    ASSERT_EQ(run.status, 0) << run.err;
    json doc = json::parse(run.out);
    EXPECT_FALSE(doc.contains("versionString"));
    EXPECT_EQ(doc["archive"]["values"][0]["value"]["$class"], "SongFile");
}

TEST(DumpCommand, HostileFilesGiveOneLineAndStatusOne)
{
    TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    files.emplace_back("empty", std::vector<uint8_t> {});
    std::vector<uint8_t> noise;
    for (int i = 0; i < 4096; ++i)
        noise.push_back(static_cast<uint8_t>((i * 2654435761u) >> 13));
    files.emplace_back("noise", noise);

    auto typed = oldSongStream(false);
    files.emplace_back("truncated-typed", std::vector<uint8_t>(typed.begin(), typed.begin() + 60));

    auto song = songFile(oldSongStream(true), 0x01050002, true);
    files.emplace_back("truncated-song-header", std::vector<uint8_t>(song.begin(), song.begin() + 30));
    auto noTerminator = std::vector<uint8_t>(song.begin(), song.begin() + 34);
    files.emplace_back("unterminated-version", noTerminator);
    auto liar = song;
    liar[36 + 4 + 3] ^= 0x40; // the wrapper's stated length no longer matches
    files.emplace_back("wrong-length", liar);
    auto bomb = songFile(std::vector<uint8_t>(), 0x01050002, false);
    append(bomb, "OXdc");
    appendBigEndian32(bomb, 0xfffffff0);
    append(bomb, "xx");
    files.emplace_back("compressed-bomb", bomb);

    TypedStreamWriter deep;
    deep.group("@");
    for (int i = 0; i < 200000; ++i) {
        deep.beginObject({ { "Node", 0 }, { "NSObject", 0 } });
        deep.group("@");
    }
    files.emplace_back("deep-typed", deep.bytes());

    // A binary property list whose shared references would expand to 2^40 nodes.
    std::vector<uint8_t> plistBomb;
    append(plistBomb, "bplist00");
    std::vector<uint64_t> offsets;
    offsets.push_back(plistBomb.size());
    append(plistBomb, "\x51x"); // object 0: the string "x"
    for (int i = 1; i <= 40; ++i) {
        offsets.push_back(plistBomb.size());
        plistBomb.push_back(0xa2); // an array of two references to the previous object
        plistBomb.push_back(static_cast<uint8_t>(i - 1));
        plistBomb.push_back(static_cast<uint8_t>(i - 1));
    }
    uint64_t tableOffset = plistBomb.size();
    for (uint64_t offset : offsets)
        plistBomb.push_back(static_cast<uint8_t>(offset));
    std::vector<uint8_t> trailer(32, 0);
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = static_cast<uint8_t>(offsets.size());
    trailer[23] = 40;
    trailer[31] = static_cast<uint8_t>(tableOffset);
    plistBomb.insert(plistBomb.end(), trailer.begin(), trailer.end());
    files.emplace_back("plist-bomb", plistBomb);

    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        rp::test::writeFileBytes(dir / name, bytes);
        DumpRun run = runDump(dir, dir / name);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty()) << run.out.substr(0, 200);
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err; // exactly one line
        EXPECT_EQ(run.err.rfind("rattlepan-cli dump: ", 0), 0u) << run.err;
    }

    // Missing files and folders without a kit are reported the same way.
    for (const auto& path : { dir / "missing", dir.path() }) {
        DumpRun run = runDump(dir, path);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

TEST(DumpCommand, RepeatedReferencesCannotBlowUpTheOutput)
{
    if (!rp::test::haveTool("python3"))
        GTEST_SKIP() << "python3 not available";
    TempDir dir;
    auto script = dir / "make.py";
    std::ofstream(script) << R"(import plistlib, sys
from plistlib import UID
objects = ['$null', {'$class': UID(3), 'NS.objects': [UID(2)] * 100000}, 'x' * 50000,
  {'$classname': 'NSArray', '$classes': ['NSArray', 'NSObject']}]
archive = {'$archiver': 'NSKeyedArchiver', '$version': 100000, '$top': {'root': UID(1)}, '$objects': objects}
sys.stdout.buffer.write(plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))
)";
    auto path = dir / "repeat.archive";
    ASSERT_EQ(rp::test::runCommand("python3 '" + script.string() + "' > '" + path.string() + "'"), 0);
    std::string error;
    EXPECT_FALSE(rp::dumpArchiveAsJSON(rp::test::readFileBytes(path), &error));
    EXPECT_NE(error.find("repeats more"), std::string::npos) << error;
}

TEST(DumpCommand, DumpFunctionReportsReasons)
{
    std::string error;
    EXPECT_FALSE(rp::dumpArchiveAsJSON(std::vector<uint8_t> { 'h', 'i' }, &error));
    EXPECT_EQ(error, "not a keyed archive, typed stream, song or kit file");

    TypedStreamWriter unknown;
    unknown.group("@");
    unknown.beginObject({ { "Thing", 0 }, { "NSObject", 0 } });
    unknown.group("i");
    unknown.integer(1);
    // no end of object
    EXPECT_FALSE(rp::dumpArchiveAsJSON(unknown.bytes(), &error));
    EXPECT_NE(error.find("end of data"), std::string::npos) << error;

    // The compressed block alone is unwrapped too.
    auto wrapped = rp::compressedData(oldSongStream(true));
    ASSERT_TRUE(wrapped);
    auto text = rp::dumpArchiveAsJSON(*wrapped, &error);
    ASSERT_TRUE(text) << error;
    EXPECT_EQ(json::parse(*text)["archive"]["format"], "typed stream");
}
