#pragma once

#include <QString>
#include <QtGlobal>

class QFile;

namespace vexal {

// A regular file opened for writing under an exclusive advisory lock, held
// until close. On Linux another program's open file never blocks an open,
// so two Vexal processes logging to one file would interleave their lines;
// the lock is how the second one finds out. Other programs are not held
// back by it.
//
// Writes go straight to the system (callers buffer) and say whether they
// failed because the disk or the user's quota is full.
//
// A name that is not a regular file (a FIFO, a socket, a device, a folder)
// is refused without being opened: opening a FIFO blocks until the other
// end is opened, and opening a device can set it off.
class LockedFile final
{
public:
    enum class OpenResult {
        Opened,
        Locked, // another open file holds the lock; nothing was changed
        Failed, // cannot be created or opened for writing, or not a regular file
    };
    enum class WriteResult { Ok, DiskFull, Failed };

    LockedFile() = default;
    ~LockedFile();
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    // Creates a missing file; empties an existing one only once it holds the
    // lock, so a file another Vexal is writing keeps its content.
    OpenResult open(const QString &path, bool truncate);
    bool isOpen() const { return m_fd >= 0; }

    // Writes all of it or, on an error, nothing: whatever part had reached
    // the file is taken back, so a full disk never leaves half a record.
    WriteResult write(const char *data, qsizetype size);
    // Has what was written reach the disk itself, not only the system.
    WriteResult sync();
    // The system's error number behind the last failed write or sync.
    int error() const { return m_error; }

    // Releases the lock. False when the system reported an error closing.
    bool close();

private:
    WriteResult failed(int error);

    int m_fd = -1;
    int m_error = 0;
};

// Whether a name reaches a device or a pipe by the name alone, whatever is
// on the disk: on Windows CON, NUL, COM1 and the like, \\.\ names and named
// pipes, none of which a file check sees; never on Linux, where such things
// are files of their own types.
bool namesDevice(const QString &path);

// Opens a regular file for reading, never anything else (see above).
bool openRegularFileForReading(QFile &file, const QString &path);
// Creates or empties a regular file and opens it for unbuffered writing,
// never anything else: a FIFO, a device or a folder is refused unopened.
// errno says why it failed (ENOSPC when creating it found no room).
bool openRegularFileForWriting(QFile &file, const QString &path);

} // namespace vexal
