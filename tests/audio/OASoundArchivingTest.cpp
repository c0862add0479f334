#include "OASoundTestSupport.h"
#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "archive/TypedStreamWriter.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using rp::test::TempDir;
using testing::Contains;
using testing::StartsWith;

namespace {

// Writes whatever keys a test wants under the class name "OASound", to build archives our own
// encoder never writes (an embedded block, a negative offset, no source format).
class HandMadeSound : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    explicit HandMadeSound(std::function<void(rp::KeyedArchiver&)> encode)
        : encode_(std::move(encode))
    {
    }
    std::string archiveClassName() const override { return "OASound"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override { encode_(coder); }

private:
    std::function<void(rp::KeyedArchiver&)> encode_;
};

OASoundPtr unarchive(const std::vector<uint8_t>& data, std::string* error = nullptr)
{
    return std::dynamic_pointer_cast<OASound>(rp::KeyedUnarchiver::unarchiveObjectWithData(data, error));
}

OASoundPtr unarchive(std::function<void(rp::KeyedArchiver&)> encode, std::string* error = nullptr)
{
    return unarchive(
        rp::KeyedArchiver::archivedDataWithRootObject(std::make_shared<HandMadeSound>(std::move(encode))),
        error);
}

std::vector<uint8_t> bigEndian16(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes;
    for (const int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
    }
    return bytes;
}

std::vector<float> decoded(OASound& sound, double rate, uint32_t channels, size_t channel = 0)
{
    return rp::test::decodedChannel(
        sound, AudioStreamBasicDescription::canonicalFloat(rate, channels), channel);
}

// The keys of the archive's OASound object, through Python's plistlib.
std::string archivedKeys(const TempDir& dir, const std::vector<uint8_t>& archive)
{
    rp::test::writeFileBytes(dir / "archive.plist", archive);
    std::string out;
    rp::test::runCommand("python3 -c \"import plistlib,sys; p=plistlib.load(open(sys.argv[1],'rb')); "
                         "o=p['\\$objects'][p['\\$top']['root'].data]; "
                         "print(' '.join(k for k in o if k != '\\$class'))\" '"
            + (dir / "archive.plist").string() + "'",
        &out);
    return out;
}

class OASoundArchive : public testing::Test {
protected:
    void SetUp() override { OASound::registerArchiveClasses(); }
};

} // namespace

TEST_F(OASoundArchive, KeyedRoundTripFollowsTheMovedFileOrFallsBackToItsPath)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "snare.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 2, std::vector<double>(2000, 0.25));
    auto sound = OASound::soundWithContentsOfURL(dir / "snare.aiff");
    sound->setVolume(0.8f);
    sound->setPanning(-0.5f);
    sound->setFrameOffset(10);
    sound->setFrameCount(500);
    const auto archive = rp::KeyedArchiver::archivedDataWithRootObject(sound);
    if (rp::test::haveTool("python3")) {
        EXPECT_EQ(archivedKeys(dir, archive),
            "OAS_frames OAS_sampleRate OAS_channels OAS_sfFormat OAS_panning OAS_volume OAS_soundName "
            "OAS_fileAlias OAS_fileBookmark OAS_frameOffset OAS_frameCount\n");
    }

    // The file moves: the bookmark still finds it.
    std::filesystem::rename(dir / "snare.aiff", dir / "moved.aiff");
    std::string error;
    auto restored = unarchive(archive, &error);
    ASSERT_NE(restored, nullptr) << error;
    EXPECT_EQ(restored->soundFileURL(), dir / "moved.aiff");
    EXPECT_EQ(std::make_pair(restored->frameOffset(), restored->frameCount()), std::make_pair(10ul, 500ul));
    EXPECT_EQ(std::make_pair(restored->volume(), restored->panning()), std::make_pair(0.8f, -0.5f));
    EXPECT_EQ(restored->storedName(), "snare.aiff");
    EXPECT_EQ(decoded(*restored, 48000, 2, 1), std::vector<float>(500, 0.25f));

    // A bookmark that resolves to nothing is logged and the stored path is used instead.
    std::filesystem::remove(dir / "moved.aiff");
    rp::LogCapture log;
    auto lost = unarchive(archive, &error);
    ASSERT_NE(lost, nullptr) << error;
    EXPECT_EQ(lost->soundFileURL(), dir / "snare.aiff");
    EXPECT_THAT(log.lines(), Contains(StartsWith("OASound failed to resolve bookmark for sound file: ")));
    EXPECT_TRUE(log.contains("OASound: error "));

    // A sound that never had a source cannot be read from a keyed archive.
    EXPECT_EQ(unarchive(
                  [](rp::KeyedArchiver& coder) {
                      coder.encodeInt64(0, "OAS_sfFormat");
                      coder.encodeString("nothing", "OAS_soundName");
                  },
                  &error),
        nullptr);
    EXPECT_FALSE(error.empty());
}

