#pragma once

// Values the pattern editor's commands and bar dragging hand to the interface.

#include "model/ORPPatternInstance.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Whether a menu item (or button) of an editing command is enabled, and its title when the
// command decides it.
struct ORPMenuItemState {
    bool enabled = true;
    std::optional<std::string> title;
};

// Drag operations, as bit masks (the desktop's copy and move).
enum ORPDragOperation : uint64_t {
    ORPDragOperationNone = 0,
    ORPDragOperationCopy = 1,
    ORPDragOperationMove = 16,
};

// How the image of a bar drag is laid out; the interface paints it. The bars are drawn back to
// front, bar i with its top-left corner at (i x kStep, 0) in the image, each as the normal bar
// drawing. With more than one bar, `label` is drawn centred in `labelBand` (24-point Helvetica,
// grey) over a band of white at 50% opacity. The image is outlined in black and shown at 80%.
struct ORPBarDragImage {
    static constexpr double kStep = 10;
    static constexpr double kOpacity = 0.8;
    static constexpr double kLabelBandOpacity = 0.5;
    static constexpr double kLabelPointSize = 24;
    static constexpr size_t kMaximumBars = 5;

    std::vector<ORPPatternInstancePtr> bars;
    double width = 0;
    double height = 0;
    // Where the image's top-left corner sits in the editor's coordinates.
    double x = 0;
    double y = 0;
    std::string label; // empty for a single bar
    ORPRect labelBand;
};
