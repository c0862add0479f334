#include "widgets/OXShortcutKeyField.h"

#include <QTimer>

OXShortcutKeyField::OXShortcutKeyField(QWidget* parent)
    : QLineEdit(parent)
{
    connect(this, &QLineEdit::selectionChanged, this, &OXShortcutKeyField::reselect);
    connect(this, &QLineEdit::cursorPositionChanged, this, &OXShortcutKeyField::reselect);
}

void OXShortcutKeyField::reselect()
{
    if (reselecting_ || !hasFocus() || text().isEmpty() || selectedText() == text())
        return;
    reselecting_ = true;
    selectAll();
    reselecting_ = false;
}

void OXShortcutKeyField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // A mouse click places the cursor after focusing; select once the click is done as well.
    selectAll();
    QTimer::singleShot(0, this, [this] { reselect(); });
}

void OXShortcutKeyField::mouseReleaseEvent(QMouseEvent* event)
{
    QLineEdit::mouseReleaseEvent(event);
    reselect();
}
