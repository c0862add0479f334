#include "app/AppController.h"

#include "BuildInfo.h"
#include "app/DocumentController.h"
#include "app/Inspector.h"
#include "app/HydrogenImportActions.h"
#include "app/KitWindow.h"
#include "widgets/DrumPickerView.h"
#include "app/PreferencesWindow.h"
#include "app/ReconcileDialog.h"
#include "app/SongExport.h"
#include "app/SongWindow.h"
#include "app/UiProbe.h"
#include "editor/ORPAppLaunch.h"
#include "editor/ORPInspectorController.h"
#include "editor/ORPInterfaceDefaults.h"
#include "editor/ORPMIDIRouting.h"
#include "editor/SongDocument.h"
#include "foundation/BuildVersion.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "foundation/Prompt.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPUserDefaults.h"
#include "midi/KWMIDIManager.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QUrl>

namespace rp::app {

namespace {

AppController* theController = nullptr;

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

// The welcome alert as a message box with its check box.
class QtSuppressibleAlert final : public ORPSuppressibleAlert {
public:
    Answer run(const Request& request) override
    {
        Prompt::Alert alert;
        alert.title = request.message;
        alert.message = request.informativeText;
        alert.buttons = request.buttons;
        alert.style = Prompt::AlertStyle::Informational;
        alert.suppression = Prompt::Suppression { localized("Do not show this message again"), request.suppressionChecked };
        const auto result = Prompt::current().runAlertWithResult(alert);
        return { result.button, result.suppressionChecked };
    }
};

// The help pages ship with the program and open in the desktop's browser.
class BrowserHelpBook final : public ORPHelpBook {
public:
    int openHelpPage(const std::string& page) override
    {
        const auto folder = ORPUserDefaults::applicationResourcesDirectory() / "help";
        const auto file = folder / (page.empty() ? std::string("index.html") : page);
        std::error_code error;
        if (!std::filesystem::exists(file, error)) {
            return ENOENT;
        }
        return QDesktopServices::openUrl(QUrl::fromLocalFile(qt(file.string()))) ? 0 : -1;
    }
};

// The text widget with keyboard focus, for the Edit menu's text commands.
QWidget* focusedText()
{
    QWidget* focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus)) {
        return focus;
    }
    return nullptr;
}


} // namespace

AppController::AppController()
    : reconcile_(std::make_shared<ReconcileDialog>())
    , documents_(std::make_unique<DocumentController>(reconcile_))
    , windowOrder_(std::make_shared<ORPDocumentWindowOrder>())
{
    theController = this;
    inspector_ = std::make_unique<Inspector>();
    if (auto* probe = UiProbe::instance()) {
        probe->addSection("editor", [this]() -> nlohmann::json {
            SongWindow* front = documents_->frontmost();
            return front ? front->probeEditor() : nlohmann::json::object();
        });
    }
    connect(documents_.get(), &DocumentController::documentsChanged, this, [this] {
        publishWindowOrder();
        // The transport and the drum list follow the front window.
        if (KitWindow* kit = documents_->frontKitWindow()) {
            inspector_->setKitWindow(kit);
        } else {
            inspector_->setDocumentWindow(documents_->frontmost());
        }
        // The last window closing keeps the list it had: that document reopens next time.
        if (!terminating_ && !documents_->windows().empty()) {
            lastOpenDocuments_.clear();
            for (SongWindow* window : documents_->windows()) {
                if (const auto& file = window->document()->fileURL()) {
                    lastOpenDocuments_ << qt(file->string());
                }
            }
        }
    });
    // Closing the last window ends the program, remembering the document it showed.
    connect(documents_.get(), &DocumentController::lastWindowClosed, this, [this] {
        if (!terminating_) {
            terminating_ = true;
            storeOpenDocuments();
            QApplication::quit();
        }
    });
}

AppController::~AppController()
{
    if (midiRouting_) {
        midiRouting_->detachFromMIDIEndpoints();
    }
    if (theController == this) {
        theController = nullptr;
    }
}

AppController* AppController::shared()
{
    return theController;
}

