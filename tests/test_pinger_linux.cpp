// Real ICMP through the Linux pinger, alone and under the sweep controller,
// inside private network namespaces that each test builds for itself:
// nothing sent here can leave them.
#include "netns.h"
#include "sweep/neighbourtable_linux.h"
#include "sweep/pinger.h"
#include "sweep/pingers_linux.h"
#include "sweep/stepscheduler.h"
#include "sweep/sweepcontroller.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <QtCore/qtestsupport_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <future>
#include <numeric>

#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
// After netinet/in.h, so that the kernel header defers to glibc's types.
#include <linux/icmp.h>

using namespace vexal;

// Targets whose sends fail with EINVAL, as a full neighbour table makes them
// fail on older kernels (this one says ENOBUFS), and until when (monotonic
// ms). This definition takes the place of the C library's for the program.
static std::vector<std::pair<Ipv4, qint64>> g_invalidUntil;
extern "C" int sendmmsg(int fd, mmsghdr *messages, unsigned count, int flags)
{
    static const auto real = reinterpret_cast<int (*)(int, mmsghdr *, unsigned, int)>(::dlsym(RTLD_NEXT, "sendmmsg"));
    for (unsigned i = 0; i < count; ++i) {
        const Ipv4 to = ntohl(static_cast<const sockaddr_in *>(messages[i].msg_hdr.msg_name)->sin_addr.s_addr);
        for (const auto &[target, until] : g_invalidUntil) {
            if (to == target && QDeadlineTimer::current().deadline() < until) {
                if (i > 0) // the kernel sends those before it and reports them
                    return real(fd, messages, i, flags);
                errno = EINVAL;
                return -1;
            }
        }
    }
    return real(fd, messages, count, flags);
}

// The send buffer a socket gets when asked, as for a process without
// CAP_NET_ADMIN under a net.core.wmem_max that small (0: as asked).
static int g_sendBufferCap = 0;
extern "C" int setsockopt(int fd, int level, int name, const void *value, socklen_t length)
{
    static const auto real =
        reinterpret_cast<int (*)(int, int, int, const void *, socklen_t)>(::dlsym(RTLD_NEXT, "setsockopt"));
    if (g_sendBufferCap > 0 && level == SOL_SOCKET && name == SO_SNDBUFFORCE) {
        errno = EPERM;
        return -1;
    }
    if (g_sendBufferCap > 0 && level == SOL_SOCKET && name == SO_SNDBUF) {
        const int capped = std::min(*static_cast<const int *>(value), g_sendBufferCap);
        return real(fd, level, name, &capped, sizeof capped);
    }
    return real(fd, level, name, value, length);
}

