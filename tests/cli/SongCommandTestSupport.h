#pragma once

// A small song and kit on disk for the play and export command tests, and a way to run the
// command-line tool with a private user-defaults folder.

#include "audio/OASoundTestSupport.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPattern.h"
#include "model/ORPSong.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <string>

namespace rp::test {

// `path` in single quotes for the shell (test paths hold no quote of their own).
inline std::string quoted(const std::filesystem::path& path)
{
    return "'" + path.string() + "'";
}

// A kit "Test Kit" with two groups: Drums (Kick, MIDI 10/36; Snare without MIDI) and Cymbals
// (Hat closed and Hat open, MIDI 10/42 and 10/46, the open one with variant precedence). Every
// sound is a constant level of `seconds` at 22050 Hz so that files can be checked by level.
struct SongFixture {
    explicit SongFixture(double seconds = 1.5)
    {
        for (const auto& folder : { kitFolder, songFolder, defaultsFolder })
            std::filesystem::create_directories(folder);
        ORPDrumKit::registerArchiveClasses();
        ORPSong::registerArchiveClasses();
        kit = ORPDrumKit::kit();
        kit->setKitName("Test Kit");
        kick = addDrum("Drums", "Kick", "default", 0.5, seconds, 36);
        snare = addDrum("Drums", "Snare", "default", 0.25, seconds, -1);
        hatClosed = addDrum("Cymbals", "Hat", "closed", 0.125, 2.0, 42);
        hatOpen = addDrum("Cymbals", "Hat", "open", 0.0625, 2.0, 46);
        hatOpen->setVariantPrecedence(true);
        EXPECT_TRUE(kit->saveToPath(kitPath));
        ORPSong::setDefaultKitProvider({});
        song = ORPSong::song();
        song->setName("Groove");
        song->setNotes("Four on the floor");
        song->setDrumKit(kit, kitPath);
    }

    // A drum on MIDI channel 10 with `note` (none when negative).
    ORPDrumPtr addDrum(const std::string& group, const std::string& type, const std::string& variant,
        double level, double seconds, int note)
    {
        const auto file = dir / (type + "-" + variant + ".wav");
        writeSoundFile(file, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1,
            std::vector<double>(static_cast<size_t>(seconds * 22050), level));
        auto drum = ORPDrum::drum();
        drum->setGroupName(group);
        drum->setTypeName(type);
        drum->setVariantName(variant);
        drum->setSound(OASound::soundWithContentsOfURL(file));
        if (note >= 0) {
            drum->setMidiChannel(9);
            drum->setMidiNote(static_cast<int8_t>(note));
            drum->setMidiVelocity(100);
        }
        kit->addDrum(drum);
        return drum;
    }

    // Bar `index` (from 0) of the song's one section, adding new 4/4 bars at 120 as needed.
    ORPPatternPtr bar(size_t index)
    {
        auto section = song->sectionList()[0];
        while (section->patterns().size() <= index)
            section->insertPatterns({ ORPPattern::pattern() }, section->patterns().size());
        return section->patterns()[index];
    }

    std::filesystem::path save()
    {
        const auto path = songFolder / "song.rpsong";
        EXPECT_TRUE(song->writeToFile(path));
        return path;
    }

    // The command line that runs the tool with this fixture's defaults folder.
    std::string command(const std::string& arguments) const
    {
        return "RATTLEPAN_DEFAULTS_DIR=" + quoted(defaultsFolder) + " " + RP_CLI_PATH + " " + arguments;
    }

    // Runs the tool; standard error goes to `errors`.
    int cli(const std::string& arguments, std::string* output = nullptr, std::string* errors = nullptr) const
    {
        const auto errorFile = dir / "stderr.txt";
        const int status = runCommand(command(arguments) + " 2>" + quoted(errorFile), output);
        if (errors) {
            const auto bytes = readFileBytes(errorFile);
            errors->assign(bytes.begin(), bytes.end());
        }
        return status;
    }

    // Runs the tool in the background and sends it Ctrl-C `delay` seconds after its output first
    // shows `line` (or after 30 s without). Returns its exit status; `output` gets what it printed.
    int interruptAfter(
        const std::string& arguments, const std::string& line, double delay, std::string& output) const
    {
        const auto out = dir / "background.txt";
        std::string status;
        runCommand("env " + command(arguments) + " >" + quoted(out)
                + " 2>/dev/null & pid=$!; i=0; until grep -qF '" + line + "' " + quoted(out)
                + " || [ $i -ge 1500 ]; do sleep 0.02; i=$((i+1)); done; sleep " + std::to_string(delay)
                + "; kill -INT $pid 2>/dev/null; wait $pid; echo $?",
            &status);
        const auto bytes = readFileBytes(out);
        output.assign(bytes.begin(), bytes.end());
        return status.empty() ? -1 : std::stoi(status);
    }

    UserDefaults defaults() const
    {
        return UserDefaults(defaultsFolder / (std::string(RP_APP_IDENTIFIER) + ".plist"));
    }

    TempDir dir;
    std::filesystem::path kitFolder = dir / "kits";
    std::filesystem::path songFolder = dir / "songs";
    std::filesystem::path defaultsFolder = dir / "defaults";
    std::filesystem::path kitPath = kitFolder / "Test Kit.rpkit";
    ORPDrumKitPtr kit;
    ORPSongPtr song;
    ORPDrumPtr kick, snare, hatClosed, hatOpen;
};

} // namespace rp::test
