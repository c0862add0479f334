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

std::vector<uint8_t> header(
    uint32_t compatibility, uint32_t savedWith, const std::optional<std::string>& version)
{
    std::vector<uint8_t> out(
        ORPDrumKit::kKitFileMagic, ORPDrumKit::kKitFileMagic + ORPDrumKit::kKitFileMagicLength);
    for (uint32_t code : { compatibility, savedWith }) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<uint8_t>(code >> shift));
        }
    }
    if (version) {
        out.insert(out.end(), version->begin(), version->end());
        out.push_back(0);
    }
    return out;
}

// The keyed archive part of a kit file written by this build.
std::vector<uint8_t> archivePart(const std::vector<uint8_t>& flat)
{
    auto zero = std::find(flat.begin() + 31, flat.end(), uint8_t { 0 });
    return std::vector<uint8_t>(zero + 1, flat.end());
}

class KitBundleTest : public ::testing::Test {
protected:
    void SetUp() override { ORPDrumKit::registerArchiveClasses(); }

    // A kit of two groups, each holding an embedded "snare", plus a drum with a slash in its name.
    ORPDrumKitPtr embeddedKit()
    {
        auto kit = ORPDrumKit::kit();
        kit->setKitName("Test kit");
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
    auto kit = embeddedKit();
    const fs::path bundle = dir / "My Kit.rpkit";
    ASSERT_TRUE(kit->writeToPath(bundle));
    EXPECT_TRUE(fs::exists(bundle / "Sounds" / "snare.aiff"));
    EXPECT_TRUE(fs::exists(bundle / "Sounds" / "snare 2.aiff"));
    EXPECT_TRUE(fs::exists(bundle / "Sounds" / "rim-stick.aiff"));
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
    EXPECT_EQ(read->buildVersionSavedWith(), rp::currentBuildVersionCode());
    ASSERT_EQ(read->drums().size(), 3u);
    EXPECT_EQ(read->drums()[1]->storedSound()->soundFileURL(), bundle / "Sounds" / "snare 2.aiff");
    EXPECT_EQ(read->drums()[0]->legacyGridPosition(), 4);
    EXPECT_EQ(read->drums()[2]->legacyGridPosition(), 3);
    EXPECT_TRUE(read->drums()[0]->storedSound()->bufferListWithAudioStreamDescription(
        AudioStreamBasicDescription::canonicalFloat(44100, 1)));

    // The bare kit file reads too.
    EXPECT_TRUE(ORPDrumKit::drumKitFromURL(bundle / "My Kit.rpkit", false, &error));
}

TEST_F(KitBundleTest, WritingFailsOnAnExistingFolderAMissingParentOrAFailedKitFile)
{
    auto kit = embeddedKit();
    fs::create_directory(dir / "Existing.rpkit");
    rp::LogCapture log;
    EXPECT_FALSE(kit->writeToPath(dir / "Existing.rpkit"));
    EXPECT_TRUE(log.contains("ORPDrumKit failed to create"));
    EXPECT_FALSE(kit->writeToPath(dir / "no" / "such" / "K.rpkit"));

    // The bundle's name (250 bytes, no extension) fits, the kit file's ("<name>.rpkit", 256
    // bytes) does not: everything but the kit file is written.
    const fs::path bundle = dir / std::string(250, 'k');
    EXPECT_FALSE(kit->writeToPath(bundle));
    EXPECT_TRUE(fs::exists(bundle / "Sounds" / "snare.aiff"));
    EXPECT_TRUE(log.contains("ORPDrumKit failed to write"));
}

TEST_F(KitBundleTest, SafeSaveReplacesTheBundleAndKeepsTheOldOneOnFailure)
{
    const fs::path bundle = dir / "Safe.rpkit";
    auto first = embeddedKit();
    ASSERT_TRUE(first->saveToPath(bundle));
    // A second save replaces the bundle as a whole: no stale sounds, no scratch folders.
    auto second = ORPDrumKit::kit();
    second->setKitName("Second");
    second->addDrum(makeDrumWithSound("A", "kick", "default", makeSoundFile(dir / "k.aiff", 60)));
    ASSERT_TRUE(second->saveToPath(bundle));
    EXPECT_FALSE(fs::exists(bundle / "Sounds" / "snare.aiff"));
    EXPECT_TRUE(fs::exists(bundle / "Sounds" / "kick.aiff"));
    EXPECT_EQ(second->drums()[0]->storedSound()->soundFileURL(), bundle / "Sounds" / "kick.aiff");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 5u); // s1, s2, s3, k.aiff, Safe.rpkit

