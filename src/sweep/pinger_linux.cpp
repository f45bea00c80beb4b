#include "sweep/arpresolver_linux.h"
#include "sweep/icmpchannels_linux.h"
#include "sweep/linkmap_linux.h"
#include "sweep/pinger.h"
#include "sweep/pingers_linux.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include <linux/filter.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

constexpr qint64 NanosecondsPerMillisecond = 1'000'000;
constexpr int BatchSize = IcmpChannels::BatchSize;
// A full queue is tried again after 1, 2, 4 ... ms, at most this long.
constexpr int MaxBackoffMs = 100;
// How long sends may fail with EINVAL before the target is given up (see
// sendRun()). On a full table an unresolved entry fails after mcast_solicit
// x retrans_time (3 s by default) and is then the first one reclaimed, so
// room comes within that; twice as long means the EINVAL is not the table's.
constexpr qint64 NeighbourShortageNs = 6'000'000'000;
// How long a wait for room in the neighbour table may last at most, for the
// time a sweep may still take: entries hold their place for up to
// LinkMap::entryHoldNs(), 51 s by default.
constexpr int RoomWaitMs = 60'000;

std::atomic<quint32> g_instances{0};

qint64 monotonicNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int millisecondsUntil(qint64 when, qint64 now)
{
    // Rounded up: a timer that fires early would only find nothing to do.
    return int(std::clamp<qint64>((when - now + NanosecondsPerMillisecond - 1) / NanosecondsPerMillisecond, 0,
                                  PingerMaxTimeoutMs * 2));
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString programPath()
{
    const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return path.isEmpty() ? QStringLiteral("/path/to/vexal") : path;
}

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

int openDatagramSocket() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP); }

// Sends echo requests from this process. On-link targets without a
// neighbour entry either wait for room in the kernel's neighbour table (the
// datagram path), or, with a packet socket, are asked by ARP first and only
// those that answer get their request (the privileged path). Every request
// goes through the kernel either way, so the host's firewall tracks it and
// lets its reply in.
class LinuxPinger final : public Pinger
{
public:
    LinuxPinger(bool datagramFirst, PreopenedSocket raw, PacketSocketOpener openPacket, QString arpHelper,
                int expiryGraceMs, QObject *parent);
    ~LinuxPinger() override;

    bool open() override;
    QString errorText() const override { return m_error; }
    QString mechanism() const override { return m_mechanism; }
    void setTimeout(int milliseconds) override
    {
        m_timeout = std::clamp(milliseconds, PingerMinTimeoutMs, PingerMaxTimeoutMs);
    }
    int timeout() const override { return m_timeout; }
    void setPacketSize(int dataBytes) override { m_dataSize = std::clamp(dataBytes, 1, EchoMaxData); }
    int packetSize() const override { return m_dataSize; }
    using Pinger::send;
    qsizetype send(std::span<const Ipv4> targets, SendRefusals &refusals) override;
    void cancel() override;
    qint64 outstanding() const override;
    int drainMilliseconds() const override;
    void collect() override;
    std::optional<HardwareAddress> hardwareAddress(Ipv4 address) const override;

private:
    enum class Room { Taken, Wait, GiveUp };

    void configure();
    // Room in the neighbour table for one more unresolved entry on the
    // link; after the longest an entry there can hold its place without
    // any, the target is given up.
    Room takeNeighbourRoom(qint64 now, int interfaceIndex);
    // Sends a batch; handles a full queue and EINVAL as sendBatch() says.
    // Returns how many it dealt with; when it stopped short, `fullError` says
    // why (EAGAIN, ENOBUFS, EINVAL), and is 0 otherwise.
    int sendRun(Channel &channel, const Ipv4 *targets, int count, qsizetype firstIndex, SendRefusals &refusals,
                int &fullError);
    // The echo requests owed to targets that answered ARP.
    void sendAnswered();
    void onGaveUp(quint32 target, int copies);
    void onAnswered();
    void noteEnded(Ipv4 target, qint64 copies = 1);
    void onReadable();
    void deliver();
    void armExpiryTimer();
    void scheduleDelivery();
    void onRetry();
    void wakeSender();

