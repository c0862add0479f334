#include "archive/TypedStreamWriter.h"
#include "foundation/CompressedData.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

using nlohmann::json;
using rp::test::TempDir;
using rp::test::TypedStreamWriter;
using Bytes = std::vector<uint8_t>;
using ::testing::HasSubstr;

namespace {

struct DumpRun {
    int status = -1;
    std::string out;
    std::string err;
};

DumpRun runDump(const TempDir& dir, const std::filesystem::path& file)
{
    DumpRun run;
    const auto errPath = dir / "stderr.txt";
    run.status = rp::test::runCommand(
        std::string("'") + RP_CLI_PATH + "' dump '" + file.string() + "' 2> '" + errPath.string() + "'",
        &run.out);
    const auto errBytes = rp::test::readFileBytes(errPath);
    run.err.assign(errBytes.begin(), errBytes.end());
    return run;
}

// The dump of `path`, parsed; null after a failure.
json dumped(const TempDir& dir, const std::filesystem::path& path)
{
    const DumpRun run = runDump(dir, path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    return run.status == 0 ? json::parse(run.out) : json();
}

json dumped(const TempDir& dir, const std::string& name, const Bytes& bytes)
{
    rp::test::writeFileBytes(dir / name, bytes);
    return dumped(dir, dir / name);
}

// Every key of `expected` has its value in `doc`.
void expectHas(const json& doc, const json& expected)
{
    for (const auto& [key, value] : expected.items())
        EXPECT_EQ(doc.is_object() && doc.contains(key) ? doc.at(key) : json(), value) << key;
}

// Keyed archives written by Python's plistlib: a song whose section list is shared and which
// refers back to the song (a cycle through the list); an array repeating one long string 100000
// times.
void writePlistlibArchives(const TempDir& dir)
{
    const auto script = dir / "make.py";
    std::ofstream(script) << R"(import plistlib, sys
from plistlib import UID
def write(name, objects):
    archive = {'$archiver': 'NSKeyedArchiver', '$version': 100000, '$top': {'root': UID(1)}, '$objects': objects}
    open(sys.argv[1] + '/' + name, 'wb').write(plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))
write('song.archive', ['$null',
  {'$class': UID(4), 'ORPS_songName': UID(2), 'ORPS_sectionList': UID(5), 'ORPS_masterLevel': 0.5,
   'ORPS_drumKitAlias': b'\x00\x01\xfe\xff', 'ORPS_loopPlayback': True, 'count': -3, 'sameList': UID(5)},
  'Caf\u00e9 song', 'unused',
  {'$classname': 'ORPSong', '$classes': ['ORPSong', 'NSObject']},
  {'$class': UID(6), 'NS.objects': [UID(2), UID(0), UID(1)]},
  {'$classname': 'NSMutableArray', '$classes': ['NSMutableArray', 'NSArray', 'NSObject']}])
write('repeat.archive', ['$null', {'$class': UID(3), 'NS.objects': [UID(2)] * 100000}, 'x' * 50000,
  {'$classname': 'NSArray', '$classes': ['NSArray', 'NSObject']}])
)";
    EXPECT_EQ(rp::test::runCommand("python3 '" + script.string() + "' '" + dir.path().string() + "'"), 0);
}

// An older song as a typed stream: the song class is unknown to the dump and read generically;
// one pattern object appears twice.
Bytes oldSongStream(bool bigEndian)
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

// A song or kit file ("rpsong" or "rpkit") around `archive`; from 1B5 on the header holds a
// version string.
Bytes documentFile(const std::string& kind, const Bytes& archive, uint32_t compatibility, bool compress)
{
    const std::string magic = "Orrery Rattlepan " + kind;
    Bytes file(magic.c_str(), magic.c_str() + magic.size() + 1); // with its terminating zero
    for (const uint32_t word : { compatibility, 0x01080001u }) {
        for (int shift = 24; shift >= 0; shift -= 8)
            file.push_back(static_cast<uint8_t>(word >> shift));
    }
    if (compatibility >= 0x01020005)
        file.insert(file.end(), { '2', '.', '0', 0 });
    const auto wrapped = compress ? rp::compressedData(archive) : std::optional<Bytes>(archive);
    EXPECT_TRUE(wrapped);
    file.insert(file.end(), wrapped->begin(), wrapped->end());
    return file;
}

} // namespace

