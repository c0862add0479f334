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

std::filesystem::path defaultsFile(const rp::test::TempDir& dir)
{
    return dir / "prefs" / "net.rattlepan.Rattlepan.plist";
}

} // namespace

TEST(PropertyValue, ConvertsTheWayDefaultsReadersExpect)
{
    using rp::PropertyValue;
    EXPECT_EQ(PropertyValue(2.9).toInteger(), 2);
    EXPECT_EQ(PropertyValue(-2.9).toInteger(), -2);
    EXPECT_EQ(PropertyValue(1e300).toInteger(), INT64_MAX);
    EXPECT_EQ(PropertyValue(std::nan("")).toInteger(), 0);
    EXPECT_EQ(PropertyValue(" -42abc").toInteger(), -42);
    EXPECT_EQ(PropertyValue("99999999999999999999").toInteger(), INT64_MAX);
    EXPECT_EQ(PropertyValue(true).toInteger(), 1);
    EXPECT_DOUBLE_EQ(PropertyValue(int64_t { 3 }).toReal(), 3.0);
    EXPECT_DOUBLE_EQ(PropertyValue("0.5 seconds").toReal(), 0.5);
    EXPECT_DOUBLE_EQ(PropertyValue("junk").toReal(), 0.0);

    for (const char* yes : { "YES", "yes", "true", "T", "1", " +007", "9lives" }) {
        EXPECT_TRUE(PropertyValue(yes).toBool()) << yes;
    }
    for (const char* no : { "NO", "false", "0", "000", "", "  ", "maybe" }) {
        EXPECT_FALSE(PropertyValue(no).toBool()) << no;
    }
    EXPECT_TRUE(PropertyValue(2).toBool());
    EXPECT_FALSE(PropertyValue(0.0).toBool());
    EXPECT_FALSE(PropertyValue(rp::PropertyData { 1 }).toBool());

    EXPECT_EQ(PropertyValue(int64_t { -5 }).toStringValue(), "-5");
    EXPECT_EQ(PropertyValue(0.25).toStringValue(), "0.25");
    EXPECT_EQ(PropertyValue(true).toStringValue(), "1");
    EXPECT_EQ(PropertyValue(rp::PropertyArray {}).toStringValue(), std::nullopt);
}

TEST(PropertyValue, BinaryPropertyListRoundTripAndCheckerRefusesHostileStructure)
{
    rp::PropertyDictionary dictionary {
        { "bool", true },
        { "negative", int64_t { -7 } },
        { "big", int64_t { 4294967295 } },
        { "real", 44100.0 },
        { "text", std::string("Grüße") },
        { "data", rp::PropertyData { 0, 1, 255 } },
        { "date", rp::PropertyDate { 1000.5 } },
        { "array", rp::PropertyArray { 1, "two", rp::PropertyArray { 3.0 } } },
        { "nested", rp::PropertyDictionary { { "k", false } } },
    };
    const rp::PropertyValue value(dictionary);
    const auto bytes = value.toBinaryPropertyList();
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(rp::checkBinaryPropertyList(*bytes));
    const auto back = rp::PropertyValue::fromBinaryPropertyList(*bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);

    // A null cannot be written.
    EXPECT_FALSE(rp::PropertyValue(rp::PropertyArray { rp::PropertyValue() }).toBinaryPropertyList());

    // Every truncation is refused without a crash.
    for (size_t length = 0; length < bytes->size(); ++length) {
        std::vector<uint8_t> cut(bytes->begin(), bytes->begin() + static_cast<long>(length));
        EXPECT_FALSE(rp::PropertyValue::fromBinaryPropertyList(cut)) << length;
    }
}

