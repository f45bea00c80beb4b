#include "sweep/fakepinger.h"

#include <QTimer>

namespace vexal {

FakePinger::FakePinger(QObject *parent)
    : Pinger(parent)
    , m_answers([](Ipv4) { return false; })
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
int FakePinger::outstanding() const { return m_outstanding; }

void FakePinger::send(Ipv4 address)
{
    m_sent.append(address);
    ++m_outstanding;
    if (!m_answers(address))
        return;
    m_queuedReplies.append(address);
    if (m_autoDeliver && !m_deliveryScheduled) {
        m_deliveryScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_deliveryScheduled = false;
            deliverReplies();
        });
    }
}

void FakePinger::cancel()
{
    ++m_cancels;
    m_queuedReplies.clear();
    m_outstanding = 0;
}

void FakePinger::setAnswering(std::function<bool(Ipv4)> answers) { m_answers = std::move(answers); }
void FakePinger::setAnsweringAll() { m_answers = [](Ipv4) { return true; }; }
void FakePinger::setAutoDeliver(bool on) { m_autoDeliver = on; }
void FakePinger::failOpen(const QString &reason) { m_openError = reason; }

int FakePinger::deliverReplies()
{
    int delivered = 0;
    // A handler may cancel or send while we emit, so take one at a time.
    while (!m_queuedReplies.isEmpty()) {
        const Ipv4 address = m_queuedReplies.takeFirst();
        ++delivered;
        emit replied(address);
        finishOne();
    }
    return delivered;
}

void FakePinger::expireOutstanding()
{
    if (m_outstanding == 0)
        return;
    m_queuedReplies.clear();
    m_outstanding = 0;
    emit settled();
}

void FakePinger::finishOne()
{
    if (m_outstanding > 0 && --m_outstanding == 0)
        emit settled();
}

} // namespace vexal
