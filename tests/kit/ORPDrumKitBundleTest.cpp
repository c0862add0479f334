#include "archive/KeyedArchiver.h"
#include "foundation/BuildVersion.h"
#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"
#include "kit/KitTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using rp::test::makeDrumWithSound;
using rp::test::makeSoundFile;
using rp::test::readFileBytes;
using rp::test::TempDir;
using rp::test::writeFileBytes;

// A kit file's header: magic, compatibility and saved-with codes, and the version string if any.
std::vector<uint8_t> header(
    uint32_t compatibility, uint32_t savedWith, const std::optional<std::string>& version)
{
    std::vector<uint8_t> out(
        ORPDrumKit::kKitFileMagic, ORPDrumKit::kKitFileMagic + ORPDrumKit::kKitFileMagicLength);
    for (uint32_t code : { compatibility, savedWith })
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(code >> shift));
    if (version)
        out.insert(out.end(), version->c_str(), version->c_str() + version->size() + 1);
    return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> head, const std::vector<uint8_t>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The keyed archive part of a kit file written by this build.
std::vector<uint8_t> archivePart(const std::vector<uint8_t>& flat)
{
    return std::vector<uint8_t>(std::find(flat.begin() + 31, flat.end(), uint8_t { 0 }) + 1, flat.end());
}

class KitBundleTest : public ::testing::Test {
protected:
    void SetUp() override { ORPDrumKit::registerArchiveClasses(); }

    // A kit of two groups, each holding an embedded "snare", plus a drum with a slash in its name.
    ORPDrumKitPtr embeddedKit()
    {
        auto kit = ORPDrumKit::kit();
        kit->setKitName("Test kit");
        kit->setKitInfo(std::string("Dry room"));
        kit->setFixLinksPrompt(std::string("Find the samples CD"));
        kit->setKitImage(ORPImageData { 1, 2, 3 });
        kit->addDrum(makeDrumWithSound("A", "snare", "default", makeSoundFile(dir / "s1.aiff", 200)));
        kit->addDrum(makeDrumWithSound("B", "snare", "default", makeSoundFile(dir / "s2.aiff", 300)));
        kit->addDrum(makeDrumWithSound("B", "rim/stick", "", makeSoundFile(dir / "s3.aiff", 400)));
        return kit;
    }

    TempDir dir;
    rp::test::ScopedKitDefaults defaults;
};

TEST_F(KitBundleTest, EmbeddedSoundsAreWrittenWithUniqueNamesAndReadBack)
{
    const fs::path bundle = dir / "My Kit.rpkit";
    ASSERT_TRUE(embeddedKit()->writeToPath(bundle));
    for (const char* name : { "snare.aiff", "snare 2.aiff", "rim-stick.aiff" })
        EXPECT_TRUE(fs::exists(bundle / "Sounds" / name)) << name;
    const auto kitFile = readFileBytes(bundle / "My Kit.rpkit");
    const auto expected = header(0x01020005, rp::currentBuildVersionCode(), rp::currentShortVersion());
    ASSERT_GT(kitFile.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), kitFile.begin()));

    // The sources move away: the bundle is self-contained.
    fs::remove(dir / "s1.aiff");
    fs::remove(dir / "s2.aiff");
    rp::Error error;
    auto read = ORPDrumKit::drumKitFromURL(bundle, true, &error);
    ASSERT_TRUE(read) << error.text();
    EXPECT_EQ(
        read->kitName() + "|" + read->kitInfo().value_or("") + "|" + read->fixLinksPrompt().value_or(""),
        "Test kit|Dry room|Find the samples CD");
    EXPECT_EQ(read->kitImage(), (ORPImageData { 1, 2, 3 }));
    EXPECT_EQ(read->buildVersionSavedWith(), rp::currentBuildVersionCode());
    ASSERT_EQ(read->drums().size(), 3u);
    EXPECT_EQ(read->drumsHierarchy().size(), 2u);
    EXPECT_EQ(read->drums()[1]->storedSound()->soundFileURL(), bundle / "Sounds" / "snare 2.aiff");
    EXPECT_EQ(read->drums()[0]->legacyGridPosition(), 4);
    EXPECT_TRUE(read->drums()[0]->storedSound()->bufferListWithAudioStreamDescription(
        AudioStreamBasicDescription::canonicalFloat(44100, 1)));
    // The bare kit file reads too.
    EXPECT_TRUE(ORPDrumKit::drumKitFromURL(bundle / "My Kit.rpkit", false, &error));

    // The archive is a keyed archive as Python's plistlib reads it.
    if (!rp::test::haveTool("python3"))
        return;
    writeFileBytes(dir / "archive.plist", archivePart(kitFile));
    const std::string script
        = "import plistlib,sys\n"
          "p=plistlib.load(open(sys.argv[1],'rb'));o=p['$objects'];r=o[p['$top']['root'].data]\n"
          "drums=o[r['ORPDK_drums'].data]['NS.objects'];d=o[drums[1].data]\n"
          "print(o[r['$class'].data]['$classname'],o[r['ORPDK_kitName'].data],len(drums),"
          "o[d['ORPD_groupName'].data],d['ORPD_gridPos'],d['ORPD_midiChannel'])\n";
    writeFileBytes(dir / "check.py", std::vector<unsigned char>(script.begin(), script.end()));
    std::string output;
    ASSERT_EQ(rp::test::runCommand(
                  "python3 '" + (dir / "check.py").string() + "' '" + (dir / "archive.plist").string() + "'",
                  &output),
        0);
    EXPECT_EQ(output, "ORPDrumKit Test kit 3 B 3 -1\n");
}

