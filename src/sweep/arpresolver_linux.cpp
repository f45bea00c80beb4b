#include "sweep/arpresolver_linux.h"

#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vexal {

namespace {

// A steady pace of small broadcasts (20,000 a second is about 10 Mbit/s, a
// hundredth of a gigabit link) with a short burst, tried as the kernel would,
// three times a second apart, and given a last second to answer. A silent /16
// costs three questions an address, so that is about ten seconds. At most
// MaxUnasked wait for their first question; the sweep waits beyond that.
constexpr double QuestionsPerNanosecond = 20'000 / 1e9;
constexpr double Burst = 64;
constexpr int Tries = 3;
constexpr qint64 TryIntervalNs = 1'000'000'000;
constexpr std::size_t MaxUnasked = 4096;
// Frames read per wake of the socket; the notifier comes back for the rest,
// so a flood of ARP on a busy link never holds the event loop.
constexpr int FramesPerWake = 256;

qint64 monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int millisecondsUntil(qint64 when, qint64 now)
{
    return int(std::clamp<qint64>((when - now + 999'999) / 1'000'000, 0, 60'000));
}

constexpr HardwareAddress Broadcast{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

} // namespace

LocalArpResolver::LocalArpResolver(PacketSocketOpener openSocket, LinkMap &links, QObject *parent)
    : ArpResolver(parent)
    , m_openSocket(std::move(openSocket))
    , m_links(links)
    , m_tokens(Burst)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LocalArpResolver::pump);
}

LocalArpResolver::~LocalArpResolver()
{
    close();
}

bool LocalArpResolver::available()
{
    if (m_fd >= 0)
        return true;
    if (m_openFailed)
        return false;
    const PreopenedSocket opened = m_openSocket ? m_openSocket() : PreopenedSocket{};
    if (opened.fd < 0) {
        m_openFailed = true;
        return false;
    }
    m_fd = opened.fd;
    int size = 1024 * 1024;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LocalArpResolver::pump);
    return true;
}

void LocalArpResolver::close()
{
    if (m_fd < 0)
        return;
    // The notifier must let go of the descriptor before it is closed; it
    // may be the one whose signal is being handled, so it goes later.
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    m_listening = false;
}

bool LocalArpResolver::ask(Ipv4 target, const LinkRoute &route)
{
    if (!available())
        return false;
    if (m_unasked.size() >= MaxUnasked) {
        m_refused = true;
        return false;
    }
    auto [entry, added] = m_resolving.try_emplace(target, Resolving{0, 0, route.interfaceIndex, route.source, 0});
    ++entry->second.copies;
    ++m_waitingCopies;
    if (added)
        m_unasked.push_back(target);
    listen();
    if (!m_timer.isActive())
        m_timer.start(0);
    return true;
}

int LocalArpResolver::drainMilliseconds() const
{
    if (m_resolving.empty())
        return 0;
    // The questions still to come, at the pace of those before them, then
    // every try of the last one.
    const qint64 paced = qint64(double(m_unasked.size()) / QuestionsPerNanosecond);
    return int((paced + Tries * TryIntervalNs) / 1'000'000) + 100;
}

void LocalArpResolver::cancel()
{
    m_resolving.clear();
    m_unasked.clear();
    m_asked.clear();
    m_answers.clear();
    m_waitingCopies = 0;
    m_refused = false;
    m_openFailed = false;
    m_timer.stop();
    close();
}

void LocalArpResolver::pump()
{
    read();
    const qint64 now = monotonicNs();
    m_tokens = std::min(Burst, m_tokens + double(now - m_tokensAt) * QuestionsPerNanosecond);
    m_tokensAt = now;
    while (!m_asked.empty() && m_asked.front().due <= now) {
        const Asked record = m_asked.front();
        const auto entry = m_resolving.find(record.target);
        if (entry != m_resolving.end() && entry->second.serial == record.serial) {
            if (entry->second.tries >= Tries) {
                // No answer to the last try either: nothing can be sent.
                const int copies = entry->second.copies;
                m_waitingCopies -= copies;
                m_resolving.erase(entry);
                emit gaveUp(record.target, copies);
            } else if (m_tokens < 1 || !sendQuestion(record.target, entry->second)) {
                break;
            }
        }
        m_asked.pop_front();
    }
    while (!m_unasked.empty() && m_tokens >= 1) {
        const auto entry = m_resolving.find(m_unasked.front());
        if (entry != m_resolving.end() && entry->second.tries == 0 && !sendQuestion(entry->first, entry->second))
            break;
        m_unasked.pop_front();
    }
    if (m_refused && m_unasked.size() < MaxUnasked / 2) {
        m_refused = false;
        emit moreWelcome();
    }
    if (m_resolving.empty())
        close();
    if (!m_unasked.empty())
        m_timer.start(1);
    else if (!m_asked.empty())
        m_timer.start(millisecondsUntil(m_asked.front().due, now));
}

bool LocalArpResolver::sendQuestion(Ipv4 target, Resolving &entry)
{
    // The link's address as it is now: it may have changed since the last
    // question, and an answer to an address nobody has never comes.
    const std::optional<HardwareAddress> ours = m_links.hardwareAddress(entry.interfaceIndex);
    if (ours) {
        const auto request = arpRequest(*ours, entry.source, target);
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(ETH_P_ARP);
        to.sll_ifindex = entry.interfaceIndex;
        to.sll_halen = quint8(Broadcast.size());
        std::copy(Broadcast.begin(), Broadcast.end(), to.sll_addr);
        if (::sendto(m_fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0
            && (errno == ENOBUFS || errno == EAGAIN || errno == EWOULDBLOCK))
            return false; // a full device queue: the same try, a little later
    }
    // Any other failure (the link went down, or no longer does ARP) counts
    // as a try unanswered.
    m_tokens -= 1;
    entry.tries += 1;
    entry.serial = ++m_serial;
    m_asked.push_back({monotonicNs() + TryIntervalNs, target, entry.serial});
    return true;
}

void LocalArpResolver::read()
{
    if (!m_listening)
        return;
    bool any = false;
    std::array<quint8, 64> message;
    for (int i = 0; i < FramesPerWake; ++i) {
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, message.data(), message.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr *>(&from), &length);
        if (n < 0)
            break;
        // Only a reply to this host, from a station, answering the question
        // as it was asked on that link: a frame overheard for another host
        // (a bridge, promiscuous mode) or an unasked reply is nobody's answer.
        if (from.sll_pkttype != PACKET_HOST && from.sll_pkttype != PACKET_BROADCAST)
            continue;
        const std::optional<ArpAnswer> answer = parseArpReply(std::span(message.data(), std::size_t(n)));
        if (!answer)
            continue;
        const auto entry = m_resolving.find(answer->sender);
        if (entry == m_resolving.end() || entry->second.tries == 0
            || entry->second.interfaceIndex != from.sll_ifindex || entry->second.source != answer->target)
            continue;
        for (int copy = 0; copy < entry->second.copies; ++copy)
            m_answers.push_back({entry->first, answer->address});
        m_waitingCopies -= entry->second.copies;
        m_resolving.erase(entry);
        any = true;
    }
    if (any)
        emit answered();
}

void LocalArpResolver::listen()
{
    if (m_listening || m_fd < 0)
        return;
    sockaddr_ll bound{};
    bound.sll_family = AF_PACKET;
    bound.sll_protocol = htons(ETH_P_ARP);
    m_listening = ::bind(m_fd, reinterpret_cast<const sockaddr *>(&bound), sizeof bound) == 0;
}

} // namespace vexal