namespace {

constexpr Ipv4 PeerAddress = makeIpv4(198, 51, 100, 2);

OctetList range(int first, int last)
{
    OctetList list;
    for (int p = first; p <= last; ++p)
        list.setSelected(p, true);
    return list;
}

// A pinger of the mechanism asked for, on its own or driven by a sweep, and
// what came of it: "datagram" and "raw" in this process (the raw socket as
// root has it), "helper" through the helper program, as everybody else has
// it, and "datagram+helper" with the helper asking ARP for it.
struct Session
{
    Session(const std::string &mechanism, int timeoutMs)
        : pinger(mechanism == "helper"            ? createHelperPinger(QStringLiteral(VEXAL_HELPER_PROGRAM))
                     : mechanism == "datagram+helper" ? createLocalPinger(QStringLiteral(VEXAL_HELPER_PROGRAM))
                                                      : createLocalPinger())
    {
        // With every group admitted to ICMP datagram sockets they open; with
        // none, root falls back to a raw socket.
        const bool datagram = mechanism.starts_with("datagram");
        error = datagram ? netns::setPingGroupRange(0, 2147483647) : netns::setPingGroupRange(1, 0);
        pinger->setTimeout(timeoutMs);
        if (error.empty() && (!pinger->open() || pinger->mechanism().toStdString() != mechanism.substr(0, mechanism.find('+'))))
            error = "opened " + pinger->mechanism().toStdString() + ": " + pinger->errorText().toStdString();
        clock.start();
        QObject::connect(pinger.get(), &Pinger::replied, pinger.get(), [this](quint32 a, quint32 roundTripUs) {
            replies.push_back(a);
            roundTrips.push_back(roundTripUs);
            repliedInsideSend += inSend;
        });
        QObject::connect(pinger.get(), &Pinger::unanswered, pinger.get(), [this](quint32 a) { unanswered.push_back(a); });
        QObject::connect(pinger.get(), &Pinger::ready, pinger.get(), [this] { ++readies; });
        QObject::connect(pinger.get(), &Pinger::settled, pinger.get(),
                         [this] { settledAfterMs.push_back(clock.elapsed()); });
    }
    bool waitSettled(std::size_t times = 1)
    {
        return QTest::qWaitFor([&] { return settledAfterMs.size() >= times; }, 5000);
    }
    // Hands the pinger every target as the sweep controller does: what it
    // does not take at once is offered again, from there, after ready().
    void sendAll(std::vector<Ipv4> targets)
    {
        SendRefusals refusals;
        for (std::size_t done = 0; done < targets.size();) {
            const int before = readies;
            inSend = true;
            done += std::size_t(pinger->send(std::span(targets).subspan(done), refusals));
            inSend = false;
            if (done < targets.size()) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return readies > before; }, 5000));
            }
        }
        EXPECT_TRUE(refusals.empty());
    }

    std::string error;
    std::unique_ptr<Pinger> pinger;
    TimerStepScheduler scheduler;
    SweepController controller{*pinger, scheduler};
    QElapsedTimer clock;
    std::vector<Ipv4> replies;
    std::vector<quint32> roundTrips;
    std::vector<Ipv4> unanswered;
    std::vector<qint64> settledAfterMs; // one entry each time it settled
    int readies = 0;
    bool inSend = false;
    int repliedInsideSend = 0;
};

// A private network of the test's own, and a second namespace behind a veth
// pair, where 198.51.100.2 answers. The parameter is the pinger's mechanism.
class LinuxPinger : public ::testing::TestWithParam<std::string>
{
protected:
    void SetUp() override
    {
        if (const std::string why = netns::enterPrivateNetwork(); !why.empty())
            GTEST_SKIP() << "no private network namespace: " << why;
        if (const std::string why = m_peer.addVeth("vx0", "198.51.100.1/24", "vx1", "198.51.100.2/24"); !why.empty())
            GTEST_SKIP() << "no veth pair: " << why;
        // The peer is known from the start. Its first send would otherwise
        // wait for room in the kernel's neighbour table, which is the host's:
        // a LAN sweep in another namespace can hold all of it for minutes.
        m_peer.run({"ip", "link", "set", "vx1", "address", "02:00:00:00:00:02"});
        netns::runCommand({"ip", "neigh", "replace", "198.51.100.2", "lladdr", "02:00:00:00:00:02", "dev", "vx0",
                           "nud", "permanent"});
    }
    void ours(const std::vector<std::string> &command) { ASSERT_EQ(netns::runCommand(command), ""); }
    void peers(const std::vector<std::string> &command) { ASSERT_EQ(m_peer.run(command), ""); }
    // A raw socket in the peer, whose kernel no longer answers, answers
    // `requests` echo requests, each delayMs late, `copies` times, with its
    // identifier shifted; 10 s of silence end it. It returns the replies sent:
    // those a test expects ignored did go out.
    std::future<int> scriptedHost(int requests, int delayMs, int copies = 1, quint16 identifierShift = 0)
    {
        int fd = -1;
        const icmp_filter filter{~(1u << ICMP_ECHO)};
        const std::string why = m_peer.inside([&fd] {
            if (std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 1 << std::endl)
                fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        });
        EXPECT_EQ(::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter), 0) << "no scripted host " << why;
        return std::async(std::launch::async, [=] {
            int sent = 0, answered = 0;
            std::array<quint8, 1024> packet;
            sockaddr_in asker{};
            for (pollfd readable{fd, POLLIN, 0}; answered < requests && ::poll(&readable, 1, 10000) > 0;) {
                socklen_t length = sizeof asker;
                const ssize_t n = ::recvfrom(fd, packet.data(), packet.size(), 0,
                                             reinterpret_cast<sockaddr *>(&asker), &length);
                const ssize_t ihl = (packet[0] & 0x0f) * 4;
                if (n < ihl + 8)
                    continue;
                quint8 *icmp = packet.data() + ihl;
                // Type 8 becomes 0 and the identifier changes: the checksum is mended
                // here, not by the code under test, as RFC 1624 does (HC + m + ~m').
                const quint16 identifier = quint16(qFromBigEndian<quint16>(icmp + 4) + identifierShift);
                quint32 sum = qFromBigEndian<quint16>(icmp + 2) + (ICMP_ECHO << 8)
                    + qFromBigEndian<quint16>(icmp + 4) + quint16(~identifier);
                while (sum >> 16)
                    sum = (sum & 0xffff) + (sum >> 16);
                icmp[0] = ICMP_ECHOREPLY;
                qToBigEndian(quint16(sum), icmp + 2);
                qToBigEndian(identifier, icmp + 4);
                ::usleep(useconds_t(delayMs) * 1000);
                for (int copy = 0; copy < copies; ++copy)
                    sent += ::sendto(fd, icmp, std::size_t(n - ihl), 0, reinterpret_cast<sockaddr *>(&asker),
                                     sizeof asker) == n - ihl;
                ++answered;
            }
            ::close(fd);
            return sent;
        });
    }

    netns::PeerNamespace m_peer;
};

