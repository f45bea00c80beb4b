#include "sweep/icmppacket.h"
#include "sweep/onlink_linux.h"
#include "sweep/pinger.h"
#include "sweep/sequencemap.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <deque>
#include <limits>
#include <unordered_map>
#include <vector>

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
// After netinet/in.h, so that the kernel header defers to glibc's types.
#include <linux/icmp.h>

namespace vexal {

namespace {

constexpr int MinTimeout = 1;
constexpr int MaxTimeout = 32000;
constexpr int DefaultTimeout = 300;
constexpr int DefaultDataSize = 64;
constexpr qint64 NanosecondsPerMillisecond = 1'000'000;

// Several megabytes, so a sweep's replies queue up while the event loop is
// busy rather than being dropped by the kernel.
constexpr int ReceiveBufferBytes = 8 * 1024 * 1024;
constexpr int SendBufferBytes = 1024 * 1024;

// Datagrams sent per sendmmsg() and read per recvmmsg() call. Reading after
// every batch keeps the receive queue short however fast we send.
constexpr int BatchSize = 64;
constexpr std::size_t MessageRoom = IcmpHeaderSize + EchoMaxData;
// A 60-byte IP header, 8 bytes of ICMP header and 512 bytes of data at most.
constexpr std::size_t DatagramRoom = 640;
constexpr std::size_t ControlRoom = CMSG_SPACE(sizeof(timespec));
// Bounds one drain, so that a flood of foreign ICMP cannot hold the event
// loop; the notifier is level-triggered and comes back for the rest.
constexpr int MaxBatchesPerDrain = 2048;

// Each channel has one identifier and so 65536 sequence numbers. More are
// added only when every number of the open ones is in use (a large silent
// range with a long timeout); past this many the sweep waits for numbers to
// free instead, which bounds memory at about 24 MiB. The kernel gives a
// datagram socket one identifier, so there each channel is a socket of its
// own; the one raw socket carries every channel.
constexpr int MaxChannels = 16;
// A full queue is tried again after 1, 2, 4 ... ms, at most this long.
constexpr int MaxBackoffMs = 100;
// How long sends may fail with EINVAL before the target is given up. On a
// full neighbour table an unresolved entry fails after mcast_solicit x
// retrans_time (3 s by default) and is then the first one reclaimed, so room
// comes within that; twice as long means the EINVAL is not the table's.
constexpr qint64 NeighbourShortageNs = 6'000'000'000;

// On-link targets asked by ARP on the privileged path: a steady pace of
// small broadcasts (20,000 a second is about 10 Mbit/s, a hundredth of a
// gigabit link) with a short burst, tried as the kernel would, three times a
// second apart, and given a last second to answer. A silent /16 costs three
// questions an address, so that is about ten seconds. At most MaxUnasked wait
// for their first question; the sweep waits beyond that.
constexpr double ArpPerNanosecond = 20'000 / 1e9;
constexpr double ArpBurst = 64;
constexpr int ArpTries = 3;
constexpr qint64 ArpIntervalNs = 1'000'000'000;
constexpr std::size_t MaxUnasked = 4096;

std::atomic<quint32> g_instances{0};

qint64 clockNanoseconds(clockid_t clock)
{
    timespec now{};
    ::clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

qint64 monotonicNanoseconds() { return clockNanoseconds(CLOCK_MONOTONIC); }

int millisecondsUntil(qint64 when, qint64 now)
{
    // Rounded up: a timer that fires early would only find nothing to do.
    return int(std::clamp<qint64>((when - now + NanosecondsPerMillisecond - 1) / NanosecondsPerMillisecond,
                                  0, MaxTimeout * 2));
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString binaryPath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return path.isEmpty() ? QStringLiteral("/path/to/vexal") : path;
}

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

int openDatagramSocket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP); }

// A raw ICMP socket gets a copy of every ICMP message the host receives.
// This program passes the echo replies that carry one of `count`
// identifiers from `first` on (counted modulo 65536), so other programs'
// pings never take room in our receive queue; with a count of 0 it passes
// nothing.
void attachIdentifierFilter(int fd, quint16 first, std::size_t count)
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
    sock_fprog program{std::size(code), code};
    ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

// One identifier with its own sequence numbers.
struct Channel
{
    // Index into the pinger's sockets.
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

struct Socket
{
    int fd = -1;
    QSocketNotifier *notifier = nullptr;
};

// An on-link target waiting for its ARP answer.
struct Resolving
{
    int tries = 0;
    // Requests it is owed: a short continuous sweep may ask it again.
    int copies = 0;
    int interfaceIndex = 0;
    Ipv4 source = 0;
};

class LinuxPinger final : public Pinger
{
public:
    LinuxPinger(PreopenedSocket raw, PreopenedSocket packet, QObject *parent);
    ~LinuxPinger() override;

