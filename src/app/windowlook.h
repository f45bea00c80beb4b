#pragma once

#include <QRect>

class QWidget;

namespace vexal {

// Window layouts are drawn in twips; 15 twips make one pixel at 96 dpi.
constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
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
