#include "foundation/FileNames.h"

#include <gtest/gtest.h>

namespace rp {
namespace {

TEST(FileNames, NamesCannotLeaveTheFolderOrHide)
{
    EXPECT_EQ(sanitizedFilename("Kick (Hard)", "x"), "Kick (Hard)");
    EXPECT_EQ(sanitizedFilename("../../etc/passwd", "x"), "etc-passwd");
    EXPECT_EQ(sanitizedFilename("a\\b:c", "x"), "a-b-c");
    EXPECT_EQ(sanitizedFilename(".hidden", "x"), "hidden");
    EXPECT_EQ(sanitizedFilename(std::string("tab\there\0nul", 12), "x"), "tabherenul");
    EXPECT_EQ(sanitizedFilename("..", "untitled"), "untitled");
    EXPECT_EQ(sanitizedFilename("   ", "untitled"), "untitled");
}

TEST(FileNames, LongNamesAreCutOnACharacterBoundary)
{
    std::string name;
    for (int i = 0; i < 150; ++i) {
        name += "\xC3\xA9"; // é, two bytes
    }
    const std::string safe = sanitizedFilename(name, "x", 201);
    EXPECT_EQ(safe.size(), 200u);
    EXPECT_EQ(safe.substr(198), "\xC3\xA9");
}

} // namespace
} // namespace rp
