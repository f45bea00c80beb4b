#include "common/lockedfile.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexal {

namespace {

// A descriptor for the regular file at path, or -1: anything else there is
// refused before it is opened. O_NONBLOCK: should a FIFO take the name's
// place after the check, the open fails or returns at once instead of
// hanging the window; the second check then refuses it.
int openRegularFile(const QString &path, int flags)
{
    if (path.isEmpty())
        return -1;
    const QByteArray name = QFile::encodeName(path);
    struct stat info{};
    if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return -1;
    const int fd = ::open(name.constData(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

LockedFile::~LockedFile()
{
    close();
}

LockedFile::OpenResult LockedFile::open(const QString &path, bool truncate)
{
    close();
    const int fd = openRegularFile(path, O_WRONLY | O_CREAT);
    if (fd < 0)
        return OpenResult::Failed;
    // flock() locks belong to the open file description, so a second open in
    // this very process conflicts too. A file system that cannot lock at all
    // (EINVAL, ENOLCK) still gets its log: the lock only guards against a
    // second Vexal, and refusing every log there would be worse.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return OpenResult::Locked;
    }
    if (truncate && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return OpenResult::Failed;
    }
    m_fd = fd;
    return OpenResult::Opened;
}

LockedFile::WriteResult LockedFile::write(const char *data, qsizetype size)
{
    if (m_fd < 0)
        return WriteResult::Failed;
    const off_t start = ::lseek(m_fd, 0, SEEK_CUR);
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(size));
        if (written > 0) {
            data += written;
            size -= written;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        // A write that takes nothing without saying why cannot be retried
        // into success either.
        const WriteResult result = failed(written < 0 ? errno : EIO);
        // A file system counts room in blocks, so the last one's free bytes
        // can take part of a buffer before the disk says it is full. Shrinking
        // a file needs no room; the file ends where it did before this write.
        if (start >= 0 && ::ftruncate(m_fd, start) == 0)
            ::lseek(m_fd, start, SEEK_SET);
        return result;
    }
    return WriteResult::Ok;
}

LockedFile::WriteResult LockedFile::sync()
{
    if (m_fd < 0)
        return WriteResult::Failed;
    return ::fsync(m_fd) == 0 ? WriteResult::Ok : failed(errno);
}

LockedFile::WriteResult LockedFile::failed(int error)
{
    m_error = error;
    // A full quota is a full disk as far as the user can tell.
    return m_error == ENOSPC || m_error == EDQUOT ? WriteResult::DiskFull : WriteResult::Failed;
}

bool openRegularFileForReading(QFile &file, const QString &path)
{
    const int fd = openRegularFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool openRegularFileForWriting(QFile &file, const QString &path)
{
    const int fd = openRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0)
        return false;
    // O_NONBLOCK is for the open alone; a regular file's writes ignore it.
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        const int error = errno;
        ::close(fd);
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
    // The descriptor is gone after close() even when it reports EINTR, so
    // it is never retried.
    return ::close(fd) == 0;
}

bool namesDevice(const QString &)
{
    return false;
}

} // namespace vexal
