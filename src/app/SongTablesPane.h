#pragma once

// moc cannot parse the C++20 library headers the engine uses; it needs none of them.
#ifndef Q_MOC_RUN
#include "editor/ORPSongTables.h"
#include "widgets/OXTableView.h"
#endif

#include <QSplitter>
#include <functional>
#include <memory>

class QPushButton;
class SongTableModel;

namespace rp::editor {
class SongDocument;
}

namespace rp::app {

// The song window's sections and playlist tables side by side, each with its buttons below, shown
// and edited through one ORPSongTables. The pane is the tables' delegate and the model's view.
class SongTablesPane final : public QSplitter, public OXTableViewDelegate, public editor::SongTablesView {
    Q_OBJECT
public:
    // What the context menu's Export items do with the tables' selection (the mode as argument).
    void setExportSelection(std::function<void(unsigned)> exportSelection) { exportSelection_ = std::move(exportSelection); }
    SongTablesPane(std::shared_ptr<editor::SongDocument> document, editor::SongTablesHooks hooks,
        QWidget* parent = nullptr);
    ~SongTablesPane() override;

    editor::ORPSongTables& tables() { return *tables_; }
    OXTableView* sectionsTable() const { return sectionsTable_; }
    OXTableView* layoutTable() const { return layoutTable_; }

    // The song's lists changed (or the document holds another song after a revert).
    void reloadFromSong();
    // A name changed: the cells show it (the rows stay).
    void refreshCells();
    // Playing: no adding rows and no selecting all entries.
    void playbackChanged();
    // Commits the cell being edited, if any.
    void commitEditing();

    // OXTableViewDelegate
    bool tableViewValidateEditCommand(OXTableView* table, editor::EditCommand command) override;
    void tableViewPerformEditCommand(OXTableView* table, editor::EditCommand command) override;
    bool tableViewSelectionShouldChange(OXTableView* table) override;
    void tableViewSelectionDidChange(OXTableView* table, const std::vector<size_t>& rows) override;
    void tableViewBuildContextMenu(OXTableView* table, QMenu* menu) override;
    void tableViewReturnKey(OXTableView* table) override;
    bool tableViewWriteRows(
        OXTableView* table, const std::vector<size_t>& rows, editor::ORPPasteboard& pasteboard) override;
    editor::DropOperation tableViewValidateDrop(
        OXTableView* table, const Drop& drop, const editor::ORPPasteboard& pasteboard) override;
    bool tableViewAcceptDrop(
        OXTableView* table, const Drop& drop, const editor::ORPPasteboard& pasteboard) override;

    // SongTablesView
    void reloadTable(editor::SongTable table) override;
    void setSelectedRows(editor::SongTable table, const std::vector<size_t>& rows) override;
    void scrollRowToVisible(editor::SongTable table, size_t row) override;
    void editNameCell(editor::SongTable table, size_t row) override;
    void makeFirstResponder(editor::SongTable table) override;
    void deleteButtonsChanged() override;
    void beep() override;

private:
    std::function<void(unsigned)> exportSelection_;
    OXTableView* viewOf(editor::SongTable table) const;
    SongTableModel* modelOf(editor::SongTable table) const;
    editor::SongTable tableOf(const OXTableView* view) const;
    editor::DropProposal proposal(OXTableView* table, const Drop& drop) const;
    void performMenuAction(editor::TableMenuItem::Action action);
    void updateButtons();

    std::shared_ptr<editor::SongDocument> document_;
    std::unique_ptr<editor::ORPSongTables> tables_;
    std::unique_ptr<OXClipboardPasteboard> clipboard_;
    OXTableView* sectionsTable_ = nullptr;
    OXTableView* layoutTable_ = nullptr;
    SongTableModel* sectionsModel_ = nullptr;
    SongTableModel* layoutModel_ = nullptr;
    int sectionsRowsShown_ = 0;
    int playlistRowsShown_ = 0;
    QPushButton* addSectionButton_ = nullptr;
    QPushButton* delSectionButton_ = nullptr;
    QPushButton* addMarkerButton_ = nullptr;
    QPushButton* delMarkerButton_ = nullptr;
    QPushButton* allMarkersButton_ = nullptr;
};

} // namespace rp::app
