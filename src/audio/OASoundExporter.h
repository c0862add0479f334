#pragma once

#include "audio/AudioTypes.h"
#include "audio/WritableAudioFormats.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rp {
class Prompt;
}

// What an export panel shows and collects: the file type, the encoding, the sample rate and the
// channel count of the file(s) to write, the size estimate, and the confirmation of the chosen name
// (files that would be replaced, a volume too full). Writing is the caller's. The window that shows
// it calls the control operations as the user works its controls and reads the menus back.
class OASoundExporter {
public:
    // The free bytes of the volume holding `folder`, or none when it cannot be told.
    using FreeSpaceFunction = std::function<std::optional<uint64_t>(const std::filesystem::path& folder)>;

    // Starts with `type` selected (the first type when it is not offered), the rate, channels and
    // encoding of `description`, for `duration` seconds of material; `name` less its extension is
    // the default file name.
    static std::unique_ptr<OASoundExporter> exporterWithDefaultFileType(
        FourCharCode type, const AudioStreamBasicDescription& description, float duration, const std::string& name);

    void setCanChooseFormat(bool format, bool encoding, bool sampleRate, bool channels);
    bool canChooseFormat() const { return canChooseFormat_; }
    bool canChooseEncoding() const { return canChooseEncoding_; }
    bool canChooseSampleRate() const { return canChooseSampleRate_; }
    bool canChooseChannels() const { return canChooseChannels_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    void setMessage(std::string message) { message_ = std::move(message); }
    void setPrompt(std::string prompt) { prompt_ = std::move(prompt); }
    const std::string& title() const { return title_; }
    const std::string& message() const { return message_; }
    const std::string& prompt() const { return prompt_; }
    // One file per suffix is wanted: "Song (Drums).wav" for the suffix " (Drums)".
    void setFilenameSuffixes(std::optional<std::vector<std::string>> suffixes);

    // The file-type menu: the types an export offers, as (title, code).
    struct FileTypeItem {
        std::string title;
        FourCharCode type = 0;
    };
    const std::vector<FileTypeItem>& fileTypeItems() const { return fileTypeItems_; }
    size_t selectedFileTypeIndex() const { return selectedFileType_; }
    // The encoding menu of the current type.
    const std::vector<rp::WritableEncoding>& encodingItems() const { return encodingItems_; }
    size_t selectedEncodingIndex() const { return selectedEncoding_; }
    static const std::vector<std::string>& sampleRateList();
    static const std::vector<std::string>& channelsList();

    // The controls' actions. Choosing a type rebuilds the encoding menu and keeps the format (or
    // else the bit depth) as near as the new type allows; choosing an encoding sets the format,
    // flags, bits and byte counts. A typed rate or channel count sets only that value: the byte
    // counts (and so the estimate) follow the channels when an encoding is chosen again.
    void selectFileType(size_t index);
    void selectEncoding(size_t index);
    void setSampleRateText(const std::string& text);
    void setChannelsText(const std::string& text);
    // "Approximately %.1f MB will be required."
    std::string statusText() const;
    // The rate and channel count as the boxes show them.
    std::string sampleRateText() const;
    std::string channelsText() const;
    // False while the rate or channel count typed cannot be written.
    bool canExport() const;

    // Before showing: brings the menus and estimate up to date and returns the file to propose,
    // `filename` (else the default name, else "untitled") with the type's extension, in `folder`
    // when given.
    std::filesystem::path prepareToRun(
        const std::optional<std::filesystem::path>& folder, const std::optional<std::string>& filename);
    // The current type's extension (without the dot).
    std::string allowedExtension() const;
    // `path` with its extension replaced by the current type's.
    std::filesystem::path withAllowedExtension(const std::filesystem::path& path) const;

    // The user asked to export to `path`: true when it may go ahead. Asks (through `prompt`) before
    // replacing files that exist, and refuses when the volume has less than 1.1 times the estimate
    // free. On true the results below are set.
    bool confirmFilename(const std::filesystem::path& path, rp::Prompt& prompt);

    // Results.
    const std::filesystem::path& fileURL() const { return fileURL_; }
    // One path per suffix (empty without suffixes).
    const std::vector<std::filesystem::path>& filenames() const { return anciliaryFilenames_; }
    FourCharCode fileType() const { return audioFileType_; }
    const AudioStreamBasicDescription& streamDescription() const { return audioDesc_; }
    uint16_t channels() const { return static_cast<uint16_t>(audioDesc_.mChannelsPerFrame); }
    uint16_t bitsPerChannel() const { return static_cast<uint16_t>(audioDesc_.mBitsPerChannel); }
    float sampleRate() const { return static_cast<float>(audioDesc_.mSampleRate); }
    FourCharCode formatEncoding() const { return audioDesc_.mFormatID; }
    uint32_t preferredBitDepth() const { return preferredBitDepth_; }
    // Duration x bytes per frame x rate x the number of files, truncated; 0 for encodings without
    // a fixed frame size.
    uint64_t approximateFileSize() const;

    // Replaces how free space is measured (none: the file system's own); returns the previous one.
    static FreeSpaceFunction setFreeSpaceFunction(FreeSpaceFunction function);

private:
    OASoundExporter() = default;
    void rebuildMenuOfEncodingFormats();

    AudioStreamBasicDescription audioDesc_;
    FourCharCode audioFileType_ = 0;
    uint32_t preferredBitDepth_ = 0;
    std::string defName_;
    std::optional<std::vector<std::string>> filenameSuffixes_;
    std::vector<std::filesystem::path> anciliaryFilenames_;
    std::filesystem::path fileURL_;
    float duration_ = 0;
    std::vector<FileTypeItem> fileTypeItems_;
    size_t selectedFileType_ = 0;
    std::vector<rp::WritableEncoding> encodingItems_;
    size_t selectedEncoding_ = 0;
    bool canChooseFormat_ = true;
    bool canChooseEncoding_ = true;
    bool canChooseSampleRate_ = true;
    bool canChooseChannels_ = true;
    std::string title_;
    std::string message_;
    std::string prompt_;
};
