#include "app/SongWindow.h"

#include "app/AppController.h"
#include "app/Inspector.h"
#include "app/UiProbe.h"
#include "app/WindowPlacement.h"
#include "editor/OXWindowFrame.h"
#include "editor/SongOverview.h"
#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPSection.h"
#include "model/ORPSectionMarker.h"
#include "app/PatternEditorHost.h"
#include "app/SongExport.h"
#include "app/SongTablesPane.h"
#include "editor/ORPKitWatcher.h"
#include "editor/ORPMIDITransport.h"
#include "foundation/Prompt.h"
#include "editor/ORPDrumPicker.h"
#include "editor/ORPMIDINoteRecorder.h"
#include "player/ORPPlayer.h"
#include "widgets/DrumPickerView.h"
#include "widgets/EditorImages.h"
#include "widgets/OXPasteboard.h"
#include "widgets/PatternEditorView.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QScrollArea>
#include <QSlider>
#include <QSplitter>
#include <QVBoxLayout>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

constexpr const char* kFrameAutosaveName = "Song Window";
constexpr const char* kAutosavedFrameKey = "RPWindowFrame Song Window";


} // namespace

SongWindow::SongWindow(std::shared_ptr<editor::SongDocument> document, QWidget* parent)
    : QMainWindow(parent)
    , document_(std::move(document))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setProperty("probeKind", "song");
    buildLayout();
    resize(980, 680);
    if (auto* controller = AppController::shared()) {
        controller->installMenus(this);
    }

    auto& center = NotificationCenter::defaultCenter();
    center.addObserver(this, "", document_->undoManager(), [this](const Notification& note) {
        if (note.name == UndoManager::WillUndoChangeNotification || note.name == UndoManager::WillRedoChangeNotification) {
            commitEditing();
        }
        refreshTitle();
    });
    // A click on the drum list's heading offers another kit.
    center.addObserver(this, ORPDrumPickerHeadingClickedNotification, drumPicker_.get(),
        [this](const Notification&) { changeDrumKit(); });
    // A kit swapped in, or back by undo and redo: the editor, drum list, kit name and watch follow.
    center.addObserver(this, editor::SongDocumentKitSwappedNotification, document_.get(),
        [this](const Notification&) { initializeUIEntirely(false); });
    // The menus follow the editor's selection, insertion point and playing, and the clipboard.
    const ORPPlayerEditor* editorObject = editorHost_->editor().get(); // the object editor notifications name
    center.addObserver(this, "", editorObject, [this](const Notification& note) {
        if (note.name == ORPPatternEditorPlaybackStartedNotification
            || note.name == ORPPatternEditorPlaybackStoppedNotification) {
            tablesPane_->playbackChanged();
        }
        refreshMenus();
    });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { refreshMenus(); });
    // Renaming (or undoing a rename) posts from the section or entry itself.
    auto renamed = [this](const Notification&) { tablesPane_->refreshCells(); };
    center.addObserver(this, ORPSectionRenamedNotification, nullptr, renamed);
    center.addObserver(this, ORPSectionMarkerRenamedNotification, nullptr, renamed);
    initializeUIEntirely();
}

void SongWindow::refreshMenus()
{
    if (auto* controller = AppController::shared()) {
        controller->refreshMenus(this);
    }
}

SongWindow::~SongWindow()
{
    // The floating panels hold this window's editor and drum list: they let go before those go.
    if (auto* inspector = Inspector::shared()) {
        inspector->windowWillClose(this);
    }
    NotificationCenter::defaultCenter().removeObserver(this);
    kitWatch_.reset();
    midiTransport_.reset();
    noteRecorder_.reset();
    // The tables call into the editor: they go first.
    delete tablesPane_;
    tablesPane_ = nullptr;
    if (player_) {
        player_->stopAndReset();
    }
    // The drum list may be lent to the floating panel: it goes with this window, before its picker.
    delete pickerView_;
    delete editorHost_;
    if (document_) {
        document_->undoManager()->removeAllActions();
    }
}