    // A save that fails leaves the previous bundle as it was.
    const fs::path longBundle = dir / std::string(250, 'k');
    fs::create_directory(longBundle);
    rp::test::writeFileBytes(longBundle / "marker", { 1 });
    EXPECT_FALSE(second->saveToPath(longBundle));
    EXPECT_TRUE(fs::exists(longBundle / "marker"));
    // The kit's sounds still point at the bundle they were saved in last.
    EXPECT_EQ(second->drums()[0]->storedSound()->soundFileURL(), bundle / "Sounds" / "kick.aiff");
    auto reread = ORPDrumKit::drumKitFromURL(bundle, true);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->kitName(), "Second");
}

ORPDrumKitPtr linkedKit(const fs::path& soundFile, const std::string& prompt = {})
{
    auto kit = ORPDrumKit::kit();
    kit->setKitName("Linked");
    if (!prompt.empty()) {
        kit->setFixLinksPrompt(prompt);
    }
    auto drum = makeDrumWithSound("G", "cowbell", "default", soundFile);
    drum->setLinkAudioOnly(true);
    kit->addDrum(drum);
    return kit;
}

TEST_F(KitBundleTest, LinkedSoundMissingAtSaveIsCountedAndTheUserTold)
{
    const fs::path outside = makeSoundFile(dir / "cowbell.aiff", 800);
    auto kit = linkedKit(outside);
    fs::remove(outside);
    auto prompt = std::make_shared<rp::ScriptedPrompt>();
    prompt->answerAlert(0, "Linked sound files for 1 drum(s) could not be found.");
    rp::ScopedPrompt scoped(prompt);
    EXPECT_TRUE(kit->writeToPath(dir / "L.rpkit"));
    prompt->verifyAllAnswered();
    ASSERT_EQ(prompt->asked().size(), 1u);
    EXPECT_EQ(prompt->asked()[0].message,
        "You can try to search for them automatically by choosing \"Fix Links\".");
    EXPECT_TRUE(fs::is_empty(dir / "L.rpkit" / "Sounds")); // linked sounds are not copied
}

TEST_F(KitBundleTest, MissingLinkedSoundIsFoundInAChosenFolderAndRemembered)
{
    const fs::path outside = makeSoundFile(dir / "cowbell.aiff", 800);
    auto kit = linkedKit(outside, "Insert the percussion disc");
    const fs::path bundle = dir / "L.rpkit";
    ASSERT_TRUE(kit->writeToPath(bundle));

    // The sound moves into a folder tree elsewhere.
    fs::create_directories(dir / "library" / "perc" / "metal");
    const fs::path moved = dir / "library" / "perc" / "metal" / "cowbell.aiff";
    fs::rename(outside, moved);

    // The kit editor's reading never asks.
    auto editorKit = ORPDrumKit::drumKitFromURL(bundle, false);
    ASSERT_TRUE(editorKit);
    EXPECT_EQ(editorKit->missingLinkedSoundCount(), 1);

    {
        auto prompt = std::make_shared<rp::ScriptedPrompt>();
        prompt->answerAlert(0, "Linked sound files for 1 drum(s) need to be located.");
        prompt->answerChooseFolder(dir / "library", "Select a Folder to Search");
        rp::ScopedPrompt scoped(prompt);
        rp::Error error;
        auto songKit = ORPDrumKit::drumKitFromURL(bundle, true, &error);
        ASSERT_TRUE(songKit) << error.text();
        prompt->verifyAllAnswered();
        EXPECT_EQ(prompt->asked()[0].message, "Insert the percussion disc");
        EXPECT_EQ(songKit->drums()[0]->storedSound()->soundFileURL(), moved);
        EXPECT_EQ(ORPDrumKit::surrogateURLForLinkedSoundURL(outside), moved);
    }
    {
        // Next time the remembered substitute is used without asking (an unexpected question throws).
        auto prompt = std::make_shared<rp::ScriptedPrompt>();
        rp::ScopedPrompt scoped(prompt);
        auto again = ORPDrumKit::drumKitFromURL(bundle, true);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->drums()[0]->storedSound()->soundFileURL(), moved);
    }
    {
        // A substitute that has gone too is forgotten, and cancelling the search gives error 1003.
        fs::remove(moved);
        auto prompt = std::make_shared<rp::ScriptedPrompt>();
        prompt->answerAlert(0);
        prompt->answerChooseFolder(std::nullopt);
        rp::ScopedPrompt scoped(prompt);
        rp::Error error;
        EXPECT_FALSE(ORPDrumKit::drumKitFromURL(bundle, true, &error));
        EXPECT_TRUE(error.isApplicationError(rp::kErrorKitSoundsMissing));
        EXPECT_EQ(error.description, "'L.rpkit' couldn't be opened because some sounds are missing.");
        EXPECT_EQ(error.recoverySuggestion,
            "To use this drum kit with a song, you must first locate all referenced sounds.");
        EXPECT_FALSE(ORPDrumKit::surrogateURLForLinkedSoundURL(outside));
    }
    {
        // A search that finds nothing also fails with 1003.
        auto prompt = std::make_shared<rp::ScriptedPrompt>();
        prompt->answerAlert(0);
        prompt->answerChooseFolder(dir / "library");
        rp::ScopedPrompt scoped(prompt);
        rp::Error error;
        EXPECT_FALSE(ORPDrumKit::drumKitFromURL(bundle, true, &error));
        EXPECT_EQ(error.code, rp::kErrorKitSoundsMissing);
    }
}

