#include "sweep/icmpchannels_linux.h"

#include <QRandomGenerator>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

#include <arpa/inet.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
// After netinet/in.h, so that the kernel header defers to glibc's types.
#include <linux/icmp.h>

namespace vexal {

namespace {

// Several megabytes, so a sweep's replies queue up while the event loop is
// busy rather than being dropped by the kernel.
constexpr int ReceiveBufferBytes = 8 * 1024 * 1024;
constexpr int SendBufferBytes = 1024 * 1024;
constexpr std::size_t MessageRoom = IcmpHeaderSize + EchoMaxData;
// A 60-byte IP header, 8 bytes of ICMP header and 512 bytes of data at most.
constexpr std::size_t DatagramRoom = 640;
constexpr std::size_t ControlRoom = CMSG_SPACE(sizeof(timespec));
// Bounds one drain, so that a flood of foreign ICMP cannot hold the event
// loop; the notifier is level-triggered and comes back for the rest.
constexpr int MaxBatchesPerDrain = 2048;

qint64 clockNanoseconds(clockid_t clock)
{
    timespec now{};
    ::clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// A raw ICMP socket gets a copy of every ICMP message the host receives.
// This program passes the echo replies that carry one of `count`
// identifiers from `first` on (counted modulo 65536), so other programs'
// pings never take room in our receive queue; with a count of 0 it passes
// nothing.
bool attachIdentifierFilter(int fd, quint16 first, std::size_t count)
{
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),  // X = length of the IP header
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),   // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 5),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),   // identifier
        BPF_STMT(BPF_ALU | BPF_SUB | BPF_K, first),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0xffff),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, quint32(count), 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0xffffffffu),  // keep it whole
        BPF_STMT(BPF_RET | BPF_K, 0),            // drop it
    };
    const sock_fprog program{std::size(code), code};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

int openDatagramSocket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP); }

} // namespace

struct IcmpChannels::Buffers
{
    Buffers()
    {
        for (int i = 0; i < BatchSize; ++i) {
            txAddresses[i].sin_family = AF_INET;
            txVectors[i].iov_base = txBytes.data() + std::size_t(i) * MessageRoom;
            txHeaders[i].msg_hdr.msg_name = &txAddresses[i];
            txHeaders[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            txHeaders[i].msg_hdr.msg_iov = &txVectors[i];
            txHeaders[i].msg_hdr.msg_iovlen = 1;

            rxVectors[i].iov_base = rxBytes.data() + std::size_t(i) * DatagramRoom;
            rxVectors[i].iov_len = DatagramRoom;
            rxHeaders[i].msg_hdr.msg_name = &rxSources[i];
            rxHeaders[i].msg_hdr.msg_iov = &rxVectors[i];
            rxHeaders[i].msg_hdr.msg_iovlen = 1;
            rxHeaders[i].msg_hdr.msg_control = rxControl.data() + std::size_t(i) * ControlRoom;
        }
    }
    void resetReceive()
    {
        for (mmsghdr &header : rxHeaders) {
            header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            header.msg_hdr.msg_controllen = ControlRoom;
            header.msg_hdr.msg_flags = 0;
        }
    }

    std::vector<quint8> txBytes = std::vector<quint8>(BatchSize * MessageRoom);
    std::vector<sockaddr_in> txAddresses = std::vector<sockaddr_in>(BatchSize);
    std::vector<iovec> txVectors = std::vector<iovec>(BatchSize);
    std::vector<mmsghdr> txHeaders = std::vector<mmsghdr>(BatchSize);
    std::vector<quint64> txTags = std::vector<quint64>(BatchSize);

    std::vector<quint8> rxBytes = std::vector<quint8>(BatchSize * DatagramRoom);
    std::vector<quint8> rxControl = std::vector<quint8>(BatchSize * ControlRoom);
    std::vector<sockaddr_in> rxSources = std::vector<sockaddr_in>(BatchSize);
    std::vector<iovec> rxVectors = std::vector<iovec>(BatchSize);
    std::vector<mmsghdr> rxHeaders = std::vector<mmsghdr>(BatchSize);
};

IcmpChannels::IcmpChannels(quint16 firstIdentifier, QObject *parent)
    : QObject(parent)
    , m_io(std::make_unique<Buffers>())
    , m_firstIdentifier(firstIdentifier)
{
}

IcmpChannels::~IcmpChannels()
{
    for (std::size_t i = 0; i < m_fds.size(); ++i) {
        // The notifier must let go of the descriptor before it is closed.
        delete m_notifiers[i];
        ::close(m_fds[i]);
    }
}

bool IcmpChannels::adopt(int fd, bool raw)
{
    m_raw = raw;
    addSocket(fd);
    if (addChannel())
        return true;
    delete m_notifiers.back();
    ::close(fd);
    m_fds.clear();
    m_notifiers.clear();
    return false;
}

void IcmpChannels::addSocket(int fd)
{
    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN; without
    // it SO_RCVBUF gives as much as the limit allows. Likewise for sending.
    int size = ReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    size = SendBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    // The kernel stamps each datagram as it arrives, so lateness is judged
    // at arrival, not when the event loop gets round to reading it.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (m_raw) {
        // ICMP_FILTER keeps all but echo replies out in the kernel's ICMP
        // code already; the identifier filter follows the channels.
        icmp_filter filter{};
        filter.data = ~(1u << ICMP_ECHOREPLY);
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        // Without IP_RECVERR a raw socket's send reports success when a
        // full device queue dropped the datagram (ENOBUFS), and the request
        // would be lost unseen. With it, ICMP errors about our requests are
        // queued aside as well; drain() throws them away.
        ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    }
    const std::size_t index = m_fds.size();
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, index] { emit readable(index); });
    m_fds.push_back(fd);
    m_notifiers.push_back(notifier);
}

