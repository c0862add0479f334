#include "app/TransportPanel.h"

#include "foundation/Localization.h"
#include "foundation/UserDefaults.h"
#include "model/ORPPattern.h"
#include "widgets/EditorImages.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace rp::app {

namespace {

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

constexpr int kIconPoints = 16;

// The transport's symbols, painted at twice their size so they stay crisp on dense screens.
QIcon drawnIcon(const char* name, const QColor& ink)
{
    const qreal ratio = 2.0;
    QPixmap pixmap(static_cast<int>(kIconPoints * ratio), static_cast<int>(kIconPoints * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    auto triangle = [&p](qreal x, qreal y, qreal w, qreal h, bool right) {
        QPainterPath path;
        if (right) {
            path.moveTo(x, y);
            path.lineTo(x + w, y + h / 2);
            path.lineTo(x, y + h);
        } else {
            path.moveTo(x + w, y);
            path.lineTo(x, y + h / 2);
            path.lineTo(x + w, y + h);
        }
        path.closeSubpath();
        p.drawPath(path);
    };
    const std::string n = name;
    if (n == "button-play") {
        p.setBrush(QColor(60, 170, 90));
        triangle(4, 2.5, 10, 11, true);
    } else if (n == "button-stop") {
        p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1, 1);
    } else if (n == "start") {
        p.drawRect(QRectF(3, 3.5, 1.8, 9));
        triangle(5.5, 3.5, 8, 9, false);
    } else if (n == "back") {
        triangle(1.5, 4, 6.5, 8, false);
        triangle(7.5, 4, 6.5, 8, false);
    } else if (n == "forward") {
        triangle(2, 4, 6.5, 8, true);
        triangle(8, 4, 6.5, 8, true);
    } else if (n == "end") {
        triangle(2.5, 3.5, 8, 9, true);
        p.drawRect(QRectF(11.2, 3.5, 1.8, 9));
    } else if (n == "loop") {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(2.5, 4, 11, 8), 30 * 16, 300 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        triangle(10.5, 2.2, 4, 4.5, true);
    } else if (n == "record") {
        p.setBrush(QColor(210, 60, 55));
        p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
    } else if (n == "insert-bar" || n == "insert-beat" || n == "delete-beats") {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 1.2));
        const qreal width = n == "insert-bar" ? 10 : 5;
        p.drawRect(QRectF(2.5, 3.5, width, 9));
        p.setPen(QPen(n == "delete-beats" ? QColor(200, 70, 60) : ink, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 11.5), QPointF(15, 11.5));
        if (n != "delete-beats")
            p.drawLine(QPointF(13, 9.5), QPointF(13, 13.5));
    } else if (n == "zoom-in" || n == "zoom-out") {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 1.4));
        p.drawEllipse(QRectF(2, 2, 9, 9));
        p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 10), QPointF(14, 14));
        p.setPen(QPen(ink, 1.3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4.5, 6.5), QPointF(8.5, 6.5));
        if (n == "zoom-in")
            p.drawLine(QPointF(6.5, 4.5), QPointF(6.5, 8.5));
    } else if (n == "up" || n == "down") {
        QPainterPath path;
        if (n == "up") {
            path.moveTo(3, 11);
            path.lineTo(8, 4);
            path.lineTo(13, 11);
        } else {
            path.moveTo(3, 5);
            path.lineTo(8, 12);
            path.lineTo(13, 5);
        }
        path.closeSubpath();
        p.drawPath(path);
    } else if (n == "note-generic") {
        // A note head without a value: the bars disagree on theirs.
        p.setBrush(QColor(140, 140, 140));
        p.save();
        p.translate(7, 12);
        p.rotate(-20);
        p.drawEllipse(QRectF(-3, -2, 6, 4));
        p.restore();
        p.setPen(QPen(QColor(140, 140, 140), 1.2));
        p.drawLine(QPointF(9.6, 11.5), QPointF(9.6, 2.5));
    }
    return QIcon(pixmap);
}

