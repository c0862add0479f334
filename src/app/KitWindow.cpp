#include "app/KitWindow.h"

#include "app/AppController.h"
#include "app/DocumentController.h"
#include "app/HydrogenImportActions.h"
#include "app/Inspector.h"
#include "app/SoundExportDialog.h"
#include "app/WindowPlacement.h"
#include "editor/ORPMIDIRouting.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "kit/ORPUserDefaults.h"
#include "foundation/Prompt.h"
#include "foundation/UserDefaults.h"
#include "midi/KWMIDIEndpoint.h"
#include "player/ORPPlayer.h"
#include "widgets/DrumPickerView.h"
#include "widgets/EditorImages.h"
#include "widgets/OASoundView.h"
#include "widgets/OXImageView.h"
#include "widgets/OXShortcutKeyField.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QVBoxLayout>

#include <cmath>

namespace rp::app {

using editor::KitColumn;
using editor::ORPDrumKitDocument;

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

// The General MIDI percussion notes offered by the preset pop-up.
struct Preset {
    int note;
    const char* name;
};
constexpr Preset kPresets[] = {
    { 35, "Acoustic Bass Drum" }, { 36, "Bass Drum 1" }, { 37, "Side Stick" }, { 38, "Acoustic Snare" },
    { 39, "Hand Clap" }, { 40, "Electric Snare" }, { 41, "Low Floor Tom" }, { 42, "Closed Hi-Hat" },
    { 43, "High Floor Tom" }, { 44, "Pedal Hi-Hat" }, { 45, "Low Tom" }, { 46, "Open Hi-Hat" },
    { 47, "Low-Mid Tom" }, { 48, "Hi-Mid Tom" }, { 49, "Crash Cymbal 1" }, { 50, "High Tom" },
    { 51, "Ride Cymbal 1" }, { 52, "Chinese Cymbal" }, { 53, "Ride Bell" }, { 54, "Tambourine" },
    { 55, "Splash Cymbal" }, { 56, "Cowbell" }, { 57, "Crash Cymbal 2" }, { 58, "Vibraslap" },
    { 59, "Ride Cymbal 2" }, { 60, "Hi Bongo" }, { 61, "Low Bongo" }, { 62, "Mute Hi Conga" },
    { 63, "Open Hi Conga" }, { 64, "Low Conga" }, { 65, "High Timbale" }, { 66, "Low Timbale" },
    { 67, "High Agogo" }, { 68, "Low Agogo" }, { 69, "Cabasa" }, { 70, "Maracas" },
    { 71, "Short Whistle" }, { 72, "Long Whistle" }, { 73, "Short Guiro" }, { 74, "Long Guiro" },
    { 75, "Claves" }, { 76, "Hi Wood Block" }, { 77, "Low Wood Block" }, { 78, "Mute Cuica" },
    { 79, "Open Cuica" }, { 80, "Mute Triangle" }, { 81, "Open Triangle" },
};

constexpr const char* kColumnNames[] = { "Group", "Instrument", "Variant" };

} // namespace

KitWindow::KitWindow(std::unique_ptr<ORPDrumKitDocument> document, QWidget* parent)
    : QMainWindow(parent)
    , document_(std::move(document))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setProperty("probeKind", "kit");
    document_->setClipboard(&clipboard_);
    document_->setSoundPlayer(this);
    document_->setMIDISender(this);
    pickerView_ = new widgets::DrumPickerView(document_->drumPicker(), this);
    pickerView_->hide();
    pickerView_->setIconProvider([this](const ORPDrum& drum) {
        return QPixmap::fromImage(widgets::EditorImages::drumIcon(drum, devicePixelRatioF()));
    });
    buildLayout();
    buildMenus();
    resize(760, 640);
    document_->setView(this);
    refreshKitFields();
    reloadBrowser();
    refreshDrumFields();
    refreshTitle();
    // The browser, not the kit name field, has the keys first: typing starts nothing by accident
    // and the window's shortcuts (Close among them) work at once.
    browser_->columnView(0)->setFocus();
}

KitWindow::~KitWindow()
{
    // The drum list panel may hold this window's drum list: it gives it back before it goes.
    if (auto* inspector = Inspector::shared()) {
        inspector->kitWindowWillClose(this);
    }
    document_->setView(nullptr);
    document_->setSoundPlayer(nullptr);
    document_->setMIDISender(nullptr);
    document_->setClipboard(nullptr);
}

std::string KitWindow::displayName() const
{
    if (const auto& file = document_->fileURL()) {
        return file->stem().string();
    }
    return localized("Untitled Kit");
}

