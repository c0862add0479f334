#include "app/Inspector.h"

#include "app/DrumListPanel.h"
#include "app/KitWindow.h"
#include "widgets/DrumPickerView.h"
#include "app/PatternEditorHost.h"
#include "app/SongWindow.h"
#include "app/TransportPanel.h"
#include "editor/ORPPatternEditor.h"
#include "foundation/UserDefaults.h"

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
        transport_->setSnappableToWindow(nullptr);
        transport_->orderOut();
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
    transport_->setSnappableToWindow(window);
    transport_->orderFront();
}

void Inspector::setKitWindow(KitWindow* window)
{
    setDocumentWindow(nullptr);
    drumList_->showPicker(window ? window->drumPickerView() : nullptr, window);
}

void Inspector::kitWindowWillClose(KitWindow* window)
{
    if (drumList_->picker() && drumList_->picker() == window->drumPickerView()) {
        drumList_->showPicker(nullptr, nullptr);
    }
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

} // namespace rp::app
