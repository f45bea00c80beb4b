#include "sweep/icmppacket.h"
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
#include <cstring>
#include <ctime>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
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

// Datagrams read per recvmmsg() call, and room for each: ours are at most a
// 60-byte IP header, 8 bytes of ICMP header and 512 bytes of data.
constexpr int BatchSize = 64;
constexpr std::size_t DatagramRoom = 1024;
// Bounds one drain, so that a flood of foreign ICMP cannot hold the event
// loop; the notifier is level-triggered and comes back for the rest.
constexpr int MaxBatchesPerDrain = 2048;

constexpr int SendAttempts = 10;

std::atomic<quint32> g_instances{0};

qint64 monotonicNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
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

class LinuxPinger final : public Pinger
{
public:
    explicit LinuxPinger(QObject *parent);
    ~LinuxPinger() override;

    bool open() override;
    QString errorText() const override { return m_error; }
    QString mechanism() const override { return m_mechanism; }
    void setTimeout(int milliseconds) override { m_timeout = std::clamp(milliseconds, MinTimeout, MaxTimeout); }
    int timeout() const override { return m_timeout; }
    void setPacketSize(int dataBytes) override;
    int packetSize() const override { return m_dataSize; }
    void send(Ipv4 address) override;
    void cancel() override;
    int outstanding() const override;

private:
    bool trySend(std::span<const quint8> packet, const sockaddr_in &to);
    // Reads every queued datagram, matches replies at `now` and expires what
    // is due; matched addresses wait in m_ready for deliver().
    void drain(qint64 now);
    void discardQueued();
    // Emits replied() for m_ready, then settled() if that or an expiry
    // emptied the books.
    void deliver();
    void armExpiryTimer();
    void onEvent();

    int m_fd = -1;
    bool m_raw = false;
    QString m_mechanism;
    QString m_error;
    int m_timeout = DefaultTimeout;
    int m_dataSize = DefaultDataSize;

    quint16 m_identifier = 0;
    quint64 m_cookie = 0;
    quint64 m_serial = 0;
    EchoRequestBuilder m_builder;
    bool m_builderStale = true;

    SequenceMap m_sequences;
    std::vector<Ipv4> m_ready;
    std::size_t m_readyHead = 0;
    bool m_settleDue = false;
    quint64 m_cancels = 0;

    QSocketNotifier *m_notifier = nullptr;
    QTimer m_expiryTimer;
    QTimer m_deliveryTimer;

    std::vector<quint8> m_rxBytes;
    std::vector<sockaddr_in> m_rxSources;
    std::vector<iovec> m_rxVectors;
    std::vector<mmsghdr> m_rxHeaders;
};

LinuxPinger::LinuxPinger(QObject *parent)
    : Pinger(parent)
{
    // Several pingers of one process share the raw socket's view of every
    // echo reply, so each gets its own identifier and cookie.
    const quint32 instance = g_instances.fetch_add(1);
    m_identifier = quint16((quint32(::getpid()) * 0x9E3779B1u + instance * 0x85EBCA77u) >> 16);
    m_cookie = QRandomGenerator::global()->generate64();

    m_expiryTimer.setSingleShot(true);
    m_expiryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_expiryTimer, &QTimer::timeout, this, &LinuxPinger::onEvent);
    m_deliveryTimer.setSingleShot(true);
    m_deliveryTimer.setInterval(0);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &LinuxPinger::deliver);
}

LinuxPinger::~LinuxPinger()
{
    // The notifier must let go of the descriptor before it is closed.
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LinuxPinger::open()
{
    if (m_fd >= 0)
        return true;

    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
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
        fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        rawError = fd < 0 ? errno : 0;
        m_raw = fd >= 0;
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

    m_fd = fd;
    m_error.clear();
    m_mechanism = m_raw ? QStringLiteral("raw") : QStringLiteral("datagram");
    m_builderStale = true;

    // SO_RCVBUFFORCE passes net.core.rmem_max but needs CAP_NET_ADMIN; without
    // it SO_RCVBUF gives as much as the limit allows. Likewise for sending.
    int size = ReceiveBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    size = SendBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (m_raw) {
        // A raw ICMP socket gets a copy of every ICMP message the host
        // receives; the filter keeps all but echo replies out of our queue.
        icmp_filter filter{};
        filter.data = ~(1u << ICMP_ECHOREPLY);
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }

    m_rxBytes.assign(BatchSize * DatagramRoom, 0);
    m_rxSources.assign(BatchSize, sockaddr_in{});
    m_rxVectors.assign(BatchSize, iovec{});
    m_rxHeaders.assign(BatchSize, mmsghdr{});
    for (int i = 0; i < BatchSize; ++i) {
        m_rxVectors[i].iov_base = m_rxBytes.data() + std::size_t(i) * DatagramRoom;
        m_rxVectors[i].iov_len = DatagramRoom;
        m_rxHeaders[i].msg_hdr.msg_name = &m_rxSources[i];
        m_rxHeaders[i].msg_hdr.msg_iov = &m_rxVectors[i];
        m_rxHeaders[i].msg_hdr.msg_iovlen = 1;
    }
    m_ready.reserve(4096);

    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LinuxPinger::onEvent);
    return true;
}