    bool open() override;
    QString errorText() const override { return m_error; }
    QString mechanism() const override { return m_mechanism; }
    void setTimeout(int milliseconds) override { m_timeout = std::clamp(milliseconds, MinTimeout, MaxTimeout); }
    int timeout() const override { return m_timeout; }
    void setPacketSize(int dataBytes) override;
    int packetSize() const override { return m_dataSize; }
    using Pinger::send;
    qsizetype send(std::span<const Ipv4> targets, SendRefusals &refusals) override;
    void cancel() override;
    qint64 outstanding() const override;
    int drainMilliseconds() const override;
    void collect() override;

private:
    void adoptSocket(int fd);
    void addChannel();
    // The channels whose replies arrive on the socket.
    std::span<const std::unique_ptr<Channel>> channelsOn(std::size_t socket) const;
    Channel *channelWithIdentifier(quint16 identifier) const;
    void prepareBuffers();
    // A channel with a free sequence number at now, opening one if need be.
    Channel *channelWithRoom(qint64 now, qint64 rest);
    // A further channel, made the current one (on a datagram socket of its
    // own); null at the limit or when no socket can be had.
    Channel *openChannel();
    // Moves the next sends to a channel whose socket's buffer has room,
    // opening one if need be, when `full`'s had none for `next`, an
    // unresolved on-link target; false when there is none.
    bool spreadUnresolved(Channel &full, Ipv4 next, qint64 now);
    qint64 restNanoseconds() const;
    // Sends up to `count` targets through the channel in one sendmmsg()
    // batch; returns how many it dealt with. Sets `full` when the kernel had
    // no room for the next one.
    int sendBatch(Channel &channel, const Ipv4 *targets, int count, qsizetype firstIndex,
                  SendRefusals &refusals, bool &full);
    const QString &reasonText(int error);
    // Reads every queued datagram, matches replies by their arrival time and
    // then expires what is due; matched addresses wait in m_ready for
    // deliver().
    void drain(std::size_t socket);
    void drainAll();
    void discardQueued(int fd);
    void discardErrors(int fd);
    // Emits replied() for m_ready, then settled() if that or an expiry
    // emptied the books.
    void deliver();
    void armExpiryTimer();
    void onEvent();
    void onRetry();
    void wakeSender();

    // On-link targets on the privileged path: ARP first, the echo request
    // only to those that answered, framed for their hardware address, so
    // the kernel's neighbour table gets no entry for them at all.
    void openPacketSocket();
    bool resolve(Ipv4 target, const LinkRoute &route);
    void pumpArp();
    bool askArp(Ipv4 target, const struct Resolving &entry);
    void readArp();
    void sendResolvedEchoes();

    bool m_raw = false;
    QString m_mechanism;
    QString m_error;
    int m_timeout = DefaultTimeout;
    int m_dataSize = DefaultDataSize;
    quint16 m_firstIdentifier = 0;
    EchoRequestBuilder m_builder;
    bool m_builderStale = true;

    // Handed over at start-up, until open() takes it or closes it.
    PreopenedSocket m_handedRaw;
    std::vector<Socket> m_sockets;
    std::vector<std::unique_ptr<Channel>> m_channels;
    std::size_t m_current = 0;
    bool m_channelsExhausted = false;

    std::vector<Ipv4> m_ready;
    std::size_t m_readyHead = 0;
    bool m_settleDue = false;
    quint64 m_cancels = 0;

    // send() returned short and the caller waits for ready().
    bool m_senderWaiting = false;
    bool m_waitingForNumbers = false;
    int m_backoffMs = 0;
    // When sends began failing with EINVAL, or 0 since the last one left.
    qint64 m_invalidSince = 0;
    // Why the last batch found the kernel full (EAGAIN, ENOBUFS, EINVAL).
    int m_fullError = 0;

    std::unique_ptr<LinkMap> m_links;
    // A kernel send to an unresolved on-link neighbour waits for room in
    // the neighbour table.
    bool m_paced = false;

    PreopenedSocket m_handedPacket;
    int m_packet = -1;
    QSocketNotifier *m_packetNotifier = nullptr;
    std::unordered_map<Ipv4, struct Resolving> m_resolving;
    std::deque<Ipv4> m_unasked;
    // (when it is due again, target), in the order they were asked.
    std::deque<std::pair<qint64, Ipv4>> m_asked;
    struct EchoDue
    {
        Ipv4 target;
        Ipv4 source;
        int interfaceIndex;
        HardwareAddress address;
    };
    std::deque<EchoDue> m_echoDue;
    qint64 m_resolvingCopies = 0;
    bool m_waitingForArp = false;
    double m_arpTokens = ArpBurst;
    qint64 m_arpTokensAt = 0;
    quint16 m_ipIdentification = 0;
    QTimer m_arpTimer;
    std::vector<quint8> m_frame;

    QTimer m_expiryTimer;
    QTimer m_deliveryTimer;
    QTimer m_retryTimer;

    std::unordered_map<int, QString> m_reasons;

    std::vector<quint8> m_txBytes;
    std::vector<sockaddr_in> m_txAddresses;
    std::vector<iovec> m_txVectors;
    std::vector<mmsghdr> m_txHeaders;
    std::vector<quint64> m_txTags;

