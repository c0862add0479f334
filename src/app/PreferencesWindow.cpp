#include "app/PreferencesWindow.h"

#include "foundation/Localization.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "midi/KWMIDIManager.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

void fillMenu(QComboBox* box, const ORPMIDIMenu& menu)
{
    const QSignalBlocker block(box);
    box->clear();
    for (const auto& item : menu.items) {
        box->addItem(qt(item.title), item.tag);
    }
    box->setCurrentIndex(static_cast<int>(menu.selectedIndex));
}

} // namespace

PreferencesWindow::PreferencesWindow(UserDefaults& defaults, std::shared_ptr<KWMIDIManager> manager,
    std::shared_ptr<ORPMIDIRouting> routing, QWidget* parent)
    : QDialog(parent)
    , defaults_(defaults)
    , manager_(std::move(manager))
    , routing_(std::move(routing))
{
    setWindowTitle(qt(localized("Preferences")));
    setProperty("probeKind", "preferences");

    auto* layout = new QVBoxLayout(this);
    auto* barsBox = new QGroupBox(qt(localized("Pattern editor")));
    auto* barsLayout = new QVBoxLayout(barsBox);
    barsPerRow_ = new QButtonGroup(this);
    const char* titles[] = { "Show all bars in one row", "Wrap bars at the window's width", "Bars per row:" };
    const char* names[] = { "barsPerRowSingle", "barsPerRowFit", "barsPerRowFixed" };
    auto* fixedRow = new QHBoxLayout;
    for (int tag = 0; tag < 3; ++tag) {
        auto* radio = new QRadioButton(qt(localized(titles[tag])));
        radio->setProperty("probeName", names[tag]);
        barsPerRow_->addButton(radio, tag);
        if (tag < 2) {
            barsLayout->addWidget(radio);
        } else {
            fixedRow->addWidget(radio);
        }
    }
    barsPerRowField_ = new QLineEdit;
    barsPerRowField_->setProperty("probeName", "barsPerRowField");
    barsPerRowField_->setValidator(new QIntValidator(1, 999, barsPerRowField_));
    barsPerRowField_->setMaximumWidth(60);
    fixedRow->addWidget(barsPerRowField_);
    fixedRow->addStretch(1);
    barsLayout->addLayout(fixedRow);
    layout->addWidget(barsBox);

    auto* midiBox = new QGroupBox(qt(localized("MIDI")));
    auto* midiLayout = new QFormLayout(midiBox);
    midiSources_ = new QComboBox;
    midiSources_->setProperty("probeName", "midiSourcePopUp");
    midiDestinations_ = new QComboBox;
    midiDestinations_->setProperty("probeName", "midiDestinationPopUp");
    midiLayout->addRow(qt(localized("Input:")), midiSources_);
    midiLayout->addRow(qt(localized("Output:")), midiDestinations_);
    layout->addWidget(midiBox);

    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton(qt(localized("OK")), QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(qt(localized("Cancel")), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    layout->addWidget(buttons);

    connect(barsPerRow_, &QButtonGroup::idClicked, this, [this](int tag) {
        showBarsPerRow(preferences_->chooseBarsPerRowTag(tag));
        if (tag == 2) {
            barsPerRowField_->setFocus();
            barsPerRowField_->selectAll();
        }
    });
    connect(barsPerRowField_, &QLineEdit::textEdited, this,
        [this](const QString& text) { preferences_->editBarsPerRowField(text.toStdString()); });
    connect(midiSources_, &QComboBox::activated, this,
        [this](int index) { preferences_->chooseMIDISourceTag(midiSources_->itemData(index).toInt()); });
    connect(midiDestinations_, &QComboBox::activated, this,
        [this](int index) { preferences_->chooseMIDIDestinationTag(midiDestinations_->itemData(index).toInt()); });
    connect(ok, &QPushButton::clicked, this, [this] { finish(true); });
    connect(cancel, &QPushButton::clicked, this, [this] { finish(false); });
}

PreferencesWindow::~PreferencesWindow()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

void PreferencesWindow::showWindow()
{
    preferences_ = std::make_unique<ORPPreferences>(defaults_, manager_, routing_);
    showBarsPerRow(preferences_->barsPerRowControls());
    fillMIDIMenus();
    // Endpoints come and go on the MIDI thread; the menus are rebuilt on the main thread.
    NotificationCenter::defaultCenter().removeObserver(this);
    NotificationCenter::defaultCenter().addObserver(this, KWMIDIManager::kSetupChangedNotification, nullptr,
        [this](const Notification&) { RunLoop::main().perform([this] { fillMIDIMenus(); }); });
    show();
    raise();
    activateWindow();
}

void PreferencesWindow::showBarsPerRow(const ORPBarsPerRowControls& controls)
{
    if (QAbstractButton* radio = barsPerRow_->button(controls.radioTag)) {
        radio->setChecked(true);
    }
    barsPerRowField_->setEnabled(controls.fieldEnabled);
    barsPerRowField_->setText(qt(controls.fieldText));
}

void PreferencesWindow::fillMIDIMenus()
{
    if (!preferences_) {
        return;
    }
    fillMenu(midiSources_, preferences_->sourceMenu());
    fillMenu(midiDestinations_, preferences_->destinationMenu());
}

void PreferencesWindow::finish(bool ok)
{
    if (finishing_ || !preferences_) {
        return;
    }
    finishing_ = true;
    NotificationCenter::defaultCenter().removeObserver(this);
    if (ok && barsPerRowField_->isEnabled()) {
        preferences_->editBarsPerRowField(barsPerRowField_->text().toStdString());
    }
    preferences_->dismiss(ok);
    preferences_.reset();
    hide();
    finishing_ = false;
}

void PreferencesWindow::closeEvent(QCloseEvent* event)
{
    // The close box keeps the changes, as OK does.
    finish(true);
    event->accept();
}

} // namespace rp::app
