#include "ModelTestSupport.h"
#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamWriter.h"
#include "foundation/BuildVersion.h"
#include "foundation/CompressedData.h"
#include "foundation/Error.h"
#include "foundation/FileReference.h"
#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"
#include "model/ORPSong.h"
#include "support/TestSupport.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sys/stat.h>

using namespace rp::test;

namespace {

const char kMagic[] = "Orrery Rattlepan rpsong";

void appendBE32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

// A song file around an already compressed archive.
std::vector<uint8_t> songFile(uint32_t compatibility, uint32_t savedWith, const std::string& version,
    const std::vector<uint8_t>& wrapped, bool withVersionString = true)
{
    std::vector<uint8_t> out(kMagic, kMagic + 24);
    appendBE32(out, compatibility);
    appendBE32(out, savedWith);
    if (withVersionString) {
        out.insert(out.end(), version.begin(), version.end());
        out.push_back(0);
    }
    out.insert(out.end(), wrapped.begin(), wrapped.end());
    return out;
}

std::vector<uint8_t> wrappedArchiveOf(const rp::ArchiveObjectPtr& root)
{
    auto archive = rp::KeyedArchiver::archivedDataWithRootObject(root);
    EXPECT_FALSE(archive.empty());
    return *rp::compressedData(archive);
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

struct ORPSongFileTest : ::testing::Test {
    void SetUp() override { ORPSong::registerArchiveClasses(); }

    ORPSongPtr open(const std::vector<uint8_t>& bytes, rp::Error* error, const std::string& name = "t.rpsong")
    {
        writeFileBytes(dir / name, bytes);
        return ORPSong::songFromURL(dir / name, error);
    }

    TempDir dir;
};

ORPSongPtr richSong(ORPDrumPtr& sharedDrum)
{
    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::song();
    song->setName("Groove");
    song->setNotes("two sections");
    song->setMasterLevel(0.65f);
    sharedDrum = makeDrum("hi hat", "closed", "Cymbals");
    sharedDrum->setMidiChannel(9);
    sharedDrum->setMidiNote(42);
    sharedDrum->setMidiVelocity(100);
    sharedDrum->setShortcutKey("h");
    auto first = song->sectionList()[0];
    first->setName("verse");
    auto bar = first->patterns()[0];
    bar->addEventWithDrum(sharedDrum, 0.8f, 0.0f);
    bar->addEventWithDrum(sharedDrum, 0.5f, 0.5f);
    bar->addEventWithDrum(makeDrum("kick"), 1.0f, 0.5f);
    bar->setZoomLevel(4);
    auto second = ORPSection::section();
    second->setName("fill");
    auto odd = ORPPattern::pattern();
    odd->setTimeSignatureTop(7, 8);
    odd->setBpm(140, 8);
    odd->addEventWithDrum(sharedDrum, 0.3f, 6.0f / 7.0f);
    second->insertPatterns({ odd }, 0);
    song->insertSections({ second }, 1);
    auto entry = ORPSectionMarker::sectionMarker();
    entry->setSection(second);
    entry->setName("fill in");
    entry->setNumberOfTimes(2);
    auto again = ORPSectionMarker::sectionMarker();
    again->setSection(first);
    song->insertSectionMarkers({ entry, again }, 1);
    return song;
}

TEST_F(ORPSongFileTest, SavedSongsReadBackWhole)
{
    ORPDrumPtr hat;
    auto song = richSong(hat);
    auto bytes = song->dataRepresentation();
    ASSERT_GT(bytes.size(), 40u);
    EXPECT_EQ(std::memcmp(bytes.data(), kMagic, 24), 0);
    EXPECT_EQ((std::vector<uint8_t>(bytes.begin() + 24, bytes.begin() + 28)),
        (std::vector<uint8_t> { 1, 5, 0, 2 }));
    uint32_t saved = (uint32_t { bytes[28] } << 24) | (uint32_t { bytes[29] } << 16)
        | (uint32_t { bytes[30] } << 8) | bytes[31];
    EXPECT_EQ(saved, rp::currentBuildVersionCode());
    std::string version = rp::currentShortVersion();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 32), version);
    EXPECT_FALSE(hat->isEncodingSparse()); // no sparse request left behind for the kit's own saving