    std::vector<quint8> m_rxBytes;
    std::vector<quint8> m_rxControl;
    std::vector<sockaddr_in> m_rxSources;
    std::vector<iovec> m_rxVectors;
    std::vector<mmsghdr> m_rxHeaders;
};

LinuxPinger::LinuxPinger(PreopenedSocket raw, PreopenedSocket packet, QObject *parent)
    : Pinger(parent)
    , m_handedRaw(raw)
    , m_handedPacket(packet)
{
    // Several pingers of one process share the raw socket's view of every
    // echo reply, so each gets its own identifiers and cookies.
    const quint32 instance = g_instances.fetch_add(1);
    m_firstIdentifier = quint16((quint32(::getpid()) * 0x9E3779B1u + instance * 0x85EBCA77u) >> 16);

    m_expiryTimer.setSingleShot(true);
    m_expiryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_expiryTimer, &QTimer::timeout, this, &LinuxPinger::onEvent);
    m_deliveryTimer.setSingleShot(true);
    m_deliveryTimer.setInterval(0);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &LinuxPinger::deliver);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_retryTimer, &QTimer::timeout, this, &LinuxPinger::onRetry);
    m_arpTimer.setSingleShot(true);
    m_arpTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_arpTimer, &QTimer::timeout, this, &LinuxPinger::pumpArp);
}

LinuxPinger::~LinuxPinger()
{
    for (const Socket &socket : m_sockets) {
        // The notifier must let go of the descriptor before it is closed.
        delete socket.notifier;
        ::close(socket.fd);
    }
    if (m_handedRaw.fd >= 0)
        ::close(m_handedRaw.fd);
    delete m_packetNotifier;
    for (const int fd : {m_packet, m_handedPacket.fd})
        if (fd >= 0)
            ::close(fd);
}

bool LinuxPinger::open()
{
    if (!m_channels.empty())
        return true;

    int fd = openDatagramSocket();
    const int datagramError = fd < 0 ? errno : 0;
    int rawError = 0;
    /*
     * An ICMP datagram ("ping") socket needs no privilege, but the kernel may
     * refuse it; then a raw socket, which needs CAP_NET_RAW, is the fallback:
     *   EACCES          the process's groups are outside
     *                   net.ipv4.ping_group_range (the default "1 0" admits
     *                   nobody);
     *   EPERM           a security module or seccomp policy forbids it;
     *   EAFNOSUPPORT,
     *   EPROTONOSUPPORT the kernel has no ICMP datagram sockets (older than
     *                   3.0, or built without them).
     * Any other error (EMFILE, ENFILE, ENOBUFS, ENOMEM) is a shortage a raw
     * socket would meet as well, so it is reported as it is.
     */
    if (fd < 0
        && (datagramError == EACCES || datagramError == EPERM || datagramError == EAFNOSUPPORT
            || datagramError == EPROTONOSUPPORT)) {
        // The socket opened at start-up, while the process still could; a
        // refusal then stands for every Start, as the privilege is gone.
        const PreopenedSocket raw = m_handedRaw.attempted() ? m_handedRaw : openRawIcmpSocket();
        m_handedRaw.fd = -1;
        fd = raw.fd;
        rawError = raw.error;
        m_raw = fd >= 0;
    } else if (fd >= 0 && m_handedRaw.fd >= 0) {
        // The pinger stays with datagram sockets for good.
        ::close(m_handedRaw.fd);
        m_handedRaw = {};
    }

    if (fd < 0) {
        if (rawError != 0 && isPermissionError(rawError)) {
            m_error = QStringLiteral(
                          "Vexal may not send ICMP echo requests: the system refused an ICMP "
                          "datagram socket (%1) and a raw socket (%2). Grant the program the "
                          "capability it needs with 'sudo setcap cap_net_raw+ep %3', or let every "
                          "group use ICMP datagram sockets with 'sudo sysctl -w "
                          "net.ipv4.ping_group_range=\"0 2147483647\"', or run Vexal as root.")
                          .arg(errnoText(datagramError), errnoText(rawError), binaryPath());
        } else {
            m_error = QStringLiteral("Vexal cannot open an ICMP socket: %1.")
                          .arg(errnoText(rawError != 0 ? rawError : datagramError));
        }
        return false;
    }

    m_error.clear();
    m_mechanism = m_raw ? QStringLiteral("raw") : QStringLiteral("datagram");
    m_builderStale = true;
    prepareBuffers();
    adoptSocket(fd);
    addChannel();
    m_links = std::make_unique<LinkMap>();
    openPacketSocket();
    return true;
}

void LinuxPinger::openPacketSocket()
{
    PreopenedSocket packet = m_handedPacket;
    m_handedPacket = {};
    if (!m_raw) {
        if (packet.fd >= 0)
            ::close(packet.fd);
        return;
    }
    if (!packet.attempted())
        packet = vexal::openPacketSocket();
    if (packet.fd < 0)
        return; // the kernel path, paced, as without privileges
    // Opened for no protocol, it has queued nothing so far; from here on
    // it hears ARP on every link.
    sockaddr_ll arp{};
    arp.sll_family = AF_PACKET;
    arp.sll_protocol = htons(ETH_P_ARP);
    const int size = SendBufferBytes;
    ::setsockopt(packet.fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(packet.fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (::bind(packet.fd, reinterpret_cast<const sockaddr *>(&arp), sizeof arp) != 0) {
        ::close(packet.fd);
        return;
    }
    m_packet = packet.fd;
    m_frame.assign(20 + MessageRoom, 0);
    m_packetNotifier = new QSocketNotifier(m_packet, QSocketNotifier::Read, this);
    connect(m_packetNotifier, &QSocketNotifier::activated, this, &LinuxPinger::pumpArp);
}

void LinuxPinger::adoptSocket(int fd)
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

    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &LinuxPinger::onEvent);
    m_sockets.push_back({fd, notifier});
}