    const bool m_datagramFirst;
    bool m_raw = false;
    QString m_mechanism;
    QString m_error;
    int m_timeout = PingerDefaultTimeoutMs;
    int m_dataSize = PingerDefaultDataSize;
    quint16 m_firstIdentifier = 0;

    // Handed over at start-up, until open() takes them or closes them.
    PreopenedSocket m_handedRaw;
    PacketSocketOpener m_openPacket;
    const QString m_arpHelper;
    const int m_expiryGraceMs;
    std::unique_ptr<IcmpChannels> m_channels;
    std::unique_ptr<LinkMap> m_links;
    std::unique_ptr<ArpResolver> m_resolver;

    std::vector<MatchedReply> m_ready;
    std::size_t m_readyHead = 0;
    // Requests that ended without a reply, to be reported with the replies.
    std::vector<Ipv4> m_ended;
    std::size_t m_endedHead = 0;
    // Hardware addresses learned from ARP answers, for the tooltip: one per
    // answering on-link host.
    std::unordered_map<Ipv4, HardwareAddress> m_hardware;
    bool m_settleDue = false;
    quint64 m_cancels = 0;

    // send() returned short and the caller waits for ready().
    bool m_senderWaiting = false;
    bool m_waitingForNumbers = false;
    bool m_waitingForArp = false;
    int m_backoffMs = 0;
    // When sends began failing with EINVAL, or began waiting for room in the
    // neighbour table; 0 since the last one that left.
    qint64 m_invalidSince = 0;
    qint64 m_roomWaitSince = 0;
    SendRefusals m_answeredRefusals;

    QTimer m_expiryTimer;
    QTimer m_deliveryTimer;
    QTimer m_retryTimer;
    QTimer m_answeredTimer;
};

LinuxPinger::LinuxPinger(bool datagramFirst, PreopenedSocket raw, PacketSocketOpener openPacket, QString arpHelper,
                         int expiryGraceMs, QObject *parent)
    : Pinger(parent)
    , m_datagramFirst(datagramFirst)
    , m_handedRaw(raw)
    , m_openPacket(std::move(openPacket))
    , m_arpHelper(std::move(arpHelper))
    , m_expiryGraceMs(expiryGraceMs)
{
    // Several pingers of one process share the raw socket's view of every
    // echo reply, so each gets its own identifiers and cookies.
    const quint32 instance = g_instances.fetch_add(1);
    m_firstIdentifier = quint16((quint32(::getpid()) * 0x9E3779B1u + instance * 0x85EBCA77u) >> 16);

    m_expiryTimer.setSingleShot(true);
    m_expiryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_expiryTimer, &QTimer::timeout, this, &LinuxPinger::onReadable);
    m_deliveryTimer.setSingleShot(true);
    m_deliveryTimer.setInterval(0);
    connect(&m_deliveryTimer, &QTimer::timeout, this, &LinuxPinger::deliver);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_retryTimer, &QTimer::timeout, this, &LinuxPinger::onRetry);
    m_answeredTimer.setSingleShot(true);
    m_answeredTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_answeredTimer, &QTimer::timeout, this, &LinuxPinger::sendAnswered);
}

LinuxPinger::~LinuxPinger()
{
    if (m_handedRaw.fd >= 0)
        ::close(m_handedRaw.fd);
}

