// rattlepan-cli play SONG: plays a song (or some of its bars) through the speaker and its MIDI notes
// to a MIDI destination, showing the position, until it has finished sounding or Ctrl-C.

#include "CommandRegistry.h"
#include "SongKitLoader.h"
#include "SongPlayerEditor.h"
#include "TerminalProgress.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPUserDefaults.h"
#include "midi/KWMIDIEndpointDescriptor.h"
#include "midi/KWMIDIManager.h"
#include "model/ORPPattern.h"
#include "player/ORPPlayer.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

namespace {

struct PlayOptions {
    std::string song;
    std::string kit;
    std::string device;
    bool loop = false;
    std::string bars;
    std::string midiOut;
    bool mono = false;
};

std::optional<int32_t> parseUniqueID(const std::string& text)
{
    int32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A destination named TEXT (exactly, else contained in its name), else one whose unique ID it is.
std::shared_ptr<KWMIDIRealDestination> findDestination(KWMIDIManager& manager, const std::string& text)
{
    const auto destinations = manager.realDestinations();
    for (const auto& destination : destinations) {
        if (destination->name() == text || destination->displayName() == text)
            return destination;
    }
    for (const auto& destination : destinations) {
        if (destination->name().find(text) != std::string::npos)
            return destination;
    }
    if (const auto id = parseUniqueID(text))
        return manager.realDestinationWithDescriptor(KWMIDIEndpointDescriptor("", *id));
    return nullptr;
}

// For --loop: a store of the user's settings with looping on, used by this run only, so that the
// user's own RPLoopPlayback stays as it is.
class LoopingDefaults {
public:
    LoopingDefaults()
    {
        std::error_code error;
        std::string folder = (std::filesystem::temp_directory_path(error) / "rattlepan-play-XXXXXX").string();
        if (error || ::mkdtemp(folder.data()) == nullptr)
            return;
        folder_ = folder;
        store_ = std::make_unique<rp::UserDefaults>(folder_ / "defaults.plist");
        for (const auto& [key, value] : ORPUserDefaults::defaults().dictionaryRepresentation())
            store_->setObject(value, key);
        store_->setBool(true, RPLoopPlaybackKey);
        ORPUserDefaults::setDefaults(store_.get());
    }
    ~LoopingDefaults()
    {
        if (!store_)
            return;
        ORPUserDefaults::setDefaults(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    LoopingDefaults(const LoopingDefaults&) = delete;
    LoopingDefaults& operator=(const LoopingDefaults&) = delete;
    bool installed() const { return store_ != nullptr; }

private:
    std::filesystem::path folder_;
    std::unique_ptr<rp::UserDefaults> store_;
};

std::string positionText(const ORPPlayer& player)
{
    ORPPatternInstancePtr instance;
    float place = 0;
    if (!player.getCurrentPatternInstance(instance, place) || !instance || !instance->pattern())
        return {};
    const ORPPatternPtr& pattern = instance->pattern();
    const int beats = std::max<int>(1, pattern->timeSignatureTop());
    const int beat
        = std::clamp(static_cast<int>(std::floor(place * static_cast<float>(beats))) + 1, 1, beats);
    const double seconds = static_cast<double>(instance->cueTime())
        + static_cast<double>(place) * static_cast<double>(pattern->duration());
    return "bar " + std::to_string(instance->barNumberInSong()) + "  beat " + std::to_string(beat) + "/"
        + std::to_string(beats) + "  " + rp::cli::formatPlayTime(seconds);
}

int runPlay(const PlayOptions& options)
{
    std::optional<AudioDeviceKind> device;
    if (!options.device.empty())
        device = audioDeviceKindFromString(options.device);

    auto songBars = rp::cli::loadSongBars(options.song, options.kit, options.bars);
    if (!songBars) {
        return 1;
    }
    const auto& loaded = songBars->loaded;
    auto& instances = songBars->instances;
    const auto& bars = songBars->bars;
    if (instances.empty()) {
        std::cerr << "rattlepan-cli: the song's playlist has no bars to play\n";
        return 1;
    }
    auto editor = std::make_shared<rp::cli::SongPlayerEditor>(std::move(instances), bars);

    // The manager closes its ports and client before the program's statics go away.
    struct ForgetManager {
        ~ForgetManager() { KWMIDIManager::setSharedInstance(nullptr); }
    } forgetManager;
    std::shared_ptr<KWMIDIRealDestination> destination;
    if (!options.midiOut.empty()) {
        auto backend = rp::makeMIDIBackend(KWMIDIManager::backendChoice());
        if (!backend) {
            std::cerr << "rattlepan-cli: MIDI backend " << KWMIDIManager::backendChoice()
                      << " is not available\n";
            return 1;
        }
        auto manager = KWMIDIManager::create(std::move(backend));
        KWMIDIManager::setSharedInstance(manager);
        destination = findDestination(*manager, options.midiOut);
        if (!destination) {
            std::cerr << "rattlepan-cli: no MIDI destination matches \"" << options.midiOut << "\"\n";
            return 1;
        }
        if (destination->isOffline()) {
            std::cerr << "rattlepan-cli: " << destination->displayName() << " cannot be reached\n";
            return 1;
        }
    }

    std::optional<LoopingDefaults> looping;
    if (options.loop) {
        looping.emplace();
        if (!looping->installed()) {
            std::cerr << "rattlepan-cli: cannot make a temporary folder for the looping settings\n";
            return 1;
        }
    }

    auto player = ORPPlayer::init(device);
    if (!player) {
        std::cerr << "rattlepan-cli: no audio output could be made\n";
        return 1;
    }
    const AudioDeviceKind wanted = device.value_or(AudioDevice::defaultKind());
    if (wanted != AudioDeviceKind::Null && player->speakerOutput()->deviceKind() == AudioDeviceKind::Null)
        std::cout << "No audio device could be opened: playing into the null device (silent).\n";
    player->setMasterLevel(loaded.song->masterLevel());
    player->setMonophonic(options.mono);
    player->setPatternEditor(editor);
    if (destination)
        player->setMIDIDestination(destination);
    const auto used = loaded.song->drumsCurrentlyInUse();
    player->precacheWaveformsForDrums(std::vector<ORPDrumPtr>(used.begin(), used.end()));

    const auto& toPlay = editor->barsToRender();
    std::cout << "Playing " << (loaded.song->name().empty() ? options.song : loaded.song->name()) << " ("
              << toPlay.size() << (toPlay.size() == 1 ? " bar" : " bars") << ", kit '"
              << loaded.kit->kitName() << "') on " << player->speakerOutput()->deviceName()
              << (options.loop ? ", looping" : "")
              << (destination ? ", MIDI to " + destination->displayName() : std::string()) << '\n'
              << std::flush;

    rp::cli::InterruptFlag interrupt;
    rp::cli::StatusLine status;
    auto& loop = rp::RunLoop::main();
    std::string lastPosition;
    // The timer also wakes the loop to notice Ctrl-C.
    const auto timer = loop.addTimer(0.05, true, [&] {
        if (const std::string text = positionText(*player); !text.empty()) {
            lastPosition = text;
            status.show(text);
        }
    });
    player->startPlaybackOnceOnly(!options.loop);
    const double forever = 1e12;
    loop.runUntil([&] { return interrupt.raised() || !player->isPlaying(); }, forever);
    loop.cancelTimer(timer);
    const bool stoppedByUser = interrupt.raised();
    player->stopAndReset();
    status.finish(false);
    std::cout << (stoppedByUser ? "Stopped" : "Finished")
              << (lastPosition.empty() ? "" : " at " + lastPosition) << '\n';
    return 0;
}

const rp::cli::CommandRegistration registration("play",
    "Play a song (or some of its bars) through the speaker and a MIDI destination",
    [](CLI::App& app) -> rp::cli::CommandRunner {
        auto options = std::make_shared<PlayOptions>();
        app.add_option("SONG", options->song, "The song file")->required()->check(CLI::ExistingFile);
        app.add_option("--kit", options->kit, "Drum kit to use instead of the song's own");
        app.add_option("--device", options->device,
               "Audio device (default: the RPAudioDevice user default, else auto)")
            ->check(CLI::IsMember({ "auto", "jack", "pulse", "alsa", "null" }));
        app.add_flag("--loop", options->loop, "Play again from the top until Ctrl-C");
        app.add_option("--bars", options->bars, "Play only bars A to B (1-based, inclusive), as a selection");
        app.add_option("--midi-out", options->midiOut,
            "Also send the notes to this MIDI destination (name, part of a name, or unique ID)");
        app.add_flag("--mono", options->mono, "Mix to mono");
        return [options]() { return runPlay(*options); };
    });

} // namespace
