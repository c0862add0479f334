#include "foundation/BuildVersion.h"

#include "BuildInfo.h"

#include <gtest/gtest.h>

TEST(BuildVersion, ParsesAndFormatsCodes)
{
    EXPECT_EQ(rp::parseBuildVersionCode("1G11"), 0x0107000Bu);
    EXPECT_EQ(rp::formatBuildVersionCode(0x0107000B), "1G11");
    EXPECT_EQ(rp::parseBuildVersionCode("  1g11 \n"), 0x0107000Bu); // trimmed, letter upper-cased
    EXPECT_EQ(rp::parseBuildVersionCode("255Z65535"), 0xFF1AFFFFu);
    EXPECT_EQ(rp::formatBuildVersionCode(0xFF1AFFFF), "255Z65535");
    EXPECT_EQ(rp::parseBuildVersionCode("2A0b7"), 0x02010000u); // trailing text ignored, as "%hd%c%hd" does
    for (const char* text : { "1A1", "3C400", "12Q9" })
        EXPECT_EQ(rp::formatBuildVersionCode(rp::parseBuildVersionCode(text)), text);
}

TEST(BuildVersion, MalformedTextParsesToTheInvalidCode)
{
    for (const char* text :
        { "", "   ", "G11", "1", "1G", "1.5", "1-2", "256A1", "1A65536", "-1A1", "1A-1", "99999999A1",
            "1\xC3\xA9"
            "1" }) {
        EXPECT_EQ(rp::parseBuildVersionCode(text), rp::kInvalidBuildVersionCode) << text;
    }
    // Bytes from a file can hold any letter position; formatting never yields a non-ASCII byte.
    EXPECT_EQ(rp::formatBuildVersionCode(0x01FF0002), "1?2");
    EXPECT_EQ(rp::formatBuildVersionCode(0), "0?0");
}

TEST(BuildVersion, CodesCompareAsUnsignedIntegers)
{
    uint32_t older = rp::parseBuildVersionCode("1G11");
    EXPECT_LT(rp::compareBuildVersionCodes(older, rp::parseBuildVersionCode("1G16")), 0);
    EXPECT_LT(rp::compareBuildVersionCodes(older, rp::parseBuildVersionCode("1H0")), 0);
    EXPECT_GT(
        rp::compareBuildVersionCodes(rp::parseBuildVersionCode("2A0"), rp::parseBuildVersionCode("1Z65535")),
        0);
    EXPECT_EQ(rp::compareBuildVersionCodes(older, 0x0107000B), 0);
    // A major number of 128 or more sets the top bit; it must still be newer.
    EXPECT_GT(
        rp::compareBuildVersionCodes(rp::parseBuildVersionCode("200A1"), rp::parseBuildVersionCode("1A1")),
        0);
}

TEST(BuildVersion, RunningBuildComesFromTheBuildConfiguration)
{
    EXPECT_EQ(rp::currentBuildVersionCode(), rp::parseBuildVersionCode(RP_BUILD_VERSION_CODE));
    // Files stamped compatible with 1E2 must open in this build.
    EXPECT_GE(rp::currentBuildVersionCode(), 0x01050002u);
}
