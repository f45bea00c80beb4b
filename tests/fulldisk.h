#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// A real full disk for tests: a tiny tmpfs mounted inside a private mount
// namespace, so nothing outside the test process ever sees it and it goes
// away with the process even after a crash. Including this header is enough:
// before main() it moves the process into its own mount namespace, which is
// refused once a process has a second thread. Everything here needs root;
// without it TinyDisk::error() says so and the test skips.
//
// tmpfs counts whole pages: a file's last, partly used page can still take
// bytes after fill(), so a test that must fail on its first byte starts the
// file empty (or fills after the file has reached a page boundary).
namespace vexal::fulldisk {

inline std::string errnoText(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

// Before main(): empty once the process has a mount namespace of its own.
inline const std::string enteredAtStart = [] {
    if (::geteuid() != 0)
        return std::string("a private tmpfs needs root (mount namespaces and mounting); not running as root");
    if (::unshare(CLONE_NEWNS) != 0)
        return errno != EINVAL ? errnoText("unshare(CLONE_NEWNS)")
                               : "unshare(CLONE_NEWNS) refused: the process already runs several threads; "
                                 "the tiny disk must be set up before any thread starts";
    // Without this a mount below a shared parent would show in the host.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return errnoText("making every mount private");
    return std::string();
}();

class TinyDisk final
{
public:
    // A tmpfs of that many bytes (whole pages) on a new temporary folder,
    // unmounted and removed again with this object.
    explicit TinyDisk(qint64 bytes = 256 * 1024)
        : m_folder(QDir::tempPath() + QStringLiteral("/vexal-tinydisk-XXXXXX")), m_error(enteredAtStart),
          m_mountPoint(QFile::encodeName(m_folder.path())), m_ballast(m_mountPoint + "/.ballast")
    {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        if (m_error.empty() && !m_folder.isValid())
            m_error = "creating the mount point: " + m_folder.errorString().toStdString();
        else if (m_error.empty()
                 && ::mount("vexal-tinydisk", m_mountPoint, "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
            m_error = errnoText("mounting a tmpfs");
    }
    ~TinyDisk()
    {
        // Detached: a file a failed test left open must not keep the mount.
        // The folder, empty again, goes with m_folder.
        if (m_error.empty())
            ::umount2(m_mountPoint, MNT_DETACH);
    }

    // Empty when the disk is mounted; else the reason, fit for GTEST_SKIP().
    const std::string &error() const { return m_error; }

    QString path() const { return m_folder.path(); }
    QString filePath(const QString &name) const { return m_folder.filePath(name); }

    // Writes a ballast file until the disk refuses with ENOSPC: empty, or what went wrong.
    std::string fill()
    {
        if (!m_error.empty())
            return m_error;
        const int fd = ::open(m_ballast, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0)
            return errnoText("creating the ballast");
        static const char chunk[4096] = {};
        while (::write(fd, chunk, sizeof chunk) >= 0 || errno == EINTR) {
        }
        const std::string result = errno == ENOSPC ? std::string() : errnoText("writing the ballast");
        ::close(fd);
        return result;
    }
    // Deletes the ballast: the room fill() took is free again.
    void release() { ::unlink(m_ballast); }
    // Remounts the disk read-only (or writable again): unlike a folder's
    // mode bits, this holds for root too. Empty on success, else why not.
    std::string setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
        if (m_error.empty() && ::mount("vexal-tinydisk", m_mountPoint, "tmpfs", flags, nullptr) != 0)
            return errnoText("remounting the tmpfs");
        return m_error;
    }

private:
    QTemporaryDir m_folder;
    std::string m_error;
    QByteArray m_mountPoint;
    QByteArray m_ballast;
};

} // namespace vexal::fulldisk
