#include "hydrogen/HydrogenKitImporter.h"

#include "kit/ORPKitFromFolder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

namespace rp::hydrogen {

namespace {

// A name fit for a drum: control characters become spaces, at most 120 bytes.
std::string cleanName(const std::string& name, const std::string& fallback)
{
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u == 0x7f ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    while (!out.empty() && out.front() == ' ')
        out.erase(0, 1);
    if (out.size() > 120) {
        out.resize(120);
        // Do not leave half a UTF-8 sequence behind.
        while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
            out.pop_back();
        if (!out.empty() && (static_cast<unsigned char>(out.back()) & 0x80))
            out.pop_back();
    }
    return out.empty() ? fallback : out;
}

// "Hat Semi-Open" -> "semi open": a hi-hat instrument's name without the words that say hi hat.
std::string hiHatVariantLabel(const std::string& name)
{
    std::string spaced;
    char previous = ' ';
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isupper(u) && std::islower(static_cast<unsigned char>(previous)))
            spaced += ' ';
        spaced += std::isalnum(u) || u >= 0x80 ? static_cast<char>(std::tolower(u)) : ' ';
        previous = c;
    }
    static const std::set<std::string> hatWords = { "hi", "hat", "hihat", "hh", "high" };
    std::string label;
    size_t start = 0;
    while (start < spaced.size()) {
        size_t end = spaced.find(' ', start);
        if (end == std::string::npos)
            end = spaced.size();
        const std::string word = spaced.substr(start, end - start);
        if (!word.empty() && !hatWords.count(word))
            label += (label.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return label;
}

bool chokesOthers(const std::string& label)
{
    return label.find("clos") != std::string::npos || label.find("pedal") != std::string::npos
        || label.find("foot") != std::string::npos || label.find("tight") != std::string::npos;
}

// `name`, or "name 2", "name 3" ... whichever is not taken yet (ignoring case); takes it.
std::string uniqueName(const std::string& name, std::set<std::string>& taken)
{
    std::string candidate = name;
    for (int n = 2; taken.count(lowercase(candidate)); ++n)
        candidate = name + " " + std::to_string(n);
    taken.insert(lowercase(candidate));
    return candidate;
}

struct FeatureList {
    std::map<std::string, std::vector<std::string>> byFeature;
    std::vector<std::string> order;

    void add(const std::string& feature, const std::string& instrument)
    {
        if (!byFeature.count(feature))
            order.push_back(feature);
        auto& names = byFeature[feature];
        if (std::find(names.begin(), names.end(), instrument) == names.end())
            names.push_back(instrument);
    }

    void report(ImportReport& report) const
    {
        for (const auto& feature : order) {
            const auto& names = byFeature.at(feature);
            std::string line = feature + " (";
            for (size_t i = 0; i < names.size() && i < 12; ++i)
                line += (i ? ", " : "") + names[i];
            if (names.size() > 12)
                line += ", and " + std::to_string(names.size() - 12) + " more";
            report.notCarriedOver.push_back(line + ")");
        }
    }
};

} // namespace

std::string layerRangeName(double min, double max)
{
    return std::to_string(std::lround(min * 127)) + "-" + std::to_string(std::lround(max * 127));
}

ORPDrumPtr ImportedInstrument::drumForVelocity(double velocity) const
{
    const Layer* best = nullptr;
    double bestDistance = 0;
    // Ranges meet at their ends: the louder layer takes a velocity on the border, as Hydrogen does.
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        const double distance = velocity < it->min ? it->min - velocity
            : velocity > it->max                   ? velocity - it->max
                                                   : 0;
        if (!best || distance < bestDistance) {
            best = &*it;
            bestDistance = distance;
        }
    }
    return best ? best->drum : nullptr;
}

const ImportedInstrument* ImportedKit::instrumentWithId(int id) const
{
    for (const auto& instrument : instruments) {
        if (instrument.id == id)
            return &instrument;
    }
    return nullptr;
}