    ASSERT_TRUE(song->writeToFile(dir / "song.rpsong"));
    rp::Error error;
    auto back = ORPSong::songFromURL(dir / "song.rpsong", &error);
    ASSERT_TRUE(back) << error.text();
    EXPECT_EQ(back->name(), "Groove");
    EXPECT_EQ(back->notes(), "two sections");
    EXPECT_EQ(back->masterLevel(), 0.65f);
    ASSERT_EQ(back->sectionList().size(), 2u);
    ASSERT_EQ(back->sectionMarkerList().size(), 3u);
    EXPECT_EQ(back->sectionMarkerList()[1]->section(), back->sectionList()[1]);
    EXPECT_EQ(back->sectionMarkerList()[2]->section(), back->sectionList()[0]);
    EXPECT_EQ(back->sectionMarkerList()[1]->numberOfTimes(), 2);
    EXPECT_EQ(back->sectionMarkerList()[1]->name(), "fill in");
    EXPECT_EQ(back->sectionMarkerList()[2]->firstBarNumber(), 4u);
    for (size_t i = 0; i < 2; ++i) {
        auto a = song->sectionList()[i];
        auto b = back->sectionList()[i];
        EXPECT_EQ(b->name(), a->name());
        EXPECT_EQ(b->parentSong(), back);
        for (size_t p = 0; p < a->patterns().size(); ++p) {
            EXPECT_EQ(b->patterns()[p]->description(), a->patterns()[p]->description());
            EXPECT_EQ(b->patterns()[p]->zoomLevel(), a->patterns()[p]->zoomLevel());
            EXPECT_EQ(b->patterns()[p]->parentSection(), b);
        }
    }
    // One stand-alone drum per stored drum, shared by its events, naming the kit drum only.
    auto drums = back->drumsCurrentlyInUse();
    EXPECT_EQ(drums.size(), 2u);
    auto firstEvents = back->sectionList()[0]->patterns()[0]->events();
    auto readHat = (*firstEvents)[0]->drum();
    EXPECT_EQ(readHat, (*firstEvents)[2]->drum());
    EXPECT_EQ(readHat, (*back->sectionList()[1]->patterns()[0]->events())[0]->drum());
    EXPECT_EQ(readHat->groupName(), "Cymbals");
    EXPECT_EQ(readHat->compositeName(), "hi hat (closed)");
    EXPECT_EQ(readHat->midiNote(), 42);
    EXPECT_FALSE(readHat->shortcutKey()); // the sparse form carries no shortcut

    // The saved song is a keyed archive of an ORPSong as Python's plistlib reads it.
    if (haveTool("python3")) {
        std::string script = R"(
import plistlib, sys, zlib
data = open(sys.argv[1], 'rb').read()
start = data.index(b'\0', 32) + 1
assert data[start:start+4] == b'OXdc'
length = int.from_bytes(data[start+4:start+8], 'big')
archive = zlib.decompress(data[start+8:])
assert len(archive) == length
plist = plistlib.loads(archive)
assert plist['$archiver'] == 'NSKeyedArchiver'
objects = plist['$objects']
root = objects[plist['$top']['root'].data]
cls = objects[root['$class'].data]
print(cls['$classname'], objects[root['ORPS_songName'].data], len(objects[root['ORPS_sectionList'].data]['NS.objects']), root['ORPS_bpmFactor'], root['ORPS_masterLevel'] > 0.6, 'ORPS_loopPlayback' in root)
drums = [o for o in objects if isinstance(o, dict) and '$class' in o and objects[o['$class'].data]['$classname'] == 'ORPDrum']
print(len(drums), sorted(drums[0].keys()))
)";
        std::ofstream(dir / "check.py") << script;
        std::string output;
        int status = runCommand(
            "python3 " + (dir / "check.py").string() + " " + (dir / "song.rpsong").string(), &output);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("ORPSong Groove 2 1.0 True True"), std::string::npos) << output;
        EXPECT_NE(output.find("2 ['$class', 'ORPD_groupName', 'ORPD_midiChannel', 'ORPD_midiNote', "
                              "'ORPD_midiVelocity', 'ORPD_typeName', 'ORPD_varName']"),
            std::string::npos)
            << output;
    }
}

