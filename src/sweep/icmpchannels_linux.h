#pragma once

#include "common/ipv4.h"
#include "sweep/icmppacket.h"
#include "sweep/pinger.h"
#include "sweep/sequencemap.h"

#include <QObject>

#include <memory>
#include <optional>
#include <span>
#include <vector>

class QSocketNotifier;

namespace vexal {

// A reply matched to its request.
struct MatchedReply
{
    Ipv4 address = 0;
    quint32 roundTripMicroseconds = 0;
};

// One identifier with its own sequence numbers.
struct Channel
{
    // Index into the sockets.
    std::size_t socket = 0;
    // Ours on a raw socket; on a datagram socket the kernel picks it and
    // only ever hands us replies that carry it.
    quint16 identifier = 0;
    quint64 cookie = 0;
    quint64 serial = 0;
    // When its datagram socket's buffer last had no room (0: never).
    qint64 bufferFullAt = 0;
    SequenceMap sequences;
};

// The ICMP sockets of one pinger and the requests outstanding on them
// (Linux): echo requests go out in sendmmsg() batches, replies are read in
// recvmmsg() batches and matched to their requests by identifier, sequence
// number and tag, and judged by the kernel's arrival time stamp.
//
// Each channel has one identifier and so 65536 sequence numbers. More are
// added only when every number of the open ones is in use (a large silent
// range with a long timeout). The kernel gives a datagram socket one
// identifier, so there each channel is a socket of its own; the one raw
// socket carries every channel.
class IcmpChannels final : public QObject
{
    Q_OBJECT

public:
    static constexpr int BatchSize = 64;
    static constexpr int MaxChannels = 16;

    // How a batch ended short of its count.
    enum class Stop { None, Full, Invalid };

    IcmpChannels(quint16 firstIdentifier, QObject *parent = nullptr);
    ~IcmpChannels() override;

    // Takes the first socket, a datagram or a raw ICMP one, and opens the
    // first channel on it. False when a raw socket's filter cannot be set.
    bool adopt(int fd, bool raw);
    bool isOpen() const { return !m_channels.empty(); }
    bool raw() const { return m_raw; }

    // Applies to requests sent afterwards.
    void configure(int dataSize, qint64 timeoutNs);
    // Requests are forgotten this long after their deadline; a reply that
    // arrives after the deadline still never counts.
    void setExpiryGrace(qint64 ns) { m_graceNs = ns; }
    bool carriesTag() const { return m_builder.carriesTag(); }
    // How long a number rests after its request ended; see SequenceMap.
    qint64 restNanoseconds() const;

    // A channel with a free sequence number at now, opening one if need be;
    // null when every number of every channel is in use, until roomAt().
    Channel *channelWithRoom(qint64 now);
    qint64 roomAt() const;
    // Moves the next sends to a datagram socket whose buffer has room,
    // opening one if need be, after `full`'s had none; false when there is
    // none.
    bool spreadToAnotherSocket(Channel &full, qint64 now, qint64 stillFullNs);

    // Sends up to `count` targets through the channel in one sendmmsg()
    // batch and returns how many it dealt with: sent, or refused for good
    // (appended to refusals, indexed from firstIndex). `stop` says why it
    // ended short: a full queue or buffer (`error` EAGAIN or ENOBUFS), or
    // EINVAL, which the caller judges.
    int sendBatch(Channel &channel, const Ipv4 *targets, int count, qsizetype firstIndex, SendRefusals &refusals,
                  Stop &stop, int &error);
    // Uses up the channel's next number for a target refused without a send.
    void refuseNext(Channel &channel);

    // Reads every queued datagram of the socket, matches the replies
    // (appended to `answered`) and expires what is due (the targets appended
    // to `ended`), once the queue has been read to its end. Returns how many
    // expired.
    int drain(std::size_t socket, std::vector<MatchedReply> &answered, std::vector<Ipv4> &ended);
    int drainAll(std::vector<MatchedReply> &answered, std::vector<Ipv4> &ended);
    // Forgets every outstanding request and every queued reply.
    void cancel();

    qint64 pending() const;
    std::optional<qint64> nextDeadline() const;

signals:
    // A socket has something to read.
    void readable(std::size_t socket);

private:
    void addSocket(int fd);
    Channel *openChannel();
    bool addChannel();
    Channel *channelWithIdentifier(quint16 identifier) const;
    std::span<const std::unique_ptr<Channel>> channelsOn(std::size_t socket) const;
    void discard(int fd, bool errorsOnly);

    struct Buffers;
    std::unique_ptr<Buffers> m_io;
    bool m_raw = false;
    quint16 m_firstIdentifier = 0;
    EchoRequestBuilder m_builder;
    bool m_builderStale = true;
    int m_dataSize = 64;
    qint64 m_timeoutNs = 0;
    qint64 m_graceNs = 0;
    std::vector<int> m_fds;
    std::vector<QSocketNotifier *> m_notifiers;
    std::vector<std::unique_ptr<Channel>> m_channels;
    std::size_t m_current = 0;
    bool m_exhausted = false;
};

} // namespace vexal