void KitWindow::refreshTitle()
{
    setWindowTitle(qt(displayName()) + QStringLiteral("[*]"));
    const auto& file = document_->fileURL();
    setProperty("probePath", file ? qt(file->string()) : QString());
    setWindowModified(document_->changes().isDocumentEdited());
}

void KitWindow::buildLayout()
{
    auto* central = new QWidget;
    auto* outer = new QVBoxLayout(central);

    // The kit.
    auto* kitForm = new QFormLayout;
    kitNameField_ = new QLineEdit;
    kitNameField_->setProperty("probeName", "kitName");
    kitNameField_->setPlaceholderText(qt(localized("Kit name")));
    connect(kitNameField_, &QLineEdit::editingFinished, this, [this] {
        if (!refreshing_) {
            document_->setKitName(kitNameField_->text().toStdString());
        }
    });
    kitInfoField_ = new QPlainTextEdit;
    kitInfoField_->setProperty("probeName", "kitInfo");
    kitInfoField_->setTabChangesFocus(true);
    kitInfoField_->setFixedHeight(48);
    kitInfoField_->installEventFilter(this);
    fixLinksButton_ = new QPushButton(qt(localized("Fix Links")));
    fixLinksButton_->setProperty("probeName", "fixLinksButton");
    connect(fixLinksButton_, &QPushButton::clicked, this, [this] {
        document_->fixLinks();
        refreshButtons();
    });
    promptButton_ = new QPushButton(qt(localized("Prompt...")));
    promptButton_->setProperty("probeName", "fixLinksPromptButton");
    promptButton_->setToolTip(qt(localized("The message shown when this kit's linked sounds must be located")));
    connect(promptButton_, &QPushButton::clicked, this, [this] { editFixLinksPrompt(); });
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(kitNameField_, 1);
    nameRow->addWidget(fixLinksButton_);
    nameRow->addWidget(promptButton_);
    kitForm->addRow(qt(localized("Kit Name:")), nameRow);
    kitForm->addRow(qt(localized("Description:")), kitInfoField_);
    kitImageWell_ = new widgets::OXImageView;
    kitImageWell_->setProperty("probeName", "kitImageWell");
    kitImageWell_->setToolTip(qt(localized("Kit picture: drop, paste or open an image")));
    kitImageWell_->setFixedSize(84, 84);
    kitImageWell_->setMaximumPixels(1024);
    kitImageWell_->setPlaceholderText(qt(localized("Kit Picture")));
    kitImageWell_->setDefaultFilename([this] {
        const auto name = std::get<std::optional<std::string>>(document_->kitValue(editor::KitAttribute::KitName));
        return name.value_or(displayName());
    });
    connect(kitImageWell_, &widgets::OXImageView::imageChanged, this,
        [this] { document_->setKitImage(kitImageWell_->imageData()); });
    auto* kitRow = new QHBoxLayout;
    kitRow->addLayout(kitForm, 1);
    kitRow->addWidget(kitImageWell_, 0, Qt::AlignTop);
    outer->addLayout(kitRow);

    // The browser with add and delete buttons under each column.
    auto* browserBox = new QWidget;
    auto* browserLayout = new QVBoxLayout(browserBox);
    browserLayout->setContentsMargins(0, 0, 0, 0);
    browser_ = new widgets::OXBrowserView(document_->browser(), *this);
    browser_->setMinimumHeight(160);
    browserLayout->addWidget(browser_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(1);
    for (size_t c = 0; c < editor::kKitColumnCount; ++c) {
        auto* add = new QPushButton(QStringLiteral("+"));
        auto* remove = new QPushButton(QStringLiteral("\u2212"));
        add->setProperty("probeName", QStringLiteral("add%1Button").arg(QLatin1String(kColumnNames[c])));
        remove->setProperty("probeName", QStringLiteral("delete%1Button").arg(QLatin1String(kColumnNames[c])));
        add->setToolTip(qt(localized(std::string("New ") + kColumnNames[c])));
        remove->setToolTip(qt(localized(std::string("Delete ") + kColumnNames[c])));
        for (auto* button : { add, remove }) {
            button->setFixedSize(28, 22);
            button->setFocusPolicy(Qt::NoFocus);
        }
        connect(add, &QPushButton::clicked, this, [this, c] {
            browser_->commitRenaming();
            document_->addAction(c);
        });
        connect(remove, &QPushButton::clicked, this, [this, c] {
            browser_->commitRenaming();
            document_->deleteSelected(static_cast<KitColumn>(c));
        });
        addButtons_[c] = add;
        deleteButtons_[c] = remove;
        buttons->addWidget(add);
        buttons->addWidget(remove);
        buttons->addStretch(1);
    }
    browserLayout->addLayout(buttons);

    // The current drum.
    auto* drumBox = new QGroupBox;
    auto* drum = new QGridLayout(drumBox);
    drumIcon_ = new widgets::OXImageView;
    drumIcon_->setProperty("probeName", "drumIcon");
    drumIcon_->setToolTip(qt(localized("Drum icon: drop, paste or open an image")));
    drumIcon_->setFixedSize(40, 40);
    drumIcon_->setMaximumPixels(256);
    drumIcon_->setDefaultFilename([this] {
        const ORPDrumPtr& current = document_->currentDrum();
        return current ? current->compositeName() : std::string();
    });
    connect(drumIcon_, &widgets::OXImageView::imageChanged, this, [this] { document_->setDrumIcon(drumIcon_->imageData()); });
    drumTitle_ = new QLabel;
    drumTitle_->setProperty("probeName", "drumTitle");
    QFont titleFont = drumTitle_->font();
    titleFont.setBold(true);
    drumTitle_->setFont(titleFont);
    shortcutField_ = new OXShortcutKeyField;
    shortcutField_->setProperty("probeName", "shortcutKeyField");
    shortcutField_->setFixedWidth(36);
    shortcutField_->setMaxLength(1);
    connect(shortcutField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!refreshing_) {
            document_->setShortcutKey(text.toStdString());
        }
    });
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(drumIcon_);
    titleRow->addWidget(drumTitle_, 1);
    titleRow->addWidget(new QLabel(qt(localized("Shortcut Key:"))));
    titleRow->addWidget(shortcutField_);
    drum->addLayout(titleRow, 0, 0, 1, 3);

    soundView_ = new widgets::OASoundView;
    soundView_->setProperty("probeName", "soundView");
    soundView_->model().setPreservesAttributes(true);
    soundView_->model().setAction([this] {
        shownSound_ = nullptr;
        document_->setSound(soundView_->model().sound());
    });
    soundView_->model().setSpeaker([this](const OASoundPtr& sound, float volume) { playSound(sound, volume); });
    soundView_->setFolderHandler([this](const std::filesystem::path& folder) {
        std::string failure;
        if (document_->buildFromSoundFolder(folder, &failure)) {
            return true;
        }
        QMessageBox::warning(this, qt(localized("Build Kit from Folder")), qt(failure));
        return false;
    });
    soundView_->setSaveHandler([this] { saveSound(); });
    drum->addWidget(soundView_, 1, 0, 1, 3);

    volumeSlider_ = new QSlider(Qt::Horizontal);
    volumeSlider_->setProperty("probeName", "volumeSlider");
    volumeSlider_->setRange(0, 100);
    volumeText_ = new QLabel;
    volumeText_->setProperty("probeName", "volumeText");
    panSlider_ = new QSlider(Qt::Horizontal);
    panSlider_->setProperty("probeName", "panSlider");
    panSlider_->setRange(-100, 100);
    panText_ = new QLabel;
    panText_->setProperty("probeName", "panText");
    for (QSlider* slider : { volumeSlider_, panSlider_ }) {
        slider->installEventFilter(this);
        // One undo step per gesture: the value is stored when the slider is let go (or moved by keys).
        connect(slider, &QSlider::valueChanged, this, [this, slider](int value) {
            if (refreshing_ || slider->isSliderDown()) {
                if (slider == volumeSlider_) {
                    volumeText_->setText(qt(ORPDrumKitDocument::volumeText(static_cast<float>(value) / 100.0f)));
                } else {
                    panText_->setText(qt(ORPDrumKitDocument::panningText(static_cast<float>(value) / 100.0f)));
                }
                return;
            }
            if (slider == volumeSlider_) {
                document_->setVolume(static_cast<float>(value) / 100.0f);
            } else {
                document_->setPanning(static_cast<float>(value) / 100.0f);
            }
        });
        connect(slider, &QSlider::sliderReleased, this, [this, slider] {
            if (slider == volumeSlider_) {
                document_->setVolume(static_cast<float>(slider->value()) / 100.0f);
            } else {
                document_->setPanning(static_cast<float>(slider->value()) / 100.0f);
            }
        });
    }
    playButton_ = new QPushButton(qt(localized("Play")));
    playButton_->setProperty("probeName", "playSoundButton");
    connect(playButton_, &QPushButton::clicked, this, [this] { document_->playSound(); });
    auto* levels = new QGridLayout;
    levels->addWidget(volumeText_, 0, 0);
    levels->addWidget(volumeSlider_, 1, 0);
    levels->addWidget(panText_, 0, 1);
    levels->addWidget(panSlider_, 1, 1);
    levels->addWidget(playButton_, 1, 2);
    drum->addLayout(levels, 2, 0, 1, 3);

    precedenceBox_ = new QCheckBox(qt(localized("Variant takes precedence")));
    precedenceBox_->setProperty("probeName", "precedenceCheckBox");
    connect(precedenceBox_, &QCheckBox::clicked, this, [this](bool on) { document_->setPrecedence(on); });
    embedBox_ = new QCheckBox(qt(localized("Embed sound in kit")));
    embedBox_->setProperty("probeName", "embedCheckBox");
    connect(embedBox_, &QCheckBox::clicked, this, [this](bool on) { document_->setEmbedded(on); });
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(precedenceBox_);
    boxes->addWidget(embedBox_);
    boxes->addStretch(1);
    drum->addLayout(boxes, 3, 0, 1, 3);

    // MIDI: the channel field shows 1 to 16 (blank without a mapping).
    midiChannelField_ = new QSpinBox;
    midiChannelField_->setProperty("probeName", "midiChannelField");
    midiChannelField_->setRange(0, 16);
    midiChannelField_->setSpecialValueText(QStringLiteral(" "));
    midiNoteField_ = new QSpinBox;
    midiNoteField_->setProperty("probeName", "midiNoteField");
    midiNoteField_->setRange(0, 127);
    midiVelocityField_ = new QSpinBox;
    midiVelocityField_->setProperty("probeName", "midiVelocityField");
    midiVelocityField_->setRange(0, 127);
    for (QSpinBox* field : { midiChannelField_, midiNoteField_, midiVelocityField_ }) {
        field->setKeyboardTracking(false);
        connect(field, &QSpinBox::valueChanged, this, [this, field](int value) {
            if (refreshing_) {
                return;
            }
            if (field == midiChannelField_) {
                if (value > 0) {
                    document_->setMIDIChannelFromField(value);
                }
            } else if (field == midiNoteField_) {
                document_->setMIDINote(value);
            } else {
                document_->setMIDIVelocity(value);
            }
        });
    }
    midiPresetButton_ = new QPushButton(qt(localized("MIDI Preset")));
    midiPresetButton_->setProperty("probeName", "midiPresetPopUp");
    auto* presets = new QMenu(midiPresetButton_);
    for (const Preset& preset : kPresets) {
        QAction* action = presets->addAction(QStringLiteral("%1 %2").arg(preset.note).arg(qt(localized(preset.name))));
        action->setProperty("actionName", "midiPresetAction:");
        action->setProperty("tag", preset.note);
        connect(action, &QAction::triggered, this, [this, note = preset.note] { document_->chooseMIDIPreset(note); });
    }
    midiPresetButton_->setMenu(presets);
    playMIDIButton_ = new QPushButton(qt(localized("Play MIDI")));
    playMIDIButton_->setProperty("probeName", "playMIDIButton");
    connect(playMIDIButton_, &QPushButton::clicked, this, [this] {
        if (!document_->playMIDI()) {
            beep();
        }
    });
    auto* midi = new QHBoxLayout;
    midi->addWidget(new QLabel(qt(localized("MIDI Channel:"))));
    midi->addWidget(midiChannelField_);
    midi->addWidget(new QLabel(qt(localized("Note:"))));
    midi->addWidget(midiNoteField_);
    midi->addWidget(new QLabel(qt(localized("Velocity:"))));
    midi->addWidget(midiVelocityField_);
    midi->addWidget(midiPresetButton_);
    midi->addStretch(1);
    listenButton_ = new QPushButton(qt(localized("Listen")));
    listenButton_->setProperty("probeName", "midiListenButton");
    listenButton_->setCheckable(true);
    listenButton_->setToolTip(qt(localized("Take channel, note and velocity from the next note played")));
    connect(listenButton_, &QPushButton::toggled, this, [this](bool on) {
        if (!refreshing_) {
            document_->setListening(on);
        }
    });
    midi->addWidget(listenButton_);
    midi->addWidget(playMIDIButton_);
    drum->addLayout(midi, 4, 0, 1, 3);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(browserBox);
    split->addWidget(drumBox);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setChildrenCollapsible(false);
    outer->addWidget(split, 1);
    setCentralWidget(central);
}

void KitWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    auto add = [this](QMenu* menu, const char* title, const char* actionName, const QKeySequence& keys, auto handler) {
        QAction* action = menu->addAction(qt(localized(title)));
        action->setProperty("actionName", actionName);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto* app = AppController::shared();
    auto* documents = DocumentController::shared();

    QMenu* file = bar->addMenu(qt(localized("&File")));
    add(file, "New", "newDocument:", QKeySequence::New, [app] {
        if (app) {
            app->newSongDocument();
        }
    });
    add(file, "New Kit", "newKitDocument:", QKeySequence(QStringLiteral("Ctrl+Shift+N")), [documents] {
        if (documents) {
            documents->newKitDocument();
        }
    });
    add(file, "Open...", "openDocument:", QKeySequence::Open, [documents] {
        if (documents) {
            documents->openDocumentInteractively();
        }
    });
    add(file, "Import Hydrogen Kit...", "importHydrogenKit:", QKeySequence(), [this] { importHydrogenKit(this); });
    file->addSeparator();
    add(file, "Close", "performClose:", QKeySequence(QStringLiteral("Ctrl+W")), [this] { close(); });
    add(file, "Save", "saveDocument:", QKeySequence::Save, [this, documents] {
        if (documents) {
            documents->saveKit(this);
        }
    });
    add(file, "Save As...", "saveDocumentAs:", QKeySequence(QStringLiteral("Ctrl+Shift+S")), [this, documents] {
        if (documents) {
            documents->saveKitAs(this);
        }
    });
    file->addSeparator();
    add(file, "Quit Rattlepan", "terminate:", QKeySequence(QStringLiteral("Ctrl+Q")), [app] {
        if (app) {
            app->terminate();
        }
    });

    QMenu* edit = bar->addMenu(qt(localized("&Edit")));
    add(edit, "Undo", "undo:", QKeySequence::Undo, [this] { undo(); });
    add(edit, "Redo", "redo:", QKeySequence(QStringLiteral("Ctrl+Shift+Z")), [this] { redo(); });
    edit->addSeparator();
    add(edit, "Cut", "cut:", QKeySequence::Cut, [this] { performEditCommand(editor::OXEditCommand::Cut); });
    add(edit, "Copy", "copy:", QKeySequence::Copy, [this] { performEditCommand(editor::OXEditCommand::Copy); });
    add(edit, "Paste", "paste:", QKeySequence::Paste, [this] { performEditCommand(editor::OXEditCommand::Paste); });
    add(edit, "Delete", "clear:", QKeySequence::Delete, [this] { performEditCommand(editor::OXEditCommand::Clear); });

    QMenu* kit = bar->addMenu(qt(localized("&Kit")));
    add(kit, "New Group", "addAction:", QKeySequence(), [this] { document_->addAction(0); })->setProperty("tag", 0);
    add(kit, "New Instrument", "addAction:", QKeySequence(), [this] { document_->addAction(1); })->setProperty("tag", 1);
    add(kit, "New Variant", "addAction:", QKeySequence(), [this] { document_->addAction(2); })->setProperty("tag", 2);
    kit->addSeparator();
    add(kit, "Build Kit from Folder...", "buildKitFromFolder:", QKeySequence(), [this] { buildKitFromFolder(); });

    for (QMenu* menu : { file, edit, kit }) {
        connect(menu, &QMenu::aboutToShow, this, [this] { refreshMenus(); });
    }
    connect(qApp, &QApplication::focusChanged, this, [this] { refreshMenus(); }, Qt::QueuedConnection);
    refreshMenus();
}