bool LinuxPinger::open()
{
    if (m_channels)
        return true;

    int fd = m_datagramFirst ? openDatagramSocket() : -1;
    const int datagramError = m_datagramFirst && fd < 0 ? errno : 0;
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
    if (!m_datagramFirst
        || (fd < 0
            && (datagramError == EACCES || datagramError == EPERM || datagramError == EAFNOSUPPORT
                || datagramError == EPROTONOSUPPORT))) {
        // A socket opened ahead, while the process still could; a refusal
        // then stands for every Start.
        const PreopenedSocket raw = m_handedRaw.attempted() ? m_handedRaw : openRawIcmpSocket();
        m_handedRaw = {};
        fd = raw.fd;
        rawError = raw.error;
        m_raw = fd >= 0;
    }

    if (fd < 0) {
        m_error = rawError != 0 && isPermissionError(rawError)
            ? icmpRefusedText(datagramError, rawError, programPath(), false)
            : QStringLiteral("Vexal cannot open an ICMP socket: %1.")
                  .arg(errnoText(rawError != 0 ? rawError : datagramError));
        return false;
    }
    auto channels = std::make_unique<IcmpChannels>(m_firstIdentifier, this);
    channels->setExpiryGrace(qint64(m_expiryGraceMs) * NanosecondsPerMillisecond);
    if (!channels->adopt(fd, m_raw)) {
        m_error = QStringLiteral("Vexal cannot filter its raw ICMP socket: %1.").arg(errnoText(errno));
        return false;
    }
    m_channels = std::move(channels);
    connect(m_channels.get(), &IcmpChannels::readable, this, &LinuxPinger::onReadable);
    m_error.clear();
    m_mechanism = m_raw ? QStringLiteral("raw") : QStringLiteral("datagram");
    m_links = std::make_unique<LinkMap>();
    m_ready.reserve(4096);

    // On-link targets are asked by ARP first, by this process with the raw
    // socket's privilege, or else by the helper.
    if (m_raw)
        m_resolver = std::make_unique<LocalArpResolver>(m_openPacket, *m_links, this);
    else if (!m_arpHelper.isEmpty())
        m_resolver = std::make_unique<HelperArpResolver>(m_arpHelper, this);
    if (m_resolver) {
        connect(m_resolver.get(), &ArpResolver::answered, this, &LinuxPinger::onAnswered);
        connect(m_resolver.get(), &ArpResolver::gaveUp, this, &LinuxPinger::onGaveUp);
        connect(m_resolver.get(), &ArpResolver::moreWelcome, this, [this] {
            m_waitingForArp = false;
            if (m_senderWaiting)
                wakeSender();
        });
    }
    return true;
}

void LinuxPinger::configure()
{
    m_channels->configure(m_dataSize, qint64(m_timeout) * NanosecondsPerMillisecond);
}