void SongWindow::buildLayout()
{
    // The editor's own player auditions clicks and will play the bars; without a usable audio
    // device the editor still edits.
    player_ = ORPPlayer::init();
    drumPicker_ = std::make_unique<ORPDrumPicker>();
    drumPicker_->setPlayer(player_);
    pickerView_ = new widgets::DrumPickerView(*drumPicker_, this);
    pickerView_->hide();
    pickerView_->setIconProvider([this](const ORPDrum& drum) {
        return QPixmap::fromImage(widgets::EditorImages::drumIcon(drum, devicePixelRatioF()));
    });
    editorView_ = new widgets::PatternEditorView;
    editorView_->setProperty("probeName", "patternEditor");
    editorHost_ = new PatternEditorHost(editorView_, *drumPicker_);
    editorHost_->setExportSelection([this](unsigned mode) { exportEditorSelection(mode); });
    const auto& editor = editorHost_->editor();
    editor->setPlayer(player_);
    editor->setAllSectionsProvider([this] { return document_->song()->sectionList(); });
    editor->setPasteboard(std::make_shared<OXClipboardPasteboard>());
    editor->setReconcilerProvider([this] { return &document_->reconciler(); });
    // Notes played on MIDI gear choose (and, recording, add) drums.
    noteRecorder_ = std::make_unique<ORPMIDINoteRecorder>(document_.get(), editor);
    // MIDI Start/Stop and Machine Control start and stop playing, as the Play command does.
    midiTransport_ = std::make_unique<ORPMIDITransport>(
        document_.get(), [this] { return editorHost_->editor()->isPlaying(); },
        [this] { editorHost_->perform("playOrStopAction:"); });
    // A kit changed on disk is offered for reloading; accepted, the window follows the new kit.
    kitWatch_ = std::make_unique<editor::ORPDrumKitWatch>(
        [this] { kitChangedOnDisk(); }, static_cast<Prompt::SheetWindow>(static_cast<QWidget*>(this)));

    // The song's own fields, left of the tables.
    auto* fields = new QWidget;
    auto* form = new QFormLayout(fields);
    songNameField_ = new QLineEdit;
    songNameField_->setProperty("probeName", "songName");
    songNameField_->setPlaceholderText(qt(localized("Song name")));
    songNotesField_ = new QPlainTextEdit;
    songNotesField_->setProperty("probeName", "songNotes");
    songNotesField_->setTabChangesFocus(true);
    songNotesField_->installEventFilter(this);
    masterLevelSlider_ = new QSlider(Qt::Horizontal);
    masterLevelSlider_->setRange(0, 100);
    masterLevelSlider_->setProperty("probeName", "masterLevelSlider");
    masterLevelText_ = new QLabel;
    masterLevelText_->setProperty("probeName", "masterLevelText");
    masterLevelText_->setMinimumWidth(40);
    auto* level = new QHBoxLayout;
    level->addWidget(masterLevelSlider_, 1);
    level->addWidget(masterLevelText_);
    durationText_ = new QLabel;
    durationText_->setProperty("probeName", "durationText");
    kitText_ = new QLabel;
    kitText_->setProperty("probeName", "drumKitName");
    kitText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(qt(localized("Name:")), songNameField_);
    form->addRow(qt(localized("Notes:")), songNotesField_);
    form->addRow(qt(localized("Level:")), level);
    form->addRow(qt(localized("Kit:")), kitText_);
    form->addRow(QString(), durationText_);

    editor::SongTablesHooks hooks;
    hooks.isPlaying = [this] { return editorHost_->editor()->isHeartbeatRunning(); };
    hooks.setEditedObjects = [this](const std::vector<editor::SongTablesHooks::EditedObject>& objects,
                                 const ORPDrumKitPtr& kit) { setEditedObjects(objects, kit); };
    hooks.insertBarAction = [this] { editorHost_->editor()->insertBarAction(); };
    hooks.precacheWaveforms = [this](const std::set<ORPDrumPtr>& drums) {
        if (player_) {
            player_->precacheWaveformsForDrums({ drums.begin(), drums.end() });
        }
    };
    tablesPane_ = new SongTablesPane(document_, std::move(hooks));
    tablesPane_->setExportSelection([this](unsigned mode) { exportSelectionAudio(mode); });
    sectionsPlaylistSplitView_ = tablesPane_;

    auto* lower = new QWidget;
    auto* lowerLayout = new QHBoxLayout(lower);
    lowerLayout->setContentsMargins(8, 4, 8, 8);
    fields->setMinimumWidth(260);
    fields->setMaximumWidth(380);
    lowerLayout->addWidget(fields);
    lowerLayout->addWidget(sectionsPlaylistSplitView_, 1);

    // The editor takes every change of the window's height; the lower pane keeps its own.
    mainSplitView_ = new QSplitter(Qt::Vertical);
    mainSplitView_->addWidget(editorView_);
    mainSplitView_->addWidget(lower);
    mainSplitView_->setStretchFactor(0, 1);
    mainSplitView_->setStretchFactor(1, 0);
    mainSplitView_->setChildrenCollapsible(false);
    editorView_->setMinimumHeight(120);
    lower->setMinimumHeight(150);
    mainSplitView_->setSizes({ 420, 220 });
    setCentralWidget(mainSplitView_);

    connect(songNameField_, &QLineEdit::editingFinished, this, &SongWindow::nameEdited);
    connect(masterLevelSlider_, &QSlider::valueChanged, this, &SongWindow::levelMoved);
}

