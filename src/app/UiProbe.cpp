#include "app/UiProbe.h"

#include "widgets/OXInspectorPanel.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QSlider>
#include <QSpinBox>
#include <QTableView>
#include <QTextEdit>
#include <QWindow>

namespace rp::app {

namespace {

UiProbe* theProbe = nullptr;

std::string text(const QString& string)
{
    return string.toStdString();
}

// What a control holds, in the form a test would type or read.
nlohmann::json describeControl(const QWidget* widget)
{
    nlohmann::json control;
    control["window"] = UiProbe::windowId(widget->window());
    control["name"] = text(widget->property("probeName").toString());
    control["rect"] = UiProbe::screenRect(widget);
    control["enabled"] = widget->isEnabled();
    control["visible"] = widget->isVisible();
    if (auto* line = qobject_cast<const QLineEdit*>(widget)) {
        control["kind"] = "field";
        control["text"] = text(line->text());
    } else if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
        control["kind"] = "textView";
        control["text"] = text(plain->toPlainText());
    } else if (auto* rich = qobject_cast<const QTextEdit*>(widget)) {
        control["kind"] = "textView";
        control["text"] = text(rich->toPlainText());
    } else if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        control["kind"] = button->isCheckable() ? "checkbox" : "button";
        control["text"] = text(button->text());
        control["checked"] = button->isChecked();
    } else if (auto* label = qobject_cast<const QLabel*>(widget)) {
        control["kind"] = "label";
        control["text"] = text(label->text());
    } else if (auto* bar = qobject_cast<const QProgressBar*>(widget)) {
        control["kind"] = "progress";
        control["value"] = bar->value();
        control["maximum"] = bar->maximum();
    } else if (auto* slider = qobject_cast<const QSlider*>(widget)) {
        control["kind"] = "slider";
        control["value"] = slider->value();
    } else if (auto* spin = qobject_cast<const QSpinBox*>(widget)) {
        control["kind"] = "field";
        control["text"] = text(spin->text());
    } else if (auto* combo = qobject_cast<const QComboBox*>(widget)) {
        control["kind"] = "popup";
        control["text"] = text(combo->currentText());
        nlohmann::json items = nlohmann::json::array();
        for (int i = 0; i < combo->count(); ++i) {
            items.push_back(text(combo->itemText(i)));
        }
        control["items"] = items;
    } else if (auto* list = qobject_cast<const QListWidget*>(widget)) {
        control["kind"] = "list";
        nlohmann::json rows = nlohmann::json::array();
        for (int row = 0; row < list->count(); ++row) {
            const QListWidgetItem* item = list->item(row);
            const QRect rowRect = list->visualItemRect(item);
            const QPoint topLeft = list->viewport()->mapToGlobal(rowRect.topLeft());
            rows.push_back({ { "text", text(item->text()) }, { "bold", item->font().bold() },
                { "rect", { topLeft.x(), topLeft.y(), rowRect.width(), rowRect.height() } },
                { "selected", item->isSelected() } });
        }
        control["rows"] = rows;
    } else if (auto* table = qobject_cast<const QTableView*>(widget)) {
        control["kind"] = "table";
        nlohmann::json rows = nlohmann::json::array();
        const auto* model = table->model();
        for (int row = 0; model && row < model->rowCount(); ++row) {
            nlohmann::json cells = nlohmann::json::array();
            for (int column = 0; column < model->columnCount(); ++column) {
                cells.push_back(text(model->index(row, column).data().toString()));
            }
            const QRect rowRect = table->visualRect(model->index(row, 0));
            const QPoint topLeft = table->viewport()->mapToGlobal(QPoint(0, rowRect.top()));
            rows.push_back({ { "cells", cells },
                { "rect", { topLeft.x(), topLeft.y(), table->viewport()->width(), rowRect.height() } },
                { "selected", table->selectionModel() && table->selectionModel()->isRowSelected(row, {}) } });
        }
        control["rows"] = rows;
    } else {
        control["kind"] = "view";
    }
    return control;
}

