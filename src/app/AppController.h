#pragma once

#include <QObject>
#include <QStringList>

#include <memory>

class KWMIDIManager;
class ORPDocumentWindowOrder;
class ORPMIDIRouting;
class QMainWindow;
class QMenu;

namespace rp::app {

class DocumentController;
class PreferencesWindow;
class Inspector;
class ReconcileDialog;

// The application's delegate: start-up (documents to reopen, the example song on first launch, the
// welcome or release-history page when the build changed), MIDI set-up and routing of incoming MIDI to
// the documents, the menus every window shares, and shut-down (bookmarks of the open documents).
class AppController final : public QObject {
    Q_OBJECT
public:
    AppController();
    ~AppController() override;

    static AppController* shared();

    // Before the event loop starts: MIDI, the documents to reopen and those named on the command line.
    void applicationWillFinishLaunching(const QStringList& files);
    // Once the event loop runs: the welcome alert or the release history.
    void applicationDidFinishLaunching();
    // Quit: asks about unsaved documents first; remembers what was open.
    void terminate();
    // Files handed over by a second launch.
    void openFiles(const QStringList& files);

    void newSongDocument();
    void showPreferences();
    void showAbout();
    void openHelpPage(const QString& page);
    void showExamples();

    // Adds the File, Edit, Window and Help menus to a song window.
    void installMenus(QMainWindow* window);
    // Titles and enabling of a window's menu items, from its document and focus.
    void refreshMenus(QMainWindow* window);

    const std::shared_ptr<ORPMIDIRouting>& midiRouting() const { return midiRouting_; }
    DocumentController& documents() { return *documents_; }

private:
    void storeOpenDocuments();
    void publishWindowOrder();
    void fillRecentMenu(QMenu* menu);
    void fillWindowMenu(QMenu* menu);

    std::shared_ptr<ReconcileDialog> reconcile_;
    std::unique_ptr<DocumentController> documents_;
    std::shared_ptr<KWMIDIManager> midiManager_;
    std::shared_ptr<ORPDocumentWindowOrder> windowOrder_;
    std::shared_ptr<ORPMIDIRouting> midiRouting_;
    // After the documents: it goes first, letting go of the front window's editor and drum list.
    std::unique_ptr<Inspector> inspector_;
    PreferencesWindow* preferences_ = nullptr;
    bool terminating_ = false;
    QStringList lastOpenDocuments_;
};

} // namespace rp::app
