#include "app/startup.h"

#include <QStringList>
#include <QtGlobal>

namespace vexal {

DisplayMode displayMode(bool hasDisplay, bool hidden)
{
    if (hasDisplay)
        return DisplayMode::Window;
    return hidden ? DisplayMode::Headless : DisplayMode::NoDisplay;
}

QString missingDisplay()
{
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QStringList platforms = qEnvironmentVariable("QT_QPA_PLATFORM").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (platforms.isEmpty())
        return x11 || wayland ? QString() : QStringLiteral("DISPLAY or WAYLAND_DISPLAY is not set");
    // "name:options", or several names separated by ";" that Qt tries in
    // turn: one that can show a window is enough. xcb and wayland abort
    // inside Qt when their display is not named.
    QString reason;
    for (const QString &entry : platforms) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        if (name == QLatin1String("offscreen") || name == QLatin1String("minimal"))
            reason = QStringLiteral("QT_QPA_PLATFORM=%1 shows no window").arg(name);
        else if (name == QLatin1String("xcb") && !x11)
            reason = QStringLiteral("QT_QPA_PLATFORM=xcb but DISPLAY is not set");
        else if (name.startsWith(QLatin1String("wayland")) && !wayland)
            reason = QStringLiteral("QT_QPA_PLATFORM=%1 but WAYLAND_DISPLAY is not set").arg(name);
        else
            return QString();
    }
    return reason;
}

} // namespace vexal
