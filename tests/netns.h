#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Private network namespaces for tests and benchmarks that send real ICMP:
// whatever they send cannot leave the namespaces they build themselves.
// Every call that can fail returns an empty string on success and otherwise
// a sentence saying what failed and why, fit for GTEST_SKIP() or a failure.
namespace vexal::netns {

// Moves this thread (the main thread: call it before any other thread exists)
// into a new, empty network namespace with `lo` up. Needs root.
std::string enterPrivateNetwork();

// Sets net.ipv4.ping_group_range ("1 0" admits no group to ICMP datagram
// sockets). Refused outside a private namespace: the host's stays as it is.
std::string setPingGroupRange(unsigned first, unsigned last);

// Runs argv through the shell and waits for it to exit 0.
std::string runCommand(const std::vector<std::string> &argv);

// What answerEchoRequests() does: collect `requests` echo requests (or stop
// after 2 s without one), wait delayMs, then answer each `copies` times with
// its identifier shifted by identifierShift.
struct EchoScript
{
    int requests = 1;
    int delayMs = 0;
    int copies = 1;
    std::uint16_t identifierShift = 0;
};

// A scripted host for PeerNamespace::spawn(): turns the kernel's own echo
// replies off in its namespace and answers from a raw socket as the script
// says. Returns the number of replies sent (so a test knows the replies it
// expects ignored really went out), or 201/202 when the set-up failed.
int answerEchoRequests(const EchoScript &script, const std::function<void()> &ready);

// A counter of /proc/net/snmp, such as ("Ip", "OutDiscards"); -1 when missing.
long long snmpCounter(const std::string &group, const std::string &name);

// A second network namespace, held open by a sleeping child process that is
// killed when this object goes away.
class PeerNamespace final
{
public:
    PeerNamespace();
    ~PeerNamespace();
    PeerNamespace(const PeerNamespace &) = delete;
    PeerNamespace &operator=(const PeerNamespace &) = delete;

    const std::string &error() const { return m_error; } // empty when the namespace exists

    // A veth pair from our (private) namespace into the peer, both ends up,
    // with an address in CIDR form ("198.51.100.1/24") on each end.
    std::string addVeth(const std::string &ourLink, const std::string &ourAddress, const std::string &peerLink,
                        const std::string &peerAddress);
    // Runs a command inside the peer (nsenter --net).
    std::string run(const std::vector<std::string> &argv) const;
    // Runs body in a child process inside the peer's network; its return
    // value is the exit status. Returns once the child has called ready()
    // (or died, or 5 s have passed); -1 when it could not start.
    pid_t spawn(const std::function<int(const std::function<void()> &ready)> &body);
    // Waits at most limitMs for a spawned child, then kills it. Its exit
    // status, or -1 when it had to be killed or did not exit normally.
    int waitFor(pid_t child, int limitMs);

private:
    pid_t m_pid = -1;
    std::string m_error;
    std::vector<pid_t> m_children;
};

} // namespace vexal::netns
