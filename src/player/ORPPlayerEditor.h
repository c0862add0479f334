#pragma once

#include "model/ORPPatternInstance.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the player reads from the pattern editor that owns it: the bars to play and where to start.
// The pattern editor implements it; the command-line tool and the tests implement it too. Called on
// the main thread only.
class ORPPlayerEditor {
public:
    virtual ~ORPPlayerEditor() = default;
    virtual bool hasSelection() const = 0;
    virtual std::vector<ORPPatternInstancePtr> selectedPatternInstances() const = 0;
    virtual std::vector<ORPPatternInstancePtr> patternInstances() const = 0;
    // The bar (an index into patternInstances()) holding the insertion point, or none when the editor
    // has no insertion point; playing without a selection starts there, or from the top without one.
    virtual std::optional<uint64_t> insertionPointIndex() const = 0;
    // The place in that bar; read only when there is an insertion point.
    virtual float insertionPointPlace() const = 0;
};

// Posted by the editor, with the editor (the ORPPlayerEditor*) as object, when its selection changes
// and when its insertion point moves. A playing player restarts from the new place.
extern const std::string ORPPatternEditorPatternSelectionChangedNotification;
extern const std::string ORPPatternEditorInsertionPointMovedNotification;
