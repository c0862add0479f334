// rattlepan-cli info [--json] FILE: what a song or a kit holds.

#include "CommandRegistry.h"
#include "KitInfoJson.h"
#include "model/ORPSong.h"

#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

namespace {

struct InfoOptions {
    std::string file;
    bool json = false;
};

nlohmann::ordered_json drumJson(const ORPDrumPtr& drum)
{
    if (!drum)
        return nullptr;
    nlohmann::ordered_json out;
    out["groupName"] = drum->groupName();
    out["typeName"] = drum->typeName();
    out["variantName"] = drum->variantName();
    out["midiChannel"] = drum->midiChannel();
    out["midiNote"] = drum->midiNote();
    out["midiVelocity"] = drum->midiVelocity();
    return out;
}

nlohmann::ordered_json songJson(const ORPSong& song)
{
    nlohmann::ordered_json out;
    out["type"] = "song";
    out["name"] = song.name();
    out["notes"] = song.notes();
    out["masterLevel"] = song.masterLevel();
    out["totalBars"] = song.totalBars();
    out["totalDuration"] = song.totalDuration();
    out["kitURL"] = song.drumKitURL().empty()
        ? nlohmann::ordered_json(nullptr)
        : nlohmann::ordered_json(rp::fileURLFromPath(song.drumKitURL().string()));
    std::map<const ORPSection*, size_t> sectionIndex;
    nlohmann::ordered_json sections = nlohmann::ordered_json::array();
    for (const auto& section : song.sectionList()) {
        sectionIndex[section.get()] = sections.size();
        nlohmann::ordered_json patterns = nlohmann::ordered_json::array();
        for (const auto& pattern : section->patterns()) {
            nlohmann::ordered_json events = nlohmann::ordered_json::array();
            for (const auto& event : *pattern->events()) {
                events.push_back({ { "whenRatio", event->whenRatio() }, { "velocity", event->velocity() },
                    { "drum", drumJson(event->drum()) } });
            }
            patterns.push_back({ { "tsTop", pattern->timeSignatureTop() },
                { "tsBottom", pattern->timeSignatureBottom() }, { "beatBasis", pattern->beatBasis() },
                { "duration", pattern->duration() }, { "bpm", pattern->bpm() },
                { "zoomLevel", pattern->zoomLevel() }, { "events", std::move(events) } });
        }
        sections.push_back({ { "name", section->name() }, { "duration", section->duration() },
            { "patterns", std::move(patterns) } });
    }
    out["sections"] = std::move(sections);
    nlohmann::ordered_json playlist = nlohmann::ordered_json::array();
    for (const auto& entry : song.sectionMarkerList()) {
        auto found = sectionIndex.find(entry->section().get());
        playlist.push_back({ { "name", entry->name() },
            { "section",
                found == sectionIndex.end() ? nlohmann::ordered_json(nullptr)
                                            : nlohmann::ordered_json(found->second) },
            { "numberOfTimes", entry->numberOfTimes() }, { "cueTime", entry->cueTime() },
            { "firstBarNumber", entry->firstBarNumber() } });
    }
    out["playlist"] = std::move(playlist);
    return out;
}

void printSongText(const ORPSong& song)
{
    std::cout << "song: " << song.name() << '\n';
    if (!song.notes().empty())
        std::cout << "notes: " << song.notes() << '\n';
    std::cout << "kit: " << (song.drumKitURL().empty() ? "(none)" : song.drumKitURL().string()) << '\n';
    std::cout << "master level: " << song.masterLevel() << '\n';
    std::cout << "bars: " << song.totalBars() << ", duration: " << song.totalDuration() << " s\n";
    std::cout << "sections:\n";
    for (const auto& section : song.sectionList()) {
        std::cout << "  " << section->name() << " (" << section->patterns().size() << " bars, "
                  << section->duration() << " s)\n";
        for (const auto& pattern : section->patterns())
            std::cout << "    " << pattern->timeSignatureTop() << '/' << pattern->timeSignatureBottom()
                      << " at " << pattern->bpm() << " bpm, " << pattern->events()->size() << " events\n";
    }
    std::cout << "playlist:\n";
    for (const auto& entry : song.sectionMarkerList())
        std::cout << "  bar " << entry->firstBarNumber() << ": " << entry->name() << " x"
                  << entry->numberOfTimes() << " ("
                  << (entry->section() ? entry->section()->name() : std::string("?")) << ")\n";
}

int runInfo(const InfoOptions& options)
{
    const std::filesystem::path path = options.file;
    if (rp::cli::looksLikeKit(path))
        return rp::cli::printKitInfo(path, options.json);
    ORPSong::setDefaultKitProvider({});
    rp::Error error;
    auto song = ORPSong::songFromURL(path, &error);
    if (!song) {
        if (options.json) {
            std::cout << rp::cli::errorJson(error).dump(2) << '\n';
        } else {
            std::cerr << "rattlepan-cli: " << error.description << '\n';
            if (!error.failureReason.empty())
                std::cerr << error.failureReason << '\n';
        }
        return 1;
    }
    if (options.json)
        std::cout << songJson(*song).dump(2) << '\n';
    else
        printSongText(*song);
    return 0;
}

const rp::cli::CommandRegistration registration(
    "info", "Describe a song or a drum kit", [](CLI::App& app) -> rp::cli::CommandRunner {
        auto options = std::make_shared<InfoOptions>();
        app.add_flag("--json", options->json, "Print JSON");
        app.add_option("FILE", options->file, "A song file, a kit bundle or a kit file")->required();
        return [options]() { return runInfo(*options); };
    });

} // namespace
