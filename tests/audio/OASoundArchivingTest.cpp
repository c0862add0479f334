#include "OASoundTestSupport.h"
#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "archive/TypedStreamWriter.h"
#include "audio/OASound.h"
#include "foundation/Logger.h"
#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>

using rp::test::TempDir;

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

std::vector<uint8_t> bigEndian16(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes;
    for (const int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
    }
    return bytes;
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

TEST_F(OASoundArchive, KeyedRoundTripKeepsTheFileAndAttributes)
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
    ASSERT_FALSE(archive.empty());
    if (rp::test::haveTool("python3")) {
        EXPECT_EQ(archivedKeys(dir, archive),
            "OAS_frames OAS_sampleRate OAS_channels OAS_sfFormat OAS_panning OAS_volume OAS_soundName "
            "OAS_fileAlias OAS_fileBookmark OAS_frameOffset OAS_frameCount\n");
    }

    // The file moves: the bookmark still finds it.
    std::filesystem::rename(dir / "snare.aiff", dir / "moved.aiff");
    std::string error;
    auto decoded = unarchive(archive, &error);
    ASSERT_NE(decoded, nullptr) << error;
    EXPECT_EQ(decoded->soundFileURL(), dir / "moved.aiff");
    EXPECT_EQ(decoded->frameOffset(), 10u);
    EXPECT_EQ(decoded->frameCount(), 500u);
    EXPECT_EQ(std::make_pair(decoded->volume(), decoded->panning()), std::make_pair(0.8f, -0.5f));
    EXPECT_EQ(decoded->storedName(), "snare.aiff");
    const AudioBufferList* list = decoded->bufferListWithAudioStreamDescription(
        AudioStreamBasicDescription::canonicalFloat(48000, 2));
    ASSERT_NE(list, nullptr);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 1)[499], 0.25f);
}

TEST_F(OASoundArchive, WithoutFileReferenceFallsBackToThePackedBuffer)
{
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "hat.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, std::vector<double>(100, 0.5));
    auto sound = OASound::soundWithContentsOfURL(dir / "hat.wav");
    sound->setSavesFileReference(false);
    const auto archive = rp::KeyedArchiver::archivedDataWithRootObject(sound);
    if (rp::test::haveTool("python3")) {
        const std::string keys = archivedKeys(dir, archive);
        EXPECT_EQ(keys.find("OAS_fileAlias"), std::string::npos);
        EXPECT_EQ(keys.find("OAS_fileBookmark"), std::string::npos);
    }
    // Nothing to load until the kit supplies the copy in its bundle.
    auto bare = unarchive(archive);
    ASSERT_NE(bare, nullptr);
    EXPECT_FALSE(bare->soundFileURL());
    EXPECT_FALSE(bare->hasLegacyEmbeddedBuffer());
    EXPECT_EQ(bare->name(), "hat.wav");
    EXPECT_EQ(bare->frames(), 100u);

    // An archive that carries the samples: 16-bit big-endian, with a negative offset and count
    // that sign-extend (offset -1 leaves nothing, count -1 is "everything").
    const auto samples = bigEndian16({ 0x4000, -0x4000, 0x2000 });
    const auto packedBlock = [&](rp::KeyedArchiver& coder) {
        coder.encodeInt64(3, "OAS_frames");
        coder.encodeFloat(22050, "OAS_sampleRate");
        coder.encodeInt64(1, "OAS_channels");
        coder.encodeInt64(0x020002, "OAS_sfFormat");
        coder.encodeData(samples, "OAS_packedBuffer");
    };
    auto packed = std::make_shared<HandMadeSound>([&](rp::KeyedArchiver& coder) {
        packedBlock(coder);
        coder.encodeFloat(0.25f, "OAS_panning");
        coder.encodeFloat(0.5f, "OAS_volume");
        coder.encodeString("Old Clap", "OAS_soundName");
        coder.encodeInt32(1, "OAS_frameOffset");
        coder.encodeInt32(-1, "OAS_frameCount");
    });
    auto legacy = unarchive(rp::KeyedArchiver::archivedDataWithRootObject(packed));
    ASSERT_NE(legacy, nullptr);
    EXPECT_TRUE(legacy->hasLegacyEmbeddedBuffer());
    EXPECT_EQ(legacy->name(), "Old Clap");
    EXPECT_EQ(legacy->frameCount(), UINT64_MAX);
    EXPECT_EQ(legacy->frames(), 2u);
    const AudioBufferList* list
        = legacy->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(22050, 1));
    ASSERT_NE(list, nullptr);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[0], -0.5f);
    EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[1], 0.25f);

    auto negative = std::make_shared<HandMadeSound>([&](rp::KeyedArchiver& coder) {
        packedBlock(coder);
        coder.encodeInt32(-1, "OAS_frameOffset");
    });
    auto empty = unarchive(rp::KeyedArchiver::archivedDataWithRootObject(negative));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->frameOffset(), UINT64_MAX);
    EXPECT_EQ(empty->frames(), 0u);
    list = empty->bufferListWithAudioStreamDescription(AudioStreamBasicDescription::canonicalFloat(22050, 1));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->mBuffers[0].mDataByteSize, 0u);
}

