#include "ModelTestSupport.h"
#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "foundation/BuildVersion.h"
#include "foundation/CompressedData.h"
#include "foundation/Error.h"
#include "foundation/FileReference.h"
#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

using namespace rp::test;

namespace {

const char kMagic[] = "Orrery Rattlepan rpsong";

// A song file around an already compressed archive; files before 1B5 have no version string.
std::vector<uint8_t> songFile(uint32_t compatibility, uint32_t savedWith, const std::string& version,
    const std::vector<uint8_t>& wrapped, bool withVersionString = true)
{
    std::vector<uint8_t> out(kMagic, kMagic + 24);
    for (uint32_t code : { compatibility, savedWith })
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(code >> shift));
    if (withVersionString)
        out.insert(out.end(), version.c_str(), version.c_str() + version.size() + 1);
    out.insert(out.end(), wrapped.begin(), wrapped.end());
    return out;
}

std::vector<uint8_t> wrappedArchiveOf(const rp::ArchiveObjectPtr& root)
{
    return *rp::compressedData(rp::KeyedArchiver::archivedDataWithRootObject(root));
}

std::vector<uint8_t> fileOf(const rp::ArchiveObjectPtr& root)
{
    return songFile(0x01050002, 0x01050002, "2.0", wrappedArchiveOf(root));
}

// Writes any keys under any class name, to make archives this program would never write.
class HandMade final : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    HandMade(std::string className, std::function<void(rp::KeyedArchiver&)> write)
        : className_(std::move(className))
        , write_(std::move(write))
    {
    }
    std::string archiveClassName() const override { return className_; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override { write_(coder); }

private:
    std::string className_;
    std::function<void(rp::KeyedArchiver&)> write_;
};

template <class T> std::shared_ptr<T> decodedAs(const rp::ArchiveObjectPtr& object)
{
    return std::dynamic_pointer_cast<T>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(rp::KeyedArchiver::archivedDataWithRootObject(object)));
}

struct ORPSongFileTest : ::testing::Test {
    void SetUp() override { ORPSong::registerArchiveClasses(); }

    ORPSongPtr open(const std::vector<uint8_t>& bytes, rp::Error* error, const std::string& name = "t.rpsong")
    {
        writeFileBytes(dir / name, bytes);
        return ORPSong::songFromURL(dir / name, error);
    }

    TempDir dir;
};

TEST_F(ORPSongFileTest, SavedSongsReadBackWholeAndReplaceTheOldFileSafely)
{
    ORPDrumPtr hat;
    auto song = richSong(hat);
    const auto kit = dir / "Kit.rpkit";
    std::filesystem::create_directory(kit);
    song->setDrumKit(nullptr, kit);
    const auto path = dir / "song.rpsong";
    writeFileBytes(path, { 'o', 'l', 'd' });
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(song->writeToFile(path));
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2); // nothing left aside
    const auto bytes = readFileBytes(path);
    EXPECT_EQ(bytes, song->dataRepresentation());
    ASSERT_GT(bytes.size(), 40u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 32),
        songFile(0x01050002, rp::currentBuildVersionCode(), "", {}, false));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 32), rp::currentShortVersion());
    EXPECT_FALSE(hat->isEncodingSparse()); // no sparse request left behind for the kit's own saving

    rp::Error error;
    auto back = ORPSong::songFromURL(path, &error);
    ASSERT_TRUE(back) << error.text();
    EXPECT_EQ(outline(*back), outline(*song));
    EXPECT_EQ(back->sectionMarkerList().at(2)->firstBarNumber(), 4u);
    EXPECT_EQ(back->drumKitURL(), kit);
    // One stand-alone drum per stored drum, shared by its events, naming the kit drum only.
    EXPECT_EQ(back->drumsCurrentlyInUse().size(), 2u);
    auto firstEvents = back->sectionList()[0]->patterns()[0]->events();
    auto readHat = (*firstEvents)[0]->drum();
    EXPECT_EQ(readHat, (*firstEvents)[2]->drum());
    EXPECT_EQ(readHat, (*back->sectionList()[1]->patterns()[0]->events())[0]->drum());
    EXPECT_EQ(readHat->groupName() + "/" + readHat->compositeName(), "Cymbals/hi hat (closed)");
    EXPECT_EQ(readHat->midiNote(), 42);
    EXPECT_FALSE(readHat->shortcutKey()); // the sparse form carries no shortcut

    // The kit moved: the bookmark finds it again. Older files have only an alias record.
    std::filesystem::rename(kit, dir / "Moved.rpkit");
    back = ORPSong::songFromURL(path, &error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->drumKitURL(), dir / "Moved.rpkit");
    auto alias = rp::FileReference::aliasRecordData(dir / "Moved.rpkit");
    ASSERT_TRUE(alias);
    back = open(fileOf(std::make_shared<HandMade>("ORPSong",
                    [&](rp::KeyedArchiver& c) {
                        c.encodeData(*alias, "ORPS_drumKitAlias");
                        c.encodeFloat(0.5f, "ORPS_masterLevel");
                    })),
        &error);
    ASSERT_TRUE(back) << error.text();
    EXPECT_EQ(back->drumKitURL(), dir / "Moved.rpkit");
    EXPECT_EQ(back->totalBars(), 0u);

    // A folder that cannot be written: an error, and the old file is untouched.
    auto locked = dir / "locked";
    std::filesystem::create_directory(locked);
    writeFileBytes(locked / "song.rpsong", { 'o', 'l', 'd' });
    ::chmod(locked.c_str(), 0500);
    const bool wrote = song->writeToFile(locked / "song.rpsong", &error);
    ::chmod(locked.c_str(), 0700);
    if (::geteuid() != 0) {
        EXPECT_FALSE(wrote);
        EXPECT_EQ(error.domain, rp::kPosixErrorDomain);
        EXPECT_EQ(readFileBytes(locked / "song.rpsong"), (std::vector<unsigned char> { 'o', 'l', 'd' }));
    }

    // The saved song is a keyed archive of an ORPSong as Python's plistlib reads it.
    if (!haveTool("python3"))
        return;
    std::ofstream(dir / "check.py") << R"(