nlohmann::json describeMenuItems(const QMenu* menu, bool withRects)
{
    nlohmann::json items = nlohmann::json::array();
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || !action->isVisible()) {
            continue;
        }
        nlohmann::json item;
        item["title"] = text(action->text().remove('&'));
        item["action"] = text(action->property("actionName").toString());
        item["tag"] = action->property("tag").toInt();
        item["enabled"] = action->isEnabled();
        item["checked"] = action->isChecked();
        item["shortcut"] = text(action->shortcut().toString(QKeySequence::PortableText));
        nlohmann::json submenu = nlohmann::json::array();
        if (action->menu()) {
            submenu = describeMenuItems(action->menu(), false);
        }
        item["submenu"] = submenu;
        if (withRects) {
            const QRect rect = menu->actionGeometry(action);
            const QPoint topLeft = menu->mapToGlobal(rect.topLeft());
            item["rect"] = { topLeft.x(), topLeft.y(), rect.width(), rect.height() };
        }
        items.push_back(item);
    }
    return items;
}

nlohmann::json describeDialog(const QWidget* dialog)
{
    nlohmann::json entry;
    entry["kind"] = qobject_cast<const QMessageBox*>(dialog) ? "alert" : text(dialog->property("probeKind").toString());
    if (entry["kind"] == "") {
        entry["kind"] = "dialog";
    }
    entry["title"] = text(dialog->windowTitle());
    entry["frame"] = UiProbe::screenRect(dialog);
    entry["window"] = UiProbe::windowId(dialog);
    if (auto* box = qobject_cast<const QMessageBox*>(dialog)) {
        entry["text"] = text(box->text());
        entry["informativeText"] = text(box->informativeText());
        if (box->checkBox()) {
            entry["suppression"] = { { "title", text(box->checkBox()->text()) },
                { "checked", box->checkBox()->isChecked() }, { "rect", UiProbe::screenRect(box->checkBox()) } };
        }
    }
    nlohmann::json buttons = nlohmann::json::array();
    for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->isCheckable()) {
            continue;
        }
        buttons.push_back({ { "title", text(button->text().remove('&')) }, { "rect", UiProbe::screenRect(button) },
            { "enabled", button->isEnabled() } });
    }
    entry["buttons"] = buttons;
    return entry;
}

} // namespace

UiProbe::UiProbe(QString path)
    : path_(std::move(path))
{
    throttle_.setSingleShot(true);
    throttle_.setInterval(50); // at most 20 writes a second
    connect(&throttle_, &QTimer::timeout, this, [this] { writeNow(); });
}

UiProbe* UiProbe::installIfRequested()
{
    if (theProbe) {
        return theProbe;
    }
    const QByteArray path = qgetenv("RATTLEPAN_UI_PROBE");
    if (path.isEmpty()) {
        return nullptr;
    }
    theProbe = new UiProbe(QString::fromLocal8Bit(path));
    theProbe->setParent(qApp);
    qApp->installEventFilter(theProbe);
    theProbe->scheduleWrite();
    return theProbe;
}

UiProbe* UiProbe::instance()
{
    return theProbe;
}

void UiProbe::addSection(const std::string& key, std::function<nlohmann::json()> writer)
{
    sections_.emplace_back(key, std::move(writer));
    scheduleWrite();
}

void UiProbe::scheduleWrite()
{
    if (!throttle_.isActive()) {
        throttle_.start();
    }
}

bool UiProbe::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Paint:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::LayoutRequest:
    case QEvent::WindowActivate:
    case QEvent::WindowTitleChange:
    case QEvent::EnabledChange:
        scheduleWrite();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

nlohmann::json UiProbe::screenRect(const QWidget* widget)
{
    if (!widget) {
        return nlohmann::json::array();
    }
    const QPoint topLeft = widget->mapToGlobal(QPoint(0, 0));
    return { topLeft.x(), topLeft.y(), widget->width(), widget->height() };
}

nlohmann::json UiProbe::windowId(const QWidget* window)
{
    if (!window || !window->windowHandle()) {
        return "";
    }
    return text(QStringLiteral("0x%1").arg(window->winId(), 0, 16));
}

