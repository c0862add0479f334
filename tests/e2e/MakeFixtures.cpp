// rp-e2e-fixtures: makes the songs and kits the end-to-end tests open.
//   rename-drum KIT OUT TYPE VARIANT NEW   a copy of KIT whose drum TYPE (VARIANT) is renamed NEW
//   repoint SONG KIT OUT                   SONG saved as OUT, naming KIT as its kit
//   rename-drum-in-song SONG KIT OUTSONG OUTKIT TYPE VARIANT NEW
//                                          the drum renamed in a copy of the kit and in the song's
//                                          events: a song whose kit names that drum differently
//   midi-channel SONG KIT OUTSONG OUTKIT CHANNEL
//                                          a copy of the kit with every drum on MIDI channel CHANNEL
//                                          (1-16), the song saved naming it
//   lengthen SONG OUT MINUTES              SONG with its playlist repeated until it lasts MINUTES

#include "kit/ORPDrumKit.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"
#include "model/ORPSong.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int renameDrum(const std::string& kitPath, const std::string& out, const std::string& type,
    const std::string& variant, const std::string& newVariant)
{
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(kitPath, false, &error);
    if (!kit) {
        std::fprintf(stderr, "cannot read %s: %s\n", kitPath.c_str(), error.description.c_str());
        return 1;
    }
    auto drum = kit->drumWithTypeName(type, variant);
    if (!drum) {
        std::fprintf(stderr, "no drum %s (%s)\n", type.c_str(), variant.c_str());
        return 1;
    }
    drum->setVariantName(newVariant);
    kit->rebuildHierarchyFromDrums();
    return kit->saveToPath(out) ? 0 : 1;
}

int repoint(const std::string& songPath, const std::string& kitPath, const std::string& out)
{
    ORPSong::setDefaultKitProvider({});
    rp::Error error;
    auto song = ORPSong::songFromURL(songPath, &error);
    auto kit = ORPDrumKit::drumKitFromURL(kitPath, false, &error);
    if (!song || !kit) {
        std::fprintf(stderr, "cannot read: %s\n", error.description.c_str());
        return 1;
    }
    song->setDrumKit(kit, kitPath);
    return song->writeToFile(out, &error) ? 0 : 1;
}

int renameDrumInSong(const std::string& songPath, const std::string& kitPath, const std::string& outSong,
    const std::string& outKit, const std::string& type, const std::string& variant, const std::string& newVariant)
{
    if (renameDrum(kitPath, outKit, type, variant, newVariant) != 0) {
        return 1;
    }
    ORPSong::setDefaultKitProvider({});
    rp::Error error;
    auto song = ORPSong::songFromURL(songPath, &error);
    auto kit = ORPDrumKit::drumKitFromURL(outKit, false, &error);
    if (!song || !kit) {
        std::fprintf(stderr, "cannot read: %s\n", error.description.c_str());
        return 1;
    }
    for (const auto& section : song->sectionList()) {
        for (const auto& pattern : section->patterns()) {
            for (const auto& event : *pattern->events()) {
                const auto& drum = event->drum();
                if (drum && drum->typeName() == type && drum->variantName() == variant) {
                    drum->setVariantName(newVariant);
                }
            }
        }
    }
    song->setDrumKit(kit, outKit);
    return song->writeToFile(outSong, &error) ? 0 : 1;
}

int setMIDIChannel(const std::string& songPath, const std::string& kitPath, const std::string& outSong,
    const std::string& outKit, int channel)
{
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(kitPath, false, &error);
    if (!kit || channel < 1 || channel > 16) {
        std::fprintf(stderr, "cannot read %s: %s\n", kitPath.c_str(), error.description.c_str());
        return 1;
    }
    for (const auto& drum : kit->drums()) {
        drum->setMidiChannel(static_cast<int8_t>(channel - 1));
    }
    if (!kit->saveToPath(outKit)) {
        return 1;
    }
    return repoint(songPath, outKit, outSong);
}

// A song long enough that exporting it takes a while: its playlist appended to itself again and again.
int lengthen(const std::string& songPath, const std::string& out, const std::string& minutesText)
{
    const double minutes = std::atof(minutesText.c_str());
    rp::Error error;
    auto song = ORPSong::songFromURL(songPath, &error);
    if (!song || minutes <= 0) {
        std::fprintf(stderr, "cannot read %s: %s\n", songPath.c_str(), error.description.c_str());
        return 1;
    }
    const std::vector<ORPSectionMarkerPtr> once = song->sectionMarkerList();
    if (once.empty() || song->totalDuration() <= 0) {
        std::fprintf(stderr, "%s has nothing to repeat\n", songPath.c_str());
        return 1;
    }
    for (int round = 0; song->totalDuration() < minutes * 60; ++round) {
        if (round == 100000) {
            std::fprintf(stderr, "the song does not grow\n");
            return 1;
        }
        std::vector<ORPSectionMarkerPtr> copies;
        for (const auto& marker : once) {
            copies.push_back(marker->copy());
        }
        song->insertSectionMarkers(copies, song->sectionMarkerList().size());
    }
    return song->writeToFile(out, &error) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    ORPSong::registerArchiveClasses();
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "rename-drum" && argc == 7) {
        return renameDrum(argv[2], argv[3], argv[4], argv[5], argv[6]);
    }
    if (command == "lengthen" && argc == 5) {
        return lengthen(argv[2], argv[3], argv[4]);
    }
    if (command == "repoint" && argc == 5) {
        return repoint(argv[2], argv[3], argv[4]);
    }
    if (command == "rename-drum-in-song" && argc == 9) {
        return renameDrumInSong(argv[2], argv[3], argv[4], argv[5], argv[6], argv[7], argv[8]);
    }
    if (command == "midi-channel" && argc == 7) {
        return setMIDIChannel(argv[2], argv[3], argv[4], argv[5], std::atoi(argv[6]));
    }
    std::fprintf(stderr, "usage: rp-e2e-fixtures rename-drum KIT OUT TYPE VARIANT NEW | repoint SONG KIT OUT"
                         " | rename-drum-in-song SONG KIT OUTSONG OUTKIT TYPE VARIANT NEW"
                         " | midi-channel SONG KIT OUTSONG OUTKIT CHANNEL | lengthen SONG OUT MINUTES\n");
    return 2;
}
