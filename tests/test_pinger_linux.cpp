// Real ICMP through the Linux pinger, alone and under the sweep controller,
// inside private network namespaces that each test builds for itself:
// nothing sent here can leave them.
#include "netns.h"
#include "sweep/pinger.h"
#include "sweep/stepscheduler.h"
#include "sweep/sweepcontroller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vexal;

namespace {

constexpr Ipv4 PeerAddress = makeIpv4(198, 51, 100, 2);
const auto Mechanisms = ::testing::Values(std::string("datagram"), std::string("raw"));
const auto MechanismName = [](const ::testing::TestParamInfo<std::string> &info) { return info.param; };
const auto RowName = [](const auto &info) { return std::string(info.param.name); };
// Rows name their mechanism: "late_raw", "datagram_56".
std::string mechanismOf(const char *name) { return std::string(name).find("raw") != std::string::npos ? "raw" : "datagram"; }

OctetList range(int first, int last)
{
    OctetList list;
    for (int p = first; p <= last; ++p)
        list.setSelected(p, true);
    return list;
}

// The system pinger, on its own or driven by a sweep, and what came of it.
struct Session
{
    // The namespace's ping_group_range decides the mechanism: with every group
    // admitted the datagram socket opens; with none, root falls back to raw.
    Session(const std::string &mechanism, int timeoutMs)
    {
        const bool raw = mechanism == "raw";
        error = netns::setPingGroupRange(raw ? 1 : 0, raw ? 0 : 2147483647);
        pinger->setTimeout(timeoutMs);
        if (error.empty() && (!pinger->open() || pinger->mechanism().toStdString() != mechanism))
            error = "opened " + pinger->mechanism().toStdString() + ": " + pinger->errorText().toStdString();
        clock.start();
        QObject::connect(pinger.get(), &Pinger::replied, pinger.get(), [this](quint32 a) { replies.push_back(a); });
        QObject::connect(pinger.get(), &Pinger::settled, pinger.get(), [this] {
            ++settles;
            settledAfterMs = clock.elapsed();
        });
        QObject::connect(&controller, &SweepController::finished, &controller, [this] { finished = true; });
    }
    std::vector<Ipv4> sortedReplies() const
    {
        std::vector<Ipv4> sorted = replies;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    bool waitSettled() { return QTest::qWaitFor([this] { return settles > 0; }, 3000); }

    std::string error;
    std::unique_ptr<Pinger> pinger = createSystemPinger();
    TimerStepScheduler scheduler;
    SweepController controller{*pinger, scheduler};
    QElapsedTimer clock;
    std::vector<Ipv4> replies;
    int settles = 0;
    qint64 settledAfterMs = -1;
    bool finished = false;
};

// A private network of the test's own; with a peer, a second namespace
// behind a veth pair, where 198.51.100.2 answers.
template<typename Param, bool WithPeer = true>
class Network : public ::testing::TestWithParam<Param>
{
protected:
    void SetUp() override
    {
        if (const std::string why = netns::enterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << "no private network namespace: " << why;
        if (!WithPeer)
            return;
        m_peer = std::make_unique<netns::PeerNamespace>();
        if (!m_peer->error().empty())
            GTEST_SKIP() << m_peer->error();
        if (const std::string why = m_peer->addVeth("vx0", "198.51.100.1/24", "vx1", "198.51.100.2/24"); !why.empty())
            GTEST_SKIP() << "no veth pair: " << why;
    }
    void ours(const std::vector<std::string> &command) { ASSERT_EQ(netns::runCommand(command), ""); }
    void peers(const std::vector<std::string> &command) { ASSERT_EQ(m_peer->run(command), ""); }
    pid_t scriptedHost(const netns::EchoScript &script)
    {
        return m_peer->spawn([script](const auto &ready) { return netns::answerEchoRequests(script, ready); });
    }

    std::unique_ptr<netns::PeerNamespace> m_peer;
};

struct LoopbackRow
{
    const char *name;
    int dataSize, targets;
};
class Loopback : public Network<LoopbackRow, false>
{
};

// Every reply of a back-to-back burst is matched, whatever the size.
TEST_P(Loopback, AnswersComeFromTheAddressesPinged)
{
    Session run(mechanismOf(GetParam().name), 2000);
    ASSERT_EQ(run.error, "");
    run.pinger->setPacketSize(GetParam().dataSize);
    std::vector<Ipv4> targets; // clear of 127.0.0.0, which some kernels route as a broadcast address
    for (Ipv4 address = makeIpv4(127, 0, 16, 0); int(targets.size()) < GetParam().targets; ++address)
        targets.push_back(address);
    for (Ipv4 target : targets)
        run.pinger->send(target);
    EXPECT_TRUE(run.replies.empty()) << "loopback answers before sendto() returns, yet send() must not call back";
    EXPECT_EQ(run.pinger->outstanding(), GetParam().targets);
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.settles > 0; }, 5000));
    EXPECT_EQ(run.sortedReplies(), targets);
    EXPECT_LT(run.settledAfterMs, 2000) << "settled by the answers, not the timeout";
    QTest::qWait(50);
    EXPECT_EQ(run.settles, 1);
}
INSTANTIATE_TEST_SUITE_P(Sizes, Loopback,
                         ::testing::Values(LoopbackRow{"datagram_1", 1, 3}, LoopbackRow{"raw_7", 7, 3},
                                           LoopbackRow{"datagram_512_burst", 512, 4096}, LoopbackRow{"raw_512_burst", 512, 4096}),
                         RowName);

