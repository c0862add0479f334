// A corpus of hostile song files made from a real song: cut at every byte, bytes changed, lengths
// and counts at extremes, every key of every class holding a value of the wrong kind, and older
// sequential songs with bad tags and references. Each one is refused with error 1000 (1001 for
// a newer compatibility code) or opens as a song that the model can play and save again; none
// crashes or takes long.

#include "ModelTestSupport.h"
#include "archive/KeyedArchiver.h"
#include "foundation/CompressedData.h"
#include "foundation/Error.h"
#include "foundation/Logger.h"
#include "foundation/ScriptedPrompt.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPatternInstance.h"
#include "model/ORPSong.h"
#include "support/HostileArchives.h"
#include "support/TestSupport.h"

#include <cmath>
#include <cstring>
#include <sys/stat.h>

using namespace rp::test;

namespace {

constexpr size_t kHeaderLength = 24 + 8; // magic, compatibility and saved-with codes

class HostileSongCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        peakBefore = peakResidentMegabytes();
        ORPSong::registerArchiveClasses();
        ORPSong::setDefaultKitProvider({});
        ORPDrumPtr hat;
        song = richSong(hat);
        song->setDrumKit(ORPDrumKit::kit(), dir.path()); // the kit's location as bookmark and alias
        file = song->dataRepresentation();
        ASSERT_FALSE(file.empty());
        archiveStart = std::find(file.begin() + kHeaderLength, file.end(), uint8_t { 0 }) - file.begin() + 1;
        auto archiveBytes = rp::uncompressedData(std::span<const uint8_t>(file).subspan(archiveStart));
        ASSERT_TRUE(archiveBytes);
        archive = *archiveBytes;
    }

    // No hostile file may make the reader allocate without bound.
    void TearDown() override { EXPECT_LT(peakResidentMegabytes() - peakBefore, kPeakGrowthLimitMegabytes); }

    std::vector<uint8_t> wrapped(const std::vector<uint8_t>& keyedArchive) const
    {
        std::vector<uint8_t> out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(archiveStart));
        auto compressed = rp::compressedData(keyedArchive);
        EXPECT_TRUE(compressed);
        out.insert(out.end(), compressed->begin(), compressed->end());
        return out;
    }

    // Opens the bytes as a song. A refusal must be error 1000 (or `otherCode`); a song that opens
    // must hold values the model can work with and save into a file that opens again.
    void expectHandled(const std::string& label, const std::vector<uint8_t>& bytes, bool mustFail = false,
        int otherCode = rp::kErrorInvalidFile)
    {
        ++cases;
        BoundedCase bounded(label);
        rp::Error error;
        auto opened = ORPSong::songFromData(bytes, "/songs/Bad.rpsong", &error);
        if (!opened) {
            EXPECT_TRUE(
                error.isApplicationError(rp::kErrorInvalidFile) || error.isApplicationError(otherCode))
                << label << ": " << error.text();
            return;
        }
        ++opened_;
        EXPECT_FALSE(mustFail) << label << " opened";
        for (const auto& pattern : opened->allPatterns()) {
            EXPECT_GE(pattern->timeSignatureTop(), 1) << label;
            EXPECT_GE(pattern->timeSignatureBottom(), 1) << label;
            EXPECT_TRUE(pattern->duration() > 0 && std::isfinite(pattern->duration())) << label;
            float last = 0;
            for (const auto& event : *pattern->events()) {
                EXPECT_TRUE(event->whenRatio() >= last && event->whenRatio() < 1) << label;
                EXPECT_TRUE(std::isfinite(event->velocity())) << label;
                EXPECT_TRUE(event->drum()) << label;
                last = event->whenRatio();
            }
        }
        for (const auto& entry : opened->sectionMarkerList())
            EXPECT_GE(entry->numberOfTimes(), 0) << label;
        (void)ORPPatternInstance::instancesForPlaylist(*opened);
        const auto again = opened->dataRepresentation();
        ASSERT_FALSE(again.empty()) << label << ": an opened song cannot be saved" << quiet.lines().back();
        rp::Error reopenError;
        EXPECT_TRUE(ORPSong::songFromData(again, "/songs/Again.rpsong", &reopenError))
            << label << ": the saved copy does not open: " << reopenError.text();
    }

    ScratchFolder dir;
    ORPSongPtr song;
    std::vector<uint8_t> file;
    size_t archiveStart = 0;
    std::vector<uint8_t> archive;
    long peakBefore = 0;
    int cases = 0;
    int opened_ = 0;
    rp::LogCapture quiet;
};

TEST_F(HostileSongCorpus, CutAtEveryByteIsRefused)
{
    // The whole file cut short (the wrapper's stated length no longer matches), and the archive
    // inside cut short and wrapped again (the property list's trailer is lost).
    for (size_t length = 0; length < file.size(); ++length)
        expectHandled("file cut at " + std::to_string(length),
            std::vector<uint8_t>(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)), true);
    for (size_t length = 0; length < archive.size(); ++length)
        expectHandled("archive cut at " + std::to_string(length),
            wrapped(
                std::vector<uint8_t>(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(length))),
            true);
    EXPECT_EQ(opened_, 0);
}

