#pragma once

#include <QFont>

namespace rp::widgets {

// The named family at `pixelSize` when installed, else the preferred fallbacks (Arial, Helvetica,
// Geneva, DejaVu Sans, Liberation Sans), else the desktop's font at 11 pixels. Sizes are in pixels
// (device-independent), as the interface's layouts are measured in points of one pixel.
QFont interfaceFont(const char* family, double pixelSize, bool bold = false);

} // namespace rp::widgets
