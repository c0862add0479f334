#include "KitInfoJson.h"

#include "audio/OASound.h"

#include <cstring>
#include <fstream>
#include <iostream>

namespace rp::cli {

namespace {

nlohmann::ordered_json optionalString(const std::optional<std::string>& text)
{
    return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json soundJson(const ORPDrum& drum)
{
    const OASoundPtr& sound = drum.storedSound();
    if (!sound) {
        return nullptr;
    }
    nlohmann::ordered_json out;
    out["name"] = sound->name();
    out["file"] = sound->soundFileURL() ? nlohmann::ordered_json(sound->soundFileURL()->string())
                                        : nlohmann::ordered_json(nullptr);
    out["frames"] = sound->frames();
    out["sampleRate"] = sound->sampleRate();
    out["channels"] = sound->channels();
    out["volume"] = sound->volume();
    out["panning"] = sound->panning();
    return out;
}

} // namespace

nlohmann::ordered_json kitInfoJson(const ORPDrumKit& kit)
{
    nlohmann::ordered_json out;
    out["type"] = "kit";
    out["kitName"] = kit.kitName();
    out["kitInfo"] = optionalString(kit.kitInfo());
    nlohmann::ordered_json groups = nlohmann::ordered_json::array();
    for (const auto& group : kit.drumsHierarchy()) {
        nlohmann::ordered_json groupJson;
        groupJson["name"] = group->groupName();
        nlohmann::ordered_json instruments = nlohmann::ordered_json::array();
        for (const auto& instrument : group->instruments) {
            nlohmann::ordered_json instrumentJson;
            instrumentJson["typeName"] = instrument->typeName();
            nlohmann::ordered_json variants = nlohmann::ordered_json::array();
            for (const auto& drum : instrument->variants) {
                nlohmann::ordered_json variant;
                variant["variantName"] = drum->variantName();
                variant["defaultVar"] = drum->isDefaultVarForType();
                variant["variantPrecedence"] = drum->variantPrecedence();
                variant["linkAudioOnly"] = drum->linkAudioOnly();
                variant["shortcutKey"] = optionalString(drum->shortcutKey());
                variant["midiChannel"] = drum->midiChannel();
                variant["midiNote"] = drum->midiNote();
                variant["midiVelocity"] = drum->midiVelocity();
                variant["sound"] = soundJson(*drum);
                variants.push_back(std::move(variant));
            }
            instrumentJson["variants"] = std::move(variants);
            instruments.push_back(std::move(instrumentJson));
        }
        groupJson["instruments"] = std::move(instruments);
        groups.push_back(std::move(groupJson));
    }
    out["groups"] = std::move(groups);
    return out;
}

nlohmann::ordered_json errorJson(const rp::Error& error)
{
    nlohmann::ordered_json inner;
    inner["domain"] = error.domain;
    inner["code"] = error.code;
    inner["description"] = error.description;
    inner["failureReason"] = error.failureReason;
    inner["recoverySuggestion"] = error.recoverySuggestion;
    nlohmann::ordered_json out;
    out["error"] = std::move(inner);
    return out;
}

bool looksLikeKit(const std::filesystem::path& path)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    char magic[ORPDrumKit::kKitFileMagicLength] = {};
    in.read(magic, sizeof magic);
    return in.gcount() == static_cast<std::streamsize>(sizeof magic)
        && std::memcmp(magic, ORPDrumKit::kKitFileMagic, sizeof magic) == 0;
}

int printKitInfo(const std::filesystem::path& path, bool json)
{
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(path, false, &error);
    if (!kit) {
        if (error.code == 0) {
            error = rp::Error::make(rp::kErrorInvalidFile,
                "'%@' is not a valid Rattlepan drum kit file, or may be corrupt.", path.filename().string(),
                "It is not a valid Rattlepan drum kit file.");
        }
        if (json) {
            std::cout << errorJson(error).dump(2) << '\n';
        } else {
            std::cerr << error.description << '\n' << error.failureReason << '\n';
        }
        return 1;
    }
    const auto info = kitInfoJson(*kit);
    if (json) {
        std::cout << info.dump(2) << '\n';
        return 0;
    }
    std::cout << "kit: " << kit->kitName() << '\n';
    if (kit->kitInfo()) {
        std::cout << "info: " << *kit->kitInfo() << '\n';
    }
    for (const auto& group : kit->drumsHierarchy()) {
        std::cout << "group: " << group->groupName() << '\n';
        for (const auto& instrument : group->instruments) {
            for (const auto& drum : instrument->variants) {
                std::cout << "  " << drum->compositeName()
                          << (drum->isDefaultVarForType() ? " [default]" : "");
                if (drum->hasMIDI()) {
                    std::cout << "  MIDI channel " << drum->midiChannel() + 1 << " note "
                              << static_cast<int>(drum->midiNote());
                }
                if (drum->shortcutKey()) {
                    std::cout << "  key " << *drum->shortcutKey();
                }
                std::cout << '\n';
            }
        }
    }
    return 0;
}

} // namespace rp::cli