void LinuxPinger::addChannel()
{
    auto channel = std::make_unique<Channel>();
    channel->socket = m_sockets.size() - 1;
    channel->identifier = quint16(m_firstIdentifier + m_channels.size());
    channel->cookie = QRandomGenerator::global()->generate64();
    m_channels.push_back(std::move(channel));
    if (m_raw)
        attachIdentifierFilter(m_sockets.front().fd, m_firstIdentifier, m_channels.size());
}

std::span<const std::unique_ptr<Channel>> LinuxPinger::channelsOn(std::size_t socket) const
{
    if (m_raw)
        return m_channels;
    return std::span(m_channels).subspan(socket, 1);
}

Channel *LinuxPinger::channelWithIdentifier(quint16 identifier) const
{
    const std::size_t index = quint16(identifier - m_firstIdentifier);
    return index < m_channels.size() ? m_channels[index].get() : nullptr;
}

void LinuxPinger::prepareBuffers()
{
    m_txBytes.assign(BatchSize * MessageRoom, 0);
    m_txAddresses.assign(BatchSize, sockaddr_in{});
    m_txVectors.assign(BatchSize, iovec{});
    m_txHeaders.assign(BatchSize, mmsghdr{});
    m_txTags.assign(BatchSize, 0);
    for (int i = 0; i < BatchSize; ++i) {
        m_txAddresses[i].sin_family = AF_INET;
        m_txVectors[i].iov_base = m_txBytes.data() + std::size_t(i) * MessageRoom;
        m_txHeaders[i].msg_hdr.msg_name = &m_txAddresses[i];
        m_txHeaders[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        m_txHeaders[i].msg_hdr.msg_iov = &m_txVectors[i];
        m_txHeaders[i].msg_hdr.msg_iovlen = 1;
    }

    m_rxBytes.assign(BatchSize * DatagramRoom, 0);
    m_rxControl.assign(BatchSize * ControlRoom, 0);
    m_rxSources.assign(BatchSize, sockaddr_in{});
    m_rxVectors.assign(BatchSize, iovec{});
    m_rxHeaders.assign(BatchSize, mmsghdr{});
    for (int i = 0; i < BatchSize; ++i) {
        m_rxVectors[i].iov_base = m_rxBytes.data() + std::size_t(i) * DatagramRoom;
        m_rxVectors[i].iov_len = DatagramRoom;
        m_rxHeaders[i].msg_hdr.msg_name = &m_rxSources[i];
        m_rxHeaders[i].msg_hdr.msg_iov = &m_rxVectors[i];
        m_rxHeaders[i].msg_hdr.msg_iovlen = 1;
        m_rxHeaders[i].msg_hdr.msg_control = m_rxControl.data() + std::size_t(i) * ControlRoom;
    }
    m_ready.reserve(4096);
}

void LinuxPinger::setPacketSize(int dataBytes)
{
    m_dataSize = std::clamp(dataBytes, 1, EchoMaxData);
    m_builderStale = true;
}

qint64 LinuxPinger::outstanding() const
{
    qint64 pending = 0;
    for (const auto &channel : m_channels)
        pending += channel->sequences.pending();
    return pending + qint64(m_ready.size() - m_readyHead) + m_resolvingCopies + qint64(m_echoDue.size());
}

int LinuxPinger::drainMilliseconds() const
{
    // A target still waiting for ARP has not been sent yet: its questions
    // still to come, at the pace of those before it, then its full timeout.
    if (m_resolving.empty())
        return m_timeout;
    const qint64 paced = qint64(double(m_unasked.size()) / ArpPerNanosecond);
    return m_timeout + int((paced + ArpTries * ArpIntervalNs) / NanosecondsPerMillisecond) + 100;
}

qint64 LinuxPinger::restNanoseconds() const
{
    // A message with room for the tag tells a late reply from a new one by
    // the tag; a shorter one can only keep the number out of use until any
    // late reply to its previous request has had its chance.
    return m_builder.carriesTag() ? 0 : qint64(m_timeout) * NanosecondsPerMillisecond;
}

Channel *LinuxPinger::channelWithRoom(qint64 now, qint64 rest)
{
    for (std::size_t tried = 0; tried < m_channels.size(); ++tried) {
        Channel &channel = *m_channels[m_current];
        if (channel.sequences.roomFor(1, now, rest) > 0)
            return &channel;
        m_current = (m_current + 1) % m_channels.size();
    }
    return openChannel();
}

Channel *LinuxPinger::openChannel()
{
    if (m_channelsExhausted || int(m_channels.size()) >= MaxChannels)
        return nullptr;
    if (!m_raw) {
        const int fd = openDatagramSocket();
        if (fd < 0) {
            // Out of descriptors or memory: make do with the sockets we have.
            m_channelsExhausted = true;
            return nullptr;
        }
        adoptSocket(fd);
    }
    addChannel();
    m_current = m_channels.size() - 1;
    return m_channels.back().get();
}

bool LinuxPinger::spreadUnresolved(Channel &full, Ipv4 next, qint64 now)
{
    // A datagram socket's buffer holds each request until the kernel has
    // resolved its neighbour or given up on it, some 3 s later. One of the
    // size an unprivileged process may ask for (net.core.wmem_max, 208 KiB
    // on Debian) takes about 500: half of what the neighbour table has room
    // for on a LAN. The rest go through further sockets.
    if (m_raw || !m_links->route(next).unresolved())
        return false;
    full.bufferFullAt = now;
    const qint64 stillFull = qint64(LinkMap::RoomFreshMs) * NanosecondsPerMillisecond;
    for (std::size_t i = 0; i < m_channels.size(); ++i) {
        if (m_channels[i]->bufferFullAt == 0 || now - m_channels[i]->bufferFullAt > stillFull) {
            m_current = i;
            return true;
        }
    }
    return openChannel() != nullptr;
}

qsizetype LinuxPinger::send(std::span<const Ipv4> targets, SendRefusals &refusals)
{
    const qsizetype count = qsizetype(targets.size());
    if (!open()) {
        for (qsizetype i = 0; i < count; ++i)
            refusals.push_back({i, m_error});
        return count;
    }
    // A full queue is given its back-off before anything else is tried.
    if (m_senderWaiting && m_retryTimer.isActive() && !m_waitingForNumbers)
        return 0;
    if (m_builderStale) {
        // Raw channels differ in their identifiers, so each message gets
        // its own in sendBatch(); on a datagram socket the kernel writes it.
        m_builder.reset(0, m_dataSize);
        for (int i = 0; i < BatchSize; ++i) {
            std::copy(m_builder.blank().begin(), m_builder.blank().end(),
                      m_txBytes.begin() + std::ptrdiff_t(std::size_t(i) * MessageRoom));
            m_txVectors[i].iov_len = m_builder.size();
        }
        m_builderStale = false;
    }

    const qint64 rest = restNanoseconds();
    qsizetype done = 0;
    bool full = false;
    m_paced = false;
    while (done < count && !full && !m_paced && !m_waitingForArp) {
        const qint64 now = monotonicNanoseconds();
        // The targets from here on the kernel may take now, up to a batch:
        // ARP comes first for an on-link one on the privileged path, and a
        // kernel send to an unresolved neighbour waits for its pace.
        qsizetype run = 0;
        while (done + run < count && run < BatchSize) {
            const LinkRoute route = m_links->route(targets[done + run]);
            if (!route.unresolved()) {
                ++run;
            } else if (m_packet >= 0) {
                if (run == 0 && resolve(targets[done], route))
                    ++done;
                break;
            } else if (m_links->takeUnresolvedRoom()) {
                ++run;
            } else {
                m_paced = run == 0;
                break;
            }
        }
        if (run == 0)
            continue;
        Channel *channel = channelWithRoom(now, rest);
        if (!channel) {
            // Every number of every socket is in use: wait until the first
            // one frees, never by cutting a request short.
            qint64 when = std::numeric_limits<qint64>::max();
            for (const auto &c : m_channels)
                when = std::min(when, c->sequences.roomAt(rest));
            m_waitingForNumbers = true;
            m_retryTimer.start(millisecondsUntil(when, now));
            break;
        }
        const int room = channel->sequences.roomFor(int(run), now, rest);
        done += sendBatch(*channel, targets.data() + done, room, done, refusals, full);
        m_links->unresolvedSent();
        drain(channel->socket);
        if (full && m_fullError == EAGAIN && done < count && spreadUnresolved(*channel, targets[done], now))
            full = false;
    }
    if (full && done < count && m_packet < 0) {
        // The neighbour table is full after all (entries made elsewhere
        // since it was read): an on-link send waits for room as it would
        // have, not for a growing back-off.
        if (m_links->route(targets[done]).unresolved()) {
            full = false;
            m_paced = true;
            m_links->noUnresolvedRoom();
        }
    }
    if (full) {
        // The socket buffer, a device queue or the neighbour table is full:
        // try again later, waiting longer each time it is still full.
        m_backoffMs = m_backoffMs == 0 ? 1 : std::min(m_backoffMs * 2, MaxBackoffMs);
        m_waitingForNumbers = false;
        m_retryTimer.start(m_backoffMs);
    } else if (m_paced) {
        m_retryTimer.start(LinkMap::RoomFreshMs);
    } else if (done == count) {
        m_backoffMs = 0;
        m_waitingForNumbers = false;
        m_retryTimer.stop();
    }
    m_senderWaiting = done < count;

    if (!m_expiryTimer.isActive())
        armExpiryTimer();
    // Replies met here are reported from the event loop, never from inside
    // send(): a caller is not re-entered before it has counted its requests.
    if ((m_readyHead < m_ready.size() || m_settleDue) && !m_deliveryTimer.isActive())
        m_deliveryTimer.start();
    return done;
}

int LinuxPinger::sendBatch(Channel &channel, const Ipv4 *targets, int count, qsizetype firstIndex,
                           SendRefusals &refusals, bool &full)
{
    const bool tagged = m_builder.carriesTag();
    const quint16 firstSequence = channel.sequences.nextSequence();
    for (int i = 0; i < count; ++i) {
        const std::span<quint8> message(m_txBytes.data() + std::size_t(i) * MessageRoom, m_builder.size());
        m_txTags[i] = tagged ? channel.cookie + channel.serial + quint64(i) + 1 : 0;
        m_builder.stamp(message, channel.identifier, quint16(firstSequence + i), m_txTags[i]);
        m_txAddresses[i].sin_addr.s_addr = htonl(targets[i]);
    }

    const int fd = m_sockets[channel.socket].fd;
    int handled = 0;
    while (handled < count) {
        const int sent = ::sendmmsg(fd, &m_txHeaders[std::size_t(handled)], unsigned(count - handled), 0);
        if (sent > 0) {
            // The deadline counts from after the send, so no request gets
            // less than its full timeout.
            const qint64 deadline = monotonicNanoseconds() + qint64(m_timeout) * NanosecondsPerMillisecond;
            for (int i = handled; i < handled + sent; ++i)
                channel.sequences.add(targets[i], deadline, m_txTags[std::size_t(i)]);
            handled += sent;
            m_backoffMs = 0;
            m_invalidSince = 0;
            continue;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
            full = true;
            m_fullError = error == ENOBUFS ? ENOBUFS : EAGAIN;
            break;
        }
        /*
         * The IPv4 output path answers EINVAL when it cannot create a
         * neighbour entry for the next hop (a full table, gc_thresh3):
         * ip_finish_output2() returned -EINVAL for any such failure before
         * 6.6 (Debian 12's 6.1 as released among them); 6.6 and the stable
         * kernels that took the change pass on the neighbour code's ENOBUFS.
         * Nothing else in a valid request to a valid address draws EINVAL,
         * so it waits like a full queue, until the table's unresolved entries
         * had time to fail and be reclaimed. One that outlasts that refuses
         * this target, and every further one at once until a send leaves
         * again.
         */
        if (error == EINVAL) {
            const qint64 now = monotonicNanoseconds();
            if (m_invalidSince == 0)
                m_invalidSince = now;
            if (now - m_invalidSince < NeighbourShortageNs) {
                full = true;
                m_fullError = EINVAL;
                break;
            }
        }
        // Anything else (EACCES for a broadcast address, ENETUNREACH,
        // EHOSTUNREACH, EPERM from a firewall rule) means this request gets
        // no reply; the next target is tried as usual.
        channel.sequences.addRefused(monotonicNanoseconds());
        refusals.push_back({firstIndex + handled, reasonText(error)});
        ++handled;
    }
    channel.serial += quint64(handled);
    return handled;
}

const QString &LinuxPinger::reasonText(int error)
{
    auto found = m_reasons.find(error);
    if (found == m_reasons.end())
        found = m_reasons.emplace(error, errnoText(error)).first;
    return found->second;
}

void LinuxPinger::drain(std::size_t socket)
{
    const int fd = m_sockets[socket].fd;
    // "Now" is read before the queue: every reply that arrived before it is
    // read below, so expiring what is due at it loses no timely reply.
    const qint64 now = monotonicNanoseconds();
    // The kernel stamps arrivals on the wall clock; this converts them. A
    // wall-clock step between arrival and this reading shifts a stamp by
    // the step, which is why deadlines themselves stay monotonic.
    const qint64 wallOffset = clockNanoseconds(CLOCK_REALTIME) - now;
    const bool tagged = m_builder.carriesTag();
    bool emptied = false;
    for (int batch = 0; batch < MaxBatchesPerDrain; ++batch) {
        for (mmsghdr &header : m_rxHeaders) {
            header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            header.msg_hdr.msg_controllen = ControlRoom;
            header.msg_hdr.msg_flags = 0;
        }
        const int count = ::recvmmsg(fd, m_rxHeaders.data(), BatchSize, MSG_DONTWAIT, nullptr);
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // A pending error (an ICMP error about one of our requests, on
            // a raw socket) is returned once; its report waits aside and
            // would take room from replies.
            discardErrors(fd);
            continue;
        }
        if (count <= 0) {
            emptied = true;
            break;
        }
        const qint64 readAt = monotonicNanoseconds();
        for (int i = 0; i < count; ++i) {
            msghdr &header = m_rxHeaders[i].msg_hdr;
            if ((header.msg_flags & MSG_TRUNC) || header.msg_namelen < sizeof(sockaddr_in))
                continue;
            const std::span<const quint8> datagram(m_rxBytes.data() + std::size_t(i) * DatagramRoom,
                                                   m_rxHeaders[i].msg_len);
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
            const Ipv4 source = ntohl(m_rxSources[i].sin_addr.s_addr);
            const quint64 tag = tagged ? echoTag(reply->data) : 0;
            if (channel->sequences.take(reply->sequence, source, tag, arrival))
                m_ready.push_back(source);
        }
        if (count < BatchSize) {
            emptied = true;
            break;
        }
    }
    // With datagrams still queued, a timely reply may be among them: expire
    // nothing until the queue has been read to its end.
    if (!emptied)
        return;
    int expired = 0;
    for (const auto &channel : channelsOn(socket))
        expired += channel->sequences.expire(now);
    if (expired > 0 && outstanding() == 0)
        m_settleDue = true;
}

