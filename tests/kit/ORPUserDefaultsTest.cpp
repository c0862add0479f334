#include "foundation/FileReference.h"
#include "kit/KitTestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using rp::test::TempDir;
using rp::test::writeFileBytes;

// Points the resources at a temporary folder for the lifetime of the object.
struct ScopedResources {
    explicit ScopedResources(const fs::path& folder)
    {
        ::setenv("RATTLEPAN_RESOURCES_DIR", folder.c_str(), 1);
    }
    ~ScopedResources() { ::unsetenv("RATTLEPAN_RESOURCES_DIR"); }
};

TEST(ORPUserDefaultsTest, BookmarksFollowMovedFilesAndStaleOnesAreRewritten)
{
    TempDir dir;
    rp::test::ScopedKitDefaults defaults;
    fs::create_directory(dir / "a");
    writeFileBytes(dir / "a" / "Kit.rpkit", { 1, 2, 3 });
    ASSERT_TRUE(ORPUserDefaults::setDefaultDrumKitURL(dir / "a" / "Kit.rpkit"));
    const auto before = defaults.store().dataForKey("RPDefaultDrumKitBookmark");
    ASSERT_TRUE(before);
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), dir / "a" / "Kit.rpkit");

    // Moved: still found; the stale bookmark is replaced by one of the new place.
    fs::rename(dir / "a", dir / "b");
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), dir / "b" / "Kit.rpkit");
    const auto after = defaults.store().dataForKey("RPDefaultDrumKitBookmark");
    ASSERT_TRUE(after);
    EXPECT_NE(*after, *before);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(*after), dir / "b" / "Kit.rpkit");

    // Gone: none.
    fs::remove_all(dir / "b");
    EXPECT_FALSE(ORPUserDefaults::defaultDrumKitURL());

    // The export folder; none removes it; a path that does not exist cannot be stored.
    EXPECT_TRUE(ORPUserDefaults::setExportDirectoryURL(dir.path()));
    EXPECT_EQ(ORPUserDefaults::exportDirectoryURL(), dir.path());
    EXPECT_FALSE(ORPUserDefaults::setExportDirectoryURL(dir / "missing"));
    EXPECT_TRUE(ORPUserDefaults::setExportDirectoryURL(std::nullopt));
    EXPECT_FALSE(ORPUserDefaults::exportDirectoryURL());
    EXPECT_FALSE(defaults.store().hasStoredValue("RPExportDirectoryBookmark"));
}

TEST(ORPUserDefaultsTest, TheExampleKitIsTheRegisteredDefaultKit)
{
    TempDir resources;
    ScopedResources scoped(resources.path());
    const fs::path examples = ORPUserDefaults::exampleResourcesDirectoryURL();
    EXPECT_EQ(examples, resources / ORPUserDefaults::exampleDirectoryName());
    const fs::path kit = examples / (ORPUserDefaults::defaultDrumKitName() + ".rpkit");
    fs::create_directories(kit);

    // A fresh store registers the example kit; a stored choice wins over it.
    rp::test::ScopedKitDefaults defaults;
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), kit);
    EXPECT_FALSE(defaults.store().hasStoredValue("RPDefaultDrumKitBookmark"));
    writeFileBytes(resources / "Other.rpkit", { 1 });
    ASSERT_TRUE(ORPUserDefaults::setDefaultDrumKitURL(resources / "Other.rpkit"));
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), resources / "Other.rpkit");
}

TEST(ORPUserDefaultsTest, TheBuildsExampleKitReads)
{
    // The generator installs the example kit into the build's resources.
    ::unsetenv("RATTLEPAN_RESOURCES_DIR");
    const fs::path kitURL = ORPUserDefaults::exampleDrumKitURL();
    if (!fs::exists(kitURL)) {
        GTEST_SKIP() << "example kit not generated yet: " << kitURL;
    }
    ORPDrumKit::registerArchiveClasses();
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(kitURL, true, &error);
    ASSERT_TRUE(kit) << error.text();
    EXPECT_GE(kit->drumsHierarchy().size(), 3u);
    auto closed = kit->drumWithTypeName("hi hat", "closed");
    auto open = kit->drumWithTypeName("hi hat", "open");
    auto pedal = kit->drumWithTypeName("hi hat", "pedal");
    ASSERT_TRUE(closed && open && pedal);
    EXPECT_TRUE(closed->variantPrecedence());
    EXPECT_FALSE(open->variantPrecedence());
    std::set<std::string> shortcuts;
    for (const auto& drum : kit->drums()) {
        ASSERT_TRUE(drum->shortcutKey()) << drum->compositeName();
        EXPECT_TRUE(shortcuts.insert(*drum->shortcutKey()).second)
            << "shortcut used twice: " << *drum->shortcutKey();
        EXPECT_TRUE(drum->hasMIDI()) << drum->compositeName();
        EXPECT_EQ(drum->midiChannel(), 9);
        ASSERT_TRUE(drum->storedSound());
        EXPECT_GT(drum->storedSound()->frames(), 1000u) << drum->compositeName();
        EXPECT_TRUE(fs::exists(*drum->storedSound()->soundFileURL()));
    }
}

} // namespace