import plistlib, sys, zlib
d = open(sys.argv[1], 'rb').read(); s = d.index(b'\0', 32) + 1; a = zlib.decompress(d[s+8:])
assert d[s:s+4] == b'OXdc' and len(a) == int.from_bytes(d[s+4:s+8], 'big')
p = plistlib.loads(a); o = p['$objects']; r = o[p['$top']['root'].data]
assert p['$archiver'] == 'NSKeyedArchiver'
print(o[r['$class'].data]['$classname'], o[r['ORPS_songName'].data], len(o[r['ORPS_sectionList'].data]['NS.objects']), r['ORPS_bpmFactor'], r['ORPS_masterLevel'] > 0.6, 'ORPS_loopPlayback' in r)
drums = [x for x in o if isinstance(x, dict) and '$class' in x and o[x['$class'].data]['$classname'] == 'ORPDrum']
print(len(drums), sorted(drums[0].keys()))
)";
    std::string output;
    EXPECT_EQ(runCommand("python3 " + (dir / "check.py").string() + " " + path.string(), &output), 0)
        << output;
    EXPECT_EQ(output,
        "ORPSong Groove 2 1.0 True True\n2 ['$class', 'ORPD_groupName', 'ORPD_midiChannel', 'ORPD_midiNote', "
        "'ORPD_midiVelocity', 'ORPD_typeName', 'ORPD_varName']\n");
}