void LinuxPinger::drainAll()
{
    for (std::size_t socket = 0; socket < m_sockets.size(); ++socket)
        drain(socket);
}

void LinuxPinger::discardErrors(int fd)
{
    for (int batch = 0; batch < MaxBatchesPerDrain; ++batch) {
        for (mmsghdr &header : m_rxHeaders) {
            header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            header.msg_hdr.msg_controllen = ControlRoom;
        }
        if (::recvmmsg(fd, m_rxHeaders.data(), BatchSize, MSG_ERRQUEUE | MSG_DONTWAIT, nullptr) < BatchSize)
            break;
    }
}

void LinuxPinger::discardQueued(int fd)
{
    discardErrors(fd);
    for (int batch = 0; batch < MaxBatchesPerDrain; ++batch) {
        for (mmsghdr &header : m_rxHeaders) {
            header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            header.msg_hdr.msg_controllen = ControlRoom;
        }
        const int count = ::recvmmsg(fd, m_rxHeaders.data(), BatchSize, MSG_DONTWAIT, nullptr);
        if (count < BatchSize)
            break;
    }
}

void LinuxPinger::deliver()
{
    bool answered = false;
    // A receiver may send or cancel while we emit; both change m_ready, so
    // walk it by index and re-read its size every time.
    while (m_readyHead < m_ready.size()) {
        const Ipv4 address = m_ready[m_readyHead++];
        const quint64 cancels = m_cancels;
        emit replied(address);
        // Zero reached through a cancel() is not an answer's doing.
        answered = cancels == m_cancels;
    }
    m_ready.clear();
    m_readyHead = 0;
    const bool due = answered || m_settleDue;
    m_settleDue = false;
    if (due && outstanding() == 0) {
        m_expiryTimer.stop();
        emit settled();
    }
}

