#include "SongKitLoader.h"

#include "SongPlayerEditor.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPUserDefaults.h"
#include "model/ORPPattern.h"

#include <iostream>
#include <map>
#include <ostream>

namespace rp::cli {

namespace {

ORPDrumPtr kitDrumNamed(const ORPDrumKit& kit, const std::string& type, const std::string& variant)
{
    if (auto exact = kit.drumWithTypeName(type, variant))
        return exact;
    ORPDrum probe;
    probe.setTypeName(type);
    probe.setVariantName(variant);
    for (const auto& drum : kit.drums()) {
        if (drum && drum->isSameTypeAndVariantAs(&probe))
            return drum;
    }
    return nullptr;
}

const std::string* stringEntry(const PropertyDictionary& dictionary, const char* key)
{
    auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : found->second.getIf<std::string>();
}

} // namespace

ORPDrumPtr matchingKitDrum(const ORPDrumKit& kit, const ORPDrum& drum, const PropertyDictionary* cache)
{
    if (auto match = kitDrumNamed(kit, drum.typeName(), drum.variantName()))
        return match;
    if (!cache)
        return nullptr;
    // The stored choices may be anything a damaged defaults file holds: check every level's type.
    const auto byType = cache->find(drum.typeName());
    const auto* variants = byType == cache->end() ? nullptr : byType->second.getIf<PropertyDictionary>();
    if (!variants)
        return nullptr;
    const auto byVariant = variants->find(drum.variantName());
    const auto* choices = byVariant == variants->end() ? nullptr : byVariant->second.getIf<PropertyArray>();
    if (!choices)
        return nullptr;
    for (const auto& choice : *choices) {
        const auto* entry = choice.getIf<PropertyDictionary>();
        const std::string* type = entry ? stringEntry(*entry, "type") : nullptr;
        const std::string* variant = entry ? stringEntry(*entry, "variant") : nullptr;
        if (type && variant) {
            if (auto match = kitDrumNamed(kit, *type, *variant))
                return match;
        }
    }
    return nullptr;
}

std::vector<ORPDrumPtr> bindSongToKit(ORPSong& song, const ORPDrumKitPtr& kit,
    const std::filesystem::path& kitURL, const PropertyDictionary* cache)
{
    std::map<const ORPDrum*, ORPDrumPtr> matches; // used drum -> its kit drum (null: none)
    std::vector<ORPDrumPtr> unmatched;
    for (const auto& pattern : song.allPatterns()) {
        for (const auto& event : *pattern->events()) {
            const ORPDrumPtr drum = event->drum();
            if (!drum)
                continue;
            auto found = matches.find(drum.get());
            if (found == matches.end()) {
                ORPDrumPtr match = kit ? matchingKitDrum(*kit, *drum, cache) : nullptr;
                if (!match)
                    unmatched.push_back(drum);
                found = matches.emplace(drum.get(), std::move(match)).first;
            }
            if (found->second)
                event->setDrum(found->second);
        }
    }
    song.setDrumKit(kit, kitURL);
    return unmatched;
}

std::optional<SongWithKit> loadSongWithKit(const std::filesystem::path& songPath,
    const std::optional<std::filesystem::path>& kitPath, std::ostream& warnings, Error& error)
{
    ORPSong::setDefaultKitProvider({});
    ORPSongPtr song = ORPSong::songFromURL(songPath, &error);
    if (!song)
        return std::nullopt;

    std::vector<std::filesystem::path> candidates;
    if (kitPath) {
        candidates.push_back(*kitPath);
    } else if (!song->drumKitURL().empty()) {
        candidates.push_back(song->drumKitURL());
        const auto beside = songPath.parent_path() / song->drumKitURL().filename();
        if (beside != song->drumKitURL())
            candidates.push_back(beside);
    }

    SongWithKit result;
    result.song = song;
    for (const auto& candidate : candidates) {
        if (!kitPath && !std::filesystem::exists(candidate))
            continue;
        Error kitError;
        ORPDrumKitPtr kit = ORPDrumKit::drumKitFromURL(candidate, true, &kitError);
        if (!kit && kitError.isApplicationError(kErrorKitSoundsMissing)) {
            // Nobody can be asked to find the missing sounds here: their drums play the default sound.
            kit = ORPDrumKit::drumKitFromURL(candidate, false, nullptr);
            if (kit)
                warnings << "rattlepan-cli: " << kitError.description
                         << " Those drums play the default sound.\n";
        }
        if (kit) {
            result.kit = kit;
            result.kitURL = candidate;
            break;
        }
        warnings << "rattlepan-cli: " << candidate.string() << ": "
                 << (kitError.description.empty() ? std::string("not a drum kit") : kitError.description)
                 << '\n';
    }
    if (!result.kit) {
        error = Error::make(kErrorNoDrumKit, "'%@' couldn't be opened because no drum kit was assigned.",
            songPath.filename().string(), "No drum kit was assigned.",
            "To open this song, you must choose a drum kit to use with it.");
        error.filePath = songPath.string();
        error.url = fileURLFromPath(std::filesystem::absolute(songPath).string());
        return std::nullopt;
    }

    const auto cache = ORPUserDefaults::defaults().dictionaryForKey(kReconcileCacheKey);
    result.unmatchedDrums = bindSongToKit(*song, result.kit, result.kitURL, cache ? &*cache : nullptr);
    for (const auto& drum : result.unmatchedDrums) {
        warnings << "rattlepan-cli: no drum of kit '" << result.kit->kitName() << "' matches "
                 << drum->compositeName() << "; it plays the default sound\n";
    }
    return result;
}

std::optional<SongBars> loadSongBars(
    const std::string& songPath, const std::string& kitPath, const std::string& barRange)
{
    Error error;
    auto loaded = loadSongWithKit(songPath,
        kitPath.empty() ? std::nullopt : std::optional<std::filesystem::path>(kitPath), std::cerr, error);
    if (!loaded) {
        printError(std::cerr, error);
        return std::nullopt;
    }
    auto instances = ORPPatternInstance::instancesForPlaylist(*loaded->song);
    SongBars result { std::move(*loaded), std::move(instances), std::nullopt };
    if (!barRange.empty()) {
        std::string problem;
        result.bars = parseBarRange(barRange, result.instances.size(), problem);
        if (!result.bars) {
            std::cerr << "rattlepan-cli: " << problem << '\n';
            return std::nullopt;
        }
    }
    return result;
}

void printError(std::ostream& out, const Error& error)
{
    out << "rattlepan-cli: " << error.description << '\n';
    if (!error.failureReason.empty() && error.failureReason != error.description)
        out << error.failureReason << '\n';
    if (!error.recoverySuggestion.empty())
        out << error.recoverySuggestion << '\n';
}

} // namespace rp::cli