namespace {

QWidget* focusedTextIn(const QWidget* window)
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != window) {
        return nullptr;
    }
    if (qobject_cast<QLineEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus)) {
        return focus;
    }
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus)) {
        return spin;
    }
    return nullptr;
}

} // namespace

void KitWindow::refreshMenus()
{
    UndoManager& undo = document_->undoManager();
    QWidget* text = focusedTextIn(this);
    auto& model = document_->browser();
    for (QAction* action : menuBar()->findChildren<QAction*>()) {
        const QByteArray name = action->property("actionName").toByteArray();
        if (name == "undo:") {
            action->setText(qt(undo.undoMenuItemTitle()));
            action->setEnabled(undo.canUndo());
        } else if (name == "redo:") {
            action->setText(qt(undo.redoMenuItemTitle()));
            action->setEnabled(undo.canRedo());
        } else if (name == "cut:" || name == "copy:" || name == "paste:" || name == "clear:") {
            if (text) {
                action->setEnabled(true);
                continue;
            }
            const auto command = name == "cut:" ? editor::OXEditCommand::Cut
                : name == "copy:"               ? editor::OXEditCommand::Copy
                : name == "paste:"              ? editor::OXEditCommand::Paste
                                                : editor::OXEditCommand::Clear;
            action->setEnabled(model.validate(command));
        } else if (name == "addAction:") {
            const int tag = action->property("tag").toInt();
            action->setEnabled(tag == 0 || (tag == 1 && document_->canAddInstrument())
                || (tag == 2 && document_->canAddVariant()));
        } else if (name == "buildKitFromFolder:") {
            action->setEnabled(document_->isEmptyKit());
        }
    }
}

