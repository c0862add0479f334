#pragma once

#include "archive/ArchiveObject.h"
#include "archive/KeyedCoding.h"
#include "audio/OASound.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rp {
class KeyedUnarchiver;
class TypedStreamDecoder;
} // namespace rp

class ORPDrum;
using ORPDrumPtr = std::shared_ptr<ORPDrum>;

// Encoded image bytes (PNG, TIFF ...) as the kit supplies them. The interface decodes them and
// makes the 18-point icon and the cursor; the model only keeps and archives the bytes.
using ORPImageData = std::vector<uint8_t>;

// One variant of one instrument of one group of a kit: a sound, an icon, a keyboard shortcut and a
// MIDI mapping. Identified by type name and variant name.
class ORPDrum : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    static constexpr int kClassVersion = 1;

    // A drum with the values of a new drum: "New instrument", "default", "New group", no MIDI.
    ORPDrum();
    ~ORPDrum() override = default;
    ORPDrum(const ORPDrum&) = delete;
    ORPDrum& operator=(const ORPDrum&) = delete;

    static ORPDrumPtr drum() { return std::make_shared<ORPDrum>(); }

    // A new drum with the same names, shortcut, grid position, default flag, MIDI values, link flag,
    // precedence, a copy of the sound and of the source image. Caches start empty, not sparse.
    ORPDrumPtr copy() const;

    std::string archiveClassName() const override { return "ORPDrum"; }

    const std::string& groupName() const { return groupName_; }
    void setGroupName(const std::string& name) { groupName_ = name; }
    const std::string& typeName() const { return typeName_; }
    void setTypeName(const std::string& name) { typeName_ = name; }
    const std::string& variantName() const { return variantName_; }
    void setVariantName(const std::string& name) { variantName_ = name; }

    int16_t legacyGridPosition() const { return legacyGridPosition_; }
    // Stores the value modulo 5 (truncating remainder: 7 -> 2, -7 -> -2).
    void setLegacyGridPosition(int64_t position);

    bool variantPrecedence() const { return variantPrecedence_; }
    void setVariantPrecedence(bool precedence) { variantPrecedence_ = precedence; }

    const std::optional<std::string>& shortcutKey() const { return shortcutKey_; }
    // An empty string is stored as none.
    void setShortcutKey(const std::optional<std::string>& key);

    bool linkAudioOnly() const { return linkAudioOnly_; }
    void setLinkAudioOnly(bool linked) { linkAudioOnly_ = linked; }

    // The drum's sound; when it has none, a fresh default sound on every call.
    OASoundPtr sound() const;
    // The stored sound only (null when none).
    const OASoundPtr& storedSound() const { return sound_; }
    void setSound(OASoundPtr sound) { sound_ = std::move(sound); }

    int8_t midiChannel() const { return midiChannel_; }
    void setMidiChannel(int8_t channel) { midiChannel_ = channel; }
    int8_t midiNote() const { return midiNote_; }
    void setMidiNote(int8_t note) { midiNote_ = note; }
    int8_t midiVelocity() const { return midiVelocity_; }
    void setMidiVelocity(int8_t velocity) { midiVelocity_ = velocity; }
    bool hasMIDI() const { return midiChannel_ >= 0; }
    // Only the channel: note and velocity stay as they are.
    void setNoMIDI() { midiChannel_ = -1; }

    bool isDefaultVarForType() const { return defaultVar_; }
    void setDefaultVarForType(bool isDefault) { defaultVar_ = isDefault; }

    // The source image, or the default image when there is none (may still be none when the
    // application has no default icon).
    std::optional<ORPImageData> sourceImage() const;
    const std::optional<ORPImageData>& storedSourceImage() const { return sourceImage_; }
    // Also empties the icon cache (not the cursor cache).
    void setSourceImage(const std::optional<ORPImageData>& image);

    // Caches filled by the interface (an 18 x 18 icon, a cursor); opaque to the model.
    const std::shared_ptr<void>& iconCache() const { return iconCache_; }
    void setIconCache(std::shared_ptr<void> icon) const { iconCache_ = std::move(icon); }
    const std::shared_ptr<void>& cursorCache() const { return cursorCache_; }
    void setCursorCache(std::shared_ptr<void> cursor) const { cursorCache_ = std::move(cursor); }

    // "type (variant)", or the type name alone when the variant is "default" or empty.
    std::string compositeName() const;
    std::string description() const { return compositeName(); }

    // Type names equal ignoring case; false for no drum.
    bool isSameTypeAs(const ORPDrum* other) const;
    bool isSameTypeAs(const ORPDrumPtr& other) const { return isSameTypeAs(other.get()); }
    // Type and variant names equal ignoring case; false for no drum.
    bool isSameTypeAndVariantAs(const ORPDrum* other) const;
    bool isSameTypeAndVariantAs(const ORPDrumPtr& other) const { return isSameTypeAndVariantAs(other.get()); }

    // Asks for the next archiving pass to write only the names and the MIDI mapping; returns this
    // drum so callers can archive the result in its place.
    ORPDrumPtr encodeSparse();
    bool isEncodingSparse() const { return encodeSparse_; }

    // A new sound from the application resource "DefaultDrumSound.aiff".
    static OASoundPtr defaultSound();
    // The bytes of the application image resource "DefaultDrumIcon", or none.
    static std::optional<ORPImageData> defaultImage();

    // The variant-precedence rule for drums archived without it.
    static bool derivedVariantPrecedence(const std::string& typeName, const std::string& variantName);

    void encodeWithCoder(rp::KeyedArchiver& coder) const override;
    static ORPDrumPtr initWithCoder(rp::KeyedUnarchiver& coder);
    static ORPDrumPtr initWithTypedStream(rp::TypedStreamDecoder& decoder);

private:
    void applyMissingGroupName();
    // Stores MIDI values read from a file, repairing what the fields cannot hold.
    void setMIDIFromFile(int64_t channel, int64_t note, int64_t velocity);

    std::string typeName_;
    std::string variantName_;
    std::string groupName_;
    int16_t legacyGridPosition_ = 0;
    bool variantPrecedence_ = false;
    OASoundPtr sound_;
    bool linkAudioOnly_ = false;
    int8_t midiChannel_ = -1;
    int8_t midiNote_ = -1;
    int8_t midiVelocity_ = -1;
    std::optional<std::string> shortcutKey_;
    bool defaultVar_ = false;
    std::optional<ORPImageData> sourceImage_;
    mutable std::shared_ptr<void> iconCache_;
    mutable std::shared_ptr<void> cursorCache_;
    mutable bool encodeSparse_ = false;
};
