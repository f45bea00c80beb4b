#include "app/windowcentring.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace vexal {

namespace {

bool frameKnown(const QWidget *window)
{
    return window->frameGeometry() != window->geometry();
}

QMargins frameMargins(const QWidget *window)
{
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

} // namespace

WindowCentring::WindowCentring(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    m_window->installEventFilter(this);
}

QSize WindowCentring::outerSize() const
{
    if (frameKnown(m_window))
        return m_window->frameGeometry().size();
    const QWidget *model = m_window->parentWidget() ? m_window->parentWidget()->window() : nullptr;
    if (!model || !model->isVisible() || !frameKnown(model)) {
        model = nullptr;
        for (const QWidget *other : QApplication::topLevelWidgets()) {
            if (other != m_window && other->isVisible() && other->isWindow() && frameKnown(other)) {
                model = other;
                break;
            }
        }
    }
    const QMargins margins = model ? frameMargins(model) : QMargins();
    return m_window->size().grownBy(margins);
}

void WindowCentring::centre()
{
    const QScreen *screen = m_window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    m_outerUsed = outerSize();
    // move() places the frame's top-left corner, so this is the outer size
    // centred, as the user sees the window.
    m_window->move(area.x() + (area.width() - m_outerUsed.width()) / 2,
                   area.y() + (area.height() - m_outerUsed.height()) / 2);
}

bool WindowCentring::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        centre();
        m_settling = true;
        break;
    case QEvent::Move:
    case QEvent::Resize:
        // The window manager's frame arrives as a move of the client area.
        if (m_settling && frameKnown(m_window)) {
            m_settling = false;
            if (m_window->frameGeometry().size() != m_outerUsed)
                centre();
        }
        break;
    case QEvent::Hide:
        m_settling = false;
        break;
    default:
        break;
    }
    return false;
}

} // namespace vexal
