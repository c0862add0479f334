#pragma once

#ifndef Q_MOC_RUN
#include "editor/OXWindowFrame.h"
#endif

#include <QRect>

#include <functional>
#include <optional>

class QWidget;

namespace rp::app {

OXRect toOXRect(const QRect& rect);
QRect toQRect(const OXRect& rect);

// Places a document window where it was: the frame stored with its file, else the frame saved
// under its autosave name, else centred on its screen; then moved down and right off any visible
// window of the same kind (`sameKind`) that already stands there. Both frames are kept on screen.
void placeDocumentWindow(QWidget* window, const std::optional<OXRect>& fromFile, const std::optional<OXRect>& autosaved,
    const std::function<bool(QWidget*)>& sameKind);

} // namespace rp::app
