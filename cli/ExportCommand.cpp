// rattlepan-cli export SONG -o OUT: writes a song (or some of its bars) as one audio file, one audio
// file per drum group, or a Standard MIDI File, with a progress bar; Ctrl-C cancels.

#include "CommandRegistry.h"
#include "SongKitLoader.h"
#include "SongPlayerEditor.h"
#include "TerminalProgress.h"
#include "audio/SoundFile.h"
#include "audio/WritableAudioFormats.h"
#include "foundation/Prompt.h"
#include "foundation/RunLoop.h"
#include "kit/ORPDrumKit.h"
#include "player/ORPPlayer.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <optional>

namespace {

using namespace rp; // the sound-file vocabulary

struct ExportOptions {
    std::string song;
    std::string kit;
    std::string output;
    std::string mode = "mix";
    std::string type;
    std::string encoding;
    double rate = 0;
    uint32_t bits = 0;
    std::string bars;
};

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// A four-character type code (WAVE, AIFF, caff ...) or an extension (wav, aif, .flac ...).
std::optional<FourCharCode> fileTypeFromText(const std::string& text)
{
    for (const auto& entry : writableAudioFileTypes()) {
        if (fourCharCodeString(entry.type) == text)
            return entry.type;
    }
    std::string extension = lowercase(text);
    if (!extension.empty() && extension.front() == '.')
        extension.erase(0, 1);
    for (const auto& entry : writableAudioFileTypes()) {
        const auto extensions = extensionsForFileType(entry.type);
        if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end())
            return entry.type;
    }
    return std::nullopt;
}

// The short name of an encoding as typed, with the older spellings still accepted.
std::string encodingKey(const std::string& text)
{
    static const std::map<std::string, std::string> aliases
        = { { "pcm", "lpcm" }, { "vorb", "vorbis" }, { ".mp3", "mp3" }, { "agsm", "gsm" } };
    const std::string key = lowercase(text);
    const auto found = aliases.find(key);
    return found == aliases.end() ? key : found->second;
}

// The source bit depth a lossless codec carries in its flags (1 = 16, 2 = 20, 3 = 24, 4 = 32).
uint32_t bitsOf(const AudioStreamBasicDescription& d)
{
    if (d.mFormatID == kAudioFormatFLAC || d.mFormatID == kAudioFormatAppleLossless) {
        static constexpr uint32_t bits[] = { 0, 16, 20, 24, 32 };
        return d.mFormatFlags < 5 ? bits[d.mFormatFlags] : 0;
    }
    return d.mBitsPerChannel;
}

// The encoding of `type` named `key` (any when empty) with `bits` (the first of the key when no
// encoding of it has those bits); none when the type has no such encoding.
std::optional<AudioStreamBasicDescription> chooseEncoding(
    FourCharCode type, const std::string& key, uint32_t bits, double rate, uint32_t channels)
{
    const auto encodings = encodingsForFileType(type, rate, channels);
    const WritableEncoding* firstOfKey = nullptr;
    for (const auto& encoding : encodings) {
        if (!key.empty() && encoding.key != key)
            continue;
        if (!firstOfKey)
            firstOfKey = &encoding;
        if (bitsOf(encoding.description) == bits)
            return encoding.description;
    }
    if (firstOfKey)
        return firstOfKey->description;
    return std::nullopt;
}

std::string encodingKeys()
{
    std::vector<std::string> keys;
    for (const auto& entry : writableAudioFileTypes()) {
        for (const auto& encoding : entry.encodings) {
            if (std::find(keys.begin(), keys.end(), encoding.key) == keys.end())
                keys.push_back(encoding.key);
        }
    }
    std::string text;
    for (const auto& key : keys)
        text += (text.empty() ? "" : ", ") + key;
    return text;
}

