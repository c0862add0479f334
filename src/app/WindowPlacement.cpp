#include "app/WindowPlacement.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <vector>

namespace rp::app {

OXRect toOXRect(const QRect& rect)
{
    return OXRect { rect.x(), rect.y(), rect.width(), rect.height() };
}

QRect toQRect(const OXRect& rect)
{
    return QRect(rect.x, rect.y, rect.width, rect.height);
}

void placeDocumentWindow(QWidget* window, const std::optional<OXRect>& fromFile, const std::optional<OXRect>& autosaved,
    const std::function<bool(QWidget*)>& sameKind)
{
    const QRect available = window->screen() ? window->screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    std::optional<OXRect> stored;
    if (fromFile) {
        stored = OXConstrainFrameToScreen(*fromFile, toOXRect(available));
    }
    std::optional<OXRect> remembered;
    if (autosaved) {
        remembered = OXConstrainFrameToScreen(*autosaved, toOXRect(available));
    }
    std::vector<OXRect> others;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != window && widget->isVisible() && sameKind(widget)) {
            others.push_back(toOXRect(widget->geometry()));
        }
    }
    // Without a window manager there is no title bar to measure; the style's height stands in.
    int titleBar = window->frameGeometry().height() - window->geometry().height();
    if (titleBar <= 0) {
        titleBar = window->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    }
    QRect current = window->geometry();
    if (!stored && !remembered) {
        current.moveCenter(available.center());
    }
    window->setGeometry(toQRect(OXCascadeFromSavedFrame(stored, remembered, toOXRect(current), titleBar, others)));
}

} // namespace rp::app
