#include "kit/ORPKitFromFolder.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lower case, with "_", "-" and "." as spaces and surrounded by spaces, so whole words can be
// found as " word ".
std::string normalisedName(const std::string& name)
{
    std::string out = " ";
    for (const char c : name) {
        if (c == '_' || c == '-' || c == '.') {
            out += ' ';
        } else {
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    out += ' ';
    return out;
}

bool has(const std::string& text, const char* fragment)
{
    return text.find(fragment) != std::string::npos;
}

bool isHiHat(const std::string& n)
{
    return has(n, "hat") || has(n, " hh ") || has(n, "hihat");
}

std::set<std::string> soundExtensions()
{
    std::set<std::string> out;
    if (auto types = OASound::unfilteredFileTypes()) {
        for (std::string extension : *types) {
            std::transform(extension.begin(), extension.end(), extension.begin(),
                [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            out.insert(extension);
        }
    }
    return out;
}

bool isSoundFile(const fs::directory_entry& entry, const std::set<std::string>& extensions)
{
    std::error_code error;
    if (!entry.is_regular_file(error) || entry.path().filename().string().starts_with(".")) {
        return false;
    }
    std::string extension = entry.path().extension().string();
    if (extension.size() < 2) {
        return false;
    }
    extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extensions.count(extension) != 0;
}

// The entries of one folder, sorted by name.
std::vector<fs::directory_entry> sortedEntries(const fs::path& folder, std::error_code& error)
{
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return a.path().filename() < b.path().filename();
    });
    return entries;
}

} // namespace

std::optional<int> generalMIDINoteForInstrumentName(const std::string& name)
{
    const std::string n = normalisedName(name);
    if (isHiHat(n)) {
        if (has(n, "pedal") || has(n, "foot")) {
            return 44;
        }
        if (has(n, "open")) {
            return 46;
        }
        return 42;
    }
    if (has(n, "kick") || has(n, "bass drum") || has(n, " bd ")) {
        return 36;
    }
    if (has(n, "tom")) {
        if (has(n, "floor")) {
            return 41;
        }
        if (has(n, "low")) {
            return 45;
        }
        if (has(n, "high") || has(n, " hi ")) {
            return 50;
        }
        return 47;
    }
    if (has(n, "rim") || has(n, "side stick") || has(n, "sidestick")) {
        return 37;
    }
    if (has(n, "clap")) {
        return 39;
    }
    if (has(n, "snare") || has(n, " sd ")) {
        return 38;
    }
    if (has(n, "cowbell")) {
        return 56;
    }
    if (has(n, "crash")) {
        return 49;
    }
    if (has(n, "ride")) {
        return has(n, "bell") ? 53 : 51;
    }
    if (has(n, "china")) {
        return 52;
    }
    if (has(n, "splash")) {
        return 55;
    }
    if (has(n, "tambourine")) {
        return 54;
    }
    if (has(n, "shaker") || has(n, "maraca")) {
        return 70;
    }
    if (has(n, "cabasa")) {
        return 69;
    }
    if (has(n, "clave")) {
        return 75;
    }
    if (has(n, "wood block") || has(n, "woodblock")) {
        return 76;
    }
    if (has(n, "conga")) {
        return 63;
    }
    if (has(n, "bongo")) {
        return 60;
    }
    if (has(n, "timbale")) {
        return 65;
    }
    if (has(n, "agogo")) {
        return 67;
    }
    if (has(n, "guiro")) {
        return 73;
    }
    if (has(n, "triangle")) {
        return 81;
    }
    if (has(n, "vibraslap")) {
        return 58;
    }
    return std::nullopt;
}

bool applyGeneralMIDIMapping(ORPDrum& drum)
{
    auto note = generalMIDINoteForInstrumentName(drum.typeName() + " " + drum.variantName());
    if (!note) {
        return false;
    }
    drum.setMidiChannel(9);
    drum.setMidiNote(static_cast<int8_t>(*note));
    drum.setMidiVelocity(127);
    return true;
}

ORPDrumKitPtr drumKitFromSoundFolder(const fs::path& folder, std::string* failure)
{
    auto fail = [&](const std::string& text) -> ORPDrumKitPtr {
        if (failure) {
            *failure = text;
        }
        return nullptr;
    };
    std::error_code error;
    auto entries = sortedEntries(folder, error);
    if (error) {
        return fail(folder.string() + ": " + error.message());
    }
    const auto extensions = soundExtensions();
    auto kit = ORPDrumKit::kit();
    kit->setKitName(folder.filename().string());

    auto addGroup = [&](const std::string& groupName, const std::vector<fs::directory_entry>& files) {
        auto group = std::make_shared<ORPDrumGroup>();
        for (const auto& file : files) {
            if (!isSoundFile(file, extensions)) {
                continue;
            }
            auto sound = OASound::soundWithContentsOfURL(file.path());
            if (sound->sourceAudioStreamDescription().mSampleRate <= 0 || sound->channels() == 0) {
                rp::logf(
                    "ORPDrumKit: %s is not a sound file this program can read; skipped", file.path().c_str());
                continue;
            }
            auto drum = ORPDrum::drum();
            drum->setGroupName(groupName);
            drum->setTypeName(file.path().stem().string());
            drum->setVariantName("default");
            drum->setDefaultVarForType(true);
            drum->setSound(sound);
            applyGeneralMIDIMapping(*drum);
            // Two files of one name (kick.wav, kick.aiff) become variants named after their type.
            auto same = std::find_if(group->instruments.begin(), group->instruments.end(),
                [&](const ORPDrumInstrumentPtr& instrument) {
                    return instrument->typeName() == drum->typeName();
                });
            if (same != group->instruments.end()) {
                drum->setVariantName(file.path().extension().string().substr(1));
                drum->setDefaultVarForType(false);
                (*same)->variants.push_back(drum);
            } else {
                auto instrument = std::make_shared<ORPDrumInstrument>();
                instrument->variants.push_back(drum);
                group->instruments.push_back(instrument);
            }
            kit->drums().push_back(drum);
        }
        if (!group->instruments.empty()) {
            kit->drumsHierarchy().push_back(group);
        }
    };

    addGroup(
        folder.filename().empty() ? folder.parent_path().filename().string() : folder.filename().string(),
        entries);
    for (const auto& entry : entries) {
        if (!entry.is_directory(error) || entry.path().filename().string().starts_with(".")) {
            continue;
        }
        std::error_code subError;
        auto files = sortedEntries(entry.path(), subError);
        if (subError) {
            rp::logf("ORPDrumKit: cannot read %s: %s", entry.path().c_str(), subError.message().c_str());
            continue;
        }
        addGroup(entry.path().filename().string(), files);
    }
    if (kit->drums().empty()) {
        return fail(folder.string() + " holds no sound files");
    }
    kit->regenerateDrumsFromHierarchy();
    return kit;
}
