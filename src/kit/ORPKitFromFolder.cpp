#include "kit/ORPKitFromFolder.h"

#include "foundation/Logger.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lower case, with "_", "-" and "." as spaces, camel-case words ("HatClosed") and numbers ("Tom1",
// "24Ride") split apart, and surrounded by spaces, so whole words can be found as " word ".
std::string normalisedName(const std::string& name)
{
    std::string out = " ";
    char previous = ' ';
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        const auto p = static_cast<unsigned char>(previous);
        if (c == '_' || c == '-' || c == '.') {
            out += ' ';
        } else {
            const bool camel = std::isupper(u) && std::islower(p);
            const bool digits = (std::isdigit(u) && std::isalpha(p)) || (std::isalpha(u) && std::isdigit(p));
            if (camel || digits) {
                out += ' ';
            }
            out += static_cast<char>(std::tolower(u));
        }
        previous = c;
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

bool isHiHatInstrumentName(const std::string& name)
{
    return isHiHat(normalisedName(name));
}

std::string drumGroupNameForInstrumentName(const std::string& name)
{
    const std::string n = normalisedName(name);
    if (isHiHat(n)) {
        return "Hi hats";
    }
    if (has(n, "kick") || has(n, "bass drum") || has(n, " bd ")) {
        return "Kicks";
    }
    if (has(n, " tom")) {
        return "Toms";
    }
    if (has(n, "snare") || has(n, " sd ") || has(n, " rim") || has(n, " stick ") || has(n, "sidestick")) {
        return "Snares";
    }
    if (has(n, "crash") || has(n, "ride") || has(n, "splash") || has(n, "china") || has(n, "cymbal")
        || has(n, " bell ")) {
        return "Cymbals";
    }
    if (generalMIDINoteForInstrumentName(name) || has(n, "perc") || has(n, "clap") || has(n, "bell")) {
        return "Percussion";
    }
    return {};
}

std::optional<LayerSuffix> splitLayerSuffix(const std::string& name)
{
    const size_t at = name.find_last_of("-_. ");
    if (at == std::string::npos || at == 0 || at + 1 >= name.size()) {
        return std::nullopt;
    }
    std::string base = name.substr(0, at);
    while (!base.empty()
        && (base.back() == ' ' || base.back() == '-' || base.back() == '_' || base.back() == '.')) {
        base.pop_back();
    }
    if (base.empty()) {
        return std::nullopt;
    }
    const std::string suffix = name.substr(at + 1);
    if (suffix.size() <= 3
        && std::all_of(suffix.begin(), suffix.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return LayerSuffix { base, suffix, std::stoi(suffix) };
    }
    std::string lower = suffix;
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::pair<const char*, int> words[] = { { "softest", 0 }, { "soft", 1 }, { "med", 3 },
        { "medium", 3 }, { "hard", 5 }, { "hardest", 6 }, { "ppp", 0 }, { "pp", 1 }, { "p", 2 }, { "mp", 3 },
        { "mf", 4 }, { "f", 5 }, { "ff", 6 }, { "fff", 7 } };
    for (const auto& [word, loudness] : words) {
        if (lower == word) {
            return LayerSuffix { base, suffix, loudness };
        }
    }
    return std::nullopt;
}

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

namespace {

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// One readable sound file of a folder and the instrument and variant it becomes.
struct FolderSound {
    fs::path path;
    OASoundPtr sound;
    std::string typeName;
    std::string variantName = "default";
    int loudness = -1; // files without a layer suffix sort first
};

// The sound files of one folder as instruments (in order of first file name), each a list of
// variants from softest to loudest.
std::vector<std::vector<FolderSound>> instrumentsOfFolder(
    const std::vector<fs::directory_entry>& files, const std::set<std::string>& extensions)
{
    std::vector<FolderSound> sounds;
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
        sounds.push_back({ file.path(), sound, file.path().stem().string() });
    }
    // A layer suffix only counts when another file shares the name before it.
    std::map<std::string, int> layered;
    for (const auto& sound : sounds) {
        if (auto split = splitLayerSuffix(sound.typeName)) {
            ++layered[lowercase(split->base)];
        }
    }
    std::vector<std::vector<FolderSound>> instruments;
    std::map<std::string, size_t> byType;
    for (auto& sound : sounds) {
        auto split = splitLayerSuffix(sound.typeName);
        if (split && layered[lowercase(split->base)] >= 2) {
            sound.typeName = split->base;
            sound.variantName = split->suffix;
            sound.loudness = split->loudness;
        }
        const std::string key = lowercase(sound.typeName);
        auto found = byType.find(key);
        if (found == byType.end()) {
            byType[key] = instruments.size();
            instruments.push_back({ sound });
            continue;
        }
        auto& variants = instruments[found->second];
        sound.typeName = variants.front().typeName;
        // Two files of one name (kick.wav, kick.aiff) become variants named after their extension.
        const bool taken = std::any_of(variants.begin(), variants.end(), [&](const FolderSound& other) {
            return lowercase(other.variantName) == lowercase(sound.variantName);
        });
        if (taken) {
            sound.variantName = sound.path.extension().string().substr(1);
        }
        variants.push_back(sound);
    }
    for (auto& variants : instruments) {
        std::stable_sort(variants.begin(), variants.end(),
            [](const FolderSound& a, const FolderSound& b) { return a.loudness < b.loudness; });
    }
    return instruments;
}

} // namespace

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
    const std::string folderName
        = folder.filename().empty() ? folder.parent_path().filename().string() : folder.filename().string();
    kit->setKitName(folderName);

    // Adds the instruments to the group of that name (made at the end when new).
    auto addInstruments
        = [&](const std::string& groupName, const std::vector<std::vector<FolderSound>>& instruments) {
              if (instruments.empty()) {
                  return;
              }
              auto group = std::make_shared<ORPDrumGroup>();
              for (const auto& variants : instruments) {
                  auto instrument = std::make_shared<ORPDrumInstrument>();
                  for (const auto& sound : variants) {
                      auto drum = ORPDrum::drum();
                      drum->setGroupName(groupName);
                      drum->setTypeName(sound.typeName);
                      drum->setVariantName(sound.variantName);
                      // The first file of a name, or the loudest layer, is the one a click plays.
                      drum->setDefaultVarForType(variants.back().loudness >= 0 ? &sound == &variants.back()
                                                                               : &sound == &variants.front());
                      drum->setSound(sound.sound);
                      applyGeneralMIDIMapping(*drum);
                      instrument->variants.push_back(drum);
                      kit->drums().push_back(drum);
                  }
                  group->instruments.push_back(instrument);
              }
              kit->drumsHierarchy().push_back(group);
          };

    const bool hasSubfolders
        = std::any_of(entries.begin(), entries.end(), [](const fs::directory_entry& entry) {
              std::error_code ignored;
              return entry.is_directory(ignored) && !entry.path().filename().string().starts_with(".");
          });
    const auto topInstruments = instrumentsOfFolder(entries, extensions);
    if (!hasSubfolders) {
        // One flat folder of a whole kit: sorted into groups by what the names say.
        static const char* const order[]
            = { "Kicks", "Snares", "Toms", "Hi hats", "Cymbals", "Percussion", "" };
        for (const char* name : order) {
            std::vector<std::vector<FolderSound>> members;
            for (const auto& variants : topInstruments) {
                if (drumGroupNameForInstrumentName(variants.front().typeName) == name) {
                    members.push_back(variants);
                }
            }
            addInstruments(*name ? std::string(name) : folderName, members);
        }
    } else {
        addInstruments(folderName, topInstruments);
    }
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
        addInstruments(entry.path().filename().string(), instrumentsOfFolder(files, extensions));
    }
    if (kit->drums().empty()) {
        return fail(folder.string() + " holds no sound files");
    }
    kit->regenerateDrumsFromHierarchy();
    return kit;
}