void KitWindow::performEditCommand(editor::OXEditCommand command)
{
    if (QWidget* text = focusedTextIn(this)) {
        const char* slot = command == editor::OXEditCommand::Cut ? "cut"
            : command == editor::OXEditCommand::Copy             ? "copy"
            : command == editor::OXEditCommand::Paste            ? "paste"
                                                                 : nullptr;
        if (auto* line = qobject_cast<QLineEdit*>(text); line && !slot) {
            line->del();
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(text); plain && !slot) {
            plain->textCursor().removeSelectedText();
        } else if (slot && (qobject_cast<QLineEdit*>(text) || qobject_cast<QPlainTextEdit*>(text))) {
            QMetaObject::invokeMethod(text, slot);
        }
        return;
    }
    if (!document_->browser().perform(command)) {
        beep();
    }
    refreshMenus();
}

void KitWindow::undo()
{
    commitEditing();
    document_->undoManager().undo();
    refreshMenus();
}

void KitWindow::redo()
{
    commitEditing();
    document_->undoManager().redo();
    refreshMenus();
}

void KitWindow::commitEditing()
{
    if (browser_->isRenaming()) {
        browser_->commitRenaming();
    }
    if (!refreshing_) {
        document_->setKitName(kitNameField_->text().toStdString());
        document_->setKitInfo(kitInfoField_->toPlainText().toStdString());
    }
}