bool IcmpChannels::addChannel()
{
    if (m_raw) {
        // A filter that does not take would leave the new identifier's
        // replies out: then none at all, and the matching does the work.
        const int fd = m_fds.front();
        if (!attachIdentifierFilter(fd, m_firstIdentifier, m_channels.size() + 1)
            && ::setsockopt(fd, SOL_SOCKET, SO_DETACH_FILTER, nullptr, 0) != 0)
            return false;
    }
    auto channel = std::make_unique<Channel>();
    channel->socket = m_fds.size() - 1;
    channel->identifier = quint16(m_firstIdentifier + m_channels.size());
    channel->cookie = QRandomGenerator::global()->generate64();
    m_channels.push_back(std::move(channel));
    return true;
}

void IcmpChannels::configure(int dataSize, qint64 timeoutNs)
{
    m_timeoutNs = timeoutNs;
    if (dataSize != m_dataSize || m_builder.size() != std::size_t(IcmpHeaderSize + dataSize))
        m_builderStale = true;
    m_dataSize = dataSize;
    if (!m_builderStale)
        return;
    // Raw channels differ in their identifiers, so each message gets its own
    // in sendBatch(); on a datagram socket the kernel writes it.
    m_builder.reset(0, m_dataSize);
    for (int i = 0; i < BatchSize; ++i) {
        std::copy(m_builder.blank().begin(), m_builder.blank().end(),
                  m_io->txBytes.begin() + std::ptrdiff_t(std::size_t(i) * MessageRoom));
        m_io->txVectors[i].iov_len = m_builder.size();
    }
    m_builderStale = false;
}

qint64 IcmpChannels::restNanoseconds() const
{
    // A message with room for the tag tells a late reply from a new one by
    // the tag; a shorter one can only keep the number out of use until any
    // late reply to its previous request has had its chance.
    return m_builder.carriesTag() ? 0 : m_timeoutNs;
}

Channel *IcmpChannels::channelWithRoom(qint64 now)
{
    const qint64 rest = restNanoseconds();
    for (std::size_t tried = 0; tried < m_channels.size(); ++tried) {
        Channel &channel = *m_channels[m_current];
        if (channel.sequences.roomFor(1, now, rest) > 0)
            return &channel;
        m_current = (m_current + 1) % m_channels.size();
    }
    return openChannel();
}

qint64 IcmpChannels::roomAt() const
{
    qint64 when = std::numeric_limits<qint64>::max();
    for (const auto &c : m_channels)
        when = std::min(when, c->sequences.roomAt(restNanoseconds()));
    return when;
}

Channel *IcmpChannels::openChannel()
{
    if (m_exhausted || int(m_channels.size()) >= MaxChannels)
        return nullptr;
    if (!m_raw) {
        const int fd = openDatagramSocket();
        if (fd < 0) {
            // Out of descriptors or memory: make do with the sockets we have.
            m_exhausted = true;
            return nullptr;
        }
        addSocket(fd);
    }
    if (!addChannel()) {
        m_exhausted = true;
        return nullptr;
    }
    m_current = m_channels.size() - 1;
    return m_channels.back().get();
}