// A sound whose file is away keeps the length the archive gave it: load and save cycles must not
// trim the stored length again each time (with and without a frame count).
TEST_F(OASoundArchive, TrimmedLengthStaysStableWhileTheFileIsAway)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "tom.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, std::vector<double>(2000, 0.5));
    for (const uint64_t count : { uint64_t { 0 }, uint64_t { 500 }, uint64_t { 1995 } }) {
        SCOPED_TRACE(testing::Message() << "frame count " << count);
        auto sound = OASound::soundWithContentsOfURL(dir / "tom.wav");
        sound->setFrameOffset(10);
        sound->setFrameCount(count);
        const uint64_t expected = sound->frames();
        ASSERT_EQ(expected, count == 0 ? 1990u : std::min<uint64_t>(count, 1990));
        auto archive = rp::KeyedArchiver::archivedDataWithRootObject(sound);
        std::filesystem::remove(dir / "tom.wav"); // gone, not merely moved where a search finds it
        {
            rp::LogCapture quiet; // the missing file is logged on every load
            for (int cycle = 0; cycle < 3; ++cycle) {
                std::string error;
                auto restored = unarchive(archive, &error);
                ASSERT_NE(restored, nullptr) << error;
                EXPECT_EQ(restored->frames(), expected) << "cycle " << cycle;
                EXPECT_EQ(restored->frameOffset(), 10u);
                archive = rp::KeyedArchiver::archivedDataWithRootObject(restored);
            }
        }
        // Back in place, the file's own length counts again.
        rp::test::writeSoundFile(
            dir / "tom.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, std::vector<double>(2000, 0.5));
        auto found = unarchive(archive);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->frames(), expected);
        EXPECT_EQ(decoded(*found, 44100, 1).size(), expected);
    }
}

TEST_F(OASoundArchive, PackedBlocksWithSignExtendedOffsetAndCount)
{
    // An archive that carries the samples: 16-bit big-endian, with a negative offset and count
    // that sign-extend (offset -1 leaves nothing, count -1 is "everything").
    const auto packedBlock = [](rp::KeyedArchiver& coder) {
        coder.encodeInt64(3, "OAS_frames");
        coder.encodeFloat(22050, "OAS_sampleRate");
        coder.encodeInt64(1, "OAS_channels");
        coder.encodeInt64(0x020002, "OAS_sfFormat");
        coder.encodeData(bigEndian16({ 0x4000, -0x4000, 0x2000 }), "OAS_packedBuffer");
    };
    auto legacy = unarchive([&](rp::KeyedArchiver& coder) {
        packedBlock(coder);
        coder.encodeString("Old Clap", "OAS_soundName");
        coder.encodeInt32(1, "OAS_frameOffset");
        coder.encodeInt32(-1, "OAS_frameCount");
    });
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->name(), "Old Clap");
    EXPECT_EQ(legacy->frameCount(), UINT64_MAX);
    EXPECT_EQ(decoded(*legacy, 22050, 1), (std::vector<float> { -0.5f, 0.25f }));

    auto empty = unarchive([&](rp::KeyedArchiver& coder) {
        packedBlock(coder);
        coder.encodeInt32(-1, "OAS_frameOffset");
    });
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->frameOffset(), UINT64_MAX);
    EXPECT_EQ(empty->frames(), 0u);
}

TEST_F(OASoundArchive, SequentialArchivesOfBothVersions)
{
    for (const int version : { 0, 1 }) {
        SCOPED_TRACE(testing::Message() << "version " << version);
        rp::test::TypedStreamWriter w(true);
        const auto values = [&](const char* types, std::initializer_list<int64_t> numbers) {
            w.group(types);
            for (const int64_t n : numbers) {
                w.integer(n);
            }
        };
        w.group("@");
        w.beginObject({ { "OASound", version }, { "NSObject", 0 } });
        w.group("@");
        w.stringObject("Rim");
        if (version == 0) {
            w.group("@");
            w.nil();
        }
        values("q", { 4 });
        values("iii", { 32000, 1, 0x020002 });
        values("ii", { 0, 0 });
        w.group("f");
        w.floatValue(0.5f, true);
        if (version >= 1) {
            w.group("f");
            w.floatValue(0.25f, true);
        }
        w.group("@");
        w.dataObject(bigEndian16({ 0x1000, 0x2000, 0x3000, 0x4000 }));
        w.endObject();

        std::string error;
        auto sound = std::dynamic_pointer_cast<OASound>(
            rp::TypedStreamDecoder::unarchiveObjectWithData(w.bytes(), &error));
        ASSERT_NE(sound, nullptr) << error;
        EXPECT_EQ(sound->name(), "Rim");
        EXPECT_EQ(sound->sampleRate(), 32000.0f);
        EXPECT_EQ(std::make_pair(sound->panning(), sound->volume()),
            std::make_pair(0.5f, version >= 1 ? 0.25f : 1.0f));
        EXPECT_EQ(decoded(*sound, 32000, 1), (std::vector<float> { 0.125f, 0.25f, 0.375f, 0.5f }));
    }
}