void SongWindow::observeSong()
{
    // A revert replaces the song: follow the document's current one.
    auto& center = NotificationCenter::defaultCenter();
    if (observedSong_) {
        center.removeObserver(this, "", observedSong_);
    }
    observedSong_ = document_->song().get();
    center.addObserver(this, "", observedSong_, [this](const Notification& note) {
        // A kit swap (or its undo) posts the song's attribute change too, which shows the kit's name.
        if (note.name != ORPSongAttributesChangedNotification) {
            refreshMetricsAndTables();
        }
        refreshMiscellaneousState();
    });
}

void SongWindow::initializeUIEntirely(bool full)
{
    observeSong();
    const auto& song = *document_->song();
    if (song.drumKit()) {
        // The same objects again with the (new) kit: the drum list follows the kit.
        editorHost_->editor()->setEditedObjects(editorHost_->editor()->editedObjects(), song.drumKit());
        if (player_) {
            const auto inUse = song.drumsCurrentlyInUse();
            player_->precacheWaveformsForDrums({ inUse.begin(), inUse.end() });
        }
    }
    // The kit may be the same bundle read again: its watch starts afresh.
    watchedKit_.clear();
    watchKit();
    if (!full) {
        refreshMiscellaneousState();
        return;
    }
    refreshMetricsAndTables();
    refreshMiscellaneousState();
    refreshTitle();
    // The whole playlist, so the editor shows the whole song.
    auto& tables = tablesPane_->tables();
    tables.selectionDidChange(editor::SongTable::Playlist, {});
    tables.selectAllMarkers();
    editorView_->setFocus();
}

void SongWindow::watchKit()
{
    const auto& song = *document_->song();
    const std::filesystem::path kit = song.drumKit() ? song.drumKitURL() : std::filesystem::path();
    if (kit == watchedKit_ && kitWatch_->isWatching() == !kit.empty()) {
        return;
    }
    watchedKit_ = kit;
    kitWatch_->watchDrumKitForChange(!kit.empty(), kit);
}

void SongWindow::kitChangedOnDisk()
{
    if (editor::reloadDrumKit(*document_->song(), document_->reconciler(), Prompt::current())) {
        initializeUIEntirely(false);
    }
}

widgets::DrumPickerView* SongWindow::drumPickerView() const
{
    return pickerView_;
}

// --- Export ---

namespace {

// The document's file name without extension, or its display name while it has no file.
std::string documentBaseName(const editor::SongDocument& document)
{
    const auto& file = document.fileURL();
    return file ? file->stem().string() : document.displayName();
}

} // namespace