TEST_F(HostileSongCorpus, ChangedBytesAndExtremeLengths)
{
    forEachFlip(file, 0, 11, 400, [&](const std::string& label, const std::vector<uint8_t>& bytes) {
        expectHandled("file " + label, bytes, false, rp::kErrorNewerVersion);
    });
    forEachFlip(archive, 0, 12, 1500, [&](const std::string& label, const std::vector<uint8_t>& bytes) {
        expectHandled(label, wrapped(bytes));
    });
    forEachLengthExtreme(archive, [&](const std::string& label, const std::vector<uint8_t>& bytes) {
        expectHandled(label, wrapped(bytes));
    });
    // Some changes leave a song (a changed letter in a name): the check of what opens ran too.
    EXPECT_GT(opened_, 0);
    EXPECT_LT(opened_, cases);
}

TEST_F(HostileSongCorpus, HeaderFieldsAtExtremes)
{
    auto withCodes = [&](uint32_t compatibility, uint32_t savedWith) {
        auto changed = file;
        for (int b = 0; b < 4; ++b) {
            changed[24 + static_cast<size_t>(b)] = static_cast<uint8_t>(compatibility >> (24 - 8 * b));
            changed[28 + static_cast<size_t>(b)] = static_cast<uint8_t>(savedWith >> (24 - 8 * b));
        }
        return changed;
    };
    expectHandled("compatibility max", withCodes(0xFFFFFFFF, 0), true, rp::kErrorNewerVersion);
    // Compatibility codes from before the version string: the version string is taken for the
    // wrapper, whose magic is then missing.
    expectHandled("compatibility 0", withCodes(0, 0), true);
    expectHandled("compatibility 1B4", withCodes(0x01020004, 0x01020004), true);

    // The wrapper's stated length at extremes.
    for (uint32_t length : { 0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFFu }) {
        auto changed = file;
        for (int b = 0; b < 4; ++b)
            changed[archiveStart + 4 + static_cast<size_t>(b)] = static_cast<uint8_t>(length >> (24 - 8 * b));
        expectHandled("stated length " + std::to_string(length), changed, true);
    }
    // A megabyte of version string without its zero byte, and with one but no archive after it.
    std::vector<uint8_t> longVersion(file.begin(), file.begin() + kHeaderLength);
    longVersion.resize(longVersion.size() + (1u << 20), 'v');
    expectHandled("version string without end", longVersion, true);
    longVersion.push_back(0);
    expectHandled("nothing after the version string", longVersion, true);
}

TEST_F(HostileSongCorpus, ANamedPipeOrFolderIsRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo((dir / "Pipe.rpsong").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "Folder.rpsong");
    for (const char* name : { "Pipe.rpsong", "Folder.rpsong" }) {
        BoundedCase bounded(name);
        rp::Error error;
        EXPECT_FALSE(ORPSong::songFromURL(dir / name, &error)) << name;
        EXPECT_EQ(error.domain, rp::kPosixErrorDomain) << name;
    }
}

TEST_F(HostileSongCorpus, EveryKeyOfEveryClassWithValuesOfEveryKind)
{
    auto prompt = std::make_shared<rp::ScriptedPrompt>(); // no question may be asked
    rp::ScopedPrompt scoped(prompt);
    forEachWrongValue(archive, [&](const std::string& label, const std::vector<uint8_t>& bytes) {
        expectHandled(label, wrapped(bytes));
    });
    EXPECT_GT(cases, 500);
    EXPECT_GT(opened_, 0);
    EXPECT_EQ(prompt->asked().size(), 0u);
}

TEST_F(HostileSongCorpus, OlderSongsWithBadTagsReferencesAndCuts)
{
    for (bool bigEndian : { true, false }) {
        const auto stream = olderSong(
            { .bigEndian = bigEndian, .songVersion = 1, .patternVersion = bigEndian ? 0 : 1, .patterns = 3 });
        const int before = opened_;
        expectHandled("older song", stream);
        ASSERT_EQ(opened_, before + 1)
            << "the unchanged older song must open" << ::testing::PrintToString(quiet.lines());
        for (size_t length = 0; length < stream.size(); ++length)
            expectHandled("older song cut at " + std::to_string(length),
                std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length)),
                true);
        // Every byte after the signature replaced by two of the tags (integer forms, object start,
        // nil, end of object, reference) and values around them, in turn.
        const std::vector<uint8_t> tags
            = { 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x92, 0x93, 0xFF, 0x00, 0x7F };
        for (size_t at = 13; at < stream.size(); ++at) {
            for (size_t pick : { at % tags.size(), (at + 5) % tags.size() }) {
                auto changed = stream;
                changed[at] = tags[pick];
                expectHandled(
                    "older song byte " + std::to_string(at) + " = " + std::to_string(tags[pick]), changed);
            }
        }
        forEachFlip(stream, 13, bigEndian ? 21 : 22, 300,
            [&](const std::string& label, const std::vector<uint8_t>& bytes) {
                expectHandled(label, bytes);
            });
    }
    EXPECT_GT(opened_, 2);
}

} // namespace