QLabel* caption(const char* text)
{
    auto* label = new QLabel(qt(localized(text)));
    QFont font = label->font();
    font.setPointSizeF(std::max(7.0, font.pointSizeF() - 2));
    font.setCapitalization(QFont::AllUppercase);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QFrame* group(QLayout* content)
{
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("group"));
    frame->setLayout(content);
    content->setContentsMargins(6, 4, 6, 4);
    content->setSpacing(3);
    return frame;
}

} // namespace

// Two small arrows that step an integer within bounds; held down they repeat.
class ValueStepper final : public QWidget {
public:
    ValueStepper(int64_t minimum, int64_t maximum, std::function<void(int64_t)> stepped)
        : minimum_(minimum)
        , maximum_(maximum)
        , stepped_(std::move(stepped))
    {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        for (int direction : { +1, -1 }) {
            auto* button = new QToolButton;
            button->setObjectName(QStringLiteral("stepper"));
            button->setIcon(drawnIcon(direction > 0 ? "up" : "down", palette().color(QPalette::WindowText)));
            button->setIconSize(QSize(8, 8));
            button->setAutoRepeat(true);
            button->setFixedSize(14, 11);
            button->setFocusPolicy(Qt::NoFocus);
            connect(button, &QToolButton::clicked, this, [this, direction] {
                const int64_t next = std::clamp(value_ + direction, minimum_, maximum_);
                if (next != value_) {
                    value_ = next;
                    stepped_(value_);
                }
            });
            column->addWidget(button);
        }
    }
    void setValue(int64_t value) { value_ = value; }
    int64_t value() const { return value_; }

private:
    int64_t minimum_;
    int64_t maximum_;
    int64_t value_ = 0;
    std::function<void(int64_t)> stepped_;
};

