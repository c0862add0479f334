#include "foundation/UserDefaults.h"

#include "ScopedEnv.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    rp::test::TempDir dir;
    rp::NotificationCenter center;
    const std::filesystem::path file = dir / "prefs" / "net.rattlepan.Rattlepan.plist";
};
using UserDefaultsThreads = UserDefaultsTest;

} // namespace

TEST(PropertyValue, ConvertsTheWayDefaultsReadersExpectAndClampsOverflow)
{
    using rp::PropertyValue;
    const std::pair<PropertyValue, int64_t> integers[] = { { 2.9, 2 }, { -2.9, -2 }, { 1e300, INT64_MAX },
        { std::nan(""), 0 }, { " -42abc", -42 }, { "99999999999999999999", INT64_MAX }, { true, 1 } };
    for (const auto& [value, integer] : integers)
        EXPECT_EQ(value.toInteger(), integer);
    for (const char* yes : { "YES", "yes", "true", "T", "1", " +007", "9lives" })
        EXPECT_TRUE(PropertyValue(yes).toBool()) << yes;
    for (const char* no : { "NO", "false", "0", "000", "", "  ", "maybe" })
        EXPECT_FALSE(PropertyValue(no).toBool()) << no;
    EXPECT_FALSE(PropertyValue(rp::PropertyData { 1 }).toBool());
    EXPECT_EQ(PropertyValue(rp::PropertyArray {}).toStringValue(), std::nullopt);
}

TEST(PropertyValue, TruncatedDeepCyclicAndExpandingBinaryListsAreRefused)
{
    // Every truncation of a valid list is refused; a null cannot be written.
    const auto bytes
        = rp::PropertyValue(rp::PropertyArray { 1, "two", rp::PropertyDictionary { { "k", false } } })
              .toBinaryPropertyList();
    ASSERT_TRUE(bytes && rp::PropertyValue::fromBinaryPropertyList(*bytes));
    for (size_t length = 0; length < bytes->size(); ++length)
        EXPECT_FALSE(rp::PropertyValue::fromBinaryPropertyList(
            std::vector<uint8_t>(bytes->begin(), bytes->begin() + static_cast<long>(length))));
    EXPECT_FALSE(rp::PropertyValue(rp::PropertyArray { rp::PropertyValue() }).toBinaryPropertyList());

    // Object i is an array holding object i+1 `width` times; the last is `last`. With `cycle` the
    // last refers back to object 0 instead.
    auto chain = [](uint32_t count, uint8_t width, bool cycle, uint8_t last) {
        std::vector<uint8_t> out { 'b', 'p', 'l', 'i', 's', 't', '0', '0' }, table;
        auto put = [](std::vector<uint8_t>& to, uint64_t v, int size) {
            for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
                to.push_back(uint8_t(v >> shift));
        };
        for (uint32_t i = 0; i < count; ++i) {
            put(table, out.size(), 4);
            out.push_back(i + 1 == count && !cycle ? last : uint8_t(0xA0 | width));
            for (int k = 0; k < width && (i + 1 < count || cycle); ++k)
                put(out, i + 1 < count ? i + 1 : 0, 4);
        }
        const uint64_t tableOffset = out.size();
        out.insert(out.end(), table.begin(), table.end());
        out.insert(out.end(), { 0, 0, 0, 0, 0, 0, 4, 4 });
        for (uint64_t field : { uint64_t { count }, uint64_t { 0 }, tableOffset })
            put(out, field, 8);
        return out;
    };
    EXPECT_TRUE(rp::PropertyValue::fromBinaryPropertyList(chain(50, 1, false, 0xA0)));
    std::string error;
    // libplist itself overflows the stack on this one.
    EXPECT_FALSE(rp::PropertyValue::fromBinaryPropertyList(chain(100000, 1, false, 0xA0), &error));
    EXPECT_NE(error.find("deep"), std::string::npos) << error;
    EXPECT_FALSE(rp::PropertyValue::fromBinaryPropertyList(chain(3, 1, true, 0)));
    // 40 levels of arrays each holding the next one twice: 2^40 objects once expanded.
    EXPECT_FALSE(rp::checkBinaryPropertyList(chain(40, 2, false, 0x09), {}, &error));
    EXPECT_EQ(error, "too many objects");
}

