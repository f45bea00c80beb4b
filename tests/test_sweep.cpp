#include "fakescheduler.h"
#include "manualclock.h"

#include "sweep/fakepinger.h"
#include "sweep/runstatistics.h"
#include "sweep/sweepcontroller.h"

#include <QLocale>
#include <QSignalSpy>

#include "qtprinters.h"

#include <gtest/gtest.h>

using namespace vexal;

namespace {

OctetList values(std::initializer_list<int> positions)
{
    OctetList list;
    for (int p : positions)
        list.setSelected(p, true);
    return list;
}

QStringList texts(const QList<Ipv4> &addresses)
{
    QStringList out;
    for (Ipv4 a : addresses)
        out << ipv4Text(a);
    return out;
}

struct Rig
{
    FakePinger pinger;
    FakeScheduler scheduler;
    SweepController controller{pinger, scheduler};
    QSignalSpy finished{&controller, &SweepController::finished};
    QSignalSpy cycles{&controller, &SweepController::cycleChanged};
};

} // namespace

TEST(SweepController, VisitsTargetsLastOctetFastest)
{
    Rig rig;
    rig.controller.begin({values({10, 11}), values({1}), values({2}), values({6, 5})}, 0, false);
    rig.scheduler.runAll();
    EXPECT_EQ(texts(rig.pinger.sentAddresses()),
              QStringList({"10.1.2.5", "10.1.2.6", "11.1.2.5", "11.1.2.6"}));
    EXPECT_EQ(rig.controller.attemptCount(), 4);
    EXPECT_EQ(rig.controller.totalToPing(), 4);
    EXPECT_EQ(rig.finished.count(), 1);
    EXPECT_FALSE(rig.controller.isRunning());
    EXPECT_EQ(rig.cycles.count(), 0) << "a single cycle shows no cycle number";
}

TEST(SweepController, PacesEachTargetByDelayTimes1010Milliseconds)
{
    Rig rig;
    rig.controller.begin({values({10}), values({0}), values({0}), values({1, 2, 3})}, 3, false);
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 1) << "the first request goes out at once";
    EXPECT_EQ(rig.scheduler.pendingWait(), 3030);
    rig.scheduler.runNext();
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 2);
    EXPECT_EQ(rig.scheduler.now(), 3030);
    rig.scheduler.runSteps(2);
    // The last target gets its full wait too before the cycle ends.
    EXPECT_EQ(rig.scheduler.now(), 3 * 3030);
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 3);
    EXPECT_EQ(rig.finished.count(), 0) << "requests without replies are still outstanding";
    rig.pinger.expireOutstanding();
    EXPECT_EQ(rig.finished.count(), 1);

    Rig fast;
    fast.pinger.setAnsweringAll();
    fast.controller.begin({values({10}), values({0}), values({0}), values({1, 2, 3})}, 0, false);
    EXPECT_EQ(fast.scheduler.pendingWait(), 0);
    fast.scheduler.runSteps(3);
    EXPECT_EQ(fast.scheduler.now(), 0) << "delay 0 never waits";
    EXPECT_EQ(fast.pinger.sentAddresses().size(), 3);
}

TEST(SweepController, ContinuousCyclesCountOn)
{
    Rig rig;
    rig.controller.begin({values({10}), values({0}), values({0}), values({1, 2})}, 0, true);
    EXPECT_EQ(rig.cycles.count(), 1);
    EXPECT_EQ(rig.cycles.at(0).at(0).toInt(), 1);
    rig.scheduler.runNext(); // second target of cycle 1
    EXPECT_EQ(rig.controller.attemptCount(), 2);
    rig.scheduler.runNext();
    EXPECT_EQ(rig.controller.cycle(), 2);
    rig.scheduler.runNext();
    EXPECT_EQ(rig.controller.attemptCount(), 4);
    rig.scheduler.runNext();
    rig.scheduler.runNext();
    EXPECT_EQ(rig.controller.attemptCount(), 6);
    EXPECT_EQ(rig.controller.cycle(), 3);
    QList<int> shown;
    for (const auto &args : rig.cycles)
        shown << args.at(0).toInt();
    EXPECT_EQ(shown, QList<int>({1, 2, 3}));
    EXPECT_EQ(rig.finished.count(), 0);
    EXPECT_TRUE(rig.controller.isRunning());
}

TEST(SweepController, StopDuringALongWaitEndsAtOnce)
{
    Rig rig;
    rig.controller.begin({values({10}), values({0}), values({0}), values({1, 2, 3})}, 60, false);
    EXPECT_EQ(rig.scheduler.pendingWait(), 60600);
    rig.controller.stop();
    EXPECT_FALSE(rig.controller.isRunning());
    EXPECT_FALSE(rig.scheduler.isPending()) << "the pending wait is cancelled";
    EXPECT_EQ(rig.pinger.cancelCount(), 1) << "outstanding requests are cancelled";
    rig.scheduler.runAll();
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 1) << "no further request";
    EXPECT_EQ(rig.finished.count(), 0);
    rig.controller.stop();
    EXPECT_EQ(rig.pinger.cancelCount(), 1) << "stopping twice does nothing";
}

