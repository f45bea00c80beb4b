#pragma once

#include "sweep/pinger.h"

#include <QList>

#include <functional>
#include <optional>

namespace vexal {

// A pinger whose network is a script, for tests. Requests to answering
// addresses queue a reply that is delivered by deliverReplies(), or from the
// event loop when auto-delivery is on; the others stay outstanding until
// expireOutstanding(). It can also refuse targets, as a system does for a
// broadcast address, and take fewer than offered, as a full queue does.
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
    using Pinger::send;
    qsizetype send(std::span<const Ipv4> targets, SendRefusals &refusals) override;
    void cancel() override;
    qint64 outstanding() const override;
    void collect() override;

    // Script.
    void setAnswering(std::function<bool(Ipv4)> answers);
    void setAnsweringAll();
    void setAutoDeliver(bool on);
    void failOpen(const QString &reason);
    // The reason a target is refused, or nullopt when it may be sent.
    void setRefusing(std::function<std::optional<QString>(Ipv4)> refuses);
    // At most this many more requests are taken until the next makeRoom().
    void limitRoom(qint64 requests);
    // Lifts the limit and emits ready().
    void makeRoom();
    // Keep only a count of what was sent, for sweeps of billions of targets.
    void setRecording(bool on);
    // The round trip every reply reports.
    void setRoundTrip(quint32 microseconds);

    // Emits replied() for every queued reply, in send order; returns how many.
    int deliverReplies();
    // Every outstanding request times out: unanswered() for each one a script
    // knows of, then settled().
    void expireOutstanding();

    // What happened.
    const QList<Ipv4> &sentAddresses() const { return m_sent; }
    qint64 sentCount() const { return m_sentCount; }
    int cancelCount() const { return m_cancels; }
    int openCount() const { return m_opens; }
    int collectCount() const { return m_collects; }

private:
    void finishOne();

    std::function<bool(Ipv4)> m_answers;
    std::function<std::optional<QString>(Ipv4)> m_refuses;
    QList<Ipv4> m_sent;
    QList<Ipv4> m_queuedReplies;
    // Sent to addresses the script leaves silent, until they expire.
    QList<Ipv4> m_silent;
    quint32 m_roundTrip = 1000;
    QString m_openError;
    qint64 m_sentCount = 0;
    qint64 m_outstanding = 0;
    std::optional<qint64> m_room;
    int m_timeout = PingerDefaultTimeoutMs;
    int m_packetSize = 64;
    int m_cancels = 0;
    int m_opens = 0;
    int m_collects = 0;
    bool m_autoDeliver = false;
    bool m_deliveryScheduled = false;
    bool m_recording = true;
};

} // namespace vexal