void KitWindow::buildKitFromFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, qt(localized("Build Kit from Folder")), QString(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (folder.isEmpty()) {
        return;
    }
    std::string failure;
    if (!document_->buildFromSoundFolder(folder.toStdString(), &failure)) {
        QMessageBox::warning(this, qt(localized("Build Kit from Folder")), qt(failure));
    }
    refreshMenus();
}

void KitWindow::placeForFile()
{
    std::optional<OXRect> fromFile;
    if (const auto frame = document_->savedFrame(UserDefaults::standard())) {
        fromFile = frame->window;
    }
    placeDocumentWindow(this, fromFile, std::nullopt, [](QWidget* other) { return qobject_cast<KitWindow*>(other) != nullptr; });
}

OXSavedFrame KitWindow::currentFrame() const
{
    return OXSavedFrame { toOXRect(geometry()), toOXRect(screen() ? screen()->geometry() : QRect(0, 0, 0, 0)) };
}

// ---- the document's requests ----

void KitWindow::reloadBrowser()
{
    browser_->reload();
    refreshButtons();
    refreshTitle();
}

void KitWindow::refreshButtons()
{
    addButtons_[0]->setEnabled(true);
    addButtons_[1]->setEnabled(document_->canAddInstrument());
    addButtons_[2]->setEnabled(document_->canAddVariant());
    for (size_t c = 0; c < editor::kKitColumnCount; ++c) {
        deleteButtons_[c]->setEnabled(document_->canDelete(static_cast<KitColumn>(c)));
    }
    fixLinksButton_->setEnabled(document_->fixLinksEnabled());
}

