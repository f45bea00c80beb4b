#pragma once

#include <QObject>

namespace vexal {

// Turns a request from outside to end the process (SIGTERM, SIGINT, SIGHUP on
// Linux) into a signal delivered by the event loop, so that a hidden or
// continuous run can end through its stop sequence with nothing lost. From
// its creation on, a write past a file-size limit fails instead of ending the
// process (SIGXFSZ is ignored).
class TerminationWatcher final : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

    // False when the process's handlers could not be installed.
    bool isWatching() const { return m_watching; }

signals:
    void terminationRequested(int signalNumber);

private:
    bool m_watching = false;
};

} // namespace vexal
