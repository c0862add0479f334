#include "app/SongWindow.h"

#include "app/AppController.h"
#include "app/UiProbe.h"
#include "editor/OXWindowFrame.h"
#include "editor/SongOverview.h"
#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "kit/ORPDrumKit.h"
#include "model/ORPSection.h"
#include "app/Pasteboard.h"
#include "app/PatternEditorHost.h"
#include "editor/ORPDrumPicker.h"
#include "editor/ORPMIDINoteRecorder.h"
#include "player/ORPPlayer.h"
#include "widgets/DrumPickerView.h"
#include "widgets/EditorImages.h"
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
#include <QTableWidget>
#include <QVBoxLayout>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

constexpr const char* kFrameAutosaveName = "Song Window";
constexpr const char* kAutosavedFrameKey = "RPWindowFrame Song Window";

OXRect toRect(const QRect& rect)
{
    return { rect.x(), rect.y(), rect.width(), rect.height() };
}

QRect toQRect(const OXRect& rect)
{
    return { rect.x, rect.y, rect.width, rect.height };
}


QTableWidget* makeTable(const QStringList& headings, const char* probeName)
{
    auto* table = new QTableWidget(0, static_cast<int>(headings.size()));
    table->setHorizontalHeaderLabels(headings);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(22);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setProperty("probeName", probeName);
    return table;
}

void fillRow(QTableWidget* table, int row, const QStringList& cells)
{
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (column > 0 && cells[column].toInt() != 0) {
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        table->setItem(row, column, item);
    }
}

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
    // The menus follow the editor's selection, insertion point and playing, and the clipboard.
    const ORPPlayerEditor* editorObject = editorHost_->editor().get(); // the object editor notifications name
    center.addObserver(this, "", editorObject, [this](const Notification&) { refreshMenus(); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { refreshMenus(); });
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
    NotificationCenter::defaultCenter().removeObserver(this);
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
    const auto& editor = editorHost_->editor();
    editor->setPlayer(player_);
    editor->setAllSectionsProvider([this] { return document_->song()->sectionList(); });
    editor->setPasteboard(std::make_shared<EditorClipboard>());
    editor->setReconcilerProvider([this] { return &document_->reconciler(); });
    // Notes played on MIDI gear choose (and, recording, add) drums.
    noteRecorder_ = std::make_unique<ORPMIDINoteRecorder>(document_.get(), editor);

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

    sectionsTable_ = makeTable({ qt(localized("Section")), qt(localized("Bars")) }, "sectionsTable");
    layoutTable_ = makeTable(
        { qt(localized("Playlist")), qt(localized("Section")), qt(localized("Repeats")) }, "layoutTable");

    sectionsPlaylistSplitView_ = new QSplitter(Qt::Horizontal);
    sectionsPlaylistSplitView_->addWidget(sectionsTable_);
    sectionsPlaylistSplitView_->addWidget(layoutTable_);
    sectionsTable_->setMinimumWidth(150);
    layoutTable_->setMinimumWidth(300);

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
    connect(sectionsTable_, &QTableWidget::itemSelectionChanged, this, &SongWindow::sectionsSelectionChanged);
    connect(layoutTable_, &QTableWidget::itemSelectionChanged, this, &SongWindow::playlistSelectionChanged);
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

void SongWindow::initializeUIEntirely()
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
    refreshMetricsAndTables();
    refreshMiscellaneousState();
    refreshTitle();
    // The whole playlist, so the editor shows the whole song.
    layoutTable_->clearSelection();
    layoutTable_->selectAll();
    editorView_->setFocus();
}

