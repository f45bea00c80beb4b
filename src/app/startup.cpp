#include "app/startup.h"

namespace vexal {

QString commandLineFromArguments(const QStringList &arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
}

bool commandLineHides(const QString &commandLine)
{
    const QStringList tokens = commandLine.split(QLatin1Char('/'));
    for (const QString &token : tokens) {
        const QString trimmed = token.trimmed();
        if (!trimmed.isEmpty() && trimmed.at(0).toUpper() == QLatin1Char('S'))
            return true;
    }
    return false;
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
