#include "sweep/helperprotocol.h"
#include "sweep/pinger.h"
#include "sweep/pingers_linux.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vexal {

namespace {

// Targets handed to the helper and not yet reported back, at most: a turn's
// worth, so a Stop leaves little unsent and nothing is counted before the
// helper has really dealt with it.
constexpr int MaxAhead = 2048;
// How long the helper may take to say hello, and to answer Collect.
constexpr int HelloWaitMs = 5000;
constexpr int CollectWaitMs = 2000;
// Slack for the report of the last request to cross from the helper.
constexpr int ReportSlackMs = 50;

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

class HelperPinger final : public Pinger
{
public:
    // `datagramError` is why this process may not use an ICMP datagram
    // socket, for the message that says what to do when the helper cannot
    // help either.
    HelperPinger(const QString &program, int datagramError, QObject *parent);
    ~HelperPinger() override;

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
    void collect() override;

private:
    bool start();
    void stop();
    void post(const helper::ToHelper &message);
    void flush();
    // Reads what the helper has sent; stops early at a Collected for `token`.
    bool readMessages(std::optional<quint32> token = std::nullopt);
    void handle(const helper::Report &report);
    void helperGone(const QString &why);

    const QString m_program;
    const int m_datagramError;
    QString m_error;
    int m_timeout = 300;
    int m_dataSize = 64;

    int m_fd = -1;
    pid_t m_pid = -1;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    std::deque<std::vector<quint8>> m_outbox;
    std::vector<quint8> m_buffer;

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
    bool m_broken = false;
};

HelperPinger::HelperPinger(const QString &program, int datagramError, QObject *parent)
    : Pinger(parent)
    , m_program(program)
    , m_datagramError(datagramError)
{
    m_buffer.resize(helper::MaxMessageBytes + 1);
}

HelperPinger::~HelperPinger()
{
    stop();
}

bool HelperPinger::open()
{
    if (m_fd >= 0)
        return true;
    return start();
}

bool HelperPinger::start()
{
    m_broken = false;
    m_sentTimeout = -1;
    m_sentDataSize = -1;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        m_error = QStringLiteral("Vexal cannot start its helper: %1.").arg(errnoText(errno));
        return false;
    }
    // The helper's end becomes its standard input; the other stays here,
    // away from anything else this process starts (close-on-exec).
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawnattr_init(&attributes);
    // A group of its own: a Ctrl+C meant for Vexal in a terminal leaves the
    // helper to end when Vexal lets go of it, after the stop sequence.
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    const QByteArray path = QFile::encodeName(m_program);
    char *const argv[] = {const_cast<char *>(path.constData()), nullptr};
    char *const noEnvironment[] = {nullptr};
    // If the descriptor happened to be 0 already, dup2 would leave its
    // close-on-exec flag set; it is not, as socketpair() takes the lowest
    // free ones and 0 to 2 are open in any process started normally.
    const int spawned = pair[1] > 2 ? ::posix_spawn(&m_pid, path.constData(), &actions, &attributes, argv,
                                                    noEnvironment)
                                    : EBADF;
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    if (spawned != 0) {
        ::close(pair[0]);
        m_pid = -1;
        m_error = m_datagramError != 0
            ? QStringLiteral("Vexal may not send ICMP echo requests: the system refused an ICMP datagram socket "
                             "(%1), and Vexal cannot start its helper %2 (%3). Reinstall Vexal, or let every group "
                             "use ICMP datagram sockets with 'sudo sysctl -w net.ipv4.ping_group_range=\"0 "
                             "2147483647\"', or run Vexal as root.")
                  .arg(errnoText(m_datagramError), m_program, errnoText(spawned))
            : QStringLiteral("Vexal cannot start its helper %1: %2.").arg(m_program, errnoText(spawned));
        return false;
    }
    m_fd = pair[0];

    // The hello says what the helper could open; nothing else comes first.
    pollfd readable{m_fd, POLLIN, 0};
    const ssize_t length = ::poll(&readable, 1, HelloWaitMs) == 1
        ? ::recv(m_fd, m_buffer.data(), m_buffer.size(), 0)
        : -1;
    const auto hello = length > 0 ? helper::decodeFromHelper(std::span(m_buffer.data(), std::size_t(length)))
                                  : std::nullopt;
    if (!hello || !std::holds_alternative<helper::Hello>(*hello)
        || std::get<helper::Hello>(*hello).version != helper::ProtocolVersion) {
        stop();
        m_error = QStringLiteral("Vexal's helper %1 did not answer as this version of Vexal expects; "
                                 "reinstall Vexal, or restart it after an upgrade.")
                      .arg(m_program);
        return false;
    }
    const int rawError = std::get<helper::Hello>(*hello).rawError;
    if (rawError != 0) {
        stop();
        m_error = (rawError == EPERM || rawError == EACCES) && m_datagramError != 0
            ? icmpRefusedText(m_datagramError, rawError, m_program, true)
            : QStringLiteral("Vexal's helper cannot open a raw ICMP socket: %1.").arg(errnoText(rawError));
        return false;
    }
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { readMessages(); });
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &HelperPinger::flush);
    m_error.clear();
    return true;
}