TEST_F(ORPSongFileTest, VersionCodesAndKindsDecideWhatOpens)
{
    ORPDrumPtr hat;
    auto wrapped = wrappedArchiveOf(richSong(hat));
    const uint32_t current = rp::currentBuildVersionCode();
    rp::Error error;
    rp::LogCapture log;

    // Made for a newer build: refused before anything is decompressed (the rest is garbage).
    EXPECT_FALSE(
        open(songFile(current + 1, current + 1, "9.9", { 'j', 'u', 'n', 'k' }), &error, "New.rpsong"));
    EXPECT_TRUE(error.isApplicationError(1001));
    EXPECT_EQ(error.description,
        "'New.rpsong' was created with a newer version of Rattlepan, and can't be opened.");
    EXPECT_EQ(error.recoverySuggestion,
        "This song was created with Rattlepan 9.9. You may wish to upgrade to the latest version.");
    EXPECT_TRUE(log.contains("ORPSong failed: current version " + rp::formatBuildVersionCode(current)));

    // Saved by a newer build that stays compatible: a warning, then the song.
    auto prompt = std::make_shared<rp::ScriptedPrompt>();
    prompt->answerAlert(0, "newer version");
    rp::ScopedPrompt scope(prompt);
    ASSERT_TRUE(open(songFile(0x01050002, current + 1, "7.0", wrapped), &error, "Later.rpsong"))
        << error.text();
    ASSERT_EQ(prompt->asked().size(), 1u);
    EXPECT_EQ(prompt->asked()[0].title, "'Later.rpsong' was created with a newer version of Rattlepan.");
    EXPECT_EQ(prompt->asked()[0].message,
        "This song was created with Rattlepan 7.0. Some information may be lost.");
    EXPECT_EQ(prompt->asked()[0].buttons, (std::vector<std::string> { "Continue" }));
    EXPECT_TRUE(log.contains("ORPSong warning: current version"));

    // Before 1B5 there is no version string: the wrapper starts at offset 32.
    auto old = open(songFile(0x01020004, 0x01020004, "", wrapped, false), &error);
    ASSERT_TRUE(old) << error.text();
    EXPECT_EQ(old->name(), "Groove");

    // Whole archives of something else, a pattern or a typed stream of a string, are invalid
    // songs (cut, changed and wrongly typed files are covered by the hostile corpus).
    TypedStreamWriter stream;
    stream.group("@");
    stream.stringObject("hello");
    for (const auto& bytes : { fileOf(ORPPattern::pattern()), stream.bytes() }) {
        EXPECT_FALSE(open(bytes, &error, "Bad.rpsong"));
        EXPECT_TRUE(error.isApplicationError(1000)) << error.text();
        EXPECT_EQ(error.description, "'Bad.rpsong' is not a valid Rattlepan song file, or may be corrupt.");
    }
    EXPECT_FALSE(ORPSong::songFromURL(dir / "nothing-here.rpsong", &error));
    EXPECT_EQ(error.domain, rp::kPosixErrorDomain);
    EXPECT_EQ(error.code, ENOENT);
}

TEST_F(ORPSongFileTest, ValuesTheModelCannotHoldAreRepaired)
{
    auto drum = makeDrum("snare");
    auto event = [&](float when, float velocity, bool withDrum = true) {
        return std::make_shared<HandMade>("ORPEvent", [=](rp::KeyedArchiver& c) {
            c.encodeFloat(when, "ORPE_whenRatio");
            if (withDrum)
                c.encodeObject(drum, "ORPE_drum");
            c.encodeFloat(velocity, "ORPE_velocity");
        });
    };
    rp::LogCapture log;
    auto decoded = decodedAs<ORPPattern>(std::make_shared<HandMade>("ORPPattern", [&](rp::KeyedArchiver& c) {
        c.encodeInt32(0, "ORPP_tsTop");
        c.encodeInt32(-8, "ORPP_tsBottom");
        c.encodeFloat(3.0f, "ORPP_beatBasis");
        c.encodeFloat(std::nanf(""), "ORPP_duration");
        c.encodeArrayOfObjects(
            { event(0.75f, 0.5f), event(1.5f, 1), event(std::nanf(""), 1), event(-0.1f, 1),
                event(0.25f, std::numeric_limits<float>::infinity()), event(0.5f, 0.3f, false) },
            "ORPP_events");
        c.encodeInt32(42, "ORPP_zoomLevel");
    }));
    ASSERT_TRUE(decoded);
    // Sorted, places outside the bar dropped, a missing drum replaced, an endless velocity full.
    EXPECT_EQ(decoded->description(),
        "4|4 (120.00bpm, 2.00s);\n  0.25000 snare (1.00)\n  0.50000 New instrument (0.30)\n"
        "  0.75000 snare (0.50)\n");
    EXPECT_EQ(decoded->beatBasis(), 4.0f);
    EXPECT_TRUE(log.contains("dropped event at place 1.500000"));
    EXPECT_TRUE(log.contains("duration nan cannot be read"));
    EXPECT_TRUE(log.contains("no drum for event at 0.500000 with velocity 0.300000"));

    // Repeat counts: 0 is kept (an entry that plays nothing); a negative or missing count plays once.
    for (auto [stored, expected] : { std::pair<int64_t, int>(0, 0), { -5, 1 }, { 40000, INT16_MAX }, { -1, 1 } }) {
        auto entry = decodedAs<ORPSectionMarker>(std::make_shared<HandMade>("ORPSectionMarker",
            [&, stored = stored](rp::KeyedArchiver& c) {
                if (stored != -1)
                    c.encodeInt64(stored, "ORPSM_numberOfTimes");
            }));
        ASSERT_TRUE(entry) << stored;
        EXPECT_EQ(entry->numberOfTimes(), expected) << stored;
    }

    // (Repeat counts and the other fields of every class are checked against every wrong value
    // by the hostile corpus; here the kind of repair matters.)
}

