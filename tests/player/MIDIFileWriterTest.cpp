#include "MIDIFileTestSupport.h"
#include "foundation/Logger.h"
#include "player/StandardMIDIFile.h"

#include <fstream>
#include <limits>

using namespace rp::test;

namespace {

TEST(MIDIFileWriter, EventsAtEqualTicksAndLongDeltasReadBack)
{
    RP_REQUIRE_MIDICSV();
    TempDir dir;
    rp::StandardMIDIFile file;
    const size_t notes = file.addTrack();
    // Added out of order: a note ending where the next of the same key starts must be switched
    // off before the new one sounds; tempo and signature precede notes at the same tick.
    file.addNote(notes, 1.0, 9, 36, 90, 0, 1.0);
    file.addNote(notes, 0.0, 9, 36, 80, 0, 1.0);
    file.addTempoEvent(0, 1.0, 400000);
    file.addTimeSignatureEvent(0, 1.0, 3, 4);
    // A far-away event needs a four-byte delta (more than 2^21 ticks); one beyond what four bytes
    // hold (2^28 ticks) needs a bridge.
    file.addNote(notes, 5000.0, 1, 60, 64, 10, 0.5);
    file.addTextEvent(0, 40000.0, rp::StandardMIDIFile::kMetaText, "late");
    // Out-of-range and non-finite values are kept within the file's fields.
    file.addTempoEvent(0, -3.0, 0);
    file.addNote(notes, std::numeric_limits<double>::quiet_NaN(), 200, 200, 200, 200, -1.0);

    const auto path = dir / "writer.mid";
    ASSERT_TRUE(file.writeToFile(path));
    const auto records = readMidiCsv(path);
    EXPECT_EQ(recordLines(records, { "Note_", "End_track" }),
        (std::vector<std::string> { "614400000 End_track", "0 Note_on_c 9 36 80", "0 Note_on_c 15 127 127",
            "1 Note_off_c 15 127 127", "15360 Note_off_c 9 36 0", "15360 Note_on_c 9 36 90",
            "30720 Note_off_c 9 36 0", "76800000 Note_on_c 1 60 64", "76807680 Note_off_c 1 60 10",
            "76807680 End_track" }));
    // A tempo of 0 at a negative time: the least tempo, at 0. Bridges come before the late text.
    EXPECT_EQ(recordLines(records, { "Tempo", "Time_signature" }),
        (std::vector<std::string> { "0 Tempo 1", "15360 Tempo 400000", "15360 Time_signature 3 2 24 8" }));
    EXPECT_EQ(recordLines(records, { "Text_t" }).back(), "614400000 Text_t late");
}

TEST(MIDIFileWriter, WritingReplacesWholeFilesOrNothing)
{
    TempDir dir;
    const auto path = dir / "song.mid";
    std::ofstream(path) << std::string(200, '.'); // an older file, longer than the new one
    rp::StandardMIDIFile file;
    file.addTextEvent(0, 0, rp::StandardMIDIFile::kMetaText, "x");
    ASSERT_TRUE(file.writeToFile(path));
    // Header, tempo track with the text and the end of track, the bytes counted in the chunk.
    const std::vector<unsigned char> expected = { 'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0x3C, 0x00, 'M',
        'T', 'r', 'k', 0, 0, 0, 9, 0, 0xFF, 0x01, 1, 'x', 0, 0xFF, 0x2F, 0 };
    EXPECT_EQ(readFileBytes(path), expected);

    // A folder that does not exist: false, logged, nothing left behind.
    rp::LogCapture log;
    EXPECT_FALSE(file.writeToFile(dir / "missing" / "song.mid"));
    EXPECT_TRUE(log.contains("StandardMIDIFile: error"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

} // namespace