TEST(PropertyValue, DeepNestingCyclesAndSharedSubtreesAreRefusedBeforeParsing)
{
    // Object i is a one-element array holding object i+1; the last is an empty array. A reference
    // back to object 0 makes a cycle instead.
    auto nested = [](uint32_t count, bool cycle) {
        std::vector<uint8_t> bytes { 'b', 'p', 'l', 'i', 's', 't', '0', '0' };
        std::vector<uint32_t> offsets;
        for (uint32_t i = 0; i < count; ++i) {
            offsets.push_back(static_cast<uint32_t>(bytes.size()));
            if (i + 1 < count || cycle) {
                const uint32_t child = i + 1 < count ? i + 1 : 0;
                bytes.insert(bytes.end(),
                    { 0xA1, uint8_t(child >> 24), uint8_t(child >> 16), uint8_t(child >> 8),
                        uint8_t(child) });
            } else {
                bytes.push_back(0xA0);
            }
        }
        const uint64_t table = bytes.size();
        for (uint32_t offset : offsets) {
            bytes.insert(bytes.end(),
                { uint8_t(offset >> 24), uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset) });
        }
        bytes.insert(bytes.end(), { 0, 0, 0, 0, 0, 0, 4, 4 });
        for (uint64_t field : { uint64_t { count }, uint64_t { 0 }, table }) {
            for (int shift = 56; shift >= 0; shift -= 8) {
                bytes.push_back(uint8_t(field >> shift));
            }
        }
        return bytes;
    };
    EXPECT_TRUE(rp::PropertyValue::fromBinaryPropertyList(nested(50, false)));
    std::string error;
    // libplist itself overflows the stack on this one.
    EXPECT_FALSE(rp::PropertyValue::fromBinaryPropertyList(nested(100000, false), &error));
    EXPECT_NE(error.find("deep"), std::string::npos) << error;
    EXPECT_FALSE(rp::PropertyValue::fromBinaryPropertyList(nested(3, true)));

    // 40 levels of arrays each holding the next one twice: 2^40 objects once expanded.
    std::vector<uint8_t> shared { 'b', 'p', 'l', 'i', 's', 't', '0', '0' };
    std::vector<uint8_t> offsets;
    for (uint8_t i = 0; i < 40; ++i) {
        offsets.push_back(static_cast<uint8_t>(shared.size()));
        if (i < 39) {
            shared.insert(shared.end(), { 0xA2, uint8_t(i + 1), uint8_t(i + 1) });
        } else {
            shared.push_back(0x09);
        }
    }
    const uint8_t table = static_cast<uint8_t>(shared.size());
    shared.insert(shared.end(), offsets.begin(), offsets.end());
    shared.insert(shared.end(),
        { 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
            table });
    EXPECT_FALSE(rp::checkBinaryPropertyList(shared, {}, &error));
    EXPECT_EQ(error, "too many objects");
}

TEST(UserDefaults, RegisteredDefaultsNeverOverwriteStoredValuesAndAreNotSaved)
{
    rp::test::TempDir dir;
    rp::NotificationCenter center;
    {
        rp::UserDefaults defaults(defaultsFile(dir), center);
        EXPECT_FALSE(std::filesystem::exists(defaultsFile(dir)));
        defaults.setInteger(4, "RPPatternsPerRow");
        defaults.registerDefaults({ { "RPPatternsPerRow", -1 }, { "RPAllowFinalSoundDecay", true },
            { "RPLastExportAudioFileType", int64_t { 1095321158 } } });
        EXPECT_EQ(defaults.integerForKey("RPPatternsPerRow"), 4);
        EXPECT_TRUE(defaults.boolForKey("RPAllowFinalSoundDecay"));
        EXPECT_FALSE(defaults.hasStoredValue("RPAllowFinalSoundDecay"));
        defaults.removeObjectForKey("RPPatternsPerRow");
        EXPECT_EQ(defaults.integerForKey("RPPatternsPerRow"), -1); // back to the registered value
        defaults.setBool(false, "RPAllowFinalSoundDecay");
        EXPECT_FALSE(defaults.boolForKey("RPAllowFinalSoundDecay"));
    }
    rp::UserDefaults reread(defaultsFile(dir), center);
    EXPECT_FALSE(reread.objectForKey("RPPatternsPerRow")); // registrations were never saved
    EXPECT_EQ(reread.objectForKey("RPAllowFinalSoundDecay"), rp::PropertyValue(false));
    reread.registerDefaults({ { "RPAllowFinalSoundDecay", true } });
    EXPECT_FALSE(reread.boolForKey("RPAllowFinalSoundDecay"));
    EXPECT_EQ(reread.integerForKey("missing"), 0);
    EXPECT_EQ(reread.stringForKey("missing"), std::nullopt);
}

