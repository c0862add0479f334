// Writes the example song: a short arrangement for the example kit that shows what a song can do
// (sections played in a playlist with repeats, a tempo change, a 6/8 section and a 7/8 fill).
// Deterministic: the same kit gives the same song.
//
//   make-example-song KIT.rpkit OUTPUT.rpsong

#include "foundation/Error.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPattern.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"
#include "model/ORPSong.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

// One drum line of a bar: the kit drum and, per step of the bar's grid, a velocity ('.' = rest,
// '1'-'9' = 0.1-0.9, 'X' = 1.0).
struct Line {
    const char* type;
    const char* variant;
    const char* steps;
};

struct BarPlan {
    int16_t top;
    int16_t bottom;
    float bpm; // counted in the usual beat basis of the time signature (dotted quarters in 6/8)
    std::vector<Line> lines;
};

class SongBuilder {
public:
    explicit SongBuilder(const ORPDrumKitPtr& kit)
        : kit_(kit)
    {
    }

    bool failed() const { return failed_; }

    ORPPatternPtr bar(const BarPlan& plan)
    {
        auto pattern = ORPPattern::pattern();
        pattern->setTimeSignatureTop(plan.top, plan.bottom);
        pattern->setBpm(plan.bpm, ORPPattern::beatBasisForTimeSignatureTop(plan.top, plan.bottom));
        for (const auto& line : plan.lines) {
            auto drum = kit_->drumWithTypeName(line.type, line.variant);
            if (!drum) {
                std::fprintf(stderr, "make-example-song: the kit has no %s (%s)\n", line.type, line.variant);
                failed_ = true;
                continue;
            }
            const std::string steps = line.steps;
            for (size_t step = 0; step < steps.size(); ++step) {
                const char mark = steps[step];
                if (mark == '.')
                    continue;
                const float velocity = mark == 'X' ? 1.0f : static_cast<float>(mark - '0') / 10.0f;
                pattern->addEventWithDrum(drum, velocity, static_cast<float>(step) / static_cast<float>(steps.size()));
            }
        }
        return pattern;
    }

    ORPSectionPtr section(const std::string& name, const std::vector<BarPlan>& bars)
    {
        auto section = ORPSection::section();
        section->setName(name);
        std::vector<ORPPatternPtr> patterns;
        for (const auto& plan : bars)
            patterns.push_back(bar(plan));
        section->insertPatterns(patterns, 0);
        return section;
    }

private:
    ORPDrumKitPtr kit_;
    bool failed_ = false;
};

// Sixteenth-note grids for 4/4 bars.
const Line kHats { "hi hat", "closed", "7.5.7.5.7.5.7.5." };
const Line kHatsOpenEnd { "hi hat", "closed", "7.5.7.5.7.5.7..." };
const Line kOpenHat { "hi hat", "open", "..............6." };
const Line kKick { "kick", "default", "X.....8.X......." };
const Line kKickPush { "kick", "default", "X.....8.X.7...6." };
const Line kSnare { "snare", "default", "....X.......X..." };
const Line kGhosts { "snare", "rim", "..3.....3.....3." };

