#pragma once

class QWidget;

namespace vexal {

// Centres a top-level window on its screen by its outer size, title bar and
// borders included. Until the window manager has framed the window its frame
// is unknown, so the window is centred again, once, when the frame appears.
void centreOnScreen(QWidget *window);

} // namespace vexal