TEST_F(KitBundleTest, HeaderVersions)
{
    auto kit = embeddedKit();
    const auto archive = archivePart(kit->flatDataRepresentation());
    const uint32_t current = rp::currentBuildVersionCode();

    // 1B4 compatibility: no version string, the archive starts at offset 31.
    auto old = header(0x01020004, 0x01020004, std::nullopt);
    old.insert(old.end(), archive.begin(), archive.end());
    writeFileBytes(dir / "old.rpkit", old);
    rp::Error error;
    auto read = ORPDrumKit::drumKitFromURL(dir / "old.rpkit", false, &error);
    ASSERT_TRUE(read) << error.text();
    EXPECT_EQ(read->buildVersionSavedWith(), 0x01020004u);
    EXPECT_TRUE(read->upgradeDefaultVariantsIfNeeded());

    // A newer compatibility code is refused with 1001.
    auto newer = header(current + 1, current + 1, std::string("9.9"));
    newer.insert(newer.end(), archive.begin(), archive.end());
    writeFileBytes(dir / "newer.rpkit", newer);
    rp::LogCapture log;
    EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "newer.rpkit", false, &error));
    EXPECT_TRUE(error.isApplicationError(rp::kErrorNewerVersion));
    EXPECT_EQ(error.description,
        "'newer.rpkit' was created with a newer version of Rattlepan, and can't be opened.");
    EXPECT_EQ(error.recoverySuggestion,
        "This drum kit was created with Rattlepan 9.9. You may wish to upgrade to the latest version.");
    EXPECT_TRUE(log.contains("ORPDrumKit failed: current version"));

    // Saved by a newer build that this one can read: a warning, then the kit.
    auto warned = header(0x01020005, current + 1, std::string("9.9"));
    warned.insert(warned.end(), archive.begin(), archive.end());
    writeFileBytes(dir / "warned.rpkit", warned);
    auto prompt = std::make_shared<rp::ScriptedPrompt>();
    prompt->answerAlert(0, "'warned.rpkit' was created with a newer version of Rattlepan.");
    rp::ScopedPrompt scoped(prompt);
    auto warnedKit = ORPDrumKit::drumKitFromURL(dir / "warned.rpkit", false, &error);
    ASSERT_TRUE(warnedKit);
    EXPECT_EQ(prompt->asked()[0].message,
        "This song was created with Rattlepan 9.9. Some information may be lost.");
    EXPECT_EQ(warnedKit->buildVersionSavedWith(), current + 1);
}

TEST_F(KitBundleTest, HostileKitFilesAreRefusedWithError1000)
{
    auto expectInvalid = [&](const std::vector<uint8_t>& bytes, const char* what) {
        writeFileBytes(dir / "bad.rpkit", bytes);
        rp::Error error;
        EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "bad.rpkit", true, &error)) << what;
        EXPECT_TRUE(error.isApplicationError(rp::kErrorInvalidFile)) << what << ": " << error.text();
        EXPECT_EQ(
            error.description, "'bad.rpkit' is not a valid Rattlepan drum kit file, or may be corrupt.");
    };
    expectInvalid({}, "empty");
    expectInvalid({ 'h', 'e', 'l', 'l', 'o' }, "text");
    expectInvalid(header(0x01020005, 0x01020005, std::nullopt), "header only, no version terminator");
    // A valid archive whose root is a drum, not a kit.
    auto notAKit = header(0x01020005, 0x01020005, std::string("2.0"));
    auto drumArchive = rp::KeyedArchiver::archivedDataWithRootObject(rp::test::makeDrum("a", "b", "c"));
    notAKit.insert(notAKit.end(), drumArchive.begin(), drumArchive.end());
    expectInvalid(notAKit, "root is a drum");

    // A bundle without a kit file: no kit, and no error set.
    fs::create_directory(dir / "Empty.rpkit");
    rp::Error untouched;
    EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "Empty.rpkit", true, &untouched));
    EXPECT_EQ(untouched.code, 0);
    // A named pipe in place of the kit file is refused at once rather than waited on.
    fs::create_directory(dir / "Pipe.rpkit");
    ASSERT_EQ(::mkfifo((dir / "Pipe.rpkit" / "Pipe.rpkit").c_str(), 0600), 0);
    EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "Pipe.rpkit", true, &untouched));
    EXPECT_EQ(untouched.domain, rp::kPosixErrorDomain);
    // A missing file is the system's error.
    EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / "nothing.rpkit", true, &untouched));
    EXPECT_EQ(untouched.domain, rp::kPosixErrorDomain);
}