// Every sound of the example kit peaks at -1 dBFS on its own, so hits that meet (crash, kick,
// snare and clap on one beat) add up well past full scale at the usual level of 0.8. This level
// keeps the loudest moment of the mix at about -2 dBFS, so exports of any bit depth never clip.
constexpr float kMasterLevel = 0.35f;

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s KIT.rpkit OUTPUT.rpsong\n", argv[0]);
        return 2;
    }
    const std::filesystem::path kitPath = std::filesystem::absolute(argv[1]);
    const std::filesystem::path output = argv[2];

    ORPSong::setDefaultKitProvider({});
    rp::Error error;
    auto kit = ORPDrumKit::drumKitFromURL(kitPath, false, &error);
    if (!kit) {
        std::fprintf(stderr, "make-example-song: cannot read %s: %s\n", kitPath.c_str(), error.text().c_str());
        return 1;
    }

    SongBuilder build(kit);
    const float groove = 100; // quarter notes a minute
    auto intro = build.section("Intro",
        { { 4, 4, groove, { { "hi hat", "pedal", "X...X...X...X..." }, { "kick", "default", "X.......X......." } } },
            { 4, 4, groove,
                { { "hi hat", "pedal", "X...X...X...X..." }, { "kick", "default", "X.......X......." },
                    { "shaker", "default", "5353535353535353" } } } });
    auto verse = build.section("Verse",
        { { 4, 4, groove, { kHats, kKick, kSnare } }, { 4, 4, groove, { kHats, kKickPush, kSnare, kGhosts } },
            { 4, 4, groove, { kHats, kKick, kSnare } },
            { 4, 4, groove, { kHatsOpenEnd, kOpenHat, kKickPush, kSnare, kGhosts } } });
    // Seven eighth notes at the groove's pulse: 2+2+3, toms down the kit.
    auto fill = build.section("Fill",
        { { 7, 8, groove * 2,
            { { "snare", "default", "X6.8..." }, { "high tom", "default", "..X7..." },
                { "mid tom", "default", "....X6." }, { "floor tom", "default", "......X" },
                { "kick", "default", "X...X.." } } } });
    // Compound time: two dotted-quarter beats a bar, eighth-note hats.
    auto shuffle = build.section("Shuffle",
        { { 6, 8, 70,
              { { "ride", "default", "X.6.7.X.6.7." }, { "kick", "default", "X.......6..." },
                  { "snare", "default", "......X....." }, { "cowbell", "default", "X.....X....." } } },
            { 6, 8, 70,
                { { "ride", "default", "X.6.7.X.6.7." }, { "kick", "default", "X.....X...6." },
                    { "snare", "default", "......X...5." } } } });
    // The chorus lifts the tempo.
    const float lift = 116;
    auto chorus = build.section("Chorus",
        { { 4, 4, lift,
              { { "crash", "default", "X..............." }, { "ride", "default", "8.6.8.6.8.6.8.6." }, kKick, kSnare,
                  { "clap", "default", "....7.......7..." } } },
            { 4, 4, lift, { { "ride", "default", "8.6.8.6.8.6.8.6." }, kKickPush, kSnare, { "clap", "default", "....7.......7..." } } } });
    auto outro = build.section("Outro",
        { { 4, 4, groove, { { "crash", "default", "X..............." }, { "kick", "default", "X..............." } } } });
    if (build.failed())
        return 1;

    auto song = ORPSong::song();
    const auto placeholderSections = song->sectionList();
    const auto placeholderMarkers = song->sectionMarkerList();
    song->insertSections({ intro, verse, fill, shuffle, chorus, outro }, 0);
    song->removeSections(placeholderSections);
    song->removeSectionMarkers(placeholderMarkers);

    const std::vector<std::pair<ORPSectionPtr, int16_t>> playlist
        = { { intro, 1 }, { verse, 2 }, { fill, 1 }, { shuffle, 2 }, { verse, 1 }, { chorus, 2 }, { fill, 1 },
              { chorus, 1 }, { outro, 1 } };
    std::vector<ORPSectionMarkerPtr> markers;
    for (const auto& [section, times] : playlist) {
        auto marker = ORPSectionMarker::sectionMarker();
        marker->setSection(section);
        marker->setName(section->name());
        marker->setNumberOfTimes(times);
        markers.push_back(marker);
    }
    song->insertSectionMarkers(markers, 0);
    song->setName("Rattlepan Example Song");
    song->setNotes("A tour of the example kit: a verse groove, a 7/8 tom fill, a 6/8 shuffle on the ride and "
                   "a chorus at a brighter tempo.");
    song->setDrumKit(kit, kitPath);
    song->setMasterLevel(kMasterLevel);

    std::filesystem::create_directories(std::filesystem::absolute(output).parent_path());
    if (!song->writeToFile(output, &error)) {
        std::fprintf(stderr, "make-example-song: cannot write %s: %s\n", output.c_str(), error.text().c_str());
        return 1;
    }
    return 0;
}
