#pragma once

#include "audio/AudioTypes.h"
#include "audio/SampleConversion.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sf_private_tag;

namespace rp {

// Sound files through libsndfile, described in the platform's terms: container types and sample
// formats are four-character codes ('AIFF', 'WAVE', 'caff' ...; 'lpcm', 'ulaw', 'ima4' ...) and
// the data format is a 40-byte stream description.
//
// Status codes: libsndfile's error numbers (sf_error), or kSoundFileUnsupportedFormat when a
// container type or data format has no libsndfile equivalent.
constexpr int kSoundFileUnsupportedFormat = static_cast<int>(fourCharCode("fmt?"));

// Formats libsndfile knows that have no platform code of their own.
constexpr FourCharCode kAudioFileOggType = fourCharCode("OggS");
constexpr FourCharCode kAudioFileMP2Type = fourCharCode("MPG2");
constexpr FourCharCode kAudioFileMP1Type = fourCharCode("MPG1");
constexpr FourCharCode kAudioFormatMPEGLayer2 = fourCharCode(".mp2");
constexpr FourCharCode kAudioFormatMPEGLayer1 = fourCharCode(".mp1");
constexpr FourCharCode kAudioFormatDVIIntelIMA = 0x6D730011; // 'ms\0\x11', IMA ADPCM in WAV files
constexpr FourCharCode kAudioFormatMicrosoftADPCM = 0x6D730002;
constexpr FourCharCode kAudioFormatMicrosoftGSM = 0x6D730031;
constexpr FourCharCode kAudioFormatGSM610 = fourCharCode("agsm");
constexpr FourCharCode kAudioFormatAppleLossless = fourCharCode("alac");
constexpr FourCharCode kAudioFormatVorbis = fourCharCode("vorb");
constexpr FourCharCode kAudioFormatOpus = fourCharCode("opus");

// The container type of a libsndfile major format. AIFF files are told apart from AIFF-C ones by
// `formType` (the 4 bytes after "FORM" and its size), which may be 0 when unknown.
FourCharCode fileTypeForSndfileFormat(int sndfileFormat, FourCharCode formType = 0);
// The libsndfile major format for a container type, or none.
std::optional<int> sndfileMajorForFileType(FourCharCode fileType);
// The complete libsndfile format (major, subtype, byte order) that writes `description` into a
// file of `fileType`, checked with libsndfile; none when it cannot.
std::optional<int> sndfileFormatForDescription(
    FourCharCode fileType, const AudioStreamBasicDescription& description);
// The stream description of data stored as `sndfileFormat`.
AudioStreamBasicDescription describeSndfileData(
    int sndfileFormat, uint32_t channels, double sampleRate, bool bigEndian);
// True when libsndfile decodes this format to integers exactly (integer PCM and the lossless or
// integer codecs); floats and the lossy codecs decode to reals.
bool sndfileDecodesToIntegers(int sndfileFormat);

// Extensions of each container type libsndfile reads, the preferred one first.
std::vector<std::string> extensionsForFileType(FourCharCode fileType);
// Every extension libsndfile reads (built once; cached by the caller).
std::vector<std::string> readableExtensions();

class SoundFileReader {
public:
    // Opens for reading. Null with `status` set on failure.
    static std::unique_ptr<SoundFileReader> open(const std::filesystem::path& path, int* status);
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    FourCharCode fileType() const { return fileType_; }
    const AudioStreamBasicDescription& dataFormat() const { return dataFormat_; }
    int sndfileFormat() const { return sndfileFormat_; }
    // As the file says; may be large for a hostile header (nothing is allocated from it here).
    int64_t lengthFrames() const { return lengthFrames_; }
    bool decodesToIntegers() const { return sndfileDecodesToIntegers(sndfileFormat_); }

    // Moves to `frame`; false with `status` set when the file cannot seek there.
    bool seek(uint64_t frame, int* status);
    // Appends up to `frames` frames to `into` (whose kind chooses integer or real decoding and whose
    // channel count is set to the file's). Returns the frames read: 0 at the end of the data.
    uint64_t read(PcmFrames& into, uint64_t frames);
    int lastError() const;

private:
    SoundFileReader() = default;

    sf_private_tag* file_ = nullptr;
    FourCharCode fileType_ = 0;
    AudioStreamBasicDescription dataFormat_ {};
    int sndfileFormat_ = 0;
    int64_t lengthFrames_ = 0;
    uint32_t channels_ = 0;
};

class SoundFileWriter {
public:
    // Creates (or truncates) `path` as a `fileType` file with the data format `description`.
    // Null with `status` set on failure.
    static std::unique_ptr<SoundFileWriter> create(const std::filesystem::path& path, FourCharCode fileType,
        const AudioStreamBasicDescription& description, int* status);
    ~SoundFileWriter(); // closes (writes the final header)
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    // Writes all of `frames` in one call (channel count must be the file's); false with `status`.
    bool write(const PcmFrames& frames, int* status);
    // Closes now; returns libsndfile's status (0 on success).
    int close();

private:
    SoundFileWriter() = default;

    sf_private_tag* file_ = nullptr;
    uint32_t channels_ = 0;
};

} // namespace rp
