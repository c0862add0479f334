// Writes a small keyed archive that shows the format off: `make-example-archive OUTPUT`.
// The root is an RPExampleSong holding a name, numbers of each kind, data, an array of drums,
// a dictionary and one drum referred to twice (stored once, shared by reference).
#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"

#include <cstdio>
#include <fstream>

namespace {

class RPExampleDrum : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    RPExampleDrum(std::string drumName, int32_t note)
        : name(std::move(drumName))
        , midiNote(note)
    {
    }
    std::string archiveClassName() const override { return "RPExampleDrum"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override
    {
        coder.encodeString(name, "RPED_name");
        coder.encodeInt32(midiNote, "RPED_midiNote");
    }

    static rp::ArchiveObjectPtr initWithCoder(rp::KeyedUnarchiver& coder)
    {
        return std::make_shared<RPExampleDrum>(
            coder.decodeStringForKey("RPED_name").value_or(""), coder.decodeInt32ForKey("RPED_midiNote"));
    }

    std::string name;
    int32_t midiNote;
};

class RPExampleSong : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    std::string archiveClassName() const override { return "RPExampleSong"; }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override
    {
        coder.encodeString(name, "RPES_name");
        coder.encodeInt32(barCount, "RPES_barCount");
        coder.encodeInt64(transpose, "RPES_transpose");
        coder.encodeFloat(masterLevel, "RPES_masterLevel");
        coder.encodeDouble(tempo, "RPES_tempo");
        coder.encodeBool(loops, "RPES_loops");
        coder.encodeData(notes, "RPES_notesData");
        coder.encodeArrayOfObjects(drums, "RPES_drums", true);
        coder.encodeObject(favourite, "RPES_favouriteDrum");
        coder.encodeObject(settings, "RPES_settings");
    }

    static rp::ArchiveObjectPtr initWithCoder(rp::KeyedUnarchiver& coder)
    {
        auto song = std::make_shared<RPExampleSong>();
        song->name = coder.decodeStringForKey("RPES_name").value_or("");
        song->barCount = coder.decodeInt32ForKey("RPES_barCount");
        song->transpose = coder.decodeInt64ForKey("RPES_transpose");
        song->masterLevel = coder.decodeFloatForKey("RPES_masterLevel");
        song->tempo = coder.decodeDoubleForKey("RPES_tempo");
        song->loops = coder.decodeBoolForKey("RPES_loops");
        song->notes = coder.decodeDataForKey("RPES_notesData").value_or(std::vector<uint8_t> {});
        song->drums
            = coder.decodeArrayOfObjectsForKey("RPES_drums").value_or(std::vector<rp::ArchiveObjectPtr> {});
        song->favourite = coder.decodeObjectForKey("RPES_favouriteDrum");
        song->settings = coder.decodeObjectForKey("RPES_settings");
        return song;
    }

    std::string name;
    int32_t barCount = 0;
    int64_t transpose = 0;
    float masterLevel = 0;
    double tempo = 0;
    bool loops = false;
    std::vector<uint8_t> notes;
    std::vector<rp::ArchiveObjectPtr> drums;
    rp::ArchiveObjectPtr favourite;
    rp::ArchiveObjectPtr settings;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-example-archive OUTPUT\n");
        return 2;
    }
    auto kick = std::make_shared<RPExampleDrum>("kick", 36);
    auto snare = std::make_shared<RPExampleDrum>("snare", 38);
    auto song = std::make_shared<RPExampleSong>();
    song->name = "Example \xE2\x80\x94 four on the floor";
    song->barCount = 8;
    song->transpose = -2;
    song->masterLevel = 0.8f;
    song->tempo = 120.5;
    song->loops = true;
    song->notes = { 0x52, 0x50, 0x00, 0xFF };
    song->drums = { kick, snare };
    song->favourite = kick; // the same drum again: written once, referred to twice
    song->settings = std::make_shared<rp::ArchivedDictionary>(
        std::vector<rp::ArchivedDictionary::Entry> {
            { std::make_shared<rp::ArchivedString>("swing"), std::make_shared<rp::ArchivedNumber>(0.125) },
            { std::make_shared<rp::ArchivedString>("countIn"), std::make_shared<rp::ArchivedNumber>(true) },
        },
        true);

    const std::vector<uint8_t> bytes = rp::KeyedArchiver::archivedDataWithRootObject(song);
    if (bytes.empty()) {
        std::fprintf(stderr, "make-example-archive: archiving failed\n");
        return 1;
    }
    // Check that the archive reads back, shared drum included, before writing it.
    rp::KeyedUnarchiver::registerClass("RPExampleDrum", RPExampleDrum::initWithCoder);
    rp::KeyedUnarchiver::registerClass("RPExampleSong", RPExampleSong::initWithCoder);
    std::string error;
    auto decoded = std::dynamic_pointer_cast<RPExampleSong>(
        rp::KeyedUnarchiver::unarchiveObjectWithData(bytes, &error));
    if (!decoded || decoded->drums.size() != 2 || decoded->favourite != decoded->drums[0]
        || decoded->name != song->name || decoded->masterLevel != song->masterLevel) {
        std::fprintf(stderr, "make-example-archive: archive does not read back: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make-example-archive: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
