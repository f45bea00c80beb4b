#pragma once

#include "common/ipv4.h"
#include "common/lockedfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringEncoder>

#include <memory>

namespace vexal {

// The text log of one run: one line per logged reply, a five-line summary
// at the end, CR LF after every line, text in the locale's encoding.
//
// Lines collect in a buffer that reaches the file when it fills, on flush()
// and on close(); the run flushes on a short timer, so a crash loses at most
// that much. While open, the file carries an advisory lock that fileInUse()
// and a second TextLog respect.
//
// A full disk (or quota) reports DiskFull, also when it surfaces on a buffer
// flush, and the buffer that did not fit is dropped: the run stops and says
// so. Any other failed write (EIO from a stick pulled out, EFBIG past a size
// limit) reports Failed and keeps the lines: they wait in a growing buffer
// and go with the next flush, until the caller gives them up.
class TextLog final
{
public:
    enum class Status { Ok, DiskFull, Failed };
    enum class OpenResult {
        Opened,
        InUse,  // another text log holds the file; it was not touched
        Failed, // cannot be created or written, or not a regular file
    };

    TextLog();
    ~TextLog();
    TextLog(const TextLog &) = delete;
    TextLog &operator=(const TextLog &) = delete;

    // Creates the file or empties it; closes a log still open first.
    OpenResult open(const QString &path);
    bool isOpen() const { return m_file.isOpen(); }

    // "10.0.0.7 12/5/2026 7:12:16 PM" CR LF, the date-time text in the
    // default locale as it was when the log was opened.
    Status writeReplyLine(Ipv4 address, const QDateTime &when);

    // The five summary lines, each label followed by the caption as shown,
    // then a flush.
    Status writeSummary(const QString &attempts, const QString &responses, const QString &percentage,
                        const QString &startTime, const QString &elapsed);

    Status flush();
    // Lines that a failed write left waiting (after close(): that it could
    // not write), and the system's reason.
    qsizetype waitingLines() const { return m_lines; }
    QString errorText() const;
    // Drops the waiting lines; how many there were.
    qsizetype giveUpWaiting();

    // Writes what is buffered, has it reach the disk (fsync) and releases
    // the lock. Anything but Ok means that not everything is on the disk.
    Status close();

private:
    Status appendLine(QStringView text, QByteArrayView tail);
    Status appendLine(QByteArrayView head, QByteArrayView tail);
    // Room in the buffer for a line of `bytes`: flushed first when full,
    // grown while writes fail; DiskFull when the flush met a full disk.
    Status reserve(qsizetype bytes);
    void makeRoom(qsizetype bytes);

    LockedFile m_file;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_capacity = 0;
    qsizetype m_used = 0;
    qsizetype m_lines = 0;
    // The last write failed: lines are only added until the next flush
    // tries again, not written one buffer at a time.
    bool m_failing = false;
    QStringEncoder m_encoder;
    QLocale m_locale;
    // Reply lines within one second share their date-time text, so it is
    // formatted and encoded once a second rather than once a line.
    qint64 m_cachedSecond = -1;
    QByteArray m_cachedDateTime;
};

} // namespace vexal
