// Keyed and sequential archiving of OASound.

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "audio/OASound.h"
#include "foundation/FileReference.h"
#include "foundation/Logger.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <mutex>

namespace {

// Offsets and counts are stored as 32-bit integers. Sources never exceed 2147483647 frames, so
// clamping larger values keeps their meaning (nothing left / up to the end) instead of wrapping.
int32_t storedFrameNumber(uint64_t value)
{
    return static_cast<int32_t>(std::min<uint64_t>(value, std::numeric_limits<int32_t>::max()));
}

uint64_t signExtended(int32_t value)
{
    return static_cast<uint64_t>(static_cast<int64_t>(value));
}

int64_t nextInteger(rp::TypedStreamDecoder& decoder)
{
    const rp::TypedStreamValue value = decoder.decodeNextValue();
    if (value.kind != rp::TypedStreamValue::Kind::Integer) {
        decoder.failWithError("OASound: expected an integer, found type " + value.type);
    }
    return value.integer;
}

float nextFloat(rp::TypedStreamDecoder& decoder)
{
    const rp::TypedStreamValue value = decoder.decodeNextValue();
    if (value.kind != rp::TypedStreamValue::Kind::Real) {
        decoder.failWithError("OASound: expected a real number, found type " + value.type);
    }
    return static_cast<float>(value.real);
}

// The packed sample block: a data object, or a length followed by that many bytes.
std::vector<uint8_t> nextDataBlock(rp::TypedStreamDecoder& decoder)
{
    const rp::TypedStreamValue value = decoder.decodeNextValue();
    if (value.kind == rp::TypedStreamValue::Kind::Object) {
        if (auto data = std::dynamic_pointer_cast<rp::ArchivedData>(value.object)) {
            return data->bytes;
        }
    } else if (value.kind == rp::TypedStreamValue::Kind::Nil) {
        return {};
    } else if (value.kind == rp::TypedStreamValue::Kind::Integer && value.integer >= 0) {
        return decoder.decodeBytes(static_cast<size_t>(value.integer));
    } else if (value.kind == rp::TypedStreamValue::Kind::ByteArray) {
        return value.bytes;
    }
    decoder.failWithError("OASound: expected the packed sample block, found type " + value.type);
}

// Volume and panning as the mixer can use them: a value that is not a number (which would turn
// every mixed sample into one) reads as the default.
float mixingValue(float stored, float usual, const char* what)
{
    if (std::isfinite(stored)) {
        return stored;
    }
    rp::logf("OASound: %s %f cannot be read; using %f", what, static_cast<double>(stored),
        static_cast<double>(usual));
    return usual;
}

// A file that is there but is not a regular file (a named pipe, a device) could stall the reader
// or never end; an archive that points at one is treated as holding no file reference.
bool isUsableSoundPath(const std::filesystem::path& path)
{
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    if (type == std::filesystem::file_type::regular || type == std::filesystem::file_type::not_found) {
        return true;
    }
    rp::logf("OASound: %s is not a regular file; ignoring it", path.c_str());
    return false;
}

uint32_t channelCount(int64_t stored)
{
    return stored < 0 || stored > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<uint32_t>(stored);
}

} // namespace

void OASound::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    // The source's whole length: the reader trims it by the offset and count stored below, so
    // storing the trimmed length would shorten a sound whose file is away on every save.
    coder.encodeInt64(static_cast<int64_t>(sourceLengthFrames_), "OAS_frames");
    coder.encodeFloat(sampleRate(), "OAS_sampleRate");
    coder.encodeInt64(channels(), "OAS_channels");
    coder.encodeInt64(legacySndfileFormat_, "OAS_sfFormat");
    coder.encodeFloat(panning_, "OAS_panning");
    coder.encodeFloat(volume_, "OAS_volume");
    coder.encodeString(name(), "OAS_soundName");
    if (savesFileReference_ && soundFileURL_) {
        if (auto alias = rp::FileReference::aliasRecordData(*soundFileURL_)) {
            coder.encodeData(*alias, "OAS_fileAlias");
        }
        // A linked file that is away now keeps at least its path, so the link survives the save.
        auto bookmark = rp::FileReference::bookmarkData(*soundFileURL_);
        if (!bookmark) {
            bookmark = rp::FileReference::pathOnlyBookmarkData(*soundFileURL_);
        }
        if (bookmark) {
            coder.encodeData(*bookmark, "OAS_fileBookmark");
        }
    }
    coder.encodeInt32(storedFrameNumber(frameOffset_), "OAS_frameOffset");
    coder.encodeInt32(storedFrameNumber(frameCount_), "OAS_frameCount");
}

