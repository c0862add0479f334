#pragma once

// Helpers for the kit tests: drums with given names, small sound files made by libsndfile, a
// private user-defaults store, and kits built from them.

#include "archive/TypedStreamWriter.h"
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

// An older sequential kit ("Old kit", "long ago") of two drums: a closed hi hat without a sound at
// grid place 0, and a kick at grid place 6 with an empty shortcut, marked as its type's default
// variant, whose sound carries its samples in an embedded block.
inline std::vector<uint8_t> olderKit(bool bigEndian)
{
    TypedStreamWriter w(bigEndian);
    w.group("@");
    w.beginObject({ { "DrumKit", 0 }, { "NSObject", 0 } });
    w.group("@@@");
    w.stringObject("Old kit");
    w.stringObject("long ago");
    w.arrayObject(2, [&](int i) {
        w.beginObject({ { "DrumInfo", 0 }, { "NSObject", 0 } });
        w.group("@@sf@@@c");
        w.stringObject(i == 0 ? "hi hat" : "kick");
        w.stringObject(i == 0 ? "closed" : "default");
        w.integer(6 * i);
        w.floatValue(0.75f, true);
        if (i == 0) {
            w.nil();
        } else {
            w.beginObject({ { "OASound", 1 }, { "NSObject", 0 } });
            w.group("@qiiiiiff@");
            w.stringObject("kick");
            for (int v : { 64, 22050, 1, 0x020002, 0, 0 })
                w.integer(v);
            w.floatValue(0.25f, true);
            w.floatValue(0.5f, true);
            std::vector<uint8_t> block(128);
            for (size_t b = 0; b < block.size(); ++b)
                block[b] = static_cast<uint8_t>(b * 37);
            w.dataObject(block);
            w.endObject();
        }
        w.nil();
        i == 0 ? w.nil() : static_cast<void>(w.stringObject(""));
        w.byte(static_cast<uint8_t>(i));
        w.endObject();
    });
    w.endObject();
    return w.bytes();
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
