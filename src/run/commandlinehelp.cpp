#include "run/commandlinehelp.h"

namespace vexal {

bool commandLineAsksForHelp(const CommandLine &commandLine)
{
    // Arguments are joined by a blank, so "/?" never spans two of them.
    const QStringList &arguments = commandLine.arguments();
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (!commandLine.isWholeValue(i) && arguments[i].contains(QLatin1String("/?")))
            return true;
    }
    return false;
}

bool helpEndsProcess(bool closedByOk, const CommandLine &commandLine)
{
    return closedByOk && !commandLine.isEmpty();
}

} // namespace vexal