TEST(SweepController, EndOfCycleWaitsForOutstandingRepliesBoundedByTheTimeout)
{
    // Replies arrive: the cycle ends as soon as the last one is in.
    Rig answered;
    answered.pinger.setAnsweringAll();
    answered.pinger.setTimeout(5000);
    answered.controller.begin({values({10}), values({0}), values({0}), values({1, 2})}, 0, false);
    answered.scheduler.runSteps(2);
    EXPECT_EQ(answered.finished.count(), 0);
    EXPECT_EQ(answered.scheduler.pendingWait(), 5000) << "bounded by the timeout";
    EXPECT_EQ(answered.pinger.outstanding(), 2);
    answered.pinger.deliverReplies();
    EXPECT_EQ(answered.finished.count(), 1);

    // Nobody answers and the pinger never settles: the wait still ends after
    // one timeout.
    Rig silent;
    silent.pinger.setTimeout(700);
    silent.controller.begin({values({10}), values({0}), values({0}), values({1})}, 1, false);
    silent.scheduler.runNext(); // the target's wait
    EXPECT_EQ(silent.scheduler.now(), 1010);
    EXPECT_EQ(silent.finished.count(), 0);
    EXPECT_EQ(silent.scheduler.pendingWait(), 700);
    silent.scheduler.runNext();
    EXPECT_EQ(silent.finished.count(), 1);
    EXPECT_EQ(silent.scheduler.now(), 1710);
}

TEST(SweepController, NoRequestWhileHeld)
{
    Rig rig;
    rig.controller.begin({values({10}), values({0}), values({0}), values({1, 2, 3})}, 0, false);
    {
        SweepController::Hold hold(rig.controller);
        rig.scheduler.runAll();
        EXPECT_EQ(rig.pinger.sentAddresses().size(), 1) << "a message box is waiting";
    }
    rig.scheduler.runAll();
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 3);
}

TEST(RunStatistics, UniqueAddressesKeepFirstReplyOrder)
{
    UniqueAddresses unique;
    EXPECT_TRUE(unique.add(makeIpv4(10, 0, 0, 9)));
    EXPECT_TRUE(unique.add(makeIpv4(10, 0, 0, 2)));
    EXPECT_FALSE(unique.add(makeIpv4(10, 0, 0, 9)));
    EXPECT_EQ(unique.count(), 2);
    EXPECT_EQ(unique.inOrder(), (std::vector<Ipv4>{makeIpv4(10, 0, 0, 9), makeIpv4(10, 0, 0, 2)}));
    unique.clear();
    EXPECT_TRUE(unique.add(makeIpv4(10, 0, 0, 9))) << "a new run starts from empty";
}

TEST(RunStatistics, LabelTexts)
{
    QLocale::setDefault(QLocale::c());
    struct Row
    {
        double responses, attempts;
        const char *percentage;
    };
    const Row rows[] = {{1, 3, "33.33%"},  {2, 3, "66.66%"},  {1, 8, "12.5%"},  {8, 8, "100%"},
                        {0, 8, "0%"},      {2, 256, "0.781%"}, {0, 0, "0%"},     {1, 0, "0%"},
                        {1, 7, "14.28%"},  {1, 100000, "0.001%"}, {1, 1e7, "0.000%"}};
    for (const Row &row : rows)
        EXPECT_EQ(percentageText(row.responses, row.attempts), QString::fromLatin1(row.percentage))
            << row.responses << "/" << row.attempts;

    EXPECT_EQ(attemptsText(37, 256, false), QStringLiteral("37 of 256"));
    EXPECT_EQ(attemptsText(6, 2, true), QStringLiteral("6"));
    EXPECT_EQ(attemptsText(0, 4294967296.0, false), QStringLiteral("0 of 4294967296"));
    EXPECT_EQ(numberText(33.333333333333336), QStringLiteral("33.3333333333333"));
    EXPECT_EQ(uniqueText(2), QStringLiteral("Unique IPs: 2"));

    EXPECT_EQ(elapsedText(0), QStringLiteral("0000:00:00:00"));
    EXPECT_EQ(elapsedText(3723), QStringLiteral("0000:01:02:03"));
    EXPECT_EQ(elapsedText(65), QStringLiteral("0000:00:01:05"));
    EXPECT_EQ(elapsedText(86400 + 59), QStringLiteral("0001:00:00:59"));
    EXPECT_EQ(elapsedText(10000LL * 86400), QStringLiteral("10000:00:00:00"));
}

TEST(RunStatistics, ElapsedClockRoundsAndCountsAcrossMidnight)
{
    ManualClock clock;
    ElapsedClock elapsed;

    clock.setSecondsSinceMidnight(100);
    elapsed.start(clock);
    clock.advance(59.6);
    EXPECT_EQ(elapsed.advance(clock), QStringLiteral("0000:00:01:00"));

    clock.setSecondsSinceMidnight(86399.5);
    elapsed.start(clock);
    clock.setSecondsSinceMidnight(0.5);
    EXPECT_EQ(elapsed.advance(clock), QStringLiteral("0000:00:00:01"));
    clock.setSecondsSinceMidnight(3600.5);
    EXPECT_EQ(elapsed.advance(clock), QStringLiteral("0000:01:00:01"));

    // Halves go to even: 2.5 s shows 2, 3.5 s shows 4.
    clock.setSecondsSinceMidnight(0);
    elapsed.start(clock);
    clock.setSecondsSinceMidnight(2.5);
    EXPECT_EQ(elapsed.advance(clock), QStringLiteral("0000:00:00:02"));
    clock.setSecondsSinceMidnight(3.5);
    EXPECT_EQ(elapsed.advance(clock), QStringLiteral("0000:00:00:04"));
}

TEST(RunStatistics, ElapsedClockKeepsCountingOnLongRuns)
{
    // A year of one-second ticks: a single-precision sum would stall.
    ManualClock clock;
    ElapsedClock elapsed;
    elapsed.start(clock);
    QString text;
    for (int day = 0; day < 365; ++day) {
        for (int tick = 0; tick < 86400; tick += 600) {
            clock.advance(600);
            text = elapsed.advance(clock);
        }
    }
    EXPECT_EQ(text, QStringLiteral("0365:00:00:00"));
}
