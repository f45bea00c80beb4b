#include "fakescheduler.h"
#include "manualclock.h"

#include "sweep/fakepinger.h"
#include "sweep/runstatistics.h"
#include "sweep/sweepcontroller.h"

#include <QLocale>
#include <QSignalSpy>

#include "qtprinters.h"

#include <gtest/gtest.h>

#include <functional>

using namespace vexal;

namespace {

OctetList values(std::initializer_list<int> positions)
{
    OctetList list;
    for (int p : positions)
        list.setSelected(p, true);
    return list;
}

OctetList range(int first, int last)
{
    OctetList list;
    for (int p = first; p <= last; ++p)
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
    Rig()
    {
        QObject::connect(&controller, &SweepController::targetChanged, &controller,
                         [this](quint32 address) { shown = address; });
        QObject::connect(&controller, &SweepController::cycleChanged, &controller,
                         [this](qint64 cycle) { cycles << cycle; });
    }

    FakePinger pinger;
    FakeScheduler scheduler;
    SweepController controller{pinger, scheduler};
    QSignalSpy finished{&controller, &SweepController::finished};
    QList<qint64> cycles;
    Ipv4 shown = 0;
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
    EXPECT_TRUE(rig.cycles.isEmpty()) << "a single cycle shows no cycle number";
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
}

TEST(SweepController, DelayZeroSendsABatchPerTurn)
{
    // 10.0.0-7.* is 2048 targets: two turns of the event loop, never a wait.
    Rig rig;
    rig.controller.begin({values({10}), values({0}), range(0, 7), range(0, 255)}, 0, false);
    EXPECT_EQ(rig.controller.attemptCount(), SweepController::TargetsPerTurn);
    EXPECT_EQ(ipv4Text(rig.shown), QStringLiteral("10.0.3.255")) << "the last target handed out";
    EXPECT_EQ(rig.scheduler.pendingWait(), 0);
    rig.scheduler.runNext();
    EXPECT_EQ(rig.controller.attemptCount(), 2048);
    EXPECT_EQ(rig.scheduler.now(), 0);
    QList<Ipv4> expected;
    for (Ipv4 a = makeIpv4(10, 0, 0, 0); a <= makeIpv4(10, 0, 7, 255); ++a)
        expected << a;
    EXPECT_EQ(rig.pinger.sentAddresses(), expected);
}

TEST(SweepController, ContinuousCyclesCountOn)
{
    // Paced: one target per step, the cycle shown as it begins.
    Rig paced;
    paced.controller.begin({values({10}), values({0}), values({0}), values({1, 2})}, 1, true);
    EXPECT_EQ(paced.cycles, QList<qint64>({1}));
    paced.scheduler.runNext(); // second target of cycle 1
    EXPECT_EQ(paced.controller.attemptCount(), 2);
    paced.scheduler.runSteps(4);
    EXPECT_EQ(paced.controller.attemptCount(), 6);
    EXPECT_EQ(paced.controller.cycle(), 3);
    EXPECT_EQ(paced.cycles, QList<qint64>({1, 2, 3}));
    EXPECT_EQ(paced.finished.count(), 0);
    EXPECT_TRUE(paced.controller.isRunning());

    // Unpaced: a turn sends 512 cycles of two targets; the last is shown.
    Rig fast;
    fast.controller.begin({values({10}), values({0}), values({0}), values({1, 2})}, 0, true);
    EXPECT_EQ(fast.controller.attemptCount(), SweepController::TargetsPerTurn);
    EXPECT_EQ(fast.controller.cycle(), 512);
    EXPECT_EQ(fast.cycles, QList<qint64>({1, 512}));
    EXPECT_EQ(fast.pinger.sentAddresses().mid(510, 4),
              QList<Ipv4>({makeIpv4(10, 0, 0, 1), makeIpv4(10, 0, 0, 2), makeIpv4(10, 0, 0, 1), makeIpv4(10, 0, 0, 2)}));
}

TEST(SweepController, CycleCounterGoesBeyond32Bits)
{
    // One target cycling without delay: hours of real sweeping, stepped
    // through the test scheduler.
    Rig rig;
    rig.pinger.setRecording(false);
    rig.controller.begin({values({127}), values({0}), values({0}), values({1})}, 0, true);
    const qint64 beyond = (qint64(1) << 31) + 10 * SweepController::TargetsPerTurn;
    while (rig.controller.cycle() < beyond && rig.scheduler.runNext()) {
    }
    EXPECT_GE(rig.controller.cycle(), beyond);
    EXPECT_EQ(rig.controller.attemptCount(), rig.controller.cycle());
    EXPECT_EQ(rig.pinger.sentCount(), rig.controller.cycle());
    EXPECT_EQ(rig.cycles.last(), rig.controller.cycle());
    EXPECT_EQ(attemptsText(rig.controller.attemptCount(), 1, true), QString::number(rig.controller.cycle()));
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
    answered.scheduler.runNext();
    EXPECT_EQ(answered.finished.count(), 0);
    EXPECT_EQ(answered.scheduler.pendingWait(), 5000) << "bounded by the timeout";
    EXPECT_EQ(answered.pinger.outstanding(), 2);
    answered.pinger.deliverReplies();
    EXPECT_EQ(answered.finished.count(), 1);

    // The wait runs out: what has arrived but is unread is still collected
    // before finished().
    Rig late;
    late.pinger.setAnsweringAll();
    late.pinger.setTimeout(700);
    QList<QString> order;
    QObject::connect(&late.pinger, &Pinger::replied, &late.controller, [&](quint32) { order << "reply"; });
    QObject::connect(&late.controller, &SweepController::finished, &late.controller, [&] { order << "finished"; });
    late.controller.begin({values({10}), values({0}), values({0}), values({1})}, 1, false);
    late.scheduler.runNext(); // the target's wait
    EXPECT_EQ(late.scheduler.now(), 1010);
    EXPECT_EQ(late.scheduler.pendingWait(), 700);
    late.scheduler.runNext();
    EXPECT_EQ(late.scheduler.now(), 1710);
    EXPECT_EQ(late.pinger.collectCount(), 1);
    EXPECT_EQ(order, QList<QString>({"reply", "finished"}));
}

TEST(SweepController, NoRequestWhileHeld)
{
    Rig rig;
    rig.controller.begin({values({10}), values({0}), values({0}), values({1, 2, 3})}, 1, false);
    {
        SweepController::Hold hold(rig.controller);
        rig.scheduler.runAll();
        EXPECT_EQ(rig.pinger.sentAddresses().size(), 1) << "a message box is waiting";
    }
    rig.scheduler.runAll();
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 3);
}

