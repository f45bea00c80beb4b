#include "helper/pingservice.h"

#include "sweep/arpresolver_linux.h"
#include "sweep/linkmap_linux.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <poll.h>
#include <sys/socket.h>

namespace vexal {

namespace {

// While this much waits to reach Vexal, nothing more is read from it.
constexpr std::size_t MaxOutboxBytes = 4 * 1024 * 1024;
// Refused messages are told on standard error up to this many times.
constexpr int RefusalsTold = 10;
// Targets sent between reports and reads of the socket.
constexpr std::size_t ChunkTargets = 256;

} // namespace

PingService::PingService(int fd, Pinger &pinger, PacketSocketOpener openPacket, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
    , m_pinger(pinger)
    , m_openPacket(std::move(openPacket))
{
    m_buffer.resize(helper::MaxMessageBytes + 1);
    m_queue.reserve(MaxQueued);
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PingService::onReadable);
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PingService::flush);

    connect(&m_pinger, &Pinger::replied, this, [this](quint32 address, quint32 roundTrip) {
        m_report.replies.push_back({address, roundTrip});
        if (int(m_report.replies.size()) >= helper::MaxRepliesPerMessage)
            report();
    });
    connect(&m_pinger, &Pinger::unanswered, this, [this](quint32 address) {
        m_report.unanswered.push_back(address);
        if (int(m_report.unanswered.size()) >= helper::MaxUnansweredPerMessage)
            report();
    });
    connect(&m_pinger, &Pinger::hardwareAddressLearned, this, [this](quint32 address, quint64 hardware) {
        m_report.hardware.push_back({address, unpackHardwareAddress(hardware)});
        if (int(m_report.hardware.size()) >= helper::MaxHardwarePerMessage)
            report();
    });
    connect(&m_pinger, &Pinger::settled, this, [this] { m_report.settled = true; });
    connect(&m_pinger, &Pinger::ready, this, &PingService::pump);
    // Whatever happened in one turn of the event loop (a drain of replies,
    // an expiry) goes to Vexal in one report before the helper sleeps.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { report(); });
}

PingService::~PingService()
{
    delete m_readNotifier;
    delete m_writeNotifier;
}

void PingService::greet(const helper::Hello &hello)
{
    post(hello);
    flush();
}

void PingService::onReadable()
{
    readMessages();
    pump();
}

void PingService::readMessages()
{
    for (int i = 0; i < 64; ++i) {
        const ssize_t length = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (length <= 0) {
            m_readNotifier->setEnabled(false);
            m_queue.clear();
            m_queueHead = 0;
            emit peerGone();
            return;
        }
        const std::optional<helper::ToHelper> message =
            std::size_t(length) <= helper::MaxMessageBytes
            ? helper::decodeToHelper(std::span(m_buffer.data(), std::size_t(length)))
            : std::nullopt;
        if (message)
            handle(*message);
        else
            refuse("a message that is not one of Vexal's");
        if (m_outboxBytes > MaxOutboxBytes) {
            // Vexal is behind: no more work until it has read what is done.
            m_readNotifier->setEnabled(false);
            break;
        }
    }
}

void PingService::handle(const helper::ToHelper &message)
{
    if (const auto *configure = std::get_if<helper::Configure>(&message)) {
        m_pinger.setTimeout(int(configure->timeoutMs));
        m_pinger.setPacketSize(configure->dataBytes);
    } else if (const auto *send = std::get_if<helper::Send>(&message)) {
        if (m_queue.size() - m_queueHead + send->targets.size() > std::size_t(MaxQueued)) {
            refuse("more targets than it holds at once");
            return;
        }
        m_queue.insert(m_queue.end(), send->targets.begin(), send->targets.end());
    } else if (const auto *questions = std::get_if<helper::Resolve>(&message)) {
        resolve(questions->targets);
    } else if (const auto *cancel = std::get_if<helper::Cancel>(&message)) {
        m_pinger.cancel();
        if (m_resolver)
            m_resolver->cancel();
        m_toResolve.clear();
        m_queue.clear();
        m_queueHead = 0;
        m_report = helper::Report{};
        m_report.epoch = cancel->epoch;
        m_resolved = helper::Resolved{};
        m_resolved.epoch = cancel->epoch;
        m_reportedOutstanding = 0;
    } else if (const auto *collect = std::get_if<helper::Collect>(&message)) {
        m_pinger.collect();
        report(true);
        post(helper::Collected{m_report.epoch, collect->token});
        flush();
    }
}

void PingService::refuse(const char *why)
{
    if (++m_refusedMessages <= RefusalsTold) {
        std::fprintf(stderr, "vexal-ping: refused %s%s\n", why,
                     m_refusedMessages == RefusalsTold ? " (no more of these are told)" : "");
        std::fflush(stderr);
    }
}

