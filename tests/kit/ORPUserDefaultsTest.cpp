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
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), dir / "a" / "Kit.rpkit");

    // Moved: still found; the stale bookmark is replaced by one of the new place.
    fs::rename(dir / "a", dir / "b");
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), dir / "b" / "Kit.rpkit");
    const auto after = defaults.store().dataForKey("RPDefaultDrumKitBookmark");
    ASSERT_TRUE(after);
    EXPECT_EQ(rp::FileReference::pathStoredInBookmark(*after), dir / "b" / "Kit.rpkit");

    // Gone: none.
    fs::remove_all(dir / "b");
    EXPECT_FALSE(ORPUserDefaults::defaultDrumKitURL());

    // An export folder that does not exist cannot be stored; none removes the stored one.
    EXPECT_TRUE(ORPUserDefaults::setExportDirectoryURL(dir.path()));
    EXPECT_FALSE(ORPUserDefaults::setExportDirectoryURL(dir / "missing"));
    EXPECT_TRUE(ORPUserDefaults::setExportDirectoryURL(std::nullopt));
    EXPECT_FALSE(defaults.store().hasStoredValue("RPExportDirectoryBookmark"));
}

TEST(ORPUserDefaultsTest, TheExampleKitIsTheRegisteredDefaultKit)
{
    TempDir resources;
    ScopedResources scoped(resources.path());
    const fs::path kit = resources / ORPUserDefaults::exampleDirectoryName()
        / (ORPUserDefaults::defaultDrumKitName() + ".rpkit");
    EXPECT_EQ(ORPUserDefaults::exampleDrumKitURL(), kit);
    fs::create_directories(kit);

    // A fresh store registers the example kit; a stored choice wins over it.
    rp::test::ScopedKitDefaults defaults;
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), kit);
    EXPECT_FALSE(defaults.store().hasStoredValue("RPDefaultDrumKitBookmark"));
    writeFileBytes(resources / "Other.rpkit", { 1 });
    ASSERT_TRUE(ORPUserDefaults::setDefaultDrumKitURL(resources / "Other.rpkit"));
    EXPECT_EQ(ORPUserDefaults::defaultDrumKitURL(), resources / "Other.rpkit");
}

} // namespace
