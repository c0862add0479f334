#include "app/SongTablesPane.h"
#include "app/SongExport.h"

#include "app/UiProbe.h"
#include "editor/SongDocument.h"
#include "foundation/Localization.h"
#include "widgets/SongTableModel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace rp::app {

using editor::SongTable;

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

QPushButton* makeButton(const QString& title, const char* probeName)
{
    auto* button = new QPushButton(title);
    button->setProperty("probeName", probeName);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

int columnIndex(SongTable table, editor::TableColumn column)
{
    const auto columns = editor::columnsOf(table);
    const auto found = std::find(columns.begin(), columns.end(), column);
    return found == columns.end() ? -1 : static_cast<int>(found - columns.begin());
}

void scheduleProbe()
{
    if (auto* probe = UiProbe::instance())
        probe->scheduleWrite();
}

} // namespace

SongTablesPane::SongTablesPane(
    std::shared_ptr<editor::SongDocument> document, editor::SongTablesHooks hooks, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent)
    , document_(std::move(document))
    , tables_(std::make_unique<editor::ORPSongTables>(
          document_->song(), *document_->undoManager(), document_->reconciler(), std::move(hooks)))
    , clipboard_(std::make_unique<OXClipboardPasteboard>())
{
    tables_->setClipboard(clipboard_.get());

    auto makeTable = [this](SongTable table, const char* probeName, SongTableModel*& model) {
        auto* view = new OXTableView;
        model = new SongTableModel(*tables_, table, view);
        view->setModel(model);
        view->setItemDelegate(new SongTableItemDelegate(view));
        view->setTableDelegate(this);
        view->setProbeName(QString::fromLatin1(probeName));
        view->verticalHeader()->setVisible(false);
        view->verticalHeader()->setDefaultSectionSize(22);
        view->horizontalHeader()->setStretchLastSection(true);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
        view->setAlternatingRowColors(true);
        view->setDragEnabled(true);
        view->setAcceptDrops(true);
        view->setDropIndicatorShown(true);
        view->setDragDropMode(QAbstractItemView::DragDrop);
        return view;
    };
    sectionsTable_ = makeTable(SongTable::Sections, "sectionsTable", sectionsModel_);
    layoutTable_ = makeTable(SongTable::Playlist, "layoutTable", layoutModel_);
    sectionsTable_->horizontalHeader()->resizeSection(0, 110);
    layoutTable_->horizontalHeader()->resizeSection(
        columnIndex(SongTable::Playlist, editor::TableColumn::Section), 100);
    layoutTable_->horizontalHeader()->resizeSection(
        columnIndex(SongTable::Playlist, editor::TableColumn::Name), 100);
    layoutTable_->horizontalHeader()->resizeSection(
        columnIndex(SongTable::Playlist, editor::TableColumn::Repeats), 60);

    addSectionButton_ = makeButton(qt(localized("Add Section")), "addSectionButton");
    delSectionButton_ = makeButton(qt(localized("Delete")), "delSectionButton");
    addMarkerButton_ = makeButton(qt(localized("Add to Playlist")), "addMarkerButton");
    delMarkerButton_ = makeButton(qt(localized("Delete")), "delMarkerButton");
    allMarkersButton_ = makeButton(qt(localized("Select All")), "allMarkersButton");

    auto column = [](OXTableView* table, std::initializer_list<QPushButton*> buttons) {
        auto* pane = new QWidget;
        auto* layout = new QVBoxLayout(pane);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(4);
        layout->addWidget(table, 1);
        auto* row = new QHBoxLayout;
        for (QPushButton* button : buttons)
            row->addWidget(button);
        row->addStretch(1);
        layout->addLayout(row);
        return pane;
    };
    QWidget* sectionsPane = column(sectionsTable_, { addSectionButton_, delSectionButton_ });
    QWidget* playlistPane = column(layoutTable_, { addMarkerButton_, delMarkerButton_, allMarkersButton_ });
    sectionsPane->setMinimumWidth(150);
    playlistPane->setMinimumWidth(300);
    addWidget(sectionsPane);
    addWidget(playlistPane);
    setChildrenCollapsible(false);

    connect(addSectionButton_, &QPushButton::clicked, this, [this] { tables_->addNewSection(); });
    connect(delSectionButton_, &QPushButton::clicked, this, [this] { tables_->removeSectionsAction(); });
    connect(addMarkerButton_, &QPushButton::clicked, this, [this] { tables_->addNewSectionMarker(); });
    connect(delMarkerButton_, &QPushButton::clicked, this, [this] { tables_->removeSectionMarkersAction(); });
    connect(allMarkersButton_, &QPushButton::clicked, this, [this] { tables_->selectAllMarkers(); });

    sectionsRowsShown_ = sectionsModel_->rowCount();
    playlistRowsShown_ = layoutModel_->rowCount();
    tables_->setView(this);
    updateButtons();
}