TEST(SweepController, WhatTheSystemCannotTakeYetWaitsAndIsCountedWhenItLeaves)
{
    Rig rig;
    rig.pinger.limitRoom(100);
    rig.controller.begin({values({10}), values({0}), range(0, 3), range(0, 255)}, 0, false);
    EXPECT_EQ(rig.controller.attemptCount(), 100);
    EXPECT_FALSE(rig.scheduler.isPending()) << "waits for the pinger, not for a timer";
    rig.pinger.limitRoom(0);
    rig.pinger.makeRoom();
    rig.scheduler.runAll();
    EXPECT_EQ(rig.controller.attemptCount(), 1024);
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 1024);
    EXPECT_EQ(rig.pinger.sentAddresses().at(100), makeIpv4(10, 0, 0, 100)) << "the 101st is sent, not skipped";
    EXPECT_EQ(QSet<Ipv4>(rig.pinger.sentAddresses().begin(), rig.pinger.sentAddresses().end()).size(), 1024);
}

TEST(SweepController, RefusedRequestsCountAsUnansweredAndAreReportedOncePerKind)
{
    const QString denied = QStringLiteral("Permission denied");
    const QString unreachable = QStringLiteral("Network is unreachable");
    struct Row
    {
        const char *name;
        AddressSet selections;
        bool continuous;
        // Refuses a target, given how many requests have left before it.
        std::function<std::optional<QString>(Ipv4, qint64)> refuses;
        bool stopAfterFirstTurn;
        qint64 attempts;
        qint64 refused;
        QString failure;
        std::string written;
    };
    const AddressSet six = {values({10}), values({0}), values({0, 1}), values({1, 2, 255})};
    const Row rows[] = {
        {"a broadcast address among others", six, false,
         [&](Ipv4 a, qint64) { return (a & 0xff) == 255 ? std::optional(denied) : std::nullopt; }, false, 6, 2,
         QString(), "Vexal: cannot send an echo request to 10.0.0.255: Permission denied\n"},
        {"nothing could be sent", six, false,
         [&](Ipv4 a, qint64) { return (a & 0xff) == 255 ? denied : unreachable; }, false, 6, 6, unreachable,
         "Vexal: cannot send an echo request to 10.0.0.1: Network is unreachable\n"
         "Vexal: cannot send an echo request to 10.0.0.255: Permission denied\n"},
        {"the network goes in the third cycle", six, true,
         [&](Ipv4, qint64 left) { return left >= 12 ? std::optional(unreachable) : std::nullopt; }, true,
         SweepController::TargetsPerTurn, SweepController::TargetsPerTurn - 12, unreachable,
         "Vexal: cannot send an echo request to 10.0.0.1: Network is unreachable\n"},
        {"stopped before any could be sent", {values({10}), values({0}), range(0, 255), range(0, 255)}, false,
         [&](Ipv4, qint64) { return unreachable; }, true, SweepController::TargetsPerTurn,
         SweepController::TargetsPerTurn, unreachable,
         "Vexal: cannot send an echo request to 10.0.0.0: Network is unreachable\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.pinger.setRefusing([&](Ipv4 a) { return row.refuses(a, rig.pinger.sentCount()); });
        ::testing::internal::CaptureStderr();
        rig.controller.begin(row.selections, 0, row.continuous);
        if (row.stopAfterFirstTurn)
            rig.controller.stop();
        rig.scheduler.runAll();
        rig.pinger.expireOutstanding();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), row.written);
        EXPECT_EQ(rig.controller.attemptCount(), row.attempts);
        EXPECT_EQ(rig.controller.refusedCount(), row.refused);
        EXPECT_EQ(rig.controller.sendFailureText(), row.failure);
        EXPECT_FALSE(rig.controller.isRunning());
    }
}

