// Hydrogen drumkits from hostile sources: input that starts like XML is read as a drumkit.xml whose
// samples are looked up in a scratch folder holding one real sample ("ok.wav"); anything else is
// written to a file and opened as a .h2drumkit archive (unpacked into a private temporary folder).
// Whatever kit comes out is archived as a kit file would be.

#include "foundation/Logger.h"
#include "foundation/UserDefaults.h"
#include "hydrogen/HydrogenFiles.h"
#include "hydrogen/HydrogenKitImporter.h"
#include "hydrogen/HydrogenKitSource.h"
#include "kit/ORPUserDefaults.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sndfile.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Scratch {
    std::filesystem::path root;
    std::unique_ptr<rp::UserDefaults> defaults;

    Scratch()
    {
        const std::filesystem::path base = ::access("/dev/shm", W_OK) == 0
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        std::string pattern = (base / "rp-fuzz-h2kit-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        std::filesystem::create_directories(root / "kit");
        SF_INFO info {};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        if (SNDFILE* file = sf_open((root / "kit" / "ok.wav").c_str(), SFM_WRITE, &info)) {
            const std::vector<short> frames(64, 1000);
            sf_write_short(file, frames.data(), static_cast<sf_count_t>(frames.size()));
            sf_close(file);
        }
        defaults = std::make_unique<rp::UserDefaults>(root / "defaults.plist");
        ORPUserDefaults::setDefaults(defaults.get());
        rp::Logger::setSink([](const std::string&) {});
        ORPDrumKit::registerArchiveClasses();
    }
    ~Scratch()
    {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }
};

bool looksLikeXml(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '<' || data[i] == 0xEF)
            return true;
        if (data[i] != ' ' && data[i] != '\n' && data[i] != '\r' && data[i] != '\t')
            return false;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Scratch scratch;
    rp::hydrogen::ImportReport report;
    try {
        rp::hydrogen::ImportedKit kit;
        if (looksLikeXml(data, size)) {
            const auto parsed = rp::hydrogen::parseDrumkitXml(
                std::string_view(reinterpret_cast<const char*>(data), size), "drumkit.xml", report);
            const std::filesystem::path folder = scratch.root / "kit";
            kit = rp::hydrogen::buildKit(
                parsed,
                [&](const std::string& name, std::string& why) -> std::optional<std::filesystem::path> {
                    const auto normal = rp::hydrogen::normalisedRelativeName(name);
                    if (!normal || *normal != "ok.wav") {
                        why = "missing";
                        return std::nullopt;
                    }
                    return folder / *normal;
                },
                report);
        } else {
            const std::filesystem::path archive = scratch.root / "in.h2drumkit";
            {
                std::error_code ignored;
                std::filesystem::remove(archive, ignored);
                std::ofstream out(archive, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
            }
            rp::hydrogen::KitSource source(archive);
            const auto parsed = rp::hydrogen::parseDrumkitXml(source.xml(), source.xmlPath(), report);
            kit = rp::hydrogen::buildKit(
                parsed, [&](const std::string& name, std::string& why) { return source.resolve(name, why); },
                report);
        }
        (void)kit.kit->flatDataRepresentation();
        for (const auto& instrument : kit.instruments) {
            if (!instrument.drumForVelocity(0.5))
                std::abort();
        }
    } catch (const rp::hydrogen::ImportError&) {
    }
    return 0;
}
