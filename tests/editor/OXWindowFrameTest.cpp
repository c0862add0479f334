#include "editor/OXWindowFrame.h"

#include "BuildInfo.h"
#include "editor/EditorTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using rp::test::TempDefaults;
using rp::test::TempDir;
using rp::test::writeFileBytes;

namespace {

const OXSavedFrame kFrame { { 120, 80, 900, 640 }, { 0, 0, 1920, 1080 } };

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The attribute's value as getfattr reads it; none when getfattr finds no such attribute.
std::optional<std::string> getfattr(const fs::path& file, const std::string& name)
{
    std::string out;
    const int status = rp::test::runCommand("getfattr --only-values -n " + shellQuote(name) + " "
            + shellQuote(file.string()) + " 2>/dev/null",
        &out);
    return status == 0 ? std::optional<std::string>(out) : std::nullopt;
}

} // namespace

TEST(OXWindowFrame, FrameTextRoundTripsAndRefusesHostileText)
{
    EXPECT_EQ(OXFrameString(kFrame), "RPWF1 120 80 900 640 0 0 1920 1080");
    EXPECT_EQ(OXParseFrameString(OXFrameString(kFrame)), kFrame);
    const OXSavedFrame extreme { { -1000000, -1000000, 100000, 100000 }, { -1000000, 1000000, 1, 1 } };
    EXPECT_EQ(OXParseFrameString(OXFrameString(extreme)), extreme);
    EXPECT_LE(OXFrameString(extreme).size(), OXWindowFrameAttribute::kMaxReadBytes);

    for (const std::string& bad : std::vector<std::string> {
             "", "RPWF1", "RPWF1 ", "garbage", "RPWF1 1 2 3 4 5 6 7", "RPWF1 1 2 3 4 5 6 7 8 9",
             "RPWF1 1 2 3 4 5 6 7 8 ", "RPWF1  1 2 3 4 5 6 7 8", "RPWF2 1 2 3 4 5 6 7 8",
             "RPWF1 1 2 -3 4 5 6 7 8", // negative width
             "RPWF1 1 2 3 0 5 6 7 8", // zero height
             "RPWF1 1 2 3 4 5 6 7 -8", // negative screen height
             "RPWF1 1 2 100001 4 5 6 7 8", "RPWF1 1000001 2 3 4 5 6 7 8",
             "RPWF1 99999999999999999999 2 3 4 5 6 7 8", "RPWF1 1 2 3 4 5 6 7 8\n",
             "RPWF1 1 2 3 4 5 6 7 0x8", "RPWF1 1 2 3 4 5 6 7 8.5", "RPWF1 - 2 3 4 5 6 7 8",
             "RPWF1 +1 2 3 4 5 6 7 8", std::string("RPWF1 1 2 3 4 5 6 7 8\0", 22), "RPWF1\t1 2 3 4 5 6 7 8" }) {
        EXPECT_FALSE(OXParseFrameString(bad)) << bad;
    }
}

TEST(OXWindowFrame, AttributeIsWhatGetfattrReadsWithoutATerminatingZero)
{
    if (!rp::test::haveTool("getfattr")) {
        GTEST_SKIP() << "getfattr (package attr) is not installed";
    }
    TempDir dir;
    TempDefaults defaults;
    const fs::path song = dir / "Song.rpsong";
    writeFileBytes(song, { 1, 2, 3 });
    const std::string name = OXWindowFrameAttribute::attributeName("Song Window");
    EXPECT_EQ(name, "user." RP_APP_IDENTIFIER ".NSWindow Frame Song Window");

    EXPECT_FALSE(OXWindowFrameAttribute::frameFromAttributeAtURL(song, "Song Window", defaults.store()));
    ASSERT_TRUE(OXWindowFrameAttribute::saveFrameToAttributeAtURL(song, "Song Window", kFrame, defaults.store()));
    EXPECT_EQ(getfattr(song, name), OXFrameString(kFrame));
    EXPECT_EQ(OXWindowFrameAttribute::frameFromAttributeAtURL(song, "Song Window", defaults.store()), kFrame);
    EXPECT_FALSE(OXWindowFrameAttribute::frameFromAttributeAtURL(song, "Other Window", defaults.store()));
    EXPECT_FALSE(defaults.store().hasStoredValue(OXWindowFrameAttribute::kFallbackDefaultsKey));

    // Written by another tool: read whole, cut to 256 bytes; hostile text is refused.
    const std::string longText(300, 'x');
    ASSERT_EQ(rp::test::runCommand("setfattr -n " + shellQuote(name) + " -v " + longText + " "
                  + shellQuote(song.string())),
        0);
    EXPECT_EQ(OXWindowFrameAttribute::readAttributeAtURL(song, "Song Window", defaults.store()),
        std::string(256, 'x'));
    EXPECT_FALSE(OXWindowFrameAttribute::frameFromAttributeAtURL(song, "Song Window", defaults.store()));
    // A valid frame followed by junk past byte 256 is still refused as a whole.
    ASSERT_TRUE(OXWindowFrameAttribute::writeAttribute(song, name, OXFrameString(kFrame) + std::string(1000, ' ')));
    EXPECT_EQ(OXWindowFrameAttribute::readAttributeAtURL(song, "Song Window", defaults.store())->size(), 256u);
    EXPECT_FALSE(OXWindowFrameAttribute::frameFromAttributeAtURL(song, "Song Window", defaults.store()));
    // Empty: fewer than one byte.
    ASSERT_TRUE(OXWindowFrameAttribute::writeAttribute(song, name, ""));
    EXPECT_FALSE(OXWindowFrameAttribute::readAttributeAtURL(song, "Song Window", defaults.store()));

    // No file: nothing written, nothing read.
    EXPECT_FALSE(OXWindowFrameAttribute::saveFrameToAttributeAtURL(dir / "missing", "Song Window", kFrame,
        defaults.store()));
    EXPECT_FALSE(OXWindowFrameAttribute::frameFromAttributeAtURL(dir / "missing", "Song Window", defaults.store()));
}