void AppController::applicationWillFinishLaunching(const QStringList& files)
{
    auto& defaults = UserDefaults::standard();
    ORPAppLaunch::registerPrereleaseDefaults(defaults, RP_BUILD_SHORT_VERSION);

    midiManager_ = KWMIDIManager::sharedInstance();
    midiRouting_ = ORPMIDIRouting::create(midiManager_, defaults, windowOrder_);
    midiRouting_->configureMIDI();

    ORPAppLaunch::reopenDocuments(
        ORPAppLaunch::documentsToReopen(defaults), [this](const std::filesystem::path& file) -> std::optional<Error> {
            if (documents_->openDocument(file, true)) {
                return std::nullopt;
            }
            return Error::make(kErrorInvalidFile, "The document could not be opened.", {}, {});
        });
    openFiles(files);
}

void AppController::applicationDidFinishLaunching()
{
    QtSuppressibleAlert alert;
    BrowserHelpBook help;
    ORPAppLaunch::greetBuild(UserDefaults::standard(), currentBuildVersionCode(), alert, help);
    if (documents_->windows().empty()) {
        newSongDocument();
    }
}

void AppController::openFiles(const QStringList& files)
{
    for (const QString& file : files) {
        documents_->openDocument(file.toStdString());
    }
}

void AppController::terminate()
{
    if (terminating_) {
        return;
    }
    const QStringList open = lastOpenDocuments_;
    if (!documents_->closeAll()) {
        return;
    }
    terminating_ = true;
    lastOpenDocuments_ = open;
    storeOpenDocuments();
    QApplication::quit();
}

void AppController::storeOpenDocuments()
{
    std::vector<std::filesystem::path> files;
    for (const QString& file : lastOpenDocuments_) {
        files.emplace_back(file.toStdString());
    }
    ORPAppLaunch::storeOpenDocumentBookmarks(UserDefaults::standard(), files);
    if (midiRouting_) {
        midiRouting_->detachFromMIDIEndpoints();
    }
    UserDefaults::standard().synchronize();
}

void AppController::publishWindowOrder()
{
    std::vector<std::shared_ptr<ORPMIDIPacketReceiver>> receivers;
    // A kit window in front takes the notes (its MIDI listen button); the songs follow.
    if (KitWindow* kit = documents_->frontKitWindow()) {
        receivers.push_back(kit->document().midiReceiver());
    }
    for (SongWindow* window : documents_->windows()) {
        receivers.push_back(window->document()->midiReceiver());
    }
    windowOrder_->setDocuments(receivers);
}

void AppController::newSongDocument()
{
    SongWindow* window = documents_->newDocument();
    if (window && !window->document()->song()->drumKit()) {
        // The kit choice of a new song is not an undoable edit.
        window->document()->undoManager()->disableUndoRegistration();
        window->changeDrumKit();
        window->document()->undoManager()->enableUndoRegistration();
    }
}

void AppController::showPreferences()
{
    if (!preferences_) {
        preferences_ = new PreferencesWindow(UserDefaults::standard(), midiManager_, midiRouting_);
    }
    preferences_->showWindow();
}

void AppController::showAbout()
{
    QMessageBox box;
    box.setWindowTitle(qt(localized("About Rattlepan")));
    box.setIconPixmap(QApplication::windowIcon().pixmap(96, 96));
    box.setText(QStringLiteral("<b>Rattlepan</b>"));
    box.setInformativeText(qt(localizedFormat("Version %@ (%@)", { FormatArgument(RP_BUILD_SHORT_VERSION),
        FormatArgument(RP_BUILD_VERSION_CODE) })) + QStringLiteral("\n\n") + qt(localized("A drum machine for Linux.")));
    box.exec();
}

void AppController::openHelpPage(const QString& page)
{
    BrowserHelpBook help;
    if (const int status = help.openHelpPage(page.toStdString()); status != 0) {
        logf("Error %d launching help book", status);
    }
}

void AppController::showExamples()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(qt(ORPUserDefaults::exampleResourcesDirectoryURL().string())));
}