TEST(UserDefaults, SavesARealBinaryPropertyListThatPlistlibReads)
{
    if (!rp::test::haveTool("python3")) {
        GTEST_SKIP() << "python3 not available";
    }
    rp::test::TempDir dir;
    rp::NotificationCenter center;
    rp::UserDefaults defaults(defaultsFile(dir), center);
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

    const auto bytes = rp::test::readFileBytes(defaultsFile(dir));
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "bplist00");

    std::string output;
    const std::string script = "import plistlib,sys\n"
                               "d=plistlib.load(open(sys.argv[1],'rb'))\n"
                               "print(sorted(d.keys()))\n"
                               "print(d['RPLoopPlayback'] is True, d['RPNegative'], "
                               "d['RPLastExportFormatEncoding'], d['RPDefaultVelocity'])\n"
                               "print(d['RPName'], d['RPExportDirectoryBookmark'].hex(), [x.hex() for x in "
                               "d['RPPreviouslyOpenDocumentBookmarks']])\n"
                               "print(d['RPReconcileCacheByType'], d['RPWhen'].isoformat())\n";
    const auto scriptFile = dir / "read.py";
    rp::test::writeFileBytes(scriptFile, std::vector<unsigned char>(script.begin(), script.end()));
    ASSERT_EQ(rp::test::runCommand(
                  "python3 '" + scriptFile.string() + "' '" + defaultsFile(dir).string() + "'", &output),
        0)
        << output;
    EXPECT_EQ(output,
        "['RPDefaultVelocity', 'RPExportDirectoryBookmark', 'RPLastExportFormatEncoding', 'RPLoopPlayback', "
        "'RPName', "
        "'RPNegative', 'RPPreviouslyOpenDocumentBookmarks', 'RPReconcileCacheByType', 'RPWhen']\n"
        "True -3 4294967295 0.75\n"
        "Kit ☃ 010203 ['09', '0807']\n"
        "{'Snare': 'Snare 2'} 2001-01-02T00:00:00\n");

    // A file written by plistlib reads back here.
    const auto foreign = dir / "foreign.plist";
    ASSERT_EQ(rp::test::runCommand(
                  "python3 -c \"import plistlib,datetime; plistlib.dump({'RPSectionBeginsNewRow': True, "
                  "'RPPatternsPerRow': 6, 'RPLastExportSampleRate': 48000.0, 'nested': {'a': [1, b'xy']}}, "
                  "open('"
                  + foreign.string() + "','wb'), fmt=plistlib.FMT_BINARY)\""),
        0);
    rp::UserDefaults other(foreign, center);
    EXPECT_TRUE(other.boolForKey("RPSectionBeginsNewRow"));
    EXPECT_EQ(other.integerForKey("RPPatternsPerRow"), 6);
    EXPECT_DOUBLE_EQ(other.doubleForKey("RPLastExportSampleRate"), 48000.0);
    EXPECT_EQ(other.integerForKey("RPLastExportSampleRate"), 48000);
    EXPECT_EQ(other.stringForKey("RPPatternsPerRow"), "6");
    const auto nested = other.dictionaryForKey("nested");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->at("a"), (rp::PropertyValue(rp::PropertyArray { 1, rp::PropertyData { 'x', 'y' } })));
}

