#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"
#include "audio/AudioTypes.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rp {
class KeyedArchiver;
class KeyedUnarchiver;
class TypedStreamDecoder;
struct Error;
struct PcmFrames;
} // namespace rp

class OASound;
using OASoundPtr = std::shared_ptr<OASound>;

// One sampled sound: a sound file (or a block of packed samples embedded in an old archive), the
// description of its samples as stored, and on demand a decoded in-memory copy in whatever working
// format a consumer asks for (the mixer asks for 32-bit float, one buffer per channel, at the
// output's rate). The sound takes no lock: whoever plays it serialises its use.
class OASound : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    // An empty sound: volume 1, panning 0, saves a file reference, no source.
    OASound();
    // init followed by setSoundFileURL.
    explicit OASound(const std::filesystem::path& url);
    ~OASound() override;
    OASound(const OASound&) = delete;
    OASound& operator=(const OASound&) = delete;

    static OASoundPtr soundWithContentsOfURL(const std::filesystem::path& url)
    {
        return std::make_shared<OASound>(url);
    }

    std::string archiveClassName() const override { return "OASound"; }

    // ---- the source -------------------------------------------------------------------------
    // Adopts a new source file: reads its data format, length and container type. Always discards
    // the decoded copy. On failure the sound keeps its previous description and length.
    void setSoundFileURL(const std::optional<std::filesystem::path>& url);
    const std::optional<std::filesystem::path>& soundFileURL() const { return soundFileURL_; }

    // Adopts a block of packed samples as stored by old archives. `sfFormat` is the libsndfile
    // format code (its low 16 bits select the sample encoding), `frames` the number of frames the
    // block holds. The block is shared, not copied. Refuses (with a log line, leaving the sound
    // unchanged) absurd sample rates, channel counts or unknown encodings' sizes.
    bool setLegacyPackedBuffer(std::shared_ptr<const std::vector<uint8_t>> block, int64_t sfFormat,
        int64_t frames, double sampleRate, uint32_t channels);

    // ---- derived properties -----------------------------------------------------------------
    float sampleRate() const { return static_cast<float>(diskAudioDesc_.mSampleRate); }
    uint16_t channels() const { return static_cast<uint16_t>(diskAudioDesc_.mChannelsPerFrame); }
    uint64_t frames() const { return diskFrames_; }
    double duration() const; // frames / source sample rate; 0 without a rate
    // Working rate / source rate x frames, truncated: the frame count after rate conversion.
    uint64_t loadedFrames() const;
    // The file's last path component; else the stored name; else "untitled" (localised).
    std::string name() const;
    void setName(const std::string& name) { name_ = name; }
    const std::string& storedName() const { return name_; }
    // "<file name>: <channels> channels of <frames> samples at <rate> Hz"
    std::string description() const;

    FourCharCode sourceAudioFileType() const { return audioFileType_; }
    const AudioStreamBasicDescription& sourceAudioStreamDescription() const { return diskAudioDesc_; }
    const AudioStreamBasicDescription& loadedAudioStreamDescription() const { return workingAudioDesc_; }
    bool buffersAreLoaded() const { return !buffers_.empty(); }
    bool hasLegacyEmbeddedBuffer() const { return legacyPackedBuffer_ != nullptr; }
    std::shared_ptr<const std::vector<uint8_t>> legacyPackedBuffer() const { return legacyPackedBuffer_; }
    // libsndfile format code: major type in bits 16 and up, sample encoding in the low 16 bits.
    int64_t legacySndfileFormat() const { return legacySndfileFormat_; }

    // ---- mixing attributes and trim ---------------------------------------------------------
    float volume() const { return volume_; }
    void setVolume(float volume) { volume_ = volume; }
    float panning() const { return panning_; } // -1 left .. +1 right
    void setPanning(float panning) { panning_ = panning; }
    // First frame of the source that belongs to the sound. An offset at or beyond the source's
    // length leaves the sound with no frames.
    uint64_t frameOffset() const { return frameOffset_; }
    void setFrameOffset(uint64_t offset);
    // Maximum number of frames that belong to the sound; 0 means up to the end of the source.
    uint64_t frameCount() const { return frameCount_; }
    void setFrameCount(uint64_t count);
    bool savesFileReference() const { return savesFileReference_; }
    void setSavesFileReference(bool saves) { savesFileReference_ = saves; }

    // ---- decoding ---------------------------------------------------------------------------
    // The decoded samples in `description`. Asking again with the same description returns the
    // same list without touching the source. The list stays owned by the sound and is valid until
    // the next call with another description, flushBuffers, setSoundFileURL or the sound's end.
    // Null when loading failed (logged).
    const AudioBufferList* bufferListWithAudioStreamDescription(
        const AudioStreamBasicDescription& description);
    // Decodes the source into the working description; false (logged "OASound: ...") on failure.
    bool reloadBuffers();
    void flushBuffers();

    // Writes the sound as an audio file of `fileType` with the data format `description`. When the
    // source file already has that type and data format it is copied byte for byte. False on
    // failure, with `error` (when given) set: OS-status domain and a numeric code.
    bool writeToURL(const std::filesystem::path& url, FourCharCode fileType,
        const AudioStreamBasicDescription& description, rp::Error* error = nullptr);

    // A new sound with the same file (opened anew), trim, attributes and name; an embedded legacy
    // block is shared. The decoded copy is not.
    OASoundPtr copy() const;

    // ---- file-type catalogue ----------------------------------------------------------------
    // Every file extension the sound-file service reads; fetched once and cached.
    static std::optional<std::vector<std::string>> unfilteredFileTypes();
    // The first extension listed for a container type, or none.
    static std::optional<std::string> fileExtensionForType(FourCharCode fileType);
    // libsndfile format code from container type, format ID and bits per channel.
    static int64_t legacyFormatForFileType(FourCharCode fileType, FourCharCode formatID, uint32_t bitDepth);

    // ---- archiving --------------------------------------------------------------------------
    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    // Keyed form. A sound whose OAS_sfFormat is 0 never had a source: it is refused (null, the
    // unarchiver marked failed).
    static OASoundPtr initWithCoder(rp::KeyedUnarchiver& coder);
    // Older sequential form.
    static OASoundPtr initWithTypedStream(rp::TypedStreamDecoder& decoder);
    // Registers "OASound" with the keyed unarchiver and the typed-stream decoder (idempotent).
    static void registerArchiveClasses();

    // Sources of more frames than this count as this many.
    static constexpr uint64_t kMaximumFrames = 2147483647;

private:
    void updateTrimmedFrames();
    bool loadFromFile(std::string& failure);
    bool loadFromLegacyBlock(std::string& failure);
    // Maps channels, converts the rate and stores the frames in the working buffers.
    bool deliverFrames(rp::PcmFrames& frames, double sourceRate, std::string& failure);

    AudioStreamBasicDescription diskAudioDesc_ {};
    AudioStreamBasicDescription workingAudioDesc_ {};
    FourCharCode audioFileType_ = 0;
    std::unique_ptr<AudioBufferList> bufferList_;
    std::vector<std::vector<uint8_t>> buffers_;
    int64_t legacySndfileFormat_ = 0;
    uint64_t diskFrames_ = 0;
    std::shared_ptr<const std::vector<uint8_t>> legacyPackedBuffer_;
    uint32_t legacyBufferPacketIndex_ = 0;
    bool savesFileReference_ = true;
    float panning_ = 0.0f;
    float volume_ = 1.0f;
    std::optional<std::filesystem::path> soundFileURL_;
    uint64_t frameOffset_ = 0;
    uint64_t frameCount_ = 0;
    std::string name_;

    // The source's whole length in frames (clamped); `diskFrames_` is this after trimming.
    uint64_t sourceLengthFrames_ = 0;
};
