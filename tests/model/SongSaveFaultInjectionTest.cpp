// Saving a song over an existing one while the saving process is killed at random moments: the
// file on disk is always the old song or the new one, whole, and files written aside by killed
// saves neither pile up nor survive the next save.

#include "ModelTestSupport.h"
#include "foundation/Error.h"
#include "foundation/Logger.h"
#include "model/ORPSong.h"
#include "support/SaveFaultInjection.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace rp::test;

namespace {

// A song of `bars` bars of 16 hits, large enough that saving it takes a while.
ORPSongPtr songOf(const std::string& name, int bars, float velocity)
{
    ORPSong::setDefaultKitProvider({});
    auto song = ORPSong::song();
    song->setName(name);
    auto section = song->sectionList()[0];
    std::vector<ORPPatternPtr> patterns;
    const std::vector<ORPDrumPtr> drums = { makeDrum("kick"), makeDrum("snare"), makeDrum("hat", "closed") };
    for (int bar = 0; bar < bars; ++bar) {
        auto pattern = ORPPattern::pattern();
        for (int hit = 0; hit < 16; ++hit)
            pattern->addEventWithDrum(drums[static_cast<size_t>(hit + bar) % drums.size()], velocity,
                static_cast<float>(hit) / 16.0f);
        patterns.push_back(pattern);
    }
    section->insertPatterns(patterns, 0);
    return song;
}

TEST(SongSaveFaultInjection, KilledSavesLeaveTheOldOrTheNewSongWhole)
{
    ORPSong::registerArchiveClasses();
    TempDir dir;
    const auto path = dir / "Song.rpsong";
    const auto first = songOf("first", 48, 0.5f);
    const auto second = songOf("second", 40, 0.75f);
    const auto firstBytes = first->dataRepresentation();
    const auto secondBytes = second->dataRepresentation();
    ASSERT_NE(firstBytes, secondBytes);
    const auto saveTime = fastestOfThree([&] { ASSERT_TRUE(first->writeToFile(path)); });

    rp::LogCapture quiet;
    // Each child saves the song that is not on disk first, then the two in turn; a round ends with
    // the song that was there before (killed before its first save was complete) or a newer one.
    bool firstOnDisk = true;
    int sawOld = 0;
    int sawNew = 0;
    killWhileSaving(
        20261206, 200, saveTime * 2 + std::chrono::milliseconds(1),
        [&] {
            for (bool saveFirst = !firstOnDisk; (saveFirst ? first : second)->writeToFile(path);)
                saveFirst = !saveFirst;
        },
        [&](int round) {
            const auto bytes = readFileBytes(path);
            const bool isFirst = bytes == firstBytes;
            ASSERT_TRUE(isFirst || bytes == secondBytes) << "round " << round << ": a damaged song";
            ++(isFirst == firstOnDisk ? sawOld : sawNew);
            firstOnDisk = isFirst;
            if (round % 20 == 0) {
                rp::Error error;
                auto read = ORPSong::songFromURL(path, &error);
                ASSERT_TRUE(read) << error.text();
                EXPECT_EQ(read->name(), isFirst ? "first" : "second");
            }
            // Each save removes what killed saves left, so at most the last one's file is there.
            const auto others = otherEntries(dir.path(), "Song.rpsong");
            ASSERT_LE(others.size(), 1u) << "round " << round << ": " << others.front();
            EXPECT_TRUE(others.empty() || others[0].starts_with(".Song.rpsong.")) << others[0];
        });
    // Kills landed both before and after saves were complete.
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
    ASSERT_TRUE(first->writeToFile(path));
    EXPECT_TRUE(otherEntries(dir.path(), "Song.rpsong").empty());
}

TEST(SongSaveFaultInjection, ASaveRemovesOnlyFilesNoSaveIsWriting)
{
    TempDir dir;
    const auto path = dir / "Song.rpsong";
    const auto song = songOf("tiny", 2, 1.0f);
    writeFileBytes(dir / ".Song.rpsong.abc123", { 1, 2, 3 }); // left by a killed save
    writeFileBytes(dir / ".Song.rpsong.running", { 4 }); // a save that is still writing holds its lock
    writeFileBytes(dir / ".Other.rpsong.abc123", { 5 }); // another song's
    writeFileBytes(dir / ".Song.rpsong.abc1234", { 6 }); // not a name a save makes
    const int held = ::open((dir / ".Song.rpsong.running").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    ASSERT_TRUE(song->writeToFile(path));
    ::close(held);
    EXPECT_EQ(otherEntries(dir.path(), "Song.rpsong"),
        (std::vector<std::string> {
            ".Other.rpsong.abc123", ".Song.rpsong.abc1234", ".Song.rpsong.running" }));
    rp::Error error;
    EXPECT_TRUE(ORPSong::songFromURL(path, &error)) << error.text();
}

} // namespace
