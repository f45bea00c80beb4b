#pragma once

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

// The kernel's neighbour-table overflows so far, over every namespace (the
// table_fulls column of the first one's statistics, summed over the
// processors' lines), or -1 when they cannot be read.
long long neighbourTableOverflows();

// A second network namespace with `lo` up; it goes away with this object.
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
    std::string run(const std::vector<std::string> &argv) const; // runCommand() inside the peer
    // Runs body on this thread inside the peer, then brings the thread back.
    // Sockets it opens there stay there.
    std::string inside(const std::function<void()> &body) const;

private:
    int m_fd = -1;
    std::string m_error;
};

} // namespace vexal::netns
