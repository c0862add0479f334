// Hydrogen songs from hostile sources: the bytes are read as a .h2song and built into a song with a
// small kit of four instruments (ids 0 to 3, two with velocity layers); the song is then archived
// as a song file would be.

#include "foundation/Logger.h"
#include "foundation/UserDefaults.h"
#include "hydrogen/HydrogenFiles.h"
#include "hydrogen/HydrogenSongImporter.h"
#include "kit/ORPUserDefaults.h"
#include "model/ORPSong.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

struct Fixture {
    std::filesystem::path root;
    std::unique_ptr<rp::UserDefaults> defaults;
    rp::hydrogen::ImportedKit kit;

    Fixture()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "rp-fuzz-h2song-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        defaults = std::make_unique<rp::UserDefaults>(root / "defaults.plist");
        ORPUserDefaults::setDefaults(defaults.get());
        rp::Logger::setSink([](const std::string&) {});
        ORPSong::registerArchiveClasses();
        ORPSong::setDefaultKitProvider({});
        kit.kit = ORPDrumKit::kit();
        const char* names[] = { "Kick", "Snare", "Hat Closed", "Crash" };
        for (int id = 0; id < 4; ++id) {
            rp::hydrogen::ImportedInstrument instrument;
            instrument.id = id;
            instrument.name = names[id];
            const int layers = id < 2 ? 3 : 1;
            for (int layer = 0; layer < layers; ++layer) {
                auto drum = ORPDrum::drum();
                drum->setGroupName("Drums");
                drum->setTypeName(names[id]);
                drum->setVariantName(layers == 1 ? "default" : std::to_string(layer));
                drum->setDefaultVarForType(layer == layers - 1);
                kit.kit->addDrum(drum);
                instrument.layers.push_back({ layer / double(layers), (layer + 1) / double(layers), drum });
            }
            kit.instruments.push_back(instrument);
        }
    }
    ~Fixture()
    {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Fixture fixture;
    rp::hydrogen::ImportReport report;
    try {
        const auto parsed = rp::hydrogen::parseSongXml(
            std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.h2song", report);
        auto song = rp::hydrogen::buildSong(parsed, fixture.kit, report);
        for (const auto& section : song->sectionList()) {
            for (const auto& pattern : section->patterns()) {
                if (!(pattern->duration() > 0) || pattern->timeSignatureTop() < 1)
                    std::abort();
            }
        }
        (void)song->dataRepresentation();
    } catch (const rp::hydrogen::ImportError&) {
    }
    return 0;
}
