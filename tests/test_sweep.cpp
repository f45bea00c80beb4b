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

OctetList range(int first, int last)
{
    OctetList list;
    for (int p = first; p <= last; ++p)
        list.setSelected(p, true);
    return list;
}

// 10.0.0.first-last
AddressSet tenZeroZero(int first, int last) { return {range(10, 10), range(0, 0), range(0, 0), range(first, last)}; }

struct Rig
{
    Rig()
    {
        QObject::connect(&controller, &SweepController::targetChanged, &controller, [this](quint32 a) { shown = a; });
        QObject::connect(&controller, &SweepController::cycleChanged, &controller, [this](qint64 c) { cycles << c; });
    }
    qsizetype sent() const { return pinger.sentAddresses().size(); }

    FakePinger pinger;
    FakeScheduler scheduler;
    SweepController controller{pinger, scheduler};
    QSignalSpy finished{&controller, &SweepController::finished};
    QList<qint64> cycles;
    Ipv4 shown = 0;
};

} // namespace

TEST(SweepController, VisitsTargetsLastOctetFastestInBatchesWhenUnpaced)
{
    Rig rig;
    AddressSet two = {range(10, 11), range(1, 1), range(2, 2), range(5, 6)};
    rig.controller.begin(two, 0, false);
    rig.scheduler.runAll();
    EXPECT_EQ(rig.pinger.sentAddresses(), (QList<Ipv4>{makeIpv4(10, 1, 2, 5), makeIpv4(10, 1, 2, 6),
                                                       makeIpv4(11, 1, 2, 5), makeIpv4(11, 1, 2, 6)}));
    EXPECT_EQ(rig.finished.count(), 1);
    EXPECT_TRUE(rig.cycles.isEmpty()) << "a single cycle shows no cycle number";

    // 10.0.0-7.* is 2048 targets: two turns of the event loop, never a wait.
    Rig big;
    big.controller.begin({range(10, 10), range(0, 0), range(0, 7), range(0, 255)}, 0, false);
    EXPECT_EQ(big.controller.attemptCount(), SweepController::TargetsPerTurn);
    EXPECT_EQ(big.shown, makeIpv4(10, 0, 3, 255)) << "the last target handed out";
    EXPECT_EQ(big.scheduler.pendingWait(), 0);
    big.scheduler.runNext();
    EXPECT_EQ(big.controller.totalToPing(), 2048);
    EXPECT_EQ(big.controller.attemptCount(), 2048);
    EXPECT_EQ(QSet<Ipv4>(big.pinger.sentAddresses().begin(), big.pinger.sentAddresses().end()).size(), 2048);
}

TEST(SweepController, PacesByDelayTimes1010HoldsForAMessageAndStopsAtOnce)
{
    Rig rig;
    rig.controller.begin(tenZeroZero(1, 4), 3, false);
    EXPECT_EQ(rig.sent(), 1) << "the first request goes out at once";
    EXPECT_EQ(rig.scheduler.pendingWait(), 3030);
    rig.scheduler.runNext();
    {
        SweepController::Hold hold(rig.controller);
        rig.scheduler.runAll();
        EXPECT_EQ(rig.sent(), 2) << "a message box is waiting";
    }
    rig.scheduler.runNext();
    EXPECT_EQ(rig.sent(), 3);
    rig.controller.stop();
    rig.controller.stop();
    EXPECT_FALSE(rig.controller.isRunning());
    EXPECT_FALSE(rig.scheduler.isPending()) << "the pending wait is cancelled";
    EXPECT_EQ(rig.pinger.cancelCount(), 1) << "outstanding requests are cancelled, once";
    EXPECT_EQ(rig.finished.count(), 0);
}