TEST_F(ORPSongFileTest, SavingReplacesTheOldFileSafely)
{
    ORPDrumPtr hat;
    auto song = richSong(hat);
    auto path = dir / "song.rpsong";
    writeFileBytes(path, { 'o', 'l', 'd' });
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(song->writeToFile(path));
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(readFileBytes(path), song->dataRepresentation());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1); // nothing left aside

    // A folder that cannot be written: an error, and the old file is untouched.
    auto locked = dir / "locked";
    std::filesystem::create_directory(locked);
    writeFileBytes(locked / "song.rpsong", { 'o', 'l', 'd' });
    ::chmod(locked.c_str(), 0500);
    rp::Error error;
    bool wrote = song->writeToFile(locked / "song.rpsong", &error);
    ::chmod(locked.c_str(), 0700);
    if (::geteuid() != 0) {
        EXPECT_FALSE(wrote);
        EXPECT_EQ(error.domain, rp::kPosixErrorDomain);
        EXPECT_EQ(readFileBytes(locked / "song.rpsong"), (std::vector<unsigned char> { 'o', 'l', 'd' }));
    }
}

TEST_F(ORPSongFileTest, KitLocationTravelsAsBookmarkAndAlias)
{
    ORPDrumPtr hat;
    auto song = richSong(hat);
    auto kit = dir / "Kit.rpkit";
    std::filesystem::create_directory(kit);
    song->setDrumKit(nullptr, kit);
    ASSERT_TRUE(song->writeToFile(dir / "song.rpsong"));
    rp::Error error;
    auto back = ORPSong::songFromURL(dir / "song.rpsong", &error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->drumKitURL(), kit);

    // Moved: the bookmark finds it again.
    std::filesystem::rename(kit, dir / "Moved.rpkit");
    back = ORPSong::songFromURL(dir / "song.rpsong", &error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->drumKitURL(), dir / "Moved.rpkit");

    // Only an alias record (as older files have it).
    auto alias = rp::FileReference::aliasRecordData(dir / "Moved.rpkit");
    ASSERT_TRUE(alias);
    auto handMade = std::make_shared<HandMade>("ORPSong", [&](rp::KeyedArchiver& c) {
        c.encodeData(*alias, "ORPS_drumKitAlias");
        c.encodeFloat(0.5f, "ORPS_masterLevel");
    });
    back = open(songFile(0x01050002, 0x01050002, "1.5", wrappedArchiveOf(handMade)), &error);
    ASSERT_TRUE(back) << error.text();
    EXPECT_EQ(back->drumKitURL(), dir / "Moved.rpkit");
    EXPECT_TRUE(back->sectionList().empty());
    EXPECT_EQ(back->totalBars(), 0u);
}

TEST_F(ORPSongFileTest, VersionCodesDecideWhoMayOpen)
{
    ORPDrumPtr hat;
    auto song = richSong(hat);
    auto wrapped = wrappedArchiveOf(song);
    const uint32_t current = rp::currentBuildVersionCode();
    rp::Error error;

    // Made for a newer build: refused before anything is decompressed (the rest is garbage).
    {
        rp::LogCapture log;
        auto refused
            = open(songFile(current + 1, current + 1, "9.9", { 'j', 'u', 'n', 'k' }), &error, "New.rpsong");
        EXPECT_FALSE(refused);
        EXPECT_TRUE(error.isApplicationError(1001));
        EXPECT_EQ(error.description,
            "'New.rpsong' was created with a newer version of Rattlepan, and can't be opened.");
        EXPECT_EQ(error.recoverySuggestion,
            "This song was created with Rattlepan 9.9. You may wish to upgrade to the latest version.");
        EXPECT_TRUE(log.contains("ORPSong failed: current version " + rp::formatBuildVersionCode(current)));
    }

    // Saved by a newer build that stays compatible: a warning, then the song.
    {
        auto prompt = std::make_shared<rp::ScriptedPrompt>();
        prompt->answerAlert(0, "newer version");
        rp::ScopedPrompt scope(prompt);
        rp::LogCapture log;
        auto opened = open(songFile(0x01050002, current + 1, "7.0", wrapped), &error, "Later.rpsong");
        ASSERT_TRUE(opened) << error.text();
        ASSERT_EQ(prompt->asked().size(), 1u);
        EXPECT_EQ(prompt->asked()[0].title, "'Later.rpsong' was created with a newer version of Rattlepan.");
        EXPECT_EQ(prompt->asked()[0].message,
            "This song was created with Rattlepan 7.0. Some information may be lost.");
        EXPECT_EQ(prompt->asked()[0].buttons, (std::vector<std::string> { "Continue" }));
        EXPECT_TRUE(log.contains("ORPSong warning: current version"));
    }

    // Before 1B5 there is no version string: the wrapper starts at offset 32.
    auto old = open(songFile(0x01020004, 0x01020004, "", wrapped, false), &error);
    ASSERT_TRUE(old) << error.text();
    EXPECT_EQ(old->name(), "Groove");
}

