// Hostile kit bundles made from a real one: the kit file cut at every byte, bytes changed, lengths
// at extremes, every key of every class holding a value of the wrong kind, older sequential kits
// with bad tags, and bundles whose links and names point outside. Each is refused with error
// 1000, 1001 or 1003, or opens as a kit whose embedded sounds all lie inside its own bundle and
// which can be written again; none crashes or takes long. Also the bounds of the link search.

#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"
#include "kit/KitTestSupport.h"
#include "support/HostileArchives.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace rp::test;

namespace {

constexpr size_t kFixedHeaderLength = 31; // magic, compatibility and saved-with codes

class HostileKitCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        peakBefore = peakResidentMegabytes();
        ORPDrumKit::registerArchiveClasses();
        auto kit = ORPDrumKit::kit();
        kit->setKitName("Hostile");
        kit->setKitInfo("info");
        kit->setFixLinksPrompt("find them");
        auto kick = makeDrumWithSound("skins", "kick", "default", makeSoundFile(dir / "kick.aiff", 60));
        kick->setShortcutKey("k");
        kick->setMidiNote(36);
        kit->addDrum(kick);
        kit->addDrum(makeDrumWithSound("metal", "hat", "closed", makeSoundFile(dir / "hat.aiff", 900)));
        auto linked = makeDrumWithSound("metal", "ride", "bell", makeSoundFile(dir / "ride.aiff", 700));
        linked->setLinkAudioOnly(true);
        kit->addDrum(linked);
        bundle = dir / "K.rpkit";
        ASSERT_TRUE(kit->writeToPath(bundle));
        file = readFileBytes(bundle / "K.rpkit");
        archiveStart
            = std::find(file.begin() + kFixedHeaderLength, file.end(), uint8_t { 0 }) - file.begin() + 1;
        archive.assign(file.begin() + static_cast<std::ptrdiff_t>(archiveStart), file.end());
    }

    // No hostile file may make the reader allocate without bound.
    void TearDown() override { EXPECT_LT(peakResidentMegabytes() - peakBefore, kPeakGrowthLimitMegabytes); }

    std::vector<uint8_t> withArchive(const std::vector<uint8_t>& keyedArchive) const
    {
        std::vector<uint8_t> out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(archiveStart));
        out.insert(out.end(), keyedArchive.begin(), keyedArchive.end());
        return out;
    }

    // Opens the bytes as the kit file of the bundle, for a song (links resolved; nobody answers,
    // so missing sounds end in 1003). A kit that opens keeps its embedded sounds inside the
    // bundle, decodes what it holds and can be written and read again.
    void expectHandled(const std::string& label, const std::vector<uint8_t>& bytes, bool mustFail = false)
    {
        ++cases;
        // A new file each time: rewriting one in place makes the file system flush it on close.
        fs::remove(bundle / "K.rpkit");
        writeFileBytes(bundle / "K.rpkit", bytes);
        BoundedCase bounded(label);
        rp::Error error;
        auto kit = ORPDrumKit::drumKitFromURL(bundle, true, &error);
        if (!kit) {
            EXPECT_TRUE(error.isApplicationError(rp::kErrorInvalidFile)
                || error.isApplicationError(rp::kErrorNewerVersion)
                || error.isApplicationError(rp::kErrorKitSoundsMissing))
                << label << ": " << error.text();
            return;
        }
        ++opened;
        EXPECT_FALSE(mustFail) << label << " opened";
        const bool decodeAll = opened % 16 == 1;
        for (const auto& drum : kit->drums()) {
            const OASoundPtr& sound = drum->storedSound();
            if (!sound)
                continue;
            if (!drum->linkAudioOnly() && sound->soundFileURL()) {
                EXPECT_EQ(sound->soundFileURL()->parent_path(), bundle / "Sounds") << label;
            }
            EXPECT_TRUE(std::isfinite(sound->volume()) && std::isfinite(sound->panning())) << label;
            if (decodeAll || sound->hasLegacyEmbeddedBuffer())
                (void)sound->bufferListWithAudioStreamDescription(
                    AudioStreamBasicDescription::canonicalFloat(44100, 2));
        }
        const auto flat = kit->flatDataRepresentation();
        ASSERT_FALSE(flat.empty()) << label << ": an opened kit cannot be archived";
        fs::remove(dir / "Again.rpkit");
        writeFileBytes(dir / "Again.rpkit", flat);
        rp::Error againError;
        EXPECT_TRUE(ORPDrumKit::drumKitFromURL(dir / "Again.rpkit", false, &againError))
            << label << ": the archived copy does not open: " << againError.text();
    }

    ScratchFolder dir;
    ScopedKitDefaults defaults;
    fs::path bundle;
    std::vector<uint8_t> file;
    size_t archiveStart = 0;
    std::vector<uint8_t> archive;
    long peakBefore = 0;
    int cases = 0;
    int opened = 0;
    rp::LogCapture quiet;
};