TEST(DumpCommand, PrintsKeyedArchivesWrittenByPlistlibAndRefusesRepetitionBombs)
{
    if (!rp::test::haveTool("python3"))
        GTEST_SKIP() << "python3 not available";
    TempDir dir;
    writePlistlibArchives(dir);
    json doc = dumped(dir, dir / "song.archive");
    expectHas(doc, { { "format", "keyed archive" }, { "archiver", "NSKeyedArchiver" } });
    const json& root = doc["top"]["root"];
    expectHas(root,
        { { "$class", "ORPSong" }, { "ORPS_songName", "Caf\xc3\xa9 song" }, { "ORPS_masterLevel", 0.5 },
            { "ORPS_drumKitAlias", { { "$data", "AAH+/w==" } } }, { "ORPS_loopPlayback", true },
            { "count", -3 }, { "sameList", { { "$ref", 5 } } } });
    // The second path to the list and the cycle back to the song are references.
    EXPECT_EQ(
        root["ORPS_sectionList"]["NS.objects"], json::parse(R"(["Caf\u00e9 song", null, {"$ref": 1}])"));

    // The same archive compressed inside a kit file, found through its bundle folder.
    std::filesystem::create_directories(dir / "Rock.rpkit" / "Sounds");
    rp::test::writeFileBytes(dir / "Rock.rpkit" / "Rock.rpkit",
        documentFile("rpkit", rp::test::readFileBytes(dir / "song.archive"), 0x01050002, true));
    json kit = dumped(dir, dir / "Rock.rpkit");
    expectHas(kit,
        { { "format", "rpkit" }, { "compatibilityVersion", "1E2" }, { "savedWithVersion", "1H1" },
            { "compressed", true } });
    EXPECT_EQ(kit["archive"]["top"]["root"], root);

    // One string referred to 100000 times would print 5 GB.
    const DumpRun run = runDump(dir, dir / "repeat.archive");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("repeats more"));
}

TEST(DumpCommand, PrintsTypedStreamsAndOlderSongHeaders)
{
    TempDir dir;
    for (bool bigEndian : { true, false }) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        json doc = dumped(dir, "old.song", oldSongStream(bigEndian));
        EXPECT_EQ(doc["byteOrder"], bigEndian ? "big-endian" : "little-endian");
        const json& song = doc["values"][0]["value"];
        expectHas(song, { { "$class", "SongFile" }, { "$version", 2 }, { "types", "@@@@@fcf" } });
        const json& values = song["values"];
        ASSERT_EQ(values.size(), 8u);
        EXPECT_EQ(values[0], "Old song");
        EXPECT_TRUE(values[1].is_null());
        EXPECT_EQ(values[2]["data"], "YWxpcw==");
        // Shorts, a byte-swapped float and an unsigned short.
        const json& pattern = values[3]["objects"][0];
        EXPECT_EQ(pattern["types"], "ssssfS");
        EXPECT_EQ(pattern["values"], json::parse("[4, 4, 1, 0, 120.5, 65535]"));
        // The same pattern object twice: a reference to its id.
        EXPECT_EQ(values[4]["objects"][0]["values"][1], json({ { "$ref", pattern["$id"] } }));
    }

    // A song header older than 1B5 has no version string; the typed stream follows at once.
    json old = dumped(dir, "old.rpsong", documentFile("rpsong", oldSongStream(true), 0x01020004, false));
    EXPECT_EQ(old["format"], "rpsong");
    EXPECT_FALSE(old.contains("versionString"));
    EXPECT_EQ(old["archive"]["values"][0]["value"]["$class"], "SongFile");
    // The compressed block alone is unwrapped too.
    EXPECT_EQ(
        dumped(dir, "block", *rp::compressedData(oldSongStream(true)))["archive"]["format"], "typed stream");
}

TEST(DumpCommand, HostileFilesGiveOneLineAndStatusOne)
{
    TempDir dir;
    std::vector<std::tuple<std::string, Bytes, std::string>> cases; // name, contents, part of the line
    cases.push_back({ "empty", {}, "" });
    Bytes noise;
    for (uint32_t i = 0; i < 4096; ++i)
        noise.push_back(static_cast<uint8_t>((i * 2654435761u) >> 13));
    cases.push_back({ "noise", noise, ": not a keyed archive, typed stream, song or kit file" });

    const auto typed = oldSongStream(false);
    cases.push_back(
        { "truncated-typed", Bytes(typed.begin(), typed.begin() + 60), "past the end of the data" });

    const auto song = documentFile("rpsong", oldSongStream(true), 0x01050002, true);
    cases.push_back({ "truncated-song-header", Bytes(song.begin(), song.begin() + 30), "" });
    cases.push_back({ "unterminated-version", Bytes(song.begin(), song.begin() + 34), "" });
    auto liar = song;
    liar[36 + 4 + 3] ^= 0x40; // the wrapper's stated length no longer matches
    cases.push_back({ "wrong-length", liar, "" });
    TypedStreamWriter deep;
    deep.group("@");
    for (int i = 0; i < 200000; ++i) {
        deep.beginObject({ { "Node", 0 }, { "NSObject", 0 } });
        deep.group("@");
    }
    cases.push_back({ "deep-typed", deep.bytes(), "" });

    for (const auto& [name, bytes, reason] : cases) {
        SCOPED_TRACE(name);
        rp::test::writeFileBytes(dir / name, bytes);
        const DumpRun run = runDump(dir, dir / name);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.empty()) << run.out.substr(0, 200);
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err; // exactly one line
        EXPECT_EQ(run.err.rfind("rattlepan-cli dump: ", 0), 0u) << run.err;
        EXPECT_THAT(run.err, HasSubstr(reason));
    }
    // Missing files and folders without a kit are reported the same way.
    for (const auto& path : { dir / "missing", dir.path() }) {
        const DumpRun run = runDump(dir, path);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}
