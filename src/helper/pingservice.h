#pragma once

#include "sweep/helperprotocol.h"
#include "sweep/pinger.h"
#include "sweep/pingers_linux.h"

#include <QObject>

#include <deque>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace vexal {

class ArpResolver;
class LinkMap;

// The helper's side of its socket: takes Vexal's messages, has the pinger
// send what they ask, and reports back. It trusts nothing it is sent: a
// message that does not decode, or asks for more than the helper agrees to
// do, is refused and the helper goes on; it stops reading while Vexal is
// behind with the reports; and it ends when its peer goes away.
class PingService final : public QObject
{
    Q_OBJECT

public:
    // `fd` is the socket, `pinger` open already; `openPacket` gives the
    // packet sockets for the questions Vexal asks the helper to ask itself.
    PingService(int fd, Pinger &pinger, PacketSocketOpener openPacket, QObject *parent = nullptr);
    ~PingService() override;

    // Sends the hello; the first thing Vexal reads.
    void greet(const helper::Hello &hello);

    // Targets the helper holds for the pinger at most; a peer that sends
    // more is refused.
    static constexpr int MaxQueued = 16384;

signals:
    // The peer has closed its end: the helper's work is over.
    void peerGone();

private:
    void onReadable();
    void readMessages();
    void handle(const helper::ToHelper &message);
    void refuse(const char *why);
    void pump();
    void resolve(const std::vector<Ipv4> &targets);
    void askQuestions();
    void takeAnswers();
    // Sends the report when there is something new to say.
    void report(bool evenIfUnchanged = false);
    void post(const helper::FromHelper &message);
    void flush();

    const int m_fd;
    Pinger &m_pinger;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    std::vector<quint8> m_buffer;
    std::deque<std::vector<quint8>> m_outbox;
    std::size_t m_outboxBytes = 0;

    std::vector<Ipv4> m_queue;
    std::size_t m_queueHead = 0;
    SendRefusals m_refusals;
    helper::Report m_report;
    helper::Resolved m_resolved;
    PacketSocketOpener m_openPacket;
    std::unique_ptr<LinkMap> m_links;
    std::unique_ptr<ArpResolver> m_resolver;
    std::deque<Ipv4> m_toResolve;
    qint64 m_reportedOutstanding = 0;
    int m_refusedMessages = 0;
};

} // namespace vexal
