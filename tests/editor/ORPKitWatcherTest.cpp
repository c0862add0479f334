// The kit watch on a real folder: changes are gathered over the latency and reported on the main
// thread; only a new modification time of the kit bundle asks, once per change.

#include "editor/ORPKitWatcher.h"

#include "foundation/PlainRunLoop.h"
#include "foundation/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using namespace rp::editor;

namespace {

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Sets a file's modification time to `seconds` since the epoch.
void setModificationTime(const fs::path& path, int64_t seconds)
{
    timespec times[2] = { { seconds, 0 }, { seconds, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

bool runUntil(const std::function<bool()>& done, double seconds = 5.0)
{
    return rp::RunLoop::main().runUntil(done, seconds);
}

struct KitFolder {
    KitFolder()
    {
        fs::create_directories(kit / "Sounds");
        writeFile(kit / "kit.archive", "v1");
        setModificationTime(kit, 1'000'000);
    }
    rp::test::TempDir dir;
    fs::path kit = dir / "Studio.rpkit";
};

} // namespace

TEST(KitWatcher, ChangesAreGatheredOverTheLatencyAndReportedOnTheMainThread)
{
    KitFolder folder;
    ORPFolderWatcher watcher(0.3);
    int reports = 0;
    bool onMain = false;
    ASSERT_TRUE(watcher.watch(folder.dir.path(), folder.kit, [&] {
        ++reports;
        onMain = rp::RunLoop::main().isMainThread();
    }));

    // Three changes close together (one inside the bundle's sound folder) are one report.
    writeFile(folder.dir / "notes.txt", "a");
    writeFile(folder.kit / "Sounds" / "snare.wav", "b");
    writeFile(folder.dir / "notes.txt", "c");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(runUntil([&] { return reports > 0; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    rp::RunLoop::main().runFor(0.5);
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(onMain);

    // A kit saved aside and renamed into place is followed into its new directory.
    fs::create_directories(folder.dir / "new.rpkit" / "Sounds");
    fs::remove_all(folder.kit);
    fs::rename(folder.dir / "new.rpkit", folder.kit);
    ASSERT_TRUE(runUntil([&] { return reports == 2; }));
    rp::RunLoop::main().runFor(0.5);
    writeFile(folder.kit / "Sounds" / "tom.wav", "d");
    EXPECT_TRUE(runUntil([&] { return reports == 3; }));

    // Nothing is reported after stopping, even for a change made just before.
    writeFile(folder.dir / "late.txt", "e");
    watcher.stop();
    rp::RunLoop::main().runFor(0.6);
    EXPECT_EQ(reports, 3);
    EXPECT_FALSE(watcher.isWatching());

    EXPECT_FALSE(watcher.watch(folder.dir / "missing", std::nullopt, [] { }));
}

TEST(KitWatcher, OnlyARealChangeOfTheKitBundleAsksAndEachChangeAsksOnce)
{
    KitFolder folder;
    auto prompt = std::make_shared<rp::ScriptedPrompt>();
    prompt->setFailureHandler([](const std::string& message) { ADD_FAILURE() << message; });
    int reloads = 0;
    int window = 0;
    ORPDrumKitWatch watch([&] { ++reloads; }, &window, prompt.get(), 0.2);
    ASSERT_TRUE(watch.watchDrumKitForChange(true, folder.kit));
    EXPECT_EQ(watch.kitLastModified(), 1'000'000);

    // An unrelated file next to the kit, and one inside it that keeps the bundle's time: no alert.
    writeFile(folder.dir / "song.rpsong", "x");
    writeFile(folder.kit / "kit.archive", "v2");
    setModificationTime(folder.kit, 1'000'000);
    rp::RunLoop::main().runFor(0.8);
    EXPECT_TRUE(prompt->asked().empty());

    // The bundle's time changes: one sheet; "Ignore" reloads nothing, and the same time never asks again.
    prompt->answerSheet(1, std::nullopt, "The drum kit has been modified.");
    setModificationTime(folder.kit, 1'000'060);
    ASSERT_TRUE(runUntil([&] { return !prompt->asked().empty(); }));
    ASSERT_EQ(prompt->asked().size(), 1u);
    const auto& asked = prompt->asked()[0];
    EXPECT_EQ(asked.kind, rp::ScriptedPrompt::Kind::Sheet);
    EXPECT_EQ(asked.message, "Do you wish to re-load Studio.rpkit to reflect recent changes?");
    EXPECT_EQ(asked.buttons, (std::vector<std::string> { "OK", "Ignore" }));
    EXPECT_EQ(asked.window, &window);
    EXPECT_EQ(reloads, 0);
    writeFile(folder.dir / "other.txt", "y");
    rp::RunLoop::main().runFor(0.8);
    EXPECT_EQ(prompt->asked().size(), 1u);

    // "OK" reloads.
    prompt->answerSheet(0);
    setModificationTime(folder.kit, 1'000'120);
    ASSERT_TRUE(runUntil([&] { return reloads == 1; }));

    // Not watching: changes go unnoticed.
    watch.watchDrumKitForChange(false, folder.kit);
    setModificationTime(folder.kit, 1'000'180);
    rp::RunLoop::main().runFor(0.6);
    EXPECT_EQ(prompt->asked().size(), 2u);
    prompt->verifyAllAnswered();
}
