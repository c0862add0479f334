// Kit files from hostile sources: the bytes become the kit file inside a temporary bundle (with an
// empty Sounds folder) and are read as a song would read them, with link resolution asked for.
// No one answers prompts (the non-interactive prompt cancels every folder choice), so missing
// linked sounds end in error 1003. Whatever is read is also archived again.

#include "foundation/Error.h"
#include "foundation/Logger.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPUserDefaults.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

struct Scratch {
    std::filesystem::path root;
    std::filesystem::path bundle;
    std::unique_ptr<rp::UserDefaults> defaults;

    Scratch()
    {
        // In memory where possible: the kit file is rewritten for every input.
        const std::filesystem::path base = ::access("/dev/shm", W_OK) == 0
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        std::string pattern = (base / "rp-fuzz-kit-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        bundle = root / "Fuzz.rpkit";
        std::filesystem::create_directories(bundle / "Sounds");
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Scratch scratch;
    {
        // A new file each time: truncating and rewriting one makes some file systems flush it.
        std::error_code ignored;
        std::filesystem::remove(scratch.bundle / "Fuzz.rpkit", ignored);
        std::ofstream out(scratch.bundle / "Fuzz.rpkit", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(scratch.bundle, true, &error);
    if (kit) {
        (void)kit->drumWithTypeName("snare", "default");
        kit->fixDefaultVariants();
        (void)kit->flatDataRepresentation();
    } else if (error.code != 0 && error.domain == rp::kErrorDomain && error.code != rp::kErrorInvalidFile
        && error.code != rp::kErrorNewerVersion && error.code != rp::kErrorKitSoundsMissing) {
        std::abort();
    }
    return 0;
}