// A pattern stored twice (in one section, or in two) becomes separate bars, each owned once.
TEST_F(ORPSongFileTest, SharedObjectsInAFileAreSeparated)
{
    auto bar = ORPPattern::pattern();
    auto section = std::make_shared<HandMade>("ORPSection", [&](rp::KeyedArchiver& c) {
        c.encodeArrayOfObjects({ bar, bar }, "ORPS_patterns");
        c.encodeString("twice", "ORPS_name");
    });
    auto other = std::make_shared<HandMade>(
        "ORPSection", [&](rp::KeyedArchiver& c) { c.encodeArrayOfObjects({ bar }, "ORPS_patterns"); });
    auto entry = std::make_shared<HandMade>("ORPSectionMarker", [&](rp::KeyedArchiver& c) {
        c.encodeObject(other, "ORPSM_section"); // a section missing from the list
        c.encodeInt32(1, "ORPSM_numberOfTimes");
    });
    auto orphan = std::make_shared<HandMade>("ORPSectionMarker", [](rp::KeyedArchiver&) {});
    rp::Error error;
    auto song = open(fileOf(std::make_shared<HandMade>("ORPSong",
                         [&](rp::KeyedArchiver& c) {
                             c.encodeArrayOfObjects({ section, section }, "ORPS_sectionList");
                             c.encodeArrayOfObjects({ entry, orphan }, "ORPS_sectionMarkerList");
                             c.encodeFloat(0.5f, "ORPS_masterLevel");
                         })),
        &error);
    ASSERT_TRUE(song) << error.text();
    ASSERT_EQ(song->sectionList().size(), 2u);
    ASSERT_EQ(song->sectionMarkerList().size(), 1u);
    auto all = song->allPatterns();
    EXPECT_EQ(std::set<ORPPatternPtr>(all.begin(), all.end()).size(), 3u);
    EXPECT_EQ(outline(*song).find("STRAY"), std::string::npos) << outline(*song);
    auto twice = song->sectionList()[0];
    twice->patterns()[1]->setBpm(60, 4); // the section still hears both of its bars
    EXPECT_EQ(twice->duration(), 6.0f);
    EXPECT_EQ(song->totalBars(), 1u);
}

TEST_F(ORPSongFileTest, OlderSequentialSongsOfEveryVersionImport)
{
    auto kit = dir / "Old Kit.rpkit";
    std::filesystem::create_directory(kit);
    auto alias = rp::FileReference::aliasRecordData(kit);
    ASSERT_TRUE(alias);
    rp::Error error;
    ORPSongPtr song;
    for (bool bigEndian : { true, false }) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        song = open(olderSong({ .bigEndian = bigEndian, .kitAlias = *alias }), &error);
        ASSERT_TRUE(song) << error.text();
        EXPECT_EQ(song->drumKitURL(), kit);
        // The patterns the old marker names become a section of their own; the others stay apart.
        auto text = outline(*song);
        EXPECT_EQ(
            text.substr(0, text.find("zoom")), "Old song|from the nineties|0.7\nsection unnamed (imported)\n")
            << text;
        ASSERT_EQ(song->sectionList().size(), 3u);
        EXPECT_EQ(song->sectionList()[1]->name(), "verse (imported)");
        EXPECT_EQ(song->sectionList()[1]->patterns().size(), 2u);
        ASSERT_EQ(song->sectionMarkerList().size(), 3u);
        EXPECT_EQ(song->sectionMarkerList()[1]->name(), "verse");
        EXPECT_EQ(song->totalBars(), 4u);

        // Position 48 of a 4/4 bar is half-way; each hit goes before the other types already
        // there, and the later hi hat slot changes the first.
        auto bar = song->sectionList()[1]->patterns()[1]; // the third pattern
        EXPECT_EQ(bar->description(),
            "4|4 (122.00bpm, 1.97s);\n  0.00000 kick (0.50)\n  0.50000 Hi Hat (open) (0.50)\n"
            "  0.50000 snare (0.50)\n  0.75000 tom (0.50)\n");
        EXPECT_EQ(bar->beatBasis(), 4.0f);
    }

    // Version 0: kit path as a string, master level 0.8, version-0 patterns with evenly spread events.
    song = open(olderSong({ .songVersion = 0, .patternVersion = 0, .tempo = 180 }), &error);
    ASSERT_TRUE(song) << error.text();
    EXPECT_EQ(song->masterLevel(), 0.8f);
    EXPECT_EQ(song->drumKitURL(), "/kits/Old.rpkit");
    auto bar = song->sectionList().at(0)->patterns().at(0);
    EXPECT_EQ(bar->beatBasis(), 8.0f / 3.0f);
    EXPECT_EQ(bar->description(),
        "6|8 (60.00bpm, 2.00s);\n  0.00000 kick (0.90)\n  0.25000 snare (0.90)\n  0.25000 kick (0.90)\n"
        "  0.50000 kick (0.90)\n  0.75000 snare (0.90)\n  0.75000 kick (0.90)\n");

    // A version 1 pattern with a tempo of zero and an unknown basis code is repaired, not divided by.
    rp::LogCapture log;
    song = open(olderSong({ .bigEndian = false, .songVersion = 1, .legacyBasis = 33, .tempo = 0 }), &error);
    ASSERT_TRUE(song) << error.text();
    EXPECT_EQ(song->masterLevel(), 0.7f);
    bar = song->sectionList().at(0)->patterns().at(0);
    EXPECT_EQ(bar->beatBasis(), 4.0f);
    EXPECT_EQ(bar->duration(), 2.0f);
    EXPECT_TRUE(log.contains("duration inf cannot be read"));
}

} // namespace

