#include "sweep/helperprocess_linux.h"
#include "sweep/helperprotocol.h"
#include "sweep/neighbourtable_linux.h"
#include "sweep/pinger.h"
#include "sweep/pingers_linux.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace vexal {

namespace {

// Targets handed to the helper and not yet reported back, at most: enough
// that it never runs dry while this process draws a frame of the window
// (tens of milliseconds), and nothing is counted as an attempt before the
// helper has dealt with it. A Stop still sends little more: the helper
// reads its socket between every few hundred sends.
constexpr int MaxAhead = 8192;
// A sweep without a delay offers this many a turn: forwarding them costs
// this process little, and the helper has the next at hand.
constexpr int TargetsPerTurn = 8192;
// How long the helper may take to answer Collect.
constexpr int CollectWaitMs = 2000;
// Slack for the report of the last request to cross from the helper.
constexpr int ReportSlackMs = 50;

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Sends through the helper program, which holds the raw socket this process
// may not have. The helper is started at the first open().
class HelperPinger final : public Pinger
{
public:
    // `datagramError` is why this process may not use an ICMP datagram
    // socket, for a refusal that says what to do when the helper cannot
    // help either.
    HelperPinger(const QString &program, int datagramError, QObject *parent);

    bool open() override;
    QString errorText() const override { return m_error; }
    QString mechanism() const override { return QStringLiteral("helper"); }
    void setTimeout(int milliseconds) override
    {
        m_timeout = std::clamp(milliseconds, helper::MinTimeoutMs, helper::MaxTimeoutMs);
    }
    int timeout() const override { return m_timeout; }
    void setPacketSize(int dataBytes) override
    {
        m_dataSize = std::clamp(dataBytes, helper::MinDataBytes, helper::MaxDataBytes);
    }
    int packetSize() const override { return m_dataSize; }
    using Pinger::send;
    qsizetype send(std::span<const Ipv4> targets, SendRefusals &refusals) override;
    void cancel() override;
    qint64 outstanding() const override { return m_outstanding; }
    int drainMilliseconds() const override { return std::max<int>(m_timeout, int(m_drainMs)) + ReportSlackMs; }
    int targetsPerTurn() const override { return TargetsPerTurn; }
    void collect() override;
    std::optional<HardwareAddress> hardwareAddress(Ipv4 address) const override
    {
        if (const auto known = m_hardware.find(address); known != m_hardware.end())
            return known->second;
        return kernelHardwareAddress(address);
    }

private:
    void onReceived(const helper::FromHelper &message);
    void handle(const helper::Report &report);
    void onGone(const QString &why);

    HelperProcess m_process;
    const int m_datagramError;
    QString m_error;
    int m_timeout = PingerDefaultTimeoutMs;
    int m_dataSize = PingerDefaultDataSize;