// User attributes are refused on anything but files and folders (EPERM); such a document keeps its
// frame in the store, under its canonical path, until an attribute can be written again.
TEST(OXWindowFrame, WhereAttributesAreRefusedTheStoreKeepsTheFrame)
{
    TempDir dir;
    TempDefaults defaults;
    const fs::path fifo = dir / "Pipe.rpsong";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int error = 0;
    ASSERT_FALSE(OXWindowFrameAttribute::writeAttribute(fifo, "user.test", "1", &error));
    ASSERT_EQ(error, EPERM);

    ASSERT_TRUE(OXWindowFrameAttribute::saveFrameToAttributeAtURL(fifo, "Song Window", kFrame, defaults.store()));
    const auto stored = defaults.reopened()->dictionaryForKey(OXWindowFrameAttribute::kFallbackDefaultsKey);
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->count(fs::canonical(fifo).string()), 1u);
    // Found through another spelling of the same path.
    EXPECT_EQ(OXWindowFrameAttribute::frameFromAttributeAtURL(dir / "." / "Pipe.rpsong", "Song Window",
                  defaults.store()),
        kFrame);
    EXPECT_FALSE(OXWindowFrameAttribute::frameFromAttributeAtURL(fifo, "Kit Window", defaults.store()));

    // The same path becomes a plain file: the attribute is written and the stored copy forgotten.
    fs::remove(fifo);
    writeFileBytes(fifo, { 1 });
    const OXSavedFrame moved { { 5, 6, 700, 500 }, kFrame.screen };
    ASSERT_TRUE(OXWindowFrameAttribute::saveFrameToAttributeAtURL(fifo, "Song Window", moved, defaults.store()));
    EXPECT_EQ(OXWindowFrameAttribute::frameFromAttributeAtURL(fifo, "Song Window", defaults.store()), moved);
    EXPECT_FALSE(defaults.store().hasStoredValue(OXWindowFrameAttribute::kFallbackDefaultsKey));
}

TEST(OXWindowFrame, CascadeMovesOnceByTheTitleBarOnlyOverAWindowWithTheSameCorner)
{
    const OXRect window { 100, 200, 800, 600 };
    const int titleBar = 28;
    EXPECT_FALSE(OXCascadeIfNecessary(window, titleBar, {}));
    EXPECT_FALSE(OXCascadeIfNecessary(window, titleBar, { { 100, 201, 800, 600 }, { 101, 200, 800, 600 } }));
    // Same x and top edge, whatever the size; moved right and down (y grows downwards).
    EXPECT_EQ(OXCascadeIfNecessary(window, titleBar, { { 0, 0, 10, 10 }, { 100, 200, 300, 50 } }),
        (OXRect { 128, 228, 800, 600 }));
    // Only one step, even onto another window's corner.
    EXPECT_EQ(OXCascadeIfNecessary(window, titleBar, { { 100, 200, 800, 600 }, { 128, 228, 800, 600 } }),
        (OXRect { 128, 228, 800, 600 }));

    const std::vector<OXRect> others { { 100, 200, 800, 600 } };
    const OXRect current { 0, 0, 640, 480 };
    EXPECT_EQ(OXCascadeFromSavedFrame(window, OXRect { 5, 5, 50, 50 }, current, titleBar, others),
        (OXRect { 128, 228, 800, 600 }));
    EXPECT_EQ(OXCascadeFromSavedFrame(std::nullopt, OXRect { 5, 5, 50, 50 }, current, titleBar, others),
        (OXRect { 5, 5, 50, 50 }));
    EXPECT_EQ(OXCascadeFromSavedFrame(std::nullopt, std::nullopt, current, titleBar, { current }),
        (OXRect { 28, 28, 640, 480 }));
}

TEST(OXWindowFrame, AFrameFromAnotherScreenIsBroughtOntoThisOne)
{
    const OXRect screen { 0, 0, 1280, 800 };
    EXPECT_EQ(OXConstrainFrameToScreen({ 100, 100, 600, 400 }, screen), (OXRect { 100, 100, 600, 400 }));
    EXPECT_EQ(OXConstrainFrameToScreen({ 2000, 900, 600, 400 }, screen), (OXRect { 680, 400, 600, 400 }));
    EXPECT_EQ(OXConstrainFrameToScreen({ -50, -20, 3000, 400 }, screen), (OXRect { 0, 0, 1280, 400 }));
    EXPECT_EQ(OXConstrainFrameToScreen({ 10, 10, 600, 400 }, { 1920, 0, 1024, 768 }), (OXRect { 1920, 10, 600, 400 }));
}
