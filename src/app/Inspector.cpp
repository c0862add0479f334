#include "app/Inspector.h"

#include "app/DrumListPanel.h"
#include "widgets/DrumPickerView.h"
#include "app/PatternEditorHost.h"
#include "app/SongWindow.h"
#include "app/TransportPanel.h"
#include "editor/ORPPatternEditor.h"
#include "foundation/UserDefaults.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace rp::app {

namespace {
Inspector* theInspector = nullptr;
}

Inspector::Inspector()
{
    transport_ = new TransportPanel;
    drumList_ = new DrumListPanel;
    controller_ = std::make_unique<ORPInspectorController>(*transport_, UserDefaults::standard());
    transport_->setController(controller_.get());
    theInspector = this;
}

Inspector::~Inspector()
{
    if (theInspector == this)
        theInspector = nullptr;
    setDocumentWindow(nullptr);
    transport_->setController(nullptr);
    controller_.reset();
    delete transport_;
    delete drumList_;
}

Inspector* Inspector::shared()
{
    return theInspector;
}

void Inspector::setDocumentWindow(SongWindow* window)
{
    if (window_ && window_ != window && window_->patternEditor())
        window_->patternEditor()->editor()->setShowPlayingInstanceHook({});
    window_ = window;
    drumList_->showPicker(window ? window->drumPickerView() : nullptr, window);
    if (!window) {
        controller_->setPatternEditor(nullptr);
        transport_->setEditorWindow(nullptr);
        transport_->setCommandHandler({});
        transport_->hide();
        return;
    }
    const auto& editor = window->patternEditor()->editor();
    editor->setShowPlayingInstanceHook(
        [this](const ORPPatternInstancePtr& instance, float place) { controller_->showPlayingInstance(instance, place); });
    transport_->setEditorWindow(window);
    QPointer<SongWindow> target = window;
    transport_->setCommandHandler([target](const std::string& action) {
        if (target)
            target->performEditorAction(action);
    });
    controller_->setPatternEditor(editor);
    refreshToggles();
    placeTransportPanel(window);
    if (!transport_->isVisible())
        transport_->show();
}

void Inspector::windowWillClose(SongWindow* window)
{
    if (window == window_)
        setDocumentWindow(nullptr);
}

void Inspector::changeTempo()
{
    if (window_)
        transport_->focusTempoField();
}

void Inspector::refreshToggles()
{
    transport_->refreshToggles();
}

void Inspector::placeTransportPanel(const SongWindow* window)
{
    const QRect frame = window->frameGeometry();
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    const QSize size = transport_->frameGeometry().size().expandedTo(transport_->size());
    int y = frame.bottom() + 1;
    if (y + size.height() > available.bottom())
        y = std::max(available.top(), frame.top() - size.height());
    const int x = std::clamp(frame.left(), available.left(), std::max(available.left(), available.right() - size.width()));
    transport_->move(x, y);
}

} // namespace rp::app
