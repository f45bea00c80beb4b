#pragma once

#include "app/startup.h"
#include "run/commandline.h"

#include <QString>

namespace vexal {

// What this process was started with and where, as each system tells it;
// one definition per system, chosen in CMake.

// The line the command-line grammar reads. Linux: the arguments after the
// program's name, joined by single blanks (commandLineFromArguments). On
// Windows the line is one string, the process's own past the program's
// name, exactly as typed: no quote or escape means anything there, and the
// grammar alone splits it, as on the older Windows program.
CommandLine processCommandLine(int argc, char *argv[]);

// Whether the program shows a window, runs hidden without one, or cannot
// run at all; missing then says why, as the end of the sentence "Vexal
// needs a display (...)". Linux: a hidden run (/s, or /? alone) shows its
// message boxes wherever there is a display, and uses Qt's offscreen
// platform only where there is none. Windows always has a desktop, unless
// the process runs where nobody can see one (a service, a task run whether
// or not anyone is logged on); a hidden run there never shows a box, since
// one raised by a scheduled task would wait for ever, unseen.
DisplayMode processDisplayMode(const CommandLine &commandLine, QString &missing);

// Has Qt start on its offscreen platform, for a run without a window. On
// Windows that platform reads fonts itself, from a folder of fonts Qt no
// longer ships, and warns on standard error when it is missing: it is given
// the system's own.
void useWindowlessPlatform();

// A run without a window tells what it has to say on standard error and
// standard output. A Windows program with windows has no console of its
// own: it writes to the console of whoever started it, when there is one,
// and to whatever its output was redirected to (a file, a pipe), never
// both. Nothing to do on Linux.
void attachConsoleForHiddenRun();

} // namespace vexal