TEST_F(UserDefaultsTest, RegisteredDefaultsNeverOverwriteStoredValuesAndAreNotSaved)
{
    {
        rp::UserDefaults defaults(file, center);
        EXPECT_FALSE(std::filesystem::exists(file));
        defaults.setInteger(4, "RPPatternsPerRow");
        defaults.registerDefaults({ { "RPPatternsPerRow", -1 }, { "RPAllowFinalSoundDecay", true } });
        EXPECT_EQ(defaults.integerForKey("RPPatternsPerRow"), 4);
        EXPECT_TRUE(defaults.boolForKey("RPAllowFinalSoundDecay"));
        EXPECT_FALSE(defaults.hasStoredValue("RPAllowFinalSoundDecay"));
        defaults.removeObjectForKey("RPPatternsPerRow");
        EXPECT_EQ(defaults.integerForKey("RPPatternsPerRow"), -1); // back to the registered value
        defaults.setBool(false, "RPAllowFinalSoundDecay");
    }
    rp::UserDefaults reread(file, center);
    EXPECT_FALSE(reread.objectForKey("RPPatternsPerRow")); // registrations were never saved
    EXPECT_EQ(reread.objectForKey("RPAllowFinalSoundDecay"), rp::PropertyValue(false));
}

TEST_F(UserDefaultsTest, SavesARealBinaryPropertyListThatPlistlibReadsAndReadsPlistlibs)
{
    if (!rp::test::haveTool("python3"))
        GTEST_SKIP() << "python3 not available";
    rp::UserDefaults defaults(file, center);
    defaults.setBool(true, "RPLoopPlayback");
    defaults.setInteger(-3, "RPNegative");
    defaults.setInteger(4294967295LL, "RPLastExportFormatEncoding");
    defaults.setDouble(0.75, "RPDefaultVelocity");
    defaults.setString("Kit ☃", "RPName");
    defaults.setData({ 1, 2, 3 }, "RPExportDirectoryBookmark");
    defaults.setObject(rp::PropertyArray { rp::PropertyData { 9 }, rp::PropertyData { 8, 7 } },
        "RPPreviouslyOpenDocumentBookmarks");
    defaults.setObject(rp::PropertyDictionary { { "Snare", "Snare 2" } }, "RPReconcileCacheByType");
    defaults.setObject(rp::PropertyDate { 86400.0 }, "RPWhen");

    // Python reads our file and writes one of its own.
    const auto foreign = dir / "foreign.plist";
    const std::string script = R"PY(
import plistlib, sys
d = plistlib.load(open(sys.argv[1], 'rb'))
print(d['RPLoopPlayback'] is True, d['RPNegative'], d['RPLastExportFormatEncoding'], d['RPDefaultVelocity'])
print(d['RPName'], d['RPExportDirectoryBookmark'].hex(), [x.hex() for x in d['RPPreviouslyOpenDocumentBookmarks']])
print(d['RPReconcileCacheByType'], d['RPWhen'].isoformat())
plistlib.dump({'RPSectionBeginsNewRow': True, 'RPPatternsPerRow': 6, 'RPLastExportSampleRate': 48000.0,
               'nested': {'a': [1, b'xy']}}, open(sys.argv[2], 'wb'), fmt=plistlib.FMT_BINARY)
)PY";
    rp::test::writeFileBytes(dir / "read.py", std::vector<unsigned char>(script.begin(), script.end()));
    std::string output;
    ASSERT_EQ(rp::test::runCommand("python3 '" + (dir / "read.py").string() + "' '" + file.string() + "' '"
                      + foreign.string() + "' 2>&1",
                  &output),
        0)
        << output;
    EXPECT_EQ(output,
        "True -3 4294967295 0.75\n"
        "Kit ☃ 010203 ['09', '0807']\n"
        "{'Snare': 'Snare 2'} 2001-01-02T00:00:00\n");

    rp::UserDefaults other(foreign, center);
    EXPECT_TRUE(other.boolForKey("RPSectionBeginsNewRow"));
    EXPECT_EQ(other.integerForKey("RPLastExportSampleRate"), 48000);
    EXPECT_EQ(other.stringForKey("RPPatternsPerRow"), "6");
    EXPECT_EQ(other.dictionaryForKey("nested"),
        (rp::PropertyDictionary { { "a", rp::PropertyArray { 1, rp::PropertyData { 'x', 'y' } } } }));
}

