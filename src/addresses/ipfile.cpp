#include "addresses/ipfile.h"

#include "common/lockedfile.h"

#include <QFile>

#include <cerrno>

namespace vexal {

const Complaint InvalidIPFile{QStringLiteral("IP File"),
                              QStringLiteral("The IP File is invalid.  Please select a different file!")};
const Complaint IPFileDiskFull{
    QStringLiteral("IP File"),
    QStringLiteral("The IP File has filled up the current disk.  Please resolve the issue and try "
                   "to saving again!")};

namespace {

constexpr int ListCount = 4;

// Splits the file into whole numbers and hands them on in pairs. Fed in
// chunks, so a huge or endless file (a device, say) is refused at its first
// stray byte instead of being read whole.
class PairReader final
{
public:
    explicit PairReader(AddressSet &lists)
        : m_lists(lists)
    {
    }

    // False once the text has broken a rule; nothing is selected after that.
    bool feed(QByteArrayView bytes)
    {
        // An editor's UTF-8 signature in front of the first number.
        if (!m_started && bytes.startsWith("\xEF\xBB\xBF"))
            bytes = bytes.sliced(3);
        m_started = true;
        for (const char c : bytes) {
            if (!m_good)
                return false;
            take(c);
        }
        return m_good;
    }

    // True when the text ended on a whole pair.
    bool finish()
    {
        if (m_good)
            endField(/*atLineEnd=*/true);
        return m_good && !m_haveList;
    }

private:
    enum class State { FieldStart, Sign, Digits, AfterNumber };

    void take(char c)
    {
        if (c == ' ' || c == '\t') {
            if (m_state == State::Digits)
                m_state = State::AfterNumber;
            else if (m_state == State::Sign)
                fail();
            return;
        }
        if (c == '\r' || c == '\n')
            return endField(/*atLineEnd=*/true);
        if (c == ',')
            return endField(/*atLineEnd=*/false);
        if ((c == '+' || c == '-') && m_state == State::FieldStart) {
            m_negative = c == '-';
            m_state = State::Sign;
            return;
        }
        if (c >= '0' && c <= '9' && (m_state == State::FieldStart || m_state == State::Sign
                                     || m_state == State::Digits)) {
            m_value = m_value * 10 + (c - '0');
            // Numbers are 16-bit; anything longer cannot be read.
            if (m_value > 32768)
                return fail();
            m_state = State::Digits;
            return;
        }
        fail();
    }

    // A comma always closes a field, so one must have been there; a line
    // end closes one if the line has begun, and blank lines are skipped.
    void endField(bool atLineEnd)
    {
        switch (m_state) {
        case State::FieldStart:
            if (!atLineEnd || m_afterComma)
                return fail();
            return;
        case State::Sign:
            return fail();
        case State::Digits:
        case State::AfterNumber:
            break;
        }
        const int value = m_negative ? -m_value : m_value;
        if (value > 32767)
            return fail();
        m_state = State::FieldStart;
        m_value = 0;
        m_negative = false;
        m_afterComma = !atLineEnd;
        takeNumber(value);
    }

    void takeNumber(int value)
    {
        if (!m_haveList) {
            m_list = value;
            m_haveList = true;
            return;
        }
        m_haveList = false;
        if (m_list < 0 || m_list >= ListCount || value < 1 || value > OctetList::EntryCount)
            return fail();
        m_lists[std::size_t(m_list)].setSelected(value - 1, true);
    }

    void fail() { m_good = false; }

    AddressSet &m_lists;
    bool m_good = true;
    State m_state = State::FieldStart;
    int m_value = 0;
    bool m_negative = false;
    bool m_afterComma = false;
    bool m_haveList = false;
    int m_list = 0;
    bool m_started = false;
};

// Reads the file into lists (cleared first); true when it was whole and
// followed every rule.
bool readPairs(const QString &name, AddressSet &lists)
{
    for (OctetList &list : lists)
        list.clear();
    QFile file;
    if (!openRegularFileForReading(file, name))
        return false;
    PairReader reader(lists);
    char chunk[16384];
    for (;;) {
        const qint64 got = file.read(chunk, sizeof chunk);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        if (!reader.feed(QByteArrayView(chunk, got)))
            return false;
    }
    return reader.finish();
}

} // namespace

QByteArray ipFileContents(const AddressSet &lists)
{
    QByteArray out;
    for (int k = 0; k < ListCount; ++k) {
        const OctetList &list = lists[std::size_t(k)];
        for (int position = 0; position < OctetList::EntryCount; ++position) {
            if (!list.isSelected(position))
                continue;
            out += QByteArray::number(k);
            out += ',';
            out += QByteArray::number(position + 1);
            out += "\r\n";
        }
    }
    return out;
}

IPFileWrite writeFileToDisk(const QString &name, const AddressSet &lists)
{
    if (name.isEmpty())
        return IPFileWrite::Failed;
    QFile file;
    errno = 0;
    // Unbuffered, so that each short write is seen and followed by another:
    // only the write that finds no room at all reports ENOSPC, and QFile's
    // own buffer flush reports a short write as a plain write error. Only a
    // regular file: a FIFO with no reader would hold the window for ever.
    if (!openRegularFileForWriting(file, name)) {
        // Creating a file can itself run out of room (no free inode or
        // directory block).
        return errno == ENOSPC ? IPFileWrite::DiskFull : IPFileWrite::Failed;
    }
    const QByteArray contents = ipFileContents(lists);
    qint64 done = 0;
    while (done < contents.size()) {
        const qint64 written = file.write(contents.constData() + done, contents.size() - done);
        if (written <= 0)
            break;
        done += written;
    }
    if (done == contents.size())
        file.close(); // some file systems report a lack of room only now
    if (file.error() == QFileDevice::NoError)
        return IPFileWrite::Written;
    // Qt reports ENOSPC, and only that, as a resource error.
    return file.error() == QFileDevice::ResourceError ? IPFileWrite::DiskFull : IPFileWrite::Failed;
}

std::optional<AddressSet> parseIPFile(QByteArrayView bytes)
{
    AddressSet lists;
    PairReader reader(lists);
    if (!reader.feed(bytes) || !reader.finish())
        return std::nullopt;
    return lists;
}

std::optional<AddressSet> readIPFile(const QString &name)
{
    AddressSet lists;
    if (!readPairs(name, lists))
        return std::nullopt;
    return lists;
}

bool correctIPFileType(const QString &name)
{
    return readIPFile(name).has_value();
}

AddressSet readAndPopulate(const QString &name)
{
    AddressSet lists;
    readPairs(name, lists);
    return lists;
}

} // namespace vexal