TEST_F(ORPSongFileTest, HostileFilesAreInvalidSongs)
{
    std::vector<std::vector<uint8_t>> bad;
    std::mt19937 random(7);
    std::vector<uint8_t> noise(4096);
    for (auto& byte : noise)
        byte = static_cast<uint8_t>(random());
    // Cut and changed files are covered byte by byte by the hostile corpus; these are whole wrong kinds.
    bad.push_back(noise);
    bad.push_back(
        songFile(0x01050002, 0x01050002, "2.0", wrappedArchiveOf(ORPPattern::pattern()))); // not a song
    bad.push_back(songFile(0x01050002, 0x01050002, "2.0", *rp::compressedData(noise)));
    // A song whose sections list holds a pattern.
    bad.push_back(songFile(0x01050002, 0x01050002, "2.0",
        wrappedArchiveOf(std::make_shared<HandMade>("ORPSong", [](rp::KeyedArchiver& c) {
            c.encodeArrayOfObjects({ ORPPattern::pattern() }, "ORPS_sectionList");
        }))));
    // A typed stream whose root is not a song.
    rp::test::TypedStreamWriter stream;
    stream.group("@");
    stream.stringObject("hello");
    bad.push_back(stream.bytes());

    for (size_t i = 0; i < bad.size(); ++i) {
        rp::Error error;
        auto result = open(bad[i], &error, "Bad.rpsong");
        EXPECT_FALSE(result) << "case " << i;
        EXPECT_TRUE(error.isApplicationError(1000)) << "case " << i << ": " << error.text();
        EXPECT_EQ(error.description, "'Bad.rpsong' is not a valid Rattlepan song file, or may be corrupt.");
    }
    rp::Error missing;
    EXPECT_FALSE(ORPSong::songFromURL(dir / "nothing-here.rpsong", &missing));
    EXPECT_EQ(missing.domain, rp::kPosixErrorDomain);
    EXPECT_EQ(missing.code, ENOENT);
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
    auto pattern = std::make_shared<HandMade>("ORPPattern", [&](rp::KeyedArchiver& c) {
        c.encodeInt32(0, "ORPP_tsTop");
        c.encodeInt32(-8, "ORPP_tsBottom");
        c.encodeFloat(3.0f, "ORPP_beatBasis");
        c.encodeFloat(std::nanf(""), "ORPP_duration");
        c.encodeArrayOfObjects(
            { event(0.75f, 0.5f), event(1.5f, 1), event(std::nanf(""), 1), event(-0.1f, 1),
                event(0.25f, std::numeric_limits<float>::infinity()), event(0.5f, 0.3f, false) },
            "ORPP_events");
        c.encodeInt32(42, "ORPP_zoomLevel");
    });
    rp::LogCapture log;
    auto decoded = std::dynamic_pointer_cast<ORPPattern>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(rp::KeyedArchiver::archivedDataWithRootObject(pattern)));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->timeSignatureTop(), 4);
    EXPECT_EQ(decoded->timeSignatureBottom(), 4);
    EXPECT_EQ(decoded->beatBasis(), 4.0f);
    EXPECT_EQ(decoded->duration(), 2.0f);
    EXPECT_EQ(places(*decoded), (std::vector<float> { 0.25f, 0.5f, 0.75f })); // sorted, outsiders dropped
    EXPECT_EQ((*decoded->events())[0]->velocity(), 1.0f);
    EXPECT_EQ((*decoded->events())[1]->drum()->typeName(), "New instrument");
    EXPECT_TRUE(log.contains("dropped event at place 1.500000"));
    EXPECT_TRUE(log.contains("duration nan cannot be read"));
    EXPECT_TRUE(log.contains("no drum for event at 0.500000 with velocity 0.300000"));

    // A valid signature is kept while an invalid one alone is replaced.
    auto partly = std::make_shared<HandMade>("ORPPattern", [&](rp::KeyedArchiver& c) {
        c.encodeInt32(7, "ORPP_tsTop");
        c.encodeInt32(0, "ORPP_tsBottom");
        c.encodeFloat(8.0f, "ORPP_beatBasis");
        c.encodeFloat(-1.0f, "ORPP_duration");
    });
    decoded = std::dynamic_pointer_cast<ORPPattern>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(rp::KeyedArchiver::archivedDataWithRootObject(partly)));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->timeSignatureTop(), 7);
    EXPECT_EQ(decoded->timeSignatureBottom(), 4);
    EXPECT_EQ(decoded->beatBasis(), 8.0f);
    EXPECT_EQ(decoded->duration(), 2.0f);

    // Repeat counts below 1 read as 1.
    auto section = ORPSection::section();
    auto entry = std::make_shared<HandMade>("ORPSectionMarker", [&](rp::KeyedArchiver& c) {
        c.encodeObject(section, "ORPSM_section");
        c.encodeString("zero", "ORPSM_name");
        c.encodeInt32(0, "ORPSM_numberOfTimes");
    });
    auto marker = std::dynamic_pointer_cast<ORPSectionMarker>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(rp::KeyedArchiver::archivedDataWithRootObject(entry)));
    ASSERT_TRUE(marker);
    EXPECT_EQ(marker->numberOfTimes(), 1);
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
    auto root = std::make_shared<HandMade>("ORPSong", [&](rp::KeyedArchiver& c) {
        c.encodeArrayOfObjects({ section, section }, "ORPS_sectionList");
        c.encodeArrayOfObjects({ entry, orphan }, "ORPS_sectionMarkerList");
        c.encodeFloat(0.5f, "ORPS_masterLevel");
    });
    rp::Error error;
    auto song = open(songFile(0x01050002, 0x01050002, "2.0", wrappedArchiveOf(root)), &error);
    ASSERT_TRUE(song) << error.text();
    ASSERT_EQ(song->sectionList().size(), 2u);
    ASSERT_EQ(song->sectionMarkerList().size(), 1u);
    auto twice = song->sectionList()[0];
    ASSERT_EQ(twice->patterns().size(), 2u);
    EXPECT_NE(twice->patterns()[0], twice->patterns()[1]);
    auto all = song->allPatterns();
    EXPECT_EQ(std::set<ORPPatternPtr>(all.begin(), all.end()).size(), 3u);
    for (const auto& decodedSection : song->sectionList()) {
        for (const auto& pattern : decodedSection->patterns())
            EXPECT_EQ(pattern->parentSection(), decodedSection);
    }
    twice->patterns()[1]->setBpm(60, 4); // the section still hears both of its bars
    EXPECT_EQ(twice->duration(), 6.0f);
    EXPECT_EQ(song->totalBars(), 1u);
}

