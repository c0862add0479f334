#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include <nlohmann/json.hpp>
#endif

#include <functional>
#include <vector>

class QWidget;

namespace rp::app {

// Writes a JSON description of what is on screen to the file named by RATTLEPAN_UI_PROBE, so that
// end-to-end tests find windows, controls, menus and dialogs without guessing pixels. The file is
// rewritten atomically after layout changes and repaints, at most 20 times a second. Without the
// variable the probe is never created and costs nothing.
//
// Controls are widgets with a "probeName" property; windows say what they are through "probeKind"
// (and "probePath" for a document's file). Views with more to say (the pattern editor) register a
// section writer.
class UiProbe final : public QObject {
    Q_OBJECT
public:
    // The probe when RATTLEPAN_UI_PROBE is set (installed as an application event filter), else null.
    static UiProbe* installIfRequested();
    static UiProbe* instance();

    // Adds a top-level key filled by `writer` at each write (for example "editor").
    void addSection(const std::string& key, std::function<nlohmann::json()> writer);
    // Asks for a write soon (coalesced).
    void scheduleWrite();
    // Writes now; returns false when the file could not be written.
    bool writeNow();

    // Screen rectangle of a widget in device-independent pixels, as [x, y, w, h].
    static nlohmann::json screenRect(const QWidget* widget);
    static nlohmann::json windowId(const QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit UiProbe(QString path);
    nlohmann::json describe() const;

    QString path_;
    QTimer throttle_;
    std::vector<std::pair<std::string, std::function<nlohmann::json()>>> sections_;
};

} // namespace rp::app
