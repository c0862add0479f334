#include "kit/ORPDrum.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/TextCompare.h"
#include "kit/ORPUserDefaults.h"

#include <fstream>
#include <iterator>

namespace {

// Image resources are small; anything bigger is not an icon.
constexpr std::uintmax_t kMaximumImageResourceBytes = 16u << 20;

std::optional<std::string> nonEmpty(std::optional<std::string> text)
{
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

ORPDrum::ORPDrum()
    : typeName_(rp::localized("New instrument"))
    , variantName_(rp::localized("default"))
    , groupName_(rp::localized("New group"))
{
}

ORPDrumPtr ORPDrum::copy() const
{
    auto drum = std::make_shared<ORPDrum>();
    drum->typeName_ = typeName_;
    drum->variantName_ = variantName_;
    drum->groupName_ = groupName_;
    drum->shortcutKey_ = shortcutKey_;
    drum->legacyGridPosition_ = legacyGridPosition_;
    drum->defaultVar_ = defaultVar_;
    drum->sound_ = sound_ ? sound_->copy() : nullptr;
    drum->midiChannel_ = midiChannel_;
    drum->midiNote_ = midiNote_;
    drum->midiVelocity_ = midiVelocity_;
    drum->linkAudioOnly_ = linkAudioOnly_;
    drum->variantPrecedence_ = variantPrecedence_;
    drum->sourceImage_ = sourceImage_;
    return drum;
}

void ORPDrum::setLegacyGridPosition(int64_t position)
{
    legacyGridPosition_ = static_cast<int16_t>(position % 5);
}

void ORPDrum::setShortcutKey(const std::optional<std::string>& key)
{
    shortcutKey_ = nonEmpty(key);
}

OASoundPtr ORPDrum::sound() const
{
    return sound_ ? sound_ : defaultSound();
}

std::optional<ORPImageData> ORPDrum::sourceImage() const
{
    return sourceImage_ ? sourceImage_ : defaultImage();
}

void ORPDrum::setSourceImage(const std::optional<ORPImageData>& image)
{
    sourceImage_ = image;
    iconCache_.reset();
}

std::string ORPDrum::compositeName() const
{
    if (variantName_ != "default" && !variantName_.empty()) {
        return rp::localizedFormat("%@ (%@)", { typeName_, variantName_ });
    }
    return typeName_;
}

bool ORPDrum::isSameTypeAs(const ORPDrum* other) const
{
    return other && rp::equalIgnoringCase(typeName_, other->typeName_);
}

bool ORPDrum::isSameTypeAndVariantAs(const ORPDrum* other) const
{
    return other && rp::equalIgnoringCase(typeName_, other->typeName_)
        && rp::equalIgnoringCase(variantName_, other->variantName_);
}

ORPDrumPtr ORPDrum::encodeSparse()
{
    encodeSparse_ = true;
    return std::static_pointer_cast<ORPDrum>(shared_from_this());
}

OASoundPtr ORPDrum::defaultSound()
{
    return OASound::soundWithContentsOfURL(
        ORPUserDefaults::applicationResourcesDirectory() / "DefaultDrumSound.aiff");
}

std::optional<ORPImageData> ORPDrum::defaultImage()
{
    const auto directory = ORPUserDefaults::applicationResourcesDirectory();
    for (const char* name : { "DefaultDrumIcon.png", "DefaultDrumIcon.tiff", "DefaultDrumIcon.svg" }) {
        const auto path = directory / name;
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        if (error || size > kMaximumImageResourceBytes) {
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        ORPImageData bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) {
            continue;
        }
        return bytes;
    }
    return std::nullopt;
}

bool ORPDrum::derivedVariantPrecedence(const std::string& typeName, const std::string& variantName)
{
    return (typeName == "hi hat" && variantName == "closed")
        || variantName.find("muted") != std::string::npos;
}

void ORPDrum::applyMissingGroupName()
{
    std::string format = rp::localized("Group %d");
    const auto at = format.find("%d");
    if (at != std::string::npos) {
        format.replace(at, 2, std::to_string(legacyGridPosition_ + 1));
    }
    groupName_ = format;
}

void ORPDrum::setMIDIFromFile(int64_t channel, int64_t note, int64_t velocity)
{
    // A channel outside 0..15 (other than -1) cannot be sent; notes and velocities are 7-bit.
    if (channel < -1 || channel > 15) {
        rp::logf("ORPDrum: MIDI channel %lld of %s is out of range; the drum has no MIDI mapping",
            static_cast<long long>(channel), compositeName().c_str());
        channel = -1;
    }
    if (note < -1 || note > 127) {
        rp::logf("ORPDrum: MIDI note %lld of %s is out of range; using -1", static_cast<long long>(note),
            compositeName().c_str());
        note = -1;
    }
    if (velocity < -1 || velocity > 127) {
        rp::logf("ORPDrum: MIDI velocity %lld of %s is out of range; using -1",
            static_cast<long long>(velocity), compositeName().c_str());
        velocity = -1;
    }
    midiChannel_ = static_cast<int8_t>(channel);
    midiNote_ = static_cast<int8_t>(note);
    midiVelocity_ = static_cast<int8_t>(velocity);
}

void ORPDrum::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeString(groupName_, "ORPD_groupName");
    coder.encodeString(typeName_, "ORPD_typeName");
    coder.encodeString(variantName_, "ORPD_varName");
    if (!encodeSparse_) {
        coder.encodeInt32(legacyGridPosition_, "ORPD_gridPos");
        coder.encodeBool(variantPrecedence_, "ORPD_varPrecedence");
        coder.encodeBool(linkAudioOnly_, "ORPD_linkedAudio");
        if (sound_) {
            coder.encodeObject(sound_, "ORPD_sound");
        }
        if (sourceImage_) {
            coder.encodeData(*sourceImage_, "ORPD_image");
        }
        if (shortcutKey_) {
            coder.encodeString(*shortcutKey_, "ORPD_shortcutKey");
        }
        coder.encodeBool(defaultVar_, "ORPD_defVar");
    }
    coder.encodeInt32(midiChannel_, "ORPD_midiChannel");
    coder.encodeInt32(midiNote_, "ORPD_midiNote");
    coder.encodeInt32(midiVelocity_, "ORPD_midiVelocity");
    encodeSparse_ = false;
}

ORPDrumPtr ORPDrum::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto drum = std::make_shared<ORPDrum>();
    drum->typeName_ = coder.decodeStringForKey("ORPD_typeName").value_or(std::string());
    drum->variantName_ = coder.decodeStringForKey("ORPD_varName").value_or(std::string());
    drum->setLegacyGridPosition(coder.decodeInt64ForKey("ORPD_gridPos"));
    if (auto group = coder.decodeStringForKey("ORPD_groupName")) {
        drum->groupName_ = *group;
    } else {
        drum->applyMissingGroupName();
    }
    if (coder.containsValueForKey("ORPD_varPrecedence")) {
        drum->variantPrecedence_ = coder.decodeBoolForKey("ORPD_varPrecedence");
    } else {
        drum->variantPrecedence_ = derivedVariantPrecedence(drum->typeName_, drum->variantName_);
    }
    drum->linkAudioOnly_ = coder.decodeBoolForKey("ORPD_linkedAudio");
    drum->sound_ = coder.decodeObjectOfClassForKey<OASound>("ORPD_sound");
    if (auto image = coder.decodeDataForKey("ORPD_image")) {
        drum->sourceImage_ = std::move(*image);
    }
    drum->shortcutKey_ = nonEmpty(coder.decodeStringForKey("ORPD_shortcutKey"));
    drum->defaultVar_ = coder.decodeBoolForKey("ORPD_defVar");
    if (coder.containsValueForKey("ORPD_midiChannel")) {
        drum->setMIDIFromFile(coder.decodeInt64ForKey("ORPD_midiChannel"),
            coder.decodeInt64ForKey("ORPD_midiNote"), coder.decodeInt64ForKey("ORPD_midiVelocity"));
    } else {
        drum->setMIDIFromFile(-1, -1, -1);
    }
    return drum;
}

ORPDrumPtr ORPDrum::initWithTypedStream(rp::TypedStreamDecoder& decoder)
{
    auto drum = std::make_shared<ORPDrum>();
    drum->typeName_ = decoder.decodeStringObject().value_or(std::string());
    drum->variantName_ = decoder.decodeStringObject().value_or(std::string());
    drum->setLegacyGridPosition(decoder.decodeInteger('s'));
    decoder.decodeFloat();
    rp::ArchiveObjectPtr sound = decoder.decodeObject();
    if (sound && sound->archiveClassName() == "OASound") {
        drum->sound_ = std::dynamic_pointer_cast<OASound>(sound);
    }
    rp::ArchiveObjectPtr image = decoder.decodeObject();
    if (auto data = std::dynamic_pointer_cast<rp::ArchivedData>(image)) {
        drum->sourceImage_ = data->bytes;
    }
    drum->shortcutKey_ = nonEmpty(decoder.decodeStringObject());
    drum->defaultVar_ = decoder.decodeInteger('c') != 0;
    drum->applyMissingGroupName();
    drum->variantPrecedence_ = derivedVariantPrecedence(drum->typeName_, drum->variantName_);
    return drum;
}
