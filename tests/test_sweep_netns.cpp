// Real sweeps: the sweep controller or the real main window with the system
// pinger and real ICMP, inside a private network namespace that this
// process makes for itself, and peers it builds behind veth pairs.
#include "netns.h"
#include "qtprinters.h"
#include "scripteddialogs.h"

#include "app/mainwindow.h"
#include "common/clock.h"
#include "common/logsettings.h"
#include "sweep/pinger.h"
#include "sweep/stepscheduler.h"
#include "sweep/sweepcontroller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

using namespace vexal;

namespace {

std::string g_noNetwork = "the private network was not entered";

OctetList only(std::initializer_list<int> positions)
{
    OctetList list;
    for (int p : positions)
        list.setSelected(p, true);
    return list;
}

QString label(MainWindow &window, const char *name)
{
    return window.findChild<QLabel *>(QLatin1String(name))->text();
}

OctetList range(int first, int last)
{
    OctetList list;
    for (int p = first; p <= last; ++p)
        list.setSelected(p, true);
    return list;
}

// Runs the event loop until done() or limitMs; never longer.
bool spinUntil(const std::function<bool()> &done, int limitMs)
{
    QTimer tick; // wakes WaitForMoreEvents, so the limit is always checked
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// The controller driving the system pinger, with what came of it.
struct Sweep
{
    explicit Sweep(const std::string &mechanism, int timeoutMs)
    {
        // The namespace's ping_group_range decides the socket: with every
        // group admitted the datagram socket opens; with none, root's raw.
        const std::string why = mechanism == "datagram" ? netns::setPingGroupRange(0, 2147483647)
                                                        : netns::setPingGroupRange(1, 0);
        pinger = createSystemPinger();
        pinger->setTimeout(timeoutMs);
        ok = why.empty() && pinger->open() && pinger->mechanism().toStdString() == mechanism;
        controller = std::make_unique<SweepController>(*pinger, scheduler);
        QObject::connect(pinger.get(), &Pinger::replied, controller.get(), [this](quint32 a) { replies.push_back(a); });
        QObject::connect(controller.get(), &SweepController::finished, controller.get(), [this] { finished = true; });
    }
    std::vector<Ipv4> sortedReplies() const
    {
        std::vector<Ipv4> sorted = replies;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

    bool ok = false;
    std::unique_ptr<Pinger> pinger;
    TimerStepScheduler scheduler;
    std::unique_ptr<SweepController> controller;
    std::vector<Ipv4> replies;
    bool finished = false;
};

const auto MechanismValues = ::testing::Values(std::string("datagram"), std::string("raw"));
const auto MechanismName = [](const ::testing::TestParamInfo<std::string> &info) { return info.param; };

// A peer namespace behind a veth pair 198.51.100.1 (ours) - .2 (the peer's).
class PeerSweep : public ::testing::TestWithParam<std::string>
{
protected:
    void SetUp() override
    {
        if (!netns::inPrivateNetwork())
            GTEST_SKIP() << g_noNetwork;
        m_peer = std::make_unique<netns::PeerNamespace>();
        if (!m_peer->error().empty())
            GTEST_SKIP() << m_peer->error();
        // Each test gets links of its own name; they go with the peer.
        m_link = "vs" + std::to_string(++s_links);
        if (const std::string why = m_peer->addVeth(m_link, "198.51.100.1/24", m_link + "p", "198.51.100.2/24");
            !why.empty())
            GTEST_SKIP() << "no veth pair: " << why;
    }
    void TearDown() override { m_peer.reset(); }

    void ours(const std::vector<std::string> &command) { ASSERT_EQ(netns::runCommand(command), ""); }
    void peers(const std::vector<std::string> &command) { ASSERT_EQ(m_peer->run(command), ""); }

    std::unique_ptr<netns::PeerNamespace> m_peer;
    std::string m_link;
    static inline int s_links = 0;
};

// ---------------------------------------------------------------------------
// 198.18.0.0/15 (131,072 targets, twice the sequence numbers of a socket) is
// routed to a neighbour nobody has, at delay 0 with a 1 s timeout: every
// request must live its full second. Only 198.18.0.5, near the start, is
// routed to the peer, where a scripted host answers it half a second late.

class LargeSilentSweep : public PeerSweep
{
};

TEST_P(LargeSilentSweep, EveryRequestLivesItsFullTimeout)
{
    const int timeoutMs = 1000;
    ours({"ip", "neigh", "replace", "198.51.100.99", "lladdr", "02:00:00:00:00:63", "dev", m_link, "nud", "permanent"});
    ours({"ip", "route", "add", "198.18.0.0/15", "via", "198.51.100.99", "dev", m_link});
    ours({"ip", "route", "add", "198.18.0.5/32", "via", "198.51.100.2", "dev", m_link});
    peers({"ip", "addr", "add", "198.18.0.5/32", "dev", "lo"});
    const pid_t responder = m_peer->spawn([](const auto &ready) {
        return netns::answerEchoRequests({1, 500}, ready);
    });
    ASSERT_GT(responder, 0);

    Sweep sweep(GetParam(), timeoutMs);
    ASSERT_TRUE(sweep.ok) << sweep.pinger->errorText().toStdString();
    // By time t only requests sent by t - timeout may have ended. Samples
    // come between turns of the event loop, so "sent by" is read at the first
    // sample at or after that moment, which errs towards allowing.
    struct Sample
    {
        qint64 ns, sent, ended;
    };
    std::vector<Sample> samples;
    QElapsedTimer clock;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] {
        const qint64 sent = sweep.controller->attemptCount();
        samples.push_back({clock.nsecsElapsed(), sent, sent - sweep.pinger->outstanding() - qint64(sweep.replies.size())});
    });
    clock.start();
    sampler.start(5);
    sweep.controller->begin({only({198}), only({18, 19}), range(0, 255), range(0, 255)}, 0, false);
    ASSERT_TRUE(spinUntil([&] { return sweep.finished; }, 20000));
    sampler.stop();

    EXPECT_EQ(sweep.controller->attemptCount(), 131072);
    EXPECT_EQ(sweep.replies, std::vector<Ipv4>{makeIpv4(198, 18, 0, 5)}) << "the late host, and nobody else";
    EXPECT_EQ(m_peer->waitFor(responder, 3000), 1);
    qint64 endedEarly = 0;
    std::size_t legit = 0;
    const qint64 timeoutNs = qint64(timeoutMs) * 1'000'000;
    for (const Sample &sample : samples) {
        while (legit < samples.size() && samples[legit].ns < sample.ns - timeoutNs)
            ++legit;
        const qint64 allowed = sample.ns < timeoutNs ? 0 : samples[std::min(legit, samples.size() - 1)].sent;
        endedEarly = std::max(endedEarly, sample.ended - allowed);
    }
    EXPECT_EQ(endedEarly, 0) << "requests that ended before their timeout, over " << samples.size() << " samples";
    EXPECT_GT(samples.size(), std::size_t(20));
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, LargeSilentSweep, MechanismValues, MechanismName);

// ---------------------------------------------------------------------------
// A token bucket with a queue of a few dozen packets on our end of the link:
// most sends of a fast sweep meet a full queue (ENOBUFS). Every one of
// 198.18.0.0/23, which the peer answers, must still be asked in the end.

class CongestedSweep : public PeerSweep
{
};

TEST_P(CongestedSweep, ASendTheKernelRefusesForLackOfRoomIsSentLater)
{
    ours({"ip", "route", "add", "198.18.0.0/23", "via", "198.51.100.2", "dev", m_link});
    ours({"tc", "qdisc", "add", "dev", m_link, "root", "tbf", "rate", "1mbit", "burst", "1600", "limit", "3000"});
    peers({"ip", "route", "add", "local", "198.18.0.0/16", "dev", "lo"});
    const long long discardedBefore = netns::snmpCounter("Ip", "OutDiscards");

    Sweep sweep(GetParam(), 2000);
    ASSERT_TRUE(sweep.ok) << sweep.pinger->errorText().toStdString();
    sweep.controller->begin({only({198}), only({18}), range(0, 1), range(0, 255)}, 0, false);
    ASSERT_TRUE(spinUntil([&] { return sweep.finished; }, 30000));

    std::vector<Ipv4> everyTarget;
    for (Ipv4 a = makeIpv4(198, 18, 0, 0); a <= makeIpv4(198, 18, 1, 255); ++a)
        everyTarget.push_back(a);
    EXPECT_GT(netns::snmpCounter("Ip", "OutDiscards"), discardedBefore) << "the queue was full at times";
    EXPECT_EQ(sweep.controller->attemptCount(), 512);
    EXPECT_EQ(sweep.sortedReplies(), everyTarget);
    EXPECT_TRUE(sweep.controller->sendFailureText().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, CongestedSweep, MechanismValues, MechanismName);

// ---------------------------------------------------------------------------
// 127.255.255.255 is the loopback network's broadcast address: the system
// refuses an echo request to it (EACCES). That is an unanswered attempt,
// written once per run to standard error, and the sweep goes on.

class BroadcastSweep : public ::testing::TestWithParam<std::string>
{
};

TEST_P(BroadcastSweep, ARefusedTargetIsAnUnansweredAttemptReportedOnce)
{
    if (!netns::inPrivateNetwork())
        GTEST_SKIP() << g_noNetwork;
    const AddressSet selections = {only({127}), only({255}), only({255}), only({253, 254, 255})};
    const std::string written = "Vexal: cannot send an echo request to 127.255.255.255: Permission denied\n";

    Sweep single(GetParam(), 300);
    ASSERT_TRUE(single.ok);
    ::testing::internal::CaptureStderr();
    single.controller->begin(selections, 0, false);
    ASSERT_TRUE(spinUntil([&] { return single.finished; }, 5000));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), written);
    EXPECT_EQ(single.controller->attemptCount(), 3);
    EXPECT_EQ(single.sortedReplies(), (std::vector<Ipv4>{makeIpv4(127, 255, 255, 253), makeIpv4(127, 255, 255, 254)}));
    EXPECT_TRUE(single.controller->sendFailureText().isEmpty());

