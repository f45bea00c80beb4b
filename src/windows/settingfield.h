#pragma once

#include <QLineEdit>

namespace vexal {

// True for a move of the focus by the user inside the window: Tab, Shift+Tab,
// a click or an access key. The window losing or regaining activation, a
// popup or a context menu is no such move.
bool isFocusMove(Qt::FocusReason reason);

// A ping-setting field: it selects its whole text whenever it gets the focus,
// by Tab, by a click or by its label's access key, so that typing replaces
// the old value.
class SettingField final : public QLineEdit
{
    Q_OBJECT

public:
    explicit SettingField(QWidget *parent = nullptr);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    bool m_selectOnRelease = false;
};

} // namespace vexal
