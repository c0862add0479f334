#pragma once

#include <QLineEdit>

// The one-key field in which a drum's keyboard shortcut is typed: its whole text is selected when
// it takes the focus and whenever the selection or the cursor would change, so that typing always
// replaces the single shortcut character.
class OXShortcutKeyField : public QLineEdit {
    Q_OBJECT
public:
    explicit OXShortcutKeyField(QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void reselect();
    bool reselecting_ = false;
};