TEST_F(KitBundleTest, FailedWritesAndSavesLeaveWhatWasThere)
{
    auto kit = embeddedKit();
    fs::create_directory(dir / "Existing.rpkit");
    rp::LogCapture log;
    EXPECT_FALSE(kit->writeToPath(dir / "Existing.rpkit"));
    EXPECT_TRUE(log.contains("ORPDrumKit failed to create"));
    EXPECT_FALSE(kit->writeToPath(dir / "no" / "such" / "K.rpkit"));

    // The bundle's name (250 bytes, no extension) fits, the kit file's ("<name>.rpkit", 256
    // bytes) does not: everything but the kit file is written.
    const fs::path longBundle = dir / std::string(250, 'k');
    EXPECT_FALSE(kit->writeToPath(longBundle));
    EXPECT_TRUE(fs::exists(longBundle / "Sounds" / "snare.aiff"));
    EXPECT_TRUE(log.contains("ORPDrumKit failed to write"));

    // A safe save there fails too and leaves the folder, and the kit's sounds pointing at the
    // bundle they were saved in last. (Saves killed half-way are covered by the fault injection.)
    const fs::path bundle = dir / "Safe.rpkit";
    ASSERT_TRUE(kit->saveToPath(bundle));
    writeFileBytes(longBundle / "marker", { 1 });
    EXPECT_FALSE(kit->saveToPath(longBundle));
    EXPECT_TRUE(fs::exists(longBundle / "marker"));
    EXPECT_EQ(kit->drums()[0]->storedSound()->soundFileURL(), bundle / "Sounds" / "snare.aiff");
    auto reread = ORPDrumKit::drumKitFromURL(bundle, true);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->kitName(), "Test kit");
}

TEST_F(KitBundleTest, MissingLinkedSoundIsFoundInAChosenFolderAndRemembered)
{
    const fs::path outside = makeSoundFile(dir / "cowbell.aiff", 800);
    auto kit = ORPDrumKit::kit();
    kit->setFixLinksPrompt(std::string("Insert the percussion disc"));
    kit->addDrum(makeDrumWithSound("G", "cowbell", "default", outside));
    kit->drums()[0]->setLinkAudioOnly(true);
    const fs::path bundle = dir / "L.rpkit";
    ASSERT_TRUE(kit->writeToPath(bundle));
    EXPECT_TRUE(fs::is_empty(bundle / "Sounds")); // linked sounds are not copied

    // The sound moves into a folder tree elsewhere; writing the kit again tells the user.
    fs::create_directories(dir / "library" / "perc" / "metal");
    const fs::path moved = dir / "library" / "perc" / "metal" / "cowbell.aiff";
    fs::rename(outside, moved);
    auto prompt = std::make_shared<rp::ScriptedPrompt>();
    rp::ScopedPrompt scoped(prompt);
    prompt->answerAlert(0, "Linked sound files for 1 drum(s) could not be found.");
    EXPECT_TRUE(kit->writeToPath(dir / "Again.rpkit"));
    prompt->verifyAllAnswered();
    EXPECT_EQ(prompt->asked().at(0).message,
        "You can try to search for them automatically by choosing \"Fix Links\".");

    // Reading for the kit editor never asks (an unexpected question throws).
    auto editorKit = ORPDrumKit::drumKitFromURL(bundle, false);
    ASSERT_TRUE(editorKit);
    EXPECT_EQ(editorKit->missingLinkedSoundCount(), 1);

    prompt->answerAlert(0, "Linked sound files for 1 drum(s) need to be located.");
    prompt->answerChooseFolder(dir / "library", "Select a Folder to Search");
    rp::Error error;
    auto songKit = ORPDrumKit::drumKitFromURL(bundle, true, &error);
    ASSERT_TRUE(songKit) << error.text();
    prompt->verifyAllAnswered();
    EXPECT_EQ(prompt->asked().at(1).message, "Insert the percussion disc");
    EXPECT_EQ(songKit->drums()[0]->storedSound()->soundFileURL(), moved);
    EXPECT_EQ(ORPDrumKit::surrogateURLForLinkedSoundURL(outside), moved);
    // Next time the remembered substitute is used without asking.
    auto again = ORPDrumKit::drumKitFromURL(bundle, true);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->drums()[0]->storedSound()->soundFileURL(), moved);

    // A substitute that has gone too is forgotten; a cancelled search, or one that finds nothing,
    // gives error 1003.
    fs::remove(moved);
    for (const std::optional<fs::path>& folder :
        { std::optional<fs::path>(), std::optional(dir / "library") }) {
        prompt->answerAlert(0).answerChooseFolder(folder);
        EXPECT_FALSE(ORPDrumKit::drumKitFromURL(bundle, true, &error));
        EXPECT_TRUE(error.isApplicationError(rp::kErrorKitSoundsMissing));
        EXPECT_EQ(error.description, "'L.rpkit' couldn't be opened because some sounds are missing.");
        EXPECT_EQ(error.recoverySuggestion,
            "To use this drum kit with a song, you must first locate all referenced sounds.");
        EXPECT_FALSE(ORPDrumKit::surrogateURLForLinkedSoundURL(outside));
    }
    prompt->verifyAllAnswered();
}