class Peer : public Network<std::string>
{
};

// (A silent host settles after the timeout: the scripted host's late rows show that.)
TEST_P(Peer, NothingIsReportedAfterCancel)
{
    Session run(GetParam(), 500);
    ASSERT_EQ(run.error, "");
    for (Ipv4 target : {makeIpv4(127, 0, 0, 1), makeIpv4(127, 0, 0, 2), PeerAddress})
        run.pinger->send(target);
    run.pinger->cancel();
    EXPECT_EQ(run.pinger->outstanding(), 0);
    QTest::qWait(300);
    EXPECT_TRUE(run.replies.empty());
    EXPECT_EQ(run.settles, 0);
    // Still usable, and no cancelled answer slips into the next request.
    run.pinger->send(makeIpv4(127, 0, 0, 2));
    ASSERT_TRUE(run.waitSettled());
    EXPECT_EQ(run.replies, std::vector<Ipv4>{makeIpv4(127, 0, 0, 2)});
}
INSTANTIATE_TEST_SUITE_P(Mechanisms, Peer, Mechanisms, MechanismName);

// A scripted host in the peer (netns::answerEchoRequests): the kernel's own
// answers are off there, and a raw socket answers each echo request late,
// twice, or with another identifier. Its exit status counts the replies it
// sent, which proves the replies the pinger must ignore really reached it.
// With holdMs the event loop is held that long after sending, as a busy
// window would hold it: lateness is judged by arrival, not by reading.
struct ResponderRow
{
    const char *name;
    int timeoutMs, delayMs, copies;
    quint16 identifierShift;
    bool counted;
    int holdMs = 0;
};
class Responder : public Network<ResponderRow>
{
};

TEST_P(Responder, ReportsOnlyOwnTimelyRepliesOnce)
{
    const ResponderRow row = GetParam();
    const pid_t host = scriptedHost({3, row.delayMs, row.copies, row.identifierShift});
    ASSERT_GT(host, 0);
    Session run(mechanismOf(row.name), row.timeoutMs);
    ASSERT_EQ(run.error, "");
    for (int i = 0; i < 3; ++i)
        run.pinger->send(PeerAddress);
    ::usleep(useconds_t(row.holdMs) * 1000);
    ASSERT_TRUE(run.waitSettled());
    EXPECT_EQ(m_peer->waitFor(host, 3000), 3 * row.copies) << "replies the scripted host sent";
    QTest::qWait(100); // whatever came after settling is read now, and must change nothing
    EXPECT_EQ(run.replies, std::vector<Ipv4>(row.counted ? 3 : 0, PeerAddress));
    EXPECT_EQ(run.settles, 1);
    EXPECT_GE(run.settledAfterMs, row.counted ? 0 : row.timeoutMs);
}
// A datagram socket never sees another identifier: the kernel filters it.
INSTANTIATE_TEST_SUITE_P(Scripts, Responder,
                         ::testing::Values(ResponderRow{"late_datagram", 50, 200, 1, 0, false},
                                           ResponderRow{"late_raw", 50, 200, 1, 0, false},
                                           ResponderRow{"duplicated_datagram", 1000, 0, 2, 0, true},
                                           ResponderRow{"duplicated_raw", 1000, 0, 2, 0, true},
                                           ResponderRow{"foreign_identifier_raw", 300, 0, 1, 1, false},
                                           ResponderRow{"held_in_time_datagram", 600, 100, 1, 0, true, 900},
                                           ResponderRow{"held_in_time_raw", 600, 100, 1, 0, true, 900},
                                           ResponderRow{"held_late_datagram", 100, 300, 1, 0, false, 700},
                                           ResponderRow{"held_late_raw", 100, 300, 1, 0, false, 700}),
                         RowName);