nlohmann::json UiProbe::describe() const
{
    nlohmann::json probe;
    probe["pid"] = QCoreApplication::applicationPid();
    QWidget* active = QApplication::activeWindow();
    probe["activeWindow"] = active ? text(active->windowTitle().remove(QStringLiteral("[*]"))) : "";

    nlohmann::json windows = nlohmann::json::array();
    nlohmann::json panels = nlohmann::json::array();
    nlohmann::json dialogs = nlohmann::json::array();
    nlohmann::json controls = nlohmann::json::array();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || qobject_cast<QMenu*>(window)) {
            continue;
        }
        const QString kind = window->property("probeKind").toString();
        if (qobject_cast<QDialog*>(window) && kind != QLatin1String("preferences")) {
            dialogs.push_back(describeDialog(window));
        } else if (kind == QLatin1String("panel")) {
            nlohmann::json panel { { "id", windowId(window) }, { "kind", text(window->property("panelKind").toString()) },
                { "frame", screenRect(window) }, { "visible", window->isVisible() } };
            if (const auto* inspector = qobject_cast<const widgets::OXInspectorPanel*>(window)) {
                // The frame as the snap measures it (window-manager decorations included), and the snap.
                const QRect frame = inspector->frameGeometry();
                panel["outerFrame"] = { frame.x(), frame.y(), frame.width(), frame.height() };
                panel["snap"] = inspector->windowSnapPosition();
                panel["snapPosition"] = inspector->windowSnapPosition();
                panel["snapOffset"] = inspector->windowSnapOffset();
            }
            panels.push_back(panel);
        } else {
            windows.push_back({ { "id", windowId(window) }, { "kind", kind.isEmpty() ? "window" : text(kind) },
                { "title", text(window->windowTitle().remove(QStringLiteral("[*]"))) }, { "path", text(window->property("probePath").toString()) },
                { "frame", { window->frameGeometry().x(), window->frameGeometry().y(), window->frameGeometry().width(),
                               window->frameGeometry().height() } },
                { "contentRect", screenRect(window) }, { "modified", window->isWindowModified() },
                { "active", window == active } });
        }
        for (const QWidget* child : window->findChildren<QWidget*>()) {
            if (child->property("probeName").isValid() && child->isVisible()) {
                controls.push_back(describeControl(child));
            }
        }
    }
    probe["windows"] = windows;
    // The widget with the keyboard focus: its probe name, else its class.
    if (const QWidget* focus = QApplication::focusWidget()) {
        const QString name = focus->property("probeName").toString();
        probe["focus"] = text(name.isEmpty() ? QString::fromLatin1(focus->metaObject()->className()) : name);
    }
    probe["panels"] = panels;
    probe["dialogs"] = dialogs;
    probe["controls"] = controls;

    nlohmann::json menuBar = nlohmann::json::array();
    if (auto* main = qobject_cast<QMainWindow*>(active)) {
        QMenuBar* bar = main->menuBar();
        for (QAction* action : bar->actions()) {
            if (!action->menu()) {
                continue;
            }
            const QRect rect = bar->actionGeometry(action);
            const QPoint topLeft = bar->mapToGlobal(rect.topLeft());
            menuBar.push_back({ { "window", windowId(main) }, { "title", text(action->text().remove('&')) },
                { "rect", { topLeft.x(), topLeft.y(), rect.width(), rect.height() } },
                { "items", describeMenuItems(action->menu(), false) } });
        }
    }
    probe["menuBar"] = menuBar;

    // Open menus, outermost first: walk the visible pop-up menus and order them by creation depth.
    nlohmann::json openMenus = nlohmann::json::array();
    std::vector<QMenu*> open;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* menu = qobject_cast<QMenu*>(window); menu && menu->isVisible()) {
            open.push_back(menu);
        }
    }
    std::stable_sort(open.begin(), open.end(), [](QMenu* a, QMenu* b) {
        auto depth = [](QMenu* menu) {
            int d = 0;
            for (QWidget* w = menu->parentWidget(); w; w = w->parentWidget()) {
                d += qobject_cast<QMenu*>(w) ? 1 : 0;
            }
            return d;
        };
        return depth(a) < depth(b);
    });
    for (QMenu* menu : open) {
        openMenus.push_back(describeMenuItems(menu, true));
    }
    probe["openMenus"] = openMenus;

    for (const auto& [key, writer] : sections_) {
        probe[key] = writer();
    }
    return probe;
}

bool UiProbe::writeNow()
{
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const std::string json = describe().dump(1);
    file.write(json.data(), static_cast<qint64>(json.size()));
    return file.commit();
}

} // namespace rp::app