void AppController::installMenus(QMainWindow* window)
{
    QMenuBar* bar = window->menuBar();
    auto add = [window](QMenu* menu, const std::string& title, const char* actionName, const QKeySequence& keys,
                   auto handler) {
        QAction* action = menu->addAction(qt(localized(title)));
        action->setProperty("actionName", actionName);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(action, &QAction::triggered, window, handler);
        return action;
    };
    auto* songWindow = qobject_cast<SongWindow*>(window);

    QMenu* file = bar->addMenu(qt(localized("&File")));
    add(file, "New", "newDocument:", QKeySequence::New, [this] { newSongDocument(); });
    add(file, "New Kit", "newKitDocument:", QKeySequence(QStringLiteral("Ctrl+Shift+N")),
        [this] { documents_->newKitDocument(); });
    add(file, "Open...", "openDocument:", QKeySequence::Open, [this] { documents_->openDocumentInteractively(); });
    QMenu* recent = file->addMenu(qt(localized("Open Recent")));
    recent->menuAction()->setProperty("actionName", "openRecent:");
    connect(recent, &QMenu::aboutToShow, this, [this, recent] { fillRecentMenu(recent); });
    fillRecentMenu(recent);
    add(file, "Import Hydrogen Song...", "importHydrogenSong:", QKeySequence(), [window] { importHydrogenSong(window); });
    add(file, "Import Hydrogen Kit...", "importHydrogenKit:", QKeySequence(), [window] { importHydrogenKit(window); });
    file->addSeparator();
    add(file, "Close", "performClose:", QKeySequence(QStringLiteral("Ctrl+W")), [window] { window->close(); });
    add(file, "Save", "saveDocument:", QKeySequence::Save, [this, songWindow] { documents_->saveDocument(songWindow); });
    add(file, "Save As...", "saveDocumentAs:", QKeySequence(QStringLiteral("Ctrl+Shift+S")),
        [this, songWindow] { documents_->saveDocumentAs(songWindow); });
    add(file, "Revert to Saved", "revertDocumentToSaved:", QKeySequence(),
        [this, songWindow] { documents_->revertDocumentToSaved(songWindow); });
    file->addSeparator();
    // The export menus: one item per mode, the mode as the item's tag.
    auto exportMenu = [&add, file](const char* title, const char* actionName, auto perform) {
        QMenu* menu = file->addMenu(qt(localized(title)));
        menu->menuAction()->setProperty("actionName", QByteArray(actionName) + "Menu");
        const auto& titles = exportMenuItemTitles();
        for (size_t mode = 0; mode < titles.size(); ++mode) {
            QAction* item = add(menu, titles[mode], actionName, QKeySequence(), [perform, mode] { perform(static_cast<unsigned>(mode)); });
            item->setProperty("tag", static_cast<int>(mode));
        }
        return menu;
    };
    exportMenu("Export Song", "exportSongAudio:", [songWindow](unsigned mode) { songWindow->exportSongAudio(mode); });
    // The selection's: the editor's selected bars when it has the focus, else the tables' selection.
    exportMenu("Export Selection", "exportSelectionAudio:",
        [songWindow](unsigned mode) { songWindow->performExportSelection(mode); });
    file->addSeparator();
    add(file, "Preferences...", "showPreferencesAction:", QKeySequence(QStringLiteral("Ctrl+,")), [this] { showPreferences(); });
    file->addSeparator();
    add(file, "Quit Rattlepan", "terminate:", QKeySequence(QStringLiteral("Ctrl+Q")), [this] { terminate(); });

    QMenu* edit = bar->addMenu(qt(localized("&Edit")));
    add(edit, "Undo", "undo:", QKeySequence::Undo, [songWindow] {
        songWindow->commitEditing();
        songWindow->document()->undoManager()->undo();
    });
    add(edit, "Redo", "redo:", QKeySequence(QStringLiteral("Ctrl+Shift+Z")), [songWindow] {
        songWindow->commitEditing();
        songWindow->document()->undoManager()->redo();
    });
    edit->addSeparator();
    auto textCommand = [](const char* slot) {
        return [slot] {
            if (QWidget* text = focusedText()) {
                QMetaObject::invokeMethod(text, slot);
            }
        };
    };
    // The editing commands go to the focused text, else to the pattern editor when it has the focus.
    auto editCommand = [songWindow, textCommand](const char* slot, const char* editorAction) {
        return [songWindow, slot, editorAction, text = textCommand(slot)] {
            if (focusedText()) {
                text();
            } else if (songWindow->patternEditorHasFocus()) {
                songWindow->performEditorAction(editorAction);
            }
        };
    };
    add(edit, "Cut", "cut:", QKeySequence::Cut, editCommand("cut", "cut:"));
    add(edit, "Copy", "copy:", QKeySequence::Copy, editCommand("copy", "copy:"));
    add(edit, "Paste", "paste:", QKeySequence::Paste, editCommand("paste", "paste:"));
    add(edit, "Paste Drums Over", "pasteOver:", QKeySequence(QStringLiteral("Ctrl+Shift+V")),
        [songWindow] { songWindow->performEditorAction("pasteOver:"); });
    add(edit, "Delete", "clear:", QKeySequence::Delete, [songWindow] {
        if (auto* line = qobject_cast<QLineEdit*>(focusedText())) {
            line->del();
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(focusedText())) {
            plain->textCursor().removeSelectedText();
        } else if (songWindow->patternEditorHasFocus()) {
            songWindow->performEditorAction("clear:");
        }
    });
    add(edit, "Select All", "selectAll:", QKeySequence::SelectAll, editCommand("selectAll", "selectAll:"));
    add(edit, "Deselect All", "deselectAll:", QKeySequence(QStringLiteral("Ctrl+Shift+A")),
        [songWindow] { songWindow->performEditorAction("deselectAll:"); });

    // The song's bars: these always act on the pattern editor.
    QMenu* song = bar->addMenu(qt(localized("&Song")));
    auto editorItem = [&add, songWindow, song](const char* title, const char* actionName, const QKeySequence& keys) {
        return add(song, title, actionName, keys, [songWindow, actionName] { songWindow->performEditorAction(actionName); });
    };
    editorItem("Insert Bar", "insertBarAction:", QKeySequence(QStringLiteral("Ctrl+B")));
    editorItem("Insert Beat", "insertBeatAction:", QKeySequence(QStringLiteral("Ctrl+Shift+B")));
    editorItem("Delete Beats", "deleteBeatsAction:", QKeySequence(QStringLiteral("Ctrl+Backspace")));
    song->addSeparator();
    editorItem("Zoom In", "zoomIn:", QKeySequence(QStringLiteral("Ctrl+=")));
    editorItem("Zoom Out", "zoomOut:", QKeySequence(QStringLiteral("Ctrl+-")));
    editorItem("Zoom Selection In", "zoomSelectionIn:", QKeySequence(QStringLiteral("Ctrl+Alt+=")));
    editorItem("Zoom Selection Out", "zoomSelectionOut:", QKeySequence(QStringLiteral("Ctrl+Alt+-")));
    song->addSeparator();
    // Space plays from the editor itself; the menu item has no key so that typing a space in a
    // text field stays a space.
    editorItem("Play", "playOrStopAction:", QKeySequence());
    editorItem("Play Once", "playOnceAction:", QKeySequence(QStringLiteral("Ctrl+Return")));
    QAction* record = add(song, "Record", "recordAction:", QKeySequence(QStringLiteral("Ctrl+R")), [this] {
        auto& inspector = inspector_->controller();
        inspector.setRecordEnabled(!inspector.recordEnabled());
        inspector_->refreshToggles();
    });
    record->setCheckable(true);
    add(song, "Change Tempo", "changeTempoAction:", QKeySequence(QStringLiteral("Ctrl+T")), [this, songWindow] {
        if (songWindow->editorActionState("changeTempoAction:").enabled) {
            inspector_->changeTempo();
        }
    });
    song->addSeparator();
    add(song, "Change Drum Kit...", "changeDrumKitAction:", QKeySequence(),
        [songWindow] { songWindow->changeDrumKit(); });

    QMenu* windows = bar->addMenu(qt(localized("&Window")));
    connect(windows, &QMenu::aboutToShow, this, [this, windows] { fillWindowMenu(windows); });
    fillWindowMenu(windows);

    QMenu* helpMenu = bar->addMenu(qt(localized("&Help")));
    add(helpMenu, "Rattlepan User's Guide", "showHelp:", QKeySequence::HelpContents, [this] { openHelpPage({}); });
    add(helpMenu, "Release History", "showReleaseHistory:", QKeySequence(),
        [this] { openHelpPage(QString::fromLatin1(ORPAppLaunch::kReleaseHistoryPage)); });
    add(helpMenu, "Show Examples", "showExamplesInFinderAction:", QKeySequence(), [this] { showExamples(); });
    helpMenu->addSeparator();
    add(helpMenu, "About Rattlepan", "showAboutAction:", QKeySequence(), [this] { showAbout(); });

    for (QMenu* menu : { file, edit, song, windows, helpMenu }) {
        connect(menu, &QMenu::aboutToShow, this, [this, window] { refreshMenus(window); });
    }
    // After the focus change is over: it may come from a dialog of this window being destroyed,
    // whose half-torn-down widgets must not be walked while its children go.
    connect(qApp, &QApplication::focusChanged, window, [this, window] { refreshMenus(window); }, Qt::QueuedConnection);
    refreshMenus(window);
}