void HelperPinger::stop()
{
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_outbox.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_pid <= 0)
        return;
    // The helper ends as soon as it sees its socket closed; one that does
    // not within a second is ended.
    const QDeadlineTimer deadline(1000);
    while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
        if (deadline.hasExpired()) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        ::usleep(1000);
    }
    m_pid = -1;
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

    if (m_broken) {
        // Started again for the rest: it ended while nothing was handed over
        // that it has not reported.
        stop();
        m_forwarded = 0;
        m_dealt = 0;
        m_refusals.clear();
    }
    if (!open()) {
        for (qsizetype i = reported; i < count; ++i)
            refusals.push_back({i, m_error});
        return count;
    }
    if (m_sentTimeout != m_timeout || m_sentDataSize != m_dataSize) {
        post(helper::Configure{quint32(m_timeout), quint16(m_dataSize)});
        m_sentTimeout = m_timeout;
        m_sentDataSize = m_dataSize;
    }
    // Hands over the rest, as far as the helper should run ahead.
    helper::Send message;
    qsizetype next = reported + m_forwarded;
    while (next < count && m_forwarded < MaxAhead) {
        const qsizetype chunk = std::min<qsizetype>({count - next, helper::MaxTargetsPerMessage, MaxAhead - m_forwarded});
        message.targets.assign(targets.begin() + next, targets.begin() + next + chunk);
        post(message);
        m_forwarded += chunk;
        next += chunk;
    }
    flush();
    m_senderWaiting = true;
    return reported;
}

void HelperPinger::post(const helper::ToHelper &message)
{
    std::vector<quint8> bytes;
    helper::encode(message, bytes);
    m_outbox.push_back(std::move(bytes));
}

void HelperPinger::flush()
{
    while (!m_outbox.empty() && m_fd >= 0) {
        const std::vector<quint8> &bytes = m_outbox.front();
        if (::send(m_fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier->setEnabled(true);
                return;
            }
            if (errno == EINTR)
                continue;
            helperGone(errnoText(errno));
            return;
        }
        m_outbox.pop_front();
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

bool HelperPinger::readMessages(std::optional<quint32> token)
{
    // Bounded, so a flood of reports cannot hold the event loop; the
    // notifier comes back for the rest.
    for (int i = 0; i < 256 && m_fd >= 0; ++i) {
        const ssize_t length = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0) {
            helperGone(length == 0 ? QStringLiteral("it ended") : errnoText(errno));
            return false;
        }
        const auto message = std::size_t(length) <= helper::MaxMessageBytes
            ? helper::decodeFromHelper(std::span(m_buffer.data(), std::size_t(length)))
            : std::nullopt;
        if (!message) {
            helperGone(QStringLiteral("it sent a message this version of Vexal does not know"));
            return false;
        }
        if (const auto *report = std::get_if<helper::Report>(&*message)) {
            if (report->epoch == m_epoch)
                handle(*report);
        } else if (const auto *collected = std::get_if<helper::Collected>(&*message)) {
            if (token && collected->epoch == m_epoch && collected->token == *token)
                return true;
        }
    }
    return false;
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
    for (const Ipv4 address : report.replies) {
        --m_outstanding;
        emit replied(address);
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
    if (m_fd >= 0 && !m_broken) {
        post(helper::Cancel{m_epoch});
        flush();
    }
}

void HelperPinger::collect()
{
    if (m_fd < 0 || m_broken)
        return;
    const quint32 token = ++m_token;
    post(helper::Collect{token});
    flush();
    // A reply that arrived in time may still be on its way across: wait for
    // the helper's answer, which comes after everything before it.
    const QDeadlineTimer deadline(CollectWaitMs);
    while (m_fd >= 0 && !m_broken && !deadline.hasExpired()) {
        if (readMessages(token))
            return;
        pollfd readable{m_fd, POLLIN, 0};
        if (!m_outbox.empty())
            readable.events |= POLLOUT;
        ::poll(&readable, 1, int(std::max<qint64>(1, deadline.remainingTime())));
        if (readable.revents & POLLOUT)
            flush();
    }
}

void HelperPinger::helperGone(const QString &why)
{
    if (m_broken)
        return;
    m_broken = true;
    m_error = QStringLiteral("Vexal's helper %1 stopped working (%2).").arg(m_program, why);
    std::fprintf(stderr, "Vexal: %s\n", qPrintable(m_error));
    std::fflush(stderr);
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
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
