#include "sweep/fakepinger.h"

#include <QTimer>

namespace vexal {

FakePinger::FakePinger(QObject *parent)
    : Pinger(parent)
{
}

bool FakePinger::open()
{
    ++m_opens;
    return m_openError.isEmpty();
}

QString FakePinger::errorText() const { return m_openError; }
QString FakePinger::mechanism() const { return QStringLiteral("fake"); }
void FakePinger::setTimeout(int milliseconds) { m_timeout = milliseconds; }
int FakePinger::timeout() const { return m_timeout; }
void FakePinger::setPacketSize(int dataBytes) { m_packetSize = dataBytes; }
int FakePinger::packetSize() const { return m_packetSize; }
qint64 FakePinger::outstanding() const { return m_outstanding; }

qsizetype FakePinger::send(std::span<const Ipv4> targets, SendRefusals &refusals)
{
    qsizetype count = qsizetype(targets.size());
    if (m_room) {
        count = qsizetype(std::min<qint64>(count, *m_room));
        *m_room -= count;
    }
    // Without a script there is nothing to look at per target.
    if (!m_recording && !m_answers && !m_refuses) {
        m_sentCount += count;
        m_outstanding += count;
        return count;
    }
    for (qsizetype i = 0; i < count; ++i) {
        const Ipv4 address = targets[std::size_t(i)];
        if (m_refuses) {
            if (std::optional<QString> reason = m_refuses(address)) {
                refusals.push_back({i, *reason});
                continue;
            }
        }
        ++m_sentCount;
        if (m_recording)
            m_sent.append(address);
        ++m_outstanding;
        if (m_answers && m_answers(address))
            m_queuedReplies.append(address);
        else if (m_answers)
            m_silent.append(address);
    }
    if (m_autoDeliver && !m_queuedReplies.isEmpty() && !m_deliveryScheduled) {
        m_deliveryScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_deliveryScheduled = false;
            deliverReplies();
        });
    }
    return count;
}

void FakePinger::cancel()
{
    ++m_cancels;
    m_queuedReplies.clear();
    m_silent.clear();
    m_outstanding = 0;
}

void FakePinger::collect()
{
    ++m_collects;
    deliverReplies();
}

void FakePinger::setAnswering(std::function<bool(Ipv4)> answers) { m_answers = std::move(answers); }
void FakePinger::setAnsweringAll() { m_answers = [](Ipv4) { return true; }; }
void FakePinger::setAutoDeliver(bool on) { m_autoDeliver = on; }
void FakePinger::failOpen(const QString &reason) { m_openError = reason; }
void FakePinger::setRefusing(std::function<std::optional<QString>(Ipv4)> refuses) { m_refuses = std::move(refuses); }
void FakePinger::limitRoom(qint64 requests) { m_room = requests; }
void FakePinger::setRecording(bool on) { m_recording = on; }
void FakePinger::setRoundTrip(quint32 microseconds) { m_roundTrip = microseconds; }

void FakePinger::makeRoom()
{
    m_room.reset();
    emit ready();
}

int FakePinger::deliverReplies()
{
    int delivered = 0;
    // A handler may cancel or send while we emit, so take one at a time.
    while (!m_queuedReplies.isEmpty()) {
        const Ipv4 address = m_queuedReplies.takeFirst();
        ++delivered;
        emit replied(address, m_roundTrip);
        finishOne();
    }
    return delivered;
}

void FakePinger::expireOutstanding()
{
    if (m_outstanding == 0)
        return;
    // Every one ends unanswered, the replies still queued with the rest.
    const QList<Ipv4> ended = m_silent + m_queuedReplies;
    m_queuedReplies.clear();
    m_silent.clear();
    m_outstanding = 0;
    const int cancels = m_cancels;
    for (const Ipv4 address : ended) {
        emit unanswered(address);
        if (cancels != m_cancels)
            return;
    }
    emit settled();
}

void FakePinger::finishOne()
{
    if (m_outstanding > 0 && --m_outstanding == 0)
        emit settled();
}

} // namespace vexal