SongTablesPane::~SongTablesPane()
{
    tables_->setView(nullptr);
    // The views go before the tables they ask.
    delete sectionsTable_;
    delete layoutTable_;
}

void SongTablesPane::reloadFromSong()
{
    if (tables_->song() != document_->song())
        tables_->setSong(document_->song());
    else
        tables_->reloadData();
    updateButtons();
}

void SongTablesPane::refreshCells()
{
    sectionsTable_->viewport()->update();
    layoutTable_->viewport()->update();
    scheduleProbe();
}

void SongTablesPane::playbackChanged()
{
    updateButtons();
}

void SongTablesPane::commitEditing()
{
    for (OXTableView* view : { sectionsTable_, layoutTable_ }) {
        // Committing writes the editor's value through the model; closing then drops the editor.
        if (QWidget* editor = view->indexWidget(view->currentIndex())) {
            emit view->itemDelegate()->commitData(editor);
            emit view->itemDelegate()->closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }
}

void SongTablesPane::updateButtons()
{
    const bool canAdd = tables_->canAdd();
    addSectionButton_->setEnabled(canAdd);
    addMarkerButton_->setEnabled(canAdd && !document_->song()->sectionList().empty());
    allMarkersButton_->setEnabled(canAdd);
    delSectionButton_->setEnabled(tables_->canDeleteSections());
    delMarkerButton_->setEnabled(tables_->canDeleteSectionMarkers());
    scheduleProbe();
}

OXTableView* SongTablesPane::viewOf(SongTable table) const
{
    return table == SongTable::Sections ? sectionsTable_ : layoutTable_;
}

SongTableModel* SongTablesPane::modelOf(SongTable table) const
{
    return table == SongTable::Sections ? sectionsModel_ : layoutModel_;
}

SongTable SongTablesPane::tableOf(const OXTableView* view) const
{
    return view == sectionsTable_ ? SongTable::Sections : SongTable::Playlist;
}

// --- The tables' delegate ---

bool SongTablesPane::tableViewValidateEditCommand(OXTableView* table, editor::EditCommand command)
{
    return tables_->validateEditCommand(tableOf(table), command);
}

void SongTablesPane::tableViewPerformEditCommand(OXTableView* table, editor::EditCommand command)
{
    tables_->performEditCommand(tableOf(table), command);
}

bool SongTablesPane::tableViewSelectionShouldChange(OXTableView* table)
{
    return tables_->selectionShouldChange(tableOf(table));
}

void SongTablesPane::tableViewSelectionDidChange(OXTableView* table, const std::vector<size_t>& rows)
{
    tables_->selectionDidChange(tableOf(table), rows);
    scheduleProbe();
}

void SongTablesPane::performMenuAction(editor::TableMenuItem::Action action)
{
    using Action = editor::TableMenuItem::Action;
    switch (action) {
    case Action::AddSection:
        tables_->addNewSection();
        break;
    case Action::RemoveSections:
        tables_->removeSectionsAction();
        break;
    case Action::AddSectionMarker:
        tables_->addNewSectionMarker();
        break;
    case Action::RemoveSectionMarkers:
        tables_->removeSectionMarkersAction();
        break;
    case Action::Separator:
    case Action::ExportSubmenu:
        break;
    }
}

void SongTablesPane::tableViewBuildContextMenu(OXTableView* table, QMenu* menu)
{
    using Action = editor::TableMenuItem::Action;
    const auto items = tables_->contextMenuItems(tableOf(table));
    for (size_t i = 0; i < items.size(); ++i) {
        const auto& item = items[i];
        if (item.action == Action::ExportSubmenu) {
            // Copies of the Export Selection menu's items.
            QMenu* exportMenu = menu->addMenu(qt(item.title));
            const auto& titles = exportMenuItemTitles();
            for (size_t mode = 0; mode < titles.size(); ++mode) {
                QAction* action = exportMenu->addAction(qt(localized(titles[mode])));
                action->setProperty("actionName", "exportSelectionAudio:");
                action->setProperty("tag", static_cast<int>(mode));
                action->setEnabled(static_cast<bool>(exportSelection_));
                // Queued: the export's panel must not open inside the context menu's own loop.
                connect(action, &QAction::triggered, this, [this, mode] {
                    QMetaObject::invokeMethod(this, [this, mode] {
                        if (exportSelection_)
                            exportSelection_(static_cast<unsigned>(mode));
                    }, Qt::QueuedConnection);
                });
            }
            continue;
        }
        if (item.action == Action::Separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(qt(item.title));
        action->setEnabled(tables_->canAdd()
            || (item.action != Action::AddSection && item.action != Action::AddSectionMarker));
        connect(action, &QAction::triggered, this, [this, which = item.action] { performMenuAction(which); });
    }
    insertEditCommands(menu, 0, table);
}

void SongTablesPane::tableViewReturnKey(OXTableView* table)
{
    tables_->returnKeyDown(tableOf(table));
}

bool SongTablesPane::tableViewWriteRows(
    OXTableView* table, const std::vector<size_t>& rows, editor::ORPPasteboard& pasteboard)
{
    return tables_->writeRows(tableOf(table), rows, pasteboard);
}

editor::DropProposal SongTablesPane::proposal(OXTableView* table, const Drop& drop) const
{
    editor::DropProposal proposal;
    proposal.target = tableOf(table);
    proposal.origin = drop.source == sectionsTable_ ? editor::DragOrigin::ThisSectionsTable
        : drop.source == layoutTable_               ? editor::DragOrigin::ThisPlaylistTable
                                                    : editor::DragOrigin::Elsewhere;
    proposal.optionHeld = drop.optionHeld;
    proposal.row = drop.row;
    proposal.position = drop.position;
    return proposal;
}

editor::DropOperation SongTablesPane::tableViewValidateDrop(
    OXTableView* table, const Drop& drop, const editor::ORPPasteboard& pasteboard)
{
    return tables_->validateDrop(proposal(table, drop), pasteboard);
}

bool SongTablesPane::tableViewAcceptDrop(
    OXTableView* table, const Drop& drop, const editor::ORPPasteboard& pasteboard)
{
    return tables_->acceptDrop(proposal(table, drop), pasteboard);
}

// --- The tables' view ---

void SongTablesPane::reloadTable(SongTable table)
{
    // With the rows the same, only the cells change: a cell being committed keeps its editor (a
    // reset would destroy it inside its own commit).
    SongTableModel* model = modelOf(table);
    int& shown = table == SongTable::Sections ? sectionsRowsShown_ : playlistRowsShown_;
    const int rows = static_cast<int>(tables_->numberOfRows(table));
    if (rows == shown) {
        if (rows > 0)
            emit model->dataChanged(model->index(0, 0), model->index(rows - 1, model->columnCount() - 1));
    } else {
        model->reload();
        shown = rows;
    }
    // A reset drops the view's selection; the tables still hold theirs.
    viewOf(table)->setSelectedRowsQuietly(tables_->selectedRows(table));
    updateButtons();
}

void SongTablesPane::setSelectedRows(SongTable table, const std::vector<size_t>& rows)
{
    viewOf(table)->setSelectedRowsQuietly(rows);
    viewOf(table)->viewport()->update();
    scheduleProbe();
}

void SongTablesPane::scrollRowToVisible(SongTable table, size_t row)
{
    viewOf(table)->scrollTo(modelOf(table)->index(static_cast<int>(row), 0));
}

void SongTablesPane::editNameCell(SongTable table, size_t row)
{
    OXTableView* view = viewOf(table);
    const QModelIndex index
        = modelOf(table)->index(static_cast<int>(row), columnIndex(table, editor::TableColumn::Name));
    if (!index.isValid())
        return;
    view->setFocus(Qt::OtherFocusReason);
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    view->scrollTo(index);
    // Editing a line edit starts with its whole text selected.
    view->edit(index);
}

void SongTablesPane::makeFirstResponder(SongTable table)
{
    viewOf(table)->setFocus(Qt::OtherFocusReason);
}

void SongTablesPane::deleteButtonsChanged()
{
    updateButtons();
}

void SongTablesPane::beep()
{
    QApplication::beep();
}

} // namespace rp::app
