// rattlepan-cli sound info | play: what a sound file reports, and playing it through the speaker.

#include "CommandRegistry.h"
#include "audio/AudioDevice.h"
#include "audio/OASound.h"
#include "audio/OASpeakerOutput.h"

#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

namespace {

struct SoundOptions {
    std::string file;
    bool json = false;
    std::string device;
    float volume = 1.0f;
};

// The sound of `path`, or null (with a message) when it cannot be read as audio.
OASoundPtr openSound(const std::string& path)
{
    auto sound = OASound::soundWithContentsOfURL(path);
    if (sound->sourceAudioStreamDescription().mSampleRate <= 0 || sound->channels() == 0) {
        std::cerr << "rattlepan-cli: " << path << " is not a sound file this program can read\n";
        return nullptr;
    }
    return sound;
}

int runInfo(const SoundOptions& options)
{
    OASoundPtr sound = openSound(options.file);
    if (!sound) {
        return 1;
    }
    const AudioStreamBasicDescription& format = sound->sourceAudioStreamDescription();
    nlohmann::ordered_json info;
    info["name"] = sound->name();
    info["frames"] = sound->frames();
    info["sampleRate"] = sound->sampleRate();
    info["channels"] = sound->channels();
    info["duration"] = sound->duration();
    info["fileType"] = fourCharCodeString(sound->sourceAudioFileType());
    info["formatID"] = fourCharCodeString(format.mFormatID);
    info["bitsPerChannel"] = format.mBitsPerChannel;
    info["sfFormat"] = sound->legacySndfileFormat();
    if (options.json) {
        std::cout << info.dump(2) << '\n';
        return 0;
    }
    for (const auto& [key, value] : info.items()) {
        std::cout << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump()) << '\n';
    }
    return 0;
}

int runPlay(const SoundOptions& options)
{
    if (!std::isfinite(options.volume) || options.volume < 0) {
        std::cerr << "rattlepan-cli: the volume must be a number of 0 or more\n";
        return 2;
    }
    OASoundPtr sound = openSound(options.file);
    if (!sound) {
        return 1;
    }
    std::optional<AudioDeviceKind> kind;
    if (!options.device.empty()) {
        kind = audioDeviceKindFromString(options.device);
    }
    auto speaker = OASpeakerOutput::init(kind);
    if (!speaker) {
        std::cerr << "rattlepan-cli: no audio output could be made\n";
        return 1;
    }
    if (!speaker->preloadBufferForSound(sound)) {
        std::cerr << "rattlepan-cli: " << options.file << " could not be decoded\n";
        return 1;
    }
    const float start = speaker->currentSeconds() + 0.05f;
    if (!speaker->playSound(sound, options.volume, static_cast<float>(sound->duration()), start)) {
        std::cerr << "rattlepan-cli: " << options.file << " could not be played\n";
        return 1;
    }
    // Wait until the last frame has been handed to the device, plus a little for the device's own
    // buffering; give up if the device's clock stops.
    const double rate = speaker->sampleRate();
    const auto end = static_cast<uint64_t>(static_cast<double>(start) * rate) + sound->loadedFrames()
        + static_cast<uint64_t>(0.1 * rate);
    uint64_t lastSeen = speaker->totalFramesRead();
    auto lastMove = std::chrono::steady_clock::now();
    while (speaker->totalFramesRead() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const uint64_t now = speaker->totalFramesRead();
        if (now != lastSeen) {
            lastSeen = now;
            lastMove = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastMove > std::chrono::seconds(2)) {
            std::cerr << "rattlepan-cli: the audio device stopped\n";
            return 1;
        }
    }
    std::cout << "played " << sound->name() << " (" << sound->duration() << " s) on " << speaker->deviceName()
              << '\n';
    return 0;
}

const rp::cli::CommandRegistration registration("sound", "Inspect or play a sound file", [](CLI::App& app) {
    auto options = std::make_shared<SoundOptions>();
    app.require_subcommand(1);

    CLI::App* info = app.add_subcommand("info", "Print what a sound file reports");
    info->add_flag("--json", options->json, "Print JSON");
    info->add_option("FILE", options->file, "The sound file")->required();

    CLI::App* play
        = app.add_subcommand("play", "Play a sound file through the speaker and wait for it to end");
    play->add_option(
            "--device", options->device, "Audio device (default: the RPAudioDevice user default, else auto)")
        ->check(CLI::IsMember({ "auto", "jack", "pulse", "alsa", "null" }));
    play->add_option("--volume", options->volume, "Volume of the hit (1 = as recorded)");
    play->add_option("FILE", options->file, "The sound file")->required();

    return [options, info, play]() -> int {
        if (info->parsed()) {
            return runInfo(*options);
        }
        if (play->parsed()) {
            return runPlay(*options);
        }
        return 2;
    };
});

} // namespace
