#include "editor/ORPPatternEditor.h"

#include "editor/ORPDrumPicker.h"
#include "player/ORPPlayer.h"

bool ORPPatternEditor::drumShortcutKeyDown(const std::string& key, ORPEditorModifiers modifiers)
{
    if (key.empty() || !drumPicker_)
        return false;
    const ORPDrumPtr drum
        = modifiers.option ? drumPicker_->chooseNextDrumWithShortcut(key) : drumPicker_->chooseDrumWithShortcut(key);
    if (!drum)
        return false;
    if (player_)
        player_->playDrumSound(drum, modifiers.option ? defaultVelocity() : 1.0f);
    // The cursor and the current drum follow the new choice at once.
    refreshHover();
    return true;
}