bool SongWindow::canExportSong() const
{
    return !editorHost_->editor()->instances().empty();
}

bool SongWindow::canExportSelection() const
{
    if (patternEditorHasFocus()) {
        return editorHost_->editor()->validateAction("exportSelectionAudio:").enabled;
    }
    return !editorHost_->editor()->instances().empty();
}

void SongWindow::performExportSelection(unsigned mode)
{
    if (patternEditorHasFocus()) {
        exportEditorSelection(mode);
    } else {
        exportSelectionAudio(mode);
    }
}

void SongWindow::exportSongAudio(unsigned mode)
{
    commitEditing();
    editorHost_->editor()->stopPlaying();
    if (!canExportSong()) {
        return;
    }
    const auto& song = *document_->song();
    // Fresh instances of the whole playlist, each entry as often as it repeats.
    std::vector<ORPPatternInstancePtr> instances;
    for (const auto& marker : song.sectionMarkerList()) {
        if (!marker || !marker->section()) {
            continue;
        }
        for (int16_t time = 0; time < marker->numberOfTimes(); ++time) {
            for (const auto& pattern : marker->section()->patterns()) {
                instances.push_back(ORPPatternInstance::initWithPattern(pattern, nullptr));
            }
        }
    }
    const auto& file = document_->fileURL();
    startExport(this, player_, instances, mode, song.drumKit(), song.name(), song.notes(),
        file ? file->string() : document_->displayName());
}

void SongWindow::exportSelectionAudio(unsigned mode)
{
    commitEditing();
    editorHost_->editor()->stopPlaying();
    const auto& editor = *editorHost_->editor();
    if (editor.instances().empty()) {
        return;
    }
    auto& tables = tablesPane_->tables();
    std::string label;
    const auto sections = tables.selectedSections();
    const auto markers = tables.selectedSectionMarkers();
    if (!sections.empty() && sections.front()) {
        label = sections.front()->name();
    } else if (markers.size() == 1 && markers.front()) {
        label = markers.front()->name();
    } else {
        label = localizedFormat("%lu sections", { static_cast<uint64_t>(markers.size()) });
    }
    const std::string title = formatText("%@ (%@)", { documentBaseName(*document_), label });
    const auto& file = document_->fileURL();
    const std::string defaultFilename = file ? (file->parent_path() / title).string() : title;
    startExport(this, player_, editor.instances(), mode, editor.drumKit(), title, document_->song()->notes(),
        defaultFilename);
}

void SongWindow::exportEditorSelection(unsigned mode)
{
    editorHost_->editor()->stopPlaying();
    const auto& editor = *editorHost_->editor();
    const auto selected = editor.selectedPatternInstances();
    if (selected.empty()) {
        return;
    }
    const std::string base = document_->fileURL() ? documentBaseName(*document_) : localized("Untitled");
    startExport(this, player_, selected, mode, editor.drumKit(), std::nullopt, std::nullopt,
        selectedBarsExportName(base, selected.size()));
}

bool SongWindow::patternEditorHasFocus() const
{
    return editorView_->hasFocus();
}

bool SongWindow::isEditorAction(const std::string& actionName)
{
    return PatternEditorHost::isCommand(actionName);
}

ORPMenuItemState SongWindow::editorActionState(const std::string& actionName) const
{
    return editorHost_->editor()->validateAction(actionName);
}

void SongWindow::performEditorAction(const std::string& actionName)
{
    editorHost_->perform(actionName);
}

void SongWindow::setEditedObjects(
    const std::vector<std::variant<ORPSectionPtr, ORPSectionMarkerPtr>>& objects, const ORPDrumKitPtr& kit)
{
    editorHost_->editor()->setEditedObjects(objects, kit);
    if (auto* probe = UiProbe::instance()) {
        probe->scheduleWrite();
    }
}