TransportPanel::TransportPanel(QWidget* parent)
    : OXInspectorPanel(parent)
{
    using Transport = ORPInspectorController::Transport;
    using Sender = ORPInspectorController::TimeSigSender;
    setWindowTitle(qt(localized("Transport")));
    setProperty("probeKind", "panel");
    setProperty("panelKind", "transport");
    setAttribute(Qt::WA_ShowWithoutActivating);

    // Transport buttons; the four that move repeat while held.
    playStop_ = transportButton("playStopButton", "button-play", qt(localized("Play")));
    playStop_->setIconSize(QSize(22, 22));
    playStop_->setFixedSize(38, 30);
    connect(playStop_, &QToolButton::clicked, this, [this] { transport(Transport::PlayStop); });
    struct Nav {
        const char* probe;
        const char* icon;
        const char* tip;
        Transport button;
    };
    auto* transportRow = new QHBoxLayout;
    for (const Nav& nav : { Nav { "startButton", "start", "To Start", Transport::Start },
             Nav { "backButton", "back", "Back", Transport::Back } }) {
        QToolButton* button = transportButton(nav.probe, nav.icon, qt(localized(nav.tip)));
        button->setAutoRepeat(true);
        connect(button, &QToolButton::clicked, this, [this, b = nav.button] { transport(b); });
        transportRow->addWidget(button);
    }
    transportRow->addWidget(playStop_);
    for (const Nav& nav : { Nav { "forwardButton", "forward", "Forward", Transport::Forward },
             Nav { "endButton", "end", "To End", Transport::End } }) {
        QToolButton* button = transportButton(nav.probe, nav.icon, qt(localized(nav.tip)));
        button->setAutoRepeat(true);
        connect(button, &QToolButton::clicked, this, [this, b = nav.button] { transport(b); });
        transportRow->addWidget(button);
    }
    transportRow->addSpacing(6);
    loop_ = transportButton("loopButton", "loop", qt(localized("Loop")));
    loop_->setCheckable(true);
    connect(loop_, &QToolButton::toggled, this, [this](bool on) {
        if (controller_ && !updating_)
            controller_->setLoopingEnabled(on);
    });
    record_ = transportButton("recordButton", "record", qt(localized("Record")));
    record_->setCheckable(true);
    connect(record_, &QToolButton::toggled, this, [this](bool on) {
        if (controller_ && !updating_)
            controller_->setRecordEnabled(on);
    });
    transportRow->addWidget(loop_);
    transportRow->addWidget(record_);

    // The position display: bar, beat, minutes:seconds and milliseconds in fixed-width digits.
    auto* display = new QFrame;
    display->setObjectName(QStringLiteral("display"));
    auto* displayRow = new QHBoxLayout(display);
    displayRow->setContentsMargins(10, 2, 10, 2);
    displayRow->setSpacing(4);
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPointSizeF(digits.pointSizeF() + 4);
    digits.setBold(true);
    QFont small = digits;
    small.setPointSizeF(digits.pointSizeF() - 4);
    auto positionLabel = [&](const char* probe, const QFont& font, int width, Qt::Alignment align) {
        auto* label = new QLabel;
        label->setProperty("probeName", probe);
        label->setFont(font);
        label->setMinimumWidth(width);
        label->setAlignment(align | Qt::AlignVCenter);
        return label;
    };
    currentBar_ = positionLabel("currentBarField", digits, 44, Qt::AlignRight);
    currentBeat_ = positionLabel("currentBeatField", small, 44, Qt::AlignLeft);
    currentTime_ = positionLabel("currentTimeField", digits, 60, Qt::AlignRight);
    currentMsecs_ = positionLabel("currentMsecsField", small, 36, Qt::AlignLeft);
    displayRow->addWidget(currentBar_);
    displayRow->addWidget(currentBeat_);
    displayRow->addSpacing(8);
    displayRow->addWidget(currentTime_);
    displayRow->addWidget(currentMsecs_);

    // Bar commands.
    auto* commandRow = new QHBoxLayout;
    insertBar_ = commandButton("insertBarButton", "insert-bar", "insertBarAction:", qt(localized("Insert Bar")));
    insertBeat_ = commandButton("insertBeatButton", "insert-beat", "insertBeatAction:", qt(localized("Insert Beat")));
    deleteBeats_ = commandButton("deleteBeatsButton", "delete-beats", "deleteBeatsAction:", qt(localized("Delete Beats")));
    zoomOut_ = commandButton("zoomOutButton", "zoom-out", "zoomOut:", qt(localized("Zoom Out")));
    zoomIn_ = commandButton("zoomInButton", "zoom-in", "zoomIn:", qt(localized("Zoom In")));
    for (QToolButton* button : { insertBar_, insertBeat_, deleteBeats_ })
        commandRow->addWidget(button);
    commandRow->addSpacing(6);
    commandRow->addWidget(zoomOut_);
    commandRow->addWidget(zoomIn_);

    // Meter.
    tsTop_ = numberField("tsTopField", 26);
    tsBottom_ = numberField("tsBottomField", 26);
    tsTopStepper_ = new ValueStepper(ORPInspectorController::kMinTop, ORPInspectorController::kMaxTop, [this](int64_t v) {
        if (controller_)
            controller_->timeSigChanged(Sender::TopStepper, v);
    });
    tsBottomStepper_ = new ValueStepper(ORPInspectorController::kMinBottomExponent,
        ORPInspectorController::kMaxBottomExponent, [this](int64_t v) {
            if (controller_)
                controller_->timeSigChanged(Sender::BottomStepper, v);
        });
    tsTopStepper_->setProperty("probeName", "tsTopStepper");
    tsBottomStepper_->setProperty("probeName", "tsBottomStepper");
    connect(tsTop_, &QLineEdit::editingFinished, this, [this] {
        if (controller_ && tsTop_->isModified()) {
            tsTop_->setModified(false);
            controller_->timeSigChanged(Sender::TopField, tsTop_->text().toLongLong());
        }
    });
    connect(tsBottom_, &QLineEdit::editingFinished, this, [this] {
        if (controller_ && tsBottom_->isModified()) {
            tsBottom_->setModified(false);
            controller_->timeSigChanged(Sender::BottomField, tsBottom_->text().toLongLong());
        }
    });
    auto* meterRow = new QHBoxLayout;
    meterRow->addWidget(tsTop_);
    meterRow->addWidget(tsTopStepper_);
    auto* slash = new QLabel(QStringLiteral("/"));
    meterRow->addWidget(slash);
    meterRow->addWidget(tsBottom_);
    meterRow->addWidget(tsBottomStepper_);

    // Tempo and its beat.
    tempo_ = numberField("tempoField", 36);
    tempoStepper_ = new ValueStepper(ORPInspectorController::kMinTempo, ORPInspectorController::kMaxTempo, [this](int64_t v) {
        if (controller_)
            controller_->tempoChanged(v);
    });
    tempoStepper_->setProperty("probeName", "tempoStepper");
    connect(tempo_, &QLineEdit::editingFinished, this, [this] {
        if (controller_ && tempo_->isModified()) {
            tempo_->setModified(false);
            controller_->tempoChanged(tempo_->text().toLongLong());
        }
    });
    beatBasis_ = new QComboBox;
    beatBasis_->setProperty("probeName", "beatBasisPopup");
    beatBasis_->setFrame(false);
    beatBasis_->setIconSize(QSize(20, 20));
    beatBasis_->setToolTip(qt(localized("Beat")));
    beatBasis_->setFocusPolicy(Qt::NoFocus);
    for (float basis : ORPPattern::allBeatBases()) {
        const QImage image = widgets::EditorImages::beatBasisIcon(basis, devicePixelRatioF());
        beatBasis_->addItem(QIcon(QPixmap::fromImage(image)), QString(), QVariant(static_cast<double>(basis)));
    }
    // The blank item: shown where the bars disagree, never chosen.
    beatBasis_->addItem(drawnIcon("note-generic", palette().color(QPalette::WindowText)), QString(), QVariant());
    connect(beatBasis_, &QComboBox::activated, this, [this](int index) {
        const QVariant value = beatBasis_->itemData(index);
        if (controller_ && value.isValid())
            controller_->beatBasisChosen(static_cast<float>(value.toDouble()));
    });
    auto* tempoRow = new QHBoxLayout;
    tempoRow->addWidget(beatBasis_);
    auto* equals = new QLabel(QStringLiteral("="));
    tempoRow->addWidget(equals);
    tempoRow->addWidget(tempo_);
    tempoRow->addWidget(tempoStepper_);

    // Default velocity of new hits.
    velocitySlider_ = new QSlider(Qt::Horizontal);
    velocitySlider_->setProperty("probeName", "velocitySlider");
    velocitySlider_->setRange(0, 100);
    velocitySlider_->setFixedWidth(80);
    velocityField_ = new QLineEdit;
    velocityField_->setProperty("probeName", "velocityField");
    velocityField_->setReadOnly(true);
    velocityField_->setFocusPolicy(Qt::NoFocus);
    velocityField_->setFixedWidth(26);
    velocityField_->setAlignment(Qt::AlignRight);
    connect(velocitySlider_, &QSlider::valueChanged, this, [this](int value) {
        if (controller_ && !updating_)
            controller_->velocityChanged(value / 100.0);
    });
    auto* velocityRow = new QHBoxLayout;
    velocityRow->addWidget(velocitySlider_);
    velocityRow->addWidget(velocityField_);

    // Two rows: playing and position above, the bar's settings below.
    auto* top = new QHBoxLayout;
    top->addWidget(group(transportRow));
    top->addWidget(display, 1);
    auto* bottom = new QHBoxLayout;
    auto labelled = [](const char* title, QLayout* row) {
        auto* column = new QVBoxLayout;
        column->addWidget(caption(title));
        column->addLayout(row);
        return group(column);
    };
    bottom->addWidget(labelled("Bars", commandRow));
    bottom->addWidget(labelled("Meter", meterRow));
    bottom->addWidget(labelled("Tempo", tempoRow));
    bottom->addWidget(labelled("Velocity", velocityRow));
    bottom->addStretch(1);
    auto* content = new QWidget;
    auto* outer = new QVBoxLayout(content);
    outer->setContentsMargins(8, 4, 8, 8);
    outer->setSpacing(6);
    outer->addLayout(top);
    outer->addLayout(bottom);

    const QColor window = palette().color(QPalette::Window);
    const bool dark = window.lightness() < 128;
    setStyleSheet(QStringLiteral(
        "QFrame#group { border: 1px solid %1; border-radius: 5px; background: %2; }"
        "QFrame#display { border: 1px solid %3; border-radius: 5px; background: %4; }"
        "QFrame#display QLabel { color: %5; background: transparent; }"
        "QToolButton { border: 1px solid transparent; border-radius: 4px; padding: 2px; }"
        "QToolButton:hover { border-color: %1; }"
        "QToolButton:checked { background: %6; border-color: %1; }"
        "QToolButton#stepper { padding: 0px; border-radius: 2px; }")
            .arg(window.darker(dark ? 70 : 118).name(), window.lighter(dark ? 115 : 103).name(),
                QColor(20, 24, 22).name(), QColor(dark ? 18 : 34, dark ? 26 : 40, dark ? 22 : 36).name(),
                QColor(140, 230, 160).name(), window.darker(dark ? 60 : 125).name()));
    setContentWidget(content);
    refreshToggles();
    adjustSize();
    setDefaultSnapPosition(kDefaultSnapPosition, kDefaultSnapOffset);
    setFrameAutosaveName(QStringLiteral("TransportPanel"));
    setFixedSize(sizeHint());
}

