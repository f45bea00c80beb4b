// Real echo requests through the IP Helper API, under Wine or on Windows,
// to 127.0.0.0/8; and, with VEXAL_PRIVATE_NETWORK=1, to 198.18.0.0/15,
// which the runner's private network namespace must lead nowhere. Under
// Wine the ICMP sockets are winedevice.exe's, so the namespace needs a
// prefix of its own whose Wine server starts inside it, for example, in the
// build folder, as root:
//   unshare -n sh -c 'ip link set lo up; ip link add vx0 type veth peer name vx1;
//     ip link set vx0 up; ip link set vx1 up; ip addr add 192.0.2.1/24 dev vx0;
//     ip neigh add 192.0.2.99 lladdr 02:00:00:00:00:63 dev vx0; ip route add 198.18.0.0/15 via 192.0.2.99;
//     export WINEPREFIX=$HOME/.wine-netns VEXAL_PRIVATE_NETWORK=1; wineserver -w;
//     ./wine-run.sh tests/test_pinger_windows.exe; wineserver -w'
#include "sweep/pinger.h"
#include "sweep/stepscheduler.h"
#include "sweep/sweepcontroller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>

using namespace vexal;

namespace {

struct Session
{
    explicit Session(int timeoutMs) : pinger(createSystemPinger())
    {
        pinger->setTimeout(timeoutMs);
        clock.start();
        QObject::connect(pinger.get(), &Pinger::replied, pinger.get(), [this](quint32 a, quint32 roundTripUs) {
            replies.push_back(a);
            roundTrips.push_back(roundTripUs);
            insideSend += inSend;
        });
        QObject::connect(pinger.get(), &Pinger::unanswered, pinger.get(), [this](quint32 a) {
            unanswered.push_back(a);
            unansweredAfterMs.push_back(clock.elapsed());
        });
        QObject::connect(pinger.get(), &Pinger::ready, pinger.get(), [this] { ++readies; });
        QObject::connect(pinger.get(), &Pinger::settled, pinger.get(), [this] {
            settledAfterMs.push_back(clock.elapsed());
            endsAtSettle.push_back(replies.size() + unanswered.size());
            outstandingAtSettle += pinger->outstanding();
        });
    }
    // Hands the pinger every target as the sweep controller does: what it
    // does not take at once is offered again, from there, after ready().
    SendRefusals sendAll(const std::vector<Ipv4> &targets)
    {
        SendRefusals all, refusals;
        for (qsizetype done = 0; done < qsizetype(targets.size());) {
            const int before = readies;
            inSend = true;
            const qsizetype taken = pinger->send(std::span(targets).subspan(std::size_t(done)), refusals);
            inSend = false;
            for (SendRefusal &refusal : refusals)
                all.push_back({refusal.index + done, refusal.reason, refusal.error});
            refusals.clear();
            done += taken;
            if (done < qsizetype(targets.size()) && !QTest::qWaitFor([&] { return readies > before; }, 5000)) {
                ADD_FAILURE() << "no ready() after send() returned short";
                break;
            }
        }
        return all;
    }

    std::unique_ptr<Pinger> pinger;
    QElapsedTimer clock;
    TimerStepScheduler scheduler;
    SweepController controller{*pinger, scheduler};
    std::vector<Ipv4> replies, unanswered;
    std::vector<quint32> roundTrips;
    std::vector<qint64> unansweredAfterMs, settledAfterMs;
    std::vector<std::size_t> endsAtSettle;
    qint64 outstandingAtSettle = 0;
    int readies = 0;
    bool inSend = false;
    int insideSend = 0;
};

std::vector<Ipv4> addresses(Ipv4 first, int count)
{
    std::vector<Ipv4> all(std::size_t(count), 0);
    std::iota(all.begin(), all.end(), first);
    return all;
}

// a.b.c1-c2.0-255
AddressSet block(int a, int b, int c1, int c2)
{
    AddressSet set;
    for (auto [column, first, last] : {std::tuple{0, a, a}, {1, b, b}, {2, c1, c2}, {3, 0, 255}})
        for (int p = first; p <= last; ++p)
            set[std::size_t(column)].setSelected(p, true);
    return set;
}

} // namespace