// Every reply of a back-to-back burst is matched, and none is reported from
// inside send(), though loopback answers before sendto() returns. Cancelled
// requests end silently, and none of their answers slips into the next
// request, even an untagged one.
TEST_P(LinuxPinger, AnswersComeFromTheAddressesPingedAndNoneAfterCancel)
{
    Session run(GetParam(), 2000);
    ASSERT_EQ(run.error, "");
    run.pinger->setPacketSize(512);
    std::vector<Ipv4> targets(4096); // clear of 127.0.0.0, which some kernels route as a broadcast address
    std::iota(targets.begin(), targets.end(), makeIpv4(127, 0, 16, 0));
    run.sendAll(targets);
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.replies.size() >= targets.size() && run.pinger->outstanding() == 0; },
                                5000));
    ASSERT_TRUE(run.waitSettled());
    EXPECT_EQ(run.repliedInsideSend, 0);
    // Loopback answers before sendmmsg() returns: round trips count from
    // before it, so most are some microseconds, not nothing.
    std::vector<quint32> roundTrips = run.roundTrips;
    std::nth_element(roundTrips.begin(), roundTrips.begin() + std::ptrdiff_t(roundTrips.size() / 2), roundTrips.end());
    EXPECT_GT(roundTrips[roundTrips.size() / 2], 0u) << "the median round trip";
    std::sort(run.replies.begin(), run.replies.end());
    EXPECT_EQ(run.replies, targets);
    EXPECT_LT(run.settledAfterMs.front(), 2000) << "settled by the answers, not the timeout";

    run.pinger->setPacketSize(1); // too short for a tag
    const std::vector<Ipv4> cancelled{makeIpv4(127, 0, 0, 1), makeIpv4(127, 0, 0, 2), PeerAddress};
    SendRefusals refusals;
    run.pinger->send(cancelled, refusals);
    const std::size_t settled = run.settledAfterMs.size();
    run.pinger->cancel();
    EXPECT_EQ(run.pinger->outstanding(), 0);
    QTest::qWait(300);
    EXPECT_EQ(run.settledAfterMs.size(), settled) << "a cancel settles nothing";
    run.sendAll({makeIpv4(127, 0, 0, 2)});
    ASSERT_TRUE(run.waitSettled(settled + 1));
    EXPECT_EQ(run.replies.size(), targets.size() + 1) << "no cancelled answer reported";
    EXPECT_EQ(run.replies.back(), makeIpv4(127, 0, 0, 2));
}

