// Saving a kit bundle over an existing one while the saving process is killed at random moments:
// the bundle is always the old kit or the new one, whole, and the scratch folders of killed saves
// neither pile up nor survive the next save.

#include "foundation/Logger.h"
#include "kit/KitTestSupport.h"
#include "support/SaveFaultInjection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace rp::test;

namespace {

using Tree = std::map<std::string, std::vector<unsigned char>>;

// Every file below `folder` by relative path, with its bytes.
Tree treeOf(const fs::path& folder)
{
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            tree[entry.path().lexically_relative(folder).string()] = readFileBytes(entry.path());
    }
    return tree;
}

class KitSaveFaultInjection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORPDrumKit::registerArchiveClasses();
        for (int i = 0; i < 4; ++i)
            sources.push_back(makeSoundFile(dir / ("source" + std::to_string(i) + ".aiff"), 200.0 + 100 * i));
    }

    // Kit "small" holds three embedded drums, kit "large" four; each save starts from a fresh kit,
    // since a save points the sounds into the bundle that the next save replaces.
    ORPDrumKitPtr kitNamed(const std::string& name) const
    {
        auto kit = ORPDrumKit::kit();
        kit->setKitName(name);
        const size_t count = name == "small" ? 3 : 4;
        for (size_t i = 0; i < count; ++i)
            kit->addDrum(makeDrumWithSound(
                i < 2 ? "skins" : "metal", name + std::to_string(i), "default", sources[i]));
        return kit;
    }

    TempDir dir;
    ScopedKitDefaults defaults;
    std::vector<fs::path> sources;
};

TEST_F(KitSaveFaultInjection, KilledSavesLeaveTheOldOrTheNewBundleWhole)
{
    std::map<std::string, Tree> saved; // each kit saved alone, to compare with
    for (const std::string name : { "small", "large", "work" }) {
        fs::create_directories(dir / name);
        if (name != "work" && kitNamed(name)->saveToPath(dir / name / "Kit.rpkit"))
            saved[name] = treeOf(dir / name / "Kit.rpkit");
    }
    const Tree& small = saved["small"];
    const Tree& large = saved["large"];
    ASSERT_EQ(small.size(), 4u);
    ASSERT_EQ(large.size(), 5u);
    const fs::path bundle = dir / "work" / "Kit.rpkit";
    const auto saveTime = fastestOfThree([&] { ASSERT_TRUE(kitNamed("small")->saveToPath(bundle)); });

    // Each child saves the kit that is not on disk first, then the two in turn.
    bool smallOnDisk = true;
    int sawOld = 0;
    int sawNew = 0;
    rp::LogCapture quiet;
    killWhileSaving(
        61220, 200, saveTime * 3 + std::chrono::milliseconds(1),
        [&] {
            for (bool saveSmall = !smallOnDisk; kitNamed(saveSmall ? "small" : "large")->saveToPath(bundle);)
                saveSmall = !saveSmall;
        },
        [&](int round) {
            const Tree found = treeOf(bundle);
            const bool isSmall = found == small;
            ASSERT_TRUE(isSmall || found == large) << "round " << round << ": a damaged bundle";
            ++(isSmall == smallOnDisk ? sawOld : sawNew);
            smallOnDisk = isSmall;
            if (round % 20 == 0) {
                rp::Error error;
                auto kit = ORPDrumKit::drumKitFromURL(bundle, true, &error);
                ASSERT_TRUE(kit) << error.text();
                EXPECT_EQ(kit->kitName(), isSmall ? "small" : "large");
                for (const auto& drum : kit->drums())
                    EXPECT_TRUE(drum->storedSound()->bufferListWithAudioStreamDescription(
                        AudioStreamBasicDescription::canonicalFloat(44100, 1)));
            }
            const auto others = otherEntries(dir / "work", "Kit.rpkit");
            ASSERT_LE(others.size(), 1u) << "round " << round << ": " << others.front();
            EXPECT_TRUE(others.empty() || others[0].starts_with(".rpkit-save-")) << others[0];
        });
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
    ASSERT_TRUE(kitNamed("small")->saveToPath(bundle));
    EXPECT_TRUE(otherEntries(dir / "work", "Kit.rpkit").empty());
    EXPECT_EQ(treeOf(bundle), small);
}

TEST_F(KitSaveFaultInjection, ASaveClearsOnlyAbandonedScratchFoldersAndPutsBackAnOldBundle)
{
    const fs::path work = dir / "work";
    fs::create_directories(work / ".rpkit-save-aaaaaa" / "Kit.rpkit" / "Sounds"); // a killed save's
    fs::create_directories(work / ".rpkit-save-bbbbbb"); // a save still running, holding its lock
    // A save killed after moving the old bundle of another kit aside, before moving the new one in.
    fs::create_directories(work / ".rpkit-save-cccccc" / ".previous-Other.rpkit");
    writeFileBytes(work / ".rpkit-save-cccccc" / ".previous-Other.rpkit" / "Other.rpkit", { 1, 2 });
    const int held = ::open((work / ".rpkit-save-bbbbbb").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    rp::LogCapture log;
    ASSERT_TRUE(kitNamed("small")->saveToPath(work / "Kit.rpkit"));
    ::close(held);
    EXPECT_EQ(
        otherEntries(work, "Kit.rpkit"), (std::vector<std::string> { ".rpkit-save-bbbbbb", "Other.rpkit" }));
    EXPECT_EQ(readFileBytes(work / "Other.rpkit" / "Other.rpkit"), (std::vector<unsigned char> { 1, 2 }));
    EXPECT_TRUE(log.contains("left by an interrupted save"));
    rp::Error error;
    EXPECT_TRUE(ORPDrumKit::drumKitFromURL(work / "Kit.rpkit", false, &error)) << error.text();
}

} // namespace
