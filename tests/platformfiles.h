#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#endif

// What is not a regular file, as each system has it, for the tests that
// check such names are refused without being opened, and the process's peak
// memory, for the tests that check a file is read in bounded memory.
namespace vexal::platformfiles {

// A FIFO (on Windows a named pipe) with nobody at the other end, which would
// block whoever opened it; empty when it cannot be made.
inline QString fifo([[maybe_unused]] const QDir &folder, const QString &name)
{
#ifdef _WIN32
    const QString path = QStringLiteral("\\\\.\\pipe\\vexal-%1-%2").arg(GetCurrentProcessId()).arg(name);
    // Kept open for the life of the test program: the pipe is gone with it.
    const HANDLE pipe = CreateNamedPipeW(reinterpret_cast<const wchar_t *>(path.utf16()), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    return pipe == INVALID_HANDLE_VALUE ? QString() : path;
#else
    const QString path = folder.filePath(name);
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
#endif
}

// A device: writes vanish into it, or it is full.
inline QString device()
{
#ifdef _WIN32
    return QStringLiteral("NUL");
#else
    return QStringLiteral("/dev/null");
#endif
}

// The most memory the process has held so far, in bytes.
inline qint64 peakResidentBytes()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return qint64(counters.PeakWorkingSetSize);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
#endif
}

} // namespace vexal::platformfiles