const ImportedInstrument* ImportedKit::instrumentNamed(const std::string& name) const
{
    const std::string key = lowercase(name);
    for (const auto& instrument : instruments) {
        if (instrument.hiHatLabel.empty() && lowercase(instrument.name) == key)
            return &instrument;
    }
    const std::string label = isHiHatInstrumentName(name) ? hiHatVariantLabel(name) : std::string();
    if (label.empty())
        return nullptr;
    for (const auto& instrument : instruments) {
        if (instrument.hiHatLabel == label)
            return &instrument;
    }
    return nullptr;
}

ImportedKit buildKit(
    const H2Kit& source, const SampleResolver& resolve, ImportReport& report, const ImportProgress& progress)
{
    FeatureList lost;
    // Mute groups: those joining hi hats only become one hi-hat type; the others are reported.
    std::map<int, std::vector<size_t>> muteGroups;
    for (size_t i = 0; i < source.instruments.size(); ++i) {
        if (source.instruments[i].muteGroup >= 0)
            muteGroups[source.instruments[i].muteGroup].push_back(i);
    }
    std::map<size_t, int> hiHatGroupOf; // instrument index -> merged hi-hat type number
    int hiHatTypes = 0;
    for (const auto& [group, members] : muteGroups) {
        const bool hats = members.size() >= 2 && std::all_of(members.begin(), members.end(), [&](size_t i) {
            return isHiHatInstrumentName(source.instruments[i].name);
        });
        if (hats) {
            for (size_t i : members)
                hiHatGroupOf[i] = hiHatTypes;
            ++hiHatTypes;
        } else if (members.size() >= 2) {
            for (size_t i : members)
                lost.add("mute group " + std::to_string(group), cleanName(source.instruments[i].name, "?"));
        }
    }

    size_t totalLayers = 0;
    for (const auto& instrument : source.instruments)
        totalLayers += instrument.layers.size();
    size_t loadedLayers = 0;

    ImportedKit result;
    result.kit = ORPDrumKit::kit();
    std::set<std::string> typeNames;
    std::vector<std::string> hiHatTypeNames;
    for (int n = 0; n < hiHatTypes; ++n)
        hiHatTypeNames.push_back(uniqueName("hi hat", typeNames));

    // Group name -> instruments (each a list of variants), in order of first appearance.
    std::map<std::string, std::vector<std::vector<ORPDrumPtr>>> groups;
    std::map<int, size_t> hiHatSlot; // merged type -> its index in the "Hi hats" group
    std::map<int, std::set<std::string>> hiHatVariantNames;
    for (size_t index = 0; index < source.instruments.size(); ++index) {
        const H2Instrument& h2 = source.instruments[index];
        const std::string name = cleanName(h2.name, "Instrument " + std::to_string(index + 1));
        if (h2.filterActive)
            lost.add("filter", name);
        if (h2.envelope)
            lost.add("ADSR envelope", name);
        if (h2.pitch)
            lost.add("pitch", name);
        if (h2.fxSends)
            lost.add("FX sends", name);
        if (h2.extraComponents)
            lost.add("components after the first", name);
        if (h2.randomSelection)
            lost.add("random or round-robin layer selection", name);

        ImportedInstrument mapped;
        mapped.id = h2.id;
        mapped.name = h2.name;
        std::vector<H2Layer> layers = h2.layers;
        std::stable_sort(layers.begin(), layers.end(), [](const H2Layer& a, const H2Layer& b) {
            return a.max < b.max || (a.max == b.max && a.min < b.min);
        });
        const auto merged = hiHatGroupOf.find(index);
        const std::string label = merged != hiHatGroupOf.end() ? hiHatVariantLabel(name) : std::string();
        std::vector<ORPDrumPtr> variants;
        std::set<std::string> ownVariantNames;
        for (const auto& layer : layers) {
            ++loadedLayers;
            if (progress && totalLayers)
                progress(0.9 * static_cast<double>(loadedLayers) / static_cast<double>(totalLayers));
            std::string why;
            const auto file = resolve(layer.filename, why);
            OASoundPtr sound;
            if (file) {
                sound = OASound::soundWithContentsOfURL(*file);
                if (sound->sourceAudioStreamDescription().mSampleRate <= 0 || sound->channels() == 0) {
                    why = "it is not a sound file this program can read";
                    sound.reset();
                }
            }
            if (!sound) {
                addWarning(report,
                    "instrument \"" + name + "\": sample \"" + layer.filename.substr(0, 120)
                        + "\" is left out: " + why);
                continue;
            }
            double volume = h2.volume * h2.gain * layer.gain;
            if (volume > 4) {
                addWarning(report, "instrument \"" + name + "\": its volume is limited to 4");
                volume = 4;
            }
            sound->setVolume(static_cast<float>(volume));
            sound->setPanning(static_cast<float>(std::clamp(h2.pan, -1.0, 1.0)));
            auto drum = ORPDrum::drum();
            drum->setSound(sound);
            drum->setVariantName(layerRangeName(layer.min, layer.max));
            if (h2.midiOutNote >= 0) {
                drum->setMidiChannel(9);
                drum->setMidiNote(static_cast<int8_t>(h2.midiOutNote));
                drum->setMidiVelocity(127);
            }
            mapped.layers.push_back({ layer.min, layer.max, drum });
            variants.push_back(drum);
        }
        if (variants.empty()) {
            addWarning(report, "instrument \"" + name + "\" has no usable sample and is left out");
            continue;
        }
        // Variants are named by their range when there are several; of a merged hi hat, by the
        // instrument's own name first.
        for (const auto& drum : variants) {
            std::string variant = variants.size() == 1 ? std::string() : drum->variantName();
            if (merged != hiHatGroupOf.end()) {
                const std::string base = label.empty() ? "variant" : label;
                variant = uniqueName(
                    variant.empty() ? base : base + " " + variant, hiHatVariantNames[merged->second]);
                drum->setVariantPrecedence(chokesOthers(label));
            } else {
                variant = uniqueName(variant.empty() ? "default" : variant, ownVariantNames);
            }
            drum->setVariantName(variant);
        }
        if (merged != hiHatGroupOf.end()) {
            const std::string typeName = hiHatTypeNames[static_cast<size_t>(merged->second)];
            for (const auto& drum : variants) {
                drum->setTypeName(typeName);
                drum->setGroupName("Hi hats");
                if (!drum->hasMIDI())
                    applyGeneralMIDIMapping(*drum);
            }
            auto& members = groups["Hi hats"];
            const auto slot = hiHatSlot.find(merged->second);
            if (slot == hiHatSlot.end()) {
                hiHatSlot[merged->second] = members.size();
                members.push_back(variants);
            } else {
                auto& list = members[slot->second];
                list.insert(list.end(), variants.begin(), variants.end());
            }
        } else {
            const std::string typeName = uniqueName(name, typeNames);
            std::string group = drumGroupNameForInstrumentName(name);
            for (const auto& drum : variants) {
                drum->setTypeName(typeName);
                drum->setGroupName(group);
                if (!drum->hasMIDI())
                    applyGeneralMIDIMapping(*drum);
            }
            groups[group].push_back(variants);
        }
        result.instruments.push_back(std::move(mapped));
    }
    if (result.instruments.empty()) {
        throw ImportError(
            "no instrument of the kit \"" + cleanName(source.name, "unnamed") + "\" has a readable sample");
    }

    // Default variants: the loudest layer; of a merged hi hat, the loudest layer of its closed sound.
    for (auto& [group, instruments] : groups) {
        for (auto& variants : instruments) {
            ORPDrumPtr chosen = variants.back();
            for (const auto& drum : variants) {
                if (drum->variantPrecedence() && drum->variantName().find("clos") != std::string::npos)
                    chosen = drum;
            }
            for (const auto& drum : variants)
                drum->setDefaultVarForType(drum == chosen);
        }
    }

    const bool anyKnown
        = std::any_of(groups.begin(), groups.end(), [](const auto& entry) { return !entry.first.empty(); });
    const std::string otherName = anyKnown ? "Other" : cleanName(source.name, "Drums");
    static const char* const order[] = { "Kicks", "Snares", "Toms", "Hi hats", "Cymbals", "Percussion", "" };
    for (const char* name : order) {
        const auto found = groups.find(name);
        if (found == groups.end())
            continue;
        auto group = std::make_shared<ORPDrumGroup>();
        for (const auto& variants : found->second) {
            auto instrument = std::make_shared<ORPDrumInstrument>();
            for (const auto& drum : variants) {
                if (!*name)
                    drum->setGroupName(otherName);
                instrument->variants.push_back(drum);
            }
            group->instruments.push_back(instrument);
        }
        result.kit->drumsHierarchy().push_back(group);
    }
    result.kit->regenerateDrumsFromHierarchy();
    result.kit->setKitName(cleanName(source.name, "Hydrogen kit"));
    std::string info = "Imported from the Hydrogen drumkit \"" + cleanName(source.name, "unnamed") + "\"";
    if (!source.author.empty())
        info += " by " + cleanName(source.author, "");
    if (!source.license.empty())
        info += " (license: " + cleanName(source.license, "") + ")";
    result.kit->setKitInfo(info + ".");
    lost.report(report);
    return result;
}

