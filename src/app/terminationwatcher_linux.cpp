#include "app/terminationwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vexal {

namespace {

/*
 * A signal handler may do almost nothing safely, and certainly not touch Qt.
 * The classic self-pipe: the handler writes the signal number into a pipe,
 * and the event loop reads it through a socket notifier, where the stop
 * sequence may run like any other event handler.
 */
int g_pipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationWatcher::TerminationWatcher(QObject *parent)
    : QObject(parent)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1)
            emit terminationRequested(int(byte));
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_watching = true;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        m_watching = ::sigaction(signalNumber, &action, nullptr) == 0 && m_watching;
    // A file-size limit (ulimit -f) would otherwise kill the process, with
    // its logs unclosed, at the first write past it. Ignored, that write
    // fails with EFBIG instead, and the log deals with it as with any failed
    // write: the lines wait, and standard error says if they are given up.
    ::signal(SIGXFSZ, SIG_IGN);
    // A monitor's change lines go to a pipe (a journal, a script) whose
    // reader may go away: the write then fails with EPIPE, and the sweep and
    // its logs go on, rather than the process dying unstopped.
    ::signal(SIGPIPE, SIG_IGN);
}

TerminationWatcher::~TerminationWatcher()
{
    // Back to the default: a signal after the watcher is gone ends the
    // process at once, as it would have without one.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

} // namespace vexal