// The progress of the export, as a bar on a terminal and as plain lines elsewhere.
class CommandLineExportProgress final : public ORPExportProgress {
public:
    explicit CommandLineExportProgress(size_t bars)
        : bars_(bars)
    {
    }
    void playerWillExportFilename(const std::string& path) override
    {
        status_.finish(false);
        files_.push_back(path);
        done_ = 0;
        const std::string line = "Exporting to " + std::filesystem::path(path).filename().string() + "...";
        if (status_.isTerminal())
            status_.show(line + " " + rp::cli::progressBar(0));
        else
            std::cout << line << '\n' << std::flush;
    }
    void playerIsExportingPatternInstance(const ORPPatternInstancePtr&) override
    {
        ++done_;
        if (status_.isTerminal() && !files_.empty()) {
            status_.show("Exporting to " + std::filesystem::path(files_.back()).filename().string() + "... "
                + rp::cli::progressBar(
                    bars_ == 0 ? 1.0 : static_cast<double>(done_) / static_cast<double>(bars_)));
        }
    }
    void playerDidFinishExport(bool canceled) override
    {
        status_.finish(false);
        finished_ = true;
        canceled_ = canceled;
    }

    bool finished() const { return finished_; }
    bool canceled() const { return canceled_; }
    const std::vector<std::string>& files() const { return files_; }

private:
    rp::cli::StatusLine status_;
    size_t bars_;
    size_t done_ = 0;
    std::vector<std::string> files_;
    bool finished_ = false;
    bool canceled_ = false;
};

// Nobody to ask: each alert is printed on standard error and answered with its default button.
class StandardErrorPrompt final : public rp::NonInteractivePrompt {
public:
    int runAlert(const Alert& alert) override
    {
        const int answer = NonInteractivePrompt::runAlert(alert);
        std::cerr << "rattlepan-cli: " << alert.title;
        if (!alert.message.empty())
            std::cerr << ' ' << alert.message;
        if (static_cast<size_t>(answer) < alert.buttons.size())
            std::cerr << " (" << alert.buttons[static_cast<size_t>(answer)] << ")";
        std::cerr << '\n';
        return answer;
    }
};