namespace {

// "20-47" as a velocity range in MIDI steps.
std::optional<std::pair<int, int>> parseLayerRange(const std::string& text)
{
    int low = 0;
    int high = 0;
    char dash = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &low, &dash, &high, &extra) == 3 && dash == '-' && low >= 0
        && high <= 127 && low <= high)
        return std::make_pair(low, high);
    return std::nullopt;
}

void sortLayers(ImportedInstrument& instrument)
{
    std::stable_sort(instrument.layers.begin(), instrument.layers.end(),
        [](const ImportedInstrument::Layer& a, const ImportedInstrument::Layer& b) { return a.max < b.max; });
}

// A merged hi hat's variants by label: "closed" and "open 0-76" give "closed" (one layer over
// every velocity) and "open" (its ranges as layers).
std::map<std::string, ImportedInstrument> hiHatLabelInstruments(const std::vector<ORPDrumPtr>& variants)
{
    std::map<std::string, ImportedInstrument> byLabel;
    for (const auto& drum : variants) {
        const std::string& name = drum->variantName();
        const size_t space = name.rfind(' ');
        const auto range = space == std::string::npos ? std::nullopt : parseLayerRange(name.substr(space + 1));
        const std::string label = range ? name.substr(0, space) : name;
        auto& instrument = byLabel[label];
        instrument.hiHatLabel = label;
        if (range)
            instrument.layers.push_back({ range->first / 127.0, range->second / 127.0, drum });
        else
            instrument.layers.push_back({ 0, 1, drum });
    }
    for (auto& [label, instrument] : byLabel)
        sortLayers(instrument);
    return byLabel;
}

} // namespace

