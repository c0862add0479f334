#pragma once

#include "audio/OAOutput.h"

#include <memory>
#include <string>
#include <vector>

struct sf_private_tag;

class OAFileOutput;
using OAFileOutputPtr = std::shared_ptr<OAFileOutput>;

// The output that renders into an audio file instead of a device. Nothing runs in real time: each
// cueToFrame pulls the pending mixed frames and appends them to the file, then writes silence up to
// the frame. An export is a series of playSound calls in time order.
class OAFileOutput final : public OAOutput {
public:
    // Refused: a file output needs a type and a data format. Logs and returns null.
    static OAFileOutputPtr init();
    // Mixes in float at the description's rate and channel count; no file yet.
    static OAFileOutputPtr initWithFileType(
        FourCharCode fileType, const AudioStreamBasicDescription& description);
    // The above, then openWithFileName.
    static OAFileOutputPtr initWithFileName(
        const std::string& fileName, FourCharCode fileType, const AudioStreamBasicDescription& description);
    ~OAFileOutput() override;

    // Creates (or erases and recreates) the file; on success the previous file is closed and the
    // clock starts again at 0. Audio still pending in the rings stays there.
    bool openWithFileName(const std::string& fileName);
    // Finishes the file (headers written, data flushed); no file afterwards.
    void close();

    // Renders and appends frames until the file reaches `frame`, silence where the rings run dry.
    void cueToFrame(uint64_t frame) override;

    const std::string& filename() const { return filename_; }
    bool isOpen() const { return audiofile_ != nullptr; }
    FourCharCode audioFileType() const { return audiofiletype_; }
    const AudioStreamBasicDescription& outputStreamDescription() const { return outputStreamDesc_; }

    // Frames per rendered or silent slice.
    static constexpr uint32_t kSliceFrames = 1024;

    // The libsndfile format for a container type and data format; 0 when there is none.
    static int sndfileFormatFor(FourCharCode fileType, const AudioStreamBasicDescription& description);

private:
    OAFileOutput() = default;
    // Writes `frames` frames from bufferList_ to the file; 0 or an error code.
    int writeBufferList(uint32_t frames);

    std::string filename_;
    sf_private_tag* audiofile_ = nullptr;
    FourCharCode audiofiletype_ = 0;
    AudioStreamBasicDescription outputStreamDesc_ {};
    AudioBufferList bufferList_;
    std::vector<std::vector<float>> sliceBuffers_;
    std::vector<float> interleaved_;
};
