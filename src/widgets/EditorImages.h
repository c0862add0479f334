#pragma once

#ifndef Q_MOC_RUN
#include "kit/ORPDrum.h"
#endif

#include <QColor>
#include <QCursor>
#include <QImage>
#include <QPixmap>

#include <string>

namespace rp::widgets {

// The pattern editor's and the drum list's own images, all drawn here with QPainter at the device
// pixel ratio asked for (sizes are in points): drum icons and cursors, the note images of the beat
// bases, the editor's cursors and the drum list's pop-up arrow.
class EditorImages {
public:
    static constexpr int kIconSize = 18;
    static constexpr int kNoteSize = 16;
    static constexpr int kCursorSize = 16;

    // The drum's icon, 18 x 18 points: its kit image scaled to fit and centred, or, when it has none
    // or the bytes are no image, a disc in its group's colour with the instrument's initial. Cached
    // on the drum (a new source image empties the cache).
    static QImage drumIcon(const ORPDrum& drum, qreal devicePixelRatio);
    // The drum's cursor: its icon with the hot spot at its centre (9, 9). Cached on the drum and made
    // again when the icon changed.
    static QCursor drumCursor(const ORPDrum& drum, qreal devicePixelRatio);
    // The fallback colour of a group: the same name always gives the same calm colour.
    static QColor groupColor(const std::string& groupName);

    // The named editor cursors: "ibeamcursor" (hot spot 2, 10), "trianglecursor" (8, 7), "pencil" and
    // "pencilgrey" (2, 13). An unknown name gives the arrow.
    static QCursor cursor(const std::string& name, qreal devicePixelRatio);
    // The image of a named cursor (null for an unknown name) and its hot spot in points.
    static QPixmap cursorPixmap(const std::string& name, qreal devicePixelRatio);
    static QPoint cursorHotSpot(const std::string& name);

    // The note value of a beat basis (quarter, dotted eighth, ...), 16 x 16 points, cached per basis
    // and ratio. A basis outside the table gives a null image.
    static QImage beatBasisIcon(float beatBasis, qreal devicePixelRatio);
    // The same by image name ("note-4", "note-8dot", ...).
    static QImage noteImage(const std::string& name, qreal devicePixelRatio);

    // "popup-arrow": the small up-and-down arrows of a row with variants, 7 x 11 points.
    static QPixmap popupArrow(qreal devicePixelRatio);
};

} // namespace rp::widgets
