#include "app/startup.h"

#include <QtGlobal>

namespace vexal {

DisplayMode displayMode(bool hasDisplay, bool hidden)
{
    if (hasDisplay)
        return DisplayMode::Window;
    return hidden ? DisplayMode::Headless : DisplayMode::NoDisplay;
}

bool environmentHasDisplay()
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    return false;
}

} // namespace vexal
