#include "audio/OASoundExporter.h"

#include "audio/OAOutput.h"
#include "audio/OASound.h"
#include "audio/SoundFile.h"
#include "foundation/Localization.h"
#include "foundation/Prompt.h"
#include "foundation/TextCompare.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>

namespace {

// The types an export offers: the ones every audio program reads.
constexpr FourCharCode kOfferedTypes[]
    = { kAudioFileAIFFType, kAudioFileAIFCType, kAudioFileWAVEType, kAudioFileNextType };

std::mutex freeSpaceMutex;
OASoundExporter::FreeSpaceFunction& freeSpaceFunction()
{
    static OASoundExporter::FreeSpaceFunction function;
    return function;
}

std::optional<uint64_t> freeSpaceOf(const std::filesystem::path& folder)
{
    OASoundExporter::FreeSpaceFunction function;
    {
        std::lock_guard lock(freeSpaceMutex);
        function = freeSpaceFunction();
    }
    if (function) {
        return function(folder);
    }
    std::error_code error;
    const auto space = std::filesystem::space(folder, error);
    if (error) {
        return std::nullopt;
    }
    return space.available;
}

// The string table keeps the alert's texts with carriage returns; a Qt message box shows those
// badly, so they become line feeds.
std::string withLineFeeds(std::string text)
{
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}

} // namespace

std::unique_ptr<OASoundExporter> OASoundExporter::exporterWithDefaultFileType(
    FourCharCode type, const AudioStreamBasicDescription& description, float duration, const std::string& name)
{
    std::unique_ptr<OASoundExporter> exporter(new OASoundExporter);
    exporter->audioFileType_ = type;
    exporter->audioDesc_ = description;
    exporter->duration_ = duration;
    exporter->defName_ = std::filesystem::path(name).replace_extension().string();
    for (const FourCharCode offered : kOfferedTypes) {
        if (const auto* entry = rp::writableAudioFileType(offered)) {
            exporter->fileTypeItems_.push_back({ rp::localized(entry->name), entry->type });
        }
    }
    const auto& items = exporter->fileTypeItems_;
    const auto found
        = std::find_if(items.begin(), items.end(), [type](const FileTypeItem& item) { return item.type == type; });
    exporter->selectedFileType_ = found == items.end() ? 0 : static_cast<size_t>(found - items.begin());
    if (!items.empty()) {
        exporter->audioFileType_ = items[exporter->selectedFileType_].type;
    }
    exporter->rebuildMenuOfEncodingFormats();
    return exporter;
}

void OASoundExporter::setCanChooseFormat(bool format, bool encoding, bool sampleRate, bool channels)
{
    canChooseFormat_ = format;
    canChooseEncoding_ = encoding;
    canChooseSampleRate_ = sampleRate;
    canChooseChannels_ = channels;
}

void OASoundExporter::setFilenameSuffixes(std::optional<std::vector<std::string>> suffixes)
{
    filenameSuffixes_ = std::move(suffixes);
}

const std::vector<std::string>& OASoundExporter::sampleRateList()
{
    static const std::vector<std::string> rates = { "22050", "44100", "48000", "88200", "96000" };
    return rates;
}

const std::vector<std::string>& OASoundExporter::channelsList()
{
    static const std::vector<std::string> channels = { "1", "2", "3", "4" };
    return channels;
}

void OASoundExporter::rebuildMenuOfEncodingFormats()
{
    encodingItems_ = rp::encodingsForFileType(audioFileType_, audioDesc_.mSampleRate, audioDesc_.mChannelsPerFrame);
    for (auto& item : encodingItems_) {
        item.name = rp::localized(item.name);
    }
    selectedEncoding_ = 0;
}

void OASoundExporter::selectFileType(size_t index)
{
    if (index >= fileTypeItems_.size()) {
        return;
    }
    selectedFileType_ = index;
    audioFileType_ = fileTypeItems_[index].type;
    rebuildMenuOfEncodingFormats();
    if (encodingItems_.empty()) {
        return;
    }
    // Keep the format when the type has it, else the bit depth: the latest item of each seen
    // before both have been.
    const uint32_t bits = audioDesc_.mBitsPerChannel != 0 ? audioDesc_.mBitsPerChannel : preferredBitDepth_;
    std::optional<size_t> sameFormat;
    std::optional<size_t> sameBits;
    for (size_t i = 0; i < encodingItems_.size() && !(sameFormat && sameBits); ++i) {
        const auto& d = encodingItems_[i].description;
        if (d.mFormatID == audioDesc_.mFormatID) {
            sameFormat = i;
        }
        if (d.mBitsPerChannel == bits) {
            sameBits = i;
        }
    }
    selectEncoding(sameFormat.value_or(sameBits.value_or(0)));
}

void OASoundExporter::selectEncoding(size_t index)
{
    if (index >= encodingItems_.size()) {
        return;
    }
    selectedEncoding_ = index;
    const auto& chosen = encodingItems_[index].description;
    audioDesc_.mFormatID = chosen.mFormatID;
    audioDesc_.mFormatFlags = chosen.mFormatFlags;
    audioDesc_.mBitsPerChannel = chosen.mBitsPerChannel;
    audioDesc_.mFramesPerPacket = 1;
    audioDesc_.mBytesPerFrame = chosen.mBitsPerChannel * audioDesc_.mChannelsPerFrame / 8;
    audioDesc_.mBytesPerPacket = audioDesc_.mBytesPerFrame;
    if (chosen.mBitsPerChannel != 0) {
        preferredBitDepth_ = chosen.mBitsPerChannel;
    }
}

void OASoundExporter::setSampleRateText(const std::string& text)
{
    audioDesc_.mSampleRate = static_cast<double>(std::max<int64_t>(rp::leadingIntegerValue(text), 0));
}

