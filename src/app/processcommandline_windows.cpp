#include "app/processcommandline.h"

#include "run/commandlinehelp.h"

#include <QStringList>
#include <QtGlobal>

#include <cstdio>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace vexal {

namespace {

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// Why Qt's platform, when one is named, shows no window; empty when one of
// those named can.
QString platformShowingNothing()
{
    const QStringList platforms =
        qEnvironmentVariable("QT_QPA_PLATFORM").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    QString reason;
    for (const QString &entry : platforms) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        if (name != QLatin1String("offscreen") && name != QLatin1String("minimal"))
            return QString();
        reason = QStringLiteral("QT_QPA_PLATFORM=%1 shows no window").arg(name);
    }
    return reason;
}

// A service, or a task run whether anyone is logged on or not, runs in a
// window station nobody sees; a window made there is real to Qt, and a
// message box in it waits for a click that can never come.
bool stationIsVisible()
{
    USEROBJECTFLAGS flags{};
    const HWINSTA station = ::GetProcessWindowStation();
    if (!station || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
        return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Points a standard stream (descriptor 1 or 2) at the attached console.
void reopenOnConsole(FILE *stream, int descriptor)
{
    if (std::freopen("CONOUT$", "w", stream))
        return;
#ifndef _UCRT
    /*
     * Wine's C runtime starts a program with windows that was given no
     * standard handles with streams that have no descriptor at all, and its
     * freopen() refuses such a stream (Windows' own reopens it). There the
     * console is put under the stream's own descriptor by hand.
     */
    const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return;
    const int opened = ::_open_osfhandle(reinterpret_cast<intptr_t>(console), _O_TEXT);
    if (opened < 0) {
        ::CloseHandle(console);
        return;
    }
    if (::_dup2(opened, descriptor) == 0 && stream->_file < 0)
        stream->_file = descriptor;
    ::_close(opened);
#endif
}

} // namespace

CommandLine processCommandLine(int, char *[])
{
    // The program's name ends as Windows itself ends it for argv[0]: at its
    // closing quotation mark when it starts with one, otherwise at the first
    // blank. What follows is the user's line, kept exactly: Windows leaves
    // quotes to each program, and the older program read none.
    const wchar_t *rest = ::GetCommandLineW();
    if (*rest == L'"') {
        ++rest;
        while (*rest && *rest != L'"')
            ++rest;
        if (*rest)
            ++rest;
    } else {
        while (*rest && !isBlank(*rest))
            ++rest;
    }
    while (isBlank(*rest))
        ++rest;
    return CommandLine(QString::fromWCharArray(rest));
}

DisplayMode processDisplayMode(const CommandLine &commandLine, QString &missing)
{
    missing.clear();
    if (commandLineHides(commandLine))
        return DisplayMode::Headless;
    missing = platformShowingNothing();
    if (missing.isEmpty() && !stationIsVisible())
        missing = QStringLiteral("this session has no desktop anyone can see");
    return displayMode(missing.isEmpty(), commandLineAsksForHelp(commandLine));
}

void useWindowlessPlatform()
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QT_QPA_FONTDIR")) {
        wchar_t fonts[MAX_PATH];
        const UINT length = ::GetWindowsDirectoryW(fonts, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            qputenv("QT_QPA_FONTDIR", (QString::fromWCharArray(fonts, length) + QStringLiteral("\\Fonts")).toLocal8Bit());
    }
}

void attachConsoleForHiddenRun()
{
    // Read before attaching, which may hand out the console's handles as
    // standard ones: what is set now came from whoever started the process.
    // A file or a pipe (start /wait vexal ... > out.txt, a script reading
    // the monitor's lines) keeps what it is given.
    const DWORD which[] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    FILE *const streams[] = {stdout, stderr};
    const int descriptors[] = {1, 2};
    DWORD types[2];
    HANDLE handles[2];
    for (int i = 0; i < 2; ++i) {
        handles[i] = ::GetStdHandle(which[i]);
        const bool valid = handles[i] && handles[i] != INVALID_HANDLE_VALUE;
        types[i] = valid ? ::GetFileType(handles[i]) : FILE_TYPE_UNKNOWN;
    }
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // A program started by cmd's start gets Ctrl+C turned off, as if it
    // were in a process group of its own; the console's Ctrl+C is to stop
    // this run too (app/terminationwatcher.h).
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    for (int i = 0; i < 2; ++i) {
        if (types[i] == FILE_TYPE_DISK || types[i] == FILE_TYPE_PIPE)
            continue;
        // A character device that is no console is one the output was sent
        // to on purpose: > NUL.
        DWORD mode = 0;
        if (types[i] == FILE_TYPE_CHAR && !::GetConsoleMode(handles[i], &mode))
            continue;
        reopenOnConsole(streams[i], descriptors[i]);
    }
}

} // namespace vexal
