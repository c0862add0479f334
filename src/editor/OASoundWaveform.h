#pragma once

#include "audio/OASound.h"
#include "editor/OXBrowserModel.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rp::editor {

// One filled column of a channel: x, from y with a height (picture coordinates, y up).
struct WaveformBar {
    float x = 0;
    float y = 0;
    float height = 0;
};

// What the sound view paints: per channel a bar per column at a fill alpha, the description and
// the sound's name, or the empty-waveform message. Computed from a copy of the samples; it holds
// nothing of the sound's buffers.
struct WaveformPicture {
    int width = 0;  // W: the view's width less 16
    int height = 0; // H: the view's height less 16
    bool empty = false; // the samples could not be produced: both texts are drawn in red
    float alpha = 0; // 0.8 / channel count
    std::vector<std::vector<WaveformBar>> channels;
    std::string description; // "44.1 kHz, 16 bit, stereo (1.5 secs)", or the empty-waveform message
    std::string name;
};

// The channel wording of the description: "mono", "stereo", else "%d ch".
std::string waveformChannelWording(unsigned channels);

// The picture for a sound in a view of the given size. Decodes `sound` to 16-bit interleaved
// samples (which replaces its decoded copy: pass the view's own copy, never a sound that is playing).
WaveformPicture computeWaveform(OASound& sound, int viewWidth, int viewHeight);

// The min/max columns of 16-bit interleaved samples: `frames` frames of `channels` channels.
std::vector<std::vector<WaveformBar>> waveformColumns(
    const std::vector<int16_t>& samples, unsigned channels, int width, int height);

// The sound well of the kit editor without its widget: it holds a copy of the sound it shows,
// asks its delegate before taking a new one, keeps volume and panning when asked to, and says
// which of its menu items apply. Main thread only.
class OASoundViewModel {
public:
    // Answers whether a new sound may replace the current one.
    using ShouldSetSound = std::function<bool(const OASoundPtr&)>;
    using Action = std::function<void()>;
    using Play = std::function<void(const OASoundPtr&, float volume)>;

    void setDelegate(ShouldSetSound shouldSetSound) { shouldSetSound_ = std::move(shouldSetSound); }
    void setAction(Action action) { action_ = std::move(action); }
    // Where the view plays; without it playing is unavailable.
    void setSpeaker(Play play) { play_ = std::move(play); }
    void setEditable(bool editable) { editable_ = editable; }
    bool isEditable() const { return editable_; }
    void setPreservesAttributes(bool preserves) { preservesAttributes_ = preserves; }
    bool preservesAttributes() const { return preservesAttributes_; }
    void setViewSize(int width, int height);

    const OASoundPtr& sound() const { return sound_; }
    // Stores a copy (none clears) and rebuilds the picture.
    void setSound(const OASoundPtr& sound);
    // Sets a copy that keeps the current sound's volume and panning.
    void setSoundPreservingAttributes(const OASoundPtr& sound);
    // The delegate may refuse (false, nothing changes); otherwise the sound is set (keeping the
    // attributes when asked to) and the action sent.
    bool setSoundWithDelegate(const OASoundPtr& sound);

    const WaveformPicture& picture() const { return picture_; }
    bool hasSamples() const { return hasSamples_; }

    void play();
    // "Play" and a separator with samples and a speaker; "Open Sound..." when editable; "Save
    // Sound..." when editable with samples.
    std::vector<OXMenuItem> menu() const;

    // A drag of files may be dropped when the view is editable, the drag is not its own, and it
    // carries exactly one file whose extension is a sound file type.
    bool acceptsDrop(const std::vector<std::filesystem::path>& files, bool fromThisView) const;
    // A dropped or opened file: a sound that cannot be read leaves the current one in place.
    bool takeSoundFromFile(const std::filesystem::path& file);

    // A drag out can start only when there are samples to write.
    bool canDragOut() const { return hasSamples_; }
    // Writes the sound for a drag out into `folder`, in its source file type and format, under its
    // name made safe and unique there; the file written, or none when writing failed.
    std::optional<std::filesystem::path> writeForDragOut(const std::filesystem::path& folder) const;

private:
    void refresh();

    OASoundPtr sound_;
    WaveformPicture picture_;
    bool hasSamples_ = false;
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    bool editable_ = true;
    bool preservesAttributes_ = false;
    ShouldSetSound shouldSetSound_;
    Action action_;
    Play play_;
};

} // namespace rp::editor
