#include "app/settingfield.h"

#include <QFocusEvent>
#include <QMouseEvent>

namespace vexal {

SettingField::SettingField(QWidget *parent)
    : QLineEdit(parent)
{
}

void SettingField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
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