    // Cycling on: thousands of refusals, one line.
    Sweep cycling(GetParam(), 300);
    ASSERT_TRUE(cycling.ok);
    ::testing::internal::CaptureStderr();
    cycling.controller->begin(selections, 0, true);
    EXPECT_TRUE(spinUntil([&] { return cycling.controller->cycle() > 2000 && cycling.replies.size() > 2000; }, 10000));
    cycling.controller->stop();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), written);
    EXPECT_TRUE(cycling.controller->sendFailureText().isEmpty());

    // Nothing but the broadcast address: the reason is kept for the window.
    Sweep refused(GetParam(), 300);
    ASSERT_TRUE(refused.ok);
    ::testing::internal::CaptureStderr();
    refused.controller->begin({only({127}), only({255}), only({255}), only({255})}, 0, false);
    ASSERT_TRUE(spinUntil([&] { return refused.finished; }, 5000));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), written);
    EXPECT_EQ(refused.controller->attemptCount(), 1);
    EXPECT_EQ(refused.controller->sendFailureText(), QStringLiteral("Permission denied"));
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, BroadcastSweep, MechanismValues, MechanismName);

} // namespace

TEST(RealSweep, LoopbackThroughTheMainWindow)
{
    if (!netns::inPrivateNetwork())
        GTEST_SKIP() << g_noNetwork;

    ScriptedDialogs dialogs;
    TimerStepScheduler scheduler;
    SystemClock clock;
    LogSettings logSettings;
    const std::unique_ptr<Pinger> pinger = createSystemPinger();
    MainWindow window({dialogs, *pinger, scheduler, clock, logSettings}, QString());
    window.show();

    window.setSelections({only({127}), only({0}), only({0}), only({1, 2, 3, 4})});
    window.findChild<QPushButton *>(QStringLiteral("cmdStart"))->click();
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.constFirst().text.toStdString();
    EXPECT_EQ(window.startTag(), QStringLiteral("Stop"));

    // Loopback answers within microseconds; the run ends once every reply
    // is in, and well inside the 300 ms timeout.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.startTag() == QStringLiteral("Start"); }, 5000));
    EXPECT_EQ(label(window, "lblActualAttempts"), QStringLiteral("4 of 4"));
    EXPECT_EQ(label(window, "lblActualResponse"), QStringLiteral("4"));
    EXPECT_EQ(label(window, "lblActualPercentage"), QStringLiteral("100%"));
    EXPECT_EQ(label(window, "lblUniqueResponses"), QStringLiteral("Unique IPs: 4"));
    EXPECT_EQ(label(window, "lblActualCurrentAddress"), QStringLiteral("127.0.0.4"));
    auto *responses = window.findChild<QListWidget *>(QStringLiteral("lstPositiveResponses"));
    QStringList listed;
    for (int i = 0; i < responses->count(); ++i)
        listed << responses->item(i)->text();
    EXPECT_EQ(listed, QStringList({"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"}));
    EXPECT_TRUE(window.findChild<QWidget *>(QStringLiteral("fraIPAddresses"))->isEnabled());
}

int main(int argc, char **argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    // Only a run sends packets; listing the tests at build time must not
    // need root.
    if (!listing) {
        const std::string why = netns::enterPrivateNetwork();
        if (!why.empty())
            g_noNetwork = why;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