TEST_F(UserDefaultsTest, CorruptFileIsLoggedKeptAsideAndReplacedOnlyWhenSomethingIsSet)
{
    std::filesystem::create_directories(file.parent_path());
    const std::vector<unsigned char> garbage { 'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD5, 1, 2, 3 };
    rp::test::writeFileBytes(file, garbage);
    {
        rp::LogCapture capture;
        rp::UserDefaults defaults(file, center);
        EXPECT_EQ(capture.lines().size(), 1u);
        EXPECT_TRUE(capture.contains("ignoring unreadable defaults file"));
        EXPECT_EQ(rp::test::readFileBytes(file), garbage); // untouched until something is set
        defaults.setBool(false, "RPLoopPlayback");
    }
    EXPECT_EQ(rp::test::readFileBytes(file.string() + ".bad"), garbage);
    EXPECT_EQ(rp::UserDefaults(file, center).objectForKey("RPLoopPlayback"), rp::PropertyValue(false));

    // A file whose top level is not a dictionary, and one that is a folder, are also refused.
    rp::LogCapture capture;
    rp::test::writeFileBytes(
        dir / "array.plist", *rp::PropertyValue(rp::PropertyArray { 1 }).toBinaryPropertyList());
    rp::UserDefaults fromArray(dir / "array.plist", center);
    std::filesystem::create_directories(dir / "folder.plist");
    rp::UserDefaults fromFolder(dir / "folder.plist", center);
    EXPECT_EQ(capture.lines().size(), 2u);
    EXPECT_FALSE(fromArray.objectForKey("0"));
}

TEST_F(UserDefaultsTest, NotifiesPerKeyWhenTheValueReadChanges)
{
    rp::UserDefaults defaults(file, center);
    std::vector<std::string> changes, rows;
    int observer = 0, rowObserver = 0;
    center.addObserver(&observer, rp::UserDefaults::DidChangeNotification, &defaults,
        [&](const rp::Notification& n) { changes.push_back(std::any_cast<std::string>(n.userInfo)); });
    defaults.addObserverForKey(&rowObserver, "RPPatternsPerRow", [&](const std::string& key) {
        rows.push_back(key + "=" + std::to_string(defaults.integerForKey(key)));
    });

    defaults.registerDefaults({ { "RPPatternsPerRow", -1 } });
    defaults.setInteger(4, "RPPatternsPerRow");
    defaults.setInteger(4, "RPPatternsPerRow"); // same value: no change
    defaults.setBool(true, "RPRecordEnabled");
    defaults.setInteger(-1, "RPPatternsPerRow");
    defaults.removeObjectForKey("RPPatternsPerRow"); // reads -1 before and after
    EXPECT_EQ(changes,
        (std::vector<std::string> {
            "RPPatternsPerRow", "RPPatternsPerRow", "RPRecordEnabled", "RPPatternsPerRow" }));
    EXPECT_EQ(rows,
        (std::vector<std::string> { "RPPatternsPerRow=-1", "RPPatternsPerRow=4", "RPPatternsPerRow=-1" }));

    defaults.removeKeyObservers(&rowObserver);
    defaults.setInteger(2, "RPPatternsPerRow");
    EXPECT_EQ(rows.size(), 3u);
    center.removeObserver(&observer);

    // A value that cannot be stored is refused and logged, not half set.
    rp::LogCapture capture;
    EXPECT_FALSE(defaults.setObject(rp::PropertyArray { rp::PropertyValue() }, "RPBad"));
    EXPECT_FALSE(defaults.objectForKey("RPBad"));
    EXPECT_TRUE(capture.contains("RPBad"));
}

TEST_F(UserDefaultsTest, FileLocationFollowsTheEnvironment)
{
    {
        rp::test::ScopedEnv dirEnv("RATTLEPAN_DEFAULTS_DIR", "/tmp/rp-defaults-test");
        EXPECT_EQ(rp::UserDefaults::defaultFilePath(), "/tmp/rp-defaults-test/net.rattlepan.Rattlepan.plist");
    }
    rp::test::ScopedEnv dirEnv("RATTLEPAN_DEFAULTS_DIR", nullptr);
    {
        rp::test::ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg/config");
        EXPECT_EQ(rp::UserDefaults::defaultFilePath(), "/xdg/config/rattlepan/net.rattlepan.Rattlepan.plist");
    }
    rp::test::ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
    rp::test::ScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(
        rp::UserDefaults::defaultFilePath(), "/home/someone/.config/rattlepan/net.rattlepan.Rattlepan.plist");
}

TEST_F(UserDefaultsThreads, ReadersOnAnotherThreadWhileTheMainThreadWrites)
{
    rp::UserDefaults defaults(file, center);
    defaults.registerDefaults({ { "RPMuteAudioWhenActiveMIDI", false } });
    std::atomic<bool> stop { false };
    std::atomic<int> reads { 0 };
    std::thread player([&] {
        while (!stop)
            reads += defaults.boolForKey("RPMuteAudioWhenActiveMIDI") + defaults.integerForKey("RPCounter")
                >= 0;
    });
    for (int i = 1; i <= 40; ++i) {
        defaults.setBool(i % 2 == 0, "RPMuteAudioWhenActiveMIDI");
        defaults.setInteger(i, "RPCounter");
    }
    stop = true;
    player.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(rp::UserDefaults(file, center).integerForKey("RPCounter"), 40);
}