TransportPanel::~TransportPanel() = default;

void TransportPanel::setController(ORPInspectorController* controller)
{
    controller_ = controller;
    refreshToggles();
}

QToolButton* TransportPanel::transportButton(const char* probeName, const char* icon, const QString& tip)
{
    auto* button = new QToolButton;
    button->setProperty("probeName", probeName);
    button->setIcon(drawnIcon(icon, palette().color(QPalette::WindowText)));
    button->setIconSize(QSize(kIconPoints, kIconPoints));
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(28, 26);
    return button;
}

QToolButton* TransportPanel::commandButton(const char* probeName, const char* icon, const char* action, const QString& tip)
{
    QToolButton* button = transportButton(probeName, icon, tip);
    connect(button, &QToolButton::clicked, this, [this, action] {
        if (commandHandler_)
            commandHandler_(action);
    });
    return button;
}

QLineEdit* TransportPanel::numberField(const char* probeName, int width)
{
    auto* field = new QLineEdit;
    field->setProperty("probeName", probeName);
    field->setFixedWidth(width + 8);
    field->setAlignment(Qt::AlignRight);
    field->setMaxLength(4);
    return field;
}

void TransportPanel::transport(ORPInspectorController::Transport button)
{
    if (!controller_)
        return;
    const Qt::KeyboardModifiers held = QApplication::keyboardModifiers();
    ORPEditorModifiers modifiers;
    modifiers.shift = held.testFlag(Qt::ShiftModifier);
    modifiers.command = held.testFlag(Qt::ControlModifier);
    modifiers.option = held.testFlag(Qt::AltModifier);
    modifiers.control = held.testFlag(Qt::MetaModifier);
    controller_->transportAction(button, modifiers);
}