void LinuxPinger::cancel()
{
    ++m_cancels;
    const qint64 now = monotonicNanoseconds();
    for (const auto &channel : m_channels)
        channel->sequences.clear(now);
    // Replies already queued answer requests that no longer exist.
    for (const Socket &socket : m_sockets)
        discardQueued(socket.fd);
    m_ready.clear();
    m_readyHead = 0;
    m_settleDue = false;
    m_senderWaiting = false;
    m_waitingForNumbers = false;
    m_backoffMs = 0;
    m_invalidSince = 0;
    m_resolving.clear();
    m_unasked.clear();
    m_asked.clear();
    m_echoDue.clear();
    m_resolvingCopies = 0;
    m_waitingForArp = false;
    m_arpTimer.stop();
    if (m_packet >= 0)
        discardQueued(m_packet);
    m_expiryTimer.stop();
    m_deliveryTimer.stop();
    m_retryTimer.stop();
}

void LinuxPinger::collect()
{
    drainAll();
    deliver();
    armExpiryTimer();
}

void LinuxPinger::armExpiryTimer()
{
    std::optional<qint64> first;
    for (const auto &channel : m_channels) {
        const std::optional<qint64> deadline = channel->sequences.nextDeadline();
        if (deadline && (!first || *deadline < *first))
            first = deadline;
    }
    if (!first) {
        m_expiryTimer.stop();
        return;
    }
    m_expiryTimer.start(millisecondsUntil(*first, monotonicNanoseconds()));
}