// A scripted host answers three requests late, twice, or with another
// identifier. holdMs holds the event loop after sending, as a busy window
// would: lateness is judged by arrival, not by reading.
TEST_P(LinuxPinger, ReportsOnlyOwnTimelyRepliesOnce)
{
    const std::tuple<const char *, int, int, int, quint16, bool, int> rows[] = {
        // name, timeoutMs, delayMs, copies, identifierShift, counted, holdMs
        {"late", 50, 200, 1, 0, false, 0},
        {"duplicated", 1000, 0, 2, 0, true, 0},
        {"foreign identifier", 300, 0, 1, 1, false, 0},
        {"held in time", 600, 100, 1, 0, true, 900},
        {"held late", 100, 300, 1, 0, false, 700},
    };
    for (const auto &[name, timeoutMs, delayMs, copies, identifierShift, counted, holdMs] : rows) {
        if (identifierShift && GetParam() == "datagram")
            continue; // a datagram socket never sees another identifier: the kernel filters it
        if (holdMs && GetParam() == "helper")
            continue; // the helper reads replies in a process of its own, which nothing here holds
        SCOPED_TRACE(name);
        std::future<int> host = scriptedHost(3, delayMs, copies, identifierShift);
        Session run(GetParam(), timeoutMs);
        ASSERT_EQ(run.error, "");
        run.sendAll({PeerAddress, PeerAddress, PeerAddress});
        ::usleep(useconds_t(holdMs) * 1000);
        ASSERT_TRUE(run.waitSettled());
        EXPECT_EQ(host.get(), 3 * copies) << "replies the scripted host sent";
        QTest::qWait(100); // whatever came after settling is read now, and must change nothing
        EXPECT_EQ(run.replies, std::vector<Ipv4>(counted ? 3 : 0, PeerAddress));
        // Every request ends once: answered after its round trip, or not.
        EXPECT_EQ(run.unanswered, std::vector<Ipv4>(counted ? 0 : 3, PeerAddress));
        for (const quint32 roundTrip : run.roundTrips)
            EXPECT_TRUE(roundTrip >= quint32(delayMs) * 1000 && roundTrip < quint32(timeoutMs) * 1000) << roundTrip;
        EXPECT_EQ(run.settledAfterMs.size(), 1u);
        EXPECT_GE(run.settledAfterMs.front(), counted ? 0 : timeoutMs);
    }
}

