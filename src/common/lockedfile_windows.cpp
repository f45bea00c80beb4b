#include "common/lockedfile.h"

#include <QFile>

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace vexal {

namespace {

/*
 * Windows locks by share mode: a log is open with reading shared and
 * writing not, so a second Vexal's open of the same file for writing fails
 * with a sharing violation, and so does any other program's. Nothing is
 * lost by the open that fails, which is the refusal the header promises.
 *
 * The descriptor LockedFile keeps is the C runtime's, over the handle; it
 * shares the runtime Qt uses, so QFile can take one too.
 */

// ERROR_DISK_QUOTA_EXCEEDED, a share's storage quota (a folder quota set by
// the server), which MinGW's headers lack. A user's NTFS quota reports a
// full disk.
constexpr int StorageQuotaExceeded = 1295;

bool startsWithNoCase(const QString &text, QLatin1StringView prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

// Names that reach a device rather than a file, known from the name alone:
// CON, NUL, COM1 and their kind (in any folder, before Windows 11), which
// the full path turns into \\.\CON; a named pipe, \\.\pipe\x or
// \\host\pipe\x; and the device namespace's other names (\\.\C: is the
// volume itself, \\.\PhysicalDrive0 a disk). A drive or a share reached
// through \\?\ stays a file name.
} // namespace

bool namesDevice(const QString &path)
{
    const auto native = reinterpret_cast<const wchar_t *>(path.utf16());
    const DWORD size = ::GetFullPathNameW(native, 0, nullptr, nullptr);
    if (size == 0)
        return false; // the open says what is wrong with it
    std::vector<wchar_t> buffer(size);
    const DWORD length = ::GetFullPathNameW(native, size, buffer.data(), nullptr);
    if (length == 0 || length >= size)
        return false;
    QString full = QString::fromWCharArray(buffer.data(), length);
    full.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (startsWithNoCase(full, QLatin1StringView("\\\\.\\")) || startsWithNoCase(full, QLatin1StringView("\\\\?\\"))) {
        const QString rest = full.mid(4);
        const bool drivePath = rest.size() > 3 && rest.at(0).isLetter() && rest.at(1) == QLatin1Char(':')
            && rest.at(2) == QLatin1Char('\\');
        if (!drivePath && !startsWithNoCase(rest, QLatin1StringView("UNC\\")))
            return true;
        full = drivePath ? rest : QStringLiteral("\\\\") + rest.mid(4);
    }
    // \\host\pipe\name: a share named pipe is the host's pipes.
    if (full.startsWith(QLatin1StringView("\\\\"))) {
        const qsizetype hostEnd = full.indexOf(QLatin1Char('\\'), 2);
        if (hostEnd > 2 && startsWithNoCase(full.mid(hostEnd + 1), QLatin1StringView("pipe\\")))
            return true;
    }
    return false;
}

namespace {

void setErrnoFrom(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    default:
        errno = EIO;
        break;
    }
}

// The handle of the regular disk file at path, or INVALID_HANDLE_VALUE with
// the system's error as the thread's last error. A folder or a device is
// refused before it is opened; one that takes the name's place after the
// check is refused by its type once open (an open pipe or device returns
// at once on Windows, it never waits for the other end).
HANDLE openRegularFile(const QString &path, DWORD access, DWORD share, DWORD disposition)
{
    if (path.isEmpty() || namesDevice(path)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    const auto native = reinterpret_cast<const wchar_t *>(path.utf16());
    const DWORD attributes = ::GetFileAttributesW(native);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle =
        ::CreateFileW(native, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

bool truncateAt(HANDLE handle, qint64 offset)
{
    LARGE_INTEGER position;
    position.QuadPart = offset;
    return ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && ::SetEndOfFile(handle);
}

// A runtime descriptor that owns the handle, or -1 with the handle closed.
int descriptorFor(HANDLE handle, int flags)
{
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0)
        ::CloseHandle(handle);
    return fd;
}

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

} // namespace

LockedFile::~LockedFile()
{
    close();
}

LockedFile::OpenResult LockedFile::open(const QString &path, bool truncate)
{
    close();
    // OPEN_ALWAYS, not CREATE_ALWAYS: the file is emptied only once this
    // open has it, and a hidden or system file is not refused for its
    // attributes.
    const HANDLE handle = openRegularFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? OpenResult::Locked : OpenResult::Failed;
    if (truncate && !truncateAt(handle, 0)) {
        ::CloseHandle(handle);
        return OpenResult::Failed;
    }
    m_fd = descriptorFor(handle, _O_WRONLY | _O_BINARY);
    return m_fd >= 0 ? OpenResult::Opened : OpenResult::Failed;
}

LockedFile::WriteResult LockedFile::write(const char *data, qsizetype size)
{
    if (m_fd < 0)
        return WriteResult::Failed;
    const HANDLE handle = handleOf(m_fd);
    LARGE_INTEGER start{};
    const LARGE_INTEGER here{};
    const bool knowsStart = ::SetFilePointerEx(handle, here, &start, FILE_CURRENT);
    while (size > 0) {
        const DWORD chunk = DWORD(qMin<qsizetype>(size, 1 << 30));
        DWORD written = 0;
        if (::WriteFile(handle, data, chunk, &written, nullptr) && written > 0) {
            data += written;
            size -= written;
            continue;
        }
        // A write that takes nothing without saying why cannot be retried
        // into success either.
        const DWORD error = ::GetLastError();
        const WriteResult result = failed(error != ERROR_SUCCESS ? int(error) : int(ERROR_WRITE_FAULT));
        // Whatever part reached the file is taken back; shrinking a file
        // needs no room.
        if (knowsStart)
            truncateAt(handle, start.QuadPart);
        return result;
    }
    return WriteResult::Ok;
}

LockedFile::WriteResult LockedFile::sync()
{
    if (m_fd < 0)
        return WriteResult::Failed;
    return ::FlushFileBuffers(handleOf(m_fd)) ? WriteResult::Ok : failed(int(::GetLastError()));
}

LockedFile::WriteResult LockedFile::failed(int error)
{
    // The error is Windows' own number, which qt_error_string() words on
    // Windows. A full quota is a full disk as far as the user can tell.
    m_error = error;
    return m_error == ERROR_DISK_FULL || m_error == ERROR_HANDLE_DISK_FULL || m_error == StorageQuotaExceeded
        ? WriteResult::DiskFull
        : WriteResult::Failed;
}

bool openRegularFileForReading(QFile &file, const QString &path)
{
    // Others may go on reading and writing it, as with QFile's own opens.
    const HANDLE handle = openRegularFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const int fd = descriptorFor(handle, _O_RDONLY | _O_BINARY);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        return false;
    }
    return true;
}

bool openRegularFileForWriting(QFile &file, const QString &path)
{
    const HANDLE handle =
        openRegularFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE || !truncateAt(handle, 0)) {
        const DWORD error = ::GetLastError();
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        setErrnoFrom(error);
        return false;
    }
    const int fd = descriptorFor(handle, _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        errno = EMFILE;
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        const int error = errno;
        ::_close(fd);
        errno = error;
        return false;
    }
    return true;
}

bool LockedFile::close()
{
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    // The runtime's close closes the handle as well.
    return ::_close(fd) == 0;
}

} // namespace vexal
