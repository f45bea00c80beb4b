#pragma once

#include <QString>

namespace vexal {

// How the program can show itself. Without a display it can still run a
// hidden sweep on Qt's offscreen platform, with its messages on standard
// error; a visible window without a display is refused.
enum class DisplayMode { Window, Headless, NoDisplay };
DisplayMode displayMode(bool hasDisplay, bool hidden);

// Why the process cannot show a window, as the end of the sentence "Vexal
// needs a display (...)"; empty when it can. Only a screen someone can look
// at counts: an X or Wayland display that is named, or a Qt platform that
// draws on one of its own. Qt's offscreen and minimal platforms show nothing,
// and a message box there would wait for ever for an OK nobody can press.
QString missingDisplay();

} // namespace vexal