// 198.18.0.0/15 (131,072 targets, twice an identifier's sequence numbers) goes to
// a neighbour nobody has, at delay 0 with a 2 s timeout: every request must live
// its full 2 s. Only 198.19.0.5 reaches the peer, answered half a second late; asked
// once every number of the first identifier is in use, it carries a second one.
TEST_P(LinuxPinger, EveryRequestLivesItsFullTimeout)
{
    ours({"ip", "neigh", "replace", "198.51.100.99", "lladdr", "02:00:00:00:00:63", "dev", "vx0", "nud", "permanent"});
    ours({"ip", "route", "add", "198.18.0.0/15", "via", "198.51.100.99", "dev", "vx0"});
    ours({"ip", "route", "add", "198.19.0.5/32", "via", "198.51.100.2", "dev", "vx0"});
    peers({"ip", "addr", "add", "198.19.0.5/32", "dev", "lo"});
    // The scripted host answers from the address it was asked at.
    peers({"ip", "route", "add", "198.51.100.1/32", "dev", "vx1", "src", "198.19.0.5"});
    std::future<int> host = scriptedHost(1, 500);
    Session run(GetParam(), 2000);
    ASSERT_EQ(run.error, "");
    // By time t only requests sent by t - timeout may have ended. Samples come
    // between turns of the event loop, so "sent by" is read at the first
    // sample at or after that moment, which errs towards allowing.
    const qint64 timeoutNs = 2'000'000'000;
    std::vector<std::pair<qint64, qint64>> sentBy; // (ns, requests sent by then)
    qint64 endedEarly = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] {
        const qint64 now = run.clock.nsecsElapsed(), sent = run.controller.attemptCount();
        sentBy.emplace_back(now, sent);
        const qint64 ended = sent - run.pinger->outstanding() - qint64(run.replies.size());
        const auto then = std::lower_bound(sentBy.begin(), sentBy.end(), std::pair{now - timeoutNs, qint64(0)});
        endedEarly = std::max(endedEarly, ended - (now < timeoutNs ? 0 : then->second));
    });
    sampler.start(5);
    run.controller.begin({range(198, 198), range(18, 19), range(0, 255), range(0, 255)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.controller.isRunning(); }, 20000));
    sampler.stop();

    EXPECT_EQ(run.controller.attemptCount(), 131072);
    EXPECT_EQ(run.replies, std::vector<Ipv4>{makeIpv4(198, 19, 0, 5)}) << "the late host, and nobody else";
    EXPECT_EQ(host.get(), 1);
    EXPECT_EQ(endedEarly, 0) << "requests that ended before their timeout, over " << sentBy.size() << " samples";
    EXPECT_GT(sentBy.size(), std::size_t(20));
}

// A token bucket with a queue of a few dozen packets on our end of the link:
// most sends of a fast sweep meet a full queue (ENOBUFS). Every one of
// 198.18.0.0/23, which the peer answers, must still be asked in the end.
TEST_P(LinuxPinger, ASendTheKernelRefusesForLackOfRoomIsSentLater)
{
    ours({"ip", "route", "add", "198.18.0.0/23", "via", "198.51.100.2", "dev", "vx0"});
    ours({"tc", "qdisc", "add", "dev", "vx0", "root", "tbf", "rate", "1mbit", "burst", "1600", "limit", "3000"});
    peers({"ip", "route", "add", "local", "198.18.0.0/16", "dev", "lo"});
    Session run(GetParam(), 2000);
    ASSERT_EQ(run.error, "");
    run.controller.begin({range(198, 198), range(18, 18), range(0, 1), range(0, 255)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.controller.isRunning(); }, 30000));
    std::vector<Ipv4> everyTarget(512);
    std::iota(everyTarget.begin(), everyTarget.end(), makeIpv4(198, 18, 0, 0));
    EXPECT_EQ(netns::runCommand({"sh", "-c", "tc -s qdisc show dev vx0 | grep -q \"dropped [1-9]\""}), "")
        << "the queue was full at times";
    EXPECT_EQ(run.controller.attemptCount(), 512);
    std::sort(run.replies.begin(), run.replies.end());
    EXPECT_EQ(run.replies, everyTarget);
    EXPECT_TRUE(run.controller.sendFailureText().isEmpty());
}

// A send that fails with EINVAL for a while is asked in the end, and the
// sweep waits for it; one whose EINVAL never clears is an attempt without a
// reply after a bounded wait, reported once, and the sweep goes on.
// The failing sends are this process's own: the helper's sendmmsg() is the
// C library's.
class InProcessPinger : public LinuxPinger
{
};