void KitWindow::refreshDrumFields()
{
    refreshing_ = true;
    const ORPDrumPtr& drum = document_->currentDrum();
    const bool has = drum != nullptr;
    for (QWidget* field : std::initializer_list<QWidget*> { shortcutField_, soundView_, volumeSlider_, panSlider_,
             playButton_, precedenceBox_, embedBox_, midiChannelField_, midiNoteField_, midiVelocityField_,
             midiPresetButton_, playMIDIButton_, drumIcon_, listenButton_ }) {
        field->setEnabled(has);
    }
    drumTitle_->setText(has ? qt(drum->compositeName()) : QString());
    drumIcon_->setImageData(has ? drum->storedSourceImage() : std::nullopt);
    drumIcon_->setPlaceholder(has ? widgets::EditorImages::drumIcon(*drum, devicePixelRatioF()) : QImage());
    if (has) {
        shortcutField_->setText(qt(drum->shortcutKey().value_or(std::string())));
        const OASoundPtr sound = drum->storedSound();
        // Decoding for the picture is costly: only a new sound (or another drum) is drawn again.
        if (sound.get() != shownSound_ || drum.get() != shownDrum_) {
            soundView_->model().setSound(sound);
            soundView_->refresh();
            shownSound_ = sound.get();
            shownDrum_ = drum.get();
        }
        volumeSlider_->setValue(sound ? static_cast<int>(std::lround(sound->volume() * 100.0f)) : 100);
        panSlider_->setValue(sound ? static_cast<int>(std::lround(sound->panning() * 100.0f)) : 0);
        volumeSlider_->setEnabled(sound != nullptr);
        panSlider_->setEnabled(sound != nullptr);
        playButton_->setEnabled(sound != nullptr);
        precedenceBox_->setChecked(drum->variantPrecedence());
        embedBox_->setChecked(!drum->linkAudioOnly());
        midiChannelField_->setValue(drum->hasMIDI() ? drum->midiChannel() + 1 : 0);
        midiNoteField_->setValue(drum->midiNote());
        midiVelocityField_->setValue(drum->midiVelocity());
        midiNoteField_->setEnabled(drum->hasMIDI());
        midiVelocityField_->setEnabled(drum->hasMIDI());
        playMIDIButton_->setEnabled(drum->hasMIDI());
    } else {
        soundView_->model().setSound(nullptr);
        soundView_->refresh();
        shownSound_ = nullptr;
        shownDrum_ = nullptr;
    }
    volumeText_->setText(qt(document_->volumeText()));
    panText_->setText(qt(document_->panningText()));
    refreshing_ = false;
    refreshButtons();
    refreshTitle();
}

void KitWindow::refreshKitFields()
{
    refreshing_ = true;
    const auto name = std::get<std::optional<std::string>>(document_->kitValue(editor::KitAttribute::KitName));
    const auto info = std::get<std::optional<std::string>>(document_->kitValue(editor::KitAttribute::KitInfo));
    if (kitNameField_->text().toStdString() != name.value_or(std::string())) {
        kitNameField_->setText(qt(name.value_or(std::string())));
    }
    if (kitInfoField_->toPlainText().toStdString() != info.value_or(std::string())) {
        kitInfoField_->setPlainText(qt(info.value_or(std::string())));
    }
    kitImageWell_->setImageData(std::get<std::optional<ORPImageData>>(document_->kitValue(editor::KitAttribute::KitImage)));
    refreshing_ = false;
    refreshButtons();
    refreshTitle();
}

void KitWindow::listenStateChanged(bool listening)
{
    refreshing_ = true;
    listenButton_->setChecked(listening);
    refreshing_ = false;
}

void KitWindow::saveSound()
{
    const OASoundPtr sound = soundView_->model().sound();
    if (!sound) {
        return;
    }
    auto exporter = OASoundExporter::exporterWithDefaultFileType(sound->sourceAudioFileType(),
        sound->sourceAudioStreamDescription(), static_cast<float>(sound->duration()), sound->name());
    exporter->setPrompt(localized("Save"));
    exporter->setMessage(localized("Save Sound File"));
    exporter->setCanChooseFormat(true, true, true, false);
    const auto folder = ORPUserDefaults::exportDirectoryURL();
    if (!SoundExportDialog::run(*exporter, this, folder, std::filesystem::path(sound->name()).stem().string())) {
        return;
    }
    Error error;
    if (sound->writeToURL(exporter->fileURL(), exporter->fileType(), exporter->streamDescription(), &error)) {
        ORPUserDefaults::setExportDirectoryURL(exporter->fileURL().parent_path());
        return;
    }
    Logger::log("an error occurred during file write");
    // A sound that was not written is said so, not only logged.
    QMessageBox::warning(this, qt(localized("Save Sound")),
        qt(error.description.empty() ? localized("The sound could not be written.") : error.description));
}