void PingService::pump()
{
    while (m_queueHead < m_queue.size()) {
        // A chunk at a time, each reported at once, so that Vexal counts
        // every attempt close to its send, and a Cancel already waiting is
        // read before the next chunk leaves: a Stop sends little more.
        m_refusals.clear();
        const std::size_t chunk = std::min<std::size_t>(m_queue.size() - m_queueHead, ChunkTargets);
        const std::span<const Ipv4> waiting(m_queue.data() + m_queueHead, chunk);
        const qsizetype dealt = m_pinger.send(waiting, m_refusals);
        for (const SendRefusal &refusal : m_refusals) {
            // The system's reason is sent as its number; Vexal words it.
            if (int(m_report.refusals.size()) >= helper::MaxRefusalsPerMessage)
                report();
            m_report.refusals.push_back(
                {quint32(m_report.dealt + quint32(refusal.index)), refusal.error > 0 ? refusal.error : EIO});
        }
        m_report.dealt += quint32(dealt);
        m_queueHead += std::size_t(dealt);
        report();
        if (dealt < qsizetype(chunk))
            break; // the pinger says ready() when it takes more
        pollfd readable{m_fd, POLLIN, 0};
        if (m_readNotifier->isEnabled() && ::poll(&readable, 1, 0) == 1)
            readMessages();
    }
    if (m_queueHead == m_queue.size()) {
        m_queue.clear();
        m_queueHead = 0;
    }
}

void PingService::resolve(const std::vector<Ipv4> &targets)
{
    if (m_toResolve.size() + targets.size() > std::size_t(MaxQueued) * 8) {
        refuse("more questions than it holds at once");
        return;
    }
    if (!m_resolver) {
        m_links = std::make_unique<LinkMap>();
        m_resolver = std::make_unique<LocalArpResolver>(m_openPacket, *m_links);
        connect(m_resolver.get(), &ArpResolver::answered, this, &PingService::takeAnswers);
        connect(m_resolver.get(), &ArpResolver::gaveUp, this, [this](quint32 target, int) {
            m_resolved.silent.push_back(target);
            if (int(m_resolved.silent.size()) >= helper::MaxResolvedPerMessage)
                report();
        });
        connect(m_resolver.get(), &ArpResolver::moreWelcome, this, &PingService::askQuestions);
    }
    m_toResolve.insert(m_toResolve.end(), targets.begin(), targets.end());
    askQuestions();
}

void PingService::askQuestions()
{
    while (!m_toResolve.empty()) {
        // Only a target the kernel routes on a link that does ARP is asked;
        // any other needs no question, and Vexal sends to it as it is.
        const Ipv4 target = m_toResolve.front();
        const LinkRoute route = m_links->route(target);
        if (route.unresolved() && m_resolver->available()) {
            if (!m_resolver->ask(target, route))
                return; // asked again after moreWelcome()
        } else {
            m_resolved.answered.push_back({target, {}});
            if (int(m_resolved.answered.size()) >= helper::MaxResolvedPerMessage)
                report();
        }
        m_toResolve.pop_front();
    }
}

void PingService::takeAnswers()
{
    for (const ArpResolver::Answer &answer : m_resolver->answers()) {
        m_resolved.answered.push_back({answer.target, answer.address});
        if (int(m_resolved.answered.size()) >= helper::MaxResolvedPerMessage)
            report();
    }
    m_resolver->answers().clear();
}

void PingService::report(bool evenIfUnchanged)
{
    if (!m_resolved.answered.empty() || !m_resolved.silent.empty()) {
        post(m_resolved);
        const quint32 epoch = m_resolved.epoch;
        m_resolved = helper::Resolved{};
        m_resolved.epoch = epoch;
        flush();
    }
    const qint64 outstanding = m_pinger.outstanding();
    if (!evenIfUnchanged && m_report.dealt == 0 && m_report.replies.empty() && m_report.unanswered.empty()
        && m_report.hardware.empty() && !m_report.settled
        && outstanding == m_reportedOutstanding)
        return;
    m_report.outstanding = quint32(outstanding);
    m_report.drainMs = quint32(m_pinger.drainMilliseconds());
    post(m_report);
    m_reportedOutstanding = outstanding;
    const quint32 epoch = m_report.epoch;
    m_report = helper::Report{};
    m_report.epoch = epoch;
    flush();
}

void PingService::post(const helper::FromHelper &message)
{
    std::vector<quint8> bytes;
    helper::encode(message, bytes);
    m_outboxBytes += bytes.size();
    m_outbox.push_back(std::move(bytes));
}

void PingService::flush()
{
    while (!m_outbox.empty()) {
        const std::vector<quint8> &bytes = m_outbox.front();
        if (::send(m_fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
                m_writeNotifier->setEnabled(true);
                return;
            }
            // The peer is gone; the read side says so.
            m_outbox.clear();
            m_outboxBytes = 0;
            break;
        }
        m_outboxBytes -= bytes.size();
        m_outbox.pop_front();
    }
    m_writeNotifier->setEnabled(false);
    if (m_outboxBytes <= MaxOutboxBytes / 2 && !m_readNotifier->isEnabled())
        m_readNotifier->setEnabled(true);
}

} // namespace vexal
