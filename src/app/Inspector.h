#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPInspectorController.h"
#endif

#include <QObject>
#include <QPointer>

#include <memory>

namespace rp::app {

class DrumListPanel;
class KitWindow;
class SongWindow;
class TransportPanel;

// The one transport inspector of the application: its Qt-free controller and the two floating
// panels (transport, drum list) that follow the front song window. Made by the application controller.
class Inspector final : public QObject {
public:
    Inspector();
    ~Inspector() override;

    // The instance (none before the application controller made it or after it went).
    static Inspector* shared();

    // The front song window, or none: with a window both panels show beside it; without, both hide.
    void setDocumentWindow(SongWindow* window);
    // A kit window in front: the drum list shows the kit's drums; the transport hides.
    void setKitWindow(KitWindow* window);
    // A kit window about to go: the drum list panel gives its drum list back first.
    void kitWindowWillClose(KitWindow* window);
    // A window about to go: the panels let go of its editor and drum list first.
    void windowWillClose(SongWindow* window);
    // Change Tempo: the panel comes to the front with the tempo field taking the keyboard.
    void changeTempo();
    // The loop and record toggles follow the defaults (the Song menu's Record changes them too).
    void refreshToggles();

    ORPInspectorController& controller() { return *controller_; }
    TransportPanel* transportPanel() const { return transport_; }
    DrumListPanel* drumListPanel() const { return drumList_; }

private:
    TransportPanel* transport_ = nullptr;
    DrumListPanel* drumList_ = nullptr;
    std::unique_ptr<ORPInspectorController> controller_;
    QPointer<SongWindow> window_;
};

} // namespace rp::app
