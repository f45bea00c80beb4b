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
// flush; any other error Failed. Bytes that could not be written are dropped
// with the failure, so the buffer never grows on a disk that refuses them.
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

    // The five summary lines, each label followed by the caption as shown;
    // the lines reach the disk before this returns.
    Status writeSummary(const QString &attempts, const QString &responses, const QString &percentage,
                        const QString &startTime, const QString &elapsed);

    Status flush();

    // Writes what is buffered and releases the lock; errors are ignored.
    void close();

private:
    Status appendLine(QStringView text, QByteArrayView tail);
    Status appendLine(QByteArrayView head, QByteArrayView tail);

    LockedFile m_file;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    QStringEncoder m_encoder;
    QLocale m_locale;
    // Reply lines within one second share their date-time text, so it is
    // formatted and encoded once a second rather than once a line.
    qint64 m_cachedSecond = -1;
    QByteArray m_cachedDateTime;
};

} // namespace vexal
