#pragma once

#ifndef Q_MOC_RUN
#include "editor/ORPDrumKitDocument.h"
#endif
#include "widgets/OXBrowserView.h"
#include "widgets/OXPasteboard.h"

#include <QMainWindow>

namespace rp::widgets {
class DrumPickerView;
}

#include <memory>
#include <string>

class ORPPlayer;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class OXShortcutKeyField;

namespace rp::widgets {
class OASoundView;
class OXImageView;
}

namespace rp::app {

// The window of one drum kit: the kit's name and description, the browser of groups, instruments
// and variants with their add and delete buttons, and the fields of the current drum. Shows what
// its document says and hands it every change the user makes.
class KitWindow final : public QMainWindow,
                        public editor::KitDocumentView,
                        public editor::KitSoundPlayer,
                        public editor::KitMIDISender,
                        public widgets::OXBrowserSource {
    Q_OBJECT
public:
    explicit KitWindow(std::unique_ptr<editor::ORPDrumKitDocument> document, QWidget* parent = nullptr);
    ~KitWindow() override;

    editor::ORPDrumKitDocument& document() { return *document_; }
    const editor::ORPDrumKitDocument& document() const { return *document_; }
    std::string displayName() const;
    void refreshTitle();
    // Commits a field being edited (kit name, description, a cell being renamed).
    void commitEditing();
    // The frame the file keeps, constrained to the screen; left alone without one.
    void placeForFile();
    // The frame to store with the file.
    OXSavedFrame currentFrame() const;

    // The Edit menu's commands, to the focused text field or else to the browser.
    void performEditCommand(editor::OXEditCommand command);
    void undo();
    void redo();
    // Asks for a folder of sound files and builds the (new) kit from it.
    void buildKitFromFolder();
    // "Save Sound...": the current drum's sound through the sound export panel.
    void saveSound();
    // The fix-links prompt panel, as a sheet on this window.
    void editFixLinksPrompt();
    // The kit's drum list, shown in the floating drum list panel while this window is in front.
    widgets::DrumPickerView* drumPickerView() const { return pickerView_; }

    // KitDocumentView
    void reloadBrowser() override;
    void refreshDrumFields() override;
    void refreshKitFields() override;
    void listenStateChanged(bool listening) override;
    void beep() override;
    // KitSoundPlayer
    void playSound(const OASoundPtr& sound, float volume) override;
    // KitMIDISender
    bool sendPacketList(const rp::MIDIPacketList& list) override;
    // OXBrowserSource
    Cell browserCell(size_t column, size_t row) const override;
    std::optional<std::string> browserBeginRenaming(size_t column) override;
    bool browserEndRenaming(const std::string& text) override;
    void browserCancelRenaming() override;
    bool browserWriteRows(size_t column, const std::vector<size_t>& rows, editor::ORPPasteboard& pasteboard) override;
    Drop browserValidateDrop(const editor::ORPPasteboard& pasteboard, widgets::OXBrowserView* source, size_t column,
        size_t row, bool copyOnly) override;
    bool browserAcceptDrop(const editor::ORPPasteboard& pasteboard, widgets::OXBrowserView* source, size_t column,
        size_t row, bool copyOnly) override;
    void browserMenuAction(const editor::OXMenuItem& item, size_t column) override;

signals:
    void closeRequested(KitWindow* window);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void buildMenus();
    void refreshMenus();
    void refreshButtons();
    // The document of a browser in some kit window (null for another kind of window).
    static editor::ORPDrumKitDocument* documentOf(widgets::OXBrowserView* browser);

    std::unique_ptr<editor::ORPDrumKitDocument> document_;
    OXClipboardPasteboard clipboard_;
    std::shared_ptr<ORPPlayer> player_;
    std::shared_ptr<int> midiSenderToken_ = std::make_shared<int>(0);
    widgets::OXBrowserView* browser_ = nullptr;
    widgets::DrumPickerView* pickerView_ = nullptr;
    QLineEdit* kitNameField_ = nullptr;
    QPlainTextEdit* kitInfoField_ = nullptr;
    QPushButton* fixLinksButton_ = nullptr;
    QPushButton* addButtons_[3] = {};
    QPushButton* deleteButtons_[3] = {};
    QLabel* drumTitle_ = nullptr;
    widgets::OXImageView* drumIcon_ = nullptr;
    widgets::OXImageView* kitImageWell_ = nullptr;
    QPushButton* promptButton_ = nullptr;
    QPushButton* listenButton_ = nullptr;
    OXShortcutKeyField* shortcutField_ = nullptr;
    widgets::OASoundView* soundView_ = nullptr;
    QSlider* volumeSlider_ = nullptr;
    QLabel* volumeText_ = nullptr;
    QSlider* panSlider_ = nullptr;
    QLabel* panText_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QCheckBox* precedenceBox_ = nullptr;
    QCheckBox* embedBox_ = nullptr;
    QSpinBox* midiChannelField_ = nullptr;
    QSpinBox* midiNoteField_ = nullptr;
    QSpinBox* midiVelocityField_ = nullptr;
    QPushButton* midiPresetButton_ = nullptr;
    QPushButton* playMIDIButton_ = nullptr;
    const OASound* shownSound_ = nullptr;
    const ORPDrum* shownDrum_ = nullptr;
    bool refreshing_ = false;
    bool closingAccepted_ = false;
    friend class DocumentController;
};

} // namespace rp::app