void LinuxPinger::onEvent()
{
    drainAll();
    deliver();
    armExpiryTimer();
    // Answers and expiries free numbers: a sender waiting for them may go on.
    if (m_senderWaiting && m_waitingForNumbers) {
        const qint64 now = monotonicNanoseconds();
        const qint64 rest = restNanoseconds();
        for (const auto &channel : m_channels) {
            if (channel->sequences.roomFor(1, now, rest) > 0) {
                wakeSender();
                break;
            }
        }
    }
}

void LinuxPinger::onRetry()
{
    if (m_senderWaiting)
        wakeSender();
}

void LinuxPinger::wakeSender()
{
    m_retryTimer.stop();
    m_senderWaiting = false;
    m_waitingForNumbers = false;
    emit ready();
}

bool LinuxPinger::resolve(Ipv4 target, const LinkRoute &route)
{
    if (m_unasked.size() >= MaxUnasked) {
        m_waitingForArp = true;
        return false;
    }
    auto [entry, added] = m_resolving.try_emplace(target, Resolving{0, 0, route.interfaceIndex, route.source});
    ++entry->second.copies;
    ++m_resolvingCopies;
    if (added)
        m_unasked.push_back(target);
    if (!m_arpTimer.isActive())
        m_arpTimer.start(0);
    return true;
}

