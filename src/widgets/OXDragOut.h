#pragma once

#include <QPixmap>
#include <QPoint>

#include <filesystem>
#include <optional>

class QWidget;

namespace rp::widgets {

// Files dragged out of a well are written when the drag starts (X11 has no promised files): each
// drag gets a fresh folder under one private temporary folder that lives as long as the program,
// so the file is still there when the drop target copies it. None when no folder can be made.
std::optional<std::filesystem::path> freshDragOutFolder();

// Runs a copy drag of one local file from `source`, showing `image` with its origin `offset` from
// the mouse. Returns when the drag ends.
void runFileDrag(QWidget* source, const std::filesystem::path& file, const QPixmap& image, QPoint offset);

} // namespace rp::widgets
