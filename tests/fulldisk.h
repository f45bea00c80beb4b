#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// A real full disk for tests: a tiny tmpfs in a private mount namespace, so
// no one outside the test process sees it, even after a crash. Including
// this header moves the process into that namespace before main(), while it
// still has one thread. Needs root; without it TinyDisk::error() says why.
// tmpfs counts whole pages: a file's partly used last page still takes bytes
// after fill(), so a test that must fail on its first byte starts it empty.
namespace vexal::fulldisk {

inline std::string errnoText(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

#ifdef _WIN32
// Windows has neither tmpfs nor mount namespaces: every test that needs a
// full disk or a file of its own over a system one skips there, saying so.
inline const std::string enteredAtStart = "tiny full disks and private mounts are Linux's (tmpfs, mount namespaces)";

class TinyDisk final
{
public:
    explicit TinyDisk(qint64 = 0) {}
    const std::string &error() const { return enteredAtStart; }
    QString path() const { return {}; }
    QString filePath(const QString &) const { return {}; }
    std::string fill() { return enteredAtStart; }
    void release() {}
    std::string setReadOnly(bool) { return enteredAtStart; }
};

inline std::string bindFileOver(const QString &, const char *) { return enteredAtStart; }
inline void unbind(const char *) {}
#else

// Before main(): empty once the process has a mount namespace of its own.
inline const std::string enteredAtStart = [] {
    if (::geteuid() != 0)
        return std::string("a private tmpfs needs root (mount namespaces and mounting); not running as root");
    // Private mounts: else a mount below a shared parent would show in the host.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return errnoText("entering a private mount namespace (refused once a second thread runs)");
    return std::string();
}();

class TinyDisk final
{
public:
    // A tmpfs of that many bytes on a new temporary folder, gone with this object.
    explicit TinyDisk(qint64 bytes = 256 * 1024)
        : m_folder(QDir::tempPath() + QStringLiteral("/vexal-tinydisk-XXXXXX")), m_error(enteredAtStart),
          m_mountPoint(QFile::encodeName(m_folder.path())), m_ballast(m_mountPoint + "/.ballast")
    {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        if (m_error.empty() && (!m_folder.isValid() || ::mount("vexal-tinydisk", m_mountPoint, "tmpfs",
                                                               MS_NOSUID | MS_NODEV, options.c_str()) != 0))
            m_error = errnoText("mounting a tmpfs on a new temporary folder");
    }
    ~TinyDisk()
    {
        // Detached: a file a failed test left open must not keep the mount.
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
    void release() { ::unlink(m_ballast); }
    // Read-only (unlike mode bits, this holds for root too) or writable: empty, or why not.
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

// Puts the file over `target` (/etc/hosts, a file on a tiny disk) in this
// process's own mount namespace: empty, or why not.
inline std::string bindFileOver(const QString &file, const char *target)
{
    if (!enteredAtStart.empty())
        return enteredAtStart;
    if (::mount(QFile::encodeName(file), target, nullptr, MS_BIND, nullptr) != 0)
        return errnoText("bind-mounting a file over a system one");
    return std::string();
}
inline void unbind(const char *target) { ::umount2(target, MNT_DETACH); }
#endif

} // namespace vexal::fulldisk
