#include "editor/ORPMIDINoteRecorder.h"

#include "editor/ORPDrumPicker.h"
#include "editor/ORPPatternEditor.h"
#include "editor/SongDocument.h"
#include "foundation/NotificationCenter.h"
#include "player/ORPPlayer.h"

ORPMIDINoteRecorder::ORPMIDINoteRecorder(const void* document, std::weak_ptr<ORPPatternEditor> editor)
    : document_(document)
    , editor_(std::move(editor))
{
    rp::NotificationCenter::defaultCenter().addObserver(
        this, rp::editor::SongDocumentMIDIPacketNotification, document_, [this](const rp::Notification& note) {
            using Message = std::shared_ptr<const rp::editor::SongDocumentMIDIMessage>;
            if (const auto* message = std::any_cast<Message>(&note.userInfo); message && *message)
                processMessage((*message)->bytes);
        });
}

ORPMIDINoteRecorder::~ORPMIDINoteRecorder()
{
    rp::NotificationCenter::defaultCenter().removeObserver(this);
}

ORPDrumPtr ORPMIDINoteRecorder::processMessage(const std::vector<uint8_t>& bytes)
{
    // A note-on is three bytes: status 0x9n, then two data bytes (below 0x80).
    if (bytes.size() < 3 || (bytes[0] & 0xF0) != 0x90 || bytes[1] >= 0x80 || bytes[2] >= 0x80 || bytes[2] == 0)
        return nullptr;
    const auto editor = editor_.lock();
    if (!editor || !editor->drumPicker())
        return nullptr;
    const ORPDrumPtr drum = editor->drumPicker()->chooseDefaultDrumWithMIDIChannel(bytes[0] & 0x0F, bytes[1]);
    if (!drum)
        return nullptr;
    if (editor->recordEnabled())
        editor->recordAndPlayDrum(drum);
    else if (editor->player())
        editor->player()->playDrumSound(drum, 1.0f);
    return drum;
}