void SongWindow::refreshTitle()
{
    const auto& file = document_->fileURL();
    setWindowTitle(qt(document_->displayName()) + QStringLiteral("[*]"));
    setWindowFilePath(file ? QString::fromStdString(file->string()) : QString());
    setProperty("probePath", file ? QString::fromStdString(file->string()) : QString());
    setWindowModified(document_->isDocumentEdited());
    if (auto* controller = AppController::shared()) {
        controller->refreshMenus(this);
    }
    if (auto* probe = UiProbe::instance()) {
        probe->scheduleWrite();
    }
}

void SongWindow::refreshMiscellaneousState()
{
    const auto& song = *document_->song();
    const QSignalBlocker block(masterLevelSlider_);
    masterLevelSlider_->setValue(static_cast<int>(song.masterLevel() * 100.0f + 0.5f));
    masterLevelText_->setText(qt(editor::SongOverview::masterLevelText(song.masterLevel())));
    if (songNameField_->text() != qt(song.name())) {
        songNameField_->setText(qt(song.name()));
    }
    if (songNotesField_->toPlainText() != qt(song.notes())) {
        songNotesField_->setPlainText(qt(song.notes()));
    }
    if (player_) {
        player_->setMasterLevel(song.masterLevel());
    }
    const auto& kit = song.drumKit();
    kitText_->setText(kit ? qt(song.drumKitURL().stem().string()) : qt(localized("No drum kit")));
    kitText_->setToolTip(QString::fromStdString(song.drumKitURL().string()));
    // A kit swap and its undo both show here: the watch follows the song's kit.
    watchKit();
    refreshTitle();
}

void SongWindow::refreshMetricsAndTables()
{
    const auto& song = *document_->song();
    durationText_->setText(qt(editor::SongOverview::durationText(song)));

    tablesPane_->reloadFromSong();
    refreshTitle();
}

void SongWindow::nameEdited()
{
    document_->setName(songNameField_->text().toStdString());
}

void SongWindow::notesEdited()
{
    document_->setNotes(songNotesField_->toPlainText().toStdString());
}

void SongWindow::levelMoved(int value)
{
    document_->setMasterLevel(static_cast<float>(value) / 100.0f);
}

void SongWindow::commitEditing()
{
    tablesPane_->commitEditing();
    nameEdited();
    notesEdited();
}

bool SongWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == songNotesField_ && event->type() == QEvent::FocusOut) {
        notesEdited();
    }
    return QMainWindow::eventFilter(watched, event);
}

void SongWindow::closeEvent(QCloseEvent* event)
{
    if (closingAccepted_) {
        OXSavedFrame frame { toOXRect(geometry()), toOXRect(screen() ? screen()->geometry() : QRect()) };
        UserDefaults::standard().setString(OXFrameString(frame), kAutosavedFrameKey);
        event->accept();
        return;
    }
    // The document controller decides (it may ask to save) and closes the window itself, after this
    // event: Qt ignores a close() made while the window is already handling one.
    event->ignore();
    QMetaObject::invokeMethod(this, [this] { emit closeRequested(this); }, Qt::QueuedConnection);
}

