#include "app/processcommandline.h"

#include "run/commandlinehelp.h"

#include <QStringList>
#include <QtGlobal>

namespace vexal {

CommandLine processCommandLine(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return commandLineFromArguments(arguments);
}

DisplayMode processDisplayMode(const CommandLine &commandLine, QString &missing)
{
    missing = missingDisplay();
    return displayMode(missing.isEmpty(), commandLineHides(commandLine) || commandLineAsksForHelp(commandLine));
}

void useWindowlessPlatform()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

void attachConsoleForHiddenRun() {}

} // namespace vexal