TEST_F(KitBundleTest, EmbeddedSoundNamesCannotReachOutsideTheBundle)
{
    // A secret sound beside the bundle, and a kit whose embedded sound names point at it.
    makeSoundFile(dir / "secret.aiff", 1000);
    auto kit = embeddedKit();
    ASSERT_TRUE(kit->writeToPath(dir / "K.rpkit"));
    rp::LogCapture log;
    for (const std::string& name : { std::string("../../secret.aiff"), std::string(".."),
             std::string("a\0b", 3), std::string("a/b.aiff") }) {
        kit->drums()[0]->storedSound()->setSoundFileURL(std::nullopt);
        kit->drums()[0]->storedSound()->setName(name);
        ASSERT_EQ(kit->drums()[0]->storedSound()->name(), name);
        // Archive the kit as it stands (embedded, so the name is all that locates the file).
        for (const auto& drum : kit->drums()) {
            drum->storedSound()->setSavesFileReference(false);
        }
        writeFileBytes(dir / "K.rpkit" / "K.rpkit", kit->flatDataRepresentation());
        auto read = ORPDrumKit::drumKitFromURL(dir / "K.rpkit", true);
        ASSERT_TRUE(read) << name;
        EXPECT_FALSE(read->drums()[0]->storedSound()->soundFileURL()) << name;
        EXPECT_EQ(
            read->drums()[1]->storedSound()->soundFileURL(), dir / "K.rpkit" / "Sounds" / "snare 2.aiff");
    }
    EXPECT_TRUE(log.contains("is not a file name in the Sounds folder"));
}

TEST_F(KitBundleTest, UniqueFileNames)
{
    const fs::path wanted = dir / "snare.aiff";
    EXPECT_EQ(URLByEnsuringUniqueLocalFilename(wanted), wanted);
    writeFileBytes(wanted, { 1 });
    writeFileBytes(dir / "snare 2.aiff", { 1 });
    EXPECT_EQ(URLByEnsuringUniqueLocalFilename(wanted), dir / "snare 3.aiff");
    for (int i = 3; i <= 999; ++i) {
        writeFileBytes(dir / ("snare " + std::to_string(i) + ".aiff"), { 1 });
    }
    EXPECT_EQ(URLByEnsuringUniqueLocalFilename(wanted), dir / "snare 999.aiff"); // taken, used anyway
}

TEST_F(KitBundleTest, KitArchiveReadsWithPythonsPlistlib)
{
    if (!rp::test::haveTool("python3")) {
        GTEST_SKIP() << "python3 not installed";
    }
    auto kit = embeddedKit();
    ASSERT_TRUE(kit->writeToPath(dir / "P.rpkit"));
    writeFileBytes(dir / "archive.plist", archivePart(readFileBytes(dir / "P.rpkit" / "P.rpkit")));
    const std::string script
        = "import plistlib,sys\n"
          "p=plistlib.load(open(sys.argv[1],'rb'))\n"
          "o=p['$objects']\n"
          "root=o[p['$top']['root'].data]\n"
          "cls=o[root['$class'].data]['$classname']\n"
          "drums=o[root['ORPDK_drums'].data]['NS.objects']\n"
          "d=o[drums[1].data]\n"
          "print(cls, o[root['ORPDK_kitName'].data], len(drums), o[d['ORPD_groupName'].data],"
          " d['ORPD_gridPos'], d['ORPD_midiChannel'])\n";
    writeFileBytes(dir / "check.py", std::vector<unsigned char>(script.begin(), script.end()));
    std::string output;
    ASSERT_EQ(rp::test::runCommand(
                  "python3 '" + (dir / "check.py").string() + "' '" + (dir / "archive.plist").string() + "'",
                  &output),
        0);
    EXPECT_EQ(output, "ORPDrumKit Test kit 3 B 3 -1\n");
}

} // namespace
