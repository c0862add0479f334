#pragma once

// Helpers for the kit tests: drums with given names, small sound files made by libsndfile, a
// private user-defaults store, and kits built from them.

#include "audio/OASoundTestSupport.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "kit/ORPUserDefaults.h"
#include "support/TestSupport.h"

#include <memory>
#include <sndfile.h>
#include <string>

namespace rp::test {

inline ORPDrumPtr makeDrum(const std::string& group, const std::string& type, const std::string& variant)
{
    auto drum = ORPDrum::drum();
    drum->setGroupName(group);
    drum->setTypeName(type);
    drum->setVariantName(variant);
    return drum;
}

// A short mono AIFF (or another libsndfile format) with a tone of the given frequency.
inline std::filesystem::path makeSoundFile(
    const std::filesystem::path& path, double frequency = 440, int format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16)
{
    writeSoundFile(path, format, 44100, 1, sine(frequency, 44100, 2205));
    return path;
}

inline ORPDrumPtr makeDrumWithSound(const std::string& group, const std::string& type,
    const std::string& variant, const std::filesystem::path& soundFile)
{
    auto drum = makeDrum(group, type, variant);
    drum->setSound(OASound::soundWithContentsOfURL(soundFile));
    return drum;
}

// Installs a user-defaults store in a temporary folder for the lifetime of the object.
class ScopedKitDefaults {
public:
    ScopedKitDefaults()
        : store_(std::make_unique<UserDefaults>(dir_ / "defaults.plist"))
    {
        ORPUserDefaults::setDefaults(store_.get());
    }
    ~ScopedKitDefaults() { ORPUserDefaults::setDefaults(nullptr); }
    ScopedKitDefaults(const ScopedKitDefaults&) = delete;
    ScopedKitDefaults& operator=(const ScopedKitDefaults&) = delete;
    UserDefaults& store() { return *store_; }

private:
    TempDir dir_;
    std::unique_ptr<UserDefaults> store_;
};

} // namespace rp::test