void OASoundExporter::setChannelsText(const std::string& text)
{
    audioDesc_.mChannelsPerFrame = static_cast<uint32_t>(std::clamp<int64_t>(rp::leadingIntegerValue(text), 0, 1000));
}

std::string OASoundExporter::sampleRateText() const
{
    return std::to_string(static_cast<int64_t>(audioDesc_.mSampleRate));
}

std::string OASoundExporter::channelsText() const
{
    return std::to_string(audioDesc_.mChannelsPerFrame);
}

std::string OASoundExporter::statusText() const
{
    return rp::localizedFormat(
        "Approximately %.1f MB will be required.", { static_cast<double>(approximateFileSize()) / 1'000'000.0 });
}

bool OASoundExporter::canExport() const
{
    return audioDesc_.mChannelsPerFrame >= 1 && audioDesc_.mChannelsPerFrame <= OAOutput::kMaximumChannels
        && rp::sndfileFormatForDescription(audioFileType_, audioDesc_).has_value();
}

uint64_t OASoundExporter::approximateFileSize() const
{
    const size_t files = filenameSuffixes_ ? filenameSuffixes_->size() : 1;
    const double bytes = static_cast<double>(duration_) * audioDesc_.mBytesPerFrame * audioDesc_.mSampleRate
        * static_cast<double>(files);
    return bytes > 0 ? static_cast<uint64_t>(bytes) : 0;
}

std::string OASoundExporter::allowedExtension() const
{
    return OASound::fileExtensionForType(audioFileType_).value_or(std::string());
}

std::filesystem::path OASoundExporter::withAllowedExtension(const std::filesystem::path& path) const
{
    std::filesystem::path result = path;
    const std::string extension = allowedExtension();
    if (!extension.empty()) {
        result.replace_extension(extension);
    }
    return result;
}

std::filesystem::path OASoundExporter::prepareToRun(
    const std::optional<std::filesystem::path>& folder, const std::optional<std::string>& filename)
{
    setSampleRateText(sampleRateText());
    selectFileType(selectedFileType_);
    std::string name = filename && !filename->empty() ? *filename : defName_.empty() ? "untitled" : defName_;
    const std::string extension = allowedExtension();
    if (!extension.empty()) {
        name += "." + extension;
    }
    return folder ? *folder / name : std::filesystem::path(name);
}

bool OASoundExporter::confirmFilename(const std::filesystem::path& chosen, rp::Prompt& prompt)
{
    // The name gets the type's extension, as a save panel gives it.
    std::filesystem::path path = chosen;
    const std::string extension = allowedExtension();
    if (!extension.empty() && path.extension().string() != "." + extension) {
        path += "." + extension;
    }
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    const std::string folderName = std::filesystem::absolute(folder).lexically_normal().filename().string();

    std::vector<std::filesystem::path> files;
    if (filenameSuffixes_) {
        std::filesystem::path base = path;
        base.replace_extension();
        for (const auto& suffix : *filenameSuffixes_) {
            files.emplace_back(rp::formatText("%@%@.%@", { base.string(), suffix, extension }));
        }
    } else {
        files.push_back(path);
    }
    std::vector<std::string> existing;
    for (const auto& file : files) {
        std::error_code error;
        if (std::filesystem::exists(file, error)) {
            existing.push_back(file.filename().string());
        }
    }
    if (!existing.empty()) {
        rp::Prompt::Alert alert;
        alert.style = rp::Prompt::AlertStyle::Critical;
        if (filenameSuffixes_) {
            alert.title = rp::localized("Some files already exist. Do you want to replace them?");
            std::string names;
            for (const auto& name : existing) {
                names += rp::formatText(rp::localized("%@\r"), { name });
            }
            const std::string sentence = existing.size() == 1
                ? rp::localizedFormat("\rThis file already exists in the folder %@. Replacing it will overwrite "
                                      "its current contents.",
                    { folderName })
                : rp::localizedFormat("\rThese files already exist in the folder %@. Replacing them will "
                                      "overwrite their current contents.",
                    { folderName });
            alert.message = withLineFeeds(names + sentence);
        } else {
            // A single file: the confirmation a save panel asks itself.
            alert.title = rp::localizedFormat("\u201C%@\u201D already exists. Do you want to replace it?", { existing[0] });
            alert.message = rp::localizedFormat(
                "A file with the same name already exists in the folder %@. Replacing it will overwrite its "
                "current contents.",
                { folderName });
        }
        alert.buttons = { rp::localized("Replace"), rp::localized("Cancel") };
        alert.defaultButton = 1;
        if (prompt.runAlert(alert) != 0) {
            return false;
        }
    }
    // Checked after a Replace too: replacing does not make a full volume write a whole file.
    const auto free = freeSpaceOf(folder);
    if (free && static_cast<double>(*free) < 1.1 * static_cast<double>(approximateFileSize())) {
        rp::Prompt::Alert alert;
        alert.style = rp::Prompt::AlertStyle::Critical;
        alert.title = rp::localized("There is not enough free space.");
        alert.message = rp::localizedFormat(
            "Only %.1f MB are available on this volume.", { static_cast<double>(*free) / 1'000'000.0 });
        prompt.runAlert(alert);
        return false;
    }
    fileURL_ = path;
    anciliaryFilenames_ = filenameSuffixes_ ? files : std::vector<std::filesystem::path> {};
    return true;
}

OASoundExporter::FreeSpaceFunction OASoundExporter::setFreeSpaceFunction(FreeSpaceFunction function)
{
    std::lock_guard lock(freeSpaceMutex);
    std::swap(freeSpaceFunction(), function);
    return function;
}