void LinuxPinger::pumpArp()
{
    readArp();
    sendResolvedEchoes();
    const qint64 now = monotonicNanoseconds();
    m_arpTokens = std::min(ArpBurst, m_arpTokens + double(now - m_arpTokensAt) * ArpPerNanosecond);
    m_arpTokensAt = now;
    bool gaveUp = false;
    while (!m_asked.empty() && m_asked.front().first <= now) {
        const auto entry = m_resolving.find(m_asked.front().second);
        if (entry != m_resolving.end() && entry->second.tries >= ArpTries) {
            // No answer to the last try either: nothing can be sent.
            m_resolvingCopies -= entry->second.copies;
            m_resolving.erase(entry);
            gaveUp = true;
        } else if (entry != m_resolving.end() && (m_arpTokens < 1 || !askArp(entry->first, entry->second))) {
            break;
        }
        m_asked.pop_front();
    }
    while (!m_unasked.empty() && m_arpTokens >= 1) {
        const auto entry = m_resolving.find(m_unasked.front());
        if (entry != m_resolving.end() && !askArp(entry->first, entry->second))
            break;
        m_unasked.pop_front();
    }
    if (gaveUp && outstanding() == 0) {
        m_settleDue = true;
        if (!m_deliveryTimer.isActive())
            m_deliveryTimer.start();
    }
    if (m_waitingForArp && m_unasked.size() < MaxUnasked / 2) {
        m_waitingForArp = false;
        if (m_senderWaiting)
            wakeSender();
    }
    if (!m_unasked.empty() || !m_echoDue.empty())
        m_arpTimer.start(1);
    else if (!m_asked.empty())
        m_arpTimer.start(millisecondsUntil(m_asked.front().first, now));
}

// Where a frame of `protocol` goes on the link: to one neighbour, or to all.
constexpr HardwareAddress Broadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
sockaddr_ll linkDestination(quint16 protocol, int interfaceIndex, const HardwareAddress &to)
{
    sockaddr_ll destination{};
    destination.sll_family = AF_PACKET;
    destination.sll_protocol = htons(protocol);
    destination.sll_ifindex = interfaceIndex;
    destination.sll_halen = quint8(to.size());
    std::copy(to.begin(), to.end(), destination.sll_addr);
    return destination;
}

bool LinuxPinger::askArp(Ipv4 target, const Resolving &entry)
{
    const std::optional<HardwareAddress> ours = m_links->hardwareAddress(entry.interfaceIndex);
    const auto request = arpRequest(ours.value_or(HardwareAddress{}), entry.source, target);
    const sockaddr_ll to = linkDestination(ETH_P_ARP, entry.interfaceIndex, Broadcast);
    if (::sendto(m_packet, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0
        && (errno == ENOBUFS || errno == EAGAIN || errno == EWOULDBLOCK))
        return false; // a full device queue: the same try, a little later
    // Any other failure (the link went down) counts as a try unanswered.
    m_arpTokens -= 1;
    m_resolving[target].tries += 1;
    m_asked.emplace_back(monotonicNanoseconds() + ArpIntervalNs, target);
    return true;
}

void LinuxPinger::readArp()
{
    std::array<quint8, 64> message;
    for (int i = 0; i < MaxBatchesPerDrain * BatchSize; ++i) {
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(m_packet, message.data(), message.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0)
            break;
        const auto sender = arpSender(std::span(message.data(), std::size_t(n)));
        if (!sender || from.sll_pkttype == PACKET_OUTGOING)
            continue;
        const auto entry = m_resolving.find(sender->first);
        if (entry == m_resolving.end() || entry->second.interfaceIndex != from.sll_ifindex)
            continue;
        for (int copy = 0; copy < entry->second.copies; ++copy)
            m_echoDue.push_back({entry->first, entry->second.source, entry->second.interfaceIndex, sender->second});
        m_resolvingCopies -= entry->second.copies;
        m_resolving.erase(entry);
    }
}

void LinuxPinger::sendResolvedEchoes()
{
    const qint64 rest = restNanoseconds();
    while (!m_echoDue.empty()) {
        const EchoDue &due = m_echoDue.front();
        Channel *channel = channelWithRoom(monotonicNanoseconds(), rest);
        if (!channel)
            break; // every number in use: the timer comes back
        const std::size_t size = m_builder.size();
        const quint64 tag = m_builder.carriesTag() ? channel->cookie + ++channel->serial : 0;
        std::copy(m_builder.blank().begin(), m_builder.blank().end(), m_frame.begin() + 20);
        m_builder.stamp(std::span(m_frame.data() + 20, size), channel->identifier,
                        channel->sequences.nextSequence(), tag);
        writeIpv4Header(std::span<quint8, 20>(m_frame.data(), 20), due.source, due.target, m_ipIdentification++,
                        size);
        const sockaddr_ll to = linkDestination(ETH_P_IP, due.interfaceIndex, due.address);
        if (::sendto(m_packet, m_frame.data(), 20 + size, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0) {
            if (errno == ENOBUFS || errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            channel->sequences.addRefused(monotonicNanoseconds());
        } else {
            channel->sequences.add(due.target, monotonicNanoseconds() + qint64(m_timeout) * NanosecondsPerMillisecond,
                                   tag);
        }
        m_echoDue.pop_front();
    }
    if (!m_expiryTimer.isActive())
        armExpiryTimer();
}

} // namespace

std::unique_ptr<Pinger> createSystemPinger(PreopenedSocket raw, PreopenedSocket packet, QObject *parent)
{
    return std::make_unique<LinuxPinger>(raw, packet, parent);
}

PreopenedSocket openPacketSocket()
{
    // Protocol 0: nothing is received until the pinger binds it to ARP.
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd < 0 ? PreopenedSocket{-1, errno} : PreopenedSocket{fd, 0};
}

PreopenedSocket openRawIcmpSocket()
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return {-1, errno};
    // Until a pinger takes it, nothing is queued on it; it may wait a while
    // for the first Start, or never be used.
    attachIdentifierFilter(fd, 0, 0);
    return {fd, 0};
}

} // namespace vexal