int runExport(const ExportOptions& options)
{
    static const std::map<std::string, unsigned> modes = { { "mix", 0 }, { "groups", 1 }, { "midi", 2 } };
    const unsigned mode = modes.at(options.mode);

    ORPExportRequest request = ORPPlayer::rememberedExportFormat();
    request.path = options.output;
    if (mode != 2) {
        const std::string typeText = options.type.empty()
            ? std::filesystem::path(options.output).extension().string()
            : options.type;
        const auto type = fileTypeFromText(typeText);
        if (!type) {
            std::cerr << "rattlepan-cli: no audio file type for \"" << typeText << "\": give --type (";
            for (const auto& entry : writableAudioFileTypes())
                std::cerr << fourCharCodeString(entry.type) << ", ";
            std::cerr << "or an extension)\n";
            return 1;
        }
        request.fileType = *type;
        const AudioStreamBasicDescription& remembered = request.streamDescription;
        const double rate = options.rate > 0 ? options.rate : remembered.mSampleRate;
        const uint32_t channels = remembered.mChannelsPerFrame;
        const uint32_t bits = options.bits > 0 ? options.bits : bitsOf(remembered);
        std::optional<AudioStreamBasicDescription> chosen;
        if (!options.encoding.empty()) {
            chosen = chooseEncoding(*type, encodingKey(options.encoding), bits, rate, channels);
            if (!chosen) {
                std::cerr << "rattlepan-cli: a " << fourCharCodeString(*type) << " file cannot hold \""
                          << options.encoding << "\" audio (encodings: " << encodingKeys() << ")\n";
                return 1;
            }
        } else {
            // The remembered encoding when the type has it, else the type's own at those bits.
            const bool rememberedFloat = (remembered.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
            const std::string rememberedKey = remembered.mFormatID != kAudioFormatLinearPCM ? std::string()
                : rememberedFloat                                                             ? "float"
                                                                                              : "lpcm";
            if (!rememberedKey.empty())
                chosen = chooseEncoding(*type, rememberedKey, bits, rate, channels);
            if (!chosen)
                chosen = chooseEncoding(*type, {}, bits, rate, channels);
        }
        AudioStreamBasicDescription description = chosen ? *chosen : AudioStreamBasicDescription {};
        if (!chosen || !sndfileFormatForDescription(*type, description)) {
            std::cerr << "rattlepan-cli: a " << fourCharCodeString(*type) << " file cannot hold "
                      << fourCharCodeString(description.mFormatID) << " audio of " << bits << " bits at "
                      << rate << " Hz\n";
            return 1;
        }
        request.streamDescription = description;
    }

    auto songBars = rp::cli::loadSongBars(options.song, options.kit, options.bars);
    if (!songBars) {
        return 1;
    }
    const auto& loaded = songBars->loaded;
    auto& instances = songBars->instances;
    const auto& bars = songBars->bars;
    const rp::cli::SongPlayerEditor editor(std::move(instances), bars);
    const auto& toExport = editor.barsToRender();
    if (toExport.empty()) {
        std::cerr << "rattlepan-cli: the song's playlist has no bars to export\n";
        return 1;
    }

    // The whole song carries its title and notes; a run of bars is titled after the song file.
    const std::string fileName = std::filesystem::path(options.song).stem().string();
    std::optional<std::string> title = loaded.song->name();
    if (bars)
        title = fileName + " (bars " + options.bars + ")";
    const std::optional<std::string> notes = loaded.song->notes();

    // Export renders as fast as it can; no sound device is needed.
    auto player = ORPPlayer::init(AudioDeviceKind::Null);
    if (!player) {
        std::cerr << "rattlepan-cli: the renderer could not be made\n";
        return 1;
    }
    player->setMasterLevel(loaded.song->masterLevel());

    auto progress = std::make_shared<CommandLineExportProgress>(toExport.size());
    StandardErrorPrompt prompt;
    rp::cli::InterruptFlag interrupt;
    player->exportPatternInstances(
        toExport, mode, loaded.kit, title, notes, fileName,
        [&request](const ORPExportSetup&) { return std::optional(request); }, prompt, progress);
    if (!player->isExporting() && !progress->finished()) {
        std::cerr << "rattlepan-cli: nothing was exported\n";
        return 1;
    }
    auto& loop = rp::RunLoop::main();
    bool cancelSent = false;
    // The timer wakes the loop to notice Ctrl-C.
    const auto timer = loop.addTimer(0.05, true, [] {});
    loop.runUntil(
        [&] {
            if (interrupt.raised() && !cancelSent) {
                cancelSent = true;
                player->cancelExport();
            }
            // The files are complete once the export has ended; the half second the finished
            // display stays up in the application is not waited for here.
            return progress->finished() || !player->isExporting();
        },
        1e12);
    loop.cancelTimer(timer);
    if (!progress->finished())
        progress->playerDidFinishExport(player->exportCanceled());

    if (progress->canceled()) {
        std::cerr << "rattlepan-cli: Export canceled.\n";
        return 1;
    }
    int status = 0;
    for (const auto& file : progress->files()) {
        if (std::filesystem::exists(file)) {
            std::cout << "Wrote " << file << '\n';
        } else {
            std::cerr << "rattlepan-cli: " << file << " could not be written\n";
            status = 1;
        }
    }
    return progress->files().empty() ? 1 : status;
}

const rp::cli::CommandRegistration registration("export",
    "Export a song (or some of its bars) as audio files or a Standard MIDI File",
    [](CLI::App& app) -> rp::cli::CommandRunner {
        auto options = std::make_shared<ExportOptions>();
        app.add_option("SONG", options->song, "The song file")->required()->check(CLI::ExistingFile);
        app.add_option("--kit", options->kit, "Drum kit to use instead of the song's own");
        app.add_option("-o,--output", options->output,
               "The file to write (mode groups: the base name; each group's file adds \" (Group)\")")
            ->required();
        app.add_option("--mode", options->mode, "mix (one file), groups (a file per drum group) or midi")
            ->check(CLI::IsMember({ "mix", "groups", "midi" }));
        app.add_option(
            "--type", options->type, "File type code (WAVE, AIFF, caff ...) or extension (wav, aif ...)");
        app.add_option(
            "--encoding", options->encoding, "Encoding: lpcm, float, ulaw, alaw, ima4, gsm, flac, alac, vorbis, opus, mp3");
        app.add_option("--rate", options->rate, "Sample rate in Hz")->check(CLI::Range(1000.0, 768000.0));
        app.add_option("--bits", options->bits, "Bits per sample")
            ->check(CLI::IsMember({ 8, 16, 20, 24, 32, 64 }));
        app.add_option("--bars", options->bars, "Export only bars A to B (1-based, inclusive)");
        return [options]() { return runExport(*options); };
    });

} // namespace
