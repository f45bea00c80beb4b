#pragma once

#include "common/ipv4.h"
#include "windows/backgroundwork.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace vexal {

// Host names by reverse lookup (the system's resolver: /etc/hosts, then
// DNS), looked up only when asked, on worker threads, and kept for the
// life of the program. Asking never blocks: an address asked for the first
// time is looked up in the background, and found() says when it is done.
class HostNames final : public QObject
{
    Q_OBJECT

public:
    explicit HostNames(QObject *parent = nullptr);

    // nullopt while the lookup runs (the first ask starts it); then the
    // name, or an empty text when the address has none.
    std::optional<QString> name(Ipv4 address);

signals:
    void found(vexal::Ipv4 address);

private:
    void startNext();

    QHash<Ipv4, std::optional<QString>> m_names;
    // A screenful of tooltips asked in a row does not start a thread each:
    // the rest wait their turn.
    QList<Ipv4> m_waiting;
    int m_running = 0;
    BackgroundWork m_work{this};
};

// The name the system's resolver gives the address, or an empty text when
// it has none. Blocks, up to the resolver's timeouts: workers only.
QString reverseHostName(Ipv4 address);

} // namespace vexal
