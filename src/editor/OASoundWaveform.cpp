#include "editor/OASoundWaveform.h"

#include "foundation/FileNames.h"
#include "foundation/Localization.h"
#include "kit/ORPDrumKit.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace rp::editor {

std::string waveformChannelWording(unsigned channels)
{
    if (channels == 1)
        return localized("mono");
    if (channels == 2)
        return localized("stereo");
    return localizedFormat("%d ch", { static_cast<int64_t>(channels) });
}

std::vector<std::vector<WaveformBar>> waveformColumns(
    const std::vector<int16_t>& samples, unsigned channels, int width, int height)
{
    std::vector<std::vector<WaveformBar>> result;
    if (channels == 0 || width <= 0 || height <= 0)
        return result;
    const size_t frames = samples.size() / channels;
    const size_t perColumn = std::max<size_t>(frames / static_cast<size_t>(width), 1);
    const float half = static_cast<float>(height) / 2.0f;
    const float baseline = half + 0.5f;
    for (unsigned c = 0; c < channels; ++c) {
        std::vector<WaveformBar> bars;
        bars.reserve(static_cast<size_t>(width));
        size_t frame = 0;
        for (int x = 0; x < width; ++x) {
            float low = 0.0f;
            float high = 0.0f;
            // Columns past the last frame have no samples and stay at zero height.
            for (size_t k = 0; k < perColumn && frame < frames; ++k, ++frame) {
                const float value = static_cast<float>(samples[frame * channels + c]) / 32767.0f;
                low = std::min(low, value);
                high = std::max(high, value);
            }
            bars.push_back({ static_cast<float>(x), low * half + baseline, (high - low) * half });
        }
        result.push_back(std::move(bars));
    }
    return result;
}

WaveformPicture computeWaveform(OASound& sound, int viewWidth, int viewHeight)
{
    WaveformPicture picture;
    picture.width = std::max(viewWidth - 16, 0);
    picture.height = std::max(viewHeight - 16, 0);
    picture.name = sound.name();
    const unsigned channels = sound.channels();

    AudioStreamBasicDescription format;
    format.mSampleRate = sound.sampleRate();
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    format.mBitsPerChannel = 16;
    format.mChannelsPerFrame = channels;
    format.mBytesPerFrame = 2 * channels;
    format.mBytesPerPacket = 2 * channels;
    format.mFramesPerPacket = 1;

    // The samples are copied out at once: the list belongs to the sound and goes away with its next
    // decode.
    std::vector<int16_t> samples;
    const AudioBufferList* list
        = channels > 0 && format.mSampleRate > 0 ? sound.bufferListWithAudioStreamDescription(format) : nullptr;
    if (list && list->mBuffers.size() == 1 && list->mBuffers[0].mData) {
        const auto& buffer = list->mBuffers[0];
        samples.resize(buffer.mDataByteSize / sizeof(int16_t));
        std::memcpy(samples.data(), buffer.mData, samples.size() * sizeof(int16_t));
    } else {
        list = nullptr;
    }
    if (!list) {
        picture.empty = true;
        picture.description = localized("Empty waveform (file not found?)");
        return picture;
    }
    picture.alpha = 0.8f / static_cast<float>(channels);
    picture.channels = waveformColumns(samples, channels, picture.width, picture.height);
    const uint32_t bits = sound.sourceAudioStreamDescription().mBitsPerChannel;
    const double kiloHertz = static_cast<double>(sound.sampleRate()) / 1000.0;
    // Compressed sources (FLAC, Ogg) have no fixed sample size: "0 bit" would read as a fault.
    picture.description = bits == 0
        ? localizedFormat("%.1f kHz, %@ (%.1f secs)", { kiloHertz, waveformChannelWording(channels), sound.duration() })
        : localizedFormat("%.1f kHz, %d bit, %@ (%.1f secs)",
              { kiloHertz, static_cast<int64_t>(bits), waveformChannelWording(channels), sound.duration() });
    return picture;
}

void OASoundViewModel::setViewSize(int width, int height)
{
    viewWidth_ = width;
    viewHeight_ = height;
    refresh();
}

void OASoundViewModel::setSound(const OASoundPtr& sound)
{
    sound_ = sound ? sound->copy() : nullptr;
    refresh();
}

void OASoundViewModel::setSoundPreservingAttributes(const OASoundPtr& sound)
{
    const float panning = sound_ ? sound_->panning() : 0.0f;
    const float volume = sound_ ? sound_->volume() : 1.0f;
    setSound(sound);
    if (sound_) {
        sound_->setPanning(panning);
        sound_->setVolume(volume);
    }
}

bool OASoundViewModel::setSoundWithDelegate(const OASoundPtr& sound)
{
    if (shouldSetSound_ && !shouldSetSound_(sound))
        return false;
    if (preservesAttributes_)
        setSoundPreservingAttributes(sound);
    else
        setSound(sound);
    if (action_)
        action_();
    return true;
}

void OASoundViewModel::refresh()
{
    picture_ = WaveformPicture {};
    hasSamples_ = false;
    if (!sound_)
        return;
    picture_ = computeWaveform(*sound_, viewWidth_, viewHeight_);
    hasSamples_ = !picture_.empty && sound_->frames() > 0;
    // The picture keeps its own copy; the decoded 16-bit samples are not needed any more.
    sound_->flushBuffers();
}

void OASoundViewModel::play()
{
    if (hasSamples_ && play_)
        play_(sound_, 1.0f);
}

std::vector<OXMenuItem> OASoundViewModel::menu() const
{
    std::vector<OXMenuItem> items;
    if (hasSamples_ && play_) {
        items.push_back({ localized("Play"), "play:", 0, false });
        items.push_back(OXMenuItem::separatorItem());
    }
    if (editable_)
        items.push_back({ localized("Open Sound..."), "openFromFile:", 0, false });
    if (editable_ && hasSamples_)
        items.push_back({ localized("Save Sound..."), "saveToFile:", 0, false });
    return items;
}

bool OASoundViewModel::acceptsDrop(const std::vector<std::filesystem::path>& files, bool fromThisView) const
{
    if (!editable_ || fromThisView || files.size() != 1)
        return false;
    auto extension = files.front().extension().string();
    if (extension.size() < 2)
        return false;
    extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto types = OASound::unfilteredFileTypes();
    return types && std::find(types->begin(), types->end(), extension) != types->end();
}

bool OASoundViewModel::takeSoundFromFile(const std::filesystem::path& file)
{
    auto sound = OASound::soundWithContentsOfURL(file);
    if (sound->channels() == 0 || sound->sampleRate() <= 0)
        return false;
    return setSoundWithDelegate(sound);
}

std::optional<std::filesystem::path> OASoundViewModel::writeForDragOut(const std::filesystem::path& folder) const
{
    if (!sound_ || !hasSamples_) {
        return std::nullopt;
    }
    const FourCharCode type = sound_->sourceAudioFileType();
    const std::string extension = OASound::fileExtensionForType(type).value_or("wav");
    const std::string stem = std::filesystem::path(sound_->name()).stem().string();
    const std::string base = sanitizedFilename(stem, localized("untitled"));
    const auto target = URLByEnsuringUniqueLocalFilename(folder / (base + "." + extension));
    Error error;
    if (!sound_->writeToURL(target, type, sound_->sourceAudioStreamDescription(), &error)) {
        return std::nullopt;
    }
    return target;
}

} // namespace rp::editor
