#include "editor/ORPMIDITransport.h"

#include "editor/SongDocument.h"
#include "foundation/NotificationCenter.h"

#include <any>
#include <memory>

namespace {

constexpr uint8_t kStart = 0xFA;
constexpr uint8_t kContinue = 0xFB;
constexpr uint8_t kStop = 0xFC;

// MIDI Machine Control: F0 7F <device> 06 <command> ... F7.
constexpr uint8_t kSysEx = 0xF0;
constexpr uint8_t kRealTimeUniversal = 0x7F;
constexpr uint8_t kMMCCommand = 0x06;
constexpr uint8_t kMMCStop = 0x01;
constexpr uint8_t kMMCDeferredPlay = 0x03;
constexpr uint8_t kMMCPause = 0x09;

} // namespace

ORPMIDITransport::Command ORPMIDITransport::commandForMessage(const std::vector<uint8_t>& bytes)
{
    if (bytes.empty())
        return Command::None;
    switch (bytes[0]) {
    case kStart:
    case kContinue:
        return Command::Play;
    case kStop:
        return Command::Stop;
    case kSysEx:
        break;
    default:
        return Command::None;
    }
    if (bytes.size() < 5 || bytes[1] != kRealTimeUniversal || bytes[2] >= 0x80 || bytes[3] != kMMCCommand)
        return Command::None;
    switch (bytes[4]) {
    case kMMCStop:
    case kMMCPause:
        return Command::Stop;
    case kMMCDeferredPlay:
        return Command::Play;
    default:
        return Command::None;
    }
}

ORPMIDITransport::ORPMIDITransport(
    const void* document, std::function<bool()> isPlaying, std::function<void()> togglePlay)
    : document_(document)
    , isPlaying_(std::move(isPlaying))
    , togglePlay_(std::move(togglePlay))
{
    rp::NotificationCenter::defaultCenter().addObserver(this, rp::editor::SongDocumentMIDIPacketNotification,
        document_, [this](const rp::Notification& note) {
            using Message = std::shared_ptr<const rp::editor::SongDocumentMIDIMessage>;
            if (const auto* message = std::any_cast<Message>(&note.userInfo); message && *message)
                processMessage((*message)->bytes);
        });
}

ORPMIDITransport::~ORPMIDITransport()
{
    rp::NotificationCenter::defaultCenter().removeObserver(this);
}

bool ORPMIDITransport::processMessage(const std::vector<uint8_t>& bytes)
{
    const Command command = commandForMessage(bytes);
    if (command == Command::None || !togglePlay_)
        return false;
    const bool playing = isPlaying_ && isPlaying_();
    if ((command == Command::Play) == playing)
        return false;
    togglePlay_();
    return true;
}