namespace {

// Saves `song` to `file` and reads it back.
ORPSongPtr savedAndRead(const ORPSong& song, const std::filesystem::path& file)
{
    rp::Error error;
    EXPECT_TRUE(song.writeToFile(file, &error)) << error.text();
    auto back = ORPSong::songFromURL(file, &error);
    EXPECT_TRUE(back) << error.text();
    return back;
}

} // namespace

// A kit that is not on disk while the song is saved (another machine, a drive that is away) stays
// the song's kit: the reference read from the file is written back, or at least its path.
TEST_F(ORPSongFileTest, SavingWhileTheKitIsAwayKeepsTheKitReference)
{
    rp::LogCapture quiet;
    const auto kit = dir / "Away.rpkit";
    std::filesystem::create_directory(kit);
    auto song = ORPSong::song();
    song->setDrumKit(nullptr, kit);
    auto first = savedAndRead(*song, dir / "first.rpsong");
    ASSERT_TRUE(first);

    // The kit goes away (deeper than the search for moved files looks); saving twice more keeps
    // its path and the bookmark read from the file.
    const auto hidden = dir / "a" / "b" / "c" / "d";
    std::filesystem::create_directories(hidden);
    std::filesystem::rename(kit, hidden / "Away.rpkit");
    auto second = ORPSong::songFromURL(dir / "first.rpsong", nullptr);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->drumKitURL(), kit);
    auto third = savedAndRead(*second, dir / "second.rpsong");
    ASSERT_TRUE(third);
    EXPECT_EQ(third->drumKitURL(), kit);
    third = savedAndRead(*third, dir / "third.rpsong");
    ASSERT_TRUE(third);
    EXPECT_EQ(third->drumKitURL(), kit);
    // The kept bookmark still identifies the kit: moved back under a new name, it is found there.
    std::filesystem::rename(hidden / "Away.rpkit", dir / "Renamed.rpkit");
    auto found = ORPSong::songFromURL(dir / "third.rpsong", nullptr);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->drumKitURL(), dir / "Renamed.rpkit");
    std::filesystem::remove(dir / "Renamed.rpkit");

    // Older forms whose kit is elsewhere: an alias record only, and an old path string.
    const auto aliased = dir / "Aliased.rpkit";
    std::filesystem::create_directory(aliased);
    auto alias = rp::FileReference::aliasRecordData(aliased);
    ASSERT_TRUE(alias);
    std::filesystem::remove(aliased);
    rp::Error error;
    auto aliasOnly = open(fileOf(std::make_shared<HandMade>("ORPSong",
                              [&](rp::KeyedArchiver& c) { c.encodeData(*alias, "ORPS_drumKitAlias"); })),
        &error);
    ASSERT_TRUE(aliasOnly) << error.text();
    auto older = open(olderSong({ .songVersion = 0, .patternVersion = 0 }), &error);
    ASSERT_TRUE(older) << error.text();
    for (const auto& [read, expected] :
        { std::pair { aliasOnly, aliased }, std::pair { older, std::filesystem::path("/kits/Old.rpkit") } }) {
        EXPECT_EQ(read->drumKitURL(), expected);
        auto back = savedAndRead(*read, dir / "again.rpsong");
        ASSERT_TRUE(back);
        EXPECT_EQ(back->drumKitURL(), expected);
    }

    // Another location given to the song replaces what the file had, even when it is away too.
    older->setDrumKit(nullptr, dir / "Chosen.rpkit");
    auto chosen = savedAndRead(*older, dir / "chosen.rpsong");
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->drumKitURL(), dir / "Chosen.rpkit");
}