bool IcmpChannels::spreadToAnotherSocket(Channel &full, qint64 now, qint64 stillFullNs)
{
    if (m_raw)
        return false;
    full.bufferFullAt = now;
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        if (m_channels[i]->bufferFullAt == 0 || now - m_channels[i]->bufferFullAt > stillFullNs) {
            m_current = i;
            return true;
        }
    }
    return openChannel() != nullptr;
}

int IcmpChannels::sendBatch(Channel &channel, const Ipv4 *targets, int count, qsizetype firstIndex,
                            SendRefusals &refusals, Stop &stop, int &error)
{
    stop = Stop::None;
    error = 0;
    Buffers &io = *m_io;
    const bool tagged = m_builder.carriesTag();
    const quint16 firstSequence = channel.sequences.nextSequence();
    for (int i = 0; i < count; ++i) {
        const std::span<quint8> message(io.txBytes.data() + std::size_t(i) * MessageRoom, m_builder.size());
        io.txTags[i] = tagged ? channel.cookie + channel.serial + quint64(i) + 1 : 0;
        m_builder.stamp(message, channel.identifier, quint16(firstSequence + i), io.txTags[i]);
        io.txAddresses[i].sin_addr.s_addr = htonl(targets[i]);
    }

    const int fd = m_fds[channel.socket];
    int handled = 0;
    while (handled < count) {
        const qint64 before = clockNanoseconds(CLOCK_MONOTONIC);
        const int sent = ::sendmmsg(fd, &io.txHeaders[std::size_t(handled)], unsigned(count - handled), 0);
        if (sent > 0) {
            // The deadline counts from after the send, so no request gets
            // less than its full timeout; the round trip from before it, as
            // a reply on a fast link arrives before sendmmsg() returns.
            const qint64 after = clockNanoseconds(CLOCK_MONOTONIC);
            const qint64 deadline = after + m_timeoutNs;
            const quint16 span = quint16(std::min<qint64>((after - before) / 1000, 65535));
            for (int i = handled; i < handled + sent; ++i)
                channel.sequences.add(targets[i], deadline, io.txTags[std::size_t(i)], span);
            handled += sent;
            continue;
        }
        error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
            stop = Stop::Full;
            error = error == ENOBUFS ? ENOBUFS : EAGAIN;
            break;
        }
        if (error == EINVAL) {
            stop = Stop::Invalid;
            break;
        }
        // Anything else (EACCES for a broadcast address, ENETUNREACH,
        // EHOSTUNREACH, EPERM from a firewall rule) means this request gets
        // no reply; the next target is tried as usual.
        channel.sequences.addRefused(clockNanoseconds(CLOCK_MONOTONIC));
        refusals.push_back({firstIndex + handled, QString::fromLocal8Bit(std::strerror(error)), error});
        // Its number is used up, so the next message's is the next one.
        ++handled;
    }
    channel.serial += quint64(handled);
    return handled;
}

void IcmpChannels::refuseNext(Channel &channel)
{
    channel.sequences.addRefused(clockNanoseconds(CLOCK_MONOTONIC));
    ++channel.serial;
}

