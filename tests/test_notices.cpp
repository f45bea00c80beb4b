// Desktop notices of hosts that went down or came back: what they say, and how they reach a notification
// service of the test's own on a session bus the test starts.
#include "app/desktopnotifier.h"
#include "run/changenotices.h"
#include "run/hostmonitor.h"

#include "qtprinters.h"
#include "realfiles.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace vexal;

namespace {

HostChange change(int host, bool up) { return {makeIpv4(198, 18, 0, host), up, 0, 0}; }

// Stands in for the desktop's notification service: records each call, and when it came.
class NotificationService final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList calls;
    QList<qint64> at;
    QElapsedTimer clock;

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int expires)
    {
        calls << QStringLiteral("%1|%2|%3|%4|%5|%6").arg(app).arg(replaces).arg(icon, summary, body).arg(expires);
        at << clock.elapsed();
        return uint(40 + calls.size());
    }
};

} // namespace

TEST(ChangeNotices, OneLinePerKindFiveAddressesAndEachHostInItsLatestState)
{
    // Hosts of 198.18.0.0/24 by their last number: -5 went down, +5 replied,
    // w5 / W5 the same while the window is watched.
    const struct { const char *changes; const char *body; } rows[] = {
        {"-5 -9 -21", "3 hosts down: 198.18.0.5, 198.18.0.9, 198.18.0.21"},
        {"-1", "1 host down: 198.18.0.1"},
        {"-1 -2 -3 -4 -5 -6 -7", "7 hosts down: 198.18.0.1, 198.18.0.2, 198.18.0.3, 198.18.0.4, 198.18.0.5, …"},
        {"+1", ""}, // a first reply is no news
        {"w1", ""},
        {"w1 w2 +2 +1", "2 hosts back up: 198.18.0.2, 198.18.0.1"},
        {"-1 -2 +1 +3", "1 host down: 198.18.0.2\n1 host back up: 198.18.0.1"},
        {"-1 W1", "1 host back up: 198.18.0.1"}, // gathered already: told in its latest state
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.changes);
        bool watched = false;
        ChangeNotices notices([&watched] { return !watched; }, 60000);
        QSignalSpy told(&notices, &ChangeNotices::noticeDue);
        for (const QString &step : QString::fromUtf8(row.changes).split(' ')) {
            watched = step[0].isLetter();
            notices.onHostChanged(change(step.mid(1).toInt(), step[0] == '+' || step[0] == 'W'));
        }
        QTest::qWait(20);
        QStringList said;
        for (const QVariantList &notice : told)
            said << notice[0].toString() + ": " + notice[1].toString();
        EXPECT_EQ(said.join('|'), *row.body ? QStringLiteral("Vexal: ") + row.body : QString());
    }
}

// The first notice at once, the next after the interval, each replacing the last; nothing while the window
// is watched; without a service or a bus nothing fails or waits.
TEST(DesktopNotices, ReachTheServiceOnePerIntervalEachReplacingTheLast)
{
    QTemporaryDir dir;
    const QString config = dir.filePath("session.conf");
    put(config, "<busconfig><type>session</type><listen>unix:dir=" + dir.path().toUtf8()
                    + "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                      "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config, "--nofork", "--print-address"});
    if (!daemon.waitForStarted(5000))
        GTEST_SKIP() << "no dbus-daemon to run a session bus (Debian's dbus-daemon package)";
    WAIT_UNTIL(daemon.canReadLine() || daemon.state() != QProcess::Running, 5000);
    const QByteArray address = daemon.readLine().trimmed();
    ASSERT_FALSE(address.isEmpty()) << daemon.readAllStandardError().constData();
    // Before anything in this process opens the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    constexpr int Interval = 400;
    bool watched = false;
    ChangeNotices notices([&watched] { return !watched; }, Interval);
    DesktopNotifier notifier;
    QObject::connect(&notices, &ChangeNotices::noticeDue, &notifier, &DesktopNotifier::show);
    QElapsedTimer clock;
    clock.start();
    notifier.show("Vexal", "nobody hears this"); // no service yet
    EXPECT_LT(clock.elapsed(), 100);
    QTest::qWait(100);

    NotificationService service;
    service.clock.start();
    QDBusConnection serviceBus = QDBusConnection::connectToBus(QString::fromUtf8(address), "service");
    ASSERT_TRUE(serviceBus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceBus.registerService("org.freedesktop.Notifications"));

    notices.onHostChanged(change(1, false));
    WAIT_UNTIL(service.calls.size() == 1, 2000);
    EXPECT_LT(service.at[0], 200) << "the first at once";
    notices.onHostChanged(change(2, false));
    notices.onHostChanged(change(3, false));
    WAIT_UNTIL(service.calls.size() == 2, 2000);
    EXPECT_GE(service.at[1] - service.at[0], Interval * 9 / 10);
    watched = true;
    notices.onHostChanged(change(4, false));
    QTest::qWait(2 * Interval);
    watched = false;
    notices.onHostChanged(change(2, true));
    WAIT_UNTIL(service.calls.size() == 3, 2000);
    EXPECT_EQ(service.calls, QStringList({"Vexal|0|vexal|Vexal|1 host down: 198.18.0.1|-1",
                                          "Vexal|41|vexal|Vexal|2 hosts down: 198.18.0.2, 198.18.0.3|-1",
                                          "Vexal|42|vexal|Vexal|1 host back up: 198.18.0.2|-1"}));

    // The bus goes away, as when the session ends.
    daemon.kill();
    daemon.waitForFinished(5000);
    WAIT_UNTIL(!QDBusConnection::sessionBus().isConnected(), 5000);
    clock.restart();
    notifier.show("Vexal", "nobody hears this either");
    EXPECT_LT(clock.elapsed(), 100);
}

#include "test_notices.moc"
