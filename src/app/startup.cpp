#include "app/startup.h"

namespace vexal {

QString commandLineFromArguments(const QStringList &arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
}

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
