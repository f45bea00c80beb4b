#include "app/windowlook.h"

#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace vexal {

namespace {

void moveToCentre(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = window->frameGeometry().size();
    // A top-level move() places the frame's corner, so the outer size is
    // what is centred.
    window->move(area.x() + (area.width() - outer.width()) / 2,
                 area.y() + (area.height() - outer.height()) / 2);
}

// Watches for the first frame the window manager puts around the window.
class FrameWatcher final : public QObject
{
public:
    explicit FrameWatcher(QWidget *window) : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window
            && (event->type() == QEvent::Move || event->type() == QEvent::Resize
                || event->type() == QEvent::Show)
            && m_window->frameGeometry().size() != m_window->size()) {
            m_window->removeEventFilter(this);
            moveToCentre(m_window);
            deleteLater();
        }
        return false;
    }

private:
    QWidget *m_window;
};

} // namespace

void applyFormLook(QWidget *window)
{
    // The layouts were drawn for an 8-point sans serif of Arial's width;
    // wider faces would clip captions that fill their boxes.
    QFont small = window->font();
    small.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                       QStringLiteral("Helvetica"), QStringLiteral("Nimbus Sans")});
    small.setPixelSize(11);
    small.setLetterSpacing(QFont::PercentageSpacing, 96);
    window->setFont(small);
    window->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }"));
    for (QWidget *child : window->findChildren<QWidget *>())
        child->setFont(small);
}

void centreOnScreen(QWidget *window)
{
    moveToCentre(window);
    if (window->frameGeometry().size() == window->size())
        new FrameWatcher(window);
}

} // namespace vexal
