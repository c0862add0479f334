#include "player/ORPPlayerEditor.h"

const std::string ORPPatternEditorPatternSelectionChangedNotification
    = "ORPPatternEditorPatternSelectionChangedNotification";
const std::string ORPPatternEditorInsertionPointMovedNotification
    = "ORPPatternEditorInsertionPointMovedNotification";