void KitWindow::editFixLinksPrompt()
{
    auto* panel = new QDialog(this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setWindowTitle(qt(localized("Fix Links Prompt")));
    panel->setProperty("probeKind", "promptPanel");
    auto* layout = new QVBoxLayout(panel);
    layout->addWidget(new QLabel(qt(localized("The message shown when this kit's linked sounds must be located:"))));
    auto* field = new QLineEdit;
    field->setProperty("probeName", "fixLinksPromptField");
    field->setMinimumWidth(420);
    field->setPlaceholderText(qt(ORPDrumKit::defaultFixLinksPrompt()));
    const auto prompt = std::get<std::optional<std::string>>(document_->kitValue(editor::KitAttribute::FixLinksPrompt));
    if (prompt && !prompt->empty()) {
        field->setText(qt(*prompt));
    }
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, panel, [this, panel, field] {
        document_->setFixLinksPrompt(field->text().toStdString());
        panel->accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, panel, &QDialog::reject);
    panel->open();
    if (field->text().isEmpty()) {
        // The placeholder stays readable: the empty field does not take the focus.
        buttons->button(QDialogButtonBox::Ok)->setFocus();
    } else {
        field->selectAll();
        field->setFocus();
    }
}

void KitWindow::beep()
{
    QApplication::beep();
}

void KitWindow::playSound(const OASoundPtr& sound, float volume)
{
    if (!sound) {
        return;
    }
    // The speaker output opens on the first audition only.
    if (!player_) {
        player_ = ORPPlayer::init();
    }
    if (player_ && player_->speakerOutput()) {
        player_->speakerOutput()->playSound(sound, volume);
    }
}

bool KitWindow::sendPacketList(const rp::MIDIPacketList& list)
{
    auto* app = AppController::shared();
    const auto routing = app ? app->midiRouting() : nullptr;
    const auto destination = routing ? routing->midiDestination() : nullptr;
    if (!destination) {
        return false;
    }
    destination->addSender(midiSenderToken_);
    destination->processMIDIPacketList(list, midiSenderToken_.get());
    destination->removeSender(midiSenderToken_.get());
    return true;
}

// ---- the browser ----

widgets::OXBrowserSource::Cell KitWindow::browserCell(size_t column, size_t row) const
{
    const auto cell = document_->cell(static_cast<KitColumn>(column), row);
    Cell result;
    result.text = qt(cell.text);
    result.bold = cell.bold;
    if (cell.iconDrum) {
        result.icon = widgets::EditorImages::drumIcon(*cell.iconDrum, devicePixelRatioF());
    }
    return result;
}

std::optional<std::string> KitWindow::browserBeginRenaming(size_t column)
{
    return document_->beginRenaming(static_cast<KitColumn>(column));
}

bool KitWindow::browserEndRenaming(const std::string& text)
{
    return document_->endRenaming(text);
}

void KitWindow::browserCancelRenaming()
{
    document_->cancelRenaming();
}

bool KitWindow::browserWriteRows(size_t column, const std::vector<size_t>& rows, editor::ORPPasteboard& pasteboard)
{
    return document_->writeRows(static_cast<KitColumn>(column), rows, pasteboard);
}

ORPDrumKitDocument* KitWindow::documentOf(widgets::OXBrowserView* browser)
{
    auto* window = browser ? qobject_cast<KitWindow*>(browser->window()) : nullptr;
    return window ? window->document_.get() : nullptr;
}

widgets::OXBrowserSource::Drop KitWindow::browserValidateDrop(const editor::ORPPasteboard& pasteboard,
    widgets::OXBrowserView* source, size_t column, size_t row, bool copyOnly)
{
    switch (document_->validateDrop(pasteboard, documentOf(source), static_cast<KitColumn>(column), row, copyOnly)) {
    case ORPDrumKitDocument::DropOperation::Move:
        return Drop::Move;
    case ORPDrumKitDocument::DropOperation::Copy:
        return Drop::Copy;
    case ORPDrumKitDocument::DropOperation::None:
        break;
    }
    return Drop::None;
}

bool KitWindow::browserAcceptDrop(const editor::ORPPasteboard& pasteboard, widgets::OXBrowserView* source,
    size_t column, size_t row, bool copyOnly)
{
    return document_->acceptDrop(pasteboard, documentOf(source), static_cast<KitColumn>(column), row, copyOnly);
}

void KitWindow::browserMenuAction(const editor::OXMenuItem& item, size_t)
{
    if (item.action == "addAction:") {
        document_->addAction(static_cast<size_t>(item.tag));
    } else if (item.action == "playAction:") {
        document_->playSound();
        document_->playMIDI();
    } else if (item.action == "makeDefaultAction:") {
        document_->makeDefault();
    }
}

// ---- events ----

bool KitWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == kitInfoField_ && event->type() == QEvent::FocusOut && !refreshing_) {
        document_->setKitInfo(kitInfoField_->toPlainText().toStdString());
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        // A double click on a slider puts it back to its neutral value.
        if (watched == volumeSlider_) {
            document_->resetVolume();
            return true;
        }
        if (watched == panSlider_) {
            document_->resetPanning();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void KitWindow::closeEvent(QCloseEvent* event)
{
    if (closingAccepted_) {
        event->accept();
        return;
    }
    event->ignore();
    // Asked after this close event ends: a close() made while one is being handled is dropped.
    QMetaObject::invokeMethod(this, [this] { emit closeRequested(this); }, Qt::QueuedConnection);
}

} // namespace rp::app
