#pragma once

#include "sweep/pinger.h"

#include <QList>
#include <QSet>

#include <functional>

namespace vexal {

// A pinger whose network is a script, for tests. Requests to answering
// addresses queue a reply that is delivered by deliverReplies(), or from the
// event loop when auto-delivery is on; the others stay outstanding until
// expireOutstanding().
class FakePinger final : public Pinger
{
    Q_OBJECT

public:
    explicit FakePinger(QObject *parent = nullptr);

    bool open() override;
    QString errorText() const override;
    QString mechanism() const override;
    void setTimeout(int milliseconds) override;
    int timeout() const override;
    void setPacketSize(int dataBytes) override;
    int packetSize() const override;
    void send(Ipv4 address) override;
    void cancel() override;
    int outstanding() const override;

    // Script.
    void setAnswering(std::function<bool(Ipv4)> answers);
    void setAnsweringAll();
    void setAutoDeliver(bool on);
    void failOpen(const QString &reason);

    // Emits replied() for every queued reply, in send order; returns how many.
    int deliverReplies();
    // Every outstanding request times out.
    void expireOutstanding();

    // What happened.
    const QList<Ipv4> &sentAddresses() const { return m_sent; }
    int cancelCount() const { return m_cancels; }
    int openCount() const { return m_opens; }

private:
    void finishOne();

    std::function<bool(Ipv4)> m_answers;
    QList<Ipv4> m_sent;
    QList<Ipv4> m_queuedReplies;
    QString m_openError;
    int m_outstanding = 0;
    int m_timeout = 300;
    int m_packetSize = 64;
    int m_cancels = 0;
    int m_opens = 0;
    bool m_autoDeliver = false;
    bool m_deliveryScheduled = false;
};

} // namespace vexal