// An unprivileged user: a child process becomes nobody (losing CAP_NET_RAW)
// and reports what open() said through a pipe.
struct UnprivilegedRow
{
    const char *name;
    unsigned firstGroup, lastGroup;
    bool opens;
};
class Unprivileged : public Network<UnprivilegedRow, false>
{
};

TEST_P(Unprivileged, OpenNamesTheFixOrUsesTheDatagramSocket)
{
    ASSERT_EQ(netns::setPingGroupRange(GetParam().firstGroup, GetParam().lastGroup), "");
    int channel[2];
    ASSERT_EQ(::pipe2(channel, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        constexpr unsigned nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 || ::setresuid(nobody, nobody, nobody) != 0)
            ::_exit(3);
        auto pinger = createSystemPinger();
        const bool opened = pinger->open();
        const QByteArray report = (opened ? "1" : "0") + pinger->mechanism().toUtf8() + '\n' + pinger->errorText().toUtf8();
        ::_exit(::write(channel[1], report.constData(), std::size_t(report.size())) == report.size() ? 0 : 4);
    }
    ::close(channel[1]);
    std::string report(4096, '\0');
    pollfd readable{channel[0], POLLIN, 0};
    report.resize(::poll(&readable, 1, 5000) > 0 ? std::size_t(std::max<ssize_t>(::read(channel[0], report.data(), report.size()), 0)) : 0);
    ::close(channel[0]);
    ::kill(child, SIGKILL); // it has written or failed by now
    ::waitpid(child, nullptr, 0);
    if (GetParam().opens) {
        EXPECT_EQ(report, "1datagram\n");
        return;
    }
    ASSERT_EQ(report.substr(0, 2), "0\n");
    const std::string binary = QCoreApplication::applicationFilePath().toStdString();
    for (const std::string &fix : {"sudo setcap cap_net_raw+ep " + binary,
                                   std::string("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""), std::string("as root")})
        EXPECT_NE(report.find(fix), std::string::npos) << report;
}
INSTANTIATE_TEST_SUITE_P(Groups, Unprivileged,
                         ::testing::Values(UnprivilegedRow{"no_group_admitted", 1, 0, false},
                                           UnprivilegedRow{"nobody_admitted", 65534, 65534, true}),
                         RowName);

// 198.18.0.0/15 (131,072 targets, twice the sequence numbers of a socket) is
// routed to a neighbour nobody has, at delay 0 with a 1 s timeout: every
// request must live its full second. Only 198.18.0.5, near the start, is
// routed to the peer, where a scripted host answers it half a second late.
class LargeSilentSweep : public Network<std::string>
{
};

TEST_P(LargeSilentSweep, EveryRequestLivesItsFullTimeout)
{
    ours({"ip", "neigh", "replace", "198.51.100.99", "lladdr", "02:00:00:00:00:63", "dev", "vx0", "nud", "permanent"});
    ours({"ip", "route", "add", "198.18.0.0/15", "via", "198.51.100.99", "dev", "vx0"});
    ours({"ip", "route", "add", "198.18.0.5/32", "via", "198.51.100.2", "dev", "vx0"});
    peers({"ip", "addr", "add", "198.18.0.5/32", "dev", "lo"});
    const pid_t host = scriptedHost({1, 500});
    ASSERT_GT(host, 0);
    Session run(GetParam(), 1000);
    ASSERT_EQ(run.error, "");
    // By time t only requests sent by t - timeout may have ended. Samples come
    // between turns of the event loop, so "sent by" is read at the first
    // sample at or after that moment, which errs towards allowing.
    struct Sample
    {
        qint64 ns, sent, ended;
    };
    std::vector<Sample> samples;
    QElapsedTimer clock;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] {
        const qint64 sent = run.controller.attemptCount();
        samples.push_back({clock.nsecsElapsed(), sent, sent - run.pinger->outstanding() - qint64(run.replies.size())});
    });
    clock.start();
    sampler.start(5);
    run.controller.begin({range(198, 198), range(18, 19), range(0, 255), range(0, 255)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.finished; }, 20000));
    sampler.stop();

    EXPECT_EQ(run.controller.attemptCount(), 131072);
    EXPECT_EQ(run.replies, std::vector<Ipv4>{makeIpv4(198, 18, 0, 5)}) << "the late host, and nobody else";
    EXPECT_EQ(m_peer->waitFor(host, 3000), 1);
    qint64 endedEarly = 0;
    std::size_t legit = 0;
    const qint64 timeoutNs = 1'000'000'000;
    for (const Sample &sample : samples) {
        while (legit < samples.size() && samples[legit].ns < sample.ns - timeoutNs)
            ++legit;
        const qint64 allowed = sample.ns < timeoutNs ? 0 : samples[std::min(legit, samples.size() - 1)].sent;
        endedEarly = std::max(endedEarly, sample.ended - allowed);
    }
    EXPECT_EQ(endedEarly, 0) << "requests that ended before their timeout, over " << samples.size() << " samples";
    EXPECT_GT(samples.size(), std::size_t(20));
}
INSTANTIATE_TEST_SUITE_P(Mechanisms, LargeSilentSweep, Mechanisms, MechanismName);