void TransportPanel::focusTempoField()
{
    show();
    raise();
    activateWindow();
    tempo_->setFocus(Qt::OtherFocusReason);
    tempo_->selectAll();
}

void TransportPanel::refreshToggles()
{
    updating_ = true;
    if (controller_) {
        loop_->setChecked(controller_->loopingEnabled());
        record_->setChecked(controller_->recordEnabled());
    }
    updating_ = false;
}

// --- ORPInspectorView ---

void TransportPanel::setText(Text field, const std::string& value)
{
    const QString text = qt(value);
    auto set = [&text](QLineEdit* line) {
        // Typing in progress is not overwritten by a refresh.
        if (!line->hasFocus() || !line->isModified())
            line->setText(text);
    };
    switch (field) {
    case Text::TsTop:
        set(tsTop_);
        break;
    case Text::TsBottom:
        set(tsBottom_);
        break;
    case Text::Tempo:
        set(tempo_);
        break;
    case Text::Velocity:
        velocityField_->setText(text);
        break;
    case Text::CurrentBar:
        currentBar_->setText(text);
        break;
    case Text::CurrentBeat:
        currentBeat_->setText(text);
        break;
    case Text::CurrentTime:
        currentTime_->setText(text);
        break;
    case Text::CurrentMsecs:
        currentMsecs_->setText(text);
        break;
    }
}