TEST(SweepController, EndOfCycleWaitsForOutstandingRepliesBoundedByTheTimeout)
{
    Rig answered;
    answered.pinger.setAnsweringAll();
    answered.pinger.setTimeout(5000);
    answered.controller.begin(tenZeroZero(1, 2), 0, false);
    answered.scheduler.runNext();
    EXPECT_EQ(answered.scheduler.pendingWait(), 5000) << "bounded by the timeout";
    EXPECT_EQ(answered.finished.count(), 0);
    answered.pinger.deliverReplies();
    EXPECT_EQ(answered.finished.count(), 1) << "ended as soon as the last reply is in";

    // Paced, the last target gets its full wait; then what has arrived but is
    // still unread is collected before finished().
    Rig late;
    late.pinger.setAnsweringAll();
    late.pinger.setTimeout(700);
    QStringList order;
    QObject::connect(&late.pinger, &Pinger::replied, &late.controller, [&] { order << "reply"; });
    QObject::connect(&late.controller, &SweepController::finished, &late.controller, [&] { order << "finished"; });
    late.controller.begin(tenZeroZero(1, 1), 1, false);
    late.scheduler.runNext();
    EXPECT_EQ(late.scheduler.now() + late.scheduler.pendingWait(), 1010 + 700);
    late.scheduler.runNext();
    EXPECT_EQ(order, QStringList({"reply", "finished"}));
}

TEST(SweepController, ContinuousCyclesCountOnBeyond32Bits)
{
    Rig paced;
    paced.controller.begin(tenZeroZero(1, 2), 1, true);
    paced.scheduler.runSteps(5);
    EXPECT_EQ(paced.controller.attemptCount(), 6);
    EXPECT_EQ(paced.cycles, QList<qint64>({1, 2, 3}));

    // Unpaced: a turn sends 512 cycles of two targets; the last is shown.
    Rig fast;
    fast.controller.begin(tenZeroZero(1, 2), 0, true);
    EXPECT_EQ(fast.cycles, QList<qint64>({1, 512}));
    EXPECT_EQ(fast.pinger.sentAddresses().mid(510, 4),
              (QList<Ipv4>{makeIpv4(10, 0, 0, 1), makeIpv4(10, 0, 0, 2), makeIpv4(10, 0, 0, 1),
                           makeIpv4(10, 0, 0, 2)}));

    // One target without delay: hours of real sweeping through the test scheduler.
    Rig one;
    one.pinger.setRecording(false);
    one.controller.begin(tenZeroZero(1, 1), 0, true);
    const qint64 beyond = (qint64(1) << 31) + 10 * SweepController::TargetsPerTurn;
    while (one.controller.cycle() < beyond && one.scheduler.runNext()) {
    }
    EXPECT_EQ(one.pinger.sentCount(), beyond);
    EXPECT_EQ(one.cycles.last(), beyond);
    EXPECT_EQ(attemptsText(one.controller.attemptCount(), 1, true), QString::number(beyond));
}

TEST(SweepController, WhatTheSystemCannotTakeYetWaitsAndIsCountedWhenItLeaves)
{
    Rig rig;
    rig.pinger.limitRoom(100);
    rig.controller.begin({range(10, 10), range(0, 0), range(0, 3), range(0, 255)}, 0, false);
    EXPECT_EQ(rig.controller.attemptCount(), 100);
    EXPECT_FALSE(rig.scheduler.isPending()) << "waits for the pinger, not for a timer";
    rig.pinger.limitRoom(0);
    rig.pinger.makeRoom();
    rig.scheduler.runAll();
    EXPECT_EQ(rig.controller.attemptCount(), 1024);
    EXPECT_EQ(rig.sent(), 1024);
    EXPECT_EQ(rig.pinger.sentAddresses().at(100), makeIpv4(10, 0, 0, 100)) << "the 101st is sent, not skipped";
}

TEST(SweepController, RefusedRequestsCountAsUnansweredAndAreReportedOncePerKind)
{
    const QString denied = QStringLiteral("Permission denied"), unreachable = QStringLiteral("Network is unreachable");
    const std::string line = "Vexal: cannot send an echo request to ";
    struct Row
    {
        const char *name;
        AddressSet selections;
        bool continuous, stopAfterFirstTurn;
        std::function<std::optional<QString>(Ipv4, qint64 sentBefore)> refuses;
        qint64 attempts, refused;
        QString failure;
        std::string written;
    };
    const AddressSet six = {range(10, 10), range(0, 0), range(0, 1), range(1, 2)};
    const qint64 turn = SweepController::TargetsPerTurn;
    const Row rows[] = {
        {"a broadcast address among others", six, false, false,
         [&](Ipv4 a, qint64) { return (a & 0xff) == 2 ? std::optional(denied) : std::nullopt; }, 4, 2, {},
         line + "10.0.0.2: Permission denied\n"},
        {"nothing could be sent", six, false, false,
         [&](Ipv4 a, qint64) { return (a & 0xff) == 2 ? denied : unreachable; },
         4, 4, unreachable, line + "10.0.0.1: Network is unreachable\n" + line + "10.0.0.2: Permission denied\n"},
        {"the network goes in the third cycle", six, true, true,
         [&](Ipv4, qint64 sent) { return sent >= 8 ? std::optional(unreachable) : std::nullopt; }, turn, turn - 8,
         unreachable, line + "10.0.0.1: Network is unreachable\n"},
        {"stopped before any could be sent", {range(10, 10), range(0, 0), range(0, 255), range(0, 255)}, false, true,
         [&](Ipv4, qint64) { return unreachable; }, turn, turn, unreachable,
         line + "10.0.0.0: Network is unreachable\n"},
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
    }
}