// ---- Older sequential songs ----------------------------------------------------------------------

using Hit = std::pair<std::string, std::string>; // type, variant

void writeOldEvent(TypedStreamWriter& w, const std::vector<Hit>& slots, float velocity)
{
    w.beginObject({ { "DrumEvent", 0 }, { "NSObject", 0 } });
    for (size_t slot = 0; slot < 5; ++slot) {
        bool used = slot < slots.size() && !slots[slot].first.empty();
        w.group("@");
        used ? static_cast<void>(w.stringObject(slots[slot].first)) : w.nil();
        w.group("@");
        used ? static_cast<void>(w.stringObject(slots[slot].second)) : w.nil();
        w.group("f");
        w.floatValue(velocity, true);
    }
    w.endObject();
}

// A version 1 pattern: hits at positions of 24 per written beat.
int writeV1Pattern(TypedStreamWriter& w, int top, int bottom, int legacyBasis, float tempo,
    const std::vector<std::pair<int, std::vector<Hit>>>& hits)
{
    int number = w.beginObject({ { "DrumPattern", 1 }, { "NSObject", 0 } });
    w.group("s");
    w.integer(top);
    w.group("s");
    w.integer(bottom);
    w.group("s");
    w.integer(legacyBasis);
    w.group("f");
    w.floatValue(tempo);
    for (const auto& [position, slots] : hits) {
        w.group("S");
        w.integer(position);
        if (position < top * 24) {
            w.group("@");
            writeOldEvent(w, slots, 0.5f);
        }
    }
    w.group("S");
    w.integer(65535);
    w.endObject();
    return number;
}