int IcmpChannels::drain(std::size_t socket, std::vector<MatchedReply> &answered, std::vector<Ipv4> &ended)
{
    Buffers &io = *m_io;
    const int fd = m_fds[socket];
    // "Now" is read before the queue: every reply that arrived before it is
    // read below, so expiring what is due at it loses no timely reply.
    const qint64 now = clockNanoseconds(CLOCK_MONOTONIC);
    // The kernel stamps arrivals on the wall clock; this converts them. A
    // wall-clock step between arrival and this reading shifts a stamp by
    // the step, which is why deadlines themselves stay monotonic.
    const qint64 wallOffset = clockNanoseconds(CLOCK_REALTIME) - now;
    const bool tagged = m_builder.carriesTag();
    bool emptied = false;
    for (int batch = 0; batch < MaxBatchesPerDrain; ++batch) {
        io.resetReceive();
        const int count = ::recvmmsg(fd, io.rxHeaders.data(), BatchSize, MSG_DONTWAIT, nullptr);
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // A pending error (an ICMP error about one of our requests, on
            // a raw socket) is returned once; its report waits aside and
            // would take room from replies.
            discard(fd, true);
            continue;
        }
        if (count <= 0) {
            emptied = true;
            break;
        }
        const qint64 readAt = clockNanoseconds(CLOCK_MONOTONIC);
        for (int i = 0; i < count; ++i) {
            msghdr &header = io.rxHeaders[i].msg_hdr;
            if ((header.msg_flags & MSG_TRUNC) || header.msg_namelen < sizeof(sockaddr_in))
                continue;
            const std::span<const quint8> datagram(io.rxBytes.data() + std::size_t(i) * DatagramRoom,
                                                   io.rxHeaders[i].msg_len);
            // Raw sockets deliver the IP header; datagram sockets do not.
            const std::optional<EchoReply> reply = parseEchoReply(datagram, m_raw);
            Channel *channel = !reply ? nullptr
                : m_raw                  ? channelWithIdentifier(reply->identifier)
                                         : m_channels[socket].get();
            if (!channel)
                continue;
            qint64 arrival = readAt;
            for (cmsghdr *c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec stamp;
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    arrival = std::min(readAt, qint64(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec - wallOffset);
                }
            }
            const Ipv4 source = ntohl(io.rxSources[i].sin_addr.s_addr);
            const quint64 tag = tagged ? echoTag(reply->data) : 0;
            if (const auto taken = channel->sequences.take(reply->sequence, source, tag, arrival)) {
                // Its send began a timeout and the send's span before its
                // deadline; the timeout is the run's, set before its first
                // request.
                const qint64 sentAt = taken->deadline - m_timeoutNs - qint64(taken->sendSpanMicroseconds) * 1000;
                const qint64 roundTrip = std::clamp<qint64>(arrival - sentAt, 0, m_timeoutNs);
                answered.push_back({source, quint32(roundTrip / 1000)});
            }
        }
        if (count < BatchSize) {
            emptied = true;
            break;
        }
    }
    // With datagrams still queued, a timely reply may be among them: expire
    // nothing until the queue has been read to its end.
    if (!emptied)
        return 0;
    int expired = 0;
    for (const auto &channel : channelsOn(socket))
        expired += channel->sequences.expire(now - m_graceNs, &ended);
    return expired;
}

int IcmpChannels::drainAll(std::vector<MatchedReply> &answered, std::vector<Ipv4> &ended)
{
    int expired = 0;
    for (std::size_t socket = 0; socket < m_fds.size(); ++socket)
        expired += drain(socket, answered, ended);
    return expired;
}

void IcmpChannels::discard(int fd, bool errorsOnly)
{
    // The errors queued aside first, then, unless only they go, the replies.
    for (const int queue : {int(MSG_ERRQUEUE), 0}) {
        if (queue == 0 && errorsOnly)
            break;
        for (int batch = 0; batch < MaxBatchesPerDrain; ++batch) {
            m_io->resetReceive();
            if (::recvmmsg(fd, m_io->rxHeaders.data(), BatchSize, queue | MSG_DONTWAIT, nullptr) < BatchSize)
                break;
        }
    }
}

void IcmpChannels::cancel()
{
    const qint64 now = clockNanoseconds(CLOCK_MONOTONIC);
    for (const auto &channel : m_channels)
        channel->sequences.clear(now);
    // Replies already queued answer requests that no longer exist.
    for (const int fd : m_fds)
        discard(fd, false);
}

qint64 IcmpChannels::pending() const
{
    qint64 pending = 0;
    for (const auto &channel : m_channels)
        pending += channel->sequences.pending();
    return pending;
}

std::optional<qint64> IcmpChannels::nextDeadline() const
{
    std::optional<qint64> first;
    for (const auto &channel : m_channels) {
        const std::optional<qint64> deadline = channel->sequences.nextDeadline();
        if (deadline && (!first || *deadline < *first))
            first = deadline;
    }
    return first ? std::optional<qint64>(*first + m_graceNs) : std::nullopt;
}

Channel *IcmpChannels::channelWithIdentifier(quint16 identifier) const
{
    const std::size_t index = quint16(identifier - m_firstIdentifier);
    return index < m_channels.size() ? m_channels[index].get() : nullptr;
}

std::span<const std::unique_ptr<Channel>> IcmpChannels::channelsOn(std::size_t socket) const
{
    if (m_raw)
        return m_channels;
    return std::span(m_channels).subspan(socket, 1);
}

} // namespace vexal
