#include "sweep/helperprocess_linux.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vexal {

namespace {

// How long the helper may take to say hello.
constexpr int HelloWaitMs = 5000;
// Messages read per wake, so a flood cannot hold the event loop.
constexpr int MessagesPerWake = 256;

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

} // namespace

HelperProcess::HelperProcess(const QString &program, QObject *parent)
    : QObject(parent)
    , m_program(program)
{
    m_buffer.resize(helper::MaxMessageBytes + 1);
}

HelperProcess::~HelperProcess()
{
    stop();
}

bool HelperProcess::start()
{
    stop();
    m_broken = false;
    m_spawnError = 0;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        m_spawnError = errno;
        m_error = QStringLiteral("Vexal cannot start its helper: %1.").arg(errnoText(m_spawnError));
        return false;
    }
    // The helper's end becomes its standard input; ours stays here, away
    // from anything else this process starts (close-on-exec).
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawnattr_init(&attributes);
    // A process group of its own: a Ctrl+C meant for Vexal in a terminal
    // leaves the helper to end when Vexal lets go of it, after the stop
    // sequence.
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    const QByteArray path = QFile::encodeName(m_program);
    char *const argv[] = {const_cast<char *>(path.constData()), nullptr};
    char *const noEnvironment[] = {nullptr};
    // dup2() onto 0 clears close-on-exec, unless the descriptor is 0 already;
    // it is not, as 0 to 2 are open in any process started normally.
    m_spawnError = pair[1] > 2
        ? ::posix_spawn(&m_pid, path.constData(), &actions, &attributes, argv, noEnvironment)
        : EBADF;
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    if (m_spawnError != 0) {
        ::close(pair[0]);
        m_pid = -1;
        m_error = QStringLiteral("Vexal cannot start its helper %1: %2.").arg(m_program, errnoText(m_spawnError));
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
    m_hello = std::get<helper::Hello>(*hello);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { readMessages(); });
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &HelperProcess::flush);
    m_error.clear();
    return true;
}

void HelperProcess::stop()
{
    // A handler of received() or gone() may stop the helper from inside the
    // notifier's own signal: the notifiers go later, the descriptor now.
    for (QSocketNotifier *notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
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

void HelperProcess::post(const helper::ToHelper &message)
{
    if (!running())
        return;
    std::vector<quint8> bytes;
    helper::encode(message, bytes);
    m_outbox.push_back(std::move(bytes));
    flush();
}

void HelperProcess::flush()
{
    while (!m_outbox.empty() && running()) {
        const std::vector<quint8> &bytes = m_outbox.front();
        if (::send(m_fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier->setEnabled(true);
                return;
            }
            broke(errnoText(errno));
            return;
        }
        m_outbox.pop_front();
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

bool HelperProcess::readMessages(std::optional<quint32> token)
{
    for (int i = 0; i < MessagesPerWake && running(); ++i) {
        const ssize_t length = ::recv(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT);
        if (length < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0) {
            broke(length == 0 ? QStringLiteral("it ended") : errnoText(errno));
            return false;
        }
        const auto message = std::size_t(length) <= helper::MaxMessageBytes
            ? helper::decodeFromHelper(std::span(m_buffer.data(), std::size_t(length)))
            : std::nullopt;
        if (!message) {
            broke(QStringLiteral("it sent a message this version of Vexal does not know"));
            return false;
        }
        if (const auto *collected = std::get_if<helper::Collected>(&*message); collected && token
            && collected->token == *token)
            return true;
        emit received(*message);
    }
    return false;
}

bool HelperProcess::waitForCollected(quint32 token, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (running() && !deadline.hasExpired()) {
        if (readMessages(token))
            return true;
        pollfd ready{m_fd, POLLIN, 0};
        if (!m_outbox.empty())
            ready.events |= POLLOUT;
        ::poll(&ready, 1, int(std::max<qint64>(1, deadline.remainingTime())));
        if (ready.revents & POLLOUT)
            flush();
    }
    return false;
}

void HelperProcess::broke(const QString &why)
{
    if (m_broken)
        return;
    m_broken = true;
    m_error = QStringLiteral("Vexal's helper %1 stopped working (%2).").arg(m_program, why);
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    emit gone(m_error);
}

} // namespace vexal