std::vector<uint8_t> fourPatternSong(bool bigEndian, int songVersion, const std::vector<uint8_t>& alias)
{
    TypedStreamWriter w(bigEndian);
    w.group("@");
    w.beginObject({ { "SongFile", songVersion }, { "NSObject", 0 } });
    w.group("@");
    w.stringObject("Old song");
    w.group("@");
    w.stringObject("from the nineties");
    w.group("@");
    if (songVersion >= 2)
        w.dataObject(alias);
    else
        w.stringObject("/kits/Old.rpkit");
    std::vector<int> numbers;
    w.group("@");
    w.arrayObject(4, [&](int i) {
        numbers.push_back(writeV1Pattern(w, 4, 4, 40, 120.0f + static_cast<float>(i),
            { { 0, { { "kick", "default" } } },
                { 48, { { "snare", "default" }, { "hi hat", "closed" }, { "Hi Hat", "open" } } },
                { 72, { {}, { "tom", "" } } }, { 200, {} } }));
    });
    w.group("@");
    w.arrayObject(1, [&](int) {
        w.beginObject({ { "SectionMarker", 0 }, { "NSObject", 0 } });
        w.group("@");
        w.stringObject("verse");
        w.group("@");
        w.reference(numbers[1]);
        w.group("@");
        w.reference(numbers[2]);
        w.endObject();
    });
    w.group("f");
    w.floatValue(1.0f);
    w.group("c");
    w.byte(1);
    if (songVersion >= 1) {
        w.group("f");
        w.floatValue(0.7f, true);
    }
    w.endObject();
    return w.bytes();
}

TEST_F(ORPSongFileTest, OlderSequentialSongsImportInBothByteOrders)
{
    auto kit = dir / "Old Kit.rpkit";
    std::filesystem::create_directory(kit);
    auto alias = rp::FileReference::aliasRecordData(kit);
    ASSERT_TRUE(alias);
    for (bool bigEndian : { true, false }) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        rp::Error error;
        auto song = open(fourPatternSong(bigEndian, 2, *alias), &error);
        ASSERT_TRUE(song) << error.text();
        EXPECT_EQ(song->notes(), "from the nineties");
        EXPECT_EQ(song->masterLevel(), 0.7f);
        EXPECT_EQ(song->drumKitURL(), kit);

        ASSERT_EQ(song->sectionList().size(), 3u);
        EXPECT_EQ(song->sectionList()[1]->name(), "verse (imported)");
        EXPECT_EQ(song->sectionList()[1]->patterns().size(), 2u);
        ASSERT_EQ(song->sectionMarkerList().size(), 3u);
        EXPECT_EQ(song->sectionMarkerList()[1]->name(), "verse");
        EXPECT_EQ(song->totalBars(), 4u);

        // Position 48 of a 4/4 bar is half-way; two slots of one type at one place make one event.
        auto bar = song->sectionList()[1]->patterns()[1]; // the third pattern, i = 2
        EXPECT_FLOAT_EQ(bar->bpm(), 122.0f);
        EXPECT_EQ(bar->beatBasis(), 4.0f);
        EXPECT_EQ(places(*bar), (std::vector<float> { 0.0f, 0.5f, 0.5f, 0.75f }));
        auto atHalf = bar->eventsAtPlace(0.5f);
        ASSERT_EQ(atHalf.size(), 2u);
        // Each hit goes before the other types already there; the later hi hat slot changes the first.
        EXPECT_EQ(atHalf[0]->drum()->compositeName(), "Hi Hat (open)");
        EXPECT_EQ(atHalf[0]->velocity(), 0.5f);
        EXPECT_EQ(atHalf[1]->drum()->compositeName(), "snare");
        EXPECT_EQ((*bar->events())[3]->drum()->typeName(), "tom");
    }
}

