#include "logging/textlog.h"

#include "common/datetimetext.h"

#include <cstring>

namespace vexal {

namespace {

// Large enough that a sweep at full speed writes to the system a few
// hundred times a second rather than once a line.
constexpr qsizetype BufferSize = 64 * 1024;

TextLog::Status statusOf(LockedFile::WriteResult result)
{
    switch (result) {
    case LockedFile::WriteResult::Ok:
        return TextLog::Status::Ok;
    case LockedFile::WriteResult::DiskFull:
        return TextLog::Status::DiskFull;
    case LockedFile::WriteResult::Failed:
        break;
    }
    return TextLog::Status::Failed;
}

qint64 localSecond(const QDateTime &when)
{
    // Date and wall-clock time, not seconds since the epoch: the text shows
    // local time, and this needs no time-zone lookup.
    return when.date().toJulianDay() * 86400 + when.time().msecsSinceStartOfDay() / 1000;
}

} // namespace

TextLog::TextLog()
    : m_buffer(new char[BufferSize])
    , m_capacity(BufferSize)
    , m_encoder(QStringConverter::System)
{
}

TextLog::~TextLog()
{
    close();
}

TextLog::OpenResult TextLog::open(const QString &path)
{
    close();
    giveUpWaiting();
    m_cachedSecond = -1;
    m_locale = QLocale();
    switch (m_file.open(path, true)) {
    case LockedFile::OpenResult::Opened:
        return OpenResult::Opened;
    case LockedFile::OpenResult::Locked:
        return OpenResult::InUse;
    case LockedFile::OpenResult::Failed:
        break;
    }
    return OpenResult::Failed;
}

TextLog::Status TextLog::writeReplyLine(Ipv4 address, const QDateTime &when)
{
    if (!isOpen())
        return Status::Failed;
    const qint64 second = localSecond(when);
    if (second != m_cachedSecond) {
        const QString text = QLatin1Char(' ') + generalDateTimeText(when, m_locale) + QLatin1String("\r\n");
        m_cachedDateTime = m_encoder.encode(text);
        m_cachedSecond = second;
    }
    // The address is ASCII, which the locale's encoding writes unchanged, so
    // a reply line is two copies into the buffer and no conversion.
    char text[Ipv4TextMax];
    return appendLine(QByteArrayView(text, writeIpv4Text(address, text) - text), m_cachedDateTime);
}

TextLog::Status TextLog::writeSummary(const QString &attempts, const QString &responses,
                                      const QString &percentage, const QString &startTime,
                                      const QString &elapsed)
{
    if (!isOpen())
        return Status::Failed;
    const std::pair<QLatin1String, const QString &> lines[] = {
        {QLatin1String("Actual Attempts: "), attempts},
        {QLatin1String("Actual Responses: "), responses},
        {QLatin1String("Percentage: "), percentage},
        {QLatin1String("Start Time: "), startTime},
        {QLatin1String("Elapsed Time: "), elapsed},
    };
    for (const auto &[label, caption] : lines) {
        if (const Status status = appendLine(label + caption, QByteArrayView("\r\n", 2)); status != Status::Ok)
            return status;
    }
    return flush();
}

TextLog::Status TextLog::flush()
{
    if (!isOpen())
        return Status::Failed;
    if (m_used == 0)
        return Status::Ok;
    const Status status = statusOf(m_file.write(m_buffer.get(), m_used));
    m_failing = status == Status::Failed;
    if (!m_failing) {
        m_used = 0;
        m_lines = 0;
    }
    return status;
}

QString TextLog::errorText() const
{
    return qt_error_string(m_file.error());
}

qsizetype TextLog::giveUpWaiting()
{
    const qsizetype lines = m_lines;
    m_used = 0;
    m_lines = 0;
    // What a long failure made the buffer grow to is not kept.
    if (m_capacity != BufferSize) {
        m_buffer.reset(new char[BufferSize]);
        m_capacity = BufferSize;
    }
    return lines;
}

TextLog::Status TextLog::close()
{
    if (!isOpen())
        return Status::Ok;
    Status status = flush();
    if (status == Status::Ok)
        status = statusOf(m_file.sync());
    m_file.close();
    m_failing = false;
    return status;
}

TextLog::Status TextLog::reserve(qsizetype bytes)
{
    // A line goes into the buffer whole, so a flush never cuts one in two.
    if (bytes <= m_capacity - m_used)
        return Status::Ok;
    // A full disk ends the run; any other failure keeps the line waiting
    // with the others.
    if (!m_failing && flush() == Status::DiskFull)
        return Status::DiskFull;
    if (bytes > m_capacity - m_used)
        makeRoom(bytes);
    return Status::Ok;
}

void TextLog::makeRoom(qsizetype bytes)
{
    qsizetype capacity = m_capacity;
    while (capacity - m_used < bytes)
        capacity *= 2;
    std::unique_ptr<char[]> bigger(new char[std::size_t(capacity)]);
    std::memcpy(bigger.get(), m_buffer.get(), std::size_t(m_used));
    m_buffer = std::move(bigger);
    m_capacity = capacity;
}

TextLog::Status TextLog::appendLine(QStringView text, QByteArrayView tail)
{
    if (const Status status = reserve(m_encoder.requiredSpace(text.size()) + tail.size()); status != Status::Ok)
        return status;
    char *end = m_encoder.appendToBuffer(m_buffer.get() + m_used, text);
    std::memcpy(end, tail.data(), size_t(tail.size()));
    m_used = end + tail.size() - m_buffer.get();
    ++m_lines;
    return Status::Ok;
}

TextLog::Status TextLog::appendLine(QByteArrayView head, QByteArrayView tail)
{
    // As above, for a line whose head is bytes already: no encoder needed.
    if (const Status status = reserve(head.size() + tail.size()); status != Status::Ok)
        return status;
    char *end = m_buffer.get() + m_used;
    std::memcpy(end, head.data(), size_t(head.size()));
    std::memcpy(end + head.size(), tail.data(), size_t(tail.size()));
    m_used += head.size() + tail.size();
    ++m_lines;
    return Status::Ok;
}

} // namespace vexal