widgets::DrumPickerView* SongWindow::drumPickerView() const
{
    return pickerView_;
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

void SongWindow::sectionsSelectionChanged()
{
    if (updatingTables_) {
        return;
    }
    if (!sectionsTable_->selectionModel()->selectedRows().isEmpty()) {
        const QSignalBlocker block(layoutTable_);
        layoutTable_->clearSelection();
        layoutTable_->viewport()->update();
    }
    editSelectedObjects();
}

void SongWindow::playlistSelectionChanged()
{
    if (updatingTables_) {
        return;
    }
    if (!layoutTable_->selectionModel()->selectedRows().isEmpty()) {
        const QSignalBlocker block(sectionsTable_);
        sectionsTable_->clearSelection();
        sectionsTable_->viewport()->update();
    }
    editSelectedObjects();
}

void SongWindow::editSelectedObjects()
{
    const auto& song = *document_->song();
    auto selectedRows = [](QTableWidget* table) {
        std::vector<size_t> rows;
        for (const QModelIndex& index : table->selectionModel()->selectedRows()) {
            rows.push_back(static_cast<size_t>(index.row()));
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    std::vector<ORPPatternEditor::EditedObject> objects;
    for (size_t row : selectedRows(sectionsTable_)) {
        if (row < song.sectionList().size()) {
            objects.emplace_back(song.sectionList()[row]);
        }
    }
    for (size_t row : selectedRows(layoutTable_)) {
        if (row < song.sectionMarkerList().size()) {
            objects.emplace_back(song.sectionMarkerList()[row]);
        }
    }
    editorHost_->editor()->setEditedObjects(objects, objects.empty() ? nullptr : song.drumKit());
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
    refreshTitle();
}

void SongWindow::refreshMetricsAndTables()
{
    const auto& song = *document_->song();
    durationText_->setText(qt(editor::SongOverview::durationText(song)));

    // Reloading the rows must not hand the editor a passing empty selection.
    updatingTables_ = true;
    const auto sections = editor::SongOverview::sectionRows(song);
    sectionsTable_->setRowCount(static_cast<int>(sections.size()));
    for (size_t row = 0; row < sections.size(); ++row) {
        fillRow(sectionsTable_, static_cast<int>(row), { qt(sections[row].name), QString::number(sections[row].bars) });
    }
    const auto entries = editor::SongOverview::playlistRows(song);
    layoutTable_->setRowCount(static_cast<int>(entries.size()));
    for (size_t row = 0; row < entries.size(); ++row) {
        fillRow(layoutTable_, static_cast<int>(row),
            { qt(entries[row].name), qt(entries[row].sectionName), QString::number(entries[row].repeats) });
    }
    updatingTables_ = false;
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
        OXSavedFrame frame { toRect(geometry()), toRect(screen() ? screen()->geometry() : QRect()) };
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
    if (document_->changeDrumKit()) {
        initializeUIEntirely();
    }
}

} // namespace rp::app

// --- Window frames ------------------------------------------------------------------------------

namespace rp::app {

void SongWindow::placeForFile()
{
    auto& defaults = UserDefaults::standard();
    const QRect available = screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    std::optional<OXRect> fromAttribute;
    if (const auto& file = document_->fileURL()) {
        if (auto saved = OXWindowFrameAttribute::frameFromAttributeAtURL(*file, kFrameAutosaveName, defaults)) {
            fromAttribute = OXConstrainFrameToScreen(saved->window, toRect(available));
        }
    }
    std::optional<OXRect> autosaved;
    if (auto text = defaults.stringForKey(kAutosavedFrameKey)) {
        if (auto saved = OXParseFrameString(*text)) {
            autosaved = OXConstrainFrameToScreen(saved->window, toRect(available));
        }
    }
    std::vector<OXRect> others;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != this && qobject_cast<SongWindow*>(widget) && widget->isVisible()) {
            others.push_back(toRect(widget->geometry()));
        }
    }
    // Without a window manager there is no title bar to measure; the style's height stands in.
    int titleBar = frameGeometry().height() - geometry().height();
    if (titleBar <= 0) {
        titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    }
    QRect current = geometry();
    if (!fromAttribute && !autosaved) {
        current.moveCenter(available.center());
    }
    setGeometry(toQRect(OXCascadeFromSavedFrame(fromAttribute, autosaved, toRect(current), titleBar, others)));
}

void SongWindow::saveFrameToFile()
{
    const auto& file = document_->fileURL();
    if (!file) {
        return;
    }
    OXSavedFrame frame;
    frame.window = toRect(geometry());
    frame.screen = toRect(screen() ? screen()->geometry() : QRect(0, 0, 0, 0));
    auto& defaults = UserDefaults::standard();
    OXWindowFrameAttribute::saveFrameToAttributeAtURL(*file, kFrameAutosaveName, frame, defaults);
    defaults.setString(OXFrameString(frame), kAutosavedFrameKey);
}

} // namespace rp::app