TEST_P(InProcessPinger, ASendRefusedAsInvalidWaitsForTheNeighbourTable)
{
    ours({"ip", "route", "add", "198.18.0.0/24", "via", "198.51.100.2", "dev", "vx0"});
    peers({"ip", "route", "add", "local", "198.18.0.0/24", "dev", "lo"});
    const qint64 now = QDeadlineTimer::current().deadline();
    g_invalidUntil = {{makeIpv4(198, 18, 0, 1), now + 800}, {makeIpv4(198, 18, 0, 3), now + 60'000}};
    Session run(GetParam(), 1000);
    ASSERT_EQ(run.error, "");
    run.controller.begin({range(198, 198), range(18, 18), range(0, 0), range(0, 4)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.controller.isRunning(); }, 20000));
    g_invalidUntil.clear();
    std::sort(run.replies.begin(), run.replies.end());
    EXPECT_EQ(run.replies, (std::vector<Ipv4>{makeIpv4(198, 18, 0, 0), makeIpv4(198, 18, 0, 1),
                                              makeIpv4(198, 18, 0, 2), makeIpv4(198, 18, 0, 4)}));
    EXPECT_EQ(run.controller.attemptCount(), 5);
    EXPECT_EQ(run.controller.refusedCount(), 1);
    EXPECT_GE(run.clock.elapsed(), 6000) << "the lasting EINVAL was waited for";
}

// A reading of the neighbour table between taking room for a batch and
// sending it cannot see the batch's entries: it must not give that room out
// a second time. Once the batch has left, a reading counts it by itself.
TEST(NeighbourRoom, IsNotGivenTwiceToABatchTheTableCannotShowYet)
{
    if (const std::string why = netns::enterPrivateNetwork(); !why.empty())
        GTEST_SKIP() << "no private network namespace: " << why;
    NeighbourTable table;
    int taken = 0;
    while (table.takeUnresolvedRoom())
        ++taken;
    EXPECT_GE(taken, 1000) << "an empty table has the default limit's room less the margin";
    const auto readAgain = [&] {
        QThread::msleep(NeighbourTable::RoomFreshMs + 5);
        return table.takeUnresolvedRoom();
    };
    EXPECT_FALSE(readAgain()) << "all of it taken, nothing sent yet";
    table.unresolvedSent();
    EXPECT_TRUE(readAgain()) << "nothing was sent after all";
}

// A LAN: 198.18.0.0/21 on the link, 2,048 targets (twice the kernel's 1,024
// neighbour entries by default), every 4th of the first 1,024 the peer's.
// Every live host is found and the kernel's neighbour table never overflows:
// the datagram path waits for room, counting the answering hosts' entries,
// and is not held to what one socket's buffer (a small one, as without
// privileges) can keep waiting for its neighbour.
// On the privileged path, and on the datagram path with the helper, ARP comes
// first, so the table gets no unresolved entry; and a host that answers no
// ARP but has a static entry is still asked, one without is not.
// All behind a stateful firewall, as ufw and firewalld set one up: a reply
// to a request that did not go through the kernel is INVALID and dropped.
// Afterwards no packet socket is left bound, hearing the link.
class OnLinkSweep : public LinuxPinger
{
};

TEST_P(OnLinkSweep, FindsEveryLiveHostOfAnOnLinkRange)
{
    ours({"nft", "add table inet guard; add chain inet guard input { type filter hook input priority 0; }; "
                 "add rule inet guard input ct state invalid drop"});
    ours({"ip", "addr", "add", "198.18.7.254/21", "dev", "vx0"});
    peers({"ip", "addr", "add", "198.18.7.253/21", "dev", "vx1"});
    // Past the table's default limit, with enough hosts answering that their
    // entries take a quarter of it for the rest of the sweep.
    peers({"sh", "-c", "{ for i in $(seq 0 255); do echo addr add 198.18.$((i * 4 / 256)).$((i * 4 % 256))/32 dev vx1;"
                       " done; echo addr add 198.18.6.1/32 dev vx1; echo addr add 198.18.6.2/32 dev vx1; } | ip -b -"});
    peers({"ip", "link", "set", "vx1", "address", "02:00:00:00:18:01"});
    std::vector<Ipv4> live;
    for (Ipv4 i = 0; i < 256; ++i)
        live.push_back(makeIpv4(198, 18, 0, 0) + i * 4);
    g_sendBufferCap = 100'000;
    Session run(GetParam(), 1000);
    g_sendBufferCap = 0;
    ASSERT_EQ(run.error, "");
    const long long overflows = netns::neighbourTableOverflows();
    int unresolved = 0;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        if (FILE *p = ::popen("ip -4 neigh show dev vx0 nud incomplete | wc -l", "r")) {
            int now = 0;
            if (std::fscanf(p, "%d", &now) == 1)
                unresolved = std::max(unresolved, now);
            ::pclose(p);
        }
    });
    sample.start(100);
    run.controller.begin({range(198, 198), range(18, 18), range(0, 7), range(0, 255)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.controller.isRunning(); }, 30000));
    sample.stop();
    std::sort(run.replies.begin(), run.replies.end());
    run.replies.erase(std::remove_if(run.replies.begin(), run.replies.end(),
                                     [](Ipv4 a) { return a >= makeIpv4(198, 18, 4, 0); }), run.replies.end());
    EXPECT_EQ(run.replies, live);
    EXPECT_EQ(run.controller.attemptCount(), 8 * 256);
    EXPECT_EQ(netns::neighbourTableOverflows(), overflows) << "the kernel's neighbour table never overflowed";
    EXPECT_EQ(netns::runCommand({"sh", "-c", "! awk \"NR > 1 && \\$6 != 0\" /proc/net/packet | grep -q ."}), "")
        << "a packet socket still bound: " << netns::runCommand({"sh", "-c", "cat /proc/net/packet; false"});
    if (GetParam() == "datagram") {
        // Such a socket holds about 240 requests waiting for their neighbour.
        EXPECT_GE(unresolved, 500) << "unresolved neighbours at most at once";
        return;
    }
    EXPECT_EQ(netns::runCommand({"sh", "-c", "! ip neigh show dev vx0 | grep -E \"FAILED|INCOMPLETE\""}), "");

    peers({"sysctl", "-qw", "net.ipv4.conf.all.arp_ignore=8"});
    // The sweep left the live hosts' entries behind, made by the kernel.
    ours({"ip", "neigh", "flush", "dev", "vx0"});
    ours({"ip", "neigh", "replace", "198.18.6.1", "lladdr", "02:00:00:00:18:01", "dev", "vx0", "nud", "permanent"});
    run.replies.clear();
    run.controller.begin({range(198, 198), range(18, 18), range(6, 6), range(1, 2)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.controller.isRunning(); }, 10000));
    EXPECT_EQ(run.replies, std::vector<Ipv4>{makeIpv4(198, 18, 6, 1)}) << "only the static neighbour is asked";

    // A new hardware address on our link (a random one per network, a
    // bond's failover) is the one the next questions carry: answers to an
    // address nobody has would never arrive.
    peers({"sysctl", "-qw", "net.ipv4.conf.all.arp_ignore=0"});
    ours({"ip", "link", "set", "vx0", "address", "02:00:00:00:18:99"});
    ours({"ip", "neigh", "flush", "dev", "vx0"});
    QTest::qWait(600); // what was read of the link is older than a reading lasts
    run.replies.clear();
    run.controller.begin({range(198, 198), range(18, 18), range(0, 0), range(0, 3)}, 0, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !run.controller.isRunning(); }, 10000));
    EXPECT_EQ(run.replies, std::vector<Ipv4>{makeIpv4(198, 18, 0, 0)}) << "asked from the link's new address";
}

const auto nameOf = [](const auto &info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '+', '_');
    return name;
};
INSTANTIATE_TEST_SUITE_P(Mechanisms, LinuxPinger,
                         ::testing::Values(std::string("datagram"), std::string("raw"), std::string("helper")), nameOf);
INSTANTIATE_TEST_SUITE_P(Mechanisms, InProcessPinger, ::testing::Values(std::string("datagram"), std::string("raw")),
                         nameOf);
INSTANTIATE_TEST_SUITE_P(Mechanisms, OnLinkSweep,
                         ::testing::Values(std::string("datagram"), std::string("datagram+helper"), std::string("raw"),
                                           std::string("helper")),
                         nameOf);

} // namespace
