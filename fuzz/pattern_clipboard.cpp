// Bars on the clipboard from hostile bytes: whatever decodes is pasted as drums (lined up beat by
// beat, with selections and time signatures as the bytes say) and as bars into a small song.

#include "editor/ORPPatternEditor.h"
#include "editor/PasteboardTypes.h"
#include "foundation/Logger.h"
#include "foundation/NotificationQueue.h"
#include "foundation/UndoManager.h"
#include "foundation/UserDefaults.h"
#include "model/ORPSectionMarker.h"
#include "model/ORPSong.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>

namespace {

class Document : public ORPSongDocument {
public:
    rp::UndoManager* undoManager() override { return &undo; }
    rp::UndoManager undo;
};

ORPDrumPtr drum(const char* group, const char* type, const char* variant)
{
    auto result = ORPDrum::drum();
    result->setGroupName(group);
    result->setTypeName(type);
    result->setVariantName(variant);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static rp::UserDefaults* defaults = [] {
        rp::Logger::setSink([](const std::string&) {});
        ORPSong::setDefaultKitProvider({});
        char folder[] = "/tmp/rp-fuzz-clipboard-XXXXXX";
        const char* made = ::mkdtemp(folder);
        return new rp::UserDefaults(std::filesystem::path(made ? made : "/tmp") / "defaults.plist");
    }();

    const std::span<const uint8_t> bytes(data, size);
    if (ORPPatternEditor::instancesFromPasteboardData(bytes, nullptr).empty())
        return 0;

    auto document = std::make_shared<Document>();
    document->undo.setGroupsByEvent(false);
    auto song = ORPSong::song();
    song->setDocument(document);
    auto kit = ORPDrumKit::kit();
    // Names the sample archives use, so some drums match and the paste goes through.
    for (const auto& member : { drum("Kicks", "Kick", "Hard"), drum("Snares", "Snare", "Plain") })
        kit->addDrum(member);
    song->setDrumKit(kit, {});
    auto section = song->sectionList()[0];
    auto short3 = ORPPattern::pattern();
    short3->setTimeSignatureTop(3, 4);
    section->insertPatterns({ short3, ORPPattern::pattern() }, 1);

    ORPDetachedPatternEditorView view;
    auto editor = std::make_shared<ORPPatternEditor>(view, *defaults);
    auto board = std::make_shared<rp::editor::ORPMemoryPasteboard>();
    editor->setPasteboard(board);
    editor->setEditedObjects({ song->sectionMarkerList()[0] }, kit);
    for (const char* type : { rp::editor::ORPPattisForDrumsPboardType, rp::editor::ORPPattisForBarsPboardType }) {
        board->declareTypes({ type });
        board->setData(type, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        editor->moveInsertionPointToPlace(0.5f, editor->instances().front());
        (void)editor->paste();
        (void)editor->pasteOver();
        while (document->undo.canUndo())
            document->undo.undo();
    }
    rp::NotificationQueue::defaultQueue().flush();
    return 0;
}