LinuxPinger::Room LinuxPinger::takeNeighbourRoom(qint64 now, int interfaceIndex)
{
    if (m_links->neighbours().takeUnresolvedRoom()) {
        m_roomWaitSince = 0;
        return Room::Taken;
    }
    if (m_roomWaitSince == 0)
        m_roomWaitSince = now;
    return now - m_roomWaitSince < m_links->entryHoldNs(interfaceIndex) ? Room::Wait : Room::GiveUp;
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
    configure();

    qsizetype done = 0;
    bool full = false;
    bool paced = false;
    m_waitingForArp = false;
    while (done < count && !full && !paced && !m_waitingForArp) {
        const qint64 now = monotonicNanoseconds();
        // The targets from here on the kernel may take now, up to a batch:
        // ARP comes first for an on-link one on the privileged path, and a
        // kernel send to an unresolved neighbour waits for room.
        int run = 0;
        while (done + run < count && run < BatchSize) {
            const LinkRoute route = m_links->route(targets[done + run]);
            if (!route.unresolved()) {
                ++run;
                continue;
            }
            // Without a packet socket after all, the kernel path is left.
            if (m_resolver && m_resolver->available()) {
                if (run == 0 && m_resolver->ask(targets[done], route))
                    ++done;
                else if (run == 0)
                    m_waitingForArp = true;
                break;
            }
            const Room room = takeNeighbourRoom(now, route.interfaceIndex);
            if (room == Room::Taken) {
                ++run;
                continue;
            }
            if (run == 0 && room == Room::GiveUp) {
                // No room for so long that the table is held by others: this
                // target, and every further one until room comes, is an
                // attempt without a reply.
                refusals.push_back({done, errnoText(ENOBUFS), ENOBUFS});
                ++done;
            } else if (run == 0) {
                paced = true;
            }
            break;
        }
        if (run == 0)
            continue;
        Channel *channel = m_channels->channelWithRoom(now);
        if (!channel) {
            // Every number of every socket is in use: wait until the first
            // one frees, never by cutting a request short.
            m_links->neighbours().unresolvedSent();
            m_waitingForNumbers = true;
            m_retryTimer.start(millisecondsUntil(m_channels->roomAt(), now));
            break;
        }
        const int room = channel->sequences.roomFor(run, now, m_channels->restNanoseconds());
        int fullError = 0;
        done += sendRun(*channel, targets.data() + done, room, done, refusals, fullError);
        m_links->neighbours().unresolvedSent();
        full = fullError != 0;
        // A datagram socket's buffer holds each request until the kernel has
        // resolved its neighbour or given up on it, some 3 s later. One of
        // the size an unprivileged process may ask for (net.core.wmem_max,
        // 208 KiB on Debian) takes about 500: half of what the neighbour
        // table has room for on a LAN. The rest go through further sockets.
        if (fullError == EAGAIN && done < count && m_links->route(targets[done]).unresolved()
            && m_channels->spreadToAnotherSocket(*channel, now,
                                                 qint64(NeighbourTable::RoomFreshMs) * NanosecondsPerMillisecond))
            full = false;
    }
    if (full && done < count && !(m_resolver && m_resolver->available()) && m_links->route(targets[done]).unresolved()) {
        // The neighbour table is full after all (entries made elsewhere
        // since it was read): an on-link send waits for room as it would
        // have, not for a growing back-off.
        full = false;
        paced = true;
        m_links->neighbours().noUnresolvedRoom();
    }
    if (full) {
        // The socket buffer, a device queue or the neighbour table is full:
        // try again later, waiting longer each time it is still full.
        m_backoffMs = m_backoffMs == 0 ? 1 : std::min(m_backoffMs * 2, MaxBackoffMs);
        m_waitingForNumbers = false;
        m_retryTimer.start(m_backoffMs);
    } else if (paced) {
        m_retryTimer.start(NeighbourTable::RoomFreshMs);
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
    scheduleDelivery();
    return done;
}

int LinuxPinger::sendRun(Channel &channel, const Ipv4 *targets, int count, qsizetype firstIndex,
                         SendRefusals &refusals, int &fullError)
{
    fullError = 0;
    int done = 0;
    while (done < count) {
        IcmpChannels::Stop stop = IcmpChannels::Stop::None;
        int error = 0;
        const std::size_t refusedBefore = refusals.size();
        const int handled = m_channels->sendBatch(channel, targets + done, count - done, firstIndex + done,
                                                  refusals, stop, error);
        if (handled > int(refusals.size() - refusedBefore)) {
            m_backoffMs = 0;
            m_invalidSince = 0;
        }
        done += handled;
        if (stop == IcmpChannels::Stop::None)
            break;
        if (stop == IcmpChannels::Stop::Full) {
            fullError = error;
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
        const qint64 now = monotonicNanoseconds();
        if (m_invalidSince == 0)
            m_invalidSince = now;
        if (now - m_invalidSince < NeighbourShortageNs) {
            fullError = EINVAL;
            break;
        }
        m_channels->refuseNext(channel);
        refusals.push_back({firstIndex + done, errnoText(EINVAL), EINVAL});
        ++done;
    }
    if (m_channels->drain(channel.socket, m_ready, m_ended) > 0 && outstanding() == 0)
        m_settleDue = true;
    return done;
}

void LinuxPinger::sendAnswered()
{
    if (!m_resolver || !m_channels)
        return;
    configure();
    std::deque<ArpResolver::Answer> &answers = m_resolver->answers();
    std::vector<Ipv4> run;
    run.reserve(BatchSize);
    while (!answers.empty()) {
        const qint64 now = monotonicNanoseconds();
        // Every one of them needs its kernel neighbour entry, which the
        // kernel makes by asking ARP once more: only live hosts get one.
        run.clear();
        bool wait = false;
        for (std::size_t i = 0; i < answers.size() && int(run.size()) < BatchSize; ++i) {
            const Ipv4 target = answers[i].target;
            if (const LinkRoute route = m_links->route(target); route.unresolved()) {
                const Room room = takeNeighbourRoom(now, route.interfaceIndex);
                if (room == Room::GiveUp && run.empty()) {
                    answers.pop_front();
                    noteEnded(target);
                    break;
                }
                if (room != Room::Taken) {
                    wait = run.empty();
                    break;
                }
            }
            run.push_back(target);
        }
        if (run.empty()) {
            if (wait) {
                m_answeredTimer.start(NeighbourTable::RoomFreshMs);
                break;
            }
            continue;
        }
        Channel *channel = m_channels->channelWithRoom(now);
        if (!channel) {
            m_links->neighbours().unresolvedSent();
            m_answeredTimer.start(millisecondsUntil(m_channels->roomAt(), now));
            break;
        }
        const int room = channel->sequences.roomFor(int(run.size()), now, m_channels->restNanoseconds());
        int fullError = 0;
        m_answeredRefusals.clear();
        const int handled = sendRun(*channel, run.data(), room, 0, m_answeredRefusals, fullError);
        m_links->neighbours().unresolvedSent();
        // A request the system refused ends unanswered: it was counted as
        // an attempt when it was handed over.
        for (const SendRefusal &refusal : m_answeredRefusals)
            noteEnded(run[std::size_t(refusal.index)]);
        answers.erase(answers.begin(), answers.begin() + handled);
        if (fullError != 0) {
            m_answeredTimer.start(std::max(1, m_backoffMs));
            break;
        }
    }
    if (!m_expiryTimer.isActive())
        armExpiryTimer();
    scheduleDelivery();
}

void LinuxPinger::onAnswered()
{
    // Each answering host once: a short continuous sweep asks it again
    // only when its kernel entry is gone.
    for (const ArpResolver::Answer &answer : m_resolver->answers()) {
        if (!isStationAddress(answer.address))
            continue;
        const auto [known, added] = m_hardware.try_emplace(answer.target, answer.address);
        if (added || known->second != answer.address) {
            known->second = answer.address;
            emit hardwareAddressLearned(answer.target, packHardwareAddress(answer.address));
        }
    }
    sendAnswered();
}

void LinuxPinger::onGaveUp(quint32 target, int copies)
{
    noteEnded(target, copies);
    scheduleDelivery();
}

void LinuxPinger::noteEnded(Ipv4 target, qint64 copies)
{
    for (qint64 i = 0; i < copies; ++i)
        m_ended.push_back(target);
    if (copies > 0 && outstanding() == 0)
        m_settleDue = true;
}

void LinuxPinger::scheduleDelivery()
{
    if ((m_readyHead < m_ready.size() || m_endedHead < m_ended.size() || m_settleDue) && !m_deliveryTimer.isActive())
        m_deliveryTimer.start();
}

std::optional<HardwareAddress> LinuxPinger::hardwareAddress(Ipv4 address) const
{
    if (const auto known = m_hardware.find(address); known != m_hardware.end())
        return known->second;
    // On the kernel's path the kernel asked; its table may still know.
    return kernelHardwareAddress(address);
}

void LinuxPinger::deliver()
{
    bool answered = false;
    // A receiver may send or cancel while we emit; both change the lists,
    // so walk them by index and re-read their sizes every time.
    const quint64 cancels = m_cancels;
    while (m_readyHead < m_ready.size() && cancels == m_cancels) {
        const MatchedReply reply = m_ready[m_readyHead++];
        emit replied(reply.address, reply.roundTripMicroseconds);
        // Zero reached through a cancel() is not an answer's doing.
        answered = cancels == m_cancels;
    }
    while (m_endedHead < m_ended.size() && cancels == m_cancels)
        emit unanswered(m_ended[m_endedHead++]);
    if (cancels != m_cancels)
        return; // cancel() has emptied everything
    m_ready.clear();
    m_readyHead = 0;
    m_ended.clear();
    m_endedHead = 0;
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
    if (m_channels)
        m_channels->cancel();
    if (m_resolver)
        m_resolver->cancel();
    m_ready.clear();
    m_readyHead = 0;
    m_ended.clear();
    m_endedHead = 0;
    m_settleDue = false;
    m_senderWaiting = false;
    m_waitingForNumbers = false;
    m_waitingForArp = false;
    m_backoffMs = 0;
    m_invalidSince = 0;
    m_roomWaitSince = 0;
    m_expiryTimer.stop();
    m_deliveryTimer.stop();
    m_retryTimer.stop();
    m_answeredTimer.stop();
}

qint64 LinuxPinger::outstanding() const
{
    if (!m_channels)
        return 0;
    const qint64 resolving = m_resolver ? m_resolver->waiting() + qint64(m_resolver->answers().size()) : 0;
    return m_channels->pending() + qint64(m_ready.size() - m_readyHead) + resolving;
}

int LinuxPinger::drainMilliseconds() const
{
    if (!m_resolver || (m_resolver->waiting() == 0 && m_resolver->answers().empty()))
        return m_timeout + m_expiryGraceMs;
    // A target still being asked has not been sent yet: its questions, then
    // perhaps a wait for room in the neighbour table, then its full timeout.
    return m_timeout + m_expiryGraceMs + m_resolver->drainMilliseconds() + RoomWaitMs;
}

void LinuxPinger::collect()
{
    onReadable();
}

void LinuxPinger::onReadable()
{
    if (!m_channels)
        return;
    if (m_channels->drainAll(m_ready, m_ended) > 0 && outstanding() == 0)
        m_settleDue = true;
    deliver();
    armExpiryTimer();
    // Answers and expiries free numbers: a sender waiting for them may go on.
    if (m_senderWaiting && m_waitingForNumbers
        && m_channels->roomAt() <= monotonicNanoseconds())
        wakeSender();
}

void LinuxPinger::armExpiryTimer()
{
    const std::optional<qint64> first = m_channels ? m_channels->nextDeadline() : std::nullopt;
    if (!first) {
        m_expiryTimer.stop();
        return;
    }
    m_expiryTimer.start(millisecondsUntil(*first, monotonicNanoseconds()));
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

} // namespace

std::unique_ptr<Pinger> createLocalPinger(const QString &arpHelper, QObject *parent)
{
    return std::make_unique<LinuxPinger>(true, PreopenedSocket{}, &openPacketSocket, arpHelper, 0, parent);
}

std::unique_ptr<Pinger> createRawPinger(PreopenedSocket raw, PacketSocketOpener openPacket, int expiryGraceMs,
                                        QObject *parent)
{
    return std::make_unique<LinuxPinger>(false, raw, std::move(openPacket), QString(), expiryGraceMs, parent);
}

QString icmpRefusedText(int datagramError, int rawError, const QString &capabilityHolder, bool throughHelper)
{
    return QStringLiteral("Vexal may not send ICMP echo requests: the system refused an ICMP datagram socket (%1) "
                          "and %2a raw socket (%3). Grant %4 the capability it needs with 'sudo setcap "
                          "cap_net_raw+ep %5', or let every group use ICMP datagram sockets with 'sudo sysctl -w "
                          "net.ipv4.ping_group_range=\"0 2147483647\"', or run Vexal as root.")
        .arg(errnoText(datagramError), throughHelper ? QStringLiteral("its helper ") : QString(),
             errnoText(rawError), throughHelper ? QStringLiteral("the helper") : QStringLiteral("the program"),
             capabilityHolder);
}

PreopenedSocket openPacketSocket()
{
    // Protocol 0: nothing is received until the resolver binds it to ARP.
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {-1, errno};
    // Only ARP replies for IPv4 over Ethernet addressed to this host (or
    // broadcast) are let in, 64 bytes of each; everything else on the link
    // stays in the kernel, however busy the link is.
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, quint32(SKF_AD_OFF + SKF_AD_PKTTYPE)),
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, PACKET_BROADCAST, 8, 0),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 0),  // hardware type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 1, 0, 6),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 2),  // protocol type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x0800, 0, 4),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),  // address lengths
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x0604, 0, 2),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 6),  // operation
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 2, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
        BPF_STMT(BPF_RET | BPF_K, 64),
    };
    const sock_fprog program{std::size(code), code};
    if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0) {
        const int error = errno;
        ::close(fd);
        return {-1, error};
    }
    return {fd, 0};
}

PreopenedSocket openRawIcmpSocket()
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return {-1, errno};
    // Until a pinger takes it, nothing is queued on it; it may wait a while
    // for the first Start, or never be used. A socket that cannot be kept
    // quiet is not kept.
    sock_filter none = BPF_STMT(BPF_RET | BPF_K, 0);
    const sock_fprog program{1, &none};
    if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0) {
        const int error = errno;
        ::close(fd);
        return {-1, error};
    }
    return {fd, 0};
}

} // namespace vexal
