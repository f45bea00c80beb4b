#pragma once

#include <QString>
#include <QtGlobal>

#include <string>

// A real full disk for tests: a tiny tmpfs mounted inside a private mount
// namespace, so nothing outside the test process ever sees it and it goes
// away with the process even after a crash. Linking this file is enough:
// before main() it moves the process into its own mount namespace, which is
// refused once a process has a second thread. Everything here needs root;
// without it TinyDisk::error() says so and the test skips.
//
// tmpfs counts whole pages: a file's last, partly used page can still take
// bytes after fill(), so a test that must fail on its first byte starts the
// file empty (or fills after the file has reached a page boundary).
namespace vexal::fulldisk {

class TinyDisk final
{
public:
    // A tmpfs of that many bytes (whole pages) on a new temporary folder,
    // unmounted and removed again with this object.
    explicit TinyDisk(qint64 bytes = 256 * 1024);
    ~TinyDisk();
    TinyDisk(const TinyDisk &) = delete;
    TinyDisk &operator=(const TinyDisk &) = delete;

    // Empty when the disk is mounted; else the reason, fit for GTEST_SKIP().
    const std::string &error() const { return m_error; }

    QString path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + QLatin1Char('/') + name; }

    // Writes a ballast file until the disk refuses with ENOSPC: empty, or what went wrong.
    std::string fill();
    // Deletes the ballast: the room fill() took is free again.
    void release();
    // Remounts the disk read-only (or writable again): unlike a folder's
    // mode bits, this holds for root too. Empty on success, else why not.
    std::string setReadOnly(bool readOnly);

private:
    QString ballastPath() const { return filePath(QStringLiteral(".ballast")); }

    QString m_path;
    std::string m_error;
    bool m_mounted = false;
};

} // namespace vexal::fulldisk