void AppController::refreshMenus(QMainWindow* window)
{
    auto* songWindow = qobject_cast<SongWindow*>(window);
    if (!songWindow || !songWindow->document()) {
        return;
    }
    UndoManager& undo = *songWindow->document()->undoManager();
    QWidget* text = focusedText();
    if (text && text->window() != window) {
        text = nullptr;
    }
    const bool editorFocused = !text && songWindow->patternEditorHasFocus();
    bool hasSelection = false;
    bool editable = false;
    if (auto* line = qobject_cast<QLineEdit*>(text)) {
        hasSelection = line->hasSelectedText();
        editable = !line->isReadOnly();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(text)) {
        hasSelection = plain->textCursor().hasSelection();
        editable = !plain->isReadOnly();
    }
    for (QAction* action : window->findChildren<QAction*>()) {
        const QByteArray name = action->property("actionName").toByteArray();
        if (name == "exportSongAudio:" || name == "exportSongAudio:Menu") {
            action->setEnabled(songWindow->canExportSong());
        } else if (name == "exportSelectionAudio:" || name == "exportSelectionAudio:Menu") {
            action->setEnabled(songWindow->canExportSelection());
        } else if (name == "undo:") {
            action->setText(qt(undo.undoMenuItemTitle()));
            action->setEnabled(undo.canUndo());
        } else if (name == "redo:") {
            action->setText(qt(undo.redoMenuItemTitle()));
            action->setEnabled(undo.canRedo());
        } else if (editorFocused && songWindow->isEditorAction(name.toStdString())) {
            const auto state = songWindow->editorActionState(name.toStdString());
            action->setEnabled(state.enabled);
        } else if (name == "cut:" || name == "clear:") {
            action->setEnabled(hasSelection && editable);
        } else if (name == "copy:") {
            action->setEnabled(hasSelection);
        } else if (name == "paste:") {
            action->setEnabled(editable);
        } else if (name == "selectAll:") {
            action->setEnabled(text != nullptr);
        } else if (name == "pasteOver:" || name == "deselectAll:") {
            action->setEnabled(false);
        } else if (songWindow->isEditorAction(name.toStdString())) {
            // The Song menu always speaks to the editor.
            const auto state = songWindow->editorActionState(name.toStdString());
            action->setEnabled(state.enabled);
            if (state.title) {
                action->setText(qt(*state.title));
            }
        } else if (name == "changeTempoAction:") {
            action->setEnabled(songWindow->editorActionState(name.toStdString()).enabled);
        } else if (name == "recordAction:") {
            action->setChecked(UserDefaults::standard().boolForKey(ORPInspectorController::kRecordEnabledKey));
        } else if (name == "revertDocumentToSaved:") {
            action->setEnabled(songWindow->document()->fileURL().has_value() && songWindow->document()->isDocumentEdited());
        } else if (name == "openRecent:") {
            action->setEnabled(!documents_->recentDocuments().isEmpty());
        }
    }
}