TEST_F(HostileKitCorpus, CutAtEveryByteIsRefused)
{
    for (size_t length = 0; length < file.size(); ++length)
        expectHandled("cut at " + std::to_string(length),
            std::vector<uint8_t>(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), true);
    EXPECT_EQ(opened, 0);
    expectHandled("whole", file);
    EXPECT_EQ(opened, 1);
}

TEST_F(HostileKitCorpus, ChangedBytesAndExtremeLengths)
{
    forEachFlip(file, 0, 31, 1200,
        [&](const std::string& label, const std::vector<uint8_t>& bytes) { expectHandled(label, bytes); });
    forEachLengthExtreme(archive, [&](const std::string& label, const std::vector<uint8_t>& bytes) {
        expectHandled(label, withArchive(bytes));
    });
    EXPECT_GT(opened, 0);
    EXPECT_LT(opened, cases);
}

TEST_F(HostileKitCorpus, EveryKeyOfEveryClassWithValuesOfEveryKind)
{
    forEachWrongValue(archive, [&](const std::string& label, const std::vector<uint8_t>& bytes) {
        expectHandled(label, withArchive(bytes));
    });
    EXPECT_GT(cases, 500);
    EXPECT_GT(opened, 0);
}

TEST_F(HostileKitCorpus, OlderKitsWithBadTagsAndCuts)
{
    const std::vector<uint8_t> tags = { 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x92, 0xFF, 0x00, 0x7F };
    for (bool bigEndian : { true, false }) {
        const std::vector<uint8_t> stream = olderKit(bigEndian);
        const int before = opened;
        expectHandled("older kit", stream);
        ASSERT_EQ(opened, before + 1) << ::testing::PrintToString(quiet.lines());
        for (size_t length = 0; length < stream.size(); ++length)
            expectHandled("older kit cut at " + std::to_string(length),
                std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length)),
                true);
        // Every byte after the signature replaced by two of the tags and values around them, in turn.
        for (size_t at = 13; at < stream.size(); ++at) {
            for (size_t pick : { at % tags.size(), (at + 4) % tags.size() }) {
                auto changed = stream;
                changed[at] = tags[pick];
                expectHandled(
                    "older kit byte " + std::to_string(at) + " = " + std::to_string(tags[pick]), changed);
            }
        }
    }
}

TEST_F(HostileKitCorpus, LinksAndPipesInsideTheBundleCannotLeadOutOfIt)
{
    makeSoundFile(dir / "outside.aiff", 300);
    auto kit = ORPDrumKit::drumKitFromURL(bundle, false);
    ASSERT_TRUE(kit);
    const fs::path kick = bundle / "Sounds" / kit->drums()[0]->storedSound()->name();
    const fs::path hat = bundle / "Sounds" / kit->drums()[1]->storedSound()->name();
    // An embedded sound's file replaced by a link to a file outside: the drum has no sound file.
    // A link inside that stays inside is followed.
    fs::remove(kick);
    fs::create_symlink(dir / "outside.aiff", kick);
    fs::rename(hat, bundle / "Sounds" / "real hat.aiff");
    fs::create_symlink("real hat.aiff", hat);
    kit = ORPDrumKit::drumKitFromURL(bundle, false);
    ASSERT_TRUE(kit);
    EXPECT_FALSE(kit->drums()[0]->storedSound()->soundFileURL());
    EXPECT_EQ(kit->drums()[1]->storedSound()->soundFileURL(), hat);
    EXPECT_TRUE(quiet.contains("lies outside the bundle"));

    // Named pipes in place of an embedded and a linked sound are not waited on.
    fs::remove(kick);
    ASSERT_EQ(::mkfifo(kick.c_str(), 0600), 0);
    fs::remove(dir / "ride.aiff");
    ASSERT_EQ(::mkfifo((dir / "ride.aiff").c_str(), 0600), 0);
    {
        BoundedCase bounded("named pipes");
        kit = ORPDrumKit::drumKitFromURL(bundle, false);
        ASSERT_TRUE(kit);
        EXPECT_FALSE(kit->drums()[0]->storedSound()->soundFileURL());
        EXPECT_FALSE(kit->drums()[2]->storedSound()->soundFileURL());
        EXPECT_TRUE(quiet.contains("is not a regular file"));
        // For a song the linked sound counts as missing; nobody finds it.
        rp::Error error;
        EXPECT_FALSE(ORPDrumKit::drumKitFromURL(bundle, true, &error));
        EXPECT_TRUE(error.isApplicationError(rp::kErrorKitSoundsMissing));
    }

    // The whole Sounds folder a link to a folder outside.
    fs::create_directory(dir / "elsewhere");
    fs::copy_file(dir / "outside.aiff", dir / "elsewhere" / hat.filename());
    fs::rename(bundle / "Sounds", dir / "old sounds");
    fs::create_directory_symlink(dir / "elsewhere", bundle / "Sounds");
    kit = ORPDrumKit::drumKitFromURL(bundle, false);
    ASSERT_TRUE(kit);
    EXPECT_FALSE(kit->drums()[1]->storedSound()->soundFileURL());

    // No kit file, or in its place a link to a kit file outside, a link loop or a named pipe: the
    // bundle holds no kit, and nothing hangs.
    for (const char* name : { "L.rpkit", "Loop.rpkit", "Pipe.rpkit", "Empty.rpkit" })
        fs::create_directory(dir / name);
    writeFileBytes(dir / "real.rpkit", file);
    fs::create_symlink(dir / "real.rpkit", dir / "L.rpkit" / "L.rpkit");
    fs::create_symlink("Loop.rpkit", dir / "Loop.rpkit" / "Loop.rpkit");
    ASSERT_EQ(::mkfifo((dir / "Pipe.rpkit" / "Pipe.rpkit").c_str(), 0600), 0);
    for (const char* name : { "L.rpkit", "Loop.rpkit", "Pipe.rpkit", "Empty.rpkit" }) {
        BoundedCase bounded(name);
        EXPECT_FALSE(ORPDrumKit::drumKitFromURL(dir / name, false)) << name;
    }
}