TEST_F(ORPSongFileTest, OlderSongVersionsAndPatternForms)
{
    // Version 0: kit path as a string, master level 0.8, version-0 patterns with evenly spread events.
    TypedStreamWriter w(true);
    w.group("@");
    w.beginObject({ { "ORPSong", 0 }, { "NSObject", 0 } });
    w.group("@");
    w.stringObject("Zero");
    w.group("@");
    w.nil();
    w.group("@");
    w.stringObject("/kits/Zero.rpkit");
    w.group("@");
    w.arrayObject(1, [&](int) {
        w.beginObject({ { "ORPPattern", 0 }, { "NSObject", 0 } });
        for (int value : { 6, 8, 0, 0 }) {
            w.group("s");
            w.integer(value);
        }
        w.group("f");
        w.floatValue(180);
        w.group("@");
        w.arrayObject(4, [&](int i) {
            writeOldEvent(w, { { "kick", "" }, { i % 2 ? "snare" : "", "" } }, 0.9f);
        });
        w.endObject();
    });
    w.group("@");
    w.nil();
    w.group("f");
    w.floatValue(1.0f);
    w.group("c");
    w.byte(0);
    w.endObject();

    rp::Error error;
    auto song = open(w.bytes(), &error);
    ASSERT_TRUE(song) << error.text();
    EXPECT_EQ(song->masterLevel(), 0.8f);
    EXPECT_EQ(song->drumKitURL(), "/kits/Zero.rpkit");
    auto bar = song->sectionList().at(0)->patterns().at(0);
    EXPECT_EQ(bar->timeSignatureTop(), 6);
    EXPECT_EQ(bar->beatBasis(), 8.0f / 3.0f);
    EXPECT_FLOAT_EQ(bar->duration(), 2.0f); // 6 written beats at 180
    EXPECT_EQ(places(*bar), (std::vector<float> { 0.0f, 0.25f, 0.25f, 0.5f, 0.75f, 0.75f }));

    // A version 1 pattern with a tempo of zero and an unknown basis code is repaired, not divided by.
    TypedStreamWriter v1(false);
    v1.group("@");
    v1.beginObject({ { "SongFile", 1 }, { "NSObject", 0 } });
    v1.group("@");
    v1.stringObject("One");
    v1.group("@");
    v1.stringObject("");
    v1.group("@");
    v1.nil();
    v1.group("@");
    v1.arrayObject(1, [&](int) { writeV1Pattern(v1, 3, 4, 33, 0.0f, { { 36, { { "kick", "" } } } }); });
    v1.group("@");
    v1.arrayObject(0, [](int) {});
    v1.group("f");
    v1.floatValue(1.0f);
    v1.group("c");
    v1.byte(0);
    v1.group("f");
    v1.floatValue(0.25f, true);
    v1.endObject();
    rp::LogCapture log;
    song = open(v1.bytes(), &error);
    ASSERT_TRUE(song) << error.text();
    bar = song->sectionList().at(0)->patterns().at(0);
    EXPECT_EQ(song->masterLevel(), 0.25f);
    EXPECT_EQ(bar->timeSignatureTop(), 3);
    EXPECT_EQ(bar->beatBasis(), 4.0f);
    EXPECT_EQ(bar->duration(), 2.0f);
    EXPECT_EQ(places(*bar), (std::vector<float> { 0.5f }));
    EXPECT_TRUE(log.contains("duration inf cannot be read"));
}

} // namespace