ImportedKit importedKitFromKit(const ORPDrumKitPtr& kit)
{
    ImportedKit result;
    result.kit = kit;
    int id = 0;
    for (const auto& group : kit->drumsHierarchy()) {
        for (const auto& instrument : group->instruments) {
            if (instrument->variants.empty())
                continue;
            ImportedInstrument mapped;
            mapped.id = -1 - id++;
            mapped.name = instrument->typeName();
            // Variants named by a velocity range ("20-47") are layers.
            bool allRanges = true;
            for (const auto& drum : instrument->variants) {
                if (const auto range = parseLayerRange(drum->variantName()))
                    mapped.layers.push_back({ range->first / 127.0, range->second / 127.0, drum });
                else
                    allRanges = false;
            }
            if (!allRanges) {
                mapped.layers.clear();
                ORPDrumPtr chosen = instrument->variants.front();
                for (const auto& drum : instrument->variants) {
                    if (drum->isDefaultVarForType())
                        chosen = drum;
                }
                mapped.layers.push_back({ 0, 1, chosen });
                if (isHiHatInstrumentName(mapped.name)) {
                    for (auto& [label, labelled] : hiHatLabelInstruments(instrument->variants)) {
                        labelled.id = -1 - id++;
                        labelled.name = mapped.name + " " + label;
                        result.instruments.push_back(std::move(labelled));
                    }
                }
            }
            sortLayers(mapped);
            result.instruments.push_back(std::move(mapped));
        }
    }
    return result;
}

} // namespace rp::hydrogen
