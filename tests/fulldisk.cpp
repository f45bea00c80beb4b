#include "fulldisk.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace vexal::fulldisk {

namespace {

std::string errnoText(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

std::string enterOnce()
{
    if (::geteuid() != 0)
        return "a private tmpfs needs root (mount namespaces and mounting); not running as root";
    if (::unshare(CLONE_NEWNS) != 0) {
        if (errno == EINVAL)
            return "unshare(CLONE_NEWNS) refused: the process already runs several threads; "
                   "the tiny disk must be set up before any thread starts";
        return errnoText("unshare(CLONE_NEWNS)");
    }
    // Without this a mount below a shared parent would show in the host.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return errnoText("making every mount private");
    return {};
}

// Before main(): see the header.
const std::string g_enteredAtStart = enterOnce();

} // namespace

TinyDisk::TinyDisk(qint64 bytes)
{
    m_error = g_enteredAtStart;
    if (!m_error.empty())
        return;
    QByteArray folder = QFile::encodeName(QDir::tempPath() + QStringLiteral("/vexal-tinydisk-XXXXXX"));
    if (!::mkdtemp(folder.data())) {
        m_error = errnoText("creating the mount point");
        return;
    }
    m_path = QFile::decodeName(folder);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("vexal-tinydisk", folder.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        m_error = errnoText("mounting a tmpfs");
        ::rmdir(folder.constData());
        return;
    }
    m_mounted = true;
}

TinyDisk::~TinyDisk()
{
    if (!m_mounted)
        return;
    const QByteArray folder = QFile::encodeName(m_path);
    // Detached: a file a failed test left open must not keep the mount.
    ::umount2(folder.constData(), MNT_DETACH);
    ::rmdir(folder.constData());
}

std::string TinyDisk::fill()
{
    if (!m_mounted)
        return m_error;
    const QByteArray name = QFile::encodeName(ballastPath());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return errnoText("creating the ballast");
    static const char chunk[4096] = {};
    while (::write(fd, chunk, sizeof chunk) >= 0 || errno == EINTR) {
    }
    const std::string result = errno == ENOSPC ? std::string() : errnoText("writing the ballast");
    ::close(fd);
    return result;
}

void TinyDisk::release()
{
    if (m_mounted)
        QFile::remove(ballastPath());
}

std::string TinyDisk::setReadOnly(bool readOnly)
{
    if (!m_mounted)
        return m_error;
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    if (::mount("vexal-tinydisk", QFile::encodeName(m_path).constData(), "tmpfs", flags, nullptr) != 0)
        return errnoText("remounting the tmpfs");
    return {};
}

} // namespace vexal::fulldisk