void LinuxPinger::setPacketSize(int dataBytes)
{
    m_dataSize = std::clamp(dataBytes, 1, EchoMaxData);
    m_builderStale = true;
}

int LinuxPinger::outstanding() const
{
    return m_sequences.pending() + int(m_ready.size() - m_readyHead);
}

void LinuxPinger::send(Ipv4 address)
{
    if (!open())
        return;
    if (m_builderStale) {
        // On a datagram socket the kernel writes its own identifier.
        m_builder.reset(m_raw ? m_identifier : 0, m_dataSize);
        m_builderStale = false;
    }
    const quint64 tag = m_builder.carriesTag() ? m_cookie + ++m_serial : 0;
    const std::span<const quint8> packet = m_builder.build(m_sequences.nextSequence(), tag);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    if (trySend(packet, to)) {
        const qint64 sentAt = monotonicNanoseconds();
        m_sequences.add(address, sentAt + m_timeout * NanosecondsPerMillisecond, tag);
        drain(sentAt);
    }
    if (!m_expiryTimer.isActive())
        armExpiryTimer();
    // Replies met here are reported from the event loop, never from inside
    // send(): a caller is not re-entered before it has counted its request.
    if ((m_readyHead < m_ready.size() || m_settleDue) && !m_deliveryTimer.isActive())
        m_deliveryTimer.start();
}

bool LinuxPinger::trySend(std::span<const quint8> packet, const sockaddr_in &to)
{
    for (int attempt = 0; attempt < SendAttempts; ++attempt) {
        if (::sendto(m_fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                     sizeof to)
            >= 0)
            return true;
        const int error = errno;
        if (error == EINTR)
            continue;
        // Anything but a full queue (ENETUNREACH, EHOSTUNREACH, EACCES for a
        // broadcast address...) means this request gets no reply.
        if (error != EAGAIN && error != EWOULDBLOCK && error != ENOBUFS)
            return false;
        // The send buffer or a device queue is full. Reading replies keeps
        // ours from overflowing meanwhile; then wait a moment for room.
        drain(monotonicNanoseconds());
        pollfd writable{m_fd, POLLOUT, 0};
        ::poll(&writable, 1, 1);
    }
    return false;
}

void LinuxPinger::drain(qint64 now)
{
    for (int batch = 0; batch < MaxBatchesPerDrain; ++batch) {
        for (mmsghdr &header : m_rxHeaders) {
            header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            header.msg_hdr.msg_flags = 0;
        }
        const int count = ::recvmmsg(m_fd, m_rxHeaders.data(), BatchSize, MSG_DONTWAIT, nullptr);
        if (count <= 0)
            break;
        for (int i = 0; i < count; ++i) {
            const msghdr &header = m_rxHeaders[i].msg_hdr;
            if ((header.msg_flags & MSG_TRUNC) || header.msg_namelen < sizeof(sockaddr_in))
                continue;
            const std::span<const quint8> datagram(m_rxBytes.data() + std::size_t(i) * DatagramRoom,
                                                   m_rxHeaders[i].msg_len);
            // Raw sockets deliver the IP header; datagram sockets do not, and
            // the kernel already routes them only the replies with our
            // identifier, which it chose itself.
            const std::optional<EchoReply> reply = parseEchoReply(datagram, m_raw);
            if (!reply || (m_raw && reply->identifier != m_identifier))
                continue;
            const Ipv4 source = ntohl(m_rxSources[i].sin_addr.s_addr);
            if (m_sequences.take(reply->sequence, source, echoTag(reply->data), now))
                m_ready.push_back(source);
        }
        if (count < BatchSize)
            break;
    }
    if (m_sequences.expire(now) > 0 && outstanding() == 0)
        m_settleDue = true;
}

void LinuxPinger::discardQueued()
{
    for (int batch = 0; batch < MaxBatchesPerDrain; ++batch) {
        const int count = ::recvmmsg(m_fd, m_rxHeaders.data(), BatchSize, MSG_DONTWAIT, nullptr);
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
    m_sequences.clear();
    m_ready.clear();
    m_readyHead = 0;
    m_settleDue = false;
    m_expiryTimer.stop();
    m_deliveryTimer.stop();
    // Replies already queued answer requests that no longer exist.
    if (m_fd >= 0)
        discardQueued();
}

void LinuxPinger::armExpiryTimer()
{
    const std::optional<qint64> deadline = m_sequences.nextDeadline();
    if (!deadline) {
        m_expiryTimer.stop();
        return;
    }
    // Rounded up: a timer that fires before the deadline would only re-arm.
    const qint64 wait = *deadline - monotonicNanoseconds();
    m_expiryTimer.start(int(std::max<qint64>(0, (wait + NanosecondsPerMillisecond - 1) / NanosecondsPerMillisecond)));
}

void LinuxPinger::onEvent()
{
    drain(monotonicNanoseconds());
    deliver();
    armExpiryTimer();
}

} // namespace

std::unique_ptr<Pinger> createSystemPinger(QObject *parent)
{
    return std::make_unique<LinuxPinger>(parent);
}

} // namespace vexal