// Patterns in a keyed archive without ORPP_tsTop were archived in the version-1 form, value by
// value under the generic keys "$0", "$1", ...: the same bar as the sequential version 1.
TEST_F(ORPSongFileTest, KeyedPatternsWithoutTimeSignatureKeysReadTheVersionOneForm)
{
    auto oldEvent = [](std::vector<std::pair<std::string, std::string>> slots, float velocity) {
        return std::make_shared<HandMade>("ORPPatternEvent", [=](rp::KeyedArchiver& c) {
            int key = 0;
            for (size_t slot = 0; slot < 5; ++slot) {
                const bool used = slot < slots.size() && !slots[slot].first.empty();
                for (const std::string& name :
                    { used ? slots[slot].first : "", used ? slots[slot].second : "" }) {
                    const std::string k = "$" + std::to_string(key++);
                    if (!name.empty())
                        c.encodeString(name, k);
                }
                c.encodeFloat(velocity, "$" + std::to_string(key++));
            }
        });
    };
    struct Case {
        const char* name;
        std::vector<int64_t> head; // top, bottom, legacy basis code
        float tempo;
        bool endMarker;
        const char* expected;
    };
    const std::vector<Case> cases = {
        { "6/8 in dotted quarters", { 6, 8, 45 }, 60, true,
            "6|8 (60.00bpm, 2.00s);\n  0.00000 kick (0.50)\n  0.50000 Hi Hat (open) (0.50)\n"
            "  0.50000 snare (0.50)\n" },
        { "unknown basis code counts quarters", { 4, 4, 33 }, 120, true,
            "4|4 (120.00bpm, 2.00s);\n  0.00000 kick (0.50)\n  0.50000 Hi Hat (open) (0.50)\n"
            "  0.50000 snare (0.50)\n" },
        { "no end marker keeps what was read", { 4, 4, 40 }, 120, false,
            "4|4 (120.00bpm, 2.00s);\n  0.00000 kick (0.50)\n  0.50000 Hi Hat (open) (0.50)\n"
            "  0.50000 snare (0.50)\n" },
        { "zero tempo is repaired", { 4, 4, 40 }, 0, true,
            "4|4 (120.00bpm, 2.00s);\n  0.00000 kick (0.50)\n  0.50000 Hi Hat (open) (0.50)\n"
            "  0.50000 snare (0.50)\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bar = std::make_shared<HandMade>("ORPPattern", [&](rp::KeyedArchiver& coder) {
            int key = 0;
            auto next = [&key] { return "$" + std::to_string(key++); };
            for (int64_t value : c.head)
                coder.encodeInt32(static_cast<int32_t>(value), next());
            coder.encodeFloat(c.tempo, next());
            const int16_t top = static_cast<int16_t>(c.head[0]);
            // Hits at the downbeat and half-way; a position past the bar carries no event.
            coder.encodeInt32(0, next());
            coder.encodeObject(oldEvent({ { "kick", "default" } }, 0.5f), next());
            coder.encodeInt32(top * 12, next());
            coder.encodeObject(
                oldEvent({ { "snare", "default" }, { "hi hat", "closed" }, { "Hi Hat", "open" } }, 0.5f),
                next());
            coder.encodeInt32(top * 24 + 3, next());
            if (c.endMarker)
                coder.encodeInt32(65535, next());
        });
        rp::LogCapture log;
        auto decoded = decodedAs<ORPPattern>(bar);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->description(), c.expected);
        EXPECT_EQ(log.contains("the bar's event list has no end marker"), !c.endMarker);
    }

    // A position that is no unsigned 16-bit number makes the archive unreadable.
    std::string problem;
    auto bad = rp::KeyedUnarchiver::unarchiveObjectWithData(
        rp::KeyedArchiver::archivedDataWithRootObject(std::make_shared<HandMade>("ORPPattern",
            [](rp::KeyedArchiver& c) {
                c.encodeInt32(4, "$0");
                c.encodeInt32(4, "$1");
                c.encodeInt32(40, "$2");
                c.encodeFloat(120, "$3");
                c.encodeInt32(-5, "$4");
            })),
        &problem);
    EXPECT_FALSE(bad);
    EXPECT_NE(problem.find("does not fit"), std::string::npos) << problem;
}
