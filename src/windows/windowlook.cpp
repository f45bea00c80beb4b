#include "windows/windowlook.h"

#include "windows/windowcentring.h"

#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace vexal {


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
    // One watcher per window, which centres it whenever the program shows it.
    if (!window->findChild<WindowCentring *>(QString(), Qt::FindDirectChildrenOnly))
        new WindowCentring(window);
}

} // namespace vexal
