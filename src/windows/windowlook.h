#pragma once

#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace vexal {

// Window layouts are drawn in twips; 15 twips make one pixel at 96 dpi.
constexpr int TwipsPerPixel = 15;

// A rectangle or size given in twips, in pixels.
constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel, height / TwipsPerPixel);
}
constexpr QRect twips(const QRect &inTwips)
{
    return twips(inTwips.x(), inTwips.y(), inTwips.width(), inTwips.height());
}
constexpr QSize twipsSize(int width, int height)
{
    return QSize(width / TwipsPerPixel, height / TwipsPerPixel);
}

// A control gets its name (what tests and the form look find it by) and its
// place as it is created.
template<typename W>
W *place(W *widget, const QString &name, const QRect &geometry)
{
    widget->setObjectName(name);
    widget->setGeometry(geometry);
    return widget;
}

// The small sans serif the layouts were drawn for, and frame captions on the
// frame's top line. Call once every control exists: the style sheet cuts the
// font's inheritance, so each child is given the font explicitly.
void applyFormLook(QWidget *window);

// Keeps a top-level window centred on its screen by its outer size, title
// bar and borders included, each time the program shows it (and again once
// the window manager's frame turns out different from the one assumed).
void centreOnScreen(QWidget *window);

} // namespace vexal
