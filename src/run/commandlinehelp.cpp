#include "run/commandlinehelp.h"

namespace vexal {

bool commandLineAsksForHelp(const QString &commandLine)
{
    return commandLine.contains(QLatin1String("/?"));
}

bool helpEndsProcess(bool closedByOk, const QString &commandLine)
{
    return closedByOk && !commandLine.isEmpty();
}

} // namespace vexal