    // Settings last sent, so a change goes before the next targets.
    int m_sentTimeout = -1;
    int m_sentDataSize = -1;
    quint32 m_epoch = 0;
    quint32 m_token = 0;
    // Of the targets the caller offers next: how many were handed over, and
    // how many of those the helper has dealt with (refusals among them).
    qint64 m_forwarded = 0;
    qint64 m_dealt = 0;
    SendRefusals m_refusals;
    qint64 m_outstanding = 0;
    quint32 m_drainMs = 0;
    bool m_senderWaiting = false;
    std::unordered_map<Ipv4, HardwareAddress> m_hardware;
};

HelperPinger::HelperPinger(const QString &program, int datagramError, QObject *parent)
    : Pinger(parent)
    , m_process(program)
    , m_datagramError(datagramError)
{
    connect(&m_process, &HelperProcess::received, this, &HelperPinger::onReceived);
    connect(&m_process, &HelperProcess::gone, this, &HelperPinger::onGone);
}

bool HelperPinger::open()
{
    if (m_process.running())
        return true;
    m_sentTimeout = -1;
    m_sentDataSize = -1;
    m_epoch = 0;
    if (!m_process.start()) {
        m_error = m_process.spawnError() != 0 && m_datagramError != 0
            ? QStringLiteral("Vexal may not send ICMP echo requests: the system refused an ICMP datagram socket "
                             "(%1), and Vexal cannot start its helper %2 (%3). Reinstall Vexal, or let every group "
                             "use ICMP datagram sockets with 'sudo sysctl -w net.ipv4.ping_group_range=\"0 "
                             "2147483647\"', or run Vexal as root.")
                  .arg(errnoText(m_datagramError), m_process.program(), errnoText(m_process.spawnError()))
            : m_process.error();
        return false;
    }
    const int rawError = m_process.hello().rawError;
    if (rawError != 0) {
        m_process.stop();
        m_error = (rawError == EPERM || rawError == EACCES) && m_datagramError != 0
            ? icmpRefusedText(m_datagramError, rawError, m_process.program(), true)
            : QStringLiteral("Vexal's helper cannot open a raw ICMP socket: %1.").arg(errnoText(rawError));
        return false;
    }
    m_error.clear();
    return true;
}

qsizetype HelperPinger::send(std::span<const Ipv4> targets, SendRefusals &refusals)
{
    const qsizetype count = qsizetype(targets.size());
    // The caller offers again what it offered before, from the first target
    // it has not been told about: those the helper has dealt with are
    // reported now, with their refusals.
    const qsizetype reported = std::min<qsizetype>(m_dealt, count);
    auto refused = m_refusals.begin();
    for (; refused != m_refusals.end() && refused->index < reported; ++refused)
        refusals.push_back(*refused);
    m_refusals.erase(m_refusals.begin(), refused);
    for (SendRefusal &later : m_refusals)
        later.index -= reported;
    m_dealt -= reported;
    m_forwarded = std::max<qint64>(0, m_forwarded - reported);
    if (reported == count)
        return count;

    // A helper that ended has reported all it was handed (see onGone()); one
    // is started again for the rest.
    if (!open()) {
        for (qsizetype i = reported; i < count; ++i)
            refusals.push_back({i, m_error});
        return count;
    }
    if (m_sentTimeout != m_timeout || m_sentDataSize != m_dataSize) {
        m_process.post(helper::Configure{quint32(m_timeout), quint16(m_dataSize)});
        m_sentTimeout = m_timeout;
        m_sentDataSize = m_dataSize;
    }
    helper::Send message;
    qsizetype next = reported + m_forwarded;
    while (next < count && m_forwarded < MaxAhead) {
        const qsizetype chunk = std::min<qsizetype>({count - next, helper::MaxTargetsPerMessage, MaxAhead - m_forwarded});
        message.targets.assign(targets.begin() + next, targets.begin() + next + chunk);
        m_process.post(message);
        m_forwarded += chunk;
        next += chunk;
    }
    m_senderWaiting = true;
    return reported;
}

void HelperPinger::onReceived(const helper::FromHelper &message)
{
    if (const auto *report = std::get_if<helper::Report>(&message); report && report->epoch == m_epoch)
        handle(*report);
}

void HelperPinger::handle(const helper::Report &report)
{
    const quint32 epoch = m_epoch;
    for (const helper::Refusal &refusal : report.refusals)
        m_refusals.push_back({qsizetype(m_dealt + refusal.index), errnoText(refusal.error), refusal.error});
    m_dealt += report.dealt;
    m_outstanding = qint64(report.outstanding) + qint64(report.replies.size());
    m_drainMs = report.drainMs;
    // The sender first, so that every request is counted before its reply.
    if (report.dealt > 0 && m_senderWaiting) {
        m_senderWaiting = false;
        emit ready();
        if (epoch != m_epoch)
            return; // cancelled from a handler
    }
    for (const helper::Hardware &learned : report.hardware) {
        m_hardware[learned.address] = learned.hardware;
        emit hardwareAddressLearned(learned.address, packHardwareAddress(learned.hardware));
    }
    for (const helper::Reply &reply : report.replies) {
        --m_outstanding;
        emit replied(reply.address, reply.roundTripMicroseconds);
        if (epoch != m_epoch)
            return;
    }
    for (const Ipv4 address : report.unanswered) {
        emit unanswered(address);
        if (epoch != m_epoch)
            return;
    }
    if (report.settled && m_outstanding == 0)
        emit settled();
}

void HelperPinger::cancel()
{
    ++m_epoch;
    m_forwarded = 0;
    m_dealt = 0;
    m_refusals.clear();
    m_outstanding = 0;
    m_drainMs = 0;
    m_senderWaiting = false;
    m_process.post(helper::Cancel{m_epoch});
}

void HelperPinger::collect()
{
    // A reply that arrived in time may still be on its way across: the
    // helper's answer comes after everything it sent before.
    const quint32 token = ++m_token;
    m_process.post(helper::Collect{token});
    m_process.waitForCollected(token, CollectWaitMs);
}

void HelperPinger::onGone(const QString &why)
{
    m_error = why;
    std::fprintf(stderr, "Vexal: %s\n", qPrintable(why));
    std::fflush(stderr);
    m_process.stop();
    // What was handed over and not reported may or may not have left: none
    // of it will be answered now. It is refused, as a send the system
    // refuses, and nothing is outstanding any more.
    for (qint64 i = m_dealt; i < m_forwarded; ++i)
        m_refusals.push_back({qsizetype(i), m_error});
    m_dealt = m_forwarded;
    const bool waited = m_outstanding > 0;
    m_outstanding = 0;
    if (m_senderWaiting) {
        m_senderWaiting = false;
        emit ready();
    }
    if (waited)
        emit settled();
}

} // namespace

std::unique_ptr<Pinger> createHelperPinger(const QString &program, int datagramError, QObject *parent)
{
    return std::make_unique<HelperPinger>(program, datagramError, parent);
}

QString helperProgramPath()
{
    // The helper lies where the install put it, relative to this program.
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QDir::cleanPath(QFileInfo(self).absolutePath() + QLatin1Char('/') + QStringLiteral(VEXAL_HELPER_FROM_BINARY));
}

} // namespace vexal