TEST_F(KitBundleTest, HeaderVersionsAndWhatFollowsThem)
{
    const auto archive = archivePart(embeddedKit()->flatDataRepresentation());
    const uint32_t current = rp::currentBuildVersionCode();
    rp::Error error;

    // 1B4 compatibility: no version string, the archive starts at offset 31.
    writeFileBytes(dir / "old.rpkit", header(0x01020004, 0x01020004, std::nullopt) + archive);
    auto read = ORPDrumKit::drumKitFromURL(dir / "old.rpkit", false, &error);
    ASSERT_TRUE(read) << error.text();
    EXPECT_EQ(read->buildVersionSavedWith(), 0x01020004u);
    EXPECT_TRUE(read->upgradeDefaultVariantsIfNeeded());

    // A newer compatibility code is refused with 1001.
    writeFileBytes(dir / "newer.rpkit", header(current + 1, current + 1, "9.9") + archive);
    rp::LogCapture log;
    EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "newer.rpkit", false, &error));
    EXPECT_TRUE(error.isApplicationError(rp::kErrorNewerVersion));
    EXPECT_EQ(error.description,
        "'newer.rpkit' was created with a newer version of Rattlepan, and can't be opened.");
    EXPECT_EQ(error.recoverySuggestion,
        "This drum kit was created with Rattlepan 9.9. You may wish to upgrade to the latest version.");
    EXPECT_TRUE(log.contains("ORPDrumKit failed: current version"));

    // Saved by a newer build that this one can read: a warning, then the kit.
    writeFileBytes(dir / "warned.rpkit", header(0x01020005, current + 1, "9.9") + archive);
    auto prompt = std::make_shared<rp::ScriptedPrompt>();
    prompt->answerAlert(0, "'warned.rpkit' was created with a newer version of Rattlepan.");
    rp::ScopedPrompt scoped(prompt);
    auto warnedKit = ORPDrumKit::drumKitFromURL(dir / "warned.rpkit", false, &error);
    ASSERT_TRUE(warnedKit);
    EXPECT_EQ(prompt->asked()[0].message,
        "This song was created with Rattlepan 9.9. Some information may be lost.");
    EXPECT_EQ(warnedKit->buildVersionSavedWith(), current + 1);

    // A current header before an archive of a drum, not a kit. (Cut and changed kit files are
    // covered byte by byte by the hostile corpus.)
    writeFileBytes(dir / "bad.rpkit",
        header(0x01020005, 0x01020005, "2.0")
            + rp::KeyedArchiver::archivedDataWithRootObject(rp::test::makeDrum("a", "b", "c")));
    EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "bad.rpkit", true, &error));
    EXPECT_TRUE(error.isApplicationError(rp::kErrorInvalidFile)) << error.text();
    EXPECT_EQ(error.description, "'bad.rpkit' is not a valid Rattlepan drum kit file, or may be corrupt.");
    // A missing file is the system's error.
    EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "nothing.rpkit", true, &error));
    EXPECT_EQ(error.domain, rp::kPosixErrorDomain);
}

TEST_F(KitBundleTest, UniqueFileNamesStopAtTheirBound)
{
    const fs::path wanted = dir / "snare.aiff";
    for (int i = 1; i <= 999; ++i)
        writeFileBytes(i == 1 ? wanted : dir / ("snare " + std::to_string(i) + ".aiff"), { 1 });
    EXPECT_EQ(URLByEnsuringUniqueLocalFilename(wanted), dir / "snare 999.aiff"); // taken, used anyway
}

} // namespace