TEST(RunStatistics, UniqueAddressesOverASlash8InBoundedMemory)
{
    UniqueAddresses unique;
    EXPECT_EQ(unique.memoryBytes(), 0u);
    bool allNew = true;
    for (Ipv4 a = makeIpv4(10, 0, 0, 0); a <= makeIpv4(10, 255, 255, 255); ++a)
        allNew = unique.add(a) && allNew;
    EXPECT_TRUE(allNew);
    EXPECT_EQ(unique.count(), 1 << 24);
    // 256 bitmaps of 8 KiB and one directory: about 2 MiB.
    EXPECT_LE(unique.memoryBytes(), 2u * 1024 * 1024 + 4096);
    for (Ipv4 a : {makeIpv4(10, 0, 0, 0), makeIpv4(10, 128, 7, 63), makeIpv4(10, 255, 255, 255)}) {
        EXPECT_TRUE(unique.contains(a));
        EXPECT_FALSE(unique.add(a)) << ipv4Text(a).toStdString();
    }
    for (Ipv4 a : {makeIpv4(9, 255, 255, 255), makeIpv4(11, 0, 0, 0), makeIpv4(0, 0, 0, 0)})
        EXPECT_FALSE(unique.contains(a)) << ipv4Text(a).toStdString();
    EXPECT_EQ(unique.count(), 1 << 24);

    // Scattered addresses cost one bitmap per /16 they touch.
    unique.clear();
    EXPECT_EQ(unique.count(), 0);
    EXPECT_EQ(unique.memoryBytes(), 0u);
    EXPECT_TRUE(unique.add(makeIpv4(10, 0, 0, 9))) << "a new run starts from empty";
    EXPECT_TRUE(unique.add(makeIpv4(192, 168, 1, 1)));
    EXPECT_TRUE(unique.add(makeIpv4(192, 168, 200, 1)));
    EXPECT_LE(unique.memoryBytes(), 3u * 8192 + 2 * 4096);
}