nlohmann::json SongWindow::probeEditor() const
{
    const auto& editor = *editorHost_->editor();
    const QWidget* viewport = editorView_->viewport();
    const QPoint origin = viewport->mapToGlobal(QPoint(0, 0));
    // Canvas points to screen pixels (the canvas scrolls under the viewport).
    auto screen = [&](const ORPRect& rect) {
        const QPointF topLeft = editorView_->viewportPointFromCanvas({ rect.x, rect.y });
        return nlohmann::json::array({ std::lround(origin.x() + topLeft.x()), std::lround(origin.y() + topLeft.y()),
            std::lround(rect.width), std::lround(rect.height) });
    };
    const auto& instances = editor.instances();
    std::unordered_map<const ORPPatternInstance*, size_t> indexOf;
    for (size_t i = 0; i < instances.size(); ++i) {
        indexOf[instances[i].get()] = i;
    }
    std::vector<std::string> groupNames;
    if (const auto& kit = editor.drumKit()) {
        for (const auto& group : kit->drumsHierarchy()) {
            groupNames.push_back(group->groupName());
        }
    }
    const double header = ORPPatternEditor::kHeaderHeight;
    const double footer = ORPPatternEditor::kFooterHeight;
    const double title = ORPPatternEditor::kTitleStripHeight;
    const double cell = ORPPatternEditor::kCellSize;
    nlohmann::json bars = nlohmann::json::array();
    // Only the bars in view: a song may have thousands.
    for (const auto& instance : editor.instancesIntersecting(editorHost_->visibleRect())) {
        const ORPRect f = instance->frame();
        nlohmann::json rows = nlohmann::json::array();
        for (int16_t g = 0; g < editor.numGroups(); ++g) {
            rows.push_back({ { "group", static_cast<size_t>(g) < groupNames.size() ? groupNames[g] : std::string() },
                { "rect", screen({ f.x, f.y + header + cell * g, f.width, cell }) } });
        }
        bars.push_back({ { "index", indexOf[instance.get()] }, { "barNumber", instance->barNumberInSong() },
            { "rect", screen(f) }, { "divisions", editor.numDivsForPattern(*instance->pattern()) },
            { "titleRect", screen({ f.x, f.y, f.width, title }) },
            { "divisionStripRect", screen({ f.x, f.y + title, f.width, header - title }) },
            { "gridRect", screen({ f.x, f.y + header, f.width, f.height - header - footer }) }, { "rows", rows } });
    }
    nlohmann::json insertion = nullptr;
    if (const auto index = editor.insertionPointIndex()) {
        insertion = { { "bar", *index }, { "place", editor.insertionPointPlace() } };
    }
    nlohmann::json selection = nlohmann::json::array();
    for (const auto& instance : editor.selectedPatternInstances()) {
        const auto& ranges = instance->selection()->rangeArray();
        for (size_t i = 0; i + 1 < ranges.size(); i += 2) {
            selection.push_back({ indexOf[instance.get()], ranges[i], ranges[i + 1] });
        }
    }
    const auto drum = drumPicker_->defaultDrum();
    return { { "window", UiProbe::windowId(this) }, { "origin", { origin.x(), origin.y() } },
        { "totalBars", instances.size() }, { "bars", bars }, { "insertionPoint", insertion },
        { "selection", selection }, { "wholeBarSelection", editor.wholeBarSelection() },
        { "currentDrum", drum ? drum->compositeName() : std::string() }, { "playing", editor.isPlaying() },
        { "recording", false } };
}

void SongWindow::changeDrumKit()
{
    // The window follows through the document's kit-swapped notification, as it does on undo.
    document_->changeDrumKit();
}

} // namespace rp::app

// --- Window frames ------------------------------------------------------------------------------

namespace rp::app {

void SongWindow::placeForFile()
{
    auto& defaults = UserDefaults::standard();
    std::optional<OXRect> fromFile;
    if (const auto& file = document_->fileURL()) {
        if (auto saved = OXWindowFrameAttribute::frameFromAttributeAtURL(*file, kFrameAutosaveName, defaults)) {
            fromFile = saved->window;
        }
    }
    std::optional<OXRect> autosaved;
    if (auto text = defaults.stringForKey(kAutosavedFrameKey)) {
        if (auto saved = OXParseFrameString(*text)) {
            autosaved = saved->window;
        }
    }
    placeDocumentWindow(this, fromFile, autosaved, [](QWidget* other) { return qobject_cast<SongWindow*>(other) != nullptr; });
}

void SongWindow::saveFrameToFile()
{
    const auto& file = document_->fileURL();
    if (!file) {
        return;
    }
    OXSavedFrame frame;
    frame.window = toOXRect(geometry());
    frame.screen = toOXRect(screen() ? screen()->geometry() : QRect(0, 0, 0, 0));
    auto& defaults = UserDefaults::standard();
    OXWindowFrameAttribute::saveFrameToAttributeAtURL(*file, kFrameAutosaveName, frame, defaults);
    defaults.setString(OXFrameString(frame), kAutosavedFrameKey);
}

} // namespace rp::app