void AppController::fillRecentMenu(QMenu* menu)
{
    menu->clear();
    for (const QString& file : documents_->recentDocuments()) {
        QAction* action = menu->addAction(QFileInfo(file).completeBaseName());
        action->setToolTip(file);
        action->setProperty("actionName", "openRecentDocument:");
        connect(action, &QAction::triggered, this, [this, file] { documents_->openDocument(file.toStdString()); });
    }
    menu->addSeparator();
    QAction* clear = menu->addAction(qt(localized("Clear Menu")));
    clear->setProperty("actionName", "clearRecentDocuments:");
    connect(clear, &QAction::triggered, this, [this] { documents_->clearRecentDocuments(); });
}

void AppController::fillWindowMenu(QMenu* menu)
{
    menu->clear();
    QAction* minimize = menu->addAction(qt(localized("Minimize")));
    minimize->setProperty("actionName", "performMiniaturize:");
    minimize->setShortcut(QKeySequence(QStringLiteral("Ctrl+M")));
    connect(minimize, &QAction::triggered, this, [] {
        if (QWidget* window = QApplication::activeWindow()) {
            window->showMinimized();
        }
    });
    menu->addSeparator();
    for (SongWindow* window : documents_->windows()) {
        QAction* action = menu->addAction(window->windowTitle().remove(QStringLiteral("[*]")));
        action->setProperty("actionName", "makeKeyAndOrderFront:");
        action->setCheckable(true);
        action->setChecked(window == QApplication::activeWindow());
        connect(action, &QAction::triggered, window, [window] {
            window->showNormal();
            window->raise();
            window->activateWindow();
        });
    }
}

} // namespace rp::app
