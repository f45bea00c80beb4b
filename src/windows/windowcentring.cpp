#include "windows/windowcentring.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace vexal {

namespace {

// Asked of the native window: QWidget's own idea of its frame is refreshed
// only when the window moves, and the window manager's reparenting moves
// nothing that Qt reports.
QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

} // namespace

WindowCentring::WindowCentring(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    m_window->installEventFilter(this);
}

QMargins WindowCentring::estimatedFrame() const
{
    const QMargins own = frameOf(m_window);
    if (!own.isNull())
        return own;
    if (const QWidget *parent = m_window->parentWidget()) {
        const QWidget *model = parent->window();
        if (model->isVisible() && !frameOf(model).isNull())
            return frameOf(model);
    }
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other != m_window && other->isVisible() && !frameOf(other).isNull())
            return frameOf(other);
    }
    return QMargins();
}

void WindowCentring::centre()
{
    const QScreen *screen = m_window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    m_frameUsed = estimatedFrame();
    const QSize outer = m_window->size().grownBy(m_frameUsed);
    const QPoint frameTopLeft(area.x() + (area.width() - outer.width()) / 2,
                              area.y() + (area.height() - outer.height()) / 2);
    // setGeometry() places the client area, whatever Qt believes the frame
    // to be at this moment.
    m_window->setGeometry(QRect(frameTopLeft + QPoint(m_frameUsed.left(), m_frameUsed.top()),
                                m_window->size()));
}

bool WindowCentring::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        // Restoring a minimised window shows it again spontaneously; it
        // stays where the user left it.
        if (!event->spontaneous()) {
            centre();
            m_settling = true;
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Paint:
    case QEvent::WindowActivate:
        // The frame's arrival is looked for on whatever comes next; the
        // window is decorated by its first paint at the latest.
        if (m_settling && !frameOf(m_window).isNull()) {
            m_settling = false;
            if (frameOf(m_window) != m_frameUsed)
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