// A token bucket with a queue of a few dozen packets on our end of the link:
// most sends of a fast sweep meet a full queue (ENOBUFS). Every one of
// 198.18.0.0/23, which the peer answers, must still be asked in the end.
class CongestedSweep : public Network<std::string>
{
};

TEST_P(CongestedSweep, ASendTheKernelRefusesForLackOfRoomIsSentLater)
{
    ours({"ip", "route", "add", "198.18.0.0/23", "via", "198.51.100.2", "dev", "vx0"});
    ours({"tc", "qdisc", "add", "dev", "vx0", "root", "tbf", "rate", "1mbit", "burst", "1600", "limit", "3000"});
    peers({"ip", "route", "add", "local", "198.18.0.0/16", "dev", "lo"});
    const long long discardedBefore = netns::snmpCounter("Ip", "OutDiscards");
    Session run(GetParam(), 2000);
    ASSERT_EQ(run.error, "");
    run.controller.begin({range(198, 198), range(18, 18), range(0, 1), range(0, 255)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.finished; }, 30000));
    std::vector<Ipv4> everyTarget;
    for (Ipv4 a = makeIpv4(198, 18, 0, 0); a <= makeIpv4(198, 18, 1, 255); ++a)
        everyTarget.push_back(a);
    EXPECT_GT(netns::snmpCounter("Ip", "OutDiscards"), discardedBefore) << "the queue was full at times";
    EXPECT_EQ(run.controller.attemptCount(), 512);
    EXPECT_EQ(run.sortedReplies(), everyTarget);
    EXPECT_TRUE(run.controller.sendFailureText().isEmpty());
}
INSTANTIATE_TEST_SUITE_P(Mechanisms, CongestedSweep, Mechanisms, MechanismName);

// 127.255.255.255 is the loopback network's broadcast address: the system
// refuses an echo request to it (EACCES). That is an unanswered attempt,
// written once to standard error, and the sweep goes on; a sweep of nothing
// else keeps the reason for the window.
class BroadcastSweep : public Network<std::string, false>
{
};

TEST_P(BroadcastSweep, ARefusedTargetIsAnUnansweredAttemptReportedOnce)
{
    const std::string written = "Vexal: cannot send an echo request to 127.255.255.255: Permission denied\n";
    for (const auto &[last, replies] : {std::pair{range(253, 255), 2}, std::pair{range(255, 255), 0}}) {
        Session run(GetParam(), 300);
        ASSERT_EQ(run.error, "");
        ::testing::internal::CaptureStderr();
        run.controller.begin({range(127, 127), range(255, 255), range(255, 255), last}, 0, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return run.finished; }, 5000));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), written);
        EXPECT_EQ(run.controller.attemptCount(), last.selectedCount());
        EXPECT_EQ(run.replies.size(), std::size_t(replies));
        EXPECT_EQ(run.controller.sendFailureText(), replies ? QString() : QStringLiteral("Permission denied"));
    }
}
INSTANTIATE_TEST_SUITE_P(Mechanisms, BroadcastSweep, Mechanisms, MechanismName);

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
