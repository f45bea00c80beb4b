// Real ICMP through the Linux pinger, inside private network namespaces that
// each test builds for itself: nothing sent here can leave them.

#include "netns.h"
#include "sweep/icmppacket.h"
#include "sweep/pinger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
// After netinet/in.h, so that the kernel header defers to glibc's types.
#include <linux/icmp.h>

using namespace vexal;

namespace {

constexpr Ipv4 PeerAddress = makeIpv4(198, 51, 100, 2);
constexpr Ipv4 SilentAddress = makeIpv4(198, 51, 100, 3);
constexpr unsigned NobodyId = 65534;

const auto MechanismValues = ::testing::Values(std::string("datagram"), std::string("raw"));
const auto MechanismName = [](const ::testing::TestParamInfo<std::string> &info) { return info.param; };

// Runs the event loop until done() or limitMs; never longer.
bool spinUntil(const std::function<bool()> &done, int limitMs)
{
    QTimer tick; // wakes WaitForMoreEvents, so the limit is always checked
    tick.start(2);
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

void spinFor(int milliseconds) { spinUntil([] { return false; }, milliseconds); }

// The child's exit status; after limitMs it is killed and the result is -1.
int reap(pid_t child, int limitMs)
{
    int status = 0;
    for (int waited = 0; waited < limitMs; waited += 2) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(2000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}

struct Recorder
{
    explicit Recorder(Pinger &pinger)
    {
        clock.start();
        QObject::connect(&pinger, &Pinger::replied, &pinger, [this](quint32 address) { replies.push_back(address); });
        QObject::connect(&pinger, &Pinger::settled, &pinger, [this] {
            ++settles;
            settledAfterMs = clock.elapsed();
        });
    }
    std::vector<Ipv4> sortedReplies() const
    {
        std::vector<Ipv4> sorted = replies;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

    QElapsedTimer clock;
    std::vector<Ipv4> replies;
    int settles = 0;
    qint64 settledAfterMs = -1;
};

// The namespace's ping_group_range decides the mechanism: with every group
// admitted the datagram socket opens; with none, root falls back to raw.
std::unique_ptr<Pinger> openPinger(const std::string &mechanism, int timeoutMs)
{
    const std::string why = mechanism == "datagram" ? netns::setPingGroupRange(0, 2147483647)
                                                    : netns::setPingGroupRange(1, 0);
    if (!why.empty()) {
        ADD_FAILURE() << why;
        return nullptr;
    }
    auto pinger = createSystemPinger();
    pinger->setTimeout(timeoutMs);
    if (!pinger->open()) {
        ADD_FAILURE() << pinger->errorText().toStdString();
        return nullptr;
    }
    if (pinger->mechanism().toStdString() != mechanism) {
        ADD_FAILURE() << "opened " << pinger->mechanism().toStdString() << ", not " << mechanism;
        return nullptr;
    }
    return pinger;
}

template<typename Base>
class PrivateNetwork : public Base
{
protected:
    void SetUp() override
    {
        if (const std::string why = netns::enterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << "no private network namespace: " << why;
    }
};

// Adds a peer namespace behind a veth pair: 198.51.100.2 answers from the
// peer; 198.51.100.3 is a static neighbour with a made-up MAC, so requests
// to it are sent and nobody ever answers.
template<typename Base>
class PeerNetwork : public PrivateNetwork<Base>
{
protected:
    void SetUp() override
    {
        PrivateNetwork<Base>::SetUp();
        if (this->IsSkipped())
            return;
        m_peer = std::make_unique<netns::PeerNamespace>();
        if (!m_peer->error().empty())
            GTEST_SKIP() << m_peer->error();
        if (const std::string why = m_peer->addVeth("vx0", "198.51.100.1/24", "vx1", "198.51.100.2/24"); !why.empty())
            GTEST_SKIP() << "no veth pair: " << why;
        ASSERT_EQ(netns::runCommand({"ip", "neigh", "replace", "198.51.100.3", "lladdr", "02:00:00:00:00:03",
                                     "dev", "vx0", "nud", "permanent"}),
                  "");
    }

    std::unique_ptr<netns::PeerNamespace> m_peer;
};

// ---------------------------------------------------------------------------

struct LoopbackRow
{
    const char *mechanism;
    int dataSize;
};

void PrintTo(const LoopbackRow &row, std::ostream *out) { *out << row.mechanism << ", " << row.dataSize << " bytes"; }

class LinuxPingerLoopback : public PrivateNetwork<::testing::TestWithParam<LoopbackRow>>
{
};

TEST_P(LinuxPingerLoopback, AnswersComeFromTheAddressesPinged)
{
    auto pinger = openPinger(GetParam().mechanism, 1000);
    ASSERT_TRUE(pinger);
    pinger->setPacketSize(GetParam().dataSize);
    Recorder recorder(*pinger);
    const std::vector<Ipv4> targets = {makeIpv4(127, 0, 0, 1), makeIpv4(127, 0, 0, 2), makeIpv4(127, 1, 2, 3)};
    for (Ipv4 target : targets)
        pinger->send(target);
    // Loopback answers before sendto() returns, yet send() must not call back.
    EXPECT_TRUE(recorder.replies.empty());
    EXPECT_EQ(pinger->outstanding(), 3);

    ASSERT_TRUE(spinUntil([&] { return recorder.settles > 0; }, 3000));
    EXPECT_EQ(recorder.sortedReplies(), targets);
    EXPECT_LT(recorder.settledAfterMs, 1000) << "settled by the answers, not the timeout";
    spinFor(50);
    EXPECT_EQ(recorder.settles, 1);
    EXPECT_EQ(pinger->outstanding(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LinuxPingerLoopback,
                         ::testing::Values(LoopbackRow{"datagram", 56}, LoopbackRow{"raw", 56},
                                           LoopbackRow{"datagram", 1}, LoopbackRow{"raw", 7},
                                           LoopbackRow{"datagram", 512}, LoopbackRow{"raw", 512}),
                         [](const auto &info) {
                             return std::string(info.param.mechanism) + "_" + std::to_string(info.param.dataSize);
                         });

// ---------------------------------------------------------------------------

class LinuxPingerPeer : public PeerNetwork<::testing::TestWithParam<std::string>>
{
};

TEST_P(LinuxPingerPeer, SilentHostSettlesAfterTheTimeout)
{
    const int timeoutMs = 300;
    auto pinger = openPinger(GetParam(), timeoutMs);
    ASSERT_TRUE(pinger);
    Recorder recorder(*pinger);
    pinger->send(PeerAddress);
    pinger->send(SilentAddress);

    ASSERT_TRUE(spinUntil([&] { return recorder.settles > 0; }, 3000));
    EXPECT_EQ(recorder.replies, std::vector<Ipv4>{PeerAddress});
    EXPECT_GE(recorder.settledAfterMs, timeoutMs);
    EXPECT_EQ(pinger->outstanding(), 0);
    spinFor(50);
    EXPECT_EQ(recorder.settles, 1);
}

TEST_P(LinuxPingerPeer, NothingIsReportedAfterCancel)
{
    auto pinger = openPinger(GetParam(), 500);
    ASSERT_TRUE(pinger);
    Recorder recorder(*pinger);
    for (Ipv4 target : {makeIpv4(127, 0, 0, 1), makeIpv4(127, 0, 0, 2), PeerAddress})
        pinger->send(target);
    pinger->cancel();
    EXPECT_EQ(pinger->outstanding(), 0);
    spinFor(300);
    EXPECT_TRUE(recorder.replies.empty());
    EXPECT_EQ(recorder.settles, 0);

    // Still usable, and no cancelled answer slips into the next request.
    pinger->send(makeIpv4(127, 0, 0, 2));
    ASSERT_TRUE(spinUntil([&] { return recorder.settles > 0; }, 3000));
    EXPECT_EQ(recorder.replies, std::vector<Ipv4>{makeIpv4(127, 0, 0, 2)});
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, LinuxPingerPeer, MechanismValues, MechanismName);

// ---------------------------------------------------------------------------
// A scripted host in the peer (netns::answerEchoRequests): the kernel's own
// answers are off there, and a raw socket answers each echo request late,
// twice, or with another identifier. Its exit status counts the replies it
// sent, which proves the replies the pinger must ignore really reached it.
// With holdMs the event loop is held that long after sending, as a busy
// window would hold it: lateness is judged by arrival, not by reading.

struct ResponderRow
{
    const char *name;
    const char *mechanism;
    int timeoutMs;
    int delayMs;
    int copies;
    quint16 identifierShift;
    bool counted;
    int holdMs = 0;
};

void PrintTo(const ResponderRow &row, std::ostream *out) { *out << row.name; }

class LinuxPingerResponder : public PeerNetwork<::testing::TestWithParam<ResponderRow>>
{
};

TEST_P(LinuxPingerResponder, ReportsOnlyOwnTimelyRepliesOnce)
{
    const ResponderRow row = GetParam();
    const int requests = 3;
    const netns::EchoScript script{requests, row.delayMs, row.copies, row.identifierShift};
    const pid_t responder = m_peer->spawn([&](const auto &ready) { return netns::answerEchoRequests(script, ready); });
    ASSERT_GT(responder, 0);
    auto pinger = openPinger(row.mechanism, row.timeoutMs);
    ASSERT_TRUE(pinger);
    Recorder recorder(*pinger);
    for (int i = 0; i < requests; ++i)
        pinger->send(PeerAddress);
    ::usleep(useconds_t(row.holdMs) * 1000);

    ASSERT_TRUE(spinUntil([&] { return recorder.settles > 0; }, 3000));
    EXPECT_EQ(m_peer->waitFor(responder, 3000), requests * row.copies) << "replies the responder sent";
    // Whatever came after settling is read now, and must change nothing.
    spinFor(100);
    EXPECT_EQ(recorder.replies, std::vector<Ipv4>(row.counted ? requests : 0, PeerAddress));
    EXPECT_EQ(recorder.settles, 1);
    EXPECT_EQ(pinger->outstanding(), 0);
    if (!row.counted) {
        EXPECT_GE(recorder.settledAfterMs, row.timeoutMs);
    }
}

// A datagram socket never sees another identifier: the kernel filters it.
INSTANTIATE_TEST_SUITE_P(Scripts, LinuxPingerResponder,
                         ::testing::Values(ResponderRow{"late_datagram", "datagram", 50, 200, 1, 0, false},
                                           ResponderRow{"late_raw", "raw", 50, 200, 1, 0, false},
                                           ResponderRow{"delayed_in_time", "datagram", 1000, 200, 1, 0, true},
                                           ResponderRow{"duplicated_datagram", "datagram", 1000, 0, 2, 0, true},
                                           ResponderRow{"duplicated_raw", "raw", 1000, 0, 2, 0, true},
                                           ResponderRow{"foreign_identifier", "raw", 300, 0, 1, 1, false},
                                           ResponderRow{"held_in_time_datagram", "datagram", 600, 100, 1, 0, true, 900},
                                           ResponderRow{"held_in_time_raw", "raw", 600, 100, 1, 0, true, 900},
                                           ResponderRow{"held_late_datagram", "datagram", 100, 300, 1, 0, false, 700},
                                           ResponderRow{"held_late_raw", "raw", 100, 300, 1, 0, false, 700}),
                         [](const auto &info) { return std::string(info.param.name); });

// Other programs' echo replies never take room in the raw socket's queue:
// a plain raw socket beside it sees them queue up, the pinger's does not.

// Receive queue bytes of the raw ICMP sockets in /proc/net/raw, by inode.
std::map<unsigned long, unsigned long> rawIcmpQueues()
{
    std::map<unsigned long, unsigned long> queues;
    std::ifstream table("/proc/net/raw");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queue, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        fields >> slot >> local >> remote >> state >> queue >> timer >> retransmits >> uid >> timeout >> inode;
        if (local.size() > 5 && local.substr(local.size() - 5) == ":0001")
            queues[inode] = std::stoul(queue.substr(queue.find(':') + 1), nullptr, 16);
    }
    return queues;
}

class LinuxPingerFilter : public PeerNetwork<::testing::Test>
{
};

TEST_F(LinuxPingerFilter, ForeignRepliesNeverQueueOnTheRawSocket)
{
    const netns::EchoScript script{3, 0, 1, 1};
    const pid_t responder = m_peer->spawn([&](const auto &ready) { return netns::answerEchoRequests(script, ready); });
    ASSERT_GT(responder, 0);
    auto pinger = openPinger("raw", 300);
    ASSERT_TRUE(pinger);
    const int witness = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(witness, 0);
    struct stat status{};
    ASSERT_EQ(::fstat(witness, &status), 0);
    for (int i = 0; i < 3; ++i)
        pinger->send(PeerAddress);
    // No event loop: whatever reaches the pinger's socket stays queued.
    ASSERT_EQ(m_peer->waitFor(responder, 3000), 3) << "replies the responder sent";
    ::usleep(100 * 1000);
    const auto queues = rawIcmpQueues();
    ::close(witness);
    ASSERT_EQ(queues.size(), 2u) << "the pinger's socket and the witness";
    for (const auto &[inode, bytes] : queues) {
        if (inode == status.st_ino)
            EXPECT_GT(bytes, 0u) << "the witness saw the foreign replies";
        else
            EXPECT_EQ(bytes, 0u) << "the pinger's socket";
    }
}

// ---------------------------------------------------------------------------

class LinuxPingerBurst : public PrivateNetwork<::testing::TestWithParam<std::string>>
{
};

TEST_P(LinuxPingerBurst, EveryReplyOfABackToBackBurstIsMatched)
{
    auto pinger = openPinger(GetParam(), 2000);
    ASSERT_TRUE(pinger);
    Recorder recorder(*pinger);
    // Clear of 127.0.0.0, which some kernels route as a broadcast address.
    std::vector<Ipv4> targets;
    for (Ipv4 address = makeIpv4(127, 0, 16, 0); address <= makeIpv4(127, 0, 31, 255); ++address)
        targets.push_back(address);

    QElapsedTimer clock;
    clock.start();
    for (Ipv4 target : targets)
        pinger->send(target);
    const qint64 sendingMs = clock.elapsed();
    ASSERT_TRUE(spinUntil([&] { return pinger->outstanding() == 0; }, 5000));
    const qint64 totalMs = clock.elapsed();

    EXPECT_EQ(recorder.sortedReplies(), targets);
    EXPECT_EQ(recorder.settles, 1);
    RecordProperty("SendingMs", int(sendingMs));
    RecordProperty("TotalMs", int(totalMs));
    std::printf("%zu requests sent in %lld ms, all answered after %lld ms\n", targets.size(),
                static_cast<long long>(sendingMs), static_cast<long long>(totalMs));
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, LinuxPingerBurst, MechanismValues, MechanismName);

// ---------------------------------------------------------------------------
// An unprivileged user: a child process becomes nobody (losing CAP_NET_RAW)
// and reports what open() said through a pipe.

struct UnprivilegedRow
{
    const char *name;
    unsigned firstGroup;
    unsigned lastGroup;
    bool opens;
};

void PrintTo(const UnprivilegedRow &row, std::ostream *out) { *out << row.name; }

class LinuxPingerUnprivileged : public PrivateNetwork<::testing::TestWithParam<UnprivilegedRow>>
{
};

TEST_P(LinuxPingerUnprivileged, OpenNamesTheFixOrUsesTheDatagramSocket)
{
    const UnprivilegedRow row = GetParam();
    ASSERT_EQ(netns::setPingGroupRange(row.firstGroup, row.lastGroup), "");
    int channel[2];
    ASSERT_EQ(::pipe2(channel, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(NobodyId, NobodyId, NobodyId) != 0
            || ::setresuid(NobodyId, NobodyId, NobodyId) != 0)
            ::_exit(3);
        auto pinger = createSystemPinger();
        const bool opened = pinger->open();
        const QByteArray report = QByteArray(opened ? "1" : "0") + pinger->mechanism().toUtf8() + '\n'
                                  + pinger->errorText().toUtf8();
        ::_exit(::write(channel[1], report.constData(), std::size_t(report.size())) == report.size() ? 0 : 4);
    }
    ::close(channel[1]);
    std::string report;
    std::array<char, 512> buffer;
    for (pollfd readable{channel[0], POLLIN, 0}; ::poll(&readable, 1, 5000) > 0;) {
        const ssize_t n = ::read(channel[0], buffer.data(), buffer.size());
        if (n <= 0)
            break;
        report.append(buffer.data(), std::size_t(n));
    }
    ::close(channel[0]);
    ASSERT_EQ(reap(child, 5000), 0);

    if (row.opens) {
        EXPECT_EQ(report, "1datagram\n");
        return;
    }
    ASSERT_EQ(report.substr(0, 2), "0\n");
    const std::string text = report.substr(2);
    const std::string binary = QCoreApplication::applicationFilePath().toStdString();
    EXPECT_NE(text.find("sudo setcap cap_net_raw+ep " + binary), std::string::npos) << text;
    EXPECT_NE(text.find("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""), std::string::npos) << text;
    EXPECT_NE(text.find("as root"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Groups, LinuxPingerUnprivileged,
                         ::testing::Values(UnprivilegedRow{"no_group_admitted", 1, 0, false},
                                           UnprivilegedRow{"nobody_admitted", NobodyId, NobodyId, true}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
