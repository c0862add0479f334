#pragma once

// A small song and kit on disk for the play and export command tests, and a way to run the
// command-line tool with a private user-defaults folder.

#include "audio/OASoundTestSupport.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPPattern.h"
#include "model/ORPSong.h"
#include "support/TestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace rp::test {

inline std::string quoted(const std::filesystem::path& path)
{
    std::string out = "'";
    for (const char c : path.string()) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    return out + "'";
}

// A kit "Test Kit" with two groups: Drums (Kick, MIDI 10/36; Snare without MIDI) and Cymbals
// (Hat closed and Hat open, MIDI 10/42 and 10/46, the open one with variant precedence). Every
// sound is a constant level of `seconds` at 22050 Hz so that files can be checked by level.
struct SongFixture {
    explicit SongFixture(double seconds = 1.5)
    {
        std::filesystem::create_directories(kitFolder);
        std::filesystem::create_directories(songFolder);
        std::filesystem::create_directories(defaultsFolder);
        ORPDrumKit::registerArchiveClasses();
        ORPSong::registerArchiveClasses();
        kit = ORPDrumKit::kit();
        kit->setKitName("Test Kit");
        kick = addDrum("Drums", "Kick", "default", 0.5, seconds, 9, 36);
        snare = addDrum("Drums", "Snare", "default", 0.25, seconds, -1, 0);
        hatClosed = addDrum("Cymbals", "Hat", "closed", 0.125, 2.0, 9, 42);
        hatOpen = addDrum("Cymbals", "Hat", "open", 0.0625, 2.0, 9, 46);
        hatOpen->setVariantPrecedence(true);
        kitPath = kitFolder / "Test Kit.rpkit";
        EXPECT_TRUE(kit->saveToPath(kitPath));
        ORPSong::setDefaultKitProvider({});
        song = ORPSong::song();
        song->setName("Groove");
        song->setNotes("Four on the floor");
        song->setDrumKit(kit, kitPath);
    }

    ORPDrumPtr addDrum(const std::string& group, const std::string& type, const std::string& variant,
        double level, double seconds, int channel, int note)
    {
        const auto file = dir / (type + "-" + variant + ".wav");
        writeSoundFile(file, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1,
            std::vector<double>(static_cast<size_t>(seconds * 22050), level));
        auto drum = ORPDrum::drum();
        drum->setGroupName(group);
        drum->setTypeName(type);
        drum->setVariantName(variant);
        drum->setSound(OASound::soundWithContentsOfURL(file));
        if (channel >= 0) {
            drum->setMidiChannel(static_cast<int8_t>(channel));
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

    std::filesystem::path save(const std::string& name = "song.rpsong")
    {
        const auto path = songFolder / name;
        EXPECT_TRUE(song->writeToFile(path));
        return path;
    }

    // Runs the tool with this fixture's defaults folder; standard error goes to `errors`.
    int cli(const std::string& arguments, std::string* output = nullptr, std::string* errors = nullptr) const
    {
        const auto errorFile = dir / "stderr.txt";
        const int status = runCommand("RATTLEPAN_DEFAULTS_DIR=" + quoted(defaultsFolder) + " " + RP_CLI_PATH
                + " " + arguments + " 2>" + quoted(errorFile),
            output);
        if (errors) {
            const auto bytes = readFileBytes(errorFile);
            errors->assign(bytes.begin(), bytes.end());
        }
        return status;
    }

    UserDefaults defaults() const
    {
        return UserDefaults(defaultsFolder / (std::string(RP_APP_IDENTIFIER) + ".plist"));
    }

    TempDir dir;
    std::filesystem::path kitFolder = dir / "kits";
    std::filesystem::path songFolder = dir / "songs";
    std::filesystem::path defaultsFolder = dir / "defaults";
    ORPDrumKitPtr kit;
    std::filesystem::path kitPath;
    ORPSongPtr song;
    ORPDrumPtr kick, snare, hatClosed, hatOpen;
};

// The tool started in the background with its standard output read line by line, so that a test
// can send it Ctrl-C at a known moment.
class BackgroundCommand {
public:
    explicit BackgroundCommand(const std::string& command)
    {
        pipe_ = popen(("exec 2>/dev/null; echo $$; exec " + command).c_str(), "r");
        if (pipe_) {
            const std::string line = readLine();
            pid_ = line.empty() ? -1 : std::stoi(line);
        }
    }
    ~BackgroundCommand()
    {
        if (pipe_) {
            if (pid_ > 0)
                ::kill(pid_, SIGKILL);
            pclose(pipe_);
        }
    }
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;

    // The next line of standard output without its newline; empty at the end.
    std::string readLine()
    {
        std::string line;
        int c = 0;
        while (pipe_ && (c = std::fgetc(pipe_)) != EOF && c != '\n')
            line.push_back(static_cast<char>(c));
        return line;
    }
    // Reads lines until one contains `text`; false at the end of the output.
    bool waitForLine(const std::string& text)
    {
        for (;;) {
            const std::string line = readLine();
            if (line.find(text) != std::string::npos)
                return true;
            if (line.empty() && std::feof(pipe_))
                return false;
        }
    }
    void interrupt() const
    {
        if (pid_ > 0)
            ::kill(pid_, SIGINT);
    }
    // Reads the rest of the output and returns the exit status (-1 when killed by a signal).
    int finish(std::string* rest = nullptr)
    {
        int c = 0;
        while ((c = std::fgetc(pipe_)) != EOF) {
            if (rest)
                rest->push_back(static_cast<char>(c));
        }
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    FILE* pipe_ = nullptr;
    int pid_ = -1;
};

} // namespace rp::test
