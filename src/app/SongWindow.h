#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPPatternEditorCommands.h"
#include "editor/SongDocument.h"
#include "kit/ORPDrumKit.h"
#endif

#include <QMainWindow>
#include <QPointer>

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include <nlohmann/json.hpp>
#endif

#include <filesystem>
#include <memory>
#include <variant>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSlider;
class QSplitter;
class QScrollArea;

class ORPDrumPicker;
class ORPMIDINoteRecorder;
class ORPMIDITransport;
class ORPPlayer;

namespace rp::widgets {
class DrumPickerView;
class PatternEditorView;
}

namespace rp::editor {
class ORPDrumKitWatch;
}

namespace rp::app {

class MenuBar;
class PatternEditorHost;
class SongTablesPane;

// The window of one song: the pattern editor above, the song's name, notes and level beside the
// sections and playlist tables below. Holds its document; refreshes from the song's notifications.
class SongWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit SongWindow(std::shared_ptr<editor::SongDocument> document, QWidget* parent = nullptr);
    ~SongWindow() override;

    const std::shared_ptr<editor::SongDocument>& document() const { return document_; }
    // Re-reads the song after opening, reverting or a kit change: hands the editor the song's kit
    // and watches it; `full` also reloads the tables and fields and selects the whole playlist.
    void initializeUIEntirely(bool full = true);
    // Title, modified mark and file path from the document.
    void refreshTitle();
    // Commits a name, notes or table cell being edited, so saving (or undo) sees what was typed.
    void commitEditing();

    // The frame this window takes for a file: its attribute (or the stored fallback), cascaded.
    void placeForFile();
    // Stores the frame in the file's attribute after a successful save.
    void saveFrameToFile();

    // The editor part of the UI probe: the bars as drawn, in screen pixels.
    nlohmann::json probeEditor() const;
    // Lets the user choose another kit for the song (undoable), or the first kit of a new song.
    void changeDrumKit();

    // The window's drum list, shown in the floating drum list panel while the window is in front.
    widgets::DrumPickerView* drumPickerView() const;

    // The pattern editor's commands by action name ("paste:", "insertBarAction:", ...): whether the
    // name is one, its menu state, and performing it (errors are shown to the user).
    bool patternEditorHasFocus() const;
    static bool isEditorAction(const std::string& actionName);
    ORPMenuItemState editorActionState(const std::string& actionName) const;
    void performEditorAction(const std::string& actionName);
    PatternEditorHost* patternEditor() const { return editorHost_; }

    // Export (mode 0: one audio file, 1: a file per drum group, 2: a MIDI file). The whole song;
    // the bars the editor shows, named after the tables' selection; the bars selected in the
    // editor. Each asks where, then shows the progress sheet.
    void exportSongAudio(unsigned mode);
    void exportSelectionAudio(unsigned mode);
    void exportEditorSelection(unsigned mode);
    // Whether the song's export has bars to write (the editor shows at least one).
    bool canExportSong() const;
    // Whether the selection export applies: with the editor focused, the editor's selected bars;
    // otherwise the bars the editor shows.
    bool canExportSelection() const;
    // The Export Selection command: the editor's selected bars when it has the focus, else the
    // tables' selection.
    void performExportSelection(unsigned mode);

signals:
    void closeRequested(SongWindow* window);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void observeSong();
    void refreshMiscellaneousState();
    void refreshMetricsAndTables();
    void nameEdited();
    void notesEdited();
    void levelMoved(int value);
    void refreshMenus();
    void setEditedObjects(
        const std::vector<std::variant<ORPSectionPtr, ORPSectionMarkerPtr>>& objects, const ORPDrumKitPtr& kit);
    // Watches the song's kit bundle (again, when the song now has another kit).
    void watchKit();
    void kitChangedOnDisk();

    std::shared_ptr<editor::SongDocument> document_;
    QSplitter* mainSplitView_ = nullptr;
    QSplitter* sectionsPlaylistSplitView_ = nullptr;
    std::shared_ptr<ORPPlayer> player_;
    std::unique_ptr<ORPDrumPicker> drumPicker_;
    std::unique_ptr<ORPMIDINoteRecorder> noteRecorder_;
    std::unique_ptr<ORPMIDITransport> midiTransport_;
    std::unique_ptr<editor::ORPDrumKitWatch> kitWatch_;
    std::filesystem::path watchedKit_;
    QPointer<widgets::DrumPickerView> pickerView_;
    widgets::PatternEditorView* editorView_ = nullptr;
    PatternEditorHost* editorHost_ = nullptr;
    QLineEdit* songNameField_ = nullptr;
    QPlainTextEdit* songNotesField_ = nullptr;
    QSlider* masterLevelSlider_ = nullptr;
    QLabel* masterLevelText_ = nullptr;
    QLabel* durationText_ = nullptr;
    QLabel* kitText_ = nullptr;
    SongTablesPane* tablesPane_ = nullptr;
    const void* observedSong_ = nullptr;
    bool closingAccepted_ = false;
    friend class DocumentController;
};

} // namespace rp::app
