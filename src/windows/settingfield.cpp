#include "windows/settingfield.h"

#include <QFocusEvent>
#include <QMouseEvent>

namespace vexal {

bool isFocusMove(Qt::FocusReason reason)
{
    switch (reason) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
    case Qt::ShortcutFocusReason:
        return true;
    default:
        return false;
    }
}

SettingField::SettingField(QWidget *parent)
    : QLineEdit(parent)
{
}

void SettingField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Only a move of the focus into the field selects its text; the window
    // becoming active again, or a menu closing, leaves the caret alone.
    if (!isFocusMove(event->reason()))
        return;
    selectAll();
    // A click gives the focus before the press moves the caret; select again
    // once the press is through.
    m_selectOnRelease = event->reason() == Qt::MouseFocusReason;
}

void SettingField::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (m_selectOnRelease) {
        m_selectOnRelease = false;
        selectAll();
    }
}

} // namespace vexal
