#include "run/changenotices.h"

#include "run/hostmonitor.h"

#include <QStringList>

#include <algorithm>

namespace vexal {

namespace {

// "3 hosts down: a, b, c", five addresses at most and then an ellipsis: the
// count already says how many more there are.
QString line(const QList<Ipv4> &hosts, const char *what)
{
    QStringList named;
    for (qsizetype i = 0; i < std::min<qsizetype>(hosts.size(), ChangeNotices::AddressesNamed); ++i)
        named << ipv4Text(hosts[i]);
    if (hosts.size() > ChangeNotices::AddressesNamed)
        named << QStringLiteral("…");
    return QStringLiteral("%1 %2 %3: %4")
        .arg(hosts.size())
        .arg(hosts.size() == 1 ? QStringLiteral("host") : QStringLiteral("hosts"), QLatin1String(what),
             named.join(QStringLiteral(", ")));
}

} // namespace

ChangeNotices::ChangeNotices(std::function<bool()> unattended, int intervalMs, QObject *parent)
    : QObject(parent), m_unattended(std::move(unattended)), m_intervalMs(intervalMs)
{
    m_due.setSingleShot(true);
    // A coarse timer may fire 5 % early, and one a second early would be one
    // notice too many.
    m_due.setTimerType(Qt::PreciseTimer);
    connect(&m_due, &QTimer::timeout, this, &ChangeNotices::post);
}

void ChangeNotices::onHostChanged(const HostChange &change)
{
    const bool wasDown = m_down.contains(change.address);
    if (change.up)
        m_down.remove(change.address);
    else
        m_down.insert(change.address);
    if (change.up && !wasDown)
        return; // a first reply
    const bool gathered = m_upNow.contains(change.address);
    if (!gathered && !m_unattended())
        return;
    if (!gathered)
        m_gathered.append(change.address);
    m_upNow.insert(change.address, change.up);
    if (!m_due.isActive()) {
        const qint64 since = m_sincePost.isValid() ? m_sincePost.elapsed() : m_intervalMs;
        m_due.start(int(std::max<qint64>(0, m_intervalMs - since)));
    }
}

void ChangeNotices::post()
{
    QList<Ipv4> down, backUp;
    for (const Ipv4 address : std::as_const(m_gathered))
        (m_upNow.value(address) ? backUp : down).append(address);
    m_gathered.clear();
    m_upNow.clear();
    QStringList lines;
    if (!down.isEmpty())
        lines << line(down, "down");
    if (!backUp.isEmpty())
        lines << line(backUp, "back up");
    m_sincePost.start();
    emit noticeDue(QStringLiteral("Vexal"), lines.join(QLatin1Char('\n')));
}

} // namespace vexal