OASoundPtr OASound::initWithCoder(rp::KeyedUnarchiver& coder)
{
    const int64_t sfFormat = coder.decodeInt64ForKey("OAS_sfFormat");
    if (sfFormat == 0) {
        // A sound that never had a source is stored in the sequential form, which a keyed
        // archive cannot carry.
        coder.failWithError("OASound: keyed archive without OAS_sfFormat");
        return nullptr;
    }
    auto sound = std::make_shared<OASound>();
    if (auto name = coder.decodeStringForKey("OAS_soundName")) {
        sound->setName(*name);
    }
    sound->setPanning(mixingValue(coder.decodeFloatForKey("OAS_panning"), 0.0f, "panning"));
    sound->setVolume(mixingValue(coder.decodeFloatForKey("OAS_volume"), 1.0f, "volume"));
    const int64_t frames = coder.decodeInt64ForKey("OAS_frames");
    const float sampleRate = coder.decodeFloatForKey("OAS_sampleRate");
    const uint32_t channels = channelCount(coder.decodeInt64ForKey("OAS_channels"));
    sound->diskAudioDesc_.mSampleRate = sampleRate;
    sound->diskAudioDesc_.mChannelsPerFrame = channels;
    sound->legacySndfileFormat_ = sfFormat;
    sound->sourceLengthFrames_
        = frames < 0 ? 0 : std::min<uint64_t>(static_cast<uint64_t>(frames), kMaximumFrames);
    sound->updateTrimmedFrames();

    std::optional<std::filesystem::path> url;
    if (auto bookmark = coder.decodeDataForKey("OAS_fileBookmark")) {
        rp::Error error;
        url = rp::FileReference::resolve(*bookmark, nullptr, &error);
        if (!url) {
            rp::logf("%s failed to resolve bookmark for sound file: %s", "OASound", error.text().c_str());
            url = rp::FileReference::pathStoredInBookmark(*bookmark);
        }
    }
    if (!url) {
        if (auto alias = coder.decodeDataForKey("OAS_fileAlias")) {
            url = rp::FileReference::pathFromAliasRecordData(*alias);
        }
    }
    if (url && !isUsableSoundPath(*url)) {
        url.reset();
    }
    if (url) {
        sound->setSoundFileURL(url);
    } else if (auto packed = coder.decodeDataForKey("OAS_packedBuffer")) {
        sound->setLegacyPackedBuffer(std::make_shared<const std::vector<uint8_t>>(std::move(*packed)),
            sfFormat, frames, sampleRate, channels);
    }
    sound->setFrameOffset(signExtended(coder.decodeInt32ForKey("OAS_frameOffset")));
    sound->setFrameCount(signExtended(coder.decodeInt32ForKey("OAS_frameCount")));
    return sound;
}

OASoundPtr OASound::initWithTypedStream(rp::TypedStreamDecoder& decoder)
{
    auto sound = std::make_shared<OASound>();
    const int64_t version = decoder.currentClassVersion();
    if (auto name = std::dynamic_pointer_cast<rp::ArchivedString>(decoder.decodeObject())) {
        sound->setName(name->value);
    }
    if (version == 0) {
        decoder.decodeObject(); // unused in every version that wrote it
    }
    const int64_t frames = nextInteger(decoder);
    const auto sampleRate = static_cast<double>(nextInteger(decoder));
    const uint32_t channels = channelCount(nextInteger(decoder));
    const int64_t sfFormat = nextInteger(decoder);
    nextInteger(decoder);
    nextInteger(decoder);
    sound->setPanning(mixingValue(nextFloat(decoder), 0.0f, "panning"));
    sound->setVolume(version >= 1 ? mixingValue(nextFloat(decoder), 1.0f, "volume") : 1.0f);
    std::vector<uint8_t> block = nextDataBlock(decoder);
    sound->diskAudioDesc_.mSampleRate = sampleRate;
    sound->diskAudioDesc_.mChannelsPerFrame = channels;
    sound->legacySndfileFormat_ = sfFormat;
    sound->setLegacyPackedBuffer(std::make_shared<const std::vector<uint8_t>>(std::move(block)), sfFormat,
        frames, sampleRate, channels);
    return sound;
}

void OASound::registerArchiveClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        rp::KeyedUnarchiver::registerClass("OASound",
            [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr { return initWithCoder(coder); });
        rp::TypedStreamDecoder::registerClass(
            "OASound", [](rp::TypedStreamDecoder& decoder) -> rp::ArchiveObjectPtr {
                return initWithTypedStream(decoder);
            });
    });
}