TEST(RunStatistics, UniqueAddressesInBoundedMemory)
{
    UniqueAddresses unique;
    qint64 added = 0;
    for (Ipv4 a = makeIpv4(10, 0, 0, 0); a <= makeIpv4(10, 1, 255, 255); ++a)
        added += unique.add(a) + unique.add(a);
    EXPECT_EQ(added, 2 << 16);
    EXPECT_FALSE(unique.contains(makeIpv4(10, 2, 0, 0)));
    EXPECT_LE(unique.memoryBytes(), 2u * 8192 + 4096) << "a bitmap of 8 KiB per /16 touched";
    unique.clear();
    EXPECT_EQ(unique.count() + qint64(unique.memoryBytes()), 0) << "a new run starts from empty";
}

TEST(RunStatistics, LabelTexts)
{
    QLocale::setDefault(QLocale::c());
    const std::tuple<qint64, qint64, const char *> rows[] = {
        {1, 3, "33.33%"}, {2, 3, "66.66%"}, {1, 8, "12.5%"}, {8, 8, "100%"}, {0, 8, "0%"}, {2, 256, "0.781%"},
        {0, 0, "0%"}, {1, 0, "0%"}, {1, 100000, "0.001%"}, {1, 10000000, "0.000%"}};
    for (const auto &[responses, attempts, text] : rows)
        EXPECT_EQ(percentageText(responses, attempts), QString::fromLatin1(text)) << responses << "/" << attempts;
    EXPECT_EQ(attemptsText(37, 256, false) + ' ' + attemptsText(4294967297, 1, true),
              QStringLiteral("37 of 256 4294967297"));
    EXPECT_EQ(numberText(33.333333333333336), QStringLiteral("33.3333333333333"));
    EXPECT_EQ(uniqueText(2), QStringLiteral("Unique IPs: 2"));
    EXPECT_EQ(elapsedText(3723) + ' ' + elapsedText(86400 + 59) + ' ' + elapsedText(10000LL * 86400),
              QStringLiteral("0000:01:02:03 0001:00:00:59 10000:00:00:00"));
}

TEST(RunStatistics, ElapsedTimeFollowsRealTimeNotTheWallClock)
{
    struct Step
    {
        double passes, wallStep; // seconds of real time; somebody sets the wall clock
    };
    const std::tuple<QTime, std::vector<Step>, const char *> rows[] = {
        {QTime(12, 0), {{59.6, 0}}, "0000:00:01:00"},
        {QTime(12, 0), {{2.5, 0}}, "0000:00:00:02"}, // halves go to even
        {QTime(12, 0), {{3.5, 0}}, "0000:00:00:04"},
        {QTime(23, 59, 59, 500), {{1, 0}, {3600, 0}}, "0000:01:00:01"},
        {QTime(12, 0), {{10, 0}, {0, -3600}, {5, 0}}, "0000:00:00:15"},
        {QTime(0, 0, 30), {{10, -3600}, {20, 0}}, "0000:00:00:30"},
        {QTime(12, 0), std::vector<Step>(365 * 24, {3600, 0}), "0365:00:00:00"},
    };
    for (const auto &[startOfDay, steps, text] : rows) {
        ManualClock clock;
        clock.setDateTime(QDateTime(QDate(2026, 3, 29), startOfDay));
        ElapsedClock elapsed;
        elapsed.start(clock);
        QString shown;
        for (const Step &step : steps) {
            clock.advance(step.passes);
            clock.stepWall(step.wallStep);
            shown = elapsed.advance(clock);
        }
        EXPECT_EQ(shown, QString::fromLatin1(text));
    }
}
