#pragma once

#include <QString>
#include <QtGlobal>

namespace vexal {

// A regular file opened for writing under an exclusive advisory lock, held
// until close. On Linux another program's open file never blocks an open,
// so two Vexal processes logging to one file would interleave their lines;
// the lock is how the second one finds out. Other programs are not held
// back by it.
//
// Writes go straight to the system (callers buffer) and say whether they
// failed because the disk or the user's quota is full.
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

    // Releases the lock. False when the system reported an error closing.
    bool close();

private:
    int m_fd = -1;
};

} // namespace vexal