TEST_F(HostileKitCorpus, EmbeddedSoundNamesCannotReachOutsideTheBundle)
{
    makeSoundFile(dir / "secret.aiff", 1000); // "../../secret.aiff" from the Sounds folder
    auto kit = ORPDrumKit::drumKitFromURL(bundle, false);
    ASSERT_TRUE(kit);
    const auto sound = kit->drums()[0]->storedSound();
    for (const std::string& name : { std::string("../../secret.aiff"), std::string(".."),
             std::string("a\0b", 3), std::string("a/b.aiff") }) {
        // Archived as it stands: embedded, so the name is all that locates the file.
        sound->setSoundFileURL(std::nullopt);
        sound->setName(name);
        ASSERT_EQ(sound->name(), name);
        sound->setSavesFileReference(false);
        writeFileBytes(bundle / "K.rpkit", kit->flatDataRepresentation());
        auto read = ORPDrumKit::drumKitFromURL(bundle, false);
        ASSERT_TRUE(read) << name;
        EXPECT_FALSE(read->drums()[0]->storedSound()->soundFileURL()) << name;
        EXPECT_EQ(read->drums()[1]->storedSound()->soundFileURL()->parent_path(), bundle / "Sounds");
    }
    EXPECT_TRUE(quiet.contains("is not a file name in the Sounds folder"));
}

TEST_F(HostileKitCorpus, LinkSearchSkipsLinkLoopsAndStopsAtItsBound)
{
    auto kit = ORPDrumKit::drumKitFromURL(bundle, false);
    ASSERT_TRUE(kit);
    fs::rename(dir / "ride.aiff", dir / "ride moved.aiff"); // the linked sound goes missing
    ASSERT_EQ(kit->missingLinkedSoundCount(), 1);

    // A folder whose links lead back to itself: the search neither loops nor fails.
    const fs::path search = dir / "search";
    fs::create_directories(search / "a" / "b");
    fs::create_directory_symlink(search, search / "a" / "b" / "up");
    fs::create_directory_symlink(search / "a", search / "a" / "self");
    fs::copy_file(dir / "ride moved.aiff", search / "a" / "b" / "ride.aiff");
    {
        auto prompt = std::make_shared<rp::ScriptedPrompt>();
        prompt->answerAlert(0).answerChooseFolder(search);
        rp::ScopedPrompt scoped(prompt);
        BoundedCase bounded("search with link loops");
        EXPECT_EQ(kit->fixBrokenLinksInteractively(), 0);
        EXPECT_EQ(kit->drums()[2]->storedSound()->soundFileURL(), search / "a" / "b" / "ride.aiff");
    }

    // A folder of more items than the search looks at: it stops with a log line.
    fs::rename(search / "a" / "b" / "ride.aiff", search / "a" / "b" / "ride gone.aiff");
    const fs::path huge = dir / "huge";
    fs::create_directory(huge);
    const int folder = ::open(huge.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    for (int i = 0; i <= 200000; ++i) {
        const int made = ::mknodat(folder, std::to_string(i).c_str(), S_IFREG | 0600, 0);
        ASSERT_EQ(made, 0) << i;
    }
    ::close(folder);
    auto prompt = std::make_shared<rp::ScriptedPrompt>();
    prompt->answerAlert(0).answerChooseFolder(huge);
    rp::ScopedPrompt scoped(prompt);
    quiet.clear();
    BoundedCase bounded("search of a huge folder", std::chrono::milliseconds(20000));
    EXPECT_EQ(kit->fixBrokenLinksInteractively(), 1);
    EXPECT_TRUE(quiet.contains("stopped searching " + huge.string() + " after 200000 items"));
}

} // namespace