void TransportPanel::setStepperValue(ORPInspectorView::Stepper stepper, int64_t value)
{
    switch (stepper) {
    case ORPInspectorView::Stepper::TsTop:
        tsTopStepper_->setValue(value);
        break;
    case ORPInspectorView::Stepper::TsBottomExponent:
        tsBottomStepper_->setValue(value);
        break;
    case ORPInspectorView::Stepper::Tempo:
        tempoStepper_->setValue(value);
        break;
    }
}

void TransportPanel::setEnabled(Control control, bool enabled)
{
    auto both = [enabled](QWidget* a, QWidget* b) {
        a->setEnabled(enabled);
        b->setEnabled(enabled);
    };
    switch (control) {
    case Control::TsTop:
        both(tsTop_, tsTopStepper_);
        break;
    case Control::TsBottom:
        both(tsBottom_, tsBottomStepper_);
        break;
    case Control::Tempo:
        both(tempo_, tempoStepper_);
        break;
    case Control::BeatBasis:
        beatBasis_->setEnabled(enabled);
        break;
    case Control::Velocity:
        both(velocitySlider_, velocityField_);
        break;
    case Control::InsertBar:
        insertBar_->setEnabled(enabled);
        break;
    case Control::InsertBeat:
        insertBeat_->setEnabled(enabled);
        break;
    case Control::DeleteBeats:
        deleteBeats_->setEnabled(enabled);
        break;
    case Control::ZoomIn:
        zoomIn_->setEnabled(enabled);
        break;
    case Control::ZoomOut:
        zoomOut_->setEnabled(enabled);
        break;
    }
}

void TransportPanel::selectBeatBasis(std::optional<float> basis)
{
    int index = beatBasis_->count() - 1; // the blank item
    if (basis) {
        for (int i = 0; i < beatBasis_->count(); ++i) {
            const QVariant value = beatBasis_->itemData(i);
            if (value.isValid() && static_cast<float>(value.toDouble()) == *basis)
                index = i;
        }
    }
    beatBasis_->setCurrentIndex(index);
}

void TransportPanel::setVelocitySliderValue(double value)
{
    updating_ = true;
    velocitySlider_->setValue(static_cast<int>(std::lround(value * 100)));
    updating_ = false;
}

void TransportPanel::setPlayStopImage(const std::string& imageName)
{
    playStop_->setIcon(drawnIcon(imageName.c_str(), palette().color(QPalette::WindowText)));
    playStop_->setToolTip(qt(localized(imageName == "button-stop" ? "Stop" : "Play")));
}

void TransportPanel::makeEditorWindowKey()
{
    if (editorWindow_) {
        editorWindow_->raise();
        editorWindow_->activateWindow();
    }
}

} // namespace rp::app