TEST_F(OASoundArchive, KeyedArchiveFailuresAndFallbacks)
{
    // A sound that never had a source cannot be read from a keyed archive.
    auto sourceless = std::make_shared<HandMadeSound>([](rp::KeyedArchiver& coder) {
        coder.encodeInt64(0, "OAS_sfFormat");
        coder.encodeString("nothing", "OAS_soundName");
    });
    std::string error;
    EXPECT_EQ(unarchive(rp::KeyedArchiver::archivedDataWithRootObject(sourceless), &error), nullptr);
    EXPECT_FALSE(error.empty());

    // A bookmark that resolves to nothing is logged and its stored path is used instead.
    TempDir dir;
    rp::test::writeSoundFile(
        dir / "gone.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, std::vector<double>(10, 0.0));
    const auto archive
        = rp::KeyedArchiver::archivedDataWithRootObject(OASound::soundWithContentsOfURL(dir / "gone.wav"));
    std::filesystem::remove(dir / "gone.wav");
    rp::LogCapture log;
    auto sound = unarchive(archive, &error);
    ASSERT_NE(sound, nullptr) << error;
    EXPECT_EQ(sound->soundFileURL(), dir / "gone.wav");
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines()[0].rfind("OASound failed to resolve bookmark for sound file: ", 0), 0u)
        << log.lines()[0];
    EXPECT_TRUE(log.contains("OASound: error "));
}

TEST_F(OASoundArchive, SequentialArchivesOfBothVersions)
{
    for (const int version : { 0, 1 }) {
        SCOPED_TRACE(testing::Message() << "version " << version);
        rp::test::TypedStreamWriter w(true);
        w.group("@");
        w.beginObject({ { "OASound", version }, { "NSObject", 0 } });
        w.group("@");
        w.stringObject("Rim");
        if (version == 0) {
            w.group("@");
            w.nil();
        }
        w.group("q");
        w.integer(4);
        w.group("iii");
        w.integer(32000);
        w.integer(1);
        w.integer(0x020002);
        w.group("ii");
        w.integer(0);
        w.integer(0);
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
        EXPECT_EQ(sound->frames(), 4u);
        EXPECT_EQ(sound->sampleRate(), 32000.0f);
        EXPECT_EQ(sound->panning(), 0.5f);
        EXPECT_EQ(sound->volume(), version >= 1 ? 0.25f : 1.0f);
        const AudioBufferList* list = sound->bufferListWithAudioStreamDescription(
            AudioStreamBasicDescription::canonicalFloat(32000, 1));
        ASSERT_NE(list, nullptr);
        EXPECT_FLOAT_EQ(rp::test::channelData(list, 0)[3], 0.5f);
    }

    // A stream whose values are of the wrong kind fails cleanly.
    rp::test::TypedStreamWriter bad(true);
    bad.group("@");
    bad.beginObject({ { "OASound", 1 }, { "NSObject", 0 } });
    bad.group("@");
    bad.stringObject("Rim");
    bad.group("f");
    bad.floatValue(1.5f, true);
    bad.endObject();
    std::string error;
    EXPECT_EQ(rp::TypedStreamDecoder::unarchiveObjectWithData(bad.bytes(), &error), nullptr);
    EXPECT_FALSE(error.empty());
}
