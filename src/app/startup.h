#pragma once

namespace vexal {

// How the program can show itself. Without a display it can still run a
// hidden sweep on Qt's offscreen platform, with its messages on standard
// error; a visible window without a display is refused.
enum class DisplayMode { Window, Headless, NoDisplay };
DisplayMode displayMode(bool hasDisplay, bool hidden);

// True when the process can reach a display: an X or Wayland one, or a Qt
// platform chosen explicitly.
bool environmentHasDisplay();

} // namespace vexal