TEST(RunStatistics, LabelTexts)
{
    QLocale::setDefault(QLocale::c());
    struct Row
    {
        qint64 responses, attempts;
        const char *percentage;
    };
    const Row rows[] = {{1, 3, "33.33%"},  {2, 3, "66.66%"},  {1, 8, "12.5%"},  {8, 8, "100%"},
                        {0, 8, "0%"},      {2, 256, "0.781%"}, {0, 0, "0%"},     {1, 0, "0%"},
                        {1, 7, "14.28%"},  {1, 100000, "0.001%"}, {1, 10000000, "0.000%"}};
    for (const Row &row : rows)
        EXPECT_EQ(percentageText(row.responses, row.attempts), QString::fromLatin1(row.percentage))
            << row.responses << "/" << row.attempts;

    EXPECT_EQ(attemptsText(37, 256, false), QStringLiteral("37 of 256"));
    EXPECT_EQ(attemptsText(6, 2, true), QStringLiteral("6"));
    EXPECT_EQ(attemptsText(0, 4294967296, false), QStringLiteral("0 of 4294967296"));
    EXPECT_EQ(attemptsText(4294967297, 1, true), QStringLiteral("4294967297"));
    EXPECT_EQ(numberText(33.333333333333336), QStringLiteral("33.3333333333333"));
    EXPECT_EQ(uniqueText(2), QStringLiteral("Unique IPs: 2"));

    EXPECT_EQ(elapsedText(0), QStringLiteral("0000:00:00:00"));
    EXPECT_EQ(elapsedText(3723), QStringLiteral("0000:01:02:03"));
    EXPECT_EQ(elapsedText(65), QStringLiteral("0000:00:01:05"));
    EXPECT_EQ(elapsedText(86400 + 59), QStringLiteral("0001:00:00:59"));
    EXPECT_EQ(elapsedText(10000LL * 86400), QStringLiteral("10000:00:00:00"));
}

TEST(RunStatistics, ElapsedTimeFollowsRealTimeNotTheWallClock)
{
    struct Step
    {
        double passes;   // seconds of real time
        double wallStep; // somebody sets the wall clock
    };
    struct Row
    {
        const char *name;
        QTime startOfDay;
        std::vector<Step> steps;
        const char *text;
    };
    const Row rows[] = {
        {"59.6 s rounds up", QTime(12, 0), {{59.6, 0}}, "0000:00:01:00"},
        {"halves go to even: 2.5 s", QTime(12, 0), {{2.5, 0}}, "0000:00:00:02"},
        {"halves go to even: 3.5 s", QTime(12, 0), {{3.5, 0}}, "0000:00:00:04"},
        {"across midnight", QTime(23, 59, 59, 500), {{1, 0}, {3600, 0}}, "0000:01:00:01"},
        {"wall clock an hour back", QTime(12, 0), {{10, 0}, {0, -3600}, {5, 0}}, "0000:00:00:15"},
        {"wall clock an hour on", QTime(12, 0), {{10, 0}, {0, 3600}, {5, 0}}, "0000:00:00:15"},
        {"wall clock back across midnight", QTime(0, 0, 30), {{10, -3600}, {20, 0}}, "0000:00:00:30"},
        {"a year of ticks", QTime(12, 0), std::vector<Step>(365 * 24, {3600, 0}), "0365:00:00:00"},
    };
    for (const Row &row : rows) {
        ManualClock clock;
        clock.setDateTime(QDateTime(QDate(2026, 3, 29), row.startOfDay));
        ElapsedClock elapsed;
        elapsed.start(clock);
        QString text;
        for (const Step &step : row.steps) {
            clock.advance(step.passes);
            clock.stepWall(step.wallStep);
            text = elapsed.advance(clock);
        }
        EXPECT_EQ(text, QString::fromLatin1(row.text)) << row.name;
    }
}
