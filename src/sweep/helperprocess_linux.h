#pragma once

#include "sweep/helperprotocol.h"

#include <QObject>
#include <QString>

#include <deque>
#include <optional>
#include <vector>

#include <sys/types.h>

class QSocketNotifier;

namespace vexal {

// The helper program as a child of this process (Linux): started over a
// socket pair with a clean environment, read from the event loop, written
// to without ever blocking, and ended when this object goes.
class HelperProcess final : public QObject
{
    Q_OBJECT

public:
    explicit HelperProcess(const QString &program, QObject *parent = nullptr);
    ~HelperProcess() override;

    const QString &program() const { return m_program; }

    // Starts the helper and reads its hello. False when it could not be
    // started (spawnError() is the errno) or did not say hello as this
    // version expects; error() then says so.
    bool start();
    bool running() const { return m_fd >= 0 && !m_broken; }
    const helper::Hello &hello() const { return m_hello; }
    int spawnError() const { return m_spawnError; }
    const QString &error() const { return m_error; }
    // Ends the helper: it sees its socket closed and ends by itself.
    void stop();

    // Queues a message and sends what the socket takes now.
    void post(const helper::ToHelper &message);
    // Reads what has arrived (a bounded number of messages) and hands each
    // to received(); true when one was Collected with `token`.
    bool readMessages(std::optional<quint32> token = std::nullopt);
    // Reads and sends until Collected with `token` arrives, at most `ms`.
    bool waitForCollected(quint32 token, int ms);

signals:
    void received(const helper::FromHelper &message);
    // The helper ended or broke the protocol while running; `why` in words.
    void gone(const QString &why);

private:
    void flush();
    void broke(const QString &why);

    const QString m_program;
    QString m_error;
    int m_spawnError = 0;
    helper::Hello m_hello;
    int m_fd = -1;
    pid_t m_pid = -1;
    bool m_broken = false;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    std::deque<std::vector<quint8>> m_outbox;
    std::vector<quint8> m_buffer;
};

} // namespace vexal