TEST(UserDefaults, CorruptFileIsLoggedKeptAsideAndReplacedOnlyWhenSomethingIsSet)
{
    rp::test::TempDir dir;
    rp::NotificationCenter center;
    const auto file = defaultsFile(dir);
    std::filesystem::create_directories(file.parent_path());
    const std::vector<unsigned char> garbage { 'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD5, 1, 2, 3 };
    rp::test::writeFileBytes(file, garbage);
    {
        rp::LogCapture capture;
        rp::UserDefaults defaults(file, center);
        EXPECT_EQ(capture.lines().size(), 1u);
        EXPECT_TRUE(capture.contains("ignoring unreadable defaults file"));
        defaults.registerDefaults({ { "RPLoopPlayback", true } });
        EXPECT_TRUE(defaults.boolForKey("RPLoopPlayback"));
        EXPECT_EQ(rp::test::readFileBytes(file), garbage); // untouched until something is set
        defaults.setBool(false, "RPLoopPlayback");
    }
    EXPECT_EQ(rp::test::readFileBytes(file.string() + ".bad"), garbage);
    rp::UserDefaults reread(file, center);
    EXPECT_EQ(reread.objectForKey("RPLoopPlayback"), rp::PropertyValue(false));

    // A file whose top level is not a dictionary, and one that is a folder, are also refused.
    rp::LogCapture capture;
    const auto arrayFile = dir / "array.plist";
    const auto arrayBytes = rp::PropertyValue(rp::PropertyArray { 1 }).toBinaryPropertyList();
    rp::test::writeFileBytes(arrayFile, std::vector<unsigned char>(arrayBytes->begin(), arrayBytes->end()));
    rp::UserDefaults fromArray(arrayFile, center);
    std::filesystem::create_directories(dir / "folder.plist");
    rp::UserDefaults fromFolder(dir / "folder.plist", center);
    EXPECT_EQ(capture.lines().size(), 2u);
    EXPECT_FALSE(fromArray.objectForKey("0"));
}

TEST(UserDefaults, NotifiesPerKeyWhenTheValueReadChanges)
{
    rp::test::TempDir dir;
    rp::NotificationCenter center;
    rp::UserDefaults defaults(defaultsFile(dir), center);
    std::vector<std::string> changes;
    std::vector<std::string> rows;
    int observer = 0;
    int rowObserver = 0;
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

    rp::LogCapture capture;
    EXPECT_FALSE(defaults.setObject(rp::PropertyArray { rp::PropertyValue() }, "RPBad"));
    EXPECT_FALSE(defaults.objectForKey("RPBad"));
    EXPECT_TRUE(capture.contains("RPBad"));
}

TEST(UserDefaults, FileLocationFollowsTheEnvironment)
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

TEST(UserDefaultsThreads, ReadersOnAnotherThreadWhileTheMainThreadWrites)
{
    rp::test::TempDir dir;
    rp::NotificationCenter center;
    rp::UserDefaults defaults(defaultsFile(dir), center);
    defaults.registerDefaults({ { "RPMuteAudioWhenActiveMIDI", false } });
    std::atomic<bool> stop { false };
    std::atomic<int> reads { 0 };
    std::thread player([&] {
        while (!stop) {
            (void)defaults.boolForKey("RPMuteAudioWhenActiveMIDI");
            (void)defaults.integerForKey("RPCounter");
            ++reads;
        }
    });
    for (int i = 1; i <= 40; ++i) {
        defaults.setBool(i % 2 == 0, "RPMuteAudioWhenActiveMIDI");
        defaults.setInteger(i, "RPCounter");
    }
    stop = true;
    player.join();
    EXPECT_GT(reads.load(), 0);
    rp::UserDefaults reread(defaultsFile(dir), center);
    EXPECT_EQ(reread.integerForKey("RPCounter"), 40);
    EXPECT_TRUE(reread.boolForKey("RPMuteAudioWhenActiveMIDI"));
}
