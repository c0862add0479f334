// rattlepan-cli export SONG -o OUT: writes a song (or some of its bars) as one audio file, one audio
// file per drum group, or a Standard MIDI File, with a progress bar; Ctrl-C cancels.

#include "CommandRegistry.h"
#include "SongKitLoader.h"
#include "SongPlayerEditor.h"
#include "TerminalProgress.h"
#include "audio/SoundFile.h"
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

// The container types a file can be written as, in the order an extension is looked up.
const std::vector<FourCharCode>& writableFileTypes()
{
    static const std::vector<FourCharCode> types = { kAudioFileAIFFType, kAudioFileAIFCType,
        kAudioFileWAVEType, kAudioFileNextType, kAudioFileCAFType, kAudioFileFLACType, kAudioFileWave64Type,
        kAudioFileRF64Type, kAudioFileOggType, kAudioFileMP3Type, kAudioFileSoundDesigner2Type };
    return types;
}

// A four-character type code (WAVE, AIFF, caff ...) or an extension (wav, aif, .flac ...).
std::optional<FourCharCode> fileTypeFromText(const std::string& text)
{
    for (const FourCharCode type : writableFileTypes()) {
        if (fourCharCodeString(type) == text)
            return type;
    }
    std::string extension = lowercase(text);
    if (!extension.empty() && extension.front() == '.')
        extension.erase(0, 1);
    for (const FourCharCode type : writableFileTypes()) {
        const auto extensions = extensionsForFileType(type);
        if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end())
            return type;
    }
    return std::nullopt;
}

struct Encoding {
    FourCharCode formatID;
    bool isFloat = false;
};

std::optional<Encoding> encodingFromText(const std::string& text)
{
    static const std::map<std::string, Encoding> names = {
        { "lpcm", { kAudioFormatLinearPCM } },
        { "pcm", { kAudioFormatLinearPCM } },
        { "float", { kAudioFormatLinearPCM, true } },
        { "ulaw", { kAudioFormatULaw } },
        { "alaw", { kAudioFormatALaw } },
        { "ima4", { kAudioFormatAppleIMA4 } },
        { "flac", { kAudioFormatFLAC } },
        { "alac", { kAudioFormatAppleLossless } },
        { "agsm", { kAudioFormatGSM610 } },
        { "vorb", { kAudioFormatVorbis } },
        { "vorbis", { kAudioFormatVorbis } },
        { "opus", { kAudioFormatOpus } },
        { ".mp3", { kAudioFormatMPEGLayer3 } },
        { "mp3", { kAudioFormatMPEGLayer3 } },
    };
    auto found = names.find(lowercase(text));
    if (found == names.end())
        return std::nullopt;
    return found->second;
}

// The encoding a type is usually written with, for when the remembered one does not fit it.
Encoding naturalEncoding(FourCharCode type)
{
    if (type == kAudioFileFLACType)
        return { kAudioFormatFLAC };
    if (type == kAudioFileOggType)
        return { kAudioFormatVorbis };
    if (type == kAudioFileMP3Type)
        return { kAudioFormatMPEGLayer3 };
    return { kAudioFormatLinearPCM };
}

AudioStreamBasicDescription describe(const Encoding& encoding, double rate, uint32_t channels, uint32_t bits)
{
    AudioStreamBasicDescription description;
    if (encoding.formatID == kAudioFormatLinearPCM && !encoding.isFloat) {
        return AudioStreamBasicDescription::bigEndianInteger(rate, channels, bits);
    }
    description.mSampleRate = rate;
    description.mFormatID = encoding.formatID;
    description.mChannelsPerFrame = channels;
    if (encoding.isFloat) {
        description.mBitsPerChannel = bits == 64 ? 64 : 32;
        description.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
        description.mBytesPerFrame = description.mBitsPerChannel / 8 * channels;
        description.mBytesPerPacket = description.mBytesPerFrame;
        description.mFramesPerPacket = 1;
    } else if (encoding.formatID == kAudioFormatFLAC || encoding.formatID == kAudioFormatAppleLossless) {
        // The lossless codecs carry the source bit depth in their flags: 1 = 16, 2 = 20, 3 = 24, 4 = 32.
        description.mFormatFlags = bits >= 32 ? 4 : bits >= 24 ? 3 : bits >= 20 ? 2 : 1;
    }
    return description;
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
            std::cerr << "rattlepan-cli: no audio file type for \"" << typeText
                      << "\": give --type (WAVE, AIFF, AIFC, NeXT, caff, flac, W64f, OggS or an extension)\n";
            return 1;
        }
        request.fileType = *type;
        const AudioStreamBasicDescription& remembered = request.streamDescription;
        const double rate = options.rate > 0 ? options.rate : remembered.mSampleRate;
        const uint32_t channels = remembered.mChannelsPerFrame;
        const uint32_t bits = options.bits > 0 ? options.bits : remembered.mBitsPerChannel;
        Encoding encoding { remembered.mFormatID, (remembered.mFormatFlags & kAudioFormatFlagIsFloat) != 0 };
        if (!options.encoding.empty()) {
            const auto chosen = encodingFromText(options.encoding);
            if (!chosen) {
                std::cerr << "rattlepan-cli: unknown encoding \"" << options.encoding
                          << "\" (lpcm, float, ulaw, alaw, ima4, flac, alac, vorbis, opus, mp3)\n";
                return 1;
            }
            encoding = *chosen;
        }
        AudioStreamBasicDescription description = describe(encoding, rate, channels, bits);
        if (!sndfileFormatForDescription(*type, description) && options.encoding.empty())
            description = describe(naturalEncoding(*type), rate, channels, bits);
        if (!sndfileFormatForDescription(*type, description)) {
            std::cerr << "rattlepan-cli: a " << fourCharCodeString(*type) << " file cannot hold "
                      << fourCharCodeString(description.mFormatID) << " audio of "
                      << description.mBitsPerChannel << " bits at " << rate << " Hz\n";
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
        toExport, mode, loaded.kit, title, notes, fileName, request, prompt, progress);
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
            return progress->finished();
        },
        1e12);
    loop.cancelTimer(timer);

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
            "--encoding", options->encoding, "Encoding: lpcm, float, ulaw, alaw, flac, vorbis ...");
        app.add_option("--rate", options->rate, "Sample rate in Hz")->check(CLI::Range(1000.0, 768000.0));
        app.add_option("--bits", options->bits, "Bits per sample")
            ->check(CLI::IsMember({ 8, 16, 20, 24, 32, 64 }));
        app.add_option("--bars", options->bars, "Export only bars A to B (1-based, inclusive)");
        return [options]() { return runExport(*options); };
    });

} // namespace