// Loopback answers each of two bursts once, from the event loop, with a
// round trip no longer than the timeout, though the first burst's answers
// wait unreported while the event loop is held (as a busy window holds it)
// when the second is sent. It settles each time nothing is left, never
// twice without an end between, and last at the last answer. Requests
// cancelled before their answers came report nothing, even though the
// system completes them afterwards; 0.0.0.0 is refused for good, with the
// system's reason, and the target after it is answered.
TEST(WindowsPinger, AnswersEveryTargetOnceAndNothingAfterCancel)
{
    Session run(2000);
    ASSERT_TRUE(run.pinger->open()) << run.pinger->errorText().toStdString();
    EXPECT_EQ(run.pinger->mechanism(), QStringLiteral("IP Helper"));
    const std::vector<Ipv4> targets = addresses(makeIpv4(127, 0, 0, 1), 100);
    EXPECT_TRUE(run.sendAll({targets.begin(), targets.begin() + 50}).empty());
    QThread::msleep(300);
    EXPECT_TRUE(run.sendAll({targets.begin() + 50, targets.end()}).empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.replies.size() == targets.size(); }, 10000));
    QTest::qWait(200); // nothing more may come
    std::sort(run.replies.begin(), run.replies.end());
    EXPECT_EQ(run.replies, targets);
    EXPECT_EQ(run.insideSend, 0);
    EXPECT_TRUE(std::all_of(run.roundTrips.begin(), run.roundTrips.end(),
                            [](quint32 us) { return us > 0 && us < 2'000'000; }));
    ASSERT_FALSE(run.endsAtSettle.empty());
    EXPECT_EQ(run.endsAtSettle.back(), targets.size());
    EXPECT_EQ(std::adjacent_find(run.endsAtSettle.begin(), run.endsAtSettle.end(), std::greater_equal<>()),
              run.endsAtSettle.end()) << "settled twice without an end between";
    EXPECT_EQ(run.outstandingAtSettle, 0);

    const std::size_t settles = run.settledAfterMs.size();
    SendRefusals refusals;
    EXPECT_GT(run.pinger->send(addresses(makeIpv4(127, 0, 1, 1), 50), refusals), 0);
    run.pinger->cancel();
    EXPECT_EQ(run.pinger->outstanding(), 0);
    QTest::qWait(500);
    run.pinger->collect();
    EXPECT_EQ(run.replies.size(), 100u) << "a cancelled request was reported";
    EXPECT_TRUE(run.unanswered.empty());
    EXPECT_EQ(run.settledAfterMs.size(), settles) << "a cancel settles nothing";
    refusals = run.sendAll({0, makeIpv4(127, 0, 0, 2)});
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0].index, 0);
    EXPECT_FALSE(refusals[0].reason.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.settledAfterMs.size() == settles + 1; }, 5000));
    EXPECT_EQ(run.replies.back(), makeIpv4(127, 0, 0, 2));
}

// A request that ends without a reply is reported once its whole timeout
// has passed, never before, whatever ended it: a transmit failure ends at
// once in the system (the loopback broadcast address, which Wine refuses to
// send to), a target routed nowhere ends when the system's timer runs out.
TEST(WindowsPinger, EndsUnansweredOnlyAfterItsTimeout)
{
    const struct { const char *name; Ipv4 target; bool needsPrivateNetwork; } rows[] = {
        {"transmit failure", makeIpv4(127, 255, 255, 255), false},
        {"routed nowhere", makeIpv4(198, 18, 0, 1), true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.needsPrivateNetwork && qEnvironmentVariable("VEXAL_PRIVATE_NETWORK") != QLatin1String("1")) {
            std::printf("[  SKIPPED ] %s: no private network (see the top of this file)\n", row.name);
            continue;
        }
        Session run(700);
        EXPECT_TRUE(run.sendAll({row.target, makeIpv4(127, 0, 0, 1)}).empty());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !run.settledAfterMs.empty(); }, 5000));
        EXPECT_EQ(run.replies, std::vector<Ipv4>{makeIpv4(127, 0, 0, 1)});
        EXPECT_EQ(run.unanswered, std::vector<Ipv4>{row.target});
        EXPECT_GE(run.unansweredAfterMs.front(), 700);
        EXPECT_EQ(run.settledAfterMs.size(), 1u);
        EXPECT_GE(run.settledAfterMs.front(), run.unansweredAfterMs.front()) << "settled by the last end";
    }
}

// A sweep larger than the requests a pinger keeps in flight: send() takes
// what fits and the sweep goes on after ready(); every target is answered,
// once. In a private network two more pingers meanwhile keep their cap of
// silent requests in flight, more than Wine's device holds (256 in a
// prefix), so it is full: a request it sent but had no room to hear must be
// sent again, not reported unanswered.
TEST(WindowsPinger, SweepsPastTheCapAndAnswersEveryTarget)
{
    Session loopback(2000), silent[2] = {Session(1000), Session(1000)};
    const bool crowded = qEnvironmentVariable("VEXAL_PRIVATE_NETWORK") == QLatin1String("1");
    for (int i = 0; i < 2 && crowded; ++i)
        silent[i].controller.begin(block(198, 18, 2 * i, 2 * i + 1), 0, false);
    ASSERT_TRUE(!crowded || QTest::qWaitFor([&] {
        return silent[0].pinger->outstanding() + silent[1].pinger->outstanding() > 256;
    }, 5000));
    QElapsedTimer clock;
    clock.start();
    loopback.controller.begin(block(127, 0, 8, 15), 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loopback.controller.isRunning(); }, 60000));
    std::printf("2048 targets in %lld ms%s\n", clock.elapsed(), crowded ? ", beside 1024 silent ones" : "");
    std::sort(loopback.replies.begin(), loopback.replies.end());
    EXPECT_EQ(loopback.controller.attemptCount(), 2048);
    EXPECT_EQ(loopback.replies, addresses(makeIpv4(127, 0, 8, 0), 2048));
    EXPECT_TRUE(loopback.unanswered.empty());
    EXPECT_GT(loopback.readies, 0) << "send() never returned short";
    for (Session &run : silent) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !run.controller.isRunning(); }, 30000));
        EXPECT_EQ(run.unanswered.size(), crowded ? 512u : 0u);
    }
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
