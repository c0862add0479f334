#include "foundation/BuildVersion.h"

#include "BuildInfo.h"

#include <gtest/gtest.h>

TEST(BuildVersion, ParsesFormatsComparesAndRefusesMalformedCodes)
{
    const std::pair<const char*, uint32_t> parsed[] = {
        { "1G11", 0x0107000B }, { "  1g11 \n", 0x0107000B }, // trimmed, letter upper-cased
        { "255Z65535", 0xFF1AFFFF }, { "2A0b7", 0x02010000 }, // trailing text ignored, as "%hd%c%hd" does
    };
    for (const auto& [text, code] : parsed)
        EXPECT_EQ(rp::parseBuildVersionCode(text), code) << text;
    for (const char* text : { "1A1", "3C400", "1G11", "255Z65535" })
        EXPECT_EQ(rp::formatBuildVersionCode(rp::parseBuildVersionCode(text)), text);
    for (const char* text :
        { "", "   ", "G11", "1", "1G", "1.5", "1-2", "256A1", "1A65536", "-1A1", "1A-1", "99999999A1",
            "1\xC3\xA9"
            "1" })
        EXPECT_EQ(rp::parseBuildVersionCode(text), rp::kInvalidBuildVersionCode) << text;
    // Bytes from a file can hold any letter position; formatting never yields a non-ASCII byte.
    EXPECT_EQ(rp::formatBuildVersionCode(0x01FF0002), "1?2");
    EXPECT_EQ(rp::formatBuildVersionCode(0), "0?0");

    // Codes compare as unsigned integers.
    auto compare = [](const char* a, const char* b) {
        return rp::compareBuildVersionCodes(rp::parseBuildVersionCode(a), rp::parseBuildVersionCode(b));
    };
    EXPECT_LT(compare("1G11", "1G16"), 0);
    EXPECT_LT(compare("1G11", "1H0"), 0);
    EXPECT_GT(compare("2A0", "1Z65535"), 0);
    EXPECT_EQ(compare("1G11", "1G11"), 0);
    EXPECT_GT(compare("200A1", "1A1"), 0); // a major number of 128 or more sets the top bit
    EXPECT_EQ(rp::currentBuildVersionCode(), rp::parseBuildVersionCode(RP_BUILD_VERSION_CODE));
    // Files stamped compatible with 1E2 must open in this build.
    EXPECT_GE(rp::currentBuildVersionCode(), 0x01050002u);
}
