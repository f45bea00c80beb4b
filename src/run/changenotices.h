#pragma once

#include "common/ipv4.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>

namespace vexal {

struct HostChange;

// Gathers the hosts that went down or came back while nobody was looking at
// the window (minimised, or another window active) into desktop notices: at
// most one per interval, so a network that fails all at once is one notice
// and not a hundred. The first change of a quiet spell is told at the next
// turn of the event loop, together with whatever was reported at the same
// moment (the requests of a whole batch time out together); later ones wait
// for the interval to pass.
//
// A notice has the summary "Vexal" and a line per kind, hosts down first:
//
//   3 hosts down: 198.18.0.5, 198.18.0.9, 198.18.1.5
//   7 hosts back up: 198.18.0.1, 198.18.0.2, 198.18.0.3, 198.18.0.4, 198.18.0.6, …
//
// naming five addresses at most, in the order they changed. A host that
// changed more than once in a notice's time is told in its latest state
// only: down and back again is "back up". A host's first reply is no news
// (every host of a sweep would be one); a reply from a host last seen down
// is, even when it went down while the window was watched. Changes while
// the window is watched are not told, unless they concern a host a notice
// is already gathering.
class ChangeNotices final : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultIntervalMs = 10000;
    static constexpr int AddressesNamed = 5;

    // unattended: whether nobody is looking at the window now.
    explicit ChangeNotices(std::function<bool()> unattended, int intervalMs = DefaultIntervalMs,
                           QObject *parent = nullptr);

    void onHostChanged(const vexal::HostChange &change);

signals:
    void noticeDue(const QString &summary, const QString &body);

private:
    void post();

    std::function<bool()> m_unattended;
    int m_intervalMs;
    QTimer m_due;
    QElapsedTimer m_sincePost;
    // Every host whose last change was down, gathered or not.
    QSet<Ipv4> m_down;
    // The hosts the next notice tells, in the order of their first change
    // since the last one, and whether each is up now.
    QList<Ipv4> m_gathered;
    QHash<Ipv4, bool> m_upNow;
};

} // namespace vexal
