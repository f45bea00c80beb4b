#pragma once

#include "run/commandline.h"

namespace vexal {

// True when the command line asks for the help window: "/?" anywhere in it
// but inside a path taken whole as an option's value.
bool commandLineAsksForHelp(const CommandLine &commandLine);

// Whether closing the help window ends the process at once. Only its OK
// button does, and only in a process started with a command line; the close
// box lets start-up (or the window that opened it) go on.
bool helpEndsProcess(bool closedByOk, const CommandLine &commandLine);

} // namespace vexal
